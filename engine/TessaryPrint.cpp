// Raster engine: the job-wide values, the error-diffusion dither and the PCL commands.
// Entry points and job-wide values keep their established names; local functions are
// snake_case.
#include "TessaryPrint.h"

#include "EngineInternal.h"

#include <DeviceModel.h>
#include <OutputBuffer.h>

#include <cstdio>
#include <cstring>

float factor = 0;
int32 SpoolWidth = 0;
int32 band_num = 0;
thread_local BBitmap* band_bmp = nullptr;
thread_local BView* band_view = nullptr;
int32 band_threads = 2;
bool job_failed = false;
JobOutcome job_outcome;
RowEncoding row_encoding = RowEncoding::kWhole;


// #pragma mark - geometry

namespace {

// The float `value` truncated toward zero into *result, when it fits an int32.
bool truncate_to_int32(float value, int64* result)
{
	// Also false for NaN.
	if (!(value > -2147483648.0f && value < 2147483648.0f))
		return false;
	*result = (int64)value;
	return true;
}


// Whole units of `per_unit` needed to cover `length`, times `factor`, fraction dropped:
// ((length / per_unit) + 1 when there is a remainder) * factor. The quotient and remainder
// truncate toward zero, so a length of -1 still gives one unit.
bool scaled_units(float length, int64 per_unit, float scale, int32* result)
{
	int64 whole;
	if (!truncate_to_int32(length, &whole))
		return false;
	int64 units = whole / per_unit + (whole % per_unit != 0 ? 1 : 0);
	int64 scaled;
	if (!truncate_to_int32(scale * (float)units, &scaled) || scaled > INT32_MAX)
		return false;
	*result = (int32)scaled;
	return true;
}

}  // namespace


bool compute_geometry(BRect paper, int32 xres, job_geometry* geometry, std::string* refusal)
{
	std::string ignored;
	if (refusal == nullptr)
		refusal = &ignored;
	geometry->factor = (float)(xres / device::kUnitsPerInch);
	if (!scaled_units(paper.right - paper.left, 8, geometry->factor, &geometry->spool_width)
		|| !scaled_units(paper.bottom - paper.top, 100, geometry->factor,
			&geometry->band_num)
		|| geometry->spool_width <= 0 || geometry->band_num <= 0) {
		*refusal = "the paper size cannot be printed";
		return false;
	}

	// Both limits in inches at the job's resolution, for the message.
	char limit[64];
	snprintf(limit, sizeof(limit), "%.1f inches at %d dpi",
		(double)kMaxPageDots / (device::kUnitsPerInch * geometry->factor),
		(int)(device::kUnitsPerInch * geometry->factor));
	if (band_bytes_per_row(geometry->spool_width) > (size_t)kMaxBandRowBytes) {
		*refusal = std::string("the paper is wider than the driver prints (at most ") + limit
			+ ")";
		return false;
	}
	// The height costs time, not memory, but a page of a few bytes must not buy hours of
	// bands: the same limit as the width.
	if ((int64)geometry->band_num * kBandRows > kMaxPageDots + kBandRows - 1) {
		*refusal = std::string("the paper is taller than the driver prints (at most ") + limit
			+ ")";
		return false;
	}
	return true;
}


// #pragma mark - band output

namespace {

// Where this thread's bytes and stops go while it draws and encodes a band; null: to the
// output buffer and the job.
thread_local band_output* captured_band = nullptr;

// Every byte of the engine's commands and rows goes out through here.
void send_bytes(const char* data, int length)
{
	if (captured_band != nullptr)
		captured_band->bytes.append(data, (size_t)length);
	else
		SendToOutput(const_cast<char*>(data), length);
}

void send_text(const char* text)
{
	send_bytes(text, (int)strlen(text));
}

}  // namespace


band_output* band_capture()
{
	return captured_band;
}


void begin_band_output(band_output* output, int32 band)
{
	output->bytes.clear();
	output->failed = false;
	output->stop = JobStop::completed;
	captured_band = output;
	begin_band_rows(band);
}


void end_band_output()
{
	end_band_rows(captured_band);
	captured_band = nullptr;
}


void stop_job(JobStop reason)
{
	// A band's stop waits in its output until the job's thread reaches the band.
	if (captured_band != nullptr) {
		if (!captured_band->failed) {
			captured_band->failed = true;
			captured_band->stop = reason;
		}
		return;
	}
	if (job_failed)
		return;
	job_failed = true;
	job_outcome.stop = reason;
}


// #pragma mark - dither

