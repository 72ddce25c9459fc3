#include <View.h>

#include <Bitmap.h>
#include <Polygon.h>
#include <Region.h>
#include <Shape.h>
#include <Window.h>

#include "BitmapPrivate.h"
#include "ColorConversion.h"
#include "FontCache.h"
#include "PictureOps.h"
#include "ViewPainter.h"
#include "ViewState.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace {

std::string sanitize_utf8(const char* string, int32 length)
{
	std::string text;
	if (string == NULL || length <= 0)
		return text;
	length = static_cast<int32>(strnlen(string, length));
	text.reserve(length);
	const uint8* bytes = reinterpret_cast<const uint8*>(string);
	for (int32 i = 0; i < length;) {
		uint8 lead = bytes[i];
		int32 size = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xe ? 3
			: (lead >> 3) == 0x1e ? 4 : 0;
		bool valid = size > 0 && i + size <= length;
		for (int32 k = 1; valid && k < size; k++)
			valid = (bytes[i + k] & 0xc0) == 0x80;
		if (!valid) {
			text += '?';
			i++;
			continue;
		}
		text.append(string + i, size);
		i += size;
	}
	return text;
}

} // namespace


// --- BView: construction and tree ------------------------------------------------------

BView::BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags)
	:
	BHandler(name),
	fFrame(frame),
	fResizingMode(resizingMode),
	fFlags(flags),
	fParent(NULL),
	fBitmap(NULL),
	fWindow(NULL),
	fStates(new ViewStateStack),
	fViewColor(make_color(255, 255, 255)),
	fDirty(new BRegion),
	fHideLevel(0),
	fIsFocus(false),
	fRecorder(NULL),
	fRecordedPicture(NULL)
{
}

BView::~BView()
{
	if (fParent != NULL)
		fParent->RemoveChild(this);
	else if (fBitmap != NULL)
		fBitmap->RemoveChild(this);
	while (!fChildren.empty()) {
		BView* child = fChildren.back();
		RemoveChild(child);
		delete child;
	}
	_EndRecording();
	delete fDirty;
	delete fStates;
}

void BView::Draw(BRect)
{
}

void BView::DrawAfterChildren(BRect)
{
}

void BView::FrameMoved(BPoint)
{
}

void BView::FrameResized(float, float)
{
}

void BView::MouseDown(BPoint)
{
}

void BView::MouseUp(BPoint)
{
}

void BView::MouseMoved(BPoint, uint32, const BMessage*)
{
}

void BView::KeyDown(const char*, int32)
{
}

void BView::KeyUp(const char*, int32)
{
}

void BView::MakeFocus(bool focus)
{
	if (fWindow != NULL)
		fWindow->_SetFocus(this, focus);
	else
		fIsFocus = focus;
}

void BView::AddChild(BView* child, BView* before)
{
	if (child == NULL || child == this || child->fParent != NULL || child->fBitmap != NULL)
		return;
	for (BView* ancestor = this; ancestor != NULL; ancestor = ancestor->fParent)
		if (ancestor == child)
			return;
	auto position = std::find(fChildren.begin(), fChildren.end(), before);
	fChildren.insert(position, child);
	child->fParent = this;
	child->_SetTarget(fBitmap);
	if (fWindow != NULL)
		fWindow->_Attached(child);
}

bool BView::RemoveChild(BView* child)
{
	auto found = std::find(fChildren.begin(), fChildren.end(), child);
	if (child == NULL || found == fChildren.end())
		return false;
	if (child->fWindow != NULL)
		child->fWindow->_Detached(child);
	fChildren.erase(found);
	child->fParent = NULL;
	child->_SetTarget(NULL);
	return true;
}

bool BView::RemoveSelf()
{
	if (fParent != NULL)
		return fParent->RemoveChild(this);
	if (fBitmap != NULL)
		return fBitmap->RemoveChild(this);
	return false;
}

int32 BView::CountChildren() const
{
	return static_cast<int32>(fChildren.size());
}

BView* BView::ChildAt(int32 index) const
{
	if (index < 0 || index >= CountChildren())
		return NULL;
	return fChildren[index];
}

BView* BView::NextSibling() const
{
	if (fParent == NULL)
		return NULL;
	auto found = std::find(fParent->fChildren.begin(), fParent->fChildren.end(), this);
	if (found == fParent->fChildren.end() || found + 1 == fParent->fChildren.end())
		return NULL;
	return *(found + 1);
}

BView* BView::PreviousSibling() const
{
	if (fParent == NULL)
		return NULL;
	auto found = std::find(fParent->fChildren.begin(), fParent->fChildren.end(), this);
	if (found == fParent->fChildren.end() || found == fParent->fChildren.begin())
		return NULL;
	return *(found - 1);
}

BView* BView::FindView(const char* name) const
{
	if (name == NULL)
		return NULL;
	for (BView* child : fChildren) {
		if (child->Name() != NULL && strcmp(child->Name(), name) == 0)
			return child;
		if (BView* found = child->FindView(name))
			return found;
	}
	return NULL;
}

void BView::_SetTarget(BBitmap* bitmap)
{
	fBitmap = bitmap;
	for (BView* child : fChildren)
		child->_SetTarget(bitmap);
	geometry_changed();
}

// --- BView: geometry and updates ---------------------------------------------------------

namespace {

// A view of a window that moves, changes size, hides or shows leaves or takes an area of its
// parent, which draws there again (and the views under it), as the platform's display does.
// Views drawing into a bitmap of their own have nothing on screen to mend.
void invalidate_in_parent(BView* view, BRect area)
{
	if (view->Window() != NULL && view->Parent() != NULL)
		view->Parent()->Invalidate(area);
}

}  // namespace

BRect BView::Bounds() const
{
	return BRect(0, 0, fFrame.Width(), fFrame.Height());
}

void BView::MoveBy(float dx, float dy)
{
	MoveTo(fFrame.left + dx, fFrame.top + dy);
}

void BView::MoveTo(BPoint where)
{
	MoveTo(where.x, where.y);
}

void BView::MoveTo(float x, float y)
{
	if (!std::isfinite(x) || !std::isfinite(y) || (x == fFrame.left && y == fFrame.top))
		return;
	BRect old = fFrame;
	fFrame.OffsetTo(x, y);
	invalidate_in_parent(this, old | fFrame);
	geometry_changed();
	if (fFlags & B_FRAME_EVENTS)
		FrameMoved(fFrame.LeftTop());
}

void BView::ResizeBy(float dx, float dy)
{
	ResizeTo(fFrame.Width() + dx, fFrame.Height() + dy);
}

