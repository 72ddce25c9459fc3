#include "ControlLook.h"

#include <InterfaceDefs.h>
#include <View.h>

const rgb_color kPanelColor = {216, 216, 216, 255};
const rgb_color kShadowColor = {152, 152, 152, 255};
const rgb_color kDarkColor = {96, 96, 96, 255};
const rgb_color kLightColor = {255, 255, 255, 255};
const rgb_color kTextColor = {0, 0, 0, 255};
const rgb_color kDisabledTextColor = {136, 136, 136, 255};
const rgb_color kFocusColor = {0, 0, 229, 255};

float draw_label(BView* view, const char* text, BRect rect, int32 align, rgb_color color)
{
	font_height height;
	view->GetFontHeight(&height);
	float baseline = rect.top
		+ ((rect.Height() + 1) + height.ascent - height.descent) / 2.0f;
	baseline = static_cast<float>(static_cast<int32>(baseline));
	if (text == NULL || text[0] == '\0')
		return baseline;
	float width = view->StringWidth(text);
	float x = rect.left;
	if (align == B_ALIGN_RIGHT)
		x = rect.right - width;
	else if (align == B_ALIGN_CENTER)
		x = rect.left + (rect.Width() - width) / 2.0f;
	view->PushState();
	view->SetHighColor(color);
	view->SetDrawingMode(B_OP_OVER);
	view->DrawString(text, BPoint(x, baseline));
	view->PopState();
	return baseline;
}

void draw_sunken_frame(BView* view, BRect rect)
{
	view->PushState();
	view->SetHighColor(kShadowColor);
	view->StrokeLine(rect.LeftBottom(), rect.LeftTop());
	view->StrokeLine(rect.LeftTop(), rect.RightTop());
	view->SetHighColor(kLightColor);
	view->StrokeLine(rect.RightTop(), rect.RightBottom());
	view->StrokeLine(rect.RightBottom(), rect.LeftBottom());
	view->PopState();
}

void draw_raised_frame(BView* view, BRect rect)
{
	view->PushState();
	view->SetHighColor(kLightColor);
	view->StrokeLine(rect.LeftBottom(), rect.LeftTop());
	view->StrokeLine(rect.LeftTop(), rect.RightTop());
	view->SetHighColor(kShadowColor);
	view->StrokeLine(rect.RightTop(), rect.RightBottom());
	view->StrokeLine(rect.RightBottom(), rect.LeftBottom());
	view->PopState();
}
