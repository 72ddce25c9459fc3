#include "DrawingTestUtils.h"

#include <Polygon.h>
#include <Region.h>
#include <Shape.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const uint16 kBlack = 0x0000;
const uint16 kRed = 0xf800;

} // namespace

TEST(ViewFill, RectCoversItsInclusivePixelsAtScaleOne)
{
	Canvas canvas(32, 24);
	canvas.view->SetHighColor(0, 0, 0);
	canvas.view->FillRect(BRect(3, 5, 12, 14));
	EXPECT_TRUE(canvas.Covers(in_rect(3, 5, 12, 14), kBlack));
}

TEST(ViewFill, RectAtScaleFourCoversFourTimesTheArea)
{
	Canvas canvas(64, 64);
	canvas.view->SetScale(4);
	canvas.view->SetHighColor(0, 0, 0);
	canvas.view->FillRect(BRect(1, 2, 10, 11));
	EXPECT_TRUE(canvas.Covers(in_rect(4, 8, 43, 47), kBlack));
}

TEST(ViewFill, FractionalRectFillsPixelsWhoseCentresItHolds)
{
	Canvas canvas(16, 16);
	canvas.view->SetHighColor(0, 0, 0);
	// Covers [2.4, 6.6) x [3.6, 5.2): the centres 2.5 to 6.5 across, 4.5 down.
	canvas.view->FillRect(BRect(2.4f, 3.6f, 5.6f, 4.2f));
	EXPECT_TRUE(canvas.Covers(in_rect(2, 4, 6, 4), kBlack));

	// The same area through Cairo (a stippled fill) lights the same pixels.
	Canvas stippled(16, 16);
	stippled.view->SetHighColor(0, 0, 0);
	stippled.view->SetLowColor(0, 0, 0);
	stippled.view->FillRect(BRect(2.4f, 3.6f, 5.6f, 4.2f), B_MIXED_COLORS);
	EXPECT_TRUE(stippled.Covers(in_rect(2, 4, 6, 4), kBlack));
}

TEST(ViewFill, BandArithmeticPlacesAndClipsAsTheBandRendererNeeds)
{
	// A band at 300 dpi: scale 4, band 1 (offset 25 page units). The picture at (0, 0) with
	// rect (0, 0, 637.5, 825) is clipped to (0, -25, 637.5, 800) and drawn at (0, -25); its
	// 10 x 10 rect at page unit (0, 30) lands on band rows 20 to 59, columns 0 to 39.
	Canvas canvas(2561, 101);
	BView* view = canvas.view;
	view->SetScale(4);
	BRegion clip(BRect(0, -25, 637.5f, 800));
	view->ConstrainClippingRegion(&clip);
	view->PushState();
	view->SetOrigin(0, -25);
	view->SetHighColor(255, 0, 0);
	view->FillRect(BRect(0, 30, 9, 39));
	view->PopState();
	EXPECT_TRUE(canvas.Covers(in_rect(0, 20, 39, 59), kRed));

	// Band 35: clipped to (0, -875, 637.5, -50); nothing reaches the band.
	Canvas last(2561, 101);
	last.view->SetScale(4);
	BRegion away(BRect(0, -875, 637.5f, -50));
	last.view->ConstrainClippingRegion(&away);
	last.view->PushState();
	last.view->SetOrigin(0, -875);
	last.view->SetHighColor(0, 0, 0);
	last.view->FillRect(BRect(0, 0, 637.5f, 825));
	last.view->PopState();
	EXPECT_TRUE(last.Covers(in_rect(0, 0, -1, -1), kBlack));

	// A rectangle (100, 100, 200, 300) placed at (10, 20) clips to (10, 20 - o, 110, 220 - o):
	// in band 1 that is device columns 40 to 443, rows 0 to 100 of the bitmap.
	Canvas placed(2561, 101);
	placed.view->SetScale(4);
	BRegion own(BRect(10, 20 - 25, 110, 220 - 25));
	placed.view->ConstrainClippingRegion(&own);
	placed.view->PushState();
	placed.view->SetOrigin(10, 20 - 25);
	placed.view->SetHighColor(0, 0, 0);
	placed.view->FillRect(BRect(-1000, -1000, 1000, 1000));
	placed.view->PopState();
	EXPECT_TRUE(placed.Covers(in_rect(40, 0, 443, 100), kBlack));

	// The next band's white fill is not limited by the picture's clipping once removed.
	placed.view->ConstrainClippingRegion(NULL);
	placed.view->SetHighColor(255, 255, 255);
	placed.view->FillRect(placed.view->Bounds());
	EXPECT_TRUE(placed.Covers(in_rect(0, 0, -1, -1), kBlack));
}

