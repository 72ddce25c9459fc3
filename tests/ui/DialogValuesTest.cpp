// What the setup dialogs make of typed text, the preview's geometry and the key filters,
// called without a window.

#include "DialogValues.h"
#include "PageSetupInterface.h"
#include "PrintInterface.h"

#include <Button.h>
#include <InterfaceDefs.h>
#include <Message.h>
#include <TextView.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(PageEntries, TrimmedDecimalsKeepOneDigitAfterThePoint)
{
	EXPECT_EQ(trimmed_decimal("8.500000"), "8.5");
	EXPECT_EQ(trimmed_decimal("100.000000"), "100.0");
	EXPECT_EQ(trimmed_decimal("0.000000"), "0.0");
	EXPECT_EQ(trimmed_decimal("75.500000"), "75.5");
	EXPECT_EQ(trimmed_decimal("8.264"), "8.264");
	EXPECT_EQ(trimmed_decimal("11.0"), "11.0");
	// Zeros of a whole number are no decimals.
	EXPECT_EQ(trimmed_decimal("100"), "100");
	EXPECT_EQ(trimmed_decimal("inf"), "inf");
}

TEST(PageEntries, OnlyPositiveFiniteValuesAreConfirmed)
{
	EXPECT_TRUE(page_entry_valid(8.5));
	EXPECT_TRUE(page_entry_valid(0.001));
	EXPECT_FALSE(page_entry_valid(0));
	EXPECT_FALSE(page_entry_valid(-8.5));
	EXPECT_FALSE(page_entry_valid(std::nan("")));
	EXPECT_FALSE(page_entry_valid(HUGE_VAL));
	// Finite as a double, endless as the float it is stored as.
	EXPECT_FALSE(page_entry_valid(1e300));
	// So small the float is zero.
	EXPECT_FALSE(page_entry_valid(1e-300));
}

TEST(PaperTable, IsTheDeviceModelsPapersThenOther)
{
	const char* const labels[] = {"US Letter", "US Legal", "A4", "B5", "Tabloid", "Envelope",
		"Other"};
	const char* const widths[] = {"8.5", "8.5", "8.264", "7.167", "11.0", "9.5", "0.0"};
	const char* const heights[] = {"11.0", "14.0", "11.694", "10.125", "17.0", "4.125", "0.0"};
	ASSERT_EQ(page_size_labels.size(), std::size(labels));
	for (size_t row = 0; row < std::size(labels); row++) {
		EXPECT_STREQ(page_size_labels[row], labels[row]);
		EXPECT_STREQ(page_horiz_sizes[row], widths[row]);
		EXPECT_STREQ(page_vert_sizes[row], heights[row]);
	}
	ASSERT_EQ(quality_labels.size(), 3u);
	EXPECT_STREQ(quality_labels[0], "300 dpi");
	EXPECT_STREQ(quality_labels[1], "150 dpi");
	EXPECT_STREQ(quality_labels[2], "75 dpi");
}

TEST(PreviewShape, WorkedValuesOfThePaperTable)
{
	PreviewShape shape;
	ASSERT_TRUE(preview_shape(11.0f, 8.5f, &shape));  // US Letter, portrait
	EXPECT_NEAR(shape.width, 77.2727f, 1e-4);
	EXPECT_EQ(shape.height, 100);
	EXPECT_NEAR(shape.left, 16.3636f, 1e-4);
	EXPECT_EQ(shape.top, 5);

	ASSERT_TRUE(preview_shape(8.5f, 11.0f, &shape));  // landscape: sides and offsets swap
	EXPECT_EQ(shape.width, 100);
	EXPECT_NEAR(shape.height, 77.2727f, 1e-4);
	EXPECT_EQ(shape.left, 5);
	EXPECT_NEAR(shape.top, 16.3636f, 1e-4);

	ASSERT_TRUE(preview_shape(4.125f, 9.5f, &shape));  // Envelope, portrait
	EXPECT_EQ(shape.width, 100);
	EXPECT_NEAR(shape.height, 43.4211f, 1e-4);
	EXPECT_NEAR(shape.top, 33.2895f, 1e-4);

	ASSERT_TRUE(preview_shape(7.0f, 7.0f, &shape));  // equal sides take the first branch
	EXPECT_EQ(shape.width, 100);
	EXPECT_EQ(shape.height, 100);
	EXPECT_EQ(shape.left, 5);
	EXPECT_EQ(shape.top, 5);
}

