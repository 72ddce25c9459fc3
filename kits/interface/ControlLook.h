// The look shared by the standard controls: colours and small drawing helpers.
#pragma once

#include <GraphicsDefs.h>
#include <Rect.h>

class BView;

extern const rgb_color kPanelColor;     // 216, 216, 216
extern const rgb_color kShadowColor;    // frames' dark edge
extern const rgb_color kDarkColor;      // frames' outline
extern const rgb_color kLightColor;     // frames' bright edge
extern const rgb_color kTextColor;
extern const rgb_color kDisabledTextColor;
extern const rgb_color kFocusColor;     // keyboard navigation

// A one-line text drawn in rect with its baseline centred vertically; align is an
// alignment value. Returns the baseline.
float draw_label(BView* view, const char* text, BRect rect, int32 align, rgb_color color);
// A sunken frame: dark top-left, bright bottom-right.
void draw_sunken_frame(BView* view, BRect rect);
// A raised frame: bright top-left, dark bottom-right.
void draw_raised_frame(BView* view, BRect rect);
