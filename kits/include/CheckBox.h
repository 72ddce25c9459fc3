// BCheckBox: an on/off control with a label. A click (or the space bar while it has the
// focus) toggles the value and then sends the message.
#pragma once

#include <Control.h>

class BCheckBox : public BControl {
public:
	BCheckBox(BRect frame, const char* name, const char* label, BMessage* message,
		uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
		uint32 flags = B_WILL_DRAW | B_NAVIGABLE);
	virtual ~BCheckBox();

	virtual void Draw(BRect updateRect);
	virtual void MouseDown(BPoint where);
	virtual void MouseUp(BPoint where);
	virtual void KeyDown(const char* bytes, int32 numBytes);

	// The square the mark is drawn in, in the view's coordinates.
	BRect BoxFrame() const;
};