void BView::ResizeTo(float width, float height)
{
	if (!std::isfinite(width) || !std::isfinite(height)
		|| (width == fFrame.Width() && height == fFrame.Height()))
		return;
	BRect old = fFrame;
	fFrame.right = fFrame.left + width;
	fFrame.bottom = fFrame.top + height;
	invalidate_in_parent(this, old | fFrame);
	geometry_changed();
	if (fFlags & B_FULL_UPDATE_ON_RESIZE)
		Invalidate();
	if (fFlags & B_FRAME_EVENTS)
		FrameResized(width, height);
}

void BView::ConvertToParent(BPoint* point) const
{
	if (point != NULL)
		*point += fFrame.LeftTop();
}

BPoint BView::ConvertToParent(BPoint point) const
{
	return point + fFrame.LeftTop();
}

void BView::ConvertFromParent(BPoint* point) const
{
	if (point != NULL)
		*point -= fFrame.LeftTop();
}

BPoint BView::ConvertFromParent(BPoint point) const
{
	return point - fFrame.LeftTop();
}

BRect BView::ConvertToParent(BRect rect) const
{
	return rect.OffsetByCopy(fFrame.left, fFrame.top);
}

BRect BView::ConvertFromParent(BRect rect) const
{
	return rect.OffsetByCopy(-fFrame.left, -fFrame.top);
}

void BView::ConvertToScreen(BPoint* point) const
{
	for (const BView* view = this; view != NULL; view = view->fParent)
		view->ConvertToParent(point);
	if (fWindow != NULL)
		fWindow->ConvertToScreen(point);
}

BPoint BView::ConvertToScreen(BPoint point) const
{
	ConvertToScreen(&point);
	return point;
}

void BView::ConvertFromScreen(BPoint* point) const
{
	BPoint origin(0, 0);
	ConvertToScreen(&origin);
	point->x -= origin.x;
	point->y -= origin.y;
}

BPoint BView::ConvertFromScreen(BPoint point) const
{
	ConvertFromScreen(&point);
	return point;
}

BRect BView::ConvertToScreen(BRect rect) const
{
	BPoint offset = ConvertToScreen(BPoint(0, 0));
	rect.OffsetBy(offset.x, offset.y);
	return rect;
}

BRect BView::ConvertFromScreen(BRect rect) const
{
	BPoint offset = ConvertToScreen(BPoint(0, 0));
	rect.OffsetBy(-offset.x, -offset.y);
	return rect;
}

void BView::Hide()
{
	fHideLevel++;
	if (fHideLevel == 1)
		invalidate_in_parent(this, fFrame);
	geometry_changed();
}

void BView::Show()
{
	if (fHideLevel > 0)
		fHideLevel--;
	if (fHideLevel == 0)
		invalidate_in_parent(this, fFrame);
	geometry_changed();
}

void BView::Invalidate()
{
	Invalidate(Bounds());
}

void BView::Invalidate(BRect rect)
{
	if (!(fFlags & B_WILL_DRAW) && fChildren.empty())
		return;
	rect = rect & Bounds();
	if (!rect.IsValid())
		return;
	fDirty->Include(rect);
	// Children under the area draw again too, as they would after their parent.
	for (BView* child : fChildren)
		child->Invalidate(child->ConvertFromParent(rect));
}

void BView::Invalidate(const BRegion* region)
{
	if (region == NULL)
		return;
	for (int32 i = 0; i < region->CountRects(); i++)
		Invalidate(region->RectAt(i));
}

bool BView::NeedsUpdate() const
{
	if (fDirty->CountRects() > 0)
		return true;
	for (const BView* child : fChildren)
		if (child->NeedsUpdate())
			return true;
	return false;
}

void BView::UpdateIfNeeded()
{
	if (IsHidden())
		return;
	std::vector<DeviceRect> update;
	BRect updateRect;
	if (fDirty->CountRects() > 0) {
		BRegion dirty(*fDirty);
		fDirty->MakeEmpty();
		updateRect = dirty.Frame();
		if ((fFlags & B_WILL_DRAW) && fBitmap != NULL) {
			// The update is clipped to the dirty area, in device pixels.
			double x, y;
			ViewPainter::Offset(this, &x, &y);
			for (int32 i = 0; i < dirty.CountRects(); i++) {
				clipping_rect rect = dirty.RectAtInt(i);
				int32 left, right, top, bottom;
				pixel_span(x + rect.left, x + rect.right + 1.0, &left, &right);
				pixel_span(y + rect.top, y + rect.bottom + 1.0, &top, &bottom);
				update.push_back(DeviceRect{left, top, right, bottom});
			}
		}
	}
	auto draw_clipped = [&](bool before) {
		fStates->updateClip = update;
		fStates->clipValid = false;
		if (before) {
			DeviceRect frame;
			const std::vector<DeviceRect>& clip = ViewPainter::DeviceClip(this, &frame);
			if (fViewColor != B_TRANSPARENT_COLOR && !clip.empty())
				fBitmap->Private()->FillSolid(frame, &clip, fViewColor);
			Draw(updateRect);
		} else {
			DrawAfterChildren(updateRect);
		}
		fStates->updateClip.reset();
		fStates->clipValid = false;
	};
	if (!update.empty())
		draw_clipped(true);
	for (BView* child : fChildren)
		child->UpdateIfNeeded();
	if (!update.empty())
		draw_clipped(false);
}

// --- BView: drawing state ------------------------------------------------------------------
//
// Every setter changes the state and, while a picture is being recorded, tells the recorder.

void BView::_StateChanged()
{
	fStates->clipValid = false;
}

void BView::_Recombine()
{
	std::vector<ViewState>& states = fStates->states;
	ViewState& top = states.back();
	if (states.size() == 1) {
		top.originX = top.origin.x;
		top.originY = top.origin.y;
		top.totalScale = top.scale;
	} else {
		const ViewState& below = states[states.size() - 2];
		top.originX = below.originX + top.origin.x * below.totalScale;
		top.originY = below.originY + top.origin.y * below.totalScale;
		top.totalScale = below.totalScale * top.scale;
	}
	_StateChanged();
}

void BView::SetHighColor(rgb_color color)
{
	fStates->Top().high = color;
	if (fRecorder != NULL)
		fRecorder->SetHighColor(color);
}

void BView::SetHighColor(uint8 red, uint8 green, uint8 blue, uint8 alpha)
{
	SetHighColor(make_color(red, green, blue, alpha));
}

rgb_color BView::HighColor() const
{
	return fStates->Top().high;
}

