// Constants of the Interface kit shared by views, windows and keyboard handling: view flags
// and resizing modes, font-change masks, key codes and modifier bits.
#pragma once

#include <GraphicsDefs.h>

// View flags (high bits of a view's flags word).
enum {
	B_FULL_UPDATE_ON_RESIZE = 0x80000000,
	B_WILL_DRAW = 0x20000000,
	B_PULSE_NEEDED = 0x10000000,
	B_NAVIGABLE_JUMP = 0x08000000,
	B_FRAME_EVENTS = 0x04000000,
	B_NAVIGABLE = 0x02000000,
	B_SUBPIXEL_PRECISE = 0x01000000,
	B_DRAW_ON_CHILDREN = 0x00800000,
	B_INPUT_METHOD_AWARE = 0x00400000
};

// Resizing modes (low 16 bits): (top << 12) | (left << 8) | (bottom << 4) | right, with the
// side codes top 1, left 2, bottom 3, right 4, centre 5.
enum {
	B_FOLLOW_NONE = 0x0000,
	B_FOLLOW_ALL_SIDES = 0x1234,
	B_FOLLOW_ALL = B_FOLLOW_ALL_SIDES,
	B_FOLLOW_LEFT = 0x0202,
	B_FOLLOW_RIGHT = 0x0404,
	B_FOLLOW_LEFT_RIGHT = 0x0204,
	B_FOLLOW_H_CENTER = 0x0505,
	B_FOLLOW_TOP = 0x1010,
	B_FOLLOW_BOTTOM = 0x3030,
	B_FOLLOW_TOP_BOTTOM = 0x1030,
	B_FOLLOW_V_CENTER = 0x5050
};

// Which parts of a font SetFont() takes over.
enum {
	B_FONT_FAMILY_AND_STYLE = 0x01,
	B_FONT_SIZE = 0x02,
	B_FONT_SHEAR = 0x04,
	B_FONT_ROTATION = 0x08,
	B_FONT_SPACING = 0x10,
	B_FONT_ENCODING = 0x20,
	B_FONT_FACE = 0x40,
	B_FONT_FLAGS = 0x80,
	B_FONT_ALL = 0xFF
};

// Key codes: the byte values of the "bytes" field of a key message.
enum {
	B_BACKSPACE = 0x08,
	B_RETURN = 0x0a,
	B_ENTER = 0x0a,
	B_SPACE = 0x20,
	B_TAB = 0x09,
	B_ESCAPE = 0x1b,
	B_SUBSTITUTE = 0x1a,
	B_LEFT_ARROW = 0x1c,
	B_RIGHT_ARROW = 0x1d,
	B_UP_ARROW = 0x1e,
	B_DOWN_ARROW = 0x1f,
	B_INSERT = 0x05,
	B_DELETE = 0x7f,
	B_HOME = 0x01,
	B_END = 0x04,
	B_PAGE_UP = 0x0b,
	B_PAGE_DOWN = 0x0c,
	B_FUNCTION_KEY = 0x10
};

// The "key" field of a B_FUNCTION_KEY message.
enum {
	B_F1_KEY = 0x02,
	B_F2_KEY = 0x03,
	B_F3_KEY = 0x04,
	B_F4_KEY = 0x05,
	B_F5_KEY = 0x06,
	B_F6_KEY = 0x07,
	B_F7_KEY = 0x08,
	B_F8_KEY = 0x09,
	B_F9_KEY = 0x0a,
	B_F10_KEY = 0x0b,
	B_F11_KEY = 0x0c,
	B_F12_KEY = 0x0d,
	B_PRINT_KEY = 0x0e,
	B_SCROLL_KEY = 0x0f,
	B_PAUSE_KEY = 0x10
};

// Modifier bits.
enum {
	B_SHIFT_KEY = 0x00000001,
	B_COMMAND_KEY = 0x00000002,
	B_CONTROL_KEY = 0x00000004,
	B_CAPS_LOCK = 0x00000008,
	B_SCROLL_LOCK = 0x00000010,
	B_NUM_LOCK = 0x00000020,
	B_OPTION_KEY = 0x00000040,
	B_MENU_KEY = 0x00000080,
	B_LEFT_SHIFT_KEY = 0x00000100,
	B_RIGHT_SHIFT_KEY = 0x00000200,
	B_LEFT_COMMAND_KEY = 0x00000400,
	B_RIGHT_COMMAND_KEY = 0x00000800,
	B_LEFT_CONTROL_KEY = 0x00001000,
	B_RIGHT_CONTROL_KEY = 0x00002000,
	B_LEFT_OPTION_KEY = 0x00004000,
	B_RIGHT_OPTION_KEY = 0x00008000
};

// Mouse buttons: the "buttons" field of mouse messages.
enum {
	B_PRIMARY_MOUSE_BUTTON = 0x01,
	B_SECONDARY_MOUSE_BUTTON = 0x02,
	B_TERTIARY_MOUSE_BUTTON = 0x04
};

// Horizontal alignment of text in controls and string views.
enum alignment {
	B_ALIGN_LEFT,
	B_ALIGN_RIGHT,
	B_ALIGN_CENTER
};

// Borders of boxes and scroll views.
enum border_style {
	B_PLAIN_BORDER,
	B_FANCY_BORDER,
	B_NO_BORDER
};

// How a menu lays out its items.
enum menu_layout {
	B_ITEMS_IN_ROW = 0,
	B_ITEMS_IN_COLUMN,
	B_ITEMS_IN_MATRIX
};

// The system's interface colours.
enum color_which {
	B_PANEL_BACKGROUND_COLOR = 1,
	B_MENU_BACKGROUND_COLOR = 2,
	B_WINDOW_TAB_COLOR = 3,
	B_KEYBOARD_NAVIGATION_COLOR = 4,
	B_DESKTOP_COLOR = 5,
	B_MENU_SELECTION_BACKGROUND_COLOR = 6,
	B_MENU_ITEM_TEXT_COLOR = 7,
	B_MENU_SELECTED_ITEM_TEXT_COLOR = 8
};

rgb_color ui_color(color_which which);
