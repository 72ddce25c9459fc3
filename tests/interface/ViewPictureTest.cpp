#include "DrawingTestUtils.h"

#include <DataIO.h>
#include <Picture.h>
#include <Region.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

void draw_scene(BView* view)
{
	view->SetHighColor(255, 0, 0);
	view->FillRect(BRect(2, 2, 11, 11));
	view->SetHighColor(0, 0, 0);
	view->SetPenSize(2);
	view->StrokeLine(BPoint(0, 20), BPoint(30, 14));
	view->FillEllipse(BRect(14, 2, 27, 9), B_MIXED_COLORS);
	view->PushState();
	view->SetScale(2);
	view->SetOrigin(-1, 2);
	view->FillRect(BRect(1, 9, 3, 10));
	view->PopState();
	view->SetOrigin(3, 1);
	view->SetHighColor(255, 0, 0);
	view->FillRect(BRect(-1, 12, 4, 15));
	view->SetHighColor(0, 0, 0);
	view->ForceFontAliasing(true);
	BFont font(be_bold_font);
	font.SetSize(9);
	view->SetFont(&font);
	view->DrawString("Pic", BPoint(3, 36));
}

const uint16 kBlack = 0x0000;
const uint16 kRed = 0xf800;
const uint16 kGreen = 0x07e0;
const uint16 kBlue = 0x001f;
const uint16 kWhite = 0xffff;

// A picture of what draw does on a view that records.
std::unique_ptr<BPicture> record(const std::function<void(BView*)>& draw)
{
	Canvas scratch(8, 8);
	auto picture = std::make_unique<BPicture>();
	scratch.view->BeginPicture(picture.get());
	draw(scratch.view);
	scratch.view->EndPicture();
	return picture;
}

} // namespace

TEST(ViewPicture, RecordedDrawingPlaysBackToTheSameBits)
{
	// The scene moves its own origin; played at a point, it must land as the same calls made
	// directly in a level whose origin is that point.
	for (BPoint where : {BPoint(0, 0), BPoint(5, -3)}) {
		SCOPED_TRACE(where.x);
		Canvas direct(40, 40);
		direct.view->ForceFontAliasing(true);
		direct.view->SetOrigin(where);
		direct.view->PushState();
		draw_scene(direct.view);

		Canvas recorded(40, 40);
		recorded.view->ForceFontAliasing(true);
		BPicture picture;
		recorded.view->BeginPicture(&picture);
		draw_scene(recorded.view);
		EXPECT_EQ(recorded.view->EndPicture(), &picture);
		// Recording drew nothing.
		EXPECT_TRUE(recorded.Covers(in_rect(0, 0, -1, -1), 0));

		// Through the flattened form, as a spool file carries it.
		BMallocIO buffer;
		ASSERT_EQ(picture.Flatten(&buffer), B_OK);
		buffer.Seek(0, SEEK_SET);
		BPicture copy;
		ASSERT_EQ(copy.Unflatten(&buffer), B_OK);
		Canvas played(40, 40);
		played.view->ForceFontAliasing(true);
		played.view->DrawPicture(&copy, where);
		EXPECT_EQ(memcmp(direct.bitmap->Bits(), played.bitmap->Bits(),
			direct.bitmap->BitsLength()), 0);
		EXPECT_GT(played.Count(kRed), 50);
	}
}

