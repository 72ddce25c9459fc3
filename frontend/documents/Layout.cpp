#include "Layout.h"

#include "DeviceModel.h"
#include "JobSettings.h"

#include <algorithm>
#include <cmath>

namespace frontend {

PageSetup PageSetup::FromSettings(const BMessage& settings, bool turnWidePages)
{
	PageSetup setup;
	BRect paper;
	if (settings.FindRect(kPaperRectField, &paper) == B_OK)
		setup.paper = paper;
	int8 layout = 0;
	if (settings.FindInt8(kLayoutField, &layout) == B_OK)
		setup.landscape = layout == 1;
	float scaling = 100;
	// A scaling that cannot be laid out leaves the page at its natural size.
	if (settings.FindFloat(kScalingField, &scaling) == B_OK && std::isfinite(scaling)
		&& scaling >= 1 && scaling <= 10000)
		setup.scaling = scaling;
	int32 xres = 300;
	if (settings.FindInt32(kXResField, &xres) == B_OK && xres >= device::kUnitsPerInch)
		setup.dotsPerUnit = device::dots_per_unit(xres);
	setup.turnWidePages = turnWidePages;
	return setup;
}

int32 PageSetup::DotsWide() const
{
	return static_cast<int32>(std::lround(PaperWidth() * dotsPerUnit));
}

int32 PageSetup::DotsHigh() const
{
	return static_cast<int32>(std::lround(PaperHeight() * dotsPerUnit));
}

device::DotOffset PageSetup::RasterOrigin() const
{
	return device::raster_origin_dots(dotsPerUnit * device::kUnitsPerInch);
}

int32 PageSetup::PrintableDotsWide() const
{
	return std::max(DotsWide() - RasterOrigin().x, 0);
}

int32 PageSetup::PrintableDotsHigh() const
{
	return std::max(DotsHigh() - RasterOrigin().y, 0);
}

Placement place_page(const PageSetup& setup, float width, float height)
{
	Placement placement;
	bool widePaper = setup.PaperWidth() > setup.PaperHeight();
	placement.turned = setup.landscape
		|| (setup.turnWidePages && width > height && !widePaper);
	float pageWidth = placement.turned ? setup.PaperHeight() : setup.PaperWidth();
	float pageHeight = placement.turned ? setup.PaperWidth() : setup.PaperHeight();

	float fit = std::min(pageWidth / width, pageHeight / height);
	float scale = std::min(1.0f, fit) * setup.scaling / 100;
	placement.scale = std::min(scale, fit);
	float placedWidth = width * placement.scale;
	float placedHeight = height * placement.scale;
	float left = (pageWidth - placedWidth) / 2;
	float top = (pageHeight - placedHeight) / 2;
	placement.area = BRect(left, top, left + placedWidth, top + placedHeight);
	return placement;
}

BPoint Placement::ToPaper(BPoint content, const PageSetup& setup) const
{
	float x = area.left + content.x * scale;
	float y = area.top + content.y * scale;
	if (!turned)
		return BPoint(setup.paper.left + x, setup.paper.top + y);
	// The laid-out page's top edge runs up the paper's left edge.
	return BPoint(setup.paper.left + y, setup.paper.top + setup.PaperHeight() - x);
}

BPoint Placement::ToContent(BPoint paper, const PageSetup& setup) const
{
	float x = paper.x - setup.paper.left;
	float y = paper.y - setup.paper.top;
	if (turned) {
		float down = x;
		x = setup.PaperHeight() - y;
		y = down;
	}
	return BPoint((x - area.left) / scale, (y - area.top) / scale);
}

cairo_matrix_t Placement::DeviceMatrix(const PageSetup& setup) const
{
	double dots = setup.dotsPerUnit;
	device::DotOffset origin = setup.RasterOrigin();
	cairo_matrix_t matrix;
	if (!turned) {
		cairo_matrix_init(&matrix, scale * dots, 0, 0, scale * dots, area.left * dots - origin.x,
			area.top * dots - origin.y);
	} else {
		// x' = y, y' = H - x on the paper, then scaled to dots.
		cairo_matrix_init(&matrix, 0, -scale * dots, scale * dots, 0,
			area.top * dots - origin.x, (setup.PaperHeight() - area.left) * dots - origin.y);
	}
	return matrix;
}

Placement place_flow_page(const PageSetup& setup, float* width, float* height)
{
	Placement placement;
	placement.turned = setup.landscape;
	placement.scale = setup.scaling / 100;
	placement.area = BRect(0, 0, setup.PageWidth(), setup.PageHeight());
	*width = setup.PageWidth() / placement.scale;
	*height = setup.PageHeight() / placement.scale;
	return placement;
}

}  // namespace frontend
