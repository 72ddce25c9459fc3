// MenuWindow: the pop-up of a menu field. Every input message is handled here, in
// DispatchMessage, rather than routed to a view: a press outside the window must close it,
// and no view lies there to take it.
#include "MenuWindow.h"

#include <Font.h>
#include <Message.h>

#include "ControlLook.h"

#include <algorithm>
#include <cmath>

namespace {

const float kBorder = 1.0f;
const float kMarkSpace = 18.0f;   // left of the labels, where the marked item's tick goes
const float kRightSpace = 12.0f;

float line_height()
{
	font_height height;
	be_plain_font->GetHeight(&height);
	return std::ceil(height.ascent + height.descent + height.leading);
}

}  // namespace

// Draws the rows; the window keeps the state.
class MenuWindow::ItemsView : public BView {
public:
	ItemsView(BRect frame, const std::vector<Item>* items, const int32* highlighted)
		: BView(frame, "menu items", B_FOLLOW_ALL, B_WILL_DRAW),
		  fItems(items),
		  fHighlighted(highlighted)
	{
		SetViewColor(ui_color(B_MENU_BACKGROUND_COLOR));
	}

	void Draw(BRect) override
	{
		BRect bounds = Bounds();
		float rowHeight = MenuWindow::ItemHeight();
		for (size_t i = 0; i < fItems->size(); i++) {
			const Item& item = (*fItems)[i];
			BRect row(bounds.left + kBorder, kBorder + i * rowHeight, bounds.right - kBorder,
				kBorder + (i + 1) * rowHeight - 1);
			bool highlighted = static_cast<int32>(i) == *fHighlighted && item.enabled;
			if (highlighted) {
				SetHighColor(ui_color(B_MENU_SELECTION_BACKGROUND_COLOR));
				FillRect(row);
			}
			rgb_color text = !item.enabled ? kDisabledTextColor
				: highlighted ? ui_color(B_MENU_SELECTED_ITEM_TEXT_COLOR)
				: ui_color(B_MENU_ITEM_TEXT_COLOR);
			if (item.marked) {
				// A tick: a short stroke down to the right, then a long one up.
				float middle = std::floor((row.top + row.bottom) / 2);
				SetHighColor(text);
				StrokeLine(BPoint(row.left + 5, middle), BPoint(row.left + 7, middle + 3));
				StrokeLine(BPoint(row.left + 7, middle + 3), BPoint(row.left + 12, middle - 4));
			}
			draw_label(this, item.label.c_str(),
				BRect(row.left + kMarkSpace, row.top, row.right, row.bottom), B_ALIGN_LEFT, text);
		}
		SetHighColor(kDarkColor);
		StrokeRect(bounds);
	}

private:
	const std::vector<Item>* fItems;
	const int32* fHighlighted;
};

float MenuWindow::ItemHeight()
{
	return line_height() + 4;
}

MenuWindow::MenuWindow(BPoint leftTop, float minWidth, const char* title,
	std::vector<Item> items, const BMessenger& field)
	: BWindow(BRect(0, 0, 10, 10), title, B_NO_BORDER_WINDOW_LOOK, B_FLOATING_APP_WINDOW_FEEL,
		B_NOT_MOVABLE | B_NOT_CLOSABLE | B_NOT_ZOOMABLE | B_NOT_RESIZABLE),
	  fItems(std::move(items)),
	  fField(field),
	  fView(NULL),
	  fHighlighted(-1)
{
	float widest = 0;
	for (const Item& item : fItems)
		widest = std::max(widest, be_plain_font->StringWidth(item.label.c_str()));
	float width = std::ceil(std::max(minWidth, widest + kMarkSpace + kRightSpace + 2 * kBorder));
	float height = fItems.size() * ItemHeight() + 2 * kBorder;
	MoveTo(leftTop);
	ResizeTo(width - 1, height - 1);
	fView = new ItemsView(Bounds(), &fItems, &fHighlighted);
	AddChild(fView);
}

void MenuWindow::DispatchMessage(BMessage* message, BHandler* handler)
{
	BPoint where;
	switch (message->what) {
		case B_MOUSE_DOWN:
			if (message->FindPoint("where", &where) != B_OK)
				break;
			if (!Bounds().Contains(where))
				Quit();  // does not return
			_Highlight(_ItemAt(where));
			break;
		case B_MOUSE_UP:
			// Outside: the release of the click that opened the menu, or a press dragged
			// off it. Neither chooses.
			if (message->FindPoint("where", &where) == B_OK && Bounds().Contains(where))
				_Choose(_ItemAt(where));
			break;
		case B_MOUSE_MOVED:
			if (message->FindPoint("where", &where) == B_OK)
				_Highlight(Bounds().Contains(where) ? _ItemAt(where) : -1);
			break;
		case B_KEY_DOWN: {
			const char* bytes = NULL;
			if (message->FindString("bytes", &bytes) != B_OK || bytes == NULL
				|| bytes[0] == '\0' || bytes[1] != '\0')
				break;
			switch (bytes[0]) {
				case B_ESCAPE:
					Quit();
					break;
				case B_UP_ARROW:
					_Step(-1);
					break;
				case B_DOWN_ARROW:
					_Step(1);
					break;
				case B_ENTER:
				case B_SPACE:
					_Choose(fHighlighted);
					break;
				default:
					break;
			}
			break;
		}
		default:
			BWindow::DispatchMessage(message, handler);
			return;
	}
	UpdateIfNeeded();
}

void MenuWindow::Quit()
{
	(void)fField.SendMessage(_MENU_CLOSED_);  // a field that has gone needs no word
	BWindow::Quit();
}

int32 MenuWindow::_ItemAt(BPoint where) const
{
	float row = std::floor((where.y - kBorder) / ItemHeight());
	if (row < 0 || row >= static_cast<float>(fItems.size()))
		return -1;
	return static_cast<int32>(row);
}

void MenuWindow::_Highlight(int32 index)
{
	if (index == fHighlighted)
		return;
	fHighlighted = index;
	fView->Invalidate();
}

void MenuWindow::_Step(int32 direction)
{
	int32 count = static_cast<int32>(fItems.size());
	int32 index = fHighlighted;
	for (int32 step = 0; step < count; step++) {
		if (index < 0)
			index = direction > 0 ? 0 : count - 1;
		else
			index = (index + direction + count) % count;
		if (fItems[index].enabled) {
			_Highlight(index);
			return;
		}
	}
}

void MenuWindow::_Choose(int32 index)
{
	if (index < 0 || index >= static_cast<int32>(fItems.size()) || !fItems[index].enabled)
		return;
	BMessage chosen(_MENU_ITEM_CHOSEN_);
	chosen.AddInt32("index", index);
	(void)fField.SendMessage(&chosen);  // a field that has gone misses the choice
	Quit();
}
