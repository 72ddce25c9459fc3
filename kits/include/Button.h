// BButton: a push button. A click (down and up inside it), Enter or the space bar while it
// has the focus, or Enter anywhere in the window when it is the default button (and the
// focus is not in a text field) sends its message.
#pragma once

#include <Control.h>

class BButton : public BControl {
public:
	BButton(BRect frame, const char* name, const char* label, BMessage* message,
		uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
		uint32 flags = B_WILL_DRAW | B_NAVIGABLE);
	virtual ~BButton();

	virtual void Draw(BRect updateRect);
	virtual void MouseDown(BPoint where);
	virtual void MouseUp(BPoint where);
	virtual void KeyDown(const char* bytes, int32 numBytes);
	virtual void AttachedToWindow();

	// Makes the button its window's default button (or stops it being that); before the
	// button is in a window, it becomes the default once it is added to one.
	virtual void MakeDefault(bool flag);
	bool IsDefault() const;

	virtual status_t Invoke(BMessage* message = NULL);

private:
	bool fMakeDefault;  // MakeDefault(true) before the button had a window
};
