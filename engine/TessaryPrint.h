// The raster engine: reads a spooled job, renders each page band by band, separates and
// dithers the band and writes it to the output buffer as PCL raster rows.
//
// Entry points and job-wide values keep their established names (DoJob, print_page,
// DrawBandColor, DrawBandBW, DoDither, SpoolWidth, band_num, ...); local functions are
// snake_case. Everything here runs on the thread that prints the job, one job at a time, so
// the job-wide values are neither locked nor atomic.
#pragma once

#include <JobOutcome.h>
#include <SupportDefs.h>

class BBitmap;
class BFile;
class BView;

// How the rows of a sheet are sent. Whole: every plane row as it is (PCL compression method
// 0), the stream every printer reads. Packed: every plane row in PCL compression method 2
// (TIFF PackBits), and rows of no ink skipped with the raster Y offset command; the sheet
// printed is dot for dot the same.
enum class RowEncoding { kWhole, kPacked };

// Job-wide values, written by DoJob at the start of each job (and reset by test fixtures).
extern float factor;		// device dots per page unit (1/75 inch): 4, 2 or 1
extern int32 SpoolWidth;	// bytes of one plane row, eight dots a byte
extern int32 band_num;		// bands of 100 device rows per page
extern BBitmap* band_bmp;	// the band, B_RGB16_BIG; owned by DoJob while it runs
extern BView* band_view;	// draws into band_bmp; owned by DoJob while it runs
extern bool job_failed;		// set when the job must stop: nothing more is sent after it
extern JobOutcome job_outcome;	// how the last job went; written by DoJob, read by take_job
extern RowEncoding row_encoding;	// how the job's rows are sent

// Prints one spooled job to `stream`, its rows encoded as `encoding` says. The file is
// positioned at its start. On return job_outcome says how far it got and why it stopped.
void DoJob(BFile* spool_file, RowEncoding encoding = RowEncoding::kWhole);

// Prints the page record at the file's position, `copies` times, each copy a page of the
// stream from its header to its form feed; leaves the file at the next page record. `bw`
// non-zero selects the one-plane black-and-white rows.
void print_page(BFile* spool_file, int copies, int bw);

// Encode the rows 0 to 99 of band_bmp and send them.
void DrawBandColor();
void DrawBandBW();

// Error-diffuses one row of levels (0 to `highest`, SpoolWidth * 8 of them) into one plane row
// of SpoolWidth bytes. `cur_err` carries the error onto this row and on return onto the next;
// `next_err` is scratch that is zero on entry and on return.
void DoDither(uint8* plane_row, int8* levels, int32* cur_err, int32* next_err, int highest);
