// Pages of pixels: rows in, strips of B_RGB16_BIG pictures out, played back the way the band
// renderer plays a spool page (flattened and read back, clipped to each picture's rectangle,
// drawn at its placement point at the job's scale), dot for dot.

#include "PixelPage.h"

#include <Bitmap.h>
#include <DataIO.h>
#include <Picture.h>
#include <Region.h>
#include <View.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

// An 8-bit source with no symmetry and distinct channels.
uint8 channel(int x, int y, int c)
{
	switch (c) {
		case 0: return static_cast<uint8>(x * 7 + y * 3);
		case 1: return static_cast<uint8>((x * 11) ^ (y * 5));
		default: return static_cast<uint8>(255 - x * y);
	}
}

// The band's own pixel for an 8-bit colour: each channel truncated.
uint16 expected_pixel(color_space format, int x, int y)
{
	// 16-bit rows carry the 8-bit colour already truncated.
	if (format == B_RGB16)
		format = B_RGB24_BIG;
	uint8 red = channel(x, y, format == B_GRAY8 ? 1 : 0);
	uint8 green = channel(x, y, 1);
	uint8 blue = channel(x, y, format == B_GRAY8 ? 1 : 2);
	return static_cast<uint16>((red >> 3) << 11 | (green >> 2) << 5 | (blue >> 3));
}

std::vector<uint8> source_row(color_space format, int width, int y)
{
	std::vector<uint8> row;
	for (int x = 0; x < width; x++) {
		if (format == B_GRAY8) {
			row.push_back(channel(x, y, 1));
		} else if (format == B_RGB24_BIG) {
			row.insert(row.end(), {channel(x, y, 0), channel(x, y, 1), channel(x, y, 2)});
		} else if (format == B_RGB16) {
			uint16 pixel = expected_pixel(B_RGB24_BIG, x, y);
			row.insert(row.end(), {static_cast<uint8>(pixel), static_cast<uint8>(pixel >> 8)});
		} else {
			row.insert(row.end(), {channel(x, y, 2), channel(x, y, 1), channel(x, y, 0), 0});
		}
	}
	return row;
}

// Plays the strips as print_page does into a white bitmap of `dots` at `scale`.
std::unique_ptr<BBitmap> play(const std::vector<frontend::SpooledPicture>& strips, BRect dots,
	float scale)
{
	auto band = std::make_unique<BBitmap>(dots, B_BITMAP_ACCEPTS_VIEWS, B_RGB16_BIG);
	BView* view = new BView(dots, "band", B_FOLLOW_ALL_SIDES, B_WILL_DRAW);
	band->AddChild(view);
	band->Lock();
	memset(band->Bits(), 0xff, band->BitsLength());
	view->SetScale(scale);
	for (const frontend::SpooledPicture& strip : strips) {
		BMallocIO flat;
		EXPECT_EQ(strip.picture->Flatten(&flat), B_OK);
		flat.Seek(0, SEEK_SET);
		BPicture picture;
		EXPECT_EQ(picture.Unflatten(&flat), B_OK);
		BRegion region(BRect(strip.where.x, strip.where.y,
			strip.where.x + strip.rect.Width(), strip.where.y + strip.rect.Height()));
		view->ConstrainClippingRegion(&region);
		view->DrawPicture(&picture, strip.where);
		view->Sync();
	}
	band->Unlock();
	return band;
}

struct PixelCase {
	color_space format;
	int width;
	int height;
	int dotsPerUnit;
	int stripRows;
	BPoint origin;       // page units, on whole dots
	int expectedStrips;
};

class PixelPageCases : public ::testing::TestWithParam<PixelCase> {};

