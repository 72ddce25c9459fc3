// A rectangle of a drawing surface with its own coordinate system and drawing state.
//
// A view draws into the bitmap it is attached to (directly, or through its parent views):
// every drawing call rasterises at once, so Sync() and Flush() have nothing to wait for. The
// drawing state (colours, pen, drawing mode, line mode, origin, scale, clipping, font) lives on
// a stack: PushState() opens a new level that starts with the same values but with its own
// origin (0, 0), scale 1 and no clipping of its own; the levels combine as
//     device = origin(level 0) + scale(0) * (origin(1) + scale(1) * (... + scale(n) * p))
// and each level's clipping region, in that level's coordinates, narrows the ones below it.
// PopState() on the bottom level is ignored.
//
// Coordinates follow the platform: at scale 1, pixel (x, y) covers the square (x, y)-(x+1,
// y+1); rectangles include their right and bottom edges, so FillRect(BRect(0, 0, 9, 9)) fills
// 10 x 10 pixels, and at scale s the device area [l*s, (r+1)*s) x [t*s, (b+1)*s). Strokes run
// through pixel centres: a pen of size 1 at scale 1 lights exactly the pixels of the line.
// Shapes and lines are drawn without anti-aliasing; text too when the font's flags or
// ForceFontAliasing() say so. FillRect clamps infinite or huge edges (the rect then reaches
// past the bitmap's edge); any other primitive with a non-finite coordinate, or one farther
// out than 4 million device pixels, is dropped.
//
// While a picture is being recorded (BeginPicture ... EndPicture) the drawing calls and state
// changes go into the picture instead of the bitmap. Views are not thread-safe; the thread
// that holds the bitmap's lock draws.
#pragma once

#include <Font.h>
#include <GraphicsDefs.h>
#include <Handler.h>
#include <InterfaceDefs.h>
#include <Rect.h>

#include <vector>

class BBitmap;
class BMessage;
class BPicture;
class BPolygon;
class BRegion;
class BShape;
class BWindow;
class PictureOps;
struct PicturePixels;
struct ViewStateStack;

// Mouse transits, for MouseMoved().
enum {
	B_ENTERED_VIEW = 0,
	B_INSIDE_VIEW,
	B_EXITED_VIEW,
	B_OUTSIDE_VIEW
};

