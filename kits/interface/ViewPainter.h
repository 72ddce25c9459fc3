// The Cairo side of BView: where a view's drawing lands (the transform of the current state
// level into device pixels, the device clipping) and how a primitive is painted there. This is
// the one place where view geometry turns into Cairo calls; View.cpp keeps the BView
// operations and hands their geometry to the painter.
#pragma once

#include <View.h>

#include "BitmapPrivate.h"
#include "ViewState.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

// Outlines farther out than this (in device pixels) are dropped: Cairo's fixed-point
// coordinates would overflow. Rectangles are clamped to it instead.
inline constexpr double kDeviceLimit = 4194304.0;

// Bumped on every change of a view's place in a bitmap, so cached clipping is rebuilt.
void geometry_changed();

inline bool sane(double value)
{
	return std::isfinite(value) && std::fabs(value) <= kDeviceLimit;
}

inline double clamp_device(double value)
{
	return std::clamp(value, -kDeviceLimit, kDeviceLimit);
}

// Pixels whose centres lie in [from, to): the rule Cairo's aliased rasteriser follows.
inline void pixel_span(double from, double to, int32* first, int32* end)
{
	from = clamp_device(from);
	to = clamp_device(to);
	*first = static_cast<int32>(std::ceil(from - 0.5));
	*end = static_cast<int32>(std::ceil(to - 0.5));
}

// Where a view's drawing lands for one call: the bitmap, the transform of the current state
// level into device pixels and the device clipping.
struct DrawContext {
	BitmapPrivate* target = NULL;
	const ViewState* state = NULL;
	double ox = 0;
	double oy = 0;
	double s = 1;
	const std::vector<DeviceRect>* clip = NULL;
	DeviceRect frame = {0, 0, 0, 0};

	// Area form: pixel (x, y) covers [x, x + 1) at scale 1.
	double AX(double x) const { return ox + x * s; }
	double AY(double y) const { return oy + y * s; }
	// Centre form: strokes run through pixel centres.
	double CX(double x) const { return ox + (x + 0.5) * s; }
	double CY(double y) const { return oy + (y + 0.5) * s; }
	double StrokeWidth() const { return std::max(1.0, state->penSize * s); }
};

// Axis-aligned device box of a primitive, before clipping.
struct Box {
	double left = INFINITY;
	double top = INFINITY;
	double right = -INFINITY;
	double bottom = -INFINITY;

	void Add(double x, double y)
	{
		left = std::min(left, x);
		right = std::max(right, x);
		top = std::min(top, y);
		bottom = std::max(bottom, y);
	}
	DeviceRect Outset(double margin) const
	{
		double l = clamp_device(std::floor(left - margin));
		double t = clamp_device(std::floor(top - margin));
		double r = clamp_device(std::ceil(right + margin));
		double b = clamp_device(std::ceil(bottom + margin));
		return DeviceRect{static_cast<int32>(l), static_cast<int32>(t), static_cast<int32>(r),
			static_cast<int32>(b)};
	}
};

enum PaintKind {
	kFill,
	kStroke,
	// Fill, and stroke the outline one unit wide, so that a filled outline covers the
	// pixels its edges run through, as a filled rect does.
	kFillInclusive
};

struct ViewPainter {
	static bool Begin(BView* view, DrawContext* context);
	static const std::vector<DeviceRect>& DeviceClip(BView* view, DeviceRect* frame);
	static bool VisibleRect(const BView* view, DeviceRect* rect);
	static void Offset(const BView* view, double* x, double* y);

	static bool SetSource(cairo_t* cr, const ViewState& state, const pattern& p);
	static bool SolidColor(const ViewState& state, const pattern& p, rgb_color* color);
	static void Paint(const DrawContext& context, const Box& box, const pattern& p,
		PaintKind kind, const std::function<void(cairo_t*)>& path, bool forceSquareCaps = false);
};
