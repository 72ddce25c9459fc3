#include <Polygon.h>

#include <algorithm>
#include <cstdio>

BPolygon::BPolygon() = default;

BPolygon::BPolygon(const BPoint* points, int32 count)
{
	AddPoints(points, count);
}

BPolygon::BPolygon(const BPolygon& other) = default;

BPolygon::~BPolygon() = default;

BPolygon& BPolygon::operator=(const BPolygon& other) = default;

BRect BPolygon::Frame() const
{
	if (fPoints.empty())
		return BRect();
	BRect frame(fPoints[0], fPoints[0]);
	for (const BPoint& point : fPoints) {
		frame.left = std::min(frame.left, point.x);
		frame.top = std::min(frame.top, point.y);
		frame.right = std::max(frame.right, point.x);
		frame.bottom = std::max(frame.bottom, point.y);
	}
	return frame;
}

void BPolygon::AddPoints(const BPoint* points, int32 count)
{
	if (points == NULL || count <= 0)
		return;
	fPoints.insert(fPoints.end(), points, points + count);
}

void BPolygon::MapTo(BRect from, BRect to)
{
	float width = from.Width();
	float height = from.Height();
	for (BPoint& point : fPoints) {
		point.x = to.left + (width != 0 ? (point.x - from.left) * to.Width() / width : 0);
		point.y = to.top + (height != 0 ? (point.y - from.top) * to.Height() / height : 0);
	}
}

void BPolygon::PrintToStream() const
{
	for (const BPoint& point : fPoints)
		point.PrintToStream();
}
