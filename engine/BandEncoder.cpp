// Colour and black-and-white band encoders: separation of the 16-bit band into ink or grey
// levels, the dither, black generation, and the raster rows sent through the output buffer.
#include "EngineInternal.h"
#include "TessaryPrint.h"

#include <cassert>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Eight int16 lanes; the fused dither uses lanes 0 to 2 for cyan, magenta and yellow.
typedef int16 lane_vector __attribute__((vector_size(16)));

const int kColorLanes = 4;  // int16 values per dot in the interleaved rows


typedef int64 half_vector __attribute__((vector_size(16)));

// Through one 64-bit load, so that the vector is not assembled in memory from two halves
// (which stalls the load on the stores before it).
lane_vector load_dot(const int16* values)
{
	int64 lanes;
	memcpy(&lanes, values, sizeof(lanes));
	half_vector vector = {lanes, 0};
	return (lane_vector)vector;
}


void store_dot(int16* values, lane_vector vector)
{
	int64 lanes = ((half_vector)vector)[0];
	memcpy(values, &lanes, sizeof(lanes));
}


template <typename T>
std::unique_ptr<T[]> allocate_row(size_t count)
{
	return std::unique_ptr<T[]>(new (std::nothrow) T[count]());
}


// Red, green (its top five bits) and blue of a B_RGB16_BIG pixel, 0 to 31 each.
struct rgb5 {
	int red;
	int green;
	int blue;
};

rgb5 pixel_channels(const uint8* pixel)
{
	uint8 high = pixel[0];
	uint8 low = pixel[1];
	int green6 = ((high & 7) << 3) | (low >> 5);
	return {high >> 3, green6 >> 1, low & 0x1F};
}


bool all_zero(const int16* values, size_t count)
{
	int16 any = 0;
	for (size_t i = 0; i < count; i++)
		any |= values[i];
	return any == 0;
}


bool all_zero(const int32* values, size_t count)
{
	int32 any = 0;
	for (size_t i = 0; i < count; i++)
		any |= values[i];
	return any == 0;
}

}  // namespace


// #pragma mark - fused colour dither

// The three planes run side by side in the lanes of one vector, which keeps the processor
// busy while each plane waits on the error of its previous dot. The error pushed onto the
// row below is summed in four running partial sums (dots i - 2 to i + 1), and each dot's sum
// is written back over the carried error once no later dot can add to it.
void dither_three_planes(uint8* cyan, uint8* magenta, uint8* yellow,
	const int16* scaled_levels, int16* errors)
{
	const int16 full = 30 * kHighestColorLevel;
	const int16 threshold = 15 * kHighestColorLevel;
	const lane_vector full_vector = {full, full, full, 0, 0, 0, 0, 0};
	const lane_vector threshold_vector = {threshold, threshold, threshold, 0, 0, 0, 0, 0};
	const lane_vector zero = {};
	const int32 width = SpoolWidth * 8;

	lane_vector quarter_last = zero;	// e[i - 1] >> 2, reaching dot i along the row
	lane_vector eighth_last = zero;		// e[i - 1] >> 3, reaching dot i + 1
	lane_vector eighth_before = zero;	// e[i - 2] >> 3, reaching dot i
	lane_vector below_minus2 = zero;	// partial sums of the row below at dots i - 2 ...
	lane_vector below_minus1 = zero;
	lane_vector below_here = zero;
	lane_vector below_plus1 = zero;		// ... to i + 1

	for (int32 j = 0; j < SpoolWidth; j++) {
		lane_vector bits = zero;
		for (int k = 0; k < 8; k++) {
			int32 i = 8 * j + k;
			// Only the error of the dot just before waits on the previous dot's decision;
			// the rest is summed first so that the chain from dot to dot stays short.
			lane_vector base = load_dot(errors + kColorLanes * i)
				+ load_dot(scaled_levels + kColorLanes * i) + eighth_before;
			lane_vector value = base + quarter_last;
			lane_vector dot = value > threshold_vector;
			lane_vector clamped = value > zero ? value : zero;
			clamped = clamped < full_vector ? clamped : full_vector;
			lane_vector error = clamped - (dot & full_vector);
			bits = bits + bits - dot;

			lane_vector quarter = error >> 2;
			lane_vector eighth = error >> 3;
			lane_vector sixteenth = error >> 4;
			quarter_last = quarter;
			eighth_before = eighth_last;
			eighth_last = eighth;
			if (i >= 2)
				store_dot(errors + kColorLanes * (i - 2), below_minus2 + sixteenth);
			below_minus2 = below_minus1 + eighth;
			below_minus1 = below_here + quarter;
			below_here = below_plus1 + eighth;
			below_plus1 = sixteenth;
		}
		cyan[j] = (uint8)bits[0];
		magenta[j] = (uint8)bits[1];
		yellow[j] = (uint8)bits[2];
	}

	// The last two dots of the row have all their shares; what lies beyond is dropped.
	if (width >= 2)
		store_dot(errors + kColorLanes * (width - 2), below_minus2);
	store_dot(errors + kColorLanes * (width - 1), below_minus1);
}


