#include <Button.h>

#include <Window.h>

#include "ControlLook.h"

BButton::BButton(BRect frame, const char* name, const char* label, BMessage* message,
	uint32 resizingMode, uint32 flags)
	: BControl(frame, name, label, message, resizingMode, flags),
	  fMakeDefault(false)
{
}

BButton::~BButton()
{
	if (Window() != NULL && Window()->DefaultButton() == this)
		Window()->SetDefaultButton(NULL);
}

void BButton::AttachedToWindow()
{
	BControl::AttachedToWindow();
	if (fMakeDefault)
		Window()->SetDefaultButton(this);
}

void BButton::Draw(BRect)
{
	BRect bounds = Bounds();
	// The default button wears a second, darker frame around the usual one.
	BRect face = bounds;
	if (IsDefault()) {
		SetHighColor(kDarkColor);
		StrokeRect(face);
		face.InsetBy(1, 1);
		StrokeRect(face);
		face.InsetBy(1, 1);
	}
	SetHighColor(kDarkColor);
	StrokeRect(face);
	face.InsetBy(1, 1);
	SetHighColor(Value() == B_CONTROL_ON ? kShadowColor : kPanelColor);
	FillRect(face);
	if (Value() == B_CONTROL_ON)
		draw_sunken_frame(this, face);
	else
		draw_raised_frame(this, face);
	draw_label(this, Label(), face, B_ALIGN_CENTER,
		IsEnabled() ? kTextColor : kDisabledTextColor);
	if (IsFocus()) {
		SetHighColor(kFocusColor);
		float baseline = draw_label(this, NULL, face, B_ALIGN_CENTER, kTextColor);
		float width = Label() != NULL ? StringWidth(Label()) : 0;
		float left = face.left + (face.Width() - width) / 2.0f;
		StrokeLine(BPoint(left, baseline + 2), BPoint(left + width, baseline + 2));
	}
}

void BButton::MouseDown(BPoint)
{
	if (!IsEnabled())
		return;
	SetTracking(true);
	SetValue(B_CONTROL_ON);
}

void BButton::MouseUp(BPoint where)
{
	if (!IsTracking())
		return;
	SetTracking(false);
	SetValue(B_CONTROL_OFF);
	if (Bounds().Contains(where))
		Invoke();
}

void BButton::KeyDown(const char* bytes, int32 numBytes)
{
	if (numBytes == 1 && (bytes[0] == B_ENTER || bytes[0] == B_SPACE)) {
		if (IsEnabled())
			Invoke();
		return;
	}
	BControl::KeyDown(bytes, numBytes);
}

void BButton::MakeDefault(bool flag)
{
	fMakeDefault = flag;
	if (Window() == NULL)
		return;
	if (flag)
		Window()->SetDefaultButton(this);
	else if (Window()->DefaultButton() == this)
		Window()->SetDefaultButton(NULL);
}

bool BButton::IsDefault() const
{
	return Window() != NULL && Window()->DefaultButton() == this;
}

status_t BButton::Invoke(BMessage* message)
{
	return BControl::Invoke(message);
}
