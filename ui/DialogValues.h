// What the two setup dialogs make of typed text, and the checks they apply before they
// answer: pure functions, text in and value or verdict out, shared by the windows and the
// hooks and called by tests without a window.
//
// Names here are driver-side helpers and snake_case.
#pragma once

#include <DeviceModel.h>
#include <SupportDefs.h>

#include <string>

class BMessage;

// Key filters

// The rule both dialogs' key filters share for a B_KEY_DOWN message: true when the key goes
// through — any Command-key combination, a message without "bytes", a digit, backspace, tab,
// enter or an arrow key. Otherwise false, with the first byte of "bytes" (signed, so every
// character beyond ASCII is negative) in *key for the filter to decide on.
bool number_key_passes(const BMessage* message, int8* key);

// Page setup

// Rows of the paper table: the device model's papers, then "Other".
inline constexpr int8 kPaperRowCount = device::kPaperCount + 1;
inline constexpr int8 kOtherPaperRow = device::kOtherPaperRow;

// The value of a page setup field: its whole text read as a decimal (leading blanks skipped,
// the longest decimal prefix taken), 0 when it holds no number.
double entry_value(const char* text);

// A "%f" or table text without the trailing zeros it does not need: "8.500000" -> "8.5",
// "100.000000" -> "100.0", "0.000000" -> "0.0".
std::string trimmed_decimal(const char* text);

// The paper row a stored "prevous_settings" stands for: the row itself when it is one of the
// table's, "Other" for anything else, so that nothing reads outside the table.
int8 paper_row(int8 stored);

// Whether one page setup entry (a height, width or scaling) can be confirmed: a positive
// number that stays finite as the float it is stored as. Zero (and no number) is the
// dialog's own refusal; a negative or endless value can only come by paste and would make
// the page rectangles meaningless.
bool page_entry_valid(double value);

// The row OK remembers: paper_index when the entered height and width equal that row's
// sizes, else "Other".
int8 remembered_paper_row(int8 paper_index, double height, double width);

// The preview's page: its shown size with the longer side 100 pixels, and where it sits,
// centred in the 110-pixel square of its box.
struct PreviewShape {
	float width;
	float height;
	float left;
	float top;
};

// False, leaving shape alone, when height or width is not a positive finite number (a zero
// from "Other", a field being edited): the preview then keeps the shape it had.
bool preview_shape(float height, float width, PreviewShape* shape);

// The preview letter's font size for a page of the given shown size and scaling; false when
// that size would be no size at all (a zero, negative or endless scaling).
bool preview_letter_size(float shownWidth, float shownHeight, float scaling, float* size);

// Job setup

// The number in a job setup field: its text read as a base-10 integer (leading blanks and a
// sign allowed, digits up to the first other character), 0 without digits. Saturates at
// the ends of long long rather than wrapping.
long long entry_number(const char* text);

// Whether a copies, from or to number can be written: 1 up to what a signed 16-bit field
// holds. Zero is the dialog's own refusal; a negative number or one that the field would
// wrap into another is refused the same way.
bool job_number_valid(long long value);

// The OK check of the job setup: copies valid and, for a page range, from and to valid with
// from not after to.
bool job_entries_valid(long long copies, bool pageRange, long long from, long long to);

// Dots per inch for a "quality_type": 300, 150 or 75 for 0, 1 or 2. A missing index or one
// outside the table gives 300, the dialog's own default.
int32 resolution_for_quality(bool present, int8 quality);
