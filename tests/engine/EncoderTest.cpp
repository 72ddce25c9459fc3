#include "EngineFixture.h"

#include <array>
#include <random>
#include <vector>

namespace {

// ESC * b <count> and the final letter: V transfers by plane, W by row.
std::string command(char letter, int32 count)
{
	return "\x1b*b" + std::to_string(count) + letter;
}


std::string plane_bytes(const std::vector<uint8>& plane)
{
	return std::string(plane.begin(), plane.end());
}


std::string color_row(const std::vector<uint8>& black, const std::vector<uint8>& cyan,
	const std::vector<uint8>& magenta, const std::vector<uint8>& yellow)
{
	int32 count = (int32)black.size();
	return command('V', count) + plane_bytes(black) + command('V', count)
		+ plane_bytes(cyan) + command('V', count) + plane_bytes(magenta)
		+ command('W', count) + plane_bytes(yellow);
}


std::string bw_row(const std::vector<uint8>& plane)
{
	return command('W', (int32)plane.size()) + plane_bytes(plane);
}


// The colour rows of a band worked out the plain way: levels per plane, three DoDither
// calls, black generation.
std::string reference_color_band(const TestBand& band, int32 spool_width)
{
	const int32 dots = 8 * spool_width;
	std::vector<int8> levels[3];
	std::vector<int32> cur_err[3];
	std::vector<int32> next_err[3];
	std::vector<uint8> planes[3];
	for (int p = 0; p < 3; p++) {
		levels[p].resize(dots);
		cur_err[p].assign(dots, 0);
		next_err[p].assign(dots, 0);
		planes[p].resize(spool_width);
	}
	std::string bytes;
	for (int32 r = 0; r < kBandRows; r++) {
		for (int32 x = 0; x < dots; x++) {
			uint8 high = band.bits[r * band.bytes_per_row + 2 * x];
			uint8 low = band.bits[r * band.bytes_per_row + 2 * x + 1];
			int green = (((high & 7) << 3) | (low >> 5)) >> 1;
			levels[0][x] = (int8)(31 - (high >> 3));
			levels[1][x] = (int8)(31 - green);
			levels[2][x] = (int8)(31 - (low & 0x1F));
		}
		for (int p = 0; p < 3; p++)
			DoDither(planes[p].data(), levels[p].data(), cur_err[p].data(),
				next_err[p].data(), 31);
		std::vector<uint8> black(spool_width);
		for (int32 j = 0; j < spool_width; j++) {
			black[j] = planes[0][j] & planes[1][j] & planes[2][j];
			for (int p = 0; p < 3; p++)
				planes[p][j] &= ~black[j];
		}
		bytes += color_row(black, planes[0], planes[1], planes[2]);
	}
	return bytes;
}


// The black-and-white rows of a band of one grey level, from DoDither.
std::string reference_bw_band(int level, int32 spool_width)
{
	std::vector<int8> levels(8 * spool_width, (int8)level);
	std::vector<int32> cur_err(8 * spool_width);
	std::vector<int32> next_err(8 * spool_width);
	std::vector<uint8> plane(spool_width);
	std::string bytes;
	for (int32 r = 0; r < kBandRows; r++) {
		DoDither(plane.data(), levels.data(), cur_err.data(), next_err.data(), 93);
		bytes += bw_row(plane);
	}
	return bytes;
}


class ColorEncoder : public EngineTest {
protected:
	std::string Encode(const TestBand& band)
	{
		encode_band_color(band.bits.data(), band.bytes_per_row);
		EXPECT_FALSE(job_failed);
		return Flushed();
	}

	// Every row of `bytes` is the same four planes, each byte of plane p being `fill[p]`.
	void ExpectUniformRows(const std::string& bytes, std::array<uint8, 4> fill)
	{
		std::vector<uint8> planes[4];
		for (int p = 0; p < 4; p++)
			planes[p].assign(SpoolWidth, fill[p]);
		std::string row = color_row(planes[0], planes[1], planes[2], planes[3]);
		std::string expected;
		for (int r = 0; r < kBandRows; r++)
			expected += row;
		EXPECT_EQ(bytes, expected);
	}
};


class BWEncoder : public EngineTest {
protected:
	std::string Encode(const TestBand& band)
	{
		encode_band_bw(band.bits.data(), band.bytes_per_row);
		EXPECT_FALSE(job_failed);
		return Flushed();
	}
};

}  // namespace