void BView::SetLowColor(rgb_color color)
{
	fStates->Top().low = color;
	if (fRecorder != NULL)
		fRecorder->SetLowColor(color);
}

void BView::SetLowColor(uint8 red, uint8 green, uint8 blue, uint8 alpha)
{
	SetLowColor(make_color(red, green, blue, alpha));
}

rgb_color BView::LowColor() const
{
	return fStates->Top().low;
}

void BView::SetViewColor(uint8 red, uint8 green, uint8 blue, uint8 alpha)
{
	SetViewColor(make_color(red, green, blue, alpha));
}

void BView::SetPenSize(float size)
{
	if (!std::isfinite(size) || size < 0)
		return;
	fStates->Top().penSize = size;
	if (fRecorder != NULL)
		fRecorder->SetPenSize(size);
}

float BView::PenSize() const
{
	return fStates->Top().penSize;
}

void BView::MovePenTo(BPoint point)
{
	fStates->Top().pen = point;
	if (fRecorder != NULL)
		fRecorder->SetPenLocation(point);
}

void BView::MovePenTo(float x, float y)
{
	MovePenTo(BPoint(x, y));
}

void BView::MovePenBy(float dx, float dy)
{
	fStates->Top().pen += BPoint(dx, dy);
	if (fRecorder != NULL)
		fRecorder->MovePenBy(BPoint(dx, dy));
}

BPoint BView::PenLocation() const
{
	return fStates->Top().pen;
}

void BView::SetDrawingMode(drawing_mode mode)
{
	if (mode < B_OP_COPY || mode > B_OP_ALPHA)
		return;
	fStates->Top().mode = mode;
	if (fRecorder != NULL)
		fRecorder->SetDrawingMode(mode);
}

drawing_mode BView::DrawingMode() const
{
	return fStates->Top().mode;
}

void BView::SetBlendingMode(source_alpha srcAlpha, alpha_function alphaFunc)
{
	fStates->Top().sourceAlpha = srcAlpha;
	fStates->Top().alphaFunction = alphaFunc;
	if (fRecorder != NULL)
		fRecorder->SetBlendingMode(srcAlpha, alphaFunc);
}

void BView::GetBlendingMode(source_alpha* srcAlpha, alpha_function* alphaFunc) const
{
	if (srcAlpha != NULL)
		*srcAlpha = fStates->Top().sourceAlpha;
	if (alphaFunc != NULL)
		*alphaFunc = fStates->Top().alphaFunction;
}

void BView::SetLineMode(cap_mode lineCap, join_mode lineJoin, float miterLimit)
{
	ViewState& state = fStates->Top();
	state.cap = lineCap;
	state.join = lineJoin;
	if (std::isfinite(miterLimit) && miterLimit >= 0)
		state.miterLimit = miterLimit;
	if (fRecorder != NULL)
		fRecorder->SetLineMode(state.cap, state.join, state.miterLimit);
}

cap_mode BView::LineCapMode() const
{
	return fStates->Top().cap;
}

join_mode BView::LineJoinMode() const
{
	return fStates->Top().join;
}

float BView::LineMiterLimit() const
{
	return fStates->Top().miterLimit;
}

void BView::SetOrigin(BPoint origin)
{
	if (!std::isfinite(origin.x) || !std::isfinite(origin.y))
		return;
	fStates->Top().origin = origin;
	_Recombine();
	if (fRecorder != NULL)
		fRecorder->SetOrigin(origin);
}

void BView::SetOrigin(float x, float y)
{
	SetOrigin(BPoint(x, y));
}

BPoint BView::Origin() const
{
	return fStates->Top().origin;
}

void BView::SetScale(float scale)
{
	if (!std::isfinite(scale) || scale <= 0)
		return;
	fStates->Top().scale = scale;
	_Recombine();
	if (fRecorder != NULL)
		fRecorder->SetScale(scale);
}

float BView::Scale() const
{
	return fStates->Top().scale;
}

void BView::ConstrainClippingRegion(BRegion* region)
{
	ViewState& state = fStates->Top();
	if (region != NULL)
		state.clipping = *region;
	else
		state.clipping.reset();
	_StateChanged();
	if (fRecorder == NULL)
		return;
	if (region == NULL) {
		fRecorder->ClearClipping();
		return;
	}
	std::vector<clipping_rect> rects;
	for (int32 i = 0; i < region->CountRects(); i++)
		rects.push_back(region->RectAtInt(i));
	clipping_rect frame = region->FrameInt();
	if (rects.empty()) {
		// An empty region clips everything away: a frame that holds no pixel.
		frame = clipping_rect{0, 0, -1, -1};
		rects.push_back(frame);
	}
	fRecorder->SetClippingRects(frame, rects.data(), static_cast<int32>(rects.size()));
}

void BView::GetClippingRegion(BRegion* region) const
{
	if (region == NULL)
		return;
	region->MakeEmpty();
	if (fBitmap == NULL) {
		const ViewState& state = fStates->Top();
		if (state.clipping)
			*region = *state.clipping;
		return;
	}
	DeviceRect frame;
	const std::vector<DeviceRect>& clip
		= ViewPainter::DeviceClip(const_cast<BView*>(this), &frame);
	const ViewState& state = fStates->Top();
	double x, y;
	ViewPainter::Offset(this, &x, &y);
	double ox = x + state.originX;
	double oy = y + state.originY;
	double s = state.totalScale;
	for (const DeviceRect& rect : clip) {
		// Back into this level's coordinates, whole units covering the pixels.
		region->Include(BRect(std::floor((rect.left - ox) / s), std::floor((rect.top - oy) / s),
			std::ceil((rect.right - ox) / s) - 1, std::ceil((rect.bottom - oy) / s) - 1));
	}
}

