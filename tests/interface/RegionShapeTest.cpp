#include <Polygon.h>
#include <Region.h>
#include <Shape.h>

#include <gtest/gtest.h>

#include <limits>

namespace {

int64 area(const BRegion& region)
{
	int64 total = 0;
	for (int32 i = 0; i < region.CountRects(); i++) {
		clipping_rect rect = region.RectAtInt(i);
		total += int64(rect.right - rect.left + 1) * (rect.bottom - rect.top + 1);
	}
	return total;
}

} // namespace

TEST(Region, IncludeExcludeAndIntersectKeepRectsDisjoint)
{
	BRegion region(BRect(0, 0, 9, 9));
	EXPECT_EQ(area(region), 100);
	region.Include(BRect(5, 5, 14, 14));  // overlaps 25 pixels
	EXPECT_EQ(area(region), 175);
	EXPECT_EQ(region.Frame(), BRect(0, 0, 14, 14));
	EXPECT_TRUE(region.Contains(BPoint(14, 14)));
	EXPECT_TRUE(region.Contains(BPoint(9.5f, 2)));
	EXPECT_FALSE(region.Contains(BPoint(12, 2)));
	EXPECT_FALSE(region.Contains(BPoint(15, 15)));

	region.Exclude(BRect(3, 3, 11, 11));  // 81 pixels, 8 of them outside the union
	EXPECT_EQ(area(region), 175 - 73);
	EXPECT_FALSE(region.Contains(BPoint(7, 7)));

	BRegion window(BRect(0, 0, 4, 4));
	region.IntersectWith(&window);
	EXPECT_EQ(area(region), 25 - 4);  // the 2 x 2 corner (3..4, 3..4) was excluded
	region.OffsetBy(10, 20);
	EXPECT_EQ(region.Frame(), BRect(10, 20, 14, 24));

	BRegion empty;
	EXPECT_EQ(empty.CountRects(), 0);
	EXPECT_FALSE(empty.Frame().IsValid());
	region.IntersectWith(&empty);
	EXPECT_EQ(region.CountRects(), 0);
}

TEST(Region, FractionalRectsWidenToThePixelsTheyTouch)
{
	BRegion region(BRect(0, -25, 637.5f, 800));
	EXPECT_EQ(region.Frame(), BRect(0, -25, 638, 800));
	region.Set(BRect(0.25f, 0.75f, 0.5f, 0.75f));
	EXPECT_EQ(region.Frame(), BRect(0, 0, 1, 1));

	const float nan = std::numeric_limits<float>::quiet_NaN();
	const float inf = std::numeric_limits<float>::infinity();
	region.Set(BRect(nan, 0, 5, 5));
	EXPECT_EQ(region.CountRects(), 0);
	region.Set(BRect(-inf, 0, 5, 5));
	EXPECT_EQ(region.CountRects(), 0);
	region.Set(BRect(6, 0, 5, 5));
	EXPECT_EQ(region.CountRects(), 0);
	region.Set(BRect(-1e30f, -1e30f, 1e30f, 1e30f));  // clamped, not overflowed
	EXPECT_EQ(region.CountRects(), 1);
	region.OffsetBy(2000000000, 2000000000);
	EXPECT_TRUE(region.Frame().IsValid());
}

TEST(Shape, OpsFollowTheStoredForm)
{
	BShape shape;
	shape.MoveTo(BPoint(0, 0));
	shape.LineTo(BPoint(10, 0));
	shape.LineTo(BPoint(10, 10));
	shape.LineTo(BPoint(0, 10));
	shape.Close();
	BPoint curve[3] = {BPoint(20, 0), BPoint(30, 10), BPoint(20, 20)};
	shape.MoveTo(BPoint(15, 15));
	shape.BezierTo(curve);
	ASSERT_EQ(shape.CountOps(), 2);
	EXPECT_EQ(shape.Ops()[0], 0x80000000u | 0x10000000u | 0x40000000u | 3);
	EXPECT_EQ(shape.Ops()[1], 0x80000000u | 0x20000000u | 3);
	EXPECT_EQ(shape.CountPoints(), 8);
	EXPECT_EQ(shape.Bounds(), BRect(0, 0, 30, 20));

	struct Recorder : BShapeIterator {
		std::string steps;
		status_t IterateMoveTo(BPoint*) override { steps += "M"; return B_OK; }
		status_t IterateLineTo(int32 count, BPoint*) override
		{
			steps += "L" + std::to_string(count);
			return B_OK;
		}
		status_t IterateBezierTo(int32 count, BPoint*) override
		{
			steps += "B" + std::to_string(count);
			return B_OK;
		}
		status_t IterateClose() override { steps += "Z"; return B_OK; }
	} recorder;
	EXPECT_EQ(recorder.Iterate(&shape), B_OK);
	EXPECT_EQ(recorder.steps, "ML3ZMB1");

	// Data whose ops ask for more points than given is refused whole.
	const uint32 ops[1] = {0x90000005};
	const BPoint points[3];
	BShape bad;
	EXPECT_EQ(bad.SetData(1, ops, 3, points), B_BAD_DATA);
	EXPECT_EQ(bad.CountOps(), 0);
	const uint32 good[1] = {0x90000002};
	EXPECT_EQ(bad.SetData(1, good, 3, points), B_OK);
}

TEST(Polygon, FrameAndMapping)
{
	const BPoint points[3] = {BPoint(0, 0), BPoint(10, 5), BPoint(4, 20)};
	BPolygon polygon(points, 3);
	EXPECT_EQ(polygon.Frame(), BRect(0, 0, 10, 20));
	polygon.MapTo(BRect(0, 0, 10, 20), BRect(100, 100, 120, 140));
	EXPECT_EQ(polygon.Frame(), BRect(100, 100, 120, 140));
}
