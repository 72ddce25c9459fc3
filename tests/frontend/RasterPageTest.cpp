// Raster pages as the CUPS filter and the printer application read them: what a header
// asks of the driver, what is refused and why, and how rows of every kind become the rows
// of a page of pixels.
#include "DeviceModel.h"
#include "JobSettings.h"
#include "RasterPage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A header of a Letter page at `dpi` in `space` at `bits` a colour.
cups_page_header2_t header(unsigned dpi, cups_cspace_t space, unsigned bits, unsigned channels)
{
	cups_page_header2_t page;
	memset(&page, 0, sizeof(page));
	page.HWResolution[0] = page.HWResolution[1] = dpi;
	page.PageSize[0] = 612;
	page.PageSize[1] = 792;
	page.cupsWidth = 612 * dpi / 72;
	page.cupsHeight = 792 * dpi / 72;
	page.cupsColorSpace = space;
	page.cupsColorOrder = CUPS_ORDER_CHUNKED;
	page.cupsBitsPerColor = bits;
	page.cupsBitsPerPixel = bits * channels;
	page.cupsBytesPerLine = (page.cupsWidth * page.cupsBitsPerPixel + 7) / 8;
	page.NumCopies = 1;
	return page;
}

}  // namespace

TEST(RasterPage, HeadersTheDriverTakesAndThoseItRefuses)
{
	frontend::RasterRules cups;
	frontend::RasterRules app;
	app.paper = frontend::RasterPaper::kRasterSize;
	app.oneBitBlack = true;
	struct Case {
		const char* name;
		cups_page_header2_t header;
		frontend::RasterRules rules;
		const char* refusal;  // nullptr: taken
		bool gray;
	};
	cups_page_header2_t tall = header(150, CUPS_CSPACE_SRGB, 8, 3);
	tall.cupsHeight += 151;
	cups_page_header2_t anamorphic = header(150, CUPS_CSPACE_SRGB, 8, 3);
	anamorphic.HWResolution[1] = 75;
	cups_page_header2_t planar = header(300, CUPS_CSPACE_RGB, 8, 3);
	planar.cupsColorOrder = CUPS_ORDER_BANDED;
	cups_page_header2_t copies = header(75, CUPS_CSPACE_W, 8, 1);
	copies.NumCopies = 40000;
	const Case cases[] = {
		{"colour", header(300, CUPS_CSPACE_SRGB, 8, 3), cups, nullptr, false},
		{"16-bit grey", header(150, CUPS_CSPACE_SW, 16, 1), cups, nullptr, true},
		{"black", header(75, CUPS_CSPACE_K, 8, 1), cups, nullptr, true},
		{"one-bit black in the printer application", header(300, CUPS_CSPACE_K, 1, 1), app,
			nullptr, true},
		{"one-bit black in the filter", header(300, CUPS_CSPACE_K, 1, 1), cups,
			"the driver prints chunky raster of 8 or 16 bits a colour, not order 0 at 1 bits a "
			"colour, 1 a pixel", false},
		{"600 dpi", header(600, CUPS_CSPACE_SRGB, 8, 3), cups,
			"the driver prints at 300, 150 or 75 dpi, not at 600x600 dpi", false},
		{"two resolutions", anamorphic, cups,
			"the driver prints at 300, 150 or 75 dpi, not at 150x75 dpi", false},
		{"CMYK", header(300, CUPS_CSPACE_CMYK, 8, 4), cups,
			"the driver prints RGB or grey raster, not colour space 6", false},
		{"banded", planar, cups, "the driver prints chunky raster of 8 or 16 bits a colour, not "
			"order 1 at 8 bits a colour, 24 a pixel", false},
		{"a raster far taller than its page", tall, cups,
			"the raster page of 1275 x 1801 dots does not fit its paper of 1275 x 1650 dots",
			false},
		{"too many copies", copies, cups, "the driver makes at most 32767 copies, not 40000",
			false},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.name);
		frontend::RasterPage page;
		std::string refusal;
		bool taken = frontend::read_raster_page(c.header, c.rules, &page, &refusal);
		EXPECT_EQ(taken, c.refusal == nullptr) << refusal;
		if (c.refusal != nullptr) {
			EXPECT_EQ(refusal, c.refusal);
			continue;
		}
		EXPECT_EQ(page.gray, c.gray);
		EXPECT_EQ(page.paper, BRect(0, 0, 637.5f, 825));
		// A raster of the whole sheet: the driver's page is the printable area, from the
		// raster origin on.
		device::DotOffset origin = device::raster_origin_dots(page.dpi);
		EXPECT_EQ(page.columns, static_cast<int32>(std::ceil(8.5 * page.dpi)) - origin.x);
		EXPECT_EQ(page.rows, 11 * page.dpi - origin.y);
		EXPECT_EQ(page.shiftX, -origin.x);
		EXPECT_EQ(page.shiftY, -origin.y);
		EXPECT_EQ(page.Area().dotsPerUnit, device::dots_per_unit(page.dpi));
	}
}

