// The window kit driven through the scripted display: typing through a key filter, commits,
// check boxes, radio menus, the default button, Tab navigation, alerts and quitting.
#include "WindowTestKit.h"

#include <Messenger.h>
#include <OS.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

using namespace window_test;

namespace {

class WindowTest : public testing::Test {
protected:
	void SetUp() override
	{
		fWindow = new TestWindow("Window Test", &fLog);
		fThread = -1;
		fWindow->Show();
		fThread = fWindow->Thread();
		fMessenger = BMessenger(fWindow);
		fToken = token_of(fWindow);
		ASSERT_NE(fToken, 0);
	}

	void TearDown() override
	{
		if (ScriptedDisplay::IsOpen(fToken))
			(void)fMessenger.SendMessage(B_QUIT_REQUESTED);
		EXPECT_EQ(ScriptedDisplay::WaitForClose(fToken, kTimeout), B_OK);
		// Every alert a test left open goes too.
		window_token alert;
		while (ScriptedDisplay::FindAlert(0, &alert) == B_OK) {
			(void)ScriptedDisplay::PressAlertButton(alert, "Yes");
			ASSERT_EQ(ScriptedDisplay::WaitForClose(alert, kTimeout), B_OK);
		}
	}

	std::string Text(const char* view)
	{
		std::string text;
		EXPECT_EQ(ScriptedDisplay::GetText(fToken, view, &text), B_OK);
		return text;
	}

	std::string Focus()
	{
		std::string focus;
		EXPECT_EQ(ScriptedDisplay::GetFocus(fToken, &focus), B_OK);
		return focus;
	}

	// Everything posted so far has been handled, and the log holds what it sent.
	size_t Settled()
	{
		EXPECT_EQ(ScriptedDisplay::Sync(fToken), B_OK);
		return fLog.Count();
	}

	MessageLog fLog;
	TestWindow* fWindow;
	thread_id fThread;
	BMessenger fMessenger;
	window_token fToken;
};

TEST_F(WindowTest, WindowThreadIsNamedAfterTheTitleAndFoundByTitle)
{
	thread_info info;
	ASSERT_EQ(get_thread_info(fThread, &info), B_OK);
	EXPECT_STREQ(info.name, "w>Window Test");
	EXPECT_EQ(find_thread("w>Window Test"), fThread);

	window_token found;
	ASSERT_EQ(ScriptedDisplay::FindWindow("Window Test", kTimeout, &found), B_OK);
	EXPECT_EQ(found, fToken);
	EXPECT_EQ(ScriptedDisplay::FindWindow("No Such Window", 20000, &found), B_TIMED_OUT);

	ASSERT_TRUE(fWindow->Lock());
	EXPECT_EQ(fWindow->Flags(), 0x62u);
	EXPECT_EQ(fWindow->Feel(), B_MODAL_APP_WINDOW_FEEL);
	EXPECT_EQ(fWindow->Bounds(), BRect(0, 0, 300, 200));
	EXPECT_EQ(fWindow->DefaultButton(), fWindow->ok);
	EXPECT_EQ(fWindow->number->Window(), fWindow);
	EXPECT_EQ(fWindow->FindView("nonameOK"), fWindow->ok);
	fWindow->Unlock();
}

TEST_F(WindowTest, TitleReadUnderTheLockSurvivesRetitlingFromAnotherThread)
{
	std::thread retitler([this] {
		for (int i = 0; i < 300; i++)
			fWindow->SetTitle(i % 2 != 0 ? "Odd title" : "Even title");
	});
	for (int i = 0; i < 300; i++) {
		ASSERT_TRUE(fWindow->Lock());
		std::string title = fWindow->Title();
		fWindow->Unlock();
		EXPECT_TRUE(title == "Window Test" || title == "Odd title" || title == "Even title")
			<< title;
	}
	retitler.join();
}

TEST_F(WindowTest, TypingPassesTheCommonFilterAndEnterCommitsOnce)
{
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Number:"), B_OK);
	EXPECT_EQ(Focus(), "Number:");
	// Letters are dropped by the window's filter, digits reach the field at the caret.
	ASSERT_EQ(ScriptedDisplay::TypeText(fToken, "3a4Z"), B_OK);
	EXPECT_EQ(Text("Number:"), "1234");
	EXPECT_EQ(Settled(), 0u) << "typing alone commits nothing";

	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_ENTER), B_OK);
	ASSERT_TRUE(fLog.WaitFor(1));
	std::vector<Received> messages = fLog.Messages();
	EXPECT_EQ(messages[0].code, kNumber);
	EXPECT_EQ(messages[0].text, "1234");
	// Enter again without a change: nothing new, and the default button stays unpressed.
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_ENTER), B_OK);
	EXPECT_EQ(Settled(), 1u);

	// Enter left the text selected; the right arrow ends the selection at its end, then
	// backspace and the arrows edit and move the caret.
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_RIGHT_ARROW), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_BACKSPACE), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_LEFT_ARROW), B_OK);
	ASSERT_EQ(ScriptedDisplay::TypeText(fToken, "9"), B_OK);
	EXPECT_EQ(Text("Number:"), "1293");
}