TEST(PreviewShape, NoShapeWithoutTwoPositiveFiniteSides)
{
	PreviewShape shape = {1, 2, 3, 4};
	const float nan = std::numeric_limits<float>::quiet_NaN();
	const float inf = std::numeric_limits<float>::infinity();
	for (auto [height, width] : {std::pair{0.0f, 0.0f}, {11.0f, 0.0f}, {0.0f, 8.5f},
			 {nan, 8.5f}, {11.0f, nan}, {inf, 8.5f}, {-11.0f, 8.5f}, {11.0f, -8.5f}}) {
		EXPECT_FALSE(preview_shape(height, width, &shape)) << height << " x " << width;
	}
	// A side so thin it vanishes at 100 pixels for the other.
	EXPECT_FALSE(preview_shape(1e30f, 1e-30f, &shape));
	EXPECT_EQ(shape.width, 1);
	EXPECT_EQ(shape.top, 4);
}

TEST(PreviewShape, LetterFollowsTheScaling)
{
	float size = 0;
	ASSERT_TRUE(preview_letter_size(77.2727f, 100, 100, &size));
	EXPECT_NEAR(size, 51.5152f, 1e-3);
	ASSERT_TRUE(preview_letter_size(77.2727f, 100, 50, &size));
	EXPECT_NEAR(size, 25.7576f, 1e-3);
	EXPECT_FALSE(preview_letter_size(77.2727f, 100, 0, &size));
	EXPECT_FALSE(preview_letter_size(77.2727f, 100, -50, &size));
	EXPECT_FALSE(preview_letter_size(77.2727f, 100, std::numeric_limits<float>::quiet_NaN(),
		&size));
	EXPECT_FALSE(preview_letter_size(77.2727f, 100, 1e30f, &size));
}

TEST(JobEntries, NumbersAreBaseTenAndSaturateInsteadOfWrapping)
{
	EXPECT_EQ(entry_number("0x10"), 0);
	EXPECT_EQ(entry_number("010"), 10);
	EXPECT_EQ(entry_number("99999999999999999999999"), std::numeric_limits<long long>::max());
	EXPECT_EQ(entry_number("-99999999999999999999999"), std::numeric_limits<long long>::min());
}

TEST(JobEntries, NumbersMustFitASixteenBitFieldAndBePositive)
{
	EXPECT_TRUE(job_entries_valid(1, false, 0, 0));
	EXPECT_TRUE(job_entries_valid(32767, false, 0, 0));
	EXPECT_FALSE(job_entries_valid(0, false, 0, 0));
	EXPECT_FALSE(job_entries_valid(32768, false, 0, 0));
	EXPECT_FALSE(job_entries_valid(65537, false, 0, 0));  // would wrap to 1
	EXPECT_FALSE(job_entries_valid(-2, false, 0, 0));
	// Without a range, From and To are not looked at.
	EXPECT_TRUE(job_entries_valid(2, false, -7, 99999));

	EXPECT_TRUE(job_entries_valid(1, true, 3, 3));
	EXPECT_TRUE(job_entries_valid(1, true, 3, 5));
	EXPECT_FALSE(job_entries_valid(1, true, 5, 3));
	EXPECT_FALSE(job_entries_valid(1, true, 0, 3));
	EXPECT_FALSE(job_entries_valid(1, true, 3, 0));
	EXPECT_FALSE(job_entries_valid(1, true, 1, 65536));
	EXPECT_FALSE(job_entries_valid(0, true, 1, 2));
}

TEST(JobEntries, ResolutionOfEachQualityAndOfNone)
{
	EXPECT_EQ(resolution_for_quality(true, 0), 300);
	EXPECT_EQ(resolution_for_quality(true, 1), 150);
	EXPECT_EQ(resolution_for_quality(true, 2), 75);
	EXPECT_EQ(resolution_for_quality(true, 3), 300);
	EXPECT_EQ(resolution_for_quality(true, -1), 300);
	EXPECT_EQ(resolution_for_quality(false, 2), 300);
}

// Key filters

BMessage key(const char* bytes, int32 modifiers = 0)
{
	BMessage message(B_KEY_DOWN);
	message.AddInt32("modifiers", modifiers);
	message.AddString("bytes", bytes);
	return message;
}

class KeyFilters : public ::testing::Test {
protected:
	filter_result Page(BMessage message, BHandler* target = nullptr)
	{
		BHandler* handler = target;
		return SetupKeyFilter(&message, &handler, nullptr);
	}

