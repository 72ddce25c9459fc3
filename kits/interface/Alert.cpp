// BAlert: a modal window whose buttons end it. A synchronous Go() waits on an AlertWaiter
// that lives on the caller's stack: the alert signals it as the last thing it does with it,
// and the caller leaves Go() only after that signal, so the waiter outlives every use.
#include <Alert.h>

#include <Button.h>
#include <Invoker.h>
#include <Message.h>
#include <TextView.h>

#include "ControlLook.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

struct AlertWaiter {
	std::mutex lock;
	std::condition_variable done;
	bool finished = false;
	int32 which = -1;
};

namespace {

const uint32 kButtonPressed = '_ALB';
const float kIconWidth = 30.0f;   // the darker stripe on the left
const float kButtonHeight = 24.0f;
const float kUsualButtonWidth = 75.0f;
const float kSpacing = 10.0f;

// Alert text view: not editable, draws its lines over the panel grey.
class AlertTextView : public BTextView {
public:
	AlertTextView(BRect frame)
		: BTextView(frame, "_tv_", BRect(0, 0, frame.Width(), frame.Height()),
			B_FOLLOW_ALL, B_WILL_DRAW)
	{
		MakeEditable(false);
		MakeSelectable(false);
		SetViewColor(kPanelColor);
	}
};

class AlertBackground : public BView {
public:
	AlertBackground(BRect frame, alert_type type)
		: BView(frame, "TAlertView", B_FOLLOW_ALL, B_WILL_DRAW),
		  fType(type)
	{
		SetViewColor(kPanelColor);
	}

	void Draw(BRect) override
	{
		BRect stripe(0, 0, kIconWidth, Bounds().bottom);
		SetHighColor(184, 184, 184);
		FillRect(stripe);
		if (fType == B_EMPTY_ALERT)
			return;
		// A small sign per type: a round one for information and ideas, a square otherwise.
		BRect icon(kIconWidth - 12, 10, kIconWidth + 20, 42);
		rgb_color colors[] = {{0, 0, 0, 255}, {60, 100, 220, 255}, {250, 200, 0, 255},
			{250, 160, 0, 255}, {220, 40, 40, 255}};
		SetHighColor(colors[std::clamp(static_cast<int32>(fType), 0, 4)]);
		if (fType == B_INFO_ALERT || fType == B_IDEA_ALERT)
			FillEllipse(icon);
		else
			FillRect(icon);
		SetHighColor(255, 255, 255);
		SetFontSize(20);
		const char* sign = fType == B_INFO_ALERT ? "i" : (fType == B_IDEA_ALERT ? "?" : "!");
		DrawString(sign, BPoint(icon.left + (icon.Width() - StringWidth(sign)) / 2, icon.top + 24));
	}

private:
	alert_type fType;
};

}  // namespace

BAlert::BAlert(const char* title, const char* text, const char* button0, const char* button1,
	const char* button2, button_width widthStyle, alert_type type)
	: BWindow(BRect(100, 100, 410, 200), title, B_MODAL_WINDOW_LOOK, B_MODAL_APP_WINDOW_FEEL,
		B_NOT_CLOSABLE | B_NOT_RESIZABLE | B_NOT_ZOOMABLE)
{
	_Init(text, button0, button1, button2, widthStyle, B_EVEN_SPACING, type);
}

BAlert::BAlert(const char* title, const char* text, const char* button0, const char* button1,
	const char* button2, button_width widthStyle, button_spacing spacing, alert_type type)
	: BWindow(BRect(100, 100, 410, 200), title, B_MODAL_WINDOW_LOOK, B_MODAL_APP_WINDOW_FEEL,
		B_NOT_CLOSABLE | B_NOT_RESIZABLE | B_NOT_ZOOMABLE)
{
	_Init(text, button0, button1, button2, widthStyle, spacing, type);
}

BAlert::~BAlert()
{
	// Ended without a button (quit from outside): a waiting Go() learns it got none.
	_Finish(-1);
}

