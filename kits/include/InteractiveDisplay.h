// InteractiveDisplay: shows the process's windows to a person, on an X server (XWayland
// included), instead of the headless display.
//
// Contract:
// - Until Open() succeeds every window lives on the headless display, where only the
//   scripting interface (ScriptedDisplay.h) sees and works it. After it, every window shown
//   for the first time becomes a top-level X window with its title and frame, drawn exactly
//   as the headless screenshots show it, and takes the server's keyboard and mouse input as
//   the platform's messages. Windows shown before stay headless. The scripting interface
//   keeps working on both.
// - The connection lasts as long as the process. When the server goes away, every window
//   on it is asked to quit (B_QUIT_REQUESTED), so a modal dialog ends as if cancelled, and
//   ConnectionLost() turns true.
// - Thread-safe.
#pragma once

#include <SupportDefs.h>

#include <string>

class InteractiveDisplay {
public:
	// Connects to the X server that name names (NULL: the one the DISPLAY variable names).
	// B_NO_INIT when no server is named, B_ERROR when it cannot be reached; *error then says
	// so in one line. B_OK at once when a display is open already.
	static status_t Open(const char* name, std::string* error);
	static bool IsOpen();
	static bool ConnectionLost();
};
