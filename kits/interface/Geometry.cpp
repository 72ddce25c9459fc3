#include <GraphicsDefs.h>
#include <Rect.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

const BPoint B_ORIGIN(0, 0);

const pattern B_SOLID_HIGH = {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}};
const pattern B_SOLID_LOW = {{0, 0, 0, 0, 0, 0, 0, 0}};
const pattern B_MIXED_COLORS = {{0xaa, 0x55, 0xaa, 0x55, 0xaa, 0x55, 0xaa, 0x55}};
const rgb_color B_TRANSPARENT_COLOR = {0x77, 0x74, 0x77, 0x00};

// --- BPoint ----------------------------------------------------------------

void BPoint::ConstrainTo(BRect rect)
{
	x = std::max(std::min(x, rect.right), rect.left);
	y = std::max(std::min(y, rect.bottom), rect.top);
}

void BPoint::PrintToStream() const
{
	printf("BPoint(x:%.0f, y:%.0f)\n", x, y);
}

// --- BRect -----------------------------------------------------------------

int32 BRect::IntegerWidth() const
{
	return static_cast<int32>(std::ceil(right - left));
}

int32 BRect::IntegerHeight() const
{
	return static_cast<int32>(std::ceil(bottom - top));
}

BRect& BRect::InsetBy(float dx, float dy)
{
	left += dx;
	right -= dx;
	top += dy;
	bottom -= dy;
	return *this;
}

BRect& BRect::OffsetBy(float dx, float dy)
{
	left += dx;
	right += dx;
	top += dy;
	bottom += dy;
	return *this;
}

BRect& BRect::OffsetTo(float x, float y)
{
	right = x + (right - left);
	bottom = y + (bottom - top);
	left = x;
	top = y;
	return *this;
}

bool BRect::Intersects(BRect other) const
{
	if (!IsValid() || !other.IsValid())
		return false;
	return !(other.left > right || other.right < left || other.top > bottom
		|| other.bottom < top);
}

bool BRect::Contains(BPoint point) const
{
	return point.x >= left && point.x <= right && point.y >= top && point.y <= bottom;
}

bool BRect::Contains(BRect other) const
{
	return other.left >= left && other.right <= right && other.top >= top
		&& other.bottom <= bottom;
}

BRect BRect::operator&(BRect other) const
{
	return BRect(std::max(left, other.left), std::max(top, other.top),
		std::min(right, other.right), std::min(bottom, other.bottom));
}

BRect BRect::operator|(BRect other) const
{
	return BRect(std::min(left, other.left), std::min(top, other.top),
		std::max(right, other.right), std::max(bottom, other.bottom));
}

void BRect::PrintToStream() const
{
	printf("BRect(l:%.1f, t:%.1f, r:%.1f, b:%.1f)\n", left, top, right, bottom);
}

// --- colour spaces ----------------------------------------------------------

size_t bytes_per_pixel_of(color_space space)
{
	switch (space) {
		case B_RGB32: case B_RGBA32: case B_RGB32_BIG: case B_RGBA32_BIG:
		case B_CMY32: case B_CMYA32: case B_CMYK32:
			return 4;
		case B_RGB24: case B_RGB24_BIG: case B_CMY24:
			return 3;
		case B_RGB16: case B_RGB15: case B_RGBA15: case B_RGB16_BIG: case B_RGB15_BIG:
		case B_RGBA15_BIG:
			return 2;
		case B_CMAP8: case B_GRAY8:
			return 1;
		default:
			return 0;
	}
}