void BAlert::_Init(const char* text, const char* button0, const char* button1,
	const char* button2, button_width widthStyle, button_spacing spacing, alert_type type)
{
	fType = type;
	fInvoker = NULL;
	fWaiter = NULL;
	fButtonCount = 0;
	fTextView = NULL;
	for (int32 i = 0; i < 3; i++) {
		fButtons[i] = NULL;
		fShortcuts[i] = 0;
	}

	// Size: wide enough for the longest line of text and for the buttons.
	BFont font(be_plain_font);
	font_height height;
	font.GetHeight(&height);
	float lineHeight = height.ascent + height.descent + height.leading;
	std::string all = text != NULL ? text : "";
	int32 lines = 1;
	float textWidth = 0;
	size_t start = 0;
	for (;;) {
		size_t end = all.find('\n', start);
		std::string line = all.substr(start, end == std::string::npos ? end : end - start);
		float width = font.StringWidth(line.c_str())
			+ 28.0f * static_cast<float>(std::count(line.begin(), line.end(), '\t'));
		textWidth = std::max(textWidth, width);
		if (end == std::string::npos)
			break;
		lines++;
		start = end + 1;
	}

	const char* labels[3] = {button0, button1, button2};
	float widths[3] = {0, 0, 0};
	float widest = 0;
	for (int32 i = 0; i < 3 && labels[i] != NULL; i++) {
		widths[i] = font.StringWidth(labels[i]) + 20;
		widest = std::max(widest, widths[i]);
		fButtonCount++;
	}
	for (int32 i = 0; i < fButtonCount; i++) {
		if (widthStyle == B_WIDTH_FROM_WIDEST)
			widths[i] = std::max(widest, kUsualButtonWidth);
		else if (widthStyle == B_WIDTH_AS_USUAL)
			widths[i] = std::max(widths[i], kUsualButtonWidth);
	}
	float buttonsWidth = 0;
	for (int32 i = 0; i < fButtonCount; i++)
		buttonsWidth += widths[i] + (i > 0 ? kSpacing : 0);

	float textLeft = kIconWidth + 25;
	float width = std::max(310.0f, std::max(textLeft + textWidth + kSpacing,
		textLeft + buttonsWidth + kSpacing));
	float textHeight = lines * lineHeight;
	float heightTotal = std::max(kSpacing + textHeight + kSpacing + kButtonHeight + kSpacing,
		90.0f);
	width = static_cast<float>(static_cast<int32>(width));
	heightTotal = static_cast<float>(static_cast<int32>(heightTotal));
	ResizeTo(width, heightTotal);

	BView* background = new AlertBackground(Bounds(), type);
	AddChild(background);
	fTextView = new AlertTextView(BRect(textLeft, kSpacing, width - kSpacing,
		kSpacing + textHeight));
	fTextView->SetText(all.c_str());
	background->AddChild(fTextView);

	// Buttons from the right: the last one, the default, sits in the corner.
	float right = width - kSpacing;
	float top = heightTotal - kSpacing - kButtonHeight;
	for (int32 i = fButtonCount - 1; i >= 0; i--) {
		BMessage* message = new BMessage(kButtonPressed);
		message->AddInt32("which", i);
		BRect frame(right - widths[i], top, right, top + kButtonHeight);
		if (spacing == B_OFFSET_SPACING && i == 0 && fButtonCount > 1)
			frame.OffsetTo(textLeft, top);
		fButtons[i] = new BButton(frame, labels[i], labels[i], message);
		background->AddChild(fButtons[i]);
		right = frame.left - kSpacing;
	}
	if (fButtonCount > 0)
		SetDefaultButton(fButtons[fButtonCount - 1]);
}

BButton* BAlert::ButtonAt(int32 index) const
{
	if (index < 0 || index >= fButtonCount)
		return NULL;
	return fButtons[index];
}

void BAlert::SetShortcut(int32 index, char key)
{
	if (index >= 0 && index < fButtonCount)
		fShortcuts[index] = key;
}

int32 BAlert::Go()
{
	AlertWaiter waiter;
	fWaiter = &waiter;
	Show();
	// From here on the alert may be gone; only the waiter is ours.
	std::unique_lock<std::mutex> guard(waiter.lock);
	waiter.done.wait(guard, [&waiter] { return waiter.finished; });
	return waiter.which;
}

status_t BAlert::Go(BInvoker* invoker)
{
	fInvoker = invoker;
	Show();
	return B_OK;
}

void BAlert::MessageReceived(BMessage* message)
{
	if (message->what != kButtonPressed) {
		BWindow::MessageReceived(message);
		return;
	}
	int32 which = -1;
	if (message->FindInt32("which", &which) != B_OK)
		return;
	_Finish(which);
	Quit();
}

void BAlert::DispatchMessage(BMessage* message, BHandler* handler)
{
	// A button's shortcut key presses it, as does Escape the first button of several.
	if (message->what == B_KEY_DOWN) {
		const char* bytes = NULL;
		if (message->FindString("bytes", &bytes) == B_OK && bytes != NULL && bytes[0] != 0
			&& bytes[1] == 0) {
			for (int32 i = 0; i < fButtonCount; i++) {
				if (fShortcuts[i] != 0 && fShortcuts[i] == bytes[0]) {
					fButtons[i]->Invoke();
					return;
				}
			}
		}
	}
	BWindow::DispatchMessage(message, handler);
}

void BAlert::_Finish(int32 which)
{
	if (fInvoker != NULL) {
		BInvoker* invoker = fInvoker;
		fInvoker = NULL;
		if (which >= 0 && invoker->Message() != NULL) {
			BMessage clone(*invoker->Message());
			clone.AddInt32("which", which);
			(void)invoker->Invoke(&clone);  // a target that has gone just misses the answer
		}
		delete invoker;
	}
	if (fWaiter != NULL) {
		AlertWaiter* waiter = fWaiter;
		fWaiter = NULL;
		std::lock_guard<std::mutex> guard(waiter->lock);
		waiter->which = which;
		waiter->finished = true;
		waiter->done.notify_all();
	}
}
