// How a document's page becomes a spool page, shared by every document kind: drawn through a
// view as vector pictures, or rasterised at the job's resolution into a page of pixels. Both
// follow the page's placement (Layout.h), turning into the portrait paper included, and both
// are shifted by the raster origin, so that the printer puts them where they lie on the sheet;
// what lies in the sheet's unprintable margins is cut.
#pragma once

#include "Layout.h"
#include "Spool.h"

#include <cairo.h>

#include <functional>
#include <memory>
#include <string>

class BView;

namespace frontend {

// Small owners of Cairo handles.
struct CairoSurfaceDeleter {
	void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoDeleter {
	void operator()(cairo_t* cairo) const { cairo_destroy(cairo); }
};
typedef std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter> CairoSurface;
typedef std::unique_ptr<cairo_t, CairoDeleter> Cairo;

// A view that draws content in its own units where the placement puts it on the laid-out
// page: points, rectangles and lengths go through P, R and S.
class ContentCanvas {
public:
	ContentCanvas(BView* view, BPoint origin, float scale)
		: fView(view), fOrigin(origin), fScale(scale) {}

	BView* View() const { return fView; }
	BPoint P(float x, float y) const { return BPoint(fOrigin.x + x * fScale, fOrigin.y + y * fScale); }
	BRect R(float l, float t, float r, float b) const { return BRect(P(l, t), P(r, b)); }
	float S(float length) const { return length * fScale; }

private:
	BView* fView;
	BPoint fOrigin;
	float fScale;
};

typedef std::function<void(ContentCanvas& canvas)> VectorDrawing;
// Draws into a Cairo context whose user space is the content's units.
typedef std::function<bool(cairo_t* cairo, std::string* error)> CairoDrawing;

// Records one page of content drawn through a view. On portrait paper the page is one
// picture of vectors; on turned paper the content is drawn at the job's resolution, as the
// band renderer would draw it, and turned into a page of pixels.
bool record_vector_page(const PageSetup& setup, const Placement& placement,
	const VectorDrawing& draw, PageSink* sink, std::string* error);

// Records one page of content rasterised by Cairo at the job's resolution onto white paper,
// as a page of pixels. The page is rasterised once, whole, at the band's 16 bits a dot
// (about 17 MB for US Letter at 300 dpi while it is converted).
bool record_cairo_page(const PageSetup& setup, const Placement& placement,
	const CairoDrawing& draw, PageSink* sink, std::string* error);

}  // namespace frontend
