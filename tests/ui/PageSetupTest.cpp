// The Page Setup dialog and config_page's body, worked through the display's scripting
// interface as a user works them.

#include "DialogDriver.h"

#include "JobSettings.h"
#include "PageSetupInterface.h"
#include "SetupHooks.h"

#include <Message.h>

#include <gtest/gtest.h>

namespace {

using namespace dialog_test;

const char kTitle[] = "Page Setup";

// config_page's body on settings, on its own thread.
std::unique_ptr<DialogCall> start_config_page(const BMessage& settings)
{
	BMessage copy(settings);
	return std::make_unique<DialogCall>([copy] { return run_config_page(&copy); });
}

// The window's run on a message the test keeps, to see what the window itself writes.
std::unique_ptr<DialogCall> start_run_interface(BMessage* settings)
{
	return std::make_unique<DialogCall>([settings] {
		PageSetupInterface interface;
		BMessage* returned = interface.RunInterface(settings);
		EXPECT_EQ(returned, settings);
		return nullptr;
	});
}

BRect rect_of(const BMessage& message, const char* name, int32 index = 0)
{
	BRect rect(-1, -1, -1, -1);
	EXPECT_EQ(message.FindRect(name, index, &rect), B_OK) << name;
	return rect;
}

float float_of(const BMessage& message, const char* name)
{
	float value = -1;
	EXPECT_EQ(message.FindFloat(name, &value), B_OK) << name;
	return value;
}

int8 int8_of(const BMessage& message, const char* name)
{
	int8 value = -1;
	EXPECT_EQ(message.FindInt8(name, &value), B_OK) << name;
	return value;
}

// The preview page's frame in window coordinates.
BRect preview_frame(window_token window)
{
	settle(window);
	BRect frame;
	EXPECT_EQ(ScriptedDisplay::GetViewFrame(window, "view", &frame, kStepTimeout), B_OK);
	return frame;
}

void expect_rect(const BRect& rect, float right, float bottom)
{
	EXPECT_EQ(rect.left, 0);
	EXPECT_EQ(rect.top, 0);
	EXPECT_FLOAT_EQ(rect.right, right);
	EXPECT_FLOAT_EQ(rect.bottom, bottom);
}

TEST(PageSetup, EmptySettingsOpenOnUSLetterPortraitAndCancelAnswersNothing)
{
	BMessage settings;
	auto call = start_config_page(settings);
	window_token window = find_window(kTitle);
	EXPECT_EQ(marked_in(window, "Paper Size:"), "US Letter");
	EXPECT_EQ(text_of(window, "Width:"), "8.5");
	EXPECT_EQ(text_of(window, "Height:"), "11.0");
	EXPECT_EQ(text_of(window, "Scaling:"), "100.0");
	EXPECT_EQ(marked_in(window, "Page Layout:"), "Portrait");
	EXPECT_EQ(text_of(window, "Tessary"), "Tessary");
	BRect frame;
	ASSERT_EQ(ScriptedDisplay::GetFrame(window, &frame), B_OK);
	EXPECT_EQ(frame, BRect(100, 100, 500, 340));

	// The preview: 77.27 by 100 at (16.36, 5) in the box at (269, 59).
	BRect page = preview_frame(window);
	EXPECT_NEAR(page.left, 269 + 16.3636, 1e-3);
	EXPECT_NEAR(page.top, 59 + 5, 1e-3);
	EXPECT_NEAR(page.Width(), 77.2727, 1e-3);
	EXPECT_NEAR(page.Height(), 100, 1e-3);

	click(window, "Cancel");
	EXPECT_EQ(call->Result(), nullptr);
	EXPECT_FALSE(ScriptedDisplay::IsOpen(window));
	EXPECT_TRUE(settings.IsEmpty());
}

TEST(PageSetup, USLetterConfirmedReplacesEverythingWithThePageAnswerAndItsRectangles)
{
	BMessage settings('abcd');
	settings.AddInt32(kStatusField, 0);
	settings.AddInt16(kCopiesField, 3);
	settings.AddInt32(kXResField, 150);
	settings.AddRect(kPaperRectField, BRect(0, 0, 1, 1));
	settings.AddRect(kPrintableRectField, BRect(0, 0, 1, 1));
	settings.AddInt32(kPrinterField, 77);
	settings.AddInt8(kPreviousSettingsField, 0);
	auto call = start_config_page(settings);
	window_token window = find_window(kTitle);
	click(window, "OK");
	std::unique_ptr<BMessage> answer = call->Result();
	ASSERT_NE(answer, nullptr);
	EXPECT_EQ(answer->what, uint32('okok'));
	EXPECT_EQ(field_list(*answer), "status prevous_settings page_height page_width scaling "
		"layout printable_rect paper_rect");
	expect_rect(rect_of(*answer, kPaperRectField), 637.5f, 825.0f);
	expect_rect(rect_of(*answer, kPrintableRectField), 637.5f, 825.0f);
	EXPECT_EQ(int8_of(*answer, kPreviousSettingsField), 0);
	EXPECT_EQ(int8_of(*answer, kLayoutField), 0);
	EXPECT_EQ(float_of(*answer, kScalingField), 100.0f);
	// The server's message is the caller's and stays as it was.
	EXPECT_EQ(settings.what, uint32('abcd'));
	EXPECT_TRUE(settings.HasInt16(kCopiesField));
}

TEST(PageSetup, TablePapersGiveTheirSinglePrecisionRectangles)
{
	struct Case {
		const char* paper;
		int8 row;
		float right;
		float bottom;
	};
	const Case cases[] = {
		{"US Legal", 1, 637.5f, 1050.0f},
		{"A4", 2, 619.79999f, 877.05005f},
		{"B5", 3, 537.52496f, 759.375f},
		{"Tabloid", 4, 825.0f, 1275.0f},
		{"Envelope", 5, 712.5f, 309.375f},
	};
	for (const Case& paper : cases) {
		SCOPED_TRACE(paper.paper);
		auto call = start_config_page(BMessage());
		window_token window = find_window(kTitle);
		choose(window, "Paper Size:", paper.paper);
		EXPECT_EQ(marked_in(window, "Paper Size:"), paper.paper);
		click(window, "OK");
		std::unique_ptr<BMessage> answer = call->Result();
		ASSERT_NE(answer, nullptr);
		EXPECT_EQ(int8_of(*answer, kPreviousSettingsField), paper.row);
		BRect rect = rect_of(*answer, kPaperRectField);
		// Bit for bit what the float inches times 75 give.
		EXPECT_EQ(rect.right, paper.right);
		EXPECT_EQ(rect.bottom, paper.bottom);
		EXPECT_EQ(rect_of(*answer, kPrintableRectField), rect);
	}
}

TEST(PageSetup, StoredSettingsArePreselected)
{
	{
		BMessage settings;
		settings.AddInt8(kPreviousSettingsField, 6);
		settings.AddFloat(kPageWidthField, 5.25f);
		settings.AddFloat(kPageHeightField, 7.5f);
		settings.AddFloat(kScalingField, 75.5f);
		auto call = start_config_page(settings);
		window_token window = find_window(kTitle);
		EXPECT_EQ(marked_in(window, "Paper Size:"), "Other");
		EXPECT_EQ(text_of(window, "Width:"), "5.25");
		EXPECT_EQ(text_of(window, "Height:"), "7.5");
		EXPECT_EQ(text_of(window, "Scaling:"), "75.5");
		click(window, "Cancel");
		EXPECT_EQ(call->Result(), nullptr);
	}
	{
		// A table row shows the table's sizes, not the stored floats.
		BMessage settings;
		settings.AddInt8(kPreviousSettingsField, 2);
		settings.AddFloat(kPageWidthField, 1.0f);
		settings.AddFloat(kPageHeightField, 2.0f);
		settings.AddInt8(kLayoutField, 1);
		auto call = start_config_page(settings);
		window_token window = find_window(kTitle);
		EXPECT_EQ(marked_in(window, "Paper Size:"), "A4");
		EXPECT_EQ(text_of(window, "Width:"), "8.264");
		EXPECT_EQ(text_of(window, "Height:"), "11.694");
		EXPECT_EQ(marked_in(window, "Page Layout:"), "Landscape");
		// Landscape: the preview lies on its side.
		BRect page = preview_frame(window);
		EXPECT_NEAR(page.Width(), 100, 1e-3);
		EXPECT_NEAR(page.Height(), 100 * 8.264 / 11.694, 1e-3);
		click(window, "Cancel");
		EXPECT_EQ(call->Result(), nullptr);
	}
}

TEST(PageSetup, StoredRowsOutsideTheTableAreOther)
{
	for (int8 stored : {int8(7), int8(-1), int8(127)}) {
		SCOPED_TRACE(int(stored));
		BMessage settings;
		settings.AddInt8(kPreviousSettingsField, stored);
		settings.AddFloat(kPageWidthField, 8.5f);
		settings.AddFloat(kPageHeightField, 11.0f);
		settings.AddInt8(kLayoutField, 9);  // nor is this a layout
		auto call = start_config_page(settings);
		window_token window = find_window(kTitle);
		EXPECT_EQ(marked_in(window, "Paper Size:"), "Other");
		EXPECT_EQ(text_of(window, "Width:"), "8.5");
		EXPECT_EQ(marked_in(window, "Page Layout:"), "Portrait");
		click(window, "OK");
		std::unique_ptr<BMessage> answer = call->Result();
		ASSERT_NE(answer, nullptr);
		EXPECT_EQ(int8_of(*answer, kPreviousSettingsField), 6);
		EXPECT_EQ(int8_of(*answer, kLayoutField), 0);
	}
}

TEST(PageSetup, LandscapeKeepsTheSizesAsEnteredAndTurnsOnlyThePreview)
{
	auto call = start_config_page(BMessage());
	window_token window = find_window(kTitle);
	choose(window, "Page Layout:", "Landscape");
	BRect page = preview_frame(window);
	EXPECT_NEAR(page.left, 269 + 5, 1e-3);
	EXPECT_NEAR(page.top, 59 + 16.3636, 1e-3);
	EXPECT_NEAR(page.Width(), 100, 1e-3);
	EXPECT_NEAR(page.Height(), 77.2727, 1e-3);
	click(window, "OK");
	std::unique_ptr<BMessage> answer = call->Result();
	ASSERT_NE(answer, nullptr);
	EXPECT_EQ(float_of(*answer, kPageWidthField), 8.5f);
	EXPECT_EQ(float_of(*answer, kPageHeightField), 11.0f);
	EXPECT_EQ(int8_of(*answer, kLayoutField), 1);
	expect_rect(rect_of(*answer, kPaperRectField), 637.5f, 825.0f);
}

TEST(PageSetup, OtherIsRefusedUntilASizeIsTypedAndThePreviewKeepsItsShape)
{
	auto call = start_config_page(BMessage());
	window_token window = find_window(kTitle);
	BRect letter = preview_frame(window);
	choose(window, "Paper Size:", "Other");
	EXPECT_EQ(text_of(window, "Width:"), "0.0");
	EXPECT_EQ(text_of(window, "Height:"), "0.0");
	EXPECT_EQ(preview_frame(window), letter);

	click(window, "OK");
	EXPECT_EQ(dismiss_alert(), "\n\tInvalid values!\n\tCheck paper size and scalinng.");
	EXPECT_FALSE(call->Returned());

	type_into(window, "Width:", "5.25");
	EXPECT_EQ(preview_frame(window), letter);  // the height is still 0
	type_into(window, "Height:", "7");
	BRect custom = preview_frame(window);
	EXPECT_NEAR(custom.Width(), 75, 1e-3);
	EXPECT_NEAR(custom.Height(), 100, 1e-3);
	click(window, "OK");
	std::unique_ptr<BMessage> answer = call->Result();
	ASSERT_NE(answer, nullptr);
	EXPECT_EQ(int8_of(*answer, kPreviousSettingsField), 6);
	expect_rect(rect_of(*answer, kPaperRectField), 393.75f, 525.0f);
	EXPECT_EQ(field_list(*answer), "status prevous_settings page_height page_width scaling "
		"layout printable_rect paper_rect");
}

TEST(PageSetup, ZeroOrNegativeScalingIsRefused)
{
	auto call = start_config_page(BMessage());
	window_token window = find_window(kTitle);
	type_into(window, "Scaling:", "0");
	click(window, "OK");
	EXPECT_NE(dismiss_alert().find("Invalid values!"), std::string::npos);
	// A sign can only come by paste.
	ScriptedDisplay::SetClipboard("-50");
	ASSERT_EQ(ScriptedDisplay::Click(window, "Scaling:"), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(window, 'a', B_COMMAND_KEY), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(window, 'v', B_COMMAND_KEY), B_OK);
	EXPECT_EQ(text_of(window, "Scaling:"), "-50");
	click(window, "OK");
	EXPECT_NE(dismiss_alert().find("Invalid values!"), std::string::npos);
	type_into(window, "Scaling:", "50");
	click(window, "OK");
	std::unique_ptr<BMessage> answer = call->Result();
	ASSERT_NE(answer, nullptr);
	EXPECT_EQ(float_of(*answer, kScalingField), 50.0f);
}

TEST(PageSetup, TypedSizesMarkOtherButOKRemembersTheRowTheyMatch)
{
	struct Case {
		const char* width;
		int8 row;
	};
	for (Case typed : {Case{"8.264", 2}, Case{"8.27", 6}}) {
		SCOPED_TRACE(typed.width);
		auto call = start_config_page(BMessage());
		window_token window = find_window(kTitle);
		choose(window, "Paper Size:", "A4");
		type_into(window, "Width:", typed.width);
		EXPECT_EQ(marked_in(window, "Paper Size:"), "Other");
		click(window, "OK");
		std::unique_ptr<BMessage> answer = call->Result();
		ASSERT_NE(answer, nullptr);
		EXPECT_EQ(int8_of(*answer, kPreviousSettingsField), typed.row);
	}
}

TEST(PageSetup, InvalidOKAppendsAStatusThatCancelThenLeavesBehindEntryZero)
{
	BMessage settings;
	settings.AddInt32(kStatusField, 0);
	settings.AddInt16(kCopiesField, 2);
	auto call = start_run_interface(&settings);
	window_token window = find_window(kTitle);
	choose(window, "Paper Size:", "Other");
	click(window, "OK");
	dismiss_alert();
	click(window, "Cancel");
	call->Result();
	int32 first = 1;
	int32 second = 1;
	EXPECT_EQ(settings.FindInt32(kStatusField, 0, &first), B_OK);
	EXPECT_EQ(settings.FindInt32(kStatusField, 1, &second), B_OK);
	EXPECT_EQ(first, -1);
	EXPECT_EQ(second, -1);
	EXPECT_EQ(field_list(settings), "status*2 copies");
}

TEST(PageSetup, KeysTheFieldsDoNotTakeAreDropped)
{
	auto call = start_config_page(BMessage());
	window_token window = find_window(kTitle);
	// A letter, a sign, a space, a second point and a non-ASCII character all go missing.
	type_into(window, "Width:", "1x2-. 5.3\xc3\xa9", false);
	EXPECT_EQ(text_of(window, "Width:"), "12.53");
	// Typing a point over the whole text replaces it.
	ASSERT_EQ(ScriptedDisplay::PressKey(window, 'a', B_COMMAND_KEY), B_OK);
	ASSERT_EQ(ScriptedDisplay::TypeText(window, ".5"), B_OK);
	EXPECT_EQ(text_of(window, "Width:"), ".5");
	// Backspace and the arrows are the field's own.
	ASSERT_EQ(ScriptedDisplay::PressKey(window, B_LEFT_ARROW), B_OK);
	ASSERT_EQ(ScriptedDisplay::TypeText(window, "\b7"), B_OK);
	EXPECT_EQ(text_of(window, "Width:"), "75");
	click(window, "Cancel");
	EXPECT_EQ(call->Result(), nullptr);
}

TEST(PageSetup, PointAndSpaceOnAFocusedButtonAreDropped)
{
	auto call = start_config_page(BMessage());
	window_token window = find_window(kTitle);
	// From the Scaling field, Tab goes on to the OK button.
	click(window, "Scaling:");
	ASSERT_EQ(ScriptedDisplay::PressKey(window, B_TAB), B_OK);
	std::string focus;
	ASSERT_EQ(ScriptedDisplay::GetFocus(window, &focus, kStepTimeout), B_OK);
	ASSERT_EQ(focus, "OK");
	ASSERT_EQ(ScriptedDisplay::TypeText(window, ". "), B_OK);
	ASSERT_EQ(ScriptedDisplay::Sync(window, kStepTimeout), B_OK);
	EXPECT_FALSE(call->Returned(std::chrono::milliseconds(200)));
	EXPECT_TRUE(ScriptedDisplay::IsOpen(window));
	click(window, "Cancel");
	EXPECT_EQ(call->Result(), nullptr);
}

TEST(PageSetup, RepeatedRunsKeepOneValuePerField)
{
	BMessage settings;
	for (const char* paper : {"A4", "B5", "US Letter"}) {
		auto call = start_config_page(settings);
		window_token window = find_window(kTitle);
		choose(window, "Paper Size:", paper);
		click(window, "OK");
		std::unique_ptr<BMessage> answer = call->Result();
		ASSERT_NE(answer, nullptr);
		settings = *answer;
	}
	EXPECT_EQ(field_list(settings), "status prevous_settings page_height page_width scaling "
		"layout printable_rect paper_rect");
	expect_rect(rect_of(settings, kPaperRectField), 637.5f, 825.0f);
}

TEST(PageSetup, EachCallWaitsForItsOwnWindowAmongWindowsOfTheSameTitle)
{
	auto first = start_config_page(BMessage());
	window_token firstWindow = find_window(kTitle, 0);
	auto second = start_config_page(BMessage());
	window_token secondWindow = find_window(kTitle, 1);
	ASSERT_NE(firstWindow, secondWindow);

	click(secondWindow, "Cancel");
	EXPECT_EQ(second->Result(), nullptr);
	// The first window is still open: its call must still be waiting.
	EXPECT_TRUE(ScriptedDisplay::IsOpen(firstWindow));
	EXPECT_FALSE(first->Returned(std::chrono::milliseconds(200)));
	choose(firstWindow, "Paper Size:", "Tabloid");
	click(firstWindow, "OK");
	std::unique_ptr<BMessage> answer = first->Result();
	ASSERT_NE(answer, nullptr);
	expect_rect(rect_of(*answer, kPaperRectField), 825.0f, 1275.0f);
}

TEST(PageSetup, WindowEndedByNeitherButtonAnswersCancelled)
{
	// A "status" 0 left by an earlier setup must not pass for this dialog's answer.
	BMessage settings;
	settings.AddInt32(kStatusField, 0);
	settings.AddFloat(kPageWidthField, 8.5f);
	settings.AddFloat(kPageHeightField, 11.0f);
	auto call = start_config_page(settings);
	window_token window = find_window(kTitle);
	request_quit(window);
	EXPECT_EQ(call->Result(), nullptr);
}

}  // namespace
