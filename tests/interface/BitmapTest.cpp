#include "DrawingTestUtils.h"
#include "kits/interface/BitmapPrivate.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace {

struct SpaceCase {
	color_space space;
	int32 bytesPerRow;  // for a 7-pixel row
	uint8 red[4];  // pure red as stored
};

const SpaceCase kSpaces[] = {
	{B_RGB32, 28, {0x00, 0x00, 0xff, 0xff}},
	{B_RGBA32, 28, {0x00, 0x00, 0xff, 0xff}},
	{B_RGB24, 24, {0x00, 0x00, 0xff}},
	{B_RGB16, 16, {0x00, 0xf8}},
	{B_RGB16_BIG, 16, {0xf8, 0x00}},
	{B_GRAY8, 8, {76}},  // 255 * 77 / 256
	{B_CMAP8, 8, {180}},  // (5, 0, 0) in the colour cube
};

} // namespace

TEST(Bitmap, EachSpaceStoresRowsPaddedAndPixelsInItsOwnLayout)
{
	for (const SpaceCase& test : kSpaces) {
		SCOPED_TRACE(test.space);
		BBitmap bitmap(BRect(0, 0, 6, 2), test.space, true);
		ASSERT_EQ(bitmap.InitCheck(), B_OK);
		EXPECT_EQ(bitmap.BytesPerRow(), test.bytesPerRow);
		EXPECT_EQ(bitmap.BitsLength(), test.bytesPerRow * 3);
		EXPECT_EQ(bitmap.ColorSpace(), test.space);
		EXPECT_EQ(bitmap.Bounds(), BRect(0, 0, 6, 2));

		// One red pixel at (6, 1), the last of the middle row: only its bytes change.
		std::vector<uint8> before(static_cast<uint8*>(bitmap.Bits()),
			static_cast<uint8*>(bitmap.Bits()) + bitmap.BitsLength());
		BView* view = new BView(bitmap.Bounds(), "v", B_FOLLOW_NONE, B_WILL_DRAW);
		bitmap.AddChild(view);
		view->SetHighColor(255, 0, 0);
		view->FillRect(BRect(6, 1, 6, 1));
		size_t size = bytes_per_pixel_of(test.space);
		const uint8* bits = static_cast<const uint8*>(bitmap.Bits());
		size_t offset = bitmap.BytesPerRow() + 6 * size;
		EXPECT_EQ(memcmp(bits + offset, test.red, size), 0);
		for (size_t i = 0; i < before.size(); i++) {
			if (i < offset || i >= offset + size) {
				ASSERT_EQ(bits[i], before[i]) << "byte " << i;
			}
		}
	}
}

TEST(Bitmap, ImportBitsConvertsBetweenSpacesAndBack)
{
	BBitmap source(BRect(0, 0, 4, 1), B_RGB32);
	uint8* bits = static_cast<uint8*>(source.Bits());
	const uint8 colours[5][3] = {{0xff, 0, 0}, {0, 0xff, 0}, {0, 0, 0xff}, {0xff, 0xff, 0xff},
		{0x12, 0x34, 0x56}};
	for (int32 x = 0; x < 5; x++) {
		bits[x * 4 + 0] = colours[x][2];
		bits[x * 4 + 1] = colours[x][1];
		bits[x * 4 + 2] = colours[x][0];
	}
	BBitmap big(BRect(0, 0, 4, 1), B_RGB16_BIG);
	ASSERT_EQ(big.ImportBits(&source), B_OK);
	const uint8* words = static_cast<const uint8*>(big.Bits());
	const uint8 expected[10] = {0xf8, 0x00, 0x07, 0xe0, 0x00, 0x1f, 0xff, 0xff, 0x11, 0xaa};
	EXPECT_EQ(memcmp(words, expected, 10), 0);

	// Back to 32 bits: the high bits repeat into the low ones, and converting down again
	// gives the same words.
	BBitmap wide(BRect(0, 0, 4, 1), B_RGB32);
	ASSERT_EQ(wide.ImportBits(&big), B_OK);
	BBitmap again(BRect(0, 0, 4, 1), B_RGB16_BIG);
	ASSERT_EQ(again.ImportBits(&wide), B_OK);
	EXPECT_EQ(memcmp(again.Bits(), big.Bits(), big.BitsLength()), 0);

	BBitmap other(BRect(0, 0, 5, 1), B_RGB32);
	EXPECT_EQ(other.ImportBits(&source), B_BAD_VALUE);
}

TEST(Bitmap, BadBoundsAndSpacesFailWithoutBits)
{
	const float nan = std::numeric_limits<float>::quiet_NaN();
	const float inf = std::numeric_limits<float>::infinity();
	struct {
		BRect bounds;
		color_space space;
		status_t status;
	} cases[] = {
		{BRect(0, 0, 9, 9), B_RGB15, B_BAD_VALUE},
		{BRect(0, 0, 9, 9), B_GRAY1, B_BAD_VALUE},
		{BRect(0, 0, 9, 9), B_YCbCr422, B_BAD_VALUE},
		{BRect(0, 0, 9, 9), B_NO_COLOR_SPACE, B_BAD_VALUE},
		{BRect(0, 0, nan, 9), B_RGB32, B_BAD_VALUE},
		{BRect(0, 0, inf, 9), B_RGB32, B_BAD_VALUE},
		{BRect(5, 0, 4, 9), B_RGB32, B_BAD_VALUE},
		{BRect(0, 0, 1e30f, 1e30f), B_RGB32, B_NO_MEMORY},
		{BRect(-1e30f, 0, 1e30f, 0), B_GRAY8, B_NO_MEMORY},
		{BRect(0, 0, 100000, 100000), B_RGB32, B_NO_MEMORY},
	};
	for (const auto& test : cases) {
		BBitmap bitmap(test.bounds, test.space, true);
		EXPECT_EQ(bitmap.InitCheck(), test.status);
		EXPECT_EQ(bitmap.Bits(), nullptr);
		EXPECT_EQ(bitmap.BitsLength(), 0);
		BView* view = new BView(BRect(0, 0, 9, 9), "v", B_FOLLOW_NONE, B_WILL_DRAW);
		bitmap.AddChild(view);  // refused: no drawing surface
		EXPECT_EQ(bitmap.CountChildren(), 0);
		view->FillRect(BRect(0, 0, 9, 9));
		delete view;
	}
}

