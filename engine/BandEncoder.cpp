// Colour and black-and-white band encoders: separation of the 16-bit band into ink or grey
// levels, the dither, black generation, and the raster rows sent through the output buffer.
#include "EngineInternal.h"
#include "TessaryPrint.h"

#include <cassert>
#include <cstring>
#include <memory>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Eight int16 lanes; the dither uses lanes 0 to 2 (cyan, magenta, yellow) or lane 0 (grey).
typedef int16 lane_vector __attribute__((vector_size(16)));
typedef int64 half_vector __attribute__((vector_size(16)));


// Through one 64-bit move, so that the vector is not assembled in memory from two halves
// (which stalls the load on the stores before it).
lane_vector load_dot(const int16* values)
{
	int64 lanes;
	memcpy(&lanes, values, sizeof(lanes));
	half_vector vector = {lanes, 0};
	return (lane_vector)vector;
}


lane_vector dot_from_lanes(uint64 lanes)
{
	half_vector vector = {(int64)lanes, 0};
	return (lane_vector)vector;
}


void store_dot(int16* values, lane_vector vector)
{
	int64 lanes = ((half_vector)vector)[0];
	memcpy(values, &lanes, sizeof(lanes));
}


// Lane by lane maximum and minimum; spelled out for SSE2, where the compiler does not always
// find the instructions in the generic form.
lane_vector lanes_max(lane_vector a, lane_vector b)
{
#ifdef __SSE2__
	return (lane_vector)_mm_max_epi16((__m128i)a, (__m128i)b);
#else
	return a > b ? a : b;
#endif
}


lane_vector lanes_min(lane_vector a, lane_vector b)
{
#ifdef __SSE2__
	return (lane_vector)_mm_min_epi16((__m128i)a, (__m128i)b);
#else
	return a < b ? a : b;
#endif
}


template <typename T>
std::unique_ptr<T[]> allocate_row(size_t count)
{
	return std::unique_ptr<T[]>(new (std::nothrow) T[count]());
}


bool all_zero(const int16* values, size_t count)
{
	int16 any = 0;
	for (size_t i = 0; i < count; i++)
		any |= values[i];
	return any == 0;
}


// #pragma mark - separation

// 30 times the levels of a B_RGB16_BIG pixel, in the 16-bit lanes of a 64-bit value, as the
// sum of one part from each pixel byte. The first byte (RRRRRGGG) holds red and the top three
// bits of G5, the green without its lowest bit; the second (GGGBBBBB) the low two bits of G5
// and blue. Every part is zero or positive, so the lanes add without carries.
struct level_tables {
	uint64 high[256];
	uint64 low[256];

	uint64 Lanes(const uint8* pixel) const { return high[pixel[0]] + low[pixel[1]]; }
};

// Lanes 0 to 2: cyan 31 - R5, magenta 31 - G5, yellow 31 - B5.
level_tables make_ink_tables()
{
	level_tables tables;
	for (uint64 byte = 0; byte < 256; byte++) {
		uint64 cyan = 30 * (31 - (byte >> 3));
		uint64 magenta_high = 30 * (28 - ((byte & 7) << 2));
		tables.high[byte] = cyan | magenta_high << 16;
		uint64 magenta_low = 30 * (3 - (byte >> 6));
		uint64 yellow = 30 * (31 - (byte & 0x1F));
		tables.low[byte] = magenta_low << 16 | yellow << 32;
	}
	return tables;
}

// Lane 0: grey 93 - (R5 + G5 + B5), the three inks summed with equal weight.
level_tables make_grey_tables()
{
	level_tables tables;
	for (uint64 byte = 0; byte < 256; byte++) {
		tables.high[byte] = 30 * (31 - (byte >> 3)) + 30 * (28 - ((byte & 7) << 2));
		tables.low[byte] = 30 * (3 - (byte >> 6)) + 30 * (31 - (byte & 0x1F));
	}
	return tables;
}

const level_tables kInkTables = make_ink_tables();
const level_tables kGreyTables = make_grey_tables();


// Whether every pixel of the row equals its first one.
bool row_is_uniform(const uint8* pixels, int32 dots)
{
	return memcmp(pixels, pixels + 2, 2 * ((size_t)dots - 1)) == 0;
}


