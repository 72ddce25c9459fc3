// Pieces of the raster engine that its own files and its tests share, below the established
// entry points of TessaryPrint.h. The band encoders work on raw band bits here so that they
// can be driven without a bitmap.
#pragma once

#include <JobOutcome.h>
#include <Rect.h>
#include <SupportDefs.h>

#include <cstddef>
#include <string>

// Rows of one band, and the highest ink levels of the two kinds of level row.
const int32 kBandRows = 100;
const int kHighestColorLevel = 31;
const int kHighestGreyLevel = 93;
// Widest band bitmap row that a job may ask for, in bytes.
const int32 kMaxBandRowBytes = 64 * 1024;
// Dots of the widest plane row that fits that band row. A page may be no taller, in device
// rows, than the widest page is wide: 32,760 dots, 109 inches at 300 dots per inch.
const int32 kMaxPageDots = 8 * ((kMaxBandRowBytes / 2 - 2) / 8);
// Highest "xres" taken: PCL raster resolutions stop at 600 dots per inch.
const int32 kMaxResolution = 600;
const int32 kMinResolution = 75;

// Stops the job: nothing more is sent after the band in hand. The first reason is the one
// recorded in job_outcome, with the page in hand. While a thread draws and encodes a band
// into a band_output, the band's output records it instead.
void stop_job(JobStop reason);


// #pragma mark - band output

// What drawing and encoding one band gave, held until the job's thread sends it in band
// order. Packed rows leave the blank rows at the band's ends to the bands around it.
struct band_output {
	std::string bytes;	// the band's commands and rows, as one thread sends them
	bool failed = false;	// the band stopped the job: none of it is sent
	JobStop stop = JobStop::completed;
	bool has_rows = false;	// packed: a row of the band was sent
	int32 leading_blank_rows = 0;	// packed: blank rows before the first row sent (all
					// of the band's, when none was)
	int32 trailing_blank_rows = 0;	// packed: blank rows after the last row sent
};

// From here until end_band_output, what this thread sends and the stops it asks for go into
// `output`, as band `band` of the sheet in hand.
void begin_band_output(band_output* output, int32 band);
void end_band_output();
// The output this thread is capturing, or null.
band_output* band_capture();

// Sends a band's bytes on the job's thread, after the bands before it: packed, the blank rows
// that end the bands before and begin this one go out as one count.
void send_band_output(const band_output& output);

// The packed rows' side of begin_band_output and end_band_output.
void begin_band_rows(int32 band);
void end_band_rows(band_output* output);

// Raster geometry of a job, worked out from the paper rectangle and "xres".
struct job_geometry {
	float factor;
	int32 spool_width;
	int32 band_num;
};

// Fills `geometry` and returns true when the paper and resolution give a band that can be
// printed: at least one byte and one band, a band row of at most kMaxBandRowBytes and a page
// of at most kMaxPageDots rows. Otherwise *refusal (when given) says why, in the user's words.
bool compute_geometry(BRect paper, int32 xres, job_geometry* geometry,
	std::string* refusal = nullptr);

// Bytes per row of the band bitmap for a plane row of `spool_width` bytes: 8 * spool_width + 1
// pixels of two bytes, brought up to a multiple of 4.
inline size_t band_bytes_per_row(int32 spool_width)
{
	return 2 * (8 * (size_t)spool_width + 2);
}

// PCL commands, each formatted with the escape byte and sent as one string.
void send_printer_reset();
void send_raster_resolution(int dots_per_inch);
void send_top_margin_zero();
void send_compression_none();
void send_compression_tiff();
void send_planes_per_row(int planes);
void send_raster_y_offset(int32 rows);
void send_form_feed();

// The two transfer commands of a job, which differ only in their last letter and carry the
// byte count of a plane row. Formatted once per band and sent before each plane row.
struct transfer_commands {
	explicit transfer_commands(int32 count);

	char by_plane[32];	// ESC * b <count> V: one plane of the row, the printer stays on it
	char by_row[32];	// ESC * b <count> W: the row's last plane, the printer moves down
};

