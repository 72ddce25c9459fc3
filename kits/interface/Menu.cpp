// BMenu, BPopUpMenu and BMenuItem: item lists with radio marking. Choosing an item is
// invoking it on the window's thread; the pop-up that shows a menu field's menu is a
// MenuWindow.
#include <Menu.h>

#include <Errors.h>
#include <MenuField.h>
#include <MenuItem.h>
#include <Message.h>
#include <PopUpMenu.h>
#include <Window.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

// --- BMenuItem ----------------------------------------------------------------------------

BMenuItem::BMenuItem(const char* label, BMessage* message, char shortcut, uint32 modifiers)
	: BInvoker(message, NULL),
	  fLabel(strdup(label != NULL ? label : "")),
	  fSubmenu(NULL),
	  fMenu(NULL),
	  fShortcut(shortcut),
	  fModifiers(modifiers),
	  fEnabled(true),
	  fMarked(false)
{
}

BMenuItem::BMenuItem(BMenu* menu, BMessage* message)
	: BInvoker(message, NULL),
	  fLabel(strdup(menu != NULL && menu->Name() != NULL ? menu->Name() : "")),
	  fSubmenu(menu),
	  fMenu(NULL),
	  fShortcut(0),
	  fModifiers(0),
	  fEnabled(true),
	  fMarked(false)
{
	if (menu != NULL)
		menu->fSuperitem = this;
}

BMenuItem::~BMenuItem()
{
	if (fMenu != NULL)
		fMenu->RemoveItem(this);
	delete fSubmenu;
	free(fLabel);
}

void BMenuItem::SetLabel(const char* label)
{
	free(fLabel);
	fLabel = strdup(label != NULL ? label : "");
	if (fMenu != NULL && fMarked)
		fMenu->_MarkedChanged();
}

void BMenuItem::SetEnabled(bool enabled)
{
	fEnabled = enabled;
}

void BMenuItem::SetMarked(bool marked)
{
	if (marked == fMarked)
		return;
	fMarked = marked;
	if (fMenu == NULL)
		return;
	if (marked)
		fMenu->_ItemMarked(this);
	fMenu->_MarkedChanged();
}

void BMenuItem::SetShortcut(char shortcut, uint32 modifiers)
{
	fShortcut = shortcut;
	fModifiers = modifiers;
}

char BMenuItem::Shortcut(uint32* modifiers) const
{
	if (modifiers != NULL)
		*modifiers = fModifiers;
	return fShortcut;
}

status_t BMenuItem::Invoke(BMessage* message)
{
	if (!fEnabled)
		return B_ERROR;
	if (fMenu != NULL && fMenu->IsRadioMode())
		SetMarked(true);
	if (message == NULL)
		message = Message();
	if (message == NULL)
		return B_BAD_VALUE;
	BMessage clone(*message);
	clone.AddInt64("when", system_time());
	clone.AddPointer("source", this);
	clone.AddInt32("index", fMenu != NULL ? fMenu->IndexOf(this) : -1);
	if (Messenger().IsValid())
		return BInvoker::Invoke(&clone);
	BHandler* target = fMenu != NULL ? fMenu->_DefaultTarget() : NULL;
	if (target == NULL || target->Looper() == NULL)
		return B_BAD_PORT_ID;
	return target->Looper()->PostMessage(&clone, target);
}

// --- BMenu --------------------------------------------------------------------------------

BMenu::BMenu(const char* name, menu_layout layout)
	: BView(BRect(0, 0, 10, 10), name, B_FOLLOW_LEFT | B_FOLLOW_TOP, B_WILL_DRAW),
	  fLayout(layout),
	  fRadioMode(false),
	  fLabelFromMarked(false),
	  fSuperitem(NULL),
	  fField(NULL)
{
}

BMenu::~BMenu()
{
	std::vector<BMenuItem*> items;
	items.swap(fItems);
	for (BMenuItem* item : items) {
		item->fMenu = NULL;
		delete item;
	}
}

bool BMenu::AddItem(BMenuItem* item)
{
	return AddItem(item, CountItems());
}