class BView : public BHandler {
public:
	BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags);
	virtual ~BView();

	BView(const BView&) = delete;
	BView& operator=(const BView&) = delete;

	// Hooks
	virtual void AttachedToWindow() {}
	virtual void AllAttached() {}
	virtual void DetachedFromWindow() {}
	virtual void AllDetached() {}
	virtual void Draw(BRect updateRect);
	virtual void DrawAfterChildren(BRect updateRect);
	virtual void FrameMoved(BPoint newPosition);
	virtual void FrameResized(float newWidth, float newHeight);
	virtual void MouseDown(BPoint where);
	virtual void MouseUp(BPoint where);
	virtual void MouseMoved(BPoint where, uint32 transit, const BMessage* dragMessage);
	virtual void KeyDown(const char* bytes, int32 numBytes);
	virtual void KeyUp(const char* bytes, int32 numBytes);
	virtual void MakeFocus(bool focus = true);
	virtual void Pulse() {}
	virtual void WindowActivated(bool) {}

	// Tree
	void AddChild(BView* child, BView* before = NULL);
	bool RemoveChild(BView* child);
	bool RemoveSelf();
	int32 CountChildren() const;
	BView* ChildAt(int32 index) const;
	BView* NextSibling() const;
	BView* PreviousSibling() const;
	BView* Parent() const { return fParent; }
	BView* FindView(const char* name) const;
	// The window the view is in; NULL for views of a bitmap or of no parent.
	BWindow* Window() const { return fWindow; }
	bool IsFocus() const { return fIsFocus; }

	// Geometry: the frame is in the parent's coordinates, the bounds in the view's own.
	BRect Frame() const { return fFrame; }
	BRect Bounds() const;
	void MoveBy(float dx, float dy);
	void MoveTo(BPoint where);
	void MoveTo(float x, float y);
	void ResizeBy(float dx, float dy);
	void ResizeTo(float width, float height);
	void ConvertToParent(BPoint* point) const;
	BPoint ConvertToParent(BPoint point) const;
	void ConvertFromParent(BPoint* point) const;
	BPoint ConvertFromParent(BPoint point) const;
	BRect ConvertToParent(BRect rect) const;
	BRect ConvertFromParent(BRect rect) const;
	// Screen coordinates: the window's frame offsets them; a view outside any window takes
	// its topmost parent's coordinates as the screen.
	void ConvertToScreen(BPoint* point) const;
	BPoint ConvertToScreen(BPoint point) const;
	void ConvertFromScreen(BPoint* point) const;
	BPoint ConvertFromScreen(BPoint point) const;
	BRect ConvertToScreen(BRect rect) const;
	BRect ConvertFromScreen(BRect rect) const;
	uint32 ResizingMode() const { return fResizingMode; }
	void SetResizingMode(uint32 mode) { fResizingMode = mode; }
	uint32 Flags() const { return fFlags; }
	void SetFlags(uint32 flags) { fFlags = flags; }
	void Hide();
	void Show();
	bool IsHidden() const { return fHideLevel > 0; }

	// Updates: Invalidate marks an area (in the view's coordinates) dirty; UpdateIfNeeded
	// (a stand-in for the window's update cycle) fills it with the view colour and runs
	// Draw() there, for this view and its children.
	void Invalidate();
	void Invalidate(BRect rect);
	void Invalidate(const BRegion* region);
	bool NeedsUpdate() const;
	void UpdateIfNeeded();
	void Sync() const {}
	void Flush() const {}

	// Drawing state
	void SetHighColor(rgb_color color);
	void SetHighColor(uint8 red, uint8 green, uint8 blue, uint8 alpha = 255);
	rgb_color HighColor() const;
	void SetLowColor(rgb_color color);
	void SetLowColor(uint8 red, uint8 green, uint8 blue, uint8 alpha = 255);
	rgb_color LowColor() const;
	void SetViewColor(rgb_color color) { fViewColor = color; }
	void SetViewColor(uint8 red, uint8 green, uint8 blue, uint8 alpha = 255);
	rgb_color ViewColor() const { return fViewColor; }

	void SetPenSize(float size);
	float PenSize() const;
	void MovePenTo(BPoint point);
	void MovePenTo(float x, float y);
	void MovePenBy(float dx, float dy);
	BPoint PenLocation() const;

	void SetDrawingMode(drawing_mode mode);
	drawing_mode DrawingMode() const;
	void SetBlendingMode(source_alpha srcAlpha, alpha_function alphaFunc);
	void GetBlendingMode(source_alpha* srcAlpha, alpha_function* alphaFunc) const;
	void SetLineMode(cap_mode lineCap, join_mode lineJoin,
		float miterLimit = B_DEFAULT_MITER_LIMIT);
	cap_mode LineCapMode() const;
	join_mode LineJoinMode() const;
	float LineMiterLimit() const;

	void SetOrigin(BPoint origin);
	void SetOrigin(float x, float y);
	BPoint Origin() const;
	// Non-finite or non-positive scales are ignored.
	void SetScale(float scale);
	float Scale() const;

	// The region is copied; NULL removes this level's clipping. GetClippingRegion returns
	// the area drawing is limited to, in the current level's coordinates, whole pixels.
	void ConstrainClippingRegion(BRegion* region);
	void GetClippingRegion(BRegion* region) const;

	void SetFont(const BFont* font, uint32 mask = B_FONT_ALL);
	void GetFont(BFont* font) const;
	void SetFontSize(float size);
	void ForceFontAliasing(bool enable);
	float StringWidth(const char* string) const;
	float StringWidth(const char* string, int32 length) const;
	void GetFontHeight(font_height* height) const;

	void PushState();
	void PopState();

	// Lines and outlines
	void StrokeLine(BPoint toPoint, ::pattern p = B_SOLID_HIGH);
	void StrokeLine(BPoint start, BPoint end, ::pattern p = B_SOLID_HIGH);
	void StrokeRect(BRect rect, ::pattern p = B_SOLID_HIGH);
	void FillRect(BRect rect, ::pattern p = B_SOLID_HIGH);
	void InvertRect(BRect rect);
	void StrokeRoundRect(BRect rect, float xRadius, float yRadius, ::pattern p = B_SOLID_HIGH);
	void FillRoundRect(BRect rect, float xRadius, float yRadius, ::pattern p = B_SOLID_HIGH);
	void StrokeEllipse(BPoint center, float xRadius, float yRadius,
		::pattern p = B_SOLID_HIGH);
	void StrokeEllipse(BRect rect, ::pattern p = B_SOLID_HIGH);
	void FillEllipse(BPoint center, float xRadius, float yRadius, ::pattern p = B_SOLID_HIGH);
	void FillEllipse(BRect rect, ::pattern p = B_SOLID_HIGH);
	// Angles in degrees, counter-clockwise from the positive x axis.
	void StrokeArc(BPoint center, float xRadius, float yRadius, float startAngle,
		float arcAngle, ::pattern p = B_SOLID_HIGH);
	void StrokeArc(BRect rect, float startAngle, float arcAngle, ::pattern p = B_SOLID_HIGH);
	void FillArc(BPoint center, float xRadius, float yRadius, float startAngle, float arcAngle,
		::pattern p = B_SOLID_HIGH);
	void FillArc(BRect rect, float startAngle, float arcAngle, ::pattern p = B_SOLID_HIGH);
	void StrokeBezier(BPoint* controlPoints, ::pattern p = B_SOLID_HIGH);
	void FillBezier(BPoint* controlPoints, ::pattern p = B_SOLID_HIGH);
	void StrokePolygon(const BPolygon* polygon, bool closed = true,
		::pattern p = B_SOLID_HIGH);
	void StrokePolygon(const BPoint* pointList, int32 numPoints, bool closed = true,
		::pattern p = B_SOLID_HIGH);
	void StrokePolygon(const BPoint* pointList, int32 numPoints, BRect bounds,
		bool closed = true, ::pattern p = B_SOLID_HIGH);
	void FillPolygon(const BPolygon* polygon, ::pattern p = B_SOLID_HIGH);
	void FillPolygon(const BPoint* pointList, int32 numPoints, ::pattern p = B_SOLID_HIGH);
	void FillPolygon(const BPoint* pointList, int32 numPoints, BRect bounds,
		::pattern p = B_SOLID_HIGH);
	void StrokeTriangle(BPoint point1, BPoint point2, BPoint point3,
		::pattern p = B_SOLID_HIGH);
	void StrokeTriangle(BPoint point1, BPoint point2, BPoint point3, BRect bounds,
		::pattern p = B_SOLID_HIGH);
	void FillTriangle(BPoint point1, BPoint point2, BPoint point3, ::pattern p = B_SOLID_HIGH);
	void FillTriangle(BPoint point1, BPoint point2, BPoint point3, BRect bounds,
		::pattern p = B_SOLID_HIGH);
	void StrokeShape(BShape* shape, ::pattern p = B_SOLID_HIGH);
	void FillShape(BShape* shape, ::pattern p = B_SOLID_HIGH);
	void FillRegion(BRegion* region, ::pattern p = B_SOLID_HIGH);

	// Text, drawn at the pen location (the baseline's left end), which it then advances.
	void DrawString(const char* string, escapement_delta* delta = NULL);
	void DrawString(const char* string, BPoint location, escapement_delta* delta = NULL);
	void DrawString(const char* string, int32 length, escapement_delta* delta = NULL);
	void DrawString(const char* string, int32 length, BPoint location,
		escapement_delta* delta = NULL);
	void DrawChar(char aChar);
	void DrawChar(char aChar, BPoint location);

	// Bitmaps: the source rect (in the bitmap's coordinates) is scaled into the destination
	// rect (in the view's), pixel for pixel, without smoothing.
	void DrawBitmap(const BBitmap* bitmap);
	void DrawBitmap(const BBitmap* bitmap, BPoint where);
	void DrawBitmap(const BBitmap* bitmap, BRect destRect);
	void DrawBitmap(const BBitmap* bitmap, BRect sourceRect, BRect destRect);
	void DrawBitmapAsync(const BBitmap* bitmap) { DrawBitmap(bitmap); }
	void DrawBitmapAsync(const BBitmap* bitmap, BPoint where) { DrawBitmap(bitmap, where); }
	void DrawBitmapAsync(const BBitmap* bitmap, BRect destRect) { DrawBitmap(bitmap, destRect); }
	void DrawBitmapAsync(const BBitmap* bitmap, BRect sourceRect, BRect destRect)
	{
		DrawBitmap(bitmap, sourceRect, destRect);
	}

	// Pictures: drawn in a pushed state whose origin is where; recording collects the
	// drawing calls between BeginPicture and EndPicture.
	void DrawPicture(const BPicture* picture);
	void DrawPicture(const BPicture* picture, BPoint where);
	void BeginPicture(BPicture* picture);
	void AppendToPicture(BPicture* picture);
	BPicture* EndPicture();

