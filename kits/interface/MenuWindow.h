// A pop-up menu on the screen: a borderless window right below its menu field, listing the
// menu's items as they were when it opened.
//
// Contract:
// - A menu field opens it from its window's thread (BMenuField::MouseDown) with a copy of
//   the items' labels and marks, so the menu's own window never touches the menu. It runs
//   on its own thread like every window.
// - Choosing an item (a click on it, or Return on the highlighted one) posts
//   _MENU_ITEM_CHOSEN_ with int32 "index" to the field, which invokes that item on its own
//   thread, and closes the menu. A press outside the menu, or Escape, closes it without a
//   choice; so does the field when it leaves its window.
// - However it closes, the menu tells the field (_MENU_CLOSED_) before its window goes from
//   the screen, so a click on the field right after opens the menu again.
// - The release of the click that opened the menu lands outside it and is ignored, so a
//   click opens the menu and a second click chooses; pressing on the field and releasing
//   over an item chooses too.
#pragma once

#include <Messenger.h>
#include <View.h>
#include <Window.h>

#include <string>
#include <vector>

enum {
	_MENU_ITEM_CHOSEN_ = '_MIC',  // to a menu field: int32 "index", the item chosen
	_MENU_CLOSED_ = '_MCL'        // to a menu field: its pop-up is closing
};

class MenuWindow : public BWindow {
public:
	struct Item {
		std::string label;
		bool marked;
		bool enabled;
	};

	// leftTop in screen coordinates; the menu is at least minWidth wide.
	MenuWindow(BPoint leftTop, float minWidth, const char* title, std::vector<Item> items,
		const BMessenger& field);

	void DispatchMessage(BMessage* message, BHandler* handler) override;
	void Quit() override;

	// The height of one item row.
	static float ItemHeight();

private:
	class ItemsView;

	int32 _ItemAt(BPoint where) const;
	void _Highlight(int32 index);
	void _Step(int32 direction);
	void _Choose(int32 index);

	std::vector<Item> fItems;
	BMessenger fField;
	ItemsView* fView;
	int32 fHighlighted;  // -1 for none
};