// #pragma mark - colour encoder

namespace {

// Working rows of one colour band; every one of them is zero at the start of the band.
struct color_rows {
	std::unique_ptr<int16[]> scaled_levels;	// 30 x cyan, magenta, yellow level, 4 a dot
	std::unique_ptr<int16[]> errors;	// carried error of the three planes, 4 a dot
	std::unique_ptr<uint8[]> black;
	std::unique_ptr<uint8[]> cyan;
	std::unique_ptr<uint8[]> magenta;
	std::unique_ptr<uint8[]> yellow;

	bool Allocate(int32 spool_width)
	{
		size_t dots = 8 * (size_t)spool_width;
		scaled_levels = allocate_row<int16>(kColorLanes * dots);
		errors = allocate_row<int16>(kColorLanes * dots);
		black = allocate_row<uint8>(spool_width);
		cyan = allocate_row<uint8>(spool_width);
		magenta = allocate_row<uint8>(spool_width);
		yellow = allocate_row<uint8>(spool_width);
		return scaled_levels && errors && black && cyan && magenta && yellow;
	}
};


// 30 times the cyan, magenta and yellow levels of a pixel, in the 16-bit lanes 0 to 2 of a
// 64-bit value, as the sum of one part from each pixel byte. The first byte holds red and the
// top three bits of G5 (green without its lowest bit), the second byte the lowest two bits of
// G5 and blue; every part is zero or positive, so the lanes add without carries.
struct separation_tables {
	uint64 high[256];
	uint64 low[256];

	separation_tables()
	{
		for (int byte = 0; byte < 256; byte++) {
			uint64 cyan = 30 * (31 - (byte >> 3));
			uint64 magenta_high = 30 * (28 - ((byte & 7) << 2));
			high[byte] = cyan | magenta_high << 16;
			uint64 magenta_low = 30 * (3 - (byte >> 6));
			uint64 yellow = 30 * (31 - (byte & 0x1F));
			low[byte] = magenta_low << 16 | yellow << 32;
		}
	}
};

const separation_tables kSeparation;

const uint64 kFullInkLanes = 930ull | 930ull << 16 | 930ull << 32;


// Cyan, magenta and yellow levels of one band row, 30 times each, interleaved. Returns for
// each plane (bits 0 to 2) whether it has ink anywhere, and (bits 4 to 6) whether it has full
// ink everywhere.
unsigned separate_color_row(const uint8* pixels, int16* scaled_levels, int32 dots)
{
	uint64 any_ink = 0;
	uint64 all_full = kFullInkLanes;
	for (int32 x = 0; x < dots; x++) {
		uint64 lanes = kSeparation.high[pixels[2 * x]] + kSeparation.low[pixels[2 * x + 1]];
		memcpy(scaled_levels + kColorLanes * x, &lanes, sizeof(lanes));
		any_ink |= lanes;
		all_full &= lanes;
	}
	// A lane is 930 in the AND only if it is 930 everywhere: no level lies above it.
	unsigned flags = 0;
	for (int plane = 0; plane < 3; plane++) {
		if (((any_ink >> (16 * plane)) & 0xFFFF) != 0)
			flags |= 1u << plane;
		if (((all_full >> (16 * plane)) & 0xFFFF) == 930)
			flags |= 0x10u << plane;
	}
	return flags;
}


// Whether every pixel of the row equals its first one: then its levels are known from one
// pixel, and a row of no ink or full ink needs neither separation nor dither.
bool row_is_uniform(const uint8* pixels, int32 dots)
{
	return memcmp(pixels, pixels + 2, 2 * ((size_t)dots - 1)) == 0;
}


// Dots that all three colour planes share are printed with black ink instead.
void generate_black(const color_rows& rows, int32 spool_width)
{
	for (int32 j = 0; j < spool_width; j++) {
		uint8 shared = rows.cyan[j] & rows.magenta[j] & rows.yellow[j];
		rows.black[j] = shared;
		rows.cyan[j] &= ~shared;
		rows.magenta[j] &= ~shared;
		rows.yellow[j] &= ~shared;
	}
}

}  // namespace


