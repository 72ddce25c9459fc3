// The packed row encoding: plane rows in TIFF PackBits, and rows without ink skipped with the
// raster Y offset command. The sheet it prints is dot for dot the whole encoding's.
#include "EngineInternal.h"
#include "TessaryPrint.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace {

// Bytes one PackBits control byte covers, literal or repeated.
const ptrdiff_t kMaxPackedRun = 128;

// The rows of the sheet in hand that have not been sent: they carry no ink.
int32 blank_rows = 0;
// Whether the sheet in hand has had its first row.
bool sheet_has_rows = false;


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
	while (blank_rows > 0) {
		int32 rows = std::min(blank_rows, kMaxRasterYOffset);
		send_raster_y_offset(rows);
		blank_rows -= rows;
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
	blank_rows = 0;
	sheet_has_rows = false;
}


void end_sheet_rows()
{
	if (row_encoding == RowEncoding::kPacked)
		send_blank_rows();
}


void send_packed_row(uint8* const* planes, int plane_count, uint8* scratch)
{
	bool blank = true;
	for (int plane = 0; plane < plane_count && blank; plane++)
		blank = plane_is_blank(planes[plane], SpoolWidth);
	if (blank && sheet_has_rows) {
		blank_rows++;
		return;
	}
	send_blank_rows();
	for (int plane = 0; plane < plane_count; plane++) {
		size_t length = pack_bits(planes[plane], SpoolWidth, scratch);
		assert(length <= packed_row_bound(SpoolWidth));
		send_packed_transfer(plane + 1 == plane_count, scratch, (int32)length);
	}
	sheet_has_rows = true;
}
