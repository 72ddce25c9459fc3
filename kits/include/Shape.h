// An outline made of moves, straight lines, cubic Bézier curves and closes, kept in the form a
// flattened picture stores it: op words (command in bits 31-24, point count in bits 23-0) and
// the points they consume.
#pragma once

#include <Rect.h>

#include <vector>

class BShape;

// Walks a shape's ops; a client overrides the steps it cares about.
class BShapeIterator {
public:
	virtual ~BShapeIterator() = default;

	virtual status_t IterateMoveTo(BPoint* point);
	virtual status_t IterateLineTo(int32 lineCount, BPoint* linePoints);
	virtual status_t IterateBezierTo(int32 bezierCount, BPoint* bezierPoints);
	virtual status_t IterateClose();

	// Calls the steps in order; B_BAD_DATA when the ops ask for more points than there are.
	status_t Iterate(BShape* shape);
};

class BShape {
public:
	// Op words of the stored form.
	static constexpr uint32 kOpMoveTo = 0x80000000;
	static constexpr uint32 kOpLineTo = 0x10000000;
	static constexpr uint32 kOpBezierTo = 0x20000000;
	static constexpr uint32 kOpClose = 0x40000000;
	static constexpr uint32 kOpCommandMask = 0xff000000;
	static constexpr uint32 kOpCountMask = 0x00ffffff;

	BShape();
	BShape(const BShape& other);
	~BShape();

	BShape& operator=(const BShape& other);

	void Clear();
	BRect Bounds() const;
	status_t AddShape(const BShape* other);

	status_t MoveTo(BPoint point);
	status_t LineTo(BPoint point);
	status_t BezierTo(BPoint controlPoints[3]);
	status_t BezierTo(const BPoint& control1, const BPoint& control2, const BPoint& endPoint);
	status_t Close();

	// The stored form, for pictures. SetData checks that the ops consume exactly the points
	// given and leaves the shape empty (B_BAD_DATA) otherwise.
	int32 CountOps() const { return static_cast<int32>(fOps.size()); }
	const uint32* Ops() const { return fOps.data(); }
	int32 CountPoints() const { return static_cast<int32>(fPoints.size()); }
	const BPoint* Points() const { return fPoints.data(); }
	status_t SetData(int32 opCount, const uint32* ops, int32 pointCount, const BPoint* points);

	// Points an op list consumes, or -1 when a count is out of range.
	static int64 PointsNeeded(int32 opCount, const uint32* ops);

private:
	std::vector<uint32> fOps;
	std::vector<BPoint> fPoints;
	bool fPendingMove;  // the last op is a move not yet followed by a line or curve
};