TEST(ViewColor, ChannelsAreTruncatedIntoSixteenBits)
{
	Canvas canvas(8, 4);
	BView* view = canvas.view;
	view->SetHighColor(255, 0, 0);
	view->FillRect(BRect(0, 0, 0, 0));
	view->SetHighColor(0x12, 0x34, 0x56);
	view->FillRect(BRect(1, 0, 1, 0));
	view->SetHighColor(0x07, 0x03, 0x07);  // below one step of every channel
	view->FillRect(BRect(2, 0, 2, 0));
	// Through Cairo (an outline, not a plain rect): the same rule.
	view->SetHighColor(0x12, 0x34, 0x56);
	view->StrokeLine(BPoint(0, 2), BPoint(7, 2));
	EXPECT_EQ(canvas.Word(0, 0), 0xf800);
	EXPECT_EQ(canvas.Word(1, 0), 0x11aa);
	EXPECT_EQ(canvas.Word(2, 0), 0x0000);
	EXPECT_EQ(canvas.Word(3, 0), 0xffff);
	for (int32 x = 0; x < 8; x++)
		EXPECT_EQ(canvas.Word(x, 2), 0x11aa) << x;
}

TEST(ViewStroke, ThinLinesLightExactlyTheirPixels)
{
	Canvas canvas(20, 20);
	BView* view = canvas.view;
	view->SetHighColor(0, 0, 0);
	view->StrokeLine(BPoint(2, 3), BPoint(9, 3));
	EXPECT_TRUE(canvas.Covers(in_rect(2, 3, 9, 3), kBlack));
	EXPECT_EQ(view->PenLocation(), BPoint(9, 3));

	Canvas vertical(20, 20);
	vertical.view->SetHighColor(0, 0, 0);
	vertical.view->MovePenTo(5, 1);
	vertical.view->StrokeLine(BPoint(5, 12));
	EXPECT_TRUE(vertical.Covers(in_rect(5, 1, 5, 12), kBlack));

	Canvas diagonal(20, 20);
	diagonal.view->SetHighColor(0, 0, 0);
	diagonal.view->StrokeLine(BPoint(0, 0), BPoint(9, 9));
	EXPECT_TRUE(diagonal.Covers([](int32 x, int32 y) { return x == y && x <= 9; }, kBlack));

	Canvas outline(20, 20);
	outline.view->SetHighColor(0, 0, 0);
	outline.view->StrokeRect(BRect(2, 2, 8, 6));
	EXPECT_TRUE(outline.Covers([](int32 x, int32 y) {
		return in_rect(2, 2, 8, 6)(x, y) && !in_rect(3, 3, 7, 5)(x, y);
	}, kBlack));

	// At scale 4 a pen of 1 is 4 pixels wide, centred on the scaled pixel.
	Canvas scaled(40, 40);
	scaled.view->SetScale(4);
	scaled.view->SetHighColor(0, 0, 0);
	scaled.view->StrokeLine(BPoint(1, 2), BPoint(6, 2));
	EXPECT_TRUE(scaled.Covers(in_rect(4, 8, 27, 11), kBlack));
}

TEST(ViewStroke, OutlinesAndCurvesHaveNoGreyPixels)
{
	Canvas canvas(120, 120);
	BView* view = canvas.view;
	view->SetHighColor(0, 0, 0);
	view->StrokeLine(BPoint(3, 100), BPoint(97, 7));
	view->StrokeEllipse(BRect(10, 10, 60, 40));
	view->FillEllipse(BPoint(80, 80), 17.3f, 11.1f);
	view->StrokeArc(BRect(5, 60, 50, 110), 30, 200);
	view->FillArc(BRect(60, 5, 110, 55), -45, 135);
	view->FillRoundRect(BRect(20, 45, 70, 75), 6, 9);
	BPoint bezier[4] = {BPoint(0, 119), BPoint(40, 60), BPoint(80, 119), BPoint(119, 60)};
	view->StrokeBezier(bezier);
	view->FillTriangle(BPoint(90, 100), BPoint(117, 110), BPoint(95, 118));
	view->SetPenSize(3.5f);
	view->StrokeRoundRect(BRect(30, 30, 90, 90), 10, 10);
	EXPECT_EQ(canvas.CountOther(kBlack), 0);
	EXPECT_GT(canvas.Count(kBlack), 1000);
}

TEST(ViewFill, EllipseStaysInsideItsRect)
{
	Canvas canvas(30, 30);
	canvas.view->SetHighColor(0, 0, 0);
	canvas.view->FillEllipse(BRect(5, 7, 24, 16));
	// Inside the 20 x 10 rect, touching each of its four edges.
	for (int32 y = 0; y < 30; y++) {
		for (int32 x = 0; x < 30; x++) {
			if (!in_rect(5, 7, 24, 16)(x, y)) {
				ASSERT_EQ(canvas.Word(x, y), 0xffff) << x << ", " << y;
			}
		}
	}
	EXPECT_EQ(canvas.Word(5, 11), kBlack);
	EXPECT_EQ(canvas.Word(24, 11), kBlack);
	EXPECT_EQ(canvas.Word(14, 7), kBlack);
	EXPECT_EQ(canvas.Word(14, 16), kBlack);
}

