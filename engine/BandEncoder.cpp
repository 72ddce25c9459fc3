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
constexpr level_tables make_ink_tables()
{
	level_tables tables{};
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
constexpr level_tables make_grey_tables()
{
	level_tables tables{};
	for (uint64 byte = 0; byte < 256; byte++) {
		tables.high[byte] = 30 * (31 - (byte >> 3)) + 30 * (28 - ((byte & 7) << 2));
		tables.low[byte] = 30 * (3 - (byte >> 6)) + 30 * (31 - (byte & 0x1F));
	}
	return tables;
}

constexpr level_tables kInkTables = make_ink_tables();
constexpr level_tables kGreyTables = make_grey_tables();


// Whether every pixel of the row equals its first one.
bool row_is_uniform(const uint8* pixels, int32 dots)
{
	return memcmp(pixels, pixels + 2, 2 * ((size_t)dots - 1)) == 0;
}


// Whether the row's one pixel gives every plane either no ink or full ink. Such a row, with no
// error carried onto it, dithers to 0x00 or 0xFF bytes and carries no error on.
template <int Planes>
bool is_extreme(uint64 lanes, int highest)
{
	for (int plane = 0; plane < Planes; plane++) {
		uint64 level = (lanes >> (16 * plane)) & 0xFFFF;
		if (level != 0 && level != (uint64)(30 * highest))
			return false;
	}
	return true;
}


template <int Planes>
void fill_extreme_row(uint64 lanes, uint8* const* planes, int32 spool_width)
{
	for (int plane = 0; plane < Planes; plane++) {
		uint64 level = (lanes >> (16 * plane)) & 0xFFFF;
		memset(planes[plane], level != 0 ? 0xFF : 0x00, spool_width);
	}
}


// #pragma mark - dither

typedef uint16 bit_vector __attribute__((vector_size(16)));

// Lanes 0 to 3 moved up into lanes 4 to 7; lanes 0 to 3 become 0.
lane_vector move_to_upper_lanes(lane_vector vector)
{
	half_vector halves = (half_vector)vector;
	half_vector moved = {0, halves[0]};
	return (lane_vector)moved;
}


lane_vector dots_from_lanes(uint64 lower, uint64 upper)
{
	half_vector vector = {(int64)lower, (int64)upper};
	return (lane_vector)vector;
}


void store_upper_dot(int16* values, lane_vector vector)
{
	int64 lanes = ((half_vector)vector)[1];
	memcpy(values, &lanes, sizeof(lanes));
}


// Separation and dither of two rows in one pass, up to three planes of each side by side in
// the lanes of one vector: lanes 0 to 2 hold the upper row at dot s, lanes 4 to 6 the lower
// row three dots behind, at dot s - 3. By then every share of the upper row that reaches the
// lower row's dot is known, and it is handed down from lane to lane without going through
// memory. Six independent error chains keep the processor busy while each waits on its
// previous dot, and the table look-ups of the separation run beside the vector work.
//
// The error pushed onto the row below is summed in four running partial sums (dots i - 2 to
// i + 1); a dot's sum is final once the dot two to its right is done. The arithmetic is
// DoDither's, dot for dot; its values stay far inside 16 bits.
template <int Highest, int Planes>
void dither_row_pair(const level_tables& tables, const uint8* upper_pixels,
	const uint8* lower_pixels, int16* errors, uint8* const* upper_planes,
	uint8* const* lower_planes)
{
	const int16 full = 30 * Highest;
	const int16 threshold = 15 * Highest;
	const lane_vector full_vector = {full, full, full, full, full, full, full, full};
	const lane_vector threshold_vector = {threshold, threshold, threshold, threshold,
		threshold, threshold, threshold, threshold};
	const lane_vector zero = {};
	const lane_vector lower_row_only = {0, 0, 0, 0, -1, -1, -1, -1};
	const int32 width = SpoolWidth * 8;
	const int32 lag = 3;

	lane_vector quarter_last = zero;	// e[i - 1] >> 2, reaching dot i along the row
	lane_vector eighth_last = zero;		// e[i - 1] >> 3, reaching dot i + 1
	lane_vector eighth_before = zero;	// e[i - 2] >> 3, reaching dot i
	lane_vector below_minus2 = zero;	// partial sums of the row below at dots i - 2 ...
	lane_vector below_minus1 = zero;
	lane_vector below_here = zero;
	lane_vector below_plus1 = zero;		// ... to i + 1
	lane_vector handed_down = zero;		// the upper row's final sum for dot s - 3
	bit_vector bits = {};

	for (int32 s = 0; s < width + lag; s++) {
		// Inputs: the upper row only while it has dots, the lower row only once it starts.
		uint64 upper_levels = 0;
		lane_vector carried = zero;
		if (s < width) {
			upper_levels = tables.Lanes(upper_pixels + 2 * s);
			carried = load_dot(errors + 4 * s);
		} else if (s == width) {
			// Past the upper row's end: nothing more travels along it.
			quarter_last &= lower_row_only;
			eighth_last &= lower_row_only;
			eighth_before &= lower_row_only;
		}
		uint64 lower_levels = 0;
		if (s >= lag) {
			lower_levels = tables.Lanes(lower_pixels + 2 * (s - lag));
			carried += move_to_upper_lanes(handed_down);
		}

		// Only the share of the dot just before waits on the previous decision; the rest is
		// summed first, so that the chain from dot to dot stays short.
		lane_vector base = carried + dots_from_lanes(upper_levels, lower_levels)
			+ eighth_before;
		lane_vector value = base + quarter_last;
		lane_vector dot = value > threshold_vector;
		lane_vector clamped = lanes_min(lanes_max(value, zero), full_vector);
		lane_vector error = clamped - (dot & full_vector);
		bits = bits + bits + ((bit_vector)dot & 1);

		lane_vector quarter = error >> 2;
		lane_vector eighth = error >> 3;
		lane_vector sixteenth = error >> 4;
		quarter_last = quarter;
		eighth_before = eighth_last;
		eighth_last = eighth;
		lane_vector final_sum = below_minus2 + sixteenth;
		below_minus2 = below_minus1 + eighth;
		below_minus1 = below_here + quarter;
		below_here = below_plus1 + eighth;
		below_plus1 = sixteenth;

		// Outputs: the upper row's sums go down to the lower row, the lower row's to memory
		// for the next pair. Each row's byte is done with its eighth dot.
		handed_down = final_sum;
		if (s >= lag + 2)
			store_upper_dot(errors + 4 * (s - lag - 2), final_sum);
		if ((s & 7) == 7 && s < width) {
			for (int plane = 0; plane < Planes; plane++)
				upper_planes[plane][s >> 3] = (uint8)bits[plane];
		}
		if (((s - lag) & 7) == 7 && s >= lag) {
			for (int plane = 0; plane < Planes; plane++)
				lower_planes[plane][(s - lag) >> 3] = (uint8)bits[4 + plane];
		}
	}

	// The lower row's last two dots have all their shares; what lies beyond is dropped.
	store_upper_dot(errors + 4 * (width - 2), below_minus2);
	store_upper_dot(errors + 4 * (width - 1), below_minus1);
}


// The same pass over four rows at once, for processors with 256-bit vectors: row g of the four
// sits in lanes 4g to 4g + 2 and runs 3g dots behind the first, each handing its final sums of
// the row below to the next. The work that does not depend on the row (the partial sums, the
// shifts, the decisions) is shared by four rows instead of two.
typedef int16 wide_lanes __attribute__((vector_size(32)));
typedef int64 wide_quarters __attribute__((vector_size(32)));
typedef uint16 wide_bits __attribute__((vector_size(32)));

__attribute__((target("avx2"))) void dither_four_rows(const level_tables& tables,
	const uint8* const* pixels, int16* errors, uint8* const* const* planes)
{
	const int Rows = 4;
	const int16 full = 30 * kHighestColorLevel;
	const int16 threshold = 15 * kHighestColorLevel;
	const wide_lanes zero = {};
	const wide_lanes full_vector = zero + full;
	const wide_lanes threshold_vector = zero + threshold;
	const int32 width = SpoolWidth * 8;
	const int32 lag = 3;
	const int32 last_lag = lag * (Rows - 1);

	wide_lanes quarter_last = zero;
	wide_lanes eighth_last = zero;
	wide_lanes eighth_before = zero;
	wide_lanes below_minus2 = zero;
	wide_lanes below_minus1 = zero;
	wide_lanes below_here = zero;
	wide_lanes below_plus1 = zero;
	wide_lanes handed_down = zero;
	wide_bits bits = {};

	for (int32 s = 0; s < width + last_lag; s++) {
		// Row g works on dot s - 3g while that is inside the row.
		wide_quarters levels = {};
		wide_quarters active = {-1, -1, -1, -1};
		// Between the last row's first dot and the first row's last, every row takes a dot.
		const bool all_rows = s >= last_lag && s < width;
		for (int g = 0; all_rows && g < Rows; g++)
			levels[g] = (int64)tables.Lanes(pixels[g] + 2 * (s - lag * g));
		for (int g = 0; !all_rows && g < Rows; g++) {
			int32 dot = s - lag * g;
			if (dot >= 0 && dot < width) {
				levels[g] = (int64)tables.Lanes(pixels[g] + 2 * dot);
				continue;
			}
			active[g] = 0;
			if (dot == width) {
				// Past this row's end: nothing more travels along it.
				wide_quarters keep = {-1, -1, -1, -1};
				keep[g] = 0;
				quarter_last &= (wide_lanes)keep;
				eighth_last &= (wide_lanes)keep;
				eighth_before &= (wide_lanes)keep;
			}
		}
		// The first row takes its carried errors from memory, each other one the final sums
		// the row above it handed down a step ago.
		wide_lanes down = __builtin_shufflevector(handed_down, zero, 16, 16, 16, 16,
			0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11);
		if (s < width) {
			int64 carried;
			memcpy(&carried, errors + 4 * s, sizeof(carried));
			wide_quarters first = {carried, 0, 0, 0};
			down += (wide_lanes)first;
		}
		if (!all_rows)
			down &= (wide_lanes)active;

		wide_lanes base = down + (wide_lanes)levels + eighth_before;
		wide_lanes value = base + quarter_last;
		wide_lanes dot = value > threshold_vector;
		wide_lanes clamped = value > zero ? value : zero;
		clamped = clamped < full_vector ? clamped : full_vector;
		wide_lanes error = clamped - (dot & full_vector);
		bits = bits + bits + ((wide_bits)dot & 1);

		wide_lanes quarter = error >> 2;
		wide_lanes eighth = error >> 3;
		wide_lanes sixteenth = error >> 4;
		quarter_last = quarter;
		eighth_before = eighth_last;
		eighth_last = eighth;
		wide_lanes final_sum = below_minus2 + sixteenth;
		below_minus2 = below_minus1 + eighth;
		below_minus1 = below_here + quarter;
		below_here = below_plus1 + eighth;
		below_plus1 = sixteenth;
		handed_down = final_sum;

		if (s >= last_lag + 2) {
			int64 lanes = ((wide_quarters)final_sum)[Rows - 1];
			memcpy(errors + 4 * (s - last_lag - 2), &lanes, sizeof(lanes));
		}
		// Row g ends a byte when s - 3g is 7 modulo 8: at most one row a step.
		const int ending_row[8] = {3, -1, 1, -1, -1, 2, -1, 0};
		int g = ending_row[s & 7];
		int32 done = s - lag * g;
		if (g >= 0 && done >= 0 && done < width) {
			for (int plane = 0; plane < 3; plane++)
				planes[g][plane][done >> 3] = (uint8)bits[4 * g + plane];
		}
	}

	// The last row's last two dots have all their shares; what lies beyond is dropped.
	int64 lanes = ((wide_quarters)below_minus2)[Rows - 1];
	memcpy(errors + 4 * (width - 2), &lanes, sizeof(lanes));
	lanes = ((wide_quarters)below_minus1)[Rows - 1];
	memcpy(errors + 4 * (width - 1), &lanes, sizeof(lanes));
}

}  // namespace