TEST(Bitmap, ExplicitBytesPerRowIsKeptWhenLargeEnough)
{
	BBitmap padded(BRect(0, 0, 9, 1), 0, B_RGB16_BIG, 64);
	ASSERT_EQ(padded.InitCheck(), B_OK);
	EXPECT_EQ(padded.BytesPerRow(), 64);
	EXPECT_EQ(padded.BitsLength(), 128);
	BBitmap tooShort(BRect(0, 0, 9, 1), 0, B_RGB16_BIG, 19);
	EXPECT_EQ(tooShort.InitCheck(), B_BAD_VALUE);
}

TEST(Bitmap, BandBitmapHasTheRasterGeometry)
{
	// A US Letter band at 300 dpi: 2561 pixels of 2 bytes padded to 5124 bytes, 101 rows.
	BBitmap band(BRect(0, 0, 2560, 100), B_RGB16_BIG, true);
	ASSERT_EQ(band.InitCheck(), B_OK);
	EXPECT_EQ(band.BytesPerRow(), 5124);
	EXPECT_EQ(band.BitsLength(), 5124 * 101);
	EXPECT_TRUE(bitmaps_support_space(B_RGB16_BIG, NULL));
	EXPECT_FALSE(bitmaps_support_space(B_RGB15, NULL));
}

TEST(Bitmap, ChildrenAreFoundRemovedAndOwned)
{
	BBitmap* bitmap = new BBitmap(BRect(0, 0, 99, 99), B_RGB32, true);
	BView* top = new BView(BRect(0, 0, 99, 99), "top", B_FOLLOW_ALL_SIDES, B_WILL_DRAW);
	BView* inner = new BView(BRect(10, 10, 19, 19), "inner", B_FOLLOW_NONE, B_WILL_DRAW);
	top->AddChild(inner);
	bitmap->AddChild(top);
	EXPECT_EQ(bitmap->CountChildren(), 1);
	EXPECT_EQ(bitmap->ChildAt(0), top);
	EXPECT_EQ(bitmap->ChildAt(1), nullptr);
	EXPECT_EQ(bitmap->FindView("inner"), inner);
	EXPECT_EQ(bitmap->FindView("missing"), nullptr);
	EXPECT_TRUE(bitmap->RemoveChild(top));
	EXPECT_FALSE(bitmap->RemoveChild(top));
	EXPECT_EQ(bitmap->CountChildren(), 0);
	bitmap->AddChild(top);
	delete bitmap;  // deletes top and inner; the sanitizer reports a leak or double free
}

TEST(Bitmap, LockIsRecursiveAndBelongsToOneThread)
{
	BBitmap bitmap(BRect(0, 0, 9, 9), B_RGB32, true);
	EXPECT_FALSE(bitmap.IsLocked());
	ASSERT_TRUE(bitmap.Lock());
	ASSERT_TRUE(bitmap.Lock());
	EXPECT_TRUE(bitmap.IsLocked());
	bool lockedElsewhere = true;
	std::thread([&] { lockedElsewhere = bitmap.IsLocked(); }).join();
	EXPECT_FALSE(lockedElsewhere);
	bitmap.Unlock();
	EXPECT_TRUE(bitmap.IsLocked());
	bitmap.Unlock();
	EXPECT_FALSE(bitmap.IsLocked());
	bitmap.Unlock();  // unbalanced: ignored
	EXPECT_FALSE(bitmap.IsLocked());
}

TEST(Bitmap, FailedCairoDrawingIsReportedOnceAndLeavesThePixels)
{
	BBitmap bitmap(BRect(0, 0, 15, 9), B_RGB16_BIG, true);
	ASSERT_NE(bitmap.Private(), nullptr);
	memset(bitmap.Bits(), 0x5a, bitmap.BitsLength());
	EXPECT_EQ(bitmap.TakeDrawingError(), B_OK);

	// A singular matrix puts the context in error: what it drew must not land.
	bitmap.Private()->Render(DeviceRect{0, 0, 16, 10}, nullptr, [](cairo_t* cr) {
		cairo_set_source_rgb(cr, 0, 0, 0);
		cairo_scale(cr, 0, 0);
		cairo_paint(cr);
	});
	EXPECT_EQ(bitmap.TakeDrawingError(), B_ERROR);
	EXPECT_EQ(bitmap.TakeDrawingError(), B_OK);
	const uint8* bits = static_cast<const uint8*>(bitmap.Bits());
	for (int32 i = 0; i < bitmap.BitsLength(); i++)
		ASSERT_EQ(bits[i], 0x5a) << "byte " << i;

	// A sound drawing still draws, and reports nothing.
	bitmap.Private()->Render(DeviceRect{0, 0, 16, 10}, nullptr, [](cairo_t* cr) {
		cairo_set_source_rgb(cr, 0, 0, 0);
		cairo_paint(cr);
	});
	EXPECT_EQ(bitmap.TakeDrawingError(), B_OK);
	EXPECT_EQ(bits[0], 0);
}
