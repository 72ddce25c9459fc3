// The drawing state stack of a view (see View.h for how the levels combine) and the cached
// device clipping it yields.
#pragma once

#include <Font.h>
#include <GraphicsDefs.h>
#include <Region.h>

#include "BitmapPrivate.h"

#include <optional>
#include <vector>

struct ViewState {
	rgb_color high = {0, 0, 0, 255};
	rgb_color low = {255, 255, 255, 255};
	float penSize = 1.0f;
	BPoint pen;
	drawing_mode mode = B_OP_COPY;
	source_alpha sourceAlpha = B_PIXEL_ALPHA;
	alpha_function alphaFunction = B_ALPHA_OVERLAY;
	cap_mode cap = B_BUTT_CAP;
	join_mode join = B_MITER_JOIN;
	float miterLimit = B_DEFAULT_MITER_LIMIT;
	BPoint origin;
	float scale = 1.0f;
	std::optional<BRegion> clipping;  // in this level's coordinates
	BFont font;
	bool forceAliasing = false;
	pattern stipple = B_SOLID_HIGH;  // the pattern of picture ops, set by their stipple op

	// This level's transform from its coordinates to the view's own, unscaled ones.
	double originX = 0;
	double originY = 0;
	double totalScale = 1;
};

struct ViewStateStack {
	std::vector<ViewState> states;
	int32 overflow = 0;  // pushes refused because the stack was full

	// Device clipping of the top level, rebuilt when the geometry generation or the state
	// changes.
	bool clipValid = false;
	uint64 clipGeneration = 0;
	std::vector<DeviceRect> clip;
	DeviceRect clipFrame = {0, 0, 0, 0};

	// Extra device clipping while the view draws an update.
	std::optional<std::vector<DeviceRect>> updateClip;

	ViewStateStack() { states.emplace_back(); }
	ViewState& Top() { return states.back(); }
	const ViewState& Top() const { return states.back(); }
};