TEST(RasterPage, RowsBeyondThePaperAreLeftOutAndThePrintableAreaComesFromTheBox)
{
	cups_page_header2_t wide = header(300, CUPS_CSPACE_SRGB, 8, 3);
	wide.cupsWidth += 40;
	wide.cupsHeight += 10;
	wide.cupsBytesPerLine = wide.cupsWidth * 3;
	wide.ImagingBoundingBox[0] = 18;   // a quarter inch left and right,
	wide.ImagingBoundingBox[1] = 36;   // half an inch at the bottom, and
	wide.ImagingBoundingBox[2] = 594;
	wide.ImagingBoundingBox[3] = 783;  // an eighth at the top
	frontend::RasterPage page;
	std::string refusal;
	ASSERT_TRUE(frontend::read_raster_page(wide, frontend::RasterRules(), &page, &refusal))
		<< refusal;
	// Of the sheet's 2550 x 3300 dots, those from the raster origin (75, 37) on.
	EXPECT_EQ(page.columns, 2475);
	EXPECT_EQ(page.rows, 3263);
	EXPECT_EQ(page.printable, BRect(18.75f, 9.375f, 618.75f, 787.5f));

	BMessage settings;
	device::default_settings(&settings);
	store_field(&settings, kBWModeField, int16(1));  // the job asks for black ink alone
	frontend::store_raster_page(page, &settings);
	int16 bw = 0;
	EXPECT_EQ(settings.FindInt16(kBWModeField, &bw), B_OK);
	EXPECT_EQ(bw, 1) << "a colour page keeps the job's colour mode";
	int8 row = -1;
	EXPECT_EQ(settings.FindInt8(kPreviousSettingsField, &row), B_OK);
	EXPECT_EQ(row, 0) << "US Letter";
	BRect printable;
	EXPECT_EQ(settings.FindRect(kPrintableRectField, &printable), B_OK);
	EXPECT_EQ(printable, page.printable);
}

