// BWindow: a looper with a view tree, shown on the display and run on its own thread.
//
// Contract:
// - A window is created locked by the constructing thread, hidden, with a top view that
//   covers its bounds and holds the views added with AddChild(). Show() makes it known to
//   the display and, the first time, starts its thread, named "w>" followed by the title
//   (as much of it as fits), and releases the constructor's lock. Thread() is that thread;
//   wait on it to learn that the window has gone (finding the thread by name cannot tell
//   two windows of the same title apart).
// - Views, their state and the window's own state are touched only with the window locked:
//   on the window's thread while it dispatches, or by another thread after Lock().
// - Input arrives as messages, as from the platform's display server: B_KEY_DOWN goes to
//   the preferred handler, which is the focus view (the window when nothing has the
//   focus), so the common filters see the focus view as the target; B_MOUSE_DOWN and
//   B_MOUSE_UP ("where" in window coordinates) go to the window, which hands them to the
//   view under the point in that view's coordinates. Tab and Shift-Tab move the focus among
//   the B_NAVIGABLE views in tree order; Enter presses the default button unless the focus
//   is in an editable text view. B_MOUSE_MOVED goes to the view under the point (to the one
//   that took the B_MOUSE_DOWN while a button is held), with the transit.
// - The window draws into its own B_RGB32 bitmap; after each message it draws what was
//   invalidated and hands the area to the display, which shows it (the X11 display copies it
//   to the window on screen).
// - Quit() on the window's thread ends the thread and deletes the window with its views
//   (see BLooper). Quit() from another thread waits for that.
#pragma once

#include <InterfaceDefs.h>
#include <Looper.h>
#include <Rect.h>

class BBitmap;
class BButton;
class BView;

enum window_type {
	B_UNTYPED_WINDOW = 0,
	B_TITLED_WINDOW = 1,
	B_MODAL_WINDOW = 3,
	B_DOCUMENT_WINDOW = 11,
	B_BORDERED_WINDOW = 20,
	B_FLOATING_WINDOW = 21
};

enum window_look {
	B_BORDERED_WINDOW_LOOK = 20,
	B_NO_BORDER_WINDOW_LOOK = 19,
	B_TITLED_WINDOW_LOOK = 1,
	B_DOCUMENT_WINDOW_LOOK = 11,
	B_MODAL_WINDOW_LOOK = 3,
	B_FLOATING_WINDOW_LOOK = 7
};

enum window_feel {
	B_NORMAL_WINDOW_FEEL = 0,
	B_MODAL_SUBSET_WINDOW_FEEL = 2,
	B_MODAL_APP_WINDOW_FEEL = 1,
	B_MODAL_ALL_WINDOW_FEEL = 3,
	B_FLOATING_SUBSET_WINDOW_FEEL = 5,
	B_FLOATING_APP_WINDOW_FEEL = 4,
	B_FLOATING_ALL_WINDOW_FEEL = 6
};

// Window flags.
enum {
	B_NOT_MOVABLE = 0x00000001,
	B_NOT_CLOSABLE = 0x00000020,
	B_NOT_ZOOMABLE = 0x00000040,
	B_NOT_MINIMIZABLE = 0x00004000,
	B_NOT_RESIZABLE = 0x00000002,
	B_NOT_H_RESIZABLE = 0x00000004,
	B_NOT_V_RESIZABLE = 0x00000008,
	B_AVOID_FRONT = 0x00000080,
	B_AVOID_FOCUS = 0x00002000,
	B_WILL_ACCEPT_FIRST_CLICK = 0x00000010,
	B_OUTLINE_RESIZE = 0x00001000,
	B_NO_WORKSPACE_ACTIVATION = 0x00000100,
	B_NOT_ANCHORED_ON_ACTIVATE = 0x00020000,
	B_ASYNCHRONOUS_CONTROLS = 0x00080000,
	B_QUIT_ON_WINDOW_CLOSE = 0x00100000
};

#define B_CURRENT_WORKSPACE 0
#define B_ALL_WORKSPACES 0xffffffff

