#include "EngineFixture.h"

#include <array>
#include <random>
#include <vector>

namespace {

// One plane's dither state across rows, sized exactly to the row so that any write past
// either end shows under the address sanitizer.
struct PlaneState {
	explicit PlaneState(int32 spool_width)
		:
		plane(spool_width),
		levels(8 * spool_width),
		cur_err(8 * spool_width),
		next_err(8 * spool_width)
	{
	}

	void Dither(int highest)
	{
		DoDither(plane.data(), levels.data(), cur_err.data(), next_err.data(), highest);
	}

	std::vector<uint8> plane;
	std::vector<int8> levels;
	std::vector<int32> cur_err;
	std::vector<int32> next_err;
};


class Dither : public EngineTest {};

}  // namespace

TEST_F(Dither, NegativeErrorSharesRoundDown)
{
	SpoolWidth = 1;
	PlaneState state(1);
	state.levels[0] = 16;
	state.Dither(31);
	// 480 - 930 = -450: -113 to the right and below, -57 two dots on and below-right ...
	EXPECT_EQ(state.plane[0], 0x80);
	EXPECT_EQ(state.cur_err, std::vector<int32>({-113, -57, -29, 0, 0, 0, 0, 0}));
	EXPECT_EQ(state.next_err, std::vector<int32>(8, 0));
}


TEST_F(Dither, MidGreyAlternatesRowByRow)
{
	SpoolWidth = 1;
	PlaneState state(1);
	state.levels.assign(8, 16);
	std::vector<uint8> rows;
	for (int row = 0; row < 3; row++) {
		state.Dither(31);
		rows.push_back(state.plane[0]);
	}
	EXPECT_EQ(rows, std::vector<uint8>({0xAA, 0x55, 0xAA}));
}


TEST_F(Dither, FirstDotsPushNothingPastTheLeftEdge)
{
	SpoolWidth = 1;
	// The carried -10000 keeps the dots to the right from passing on errors of their own.
	PlaneState first(1);
	first.levels[0] = 10;
	first.cur_err[1] = first.cur_err[2] = -10000;
	first.Dither(31);
	EXPECT_EQ(first.cur_err, std::vector<int32>({75, 37, 18, 0, 0, 0, 0, 0}));

	PlaneState second(1);
	second.levels[1] = 10;
	second.cur_err[2] = second.cur_err[3] = -10000;
	second.Dither(31);
	EXPECT_EQ(second.cur_err, std::vector<int32>({37, 75, 37, 18, 0, 0, 0, 0}));
	EXPECT_EQ(second.plane[0], 0x00);
}


TEST_F(Dither, LastDotsPushNothingPastTheRightEdge)
{
	SpoolWidth = 1;
	PlaneState last(1);
	last.levels[7] = 10;
	last.Dither(31);
	EXPECT_EQ(last.cur_err, std::vector<int32>({0, 0, 0, 0, 0, 18, 37, 75}));

	PlaneState before_last(1);
	before_last.levels[6] = 10;
	before_last.cur_err[7] = -10000;
	before_last.Dither(31);
	EXPECT_EQ(before_last.cur_err, std::vector<int32>({0, 0, 0, 0, 18, 37, 75, 37}));
	EXPECT_EQ(before_last.next_err, std::vector<int32>(8, 0));
}


TEST_F(Dither, ThresholdValueItselfPrintsNoDot)
{
	SpoolWidth = 1;
	PlaneState state(1);
	state.cur_err[0] = 465;		// exactly the threshold of level 31
	state.cur_err[7] = 466;
	state.cur_err[4] = 5000;	// clamped to full scale: a dot without error
	state.Dither(31);
	EXPECT_EQ(state.plane[0], 0x09);
}


// Cyan, magenta, yellow and grey levels of a B_RGB16_BIG pixel, the plain way.
std::array<int8, 4> pixel_levels(uint8 high, uint8 low)
{
	int red = high >> 3;
	int green = (((high & 7) << 3) | (low >> 5)) >> 1;
	int blue = low & 0x1F;
	return {(int8)(31 - red), (int8)(31 - green), (int8)(31 - blue),
		(int8)(93 - red - green - blue)};
}


