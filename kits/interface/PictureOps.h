// The contract between a flattened picture and whoever plays it back or records it.
//
// PictureOps is the callback table of picture playback: the player decodes an op stream and
// calls one method per op, in stream order, with every value already range-checked and in host
// form. BView implements it to draw a picture; tests and the fuzz target implement it to look
// at what a stream holds. Every method defaults to doing nothing, so a client overrides only
// the ops it cares about.
//
// Recording goes the other way: BView, while a picture is being recorded, hands each drawing
// call and state change to a PictureWriter (PictureData.h), which appends the op bytes.
#pragma once

#include <Font.h>  // escapement_delta
#include <GraphicsDefs.h>
#include <Rect.h>

class PictureData;

// One decoded shape: op words (command in bits 31-24, point count in bits 23-0) and the
// points they consume. Both arrays stay valid only during the callback.
struct PictureShape {
	int32 opCount;
	const uint32* ops;
	int32 pointCount;
	const BPoint* points;
};

// Pixel rows of a draw-pixels op; data holds exactly height * bytesPerRow bytes, checked
// against the colour space and width before the callback is made.
struct PicturePixels {
	BRect source;
	BRect destination;
	int32 width;
	int32 height;
	int32 bytesPerRow;
	color_space space;
	int32 flags;
	const void* data;
	size_t length;
};

class PictureOps {
public:
	virtual ~PictureOps() = default;

	// Drawing
	virtual void MovePenBy(BPoint) {}
	virtual void StrokeLine(BPoint, BPoint) {}
	virtual void StrokeRect(BRect) {}
	virtual void FillRect(BRect) {}
	virtual void StrokeRoundRect(BRect, BPoint /*radii*/) {}
	virtual void FillRoundRect(BRect, BPoint /*radii*/) {}
	virtual void StrokeBezier(const BPoint* /*4 points*/) {}
	virtual void FillBezier(const BPoint* /*4 points*/) {}
	virtual void StrokePolygon(int32 /*count*/, const BPoint*, bool /*closed*/) {}
	virtual void FillPolygon(int32 /*count*/, const BPoint*) {}
	virtual void StrokeShape(const PictureShape&) {}
	virtual void FillShape(const PictureShape&) {}
	virtual void DrawString(const char* /*utf8*/, int32 /*length*/, escapement_delta) {}
	virtual void DrawPixels(const PicturePixels&) {}
	// A sub-picture of the picture being played, drawn with its origin at where.
	virtual void DrawPicture(BPoint /*where*/, const PictureData&) {}
	virtual void StrokeArc(BPoint /*center*/, BPoint /*radii*/, float /*start*/, float /*span*/) {}
	virtual void FillArc(BPoint /*center*/, BPoint /*radii*/, float /*start*/, float /*span*/) {}
	virtual void StrokeEllipse(BRect) {}
	virtual void FillEllipse(BRect) {}

	// State blocks (op 0x0200 and the font block 0x0309): Enter before the nested ops, Exit
	// after them.
	virtual void EnterStateChange() {}
	virtual void ExitStateChange() {}
	virtual void EnterFontState() {}
	virtual void ExitFontState() {}

	// Clipping. SetClippingRects with count 0 clips to the frame.
	virtual void SetClippingRects(const clipping_rect& /*frame*/, const clipping_rect*, int32) {}
	virtual void ClipToPicture(const PictureData&, BPoint /*origin*/, bool /*inverse*/) {}
	virtual void ClearClipping() {}
	virtual void ClipToRect(BRect, bool /*inverse*/) {}

	// State
	virtual void PushState() {}
	virtual void PopState() {}
	virtual void SetOrigin(BPoint) {}
	virtual void SetPenLocation(BPoint) {}
	virtual void SetDrawingMode(drawing_mode) {}
	virtual void SetLineMode(cap_mode, join_mode, float /*miterLimit*/) {}
	virtual void SetPenSize(float) {}
	virtual void SetScale(float) {}
	virtual void SetHighColor(rgb_color) {}
	virtual void SetLowColor(rgb_color) {}
	virtual void SetStipplePattern(const pattern&) {}
	virtual void SetBlendingMode(source_alpha, alpha_function) {}
	virtual void SetFillRule(int32 /*0 even-odd, 1 non-zero*/) {}
	virtual void SetTransform(const double* /*sx, shy, shx, sy, tx, ty*/) {}
	virtual void AffineTranslate(double, double) {}
	virtual void AffineScale(double, double) {}
	virtual void AffineRotate(double /*radians*/) {}

	// Font state (inside a font block)
	virtual void SetFontFamily(const char* /*NUL-terminated*/) {}
	virtual void SetFontStyle(const char* /*NUL-terminated*/) {}
	virtual void SetFontSpacing(int32) {}
	virtual void SetFontEncoding(int32) {}
	virtual void SetFontFlags(int32) {}
	virtual void SetFontSize(float) {}
	virtual void SetFontRotation(float /*degrees*/) {}
	virtual void SetFontShear(float /*API degrees, 90 = upright*/) {}
	virtual void SetFontBpp(int32) {}
	virtual void SetFontFace(int32) {}

	// The work done so far by drawing into this object, in pixels (drawn, filled or read
	// from a source); 0 for an object that does not draw. Playback charges each op's share
	// against the outermost play's work budget.
	virtual uint64 WorkDone() const { return 0; }
	// Whether the last outermost play into this object stopped because its op or work
	// budget ran out.
	bool PlayBudgetRanOut() const { return fPlayBudgetRanOut; }

private:
	// Bookkeeping of PictureData::Play. A sub-picture played into the same object (or into
	// one passed the object as "sharing") counts against the outermost Play's nesting depth
	// and op budget; fPlayOwner points to the object that holds them while such a play runs.
	friend class PictureData;
	PictureOps* fPlayOwner = nullptr;
	int32 fPlayDepth = 0;
	uint64 fPlayBudget = 0;
	uint64 fPlayWork = 0;
	bool fPlayBudgetRanOut = false;
};
