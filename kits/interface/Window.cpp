// BWindow: a looper whose handlers are the views of its tree, drawn into its own bitmap.
//
// The window routes input as the platform's display server and window do: key messages
// reach the focus view as the looper's preferred handler (so common filters see it as the
// target), Tab moves the focus and Enter the default button before the view sees them;
// mouse messages are handed to the view under the point (a B_MOUSE_UP to the view that
// took the B_MOUSE_DOWN), in that view's coordinates.
#include <Window.h>

#include <Alert.h>
#include <Bitmap.h>
#include <Box.h>
#include <Button.h>
#include <Message.h>
#include <MenuField.h>
#include <Menu.h>
#include <MenuItem.h>
#include <Region.h>
#include <TextControl.h>
#include <TextView.h>
#include <StringView.h>
#include <View.h>

#include "DisplayPrivate.h"
#include "MenuWindow.h"
#include "WindowPrivate.h"

#include <cstdlib>
#include <cstring>
#include <string>

rgb_color ui_color(color_which which)
{
	switch (which) {
		case B_PANEL_BACKGROUND_COLOR:
		case B_MENU_BACKGROUND_COLOR:
			return rgb_color{216, 216, 216, 255};
		case B_WINDOW_TAB_COLOR:
			return rgb_color{255, 203, 0, 255};
		case B_KEYBOARD_NAVIGATION_COLOR:
			return rgb_color{0, 0, 229, 255};
		case B_DESKTOP_COLOR:
			return rgb_color{51, 102, 152, 255};
		case B_MENU_SELECTION_BACKGROUND_COLOR:
			return rgb_color{115, 120, 184, 255};
		case B_MENU_ITEM_TEXT_COLOR:
			return rgb_color{0, 0, 0, 255};
		case B_MENU_SELECTED_ITEM_TEXT_COLOR:
			return rgb_color{255, 255, 255, 255};
	}
	return rgb_color{216, 216, 216, 255};
}

namespace {

window_look look_for(window_type type)
{
	switch (type) {
		case B_MODAL_WINDOW: return B_MODAL_WINDOW_LOOK;
		case B_DOCUMENT_WINDOW: return B_DOCUMENT_WINDOW_LOOK;
		case B_BORDERED_WINDOW: return B_BORDERED_WINDOW_LOOK;
		case B_FLOATING_WINDOW: return B_FLOATING_WINDOW_LOOK;
		case B_TITLED_WINDOW:
		case B_UNTYPED_WINDOW:
			break;
	}
	return B_TITLED_WINDOW_LOOK;
}

window_feel feel_for(window_type type)
{
	switch (type) {
		case B_MODAL_WINDOW: return B_MODAL_APP_WINDOW_FEEL;
		case B_FLOATING_WINDOW: return B_FLOATING_APP_WINDOW_FEEL;
		default: break;
	}
	return B_NORMAL_WINDOW_FEEL;
}

std::string thread_name_for(const char* title)
{
	return std::string("w>") + (title != NULL ? title : "");
}

// Views in tree order (depth first, parents before children).
void collect_views(BView* view, std::vector<BView*>* views)
{
	for (int32 i = 0; i < view->CountChildren(); i++) {
		BView* child = view->ChildAt(i);
		views->push_back(child);
		collect_views(child, views);
	}
}

bool is_visible(const BView* view)
{
	for (; view != NULL; view = view->Parent())
		if (view->IsHidden())
			return false;
	return true;
}

bool takes_focus(BView* view)
{
	if (!(view->Flags() & B_NAVIGABLE) || !is_visible(view))
		return false;
	if (BControl* control = dynamic_cast<BControl*>(view))
		return control->IsEnabled();
	if (BTextView* text = dynamic_cast<BTextView*>(view)) {
		if (BControl* owner = dynamic_cast<BControl*>(text->Parent()))
			return owner->IsEnabled();
	}
	return true;
}

}  // namespace

