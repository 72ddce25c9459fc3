// The X11 display: each shown window is a top-level X window, drawn from the window's own
// bitmap, fed the server's input as the platform's messages.
//
// Threads. One connection (xcb, which is thread-safe) serves every thread:
// - the event thread alone reads events. It turns each into a platform message and posts it
//   through the window's messengers (keys to the preferred handler, the focus view; the rest
//   to the window), so a window that has gone just misses it. It owns the keyboard state.
// - a window's own thread (or a thread that holds its lock) creates, changes and destroys
//   its X window and copies its bitmap to it through a Cairo xcb surface that only that
//   window uses. Exposes reach the window as _DISPLAY_EXPOSE_ messages, so all drawing
//   happens on the window's side.
// The table of windows is shared under fLock; the surfaces in it are touched only by their
// window's side.
#include <InteractiveDisplay.h>

#include <Bitmap.h>
#include <Errors.h>
#include <Message.h>
#include <OS.h>
#include <Window.h>

#include "DisplayPrivate.h"
#include "X11Keys.h"

#include <cairo-xcb.h>
#include <cairo.h>
#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// --- Small owners of the libraries' handles ----------------------------------------------

struct FreeDeleter {
	void operator()(void* pointer) const { free(pointer); }
};
template<typename T>
using XReply = std::unique_ptr<T, FreeDeleter>;