void BView::SetFont(const BFont* font, uint32 mask)
{
	if (font == NULL)
		return;
	BFont& current = fStates->Top().font;
	if (mask & B_FONT_FAMILY_AND_STYLE) {
		font_family family;
		font_style style;
		font->GetFamilyAndStyle(&family, &style);
		current.SetFamilyAndStyle(family, style);
	}
	if (mask & B_FONT_SIZE)
		current.SetSize(font->Size());
	if (mask & B_FONT_SHEAR)
		current.SetShear(font->Shear());
	if (mask & B_FONT_ROTATION)
		current.SetRotation(font->Rotation());
	if (mask & B_FONT_SPACING)
		current.SetSpacing(font->Spacing());
	if (mask & B_FONT_ENCODING)
		current.SetEncoding(font->Encoding());
	if (mask & B_FONT_FACE)
		current.fFace = font->Face();
	if (mask & B_FONT_FLAGS)
		current.SetFlags(font->Flags());
	if (fRecorder == NULL)
		return;
	fRecorder->EnterFontState();
	if (mask & B_FONT_FAMILY_AND_STYLE) {
		fRecorder->SetFontFamily(current.fFamily);
		fRecorder->SetFontStyle(current.fStyle);
	}
	if (mask & B_FONT_SPACING)
		fRecorder->SetFontSpacing(current.Spacing());
	if (mask & B_FONT_ENCODING)
		fRecorder->SetFontEncoding(current.Encoding());
	if (mask & B_FONT_FLAGS)
		fRecorder->SetFontFlags(current.Flags());
	if (mask & B_FONT_SIZE)
		fRecorder->SetFontSize(current.Size());
	if (mask & B_FONT_ROTATION)
		fRecorder->SetFontRotation(current.Rotation());
	if (mask & B_FONT_SHEAR)
		fRecorder->SetFontShear(current.Shear());
	if (mask & B_FONT_FACE)
		fRecorder->SetFontFace(current.Face());
	fRecorder->ExitFontState();
}

void BView::GetFont(BFont* font) const
{
	if (font != NULL)
		*font = fStates->Top().font;
}

void BView::SetFontSize(float size)
{
	BFont font;
	font.SetSize(size);
	SetFont(&font, B_FONT_SIZE);
}

void BView::ForceFontAliasing(bool enable)
{
	fStates->Top().forceAliasing = enable;
}

float BView::StringWidth(const char* string) const
{
	return fStates->Top().font.StringWidth(string);
}

float BView::StringWidth(const char* string, int32 length) const
{
	return fStates->Top().font.StringWidth(string, length);
}

void BView::GetFontHeight(font_height* height) const
{
	fStates->Top().font.GetHeight(height);
}

void BView::PushState()
{
	std::vector<ViewState>& states = fStates->states;
	// A runaway picture must not grow the stack without bound.
	if (states.size() >= 1024) {
		fStates->overflow++;
		return;
	}
	// Copied without the region: the new level starts with no clipping of its own.
	std::optional<BRegion> clipping = std::move(states.back().clipping);
	states.back().clipping.reset();
	ViewState level = states.back();
	states.back().clipping = std::move(clipping);
	level.origin = BPoint(0, 0);
	level.scale = 1.0f;
	level.clipping.reset();
	states.push_back(std::move(level));
	_Recombine();
	if (fRecorder != NULL)
		fRecorder->PushState();
}

void BView::PopState()
{
	std::vector<ViewState>& states = fStates->states;
	if (fStates->overflow > 0) {
		fStates->overflow--;
		return;
	}
	if (states.size() <= 1)
		return;
	states.pop_back();
	_StateChanged();
	if (fRecorder != NULL)
		fRecorder->PopState();
}

void BView::_SetStipple(const pattern& p)
{
	ViewState& state = fStates->Top();
	if (state.stipple == p)
		return;
	state.stipple = p;
	fRecorder->SetStipplePattern(p);
}

// --- BView: lines, rectangles, curves ---------------------------------------------------------

namespace {

bool finite_rect(const BRect& rect)
{
	return std::isfinite(rect.left) && std::isfinite(rect.top) && std::isfinite(rect.right)
		&& std::isfinite(rect.bottom);
}

bool finite_point(const BPoint& point)
{
	return std::isfinite(point.x) && std::isfinite(point.y);
}

// Adds a device point to the box; false when it is out of range.
bool add_point(Box* box, double x, double y)
{
	if (!sane(x) || !sane(y))
		return false;
	box->Add(x, y);
	return true;
}

} // namespace

void BView::StrokeLine(BPoint toPoint, pattern p)
{
	StrokeLine(PenLocation(), toPoint, p);
}

void BView::StrokeLine(BPoint start, BPoint end, pattern p)
{
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->StrokeLine(start, end);
		fStates->Top().pen = end;
		return;
	}
	fStates->Top().pen = end;
	DrawContext c;
	if (!ViewPainter::Begin(this, &c))
		return;
	double x0 = c.CX(start.x), y0 = c.CY(start.y), x1 = c.CX(end.x), y1 = c.CY(end.y);
	Box box;
	if (!add_point(&box, x0, y0) || !add_point(&box, x1, y1))
		return;
	// A thin line lights the pixels of both end points, as the platform draws it.
	bool thin = fStates->Top().penSize <= 1.0f;
	ViewPainter::Paint(c, box, p, kStroke, [&](cairo_t* cr) {
		cairo_move_to(cr, x0, y0);
		cairo_line_to(cr, x1, y1);
	}, thin);
}

void BView::StrokeRect(BRect rect, pattern p)
{
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->StrokeRect(rect);
		return;
	}
	DrawContext c;
	if (!finite_rect(rect) || !rect.IsValid() || !ViewPainter::Begin(this, &c))
		return;
	double x0 = c.CX(rect.left), y0 = c.CY(rect.top), x1 = c.CX(rect.right),
		y1 = c.CY(rect.bottom);
	Box box;
	if (!add_point(&box, x0, y0) || !add_point(&box, x1, y1))
		return;
	ViewPainter::Paint(c, box, p, kStroke, [&](cairo_t* cr) {
		cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
	}, true);
}

void BView::FillRect(BRect rect, pattern p)
{
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->FillRect(rect);
		return;
	}
	if (std::isnan(rect.left) || std::isnan(rect.top) || std::isnan(rect.right)
		|| std::isnan(rect.bottom) || !rect.IsValid())
		return;
	DrawContext c;
	if (!ViewPainter::Begin(this, &c))
		return;
	// Infinite or huge edges are clamped: the rect then reaches past the bitmap's edge.
	DeviceRect area;
	pixel_span(c.AX(rect.left), c.AX(double(rect.right) + 1), &area.left, &area.right);
	pixel_span(c.AY(rect.top), c.AY(double(rect.bottom) + 1), &area.top, &area.bottom);
	area = area.Intersect(c.frame);
	if (area.IsEmpty())
		return;
	rgb_color color;
	if (ViewPainter::SolidColor(*c.state, p, &color)) {
		c.target->FillSolid(area, c.clip, color);
		return;
	}
	const ViewState& state = *c.state;
	c.target->Render(area, c.clip, [&](cairo_t* cr) {
		if (!ViewPainter::SetSource(cr, state, p))
			return;
		cairo_rectangle(cr, area.left, area.top, area.right - area.left,
			area.bottom - area.top);
		cairo_fill(cr);
	});
}

