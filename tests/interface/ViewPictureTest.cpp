#include "DrawingTestUtils.h"

#include <DataIO.h>
#include <Picture.h>
#include <Region.h>

#include <cstring>

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