// A top view that holds the window's views and paints the panel grey behind them.
class WindowTopView : public BView {
public:
	WindowTopView(BRect frame)
		: BView(frame, "top view", B_FOLLOW_ALL, B_WILL_DRAW)
	{
		SetViewColor(ui_color(B_PANEL_BACKGROUND_COLOR));
	}
};

// --- Construction ----------------------------------------------------------------------

BWindow::BWindow(BRect frame, const char* title, window_type type, uint32 flags,
	uint32 workspace)
	: BLooper(title)
{
	_Init(frame, title, look_for(type), feel_for(type), flags, workspace);
}

BWindow::BWindow(BRect frame, const char* title, window_look look, window_feel feel,
	uint32 flags, uint32 workspace)
	: BLooper(title)
{
	_Init(frame, title, look, feel, flags, workspace);
}

void BWindow::_Init(BRect frame, const char* title, window_look look, window_feel feel,
	uint32 flags, uint32 workspace)
{
	fTitle = strdup(title != NULL ? title : "");
	fFrame = frame;
	fLook = look;
	fFeel = feel;
	fFlags = flags;
	fWorkspaces = workspace;
	fFocus = NULL;
	fMouseView = NULL;
	fMovedView = NULL;
	fExposed = BRect();
	fDefaultButton = NULL;
	fShowLevel = 0;
	fStarted = false;
	fActive = false;
	fToken = 0;
	SetThreadName(thread_name_for(fTitle).c_str());

	fBitmap = new BBitmap(Bounds(), B_RGB32, true);
	fTopView = new WindowTopView(Bounds());
	fBitmap->AddChild(fTopView);
	fTopView->fWindow = this;
	AddHandler(fTopView);
}

BWindow::~BWindow()
{
	if (fToken != 0)
		display_backend()->WindowClosed(fToken);
	// The views go while the looper still holds them, so each leaves it in order.
	fBitmap->RemoveChild(fTopView);
	delete fTopView;
	fTopView = NULL;
	delete fBitmap;
	free(fTitle);
}

// --- Showing and quitting --------------------------------------------------------------

void BWindow::Show()
{
	// Held across Run(), this lock keeps the new loop from dispatching (and perhaps
	// quitting) until the display knows the window and its thread.
	bool locked = Lock();
	fShowLevel++;
	if (fShowLevel == 1)
		fTopView->Invalidate();
	if (!fStarted) {
		fStarted = true;
		fActive = true;
		Run();  // gives up the constructor's lock, not ours
	}
	if (fToken == 0) {
		display_window_kind kind = dynamic_cast<BAlert*>(this) != NULL ? DISPLAY_ALERT
			: dynamic_cast<MenuWindow*>(this) != NULL ? DISPLAY_MENU : DISPLAY_WINDOW;
		fToken = display_backend()->WindowShown(this, kind);
	}
	else if (fShowLevel == 1)
		display_backend()->WindowHidden(fToken, false);
	if (locked)
		Unlock();
}

void BWindow::Hide()
{
	if (!Lock())
		return;
	fShowLevel--;
	if (fShowLevel == 0 && fToken != 0)
		display_backend()->WindowHidden(fToken, true);
	Unlock();
}

bool BWindow::IsHidden() const
{
	return fShowLevel <= 0;
}

void BWindow::Quit()
{
	BLooper::Quit();
}

bool BWindow::QuitRequested()
{
	return true;
}

void BWindow::WindowActivated(bool)
{
}

// --- Views -----------------------------------------------------------------------------

void BWindow::AddChild(BView* child, BView* before)
{
	fTopView->AddChild(child, before);
}

bool BWindow::RemoveChild(BView* child)
{
	return fTopView->RemoveChild(child);
}

int32 BWindow::CountChildren() const
{
	return fTopView->CountChildren();
}

BView* BWindow::ChildAt(int32 index) const
{
	return fTopView->ChildAt(index);
}

BView* BWindow::FindView(const char* name) const
{
	return fTopView->FindView(name);
}