TEST(ViewFill, PolygonIncludesItsEdgePixelsLikeARect)
{
	Canvas canvas(20, 20);
	canvas.view->SetHighColor(0, 0, 0);
	const BPoint square[4] = {BPoint(2, 3), BPoint(11, 3), BPoint(11, 12), BPoint(2, 12)};
	canvas.view->FillPolygon(square, 4);
	EXPECT_TRUE(canvas.Covers(in_rect(2, 3, 11, 12), kBlack));

	Canvas shaped(20, 20);
	shaped.view->SetHighColor(0, 0, 0);
	BShape shape;
	shape.MoveTo(BPoint(2, 3));
	shape.LineTo(BPoint(11, 3));
	shape.LineTo(BPoint(11, 12));
	shape.LineTo(BPoint(2, 12));
	shape.Close();
	shaped.view->FillShape(&shape);
	EXPECT_TRUE(shaped.Covers(in_rect(2, 3, 11, 12), kBlack));
}

TEST(ViewClip, DrawingStaysInsideTheClippingRegion)
{
	Canvas canvas(40, 30);
	BView* view = canvas.view;
	BRegion region(BRect(2, 2, 9, 9));
	region.Include(BRect(20, 5, 29, 24));
	view->ConstrainClippingRegion(&region);
	view->SetHighColor(0, 0, 0);
	view->FillRect(BRect(0, 0, 39, 29));
	view->FillEllipse(BRect(0, 0, 39, 29));
	view->SetPenSize(5);
	view->StrokeLine(BPoint(0, 15), BPoint(39, 15));
	EXPECT_TRUE(canvas.Covers([&](int32 x, int32 y) { return region.Contains(x, y); },
		kBlack));

	BRegion got;
	view->GetClippingRegion(&got);
	EXPECT_TRUE(got == region);

	view->ConstrainClippingRegion(NULL);
	view->FillRect(BRect(0, 0, 39, 29));
	EXPECT_TRUE(canvas.Covers(in_rect(0, 0, 39, 29), kBlack));

	// An empty region clips everything away.
	BRegion empty;
	view->ConstrainClippingRegion(&empty);
	view->SetHighColor(255, 255, 255);
	view->FillRect(BRect(0, 0, 39, 29));
	EXPECT_TRUE(canvas.Covers(in_rect(0, 0, 39, 29), kBlack));
}

TEST(ViewState, PushAndPopRestoreEveryValue)
{
	Canvas canvas(10, 10);
	BView* view = canvas.view;
	view->SetHighColor(255, 0, 0);
	view->SetPenSize(2);
	view->SetScale(2);
	view->SetDrawingMode(B_OP_OVER);
	view->PushState();
	EXPECT_EQ(view->HighColor(), make_color(255, 0, 0));
	EXPECT_EQ(view->Scale(), 1.0f);  // each level has its own scale
	view->SetHighColor(0, 0, 255);
	view->SetPenSize(7);
	view->SetScale(3);
	view->SetOrigin(5, 5);
	view->SetDrawingMode(B_OP_ALPHA);
	BFont font;
	font.SetSize(30);
	view->SetFont(&font, B_FONT_SIZE);
	view->PopState();
	EXPECT_EQ(view->HighColor(), make_color(255, 0, 0));
	EXPECT_EQ(view->PenSize(), 2.0f);
	EXPECT_EQ(view->Scale(), 2.0f);
	EXPECT_EQ(view->Origin(), BPoint(0, 0));
	EXPECT_EQ(view->DrawingMode(), B_OP_OVER);
	BFont current;
	view->GetFont(&current);
	EXPECT_EQ(current.Size(), be_plain_font->Size());

	// Popping the bottom level is ignored.
	view->PopState();
	view->PopState();
	EXPECT_EQ(view->HighColor(), make_color(255, 0, 0));

	// Nested levels combine their origins and scales.
	Canvas nested(40, 40);
	nested.view->SetScale(2);
	nested.view->SetOrigin(1, 1);  // device (1, 1)
	nested.view->PushState();
	nested.view->SetOrigin(3, 2);  // device (1 + 6, 1 + 4)
	nested.view->SetScale(1.5f);   // device scale 3
	nested.view->SetHighColor(0, 0, 0);
	nested.view->FillRect(BRect(0, 0, 1, 1));
	EXPECT_TRUE(nested.Covers(in_rect(7, 5, 12, 10), kBlack));
}