	filter_result Print(BMessage message)
	{
		BHandler* handler = nullptr;
		return PrintSetupKeyFilter(&message, &handler, nullptr);
	}
};

TEST_F(KeyFilters, DigitsEditingAndNavigationKeysPass)
{
	const char* passing[] = {"0", "5", "9", "\x08", "\t", "\n", "\x1c", "\x1d", "\x1e", "\x1f"};
	for (const char* bytes : passing) {
		EXPECT_EQ(Page(key(bytes)), B_DISPATCH_MESSAGE) << int(bytes[0]);
		EXPECT_EQ(Print(key(bytes)), B_DISPATCH_MESSAGE) << int(bytes[0]);
	}
}

TEST_F(KeyFilters, EverythingElseIsDropped)
{
	const char* dropped[] = {"a", "Z", " ", "-", "+", "/", ":", "\x1b", "\x7f", "\x01", "\x04",
		"\x05", "\x0b", "\x0c", "\x10", "\xc3\xa9", "\xe2\x82\xac", "\x80", "\xff", ""};
	for (const char* bytes : dropped) {
		EXPECT_EQ(Page(key(bytes)), B_SKIP_MESSAGE) << int(static_cast<uint8>(bytes[0]));
		EXPECT_EQ(Print(key(bytes)), B_SKIP_MESSAGE) << int(static_cast<uint8>(bytes[0]));
	}
	// The job setup takes no point at all.
	EXPECT_EQ(Print(key(".")), B_SKIP_MESSAGE);
}

TEST_F(KeyFilters, CommandKeyShortcutsAndKeysWithoutBytesPass)
{
	for (const char* bytes : {"a", "v", "x", "-", ".", "\x7f", "\xc3\xa9"}) {
		EXPECT_EQ(Page(key(bytes, B_COMMAND_KEY)), B_DISPATCH_MESSAGE);
		EXPECT_EQ(Print(key(bytes, B_COMMAND_KEY | B_SHIFT_KEY)), B_DISPATCH_MESSAGE);
	}
	// Other modifiers change nothing.
	EXPECT_EQ(Page(key("a", B_CONTROL_KEY | B_OPTION_KEY)), B_SKIP_MESSAGE);
	BMessage bare(B_KEY_DOWN);
	EXPECT_EQ(Page(bare), B_DISPATCH_MESSAGE);
	EXPECT_EQ(Print(bare), B_DISPATCH_MESSAGE);
	// Without "modifiers" the key is judged by its bytes alone.
	BMessage letter(B_KEY_DOWN);
	letter.AddString("bytes", "q");
	EXPECT_EQ(Page(letter), B_SKIP_MESSAGE);
}

TEST_F(KeyFilters, OnePointPerTextField)
{
	BTextView text(BRect(0, 0, 100, 20), "text", BRect(0, 0, 100, 20), B_FOLLOW_NONE,
		B_WILL_DRAW);

	text.SetText("85");
	text.Select(1, 1);
	EXPECT_EQ(Page(key("."), &text), B_DISPATCH_MESSAGE);
	EXPECT_STREQ(text.Text(), "85");

	// Caret at the end of a text that has its point: dropped, text unchanged.
	text.SetText("8.5");
	text.Select(3, 3);
	EXPECT_EQ(Page(key("."), &text), B_SKIP_MESSAGE);
	EXPECT_STREQ(text.Text(), "8.5");

	// Over a selection holding the point: the selection goes, the new point may come.
	text.SetText("8.5");
	text.SelectAll();
	EXPECT_EQ(Page(key("."), &text), B_DISPATCH_MESSAGE);
	EXPECT_STREQ(text.Text(), "");

	// Over a selection without the point: the selection still goes, the point does not come.
	text.SetText("8.25");
	text.Select(2, 4);
	EXPECT_EQ(Page(key("."), &text), B_SKIP_MESSAGE);
	EXPECT_STREQ(text.Text(), "8.");
}

TEST_F(KeyFilters, PointForAControlThatIsNoTextFieldIsDropped)
{
	BButton button(BRect(0, 0, 50, 20), "button", "OK", nullptr);
	EXPECT_EQ(Page(key("."), &button), B_SKIP_MESSAGE);
	EXPECT_EQ(Page(key("."), nullptr), B_SKIP_MESSAGE);
	BMessage message = key(".");
	EXPECT_EQ(SetupKeyFilter(&message, nullptr, nullptr), B_SKIP_MESSAGE);
}

}  // namespace