void dither_three_planes(uint8* const* upper_planes, uint8* const* lower_planes,
	const uint8* upper_pixels, const uint8* lower_pixels, int16* errors)
{
	dither_row_pair<kHighestColorLevel, 3>(kInkTables, upper_pixels, lower_pixels, errors,
		upper_planes, lower_planes);
}


void dither_grey_plane(uint8* upper_plane, uint8* lower_plane, const uint8* upper_pixels,
	const uint8* lower_pixels, int16* errors)
{
	dither_row_pair<kHighestGreyLevel, 1>(kGreyTables, upper_pixels, lower_pixels, errors,
		&upper_plane, &lower_plane);
}


bool dither_three_planes_four_rows(uint8* const* const* planes, const uint8* const* pixels,
	int16* errors)
{
	static const bool available = __builtin_cpu_supports("avx2");
	if (!available)
		return false;
	dither_four_rows(kInkTables, pixels, errors, planes);
	return true;
}


// #pragma mark - band rows

namespace {

// Whether both rows of a pair can be filled without the dither: each of one pixel that gives
// every plane no ink or full ink, and no error carried onto the upper row. *errors_clear
// caches what is known of the carried errors.
template <int Planes>
bool pair_is_extreme(const uint8* upper_pixels, const uint8* lower_pixels, int32 dots,
	const level_tables& tables, int highest, const int16* errors, bool* errors_clear)
{
	if (!row_is_uniform(upper_pixels, dots) || !row_is_uniform(lower_pixels, dots)
		|| !is_extreme<Planes>(tables.Lanes(upper_pixels), highest)
		|| !is_extreme<Planes>(tables.Lanes(lower_pixels), highest))
		return false;
	if (!*errors_clear)
		*errors_clear = all_zero(errors, 4 * (size_t)dots);
	return *errors_clear;
}


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


// The black, cyan, magenta and yellow plane rows of one band row.
struct color_planes {
	bool Allocate(int32 spool_width)
	{
		for (std::unique_ptr<uint8[]>& plane : rows) {
			plane = allocate_row<uint8>(spool_width);
			if (!plane)
				return false;
		}
		colors[0] = rows[1].get();
		colors[1] = rows[2].get();
		colors[2] = rows[3].get();
		return true;
	}

