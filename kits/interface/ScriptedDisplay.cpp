// The scripting interface of the headless display. Every call finds the window in the
// display's record under the record's lock, copies its messengers out, and reaches the
// window only through them: posting, or locking it with a timeout (a locked messenger
// target cannot be deleted until it is unlocked).
#include <ScriptedDisplay.h>

#include <Alert.h>
#include <Bitmap.h>
#include <Box.h>
#include <Button.h>
#include <Control.h>
#include <Errors.h>
#include <Menu.h>
#include <MenuField.h>
#include <MenuItem.h>
#include <Message.h>
#include <OS.h>
#include <StringView.h>
#include <TextControl.h>
#include <TextView.h>
#include <Window.h>

#include "DisplayPrivate.h"
#include "MenuWindow.h"
#include "WindowPrivate.h"
#include "app/LooperPort.h"

#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

typedef std::chrono::steady_clock Clock;

Clock::time_point deadline_after(bigtime_t timeout)
{
	if (timeout < 0)
		timeout = 0;
	return Clock::now() + std::chrono::microseconds(timeout);
}

bigtime_t remaining(Clock::time_point deadline)
{
	auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
	return left.count() > 0 ? left.count() : 0;
}

bool entry_of(window_token token, DisplayRecord::Window* _entry)
{
	DisplayRecord& record = display_record();
	std::lock_guard<std::mutex> guard(record.lock);
	DisplayRecord::Window* entry = record.Find(token);
	if (entry == NULL)
		return false;
	*_entry = *entry;
	return true;
}

// Locks the window for reading; the caller unlocks it with Unlock().
status_t lock_window(window_token token, bigtime_t timeout, BWindow** _window)
{
	DisplayRecord::Window entry;
	if (!entry_of(token, &entry))
		return B_BAD_WINDOW_ID;
	status_t status = entry.window.LockTargetWithTimeout(timeout);
	if (status != B_OK)
		return status == B_TIMED_OUT || status == B_WOULD_BLOCK ? B_TIMED_OUT : B_BAD_WINDOW_ID;
	BLooper* looper = NULL;
	entry.window.Target(&looper);
	BWindow* window = dynamic_cast<BWindow*>(looper);
	if (window == NULL) {
		if (looper != NULL)
			looper->Unlock();
		return B_BAD_WINDOW_ID;
	}
	*_window = window;
	return B_OK;
}

// Syncs, then locks: the state after every input posted before the call.
status_t read_window(window_token token, bigtime_t timeout, BWindow** _window)
{
	Clock::time_point deadline = deadline_after(timeout);
	status_t status = ScriptedDisplay::Sync(token, timeout);
	if (status != B_OK)
		return status;
	return lock_window(token, remaining(deadline), _window);
}

status_t post(window_token token, BMessage* message, bool toFocus)
{
	DisplayRecord::Window entry;
	if (!entry_of(token, &entry))
		return B_BAD_WINDOW_ID;
	status_t status = (toFocus ? entry.preferred : entry.window).SendMessage(message);
	return status == B_BAD_PORT_ID ? B_BAD_WINDOW_ID : status;
}

// What a user reads on the view: a control's, box's or menu field's label, a string view's
// text; NULL for views without one.
const char* view_label(BView* view)
{
	if (BControl* control = dynamic_cast<BControl*>(view))
		return control->Label();
	if (BMenuField* field = dynamic_cast<BMenuField*>(view))
		return field->Label();
	if (BBox* box = dynamic_cast<BBox*>(view))
		return box->Label();
	if (BStringView* string = dynamic_cast<BStringView*>(view))
		return string->Text();
	return NULL;
}

BView* find_by(BView* parent, const char* spec, bool byLabel)
{
	for (int32 i = 0; i < parent->CountChildren(); i++) {
		BView* child = parent->ChildAt(i);
		const char* text = byLabel ? view_label(child) : child->Name();
		if (text != NULL && strcmp(text, spec) == 0)
			return child;
		if (BView* found = find_by(child, spec, byLabel))
			return found;
	}
	return NULL;
}

// The first view, depth first in tree order, whose label equals spec, else the first whose
// name does; NULL for none. With the window locked.
BView* window_find_view(BWindow* window, const char* spec)
{
	if (window == NULL || spec == NULL || window->CountChildren() == 0)
		return NULL;
	BView* top = window->ChildAt(0)->Parent();
	if (BView* found = find_by(top, spec, true))
		return found;
	return find_by(top, spec, false);
}

BPoint view_origin(BView* view)
{
	BPoint origin = view->ConvertToScreen(BPoint(0, 0));
	return view->Window()->ConvertFromScreen(origin);
}

