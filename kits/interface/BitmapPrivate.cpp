#include "BitmapPrivate.h"

#include "ColorConversion.h"

#include <algorithm>
#include <cassert>
#include <cstring>

using namespace BPrivate;

namespace {

// Tiles stay within Cairo's surface limits and about 16 MB of working pixels.
const int32 kMaxTileWidth = 8192;
const int64 kMaxTilePixels = 4 << 20;

inline uint32 premultiply(uint32 value)
{
	uint32 alpha = value >> 24;
	if (alpha == 255)
		return value;
	if (alpha == 0)
		return 0;
	uint32 r = (((value >> 16) & 0xff) * alpha + 127) / 255;
	uint32 g = (((value >> 8) & 0xff) * alpha + 127) / 255;
	uint32 b = ((value & 0xff) * alpha + 127) / 255;
	return (alpha << 24) | (r << 16) | (g << 8) | b;
}

inline uint32 unpremultiply(uint32 value)
{
	uint32 alpha = value >> 24;
	if (alpha == 255)
		return value;
	if (alpha == 0)
		return 0;
	uint32 r = std::min<uint32>(255, (((value >> 16) & 0xff) * 255 + alpha / 2) / alpha);
	uint32 g = std::min<uint32>(255, (((value >> 8) & 0xff) * 255 + alpha / 2) / alpha);
	uint32 b = std::min<uint32>(255, ((value & 0xff) * 255 + alpha / 2) / alpha);
	return (alpha << 24) | (r << 16) | (g << 8) | b;
}

} // namespace

BitmapPrivate::BitmapPrivate(BBitmap* bitmap)
	:
	fBitmap(bitmap),
	fWidth(bitmap->fWidth),
	fHeight(bitmap->fHeight),
	fSpace(bitmap->ColorSpace()),
	fLossy(fSpace == B_CMAP8 || fSpace == B_RGBA32)
{
}

BitmapPrivate::~BitmapPrivate() = default;

status_t BitmapPrivate::TakeDrawingError()
{
	status_t error = fDrawingError;
	fDrawingError = B_OK;
	return error;
}

int32 BitmapPrivate::TakePicturesCut()
{
	int32 cut = fPicturesCut;
	fPicturesCut = 0;
	return cut;
}

void BitmapPrivate::Render(const DeviceRect& area, const std::vector<DeviceRect>* clip,
	const std::function<void(cairo_t*)>& draw)
{
	DeviceRect visible = area.Intersect(Area());
	if (visible.IsEmpty())
		return;
	fPixelsWorked += uint64(visible.right - visible.left) * uint64(visible.bottom - visible.top);
	int32 tileWidth = std::min(visible.right - visible.left, kMaxTileWidth);
	int32 tileHeight = static_cast<int32>(std::max<int64>(1,
		std::min<int64>(visible.bottom - visible.top, kMaxTilePixels / tileWidth)));
	for (int32 top = visible.top; top < visible.bottom; top += tileHeight) {
		for (int32 left = visible.left; left < visible.right; left += tileWidth) {
			DeviceRect tile{left, top, std::min(left + tileWidth, visible.right),
				std::min(top + tileHeight, visible.bottom)};
			_RenderTile(tile, clip, draw);
		}
	}
}

