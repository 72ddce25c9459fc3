// BTextControl: a label and a one-line text field, the field being a BTextView child.
//
// Contract:
// - The label takes the part left of the divider; the text view (TextView()) the rest. The
//   text view, not the control, is B_NAVIGABLE and takes the focus.
// - The control sends its message (a copy, see BControl::Invoke) when the user commits a
//   changed text: Enter in the field, or the field losing the focus (Tab away, a click
//   elsewhere). Setting the text from the program commits nothing. A modification message,
//   when set, is sent on every change the user makes.
#pragma once

#include <Control.h>

class BTextView;

class BTextControl : public BControl {
public:
	BTextControl(BRect frame, const char* name, const char* label, const char* text,
		BMessage* message, uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
		uint32 flags = B_WILL_DRAW | B_NAVIGABLE);
	virtual ~BTextControl();

	virtual void Draw(BRect updateRect);
	virtual void MakeFocus(bool focus = true);
	virtual void SetEnabled(bool enabled);
	virtual void FrameResized(float newWidth, float newHeight);

	virtual void SetText(const char* text);
	const char* Text() const;
	BTextView* TextView() const;

	void SetDivider(float dividingLine);
	float Divider() const { return fDivider; }
	void SetAlignment(alignment forLabel, alignment forText);
	void GetAlignment(alignment* forLabel, alignment* forText) const;

	// Owned by the control; NULL for none.
	void SetModificationMessage(BMessage* message);
	BMessage* ModificationMessage() const { return fModificationMessage; }

private:
	friend class _BTextInput_;

	void _Commit();
	void _UserChanged();
	void _LayoutTextView();

	BTextView* fText;
	float fDivider;
	alignment fLabelAlign;
	BMessage* fModificationMessage;
};