TEST(RasterPage, RowsOfEveryKindBecomeEightBitRowsOfThePixelPage)
{
	struct Case {
		const char* name;
		cups_cspace_t space;
		unsigned bits;
		unsigned channels;
		std::vector<uint8> row;       // of a page 10 dots wide
		std::vector<uint8> expected;  // its first values as the pixel page takes them
	};
	const Case cases[] = {
		{"8-bit grey as it is", CUPS_CSPACE_SW, 8, 1, {0, 17, 255}, {0, 17, 255}},
		{"black turned into grey", CUPS_CSPACE_K, 8, 1, {0, 17, 255}, {255, 238, 0}},
		{"16-bit cut to the high byte", CUPS_CSPACE_SW, 16, 1, {0x34, 0x12, 0xff, 0xab},
			{0x12, 0xab}},
		{"one bit of black spread into dots", CUPS_CSPACE_K, 1, 1, {0xa0, 0x40},
			{0, 255, 0, 255, 255, 255, 255, 255, 255, 0}},
		{"8-bit colour as it is", CUPS_CSPACE_SRGB, 8, 3, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
	};
	frontend::RasterRules rules;
	rules.oneBitBlack = true;
	for (const Case& c : cases) {
		SCOPED_TRACE(c.name);
		// A raster of the printable area alone, as CUPS renders it for the PPD: its first
		// dot is the driver's first.
		cups_page_header2_t head = header(75, c.space, c.bits, c.channels);
		head.cupsImagingBBox[0] = 18;
		head.cupsImagingBBox[2] = 612;
		head.cupsImagingBBox[3] = 783;
		head.cupsWidth = 619;
		head.cupsHeight = 816;
		head.cupsBytesPerLine = (619 * c.bits * c.channels + 7) / 8;
		frontend::RasterPage page;
		std::string refusal;
		ASSERT_TRUE(frontend::read_raster_page(head, rules, &page, &refusal)) << refusal;
		std::vector<uint8> row(head.cupsBytesPerLine, 0);
		std::copy(c.row.begin(), c.row.end(), row.begin());
		frontend::RasterRows rows(page);
		const uint8* converted = rows.Convert(row.data());
		EXPECT_EQ(std::vector<uint8>(converted, converted + c.expected.size()), c.expected);
	}
}

// Where a raster page's dots land: a raster of the whole sheet (PWG raster, CUPS raster for
// a PPD without margins) is moved up and left by the raster origin; one of the imageable area
// alone begins where the area does, within a dot of the origin; one that begins further in
// is moved right and down, with white paper before it.
TEST(RasterPage, RasterDotsLandOnTheirPlaceOnTheSheet)
{
	struct Case {
		const char* name;
		unsigned dpi;
		frontend::RasterPaper paper;
		unsigned width, height;   // of the raster
		float box[4];             // cupsImagingBBox, points
		int32 shiftX, shiftY;
	};
	const Case cases[] = {
		{"PWG raster of the sheet at 300 dpi", 300, frontend::RasterPaper::kRasterSize, 2550,
			3300, {0, 0, 0, 0}, -75, -37},
		{"PWG raster at 150 dpi", 150, frontend::RasterPaper::kRasterSize, 1275, 1650,
			{0, 0, 0, 0}, -38, -19},
		{"CUPS raster of the sheet at 75 dpi", 75, frontend::RasterPaper::kPageSize, 638, 825,
			{0, 0, 612, 792}, -19, -9},
		{"CUPS raster of the imageable area at 300 dpi", 300,
			frontend::RasterPaper::kPageSize, 2475, 3262, {18, 0, 612, 783}, 0, 1},
		{"CUPS raster of the imageable area at 150 dpi", 150,
			frontend::RasterPaper::kPageSize, 1237, 1631, {18, 0, 612, 783}, 0, 0},
		{"CUPS raster of an inch inside the sheet at 75 dpi", 75,
			frontend::RasterPaper::kPageSize, 488, 675, {72, 72, 540, 720}, 56, 66},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.name);
		cups_page_header2_t head = header(c.dpi, CUPS_CSPACE_SW, 8, 1);
		head.cupsWidth = c.width;
		head.cupsHeight = c.height;
		head.cupsBytesPerLine = c.width;
		std::copy(std::begin(c.box), std::end(c.box), head.cupsImagingBBox);
		frontend::RasterRules rules;
		rules.paper = c.paper;
		frontend::RasterPage page;
		std::string refusal;
		ASSERT_TRUE(frontend::read_raster_page(head, rules, &page, &refusal)) << refusal;
		EXPECT_EQ(page.shiftX, c.shiftX);
		EXPECT_EQ(page.shiftY, c.shiftY);
		device::DotOffset origin = device::raster_origin_dots(static_cast<int32>(c.dpi));
		EXPECT_EQ(page.columns, static_cast<int32>(std::ceil(8.5 * c.dpi)) - origin.x);
		EXPECT_EQ(page.rows, 11 * static_cast<int32>(c.dpi) - origin.y);

		// Raster dot x carries the value x % 251 + 1: the driver's dot d shows raster dot
		// d - shiftX, or white paper where the raster has none.
		std::vector<uint8> row(c.width);
		for (unsigned x = 0; x < c.width; x++)
			row[x] = static_cast<uint8>(x % 251 + 1);
		frontend::RasterRows rows(page);
		const uint8* converted = rows.Convert(row.data());
		int wrong = 0;
		for (int32 dot = 0; dot < page.columns; dot++) {
			int64 x = static_cast<int64>(dot) - page.shiftX;
			uint8 expected = x >= 0 && x < c.width ? static_cast<uint8>(x % 251 + 1) : 255;
			if (converted[dot] != expected && wrong++ < 3)
				ADD_FAILURE() << "dot " << dot << " is " << int(converted[dot]);
		}
		EXPECT_EQ(wrong, 0);
		EXPECT_EQ(page.DriverRow(0), c.shiftY);
		const uint8* white = rows.White();
		EXPECT_TRUE(std::all_of(white, white + page.columns, [](uint8 v) { return v == 255; }));
	}
}