void BView::InvertRect(BRect rect)
{
	drawing_mode mode = DrawingMode();
	SetDrawingMode(B_OP_INVERT);
	FillRect(rect);
	SetDrawingMode(mode);
}

void BView::_RoundRect(bool fill, BRect rect, float xRadius, float yRadius, const pattern& p)
{
	DrawContext c;
	if (!finite_rect(rect) || !rect.IsValid() || !std::isfinite(xRadius)
		|| !std::isfinite(yRadius) || !ViewPainter::Begin(this, &c))
		return;
	// Fills cover the rect's pixels; strokes run through the centres of its edge pixels.
	double inset = fill ? 0 : 0.5;
	double x0 = c.AX(rect.left + inset), y0 = c.AY(rect.top + inset);
	double x1 = c.AX(double(rect.right) + 1 - inset), y1 = c.AY(double(rect.bottom) + 1 - inset);
	Box box;
	if (!add_point(&box, x0, y0) || !add_point(&box, x1, y1))
		return;
	double rx = std::clamp(double(xRadius) * c.s, 0.0, (x1 - x0) / 2);
	double ry = std::clamp(double(yRadius) * c.s, 0.0, (y1 - y0) / 2);
	ViewPainter::Paint(c, box, p, fill ? kFill : kStroke, [&](cairo_t* cr) {
		if (rx <= 0 || ry <= 0) {
			cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
			return;
		}
		cairo_new_sub_path(cr);
		const double corners[4][4] = {{x1 - rx, y0 + ry, -M_PI / 2, 0},
			{x1 - rx, y1 - ry, 0, M_PI / 2}, {x0 + rx, y1 - ry, M_PI / 2, M_PI},
			{x0 + rx, y0 + ry, M_PI, 3 * M_PI / 2}};
		for (const auto& corner : corners) {
			cairo_save(cr);
			cairo_translate(cr, corner[0], corner[1]);
			cairo_scale(cr, rx, ry);
			cairo_arc(cr, 0, 0, 1, corner[2], corner[3]);
			cairo_restore(cr);
		}
		cairo_close_path(cr);
	});
}

void BView::StrokeRoundRect(BRect rect, float xRadius, float yRadius, pattern p)
{
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->StrokeRoundRect(rect, BPoint(xRadius, yRadius));
		return;
	}
	_RoundRect(false, rect, xRadius, yRadius, p);
}

void BView::FillRoundRect(BRect rect, float xRadius, float yRadius, pattern p)
{
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->FillRoundRect(rect, BPoint(xRadius, yRadius));
		return;
	}
	_RoundRect(true, rect, xRadius, yRadius, p);
}

void BView::_Arc(bool fill, BRect rect, double startAngle, double arcAngle, bool whole,
	const pattern& p)
{
	DrawContext c;
	if (!finite_rect(rect) || !rect.IsValid() || !std::isfinite(startAngle)
		|| !std::isfinite(arcAngle) || !ViewPainter::Begin(this, &c))
		return;
	double inset = fill ? 0 : 0.5;
	double x0 = c.AX(rect.left + inset), y0 = c.AY(rect.top + inset);
	double x1 = c.AX(double(rect.right) + 1 - inset), y1 = c.AY(double(rect.bottom) + 1 - inset);
	Box box;
	if (!add_point(&box, x0, y0) || !add_point(&box, x1, y1))
		return;
	double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
	double rx = (x1 - x0) / 2, ry = (y1 - y0) / 2;
	if (std::fabs(arcAngle) >= 360)
		whole = true;
	ViewPainter::Paint(c, box, p, fill ? kFill : kStroke, [&](cairo_t* cr) {
		if (rx <= 0 || ry <= 0) {
			// Degenerate: the line the ellipse collapses to.
			cairo_move_to(cr, x0, y0);
			cairo_line_to(cr, x1, y1);
			return;
		}
		if (fill && !whole)
			cairo_move_to(cr, cx, cy);
		else
			cairo_new_sub_path(cr);
		cairo_save(cr);
		cairo_translate(cr, cx, cy);
		cairo_scale(cr, rx, ry);
		// Angles run counter-clockwise on screen, where y grows downwards.
		double from = -startAngle * M_PI / 180;
		if (whole)
			cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
		else if (arcAngle >= 0)
			cairo_arc_negative(cr, 0, 0, 1, from, from - arcAngle * M_PI / 180);
		else
			cairo_arc(cr, 0, 0, 1, from, from - arcAngle * M_PI / 180);
		cairo_restore(cr);
		if (fill || whole)
			cairo_close_path(cr);
	});
}

namespace {

// The platform's centre-and-radius forms describe the rect [c - r, c + r) of pixels.
BRect rect_from_center(BPoint center, float xRadius, float yRadius)
{
	return BRect(center.x - xRadius, center.y - yRadius, center.x + xRadius - 1,
		center.y + yRadius - 1);
}

} // namespace

void BView::StrokeEllipse(BPoint center, float xRadius, float yRadius, pattern p)
{
	StrokeEllipse(rect_from_center(center, xRadius, yRadius), p);
}

void BView::StrokeEllipse(BRect rect, pattern p)
{
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->StrokeEllipse(rect);
		return;
	}
	_Arc(false, rect, 0, 360, true, p);
}

void BView::FillEllipse(BPoint center, float xRadius, float yRadius, pattern p)
{
	FillEllipse(rect_from_center(center, xRadius, yRadius), p);
}

void BView::FillEllipse(BRect rect, pattern p)
{
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->FillEllipse(rect);
		return;
	}
	_Arc(true, rect, 0, 360, true, p);
}

void BView::StrokeArc(BPoint center, float xRadius, float yRadius, float startAngle,
	float arcAngle, pattern p)
{
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->StrokeArc(center, BPoint(xRadius, yRadius), startAngle, arcAngle);
		return;
	}
	_Arc(false, rect_from_center(center, xRadius, yRadius), startAngle, arcAngle, false, p);
}

void BView::StrokeArc(BRect rect, float startAngle, float arcAngle, pattern p)
{
	StrokeArc(BPoint((rect.left + rect.right + 1) / 2, (rect.top + rect.bottom + 1) / 2),
		(rect.Width() + 1) / 2, (rect.Height() + 1) / 2, startAngle, arcAngle, p);
}