TEST_F(ColorEncoder, WhiteBandSendsEveryRowInFull)
{
	SpoolWidth = 320;
	std::string bytes = Encode(TestBand(320, 0xFF, 0xFF));
	ASSERT_EQ(bytes.size(), 100u * 1308);
	EXPECT_EQ(bytes.substr(0, 7), hex_bytes({0x1B, 0x2A, 0x62, 0x33, 0x32, 0x30, 0x56}));
	EXPECT_EQ(bytes.substr(981, 7), hex_bytes({0x1B, 0x2A, 0x62, 0x33, 0x32, 0x30, 0x57}));
	ExpectUniformRows(bytes, {0, 0, 0, 0});
}


TEST_F(ColorEncoder, PureColoursSeparateIntoTheirInks)
{
	SpoolWidth = 3;
	struct {
		uint8 high, low;
		std::array<uint8, 4> planes;  // black, cyan, magenta, yellow
	} cases[] = {
		{0x00, 0x00, {0xFF, 0, 0, 0}},			// black: all three inks become black
		{0xF8, 0x00, {0, 0, 0xFF, 0xFF}},		// red
		{0x07, 0xE0, {0, 0xFF, 0, 0xFF}},		// green
		{0x00, 0x1F, {0, 0xFF, 0xFF, 0}},		// blue
		{0xFF, 0xDF, {0, 0, 0, 0}},				// the lowest green bit plays no part
	};
	for (const auto& test : cases) {
		SetUp();
		SpoolWidth = 3;
		SCOPED_TRACE(testing::Message() << std::hex << (int)test.high << " " << (int)test.low);
		ExpectUniformRows(Encode(TestBand(3, test.high, test.low)), test.planes);
	}
}


TEST_F(ColorEncoder, NeutralGreyPrintsBlackDotsOnly)
{
	SpoolWidth = 1;
	// 84 10: red, green and blue 16, so every ink at level 15.
	std::string bytes = Encode(TestBand(1, 0x84, 0x10));
	const uint8 black_rows[] = {0x55, 0xAA, 0x55, 0xA9};
	for (int r = 0; r < 4; r++)
		EXPECT_EQ(bytes.substr(24 * r, 24), color_row({black_rows[r]}, {0}, {0}, {0}))
			<< "row " << r;

	// 7B EF: every ink at level 16, the level that alternates 0xAA and 0x55.
	SetUp();
	SpoolWidth = 1;
	bytes = Encode(TestBand(1, 0x7B, 0xEF));
	EXPECT_EQ(bytes.substr(0, 48), color_row({0xAA}, {0}, {0}, {0})
		+ color_row({0x55}, {0}, {0}, {0}));

	// Any neutral grey on a wider band: no dot stays in a colour plane.
	SetUp();
	SpoolWidth = 5;
	bytes = Encode(TestBand(5, 0x52, 0x8A));
	size_t black_dots = 0;
	for (int r = 0; r < kBandRows; r++) {
		size_t row = r * 4 * (5 + 5);
		for (size_t j = 0; j < 5; j++) {
			black_dots += __builtin_popcount((uint8)bytes[row + 5 + j]);
			for (int p = 1; p < 4; p++)
				ASSERT_EQ(bytes[row + p * 10 + 5 + j], 0) << "row " << r;
		}
	}
	EXPECT_GT(black_dots, 0u);
}


TEST_F(ColorEncoder, LoneBlackDotAtTheLeftEdge)
{
	SpoolWidth = 1;
	TestBand band(1, 0xFF, 0xFF);
	band.SetPixel(0, 0, 0x00, 0x00);
	std::string bytes = Encode(band);
	EXPECT_EQ(bytes.substr(0, 24), hex_bytes({0x1B, 0x2A, 0x62, 0x31, 0x56, 0x80, 0x1B, 0x2A,
		0x62, 0x31, 0x56, 0x00, 0x1B, 0x2A, 0x62, 0x31, 0x56, 0x00, 0x1B, 0x2A, 0x62, 0x31,
		0x57, 0x00}));
}


