// The PCL preview decoder: the driver's vocabulary decodes to pages; anything else is refused
// with the offset of the first byte that could not be taken.

#include "PclPreview.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

std::vector<uint8_t> bytes_of(const std::string& text)
{
	return std::vector<uint8_t>(text.begin(), text.end());
}

const std::string kColourHeader = "\x1b" "E" "\x1b*t300R" "\x1b&l0E" "\x1b*b0M" "\x1b*r-4U";

struct Decoded {
	bool ok = false;
	std::vector<preview::Page> pages;
	preview::DecodeError error;
};

Decoded decode(const std::string& stream)
{
	Decoded result;
	std::vector<uint8_t> data = bytes_of(stream);
	result.ok = preview::decode_stream(data.data(), data.size(),
		[&](const preview::Page& page, std::string*) {
			result.pages.push_back(page);
			return true;
		},
		&result.error);
	return result;
}

TEST(PclPreview, DecodesPlanesIntoInksPerDot)
{
	// One colour row of two bytes: black at dot 0, cyan at dot 1, magenta at 2, yellow at
	// dot 15, and cyan+magenta+yellow at dot 8.
	std::string row = std::string("\x1b*b2V") + std::string("\x80\x00", 2) + "\x1b*b2V"
		+ std::string("\x40\x80", 2) + "\x1b*b2V" + std::string("\x20\x80", 2) + "\x1b*b2W"
		+ std::string("\x00\x81", 2);
	Decoded decoded = decode(kColourHeader + row + row + "\x0c");
	ASSERT_TRUE(decoded.ok) << decoded.error.message << " at " << decoded.error.offset;
	ASSERT_EQ(decoded.pages.size(), 1u);
	const preview::Page& page = decoded.pages[0];
	EXPECT_EQ(page.resolution, 300);
	EXPECT_EQ(page.planes, 4);
	EXPECT_EQ(page.width, 16);
	EXPECT_EQ(page.rows, 2);
	EXPECT_EQ(page.inks[0], preview::kBlackInk);
	EXPECT_EQ(page.inks[1], preview::kCyanInk);
	EXPECT_EQ(page.inks[2], preview::kMagentaInk);
	EXPECT_EQ(page.inks[8], preview::kCyanInk | preview::kMagentaInk | preview::kYellowInk);
	EXPECT_EQ(page.inks[15], preview::kYellowInk);
	EXPECT_EQ(page.inks[3], 0);
	EXPECT_EQ(preview::summary_line(1, page), "page 1: 300 dpi, 4 planes, 2 rows of 16 dots");
}

TEST(PclPreview, RasterDataMayHoldEscapeAndFormFeedBytes)
{
	std::string header = "\x1b" "E" "\x1b*t75R" "\x1b&l0E" "\x1b*b0M" "\x1b*r1U";
	Decoded decoded = decode(header + "\x1b*b2W\x1b\x0c" + "\x0c" + header + "\x0c");
	ASSERT_TRUE(decoded.ok) << decoded.error.message;
	ASSERT_EQ(decoded.pages.size(), 2u);
	EXPECT_EQ(decoded.pages[0].rows, 1);
	EXPECT_EQ(decoded.pages[0].planes, 1);
	EXPECT_EQ(decoded.pages[1].rows, 0);
}

TEST(PclPreview, RefusesAnythingOutsideTheVocabularyWithItsOffset)
{
	struct Case {
		std::string stream;
		size_t offset;
	};
	const std::string bwHeader = "\x1b" "E" "\x1b*t75R" "\x1b&l0E" "\x1b*b0M" "\x1b*r1U";
	const Case cases[] = {
		{"x", 0},                                          // a byte outside any command
		{"\x1b*t300R", 0},                                 // no reset first
		{"\x1b" "E" "\x1b*r2U", 2},                        // two planes
		{"\x1b" "E" "\x1b*b3M", 2},                        // another compression
		{"\x1b" "E" "\x1b&l1E", 2},                        // another margin
		{bwHeader + "\x1b*b2V\x00\x00"s, bwHeader.size()},  // last plane sent by plane
		{bwHeader + "\x1b*b2W\x00"s, bwHeader.size() + 6},  // data cut short
		{bwHeader + "\x1b*b2W\x00\x00\x1b*b3W\x00\x00\x00"s, bwHeader.size() + 7},
		{bwHeader, bwHeader.size()},                       // no form feed
		{"\x1b" "E" "\x1b*p0X", 2},                        // cursor positioning
	};
	for (const Case& test : cases) {
		Decoded decoded = decode(test.stream);
		EXPECT_FALSE(decoded.ok);
		EXPECT_EQ(decoded.error.offset, test.offset) << decoded.error.message;
	}
}

