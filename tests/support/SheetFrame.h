// A page with a frame half an inch inside each edge, as a PDF, and the check that a sheet
// (a decoded page placed on its paper, preview::on_sheet) carries that frame where the page
// has it, within a dot, whole: each of its four lines unbroken from corner to corner, and no
// ink anywhere else. Every way in prints it, so that a page that lands shifted, scaled or
// cut at an edge shows the same way through each of them.
#pragma once

#include "PclPreview.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

// The frame's lines: their middles half an inch inside the page's edges, 3 points wide.
constexpr double kFrameInset = 36;     // points
constexpr double kFrameLine = 3;       // points

// Writes a one-page PDF of `width` x `height` points with the frame in black.
inline bool write_frame_pdf(const std::string& path, double width, double height)
{
	cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), width, height);
	cairo_t* cairo = cairo_create(surface);
	cairo_set_source_rgb(cairo, 0, 0, 0);
	cairo_set_line_width(cairo, kFrameLine);
	cairo_rectangle(cairo, kFrameInset, kFrameInset, width - 2 * kFrameInset,
		height - 2 * kFrameInset);
	cairo_stroke(cairo);
	cairo_show_page(cairo);
	cairo_destroy(cairo);
	cairo_surface_finish(surface);
	bool written = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
	cairo_surface_destroy(surface);
	return written;
}

// The sheet of a page `width` x `height` points carries the frame: the ink's outer and inner
// edges within a dot and a half of the lines' (a dot, and half a dot of rounding the raster
// origin at the lower resolutions), every dot along the middle of each line inked, and
// nothing outside the lines.
inline void expect_frame(const preview::Page& sheet, double width, double height)
{
	const double dots = sheet.resolution / 72.0;
	const double half = kFrameLine / 2 * dots;
	const double slack = 1.5;
	const double left = kFrameInset * dots, top = kFrameInset * dots;
	const double right = (width - kFrameInset) * dots, bottom = (height - kFrameInset) * dots;
	ASSERT_GE(sheet.width, static_cast<int>(width * dots) - 1);
	ASSERT_GE(sheet.rows, static_cast<int>(height * dots) - 1);
	auto inked = [&](int x, int y) {
		return x >= 0 && y >= 0 && x < sheet.width && y < sheet.rows
			&& sheet.inks[static_cast<size_t>(y) * sheet.width + x] != 0;
	};
	// Whether (x, y) lies on a line, give or take `margin` dots.
	auto on_line = [&](double x, double y, double margin) {
		bool across = x >= left - half - margin && x <= right + half + margin;
		bool down = y >= top - half - margin && y <= bottom + half + margin;
		bool vertical = (std::fabs(x - left) <= half + margin
			|| std::fabs(x - right) <= half + margin) && down;
		bool horizontal = (std::fabs(y - top) <= half + margin
			|| std::fabs(y - bottom) <= half + margin) && across;
		return vertical || horizontal;
	};
	int stray = 0, missing = 0;
	for (int y = 0; y < sheet.rows; y++) {
		for (int x = 0; x < sheet.width; x++) {
			// Dot (x, y) covers x to x + 1: its middle is what lies on a line or not.
			double cx = x + 0.5, cy = y + 0.5;
			if (inked(x, y) && !on_line(cx, cy, slack) && stray++ < 3)
				ADD_FAILURE() << "ink at dot " << x << "," << y << " off the frame";
			if (!inked(x, y) && on_line(cx, cy, -slack) && missing++ < 3)
				ADD_FAILURE() << "no ink at dot " << x << "," << y << " inside a line";
		}
	}
	EXPECT_EQ(stray, 0);
	EXPECT_EQ(missing, 0);
	// Each line unbroken along its middle, from corner to corner.
	int gaps = 0;
	for (int y = static_cast<int>(top); y <= static_cast<int>(bottom); y++)
		gaps += !inked(static_cast<int>(left), y) + !inked(static_cast<int>(right), y);
	for (int x = static_cast<int>(left); x <= static_cast<int>(right); x++)
		gaps += !inked(x, static_cast<int>(top)) + !inked(x, static_cast<int>(bottom));
	EXPECT_EQ(gaps, 0);
}
