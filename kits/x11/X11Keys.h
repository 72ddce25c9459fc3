// From X key events to the platform's key messages: which character a key press generates
// ("bytes", "raw_char"), which physical key it was ("key"), and the modifier bits.
//
// Kept apart from the connection so that the translation can be checked without a server:
// everything here is a pure function of the event's values.
//
// The keyboard of this desktop is mapped onto the platform's as its users know it: Control
// is the shortcut key, so it gives B_COMMAND_KEY (Ctrl+C copies, Ctrl+V pastes, and the
// dialogs' key filters let such shortcuts through); Alt gives B_OPTION_KEY.
#pragma once

#include <SupportDefs.h>

#include <string>

// X keycodes are the Linux input codes plus 8 on every current X server (the evdev rules).
const uint32 kX11KeycodeOffset = 8;

struct PlatformKey {
	bool mapped = false;   // false: the key generates no character (a modifier alone, ...)
	int32 key = 0;         // the platform's code of the physical key; 0 when it has none
	std::string bytes;     // the character in UTF-8
	int32 rawChar = 0;     // the character without modifiers, when it is 7-bit; else 0
};

// keysym: the key's symbol with the modifiers applied; baseKeysym: its symbol at the first
// level, without them.
PlatformKey platform_key(uint32 keycode, uint32 keysym, uint32 baseKeysym);

// The platform's key code of an X keycode; 0 for keys it has no code for.
int32 platform_key_code(uint32 keycode);

// The modifier bits for an X modifier mask (Shift 0x1, Lock 0x2, Control 0x4, Mod1/Alt 0x8,
// Mod2/Num Lock 0x10), with the left and right variants taken from the keys held (one bit
// per platform key code, as in the "states" field).
uint32 platform_modifiers(uint32 xState, const uint8 states[16]);

// The platform's mouse button bits (primary 1, secondary 2, tertiary 4) of an X button
// number (1 left, 2 middle, 3 right), 0 for the others (the wheel).
int32 platform_button(uint32 xButton);
// The bits of the buttons held in an X modifier mask (Button1 0x100 ... Button3 0x400).
int32 platform_buttons(uint32 xState);
