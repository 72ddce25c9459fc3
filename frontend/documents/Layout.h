// Where a document's pages go on the paper, as an application lays out its pages on the
// printable rectangle: every document kind asks here, so orientation, fitting and scaling
// are decided in one place.
//
// The page setup says how the paper lies: portrait, or landscape (the paper turned, so the
// document is laid out on a page as wide as the paper is tall). A page of content is
// printed at its natural size, centred; a page that does not fit is shrunk to fit keeping
// its proportions, never cropped; the page setup's scaling then applies on top, short of
// making the page larger than the paper. On portrait paper, content wider than tall is
// turned a quarter to fit the paper better, unless the user asked for no turning.
//
// Turning is a quarter turn counter-clockwise: the top of the laid-out page runs along the
// left edge of the portrait paper the driver prints.
//
// Pages are laid out on the sheet, not on the raster: the printer starts the driver's raster
// at the raster origin of the device model, so a point of the paper lands on the raster that
// far up and to the left of it, and what lies left of or above the origin (the sheet's
// unprintable margins) is cut, never squeezed in. Layout, fitting and turning still work on
// the whole sheet.
#pragma once

#include "DeviceModel.h"

#include <Message.h>
#include <Rect.h>

#include <cairo.h>

namespace frontend {

struct PageSetup {
	BRect paper = BRect(0, 0, 637.5f, 825);  // "paper_rect", page units; US Letter until read
	bool landscape = false;                    // "layout" 1
	float scaling = 100;                       // "scaling", percent
	bool turnWidePages = true;                 // turn wide content on portrait paper
	int32 dotsPerUnit = 4;                     // device dots per page unit: "xres" / 75

	// From the settings message of a job; missing fields keep the values above.
	static PageSetup FromSettings(const BMessage& settings, bool turnWidePages);

	float PaperWidth() const { return paper.Width(); }
	float PaperHeight() const { return paper.Height(); }
	// The page that content is laid out on: the paper, turned when landscape.
	float PageWidth() const { return landscape ? PaperHeight() : PaperWidth(); }
	float PageHeight() const { return landscape ? PaperWidth() : PaperHeight(); }
	// Device dots of the paper at the job's resolution.
	int32 DotsWide() const;
	int32 DotsHigh() const;
	// Where the raster begins on the portrait paper, in its dots.
	device::DotOffset RasterOrigin() const;
	// Device dots of the printable area, from the raster origin to the paper's right and
	// bottom edges: what a page of the raster holds. At least 0.
	int32 PrintableDotsWide() const;
	int32 PrintableDotsHigh() const;
};

// How one page of content, `width` x `height` in its own units, lies on the paper.
struct Placement {
	bool turned = false;   // laid out on the turned paper and turned back into portrait
	float scale = 1;       // paper page units per content unit
	BRect area;            // the content's box on the laid-out page (turned paper if turned)

	// The content unit point in paper page units of the portrait paper.
	BPoint ToPaper(BPoint content, const PageSetup& setup) const;
	// The other way: the content unit point that lands on a point of the portrait paper.
	BPoint ToContent(BPoint paper, const PageSetup& setup) const;
	// The same mapping from content units to device dots of the raster: the portrait
	// paper's dots less the raster origin.
	cairo_matrix_t DeviceMatrix(const PageSetup& setup) const;
};

Placement place_page(const PageSetup& setup, float width, float height);

// For content that flows (plain text, the test page): it is set on a page that fills the
// paper (turned for landscape) at the page setup's scaling, so that 50% sets twice as much
// on a page. Gives that page's size in content units and where it goes.
Placement place_flow_page(const PageSetup& setup, float* width, float* height);

}  // namespace frontend
