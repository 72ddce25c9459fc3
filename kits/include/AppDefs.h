// Message codes ("what" values) that the application and interface kits send and
// understand. They are four-character constants, like type codes.
#pragma once

#include <SupportDefs.h>

enum {
	// Keyboard and mouse
	B_KEY_DOWN = '_KYD',
	B_KEY_UP = '_KYU',
	B_UNMAPPED_KEY_DOWN = '_UKD',
	B_UNMAPPED_KEY_UP = '_UKU',
	B_MODIFIERS_CHANGED = '_MCH',
	B_MOUSE_DOWN = '_MDN',
	B_MOUSE_UP = '_MUP',
	B_MOUSE_MOVED = '_MMV',

	// Loopers, windows and applications
	B_QUIT_REQUESTED = '_QRQ',
	B_CLOSE_REQUESTED = '_QRQ',
	B_CANCEL = '_CNC',
	B_WINDOW_ACTIVATED = '_ACT',
	B_APP_ACTIVATED = '_ACT',
	B_READY_TO_RUN = '_RTR',
	B_PULSE = '_PUL',

	// Controls and data
	B_VALUE_CHANGED = '_VCH',
	B_SIMPLE_DATA = 'DATA',
	B_CONTROL_INVOKED = 'CIVK',

	// Replies
	B_NO_REPLY = 'NONE',
	B_REPLY = 'RPLY',
	B_MESSAGE_NOT_UNDERSTOOD = 'MNOT'
};