TEST(ViewPattern, StipplesUseHighAndLowColours)
{
	Canvas canvas(16, 8);
	BView* view = canvas.view;
	view->SetHighColor(0, 0, 0);
	view->SetLowColor(255, 0, 0);
	view->FillRect(BRect(0, 0, 7, 7), B_MIXED_COLORS);
	view->FillRect(BRect(8, 0, 15, 3), B_SOLID_LOW);
	for (int32 y = 0; y < 8; y++) {
		for (int32 x = 0; x < 8; x++) {
			bool high = (B_MIXED_COLORS.data[y] & (0x80 >> x)) != 0;
			ASSERT_EQ(canvas.Word(x, y), high ? kBlack : kRed) << x << ", " << y;
		}
	}
	EXPECT_EQ(canvas.Word(8, 0), kRed);

	// In B_OP_OVER the low colour is transparent.
	view->SetDrawingMode(B_OP_OVER);
	view->FillRect(BRect(8, 4, 15, 7), B_SOLID_LOW);
	EXPECT_EQ(canvas.Word(8, 4), 0xffff);
	view->FillRect(BRect(8, 4, 15, 7), B_MIXED_COLORS);
	EXPECT_EQ(canvas.Word(8, 4), kBlack);
	EXPECT_EQ(canvas.Word(9, 4), 0xffff);
}

TEST(ViewText, AliasedTextHoldsOnlyTheDrawnColour)
{
	for (color_space space : {B_RGB16_BIG, B_RGB32}) {
		Canvas canvas(200, 40, space);
		BView* view = canvas.view;
		view->ForceFontAliasing(true);
		view->SetHighColor(0, 0, 0);
		BFont font(be_plain_font);
		font.SetSize(17);
		view->SetFont(&font);
		view->DrawString("Aliased text, 0123 & Ωé", BPoint(4, 28));
		int32 black = 0;
		for (int32 y = 0; y < 40; y++) {
			for (int32 x = 0; x < 200; x++) {
				const uint8* pixel = canvas.Pixel(x, y);
				bool isBlack = pixel[0] == 0 && pixel[1] == 0;
				bool isWhite = pixel[0] == 0xff && pixel[1] == 0xff;
				ASSERT_TRUE(isBlack || isWhite) << x << ", " << y;
				black += isBlack;
			}
		}
		EXPECT_GT(black, 200);
		EXPECT_GT(view->PenLocation().x, 100);
	}

	// Without forcing, the same text has grey edges.
	Canvas smooth(200, 40, B_RGB32);
	smooth.view->SetHighColor(0, 0, 0);
	BFont font(be_plain_font);
	font.SetSize(17);
	smooth.view->SetFont(&font);
	smooth.view->DrawString("Smooth", BPoint(4, 28));
	int32 grey = 0;
	for (int32 y = 0; y < 40; y++)
		for (int32 x = 0; x < 200; x++)
			grey += smooth.Rgb(x, y) != 0 && smooth.Rgb(x, y) != 0xffffff;
	EXPECT_GT(grey, 0);
}

TEST(ViewText, PenAdvancesByTheStringWidthAndTextScalesWithTheView)
{
	Canvas canvas(400, 100);
	BView* view = canvas.view;
	view->ForceFontAliasing(true);
	view->SetHighColor(0, 0, 0);
	view->MovePenTo(10, 30);
	float width = view->StringWidth("Width");
	view->DrawString("Width");
	EXPECT_FLOAT_EQ(view->PenLocation().x, 10 + width);
	escapement_delta delta = {2, 5};
	view->DrawString("a b", &delta);  // two non-space characters and one space
	EXPECT_NEAR(view->PenLocation().x, 10 + width + view->StringWidth("a b") + 2 * 2 + 5,
		1e-3);
	view->DrawChar('x', BPoint(10, 60));
	EXPECT_NEAR(view->PenLocation().x, 10 + view->StringWidth("x"), 1e-4);

	// Twice the scale, twice the inked width.
	auto inked_width = [](float scale) {
		Canvas text(400, 100);
		text.view->ForceFontAliasing(true);
		text.view->SetScale(scale);
		text.view->SetHighColor(0, 0, 0);
		text.view->DrawString("MMMM", BPoint(2, 30 / scale));
		int32 left = 400, right = -1;
		for (int32 y = 0; y < 100; y++)
			for (int32 x = 0; x < 400; x++)
				if (text.Word(x, y) == 0) {
					left = std::min(left, x);
					right = std::max(right, x);
				}
		return right - left + 1;
	};
	int32 single = inked_width(1);
	int32 twice = inked_width(2);
	EXPECT_GT(single, 10);
	EXPECT_NEAR(twice, 2 * single, 3);
}