BView* BWindow::FindView(BPoint point) const
{
	BView* found = NULL;
	BView* parent = fTopView;
	BPoint local = point;
	for (;;) {
		BView* hit = NULL;
		// Later children lie on top of earlier ones.
		for (int32 i = parent->CountChildren() - 1; i >= 0; i--) {
			BView* child = parent->ChildAt(i);
			if (!child->IsHidden() && child->Frame().Contains(local)) {
				hit = child;
				break;
			}
		}
		if (hit == NULL)
			return found;
		local = hit->ConvertFromParent(local);
		found = hit;
		parent = hit;
	}
}

void BWindow::_Attached(BView* view)
{
	// As on the platform: a parent hears of the window before its children do, and
	// AllAttached() runs the other way round.
	view->fWindow = this;
	AddHandler(view);
	view->AttachedToWindow();
	for (int32 i = 0; i < view->CountChildren(); i++)
		_Attached(view->ChildAt(i));
	view->AllAttached();
	view->Invalidate();
}

void BWindow::_Detached(BView* view)
{
	view->DetachedFromWindow();
	for (int32 i = 0; i < view->CountChildren(); i++)
		_Detached(view->ChildAt(i));
	view->AllDetached();
	if (fFocus == view) {
		fFocus = NULL;
		view->fIsFocus = false;
		SetPreferredHandler(NULL);
	}
	if (fMouseView == view)
		fMouseView = NULL;
	if (fMovedView == view)
		fMovedView = NULL;
	if (fDefaultButton == view)
		fDefaultButton = NULL;
	RemoveHandler(view);
	view->fWindow = NULL;
}

// --- Focus and navigation --------------------------------------------------------------

void BWindow::_SetFocus(BView* view, bool focus)
{
	if (!focus) {
		// Drawn again either way: the focus may have moved on already (see below), and the
		// view still shows its focus mark.
		if (view->fIsFocus)
			view->Invalidate();
		view->fIsFocus = false;
		if (fFocus == view) {
			fFocus = NULL;
			SetPreferredHandler(NULL);
			view->Invalidate();
		}
		return;
	}
	if (fFocus == view)
		return;
	BView* previous = fFocus;
	fFocus = view;
	view->fIsFocus = true;
	SetPreferredHandler(view);
	view->Invalidate();
	// Through the virtual hook, so a text field learns that it lost the focus.
	if (previous != NULL)
		previous->MakeFocus(false);
}

BView* BWindow::_NextNavigable(BView* from, bool backwards) const
{
	std::vector<BView*> views;
	collect_views(fTopView, &views);
	std::vector<BView*> navigable;
	for (BView* view : views)
		if (takes_focus(view) || view == from)
			navigable.push_back(view);
	if (navigable.empty())
		return NULL;
	int32 count = static_cast<int32>(navigable.size());
	int32 index = -1;
	for (int32 i = 0; i < count; i++)
		if (navigable[i] == from)
			index = i;
	for (int32 step = 1; step <= count; step++) {
		int32 next;
		if (index < 0)
			next = backwards ? count - step : step - 1;
		else
			next = ((index + (backwards ? -step : step)) % count + count) % count;
		if (navigable[next] != from && takes_focus(navigable[next]))
			return navigable[next];
	}
	return NULL;
}

void BWindow::SetDefaultButton(BButton* button)
{
	if (fDefaultButton == button)
		return;
	BButton* previous = fDefaultButton;
	fDefaultButton = button;
	if (previous != NULL)
		previous->Invalidate();
	if (button != NULL)
		button->Invalidate();
}

// --- Dispatching -----------------------------------------------------------------------

