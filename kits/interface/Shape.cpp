#include <Shape.h>

#include <algorithm>
#include <cmath>

// --- BShapeIterator -----------------------------------------------------------

status_t BShapeIterator::IterateMoveTo(BPoint*)
{
	return B_OK;
}

status_t BShapeIterator::IterateLineTo(int32, BPoint*)
{
	return B_OK;
}

status_t BShapeIterator::IterateBezierTo(int32, BPoint*)
{
	return B_OK;
}

status_t BShapeIterator::IterateClose()
{
	return B_OK;
}

status_t BShapeIterator::Iterate(BShape* shape)
{
	if (shape == NULL)
		return B_BAD_VALUE;
	int64 needed = BShape::PointsNeeded(shape->CountOps(), shape->Ops());
	if (needed < 0 || needed > shape->CountPoints())
		return B_BAD_DATA;

	// Copies, so an iterator that edits the points it is handed cannot touch the shape.
	std::vector<BPoint> points(shape->Points(), shape->Points() + shape->CountPoints());
	std::vector<uint32> ops(shape->Ops(), shape->Ops() + shape->CountOps());
	size_t next = 0;
	for (uint32 op : ops) {
		uint32 count = op & BShape::kOpCountMask;
		if (op & BShape::kOpMoveTo)
			IterateMoveTo(&points[next++]);
		if (op & BShape::kOpLineTo) {
			IterateLineTo(count, &points[next]);
			next += count;
		} else if (op & BShape::kOpBezierTo) {
			IterateBezierTo(count / 3, &points[next]);
			next += count;
		}
		if (op & BShape::kOpClose)
			IterateClose();
	}
	return B_OK;
}

// --- BShape -------------------------------------------------------------------

BShape::BShape()
	:
	fPendingMove(false)
{
}

BShape::BShape(const BShape& other) = default;

BShape::~BShape() = default;

BShape& BShape::operator=(const BShape& other) = default;

void BShape::Clear()
{
	fOps.clear();
	fPoints.clear();
	fPendingMove = false;
}

BRect BShape::Bounds() const
{
	if (fPoints.empty())
		return BRect();
	BRect bounds(fPoints[0], fPoints[0]);
	for (const BPoint& point : fPoints) {
		bounds.left = std::min(bounds.left, point.x);
		bounds.top = std::min(bounds.top, point.y);
		bounds.right = std::max(bounds.right, point.x);
		bounds.bottom = std::max(bounds.bottom, point.y);
	}
	return bounds;
}

status_t BShape::AddShape(const BShape* other)
{
	if (other == NULL)
		return B_BAD_VALUE;
	if (other == this) {
		BShape copy(*other);
		return AddShape(&copy);
	}
	fOps.insert(fOps.end(), other->fOps.begin(), other->fOps.end());
	fPoints.insert(fPoints.end(), other->fPoints.begin(), other->fPoints.end());
	fPendingMove = other->fPendingMove;
	return B_OK;
}

status_t BShape::MoveTo(BPoint point)
{
	if (fPendingMove) {
		// Two moves in a row: the later one wins.
		fPoints.back() = point;
		return B_OK;
	}
	fOps.push_back(kOpMoveTo);
	fPoints.push_back(point);
	fPendingMove = true;
	return B_OK;
}

status_t BShape::LineTo(BPoint point)
{
	if (!fPendingMove && !fOps.empty() && (fOps.back() & kOpCommandMask & ~kOpMoveTo) == kOpLineTo
		&& (fOps.back() & kOpCountMask) < kOpCountMask) {
		fOps.back()++;
	} else if (fPendingMove) {
		fOps.back() |= kOpLineTo | 1;
	} else {
		fOps.push_back(kOpLineTo | 1);
	}
	fPendingMove = false;
	fPoints.push_back(point);
	return B_OK;
}

status_t BShape::BezierTo(BPoint controlPoints[3])
{
	if (controlPoints == NULL)
		return B_BAD_VALUE;
	return BezierTo(controlPoints[0], controlPoints[1], controlPoints[2]);
}

status_t BShape::BezierTo(const BPoint& control1, const BPoint& control2,
	const BPoint& endPoint)
{
	if (!fPendingMove && !fOps.empty()
		&& (fOps.back() & kOpCommandMask & ~kOpMoveTo) == kOpBezierTo
		&& (fOps.back() & kOpCountMask) < kOpCountMask - 3) {
		fOps.back() += 3;
	} else if (fPendingMove) {
		fOps.back() |= kOpBezierTo | 3;
	} else {
		fOps.push_back(kOpBezierTo | 3);
	}
	fPendingMove = false;
	fPoints.push_back(control1);
	fPoints.push_back(control2);
	fPoints.push_back(endPoint);
	return B_OK;
}

status_t BShape::Close()
{
	if (fOps.empty() || fPendingMove)
		return B_ERROR;
	fOps.back() |= kOpClose;
	return B_OK;
}

int64 BShape::PointsNeeded(int32 opCount, const uint32* ops)
{
	if (opCount < 0 || (opCount > 0 && ops == NULL))
		return -1;
	int64 needed = 0;
	for (int32 i = 0; i < opCount; i++) {
		uint32 op = ops[i];
		if (op & kOpMoveTo)
			needed++;
		if (op & (kOpLineTo | kOpBezierTo))
			needed += op & kOpCountMask;
	}
	return needed;
}

status_t BShape::SetData(int32 opCount, const uint32* ops, int32 pointCount,
	const BPoint* points)
{
	Clear();
	if (pointCount < 0 || (pointCount > 0 && points == NULL)
		|| PointsNeeded(opCount, ops) != pointCount)
		return B_BAD_DATA;
	fOps.assign(ops, ops + opCount);
	fPoints.assign(points, points + pointCount);
	fPendingMove = !fOps.empty() && (fOps.back() & kOpCommandMask) == kOpMoveTo;
	return B_OK;
}