// Burkes error diffusion, in 32nds of the error: 8 and 4 to the next two dots of the row,
// 2 4 8 4 2 to the five dots below. Each share is its own arithmetic shift, so shares of a
// negative error round down and pass on a little more than the error.
void DoDither(uint8* plane_row, int8* levels, int32* cur_err, int32* next_err, int highest)
{
	const int32 width = SpoolWidth * 8;
	const int32 full = 30 * highest;
	const int32 threshold = 15 * highest;

	for (int32 j = 0; j < SpoolWidth; j++) {
		plane_row[j] = 0xFF;
		for (int k = 0; k < 8; k++) {
			int32 i = 8 * j + k;
			int32 value = cur_err[i] + 30 * levels[i];
			if (value > full)
				value = full;
			else if (value < 0)
				value = 0;

			int32 error;
			if (value > threshold)
				error = value - full;
			else {
				plane_row[j] &= ~(0x80 >> k);
				error = value;
			}

			// The first and last two dots of a row pass nothing beyond the row's ends.
			next_err[i] += error >> 2;
			if (i < width - 1) {
				cur_err[i + 1] += error >> 2;
				next_err[i + 1] += error >> 3;
				if (i < width - 2) {
					cur_err[i + 2] += error >> 3;
					next_err[i + 2] += error >> 4;
				}
			}
			if (i > 0) {
				next_err[i - 1] += error >> 3;
				if (i > 1)
					next_err[i - 2] += error >> 4;
			}
		}
	}

	for (int32 i = 0; i < width; i++) {
		cur_err[i] = next_err[i];
		next_err[i] = 0;
	}
}


// #pragma mark - PCL commands

namespace {

const int kEscape = 27;
const size_t kCommandSize = 256;

}  // namespace


void send_printer_reset()
{
	char text[kCommandSize];
	snprintf(text, sizeof(text), "%cE", kEscape);
	send_text(text);
}


void send_raster_resolution(int dots_per_inch)
{
	char text[kCommandSize];
	snprintf(text, sizeof(text), "%c*t%dR", kEscape, dots_per_inch);
	send_text(text);
}


void send_top_margin_zero()
{
	char text[kCommandSize];
	snprintf(text, sizeof(text), "%c&l0E", kEscape);
	send_text(text);
}


void send_compression_none()
{
	char text[kCommandSize];
	snprintf(text, sizeof(text), "%c*b0M", kEscape);
	send_text(text);
}


// TIFF PackBits: a control byte n, then n + 1 bytes as they are (n from 0 to 127), or one
// byte repeated 1 - n times (n from -1 to -127).
void send_compression_tiff()
{
	char text[kCommandSize];
	snprintf(text, sizeof(text), "%c*b2M", kEscape);
	send_text(text);
}


// -4 selects the black, cyan, magenta, yellow planes; 1 the black plane alone.
void send_planes_per_row(int planes)
{
	char text[kCommandSize];
	if (planes == 1)
		snprintf(text, sizeof(text), "%c*r1U", kEscape);
	else
		snprintf(text, sizeof(text), "%c*r-4U", kEscape);
	send_text(text);
}


transfer_commands::transfer_commands(int32 count)
{
	snprintf(by_plane, sizeof(by_plane), "%c*b%dV", kEscape, (int)count);
	snprintf(by_row, sizeof(by_row), "%c*b%dW", kEscape, (int)count);
}


void send_transfer(char* command, uint8* plane_row, int32 count)
{
	send_text(command);
	send_bytes((const char*)plane_row, count);
}


void send_packed_transfer(bool last_plane, uint8* packed, int32 count)
{
	char text[kCommandSize];
	snprintf(text, sizeof(text), "%c*b%d%c", kEscape, (int)count, last_plane ? 'W' : 'V');
	send_text(text);
	send_bytes((const char*)packed, count);
}


// Moves down `rows` raster rows, which print without ink.
void send_raster_y_offset(int32 rows)
{
	char text[kCommandSize];
	snprintf(text, sizeof(text), "%c*b%dY", kEscape, (int)rows);
	send_text(text);
}


void send_form_feed()
{
	char text[kCommandSize];
	snprintf(text, sizeof(text), "%c", 12);
	send_text(text);
}


void send_page_header(bool bw)
{
	send_printer_reset();
	send_raster_resolution((int)(device::kUnitsPerInch * factor));
	send_top_margin_zero();
	if (row_encoding == RowEncoding::kPacked)
		send_compression_tiff();
	else
		send_compression_none();
	send_planes_per_row(bw ? 1 : -4);
}