struct SurfaceDeleter {
	void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
typedef std::unique_ptr<cairo_surface_t, SurfaceDeleter> Surface;

struct ContextDeleter {
	void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapDeleter {
	void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateDeleter {
	void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

// --- Constants ---------------------------------------------------------------------------

const uint32 kWindowEvents = XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_KEY_PRESS
	| XCB_EVENT_MASK_KEY_RELEASE | XCB_EVENT_MASK_BUTTON_PRESS
	| XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION
	| XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_FOCUS_CHANGE;
const uint32 kPointerEvents = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE
	| XCB_EVENT_MASK_POINTER_MOTION;

// Two presses of a button this close in time (server milliseconds) and place are a double
// click.
const uint32 kDoubleClickTime = 500;
const int32 kDoubleClickDistance = 4;

const char kClassName[] = "tessary\0Tessary";  // WM_CLASS: instance, then class

const char* const kAtomNames[] = {
	"WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_CLIENT_LEADER", "UTF8_STRING", "_NET_WM_NAME",
	"_NET_WM_PID", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL",
	"_NET_WM_WINDOW_TYPE_DIALOG", "_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_STATE",
	"_NET_WM_STATE_MODAL"
};

enum atom_index {
	WM_PROTOCOLS, WM_DELETE_WINDOW, WM_CLIENT_LEADER, UTF8_STRING, NET_WM_NAME, NET_WM_PID,
	NET_WM_WINDOW_TYPE, NET_WM_WINDOW_TYPE_NORMAL, NET_WM_WINDOW_TYPE_DIALOG,
	NET_WM_WINDOW_TYPE_POPUP_MENU, NET_WM_STATE, NET_WM_STATE_MODAL, ATOM_COUNT
};

struct PixelBox {
	int32 left, top, width, height;
};

// The whole pixels that a window-coordinate area touches, within the window.
PixelBox pixel_box(BRect area, int32 width, int32 height)
{
	int32 left = std::max(0, static_cast<int32>(std::floor(area.left)));
	int32 top = std::max(0, static_cast<int32>(std::floor(area.top)));
	int32 right = std::min(width, static_cast<int32>(std::floor(area.right)) + 1);
	int32 bottom = std::min(height, static_cast<int32>(std::floor(area.bottom)) + 1);
	return PixelBox{left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

bool is_modal(window_feel feel)
{
	return feel == B_MODAL_APP_WINDOW_FEEL || feel == B_MODAL_SUBSET_WINDOW_FEEL
		|| feel == B_MODAL_ALL_WINDOW_FEEL;
}

// --- The display -------------------------------------------------------------------------

class X11Display : public DisplayBackend {
public:
	static X11Display* Connect(const char* name, std::string* error);

	window_token WindowShown(BWindow* window, display_window_kind kind) override;
	void WindowHidden(window_token token, bool hidden) override;
	void WindowRetitled(window_token token, const char* title) override;
	void WindowFrameChanged(window_token token, BRect frame) override;
	void WindowDrawn(window_token token, const BBitmap* bitmap, BRect area) override;
	void WindowClosed(window_token token) override;

	bool Lost() const { return fLost.load(); }

private:
	// What the table keeps of a window; lookups hand out copies.
	struct Window {
		window_token token;
		xcb_window_t id;
		xcb_window_t transientFor;  // the window it was shown from, or none
		BMessenger window;
		BMessenger preferred;
		thread_id thread;
		display_window_kind kind;
		uint32 flags;
		int32 width;
		int32 height;
		cairo_surface_t* surface;  // owned by the table's entry; used on the window's side only
	};
	struct Entry {
		Window window;
		Surface surface;
	};

	X11Display(xcb_connection_t* connection, xcb_screen_t* screen);

	bool _Setup(std::string* error);
	bool _LoadKeymap();
	template<typename Match>
	bool _Lookup(Match match, Window* _window);
	bool _Find(window_token token, Window* _window);
	bool _FindById(xcb_window_t id, Window* _window);
	xcb_window_t _WindowOfThread(thread_id thread);
	void _SetTitle(xcb_window_t id, const char* title);
	void _SetSizeHints(xcb_window_t id, BRect frame, uint32 flags);
	void _SetWindowType(xcb_window_t id, display_window_kind kind, window_feel feel,
		bool hasParent);
	void _Grab(xcb_window_t id);

	void _EventLoop();
	void _HandleEvent(const xcb_generic_event_t* event);
	void _Key(const xcb_key_press_event_t* event, bool press);
	void _Button(const xcb_button_press_event_t* event, bool press);
	void _Motion(const xcb_motion_notify_event_t* event);
	void _Configured(const xcb_configure_notify_event_t* event);
	void _ClientMessage(const xcb_client_message_event_t* event);
	void _Mapped(const xcb_map_notify_event_t* event);
	void _Focus(const xcb_focus_in_event_t* event, bool in);
	void _Post(const BMessenger& target, BMessage* message);
	void _ConnectionLost();

	xcb_connection_t* fConnection;
	xcb_screen_t* fScreen;
	xcb_visualtype_t* fVisual;
	xcb_window_t fLeader;
	xcb_atom_t fAtoms[ATOM_COUNT];

	std::mutex fLock;
	std::vector<Entry> fWindows;
	std::atomic<bool> fLost{false};

	// The event thread's own.
	std::unique_ptr<xkb_context, ContextDeleter> fXkbContext;
	std::unique_ptr<xkb_keymap, KeymapDeleter> fKeymap;
	std::unique_ptr<xkb_state, StateDeleter> fKeyState;
	int32 fKeyboardDevice;
	uint8 fKeysHeld[16];  // one bit per platform key code, the "states" field
	xcb_window_t fLastClickWindow;
	uint32 fLastClickButton;
	xcb_timestamp_t fLastClickTime;
	int32 fLastClickX;
	int32 fLastClickY;
	int32 fClicks;
};

X11Display* sDisplay = NULL;  // set once, under sOpenLock; never destroyed
std::mutex sOpenLock;

X11Display::X11Display(xcb_connection_t* connection, xcb_screen_t* screen)
	: fConnection(connection),
	  fScreen(screen),
	  fVisual(NULL),
	  fLeader(XCB_NONE),
	  fAtoms{},
	  fKeyboardDevice(-1),
	  fKeysHeld{},
	  fLastClickWindow(XCB_NONE),
	  fLastClickButton(0),
	  fLastClickTime(0),
	  fLastClickX(0),
	  fLastClickY(0),
	  fClicks(0)
{
}

X11Display* X11Display::Connect(const char* name, std::string* error)
{
	int screenNumber = 0;
	xcb_connection_t* connection = xcb_connect(name, &screenNumber);
	if (xcb_connection_has_error(connection)) {
		xcb_disconnect(connection);
		*error = std::string("cannot connect to the X display ") + name;
		return NULL;
	}
	xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
	for (int i = 0; i < screenNumber && screens.rem > 0; i++)
		xcb_screen_next(&screens);
	if (screens.rem == 0) {
		xcb_disconnect(connection);
		*error = std::string("the X display ") + name + " has no screen " +
			std::to_string(screenNumber);
		return NULL;
	}
	X11Display* display = new X11Display(connection, screens.data);
	if (!display->_Setup(error)) {
		xcb_disconnect(connection);
		delete display;
		return NULL;
	}
	std::thread([display] { display->_EventLoop(); }).detach();
	return display;
}

bool X11Display::_Setup(std::string* error)
{
	for (xcb_depth_iterator_t depths = xcb_screen_allowed_depths_iterator(fScreen);
		 depths.rem > 0 && fVisual == NULL; xcb_depth_next(&depths)) {
		for (xcb_visualtype_iterator_t visuals = xcb_depth_visuals_iterator(depths.data);
			 visuals.rem > 0; xcb_visualtype_next(&visuals)) {
			if (visuals.data->visual_id == fScreen->root_visual) {
				fVisual = visuals.data;
				break;
			}
		}
	}
	if (fVisual == NULL) {
		*error = "the X display's screen has no usable visual";
		return false;
	}

	xcb_intern_atom_cookie_t cookies[ATOM_COUNT];
	for (int i = 0; i < ATOM_COUNT; i++)
		cookies[i] = xcb_intern_atom(fConnection, 0, strlen(kAtomNames[i]), kAtomNames[i]);
	for (int i = 0; i < ATOM_COUNT; i++) {
		XReply<xcb_intern_atom_reply_t> reply(
			xcb_intern_atom_reply(fConnection, cookies[i], NULL));
		fAtoms[i] = reply ? reply->atom : XCB_NONE;
	}

	if (!xkb_x11_setup_xkb_extension(fConnection, XKB_X11_MIN_MAJOR_XKB_VERSION,
			XKB_X11_MIN_MINOR_XKB_VERSION, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, NULL, NULL,
			NULL, NULL)) {
		*error = "the X display has no keyboard extension (XKB)";
		return false;
	}
	fXkbContext.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
	fKeyboardDevice = xkb_x11_get_core_keyboard_device_id(fConnection);
	if (!fXkbContext || fKeyboardDevice < 0 || !_LoadKeymap()) {
		*error = "cannot read the X display's keyboard map";
		return false;
	}

	// The group leader: an unmapped window that names the application for the window
	// manager; every window of the process belongs to its group.
	fLeader = xcb_generate_id(fConnection);
	xcb_create_window(fConnection, XCB_COPY_FROM_PARENT, fLeader, fScreen->root, 0, 0, 1, 1,
		0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, NULL);
	xcb_icccm_set_wm_class(fConnection, fLeader, sizeof(kClassName), kClassName);
	xcb_change_property(fConnection, XCB_PROP_MODE_REPLACE, fLeader, fAtoms[WM_CLIENT_LEADER],
		XCB_ATOM_WINDOW, 32, 1, &fLeader);
	xcb_flush(fConnection);
	return true;
}

bool X11Display::_LoadKeymap()
{
	std::unique_ptr<xkb_keymap, KeymapDeleter> keymap(xkb_x11_keymap_new_from_device(
		fXkbContext.get(), fConnection, fKeyboardDevice, XKB_KEYMAP_COMPILE_NO_FLAGS));
	if (!keymap)
		return false;
	std::unique_ptr<xkb_state, StateDeleter> state(xkb_state_new(keymap.get()));
	if (!state)
		return false;
	fKeymap = std::move(keymap);
	fKeyState = std::move(state);
	return true;
}

// --- Windows -----------------------------------------------------------------------------

window_token X11Display::WindowShown(BWindow* window, display_window_kind kind)
{
	window_token token = display_record().Add(window, kind);
	BRect frame = window->Frame();
	Window entry;
	entry.token = token;
	entry.id = xcb_generate_id(fConnection);
	entry.transientFor = _WindowOfThread(find_thread(NULL));
	entry.window = BMessenger(window);
	entry.preferred = BMessenger(NULL, window);
	entry.thread = window->Thread();
	entry.kind = kind;
	entry.flags = window->Flags();
	entry.width = frame.IntegerWidth() + 1;
	entry.height = frame.IntegerHeight() + 1;

	// No background: what the window shows comes from its bitmap alone.
	uint32 mask = XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK;
	uint32 values[] = {XCB_BACK_PIXMAP_NONE, kind == DISPLAY_MENU ? 1u : 0u, kWindowEvents};
	xcb_create_window(fConnection, XCB_COPY_FROM_PARENT, entry.id, fScreen->root,
		static_cast<int16>(frame.left), static_cast<int16>(frame.top),
		static_cast<uint16>(entry.width), static_cast<uint16>(entry.height), 0,
		XCB_WINDOW_CLASS_INPUT_OUTPUT, fScreen->root_visual, mask, values);

	_SetTitle(entry.id, window->Title());
	xcb_icccm_set_wm_class(fConnection, entry.id, sizeof(kClassName), kClassName);
	xcb_atom_t protocols[] = {fAtoms[WM_DELETE_WINDOW]};
	xcb_icccm_set_wm_protocols(fConnection, entry.id, fAtoms[WM_PROTOCOLS], 1, protocols);
	_SetSizeHints(entry.id, frame, entry.flags);
	xcb_icccm_wm_hints_t hints = {};
	xcb_icccm_wm_hints_set_input(&hints, (entry.flags & B_AVOID_FOCUS) ? 0 : 1);
	xcb_icccm_wm_hints_set_normal(&hints);
	xcb_icccm_wm_hints_set_window_group(&hints, fLeader);
	xcb_icccm_set_wm_hints(fConnection, entry.id, &hints);
	if (entry.transientFor != XCB_NONE)
		xcb_icccm_set_wm_transient_for(fConnection, entry.id, entry.transientFor);
	_SetWindowType(entry.id, kind, window->Feel(), entry.transientFor != XCB_NONE);
	xcb_change_property(fConnection, XCB_PROP_MODE_REPLACE, entry.id, fAtoms[WM_CLIENT_LEADER],
		XCB_ATOM_WINDOW, 32, 1, &fLeader);
	uint32 pid = static_cast<uint32>(getpid());
	xcb_change_property(fConnection, XCB_PROP_MODE_REPLACE, entry.id, fAtoms[NET_WM_PID],
		XCB_ATOM_CARDINAL, 32, 1, &pid);

	Surface surface(cairo_xcb_surface_create(fConnection, entry.id, fVisual, entry.width,
		entry.height));
	entry.surface = surface.get();
	{
		std::lock_guard<std::mutex> guard(fLock);
		fWindows.push_back(Entry{entry, std::move(surface)});
	}
	xcb_map_window(fConnection, entry.id);
	if (kind == DISPLAY_MENU)
		_Grab(entry.id);
	xcb_flush(fConnection);
	if (Lost()) {
		// No screen to show it on: it ends as every window did when the connection broke.
		BMessage message(B_QUIT_REQUESTED);
		_Post(entry.window, &message);
	}
	return token;
}

void X11Display::WindowHidden(window_token token, bool hidden)
{
	display_record().SetHidden(token, hidden);
	Window entry;
	if (!_Find(token, &entry))
		return;
	if (hidden)
		xcb_unmap_window(fConnection, entry.id);
	else
		xcb_map_window(fConnection, entry.id);
	if (!hidden && entry.kind == DISPLAY_MENU)
		_Grab(entry.id);
	xcb_flush(fConnection);
}

void X11Display::WindowRetitled(window_token token, const char* title)
{
	display_record().SetTitle(token, title);
	Window entry;
	if (!_Find(token, &entry))
		return;
	_SetTitle(entry.id, title);
	xcb_flush(fConnection);
}

void X11Display::WindowFrameChanged(window_token token, BRect frame)
{
	Window entry;
	if (!_Find(token, &entry))
		return;
	int32 width = frame.IntegerWidth() + 1;
	int32 height = frame.IntegerHeight() + 1;
	{
		std::lock_guard<std::mutex> guard(fLock);
		for (Entry& window : fWindows) {
			if (window.window.token == token) {
				window.window.width = width;
				window.window.height = height;
			}
		}
	}
	_SetSizeHints(entry.id, frame, entry.flags);
	uint32 values[] = {static_cast<uint32>(static_cast<int32>(frame.left)),
		static_cast<uint32>(static_cast<int32>(frame.top)), static_cast<uint32>(width),
		static_cast<uint32>(height)};
	xcb_configure_window(fConnection, entry.id, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y
		| XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
	cairo_xcb_surface_set_size(entry.surface, width, height);
	xcb_flush(fConnection);
}

void X11Display::WindowDrawn(window_token token, const BBitmap* bitmap, BRect area)
{
	Window entry;
	if (bitmap == NULL || !_Find(token, &entry))
		return;
	int32 width = bitmap->Bounds().IntegerWidth() + 1;
	int32 height = bitmap->Bounds().IntegerHeight() + 1;
	PixelBox box = pixel_box(area, std::min(width, entry.width), std::min(height, entry.height));
	if (box.width == 0 || box.height == 0)
		return;
	// B_RGB32 is the host's 32-bit B, G, R, unused: Cairo's RGB24 on little-endian hosts.
	// The bitmap is only read.
	Surface image(cairo_image_surface_create_for_data(
		static_cast<unsigned char*>(const_cast<void*>(bitmap->Bits())), CAIRO_FORMAT_RGB24,
		width, height, bitmap->BytesPerRow()));
	cairo_t* context = cairo_create(entry.surface);
	cairo_set_operator(context, CAIRO_OPERATOR_SOURCE);
	cairo_set_source_surface(context, image.get(), 0, 0);
	cairo_rectangle(context, box.left, box.top, box.width, box.height);
	cairo_fill(context);
	cairo_destroy(context);
	cairo_surface_flush(entry.surface);
	xcb_flush(fConnection);
}

void X11Display::WindowClosed(window_token token)
{
	Entry closed;
	bool found = false;
	bool parentOpen = false;
	{
		std::lock_guard<std::mutex> guard(fLock);
		for (auto window = fWindows.begin(); window != fWindows.end(); ++window) {
			if (window->window.token == token) {
				closed = std::move(*window);
				found = true;
				fWindows.erase(window);
				break;
			}
		}
		for (const Entry& window : fWindows)
			parentOpen = parentOpen || (found && window.window.id == closed.window.transientFor);
	}
	if (found) {
		const Window& entry = closed.window;
		// A dialog's alert that had the keyboard hands it back to the dialog, as a window
		// manager would; otherwise the focus would fall back to the root window.
		if (parentOpen && entry.kind != DISPLAY_MENU) {
			XReply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(fConnection,
				xcb_get_input_focus(fConnection), NULL));
			if (focus && focus->focus == entry.id) {
				xcb_set_input_focus(fConnection, XCB_INPUT_FOCUS_PARENT, entry.transientFor,
					XCB_CURRENT_TIME);
			}
		}
		cairo_surface_finish(closed.surface.get());
		closed.surface.reset();
		xcb_destroy_window(fConnection, entry.id);
		xcb_flush(fConnection);
	}
	display_record().Remove(token);
}

template<typename Match>
bool X11Display::_Lookup(Match match, Window* _window)
{
	std::lock_guard<std::mutex> guard(fLock);
	for (const Entry& entry : fWindows) {
		if (match(entry.window)) {
			*_window = entry.window;
			return true;
		}
	}
	return false;
}

bool X11Display::_Find(window_token token, Window* _window)
{
	return _Lookup([token](const Window& window) { return window.token == token; }, _window);
}

bool X11Display::_FindById(xcb_window_t id, Window* _window)
{
	return _Lookup([id](const Window& window) { return window.id == id; }, _window);
}

xcb_window_t X11Display::_WindowOfThread(thread_id thread)
{
	Window window;
	bool found = _Lookup([thread](const Window& entry) { return entry.thread == thread; },
		&window);
	return found ? window.id : XCB_NONE;
}

void X11Display::_SetTitle(xcb_window_t id, const char* title)
{
	std::string text = title != NULL ? title : "";
	xcb_change_property(fConnection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME,
		XCB_ATOM_STRING, 8, text.size(), text.data());
	xcb_change_property(fConnection, XCB_PROP_MODE_REPLACE, id, fAtoms[NET_WM_NAME],
		fAtoms[UTF8_STRING], 8, text.size(), text.data());
}

void X11Display::_SetSizeHints(xcb_window_t id, BRect frame, uint32 flags)
{
	int32 width = frame.IntegerWidth() + 1;
	int32 height = frame.IntegerHeight() + 1;
	xcb_size_hints_t hints = {};
	xcb_icccm_size_hints_set_position(&hints, 0, static_cast<int32>(frame.left),
		static_cast<int32>(frame.top));
	xcb_icccm_size_hints_set_size(&hints, 0, width, height);
	bool fixedWidth = (flags & (B_NOT_RESIZABLE | B_NOT_H_RESIZABLE)) != 0;
	bool fixedHeight = (flags & (B_NOT_RESIZABLE | B_NOT_V_RESIZABLE)) != 0;
	if (fixedWidth || fixedHeight) {
		xcb_icccm_size_hints_set_min_size(&hints, fixedWidth ? width : 1,
			fixedHeight ? height : 1);
		xcb_icccm_size_hints_set_max_size(&hints, fixedWidth ? width : 32767,
			fixedHeight ? height : 32767);
	}
	xcb_icccm_set_wm_normal_hints(fConnection, id, &hints);
}

void X11Display::_SetWindowType(xcb_window_t id, display_window_kind kind, window_feel feel,
	bool hasParent)
{
	xcb_atom_t type = fAtoms[NET_WM_WINDOW_TYPE_NORMAL];
	if (kind == DISPLAY_MENU)
		type = fAtoms[NET_WM_WINDOW_TYPE_POPUP_MENU];
	else if (kind == DISPLAY_ALERT || is_modal(feel))
		type = fAtoms[NET_WM_WINDOW_TYPE_DIALOG];
	xcb_change_property(fConnection, XCB_PROP_MODE_REPLACE, id, fAtoms[NET_WM_WINDOW_TYPE],
		XCB_ATOM_ATOM, 32, 1, &type);
	if (kind != DISPLAY_MENU && is_modal(feel) && hasParent) {
		xcb_atom_t state = fAtoms[NET_WM_STATE_MODAL];
		xcb_change_property(fConnection, XCB_PROP_MODE_REPLACE, id, fAtoms[NET_WM_STATE],
			XCB_ATOM_ATOM, 32, 1, &state);
	}
}

void X11Display::_Grab(xcb_window_t id)
{
	// A pop-up takes every press, inside it or not, so that one outside closes it; the
	// replies are not needed: without the grab the menu still works, it only does not see
	// presses elsewhere.
	xcb_discard_reply(fConnection, xcb_grab_pointer(fConnection, 0, id, kPointerEvents,
		XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE,
		XCB_CURRENT_TIME).sequence);
	xcb_discard_reply(fConnection, xcb_grab_keyboard(fConnection, 0, id, XCB_CURRENT_TIME,
		XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC).sequence);
}

// --- Events ------------------------------------------------------------------------------

void X11Display::_EventLoop()
{
	for (;;) {
		std::unique_ptr<xcb_generic_event_t, FreeDeleter> event(xcb_wait_for_event(fConnection));
		if (!event)
			break;
		_HandleEvent(event.get());
	}
	_ConnectionLost();
}

void X11Display::_HandleEvent(const xcb_generic_event_t* event)
{
	switch (event->response_type & ~0x80) {
		case XCB_EXPOSE: {
			auto expose = reinterpret_cast<const xcb_expose_event_t*>(event);
			Window entry;
			if (!_FindById(expose->window, &entry))
				break;
			BMessage message(_DISPLAY_EXPOSE_);
			message.AddRect("area", BRect(expose->x, expose->y, expose->x + expose->width - 1,
				expose->y + expose->height - 1));
			_Post(entry.window, &message);
			break;
		}
		case XCB_KEY_PRESS:
			_Key(reinterpret_cast<const xcb_key_press_event_t*>(event), true);
			break;
		case XCB_KEY_RELEASE:
			_Key(reinterpret_cast<const xcb_key_press_event_t*>(event), false);
			break;
		case XCB_BUTTON_PRESS:
			_Button(reinterpret_cast<const xcb_button_press_event_t*>(event), true);
			break;
		case XCB_BUTTON_RELEASE:
			_Button(reinterpret_cast<const xcb_button_press_event_t*>(event), false);
			break;
		case XCB_MOTION_NOTIFY:
			_Motion(reinterpret_cast<const xcb_motion_notify_event_t*>(event));
			break;
		case XCB_CONFIGURE_NOTIFY:
			_Configured(reinterpret_cast<const xcb_configure_notify_event_t*>(event));
			break;
		case XCB_CLIENT_MESSAGE:
			_ClientMessage(reinterpret_cast<const xcb_client_message_event_t*>(event));
			break;
		case XCB_MAP_NOTIFY:
			_Mapped(reinterpret_cast<const xcb_map_notify_event_t*>(event));
			break;
		case XCB_FOCUS_IN:
			_Focus(reinterpret_cast<const xcb_focus_in_event_t*>(event), true);
			break;
		case XCB_FOCUS_OUT:
			_Focus(reinterpret_cast<const xcb_focus_in_event_t*>(event), false);
			break;
		case XCB_MAPPING_NOTIFY:
			(void)_LoadKeymap();  // on failure the old map stays
			break;
		default:
			break;  // errors of requests nobody waits for, and events not asked for
	}
}

void X11Display::_Key(const xcb_key_press_event_t* event, bool press)
{
	int32 code = platform_key_code(event->detail);
	if (code > 0 && code < 128) {
		uint8 bit = static_cast<uint8>(0x80 >> (code % 8));
		fKeysHeld[code / 8] = press ? (fKeysHeld[code / 8] | bit) : (fKeysHeld[code / 8] & ~bit);
	}
	Window entry;
	if (!press || !_FindById(event->event, &entry))
		return;
	// The event's own state, not a tracked one: it is right even for input that another
	// client made up (XTEST) or keys held before the window had the focus.
	xkb_state_update_mask(fKeyState.get(), event->state & 0xff, 0, 0, 0, 0,
		(event->state >> 13) & 0x3);
	xkb_keysym_t keysym = xkb_state_key_get_one_sym(fKeyState.get(), event->detail);
	const xkb_keysym_t* base = NULL;
	xkb_layout_index_t layout = xkb_state_key_get_layout(fKeyState.get(), event->detail);
	int count = xkb_keymap_key_get_syms_by_level(fKeymap.get(), event->detail,
		layout == XKB_LAYOUT_INVALID ? 0 : layout, 0, &base);
	PlatformKey key = platform_key(event->detail, keysym, count > 0 ? base[0] : keysym);
	if (!key.mapped)
		return;
	BMessage message = make_key_message(key.bytes.c_str(), key.key,
		platform_modifiers(event->state, fKeysHeld), key.rawChar, fKeysHeld);
	_Post(entry.preferred, &message);
}

void X11Display::_Button(const xcb_button_press_event_t* event, bool press)
{
	int32 button = platform_button(event->detail);
	Window entry;
	if (button == 0 || !_FindById(event->event, &entry))
		return;
	int32 held = platform_buttons(event->state);  // before this event
	BPoint where(event->event_x, event->event_y);
	uint32 modifiers = platform_modifiers(event->state, fKeysHeld);
	if (!press) {
		BMessage message = make_mouse_message(B_MOUSE_UP, where, held & ~button, modifiers, 0);
		_Post(entry.window, &message);
		return;
	}
	bool again = event->event == fLastClickWindow && event->detail == fLastClickButton
		&& event->time - fLastClickTime <= kDoubleClickTime
		&& std::abs(event->event_x - fLastClickX) <= kDoubleClickDistance
		&& std::abs(event->event_y - fLastClickY) <= kDoubleClickDistance;
	fClicks = again ? fClicks + 1 : 1;
	fLastClickWindow = event->event;
	fLastClickButton = event->detail;
	fLastClickTime = event->time;
	fLastClickX = event->event_x;
	fLastClickY = event->event_y;
	BMessage message = make_mouse_message(B_MOUSE_DOWN, where, held | button, modifiers,
		fClicks);
	_Post(entry.window, &message);
}

void X11Display::_Motion(const xcb_motion_notify_event_t* event)
{
	Window entry;
	if (!_FindById(event->event, &entry))
		return;
	BMessage message = make_mouse_message(B_MOUSE_MOVED, BPoint(event->event_x, event->event_y),
		platform_buttons(event->state), platform_modifiers(event->state, fKeysHeld), 0);
	_Post(entry.window, &message);
}

void X11Display::_Configured(const xcb_configure_notify_event_t* event)
{
	Window entry;
	if (!_FindById(event->window, &entry))
		return;
	// A window manager may have put the window into a frame of its own: ask the server
	// where the window lies on the screen.
	XReply<xcb_translate_coordinates_reply_t> place(xcb_translate_coordinates_reply(
		fConnection, xcb_translate_coordinates(fConnection, event->window, fScreen->root, 0, 0),
		NULL));
	if (!place)
		return;
	BMessage message(_DISPLAY_MOVED_);
	message.AddPoint("where", BPoint(place->dst_x, place->dst_y));
	_Post(entry.window, &message);
}

void X11Display::_ClientMessage(const xcb_client_message_event_t* event)
{
	Window entry;
	if (event->type != fAtoms[WM_PROTOCOLS] || event->format != 32
		|| event->data.data32[0] != fAtoms[WM_DELETE_WINDOW]
		|| !_FindById(event->window, &entry))
		return;
	// The close box: a window without one refuses, one with it is asked to quit.
	if (entry.flags & B_NOT_CLOSABLE)
		return;
	BMessage message(B_QUIT_REQUESTED);
	_Post(entry.window, &message);
}

void X11Display::_Mapped(const xcb_map_notify_event_t* event)
{
	Window entry;
	if (!_FindById(event->window, &entry) || entry.transientFor == XCB_NONE
		|| entry.kind == DISPLAY_MENU || (entry.flags & B_AVOID_FOCUS))
		return;
	// An alert or dialog shown from a window that has the keyboard takes it over, as a
	// window manager would hand it; a client may pass its own focus on.
	XReply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(fConnection,
		xcb_get_input_focus(fConnection), NULL));
	if (focus && focus->focus == entry.transientFor) {
		xcb_set_input_focus(fConnection, XCB_INPUT_FOCUS_PARENT, entry.id, XCB_CURRENT_TIME);
		xcb_flush(fConnection);
	}
}

void X11Display::_Focus(const xcb_focus_in_event_t* event, bool in)
{
	// Pointer and inferior notifications say nothing about the window itself; those of a
	// grab (a pop-up menu taking the keyboard) do not change which window is active.
	if (event->detail == XCB_NOTIFY_DETAIL_POINTER || event->detail == XCB_NOTIFY_DETAIL_INFERIOR
		|| event->mode == XCB_NOTIFY_MODE_GRAB || event->mode == XCB_NOTIFY_MODE_UNGRAB)
		return;
	Window entry;
	if (!_FindById(event->event, &entry))
		return;
	BMessage message(B_WINDOW_ACTIVATED);
	message.AddInt64("when", system_time());
	message.AddBool("active", in);
	_Post(entry.window, &message);
}

void X11Display::_Post(const BMessenger& target, BMessage* message)
{
	// A window that has gone, or whose queue is full, misses the input: as on the platform,
	// input is not kept for a window that does not take it.
	(void)target.SendMessage(message);
}

void X11Display::_ConnectionLost()
{
	fLost.store(true);
	std::vector<BMessenger> windows;
	{
		std::lock_guard<std::mutex> guard(fLock);
		for (const Entry& entry : fWindows)
			windows.push_back(entry.window.window);
	}
	// Every way out of a dialog ends in an answer: one whose screen has gone is cancelled.
	for (const BMessenger& window : windows) {
		BMessage message(B_QUIT_REQUESTED);
		_Post(window, &message);
	}
}

}  // namespace

// --- InteractiveDisplay --------------------------------------------------------------------

status_t InteractiveDisplay::Open(const char* name, std::string* error)
{
	std::string ignored;
	if (error == NULL)
		error = &ignored;
	std::lock_guard<std::mutex> guard(sOpenLock);
	if (sDisplay != NULL)
		return B_OK;
	const char* named = name != NULL ? name : getenv("DISPLAY");
	if (named == NULL || named[0] == '\0') {
		*error = "no X display is named (DISPLAY is not set)";
		return B_NO_INIT;
	}
	X11Display* display = X11Display::Connect(named, error);
	if (display == NULL)
		return B_ERROR;
	sDisplay = display;
	set_display_backend(display);
	return B_OK;
}

bool InteractiveDisplay::IsOpen()
{
	std::lock_guard<std::mutex> guard(sOpenLock);
	return sDisplay != NULL;
}

bool InteractiveDisplay::ConnectionLost()
{
	std::lock_guard<std::mutex> guard(sOpenLock);
	return sDisplay != NULL && sDisplay->Lost();
}
