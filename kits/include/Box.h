// BBox: a view that frames and groups other views, with an optional label in its top
// border. A box one pixel high or wide draws as a separator line.
#pragma once

#include <View.h>

class BBox : public BView {
public:
	BBox(BRect frame, const char* name = NULL,
		uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
		uint32 flags = B_WILL_DRAW | B_FRAME_EVENTS | B_NAVIGABLE_JUMP,
		border_style border = B_FANCY_BORDER);
	virtual ~BBox();

	virtual void Draw(BRect updateRect);

	void SetBorder(border_style border);
	border_style Border() const { return fBorder; }
	void SetLabel(const char* label);
	const char* Label() const { return fLabel; }

private:
	char* fLabel;
	border_style fBorder;
};
