// BMenuField: a label and a pop-up menu whose marked item (or the menu's name when none
// is marked, or label-from-marked is off) the field shows.
//
// Contract:
// - The field owns its menu. The items' messages go to the field's window unless an item
//   has a target of its own.
// - The platform's form with a fixedSize flag is left out: with resizing mode and flags
//   given, its calls could not be told from the usual form's.
// - A click on the field opens its menu in a pop-up window below it, from which a click
//   chooses an item (the item is then invoked on the field's window's thread). The pop-up
//   closes when the field leaves its window.
// - The field is B_NAVIGABLE when made so; it takes the focus, but keys do not open the
//   menu here.
#pragma once

#include <Messenger.h>
#include <View.h>

class BMenu;
class BMenuItem;

class BMenuField : public BView {
public:
	BMenuField(BRect frame, const char* name, const char* label, BMenu* menu,
		uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
		uint32 flags = B_WILL_DRAW | B_NAVIGABLE);
	virtual ~BMenuField();

	virtual void Draw(BRect updateRect);
	virtual void MouseDown(BPoint where);
	virtual void MessageReceived(BMessage* message);
	virtual void DetachedFromWindow();

	BMenu* Menu() const { return fMenu; }
	// What the field shows: the marked item's label, or the menu's name.
	const char* MenuLabel() const;

	void SetLabel(const char* label);
	const char* Label() const { return fLabel; }
	void SetDivider(float dividingLine);
	float Divider() const { return fDivider; }
	void SetAlignment(alignment label);
	alignment Alignment() const { return fAlign; }
	void SetEnabled(bool enabled) { fEnabled = enabled; }
	bool IsEnabled() const { return fEnabled; }

private:
	friend class BMenu;

	char* fLabel;
	BMenu* fMenu;
	float fDivider;
	alignment fAlign;
	bool fEnabled;
	BMessenger fPopUp;  // the open pop-up window, if any
};
