// BPopUpMenu: a menu that pops up over a menu field. Radio mode and label-from-marked are
// on by default, as on the platform.
#pragma once

#include <Menu.h>

class BPopUpMenu : public BMenu {
public:
	BPopUpMenu(const char* name, bool radioMode = true, bool labelFromMarked = true,
		menu_layout layout = B_ITEMS_IN_COLUMN);
	virtual ~BPopUpMenu();
};