TEST_F(WindowTest, LeavingAChangedFieldCommitsAndProgramTextDoesNot)
{
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Number:"), B_OK);
	ASSERT_EQ(ScriptedDisplay::TypeText(fToken, "5"), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_TAB), B_OK);
	ASSERT_TRUE(fLog.WaitFor(1));
	EXPECT_EQ(fLog.Messages()[0].code, kNumber);
	EXPECT_EQ(fLog.Messages()[0].text, "125");
	EXPECT_EQ(Focus(), "Other:");

	// Leaving a field that was not changed sends nothing.
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_TAB), B_OK);
	EXPECT_EQ(Settled(), 1u);

	// Text set by the program is no commit, neither now nor when the field is left.
	ASSERT_TRUE(fWindow->Lock());
	fWindow->number->SetText("99");
	fWindow->Unlock();
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Number:"), B_OK);
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Other:"), B_OK);
	EXPECT_EQ(Settled(), 1u);

	// A click elsewhere commits a change too.
	ASSERT_EQ(ScriptedDisplay::TypeText(fToken, "7"), B_OK);
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Number:"), B_OK);
	ASSERT_TRUE(fLog.WaitFor(2));
	EXPECT_EQ(fLog.Messages()[1].code, kOther);
	EXPECT_EQ(fLog.Messages()[1].text, "7");
}

TEST_F(WindowTest, FilterSeesTheFocusedTextViewAsTarget)
{
	// At the caret: one point passes, a second does not.
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Number:"), B_OK);
	ASSERT_EQ(ScriptedDisplay::TypeText(fToken, ".5."), B_OK);
	EXPECT_EQ(Text("Number:"), "12.5");
	// Over a selection holding the point: the selection goes, the new point comes.
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, "a", B_COMMAND_KEY), B_OK);
	ASSERT_EQ(ScriptedDisplay::TypeText(fToken, "."), B_OK);
	EXPECT_EQ(Text("Number:"), ".");
	// With the focus on a check box the target is no text view: the point is dropped.
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Check"), B_OK);
	ASSERT_EQ(ScriptedDisplay::TypeText(fToken, "."), B_OK);
	EXPECT_EQ(Text("Number:"), ".");
}

TEST_F(WindowTest, TabbingIntoAFieldSelectsItSoTypingReplaces)
{
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_TAB), B_OK);
	EXPECT_EQ(Focus(), "Number:");
	ASSERT_EQ(ScriptedDisplay::TypeText(fToken, "8"), B_OK);
	EXPECT_EQ(Text("Number:"), "8");
}

TEST_F(WindowTest, CommandKeysPassTheFilterAndPaste)
{
	ScriptedDisplay::SetClipboard("4ab\nrest");
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Other:"), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, "v", B_COMMAND_KEY), B_OK);
	EXPECT_EQ(Text("Other:"), "4ab");
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, "a", B_COMMAND_KEY), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, "x", B_COMMAND_KEY), B_OK);
	EXPECT_EQ(Text("Other:"), "");
	EXPECT_EQ(ScriptedDisplay::Clipboard(), "4ab");
}

TEST_F(WindowTest, CheckBoxClickTogglesThenSends)
{
	int32 value = -1;
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Check"), B_OK);
	ASSERT_TRUE(fLog.WaitFor(1));
	ASSERT_EQ(ScriptedDisplay::GetValue(fToken, "Check", &value), B_OK);
	EXPECT_EQ(value, B_CONTROL_ON);
	EXPECT_EQ(fLog.Messages()[0].code, kCheck);
	EXPECT_EQ(fLog.Messages()[0].value, B_CONTROL_ON) << "the value changes before the send";

	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Check"), B_OK);
	ASSERT_TRUE(fLog.WaitFor(2));
	ASSERT_EQ(ScriptedDisplay::GetValue(fToken, "Check", &value), B_OK);
	EXPECT_EQ(value, B_CONTROL_OFF);

	// The program's SetValue sends nothing.
	ASSERT_TRUE(fWindow->Lock());
	fWindow->check->SetValue(B_CONTROL_ON);
	fWindow->Unlock();
	EXPECT_EQ(Settled(), 2u);
}