status_t find_window(const char* title, bool alerts, bigtime_t timeout, int32 index,
	window_token* _window)
{
	if (_window == NULL || (title == NULL && !alerts))
		return B_BAD_VALUE;
	DisplayRecord& record = display_record();
	std::unique_lock<std::mutex> guard(record.lock);
	auto found = [&]() {
		int32 seen = 0;
		window_token match = 0;
		for (const DisplayRecord::Window& entry : record.windows) {
			if (entry.hidden)
				continue;
			if (alerts ? entry.kind == DISPLAY_ALERT : entry.title == title) {
				if (alerts)
					match = entry.token;
				else if (seen++ == index)
					return entry.token;
			}
		}
		return match;
	};
	window_token token = 0;
	bool ok = record.changed.wait_until(guard, deadline_after(timeout),
		[&] { return (token = found()) != 0; });
	if (!ok)
		return B_TIMED_OUT;
	*_window = token;
	return B_OK;
}

status_t click_at(window_token token, BPoint where)
{
	BMessage down = make_mouse_message(B_MOUSE_DOWN, where, B_PRIMARY_MOUSE_BUTTON, 0, 1);
	status_t status = post(token, &down, false);
	if (status != B_OK)
		return status;
	BMessage up = make_mouse_message(B_MOUSE_UP, where, 0, 0, 0);
	return post(token, &up, false);
}

// The key code of the platform's keyboard for a character, as far as it matters here.
int32 key_code_for(uint8 byte)
{
	switch (byte) {
		case B_BACKSPACE: return 0x1e;
		case B_TAB: return 0x26;
		case B_ENTER: return 0x47;
		case B_ESCAPE: return 0x01;
		case B_SPACE: return 0x5e;
		case B_LEFT_ARROW: return 0x61;
		case B_RIGHT_ARROW: return 0x63;
		case B_UP_ARROW: return 0x57;
		case B_DOWN_ARROW: return 0x62;
		case B_DELETE: return 0x34;
		case B_HOME: return 0x20;
		case B_END: return 0x35;
		default: break;
	}
	return 0;
}

}  // namespace

// --- Windows ------------------------------------------------------------------------------

status_t ScriptedDisplay::FindWindow(const char* title, bigtime_t timeout,
	window_token* _window, int32 index)
{
	return find_window(title, false, timeout, index, _window);
}

status_t ScriptedDisplay::FindAlert(bigtime_t timeout, window_token* _window)
{
	return find_window(NULL, true, timeout, 0, _window);
}

std::vector<window_token> ScriptedDisplay::Windows()
{
	DisplayRecord& record = display_record();
	std::lock_guard<std::mutex> guard(record.lock);
	std::vector<window_token> tokens;
	for (const DisplayRecord::Window& entry : record.windows)
		if (!entry.hidden)
			tokens.push_back(entry.token);
	return tokens;
}

bool ScriptedDisplay::IsOpen(window_token window)
{
	DisplayRecord::Window entry;
	return entry_of(window, &entry);
}

status_t ScriptedDisplay::GetTitle(window_token window, std::string* _title)
{
	DisplayRecord::Window entry;
	if (_title == NULL)
		return B_BAD_VALUE;
	if (!entry_of(window, &entry))
		return B_BAD_WINDOW_ID;
	*_title = entry.title;
	return B_OK;
}

status_t ScriptedDisplay::GetThread(window_token window, thread_id* _thread)
{
	DisplayRecord::Window entry;
	if (_thread == NULL)
		return B_BAD_VALUE;
	if (!entry_of(window, &entry))
		return B_BAD_WINDOW_ID;
	*_thread = entry.thread;
	return B_OK;
}

status_t ScriptedDisplay::GetFrame(window_token token, BRect* _frame)
{
	if (_frame == NULL)
		return B_BAD_VALUE;
	BWindow* window;
	status_t status = lock_window(token, kDefaultTimeout, &window);
	if (status != B_OK)
		return status;
	*_frame = window->Frame();
	window->Unlock();
	return B_OK;
}

status_t ScriptedDisplay::WaitForClose(window_token window, bigtime_t timeout)
{
	Clock::time_point deadline = deadline_after(timeout);
	DisplayRecord& record = display_record();
	thread_id thread = -1;
	{
		std::unique_lock<std::mutex> guard(record.lock);
		if (DisplayRecord::Window* entry = record.Find(window))
			thread = entry->thread;
		bool closed = record.changed.wait_until(guard, deadline,
			[&] { return record.Find(window) == NULL; });
		if (!closed)
			return B_TIMED_OUT;
	}
	// The window has gone; its thread ends right after. Wait for that without taking the
	// thread's exit value, which belongs to whoever waits for the thread.
	thread_info info;
	while (thread >= 0 && get_thread_info(thread, &info) == B_OK) {
		if (Clock::now() >= deadline)
			return B_TIMED_OUT;
		snooze(1000);
	}
	return B_OK;
}

