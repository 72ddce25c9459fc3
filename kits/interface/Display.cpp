// The headless display: it shows nothing and records the windows for the scripting
// interface.
#include "DisplayPrivate.h"

#include <Window.h>

#include <algorithm>

namespace {

class HeadlessDisplay : public DisplayBackend {
public:
	window_token WindowShown(BWindow* window, bool isAlert) override
	{
		DisplayRecord& record = display_record();
		std::lock_guard<std::mutex> guard(record.lock);
		DisplayRecord::Window entry;
		entry.token = record.nextToken++;
		entry.window = BMessenger(window);
		entry.preferred = BMessenger(NULL, window);
		entry.title = window->Title() != NULL ? window->Title() : "";
		entry.thread = window->Thread();
		entry.alert = isAlert;
		entry.hidden = false;
		entry.synced = 0;
		record.windows.push_back(entry);
		record.changed.notify_all();
		return entry.token;
	}

	void WindowHidden(window_token token, bool hidden) override
	{
		_Change(token, [hidden](DisplayRecord::Window& entry) { entry.hidden = hidden; });
	}

	void WindowRetitled(window_token token, const char* title) override
	{
		std::string copy = title != NULL ? title : "";
		_Change(token, [&copy](DisplayRecord::Window& entry) { entry.title = copy; });
	}

	void WindowClosed(window_token token) override
	{
		DisplayRecord& record = display_record();
		std::lock_guard<std::mutex> guard(record.lock);
		record.windows.erase(std::remove_if(record.windows.begin(), record.windows.end(),
			[token](const DisplayRecord::Window& entry) { return entry.token == token; }),
			record.windows.end());
		record.changed.notify_all();
	}

	void WindowSynced(window_token token, int64 sync) override
	{
		_Change(token, [sync](DisplayRecord::Window& entry) {
			entry.synced = std::max(entry.synced, sync);
		});
	}

private:
	template<typename Change>
	void _Change(window_token token, Change change)
	{
		DisplayRecord& record = display_record();
		std::lock_guard<std::mutex> guard(record.lock);
		if (DisplayRecord::Window* entry = record.Find(token))
			change(*entry);
		record.changed.notify_all();
	}
};

}  // namespace

DisplayRecord::Window* DisplayRecord::Find(window_token token)
{
	for (Window& entry : windows)
		if (entry.token == token)
			return &entry;
	return NULL;
}

DisplayRecord& display_record()
{
	static DisplayRecord* record = new DisplayRecord;  // never destroyed: windows may outlive exit
	return *record;
}

DisplayBackend* display_backend()
{
	static HeadlessDisplay* display = new HeadlessDisplay;
	return display;
}
