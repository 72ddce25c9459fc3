#include "X11Keys.h"

#include <InterfaceDefs.h>

#include <xkbcommon/xkbcommon.h>

namespace {

// Linux input codes (X keycode - 8) and the platform's codes of the same physical keys.
struct KeyCodePair {
	uint16 input;
	uint8 key;
};

const KeyCodePair kKeyCodes[] = {
	{1, 0x01},                                                        // Escape
	{2, 0x12}, {3, 0x13}, {4, 0x14}, {5, 0x15}, {6, 0x16},            // 1 to 5
	{7, 0x17}, {8, 0x18}, {9, 0x19}, {10, 0x1a}, {11, 0x1b},          // 6 to 0
	{12, 0x1c}, {13, 0x1d}, {14, 0x1e},                               // - = Backspace
	{15, 0x26},                                                       // Tab
	{16, 0x27}, {17, 0x28}, {18, 0x29}, {19, 0x2a}, {20, 0x2b},       // Q W E R T
	{21, 0x2c}, {22, 0x2d}, {23, 0x2e}, {24, 0x2f}, {25, 0x30},       // Y U I O P
	{26, 0x31}, {27, 0x32}, {28, 0x47},                               // [ ] Enter
	{29, 0x5c},                                                       // left Control
	{30, 0x3c}, {31, 0x3d}, {32, 0x3e}, {33, 0x3f}, {34, 0x40},       // A S D F G
	{35, 0x41}, {36, 0x42}, {37, 0x43}, {38, 0x44},                   // H J K L
	{39, 0x45}, {40, 0x46}, {41, 0x11},                               // ; ' `
	{42, 0x4b}, {43, 0x33},                                           // left Shift, backslash
	{44, 0x4c}, {45, 0x4d}, {46, 0x4e}, {47, 0x4f}, {48, 0x50},       // Z X C V B
	{49, 0x51}, {50, 0x52},                                           // N M
	{51, 0x53}, {52, 0x54}, {53, 0x55}, {54, 0x56},                   // , . / right Shift
	{55, 0x24}, {56, 0x5d}, {57, 0x5e}, {58, 0x3b},                   // KP* left Alt Space Caps
	{59, 0x02}, {60, 0x03}, {61, 0x04}, {62, 0x05}, {63, 0x06},       // F1 to F5
	{64, 0x07}, {65, 0x08}, {66, 0x09}, {67, 0x0a}, {68, 0x0b},       // F6 to F10
	{69, 0x22}, {70, 0x0f},                                           // Num Lock, Scroll Lock
	{71, 0x37}, {72, 0x38}, {73, 0x39}, {74, 0x25},                   // KP7 KP8 KP9 KP-
	{75, 0x48}, {76, 0x49}, {77, 0x4a}, {78, 0x3a},                   // KP4 KP5 KP6 KP+
	{79, 0x58}, {80, 0x59}, {81, 0x5a}, {82, 0x64}, {83, 0x65},       // KP1 KP2 KP3 KP0 KP.
	{87, 0x0c}, {88, 0x0d},                                           // F11, F12
	{96, 0x5b}, {97, 0x60}, {98, 0x23}, {99, 0x0e}, {100, 0x5f},      // KPEnter rCtrl KP/ Print rAlt
	{102, 0x20}, {103, 0x57}, {104, 0x21},                            // Home Up PageUp
	{105, 0x61}, {106, 0x63}, {107, 0x35},                            // Left Right End
	{108, 0x62}, {109, 0x36}, {110, 0x1f}, {111, 0x34},               // Down PageDown Ins Del
	{119, 0x10},                                                      // Pause
	{125, 0x66}, {126, 0x67}, {127, 0x68}                             // left, right Windows; Menu
};

// The modifiers that stand for X's modifier bits, with the platform's codes of the left and
// right keys that give them.
struct ModifierKeys {
	uint32 xMask;
	uint32 modifier;
	int32 leftKey;
	uint32 left;
	int32 rightKey;
	uint32 right;
};

const ModifierKeys kModifierKeys[] = {
	{0x01, B_SHIFT_KEY, 0x4b, B_LEFT_SHIFT_KEY, 0x56, B_RIGHT_SHIFT_KEY},
	{0x04, B_COMMAND_KEY, 0x5c, B_LEFT_COMMAND_KEY, 0x60, B_RIGHT_COMMAND_KEY},  // Control
	{0x08, B_OPTION_KEY, 0x5d, B_LEFT_OPTION_KEY, 0x5f, B_RIGHT_OPTION_KEY}      // Alt
};

// The keys that generate one of the platform's control codes rather than a character.
struct SpecialKey {
	uint32 keysym;
	uint8 code;
};

const SpecialKey kSpecialKeys[] = {
	{XKB_KEY_BackSpace, B_BACKSPACE},
	{XKB_KEY_Tab, B_TAB},
	{XKB_KEY_ISO_Left_Tab, B_TAB},  // Shift-Tab
	{XKB_KEY_KP_Tab, B_TAB},
	{XKB_KEY_Return, B_ENTER},
	{XKB_KEY_KP_Enter, B_ENTER},
	{XKB_KEY_Escape, B_ESCAPE},
	{XKB_KEY_Left, B_LEFT_ARROW},
	{XKB_KEY_KP_Left, B_LEFT_ARROW},
	{XKB_KEY_Right, B_RIGHT_ARROW},
	{XKB_KEY_KP_Right, B_RIGHT_ARROW},
	{XKB_KEY_Up, B_UP_ARROW},
	{XKB_KEY_KP_Up, B_UP_ARROW},
	{XKB_KEY_Down, B_DOWN_ARROW},
	{XKB_KEY_KP_Down, B_DOWN_ARROW},
	{XKB_KEY_Delete, B_DELETE},
	{XKB_KEY_KP_Delete, B_DELETE},
	{XKB_KEY_Home, B_HOME},
	{XKB_KEY_KP_Home, B_HOME},
	{XKB_KEY_End, B_END},
	{XKB_KEY_KP_End, B_END},
	{XKB_KEY_Insert, B_INSERT},
	{XKB_KEY_KP_Insert, B_INSERT},
	{XKB_KEY_Prior, B_PAGE_UP},
	{XKB_KEY_KP_Prior, B_PAGE_UP},
	{XKB_KEY_Next, B_PAGE_DOWN},
	{XKB_KEY_KP_Next, B_PAGE_DOWN},
	{XKB_KEY_Print, B_FUNCTION_KEY},
	{XKB_KEY_Scroll_Lock, B_FUNCTION_KEY},
	{XKB_KEY_Pause, B_FUNCTION_KEY}
};

bool special_code(uint32 keysym, uint8* code)
{
	if (keysym >= XKB_KEY_F1 && keysym <= XKB_KEY_F12) {
		*code = B_FUNCTION_KEY;
		return true;
	}
	for (const SpecialKey& special : kSpecialKeys) {
		if (special.keysym == keysym) {
			*code = special.code;
			return true;
		}
	}
	return false;
}

// The character of a symbol, or empty: control characters are not characters here.
std::string character_of(uint32 keysym)
{
	char buffer[8] = {};
	int length = xkb_keysym_to_utf8(keysym, buffer, sizeof(buffer));
	if (length <= 1)  // the length counts the terminating NUL
		return std::string();
	std::string text(buffer);
	if (text.size() == 1 && (static_cast<uint8>(text[0]) < 0x20 || text[0] == 0x7f))
		return std::string();
	return text;
}

bool held(const uint8 states[16], int32 key)
{
	return key > 0 && key < 128 && (states[key / 8] & (0x80 >> (key % 8))) != 0;
}

}  // namespace