void BitmapPrivate::_RenderTile(const DeviceRect& tile, const std::vector<DeviceRect>* clip,
	const std::function<void(cairo_t*)>& draw)
{
	// Which clip rects matter here; a single rect covering the tile needs no clipping.
	std::vector<DeviceRect> parts;
	bool clipped = false;
	if (clip != NULL) {
		for (const DeviceRect& rect : *clip) {
			DeviceRect part = rect.Intersect(tile);
			if (!part.IsEmpty())
				parts.push_back(part);
		}
		if (parts.empty())
			return;
		const DeviceRect& first = parts[0];
		clipped = parts.size() > 1 || first.left != tile.left || first.top != tile.top
			|| first.right != tile.right || first.bottom != tile.bottom;
	}

	int32 width = tile.right - tile.left;
	int32 height = tile.bottom - tile.top;
	size_t count = size_t(width) * height;
	if (fScratch.size() < count)
		fScratch.resize(count);

	// Read the area.
	const int32 bytesPerRow = fBitmap->BytesPerRow();
	const size_t pixelSize = bytes_per_pixel_of(fSpace);
	uint8* bits = static_cast<uint8*>(fBitmap->Bits());
	for (int32 y = 0; y < height; y++) {
		uint8* row = bits + int64(tile.top + y) * bytesPerRow + tile.left * pixelSize;
		uint32* words = fScratch.data() + size_t(y) * width;
		load_row(fSpace, row, words, width);
		if (fSpace == B_RGBA32)
			for (int32 x = 0; x < width; x++)
				words[x] = premultiply(words[x]);
	}
	if (fLossy)
		fOriginal.assign(fScratch.begin(), fScratch.begin() + count);

	// Draw.
	cairo_format_t format = fSpace == B_RGBA32 ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24;
	cairo_surface_t* surface = cairo_image_surface_create_for_data(
		reinterpret_cast<unsigned char*>(fScratch.data()), format, width, height, width * 4);
	cairo_t* cr = cairo_create(surface);
	// Cairo's status is sticky: one look after drawing tells whether the surface, the
	// context or any call on it failed. A failed tile is not written back.
	auto failed = [&](cairo_status_t status) {
		if (status == CAIRO_STATUS_SUCCESS)
			return false;
		if (fDrawingError == B_OK)
			fDrawingError = status == CAIRO_STATUS_NO_MEMORY ? B_NO_MEMORY : B_ERROR;
		cairo_destroy(cr);
		cairo_surface_destroy(surface);
		return true;
	};
	if (failed(cairo_status(cr)))
		return;
	cairo_translate(cr, -tile.left, -tile.top);
	cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
	if (clipped) {
		for (const DeviceRect& part : parts)
			cairo_rectangle(cr, part.left, part.top, part.right - part.left,
				part.bottom - part.top);
		cairo_clip(cr);
	}
	draw(cr);
	cairo_surface_flush(surface);
	if (failed(cairo_status(cr)) || failed(cairo_surface_status(surface)))
		return;
	cairo_destroy(cr);
	cairo_surface_destroy(surface);

	// Write the area back.
	for (int32 y = 0; y < height; y++) {
		uint8* row = bits + int64(tile.top + y) * bytesPerRow + tile.left * pixelSize;
		uint32* words = fScratch.data() + size_t(y) * width;
		if (!fLossy) {
			store_row(fSpace, words, row, width);
			continue;
		}
		const uint32* original = fOriginal.data() + size_t(y) * width;
		for (int32 x = 0; x < width; x++) {
			if (words[x] == original[x])
				continue;
			uint32 value = fSpace == B_RGBA32 ? unpremultiply(words[x]) : words[x];
			store_row(fSpace, &value, row + x * pixelSize, 1);
		}
	}
}

void BitmapPrivate::FillSolid(const DeviceRect& area, const std::vector<DeviceRect>* clip,
	rgb_color color)
{
	DeviceRect visible = area.Intersect(Area());
	if (visible.IsEmpty())
		return;
	fPixelsWorked += uint64(visible.right - visible.left) * uint64(visible.bottom - visible.top);
	uint8 pixel[4];
	int32 pixelSize = pack_color(fSpace, color, pixel);
	const int32 bytesPerRow = fBitmap->BytesPerRow();
	uint8* bits = static_cast<uint8*>(fBitmap->Bits());

	auto fill = [&](const DeviceRect& rect) {
		if (rect.IsEmpty())
			return;
		size_t rowLength = size_t(rect.right - rect.left) * pixelSize;
		uint8* first = bits + int64(rect.top) * bytesPerRow + int64(rect.left) * pixelSize;
		// One row pixel by pixel, the others copied from it.
		bool uniform = true;
		for (int32 i = 1; i < pixelSize; i++)
			uniform = uniform && pixel[i] == pixel[0];
		if (uniform) {
			memset(first, pixel[0], rowLength);
		} else {
			for (size_t offset = 0; offset < rowLength; offset += pixelSize)
				memcpy(first + offset, pixel, pixelSize);
		}
		for (int32 y = rect.top + 1; y < rect.bottom; y++)
			memcpy(bits + int64(y) * bytesPerRow + int64(rect.left) * pixelSize, first,
				rowLength);
	};

	if (clip == NULL) {
		fill(visible);
		return;
	}
	for (const DeviceRect& rect : *clip)
		fill(rect.Intersect(visible));
}

