#include <CheckBox.h>

#include "ControlLook.h"

BCheckBox::BCheckBox(BRect frame, const char* name, const char* label, BMessage* message,
	uint32 resizingMode, uint32 flags)
	: BControl(frame, name, label, message, resizingMode, flags)
{
}

BCheckBox::~BCheckBox()
{
}

BRect BCheckBox::BoxFrame() const
{
	// A 12-pixel square centred on the line, or smaller when the view is.
	BRect bounds = Bounds();
	float side = bounds.Height() < 12 ? bounds.Height() : 12;
	float top = bounds.top + (bounds.Height() - side) / 2.0f;
	top = static_cast<float>(static_cast<int32>(top));
	return BRect(bounds.left + 1, top, bounds.left + 1 + side, top + side);
}

void BCheckBox::Draw(BRect)
{
	BRect box = BoxFrame();
	SetHighColor(kLightColor);
	FillRect(box.InsetByCopy(1, 1));
	SetHighColor(IsEnabled() ? kDarkColor : kShadowColor);
	StrokeRect(box);
	if (Value() != B_CONTROL_OFF) {
		BRect mark = box.InsetByCopy(3, 3);
		SetHighColor(kTextColor);
		SetPenSize(2);
		StrokeLine(mark.LeftTop(), mark.RightBottom());
		StrokeLine(mark.LeftBottom(), mark.RightTop());
		SetPenSize(1);
	}
	BRect text(box.right + 5, Bounds().top, Bounds().right, Bounds().bottom);
	float baseline = draw_label(this, Label(), text, B_ALIGN_LEFT,
		IsEnabled() ? kTextColor : kDisabledTextColor);
	if (IsFocus() && Label() != NULL) {
		SetHighColor(kFocusColor);
		StrokeLine(BPoint(text.left, baseline + 2),
			BPoint(text.left + StringWidth(Label()), baseline + 2));
	}
}

void BCheckBox::MouseDown(BPoint)
{
	if (IsEnabled())
		SetTracking(true);
}

void BCheckBox::MouseUp(BPoint where)
{
	if (!IsTracking())
		return;
	SetTracking(false);
	if (!Bounds().Contains(where))
		return;
	SetValue(Value() == B_CONTROL_OFF ? B_CONTROL_ON : B_CONTROL_OFF);
	Invoke();
}

void BCheckBox::KeyDown(const char* bytes, int32 numBytes)
{
	if (numBytes == 1 && (bytes[0] == B_SPACE || bytes[0] == B_ENTER)) {
		if (IsEnabled()) {
			SetValue(Value() == B_CONTROL_OFF ? B_CONTROL_ON : B_CONTROL_OFF);
			Invoke();
		}
		return;
	}
	BControl::KeyDown(bytes, numBytes);
}