namespace {

// An "F" in red on blue, 5 x 7, in B_RGB32: no symmetry, distinct channels.
std::unique_ptr<BBitmap> make_f(color_space space = B_RGB32)
{
	static const char* kRows[7] = {"#####", "#....", "#....", "####.", "#....", "#....",
		"#...."};
	BBitmap rgb(BRect(0, 0, 4, 6), B_RGB32);
	for (int32 y = 0; y < 7; y++) {
		uint8* row = static_cast<uint8*>(rgb.Bits()) + y * rgb.BytesPerRow();
		for (int32 x = 0; x < 5; x++) {
			bool ink = kRows[y][x] == '#';
			row[x * 4 + 0] = ink ? 0 : 255;
			row[x * 4 + 1] = 0;
			row[x * 4 + 2] = ink ? 255 : 0;
			row[x * 4 + 3] = 255;
		}
	}
	std::unique_ptr<BBitmap> image(new BBitmap(BRect(0, 0, 4, 6), space));
	image->ImportBits(&rgb);
	return image;
}

bool f_ink(int32 x, int32 y)
{
	static const char* kRows[7] = {"#####", "#....", "#....", "####.", "#....", "#....",
		"#...."};
	return kRows[y][x] == '#';
}

} // namespace

TEST(ViewBitmap, ScaledImageLandsPixelForPixel)
{
	for (color_space space : {B_RGB32, B_RGB16_BIG, B_CMAP8}) {
		SCOPED_TRACE(space);
		std::unique_ptr<BBitmap> image = make_f(space);
		Canvas canvas(40, 40);
		// 5 x 7 scaled by 3 into (11, 4)-(25, 24).
		canvas.view->DrawBitmap(image.get(), image->Bounds(), BRect(11, 4, 25, 24));
		for (int32 y = 0; y < 40; y++) {
			for (int32 x = 0; x < 40; x++) {
				uint16 want = 0xffff;
				if (in_rect(11, 4, 25, 24)(x, y))
					want = f_ink((x - 11) / 3, (y - 4) / 3) ? 0xf800 : 0x001f;
				ASSERT_EQ(canvas.Word(x, y), want) << x << ", " << y;
			}
		}
	}
}

TEST(ViewBitmap, OddSizesKeepOrientationAndStayInTheirRect)
{
	std::unique_ptr<BBitmap> image = make_f();
	Canvas canvas(40, 40);
	canvas.view->DrawBitmap(image.get(), BRect(3, 2, 15, 12));  // 13 x 11 from 5 x 7
	for (int32 y = 0; y < 40; y++) {
		for (int32 x = 0; x < 40; x++) {
			if (!in_rect(3, 2, 15, 12)(x, y)) {
				ASSERT_EQ(canvas.Word(x, y), 0xffff) << x << ", " << y;
			}
		}
	}
	EXPECT_EQ(canvas.Word(3, 2), 0xf800);    // top left: ink
	EXPECT_EQ(canvas.Word(15, 2), 0xf800);   // top right: the F's bar
	EXPECT_EQ(canvas.Word(15, 12), 0x001f);  // bottom right: background
	EXPECT_EQ(canvas.Word(3, 12), 0xf800);   // bottom left: the stem

	// A source part: the bottom two rows of the stem only, placed at a point.
	Canvas part(20, 20);
	part.view->DrawBitmap(image.get(), BRect(0, 5, 1, 6), BRect(7, 8, 8, 9));
	EXPECT_EQ(part.Word(7, 8), 0xf800);
	EXPECT_EQ(part.Word(8, 8), 0x001f);
	EXPECT_EQ(part.Word(7, 9), 0xf800);
	EXPECT_EQ(part.Word(6, 8), 0xffff);
	EXPECT_EQ(part.Word(9, 9), 0xffff);
}

TEST(ViewBitmap, OnlyTheBandsRowsOfAPageImageAreDrawn)
{
	// A page image at scale 4 in band 1: the F's rows 6 (device 24..27) reach the band at
	// origin -5 page units (device -20): band rows 4..7 hold source row 6.
	std::unique_ptr<BBitmap> image = make_f();
	Canvas canvas(40, 8);
	canvas.view->SetScale(4);
	canvas.view->PushState();
	canvas.view->SetOrigin(0, -5);
	canvas.view->DrawBitmap(image.get(), BPoint(0, 0));
	canvas.view->PopState();
	for (int32 y = 0; y < 8; y++) {
		for (int32 x = 0; x < 40; x++) {
			int32 sourceRow = (y + 20) / 4;
			uint16 want = x < 20 ? (f_ink(x / 4, sourceRow) ? 0xf800 : 0x001f) : 0xffff;
			ASSERT_EQ(canvas.Word(x, y), want) << x << ", " << y;
		}
	}
}