TEST(ViewPicture, OriginScaleAndStatesOfAPictureStackOnItsDrawingPoint)
{
	// Under the view's scale 4, at (5, 1): one page unit is 4 pixels.
	auto picture = record([](BView* view) {
		view->SetOrigin(2, 3);  // the picture's origin lands at unit (7, 4), pixel (28, 16)
		view->SetHighColor(255, 0, 0);
		view->FillRect(BRect(0, 0, 1, 1));
		view->PushState();
		view->SetScale(0.5f);  // scale 2 in pixels
		view->SetOrigin(4, 0);  // 4 of the level below: 16 pixels to the right
		view->SetHighColor(0, 0, 255);
		view->FillRect(BRect(0, 0, 3, 3));
		view->PopState();
		view->SetHighColor(0, 255, 0);  // back at the picture's origin and scale
		view->FillRect(BRect(10, 0, 10, 0));
		view->PopState();  // one pop too many: ignored
		view->PushState();  // left open
		view->SetOrigin(100, 100);
		view->SetScale(3);
	});
	// The next picture must not see what the first left pushed.
	auto next = record([](BView* view) {
		view->SetHighColor(0, 0, 0);
		view->FillRect(BRect(0, 0, 0, 0));
	});

	Canvas canvas(80, 90);
	BView* view = canvas.view;
	view->SetScale(4);
	view->SetHighColor(255, 255, 255);
	view->DrawPicture(picture.get(), BPoint(5, 1));
	view->DrawPicture(next.get(), BPoint(1, 20));
	EXPECT_TRUE(canvas.Shows([](int32 x, int32 y) {
		if (in_rect(28, 16, 35, 23)(x, y))
			return kRed;
		if (in_rect(44, 16, 51, 23)(x, y))
			return kBlue;
		if (in_rect(68, 16, 71, 19)(x, y))
			return kGreen;
		if (in_rect(4, 80, 7, 83)(x, y))
			return kBlack;
		return kWhite;
	}));
	EXPECT_EQ(view->Scale(), 4.0f);
	EXPECT_EQ(view->Origin(), BPoint(0, 0));
	EXPECT_EQ(view->HighColor(), make_color(255, 255, 255));
}

TEST(ViewPicture, SubPictureNestsItsOriginInsideItsParents)
{
	auto sub = record([](BView* view) {
		view->SetOrigin(1, 1);
		view->SetHighColor(255, 0, 0);
		view->FillRect(BRect(0, 0, 1, 1));
	});
	auto outer = record([&](BView* view) {
		view->SetOrigin(10, 0);
		view->DrawPicture(sub.get(), BPoint(2, 2));
		view->FillRect(BRect(0, 0, 0, 0));  // black, at the outer picture's own origin
	});

	// At scale 2 and (3, 4): the outer origin is unit (13, 4), the sub-picture's (16, 7).
	Canvas canvas(50, 30);
	canvas.view->SetScale(2);
	canvas.view->DrawPicture(outer.get(), BPoint(3, 4));
	EXPECT_TRUE(canvas.Shows([](int32 x, int32 y) {
		if (in_rect(32, 14, 35, 17)(x, y))
			return kRed;
		if (in_rect(26, 8, 27, 9)(x, y))
			return kBlack;
		return kWhite;
	}));
}

TEST(ViewPicture, PictureClippingOnlyNarrowsTheViewsClipping)
{
	auto picture = record([](BView* view) {
		view->SetOrigin(10, 10);
		BRegion own(BRect(0, 0, 4, 4));  // units 12 to 16 across, 11 to 15 down, at (2, 1)
		view->ConstrainClippingRegion(&own);
		view->SetHighColor(255, 0, 0);
		view->FillRect(BRect(-100, -100, 100, 100));
		view->ConstrainClippingRegion(NULL);  // back to the view's clipping, never beyond
		view->SetHighColor(0, 0, 0);
		view->FillRect(BRect(-100, 20, 100, 20));
	});
	Canvas canvas(30, 40);
	BRegion band(BRect(0, 0, 14, 100));
	canvas.view->ConstrainClippingRegion(&band);
	canvas.view->DrawPicture(picture.get(), BPoint(2, 1));
	EXPECT_TRUE(canvas.Shows([](int32 x, int32 y) {
		if (in_rect(12, 11, 14, 15)(x, y))
			return kRed;
		if (in_rect(0, 31, 14, 31)(x, y))
			return kBlack;
		return kWhite;
	}));
}

