// BTextControl: a label left of the divider and a _BTextInput_ (the editing view) right of
// it. The control commits (sends its message) when the user has changed the text and then
// presses Enter or leaves the field.
#include <TextControl.h>

#include <Message.h>
#include <TextView.h>
#include <Window.h>

#include "ControlLook.h"

#include <cstring>

// The text field of a text control: reports the user's changes and commits to its owner.
class _BTextInput_ : public BTextView {
public:
	_BTextInput_(BRect frame, uint32 flags)
		: BTextView(frame, "_input_", BRect(2, 0, frame.Width() - 2, frame.Height()),
			B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP, flags)
	{
		SetWordWrap(false);
	}

	void KeyDown(const char* bytes, int32 numBytes) override
	{
		if (numBytes == 1 && bytes[0] == B_ENTER && _Owner() != NULL) {
			_Owner()->_Commit();
			SelectAll();
			return;
		}
		BTextView::KeyDown(bytes, numBytes);
	}

	void MakeFocus(bool focus) override
	{
		bool wasFocus = IsFocus();
		BTextView::MakeFocus(focus);
		if (focus && !wasFocus)
			SelectAll();
		BTextControl* owner = _Owner();
		if (owner == NULL)
			return;
		if (!focus && wasFocus)
			owner->_Commit();
		if (focus != wasFocus)
			owner->Invalidate();
	}

	void Draw(BRect updateRect) override
	{
		BRect bounds = Bounds();
		SetHighColor(IsEditable() ? kLightColor : kPanelColor);
		FillRect(bounds);
		BTextView::Draw(updateRect);
		if (IsFocus()) {
			SetHighColor(kFocusColor);
			StrokeRect(bounds);
		}
	}

protected:
	void UserChanged() override
	{
		if (_Owner() != NULL)
			_Owner()->_UserChanged();
	}

private:
	BTextControl* _Owner() const { return dynamic_cast<BTextControl*>(Parent()); }
};

BTextControl::BTextControl(BRect frame, const char* name, const char* label, const char* text,
	BMessage* message, uint32 resizingMode, uint32 flags)
	: BControl(frame, name, label, message, resizingMode, flags & ~B_NAVIGABLE),
	  fText(NULL),
	  fDivider(0),
	  fLabelAlign(B_ALIGN_LEFT),
	  fModificationMessage(NULL)
{
	if (label != NULL && label[0] != '\0') {
		BFont font;
		GetFont(&font);
		fDivider = static_cast<float>(static_cast<int32>(font.StringWidth(label) + 4));
	}
	fText = new _BTextInput_(BRect(0, 0, 10, 10),
		B_WILL_DRAW | (flags & B_NAVIGABLE));
	_LayoutTextView();
	fText->SetText(text);
	AddChild(fText);
}

BTextControl::~BTextControl()
{
	delete fModificationMessage;
}

void BTextControl::_LayoutTextView()
{
	BRect bounds = Bounds();
	// A sunken one-pixel frame surrounds the field, inside the control's frame.
	BRect field(fDivider + 1, bounds.top + 1, bounds.right - 1, bounds.bottom - 1);
	if (field.right < field.left)
		field.right = field.left;
	if (field.bottom < field.top)
		field.bottom = field.top;
	fText->MoveTo(field.left, field.top);
	fText->ResizeTo(field.Width(), field.Height());
	fText->SetTextRect(BRect(2, 0, field.Width() - 2, field.Height()));
}

void BTextControl::Draw(BRect)
{
	BRect bounds = Bounds();
	BRect label(bounds.left, bounds.top, fDivider - 1, bounds.bottom);
	if (Label() != NULL && label.IsValid()) {
		draw_label(this, Label(), label, fLabelAlign,
			IsEnabled() ? kTextColor : kDisabledTextColor);
	}
	draw_sunken_frame(this, BRect(fDivider, bounds.top, bounds.right, bounds.bottom));
}

void BTextControl::MakeFocus(bool focus)
{
	// The field takes the focus for the control.
	fText->MakeFocus(focus);
}

void BTextControl::SetEnabled(bool enabled)
{
	BControl::SetEnabled(enabled);
	fText->MakeEditable(enabled);
	if (!enabled && fText->IsFocus())
		fText->MakeFocus(false);
	fText->Invalidate();
}

void BTextControl::FrameResized(float, float)
{
	_LayoutTextView();
}

void BTextControl::SetText(const char* text)
{
	fText->SetText(text);
}

const char* BTextControl::Text() const
{
	return fText->Text();
}

BTextView* BTextControl::TextView() const
{
	return fText;
}

void BTextControl::SetDivider(float dividingLine)
{
	fDivider = dividingLine;
	_LayoutTextView();
	Invalidate();
}

void BTextControl::SetAlignment(alignment forLabel, alignment forText)
{
	fLabelAlign = forLabel;
	fText->SetAlignment(forText);
	Invalidate();
}

void BTextControl::GetAlignment(alignment* forLabel, alignment* forText) const
{
	if (forLabel != NULL)
		*forLabel = fLabelAlign;
	if (forText != NULL)
		*forText = fText->Alignment();
}

void BTextControl::SetModificationMessage(BMessage* message)
{
	if (message == fModificationMessage)
		return;
	delete fModificationMessage;
	fModificationMessage = message;
}

void BTextControl::_Commit()
{
	if (!fText->IsModified())
		return;
	fText->ClearModified();
	Invoke();
}

void BTextControl::_UserChanged()
{
	if (fModificationMessage != NULL)
		Invoke(fModificationMessage);
}
