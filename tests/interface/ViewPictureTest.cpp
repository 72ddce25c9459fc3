#include "DrawingTestUtils.h"

#include <DataIO.h>
#include <Picture.h>
#include <Region.h>

#include <cstdio>
#include <cstring>
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
	view->FillRect(BRect(1, 9, 3, 10));
	view->PopState();
	view->ForceFontAliasing(true);
	BFont font(be_bold_font);
	font.SetSize(9);
	view->SetFont(&font);
	view->DrawString("Pic", BPoint(3, 36));
}

} // namespace

TEST(ViewPicture, RecordedDrawingPlaysBackToTheSameBits)
{
	Canvas direct(40, 40);
	direct.view->ForceFontAliasing(true);
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
	recorded.view->DrawPicture(&copy, BPoint(0, 0));
	EXPECT_EQ(memcmp(direct.bitmap->Bits(), recorded.bitmap->Bits(),
		direct.bitmap->BitsLength()), 0);
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