status_t ScriptedDisplay::Sync(window_token window, bigtime_t timeout)
{
	DisplayRecord::Window entry;
	if (!entry_of(window, &entry))
		return B_BAD_WINDOW_ID;
	if (!entry.port)
		return B_BAD_WINDOW_ID;
	// Messages that the input handled meanwhile made controls post (a check box's, a
	// committed text field's) are posted before the input counts as handled: wait again for
	// those, round after round until nothing is left. The rounds are bounded in case
	// something keeps posting.
	Clock::time_point deadline = deadline_after(timeout);
	for (int32 round = 0; round < 64; round++) {
		bool first = true;
		uint64 target = 0;
		bool closed = false;
		bool caughtUp = false;
		bool ok = entry.port->WaitForTraffic(deadline, [&](const LooperPort::Traffic& traffic) {
			if (first) {
				target = traffic.posted;
				first = false;
			}
			closed = traffic.closed;
			caughtUp = traffic.handled >= traffic.posted;
			// A post that the queue refused is taken back: never wait for more than posted.
			return closed || traffic.handled >= std::min(target, traffic.posted);
		});
		if (!ok)
			return B_TIMED_OUT;
		if (closed)
			return B_BAD_WINDOW_ID;
		if (caughtUp)
			return B_OK;
	}
	return B_OK;
}

// --- Input --------------------------------------------------------------------------------

status_t ScriptedDisplay::Click(window_token token, const char* view)
{
	if (view == NULL)
		return B_BAD_VALUE;
	BWindow* window;
	status_t status = lock_window(token, kDefaultTimeout, &window);
	if (status != B_OK)
		return status;
	BView* target = window_find_view(window, view);
	if (BTextControl* control = dynamic_cast<BTextControl*>(target))
		target = control->TextView();
	if (target == NULL) {
		window->Unlock();
		return B_NAME_NOT_FOUND;
	}
	BPoint origin = view_origin(target);
	BRect bounds = target->Bounds();
	BPoint where(origin.x + static_cast<float>(static_cast<int32>(bounds.Width() / 2)),
		origin.y + static_cast<float>(static_cast<int32>(bounds.Height() / 2)));
	window->Unlock();
	return click_at(token, where);
}

status_t ScriptedDisplay::ClickAt(window_token window, BPoint where)
{
	return click_at(window, where);
}

status_t ScriptedDisplay::PressKey(window_token window, const char* bytes, uint32 modifiers)
{
	if (bytes == NULL || bytes[0] == '\0' || strlen(bytes) > 4)
		return B_BAD_VALUE;
	uint8 first = static_cast<uint8>(bytes[0]);
	BMessage message = make_key_message(bytes, key_code_for(first), modifiers,
		first < 0x80 ? first : 0, NULL);
	return post(window, &message, true);
}

status_t ScriptedDisplay::PressKey(window_token window, char key, uint32 modifiers)
{
	char bytes[2] = {key, '\0'};
	return PressKey(window, bytes, modifiers);
}

status_t ScriptedDisplay::TypeText(window_token window, const char* text)
{
	if (text == NULL)
		return B_BAD_VALUE;
	size_t length = strlen(text);
	for (size_t i = 0; i < length;) {
		size_t size = 1;
		uint8 lead = static_cast<uint8>(text[i]);
		if (lead >= 0xf0)
			size = 4;
		else if (lead >= 0xe0)
			size = 3;
		else if (lead >= 0xc0)
			size = 2;
		size = std::min(size, length - i);
		std::string character(text + i, size);
		uint32 modifiers = 0;
		if (size == 1 && ((lead >= 'A' && lead <= 'Z') || strchr("!@#$%^&*()_+{}|:\"<>?~", lead)))
			modifiers = B_SHIFT_KEY;
		status_t status = PressKey(window, character.c_str(), modifiers);
		if (status != B_OK)
			return status;
		i += size;
	}
	return B_OK;
}

