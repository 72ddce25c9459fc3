#include <Bitmap.h>
#include <View.h>

#include "BitmapPrivate.h"
#include "ColorConversion.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

using namespace BPrivate;

namespace {

const int64 kMaxSide = 1 << 24;
const int64 kMaxBytes = int64(1) << 30;

int64 current_thread_token()
{
	// Any non-zero value unique among live threads will do.
	static thread_local char marker;
	return static_cast<int64>(reinterpret_cast<intptr_t>(&marker));
}

int64 raw_row_bytes(color_space space, int64 width)
{
	return width * static_cast<int64>(bytes_per_pixel_of(space));
}

} // namespace

// --- DeviceRect ---------------------------------------------------------------------

DeviceRect DeviceRect::Intersect(const DeviceRect& other) const
{
	return DeviceRect{std::max(left, other.left), std::max(top, other.top),
		std::min(right, other.right), std::min(bottom, other.bottom)};
}

// --- BBitmap ------------------------------------------------------------------------

BBitmap::BBitmap(BRect bounds, uint32 flags, color_space colorSpace, int32 bytesPerRow)
{
	_Init(bounds, flags, colorSpace, bytesPerRow);
}

BBitmap::BBitmap(BRect bounds, color_space colorSpace, bool acceptsViews, bool needsContiguous)
{
	_Init(bounds, (acceptsViews ? B_BITMAP_ACCEPTS_VIEWS : 0)
			| (needsContiguous ? B_BITMAP_IS_CONTIGUOUS : 0),
		colorSpace, B_ANY_BYTES_PER_ROW);
}

BBitmap::BBitmap(const BBitmap* source, bool acceptsViews, bool needsContiguous)
{
	BRect bounds = source != NULL ? source->Bounds() : BRect();
	color_space space = source != NULL ? source->ColorSpace() : B_NO_COLOR_SPACE;
	_Init(bounds, (acceptsViews ? B_BITMAP_ACCEPTS_VIEWS : 0)
			| (needsContiguous ? B_BITMAP_IS_CONTIGUOUS : 0),
		space, B_ANY_BYTES_PER_ROW);
	if (fInitStatus == B_OK && source->InitCheck() == B_OK)
		memcpy(fBits, source->Bits(), std::min(fBitsLength, source->BitsLength()));
}

void BBitmap::_Init(BRect bounds, uint32 flags, color_space colorSpace, int32 bytesPerRow)
{
	fInitStatus = B_NO_INIT;
	fBits = NULL;
	fBitsLength = 0;
	fBytesPerRow = 0;
	fWidth = 0;
	fHeight = 0;
	fColorSpace = colorSpace;
	fBounds = bounds;
	fFlags = flags;
	fPrivate = NULL;
	fLockOwner = 0;
	fLockCount = 0;

	if (!drawable_space(colorSpace) || !std::isfinite(bounds.left)
		|| !std::isfinite(bounds.top) || !std::isfinite(bounds.right)
		|| !std::isfinite(bounds.bottom) || !bounds.IsValid()) {
		fInitStatus = B_BAD_VALUE;
		return;
	}
	// Sizes in double first: a float difference may be far outside any integer type.
	double width = std::ceil(double(bounds.right) - double(bounds.left)) + 1;
	double height = std::ceil(double(bounds.bottom) - double(bounds.top)) + 1;
	if (width > kMaxSide || height > kMaxSide) {
		fInitStatus = B_NO_MEMORY;
		return;
	}
	int64 rawRow = raw_row_bytes(colorSpace, int64(width));
	int64 rowBytes = (rawRow + 3) & ~int64(3);
	if (bytesPerRow != B_ANY_BYTES_PER_ROW) {
		if (bytesPerRow < rawRow) {
			fInitStatus = B_BAD_VALUE;
			return;
		}
		rowBytes = bytesPerRow;
	}
	if (rowBytes * int64(height) > kMaxBytes) {
		fInitStatus = B_NO_MEMORY;
		return;
	}

	fWidth = static_cast<int32>(width);
	fHeight = static_cast<int32>(height);
	fBytesPerRow = static_cast<int32>(rowBytes);
	fBitsLength = static_cast<int32>(rowBytes * int64(height));
	fBits = static_cast<uint8*>(calloc(1, fBitsLength));
	if (fBits == NULL) {
		fBitsLength = 0;
		fInitStatus = B_NO_MEMORY;
		return;
	}
	if (flags & B_BITMAP_CLEAR_TO_WHITE) {
		uint8 white[4];
		int32 size = pack_color(colorSpace, make_color(255, 255, 255), white);
		for (int32 y = 0; y < fHeight; y++) {
			uint8* row = fBits + int64(y) * fBytesPerRow;
			for (int32 x = 0; x < fWidth; x++)
				memcpy(row + int64(x) * size, white, size);
		}
	}
	if (flags & B_BITMAP_ACCEPTS_VIEWS)
		fPrivate = new BitmapPrivate(this);
	fInitStatus = B_OK;
}

BBitmap::~BBitmap()
{
	// The bitmap owns the views still attached to it.
	while (!fChildren.empty()) {
		BView* view = fChildren.back();
		RemoveChild(view);
		delete view;
	}
	delete fPrivate;
	free(fBits);
}