class BWindow : public BLooper {
public:
	BWindow(BRect frame, const char* title, window_type type, uint32 flags,
		uint32 workspace = B_CURRENT_WORKSPACE);
	BWindow(BRect frame, const char* title, window_look look, window_feel feel, uint32 flags,
		uint32 workspace = B_CURRENT_WORKSPACE);
	virtual ~BWindow();

	// Visibility. Show() and Hide() nest as on the platform: a window shown twice needs two
	// Hide() calls. The first Show() starts the thread.
	virtual void Show();
	virtual void Hide();
	bool IsHidden() const;

	virtual void Quit();
	virtual bool QuitRequested();
	virtual void DispatchMessage(BMessage* message, BHandler* handler);
	virtual void MessageReceived(BMessage* message);

	// Views
	void AddChild(BView* child, BView* before = NULL);
	bool RemoveChild(BView* child);
	int32 CountChildren() const;
	BView* ChildAt(int32 index) const;
	// The first view of that name, depth first in tree order.
	BView* FindView(const char* name) const;
	// The deepest visible view whose frame holds the point (window coordinates), or NULL.
	BView* FindView(BPoint point) const;
	BView* CurrentFocus() const { return fFocus; }

	// Enter presses the default button (see the contract). NULL for none.
	void SetDefaultButton(BButton* button);
	BButton* DefaultButton() const { return fDefaultButton; }

	// Geometry: the frame in screen coordinates, the bounds from (0, 0).
	BRect Frame() const { return fFrame; }
	BRect Bounds() const;
	void MoveTo(BPoint where);
	void MoveTo(float x, float y);
	void ResizeTo(float width, float height);
	void ConvertToScreen(BPoint* point) const;
	BPoint ConvertToScreen(BPoint point) const;
	void ConvertFromScreen(BPoint* point) const;
	BPoint ConvertFromScreen(BPoint point) const;

	// Read under the window's lock: SetTitle frees the old string under it.
	const char* Title() const { return fTitle; }
	// Renames the window's thread too.
	void SetTitle(const char* title);
	window_look Look() const { return fLook; }
	window_feel Feel() const { return fFeel; }
	uint32 Flags() const { return fFlags; }
	uint32 Workspaces() const { return fWorkspaces; }
	bool IsModal() const;
	bool IsActive() const { return fActive; }

	// Runs Draw() for the views with a dirty area, into the window's bitmap.
	void UpdateIfNeeded();

	// Hooks
	virtual void WindowActivated(bool active);
	virtual void FrameMoved(BPoint newPosition) { (void)newPosition; }
	virtual void FrameResized(float newWidth, float newHeight)
	{
		(void)newWidth;
		(void)newHeight;
	}

private:
	friend class BView;
	friend BBitmap* window_render(BWindow* window);

	void _Init(BRect frame, const char* title, window_look look, window_feel feel,
		uint32 flags, uint32 workspace);
	void _Attached(BView* view);
	void _Detached(BView* view);
	void _SetFocus(BView* view, bool focus);
	BView* _NextNavigable(BView* from, bool backwards) const;
	void _HandleKeyDown(BMessage* message, BHandler* handler);
	void _HandleMouse(BMessage* message);
	void _HandleMouseMoved(BMessage* message);
	BRect _DirtyArea(BView* view) const;
	void _Render(bool all);

	char* fTitle;
	BRect fFrame;
	window_look fLook;
	window_feel fFeel;
	uint32 fFlags;
	uint32 fWorkspaces;
	BView* fTopView;
	BBitmap* fBitmap;
	BView* fFocus;
	BView* fMouseView;  // the view that took the last B_MOUSE_DOWN
	BView* fMovedView;  // the view that had the last B_MOUSE_MOVED
	BRect fExposed;     // what the display asked to be shown again
	BButton* fDefaultButton;
	int32 fShowLevel;  // shown when positive; starts at 0 (hidden)
	bool fStarted;
	bool fActive;
	int32 fToken;  // the display's name for the window; 0 while unknown to it
};
