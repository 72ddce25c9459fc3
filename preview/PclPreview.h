// Decoding of the driver's PCL raster stream into page images, for `tessary preview`.
//
// The decoder accepts exactly the vocabulary the driver writes (printer reset, raster
// resolution, top margin 0, compression method 0 or 2, planes per row -4 or 1, transfer by
// plane, transfer by row, raster Y offset, form feed) and refuses anything else with the byte
// offset where it stands, so a preview never silently shows a stream the printer would read
// differently. Under method 2 (TIFF PackBits) every plane row must unpack to the width of the
// page's first row, as every row of method 0 has it; a Y offset adds rows without ink, once
// that first row has given the page its width.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace preview {

// One printed page: every dot holds the inks that fell on it (bit 0 black, 1 cyan,
// 2 magenta, 3 yellow).
struct Page {
	int resolution = 0;     // dots per inch, from the raster resolution command
	int planes = 0;         // 4 (black, cyan, magenta, yellow) or 1 (black)
	int width = 0;          // dots per row: 8 x the widest plane row
	int rows = 0;           // raster rows on the page
	std::vector<uint8_t> inks;  // width x rows, row by row
};

enum InkBits : uint8_t {
	kBlackInk = 1,
	kCyanInk = 2,
	kMagentaInk = 4,
	kYellowInk = 8
};

struct DecodeError {
	size_t offset = 0;      // byte offset of the first byte that could not be taken
	std::string message;
};

// Decodes a whole stream. Each finished page (at its form feed) is handed to onPage; the
// Page is reused afterwards. Returns false and fills error on the first byte outside the
// vocabulary, or on a stream that ends inside a command or a page.
bool decode_stream(const uint8_t* data, size_t length,
	const std::function<bool(const Page&, std::string* error)>& onPage, DecodeError* error);

// The sheet a page is printed on, and where the printer puts the page's raster on it (the
// device model's raster origin). The stream does not name its paper: it is the device
// model's paper whose raster has the page's size, either way round.
struct Sheet {
	std::string paper;   // the paper's name ("US Letter"); empty when no paper has the raster
	int width = 0;       // dots of the sheet at the page's resolution
	int height = 0;
	int originX = 0;     // the sheet's dot of the raster's dot (0, 0)
	int originY = 0;
};

// The page's sheet. For a raster of no paper the device model knows, a sheet that holds the
// whole raster at its origin.
Sheet sheet_for(const Page& page);

// The page as the printer prints it on its sheet: the raster moved to its origin, cut at the
// sheet's right and bottom edges, white paper left of and above it.
Page on_sheet(const Page& page, const Sheet& sheet);

// Writes a page as an 8-bit RGB PNG: inks composited on white paper (cyan takes red away,
// magenta green, yellow blue; black takes all). Returns false with a message on failure.
bool write_png(const Page& page, const std::string& path, std::string* error);

// "page 1: 300 dpi, 4 planes, 3600 rows of 2560 dots"
std::string summary_line(int pageNumber, const Page& page);
// The same, and the sheet: "..., on US Letter (2550 x 3300 dots)".
std::string summary_line(int pageNumber, const Page& page, const Sheet& sheet);

}  // namespace preview
