// Colour and black-and-white band encoders: separation of the 16-bit band into ink or grey
// levels, the dither, black generation, and the raster rows sent through the output buffer.
#include "EngineInternal.h"
#include "TessaryPrint.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// Eight int16 lanes; the fused dither uses lanes 0 to 2 for cyan, magenta and yellow.
typedef int16 lane_vector __attribute__((vector_size(16)));

const int kColorLanes = 4;  // int16 values per dot in the interleaved rows


lane_vector load_dot(const int16* values)
{
	lane_vector vector = {};
	memcpy(&vector, values, kColorLanes * sizeof(int16));
	return vector;
}


void store_dot(int16* values, lane_vector vector)
{
	memcpy(values, &vector, kColorLanes * sizeof(int16));
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

	lane_vector along_next = zero;	// error reaching dot i along the row
	lane_vector along_after = zero;	// error already bound for dot i + 1 along the row
	lane_vector below_minus2 = zero;	// partial sums of the row below at dots i - 2 ...
	lane_vector below_minus1 = zero;
	lane_vector below_here = zero;
	lane_vector below_plus1 = zero;	// ... to i + 1

	for (int32 j = 0; j < SpoolWidth; j++) {
		lane_vector bits = zero;
		for (int k = 0; k < 8; k++) {
			int32 i = 8 * j + k;
			lane_vector value = load_dot(errors + kColorLanes * i)
				+ load_dot(scaled_levels + kColorLanes * i) + along_next;
			lane_vector dot = value > threshold_vector;
			lane_vector over = value - full_vector;
			lane_vector error = dot ? (over < zero ? over : zero) : (value > zero ? value : zero);
			bits = bits + bits - dot;

			lane_vector quarter = error >> 2;
			lane_vector eighth = error >> 3;
			lane_vector sixteenth = error >> 4;
			along_next = along_after + quarter;
			along_after = eighth;
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


// Cyan, magenta and yellow levels of one band row, 30 times each, interleaved. Returns for
// each plane (bits 0 to 2) whether it has ink anywhere, and (bits 4 to 6) whether it has full
// ink everywhere.
unsigned separate_color_row(const uint8* pixels, int16* scaled_levels, int32 dots)
{
	int any_ink[3] = {0, 0, 0};
	int all_full[3] = {kHighestColorLevel, kHighestColorLevel, kHighestColorLevel};
	for (int32 x = 0; x < dots; x++) {
		rgb5 channels = pixel_channels(pixels + 2 * x);
		int levels[3] = {kHighestColorLevel - channels.red, kHighestColorLevel - channels.green,
			kHighestColorLevel - channels.blue};
		for (int plane = 0; plane < 3; plane++) {
			scaled_levels[kColorLanes * x + plane] = (int16)(30 * levels[plane]);
			any_ink[plane] |= levels[plane];
			all_full[plane] &= levels[plane];
		}
		scaled_levels[kColorLanes * x + 3] = 0;
	}
	unsigned flags = 0;
	for (int plane = 0; plane < 3; plane++) {
		if (any_ink[plane] != 0)
			flags |= 1u << plane;
		if (all_full[plane] == kHighestColorLevel)
			flags |= 0x10u << plane;
	}
	return flags;
}


// A plane without ink, or with full ink at every dot, dithers to 0x00 or 0xFF bytes and
// carries no error, as long as no error was carried onto the row.
bool fill_uniform_planes(unsigned flags, const color_rows& rows, int32 spool_width)
{
	uint8* planes[3] = {rows.cyan.get(), rows.magenta.get(), rows.yellow.get()};
	for (int plane = 0; plane < 3; plane++) {
		bool empty = (flags & (1u << plane)) == 0;
		bool full = (flags & (0x10u << plane)) != 0;
		if (!empty && !full)
			return false;
	}
	if (!all_zero(rows.errors.get(), kColorLanes * 8 * (size_t)spool_width))
		return false;
	for (int plane = 0; plane < 3; plane++)
		memset(planes[plane], (flags & (0x10u << plane)) != 0 ? 0xFF : 0x00, spool_width);
	return true;
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
	const int32 dots = 8 * SpoolWidth;
	color_rows rows;
	if (!rows.Allocate(SpoolWidth)) {
		job_failed = true;
		return;
	}

	for (int32 r = 0; r < kBandRows; r++) {
		unsigned flags = separate_color_row(bits + r * bytes_per_row, rows.scaled_levels.get(),
			dots);
		if (!fill_uniform_planes(flags, rows, SpoolWidth))
			dither_three_planes(rows.cyan.get(), rows.magenta.get(), rows.yellow.get(),
				rows.scaled_levels.get(), rows.errors.get());
		generate_black(rows, SpoolWidth);

		send_transfer_by_plane(rows.black.get(), SpoolWidth);
		send_transfer_by_plane(rows.cyan.get(), SpoolWidth);
		send_transfer_by_plane(rows.magenta.get(), SpoolWidth);
		send_transfer_by_row(rows.yellow.get(), SpoolWidth);
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
	const size_t dots = 8 * (size_t)SpoolWidth;
	std::unique_ptr<int8[]> levels = allocate_row<int8>(dots);
	std::unique_ptr<uint8[]> plane = allocate_row<uint8>(SpoolWidth);
	std::unique_ptr<int32[]> cur_err = allocate_row<int32>(dots);
	std::unique_ptr<int32[]> next_err = allocate_row<int32>(dots);
	if (!levels || !plane || !cur_err || !next_err) {
		job_failed = true;
		return;
	}

	for (int32 r = 0; r < kBandRows; r++) {
		int ink = separate_grey_row(bits + r * bytes_per_row, levels.get(), (int32)dots);
		// A row of one extreme level onto which no error was carried needs no dither: it
		// prints nothing or everything and carries nothing on.
		if (ink != 1 && all_zero(cur_err.get(), dots))
			memset(plane.get(), ink == 0 ? 0x00 : 0xFF, SpoolWidth);
		else
			DoDither(plane.get(), levels.get(), cur_err.get(), next_err.get(),
				kHighestGreyLevel);
		send_transfer_by_row(plane.get(), SpoolWidth);
	}
}
