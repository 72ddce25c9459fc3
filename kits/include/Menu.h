// BMenu: a list of menu items.
//
// Contract:
// - The menu owns its items and deletes them. In radio mode at most one item is marked:
//   marking one unmarks the rest. With label-from-marked, the menu's superitem (a menu
//   field's label) shows the marked item's label.
// - A menu field's menu opens in a pop-up window of its own (see BMenuField); what is
//   chosen there, or through the scripting interface's ChooseMenuItem, is invoked on the
//   field's window's thread.
// - Used on the window's thread, or with the window locked.
#pragma once

#include <View.h>

#include <vector>

class BMenuField;
class BMenuItem;

class BMenu : public BView {
public:
	BMenu(const char* name, menu_layout layout = B_ITEMS_IN_COLUMN);
	virtual ~BMenu();

	bool AddItem(BMenuItem* item);
	bool AddItem(BMenuItem* item, int32 index);
	bool AddSeparatorItem();
	bool RemoveItem(BMenuItem* item);
	BMenuItem* RemoveItem(int32 index);

	BMenuItem* ItemAt(int32 index) const;
	int32 CountItems() const { return static_cast<int32>(fItems.size()); }
	int32 IndexOf(BMenuItem* item) const;
	BMenuItem* FindItem(const char* label) const;
	BMenuItem* FindItem(uint32 command) const;
	BMenuItem* FindMarked() const;

	virtual void SetRadioMode(bool flag);
	bool IsRadioMode() const { return fRadioMode; }
	virtual void SetLabelFromMarked(bool flag);
	bool IsLabelFromMarked() const { return fLabelFromMarked; }
	menu_layout Layout() const { return fLayout; }

	// The item that opens this menu; NULL for a menu field's menu or a free menu.
	BMenuItem* Superitem() const { return fSuperitem; }
	BMenu* Supermenu() const;
	// The menu field that shows this menu, or NULL.
	BMenuField* MenuField() const { return fField; }

	virtual status_t SetTargetForItems(BHandler* target);

private:
	friend class BMenuItem;
	friend class BMenuField;

	void _ItemMarked(BMenuItem* item);
	void _MarkedChanged();
	BHandler* _DefaultTarget() const;

	std::vector<BMenuItem*> fItems;
	menu_layout fLayout;
	bool fRadioMode;
	bool fLabelFromMarked;
	BMenuItem* fSuperitem;
	BMenuField* fField;
};
