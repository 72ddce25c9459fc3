// The Print Setup dialog and config_job's body, worked through the display's scripting
// interface as a user works them.

#include "DialogDriver.h"

#include "JobSettings.h"
#include "PrintInterface.h"
#include "SetupHooks.h"

#include <Message.h>

#include <gtest/gtest.h>

namespace {

using namespace dialog_test;

const char kTitle[] = "Print Setup";

std::unique_ptr<DialogCall> start_config_job(const BMessage& settings)
{
	BMessage copy(settings);
	return std::make_unique<DialogCall>([copy] { return run_config_job(&copy); });
}

std::unique_ptr<DialogCall> start_run_interface(BMessage* settings)
{
	return std::make_unique<DialogCall>([settings] {
		PrintSetupInterface interface;
		BMessage* returned = interface.RunInterface(settings);
		EXPECT_EQ(returned, settings);
		return nullptr;
	});
}

template<typename T>
T field(const BMessage& message, const char* name)
{
	T value{};
	status_t status;
	if constexpr (sizeof(T) == 1)
		status = message.FindInt8(name, &value);
	else if constexpr (sizeof(T) == 2)
		status = message.FindInt16(name, &value);
	else
		status = message.FindInt32(name, &value);
	EXPECT_EQ(status, B_OK) << name;
	return value;
}

void paste_into(window_token window, const char* view, const char* text)
{
	ScriptedDisplay::SetClipboard(text);
	ASSERT_EQ(ScriptedDisplay::Click(window, view), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(window, 'a', B_COMMAND_KEY), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(window, 'v', B_COMMAND_KEY), B_OK);
	// The clipboard is read when the key is handled, not when it is posted.
	settle(window);
}

const char kInvalidText[] = "\nInvalid Values!\nCheck the number of copies and pages.";

TEST(PrintSetup, EmptySettingsOpenOnDefaultsAndOKDerivesTheJobFields)
{
	BMessage settings('abcd');
	settings.AddFloat(kPageWidthField, 8.5f);
	settings.AddRect(kPaperRectField, BRect(0, 0, 637.5f, 825));
	auto call = start_config_job(settings);
	window_token window = find_window(kTitle);
	EXPECT_EQ(marked_in(window, "Resolution:"), "300 dpi");
	EXPECT_EQ(text_of(window, "Resolution:"), "300 dpi");
	EXPECT_EQ(value_of(window, "All Pages"), 1);
	EXPECT_EQ(value_of(window, "Pages"), 0);
	EXPECT_EQ(value_of(window, "Black/White print"), 0);
	EXPECT_EQ(text_of(window, "From:"), "");
	EXPECT_EQ(text_of(window, "To:"), "");
	EXPECT_EQ(text_of(window, "Copies:"), "1");
	click(window, "OK");
	std::unique_ptr<BMessage> answer = call->Result();
	ASSERT_NE(answer, nullptr);
	EXPECT_EQ(answer->what, uint32('okok'));
	EXPECT_EQ(field_list(*answer), "page_width paper_rect status copies count_type BWMode "
		"quality_type first_page last_page xres yres");
	EXPECT_EQ(field<int16>(*answer, kCopiesField), 1);
	EXPECT_EQ(field<int8>(*answer, kCountTypeField), 0);
	EXPECT_EQ(field<int16>(*answer, kBWModeField), 0);
	EXPECT_EQ(field<int8>(*answer, kQualityTypeField), 0);
	EXPECT_EQ(field<int32>(*answer, kFirstPageField), 1);
	EXPECT_EQ(field<int32>(*answer, kLastPageField), -1);
	EXPECT_EQ(field<int32>(*answer, kXResField), 300);
	EXPECT_EQ(field<int32>(*answer, kYResField), 300);
	EXPECT_EQ(settings.what, uint32('abcd'));
	EXPECT_FALSE(settings.HasInt32(kStatusField));
}

TEST(PrintSetup, StoredSettingsArePreselectedButCopiesAlwaysStartAtOne)
{
	BMessage settings;
	settings.AddInt8(kCountTypeField, 1);
	settings.AddInt16(kFromField, 2);
	settings.AddInt16(kToField, 7);
	settings.AddInt8(kQualityTypeField, 2);
	settings.AddInt16(kBWModeField, 1);
	settings.AddInt16(kCopiesField, 5);
	auto call = start_config_job(settings);
	window_token window = find_window(kTitle);
	EXPECT_EQ(value_of(window, "Pages"), 1);
	EXPECT_EQ(value_of(window, "All Pages"), 0);
	EXPECT_EQ(text_of(window, "From:"), "2");
	EXPECT_EQ(text_of(window, "To:"), "7");
	EXPECT_EQ(marked_in(window, "Resolution:"), "75 dpi");
	EXPECT_EQ(value_of(window, "Black/White print"), 1);
	EXPECT_EQ(text_of(window, "Copies:"), "1");
	// OK without touching the menu keeps the preselected resolution.
	click(window, "OK");
	std::unique_ptr<BMessage> answer = call->Result();
	ASSERT_NE(answer, nullptr);
	EXPECT_EQ(field<int8>(*answer, kQualityTypeField), 2);
	EXPECT_EQ(field<int32>(*answer, kXResField), 75);
	EXPECT_EQ(field<int32>(*answer, kFirstPageField), 2);
	EXPECT_EQ(field<int32>(*answer, kLastPageField), 7);
	EXPECT_EQ(field<int16>(*answer, kCopiesField), 1);
	EXPECT_EQ(field<int16>(*answer, kBWModeField), 1);
}

TEST(PrintSetup, AllPagesHidesAndIgnoresAnOldRange)
{
	BMessage settings;
	settings.AddInt8(kCountTypeField, 0);
	settings.AddInt16(kFromField, 4);
	settings.AddInt16(kToField, 9);
	auto call = start_config_job(settings);
	window_token window = find_window(kTitle);
	EXPECT_EQ(value_of(window, "All Pages"), 1);
	EXPECT_EQ(text_of(window, "From:"), "");
	EXPECT_EQ(text_of(window, "To:"), "");
	type_into(window, "Copies:", "2");
	click(window, "OK");
	std::unique_ptr<BMessage> answer = call->Result();
	ASSERT_NE(answer, nullptr);
	EXPECT_EQ(field<int16>(*answer, kCopiesField), 2);
	EXPECT_EQ(field<int32>(*answer, kFirstPageField), 1);
	EXPECT_EQ(field<int32>(*answer, kLastPageField), -1);
	EXPECT_EQ(field<int16>(*answer, kFromField), 4);  // left as it was, not used
	EXPECT_EQ(field<int16>(*answer, kToField), 9);
}

TEST(PrintSetup, StoredValuesOutsideTheTablesOpenOnTheDefaults)
{
	BMessage settings;
	settings.AddInt8(kQualityTypeField, 9);
	settings.AddInt8(kCountTypeField, 3);
	settings.AddInt16(kFromField, 2);
	settings.AddInt16(kToField, 4);
	settings.AddInt16(kBWModeField, -4);
	auto call = start_config_job(settings);
	window_token window = find_window(kTitle);
	EXPECT_EQ(marked_in(window, "Resolution:"), "300 dpi");
	EXPECT_EQ(value_of(window, "Pages"), 1);
	EXPECT_EQ(value_of(window, "Black/White print"), 1);
	click(window, "OK");
	std::unique_ptr<BMessage> answer = call->Result();
	ASSERT_NE(answer, nullptr);
	EXPECT_EQ(field<int8>(*answer, kQualityTypeField), 0);
	EXPECT_EQ(field<int8>(*answer, kCountTypeField), 1);
	EXPECT_EQ(field<int16>(*answer, kBWModeField), 1);
	EXPECT_EQ(field<int32>(*answer, kXResField), 300);
}

TEST(PrintSetup, RangeBoxesAreAPairAndATypedPageChoosesTheRange)
{
	auto call = start_config_job(BMessage());
	window_token window = find_window(kTitle);
	click(window, "All Pages");
	EXPECT_EQ(value_of(window, "All Pages"), 0);
	EXPECT_EQ(value_of(window, "Pages"), 1);
	click(window, "All Pages");
	EXPECT_EQ(value_of(window, "All Pages"), 1);
	EXPECT_EQ(value_of(window, "Pages"), 0);
	click(window, "Pages");
	EXPECT_EQ(value_of(window, "All Pages"), 0);
	EXPECT_EQ(value_of(window, "Pages"), 1);
	click(window, "Pages");
	EXPECT_EQ(value_of(window, "All Pages"), 1);
	EXPECT_EQ(value_of(window, "Pages"), 0);

	// The space bar on a focused box is dropped with every other key.
	ASSERT_EQ(ScriptedDisplay::PressKey(window, ' '), B_OK);
	EXPECT_EQ(value_of(window, "Pages"), 0);

	type_into(window, "To:", "5");
	EXPECT_EQ(value_of(window, "All Pages"), 0);
	EXPECT_EQ(value_of(window, "Pages"), 1);
	type_into(window, "From:", "003");
	click(window, "OK");
	std::unique_ptr<BMessage> answer = call->Result();
	ASSERT_NE(answer, nullptr);
	EXPECT_EQ(field<int8>(*answer, kCountTypeField), 1);
	EXPECT_EQ(field<int16>(*answer, kFromField), 3);
	EXPECT_EQ(field<int16>(*answer, kToField), 5);
	EXPECT_EQ(field<int32>(*answer, kFirstPageField), 3);
	EXPECT_EQ(field<int32>(*answer, kLastPageField), 5);
}

TEST(PrintSetup, RefusedValuesShowTheAlertAndWriteNothing)
{
	BMessage settings;
	settings.AddInt32(kStatusField, 0);
	settings.AddFloat(kPageWidthField, 8.5f);
	auto call = start_run_interface(&settings);
	window_token window = find_window(kTitle);

	type_into(window, "Copies:", "");
	click(window, "OK");
	EXPECT_EQ(dismiss_alert(), kInvalidText);
	type_into(window, "Copies:", "0");
	click(window, "OK");
	EXPECT_EQ(dismiss_alert(), kInvalidText);
	// Numbers a 16-bit field cannot hold are refused, not wrapped (65537 would be 1).
	for (const char* copies : {"32768", "65537", "99999999999999999999"}) {
		type_into(window, "Copies:", copies);
		EXPECT_EQ(text_of(window, "Copies:"), copies);
		click(window, "OK");
		EXPECT_EQ(dismiss_alert(), kInvalidText) << copies;
	}
	paste_into(window, "Copies:", "-3");
	EXPECT_EQ(text_of(window, "Copies:"), "-3");
	click(window, "OK");
	EXPECT_EQ(dismiss_alert(), kInvalidText);

	type_into(window, "Copies:", "2");
	type_into(window, "From:", "5");
	type_into(window, "To:", "3");
	click(window, "OK");
	EXPECT_EQ(dismiss_alert(), kInvalidText);
	type_into(window, "From:", "");
	type_into(window, "To:", "3");
	click(window, "OK");
	EXPECT_EQ(dismiss_alert(), kInvalidText);
	type_into(window, "From:", "1");
	type_into(window, "To:", "70000");
	click(window, "OK");
	EXPECT_EQ(dismiss_alert(), kInvalidText);
	EXPECT_FALSE(call->Returned());

	click(window, "Cancel");
	call->Result();
	EXPECT_EQ(field_list(settings), "status page_width");
	EXPECT_EQ(field<int32>(settings, kStatusField), -1);
}

TEST(PrintSetup, CopiesTakeDigitsOnlyAndPastedTextIsReadUpToItsFirstNonDigit)
{
	auto call = start_config_job(BMessage());
	window_token window = find_window(kTitle);
	type_into(window, "Copies:", "1a -.2\xc3\xa9", false);
	EXPECT_EQ(text_of(window, "Copies:"), "12");
	paste_into(window, "Copies:", "4ab");
	type_into(window, "From:", "2");
	type_into(window, "To:", "3");
	paste_into(window, "To:", "12ab");
	EXPECT_EQ(text_of(window, "To:"), "12ab");
	click(window, "OK");
	std::unique_ptr<BMessage> answer = call->Result();
	ASSERT_NE(answer, nullptr);
	EXPECT_EQ(field<int16>(*answer, kCopiesField), 4);
	EXPECT_EQ(field<int16>(*answer, kToField), 12);
}

TEST(PrintSetup, EachResolutionGivesItsDotsPerInch)
{
	struct Case {
		const char* label;
		int8 quality;
		int32 resolution;
	};
	for (Case chosen : {Case{"150 dpi", 1, 150}, Case{"75 dpi", 2, 75}, Case{"300 dpi", 0, 300}}) {
		SCOPED_TRACE(chosen.label);
		BMessage settings;
		settings.AddInt8(kQualityTypeField, 1);
		auto call = start_config_job(settings);
		window_token window = find_window(kTitle);
		choose(window, "Resolution:", chosen.label);
		EXPECT_EQ(text_of(window, "Resolution:"), chosen.label);
		click(window, "OK");
		std::unique_ptr<BMessage> answer = call->Result();
		ASSERT_NE(answer, nullptr);
		EXPECT_EQ(field<int8>(*answer, kQualityTypeField), chosen.quality);
		EXPECT_EQ(field<int32>(*answer, kXResField), chosen.resolution);
		EXPECT_EQ(field<int32>(*answer, kYResField), chosen.resolution);
	}
}

TEST(PrintSetup, RepeatedRunsKeepOneValuePerField)
{
	BMessage settings;
	settings.AddInt32(kStatusField, 0);  // as a page setup leaves it
	for (const char* copies : {"3", "2"}) {
		auto call = start_config_job(settings);
		window_token window = find_window(kTitle);
		type_into(window, "Copies:", copies);
		click(window, "Black/White print");
		click(window, "OK");
		std::unique_ptr<BMessage> answer = call->Result();
		ASSERT_NE(answer, nullptr);
		settings = *answer;
	}
	EXPECT_EQ(field_list(settings), "status copies count_type BWMode quality_type first_page "
		"last_page xres yres");
	EXPECT_EQ(field<int16>(settings, kCopiesField), 2);
	EXPECT_EQ(field<int16>(settings, kBWModeField), 0);  // clicked on, then off again
}

TEST(PrintSetup, CancelAnswersNothingWhateverTheSettingsHeld)
{
	BMessage settings;
	settings.AddInt32(kStatusField, 0);
	settings.AddInt32(kStatusField, 0);
	settings.AddInt32(kXResField, 150);
	auto call = start_config_job(settings);
	window_token window = find_window(kTitle);
	type_into(window, "Copies:", "7");
	click(window, "Cancel");
	EXPECT_EQ(call->Result(), nullptr);

	// The window's own answer: one "status", -1, and nothing else written.
	BMessage kept(settings);
	auto run = start_run_interface(&kept);
	click(find_window(kTitle), "Cancel");
	run->Result();
	// Two entries of "status" become one, stored anew.
	EXPECT_EQ(field_list(kept), "xres status");
	EXPECT_EQ(field<int32>(kept, kStatusField), -1);
}

TEST(PrintSetup, WindowEndedByNeitherButtonAnswersCancelled)
{
	BMessage settings;
	settings.AddInt32(kStatusField, 0);
	auto call = start_config_job(settings);
	window_token window = find_window(kTitle);
	request_quit(window);
	EXPECT_EQ(call->Result(), nullptr);
}

}  // namespace