	// Packed through `packed` when it is given, whole otherwise.
	void GenerateBlackAndSend(transfer_commands& commands, int32 spool_width, uint8* packed)
	{
		generate_black(rows[0].get(), colors[0], colors[1], colors[2], spool_width);
		if (packed != nullptr) {
			uint8* const planes[4] = {rows[0].get(), rows[1].get(), rows[2].get(),
				rows[3].get()};
			send_packed_row(planes, 4, packed);
			return;
		}
		send_transfer(commands.by_plane, rows[0].get(), spool_width);
		send_transfer(commands.by_plane, rows[1].get(), spool_width);
		send_transfer(commands.by_plane, rows[2].get(), spool_width);
		send_transfer(commands.by_row, rows[3].get(), spool_width);
	}

	std::unique_ptr<uint8[]> rows[4];
	uint8* colors[3];	// cyan, magenta, yellow
};


// The working row of the packed encoding; none for the whole one. False for want of memory.
bool allocate_packed_row(std::unique_ptr<uint8[]>* packed)
{
	if (row_encoding != RowEncoding::kPacked)
		return true;
	*packed = allocate_row<uint8>(packed_row_bound(SpoolWidth));
	return *packed != nullptr;
}

}  // namespace


// Band rows go through the dither two at a time; every row is still sent on its own, in order.
void encode_band_color(const uint8* bits, size_t bytes_per_row)
{
	assert(SpoolWidth > 0);
	const int32 dots = 8 * SpoolWidth;
	// The carried errors of the three planes, four values a dot; zero at the top of the band.
	std::unique_ptr<int16[]> errors = allocate_row<int16>(4 * (size_t)dots);
	color_planes upper, lower;
	std::unique_ptr<uint8[]> packed;
	if (!errors || !upper.Allocate(SpoolWidth) || !lower.Allocate(SpoolWidth)
		|| !allocate_packed_row(&packed)) {
		stop_job(JobStop::no_memory);
		return;
	}
	transfer_commands commands(SpoolWidth);
	// True while no error is carried onto the row; a dithered row may carry some.
	bool errors_clear = true;

	// Four rows at a time where the processor allows, else two.
	static const bool four_rows = __builtin_cpu_supports("avx2");
	color_planes third, fourth;
	if (four_rows && (!third.Allocate(SpoolWidth) || !fourth.Allocate(SpoolWidth))) {
		stop_job(JobStop::no_memory);
		return;
	}
	for (int32 r = 0; four_rows && r < kBandRows; r += 4) {
		const uint8* pixels[4];
		for (int g = 0; g < 4; g++)
			pixels[g] = bits + (r + g) * bytes_per_row;
		color_planes* rows[4] = {&upper, &lower, &third, &fourth};
		if (pair_is_extreme<3>(pixels[0], pixels[1], dots, kInkTables, kHighestColorLevel,
				errors.get(), &errors_clear)
			&& pair_is_extreme<3>(pixels[2], pixels[3], dots, kInkTables, kHighestColorLevel,
				errors.get(), &errors_clear)) {
			for (int g = 0; g < 4; g++)
				fill_extreme_row<3>(kInkTables.Lanes(pixels[g]), rows[g]->colors, SpoolWidth);
		} else {
			uint8* const* planes[4] = {upper.colors, lower.colors, third.colors,
				fourth.colors};
			dither_three_planes_four_rows(planes, pixels, errors.get());
			errors_clear = false;
		}
		for (color_planes* row : rows)
			row->GenerateBlackAndSend(commands, SpoolWidth, packed.get());
	}
	if (four_rows)
		return;

	for (int32 r = 0; r < kBandRows; r += 2) {
		const uint8* upper_pixels = bits + r * bytes_per_row;
		const uint8* lower_pixels = upper_pixels + bytes_per_row;
		if (pair_is_extreme<3>(upper_pixels, lower_pixels, dots, kInkTables,
				kHighestColorLevel, errors.get(), &errors_clear)) {
			fill_extreme_row<3>(kInkTables.Lanes(upper_pixels), upper.colors, SpoolWidth);
			fill_extreme_row<3>(kInkTables.Lanes(lower_pixels), lower.colors, SpoolWidth);
		} else {
			dither_three_planes(upper.colors, lower.colors, upper_pixels, lower_pixels,
				errors.get());
			errors_clear = false;
		}
		upper.GenerateBlackAndSend(commands, SpoolWidth, packed.get());
		lower.GenerateBlackAndSend(commands, SpoolWidth, packed.get());
	}
}


