#include <Control.h>

#include <Errors.h>
#include <Message.h>
#include <Window.h>

#include "ControlLook.h"

#include <cstdlib>
#include <cstring>

BControl::BControl(BRect frame, const char* name, const char* label, BMessage* message,
	uint32 resizingMode, uint32 flags)
	: BView(frame, name, resizingMode, flags),
	  BInvoker(message, NULL),
	  fLabel(label != NULL ? strdup(label) : NULL),
	  fValue(B_CONTROL_OFF),
	  fEnabled(true),
	  fTracking(false)
{
	SetViewColor(kPanelColor);
	SetLowColor(kPanelColor);
}

BControl::~BControl()
{
	free(fLabel);
}

void BControl::AttachedToWindow()
{
	if (!Messenger().IsValid())
		SetTarget(Window());
}

void BControl::MakeFocus(bool focus)
{
	if (focus == IsFocus())
		return;
	BView::MakeFocus(focus);
	Invalidate();
}

void BControl::SetLabel(const char* label)
{
	free(fLabel);
	fLabel = label != NULL ? strdup(label) : NULL;
	Invalidate();
}

void BControl::SetValue(int32 value)
{
	if (value == fValue)
		return;
	fValue = value;
	Invalidate();
}

void BControl::SetEnabled(bool enabled)
{
	if (enabled == fEnabled)
		return;
	fEnabled = enabled;
	if (!enabled && IsFocus())
		MakeFocus(false);
	Invalidate();
}

status_t BControl::Invoke(BMessage* message)
{
	if (message == NULL)
		message = Message();
	if (message == NULL)
		return B_BAD_VALUE;
	BMessage clone(*message);
	clone.AddInt64("when", system_time());
	clone.AddPointer("source", this);
	clone.AddInt32("be:value", fValue);
	return BInvoker::Invoke(&clone);
}

void BControl::_DrawLabel(const char* label, float x, float y)
{
	if (label == NULL)
		return;
	PushState();
	SetHighColor(fEnabled ? kTextColor : kDisabledTextColor);
	SetDrawingMode(B_OP_OVER);
	DrawString(label, BPoint(x, y));
	PopState();
}
