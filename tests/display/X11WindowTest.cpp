// Windows of this process on the X display: what real key presses become, the close box,
// and pop-up menus. The suite's server is the process's display from its first test on.

#include "XServer.h"

#include <InteractiveDisplay.h>
#include <MenuField.h>
#include <MenuItem.h>
#include <Message.h>
#include <MessageFilter.h>
#include <PopUpMenu.h>
#include <ScriptedDisplay.h>
#include <Window.h>

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <condition_variable>
#include <memory>
#include <mutex>

using x_test::Client;

namespace {

const bigtime_t kTimeout = 30000000;

// The key messages a window's common filter sees, and the menu choices it receives.
struct Log {
	std::mutex lock;
	std::condition_variable changed;
	std::vector<BMessage> keys;
	std::vector<int32> chosen;

	template<typename Done>
	bool WaitFor(Done done)
	{
		std::unique_lock<std::mutex> guard(lock);
		return changed.wait_for(guard, std::chrono::microseconds(kTimeout), [&] { return done(); });
	}
};

class KeyRecorder : public BMessageFilter {
public:
	explicit KeyRecorder(Log* log)
		: BMessageFilter(B_ANY_DELIVERY, B_ANY_SOURCE, B_KEY_DOWN), fLog(log) {}

	filter_result Filter(BMessage* message, BHandler**) override
	{
		std::lock_guard<std::mutex> guard(fLog->lock);
		fLog->keys.push_back(*message);
		fLog->changed.notify_all();
		return B_SKIP_MESSAGE;
	}

private:
	Log* fLog;
};

// A closable window with a menu field "Size:" (Small, Medium, Large) at its top left.
class ShownWindow : public BWindow {
public:
	ShownWindow(const char* title, Log* log)
		: BWindow(BRect(50, 50, 249, 149), title, B_TITLED_WINDOW_LOOK, B_NORMAL_WINDOW_FEEL, 0),
		  fLog(log)
	{
		AddCommonFilter(new KeyRecorder(log));
		BPopUpMenu* menu = new BPopUpMenu("", true, true);
		const char* sizes[] = {"Small", "Medium", "Large"};
		for (int8 i = 0; i < 3; i++) {
			BMessage* message = new BMessage('size');
			message->AddInt8("chosen", i);
			BMenuItem* item = new BMenuItem(sizes[i], message);
			item->SetMarked(i == 0);
			menu->AddItem(item);
		}
		BMenuField* field = new BMenuField(BRect(10, 10, 150, 30), "size", "Size:", menu);
		field->SetDivider(40);
		AddChild(field);
	}

	void MessageReceived(BMessage* message) override
	{
		if (message->what != 'size') {
			BWindow::MessageReceived(message);
			return;
		}
		std::lock_guard<std::mutex> guard(fLog->lock);
		fLog->chosen.push_back(message->GetInt8("chosen", -1));
		fLog->changed.notify_all();
	}

private:
	Log* fLog;
};

class X11Window : public ::testing::Test {
protected:
	static void SetUpTestSuite()
	{
		sServer = new x_test::Xvfb;
		std::string error;
		if (sServer->Running())
			sOpened = InteractiveDisplay::Open(sServer->Name().c_str(), &error) == B_OK;
	}

	static void TearDownTestSuite()
	{
		delete sServer;
		sServer = nullptr;
	}

	void SetUp() override
	{
		ASSERT_TRUE(sServer->Running()) << sServer->Error();
		ASSERT_TRUE(sOpened);
		fClient = std::make_unique<Client>(sServer->Name());
		ASSERT_TRUE(fClient->Connected());
	}

	// Shows a window and waits for it on the screen.
	void Show(const char* title)
	{
		fWindow = new ShownWindow(title, &fLog);
		fWindow->Show();
		ASSERT_EQ(ScriptedDisplay::FindWindow(title, kTimeout, &fToken), B_OK);
		fShown = fClient->WaitForWindow(title);
		ASSERT_NE(fShown, static_cast<xcb_window_t>(XCB_NONE));
	}

	void TearDown() override
	{
		if (fWindow != nullptr && ScriptedDisplay::IsOpen(fToken) && fWindow->Lock())
			fWindow->Quit();
	}