status_t ScriptedDisplay::ChooseMenuItem(window_token token, const char* field,
	const char* item)
{
	if (field == NULL || item == NULL)
		return B_BAD_VALUE;
	BWindow* window;
	status_t status = lock_window(token, kDefaultTimeout, &window);
	if (status != B_OK)
		return status;
	// The item is found now and chosen in turn, as a pick from the open menu would be.
	BMenuField* menuField = dynamic_cast<BMenuField*>(window_find_view(window, field));
	BMenuItem* found = menuField != NULL && menuField->Menu() != NULL
		? menuField->Menu()->FindItem(item) : NULL;
	int32 index = found != NULL ? menuField->Menu()->IndexOf(found) : -1;
	BMessenger target;
	if (index >= 0)
		target = BMessenger(menuField);
	window->Unlock();
	if (menuField == NULL)
		return B_NAME_NOT_FOUND;
	if (index < 0)
		return B_OK;  // an item the menu does not have is no choice
	BMessage message(_MENU_ITEM_CHOSEN_);
	message.AddInt32("index", index);
	status = target.SendMessage(&message);
	return status == B_BAD_PORT_ID ? B_BAD_WINDOW_ID : status;
}

status_t ScriptedDisplay::PressAlertButton(window_token token, const char* label)
{
	if (label == NULL)
		return B_BAD_VALUE;
	BWindow* window;
	status_t status = lock_window(token, kDefaultTimeout, &window);
	if (status != B_OK)
		return status;
	BAlert* alert = dynamic_cast<BAlert*>(window);
	bool found = false;
	for (int32 i = 0; alert != NULL && i < alert->CountButtons(); i++)
		if (strcmp(alert->ButtonAt(i)->Label(), label) == 0)
			found = true;
	window->Unlock();
	if (alert == NULL)
		return B_BAD_TYPE;
	if (!found)
		return B_NAME_NOT_FOUND;
	return Click(token, label);
}

status_t ScriptedDisplay::Close(window_token token)
{
	BWindow* window;
	status_t status = lock_window(token, kDefaultTimeout, &window);
	if (status != B_OK)
		return status;
	bool closable = !(window->Flags() & B_NOT_CLOSABLE);
	window->Unlock();
	if (!closable)
		return B_NOT_ALLOWED;
	BMessage message(B_QUIT_REQUESTED);
	return post(token, &message, false);
}

// --- Reading ------------------------------------------------------------------------------

namespace {

// Runs read(window, view) on the named view of the synced, locked window.
template<typename Read>
status_t read_view(window_token token, const char* name, bigtime_t timeout, Read read)
{
	if (name == NULL)
		return B_BAD_VALUE;
	BWindow* window;
	status_t status = read_window(token, timeout, &window);
	if (status != B_OK)
		return status;
	BView* view = window_find_view(window, name);
	status = view != NULL ? read(window, view) : B_NAME_NOT_FOUND;
	window->Unlock();
	return status;
}

}  // namespace

status_t ScriptedDisplay::GetText(window_token window, const char* view, std::string* _text,
	bigtime_t timeout)
{
	if (_text == NULL)
		return B_BAD_VALUE;
	return read_view(window, view, timeout, [_text](BWindow*, BView* target) {
		if (BTextControl* control = dynamic_cast<BTextControl*>(target))
			*_text = control->Text();
		else if (BTextView* text = dynamic_cast<BTextView*>(target))
			*_text = text->Text();
		else if (BMenuField* field = dynamic_cast<BMenuField*>(target))
			*_text = field->MenuLabel();
		else if (const char* label = view_label(target))
			*_text = label;
		else
			return B_BAD_TYPE;
		return B_OK;
	});
}

status_t ScriptedDisplay::GetValue(window_token window, const char* view, int32* _value,
	bigtime_t timeout)
{
	if (_value == NULL)
		return B_BAD_VALUE;
	return read_view(window, view, timeout, [_value](BWindow*, BView* target) {
		BControl* control = dynamic_cast<BControl*>(target);
		if (control == NULL)
			return B_BAD_TYPE;
		*_value = control->Value();
		return B_OK;
	});
}

status_t ScriptedDisplay::GetMarkedItem(window_token window, const char* field,
	std::string* _label, bigtime_t timeout)
{
	if (_label == NULL)
		return B_BAD_VALUE;
	return read_view(window, field, timeout, [_label](BWindow*, BView* target) {
		BMenuField* menuField = dynamic_cast<BMenuField*>(target);
		if (menuField == NULL || menuField->Menu() == NULL)
			return B_BAD_TYPE;
		BMenuItem* marked = menuField->Menu()->FindMarked();
		if (marked == NULL)
			return B_NAME_NOT_FOUND;
		*_label = marked->Label();
		return B_OK;
	});
}

