#include <StringView.h>

#include "ControlLook.h"

#include <cstdlib>
#include <cstring>

BStringView::BStringView(BRect frame, const char* name, const char* text, uint32 resizingMode,
	uint32 flags)
	: BView(frame, name, resizingMode, flags),
	  fText(text != NULL ? strdup(text) : NULL),
	  fAlign(B_ALIGN_LEFT)
{
	SetViewColor(kPanelColor);
	SetLowColor(kPanelColor);
}

BStringView::~BStringView()
{
	free(fText);
}

void BStringView::SetText(const char* text)
{
	free(fText);
	fText = text != NULL ? strdup(text) : NULL;
	Invalidate();
}

void BStringView::SetAlignment(alignment flag)
{
	fAlign = flag;
	Invalidate();
}

void BStringView::Draw(BRect)
{
	draw_label(this, fText, Bounds(), fAlign, HighColor());
}