	static x_test::Xvfb* sServer;
	static bool sOpened;
	std::unique_ptr<Client> fClient;
	Log fLog;
	ShownWindow* fWindow = nullptr;
	window_token fToken = 0;
	xcb_window_t fShown = XCB_NONE;
};

x_test::Xvfb* X11Window::sServer = nullptr;
bool X11Window::sOpened = false;

// The dialogs' key filters must see on the screen what they see headless: the same fields
// with the platform's codes, whatever keyboard the X server has.
TEST_F(X11Window, KeyPressesArriveAsThePlatformsKeyMessages)
{
	struct Case {
		uint32_t keysym;  // pressed with Shift when the keymap has it on the shifted level
		bool control;
		const char* bytes;
		int32 key;
		uint32 modifiers;
		int32 rawChar;
	};
	const Case cases[] = {
		{'7', false, "7", 0x18, 0, '7'},
		{'a', false, "a", 0x3c, 0, 'a'},
		{'A', false, "A", 0x3c, B_SHIFT_KEY | B_LEFT_SHIFT_KEY, 'a'},
		{'v', true, "v", 0x4f, B_COMMAND_KEY | B_LEFT_COMMAND_KEY, 'v'},
		{'.', false, ".", 0x54, 0, '.'},
		{'-', false, "-", 0x1c, 0, '-'},
		{' ', false, " ", 0x5e, 0, ' '},
		{XKB_KEY_BackSpace, false, "\x08", 0x1e, 0, 0x08},
		{XKB_KEY_Tab, false, "\t", 0x26, 0, 0x09},
		{XKB_KEY_Return, false, "\n", 0x47, 0, 0x0a},
		{XKB_KEY_KP_Enter, false, "\n", 0x5b, 0, 0x0a},
		{XKB_KEY_Escape, false, "\x1b", 0x01, 0, 0x1b},
		{XKB_KEY_Left, false, "\x1c", 0x61, 0, 0x1c},
		{XKB_KEY_Down, false, "\x1f", 0x62, 0, 0x1f},
		{XKB_KEY_Delete, false, "\x7f", 0x34, 0, 0x7f},
		{XKB_KEY_Home, false, "\x01", 0x20, 0, 0x01},
		{XKB_KEY_Next, false, "\x0c", 0x36, 0, 0x0c},
		{XKB_KEY_F2, false, "\x10", 0x03, 0, 0x10},
	};
	Show("Keys");
	fClient->Focus(fShown);
	for (const Case& entry : cases)
		fClient->Key(entry.keysym, entry.control);
	size_t count = sizeof(cases) / sizeof(cases[0]);
	ASSERT_TRUE(fLog.WaitFor([&] { return fLog.keys.size() >= count; }))
		<< fLog.keys.size() << " of " << count << " keys arrived";

	std::lock_guard<std::mutex> guard(fLog.lock);
	for (size_t i = 0; i < count; i++) {
		const Case& entry = cases[i];
		const BMessage& message = fLog.keys[i];
		SCOPED_TRACE(entry.bytes);
		EXPECT_STREQ(message.GetString("bytes", "?"), entry.bytes);
		EXPECT_EQ(message.GetInt32("key", -1), entry.key);
		EXPECT_EQ(static_cast<uint32>(message.GetInt32("modifiers", -1)), entry.modifiers);
		EXPECT_EQ(message.GetInt32("raw_char", -1), entry.rawChar);
		EXPECT_TRUE(message.HasInt64("when"));
		const void* states = nullptr;
		ssize_t size = 0;
		ASSERT_EQ(message.FindData("states", B_UINT8_TYPE, &states, &size), B_OK);
		ASSERT_EQ(size, 16);
		const uint8* bits = static_cast<const uint8*>(states);
		EXPECT_TRUE(bits[entry.key / 8] & (0x80 >> (entry.key % 8))) << "the key is held";
	}
}

TEST_F(X11Window, CloseBoxAsksAClosableWindowToQuit)
{
	Show("Closable");
	fClient->RequestClose(fShown);
	EXPECT_EQ(ScriptedDisplay::WaitForClose(fToken, kTimeout), B_OK);
	EXPECT_TRUE(fClient->WaitUntilGone(fShown));
}

TEST_F(X11Window, PopUpMenuChoosesOnAClickAndClosesOnEscapeOrAPressOutside)
{
	Show("Menus");
	fClient->Focus(fShown);
	auto open = [&] {
		fClient->Click(fShown, 100, 20);
		return fClient->WaitForWindow("Size:");
	};

	xcb_window_t menu = open();
	ASSERT_NE(menu, static_cast<xcb_window_t>(XCB_NONE));
	fClient->Key(XKB_KEY_Escape);
	EXPECT_TRUE(fClient->WaitUntilGone(menu));

	menu = open();
	ASSERT_NE(menu, static_cast<xcb_window_t>(XCB_NONE));
	fClient->Click(fShown, 180, 90);  // in the window, outside the menu
	EXPECT_TRUE(fClient->WaitUntilGone(menu));
	ASSERT_EQ(ScriptedDisplay::Sync(fToken, kTimeout), B_OK);
	{
		std::lock_guard<std::mutex> guard(fLog.lock);
		EXPECT_TRUE(fLog.chosen.empty()) << "closing a menu chooses nothing";
	}

	menu = open();
	ASSERT_NE(menu, static_cast<xcb_window_t>(XCB_NONE));
	x_test::Frame frame = fClient->FrameOf(menu);
	int row = (frame.height - 2) / 3;
	fClient->Click(menu, frame.width / 2, 1 + 2 * row + row / 2);
	ASSERT_TRUE(fLog.WaitFor([&] { return !fLog.chosen.empty(); }));
	EXPECT_TRUE(fClient->WaitUntilGone(menu));
	std::string marked;
	EXPECT_EQ(ScriptedDisplay::GetMarkedItem(fToken, "Size:", &marked, kTimeout), B_OK);
	EXPECT_EQ(marked, "Large");
	std::lock_guard<std::mutex> guard(fLog.lock);
	EXPECT_EQ(fLog.chosen, std::vector<int32>{2});
}

}  // namespace