int32 platform_key_code(uint32 keycode)
{
	if (keycode < kX11KeycodeOffset)
		return 0;
	uint32 input = keycode - kX11KeycodeOffset;
	for (const KeyCodePair& pair : kKeyCodes) {
		if (pair.input == input)
			return pair.key;
	}
	return 0;
}

PlatformKey platform_key(uint32 keycode, uint32 keysym, uint32 baseKeysym)
{
	PlatformKey result;
	result.key = platform_key_code(keycode);
	uint8 code = 0;
	if (special_code(keysym, &code)) {
		result.mapped = true;
		result.bytes = std::string(1, static_cast<char>(code));
		result.rawChar = code;
		return result;
	}
	result.bytes = character_of(keysym);
	if (result.bytes.empty())
		return result;
	result.mapped = true;
	std::string base = character_of(baseKeysym);
	if (base.size() == 1 && static_cast<uint8>(base[0]) < 0x80)
		result.rawChar = static_cast<uint8>(base[0]);
	return result;
}

uint32 platform_modifiers(uint32 xState, const uint8 states[16])
{
	uint32 modifiers = 0;
	for (const ModifierKeys& keys : kModifierKeys) {
		if (!(xState & keys.xMask))
			continue;
		modifiers |= keys.modifier;
		if (held(states, keys.leftKey))
			modifiers |= keys.left;
		if (held(states, keys.rightKey))
			modifiers |= keys.right;
	}
	if (xState & 0x02)
		modifiers |= B_CAPS_LOCK;
	if (xState & 0x10)
		modifiers |= B_NUM_LOCK;
	return modifiers;
}

int32 platform_button(uint32 xButton)
{
	switch (xButton) {
		case 1: return B_PRIMARY_MOUSE_BUTTON;
		case 2: return B_TERTIARY_MOUSE_BUTTON;
		case 3: return B_SECONDARY_MOUSE_BUTTON;
		default: return 0;
	}
}

int32 platform_buttons(uint32 xState)
{
	int32 buttons = 0;
	for (uint32 button = 1; button <= 3; button++) {
		if (xState & (0x80u << button))
			buttons |= platform_button(button);
	}
	return buttons;
}
