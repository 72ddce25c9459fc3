#include "PageOutput.h"

#include "PixelPage.h"

#include <Bitmap.h>
#include <Picture.h>
#include <View.h>

#include <cstring>
#include <vector>

namespace frontend {

namespace {

// Records one picture at a time through a view, as an application draws what it prints.
class PageRecorder {
public:
	explicit PageRecorder(BRect frame)
		: fBitmap(BRect(0, 0, 7, 7), B_RGB32, true),
		  fView(new BView(frame, "page", B_FOLLOW_ALL_SIDES, B_WILL_DRAW))
	{
		fBitmap.AddChild(fView);  // the bitmap owns the view from here on
	}

	BView* Begin()
	{
		fBitmap.Lock();
		fView->BeginPicture(new BPicture);
		return fView;
	}

	std::unique_ptr<BPicture> End()
	{
		std::unique_ptr<BPicture> picture(fView->EndPicture());
		fBitmap.Unlock();
		return picture;
	}

private:
	BBitmap fBitmap;
	BView* fView;
};

// The raster's printable area: from the raster's own dot (0, 0), which the printer puts on
// the raster origin, to the paper's right and bottom edges.
PixelArea printable_area(const PageSetup& setup)
{
	PixelArea area;
	area.origin = BPoint(setup.paper.left, setup.paper.top);
	area.width = setup.PrintableDotsWide();
	area.height = setup.PrintableDotsHigh();
	area.dotsPerUnit = setup.dotsPerUnit;
	return area;
}

StripSink strips_to(PageSink* sink)
{
	return [sink](const SpooledPicture& strip, std::string* error) {
		return sink->AddPicture(strip, error);
	};
}

// Plays a picture of the laid-out (turned) page at the job's resolution as the band renderer
// draws, then hands its columns on as the rows of the portrait paper, from the raster origin.
bool turn_into_pixels(const PageSetup& setup, const BPicture& picture, PageSink* sink,
	std::string* error)
{
	PixelArea area = printable_area(setup);
	const int32 paperWide = setup.DotsWide();
	const int32 paperHigh = setup.DotsHigh();
	const device::DotOffset origin = setup.RasterOrigin();
	// The laid-out page is as wide as the paper is high.
	BRect dots(0, 0, paperHigh - 1, paperWide - 1);
	BBitmap landscape(dots, B_BITMAP_ACCEPTS_VIEWS, B_RGB16_BIG);
	if (landscape.InitCheck() != B_OK) {
		*error = "out of memory for a turned page";
		return false;
	}
	BView* view = new BView(dots, "turned", B_FOLLOW_ALL_SIDES, B_WILL_DRAW);
	landscape.AddChild(view);
	landscape.Lock();
	memset(landscape.Bits(), 0xff, landscape.BitsLength());
	view->ForceFontAliasing(true);
	view->SetScale(static_cast<float>(setup.dotsPerUnit));
	view->DrawPicture(&picture, BPoint(0, 0));
	view->Sync();
	landscape.Unlock();

	// Paper dot (x, y) shows the laid-out page's dot (height - 1 - y, x): its top edge runs
	// up the paper's left edge.
	PixelPageWriter writer;
	if (!sink->BeginPage(error) || !writer.Begin(area, B_RGB16_BIG, strips_to(sink), error))
		return false;
	const uint8* bits = static_cast<const uint8*>(landscape.Bits());
	size_t stride = landscape.BytesPerRow();
	std::vector<uint8> row(static_cast<size_t>(area.width) * 2);
	for (int32 y = 0; y < area.height; y++) {
		const int32 paperY = origin.y + y;
		const uint8* column = bits + static_cast<size_t>(paperHigh - 1 - paperY) * 2
			+ static_cast<size_t>(origin.x) * stride;
		for (int32 x = 0; x < area.width; x++, column += stride) {
			row[x * 2] = column[0];
			row[x * 2 + 1] = column[1];
		}
		if (!writer.AddRow(row.data(), error))
			return false;
	}
	return writer.Finish(error) && sink->EndPage(error);
}

}  // namespace

bool record_vector_page(const PageSetup& setup, const Placement& placement,
	const VectorDrawing& draw, PageSink* sink, std::string* error)
{
	BRect page(0, 0, placement.turned ? setup.PaperHeight() : setup.PaperWidth(),
		placement.turned ? setup.PaperWidth() : setup.PaperHeight());
	PageRecorder recorder(page);
	ContentCanvas canvas(recorder.Begin(), BPoint(placement.area.left, placement.area.top),
		placement.scale);
	draw(canvas);
	std::unique_ptr<BPicture> picture = recorder.End();
	if (picture == nullptr) {
		*error = "cannot record a page";
		return false;
	}
	if (placement.turned)
		return turn_into_pixels(setup, *picture, sink, error);

	// The picture is drawn up and to the left by the raster origin; the band itself cuts what
	// falls left of or above it, and the picture's rectangle what lies past the paper.
	device::DotOffset origin = setup.RasterOrigin();
	const float unit = 1.0f / static_cast<float>(setup.dotsPerUnit);
	SpooledPicture spooled;
	spooled.where = BPoint(setup.paper.left - origin.x * unit,
		setup.paper.top - origin.y * unit);
	spooled.rect = setup.paper;
	spooled.picture = std::move(picture);
	return sink->BeginPage(error) && sink->AddPicture(spooled, error) && sink->EndPage(error);
}

bool record_cairo_page(const PageSetup& setup, const Placement& placement,
	const CairoDrawing& draw, PageSink* sink, std::string* error)
{
	PixelArea area = printable_area(setup);
	// Drawn straight at the band's depth: 8-bit colours are truncated into it as the band
	// truncates them, and the page costs half the memory of 32-bit pixels.
	CairoSurface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB16_565, area.width,
		area.height));
	if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
		*error = std::string("cannot make a page to draw on: ")
			+ cairo_status_to_string(cairo_surface_status(surface.get()));
		return false;
	}
	{
		Cairo cairo(cairo_create(surface.get()));
		cairo_set_source_rgb(cairo.get(), 1, 1, 1);
		cairo_paint(cairo.get());
		cairo_matrix_t matrix = placement.DeviceMatrix(setup);
		cairo_set_matrix(cairo.get(), &matrix);
		if (!draw(cairo.get(), error))
			return false;
		if (cairo_status(cairo.get()) != CAIRO_STATUS_SUCCESS) {
			*error = std::string("cannot draw the page: ")
				+ cairo_status_to_string(cairo_status(cairo.get()));
			return false;
		}
	}
	cairo_surface_flush(surface.get());

	PixelPageWriter writer;
	static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
		"Cairo's RGB16_565 words are B_RGB16 pixels on a little-endian machine");
	if (!sink->BeginPage(error) || !writer.Begin(area, B_RGB16, strips_to(sink), error))
		return false;
	const uint8* rows = cairo_image_surface_get_data(surface.get());
	size_t stride = static_cast<size_t>(cairo_image_surface_get_stride(surface.get()));
	for (int32 y = 0; y < area.height; y++) {
		if (!writer.AddRow(rows + y * stride, error))
			return false;
	}
	return writer.Finish(error) && sink->EndPage(error);
}

}  // namespace frontend
