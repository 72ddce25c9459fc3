// PDF pages the CUPS tests print: rectangles of colour, made with Cairo, and where their inks
// land on a sheet the driver prints.
#pragma once

#include "PclPages.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

struct Colour {
	double red, green, blue;
	uint8_t inks;
};

inline const Colour kRed = {1, 0, 0, kMagentaInk | kYellowInk};
inline const Colour kGreen = {0, 1, 0, kCyanInk | kYellowInk};
inline const Colour kBlue = {0, 0, 1, kCyanInk | kMagentaInk};
inline const Colour kCyan = {0, 1, 1, kCyanInk};

// A rectangle of colour on a PDF page, in points from the page's top left corner.
struct Rectangle {
	double x, y, width, height;
	Colour colour;
};

struct PdfPage {
	double width, height;  // points
	std::vector<Rectangle> rectangles;
};

inline void make_pdf(const std::string& path, const std::vector<PdfPage>& pages)
{
	cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), pages[0].width,
		pages[0].height);
	cairo_t* cairo = cairo_create(surface);
	for (const PdfPage& page : pages) {
		cairo_pdf_surface_set_size(surface, page.width, page.height);
		for (const Rectangle& rectangle : page.rectangles) {
			cairo_set_source_rgb(cairo, rectangle.colour.red, rectangle.colour.green,
				rectangle.colour.blue);
			cairo_rectangle(cairo, rectangle.x, rectangle.y, rectangle.width, rectangle.height);
			cairo_fill(cairo);
		}
		cairo_show_page(cairo);
	}
	cairo_destroy(cairo);
	cairo_surface_finish(surface);
	ASSERT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS);
	cairo_surface_destroy(surface);
}

// Where the rectangles land on a sheet printed at `dpi`, in the colour's inks or, printed in
// grey, in black: as far as they lie inside the PPD's imageable area (18 points in from the
// left, 9 from the top), which is all that is printed.
inline std::vector<InkBox> placed(const PdfPage& page, int dpi, bool gray = false)
{
	std::vector<InkBox> boxes;
	double scale = dpi / 72.0;
	for (const Rectangle& r : page.rectangles) {
		boxes.push_back({std::max(r.x, 18.0) * scale, std::max(r.y, 9.0) * scale,
			(r.x + r.width) * scale,
			(r.y + r.height) * scale, gray ? uint8_t(kBlackInk) : r.colour.inks});
	}
	return boxes;
}

// A US Letter page and an A4 page, each with rectangles of four colours at places that tell
// left from right and top from bottom, two of them touching the corners of the sheet.
inline const PdfPage kLetter = {612, 792, {
	{0, 0, 48, 36, kRed},
	{430, 60, 110, 72, kGreen},
	{72, 500, 90, 150, kBlue},
	{612 - 60, 792 - 40, 60, 40, kCyan},
}};
inline const PdfPage kA4 = {595, 842, {
	{0, 0, 40, 60, kCyan},
	{300, 100, 120, 50, kRed},
	{50, 700, 200, 30, kGreen},
	{595 - 50, 842 - 50, 50, 50, kBlue},
}};
