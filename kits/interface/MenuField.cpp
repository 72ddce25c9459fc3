#include <MenuField.h>

#include <Menu.h>
#include <MenuItem.h>
#include <Message.h>

#include "ControlLook.h"
#include "MenuWindow.h"

#include <cstdlib>
#include <cstring>

BMenuField::BMenuField(BRect frame, const char* name, const char* label, BMenu* menu,
	uint32 resizingMode, uint32 flags)
	: BView(frame, name, resizingMode, flags),
	  fLabel(label != NULL ? strdup(label) : NULL),
	  fMenu(menu),
	  fDivider(0),
	  fAlign(B_ALIGN_LEFT),
	  fEnabled(true)
{
	SetViewColor(kPanelColor);
	if (label != NULL && label[0] != '\0')
		fDivider = static_cast<float>(static_cast<int32>(StringWidth(label) + 5));
	if (fMenu != NULL)
		fMenu->fField = this;
}

BMenuField::~BMenuField()
{
	if (fPopUp.IsValid())
		(void)fPopUp.SendMessage(B_QUIT_REQUESTED);
	if (fMenu != NULL) {
		fMenu->fField = NULL;
		delete fMenu;
	}
	free(fLabel);
}

const char* BMenuField::MenuLabel() const
{
	if (fMenu == NULL)
		return "";
	if (fMenu->IsLabelFromMarked())
		if (BMenuItem* marked = fMenu->FindMarked())
			return marked->Label();
	return fMenu->Name() != NULL ? fMenu->Name() : "";
}

void BMenuField::Draw(BRect)
{
	BRect bounds = Bounds();
	if (fLabel != NULL && fDivider > 0) {
		draw_label(this, fLabel, BRect(bounds.left, bounds.top, fDivider - 1, bounds.bottom),
			fAlign, fEnabled ? kTextColor : kDisabledTextColor);
	}
	// The pop-up's button: a raised box with the shown label and a small triangle.
	BRect button(fDivider, bounds.top, bounds.right, bounds.bottom);
	if (!button.IsValid())
		return;
	SetHighColor(kDarkColor);
	StrokeRect(button);
	button.InsetBy(1, 1);
	if (button.IsValid()) {
		draw_raised_frame(this, button);
		BRect text(button.left + 4, button.top, button.right - 12, button.bottom);
		draw_label(this, MenuLabel(), text, B_ALIGN_LEFT,
			fEnabled ? kTextColor : kDisabledTextColor);
		float middle = (button.top + button.bottom) / 2.0f;
		SetHighColor(kDarkColor);
		FillTriangle(BPoint(button.right - 9, middle - 2), BPoint(button.right - 3, middle - 2),
			BPoint(button.right - 6, middle + 1));
	}
	if (IsFocus()) {
		SetHighColor(kFocusColor);
		StrokeRect(BRect(fDivider, bounds.top, bounds.right, bounds.bottom));
	}
}

void BMenuField::MouseDown(BPoint)
{
	if (!fEnabled || fMenu == NULL || fMenu->CountItems() == 0 || Window() == NULL
		|| fPopUp.IsValid())
		return;
	std::vector<MenuWindow::Item> items;
	for (int32 i = 0; i < fMenu->CountItems(); i++) {
		BMenuItem* item = fMenu->ItemAt(i);
		items.push_back(MenuWindow::Item{item->Label(), item->IsMarked(), item->IsEnabled()});
	}
	BRect bounds = Bounds();
	BPoint leftTop = ConvertToScreen(BPoint(fDivider, bounds.bottom + 1));
	MenuWindow* popUp = new MenuWindow(leftTop, bounds.right - fDivider + 1,
		fLabel != NULL ? fLabel : "", std::move(items), BMessenger(this));
	fPopUp = BMessenger(popUp);
	popUp->Show();
}

void BMenuField::MessageReceived(BMessage* message)
{
	if (message->what == _MENU_CLOSED_) {
		fPopUp = BMessenger();
		return;
	}
	if (message->what != _MENU_ITEM_CHOSEN_) {
		BView::MessageReceived(message);
		return;
	}
	int32 index = -1;
	BMenuItem* item = fMenu != NULL && message->FindInt32("index", &index) == B_OK
		? fMenu->ItemAt(index) : NULL;
	if (fEnabled && item != NULL && item->IsEnabled())
		(void)item->Invoke();  // the item's message goes to the window, as a pick sends it
}

void BMenuField::DetachedFromWindow()
{
	if (fPopUp.IsValid())
		(void)fPopUp.SendMessage(B_QUIT_REQUESTED);
	fPopUp = BMessenger();
}

void BMenuField::SetLabel(const char* label)
{
	free(fLabel);
	fLabel = label != NULL ? strdup(label) : NULL;
	Invalidate();
}

void BMenuField::SetDivider(float dividingLine)
{
	fDivider = dividingLine;
	Invalidate();
}

void BMenuField::SetAlignment(alignment label)
{
	fAlign = label;
	Invalidate();
}
