// The drawing back-end of a bitmap that accepts views.
//
// Cairo draws into a working copy of just the area a primitive touches: the pixels of that
// area are read from the bitmap into 32-bit words, drawn on, and written back in the bitmap's
// own space (truncating channels, see ColorConversion.h). The bitmap's bits are therefore
// always current and may be read or written by the caller between drawing calls. Large areas
// are worked through in tiles, so memory stays bounded whatever the bitmap's size.
#pragma once

#include <Bitmap.h>

#include "PictureOps.h"

#include <cairo.h>

#include <functional>
#include <vector>

// Device pixel rectangle, half-open: [left, right) x [top, bottom).
struct DeviceRect {
	int32 left;
	int32 top;
	int32 right;
	int32 bottom;

	bool IsEmpty() const { return left >= right || top >= bottom; }
	DeviceRect Intersect(const DeviceRect& other) const;
};

struct BitmapPrivate {
	explicit BitmapPrivate(BBitmap* bitmap);
	~BitmapPrivate();

	DeviceRect Area() const { return DeviceRect{0, 0, fWidth, fHeight}; }

	// Runs draw over area (inside Area()), with the cairo context's user space in device
	// pixels, clipped to the union of clip (disjoint rects; NULL for no clipping beyond area).
	void Render(const DeviceRect& area, const std::vector<DeviceRect>* clip,
		const std::function<void(cairo_t*)>& draw);

	// Fills area, limited to clip, with one colour; no Cairo involved.
	void FillSolid(const DeviceRect& area, const std::vector<DeviceRect>* clip, rgb_color color);

	// Whether pixels in `space` drawn in B_OP_COPY at one source pixel a device pixel may be
	// copied as they are, with CopyPixels, for the same bits as Cairo would draw.
	bool CanCopy(color_space space) const { return space == fSpace && !fLossy; }

	// Copies the source pixel (x - dx, y - dy) of pixels to each device pixel (x, y) of
	// area, limited to clip. The caller keeps the source inside the pixels and area inside
	// Area(), and CanCopy(pixels.space) holds.
	void CopyPixels(const PicturePixels& pixels, int32 dx, int32 dy, const DeviceRect& area,
		const std::vector<DeviceRect>* clip);

	// A premultiplied ARGB32 surface holding the rows [top, bottom) and columns
	// [left, right) of the pixels, with alpha made from the drawing mode: opaque for
	// B_OP_COPY, transparent for the magic transparent colour in B_OP_OVER, the pixels' own
	// in B_OP_ALPHA. The caller destroys the surface; it stays valid until the next call.
	cairo_surface_t* SourceSurface(const PicturePixels& pixels, const DeviceRect& rows,
		drawing_mode mode);

	// The first error with which Cairo failed to draw here since the last call (the area
	// concerned keeps the pixels it had); B_OK when every drawing went through.
	status_t TakeDrawingError();
	// Pixels drawn, filled and read from sources so far: the work picture playback charges
	// against its budget.
	uint64 PixelsWorked() const { return fPixelsWorked; }
	// Pictures whose playback stopped at its work budget, since the last call.
	void PictureCut() { fPicturesCut++; }
	int32 TakePicturesCut();

private:
	void _RenderTile(const DeviceRect& tile, const std::vector<DeviceRect>* clip,
		const std::function<void(cairo_t*)>& draw);

	BBitmap* fBitmap;
	int32 fWidth;
	int32 fHeight;
	color_space fSpace;
	bool fLossy;  // reading and writing back may change a pixel: write back only changes
	std::vector<uint32> fScratch;
	status_t fDrawingError = B_OK;
	uint64 fPixelsWorked = 0;
	int32 fPicturesCut = 0;
	std::vector<uint32> fOriginal;
	std::vector<uint32> fSource;
};
