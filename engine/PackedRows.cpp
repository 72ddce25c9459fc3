// The packed row encoding: plane rows in TIFF PackBits, and rows without ink skipped with the
// raster Y offset command. The sheet it prints is dot for dot the whole encoding's.
#include "EngineInternal.h"
#include "TessaryPrint.h"

#include <OutputBuffer.h>

#include <algorithm>
#include <cassert>
#include <cstring>

namespace {

// Bytes one PackBits control byte covers, literal or repeated.
const ptrdiff_t kMaxPackedRun = 128;

// Rows that have not been sent, as they carry no ink, and whether a first row has been: of the
// sheet in hand, on the job's thread, and of the band in hand of each thread that encodes one.
struct row_count {
	int32 blank_rows = 0;
	bool has_rows = false;
};
row_count sheet_rows;
thread_local row_count band_rows;

// The count the rows being sent now go to.
row_count& rows_in_hand()
{
	return band_capture() != nullptr ? band_rows : sheet_rows;
}


// The bytes from `from` to `to` as literals of at most 128 bytes each.
uint8* put_literals(const uint8* from, const uint8* to, uint8* out)
{
	while (from < to) {
		ptrdiff_t length = std::min(to - from, kMaxPackedRun);
		*out++ = (uint8)(length - 1);
		memcpy(out, from, (size_t)length);
		out += length;
		from += length;
	}
	return out;
}


bool plane_is_blank(const uint8* plane, int32 count)
{
	return plane[0] == 0 && memcmp(plane, plane + 1, (size_t)count - 1) == 0;
}


void send_blank_rows()
{
	// A band's blank rows before its first row sent may follow blank rows of the bands
	// before it: the job's thread sends them together.
	row_count& count = rows_in_hand();
	band_output* band = band_capture();
	if (band != nullptr && !band->has_rows) {
		band->leading_blank_rows = count.blank_rows;
		count.blank_rows = 0;
		return;
	}
	while (count.blank_rows > 0) {
		int32 rows = std::min(count.blank_rows, kMaxRasterYOffset);
		send_raster_y_offset(rows);
		count.blank_rows -= rows;
	}
}

}  // namespace


size_t pack_bits(const uint8* row, int32 count, uint8* packed)
{
	const uint8* end = row + count;
	const uint8* literal = row;  // the first byte not yet encoded
	const uint8* at = row;
	uint8* out = packed;
	while (at < end) {
		const uint8* limit = std::min(end, at + kMaxPackedRun);
		const uint8* run_end = at + 1;
		while (run_end < limit && *run_end == *at)
			run_end++;
		ptrdiff_t run = run_end - at;
		// A repeat of two costs what its literal does, and a literal pending would need a
		// control byte more after it.
		if (run >= 3 || (run == 2 && at == literal)) {
			out = put_literals(literal, at, out);
			*out++ = (uint8)(1 - run);
			*out++ = *at;
			literal = run_end;
		}
		at = run_end;
	}
	out = put_literals(literal, end, out);
	return (size_t)(out - packed);
}


void begin_sheet_rows()
{
	sheet_rows = row_count();
}


void end_sheet_rows()
{
	if (row_encoding == RowEncoding::kPacked)
		send_blank_rows();
}


void send_packed_row(uint8* const* planes, int plane_count, uint8* scratch)
{
	row_count& count = rows_in_hand();
	bool blank = true;
	for (int plane = 0; plane < plane_count && blank; plane++)
		blank = plane_is_blank(planes[plane], SpoolWidth);
	if (blank && count.has_rows) {
		count.blank_rows++;
		return;
	}
	send_blank_rows();
	for (int plane = 0; plane < plane_count; plane++) {
		size_t length = pack_bits(planes[plane], SpoolWidth, scratch);
		assert(length <= packed_row_bound(SpoolWidth));
		send_packed_transfer(plane + 1 == plane_count, scratch, (int32)length);
	}
	count.has_rows = true;
	if (band_output* band = band_capture())
		band->has_rows = true;
}


void begin_band_rows(int32 band)
{
	// The sheet's first row is band 0's first.
	band_rows.blank_rows = 0;
	band_rows.has_rows = band > 0;
	band_output* output = band_capture();
	output->has_rows = false;
	output->leading_blank_rows = 0;
	output->trailing_blank_rows = 0;
}


void end_band_rows(band_output* output)
{
	if (output->has_rows)
		output->trailing_blank_rows = band_rows.blank_rows;
	else
		output->leading_blank_rows = band_rows.blank_rows;
	band_rows.blank_rows = 0;
}


void send_band_output(const band_output& output)
{
	if (row_encoding == RowEncoding::kPacked) {
		sheet_rows.blank_rows += output.leading_blank_rows;
		if (!output.has_rows)
			return;
		send_blank_rows();
	}
	SendToOutput(const_cast<char*>(output.bytes.data()), (int)output.bytes.size());
	if (row_encoding == RowEncoding::kPacked) {
		sheet_rows.blank_rows = output.trailing_blank_rows;
		sheet_rows.has_rows = true;
	}
}