bool BMenu::AddItem(BMenuItem* item, int32 index)
{
	if (item == NULL || item->fMenu != NULL || index < 0 || index > CountItems())
		return false;
	fItems.insert(fItems.begin() + index, item);
	item->fMenu = this;
	if (item->IsMarked()) {
		_ItemMarked(item);
		_MarkedChanged();
	}
	return true;
}

bool BMenu::AddSeparatorItem()
{
	BMenuItem* separator = new BMenuItem("", NULL);
	separator->SetEnabled(false);
	return AddItem(separator);
}

bool BMenu::RemoveItem(BMenuItem* item)
{
	auto found = std::find(fItems.begin(), fItems.end(), item);
	if (item == NULL || found == fItems.end())
		return false;
	fItems.erase(found);
	item->fMenu = NULL;
	if (item->IsMarked())
		_MarkedChanged();
	return true;
}

BMenuItem* BMenu::RemoveItem(int32 index)
{
	BMenuItem* item = ItemAt(index);
	if (item != NULL)
		RemoveItem(item);
	return item;
}

BMenuItem* BMenu::ItemAt(int32 index) const
{
	if (index < 0 || index >= CountItems())
		return NULL;
	return fItems[index];
}

int32 BMenu::IndexOf(BMenuItem* item) const
{
	auto found = std::find(fItems.begin(), fItems.end(), item);
	return found == fItems.end() ? -1 : static_cast<int32>(found - fItems.begin());
}

BMenuItem* BMenu::FindItem(const char* label) const
{
	if (label == NULL)
		return NULL;
	for (BMenuItem* item : fItems) {
		if (strcmp(item->Label(), label) == 0)
			return item;
		if (item->Submenu() != NULL)
			if (BMenuItem* found = item->Submenu()->FindItem(label))
				return found;
	}
	return NULL;
}

BMenuItem* BMenu::FindItem(uint32 command) const
{
	for (BMenuItem* item : fItems) {
		if (item->Message() != NULL && item->Command() == command)
			return item;
		if (item->Submenu() != NULL)
			if (BMenuItem* found = item->Submenu()->FindItem(command))
				return found;
	}
	return NULL;
}

BMenuItem* BMenu::FindMarked() const
{
	for (BMenuItem* item : fItems)
		if (item->IsMarked())
			return item;
	return NULL;
}

void BMenu::SetRadioMode(bool flag)
{
	fRadioMode = flag;
	if (!flag)
		fLabelFromMarked = false;
}

void BMenu::SetLabelFromMarked(bool flag)
{
	fLabelFromMarked = flag;
	if (flag)
		fRadioMode = true;
	_MarkedChanged();
}

BMenu* BMenu::Supermenu() const
{
	return fSuperitem != NULL ? fSuperitem->Menu() : NULL;
}

status_t BMenu::SetTargetForItems(BHandler* target)
{
	status_t result = B_OK;
	for (BMenuItem* item : fItems) {
		status_t status = item->SetTarget(target);
		if (status != B_OK)
			result = status;
	}
	return result;
}

void BMenu::_ItemMarked(BMenuItem* item)
{
	if (!fRadioMode)
		return;
	for (BMenuItem* other : fItems) {
		if (other != item && other->fMarked)
			other->fMarked = false;
	}
}

void BMenu::_MarkedChanged()
{
	if (fField != NULL)
		fField->Invalidate();
}

BHandler* BMenu::_DefaultTarget() const
{
	for (const BMenu* menu = this; menu != NULL; menu = menu->Supermenu()) {
		if (menu->fField != NULL)
			return menu->fField->Window();
	}
	return NULL;
}

// --- BPopUpMenu ---------------------------------------------------------------------------

BPopUpMenu::BPopUpMenu(const char* name, bool radioMode, bool labelFromMarked,
	menu_layout layout)
	: BMenu(name, layout)
{
	SetRadioMode(radioMode);
	if (labelFromMarked)
		SetLabelFromMarked(true);
}

BPopUpMenu::~BPopUpMenu()
{
}
