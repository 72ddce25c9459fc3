// BTextView: a view that shows and edits UTF-8 text (one paragraph, no styles).
//
// Contract:
// - Offsets are byte offsets into the text; the editing calls move offsets that would
//   split a UTF-8 character to its start, and clamp them to the text.
// - KeyDown() edits for the user: printable characters replace the selection, backspace
//   and delete remove the selection or one character, the arrows, Home and End move the
//   caret; Command-A selects all, Command-C/X/V copy, cut and paste through the process's
//   clipboard. Enter and Tab are not inserted (the owner, or the window's navigation, acts
//   on them) unless the view takes them (SetTabWidth is not modelled).
// - Changes made through the API are the program's own; IsModified() tells whether the
//   user has edited since the last SetText() or ClearModified().
// - Used on the window's thread, or with the window locked.
#pragma once

#include <View.h>

#include <string>

class BTextView : public BView {
public:
	BTextView(BRect frame, const char* name, BRect textRect, uint32 resizingMode,
		uint32 flags);
	virtual ~BTextView();

	virtual void Draw(BRect updateRect);
	virtual void MouseDown(BPoint where);
	virtual void KeyDown(const char* bytes, int32 numBytes);
	virtual void MakeFocus(bool focus = true);

	void SetText(const char* text);
	void SetText(const char* text, int32 length);
	const char* Text() const { return fText.c_str(); }
	int32 TextLength() const { return static_cast<int32>(fText.size()); }
	// Copies at most length bytes from offset into buffer, NUL-terminated (buffer holds
	// length + 1 bytes).
	void GetText(int32 offset, int32 length, char* buffer) const;
	uint8 ByteAt(int32 offset) const;

	void Insert(const char* text);
	void Insert(const char* text, int32 length);
	void Insert(int32 offset, const char* text, int32 length);
	// Deletes the selection.
	void Delete();
	void Delete(int32 startOffset, int32 endOffset);

	void Select(int32 startOffset, int32 endOffset);
	void SelectAll();
	void GetSelection(int32* startOffset, int32* endOffset) const;

	void MakeEditable(bool editable = true) { fEditable = editable; }
	bool IsEditable() const { return fEditable; }
	void MakeSelectable(bool selectable = true) { fSelectable = selectable; }
	bool IsSelectable() const { return fSelectable; }
	void SetAlignment(alignment flag) { fAlignment = flag; }
	alignment Alignment() const { return fAlignment; }
	void SetWordWrap(bool wrap) { fWordWrap = wrap; }
	bool DoesWordWrap() const { return fWordWrap; }

	void SetTextRect(BRect rect) { fTextRect = rect; }
	BRect TextRect() const { return fTextRect; }

	bool IsModified() const { return fModified; }
	void ClearModified() { fModified = false; }

	void Cut();
	void Copy() const;
	void Paste();

protected:
	// Called after every change by the user (typing, deleting, pasting).
	virtual void UserChanged() {}

private:
	int32 _Clamp(int32 offset) const;
	int32 _PreviousChar(int32 offset) const;
	int32 _NextChar(int32 offset) const;
	void _UserReplace(const char* text, int32 length);

	std::string fText;
	int32 fSelStart;
	int32 fSelEnd;
	BRect fTextRect;
	alignment fAlignment;
	bool fEditable;
	bool fSelectable;
	bool fWordWrap;
	bool fModified;
};