TEST(ViewBitmap, PixelsOfTheBandsOwnSpaceAreCopiedAsCairoWouldDrawThem)
{
	// Random 16-bit pixels drawn one to a dot on whole dots take a copy of their own; the
	// same pixels in 32 bits go through Cairo. Both must give the same bits, under a band's
	// scale and origin and a clipping of two rects, and with the bitmap partly outside.
	BBitmap wide(BRect(0, 0, 36, 22), B_RGB16_BIG);
	BBitmap deep(wide.Bounds(), B_RGB32);
	uint32 seed = 12345;
	for (int32 y = 0; y < 23; y++) {
		uint8* row16 = static_cast<uint8*>(wide.Bits()) + y * wide.BytesPerRow();
		uint8* row32 = static_cast<uint8*>(deep.Bits()) + y * deep.BytesPerRow();
		for (int32 x = 0; x < 37; x++) {
			seed = seed * 1103515245 + 12345;
			uint16 word = static_cast<uint16>(seed >> 12);
			row16[x * 2] = static_cast<uint8>(word >> 8);
			row16[x * 2 + 1] = static_cast<uint8>(word);
			uint8 red = (word >> 11) & 31, green = (word >> 5) & 63, blue = word & 31;
			row32[x * 4] = static_cast<uint8>(blue << 3 | blue >> 2);
			row32[x * 4 + 1] = static_cast<uint8>(green << 2 | green >> 4);
			row32[x * 4 + 2] = static_cast<uint8>(red << 3 | red >> 2);
			row32[x * 4 + 3] = 255;
		}
	}
	struct Placement {
		float scale;
		BPoint origin;
		BRect source, destination;
	};
	for (const Placement& p : {Placement{1, BPoint(3, -2), BRect(0, 0, 36, 22), BRect(5, 1, 41, 23)},
			 Placement{4, BPoint(0, -1.25f), BRect(2, 3, 29, 18), BRect(1, 2, 7, 5)},
			 Placement{1, BPoint(-9, 0), BRect(0, 0, 36, 22), BRect(-4, 20, 32, 42)}}) {
		Canvas copied(48, 30);
		Canvas drawn(48, 30);
		for (Canvas* canvas : {&copied, &drawn}) {
			BRegion clip;
			clip.Include(BRect(0, 0, 20, 29));
			clip.Include(BRect(25, 4, 47, 12));
			canvas->view->SetScale(p.scale);
			canvas->view->SetOrigin(p.origin);
			canvas->view->ConstrainClippingRegion(&clip);
			canvas->view->DrawBitmap(canvas == &copied ? &wide : &deep, p.source,
				p.destination);
		}
		EXPECT_EQ(memcmp(copied.bitmap->Bits(), drawn.bitmap->Bits(),
			copied.bitmap->BitsLength()), 0) << p.scale << " " << p.origin.x;
		int32 touched = 0;
		for (int32 y = 0; y < 30; y++)
			for (int32 x = 0; x < 48; x++)
				touched += copied.Word(x, y) != 0xffff;
		EXPECT_GT(touched, 100);
	}
}

TEST(ViewRobustness, AbsurdCoordinatesNeitherCrashNorDrawGarbage)
{
	const float nan = std::numeric_limits<float>::quiet_NaN();
	const float inf = std::numeric_limits<float>::infinity();
	Canvas canvas(50, 50);
	BView* view = canvas.view;
	view->SetHighColor(0, 0, 0);
	const float values[] = {nan, inf, -inf, 1e30f, -1e30f};
	std::unique_ptr<BBitmap> image = make_f();
	for (float v : values) {
		view->FillRect(BRect(v, 0, 10, 10));
		view->StrokeLine(BPoint(0, 0), BPoint(v, v));
		view->FillEllipse(BPoint(v, 5), 3, v);
		view->StrokeArc(BRect(0, 0, v, 10), v, 90);
		view->FillRoundRect(BRect(0, 0, 10, 10), v, v);
		const BPoint points[3] = {BPoint(1, 1), BPoint(v, 2), BPoint(3, v)};
		view->FillPolygon(points, 3);
		view->StrokePolygon(points, 3);
		view->DrawString("x", BPoint(v, 20));
		view->DrawBitmap(image.get(), BRect(0, 0, v, v));
		view->DrawBitmap(image.get(), BRect(v, 0, 4, 6), BRect(0, 0, 10, 10));
		view->SetScale(v);
		view->SetOrigin(v, v);
		view->SetPenSize(v);
		BRegion region(BRect(v, v, 10, 10));
		view->ConstrainClippingRegion(&region);
		view->FillRect(BRect(0, 0, 1, 1));
		view->ConstrainClippingRegion(NULL);
		BFont font;
		font.SetSize(v);
		font.SetShear(v);
		font.SetRotation(v);
		view->SetFont(&font);
		view->DrawString("y", BPoint(5, 30));
	}
	EXPECT_EQ(canvas.CountOther(kBlack), 0);

	// Extreme scalings of an image, both ways.
	std::unique_ptr<BBitmap> large(new BBitmap(BRect(0, 0, 3999, 3999), B_RGB32));
	view->DrawBitmap(large.get(), BRect(0, 0, 0.001f, 0.001f));
	view->DrawBitmap(large.get(), BRect(0, 0, 3999, 3999), BRect(0, 0, 1e-20f, 49));
	view->DrawBitmap(image.get(), BRect(0, 0, 0, 0), BRect(-3e6f, -3e6f, 3e6f, 3e6f));

	// Rectangles to infinity are clamped: they fill to the bitmap's edges.
	Canvas whole(20, 20);
	whole.view->SetHighColor(0, 0, 0);
	whole.view->FillRect(BRect(-inf, 5, inf, 1e30f));
	EXPECT_TRUE(whole.Covers(in_rect(0, 5, 19, 19), kBlack));
}