// Fills each plane with 0x00 or 0xFF when the row's one pixel gives every plane either no ink
// or full ink. That is what the dither prints for such a row when no error is carried onto it,
// and it carries none on.
template <int Planes>
bool fill_extreme_row(uint64 lanes, int highest, uint8* const* planes, int32 spool_width)
{
	for (int plane = 0; plane < Planes; plane++) {
		uint64 level = (lanes >> (16 * plane)) & 0xFFFF;
		if (level != 0 && level != (uint64)(30 * highest))
			return false;
	}
	for (int plane = 0; plane < Planes; plane++) {
		uint64 level = (lanes >> (16 * plane)) & 0xFFFF;
		memset(planes[plane], level != 0 ? 0xFF : 0x00, spool_width);
	}
	return true;
}


// #pragma mark - dither

// Separation and dither of one row in one pass, for up to three planes side by side in the
// lanes of one vector. The planes keep the processor busy while each waits on the error of its
// previous dot, and the table look-ups of the separation run beside the vector work. The
// error pushed onto the row below is summed in four running partial sums (dots i - 2 to
// i + 1), and each dot's sum is written over its carried error once no later dot adds to it.
// The arithmetic is DoDither's, dot for dot: the values stay far inside 16 bits.
template <int Highest, int Planes>
void dither_lanes(const level_tables& tables, const uint8* pixels, int16* errors,
	uint8* const* planes)
{
	const int16 full = 30 * Highest;
	const int16 threshold = 15 * Highest;
	const lane_vector full_vector = {full, full, full, full, full, full, full, full};
	const lane_vector threshold_vector = {threshold, threshold, threshold, threshold,
		threshold, threshold, threshold, threshold};
	const lane_vector zero = {};
	const int32 width = SpoolWidth * 8;

	lane_vector quarter_last = zero;	// e[i - 1] >> 2, reaching dot i along the row
	lane_vector eighth_last = zero;		// e[i - 1] >> 3, reaching dot i + 1
	lane_vector eighth_before = zero;	// e[i - 2] >> 3, reaching dot i
	lane_vector below_minus2 = zero;	// partial sums of the row below at dots i - 2 ...
	lane_vector below_minus1 = zero;
	lane_vector below_here = zero;
	lane_vector below_plus1 = zero;		// ... to i + 1

	// The first byte stores nothing for its first two dots: the shares they would finish lie
	// left of the row. Inlined twice, so that the other bytes do not test for it.
	auto dither_byte = [&](int32 j, bool first_byte) __attribute__((always_inline)) {
		lane_vector bits = zero;
		for (int k = 0; k < 8; k++) {
			int32 i = 8 * j + k;
			// Only the share of the dot just before waits on the previous decision; the rest
			// is summed first, so that the chain from dot to dot stays short.
			lane_vector base = load_dot(errors + 4 * i)
				+ dot_from_lanes(tables.Lanes(pixels + 2 * i)) + eighth_before;
			lane_vector value = base + quarter_last;
			lane_vector dot = value > threshold_vector;
			lane_vector clamped = lanes_min(lanes_max(value, zero), full_vector);
			lane_vector error = clamped - (dot & full_vector);
			bits = bits + bits - dot;

			lane_vector quarter = error >> 2;
			lane_vector eighth = error >> 3;
			lane_vector sixteenth = error >> 4;
			quarter_last = quarter;
			eighth_before = eighth_last;
			eighth_last = eighth;
			if (!first_byte || k >= 2)
				store_dot(errors + 4 * (i - 2), below_minus2 + sixteenth);
			below_minus2 = below_minus1 + eighth;
			below_minus1 = below_here + quarter;
			below_here = below_plus1 + eighth;
			below_plus1 = sixteenth;
		}
		for (int plane = 0; plane < Planes; plane++)
			planes[plane][j] = (uint8)bits[plane];
	};

	dither_byte(0, true);
	for (int32 j = 1; j < SpoolWidth; j++)
		dither_byte(j, false);

	// The last two dots of the row have all their shares; what lies beyond is dropped.
	store_dot(errors + 4 * (width - 2), below_minus2);
	store_dot(errors + 4 * (width - 1), below_minus1);
}

}  // namespace


void dither_three_planes(uint8* cyan, uint8* magenta, uint8* yellow, const uint8* pixels,
	int16* errors)
{
	uint8* const planes[3] = {cyan, magenta, yellow};
	dither_lanes<kHighestColorLevel, 3>(kInkTables, pixels, errors, planes);
}