// A band with no symmetry: noise, flat colours, white rows right after ink (which carry
// error and must still be dithered), the last column and row different from the rest.
TEST_F(ColorEncoder, MixedBandMatchesThePlainComputation)
{
	for (int32 spool_width : {1, 7}) {
		SetUp();
		SpoolWidth = spool_width;
		TestBand band(spool_width, 0xFF, 0xFF);
		std::mt19937 random(spool_width);
		for (int32 r = 0; r <= kBandRows; r++) {
			for (int32 x = 0; x <= 8 * spool_width; x++) {
				uint8 high = 0xFF, low = 0xFF;
				if (r < 30 || x == 8 * spool_width || r == kBandRows) {
					high = (uint8)random();
					low = (uint8)random();
				} else if (r >= 40 && r < 50)
					high = low = 0x00;
				else if (r >= 60 && r < 70) {
					high = 0xF8;
					low = 0x00;
				} else if (r >= 90)
					high = x < 4 ? 0x12 : 0xFF;
				band.SetPixel(x, r, high, low);
			}
		}
		EXPECT_EQ(Encode(band), reference_color_band(band, spool_width));

		// No error crosses from one band to the next: the same band gives the same bytes.
		SetUp();
		SpoolWidth = spool_width;
		std::string first = Encode(band);
		SetUp();
		SpoolWidth = spool_width;
		encode_band_color(band.bits.data(), band.bytes_per_row);
		encode_band_color(band.bits.data(), band.bytes_per_row);
		EXPECT_EQ(Flushed(), first + first);
	}
}


TEST_F(BWEncoder, WhiteAndBlackBands)
{
	SpoolWidth = 320;
	std::string bytes = Encode(TestBand(320, 0xFF, 0xFF));
	ASSERT_EQ(bytes.size(), 100u * 327);
	std::string expected;
	for (int r = 0; r < kBandRows; r++)
		expected += bw_row(std::vector<uint8>(320, 0x00));
	EXPECT_EQ(bytes, expected);

	SetUp();
	SpoolWidth = 2;
	expected.clear();
	for (int r = 0; r < kBandRows; r++)
		expected += bw_row({0xFF, 0xFF});
	EXPECT_EQ(Encode(TestBand(2, 0x00, 0x00)), expected);
}


TEST_F(BWEncoder, ChannelsWeighTheSameOnTheFullGreyScale)
{
	struct {
		uint8 high, low;
		int level;
	} cases[] = {
		{0xF8, 0x00, 62}, {0x07, 0xE0, 62}, {0x00, 0x1F, 62},
		{0x07, 0xFF, 31}, {0xF8, 0x1F, 31}, {0xFF, 0xE0, 31},
		{0x7B, 0xEF, 48}, {0x84, 0x10, 45}, {0xFF, 0xDF, 0},
	};
	for (const auto& test : cases) {
		SetUp();
		SpoolWidth = 3;
		SCOPED_TRACE(testing::Message() << std::hex << (int)test.high << " " << (int)test.low);
		EXPECT_EQ(Encode(TestBand(3, test.high, test.low)), reference_bw_band(test.level, 3));
	}

	SetUp();
	SpoolWidth = 1;
	std::string bytes = Encode(TestBand(1, 0x84, 0x10));
	EXPECT_EQ(bytes.substr(0, 24), bw_row({0x55}) + bw_row({0xAA}) + bw_row({0x55})
		+ bw_row({0xA9}));
}


TEST_F(BWEncoder, WhiteRowsAfterInkStillCarryTheError)
{
	SpoolWidth = 2;
	TestBand band(2, 0xFF, 0xFF);
	for (int32 x = 0; x < 16; x++)
		band.SetPixel(x, 0, 0x84, 0x10);
	std::string bytes = Encode(band);

	std::vector<int8> levels(16, 45);
	std::vector<int32> cur_err(16), next_err(16);
	std::vector<uint8> plane(2);
	std::string expected;
	for (int32 r = 0; r < kBandRows; r++) {
		DoDither(plane.data(), levels.data(), cur_err.data(), next_err.data(), 93);
		expected += bw_row(plane);
		levels.assign(16, 0);
	}
	EXPECT_EQ(bytes, expected);
}
