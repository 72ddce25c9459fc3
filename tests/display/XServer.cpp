#include "XServer.h"

#include <cairo.h>
#include <xcb/damage.h>
#include <xcb/xtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace x_test {

namespace {

struct FreeDeleter {
	void operator()(void* pointer) const { free(pointer); }
};
template<typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

const uint32_t kShiftL = 0xffe1;
const uint32_t kControlL = 0xffe3;

int remaining_ms(Clock::time_point deadline)
{
	auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
	return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool wait_for_exit(pid_t pid, Clock::time_point deadline, int* status)
{
	// glibc's pidfd_open() lacks C linkage in C++ on this system; the call itself is plain.
	int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
	if (pidfd >= 0) {
		pollfd ready = {pidfd, POLLIN, 0};
		(void)poll(&ready, 1, remaining_ms(deadline));
		close(pidfd);
	}
	return waitpid(pid, status, WNOHANG) == pid;
}

// --- Xvfb --------------------------------------------------------------------------------

Xvfb::Xvfb()
{
	int channel[2];
	if (pipe(channel) != 0) {
		fError = "cannot make a pipe";
		return;
	}
	pid_t parent = getpid();
	std::string fd = std::to_string(channel[1]);
	const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
		"-nolisten", "tcp", "-noreset", nullptr};
	fPid = fork();
	if (fPid == 0) {
		// The server goes with the test program, however that ends.
		prctl(PR_SET_PDEATHSIG, SIGTERM);
		if (getppid() != parent)
			_exit(1);
		close(channel[0]);
		int quiet = open("/dev/null", O_WRONLY);
		dup2(quiet, STDOUT_FILENO);
		dup2(quiet, STDERR_FILENO);
		execvp(argv[0], const_cast<char* const*>(argv));
		_exit(127);
	}
	close(channel[1]);
	if (fPid < 0) {
		close(channel[0]);
		fError = "cannot start Xvfb";
		return;
	}
	// Xvfb writes the display number it took, then a line feed, once it is ready.
	std::string number;
	Clock::time_point deadline = Clock::now() + kWait;
	for (;;) {
		pollfd ready = {channel[0], POLLIN, 0};
		char byte = 0;
		if (poll(&ready, 1, remaining_ms(deadline)) <= 0 || read(channel[0], &byte, 1) != 1)
			break;
		if (byte == '\n')
			break;
		number.push_back(byte);
	}
	close(channel[0]);
	if (number.empty()) {
		fError = "Xvfb did not start (is it installed?)";
		return;
	}
	fName = ":" + number;
}

Xvfb::~Xvfb()
{
	Stop();
}

void Xvfb::Stop()
{
	if (fPid <= 0)
		return;
	int status = 0;
	kill(fPid, SIGTERM);
	if (!wait_for_exit(fPid, Clock::now() + std::chrono::seconds(10), &status)) {
		kill(fPid, SIGKILL);
		waitpid(fPid, &status, 0);
	}
	fPid = -1;
	fName.clear();
}

// --- Picture -----------------------------------------------------------------------------

Picture Picture::FromPng(const std::string& path)
{
	Picture picture;
	cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
	if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
		cairo_surface_flush(surface);
		picture.width = cairo_image_surface_get_width(surface);
		picture.height = cairo_image_surface_get_height(surface);
		int stride = cairo_image_surface_get_stride(surface);
		const unsigned char* data = cairo_image_surface_get_data(surface);
		for (int y = 0; y < picture.height; y++) {
			const uint32_t* row = reinterpret_cast<const uint32_t*>(data + y * stride);
			for (int x = 0; x < picture.width; x++)
				picture.pixels.push_back(row[x] & 0xffffff);
		}
	}
	cairo_surface_destroy(surface);
	return picture;
}

bool Picture::WritePng(const std::string& path) const
{
	std::vector<uint32_t> copy = pixels;
	cairo_surface_t* surface = cairo_image_surface_create_for_data(
		reinterpret_cast<unsigned char*>(copy.data()), CAIRO_FORMAT_RGB24, width, height,
		width * 4);
	bool written = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
	cairo_surface_destroy(surface);
	return written;
}

std::string Picture::Difference(const Picture& other) const
{
	char text[160];
	if (width != other.width || height != other.height || pixels.empty()) {
		snprintf(text, sizeof(text), "%dx%d pixels against %dx%d", width, height, other.width,
			other.height);
		return text;
	}
	size_t first = pixels.size();
	size_t count = 0;
	for (size_t i = 0; i < pixels.size(); i++) {
		if (pixels[i] != other.pixels[i]) {
			count++;
			if (first == pixels.size())
				first = i;
		}
	}
	if (count == 0)
		return std::string();
	snprintf(text, sizeof(text), "%zu pixels differ, the first at (%zu, %zu): %06x against %06x",
		count, first % width, first / width, pixels[first], other.pixels[first]);
	return text;
}