TEST(ViewPicture, SubPictureOnAFullStateStackDrawsNothingAndMovesNothing)
{
	auto sub = record([](BView* view) {
		view->SetHighColor(255, 0, 0);
		view->FillRect(BRect(0, 0, 3, 3));
	});
	auto deep = record([&](BView* view) {
		for (int i = 0; i < 1100; i++)  // fills the state stack
			view->PushState();
		view->DrawPicture(sub.get(), BPoint(5, 5));
		view->SetHighColor(0, 0, 0);
		view->FillRect(BRect(0, 0, 0, 0));  // still at the picture's own origin
	});
	Canvas canvas(20, 20);
	canvas.view->DrawPicture(deep.get(), BPoint(2, 3));
	EXPECT_TRUE(canvas.Covers(in_rect(2, 3, 2, 3), kBlack));
	EXPECT_EQ(canvas.view->Origin(), BPoint(0, 0));
}

TEST(ViewPicture, PlaybackIsPlacedClippedAndLeavesTheStateAlone)
{
	// The band renderer's sequence: scale 4, clipping in page units, picture at (x, y - o).
	Canvas page(10, 10);
	BPicture picture;
	page.view->BeginPicture(&picture);
	page.view->SetHighColor(255, 0, 0);
	page.view->FillRect(BRect(0, 30, 9, 39));
	page.view->SetHighColor(0, 0, 0);
	page.view->PopState();  // unbalanced: must not pop the player's level
	page.view->PushState();  // left open: popped by the player
	page.view->SetScale(3);
	page.view->EndPicture();

	Canvas band(2561, 101);
	BView* view = band.view;
	view->SetScale(4);
	view->SetHighColor(255, 255, 255);
	BRegion clip(BRect(0, -25, 637.5f, 800));
	view->ConstrainClippingRegion(&clip);
	view->DrawPicture(&picture, BPoint(0, -25));
	EXPECT_TRUE(band.Covers(in_rect(0, 20, 39, 59), 0xf800));
	EXPECT_EQ(view->HighColor(), make_color(255, 255, 255));
	EXPECT_EQ(view->Scale(), 4.0f);
	EXPECT_EQ(view->Origin(), BPoint(0, 0));
}

TEST(ViewPicture, DamagedPicturesDrawWithoutHarm)
{
	// The pictures of the corpus, readable or not, played into a band as the band renderer
	// plays them; the sanitizers watch. The view's state must come back unchanged. (The
	// fan-out picture is left out: it plays its whole op budget, ten million ops, which takes
	// minutes under the sanitizers.)
	std::string folder = std::string(TESSARY_TEST_DATA) + "/pictures";
	Canvas band(2561, 101);
	BView* view = band.view;
	view->ForceFontAliasing(true);
	view->SetScale(4);
	view->SetHighColor(255, 255, 255);
	int played = 0;
	for (const char* name : {"ok-all-ops.pic", "skip-bad-modes.pic",
			"skip-draw-picture-bad-index.pic", "skip-empty-clipping.pic",
			"skip-font-name-huge-length.pic",
			"skip-nan-values.pic", "skip-pixels-bad-space.pic", "skip-pixels-length-overrun.pic",
			"skip-pixels-negative-size.pic", "skip-pixels-overflow.pic",
			"skip-pixels-short-rows.pic", "skip-polygon-huge-count.pic",
			"skip-shape-huge-counts.pic", "skip-shape-op-overrun.pic",
			"skip-short-payloads.pic", "skip-string-huge-length.pic", "skip-unknown-ops.pic",
			"bad-deep-subpictures.pic", "bad-truncated-header.pic"}) {
		SCOPED_TRACE(name);
		FILE* file = fopen((folder + "/" + name).c_str(), "rb");
		ASSERT_NE(file, nullptr);
		BMallocIO buffer;
		char chunk[4096];
		size_t read;
		while ((read = fread(chunk, 1, sizeof(chunk), file)) > 0)
			buffer.Write(chunk, read);
		fclose(file);
		buffer.Seek(0, SEEK_SET);
		BPicture picture;
		(void)picture.Unflatten(&buffer);  // a refused picture is empty and draws nothing
		for (float y : {0.0f, -25.0f, 30.0f}) {
			BRegion clip(BRect(0, y, 637.5f, 825 + y));
			view->ConstrainClippingRegion(&clip);
			view->DrawPicture(&picture, BPoint(0, y));
			played++;
		}
		EXPECT_EQ(view->HighColor(), make_color(255, 255, 255));
		EXPECT_EQ(view->Scale(), 4.0f);
		EXPECT_EQ(view->Origin(), BPoint(0, 0));
		EXPECT_EQ(view->DrawingMode(), B_OP_COPY);
	}
	EXPECT_EQ(played, 57);
}