void encode_band_color(const uint8* bits, size_t bytes_per_row)
{
	assert(SpoolWidth > 0);
	const int32 dots = 8 * SpoolWidth;
	color_rows rows;
	if (!rows.Allocate(SpoolWidth)) {
		job_failed = true;
		return;
	}
	transfer_commands commands(SpoolWidth);
	uint8* planes[3] = {rows.cyan.get(), rows.magenta.get(), rows.yellow.get()};
	// True while the dither has carried no error onto the row; a dithered row may have.
	bool errors_clear = true;

	for (int32 r = 0; r < kBandRows; r++) {
		const uint8* pixels = bits + r * bytes_per_row;
		// Rows of no ink or full ink in each plane, with nothing carried onto them, print
		// nothing or everything and carry nothing on: the dither would give the same bytes.
		unsigned flags;
		if (row_is_uniform(pixels, dots))
			flags = separate_color_row(pixels, rows.scaled_levels.get(), 1);
		else
			flags = separate_color_row(pixels, rows.scaled_levels.get(), dots);
		bool planes_uniform = true;
		for (int plane = 0; plane < 3; plane++) {
			if ((flags & (1u << plane)) != 0 && (flags & (0x10u << plane)) == 0)
				planes_uniform = false;
		}
		if (planes_uniform && !errors_clear)
			errors_clear = all_zero(rows.errors.get(), kColorLanes * (size_t)dots);

		if (planes_uniform && errors_clear) {
			for (int plane = 0; plane < 3; plane++)
				memset(planes[plane], (flags & (0x10u << plane)) != 0 ? 0xFF : 0x00,
					SpoolWidth);
		} else {
			if (row_is_uniform(pixels, dots))
				separate_color_row(pixels, rows.scaled_levels.get(), dots);
			dither_three_planes(planes[0], planes[1], planes[2], rows.scaled_levels.get(),
				rows.errors.get());
			errors_clear = false;
		}
		generate_black(rows, SpoolWidth);

		send_transfer(commands.by_plane, rows.black.get(), SpoolWidth);
		send_transfer(commands.by_plane, rows.cyan.get(), SpoolWidth);
		send_transfer(commands.by_plane, rows.magenta.get(), SpoolWidth);
		send_transfer(commands.by_row, rows.yellow.get(), SpoolWidth);
	}
}


// #pragma mark - black-and-white encoder

namespace {

// Grey levels of one band row, 0 for white to 93 for black, red, green and blue weighing the
// same. Returns 0 when the row has no ink, 2 when it has full ink everywhere, 1 otherwise.
int separate_grey_row(const uint8* pixels, int8* levels, int32 dots)
{
	int any_ink = 0;
	int all_full = kHighestGreyLevel;
	for (int32 x = 0; x < dots; x++) {
		rgb5 channels = pixel_channels(pixels + 2 * x);
		int level = 3 * 31 - (channels.red + channels.green + channels.blue);
		levels[x] = (int8)level;
		any_ink |= level;
		all_full &= level;
	}
	if (any_ink == 0)
		return 0;
	return all_full == kHighestGreyLevel ? 2 : 1;
}

}  // namespace


void encode_band_bw(const uint8* bits, size_t bytes_per_row)
{
	assert(SpoolWidth > 0);
	const size_t dots = 8 * (size_t)SpoolWidth;
	std::unique_ptr<int8[]> levels = allocate_row<int8>(dots);
	std::unique_ptr<uint8[]> plane = allocate_row<uint8>(SpoolWidth);
	std::unique_ptr<int32[]> cur_err = allocate_row<int32>(dots);
	std::unique_ptr<int32[]> next_err = allocate_row<int32>(dots);
	if (!levels || !plane || !cur_err || !next_err) {
		job_failed = true;
		return;
	}
	transfer_commands commands(SpoolWidth);
	bool errors_clear = true;

	for (int32 r = 0; r < kBandRows; r++) {
		const uint8* pixels = bits + r * bytes_per_row;
		bool uniform = row_is_uniform(pixels, (int32)dots);
		int ink = separate_grey_row(pixels, levels.get(), uniform ? 1 : (int32)dots);
		if (ink != 1 && !errors_clear)
			errors_clear = all_zero(cur_err.get(), dots);
		// A row of no ink or full ink onto which no error was carried prints nothing or
		// everything and carries nothing on.
		if (ink != 1 && errors_clear)
			memset(plane.get(), ink == 0 ? 0x00 : 0xFF, SpoolWidth);
		else {
			if (uniform)
				memset(levels.get(), levels[0], dots);
			DoDither(plane.get(), levels.get(), cur_err.get(), next_err.get(),
				kHighestGreyLevel);
			errors_clear = false;
		}
		send_transfer(commands.by_row, plane.get(), SpoolWidth);
	}
}
