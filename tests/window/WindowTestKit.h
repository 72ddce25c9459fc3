// A small dialog-shaped window for the window kit's tests, and a log of the messages it
// received, which the test thread waits on.
#pragma once

#include <Alert.h>
#include <Box.h>
#include <Button.h>
#include <CheckBox.h>
#include <MenuField.h>
#include <MenuItem.h>
#include <Message.h>
#include <MessageFilter.h>
#include <PopUpMenu.h>
#include <ScriptedDisplay.h>
#include <StringView.h>
#include <TextControl.h>
#include <TextView.h>
#include <Window.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace window_test {

const bigtime_t kTimeout = 5000000;

enum {
	kCancel = 0,
	kOK = 1,
	kNumber = 2,
	kOther = 3,
	kSize = 4,
	kAlert = 5,
	kQuit = 6,
	kCheck = 10
};

struct Received {
	int8 code;
	int8 chosen;       // "format_chosen" of a menu item, else -1
	std::string text;  // the sender's text or label when it had one
	int32 value;       // "be:value" of a control
	int32 alertAnswer; // for kAlert: what Go() returned
};

class MessageLog {
public:
	void Add(const Received& received);
	// Waits until at least count messages have arrived.
	bool WaitFor(size_t count, bigtime_t timeout = kTimeout);
	std::vector<Received> Messages();
	size_t Count();

private:
	std::mutex fLock;
	std::condition_variable fChanged;
	std::vector<Received> fMessages;
};

// The window: a background box with two text fields ("Number:", "Other:"), a check box
// ("Check"), a menu field ("Size") of "Small", "Medium", "Large", and buttons "OK"
// (default), "Alert" (runs a synchronous alert), "Quit" (quits from the handler). A common
// filter passes digits, editing keys and Command keys and drops everything else.
class TestWindow : public BWindow {
public:
	TestWindow(const char* title, MessageLog* log);

	void MessageReceived(BMessage* message) override;

	BTextControl* number;
	BTextControl* other;
	BCheckBox* check;
	BMenuField* size;
	BButton* ok;

private:
	MessageLog* fLog;
};

// The display's token of a shown window, found through its thread.
window_token token_of(BWindow* window);

}  // namespace window_test