TEST_F(WindowTest, ChoosingARadioItemMarksItAloneAndLabelsTheField)
{
	std::string label;
	ASSERT_EQ(ScriptedDisplay::GetMarkedItem(fToken, "Size", &label), B_OK);
	EXPECT_EQ(label, "Small");
	EXPECT_EQ(Text("Size:"), "Small");

	ASSERT_EQ(ScriptedDisplay::ChooseMenuItem(fToken, "Size", "Large"), B_OK);
	ASSERT_TRUE(fLog.WaitFor(1));
	EXPECT_EQ(fLog.Messages()[0].code, kSize);
	EXPECT_EQ(fLog.Messages()[0].chosen, 2);
	ASSERT_EQ(ScriptedDisplay::GetMarkedItem(fToken, "Size", &label), B_OK);
	EXPECT_EQ(label, "Large");
	EXPECT_EQ(Text("Size"), "Large");

	ASSERT_TRUE(fWindow->Lock());
	BMenu* menu = fWindow->size->Menu();
	int32 marked = 0;
	for (int32 i = 0; i < menu->CountItems(); i++)
		marked += menu->ItemAt(i)->IsMarked() ? 1 : 0;
	EXPECT_EQ(marked, 1);
	EXPECT_EQ(menu->IndexOf(menu->FindMarked()), 2);
	// Marking by the program moves the mark and the label, and sends nothing.
	menu->FindItem("Medium")->SetMarked(true);
	EXPECT_STREQ(fWindow->size->MenuLabel(), "Medium");
	EXPECT_FALSE(menu->FindItem("Large")->IsMarked());
	fWindow->Unlock();
	EXPECT_EQ(Settled(), 1u);

	EXPECT_EQ(ScriptedDisplay::ChooseMenuItem(fToken, "Size", "Huge"), B_OK);
	EXPECT_EQ(Settled(), 1u) << "an unknown item is no choice";
}

// A click on a menu field opens its menu in a window right below it; a click on an item
// there chooses it as ChooseMenuItem does, and the menu goes with its field's window.
TEST_F(WindowTest, MenuFieldOpensItsMenuBelowItAndAClickThereChooses)
{
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Size:"), B_OK);
	window_token menu = 0;
	ASSERT_EQ(ScriptedDisplay::FindWindow("Size:", kTimeout, &menu), B_OK);
	BRect frame;
	ASSERT_EQ(ScriptedDisplay::GetFrame(menu, &frame), B_OK);
	EXPECT_EQ(frame.LeftTop(), BPoint(160, 211)) << "left of the field's menu, under it";
	EXPECT_EQ(frame.Width(), 140) << "as wide as the field's menu";
	EXPECT_EQ(Settled(), 0u) << "opening chooses nothing";

	float row = (frame.Height() + 1 - 2) / 3;
	ASSERT_EQ(ScriptedDisplay::ClickAt(menu, BPoint(20, 1 + 2 * row + row / 2)), B_OK);
	ASSERT_TRUE(fLog.WaitFor(1));
	EXPECT_EQ(fLog.Messages()[0].chosen, 2);
	EXPECT_EQ(ScriptedDisplay::WaitForClose(menu, kTimeout), B_OK);
	EXPECT_EQ(Text("Size:"), "Large");

	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Size:"), B_OK);
	ASSERT_EQ(ScriptedDisplay::FindWindow("Size:", kTimeout, &menu), B_OK);
	ASSERT_EQ(fMessenger.SendMessage(B_QUIT_REQUESTED), B_OK);
	EXPECT_EQ(ScriptedDisplay::WaitForClose(menu, kTimeout), B_OK);
	EXPECT_EQ(fLog.Count(), 1u);
}

TEST_F(WindowTest, EnterPressesTheDefaultButtonOnlyOutsideTextFields)
{
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Number:"), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_ENTER), B_OK);
	EXPECT_EQ(Settled(), 0u);

	// Tab on from the two fields to the check box.
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_TAB), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_TAB), B_OK);
	EXPECT_EQ(Focus(), "Check");
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_ENTER), B_OK);
	ASSERT_TRUE(fLog.WaitFor(1));
	EXPECT_EQ(fLog.Messages()[0].code, kOK);
	int32 value = -1;
	ASSERT_EQ(ScriptedDisplay::GetValue(fToken, "Check", &value), B_OK);
	EXPECT_EQ(value, B_CONTROL_OFF) << "Enter went to the default button, not the box";
}