// The encoders' one-pass separation and dither of two rows against DoDither on the levels of
// the same pixels, row after row, over several pairs with random pixels and random carried
// errors of either sign.
TEST_F(Dither, OnePassDitherMatchesDoDither)
{
	std::mt19937 random(20261208);
	for (int32 spool_width : {1, 2, 5, 41}) {
		SpoolWidth = spool_width;
		const int32 dots = 8 * spool_width;
		// Planes 0 to 2: cyan, magenta, yellow; plane 3: grey.
		std::vector<PlaneState> planes(4, PlaneState(spool_width));
		std::vector<int16> color_errors(4 * dots);
		std::vector<int16> grey_errors(4 * dots);
		std::vector<uint8> fused[2][4];
		for (auto& row : fused) {
			for (std::vector<uint8>& plane : row)
				plane.resize(spool_width);
		}
		std::vector<uint8> pixels[2] = {std::vector<uint8>(2 * dots),
			std::vector<uint8>(2 * dots)};
		// The four-row pass runs beside, on rows 0 to 3, 4 to 7, ... with its own errors.
		std::vector<int16> wide_errors;
		std::vector<uint8> quad_pixels[4];
		std::vector<uint8> quad_planes[4][3];
		std::vector<uint8> quad_expected[4][3];
		for (auto& row : quad_planes) {
			for (std::vector<uint8>& plane : row)
				plane.resize(spool_width);
		}

		std::uniform_int_distribution<int> error_value(-1500, 1500);
		for (int p = 0; p < 4; p++) {
			for (int32 i = 0; i < dots; i++) {
				planes[p].cur_err[i] = error_value(random);
				int16* errors = p < 3 ? &color_errors[4 * i + p] : &grey_errors[4 * i];
				*errors = (int16)planes[p].cur_err[i];
			}
		}

		wide_errors = color_errors;
		for (int row = 0; row < 12; row += 2) {
			std::vector<uint8> expected[2][4];
			for (int half = 0; half < 2; half++) {
				// Some rows of dark or light pixels only, so that the errors grow either way.
				uint8 mask = (row + half) % 4 == 1 ? 0x00 : 0xFF;
				uint8 floor = (row + half) % 4 == 2 ? 0xC6 : 0x00;
				for (uint8& byte : pixels[half])
					byte = (uint8)((random() & mask) | floor);
				for (int32 i = 0; i < dots; i++) {
					std::array<int8, 4> levels = pixel_levels(pixels[half][2 * i],
						pixels[half][2 * i + 1]);
					for (int p = 0; p < 4; p++)
						planes[p].levels[i] = levels[p];
				}
				for (int p = 0; p < 4; p++) {
					planes[p].Dither(p < 3 ? 31 : 93);
					expected[half][p] = planes[p].plane;
				}
				quad_pixels[row % 4 + half] = pixels[half];
				for (int p = 0; p < 3; p++)
					quad_expected[row % 4 + half][p] = expected[half][p];
			}
			uint8* const upper[3] = {fused[0][0].data(), fused[0][1].data(), fused[0][2].data()};
			uint8* const lower[3] = {fused[1][0].data(), fused[1][1].data(), fused[1][2].data()};
			dither_three_planes(upper, lower, pixels[0].data(), pixels[1].data(),
				color_errors.data());
			dither_grey_plane(fused[0][3].data(), fused[1][3].data(), pixels[0].data(),
				pixels[1].data(), grey_errors.data());

			for (int half = 0; half < 2; half++) {
				for (int p = 0; p < 4; p++) {
					ASSERT_EQ(fused[half][p], expected[half][p]) << "width " << spool_width
						<< " row " << row + half << " plane " << p;
				}
			}
			for (int p = 0; p < 4; p++) {
				for (int32 i = 0; i < dots; i++) {
					int16 error = p < 3 ? color_errors[4 * i + p] : grey_errors[4 * i];
					ASSERT_EQ(error, planes[p].cur_err[i]) << "width " << spool_width
						<< " rows " << row << " plane " << p << " dot " << i;
				}
			}
			for (int32 i = 0; i < dots; i++) {
				ASSERT_EQ(color_errors[4 * i + 3], 0);
				for (int lane = 1; lane < 4; lane++)
					ASSERT_EQ(grey_errors[4 * i + lane], 0);
			}
			if (row % 4 == 2) {
				uint8* const rows[4][3] = {
					{quad_planes[0][0].data(), quad_planes[0][1].data(), quad_planes[0][2].data()},
					{quad_planes[1][0].data(), quad_planes[1][1].data(), quad_planes[1][2].data()},
					{quad_planes[2][0].data(), quad_planes[2][1].data(), quad_planes[2][2].data()},
					{quad_planes[3][0].data(), quad_planes[3][1].data(), quad_planes[3][2].data()}};
				uint8* const* quad[4] = {rows[0], rows[1], rows[2], rows[3]};
				const uint8* quad_rows[4] = {quad_pixels[0].data(), quad_pixels[1].data(),
					quad_pixels[2].data(), quad_pixels[3].data()};
				if (dither_three_planes_four_rows(quad, quad_rows, wide_errors.data())) {
					for (int g = 0; g < 4; g++) {
						for (int p = 0; p < 3; p++) {
							ASSERT_EQ(quad_planes[g][p], quad_expected[g][p]) << "four rows, width "
								<< spool_width << " row " << row - 2 + g << " plane " << p;
						}
					}
					ASSERT_EQ(wide_errors, color_errors) << "four rows, width " << spool_width;
				}
			}
		}
	}
}
