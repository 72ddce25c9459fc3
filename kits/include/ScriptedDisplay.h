// ScriptedDisplay: drives the windows of this process as a user at the display would, for
// tests and for the print tool's scripted mode. It works on whichever display the windows
// are on (the headless one, or the X11 one of InteractiveDisplay.h), with input of its own
// making.
//
// Contract:
// - Windows are named by tokens that the display hands out when a window is first shown;
//   a token is never reused, so a call on a window that has gone fails with
//   B_BAD_WINDOW_ID (never touches freed memory).
// - Views are named by a "view" string: the first view of the window, depth first in tree
//   order, whose label equals it (a control's label, a box's label, a string view's text,
//   a menu field's label), else the first whose name equals it.
// - Input calls (Click, TypeText, PressKey, ChooseMenuItem, PressAlertButton) post the input
//   to the window, as the display server would, and return without waiting for it to be
//   handled; messages are handled in the order they were posted. (Those that name a view
//   look it up under the window's lock first.) Reading calls first wait until the window has
//   handled everything posted before (Sync), then read under the window's lock.
// - Sync counts on the window's queue: it waits until the window has handled as many
//   messages as had been posted to it, then again for what those made its controls post,
//   until nothing is left (at most 64 rounds, for a window that keeps posting to itself). A window whose thread is blocked (for instance in a synchronous
//   BAlert::Go()) cannot answer: reading calls then fail with B_TIMED_OUT.
// - Every call is thread-safe, runs on the caller's thread, and every wait ends at its
//   timeout (microseconds) with B_TIMED_OUT.
#pragma once

#include <Rect.h>
#include <SupportDefs.h>

#include <string>
#include <vector>

class BBitmap;

typedef int32 window_token;

// Status of calls on a window that has gone (or never was).
#define B_BAD_WINDOW_ID B_BAD_VALUE

class ScriptedDisplay {
public:
	static constexpr bigtime_t kDefaultTimeout = 5000000;

	// Windows. FindWindow waits up to timeout for a shown window of that title; index picks
	// among several of the same title, in the order they were first shown.
	static status_t FindWindow(const char* title, bigtime_t timeout, window_token* _window,
		int32 index = 0);
	// The newest shown alert (a BAlert window), waiting up to timeout for one.
	static status_t FindAlert(bigtime_t timeout, window_token* _window);
	// Shown windows, oldest first.
	static std::vector<window_token> Windows();
	static bool IsOpen(window_token window);
	static status_t GetTitle(window_token window, std::string* _title);
	static status_t GetThread(window_token window, thread_id* _thread);
	static status_t GetFrame(window_token window, BRect* _frame);
	// Waits until the window has gone and its thread has ended (without taking the thread's
	// exit value: wait_for_thread() still gets it). B_OK also when it had gone already.
	static status_t WaitForClose(window_token window, bigtime_t timeout = kDefaultTimeout);
	// Waits until the window has handled every message posted to it before the call.
	static status_t Sync(window_token window, bigtime_t timeout = kDefaultTimeout);

	// Input
	// Presses and releases the primary button at the view's centre (for a text control, the
	// centre of its text field).
	static status_t Click(window_token window, const char* view);
	// A point in window coordinates.
	static status_t ClickAt(window_token window, BPoint where);
	// One key press per UTF-8 character; '\n' is Enter, '\t' Tab, '\b' Backspace.
	static status_t TypeText(window_token window, const char* text);
	// One key press: bytes is the character it generates (B_TAB, B_ENTER, "v", ...).
	static status_t PressKey(window_token window, const char* bytes, uint32 modifiers = 0);
	static status_t PressKey(window_token window, char key, uint32 modifiers = 0);
	// Chooses the item of that label in the menu field's menu, as a user picking it from
	// the open menu would (the menu need not be open). B_OK also for an item the menu does
	// not have: nothing is chosen then.
	static status_t ChooseMenuItem(window_token window, const char* field, const char* item);
	// Presses the alert's button of that label (a click on it).
	static status_t PressAlertButton(window_token window, const char* label);
	// The close box: asks the window to quit (B_QUIT_REQUESTED, so QuitRequested() decides).
	// B_NOT_ALLOWED for a window without a close box (B_NOT_CLOSABLE).
	static status_t Close(window_token window);

	// Reading. GetText: a text control's or text view's text, a string view's text, a
	// menu field's shown label, a box's or other control's label. GetValue: a control's
	// value. GetFocus: the label (else the name) of the focus view, the text control for
	// its text field; empty when nothing has the focus.
	static status_t GetText(window_token window, const char* view, std::string* _text,
		bigtime_t timeout = kDefaultTimeout);
	static status_t GetValue(window_token window, const char* view, int32* _value,
		bigtime_t timeout = kDefaultTimeout);
	static status_t GetMarkedItem(window_token window, const char* field, std::string* _label,
		bigtime_t timeout = kDefaultTimeout);
	static status_t GetFocus(window_token window, std::string* _view,
		bigtime_t timeout = kDefaultTimeout);
	static status_t IsEnabled(window_token window, const char* view, bool* _enabled,
		bigtime_t timeout = kDefaultTimeout);
	// The view's frame in window coordinates.
	static status_t GetViewFrame(window_token window, const char* view, BRect* _frame,
		bigtime_t timeout = kDefaultTimeout);
	// An alert's text.
	static status_t GetAlertText(window_token window, std::string* _text,
		bigtime_t timeout = kDefaultTimeout);

	// Screens: the window drawn afresh (every view's Draw()) into a B_RGB32 bitmap, which
	// the caller then owns, or written to a PNG file.
	static status_t Render(window_token window, BBitmap** _bitmap,
		bigtime_t timeout = kDefaultTimeout);
	static status_t Screenshot(window_token window, const char* path,
		bigtime_t timeout = kDefaultTimeout);

	// The process's clipboard, which text views cut, copy and paste through.
	static void SetClipboard(const char* text);
	static std::string Clipboard();
};