TEST_F(WindowTest, TabVisitsNavigableViewsInTreeOrderBothWays)
{
	const char* order[] = {"Number:", "Other:", "Check", "Size:", "OK", "Alert", "Quit",
		"Number:"};
	EXPECT_EQ(Focus(), "");
	for (const char* expected : order) {
		ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_TAB), B_OK);
		EXPECT_EQ(Focus(), expected);
	}
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, "\t", B_SHIFT_KEY), B_OK);
	EXPECT_EQ(Focus(), "Quit");
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, "\t", B_SHIFT_KEY), B_OK);
	EXPECT_EQ(Focus(), "Alert");

	// A disabled control is passed over.
	ASSERT_TRUE(fWindow->Lock());
	fWindow->check->SetEnabled(false);
	fWindow->number->MakeFocus(true);
	fWindow->Unlock();
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_TAB), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(fToken, B_TAB), B_OK);
	EXPECT_EQ(Focus(), "Size:");
}

TEST_F(WindowTest, SynchronousAlertBlocksTheWindowUntilAnswered)
{
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Alert"), B_OK);
	window_token alert;
	ASSERT_EQ(ScriptedDisplay::FindAlert(kTimeout, &alert), B_OK);
	std::string title;
	ASSERT_EQ(ScriptedDisplay::GetTitle(alert, &title), B_OK);
	EXPECT_EQ(title, "alert_window");
	std::string text;
	ASSERT_EQ(ScriptedDisplay::GetAlertText(alert, &text), B_OK);
	EXPECT_EQ(text, "\n\tSomething!\n\tAnswer me.");

	// The window's thread waits in Go(): the window answers nothing meanwhile.
	EXPECT_EQ(ScriptedDisplay::Sync(fToken, 100000), B_TIMED_OUT);
	EXPECT_EQ(fLog.Count(), 0u);

	EXPECT_EQ(ScriptedDisplay::PressAlertButton(alert, "Maybe"), B_NAME_NOT_FOUND);
	ASSERT_EQ(ScriptedDisplay::PressAlertButton(alert, "Yes"), B_OK);
	ASSERT_TRUE(fLog.WaitFor(1));
	EXPECT_EQ(fLog.Messages()[0].code, kAlert);
	EXPECT_EQ(fLog.Messages()[0].alertAnswer, 1);
	EXPECT_EQ(ScriptedDisplay::WaitForClose(alert, kTimeout), B_OK);
	EXPECT_EQ(ScriptedDisplay::Sync(fToken), B_OK);
	EXPECT_EQ(ScriptedDisplay::GetAlertText(alert, &text), B_BAD_WINDOW_ID);
}

TEST_F(WindowTest, EnterAnswersAnAlertWithItsLastButton)
{
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Alert"), B_OK);
	window_token alert;
	ASSERT_EQ(ScriptedDisplay::FindAlert(kTimeout, &alert), B_OK);
	ASSERT_EQ(ScriptedDisplay::PressKey(alert, B_ENTER), B_OK);
	ASSERT_TRUE(fLog.WaitFor(1));
	EXPECT_EQ(fLog.Messages()[0].alertAnswer, 1);
	EXPECT_EQ(ScriptedDisplay::WaitForClose(alert, kTimeout), B_OK);
}

TEST_F(WindowTest, QuitFromAHandlerEndsTheThreadAndTheWindow)
{
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Quit"), B_OK);
	ASSERT_EQ(ScriptedDisplay::WaitForClose(fToken, kTimeout), B_OK);
	thread_info info;
	EXPECT_NE(get_thread_info(fThread, &info), B_OK) << "the thread has ended";
	status_t exitValue = -1;
	EXPECT_EQ(wait_for_thread(fThread, &exitValue), B_OK);
	EXPECT_FALSE(ScriptedDisplay::IsOpen(fToken));
	EXPECT_FALSE(fMessenger.IsValid());

	// Calls on the window that has gone fail cleanly.
	std::string text;
	EXPECT_EQ(ScriptedDisplay::GetText(fToken, "Number:", &text), B_BAD_WINDOW_ID);
	EXPECT_EQ(ScriptedDisplay::Click(fToken, "OK"), B_BAD_WINDOW_ID);
	EXPECT_EQ(ScriptedDisplay::TypeText(fToken, "1"), B_BAD_WINDOW_ID);
	EXPECT_EQ(ScriptedDisplay::Sync(fToken), B_BAD_WINDOW_ID);
}