// --- Client ------------------------------------------------------------------------------

Client::Client(const std::string& display)
{
	int screenNumber = 0;
	fConnection = xcb_connect(display.c_str(), &screenNumber);
	if (xcb_connection_has_error(fConnection)) {
		xcb_disconnect(fConnection);
		fConnection = nullptr;
		return;
	}
	fScreen = xcb_setup_roots_iterator(xcb_get_setup(fConnection)).data;
	uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
	xcb_change_window_attributes(fConnection, fScreen->root, XCB_CW_EVENT_MASK, &events);
	// The extension is used only after its version has been agreed on.
	Reply<xcb_damage_query_version_reply_t> version(xcb_damage_query_version_reply(
		fConnection, xcb_damage_query_version(fConnection, 1, 1), nullptr));
	Sync();
}

Client::~Client()
{
	if (fConnection != nullptr)
		xcb_disconnect(fConnection);
}

void Client::Sync()
{
	Reply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(fConnection,
		xcb_get_input_focus(fConnection), nullptr));
}

xcb_atom_t Client::_Atom(const char* name)
{
	Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(fConnection,
		xcb_intern_atom(fConnection, 0, strlen(name), name), nullptr));
	return reply ? reply->atom : XCB_NONE;
}

std::string Client::_Name(xcb_window_t window)
{
	Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(fConnection,
		xcb_get_property(fConnection, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0,
			256), nullptr));
	if (!reply)
		return std::string();
	return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
		xcb_get_property_value_length(reply.get()));
}

bool Client::_WaitForEvent(Clock::time_point deadline)
{
	xcb_flush(fConnection);
	for (;;) {
		bool any = false;
		while (xcb_generic_event_t* event = xcb_poll_for_event(fConnection)) {
			any = true;
			free(event);
		}
		if (any)
			return true;
		if (xcb_connection_has_error(fConnection) || remaining_ms(deadline) == 0)
			return false;
		pollfd ready = {xcb_get_file_descriptor(fConnection), POLLIN, 0};
		(void)poll(&ready, 1, remaining_ms(deadline));
	}
}

xcb_window_t Client::WaitForWindow(const std::string& name)
{
	Clock::time_point deadline = Clock::now() + kWait;
	do {
		Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(fConnection,
			xcb_query_tree(fConnection, fScreen->root), nullptr));
		if (!tree)
			return XCB_NONE;
		xcb_window_t* children = xcb_query_tree_children(tree.get());
		for (int i = 0; i < xcb_query_tree_children_length(tree.get()); i++) {
			Reply<xcb_get_window_attributes_reply_t> attributes(
				xcb_get_window_attributes_reply(fConnection,
					xcb_get_window_attributes(fConnection, children[i]), nullptr));
			if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE
				&& _Name(children[i]) == name)
				return children[i];
		}
	} while (_WaitForEvent(deadline));
	return XCB_NONE;
}

bool Client::WaitUntilGone(xcb_window_t window)
{
	Clock::time_point deadline = Clock::now() + kWait;
	do {
		Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
			fConnection, xcb_get_window_attributes(fConnection, window), nullptr));
		if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
			return true;
	} while (_WaitForEvent(deadline));
	return false;
}

Frame Client::FrameOf(xcb_window_t window)
{
	Frame frame;
	Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(fConnection,
		xcb_get_geometry(fConnection, window), nullptr));
	Reply<xcb_translate_coordinates_reply_t> place(xcb_translate_coordinates_reply(fConnection,
		xcb_translate_coordinates(fConnection, window, fScreen->root, 0, 0), nullptr));
	if (geometry && place) {
		frame.x = place->dst_x;
		frame.y = place->dst_y;
		frame.width = geometry->width;
		frame.height = geometry->height;
	}
	return frame;
}

Picture Client::Screen(const Frame& frame)
{
	Picture picture;
	Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(fConnection,
		xcb_get_image(fConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, fScreen->root, frame.x, frame.y,
			frame.width, frame.height, ~0u), nullptr));
	// Xvfb's 24-bit screen keeps 32 bits a pixel, B, G, R, unused in memory.
	if (!image || xcb_get_image_data_length(image.get()) < frame.width * frame.height * 4)
		return picture;
	const uint32_t* data = reinterpret_cast<const uint32_t*>(xcb_get_image_data(image.get()));
	picture.width = frame.width;
	picture.height = frame.height;
	picture.pixels.assign(data, data + frame.width * frame.height);
	for (uint32_t& pixel : picture.pixels)
		pixel &= 0xffffff;
	return picture;
}

