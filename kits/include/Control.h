// BControl: a view that has a value and a label and sends its message when the user
// changes it.
//
// Contract:
// - Invoke() posts a copy of the model message with "when" (int64, system time), "source"
//   (pointer, the control) and "be:value" (int32) added, to the target; a control attached
//   to a window without a target of its own targets the window (the window's
//   MessageReceived() sees it). SetValue() by the program sends nothing.
// - Used on the window's thread, or with the window locked.
#pragma once

#include <Invoker.h>
#include <View.h>

enum {
	B_CONTROL_OFF = 0,
	B_CONTROL_ON = 1
};

class BControl : public BView, public BInvoker {
public:
	BControl(BRect frame, const char* name, const char* label, BMessage* message,
		uint32 resizingMode, uint32 flags);
	virtual ~BControl();

	virtual void AttachedToWindow();
	virtual void MakeFocus(bool focus = true);

	virtual void SetLabel(const char* label);
	const char* Label() const { return fLabel; }

	virtual void SetValue(int32 value);
	int32 Value() const { return fValue; }

	virtual void SetEnabled(bool enabled);
	bool IsEnabled() const { return fEnabled; }

	virtual status_t Invoke(BMessage* message = NULL);

protected:
	// Draws the label in the control's colours, baseline at y, from x on.
	void _DrawLabel(const char* label, float x, float y);
	bool IsTracking() const { return fTracking; }
	void SetTracking(bool tracking) { fTracking = tracking; }

private:
	char* fLabel;
	int32 fValue;
	bool fEnabled;
	bool fTracking;
};
