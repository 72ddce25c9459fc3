// BTextView: one paragraph of UTF-8 text with a selection, edited byte-offset-wise.
#include <TextView.h>

#include <Message.h>
#include <Window.h>

#include "ControlLook.h"
#include "DisplayPrivate.h"

#include <algorithm>
#include <cstring>

namespace {

bool is_continuation(uint8 byte)
{
	return (byte & 0xc0) == 0x80;
}

// The text of the clipboard, under the display's lock.
std::string clipboard_text()
{
	DisplayRecord& record = display_record();
	std::lock_guard<std::mutex> guard(record.lock);
	return record.clipboard;
}

void set_clipboard_text(const std::string& text)
{
	DisplayRecord& record = display_record();
	std::lock_guard<std::mutex> guard(record.lock);
	record.clipboard = text;
}

// Tab stops every 28 pixels, as wide as a few characters of the plain font.
const float kTabWidth = 28.0f;

}  // namespace

BTextView::BTextView(BRect frame, const char* name, BRect textRect, uint32 resizingMode,
	uint32 flags)
	: BView(frame, name, resizingMode, flags),
	  fSelStart(0),
	  fSelEnd(0),
	  fTextRect(textRect),
	  fAlignment(B_ALIGN_LEFT),
	  fEditable(true),
	  fSelectable(true),
	  fWordWrap(true),
	  fModified(false)
{
}

BTextView::~BTextView()
{
}

// --- Text and selection -------------------------------------------------------------------

int32 BTextView::_Clamp(int32 offset) const
{
	offset = std::clamp(offset, static_cast<int32>(0), TextLength());
	while (offset > 0 && offset < TextLength() && is_continuation(fText[offset]))
		offset--;
	return offset;
}

int32 BTextView::_PreviousChar(int32 offset) const
{
	if (offset <= 0)
		return 0;
	offset--;
	while (offset > 0 && is_continuation(fText[offset]))
		offset--;
	return offset;
}

int32 BTextView::_NextChar(int32 offset) const
{
	if (offset >= TextLength())
		return TextLength();
	offset++;
	while (offset < TextLength() && is_continuation(fText[offset]))
		offset++;
	return offset;
}

void BTextView::SetText(const char* text)
{
	SetText(text, text != NULL ? static_cast<int32>(strlen(text)) : 0);
}

void BTextView::SetText(const char* text, int32 length)
{
	fText.assign(text != NULL && length > 0 ? text : "", text != NULL && length > 0 ? length : 0);
	fSelStart = fSelEnd = TextLength();
	fModified = false;
	Invalidate();
}

void BTextView::GetText(int32 offset, int32 length, char* buffer) const
{
	if (buffer == NULL)
		return;
	offset = std::clamp(offset, static_cast<int32>(0), TextLength());
	length = std::clamp(length, static_cast<int32>(0), TextLength() - offset);
	memcpy(buffer, fText.data() + offset, length);
	buffer[length] = '\0';
}

uint8 BTextView::ByteAt(int32 offset) const
{
	if (offset < 0 || offset >= TextLength())
		return 0;
	return static_cast<uint8>(fText[offset]);
}

void BTextView::Insert(const char* text)
{
	if (text != NULL)
		Insert(text, static_cast<int32>(strlen(text)));
}

void BTextView::Insert(const char* text, int32 length)
{
	Insert(fSelStart, text, length);
}

void BTextView::Insert(int32 offset, const char* text, int32 length)
{
	if (text == NULL || length <= 0)
		return;
	length = std::min(length, static_cast<int32>(strnlen(text, length)));
	offset = _Clamp(offset);
	fText.insert(offset, text, length);
	// The caret stays behind what was inserted at it; a selection keeps its text.
	if (fSelStart >= offset)
		fSelStart += length;
	if (fSelEnd >= offset)
		fSelEnd += length;
	Invalidate();
}

void BTextView::Delete()
{
	Delete(fSelStart, fSelEnd);
}

void BTextView::Delete(int32 startOffset, int32 endOffset)
{
	startOffset = _Clamp(startOffset);
	endOffset = _Clamp(endOffset);
	if (startOffset > endOffset)
		std::swap(startOffset, endOffset);
	if (startOffset == endOffset)
		return;
	int32 length = endOffset - startOffset;
	fText.erase(startOffset, length);
	auto moved = [&](int32 offset) {
		if (offset >= endOffset)
			return offset - length;
		return std::min(offset, startOffset);
	};
	fSelStart = moved(fSelStart);
	fSelEnd = moved(fSelEnd);
	Invalidate();
}

void BTextView::Select(int32 startOffset, int32 endOffset)
{
	startOffset = _Clamp(startOffset);
	endOffset = _Clamp(endOffset);
	if (startOffset > endOffset)
		std::swap(startOffset, endOffset);
	fSelStart = startOffset;
	fSelEnd = endOffset;
	Invalidate();
}

void BTextView::SelectAll()
{
	Select(0, TextLength());
}

void BTextView::GetSelection(int32* startOffset, int32* endOffset) const
{
	if (startOffset != NULL)
		*startOffset = fSelStart;
	if (endOffset != NULL)
		*endOffset = fSelEnd;
}

void BTextView::Cut()
{
	Copy();
	if (fEditable && fSelStart != fSelEnd)
		_UserReplace("", 0);
}

void BTextView::Copy() const
{
	if (fSelStart != fSelEnd)
		set_clipboard_text(fText.substr(fSelStart, fSelEnd - fSelStart));
}

