// A private X server for one test program, and a client that works it as a person would:
// real input through the XTEST extension, pictures read back from the screen.
//
// Every wait waits for something the server reports (a window mapped or gone, drawing
// done in a window: DAMAGE events), each under a deadline that fails the wait instead of
// hanging.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace x_test {

typedef std::chrono::steady_clock Clock;

// Generous: the tool under a sanitizer on a busy two-core machine is slow.
inline constexpr std::chrono::seconds kWait(30);

// Waits for the child process to end, up to the deadline; true when it has, with its wait
// status, and it is reaped.
bool wait_for_exit(pid_t pid, Clock::time_point deadline, int* status);

// Xvfb on a display number it picks itself, stopped (and waited for) by the destructor, and
// by the kernel should the test program die first.
class Xvfb {
public:
	Xvfb();
	~Xvfb();
	Xvfb(const Xvfb&) = delete;
	Xvfb& operator=(const Xvfb&) = delete;

	bool Running() const { return !fName.empty(); }
	// Ends the server, as when a person's session ends under a running program.
	void Stop();
	const std::string& Error() const { return fError; }
	// ":N"
	const std::string& Name() const { return fName; }

private:
	pid_t fPid = -1;
	std::string fName;
	std::string fError;
};

// Pixels as 0x00RRGGBB, row after row.
struct Picture {
	int width = 0;
	int height = 0;
	std::vector<uint32_t> pixels;

	// Loaded from a PNG file; empty when it cannot be read.
	static Picture FromPng(const std::string& path);
	bool WritePng(const std::string& path) const;
	// "" when equal, else where and how the first difference shows.
	std::string Difference(const Picture& other) const;
};

struct Frame {
	int x = 0;
	int y = 0;
	int width = 0;
	int height = 0;
};

class Client {
public:
	explicit Client(const std::string& display);
	~Client();
	Client(const Client&) = delete;
	Client& operator=(const Client&) = delete;

	bool Connected() const { return fConnection != nullptr; }

	// A viewable top-level window of that name (WM_NAME); XCB_NONE when none comes in time.
	xcb_window_t WaitForWindow(const std::string& name);
	// True once the window is destroyed or unmapped.
	bool WaitUntilGone(xcb_window_t window);
	Frame FrameOf(xcb_window_t window);
	// What the screen shows where the window is.
	Picture Screen(const Frame& frame);
	// Waits until the screen shows expected where the window is (re-reading it whenever
	// the window is drawn into). "" once it does, else the last difference.
	std::string WaitForPicture(xcb_window_t window, const Picture& expected,
		Picture* shown = nullptr);

	// What a window manager would do on a click: give the window the keyboard.
	void Focus(xcb_window_t window);
	// A press and release of the left button at a point of the window.
	void Click(xcb_window_t window, int x, int y);
	// One key press and release per character (Shift where the character needs it).
	void Type(const std::string& text);
	// A key by its symbol (XK_Return, 'a'), with Control held when asked.
	void Key(uint32_t keysym, bool control = false);
	// A property of the window as 32-bit values (atoms, windows, cardinals); an ATOM
	// property's atoms as their names.
	std::vector<uint32_t> Property(xcb_window_t window, const char* name);
	std::vector<std::string> AtomNames(xcb_window_t window, const char* name);
	// The window manager's close box: WM_DELETE_WINDOW.
	void RequestClose(xcb_window_t window);
	// Waits until the server has done every request sent so far.
	void Sync();

private:
	xcb_atom_t _Atom(const char* name);
	std::string _Name(xcb_window_t window);
	bool _WaitForEvent(Clock::time_point deadline);
	uint8_t _Keycode(uint32_t keysym, bool* shifted);
	void _Fake(uint8_t type, uint8_t detail, int16_t x = 0, int16_t y = 0);

	xcb_connection_t* fConnection = nullptr;
	xcb_screen_t* fScreen = nullptr;
};

}  // namespace x_test