void BitmapPrivate::CopyPixels(const PicturePixels& pixels, int32 dx, int32 dy,
	const DeviceRect& area, const std::vector<DeviceRect>* clip)
{
	assert(CanCopy(pixels.space));
	DeviceRect visible = area.Intersect(Area());
	if (visible.IsEmpty())
		return;
	// Charged as a drawing of the area from a source of its size.
	fPixelsWorked += 2 * uint64(visible.right - visible.left) * uint64(visible.bottom - visible.top);
	const size_t pixelSize = bytes_per_pixel_of(fSpace);
	const int32 bytesPerRow = fBitmap->BytesPerRow();
	uint8* bits = static_cast<uint8*>(fBitmap->Bits());
	const uint8* source = static_cast<const uint8*>(pixels.data);

	auto copy = [&](const DeviceRect& rect) {
		if (rect.IsEmpty())
			return;
		size_t rowLength = size_t(rect.right - rect.left) * pixelSize;
		for (int32 y = rect.top; y < rect.bottom; y++) {
			memcpy(bits + int64(y) * bytesPerRow + int64(rect.left) * pixelSize,
				source + int64(y - dy) * pixels.bytesPerRow + int64(rect.left - dx) * pixelSize,
				rowLength);
		}
	};
	if (clip == NULL) {
		copy(visible);
		return;
	}
	for (const DeviceRect& rect : *clip)
		copy(rect.Intersect(visible));
}

cairo_surface_t* BitmapPrivate::SourceSurface(const PicturePixels& pixels,
	const DeviceRect& rows, drawing_mode mode)
{
	int32 width = rows.right - rows.left;
	int32 height = rows.bottom - rows.top;
	assert(width > 0 && height > 0 && rows.left >= 0 && rows.top >= 0
		&& rows.right <= pixels.width && rows.bottom <= pixels.height);
	fPixelsWorked += uint64(width) * uint64(height);
	const color_space space = pixels.space;
	const size_t pixelSize = bytes_per_pixel_of(space);
	const uint8* bits = static_cast<const uint8*>(pixels.data);
	const int32 bytesPerRow = pixels.bytesPerRow;

	// An opaque 32-bit source is used in place, without a copy, unless it is the target.
	if (space == B_RGB32 && mode == B_OP_COPY && pixels.data != fBitmap->Bits()
		&& bytesPerRow % 4 == 0) {
		const uint8* first = bits + int64(rows.top) * bytesPerRow + rows.left * pixelSize;
		return cairo_image_surface_create_for_data(const_cast<uint8*>(first),
			CAIRO_FORMAT_RGB24, width, height, bytesPerRow);
	}

	size_t count = size_t(width) * height;
	if (fSource.size() < count)
		fSource.resize(count);
	for (int32 y = 0; y < height; y++) {
		const uint8* row = bits + int64(rows.top + y) * bytesPerRow + rows.left * pixelSize;
		uint32* words = fSource.data() + size_t(y) * width;
		load_row(space, row, words, width);
		for (int32 x = 0; x < width; x++) {
			uint32 value = words[x];
			if (mode == B_OP_ALPHA)
				words[x] = premultiply(value);
			else if (mode == B_OP_OVER && (value & 0xffffff) == 0x777477)
				words[x] = 0;
			else
				words[x] = value | 0xff000000;
		}
	}
	return cairo_image_surface_create_for_data(reinterpret_cast<uint8*>(fSource.data()),
		CAIRO_FORMAT_ARGB32, width, height, width * 4);
}