TEST(ViewPicture, RecorderKeepsNestingWithinWhatTheReaderTakes)
{
	// Each picture draws the one before it: the deepest still read back draws its square,
	// and the one a level deeper records without it instead of becoming unreadable.
	std::vector<std::unique_ptr<BPicture>> chain;
	chain.push_back(record([](BView* view) {
		view->SetHighColor(255, 0, 0);
		view->FillRect(BRect(0, 0, 3, 3));
	}));
	for (int level = 2; level <= 33; level++) {
		BPicture* inner = chain.back().get();
		chain.push_back(record([&](BView* view) { view->DrawPicture(inner, BPoint(1, 1)); }));
	}
	auto round_trip = [](const BPicture& picture) {
		BMallocIO flat;
		EXPECT_EQ(picture.Flatten(&flat), B_OK);
		flat.Seek(0, SEEK_SET);
		auto read = std::make_unique<BPicture>();
		EXPECT_EQ(read->Unflatten(&flat), B_OK);
		return read;
	};

	std::unique_ptr<BPicture> deepest = round_trip(*chain[31]);  // 32 levels
	Canvas canvas(48, 48);
	canvas.view->DrawPicture(deepest.get(), BPoint(0, 0));
	EXPECT_TRUE(canvas.Covers(in_rect(31, 31, 34, 34), kRed));

	std::unique_ptr<BPicture> beyond = round_trip(*chain[32]);  // would be 33
	Canvas blank(48, 48);
	blank.view->DrawPicture(beyond.get(), BPoint(0, 0));
	EXPECT_TRUE(blank.Covers(in_rect(0, 0, 47, 47), kWhite));
}

TEST(ViewPicture, PlaybackStopsAtItsWorkBudgetAndTheBitmapSaysSo)
{
	// 40,000 fills of a whole 300 dpi band in a picture of under a megabyte: minutes of
	// work by op count alone. The work budget stops it after a few hundred.
	auto fills = record([](BView* view) {
		for (int i = 0; i < 40000; i++)
			view->FillRect(BRect(0, 0, 639, 24));
	});
	BMallocIO flat;
	ASSERT_EQ(fills->Flatten(&flat), B_OK);
	ASSERT_LT(flat.BufferLength(), 1024u * 1024u);
	Canvas band(2561, 101);
	band.view->SetScale(4);
	band.view->DrawPicture(fills.get(), BPoint(0, 0));
	EXPECT_EQ(band.bitmap->TakePicturesCut(), 1);
	EXPECT_EQ(band.bitmap->TakePicturesCut(), 0);

	// A picture well inside the budget is drawn whole and not counted.
	auto few = record([](BView* view) {
		for (int i = 0; i < 100; i++)
			view->FillRect(BRect(0, 0, 639, 24));
	});
	band.view->DrawPicture(few.get(), BPoint(0, 0));
	EXPECT_EQ(band.bitmap->TakePicturesCut(), 0);
}
