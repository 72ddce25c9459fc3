// The display record, and the headless display: it shows nothing and records the windows
// for the scripting interface.
#include "DisplayPrivate.h"

#include <OS.h>
#include <Window.h>

#include "app/LooperPort.h"

#include <algorithm>
#include <atomic>

namespace {

class HeadlessDisplay : public DisplayBackend {
public:
	window_token WindowShown(BWindow* window, display_window_kind kind) override
	{
		return display_record().Add(window, kind);
	}

	void WindowHidden(window_token token, bool hidden) override
	{
		display_record().SetHidden(token, hidden);
	}

	void WindowRetitled(window_token token, const char* title) override
	{
		display_record().SetTitle(token, title);
	}

	void WindowFrameChanged(window_token, BRect) override {}
	void WindowDrawn(window_token, const BBitmap*, BRect) override {}

	void WindowClosed(window_token token) override { display_record().Remove(token); }
};

HeadlessDisplay* headless_display()
{
	static HeadlessDisplay* display = new HeadlessDisplay;  // never destroyed, like the record
	return display;
}

std::atomic<DisplayBackend*> sBackend{nullptr};

}  // namespace

DisplayRecord::Window* DisplayRecord::Find(window_token token)
{
	for (Window& entry : windows)
		if (entry.token == token)
			return &entry;
	return NULL;
}

DisplayRecord::Window* DisplayRecord::FindByThread(thread_id thread)
{
	for (Window& entry : windows)
		if (entry.thread == thread)
			return &entry;
	return NULL;
}

window_token DisplayRecord::Add(BWindow* window, display_window_kind kind)
{
	Window entry;
	entry.window = BMessenger(window);
	entry.preferred = BMessenger(NULL, window);
	entry.port = looper_list::PortOf(window);
	entry.title = window->Title() != NULL ? window->Title() : "";
	entry.thread = window->Thread();
	entry.kind = kind;
	entry.hidden = false;
	std::lock_guard<std::mutex> guard(lock);
	entry.token = nextToken++;
	windows.push_back(entry);
	changed.notify_all();
	return entry.token;
}

void DisplayRecord::SetHidden(window_token token, bool hidden)
{
	std::lock_guard<std::mutex> guard(lock);
	if (Window* entry = Find(token))
		entry->hidden = hidden;
	changed.notify_all();
}

void DisplayRecord::SetTitle(window_token token, const char* title)
{
	std::string copy = title != NULL ? title : "";
	std::lock_guard<std::mutex> guard(lock);
	if (Window* entry = Find(token))
		entry->title = copy;
	changed.notify_all();
}

void DisplayRecord::Remove(window_token token)
{
	std::lock_guard<std::mutex> guard(lock);
	windows.erase(std::remove_if(windows.begin(), windows.end(),
		[token](const Window& entry) { return entry.token == token; }), windows.end());
	changed.notify_all();
}

DisplayRecord& display_record()
{
	static DisplayRecord* record = new DisplayRecord;  // never destroyed: windows may outlive exit
	return *record;
}

DisplayBackend* display_backend()
{
	DisplayBackend* backend = sBackend.load();
	return backend != NULL ? backend : headless_display();
}

void set_display_backend(DisplayBackend* backend)
{
	sBackend.store(backend);
}

BMessage make_key_message(const char* bytes, int32 key, uint32 modifiers, int32 rawChar,
	const uint8* states)
{
	BMessage message(B_KEY_DOWN);
	message.AddInt64("when", system_time());
	message.AddInt32("key", key);
	message.AddInt32("modifiers", static_cast<int32>(modifiers));
	uint8 none[16] = {};
	message.AddData("states", B_UINT8_TYPE, states != NULL ? states : none, sizeof(none));
	for (size_t i = 0; bytes[i] != '\0' && i < 3; i++)
		message.AddInt8("byte", static_cast<int8>(bytes[i]));
	message.AddString("bytes", bytes);
	message.AddInt32("raw_char", rawChar);
	return message;
}

BMessage make_mouse_message(uint32 what, BPoint where, int32 buttons, uint32 modifiers,
	int32 clicks)
{
	BMessage message(what);
	message.AddInt64("when", system_time());
	message.AddPoint("where", where);
	message.AddInt32("buttons", buttons);
	message.AddInt32("modifiers", static_cast<int32>(modifiers));
	if (what == B_MOUSE_DOWN)
		message.AddInt32("clicks", clicks);
	return message;
}
