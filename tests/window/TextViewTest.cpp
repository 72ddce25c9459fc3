// Editing a text view outside any window: offsets, selections and UTF-8.
#include <InterfaceDefs.h>
#include <TextView.h>

#include <gtest/gtest.h>

namespace {

BRect kFrame(0, 0, 100, 20);

TEST(TextView, InsertDeleteAndSelectionKeepTheirOffsets)
{
	BTextView view(kFrame, "text", kFrame, B_FOLLOW_NONE, B_WILL_DRAW);
	view.SetText("8.5");
	int32 start = -1, end = -1;
	view.GetSelection(&start, &end);
	EXPECT_EQ(start, 3);
	EXPECT_EQ(end, 3);

	view.Select(0, 3);
	view.Delete();
	EXPECT_STREQ(view.Text(), "");
	EXPECT_EQ(view.TextLength(), 0);

	view.SetText("11.694");
	view.Delete(2, 3);
	EXPECT_STREQ(view.Text(), "11694");
	view.Select(1, 2);
	view.Insert("x");
	EXPECT_STREQ(view.Text(), "1x1694");
	view.GetSelection(&start, &end);
	EXPECT_EQ(start, 2);
	EXPECT_EQ(end, 3) << "the selection keeps its text after an insert at its start";

	// Out-of-range offsets are clamped, reversed ones swapped.
	view.Delete(4, 100);
	EXPECT_STREQ(view.Text(), "1x16");
	view.Delete(3, -5);
	EXPECT_STREQ(view.Text(), "6");
	EXPECT_FALSE(view.IsModified()) << "program changes are not the user's";
}

TEST(TextView, KeysEditWholeUtf8Characters)
{
	BTextView view(kFrame, "text", kFrame, B_FOLLOW_NONE, B_WILL_DRAW);
	view.SetText("a\xc3\xa9");  // a, e acute
	view.KeyDown("\b", 1);
	EXPECT_STREQ(view.Text(), "a");
	EXPECT_TRUE(view.IsModified());
	view.KeyDown("\xe2\x82\xac", 3);  // euro sign
	EXPECT_STREQ(view.Text(), "a\xe2\x82\xac");
	view.KeyDown("\x1c", 1);  // left arrow: before the euro sign, not inside it
	int32 start, end;
	view.GetSelection(&start, &end);
	EXPECT_EQ(start, 1);
	view.KeyDown("\x7f", 1);  // delete
	EXPECT_STREQ(view.Text(), "a");

	// Offsets inside a character move to its start.
	view.SetText("\xc3\xa9z");
	view.Delete(1, 3);
	EXPECT_STREQ(view.Text(), "");

	// Control keys insert nothing; Home and End move.
	view.SetText("12");
	view.KeyDown("\n", 1);
	view.KeyDown("\t", 1);
	view.KeyDown("\x1b", 1);
	EXPECT_STREQ(view.Text(), "12");
	view.KeyDown("\x01", 1);
	view.KeyDown("3", 1);
	view.KeyDown("\x04", 1);
	view.KeyDown("4", 1);
	EXPECT_STREQ(view.Text(), "3124");
}

TEST(TextView, NotEditableViewIgnoresTyping)
{
	BTextView view(kFrame, "text", kFrame, B_FOLLOW_NONE, B_WILL_DRAW);
	view.SetText("fixed");
	view.MakeEditable(false);
	view.KeyDown("x", 1);
	view.KeyDown("\b", 1);
	EXPECT_STREQ(view.Text(), "fixed");
}

}  // namespace