void BTextView::Paste()
{
	if (!fEditable)
		return;
	std::string text = clipboard_text();
	// One line: a paste stops at the first line break.
	text = text.substr(0, text.find_first_of("\r\n"));
	_UserReplace(text.data(), static_cast<int32>(text.size()));
}

void BTextView::_UserReplace(const char* text, int32 length)
{
	Delete();
	Insert(text, length);
	fSelStart = fSelEnd;
	fModified = true;
	UserChanged();
}

// --- Input ------------------------------------------------------------------------------

void BTextView::MakeFocus(bool focus)
{
	if (focus == IsFocus())
		return;
	BView::MakeFocus(focus);
	Invalidate();
}

void BTextView::MouseDown(BPoint where)
{
	if (!fSelectable)
		return;
	// The caret goes to the character boundary nearest the click.
	float x = fTextRect.left;
	int32 offset = 0;
	while (offset < TextLength()) {
		int32 next = _NextChar(offset);
		float width = StringWidth(fText.data() + offset, next - offset);
		if (where.x < x + width / 2)
			break;
		x += width;
		offset = next;
	}
	Select(offset, offset);
}

void BTextView::KeyDown(const char* bytes, int32 numBytes)
{
	if (bytes == NULL || numBytes <= 0)
		return;
	int32 modifiers = 0;
	if (Window() != NULL && Window()->CurrentMessage() != NULL)
		(void)Window()->CurrentMessage()->FindInt32("modifiers", &modifiers);

	if (modifiers & B_COMMAND_KEY) {
		switch (bytes[0]) {
			case 'a': SelectAll(); break;
			case 'c': Copy(); break;
			case 'x': Cut(); break;
			case 'v': Paste(); break;
			default: break;
		}
		return;
	}

	uint8 key = static_cast<uint8>(bytes[0]);
	bool selection = fSelStart != fSelEnd;
	switch (key) {
		case B_BACKSPACE:
			if (!fEditable)
				return;
			if (!selection)
				fSelStart = _PreviousChar(fSelStart);
			if (fSelStart != fSelEnd)
				_UserReplace("", 0);
			return;
		case B_DELETE:
			if (!fEditable)
				return;
			if (!selection)
				fSelEnd = _NextChar(fSelEnd);
			if (fSelStart != fSelEnd)
				_UserReplace("", 0);
			return;
		case B_LEFT_ARROW:
			Select(selection ? fSelStart : _PreviousChar(fSelStart),
				selection ? fSelStart : _PreviousChar(fSelStart));
			return;
		case B_RIGHT_ARROW:
			Select(selection ? fSelEnd : _NextChar(fSelEnd),
				selection ? fSelEnd : _NextChar(fSelEnd));
			return;
		case B_UP_ARROW:
		case B_HOME:
			Select(0, 0);
			return;
		case B_DOWN_ARROW:
		case B_END:
			Select(TextLength(), TextLength());
			return;
		default:
			break;
	}
	// Control characters (Enter, Tab, Escape, function keys, ...) insert nothing.
	if (key < 0x20 || key == B_DELETE || !fEditable)
		return;
	_UserReplace(bytes, numBytes);
}

// --- Drawing ----------------------------------------------------------------------------

void BTextView::Draw(BRect)
{
	font_height height;
	GetFontHeight(&height);
	float lineHeight = height.ascent + height.descent + height.leading;
	float baseline = fTextRect.top + height.ascent;
	if (fTextRect.Height() < lineHeight) {
		// A one-line field lower than a line: centre the line on the field.
		baseline = fTextRect.top + (fTextRect.Height() + 1 + height.ascent - height.descent)
			/ 2.0f;
	}

	// Selection or caret first, then the text over it.
	bool showSelection = IsFocus() && fSelectable;
	float x = fTextRect.left;
	auto advance = [&](int32 from, int32 to) {
		return StringWidth(fText.data() + from, to - from);
	};
	if (showSelection && fSelStart == fSelEnd && fEditable
		&& fText.find('\n') == std::string::npos) {
		float caret = x + advance(0, fSelStart);
		SetHighColor(kTextColor);
		StrokeLine(BPoint(caret, baseline - height.ascent),
			BPoint(caret, baseline + height.descent));
	} else if (showSelection && fSelStart != fSelEnd
		&& fText.find('\n') == std::string::npos) {
		float left = x + advance(0, fSelStart);
		float right = x + advance(0, fSelEnd);
		SetHighColor(kShadowColor);
		FillRect(BRect(left, baseline - height.ascent, right - 1, baseline + height.descent));
	}

	SetHighColor(kTextColor);
	SetDrawingMode(B_OP_OVER);
	size_t start = 0;
	while (start <= fText.size()) {
		size_t end = fText.find('\n', start);
		std::string line = fText.substr(start, end == std::string::npos ? end : end - start);
		float penX = fTextRect.left;
		size_t piece = 0;
		while (piece <= line.size()) {
			size_t tab = line.find('\t', piece);
			std::string part = line.substr(piece, tab == std::string::npos ? tab : tab - piece);
			if (!part.empty()) {
				DrawString(part.c_str(), BPoint(penX, baseline));
				penX += StringWidth(part.c_str());
			}
			if (tab == std::string::npos)
				break;
			float column = penX - fTextRect.left;
			penX = fTextRect.left + (static_cast<int32>(column / kTabWidth) + 1) * kTabWidth;
			piece = tab + 1;
		}
		if (end == std::string::npos)
			break;
		baseline += lineHeight;
		start = end + 1;
	}
	SetDrawingMode(B_OP_COPY);
}
