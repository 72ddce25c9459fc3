// A list of points for StrokePolygon and FillPolygon, with its bounding frame.
#pragma once

#include <Rect.h>

#include <vector>

class BPolygon {
public:
	BPolygon();
	BPolygon(const BPoint* points, int32 count);
	BPolygon(const BPolygon& other);
	~BPolygon();

	BPolygon& operator=(const BPolygon& other);

	BRect Frame() const;
	void AddPoints(const BPoint* points, int32 count);
	int32 CountPoints() const { return static_cast<int32>(fPoints.size()); }
	const BPoint* Points() const { return fPoints.data(); }
	// Maps the points from the rect from to the rect to.
	void MapTo(BRect from, BRect to);
	void PrintToStream() const;

private:
	std::vector<BPoint> fPoints;
};
