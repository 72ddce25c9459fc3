// An off-screen image in one of the platform's colour spaces, with rows padded to a multiple
// of 4 bytes. A bitmap that accepts views is a drawing surface: views added to it draw into
// its pixels, and its lock serialises that drawing.
//
// Supported spaces: B_RGB32, B_RGBA32, B_RGB24, B_RGB16, B_RGB16_BIG, B_CMAP8, B_GRAY8. Any
// other space, or bounds that are not finite and valid, leave InitCheck() at B_BAD_VALUE;
// bounds too large to allocate (over 1 GiB of pixels, or 2^24 pixels on a side) leave it at
// B_NO_MEMORY. A failed bitmap has no bits (Bits() is NULL, BitsLength() 0).
//
// The bitmap owns the views added to it and deletes those still attached when it is deleted.
// Lock() is recursive and belongs to the calling thread until the matching Unlock().
#pragma once

#include <GraphicsDefs.h>
#include <Rect.h>

#include <atomic>
#include <mutex>
#include <vector>

class BView;

// Flags of bitmaps_support_space (declared in GraphicsDefs.h).
enum {
	B_VIEWS_SUPPORT_DRAW_BITMAP = 0x1,
	B_BITMAPS_SUPPORT_ATTACHED_VIEWS = 0x2
};
struct BitmapPrivate;

class BBitmap {
public:
	BBitmap(BRect bounds, uint32 flags, color_space colorSpace,
		int32 bytesPerRow = B_ANY_BYTES_PER_ROW);
	BBitmap(BRect bounds, color_space colorSpace, bool acceptsViews = false,
		bool needsContiguous = false);
	BBitmap(const BBitmap* source, bool acceptsViews = false, bool needsContiguous = false);
	virtual ~BBitmap();

	BBitmap(const BBitmap&) = delete;
	BBitmap& operator=(const BBitmap&) = delete;

	status_t InitCheck() const { return fInitStatus; }
	bool IsValid() const { return fInitStatus == B_OK; }

	void* Bits() const { return fBits; }
	int32 BitsLength() const { return fBitsLength; }
	int32 BytesPerRow() const { return fBytesPerRow; }
	color_space ColorSpace() const { return fColorSpace; }
	BRect Bounds() const { return fBounds; }
	uint32 Flags() const { return fFlags; }

	// Copies length bytes of rows in colorSpace into the bits from byte offset on, converting
	// pixels; the source rows are taken to have this bitmap's width and their own padding.
	void SetBits(const void* data, int32 length, int32 offset, color_space colorSpace);
	status_t ImportBits(const void* data, int32 length, int32 bytesPerRow, int32 offset,
		color_space colorSpace);
	// Converts another bitmap of the same size into this one.
	status_t ImportBits(const BBitmap* bitmap);

	// Views. AddChild fails silently for a bitmap that does not accept views, or for a view
	// that already has a parent.
	void AddChild(BView* view);
	bool RemoveChild(BView* view);
	int32 CountChildren() const;
	BView* ChildAt(int32 index) const;
	BView* FindView(const char* viewName) const;
	BView* FindView(BPoint point) const;

	bool Lock();
	void Unlock();
	bool IsLocked() const;

	// Stand-in: the drawing back-end of this bitmap (NULL when it does not accept views).
	BitmapPrivate* Private() const { return fPrivate; }
	// Stand-in: B_OK, or the first error with which drawing into this bitmap failed since
	// the last call (B_NO_MEMORY, or B_ERROR); the pixels concerned were left as they were.
	status_t TakeDrawingError();
	// Stand-in: how many pictures drawn into this bitmap since the last call stopped at
	// their work budget and were drawn only in part.
	int32 TakePicturesCut();

private:
	friend class BView;
	friend struct BitmapPrivate;

	void _Init(BRect bounds, uint32 flags, color_space colorSpace, int32 bytesPerRow);

	status_t fInitStatus;
	uint8* fBits;
	int32 fBitsLength;
	int32 fBytesPerRow;
	int32 fWidth;
	int32 fHeight;
	color_space fColorSpace;
	BRect fBounds;
	uint32 fFlags;
	std::vector<BView*> fChildren;
	BitmapPrivate* fPrivate;
	std::recursive_mutex fLock;
	std::atomic<int64> fLockOwner;  // thread holding fLock, 0 when free
	int32 fLockCount;
};
