#include "WindowTestKit.h"

#include <InterfaceDefs.h>

#include <chrono>
#include <cstring>

namespace window_test {

void MessageLog::Add(const Received& received)
{
	std::lock_guard<std::mutex> guard(fLock);
	fMessages.push_back(received);
	fChanged.notify_all();
}

bool MessageLog::WaitFor(size_t count, bigtime_t timeout)
{
	std::unique_lock<std::mutex> guard(fLock);
	return fChanged.wait_for(guard, std::chrono::microseconds(timeout),
		[&] { return fMessages.size() >= count; });
}

std::vector<Received> MessageLog::Messages()
{
	std::lock_guard<std::mutex> guard(fLock);
	return fMessages;
}

size_t MessageLog::Count()
{
	std::lock_guard<std::mutex> guard(fLock);
	return fMessages.size();
}

namespace {

// As the setup dialogs' filters: a point replaces the focused field's selection and is
// let through only when the field holds no other point.
filter_result digit_filter(BMessage* message, BHandler** target, BMessageFilter*)
{
	int32 modifiers = 0;
	(void)message->FindInt32("modifiers", &modifiers);
	if (modifiers & B_COMMAND_KEY)
		return B_DISPATCH_MESSAGE;
	const char* bytes = NULL;
	if (message->FindString("bytes", &bytes) != B_OK)
		return B_DISPATCH_MESSAGE;
	char key = bytes[0];
	if ((key >= '0' && key <= '9') || key == B_BACKSPACE || key == B_TAB || key == B_ENTER
		|| key == B_LEFT_ARROW || key == B_RIGHT_ARROW)
		return B_DISPATCH_MESSAGE;
	BTextView* text = dynamic_cast<BTextView*>(*target);
	if (key == '.' && text != NULL) {
		text->Delete();
		return strchr(text->Text(), '.') != NULL ? B_SKIP_MESSAGE : B_DISPATCH_MESSAGE;
	}
	return B_SKIP_MESSAGE;
}

BMessage* command(int8 code)
{
	BMessage* message = new BMessage(0);
	message->AddInt8("cmd_code", code);
	return message;
}

}  // namespace

TestWindow::TestWindow(const char* title, MessageLog* log)
	: BWindow(BRect(100, 100, 400, 300), title, B_TITLED_WINDOW_LOOK,
		B_MODAL_APP_WINDOW_FEEL, B_NOT_RESIZABLE | B_NOT_CLOSABLE | B_NOT_ZOOMABLE),
	  fLog(log)
{
	AddCommonFilter(new BMessageFilter(B_ANY_DELIVERY, B_ANY_SOURCE, B_KEY_DOWN, digit_filter));
	BBox* background = new BBox(BRect(0, 0, 300, 200), NULL, B_FOLLOW_ALL, B_WILL_DRAW,
		B_FANCY_BORDER);
	AddChild(background);
	background->AddChild(new BStringView(BRect(10, 5, 290, 25), "stringview", "Test"));
	number = new BTextControl(BRect(10, 30, 150, 50), "textcontrol", "Number:", "12",
		command(kNumber), B_FOLLOW_LEFT | B_FOLLOW_TOP, B_WILL_DRAW | B_NAVIGABLE);
	number->SetDivider(60);
	background->AddChild(number);
	other = new BTextControl(BRect(160, 30, 290, 50), "textcontrol", "Other:", "",
		command(kOther), B_FOLLOW_LEFT | B_FOLLOW_TOP, B_WILL_DRAW | B_NAVIGABLE);
	other->SetDivider(50);
	background->AddChild(other);
	check = new BCheckBox(BRect(10, 60, 150, 80), "Check Box", "Check", command(kCheck));
	background->AddChild(check);

	BPopUpMenu* menu = new BPopUpMenu("");
	const char* labels[] = {"Small", "Medium", "Large"};
	for (int8 i = 0; i < 3; i++) {
		BMessage* message = command(kSize);
		message->AddInt8("format_chosen", i);
		BMenuItem* item = new BMenuItem(labels[i], message);
		menu->AddItem(item);
		if (i == 0)
			item->SetMarked(true);
	}
	size = new BMenuField(BRect(10, 90, 200, 110), "Size", "Size:", menu);
	size->SetDivider(50);
	background->AddChild(size);

	ok = new BButton(BRect(200, 160, 280, 185), "nonameOK", "OK", command(kOK));
	background->AddChild(ok);
	SetDefaultButton(ok);
	background->AddChild(new BButton(BRect(110, 160, 190, 185), "alert", "Alert",
		command(kAlert)));
	background->AddChild(new BButton(BRect(20, 160, 100, 185), "quit", "Quit",
		command(kQuit)));
}

void TestWindow::MessageReceived(BMessage* message)
{
	int8 code = -1;
	if (message->FindInt8("cmd_code", &code) != B_OK) {
		BWindow::MessageReceived(message);
		return;
	}
	Received received{code, -1, "", 0, -2};
	(void)message->FindInt8("format_chosen", &received.chosen);
	(void)message->FindInt32("be:value", &received.value);
	(void)message->FindInt32("which", &received.value);  // an alert's answer
	void* source = NULL;
	if (message->FindPointer("source", &source) == B_OK) {
		if (BTextControl* control
			= dynamic_cast<BTextControl*>(static_cast<BControl*>(source)))
			received.text = control->Text();
	}
	if (code == kAlert) {
		BAlert* alert = new BAlert("alert_window", "\n\tSomething!\n\tAnswer me.", "No",
			"Yes", NULL, B_WIDTH_AS_USUAL, B_INFO_ALERT);
		received.alertAnswer = alert->Go();
	}
	fLog->Add(received);
	if (code == kQuit) {
		Lock();
		Quit();
	}
}

window_token token_of(BWindow* window)
{
	thread_id thread = window->Thread();
	for (window_token token : ScriptedDisplay::Windows()) {
		thread_id found = -1;
		if (ScriptedDisplay::GetThread(token, &found) == B_OK && found == thread)
			return token;
	}
	return 0;
}

}  // namespace window_test