void BView::FillArc(BPoint center, float xRadius, float yRadius, float startAngle,
	float arcAngle, pattern p)
{
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->FillArc(center, BPoint(xRadius, yRadius), startAngle, arcAngle);
		return;
	}
	_Arc(true, rect_from_center(center, xRadius, yRadius), startAngle, arcAngle, false, p);
}

void BView::FillArc(BRect rect, float startAngle, float arcAngle, pattern p)
{
	FillArc(BPoint((rect.left + rect.right + 1) / 2, (rect.top + rect.bottom + 1) / 2),
		(rect.Width() + 1) / 2, (rect.Height() + 1) / 2, startAngle, arcAngle, p);
}

void BView::_PointPath(bool fill, const BPoint* points, int32 count, bool closed, bool bezier,
	const pattern& p)
{
	DrawContext c;
	if (points == NULL || count <= 0 || !ViewPainter::Begin(this, &c))
		return;
	std::vector<double> device(size_t(count) * 2);
	Box box;
	for (int32 i = 0; i < count; i++) {
		device[2 * i] = c.CX(points[i].x);
		device[2 * i + 1] = c.CY(points[i].y);
		if (!add_point(&box, device[2 * i], device[2 * i + 1]))
			return;
	}
	ViewPainter::Paint(c, box, p, fill ? kFillInclusive : kStroke, [&](cairo_t* cr) {
		cairo_move_to(cr, device[0], device[1]);
		if (bezier) {
			cairo_curve_to(cr, device[2], device[3], device[4], device[5], device[6],
				device[7]);
		} else {
			for (int32 i = 1; i < count; i++)
				cairo_line_to(cr, device[2 * i], device[2 * i + 1]);
		}
		if (closed || fill)
			cairo_close_path(cr);
	}, !fill && fStates->Top().penSize <= 1.0f);
}

void BView::StrokeBezier(BPoint* controlPoints, pattern p)
{
	if (controlPoints == NULL)
		return;
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->StrokeBezier(controlPoints);
		return;
	}
	_PointPath(false, controlPoints, 4, false, true, p);
}

void BView::FillBezier(BPoint* controlPoints, pattern p)
{
	if (controlPoints == NULL)
		return;
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->FillBezier(controlPoints);
		return;
	}
	_PointPath(true, controlPoints, 4, true, true, p);
}

void BView::_StrokePolygon(const BPoint* points, int32 count, bool closed, const pattern& p)
{
	if (points == NULL || count <= 0)
		return;
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->StrokePolygon(count, points, closed);
		return;
	}
	_PointPath(false, points, count, closed, false, p);
}

void BView::_FillPolygon(const BPoint* points, int32 count, const pattern& p)
{
	if (points == NULL || count <= 0)
		return;
	if (fRecorder != NULL) {
		_SetStipple(p);
		fRecorder->FillPolygon(count, points);
		return;
	}
	_PointPath(true, points, count, true, false, p);
}

void BView::StrokePolygon(const BPolygon* polygon, bool closed, pattern p)
{
	if (polygon != NULL)
		_StrokePolygon(polygon->Points(), polygon->CountPoints(), closed, p);
}

void BView::StrokePolygon(const BPoint* pointList, int32 numPoints, bool closed, pattern p)
{
	_StrokePolygon(pointList, numPoints, closed, p);
}

void BView::StrokePolygon(const BPoint* pointList, int32 numPoints, BRect, bool closed,
	pattern p)
{
	_StrokePolygon(pointList, numPoints, closed, p);
}

void BView::FillPolygon(const BPolygon* polygon, pattern p)
{
	if (polygon != NULL)
		_FillPolygon(polygon->Points(), polygon->CountPoints(), p);
}

void BView::FillPolygon(const BPoint* pointList, int32 numPoints, pattern p)
{
	_FillPolygon(pointList, numPoints, p);
}

void BView::FillPolygon(const BPoint* pointList, int32 numPoints, BRect, pattern p)
{
	_FillPolygon(pointList, numPoints, p);
}

void BView::StrokeTriangle(BPoint point1, BPoint point2, BPoint point3, pattern p)
{
	BPoint points[3] = {point1, point2, point3};
	_StrokePolygon(points, 3, true, p);
}

void BView::StrokeTriangle(BPoint point1, BPoint point2, BPoint point3, BRect, pattern p)
{
	StrokeTriangle(point1, point2, point3, p);
}

void BView::FillTriangle(BPoint point1, BPoint point2, BPoint point3, pattern p)
{
	BPoint points[3] = {point1, point2, point3};
	_FillPolygon(points, 3, p);
}

void BView::FillTriangle(BPoint point1, BPoint point2, BPoint point3, BRect, pattern p)
{
	FillTriangle(point1, point2, point3, p);
}

void BView::_Shape(bool fill, int32 opCount, const uint32* ops, int32 pointCount,
	const BPoint* points, const pattern& p)
{
	if (fRecorder != NULL) {
		_SetStipple(p);
		PictureShape shape{opCount, ops, pointCount, points};
		if (fill)
			fRecorder->FillShape(shape);
		else
			fRecorder->StrokeShape(shape);
		return;
	}
	int64 needed = BShape::PointsNeeded(opCount, ops);
	DrawContext c;
	if (needed <= 0 || needed > pointCount || !ViewPainter::Begin(this, &c))
		return;
	std::vector<double> device(size_t(needed) * 2);
	Box box;
	for (int64 i = 0; i < needed; i++) {
		device[2 * i] = c.CX(points[i].x);
		device[2 * i + 1] = c.CY(points[i].y);
		if (!add_point(&box, device[2 * i], device[2 * i + 1]))
			return;
	}
	ViewPainter::Paint(c, box, p, fill ? kFillInclusive : kStroke, [&](cairo_t* cr) {
		size_t next = 0;
		for (int32 i = 0; i < opCount; i++) {
			uint32 op = ops[i];
			uint32 count = op & BShape::kOpCountMask;
			if (op & BShape::kOpMoveTo) {
				cairo_move_to(cr, device[2 * next], device[2 * next + 1]);
				next++;
			}
			if (op & BShape::kOpLineTo) {
				for (uint32 k = 0; k < count; k++, next++)
					cairo_line_to(cr, device[2 * next], device[2 * next + 1]);
			} else if (op & BShape::kOpBezierTo) {
				for (uint32 k = 0; k + 3 <= count; k += 3, next += 3) {
					cairo_curve_to(cr, device[2 * next], device[2 * next + 1],
						device[2 * next + 2], device[2 * next + 3], device[2 * next + 4],
						device[2 * next + 5]);
				}
				next += count % 3;
			}
			if (op & BShape::kOpClose)
				cairo_close_path(cr);
		}
	}, !fill && fStates->Top().penSize <= 1.0f);
}

