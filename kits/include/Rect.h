// A rectangle with inclusive right and bottom edges, as the platform has them: the rect
// (0, 0, 9, 9) covers 10 x 10 pixels, and Width() is right - left (9 there).
#pragma once

#include <Point.h>

class BRect {
public:
	float left;
	float top;
	float right;
	float bottom;

	// The default rect is invalid: (0, 0, -1, -1).
	constexpr BRect() : left(0), top(0), right(-1), bottom(-1) {}
	constexpr BRect(float l, float t, float r, float b) : left(l), top(t), right(r), bottom(b) {}
	constexpr BRect(BPoint leftTop, BPoint rightBottom)
		: left(leftTop.x), top(leftTop.y), right(rightBottom.x), bottom(rightBottom.y) {}

	void Set(float l, float t, float r, float b) { left = l; top = t; right = r; bottom = b; }

	BPoint LeftTop() const { return BPoint(left, top); }
	BPoint RightBottom() const { return BPoint(right, bottom); }
	BPoint LeftBottom() const { return BPoint(left, bottom); }
	BPoint RightTop() const { return BPoint(right, top); }

	float Width() const { return right - left; }
	float Height() const { return bottom - top; }
	int32 IntegerWidth() const;
	int32 IntegerHeight() const;
	bool IsValid() const { return left <= right && top <= bottom; }

	BRect& InsetBy(float dx, float dy);
	BRect& OffsetBy(float dx, float dy);
	BRect& OffsetTo(float x, float y);
	BRect& InsetBy(BPoint delta) { return InsetBy(delta.x, delta.y); }
	BRect& OffsetBy(BPoint delta) { return OffsetBy(delta.x, delta.y); }
	BRect& OffsetTo(BPoint where) { return OffsetTo(where.x, where.y); }
	BRect InsetByCopy(float dx, float dy) const { BRect copy(*this); return copy.InsetBy(dx, dy); }
	BRect OffsetByCopy(float dx, float dy) const { BRect copy(*this); return copy.OffsetBy(dx, dy); }
	BRect OffsetToCopy(float x, float y) const { BRect copy(*this); return copy.OffsetTo(x, y); }

	bool Intersects(BRect other) const;
	bool Contains(BPoint point) const;
	bool Contains(BRect other) const;
	BRect operator&(BRect other) const;  // intersection
	BRect operator|(BRect other) const;  // union (bounding rect)

	bool operator==(BRect other) const
	{
		return left == other.left && top == other.top && right == other.right
			&& bottom == other.bottom;
	}
	bool operator!=(BRect other) const { return !(*this == other); }

	void PrintToStream() const;
};