void BWindow::DispatchMessage(BMessage* message, BHandler* handler)
{
	if (message == NULL || handler == NULL)
		return;
	switch (message->what) {
		case B_KEY_DOWN:
			_HandleKeyDown(message, handler);
			break;
		case B_MOUSE_DOWN:
		case B_MOUSE_UP:
			_HandleMouse(message);
			break;
		case B_MOUSE_MOVED:
			_HandleMouseMoved(message);
			break;
		case B_WINDOW_ACTIVATED: {
			bool active = false;
			if (message->FindBool("active", &active) == B_OK && active != fActive) {
				fActive = active;
				WindowActivated(active);
			}
			break;
		}
		case _DISPLAY_EXPOSE_: {
			BRect area;
			if (message->FindRect("area", &area) == B_OK)
				fExposed = fExposed.IsValid() ? (fExposed | area) : area;
			break;
		}
		case _DISPLAY_MOVED_: {
			BPoint where;
			if (message->FindPoint("where", &where) == B_OK && where != fFrame.LeftTop()) {
				fFrame.OffsetTo(where);
				FrameMoved(where);
			}
			break;
		}
		default:
			BLooper::DispatchMessage(message, handler);
			break;
	}
	UpdateIfNeeded();
	if (fExposed.IsValid()) {
		BRect area = fExposed & Bounds();
		fExposed = BRect();
		if (area.IsValid() && fToken != 0)
			display_backend()->WindowDrawn(fToken, fBitmap, area);
	}
}

void BWindow::MessageReceived(BMessage* message)
{
	BLooper::MessageReceived(message);
}

void BWindow::_HandleKeyDown(BMessage* message, BHandler* handler)
{
	const char* bytes = NULL;
	if (message->FindString("bytes", &bytes) != B_OK || bytes == NULL)
		bytes = "";
	int32 modifiers = 0;
	(void)message->FindInt32("modifiers", &modifiers);  // none when missing
	BView* view = dynamic_cast<BView*>(handler);
	if (view != NULL && view->Window() != this)
		view = NULL;

	if (bytes[0] == B_TAB && !(modifiers & (B_COMMAND_KEY | B_CONTROL_KEY | B_OPTION_KEY))) {
		if (BView* next = _NextNavigable(fFocus, (modifiers & B_SHIFT_KEY) != 0))
			next->MakeFocus(true);
		return;
	}
	if (bytes[0] == B_ENTER && bytes[1] == '\0') {
		BTextView* text = dynamic_cast<BTextView*>(view);
		bool inTextField = text != NULL && text->IsEditable();
		if (!inTextField && fDefaultButton != NULL && fDefaultButton->IsEnabled()) {
			fDefaultButton->Invoke();
			return;
		}
	}
	if (view != NULL)
		view->KeyDown(bytes, static_cast<int32>(strlen(bytes)));
}

void BWindow::_HandleMouse(BMessage* message)
{
	BPoint where;
	if (message->FindPoint("where", &where) != B_OK)
		return;
	BView* view;
	if (message->what == B_MOUSE_DOWN) {
		view = FindView(where);
		fMouseView = view;
		if (view != NULL && takes_focus(view) && !view->IsFocus())
			view->MakeFocus(true);
		// MakeFocus() may have detached views (a hook's doing): look again.
		if (view != NULL && view->Window() == this)
			view->MouseDown(view->ConvertFromScreen(ConvertToScreen(where)));
	} else {
		view = fMouseView != NULL ? fMouseView : FindView(where);
		fMouseView = NULL;
		if (view != NULL && view->Window() == this)
			view->MouseUp(view->ConvertFromScreen(ConvertToScreen(where)));
	}
}

void BWindow::_HandleMouseMoved(BMessage* message)
{
	BPoint where;
	if (message->FindPoint("where", &where) != B_OK)
		return;
	// While a button is held, the view that took the press follows the pointer.
	BView* view = fMouseView != NULL ? fMouseView : FindView(where);
	if (fMovedView != NULL && fMovedView != view) {
		BView* left = fMovedView;
		fMovedView = NULL;
		left->MouseMoved(left->ConvertFromScreen(ConvertToScreen(where)), B_EXITED_VIEW, NULL);
	}
	// A hook may have detached views: look again.
	if (view == NULL || view->Window() != this)
		return;
	uint32 transit = view == fMovedView ? B_INSIDE_VIEW : B_ENTERED_VIEW;
	fMovedView = view;
	view->MouseMoved(view->ConvertFromScreen(ConvertToScreen(where)), transit, NULL);
}

