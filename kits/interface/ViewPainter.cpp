#include "ViewPainter.h"

#include <Bitmap.h>
#include <Region.h>

#include <atomic>

namespace {

std::atomic<uint64> sGeometryGeneration{1};

bool is_solid(const pattern& p, uint8 value)
{
	for (uint8 row : p.data)
		if (row != value)
			return false;
	return true;
}

} // namespace

void geometry_changed()
{
	sGeometryGeneration++;
}

bool ViewPainter::VisibleRect(const BView* view, DeviceRect* rect)
{
	if (view->fBitmap == NULL || view->fBitmap->Private() == NULL)
		return false;
	DeviceRect visible = view->fBitmap->Private()->Area();
	for (const BView* level = view; level != NULL; level = level->fParent) {
		if (level->fHideLevel > 0)
			return false;
		double x = 0;
		double y = 0;
		Offset(level, &x, &y);
		int32 left, right, top, bottom;
		pixel_span(x, x + level->fFrame.Width() + 1, &left, &right);
		pixel_span(y, y + level->fFrame.Height() + 1, &top, &bottom);
		visible = visible.Intersect(DeviceRect{left, top, right, bottom});
	}
	*rect = visible;
	return !visible.IsEmpty();
}

void ViewPainter::Offset(const BView* view, double* x, double* y)
{
	// Frames are in the parent's coordinates; the top view's in the bitmap's.
	double ox = 0;
	double oy = 0;
	for (const BView* level = view; level != NULL; level = level->fParent) {
		ox += level->fFrame.left;
		oy += level->fFrame.top;
	}
	if (view->fBitmap != NULL) {
		ox -= view->fBitmap->Bounds().left;
		oy -= view->fBitmap->Bounds().top;
	}
	*x = ox;
	*y = oy;
}

const std::vector<DeviceRect>& ViewPainter::DeviceClip(BView* view, DeviceRect* frame)
{
	ViewStateStack& stack = *view->fStates;
	uint64 generation = sGeometryGeneration;
	if (stack.clipValid && stack.clipGeneration == generation) {
		*frame = stack.clipFrame;
		return stack.clip;
	}
	stack.clip.clear();
	stack.clipFrame = DeviceRect{0, 0, 0, 0};
	stack.clipValid = true;
	stack.clipGeneration = generation;

	DeviceRect visible;
	if (!VisibleRect(view, &visible)) {
		*frame = stack.clipFrame;
		return stack.clip;
	}
	BRegion device;
	device.Set(clipping_rect{visible.left, visible.top, visible.right - 1, visible.bottom - 1});
	double viewX, viewY;
	Offset(view, &viewX, &viewY);
	for (const ViewState& level : stack.states) {
		if (!level.clipping)
			continue;
		double ox = viewX + level.originX;
		double oy = viewY + level.originY;
		double s = level.totalScale;
		BRegion mapped;
		for (int32 i = 0; i < level.clipping->CountRects(); i++) {
			clipping_rect rect = level.clipping->RectAtInt(i);
			int32 left, right, top, bottom;
			pixel_span(ox + double(rect.left) * s, ox + (double(rect.right) + 1) * s, &left,
				&right);
			pixel_span(oy + double(rect.top) * s, oy + (double(rect.bottom) + 1) * s, &top,
				&bottom);
			if (left < right && top < bottom)
				mapped.Include(clipping_rect{left, top, right - 1, bottom - 1});
		}
		device.IntersectWith(&mapped);
	}
	if (stack.updateClip) {
		BRegion update;
		for (const DeviceRect& rect : *stack.updateClip)
			update.Include(clipping_rect{rect.left, rect.top, rect.right - 1, rect.bottom - 1});
		device.IntersectWith(&update);
	}
	for (int32 i = 0; i < device.CountRects(); i++) {
		clipping_rect rect = device.RectAtInt(i);
		stack.clip.push_back(DeviceRect{rect.left, rect.top, rect.right + 1, rect.bottom + 1});
	}
	if (!stack.clip.empty()) {
		clipping_rect bounds = device.FrameInt();
		stack.clipFrame = DeviceRect{bounds.left, bounds.top, bounds.right + 1, bounds.bottom + 1};
	}
	*frame = stack.clipFrame;
	return stack.clip;
}

bool ViewPainter::Begin(BView* view, DrawContext* context)
{
	if (view->fBitmap == NULL || view->fBitmap->Private() == NULL)
		return false;
	const std::vector<DeviceRect>& clip = DeviceClip(view, &context->frame);
	if (clip.empty())
		return false;
	const ViewState& state = view->fStates->Top();
	double viewX, viewY;
	Offset(view, &viewX, &viewY);
	context->target = view->fBitmap->Private();
	context->state = &state;
	context->ox = viewX + state.originX;
	context->oy = viewY + state.originY;
	context->s = state.totalScale;
	// One rect is the frame itself: the tile is then clipped by its own extent.
	context->clip = clip.size() > 1 ? &clip : NULL;
	return true;
}

bool ViewPainter::SolidColor(const ViewState& state, const pattern& p, rgb_color* color)
{
	bool high = is_solid(p, 0xff);
	bool low = is_solid(p, 0x00);
	rgb_color result;
	switch (state.mode) {
		case B_OP_COPY:
			if (!high && !low)
				return false;
			result = high ? state.high : state.low;
			break;
		case B_OP_OVER:
			if (!high)
				return false;
			result = state.high;
			break;
		case B_OP_ERASE:
			if (!high)
				return false;
			result = state.low;
			break;
		case B_OP_ALPHA:
			if (!high || state.high.alpha != 255)
				return false;
			result = state.high;
			break;
		default:
			return false;
	}
	result.alpha = 255;
	*color = result;
	return true;
}

