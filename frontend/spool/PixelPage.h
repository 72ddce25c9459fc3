// Pages of pixels for the spool file. Rows of 8-bit pixels, given top to bottom, become
// pictures that each draw one strip of rows in B_RGB16_BIG, the band's own colour space:
// nothing the band can show is lost (8-bit channels are truncated exactly as the band
// truncates them) and a US Letter page at 300 dpi costs about 17 MB. Every pixel is placed on
// one device dot at the job's resolution, so the band renderer copies it 1:1.
//
// Strips are handed on as soon as they are full, so the writer holds one strip, never the
// page: a reader of rows (a rasteriser, an image decoder, a CUPS raster stream) can stream a
// page straight into a spool file.
//
//	PixelPageWriter pixels;
//	pixels.Begin(area, B_RGB24_BIG, [&](const SpooledPicture& strip, std::string* error) {
//		return spool.AddPicture(strip, error);
//	}, &error);
//	for (each row) pixels.AddRow(row, &error);
//	pixels.Finish(&error);
//
// One writer serves one page at a time, on one thread; Begin starts the next page.
#pragma once

#include "Spool.h"

#include <Bitmap.h>
#include <GraphicsDefs.h>

#include <functional>
#include <memory>
#include <string>

namespace frontend {

// Where the pixels of a page go: `width` x `height` pixels from `origin` (page units of 1/75
// inch), `dotsPerUnit` pixels to the unit, that is the job's "xres" / 75 (4 at 300 dpi).
struct PixelArea {
	BPoint origin;
	int32 width = 0;
	int32 height = 0;
	int32 dotsPerUnit = 4;
};

// Takes a finished strip; false (with the error filled in) stops the page.
typedef std::function<bool(const SpooledPicture& strip, std::string* error)> StripSink;

class PixelPageWriter {
public:
	// Rows per strip unless a page would need more than kMaxStrips of them.
	static const int32 kStripRows = 128;
	static const int32 kMaxStrips = 96;

	PixelPageWriter() = default;

	// Starts a page. `format` names the layout of the rows given to AddRow:
	// B_RGB24_BIG (red, green, blue), B_GRAY8 (one luminance byte) or B_RGB32 (blue, green,
	// red, unused: Cairo's RGB24 and ARGB32 rows on a little-endian machine); 16-bit rows,
	// already at the band's depth: B_RGB16_BIG as they are, B_RGB16 (Cairo's RGB16_565 on a
	// little-endian machine) with each word's bytes swapped. `stripRows`
	// other than 0 sets the rows per strip. False for an empty or impossible area, an
	// unknown format, or no memory for a strip.
	bool Begin(const PixelArea& area, color_space format, const StripSink& sink,
		std::string* error, int32 stripRows = 0);

	// The next row, `width` pixels in the format given to Begin. False once every row of
	// the area is given, or when the sink refuses a strip.
	bool AddRow(const void* row, std::string* error);

	// Ends the page. Rows not given are left unprinted (white paper); a strip holds only the
	// rows it was given.
	bool Finish(std::string* error);

	int32 RowsGiven() const { return fRow; }

	// Bytes of spool that one page of the area costs in pixels (not counting the few bytes
	// of each strip's picture and placement).
	static uint64 PixelBytes(int32 width, int32 height);

private:
	bool _FlushStrip(std::string* error);

	PixelArea fArea;
	color_space fFormat = B_NO_COLOR_SPACE;
	StripSink fSink;
	int32 fStripRows = 0;
	std::unique_ptr<BBitmap> fStrip;
	int32 fStripTop = 0;      // first row of the area in the strip
	int32 fStripFill = 0;     // rows of the strip given so far
	int32 fRow = 0;           // rows of the area given so far
	bool fOpen = false;
};

// Converts `count` pixels of a row into B_RGB16_BIG, each 8-bit channel truncated.
void pixels_to_rgb16_big(color_space format, const uint8* source, uint8* destination,
	int32 count);

}  // namespace frontend
