// The display back-end: what windows tell the display, and the headless display's record
// of the open windows.
//
// A window registers when it is first shown and unregisters from its destructor, on its own
// thread. The display keeps, per window, messengers (never raw pointers it would follow),
// the title and the thread, under one mutex; the scripting interface (ScriptedDisplay.cpp)
// reads this record and reaches a window only through its messengers and its lock. An
// interactive back-end would take the same notifications and feed the windows the same
// messages.
#pragma once

#include <Messenger.h>
#include <ScriptedDisplay.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

class BWindow;

// Private message codes between the display and its windows.
enum {
	_DISPLAY_SYNC_ = '_DSY',         // int64 "sync": the window reports it to the display
	_DISPLAY_CHOOSE_ITEM_ = '_DCI',  // string "field", string "item": invoke a menu item
	_DISPLAY_PRESS_BUTTON_ = '_DPB'  // string "view": press a control as a click would
};

class DisplayBackend {
public:
	virtual ~DisplayBackend() {}

	// With the window locked and its thread started.
	virtual window_token WindowShown(BWindow* window, bool isAlert) = 0;
	virtual void WindowHidden(window_token window, bool hidden) = 0;
	virtual void WindowRetitled(window_token window, const char* title) = 0;
	virtual void WindowClosed(window_token window) = 0;
	virtual void WindowSynced(window_token window, int64 sync) = 0;
};

// The process's display: the headless one.
DisplayBackend* display_backend();

// The headless display's record, for the scripting interface.
struct DisplayRecord {
	struct Window {
		window_token token;
		BMessenger window;     // the window itself
		BMessenger preferred;  // its preferred handler: the focus view
		std::string title;
		thread_id thread;
		bool alert;
		bool hidden;
		int64 synced;
	};

	std::mutex lock;
	std::condition_variable changed;
	std::vector<Window> windows;
	window_token nextToken = 1;
	int64 nextSync = 1;
	std::string clipboard;

	// With lock held.
	Window* Find(window_token token);
};

DisplayRecord& display_record();