void BBitmap::SetBits(const void* data, int32 length, int32 offset, color_space colorSpace)
{
	if (colorSpace == fColorSpace) {
		if (data == NULL || length <= 0 || offset < 0 || offset >= fBitsLength)
			return;
		memcpy(fBits + offset, data, std::min(length, fBitsLength - offset));
		return;
	}
	int64 rawRow = raw_row_bytes(colorSpace, fWidth);
	ImportBits(data, length, static_cast<int32>((rawRow + 3) & ~int64(3)), offset,
		colorSpace);
}

status_t BBitmap::ImportBits(const void* data, int32 length, int32 bytesPerRow, int32 offset,
	color_space colorSpace)
{
	if (fInitStatus != B_OK)
		return B_NO_INIT;
	if (data == NULL || length < 0 || offset < 0 || !drawable_space(colorSpace))
		return B_BAD_VALUE;
	int64 rawRow = raw_row_bytes(colorSpace, fWidth);
	if (bytesPerRow == B_ANY_BYTES_PER_ROW)
		bytesPerRow = static_cast<int32>((rawRow + 3) & ~int64(3));
	if (bytesPerRow <= 0)
		return B_BAD_VALUE;
	// offset counts bytes of this bitmap; the conversion starts at that pixel.
	int64 pixelSize = bytes_per_pixel_of(fColorSpace);
	int64 firstRow = offset / fBytesPerRow;
	int64 firstColumn = (offset % fBytesPerRow) / pixelSize;
	if (firstRow >= fHeight)
		return B_OK;

	const uint8* source = static_cast<const uint8*>(data);
	int64 sourcePixel = bytes_per_pixel_of(colorSpace);
	std::vector<uint32> words(fWidth);
	int64 consumed = 0;
	for (int64 y = firstRow; y < fHeight && consumed < length; y++) {
		int64 column = y == firstRow ? firstColumn : 0;
		int64 available = std::min<int64>(length - consumed, bytesPerRow);
		int64 count = std::min<int64>(fWidth - column, available / sourcePixel);
		if (count <= 0)
			break;
		load_row(colorSpace, source + consumed, words.data(), static_cast<int32>(count));
		store_row(fColorSpace, words.data(), fBits + y * fBytesPerRow + column * pixelSize,
			static_cast<int32>(count));
		consumed += bytesPerRow;
	}
	return B_OK;
}

status_t BBitmap::ImportBits(const BBitmap* bitmap)
{
	if (bitmap == NULL || bitmap->InitCheck() != B_OK)
		return B_BAD_VALUE;
	if (fInitStatus != B_OK)
		return B_NO_INIT;
	if (bitmap->fWidth != fWidth || bitmap->fHeight != fHeight)
		return B_BAD_VALUE;
	return ImportBits(bitmap->Bits(), bitmap->BitsLength(), bitmap->BytesPerRow(), 0,
		bitmap->ColorSpace());
}

void BBitmap::AddChild(BView* view)
{
	if (view == NULL || fPrivate == NULL || view->Parent() != NULL || view->fBitmap != NULL)
		return;
	fChildren.push_back(view);
	view->_SetTarget(this);
}

bool BBitmap::RemoveChild(BView* view)
{
	auto found = std::find(fChildren.begin(), fChildren.end(), view);
	if (found == fChildren.end())
		return false;
	fChildren.erase(found);
	view->_SetTarget(NULL);
	return true;
}

int32 BBitmap::CountChildren() const
{
	return static_cast<int32>(fChildren.size());
}

BView* BBitmap::ChildAt(int32 index) const
{
	if (index < 0 || index >= CountChildren())
		return NULL;
	return fChildren[index];
}

BView* BBitmap::FindView(const char* viewName) const
{
	if (viewName == NULL)
		return NULL;
	for (BView* child : fChildren) {
		if (child->Name() != NULL && strcmp(child->Name(), viewName) == 0)
			return child;
		if (BView* found = child->FindView(viewName))
			return found;
	}
	return NULL;
}

BView* BBitmap::FindView(BPoint point) const
{
	for (auto it = fChildren.rbegin(); it != fChildren.rend(); ++it) {
		if ((*it)->Frame().Contains(point))
			return *it;
	}
	return NULL;
}

bool BBitmap::Lock()
{
	fLock.lock();
	fLockOwner = current_thread_token();
	fLockCount++;
	return true;
}

void BBitmap::Unlock()
{
	if (fLockOwner != current_thread_token())
		return;
	if (--fLockCount == 0)
		fLockOwner = 0;
	fLock.unlock();
}

bool BBitmap::IsLocked() const
{
	return fLockOwner == current_thread_token();
}

bool bitmaps_support_space(color_space space, uint32* supportFlags)
{
	bool supported = drawable_space(space);
	if (supportFlags != NULL)
		*supportFlags = supported ? B_VIEWS_SUPPORT_DRAW_BITMAP | B_BITMAPS_SUPPORT_ATTACHED_VIEWS
			: 0;
	return supported;
}

status_t BBitmap::TakeDrawingError()
{
	return fPrivate != NULL ? fPrivate->TakeDrawingError() : B_OK;
}

int32 BBitmap::TakePicturesCut()
{
	return fPrivate != NULL ? fPrivate->TakePicturesCut() : 0;
}