status_t ScriptedDisplay::GetFocus(window_token token, std::string* _view, bigtime_t timeout)
{
	if (_view == NULL)
		return B_BAD_VALUE;
	BWindow* window;
	status_t status = read_window(token, timeout, &window);
	if (status != B_OK)
		return status;
	_view->clear();
	BView* focus = window->CurrentFocus();
	if (focus != NULL && dynamic_cast<BTextControl*>(focus->Parent()) != NULL)
		focus = focus->Parent();
	if (focus != NULL) {
		const char* label = view_label(focus);
		if (label == NULL)
			label = focus->Name();
		if (label != NULL)
			*_view = label;
	}
	window->Unlock();
	return B_OK;
}

status_t ScriptedDisplay::IsEnabled(window_token window, const char* view, bool* _enabled,
	bigtime_t timeout)
{
	if (_enabled == NULL)
		return B_BAD_VALUE;
	return read_view(window, view, timeout, [_enabled](BWindow*, BView* target) {
		if (BControl* control = dynamic_cast<BControl*>(target))
			*_enabled = control->IsEnabled();
		else if (BMenuField* field = dynamic_cast<BMenuField*>(target))
			*_enabled = field->IsEnabled();
		else
			*_enabled = true;
		return B_OK;
	});
}

status_t ScriptedDisplay::GetViewFrame(window_token window, const char* view, BRect* _frame,
	bigtime_t timeout)
{
	if (_frame == NULL)
		return B_BAD_VALUE;
	return read_view(window, view, timeout, [_frame](BWindow*, BView* target) {
		BPoint origin = view_origin(target);
		*_frame = target->Bounds().OffsetToCopy(origin.x, origin.y);
		return B_OK;
	});
}

status_t ScriptedDisplay::GetAlertText(window_token token, std::string* _text,
	bigtime_t timeout)
{
	if (_text == NULL)
		return B_BAD_VALUE;
	BWindow* window;
	status_t status = read_window(token, timeout, &window);
	if (status != B_OK)
		return status;
	BAlert* alert = dynamic_cast<BAlert*>(window);
	if (alert != NULL && alert->TextView() != NULL)
		*_text = alert->TextView()->Text();
	window->Unlock();
	return alert != NULL ? B_OK : B_BAD_TYPE;
}

// --- Screens ------------------------------------------------------------------------------

status_t ScriptedDisplay::Render(window_token token, BBitmap** _bitmap, bigtime_t timeout)
{
	if (_bitmap == NULL)
		return B_BAD_VALUE;
	BWindow* window;
	status_t status = read_window(token, timeout, &window);
	if (status != B_OK)
		return status;
	BBitmap* copy = window_render(window);
	window->Unlock();
	if (copy == NULL || copy->InitCheck() != B_OK) {
		delete copy;
		return B_NO_MEMORY;
	}
	*_bitmap = copy;
	return B_OK;
}

status_t ScriptedDisplay::Screenshot(window_token window, const char* path, bigtime_t timeout)
{
	if (path == NULL)
		return B_BAD_VALUE;
	BBitmap* bitmap = NULL;
	status_t status = Render(window, &bitmap, timeout);
	if (status != B_OK)
		return status;
	int32 width = bitmap->Bounds().IntegerWidth() + 1;
	int32 height = bitmap->Bounds().IntegerHeight() + 1;
	// B_RGB32 is the host's 32-bit B, G, R, unused: Cairo's RGB24 on little-endian hosts.
	cairo_surface_t* surface = cairo_image_surface_create_for_data(
		static_cast<unsigned char*>(bitmap->Bits()), CAIRO_FORMAT_RGB24, width, height,
		bitmap->BytesPerRow());
	cairo_status_t result = cairo_surface_status(surface);
	if (result == CAIRO_STATUS_SUCCESS)
		result = cairo_surface_write_to_png(surface, path);
	cairo_surface_destroy(surface);
	delete bitmap;
	if (result == CAIRO_STATUS_WRITE_ERROR)
		return B_IO_ERROR;
	return result == CAIRO_STATUS_SUCCESS ? B_OK : B_ERROR;
}

// --- Clipboard ----------------------------------------------------------------------------

void ScriptedDisplay::SetClipboard(const char* text)
{
	DisplayRecord& record = display_record();
	std::lock_guard<std::mutex> guard(record.lock);
	record.clipboard = text != NULL ? text : "";
}

std::string ScriptedDisplay::Clipboard()
{
	DisplayRecord& record = display_record();
	std::lock_guard<std::mutex> guard(record.lock);
	return record.clipboard;
}