TEST_P(PixelPageCases, EveryPixelLandsOnItsOwnDotAndNothingElseIsTouched)
{
	const PixelCase& c = GetParam();
	std::vector<frontend::SpooledPicture> strips;
	frontend::PixelArea area;
	area.origin = c.origin;
	area.width = c.width;
	area.height = c.height;
	area.dotsPerUnit = c.dotsPerUnit;
	frontend::PixelPageWriter writer;
	std::string error;
	ASSERT_TRUE(writer.Begin(area, c.format,
		[&](const frontend::SpooledPicture& strip, std::string*) {
			frontend::SpooledPicture copy;
			copy.where = strip.where;
			copy.rect = strip.rect;
			copy.picture = std::make_unique<BPicture>(*strip.picture);
			strips.push_back(std::move(copy));
			return true;
		}, &error, c.stripRows)) << error;
	for (int y = 0; y < c.height; y++)
		ASSERT_TRUE(writer.AddRow(source_row(c.format, c.width, y).data(), &error)) << error;
	EXPECT_FALSE(writer.AddRow(source_row(c.format, c.width, 0).data(), &error));
	ASSERT_TRUE(writer.Finish(&error)) << error;
	EXPECT_EQ(static_cast<int>(strips.size()), c.expectedStrips);

	int left = static_cast<int>(c.origin.x * c.dotsPerUnit);
	int top = static_cast<int>(c.origin.y * c.dotsPerUnit);
	BRect dots(0, 0, left + c.width + 6, top + c.height + 6);
	std::unique_ptr<BBitmap> band = play(strips, dots, static_cast<float>(c.dotsPerUnit));
	const uint8* bits = static_cast<const uint8*>(band->Bits());
	int wrong = 0;
	for (int y = 0; y <= dots.IntegerHeight(); y++) {
		for (int x = 0; x <= dots.IntegerWidth(); x++) {
			const uint8* pixel = bits + y * band->BytesPerRow() + x * 2;
			uint16 got = static_cast<uint16>(pixel[0] << 8 | pixel[1]);
			bool inside = x >= left && x < left + c.width && y >= top && y < top + c.height;
			uint16 want = inside ? expected_pixel(c.format, x - left, y - top) : 0xffff;
			if (got != want && wrong++ < 5) {
				ADD_FAILURE() << "dot " << x << "," << y << ": " << std::hex << got
							  << " instead of " << want;
			}
		}
	}
	EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Strips, PixelPageCases, ::testing::Values(
	// odd width, strips of 5 rows at 75 dpi, off the origin
	PixelCase{B_RGB24_BIG, 37, 23, 1, 5, BPoint(3, 2), 5},
	// 300 dpi from Cairo's row layout, a quarter-unit origin; 30 rows in strips of 8: the
	// last 6 make their own strip
	PixelCase{B_RGB32, 41, 30, 4, 8, BPoint(2.5f, 1.25f), 4},
	// 150 dpi grey; 9 rows in strips of 4 leave 1 row, too few to draw alone: it joins the
	// strip before it
	PixelCase{B_GRAY8, 10, 9, 2, 4, BPoint(0, 0), 2},
	// 300 dpi, 4 rows left over after strips of 4 ... exactly one unit
	PixelCase{B_RGB24_BIG, 13, 12, 4, 4, BPoint(1, 0), 3},
	// Cairo's 16-bit rows at 150 dpi
	PixelCase{B_RGB16, 19, 11, 2, 4, BPoint(0.5f, 1), 3}));

TEST(PixelPage, ATallPageStaysWithinThePicturesTheDriverReadsPerPage)
{
	frontend::PixelArea area;
	area.width = 8;
	area.height = 40000;
	frontend::PixelPageWriter writer;
	std::string error;
	int strips = 0;
	ASSERT_TRUE(writer.Begin(area, B_GRAY8, [&](const frontend::SpooledPicture&, std::string*) {
		strips++;
		return true;
	}, &error)) << error;
	std::vector<uint8> row(8, 0x80);
	for (int y = 0; y < area.height; y++)
		ASSERT_TRUE(writer.AddRow(row.data(), &error));
	ASSERT_TRUE(writer.Finish(&error));
	EXPECT_LE(strips, frontend::PixelPageWriter::kMaxStrips + 1);
}

TEST(PixelPage, RefusalsAreReportedAndAStripTheSinkRefusesStopsThePage)
{
	frontend::PixelPageWriter writer;
	std::string error;
	auto accept = [](const frontend::SpooledPicture&, std::string*) { return true; };
	frontend::PixelArea area;
	area.width = 3;  // under one unit at 300 dpi
	area.height = 100;
	EXPECT_FALSE(writer.Begin(area, B_GRAY8, accept, &error));
	EXPECT_FALSE(error.empty());
	area.width = 100;
	EXPECT_FALSE(writer.Begin(area, B_CMAP8, accept, &error));

	ASSERT_TRUE(writer.Begin(area, B_GRAY8,
		[](const frontend::SpooledPicture&, std::string* sinkError) {
			*sinkError = "disk full";
			return false;
		}, &error, 4));
	std::vector<uint8> row(100, 0);
	bool stopped = false;
	for (int y = 0; y < 100 && !stopped; y++)
		stopped = !writer.AddRow(row.data(), &error);
	EXPECT_TRUE(stopped);
	EXPECT_EQ(error, "disk full");
}

}  // namespace