TEST(ViewDeterminism, SameCallsGiveTheSameBits)
{
	auto draw = [](Canvas* canvas) {
		BView* view = canvas->view;
		view->SetScale(1.7f);
		view->SetHighColor(10, 200, 30);
		view->FillEllipse(BRect(3, 3, 50, 40));
		view->SetHighColor(0, 0, 0);
		view->DrawString("Deterministic", BPoint(5, 30));
		view->SetPenSize(2.5f);
		view->StrokeLine(BPoint(0, 60), BPoint(100, 2));
		view->SetDrawingMode(B_OP_ALPHA);
		view->SetHighColor(0, 0, 255, 128);
		view->FillRect(BRect(20, 20, 80, 50));
	};
	Canvas first(200, 120, B_RGB32);
	Canvas second(200, 120, B_RGB32);
	draw(&first);
	draw(&second);
	EXPECT_EQ(memcmp(first.bitmap->Bits(), second.bitmap->Bits(), first.bitmap->BitsLength()),
		0);
}

TEST(ViewTree, ChildViewsDrawInsideTheirFrame)
{
	Canvas canvas(40, 40);
	BView* child = new BView(BRect(10, 12, 19, 21), "child", B_FOLLOW_NONE, B_WILL_DRAW);
	canvas.view->AddChild(child);
	EXPECT_EQ(child->Parent(), canvas.view);
	EXPECT_EQ(canvas.view->FindView("child"), child);
	EXPECT_EQ(canvas.bitmap->FindView("child"), child);
	child->SetHighColor(0, 0, 0);
	child->FillRect(BRect(-5, -5, 100, 100));
	EXPECT_TRUE(canvas.Covers(in_rect(10, 12, 19, 21), kBlack));

	child->MoveTo(0, 0);
	child->ResizeTo(4, 4);
	child->SetHighColor(255, 0, 0);
	child->FillRect(child->Bounds());
	EXPECT_EQ(canvas.Word(0, 0), kRed);
	EXPECT_EQ(canvas.Word(4, 4), kRed);
	EXPECT_EQ(canvas.Word(5, 5), 0xffff);

	// Views are handlers; a view without a name is passed over by FindView.
	BView* unnamed = new BView(BRect(0, 0, 1, 1), NULL, B_FOLLOW_NONE, 0);
	canvas.view->AddChild(unnamed, child);
	EXPECT_EQ(canvas.view->ChildAt(0), unnamed);
	EXPECT_EQ(unnamed->Name(), nullptr);
	EXPECT_STREQ(static_cast<BHandler*>(child)->Name(), "child");
	EXPECT_EQ(canvas.bitmap->FindView("child"), child);
	EXPECT_EQ(unnamed->NextSibling(), child);

	EXPECT_TRUE(canvas.view->RemoveChild(child));
	child->FillRect(child->Bounds());  // detached: draws nowhere
	delete child;
}

namespace {

class CountingView : public BView {
public:
	CountingView(BRect frame) : BView(frame, "counting", B_FOLLOW_NONE, B_WILL_DRAW) {}
	void Draw(BRect update) override
	{
		draws++;
		lastUpdate = update;
		SetHighColor(0, 0, 0);
		FillRect(Bounds());
	}
	int draws = 0;
	BRect lastUpdate;
};

} // namespace

TEST(ViewTree, InvalidatedAreasAreRedrawnWhenAsked)
{
	BBitmap bitmap(BRect(0, 0, 29, 29), B_RGB16_BIG, true);
	CountingView* view = new CountingView(BRect(0, 0, 29, 29));
	bitmap.AddChild(view);
	view->UpdateIfNeeded();
	int before = view->draws;
	view->Invalidate(BRect(5, 5, 9, 9));
	EXPECT_TRUE(view->NeedsUpdate());
	view->UpdateIfNeeded();
	EXPECT_EQ(view->draws, before + 1);
	EXPECT_EQ(view->lastUpdate, BRect(5, 5, 9, 9));
	EXPECT_FALSE(view->NeedsUpdate());
	// The update is limited to the invalidated area.
	const uint8* bits = static_cast<const uint8*>(bitmap.Bits());
	EXPECT_EQ(bits[7 * bitmap.BytesPerRow() + 7 * 2], 0);
	view->UpdateIfNeeded();
	EXPECT_EQ(view->draws, before + 1);
}