// The stream names no paper: a page's sheet is the device model's paper whose raster the
// driver sends at the page's size, the way the page setup lays it or portrait.
TEST(PclPreview, APageFindsItsSheetByTheSizeOfItsRaster)
{
	struct Case {
		int resolution, width, rows;
		const char* paper;   // "" for none
		int sheetWidth, sheetHeight;
	};
	const Case cases[] = {
		{300, 2560, 3600, "US Letter", 2550, 3300},
		{75, 640, 900, "US Letter", 638, 825},
		{300, 2496, 3600, "A4", 2479, 3508},
		{150, 1280, 2200, "US Legal", 1275, 2100},
		{300, 2848, 1600, "Envelope", 2850, 1238},  // the page setup's, as it is fed
		{300, 1248, 3200, "Envelope", 1238, 2850},  // CUPS's, portrait
		{300, 16, 2, "", 16 + 75, 2 + 37},          // no paper's: the raster at its origin
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.rows));
		preview::Page page;
		page.resolution = c.resolution;
		page.width = c.width;
		page.rows = c.rows;
		preview::Sheet sheet = preview::sheet_for(page);
		EXPECT_EQ(sheet.paper, c.paper);
		EXPECT_EQ(sheet.width, c.sheetWidth);
		EXPECT_EQ(sheet.height, c.sheetHeight);
		// The raster origin: 1/4 in and 37/300 in, to the nearest dot.
		int originX = c.resolution == 300 ? 75 : c.resolution == 150 ? 38 : 19;
		int originY = c.resolution == 300 ? 37 : c.resolution == 150 ? 19 : 9;
		EXPECT_EQ(sheet.originX, originX);
		EXPECT_EQ(sheet.originY, originY);
	}
}

// On its sheet the raster begins at the origin, and what it holds past the sheet's right and
// bottom edges is gone, as the printer drops it.
TEST(PclPreview, ThePageOnItsSheetIsMovedToTheOriginAndCutAtTheEdges)
{
	preview::Page page;
	page.resolution = 75;
	page.planes = 1;
	page.width = 640;
	page.rows = 900;
	page.inks.assign(static_cast<size_t>(page.width) * page.rows, 0);
	auto put = [&](int x, int y) { page.inks[static_cast<size_t>(y) * page.width + x] = 1; };
	put(0, 0);          // the raster's first dot: the sheet's (19, 9)
	put(618, 815);      // the last that lands on the sheet: (637, 824)
	put(619, 100);      // past the right edge
	put(100, 816);      // past the bottom edge
	put(639, 899);      // the raster's last dot
	preview::Sheet sheet = preview::sheet_for(page);
	preview::Page placed = preview::on_sheet(page, sheet);
	ASSERT_EQ(placed.width, 638);
	ASSERT_EQ(placed.rows, 825);
	EXPECT_EQ(placed.resolution, 75);
	EXPECT_EQ(placed.planes, 1);
	std::vector<std::pair<int, int>> inked;
	for (int y = 0; y < placed.rows; y++) {
		for (int x = 0; x < placed.width; x++) {
			if (placed.inks[static_cast<size_t>(y) * placed.width + x] != 0)
				inked.emplace_back(x, y);
		}
	}
	EXPECT_EQ(inked, (std::vector<std::pair<int, int>>{{19, 9}, {637, 824}}));
	EXPECT_EQ(preview::summary_line(2, page, sheet),
		"page 2: 75 dpi, 1 plane, 900 rows of 640 dots, on US Letter (638 x 825 dots)");
}

}  // namespace

