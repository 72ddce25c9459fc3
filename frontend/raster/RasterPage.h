// A page of CUPS or PWG raster as the driver prints it: what its header asks for (the
// paper, the resolution, colour or grey, the copies) and how each of its rows becomes a row
// of a page of pixels. The CUPS filter and the printer application read their raster pages
// through this.
//
// Rows of 8-bit RGB or grey are handed on as they are. Black (CUPS_CSPACE_K, where 0 is
// white paper) is turned into grey, 16-bit values are cut to their high byte, and one bit a
// dot of black is spread into grey dots.
//
// A raster page is a picture of the sheet, or of the part of it inside the PPD's imageable
// area; the driver's raster begins at the device model's raster origin. Every dot is moved
// by the difference, so that it prints where it lies on the sheet, and the dots that fall
// outside the printable area (left of or above the origin, past the paper) are cut.
#pragma once

#include "PixelPage.h"

#include <GraphicsDefs.h>
#include <Message.h>
#include <Rect.h>

#include <cups/raster.h>

#include <string>
#include <vector>

namespace frontend {

// Where a page's paper size comes from: the header's page size in points (what a CUPS
// filter is given), or the raster's own dots at its resolution (pages drawn for the paper,
// as a printer application is given them).
enum class RasterPaper { kPageSize, kRasterSize };

// What a way in takes of raster pages.
struct RasterRules {
	RasterPaper paper = RasterPaper::kPageSize;
	bool oneBitBlack = false;  // black raster of one bit a dot (PWG's black_1)
};

struct RasterPage {
	int32 dpi = 0;
	BRect paper;             // page units
	BRect printable;         // page units
	bool gray = false;       // one channel, grey or black
	int16 copies = 1;        // the header's NumCopies, at least 1
	uint32 width = 0;        // dots of each raster row
	uint32 height = 0;       // raster rows
	int32 columns = 0;       // dots of each row given to the driver: the printable area's
	int32 rows = 0;          // rows given to the driver, likewise
	int32 shiftX = 0;        // the driver's dot of the raster's dot 0 of a row: its place on
	int32 shiftY = 0;        // the sheet less the raster origin; likewise for the rows

	// How rows arrive.
	int32 bitsPerColor = 8;  // 1 (black only), 8 or 16
	bool inverted = false;   // black: 0 is white paper

	// The pixel page's format for the rows Convert gives.
	color_space PixelFormat() const { return gray ? B_GRAY8 : B_RGB24_BIG; }
	// Where the rows go: from the raster origin, one dot each.
	PixelArea Area() const;
	// The driver's row of raster row `y`, which may lie outside 0 to `rows` - 1 (cut).
	int64 DriverRow(uint32 y) const { return static_cast<int64>(y) + shiftY; }
	// Whether a job of this page's settings is one of `other`'s.
	bool SameSettings(const RasterPage& other) const;
};

// Reads what the header asks for; false with the reason (in the driver's words: "the driver
// prints at 300, 150 or 75 dpi, not at 600x600 dpi") when the driver cannot print it.
bool read_raster_page(const cups_page_header2_t& header, const RasterRules& rules,
	RasterPage* page, std::string* refusal);

// Stores the page's paper, printable area and resolution into settings, as a page setup and
// job setup confirmed for them would, and the black ink alone for a page without colour.
void store_raster_page(const RasterPage& page, BMessage* settings);

// Turns raster rows of a page into the rows its pixel page takes.
class RasterRows {
public:
	explicit RasterRows(const RasterPage& page) : fPage(page) {}

	// The raster row as the pixel page takes it, moved by the page's shift: within `row`
	// itself, or a converted copy that lives until the next call. White where the raster
	// has no dot.
	const uint8* Convert(const uint8* row);
	// A row of white paper, for driver rows above the raster's first.
	const uint8* White();

private:
	RasterPage fPage;
	std::vector<uint8> fScratch;
};

}  // namespace frontend