void BView::StrokeShape(BShape* shape, pattern p)
{
	if (shape != NULL)
		_Shape(false, shape->CountOps(), shape->Ops(), shape->CountPoints(), shape->Points(), p);
}

void BView::FillShape(BShape* shape, pattern p)
{
	if (shape != NULL)
		_Shape(true, shape->CountOps(), shape->Ops(), shape->CountPoints(), shape->Points(), p);
}

void BView::FillRegion(BRegion* region, pattern p)
{
	if (region == NULL)
		return;
	for (int32 i = 0; i < region->CountRects(); i++)
		FillRect(region->RectAt(i), p);
}

// --- BView: text --------------------------------------------------------------------------

void BView::DrawString(const char* string, escapement_delta* delta)
{
	if (string != NULL)
		_DrawStringAtPen(string, static_cast<int32>(strlen(string)), delta);
}

void BView::DrawString(const char* string, BPoint location, escapement_delta* delta)
{
	if (string == NULL)
		return;
	MovePenTo(location);
	_DrawStringAtPen(string, static_cast<int32>(strlen(string)), delta);
}

void BView::DrawString(const char* string, int32 length, escapement_delta* delta)
{
	_DrawStringAtPen(string, length, delta);
}

void BView::DrawString(const char* string, int32 length, BPoint location,
	escapement_delta* delta)
{
	if (string == NULL)
		return;
	MovePenTo(location);
	_DrawStringAtPen(string, length, delta);
}

void BView::DrawChar(char aChar)
{
	_DrawStringAtPen(&aChar, 1, NULL);
}

void BView::DrawChar(char aChar, BPoint location)
{
	MovePenTo(location);
	_DrawStringAtPen(&aChar, 1, NULL);
}

void BView::_DrawStringAtPen(const char* string, int32 length, const escapement_delta* delta)
{
	std::string text = sanitize_utf8(string, length);
	if (text.empty())
		return;
	ViewState& state = fStates->Top();
	escapement_delta extra = {0, 0};
	if (delta != NULL && std::isfinite(delta->nonspace) && std::isfinite(delta->space))
		extra = *delta;

	// The pen moves along the baseline by the advance, drawn or not.
	int32 characters = 0;
	int32 spaces = 0;
	for (unsigned char byte : text) {
		if ((byte & 0xc0) != 0x80)
			characters++;
		if (byte == ' ')
			spaces++;
	}
	double advance = state.font.StringWidth(text.c_str(), static_cast<int32>(text.size()))
		+ double(extra.nonspace) * (characters - spaces) + double(extra.space) * spaces;
	BPoint start = state.pen;
	double angle = state.font.Rotation() * M_PI / 180;
	state.pen.x += static_cast<float>(advance * std::cos(angle));
	state.pen.y -= static_cast<float>(advance * std::sin(angle));

	if (fRecorder != NULL) {
		fRecorder->DrawString(text.c_str(), static_cast<int32>(text.size()), extra);
		return;
	}
	DrawContext c;
	if (!finite_point(start) || state.font.Size() <= 0 || !ViewPainter::Begin(this, &c))
		return;
	double x = c.AX(start.x);
	double y = c.AY(start.y);
	double size = state.font.Size() * c.s;
	double width = std::fabs(advance) * c.s;
	if (!sane(x) || !sane(y) || !sane(width + size))
		return;

	// Cull by a generous box before any glyph work.
	Box box;
	if (state.font.Rotation() == 0) {
		box.Add(x - size, y - 1.5 * size);
		box.Add(x + width + size, y + 0.6 * size);
	} else {
		box.Add(x - width - 1.5 * size, y - width - 1.5 * size);
		box.Add(x + width + 1.5 * size, y + width + 1.5 * size);
	}
	DeviceRect area = box.Outset(2).Intersect(c.frame);
	if (area.IsEmpty())
		return;

	bool antialias = !(state.forceAliasing || (state.font.Flags() & B_DISABLE_ANTIALIASING));
	cairo_scaled_font_t* font = BPrivate::create_scaled_font(state.font, c.s, antialias);
	cairo_glyph_t* glyphs = NULL;
	int glyphCount = 0;
	cairo_status_t status = cairo_scaled_font_status(font);
	if (status == CAIRO_STATUS_SUCCESS) {
		status = cairo_scaled_font_text_to_glyphs(font, x, y, text.c_str(),
			static_cast<int>(text.size()), &glyphs, &glyphCount, NULL, NULL, NULL);
	}
	if (status == CAIRO_STATUS_SUCCESS && glyphCount > 0) {
		if (extra.nonspace != 0 || extra.space != 0) {
			// Glyphs follow characters one to one for the fonts in use.
			double shift = 0;
			const char* cursor = text.c_str();
			for (int i = 0; i < glyphCount && *cursor != '\0'; i++) {
				glyphs[i].x += shift * std::cos(angle);
				glyphs[i].y -= shift * std::sin(angle);
				shift += (*cursor == ' ' ? extra.space : extra.nonspace) * c.s;
				cursor++;
				while ((*cursor & 0xc0) == 0x80)
					cursor++;
			}
		}
		// Only the glyphs' ink is worked on, with a pixel to spare for the rasteriser.
		cairo_text_extents_t ink;
		cairo_scaled_font_glyph_extents(font, glyphs, glyphCount, &ink);
		Box inkBox;
		inkBox.Add(glyphs[0].x + ink.x_bearing, glyphs[0].y + ink.y_bearing);
		inkBox.Add(glyphs[0].x + ink.x_bearing + ink.width,
			glyphs[0].y + ink.y_bearing + ink.height);
		if (ink.width > 0 && std::isfinite(inkBox.left) && std::isfinite(inkBox.right))
			area = area.Intersect(inkBox.Outset(2));
		const ViewState& drawState = state;
		c.target->Render(area, c.clip, [&](cairo_t* cr) {
			if (!ViewPainter::SetSource(cr, drawState, B_SOLID_HIGH))
				return;
			cairo_set_scaled_font(cr, font);
			cairo_show_glyphs(cr, glyphs, glyphCount);
		});
	}
	cairo_glyph_free(glyphs);
	cairo_scaled_font_destroy(font);
}

// --- BView: bitmaps -----------------------------------------------------------------------

void BView::DrawBitmap(const BBitmap* bitmap)
{
	DrawBitmap(bitmap, PenLocation());
}

