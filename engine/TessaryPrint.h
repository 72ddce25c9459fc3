// The raster engine: reads a spooled job, renders each page band by band, separates and
// dithers the band and writes it to the output buffer as PCL raster rows.
//
// Entry points and job-wide values keep their established names (DoJob, print_page,
// DrawBandColor, DrawBandBW, DoDither, SpoolWidth, band_num, ...); local functions are
// snake_case. A job runs on the thread that calls DoJob, one job at a time. Its bands are
// drawn and encoded on that thread and, when band_threads says so, on a helper thread beside
// it, each with a band bitmap of its own; the stream goes out on the job's thread in band
// order, byte for byte what one thread sends. The job-wide values are written before the
// helper starts and only read while it runs, so they are neither locked nor atomic; the
// band bitmap and its view are each thread's own.
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
extern thread_local BBitmap* band_bmp;	// the band, B_RGB16_BIG, of the thread drawing it;
					// owned by DoJob (or its helper thread) while it runs
extern thread_local BView* band_view;	// draws into band_bmp
extern int32 band_threads;	// threads that draw and encode the bands of a job: 1 or 2 (the
				// default); set between jobs
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