// #pragma mark - black-and-white encoder

void encode_band_bw(const uint8* bits, size_t bytes_per_row)
{
	assert(SpoolWidth > 0);
	const int32 dots = 8 * SpoolWidth;
	// The carried error of the grey plane in the first of four values a dot.
	std::unique_ptr<int16[]> errors = allocate_row<int16>(4 * (size_t)dots);
	std::unique_ptr<uint8[]> upper = allocate_row<uint8>(SpoolWidth);
	std::unique_ptr<uint8[]> lower = allocate_row<uint8>(SpoolWidth);
	std::unique_ptr<uint8[]> packed;
	if (!errors || !upper || !lower || !allocate_packed_row(&packed)) {
		stop_job(JobStop::no_memory);
		return;
	}
	uint8* const upper_plane[1] = {upper.get()};
	uint8* const lower_plane[1] = {lower.get()};
	transfer_commands commands(SpoolWidth);
	bool errors_clear = true;

	for (int32 r = 0; r < kBandRows; r += 2) {
		const uint8* upper_pixels = bits + r * bytes_per_row;
		const uint8* lower_pixels = upper_pixels + bytes_per_row;
		if (pair_is_extreme<1>(upper_pixels, lower_pixels, dots, kGreyTables,
				kHighestGreyLevel, errors.get(), &errors_clear)) {
			fill_extreme_row<1>(kGreyTables.Lanes(upper_pixels), upper_plane, SpoolWidth);
			fill_extreme_row<1>(kGreyTables.Lanes(lower_pixels), lower_plane, SpoolWidth);
		} else {
			dither_grey_plane(upper.get(), lower.get(), upper_pixels, lower_pixels,
				errors.get());
			errors_clear = false;
		}
		if (packed) {
			send_packed_row(upper_plane, 1, packed.get());
			send_packed_row(lower_plane, 1, packed.get());
		} else {
			send_transfer(commands.by_row, upper.get(), SpoolWidth);
			send_transfer(commands.by_row, lower.get(), SpoolWidth);
		}
	}
}
