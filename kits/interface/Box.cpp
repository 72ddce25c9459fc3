#include <Box.h>

#include "ControlLook.h"

#include <cstdlib>
#include <cstring>

BBox::BBox(BRect frame, const char* name, uint32 resizingMode, uint32 flags,
	border_style border)
	: BView(frame, name, resizingMode, flags | B_FRAME_EVENTS),
	  fLabel(NULL),
	  fBorder(border)
{
	SetViewColor(kPanelColor);
	SetLowColor(kPanelColor);
}

BBox::~BBox()
{
	free(fLabel);
}

void BBox::SetBorder(border_style border)
{
	fBorder = border;
	Invalidate();
}

void BBox::SetLabel(const char* label)
{
	free(fLabel);
	fLabel = label != NULL ? strdup(label) : NULL;
	Invalidate();
}

void BBox::Draw(BRect)
{
	BRect bounds = Bounds();
	font_height height;
	GetFontHeight(&height);
	// With a label the frame's top edge runs through the label's middle.
	BRect frame = bounds;
	if (fLabel != NULL)
		frame.top += static_cast<float>(static_cast<int32>((height.ascent + height.descent) / 2));

	if (fBorder == B_FANCY_BORDER) {
		if (frame.Height() < 1 || frame.Width() < 1) {
			// A separator line: a groove of a dark and a bright line where there is room.
			SetHighColor(kShadowColor);
			StrokeLine(frame.LeftTop(), frame.RightTop());
			if (frame.Height() >= 1) {
				SetHighColor(kLightColor);
				StrokeLine(frame.LeftBottom(), frame.RightBottom());
			}
		} else {
			BRect outer = frame;
			outer.right -= 1;
			outer.bottom -= 1;
			SetHighColor(kShadowColor);
			StrokeRect(outer);
			SetHighColor(kLightColor);
			StrokeRect(outer.OffsetByCopy(1, 1));
		}
	} else if (fBorder == B_PLAIN_BORDER) {
		SetHighColor(kShadowColor);
		StrokeRect(frame);
	}

	if (fLabel != NULL) {
		float width = StringWidth(fLabel);
		BRect back(bounds.left + 8, bounds.top, bounds.left + 14 + width,
			bounds.top + height.ascent + height.descent);
		SetHighColor(ViewColor());
		FillRect(back);
		draw_label(this, fLabel, back.InsetByCopy(3, 0), B_ALIGN_LEFT, kTextColor);
	}
}
