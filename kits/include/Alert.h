// BAlert: a small modal window with a text, an icon and up to three buttons.
//
// Contract:
// - The alert is its own window, with its own thread once Go() shows it. Pressing one of
//   its buttons (a click, or Enter for the last, default one) ends it: the alert quits
//   and deletes itself.
// - Go() without an invoker is synchronous: the calling thread waits until a button is
//   pressed and gets its index (0 to 2); it returns -1 if the alert ends otherwise. Called
//   from another window's thread, that window stays locked and deaf meanwhile, as on the
//   platform's simple model. Go(invoker) returns at once; the invoker's message (a copy,
//   with the int32 "which" = the button's index) is sent when a button is pressed.
// - After Go() the alert belongs to itself: the caller must not touch it again.
#pragma once

#include <Window.h>

class BButton;
class BInvoker;
class BTextView;
struct AlertWaiter;

enum alert_type {
	B_EMPTY_ALERT = 0,
	B_INFO_ALERT,
	B_IDEA_ALERT,
	B_WARNING_ALERT,
	B_STOP_ALERT
};

enum button_width {
	B_WIDTH_AS_USUAL,
	B_WIDTH_FROM_WIDEST,
	B_WIDTH_FROM_LABEL
};

enum button_spacing {
	B_EVEN_SPACING = 0,
	B_OFFSET_SPACING
};

class BAlert : public BWindow {
public:
	BAlert(const char* title, const char* text, const char* button0,
		const char* button1 = NULL, const char* button2 = NULL,
		button_width widthStyle = B_WIDTH_AS_USUAL, alert_type type = B_INFO_ALERT);
	BAlert(const char* title, const char* text, const char* button0, const char* button1,
		const char* button2, button_width widthStyle, button_spacing spacing,
		alert_type type = B_INFO_ALERT);
	virtual ~BAlert();

	int32 Go();
	status_t Go(BInvoker* invoker);

	virtual void MessageReceived(BMessage* message);
	virtual void DispatchMessage(BMessage* message, BHandler* handler);

	BButton* ButtonAt(int32 index) const;
	int32 CountButtons() const { return fButtonCount; }
	BTextView* TextView() const { return fTextView; }
	alert_type Type() const { return fType; }
	void SetShortcut(int32 index, char key);

private:
	void _Init(const char* text, const char* button0, const char* button1,
		const char* button2, button_width widthStyle, button_spacing spacing,
		alert_type type);
	void _Finish(int32 which);

	BButton* fButtons[3];
	int32 fButtonCount;
	BTextView* fTextView;
	alert_type fType;
	BInvoker* fInvoker;
	AlertWaiter* fWaiter;  // shared with a synchronous Go(); see Alert.cpp
	char fShortcuts[3];
};