void dither_grey_plane(uint8* plane, const uint8* pixels, int16* errors)
{
	dither_lanes<kHighestGreyLevel, 1>(kGreyTables, pixels, errors, &plane);
}


// #pragma mark - colour encoder

namespace {

// Dots that all three colour planes share are printed with black ink instead.
void generate_black(uint8* black, uint8* cyan, uint8* magenta, uint8* yellow,
	int32 spool_width)
{
	for (int32 j = 0; j < spool_width; j++) {
		uint8 shared = cyan[j] & magenta[j] & yellow[j];
		black[j] = shared;
		cyan[j] &= ~shared;
		magenta[j] &= ~shared;
		yellow[j] &= ~shared;
	}
}

}  // namespace


void encode_band_color(const uint8* bits, size_t bytes_per_row)
{
	assert(SpoolWidth > 0);
	const int32 dots = 8 * SpoolWidth;
	// The carried errors of the three planes, four values a dot; zero at the top of the band.
	std::unique_ptr<int16[]> errors = allocate_row<int16>(4 * (size_t)dots);
	std::unique_ptr<uint8[]> black = allocate_row<uint8>(SpoolWidth);
	std::unique_ptr<uint8[]> cyan = allocate_row<uint8>(SpoolWidth);
	std::unique_ptr<uint8[]> magenta = allocate_row<uint8>(SpoolWidth);
	std::unique_ptr<uint8[]> yellow = allocate_row<uint8>(SpoolWidth);
	if (!errors || !black || !cyan || !magenta || !yellow) {
		job_failed = true;
		return;
	}
	uint8* const planes[3] = {cyan.get(), magenta.get(), yellow.get()};
	transfer_commands commands(SpoolWidth);
	// True while no error is carried onto the row; a dithered row may carry some.
	bool errors_clear = true;

	for (int32 r = 0; r < kBandRows; r++) {
		const uint8* pixels = bits + r * bytes_per_row;
		bool filled = false;
		if (row_is_uniform(pixels, dots)) {
			if (!errors_clear)
				errors_clear = all_zero(errors.get(), 4 * (size_t)dots);
			if (errors_clear) {
				filled = fill_extreme_row<3>(kInkTables.Lanes(pixels), kHighestColorLevel,
					planes, SpoolWidth);
			}
		}
		if (!filled) {
			dither_three_planes(cyan.get(), magenta.get(), yellow.get(), pixels,
				errors.get());
			errors_clear = false;
		}
		generate_black(black.get(), cyan.get(), magenta.get(), yellow.get(), SpoolWidth);

		send_transfer(commands.by_plane, black.get(), SpoolWidth);
		send_transfer(commands.by_plane, cyan.get(), SpoolWidth);
		send_transfer(commands.by_plane, magenta.get(), SpoolWidth);
		send_transfer(commands.by_row, yellow.get(), SpoolWidth);
	}
}


// #pragma mark - black-and-white encoder

void encode_band_bw(const uint8* bits, size_t bytes_per_row)
{
	assert(SpoolWidth > 0);
	const int32 dots = 8 * SpoolWidth;
	// The carried error of the grey plane in the first of four values a dot.
	std::unique_ptr<int16[]> errors = allocate_row<int16>(4 * (size_t)dots);
	std::unique_ptr<uint8[]> plane = allocate_row<uint8>(SpoolWidth);
	if (!errors || !plane) {
		job_failed = true;
		return;
	}
	uint8* const planes[1] = {plane.get()};
	transfer_commands commands(SpoolWidth);
	bool errors_clear = true;

	for (int32 r = 0; r < kBandRows; r++) {
		const uint8* pixels = bits + r * bytes_per_row;
		bool filled = false;
		if (row_is_uniform(pixels, dots)) {
			if (!errors_clear)
				errors_clear = all_zero(errors.get(), 4 * (size_t)dots);
			if (errors_clear) {
				filled = fill_extreme_row<1>(kGreyTables.Lanes(pixels), kHighestGreyLevel,
					planes, SpoolWidth);
			}
		}
		if (!filled) {
			dither_grey_plane(plane.get(), pixels, errors.get());
			errors_clear = false;
		}
		send_transfer(commands.by_row, plane.get(), SpoolWidth);
	}
}