TEST(WindowTwins, EachWindowOfTheSameTitleIsWaitedForByItsOwnThread)
{
	MessageLog firstLog;
	MessageLog secondLog;
	TestWindow* first = new TestWindow("Twin", &firstLog);
	TestWindow* second = new TestWindow("Twin", &secondLog);
	// The way a dialog learns its own window's thread: shown and asked under one more
	// lock, so the window cannot have quit (and gone) in between.
	auto show = [](BWindow* window) {
		EXPECT_TRUE(window->Lock());
		window->Show();
		thread_id thread = window->Thread();
		window->Unlock();
		return thread;
	};
	thread_id firstThread = show(first);
	thread_id secondThread = show(second);
	ASSERT_NE(firstThread, secondThread);

	window_token tokens[2];
	ASSERT_EQ(ScriptedDisplay::FindWindow("Twin", kTimeout, &tokens[0], 0), B_OK);
	ASSERT_EQ(ScriptedDisplay::FindWindow("Twin", kTimeout, &tokens[1], 1), B_OK);
	EXPECT_EQ(tokens[0], token_of(first));
	EXPECT_EQ(tokens[1], token_of(second));

	// The name finds only one of them; the thread ids tell them apart.
	EXPECT_EQ(find_thread("w>Twin"), firstThread);
	ASSERT_EQ(ScriptedDisplay::Click(tokens[1], "Quit"), B_OK);
	EXPECT_EQ(wait_for_thread(secondThread, NULL), B_OK);
	EXPECT_TRUE(ScriptedDisplay::IsOpen(tokens[0]));
	EXPECT_FALSE(ScriptedDisplay::IsOpen(tokens[1]));
	EXPECT_EQ(find_thread("w>Twin"), firstThread);

	ASSERT_EQ(ScriptedDisplay::Click(tokens[0], "Quit"), B_OK);
	EXPECT_EQ(wait_for_thread(firstThread, NULL), B_OK);
	EXPECT_FALSE(ScriptedDisplay::IsOpen(tokens[0]));
}

TEST(WindowLifecycle, CloseBoxAsksAClosableWindowToQuit)
{
	BWindow* window = new BWindow(BRect(0, 0, 99, 99), "Closable", B_TITLED_WINDOW, 0);
	window->Show();
	window_token token;
	ASSERT_EQ(ScriptedDisplay::FindWindow("Closable", kTimeout, &token), B_OK);
	ASSERT_EQ(ScriptedDisplay::Close(token), B_OK);
	EXPECT_EQ(ScriptedDisplay::WaitForClose(token, kTimeout), B_OK);
	EXPECT_EQ(ScriptedDisplay::Close(token), B_BAD_WINDOW_ID);
}

TEST(WindowLifecycle, WindowDeletedBeforeShowAndHiddenWindowsAreNotFound)
{
	MessageLog log;
	TestWindow* never = new TestWindow("Never Shown", &log);
	window_token token;
	EXPECT_EQ(ScriptedDisplay::FindWindow("Never Shown", 0, &token), B_TIMED_OUT);
	never->Quit();  // not running: deleted at once

	TestWindow* hidden = new TestWindow("Hidden", &log);
	hidden->Show();
	thread_id thread = hidden->Thread();
	ASSERT_EQ(ScriptedDisplay::FindWindow("Hidden", kTimeout, &token), B_OK);
	EXPECT_EQ(ScriptedDisplay::Close(token), B_NOT_ALLOWED) << "no close box";
	hidden->Hide();
	window_token again;
	EXPECT_EQ(ScriptedDisplay::FindWindow("Hidden", 0, &again), B_TIMED_OUT);
	EXPECT_TRUE(ScriptedDisplay::IsOpen(token));
	ASSERT_TRUE(hidden->Lock());
	hidden->Quit();  // from another thread: returns once the window has gone
	EXPECT_FALSE(ScriptedDisplay::IsOpen(token));
	(void)thread;
}

}  // namespace


// A synced window has also handled what the input before the sync made its controls post:
// the check box's own message comes right after the click, behind the sync marker.
TEST_F(WindowTest, SyncWaitsForTheMessagesControlsPostInTurn)
{
	for (size_t clicks = 1; clicks <= 20; clicks++) {
		ASSERT_EQ(ScriptedDisplay::Click(fToken, "Check"), B_OK);
		ASSERT_EQ(ScriptedDisplay::Sync(fToken), B_OK);
		ASSERT_EQ(fLog.Count(), clicks);
	}
}