// A transfer command and its plane row, back to back.
void send_transfer(char* command, uint8* plane_row, int32 count);
// The transfer command of a packed plane row of `count` bytes (by row for the row's last
// plane, by plane otherwise) and the packed bytes.
void send_packed_transfer(bool last_plane, uint8* packed, int32 count);

// The five commands that open every page; the compression command names the job's
// row_encoding.
void send_page_header(bool bw);


// #pragma mark - packed rows

// The most a raster Y offset command moves down.
const int32 kMaxRasterYOffset = 32767;

// Bytes a plane row of `count` bytes may take in TIFF PackBits: its bytes, and a control
// byte for every 128 of them at worst.
inline size_t packed_row_bound(int32 count)
{
	return (size_t)count + ((size_t)count + 127) / 128;
}

// Encodes the `count` bytes of `row` in TIFF PackBits into `packed`, which holds
// packed_row_bound(count) bytes; returns the bytes written. A run of three or more equal
// bytes (of two where no literal is pending) becomes a repeat of at most 128, the bytes
// between runs literals of at most 128.
size_t pack_bits(const uint8* row, int32 count, uint8* packed);

// Rows of the sheet in hand as row_encoding says. Whole, every row is sent as it comes and
// these do nothing. Packed, a row without ink in any plane is only counted: the count goes
// out as raster Y offsets before the next row that has ink and at the end of the sheet, so
// that the sheet keeps all its rows. The sheet's first row is always sent, blank or not:
// its plane rows give the sheet its width, as they do in the whole stream.
void begin_sheet_rows();
void end_sheet_rows();

// Sends one row of `plane_count` plane rows of SpoolWidth bytes (black first; the last one
// by row) packed, through `scratch` of packed_row_bound(SpoolWidth) bytes.
void send_packed_row(uint8* const* planes, int plane_count, uint8* scratch);

// Encode rows 0 to 99 of a band of B_RGB16_BIG pixels (pixel x of row r at
// bits + r * bytes_per_row + 2 * x) and send them. Stop the job for want of memory, and send
// nothing, when the working rows cannot be allocated.
void encode_band_color(const uint8* bits, size_t bytes_per_row);
void encode_band_bw(const uint8* bits, size_t bytes_per_row);

// Two band rows of SpoolWidth * 8 B_RGB16_BIG pixels each separated and dithered in one pass,
// bit for bit what DoDither gives for the rows' levels, one row after the other: three calls
// each with the highest level 31 for the cyan, magenta and yellow planes, or one call with 93
// for the grey plane. `errors` holds the errors carried onto the upper row, four int16 a dot
// (cyan, magenta, yellow, unused; grey uses the first), zero at the top of a band; on return
// it holds those carried past the lower row. They stay far inside int16: the dither never
// carries more than 15 * 93 in magnitude onto a dot.
void dither_three_planes(uint8* const* upper_planes, uint8* const* lower_planes,
	const uint8* upper_pixels, const uint8* lower_pixels, int16* errors);
void dither_grey_plane(uint8* upper_plane, uint8* lower_plane, const uint8* upper_pixels,
	const uint8* lower_pixels, int16* errors);
// The colour pass over four rows at once (pixels[g] into planes[g], g from 0 to 3) on
// processors with 256-bit vectors: the same bits and errors as two calls of
// dither_three_planes. False, with nothing done, on other processors.
bool dither_three_planes_four_rows(uint8* const* const* planes, const uint8* const* pixels,
	int16* errors);


// #pragma mark - spool file

class BPositionIO;

// Spool records read field by field, little-endian, at the file's position. Each returns
// false, with the position undefined, when the file ends inside the record.
bool read_spool_header(BPositionIO* file, int32* page_count);
bool read_page_header(BPositionIO* file, int32* picture_count, int64* next_page);
bool read_picture_place(BPositionIO* file, BPoint* where, BRect* rect);

// Length of the flattened picture that starts at `start`, found by walking its container
// (header, sub-pictures, op data size) without reading the ops. False when the container is
// not a picture's or does not end by `end`. Leaves the file's position alone.
bool measure_flattened_picture(BPositionIO* file, off_t start, off_t end, off_t* length);

// Pictures a page record may hold; the records of any further ones are skipped.
const int32 kMaxPagePictures = 128;