private:
	friend class BBitmap;
	friend class BWindow;
	friend class ViewPicturePlayer;
	friend struct ViewPainter;

	// Stand-in internals (View.cpp, ViewPicture.cpp). Every drawing call and state change
	// takes one path: into the recorder while a picture is recorded, else into the bitmap.
	void _SetTarget(BBitmap* bitmap);
	void _StateChanged();
	void _Recombine();
	void _SetStipple(const ::pattern& p);
	void _DrawStringAtPen(const char* string, int32 length, const escapement_delta* delta);
	void _DrawPixels(const BBitmap* bitmap, BRect sourceRect, BRect destRect);
	void _DrawPixels(const PicturePixels& pixels);
	void _StrokePolygon(const BPoint* points, int32 count, bool closed, const ::pattern& p);
	void _FillPolygon(const BPoint* points, int32 count, const ::pattern& p);
	void _RoundRect(bool fill, BRect rect, float xRadius, float yRadius, const ::pattern& p);
	void _Arc(bool fill, BRect rect, double startAngle, double arcAngle, bool whole,
		const ::pattern& p);
	void _PointPath(bool fill, const BPoint* points, int32 count, bool closed, bool bezier,
		const ::pattern& p);
	void _Shape(bool fill, int32 opCount, const uint32* ops, int32 pointCount,
		const BPoint* points, const ::pattern& p);
	void _EndRecording();

	BRect fFrame;
	uint32 fResizingMode;
	uint32 fFlags;
	BView* fParent;
	std::vector<BView*> fChildren;
	BBitmap* fBitmap;
	BWindow* fWindow;
	ViewStateStack* fStates;
	rgb_color fViewColor;
	BRegion* fDirty;
	int32 fHideLevel;
	bool fIsFocus;
	PictureOps* fRecorder;
	BPicture* fRecordedPicture;
};
