// The display back-end: what windows tell the display, and the record of the open windows
// that the scripting interface reads.
//
// A window registers when it is first shown and unregisters from its destructor, on its own
// thread. The record keeps, per window, messengers (never raw pointers it would follow),
// the title, the thread and the looper's port, under one mutex; the scripting interface
// (ScriptedDisplay.cpp) reaches a window only through its messengers, its lock and the
// port's traffic counts.
//
// Two back-ends implement the interface: the headless one (Display.cpp), which only keeps
// the record, and the X11 one (kits/x11, a library of its own that only what shows windows
// loads), which keeps the record too and shows each window on an X server, feeding it the
// server's input as the platform's messages. The headless one is the process's display
// until InteractiveDisplay::Open() chooses X11.
#pragma once

#include <Message.h>
#include <Messenger.h>
#include <Rect.h>
#include <ScriptedDisplay.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class BBitmap;
class BWindow;
struct LooperPort;

// Private message codes between the display and its windows.
enum {
	_DISPLAY_EXPOSE_ = '_DEX',  // rect "area": show that part of the window's bitmap again
	_DISPLAY_MOVED_ = '_DMV'    // point "where": the window's frame now starts there on screen
};

enum display_window_kind {
	DISPLAY_WINDOW,  // an ordinary window or dialog
	DISPLAY_ALERT,   // a BAlert
	DISPLAY_MENU     // a pop-up menu: no frame, takes the pointer and keys while open
};

class DisplayBackend {
public:
	virtual ~DisplayBackend() {}

	// With the window locked and its thread started; on the thread that shows it.
	virtual window_token WindowShown(BWindow* window, display_window_kind kind) = 0;
	virtual void WindowHidden(window_token window, bool hidden) = 0;
	virtual void WindowRetitled(window_token window, const char* title) = 0;
	// The program moved or resized the window (not the display: _DISPLAY_MOVED_ is not
	// echoed). With the window locked.
	virtual void WindowFrameChanged(window_token window, BRect frame) = 0;
	// The window drew into its bitmap, or the display asked for an area again: show that
	// area (window coordinates). With the window locked, on the window's thread.
	virtual void WindowDrawn(window_token window, const BBitmap* bitmap, BRect area) = 0;
	// From the window's destructor, on its thread.
	virtual void WindowClosed(window_token window) = 0;
};

// The process's display.
DisplayBackend* display_backend();
void set_display_backend(DisplayBackend* backend);

// The record of the shown windows, kept by every back-end.
struct DisplayRecord {
	struct Window {
		window_token token;
		BMessenger window;     // the window itself
		BMessenger preferred;  // its preferred handler: the focus view
		std::shared_ptr<LooperPort> port;  // its queue's traffic, for Sync
		std::string title;
		thread_id thread;
		display_window_kind kind;
		bool hidden;
	};

	std::mutex lock;
	std::condition_variable changed;
	std::vector<Window> windows;
	window_token nextToken = 1;
	std::string clipboard;

	// With lock held.
	Window* Find(window_token token);
	// The entry of the window whose thread that is, or NULL.
	Window* FindByThread(thread_id thread);

	// What a back-end does to keep the record; each takes the lock.
	window_token Add(BWindow* window, display_window_kind kind);
	void SetHidden(window_token token, bool hidden);
	void SetTitle(window_token token, const char* title);
	void Remove(window_token token);
};

DisplayRecord& display_record();

// Input messages as the platform's display server sends them, from every display.
// B_KEY_DOWN: "when", "key", "modifiers", "states" (16 bytes, one bit per key code, may be
// NULL for none held), "byte" per UTF-8 byte (up to 3), "bytes", "raw_char".
BMessage make_key_message(const char* bytes, int32 key, uint32 modifiers, int32 rawChar,
	const uint8* states);
// B_MOUSE_DOWN, B_MOUSE_UP, B_MOUSE_MOVED: "when", "where" (window coordinates),
// "buttons", "modifiers", and "clicks" on B_MOUSE_DOWN.
BMessage make_mouse_message(uint32 what, BPoint where, int32 buttons, uint32 modifiers,
	int32 clicks);