void BView::DrawBitmap(const BBitmap* bitmap, BPoint where)
{
	if (bitmap == NULL)
		return;
	BRect bounds = bitmap->Bounds();
	_DrawPixels(bitmap, bounds, bounds.OffsetToCopy(where.x, where.y));
}

void BView::DrawBitmap(const BBitmap* bitmap, BRect destRect)
{
	if (bitmap != NULL)
		_DrawPixels(bitmap, bitmap->Bounds(), destRect);
}

void BView::DrawBitmap(const BBitmap* bitmap, BRect sourceRect, BRect destRect)
{
	_DrawPixels(bitmap, sourceRect, destRect);
}

void BView::_DrawPixels(const BBitmap* bitmap, BRect sourceRect, BRect destRect)
{
	if (bitmap == NULL || bitmap->InitCheck() != B_OK || !finite_rect(sourceRect)
		|| !finite_rect(destRect) || !sourceRect.IsValid() || !destRect.IsValid())
		return;
	BRect bounds = bitmap->Bounds();
	PicturePixels pixels{sourceRect.OffsetByCopy(-bounds.left, -bounds.top), destRect,
		bitmap->fWidth, bitmap->fHeight, bitmap->BytesPerRow(), bitmap->ColorSpace(), 0,
		bitmap->Bits(), size_t(bitmap->BitsLength())};
	if (fRecorder != NULL) {
		fRecorder->DrawPixels(pixels);
		return;
	}
	_DrawPixels(pixels);
}

void BView::_DrawPixels(const PicturePixels& pixels)
{
	// The caller vouches that data holds height rows of bytesPerRow bytes in space.
	BRect sourceRect = pixels.source;
	BRect destRect = pixels.destination;
	if (pixels.data == NULL || pixels.width <= 0 || pixels.height <= 0
		|| !BPrivate::drawable_space(pixels.space) || !finite_rect(sourceRect)
		|| !finite_rect(destRect) || !sourceRect.IsValid() || !destRect.IsValid())
		return;
	DrawContext c;
	if (!ViewPainter::Begin(this, &c))
		return;

	// Source area in the bitmap's pixels, [sx0, sx1) x [sy0, sy1); a part outside the bitmap
	// is cut off, and the destination with it.
	double width = pixels.width;
	double height = pixels.height;
	double sx0 = sourceRect.left;
	double sy0 = sourceRect.top;
	double sx1 = double(sourceRect.right) + 1;
	double sy1 = double(sourceRect.bottom) + 1;
	double dx0 = c.AX(destRect.left), dy0 = c.AY(destRect.top);
	double dx1 = c.AX(double(destRect.right) + 1), dy1 = c.AY(double(destRect.bottom) + 1);
	if (!sane(dx0) || !sane(dy0) || !sane(dx1) || !sane(dy1) || !sane(sx0) || !sane(sy0)
		|| !sane(sx1) || !sane(sy1))
		return;
	double fx = (sx1 - sx0) / (dx1 - dx0);
	double fy = (sy1 - sy0) / (dy1 - dy0);
	if (!(fx > 0) || !(fy > 0) || !std::isfinite(fx) || !std::isfinite(fy))
		return;
	auto cut = [](double* s0, double* s1, double* d0, double* d1, double limit, double f) {
		if (*s0 < 0) {
			*d0 += -*s0 / f;
			*s0 = 0;
		}
		if (*s1 > limit) {
			*d1 -= (*s1 - limit) / f;
			*s1 = limit;
		}
		return *s0 < *s1 && *d0 < *d1;
	};
	if (!cut(&sx0, &sx1, &dx0, &dx1, width, fx) || !cut(&sy0, &sy1, &dy0, &dy1, height, fy))
		return;

	// Only the destination pixels inside the clipping, and the source pixels they show.
	DeviceRect area;
	pixel_span(dx0, dx1, &area.left, &area.right);
	pixel_span(dy0, dy1, &area.top, &area.bottom);
	area = area.Intersect(c.frame);
	if (area.IsEmpty())
		return;
	const ViewState& state = *c.state;
	drawing_mode mode = state.mode == B_OP_ALPHA || state.mode == B_OP_OVER ? state.mode
		: B_OP_COPY;

	// One source pixel a device pixel on whole pixels, in the target's own space: the rows
	// are copied as they are, the same bits as Cairo's nearest-pixel drawing gives. Pictures
	// of pixels spooled at the job's resolution take this way into every band.
	if (mode == B_OP_COPY && fx == 1 && fy == 1 && c.target->CanCopy(pixels.space)
		&& dx0 == std::floor(dx0) && dy0 == std::floor(dy0) && sx0 == std::floor(sx0)
		&& sy0 == std::floor(sy0)) {
		c.target->CopyPixels(pixels, static_cast<int32>(dx0 - sx0),
			static_cast<int32>(dy0 - sy0), area, c.clip);
		return;
	}

	auto source_range = [](double from, double to, double d0, double s0, double s1, double f,
		int32* first, int32* end) {
		// Kept inside [s0, s1] before any conversion: a steep f makes a and b huge.
		double a = s0 + (from + 0.5 - d0) * f;
		double b = s0 + (to - 0.5 - d0) * f;
		double low = std::floor(s0);
		double high = std::ceil(s1);
		*first = static_cast<int32>(std::clamp(std::floor(a) - 1, low, high));
		*end = static_cast<int32>(std::clamp(std::floor(b) + 2, low, high));
	};
	DeviceRect rows;
	source_range(area.left, area.right, dx0, sx0, sx1, fx, &rows.left, &rows.right);
	source_range(area.top, area.bottom, dy0, sy0, sy1, fy, &rows.top, &rows.bottom);
	if (rows.IsEmpty())
		return;

	cairo_surface_t* surface = c.target->SourceSurface(pixels, rows, mode);
	c.target->Render(area, c.clip, [&](cairo_t* cr) {
		cairo_pattern_t* source = cairo_pattern_create_for_surface(surface);
		cairo_matrix_t matrix;
		cairo_matrix_init(&matrix, fx, 0, 0, fy, sx0 - rows.left - dx0 * fx,
			sy0 - rows.top - dy0 * fy);
		cairo_pattern_set_matrix(source, &matrix);
		cairo_pattern_set_filter(source, CAIRO_FILTER_NEAREST);
		cairo_pattern_set_extend(source, CAIRO_EXTEND_PAD);
		cairo_set_source(cr, source);
		cairo_pattern_destroy(source);
		cairo_rectangle(cr, area.left, area.top, area.right - area.left, area.bottom - area.top);
		cairo_fill(cr);
	});
	cairo_surface_destroy(surface);
}