TEST(ViewModes, AlphaOverAndInvertCombineWithWhatIsThere)
{
	Canvas canvas(8, 4, B_RGB32);
	BView* view = canvas.view;

	// B_OP_ALPHA: half-transparent black over white is mid grey (within rounding).
	view->SetDrawingMode(B_OP_ALPHA);
	view->SetHighColor(0, 0, 0, 128);
	view->FillRect(BRect(0, 0, 0, 0));
	uint32 grey = canvas.Rgb(0, 0);
	EXPECT_NEAR(int(grey & 0xff), 127, 2);
	EXPECT_EQ(grey >> 16, grey & 0xff);

	// B_OP_COPY ignores the alpha.
	view->SetDrawingMode(B_OP_COPY);
	view->FillRect(BRect(1, 0, 1, 0));
	EXPECT_EQ(canvas.Rgb(1, 0), 0u);

	// InvertRect inverts and restores the mode.
	view->InvertRect(BRect(1, 0, 2, 0));
	EXPECT_EQ(canvas.Rgb(1, 0), 0xffffffu);
	EXPECT_EQ(canvas.Rgb(2, 0), 0u);
	EXPECT_EQ(view->DrawingMode(), B_OP_COPY);

	// Bitmaps: B_OP_OVER skips the transparent magic colour, B_OP_ALPHA uses the pixels'
	// alpha, B_OP_COPY neither.
	BBitmap image(BRect(0, 0, 1, 0), B_RGBA32);
	uint8* pixels = static_cast<uint8*>(image.Bits());
	const uint8 data[8] = {0x77, 0x74, 0x77, 0x00, 0x00, 0x00, 0xff, 0x80};
	memcpy(pixels, data, 8);
	view->SetDrawingMode(B_OP_OVER);
	view->DrawBitmap(&image, BPoint(4, 1));
	EXPECT_EQ(canvas.Rgb(4, 1), 0xffffffu);
	EXPECT_EQ(canvas.Rgb(5, 1), 0xff0000u);
	view->SetDrawingMode(B_OP_ALPHA);
	view->DrawBitmap(&image, BPoint(4, 2));
	EXPECT_EQ(canvas.Rgb(4, 2), 0xffffffu);
	EXPECT_NEAR(int(canvas.Rgb(5, 2) & 0xff), 127, 2);
	EXPECT_EQ(canvas.Rgb(5, 2) >> 16, 0xffu);
	view->SetDrawingMode(B_OP_COPY);
	view->DrawBitmap(&image, BPoint(4, 3));
	EXPECT_EQ(canvas.Rgb(4, 3), 0x777477u);
	EXPECT_EQ(canvas.Rgb(5, 3), 0xff0000u);
}

TEST(ViewModes, TranslucentDrawingIntoAlphaBitmapsKeepsUntouchedPixels)
{
	BBitmap bitmap(BRect(0, 0, 3, 0), B_RGBA32, true);
	uint8* pixels = static_cast<uint8*>(bitmap.Bits());
	for (int32 x = 0; x < 4; x++) {
		const uint8 pixel[4] = {10, 20, 30, 40};  // dark, mostly transparent
		memcpy(pixels + 4 * x, pixel, 4);
	}
	BView* view = new BView(bitmap.Bounds(), "v", B_FOLLOW_NONE, B_WILL_DRAW);
	bitmap.AddChild(view);
	view->SetHighColor(255, 0, 0);
	view->FillEllipse(BRect(2, 0, 3, 0));  // through Cairo
	// Pixels the ellipse missed keep their exact bytes despite premultiplication.
	for (int32 x = 0; x < 2; x++)
		EXPECT_EQ(memcmp(pixels + 4 * x, "\x0a\x14\x1e\x28", 4), 0) << x;
	EXPECT_EQ(pixels[4 * 3 + 2], 0xff);
	EXPECT_EQ(pixels[4 * 3 + 3], 0xff);
}

TEST(ViewDraw, GlyphsTallerThanTheDeviceTakesAreDrawnCapped)
{
	// A 10,000-point "l" at a scale of 7 (525 dpi) asks for 70,000-pixel glyphs. Capped at
	// 32,767 pixels its stem, a tenth of the size from the pen and as tall as the size,
	// still fills this canvas; uncapped Cairo would refuse the font and draw nothing.
	Canvas canvas(64, 64);
	BView* view = canvas.view;
	view->SetScale(7);
	view->ForceFontAliasing(true);
	BFont font(be_plain_font);
	font.SetSize(10000);
	view->SetFont(&font);
	view->SetHighColor(0, 0, 0);
	view->DrawString("l", BPoint(-3200.0f / 7, 9.5f));
	view->Sync();
	EXPECT_EQ(canvas.Count(0x0000), 64 * 64);
}
