#include "EngineFixture.h"

namespace {

class PageBytes : public EngineTest {};

}  // namespace


TEST_F(PageBytes, HeadersOfColourAndBlackAndWhitePages)
{
	factor = 4;
	send_page_header(false);
	EXPECT_EQ(Flushed(), hex_bytes({0x1B, 0x45, 0x1B, 0x2A, 0x74, 0x33, 0x30, 0x30, 0x52, 0x1B,
		0x26, 0x6C, 0x30, 0x45, 0x1B, 0x2A, 0x62, 0x30, 0x4D, 0x1B, 0x2A, 0x72, 0x2D, 0x34,
		0x55}));

	SetUp();
	factor = 4;
	send_page_header(true);
	EXPECT_EQ(Flushed(), hex_bytes({0x1B, 0x45, 0x1B, 0x2A, 0x74, 0x33, 0x30, 0x30, 0x52, 0x1B,
		0x26, 0x6C, 0x30, 0x45, 0x1B, 0x2A, 0x62, 0x30, 0x4D, 0x1B, 0x2A, 0x72, 0x31, 0x55}));

	SetUp();
	factor = 1;
	send_page_header(true);
	EXPECT_EQ(Flushed().size(), 23u);

	SetUp();
	factor = 2;
	send_raster_resolution((int)(75 * factor));
	send_form_feed();
	EXPECT_EQ(Flushed(), hex_bytes({0x1B, 0x2A, 0x74, 0x31, 0x35, 0x30, 0x52, 0x0C}));
}


TEST(JobGeometry, PaperSizesAndResolutions)
{
	struct {
		BRect paper;
		int32 xres;
		float factor;
		int32 spool_width;
		int32 band_num;
	} cases[] = {
		{BRect(0, 0, 637.5, 825), 300, 4, 320, 36},
		{BRect(0, 0, 637.5, 825), 150, 2, 160, 18},
		{BRect(0, 0, 637.5, 825), 75, 1, 80, 9},
		{BRect(0, 0, 619.8, 877.05), 300, 4, 312, 36},
		{BRect(0, 0, 825, 1275), 300, 4, 416, 52},
		{BRect(0, 0, 637.5, 1050), 300, 4, 320, 44},
		{BRect(0, 0, 637.5, 825), 200, 2, 160, 18},
		{BRect(0, 0, 640, 900), 300, 4, 320, 36},
		// No "paper_rect": the empty rect, -1 by -1, still gives one unit each way.
		{BRect(), 300, 4, 4, 4},
	};
	for (const auto& test : cases) {
		job_geometry geometry;
		ASSERT_TRUE(compute_geometry(test.paper, test.xres, &geometry));
		EXPECT_EQ(geometry.factor, test.factor);
		EXPECT_EQ(geometry.spool_width, test.spool_width);
		EXPECT_EQ(geometry.band_num, test.band_num);
	}
}


TEST(JobGeometry, UnprintableGeometryIsRefused)
{
	job_geometry geometry;
	EXPECT_FALSE(compute_geometry(BRect(0, 0, 637.5, 825), 74, &geometry));
	EXPECT_FALSE(compute_geometry(BRect(0, 0, 637.5, 825), -300, &geometry));
	EXPECT_FALSE(compute_geometry(BRect(0, 0, -9, 825), 300, &geometry));
	EXPECT_FALSE(compute_geometry(BRect(0, 0, 637.5, -101), 300, &geometry));
	EXPECT_FALSE(compute_geometry(BRect(0, 0, 1e30f, 825), 300, &geometry));
	EXPECT_FALSE(compute_geometry(BRect(0, 0, 637.5, __builtin_nanf("")), 300, &geometry));
	EXPECT_FALSE(compute_geometry(BRect(0, 0, 637.5, 825), 2147483647, &geometry));

	// A band row of at most 64 KiB: 16 * SpoolWidth + 4 bytes.
	EXPECT_TRUE(compute_geometry(BRect(0, 0, 32760, 825), 75, &geometry));
	EXPECT_EQ(geometry.spool_width, 4095);
	EXPECT_FALSE(compute_geometry(BRect(0, 0, 32761, 825), 75, &geometry));
}