// --- Geometry, title, updates ------------------------------------------------------------

BRect BWindow::Bounds() const
{
	return BRect(0, 0, fFrame.Width(), fFrame.Height());
}

void BWindow::MoveTo(BPoint where)
{
	fFrame.OffsetTo(where);
	if (fToken != 0)
		display_backend()->WindowFrameChanged(fToken, fFrame);
	FrameMoved(where);
}

void BWindow::MoveTo(float x, float y)
{
	MoveTo(BPoint(x, y));
}

void BWindow::ResizeTo(float width, float height)
{
	fFrame.right = fFrame.left + width;
	fFrame.bottom = fFrame.top + height;
	fBitmap->RemoveChild(fTopView);
	delete fBitmap;
	fBitmap = new BBitmap(Bounds(), B_RGB32, true);
	fTopView->ResizeTo(width, height);
	fBitmap->AddChild(fTopView);
	fTopView->fWindow = this;
	fTopView->Invalidate();
	if (fToken != 0)
		display_backend()->WindowFrameChanged(fToken, fFrame);
	FrameResized(width, height);
}

void BWindow::ConvertToScreen(BPoint* point) const
{
	point->x += fFrame.left;
	point->y += fFrame.top;
}

BPoint BWindow::ConvertToScreen(BPoint point) const
{
	ConvertToScreen(&point);
	return point;
}

void BWindow::ConvertFromScreen(BPoint* point) const
{
	point->x -= fFrame.left;
	point->y -= fFrame.top;
}

BPoint BWindow::ConvertFromScreen(BPoint point) const
{
	ConvertFromScreen(&point);
	return point;
}

void BWindow::SetTitle(const char* title)
{
	// Title() hands out the string itself, to be read under the window's lock: the old one
	// may go only under that lock too.
	bool locked = Lock();
	char* old = fTitle;
	fTitle = strdup(title != NULL ? title : "");
	std::string retitled = fTitle;
	SetName(fTitle);
	SetThreadName(thread_name_for(fTitle).c_str());
	free(old);
	if (locked)
		Unlock();
	// The display is told outside the lock: it may wait for the window itself.
	if (fToken != 0)
		display_backend()->WindowRetitled(fToken, retitled.c_str());
}

bool BWindow::IsModal() const
{
	return fFeel == B_MODAL_APP_WINDOW_FEEL || fFeel == B_MODAL_SUBSET_WINDOW_FEEL
		|| fFeel == B_MODAL_ALL_WINDOW_FEEL;
}

void BWindow::UpdateIfNeeded()
{
	if (!fTopView->NeedsUpdate())
		return;
	BRect area = _DirtyArea(fTopView) & Bounds();
	fBitmap->Lock();
	fTopView->UpdateIfNeeded();
	fBitmap->Unlock();
	if (area.IsValid() && fToken != 0)
		display_backend()->WindowDrawn(fToken, fBitmap, area);
}

BRect BWindow::_DirtyArea(BView* view) const
{
	// What the views will draw, in window coordinates; a hidden view draws nothing.
	BRect area;
	if (view->IsHidden())
		return area;
	if (view->fDirty->CountRects() > 0) {
		BRect frame = view->fDirty->Frame();
		BPoint origin = ConvertFromScreen(view->ConvertToScreen(frame.LeftTop()));
		area = frame.OffsetToCopy(origin.x, origin.y);
	}
	for (BView* child : view->fChildren) {
		BRect childArea = _DirtyArea(child);
		if (childArea.IsValid())
			area = area.IsValid() ? (area | childArea) : childArea;
	}
	return area;
}

void BWindow::_Render(bool all)
{
	if (all)
		fTopView->Invalidate();
	UpdateIfNeeded();
}

BBitmap* window_render(BWindow* window)
{
	window->_Render(true);
	window->fBitmap->Lock();
	BBitmap* copy = new BBitmap(window->fBitmap);
	window->fBitmap->Unlock();
	return copy;
}
