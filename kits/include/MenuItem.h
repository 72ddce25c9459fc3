// BMenuItem: one item of a menu, with a label, a mark and the message it sends.
//
// Contract:
// - The item owns its message (BInvoker). Invoking it (the user choosing it) marks it when
//   its menu is in radio mode, updates a menu field's label, and posts a copy of the
//   message with "when" (int64), "source" (pointer, the item) and "index" (int32, the
//   item's place in its menu) added, to the target: without a target of its own, the
//   window of the menu's menu field.
// - SetMarked(true) in a radio-mode menu unmarks the other items; it sends nothing.
#pragma once

#include <Invoker.h>

class BMenu;

class BMenuItem : public BInvoker {
public:
	BMenuItem(const char* label, BMessage* message, char shortcut = 0, uint32 modifiers = 0);
	// An item that opens a submenu; the item owns it.
	BMenuItem(BMenu* menu, BMessage* message = NULL);
	virtual ~BMenuItem();

	virtual void SetLabel(const char* label);
	const char* Label() const { return fLabel; }
	virtual void SetEnabled(bool enabled);
	bool IsEnabled() const { return fEnabled; }
	virtual void SetMarked(bool marked);
	bool IsMarked() const { return fMarked; }
	virtual void SetShortcut(char shortcut, uint32 modifiers);
	char Shortcut(uint32* modifiers = NULL) const;

	BMenu* Submenu() const { return fSubmenu; }
	// The menu that holds the item, or NULL.
	BMenu* Menu() const { return fMenu; }

	virtual status_t Invoke(BMessage* message = NULL);

private:
	friend class BMenu;

	char* fLabel;
	BMenu* fSubmenu;
	BMenu* fMenu;
	char fShortcut;
	uint32 fModifiers;
	bool fEnabled;
	bool fMarked;
};
