// A set of pixels kept as non-overlapping integer rectangles with inclusive edges: the rect
// (l, t, r, b) covers the pixels l..r and t..b.
//
// A BRect that is not whole is widened to the pixels it touches: its left and top are rounded
// down, its right and bottom up, so (0, -25, 637.5, 800) becomes (0, -25, 638, 800). A rect
// with a non-finite edge or with left > right or top > bottom adds nothing; edges beyond the
// 32-bit range are clamped to it. Rectangles are kept sorted by top, then left; adjacent
// rectangles are not necessarily merged. Not thread-safe: one owner at a time.
#pragma once

#include <GraphicsDefs.h>
#include <Rect.h>

#include <vector>

class BRegion {
public:
	BRegion();
	BRegion(const BRegion& other);
	BRegion(BRegion&& other) noexcept;
	explicit BRegion(BRect rect);
	~BRegion();

	BRegion& operator=(const BRegion& other);
	BRegion& operator=(BRegion&& other) noexcept;
	bool operator==(const BRegion& other) const;

	void Set(BRect rect);
	void Set(clipping_rect rect);
	void MakeEmpty();

	BRect Frame() const;
	clipping_rect FrameInt() const;
	int32 CountRects() const;
	BRect RectAt(int32 index) const;
	clipping_rect RectAtInt(int32 index) const;

	bool Intersects(BRect rect) const;
	bool Intersects(clipping_rect rect) const;
	bool Contains(BPoint point) const;
	bool Contains(int32 x, int32 y) const;

	void Include(BRect rect);
	void Include(clipping_rect rect);
	void Include(const BRegion* region);
	void Exclude(BRect rect);
	void Exclude(clipping_rect rect);
	void Exclude(const BRegion* region);
	void IntersectWith(const BRegion* region);

	void OffsetBy(int32 dx, int32 dy);
	void OffsetBy(BPoint delta);

	void PrintToStream() const;

	// Whole-pixel form of a float rect by the rounding above; false when it holds no pixel.
	static bool RectToClipping(BRect rect, clipping_rect* out);

private:
	void _Recompute();

	std::vector<clipping_rect> fRects;
	clipping_rect fFrame;
};