std::string Client::WaitForPicture(xcb_window_t window, const Picture& expected, Picture* shown)
{
	Clock::time_point deadline = Clock::now() + kWait;
	xcb_damage_damage_t damage = xcb_generate_id(fConnection);
	xcb_damage_create(fConnection, damage, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
	std::string difference;
	Picture screen;
	do {
		xcb_damage_subtract(fConnection, damage, XCB_NONE, XCB_NONE);
		screen = Screen(FrameOf(window));
		difference = screen.Difference(expected);
	} while (!difference.empty() && _WaitForEvent(deadline));
	xcb_damage_destroy(fConnection, damage);
	if (shown != nullptr)
		*shown = screen;
	return difference;
}

void Client::Focus(xcb_window_t window)
{
	xcb_set_input_focus(fConnection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
	Sync();
}

void Client::_Fake(uint8_t type, uint8_t detail, int16_t x, int16_t y)
{
	xcb_test_fake_input(fConnection, type, detail, XCB_CURRENT_TIME, fScreen->root, x, y, 0);
}

void Client::Click(xcb_window_t window, int x, int y)
{
	Frame frame = FrameOf(window);
	_Fake(XCB_MOTION_NOTIFY, 0, static_cast<int16_t>(frame.x + x),
		static_cast<int16_t>(frame.y + y));
	_Fake(XCB_BUTTON_PRESS, 1);
	_Fake(XCB_BUTTON_RELEASE, 1);
	Sync();
}

uint8_t Client::_Keycode(uint32_t keysym, bool* shifted)
{
	const xcb_setup_t* setup = xcb_get_setup(fConnection);
	uint8_t first = setup->min_keycode;
	uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
	Reply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(fConnection,
		xcb_get_keyboard_mapping(fConnection, first, count), nullptr));
	if (!map)
		return 0;
	const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(map.get());
	int perKey = map->keysyms_per_keycode;
	// The first level wins over the shifted one: '1' is not Shift on some other key.
	for (int level = 0; level < 2 && level < perKey; level++) {
		for (int key = 0; key < count; key++) {
			if (keysyms[key * perKey + level] == keysym) {
				*shifted = level == 1;
				return static_cast<uint8_t>(first + key);
			}
		}
	}
	return 0;
}

void Client::Key(uint32_t keysym, bool control)
{
	bool shifted = false;
	bool unused = false;
	uint8_t key = _Keycode(keysym, &shifted);
	uint8_t shift = _Keycode(kShiftL, &unused);
	uint8_t ctrl = _Keycode(kControlL, &unused);
	if (control)
		_Fake(XCB_KEY_PRESS, ctrl);
	if (shifted)
		_Fake(XCB_KEY_PRESS, shift);
	_Fake(XCB_KEY_PRESS, key);
	_Fake(XCB_KEY_RELEASE, key);
	if (shifted)
		_Fake(XCB_KEY_RELEASE, shift);
	if (control)
		_Fake(XCB_KEY_RELEASE, ctrl);
	Sync();
}

void Client::Type(const std::string& text)
{
	// Latin-1 characters are their own key symbols.
	for (unsigned char character : text)
		Key(character);
}

std::vector<uint32_t> Client::Property(xcb_window_t window, const char* name)
{
	Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(fConnection,
		xcb_get_property(fConnection, 0, window, _Atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
		nullptr));
	if (!reply || reply->format != 32)
		return {};
	const uint32_t* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
	return std::vector<uint32_t>(values, values + xcb_get_property_value_length(reply.get()) / 4);
}

std::vector<std::string> Client::AtomNames(xcb_window_t window, const char* name)
{
	std::vector<std::string> names;
	for (uint32_t atom : Property(window, name)) {
		Reply<xcb_get_atom_name_reply_t> reply(xcb_get_atom_name_reply(fConnection,
			xcb_get_atom_name(fConnection, atom), nullptr));
		if (reply) {
			names.emplace_back(xcb_get_atom_name_name(reply.get()),
				xcb_get_atom_name_name_length(reply.get()));
		}
	}
	return names;
}

void Client::RequestClose(xcb_window_t window)
{
	xcb_client_message_event_t event = {};
	event.response_type = XCB_CLIENT_MESSAGE;
	event.format = 32;
	event.window = window;
	event.type = _Atom("WM_PROTOCOLS");
	event.data.data32[0] = _Atom("WM_DELETE_WINDOW");
	event.data.data32[1] = XCB_CURRENT_TIME;
	xcb_send_event(fConnection, 0, window, XCB_EVENT_MASK_NO_EVENT,
		reinterpret_cast<const char*>(&event));
	Sync();
}

}  // namespace x_test
