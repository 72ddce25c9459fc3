#include <Region.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Coordinates stay well inside int32 so that offsets and the +1 of inclusive edges never
// overflow.
const int64 kCoordinateLimit = 1 << 30;

int32 clamp_coordinate(int64 value)
{
	return static_cast<int32>(std::clamp<int64>(value, -kCoordinateLimit, kCoordinateLimit));
}

int32 clamp_coordinate(double value)
{
	if (value <= -kCoordinateLimit)
		return static_cast<int32>(-kCoordinateLimit);
	if (value >= kCoordinateLimit)
		return static_cast<int32>(kCoordinateLimit);
	return static_cast<int32>(value);
}

bool is_valid(const clipping_rect& rect)
{
	return rect.left <= rect.right && rect.top <= rect.bottom;
}

clipping_rect intersection(const clipping_rect& a, const clipping_rect& b)
{
	return clipping_rect{std::max(a.left, b.left), std::max(a.top, b.top),
		std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

bool rects_intersect(const clipping_rect& a, const clipping_rect& b)
{
	return is_valid(intersection(a, b));
}

bool sorted_before(const clipping_rect& a, const clipping_rect& b)
{
	return a.top != b.top ? a.top < b.top : a.left < b.left;
}

// Appends the parts of rect that lie outside hole.
void subtract(const clipping_rect& rect, const clipping_rect& hole,
	std::vector<clipping_rect>* out)
{
	clipping_rect cut = intersection(rect, hole);
	if (!is_valid(cut)) {
		out->push_back(rect);
		return;
	}
	if (rect.top < cut.top)
		out->push_back(clipping_rect{rect.left, rect.top, rect.right, cut.top - 1});
	if (rect.left < cut.left)
		out->push_back(clipping_rect{rect.left, cut.top, cut.left - 1, cut.bottom});
	if (cut.right < rect.right)
		out->push_back(clipping_rect{cut.right + 1, cut.top, rect.right, cut.bottom});
	if (cut.bottom < rect.bottom)
		out->push_back(clipping_rect{rect.left, cut.bottom + 1, rect.right, rect.bottom});
}

} // namespace

BRegion::BRegion()
{
	_Recompute();
}

BRegion::BRegion(const BRegion& other)
	:
	fRects(other.fRects),
	fFrame(other.fFrame)
{
}

BRegion::BRegion(BRegion&& other) noexcept = default;

BRegion& BRegion::operator=(BRegion&& other) noexcept = default;

BRegion::BRegion(BRect rect)
{
	Set(rect);
}

BRegion::~BRegion() = default;

BRegion& BRegion::operator=(const BRegion& other)
{
	fRects = other.fRects;
	fFrame = other.fFrame;
	return *this;
}

bool BRegion::operator==(const BRegion& other) const
{
	// Equal pixel sets may be cut differently: compare by mutual exclusion.
	BRegion left(*this);
	left.Exclude(&other);
	BRegion right(other);
	right.Exclude(this);
	return left.CountRects() == 0 && right.CountRects() == 0;
}

bool BRegion::RectToClipping(BRect rect, clipping_rect* out)
{
	if (!std::isfinite(rect.left) || !std::isfinite(rect.top) || !std::isfinite(rect.right)
		|| !std::isfinite(rect.bottom) || rect.left > rect.right || rect.top > rect.bottom)
		return false;
	*out = clipping_rect{clamp_coordinate(std::floor(static_cast<double>(rect.left))),
		clamp_coordinate(std::floor(static_cast<double>(rect.top))),
		clamp_coordinate(std::ceil(static_cast<double>(rect.right))),
		clamp_coordinate(std::ceil(static_cast<double>(rect.bottom)))};
	return true;
}

void BRegion::Set(BRect rect)
{
	MakeEmpty();
	Include(rect);
}

void BRegion::Set(clipping_rect rect)
{
	MakeEmpty();
	Include(rect);
}

void BRegion::MakeEmpty()
{
	fRects.clear();
	_Recompute();
}

BRect BRegion::Frame() const
{
	if (fRects.empty())
		return BRect();
	return BRect(fFrame.left, fFrame.top, fFrame.right, fFrame.bottom);
}

clipping_rect BRegion::FrameInt() const
{
	return fFrame;
}

int32 BRegion::CountRects() const
{
	return static_cast<int32>(fRects.size());
}

BRect BRegion::RectAt(int32 index) const
{
	if (index < 0 || index >= CountRects())
		return BRect();
	const clipping_rect& rect = fRects[index];
	return BRect(rect.left, rect.top, rect.right, rect.bottom);
}

clipping_rect BRegion::RectAtInt(int32 index) const
{
	if (index < 0 || index >= CountRects())
		return clipping_rect{0, 0, -1, -1};
	return fRects[index];
}

bool BRegion::Intersects(BRect rect) const
{
	clipping_rect whole;
	return RectToClipping(rect, &whole) && Intersects(whole);
}

bool BRegion::Intersects(clipping_rect rect) const
{
	if (!is_valid(rect) || !rects_intersect(rect, fFrame))
		return false;
	for (const clipping_rect& own : fRects)
		if (rects_intersect(own, rect))
			return true;
	return false;
}

bool BRegion::Contains(BPoint point) const
{
	if (!std::isfinite(point.x) || !std::isfinite(point.y))
		return false;
	return Contains(clamp_coordinate(std::floor(static_cast<double>(point.x))),
		clamp_coordinate(std::floor(static_cast<double>(point.y))));
}

bool BRegion::Contains(int32 x, int32 y) const
{
	for (const clipping_rect& rect : fRects)
		if (x >= rect.left && x <= rect.right && y >= rect.top && y <= rect.bottom)
			return true;
	return false;
}

void BRegion::Include(BRect rect)
{
	clipping_rect whole;
	if (RectToClipping(rect, &whole))
		Include(whole);
}

void BRegion::Include(clipping_rect rect)
{
	if (!is_valid(rect))
		return;
	rect = clipping_rect{clamp_coordinate(int64(rect.left)), clamp_coordinate(int64(rect.top)),
		clamp_coordinate(int64(rect.right)), clamp_coordinate(int64(rect.bottom))};
	// Keep the rects disjoint: only the part not yet covered is added.
	std::vector<clipping_rect> pieces{rect};
	for (const clipping_rect& own : fRects) {
		if (!rects_intersect(own, rect))
			continue;
		std::vector<clipping_rect> remaining;
		for (const clipping_rect& piece : pieces)
			subtract(piece, own, &remaining);
		pieces.swap(remaining);
		if (pieces.empty())
			return;
	}
	fRects.insert(fRects.end(), pieces.begin(), pieces.end());
	_Recompute();
}

void BRegion::Include(const BRegion* region)
{
	if (region == NULL || region == this)
		return;
	for (const clipping_rect& rect : region->fRects)
		Include(rect);
}

void BRegion::Exclude(BRect rect)
{
	clipping_rect whole;
	if (RectToClipping(rect, &whole))
		Exclude(whole);
}

void BRegion::Exclude(clipping_rect rect)
{
	if (!is_valid(rect) || !rects_intersect(rect, fFrame))
		return;
	std::vector<clipping_rect> remaining;
	remaining.reserve(fRects.size() + 4);
	for (const clipping_rect& own : fRects)
		subtract(own, rect, &remaining);
	fRects.swap(remaining);
	_Recompute();
}

void BRegion::Exclude(const BRegion* region)
{
	if (region == NULL)
		return;
	if (region == this) {
		MakeEmpty();
		return;
	}
	for (const clipping_rect& rect : region->fRects)
		Exclude(rect);
}

void BRegion::IntersectWith(const BRegion* region)
{
	if (region == NULL || region == this)
		return;
	// Both sides are disjoint, so the pairwise intersections are too.
	std::vector<clipping_rect> result;
	for (const clipping_rect& own : fRects) {
		for (const clipping_rect& other : region->fRects) {
			clipping_rect cut = intersection(own, other);
			if (is_valid(cut))
				result.push_back(cut);
		}
	}
	fRects.swap(result);
	_Recompute();
}

void BRegion::OffsetBy(int32 dx, int32 dy)
{
	for (clipping_rect& rect : fRects) {
		rect.left = clamp_coordinate(int64(rect.left) + dx);
		rect.right = clamp_coordinate(int64(rect.right) + dx);
		rect.top = clamp_coordinate(int64(rect.top) + dy);
		rect.bottom = clamp_coordinate(int64(rect.bottom) + dy);
	}
	_Recompute();
}

void BRegion::OffsetBy(BPoint delta)
{
	if (!std::isfinite(delta.x) || !std::isfinite(delta.y))
		return;
	OffsetBy(clamp_coordinate(std::floor(static_cast<double>(delta.x))),
		clamp_coordinate(std::floor(static_cast<double>(delta.y))));
}

void BRegion::PrintToStream() const
{
	printf("BRegion: %d rects, frame (%d, %d, %d, %d)\n", CountRects(), fFrame.left,
		fFrame.top, fFrame.right, fFrame.bottom);
	for (const clipping_rect& rect : fRects)
		printf("  (%d, %d, %d, %d)\n", rect.left, rect.top, rect.right, rect.bottom);
}

void BRegion::_Recompute()
{
	std::sort(fRects.begin(), fRects.end(), sorted_before);
	if (fRects.empty()) {
		fFrame = clipping_rect{0, 0, -1, -1};
		return;
	}
	fFrame = fRects.front();
	for (const clipping_rect& rect : fRects) {
		fFrame.left = std::min(fFrame.left, rect.left);
		fFrame.top = std::min(fFrame.top, rect.top);
		fFrame.right = std::max(fFrame.right, rect.right);
		fFrame.bottom = std::max(fFrame.bottom, rect.bottom);
	}
}