// Method 2 rows and Y offsets decode to the same page as the rows sent whole.
TEST(PclPreview, PackedRowsAndYOffsetsDecodeAsTheRowsSentWhole)
{
	const std::string bwHeader = "\x1b" "E" "\x1b*t75R" "\x1b&l0E" "\x1b*b0M" "\x1b*r1U";
	const std::string packedHeader = "\x1b" "E" "\x1b*t75R" "\x1b&l0E" "\x1b*b2M" "\x1b*r1U";
	// Four bytes a row: 0x80 0 0 0x01, then three blank rows, then 0xFF four times.
	std::string whole = bwHeader + "\x1b*b4W\x80\x00\x00\x01"s
		+ "\x1b*b4W\x00\x00\x00\x00"s + "\x1b*b4W\x00\x00\x00\x00"s
		+ "\x1b*b4W\x00\x00\x00\x00"s + "\x1b*b4W\xff\xff\xff\xff"s + "\x0c";
	std::string packed = packedHeader
		+ "\x1b*b6W\x00\x80\xff\x00\x00\x01"s  // a literal, a repeat of two, a literal
		+ "\x1b*b3Y"  // three rows without ink
		+ "\x1b*b3W\x80\xfd\xff"s;  // a no-operation byte, then a repeat of four
	packed += "\x0c";
	Decoded expected = decode(whole);
	Decoded decoded = decode(packed);
	ASSERT_TRUE(expected.ok) << expected.error.message;
	ASSERT_TRUE(decoded.ok) << decoded.error.message << " at " << decoded.error.offset;
	ASSERT_EQ(decoded.pages.size(), 1u);
	EXPECT_EQ(decoded.pages[0].width, 32);
	EXPECT_EQ(decoded.pages[0].rows, 5);
	EXPECT_TRUE(decoded.pages[0].inks == expected.pages[0].inks);

	// Four planes: the Y offset comes between rows, and the next page starts uncompressed.
	std::string colour = "\x1b" "E" "\x1b*t300R" "\x1b&l0E" "\x1b*b2M" "\x1b*r-4U"
		"\x1b*b2V\x00\xff"s "\x1b*b2V\x00\xff"s "\x1b*b2V\x00\xff"s "\x1b*b2W\x00\x01"s
		"\x1b*b2Y" "\x0c" + kColourHeader + "\x1b*b1V\x00"s "\x1b*b1V\x00"s
		"\x1b*b1V\x00"s "\x1b*b1W\x80" "\x0c";
	decoded = decode(colour);
	ASSERT_TRUE(decoded.ok) << decoded.error.message << " at " << decoded.error.offset;
	ASSERT_EQ(decoded.pages.size(), 2u);
	EXPECT_EQ(decoded.pages[0].rows, 3);
	EXPECT_EQ(decoded.pages[0].width, 8);
	EXPECT_EQ(decoded.pages[0].inks[0], preview::kBlackInk | preview::kCyanInk
		| preview::kMagentaInk);
	EXPECT_EQ(decoded.pages[0].inks[7], preview::kBlackInk | preview::kCyanInk
		| preview::kMagentaInk | preview::kYellowInk);
	EXPECT_EQ(decoded.pages[0].inks[8], 0);
	EXPECT_EQ(decoded.pages[1].inks[0], preview::kYellowInk);
}

TEST(PclPreview, RefusesPackedRowsAndOffsetsTheDriverDoesNotSend)
{
	struct Case {
		const char* label;
		std::string body;  // after a one-plane header of method 2
		size_t offset;     // from the end of the header
	};
	const std::string header = "\x1b" "E" "\x1b*t75R" "\x1b&l0E" "\x1b*b2M" "\x1b*r1U";
	const std::string row = "\x1b*b2W\x00\x00"s;  // one byte, 0
	// 128 zero bytes, `count` times.
	auto repeats = [](int count) {
		std::string bytes;
		for (int i = 0; i < count; i++)
			bytes += "\x81\x00"s;
		return bytes;
	};
	const Case cases[] = {
		{"an offset before the first row", "\x1b*b3Y" + row + "\x0c", 0},
		{"a negative offset", row + "\x1b*b-1Y\x0c", 7},
		{"a literal cut short", "\x1b*b2W\x01\x00\x0c"s, 5},
		{"a repeat without its byte", "\x1b*b1W\xff\x0c"s, 5},
		{"a row wider than the first", row + "\x1b*b2W\xff\x00\x0c"s, 7},
		{"a row narrower than the first", "\x1b*b2W\xfe\x00"s + row + "\x0c", 7},
		{"a row wider than any", "\x1b*b1026W" + repeats(513) + "\x0c", 8 + 2 * 512},
		{"more rows than any page has", row + "\x1b*b999999Y\x1b*b999999Y\x0c", 7 + 10},
		{"more dots than any page has", "\x1b*b1024W" + repeats(512) + "\x1b*b3000Y\x0c",
			8 + 2 * 512},
		{"a method of its own", "\x1b*b9M" + row + "\x0c", 0},
		{"a letter of its own", row + "\x1b*b2X\x0c", 7},
	};
	for (const Case& test : cases) {
		Decoded decoded = decode(header + test.body);
		EXPECT_FALSE(decoded.ok) << test.label;
		EXPECT_EQ(decoded.error.offset, header.size() + test.offset) << test.label << ": "
			<< decoded.error.message;
	}

	// Four planes: an offset or a change of method between the planes of a row.
	const std::string colour = "\x1b" "E" "\x1b*t300R" "\x1b&l0E" "\x1b*b2M" "\x1b*r-4U";
	for (const std::string between : {"\x1b*b1Y", "\x1b*b0M"}) {
		Decoded decoded = decode(colour + "\x1b*b2V\x00\x00"s + between + "\x0c");
		EXPECT_FALSE(decoded.ok) << between.substr(1);
		EXPECT_EQ(decoded.error.offset, colour.size() + 7) << decoded.error.message;
	}
}