bool ViewPainter::SetSource(cairo_t* cr, const ViewState& state, const pattern& p)
{
	// What the pattern's set bits draw, and whether its clear bits draw the low colour.
	rgb_color on = state.high;
	bool offDraws = false;
	double alpha = 1.0;
	cairo_operator_t op = CAIRO_OPERATOR_OVER;
	switch (state.mode) {
		case B_OP_COPY:
		case B_OP_SELECT:
			offDraws = true;
			break;
		case B_OP_OVER:
			break;
		case B_OP_ERASE:
			on = state.low;
			break;
		case B_OP_INVERT:
			on = make_color(255, 255, 255);
			op = CAIRO_OPERATOR_DIFFERENCE;
			break;
		case B_OP_ADD:
			op = CAIRO_OPERATOR_ADD;
			break;
		case B_OP_SUBTRACT:
			op = CAIRO_OPERATOR_DIFFERENCE;
			break;
		case B_OP_BLEND:
			alpha = 0.5;
			break;
		case B_OP_MIN:
			op = CAIRO_OPERATOR_DARKEN;
			break;
		case B_OP_MAX:
			op = CAIRO_OPERATOR_LIGHTEN;
			break;
		case B_OP_ALPHA:
			alpha = state.high.alpha / 255.0;
			break;
	}
	cairo_set_operator(cr, op);
	if (is_solid(p, 0xff)) {
		cairo_set_source_rgba(cr, on.red / 255.0, on.green / 255.0, on.blue / 255.0, alpha);
		return true;
	}
	if (is_solid(p, 0x00) && !offDraws)
		return false;

	// The stipple repeats every 8 device pixels from the bitmap's top left.
	cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
	uint8* data = cairo_image_surface_get_data(tile);
	int stride = cairo_image_surface_get_stride(tile);
	auto premultiplied = [alpha](rgb_color color) {
		uint32 a = static_cast<uint32>(alpha * 255 + 0.5);
		return (a << 24) | ((color.red * a / 255) << 16) | ((color.green * a / 255) << 8)
			| (color.blue * a / 255);
	};
	uint32 onWord = premultiplied(on);
	uint32 offWord = offDraws ? premultiplied(state.low) : 0;
	for (int y = 0; y < 8; y++) {
		uint32* row = reinterpret_cast<uint32*>(data + y * stride);
		for (int x = 0; x < 8; x++)
			row[x] = (p.data[y] & (0x80 >> x)) ? onWord : offWord;
	}
	cairo_surface_mark_dirty(tile);
	cairo_pattern_t* source = cairo_pattern_create_for_surface(tile);
	cairo_pattern_set_extend(source, CAIRO_EXTEND_REPEAT);
	cairo_pattern_set_filter(source, CAIRO_FILTER_NEAREST);
	cairo_set_source(cr, source);
	cairo_pattern_destroy(source);
	cairo_surface_destroy(tile);
	return true;
}

void ViewPainter::Paint(const DrawContext& context, const Box& box, const pattern& p,
	PaintKind kind, const std::function<void(cairo_t*)>& path, bool forceSquareCaps)
{
	const ViewState& state = *context.state;
	double width = kind == kStroke ? context.StrokeWidth() : context.s;
	double miter = std::clamp(static_cast<double>(state.miterLimit), 1.0, 10.0);
	if (kind == kFillInclusive)
		miter = 2.0;
	// How far the ink may reach beyond the path: half the pen, times the miter of a sharp
	// join or the diagonal of a square cap.
	double reach = 0;
	if (kind == kFillInclusive)
		reach = width;
	else if (kind == kStroke)
		reach = width / 2 * std::max(state.join == B_MITER_JOIN ? miter : 1.0, 1.5);
	DeviceRect area = box.Outset(reach + 2).Intersect(context.frame);
	if (area.IsEmpty())
		return;
	context.target->Render(area, context.clip, [&](cairo_t* cr) {
		if (!SetSource(cr, state, p))
			return;
		path(cr);
		if (kind == kFill) {
			cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
			cairo_fill(cr);
			return;
		}
		cairo_line_join_t join = CAIRO_LINE_JOIN_MITER;
		if (state.join == B_ROUND_JOIN)
			join = CAIRO_LINE_JOIN_ROUND;
		else if (state.join == B_BEVEL_JOIN || state.join == B_BUTT_JOIN)
			join = CAIRO_LINE_JOIN_BEVEL;
		cairo_line_cap_t cap = CAIRO_LINE_CAP_BUTT;
		if (state.cap == B_ROUND_CAP)
			cap = CAIRO_LINE_CAP_ROUND;
		else if (state.cap == B_SQUARE_CAP || forceSquareCaps)
			cap = CAIRO_LINE_CAP_SQUARE;
		cairo_set_line_width(cr, width);
		cairo_set_miter_limit(cr, miter);
		if (kind == kFillInclusive) {
			cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
			cairo_fill_preserve(cr);
			join = CAIRO_LINE_JOIN_MITER;
			cap = CAIRO_LINE_CAP_SQUARE;
		}
		cairo_set_line_join(cr, join);
		cairo_set_line_cap(cr, cap);
		cairo_stroke(cr);
	});
}
