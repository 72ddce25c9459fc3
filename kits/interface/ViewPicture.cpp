// Pictures on a view: playing a picture's ops into the view, and recording the view's drawing
// calls into a picture.
//
// ViewPicturePlayer turns each decoded op into the view's own call, so a played picture draws
// exactly as the same calls made directly would. It counts the state levels the picture
// pushes and pops what the picture left open, and ignores pops below its starting level, so a
// picture always leaves the view's state as it found it.
#include <View.h>

#include <Picture.h>
#include <Region.h>

#include "BitmapPrivate.h"
#include "PictureData.h"
#include "PictureOps.h"
#include "ViewState.h"

#include <cmath>


namespace {

const float kHugeCoordinate = 1e9f;

} // namespace

class ViewPicturePlayer : public PictureOps {
public:
	explicit ViewPicturePlayer(BView* view) : fView(view) {}

	// Plays data into view with its origin at where, in levels of its own.
	static void PlayInto(BView* view, const PictureData& data, BPoint where,
		PictureOps* sharing);

	// Pops the levels the picture pushed and did not pop.
	void Unwind()
	{
		for (; fPushes > 0; fPushes--)
			fView->PopState();
	}

	void MovePenBy(BPoint delta) override { fView->MovePenBy(delta.x, delta.y); }
	void StrokeLine(BPoint start, BPoint end) override
	{
		fView->StrokeLine(start, end, _Stipple());
	}
	void StrokeRect(BRect rect) override { fView->StrokeRect(rect, _Stipple()); }
	void FillRect(BRect rect) override { fView->FillRect(rect, _Stipple()); }
	void StrokeRoundRect(BRect rect, BPoint radii) override
	{
		fView->StrokeRoundRect(rect, radii.x, radii.y, _Stipple());
	}
	void FillRoundRect(BRect rect, BPoint radii) override
	{
		fView->FillRoundRect(rect, radii.x, radii.y, _Stipple());
	}
	void StrokeBezier(const BPoint* points) override
	{
		fView->_PointPath(false, points, 4, false, true, _Stipple());
	}
	void FillBezier(const BPoint* points) override
	{
		fView->_PointPath(true, points, 4, true, true, _Stipple());
	}
	void StrokePolygon(int32 count, const BPoint* points, bool closed) override
	{
		fView->_StrokePolygon(points, count, closed, _Stipple());
	}
	void FillPolygon(int32 count, const BPoint* points) override
	{
		fView->_FillPolygon(points, count, _Stipple());
	}
	void StrokeShape(const PictureShape& shape) override
	{
		fView->_Shape(false, shape.opCount, shape.ops, shape.pointCount, shape.points,
			_Stipple());
	}
	void FillShape(const PictureShape& shape) override
	{
		fView->_Shape(true, shape.opCount, shape.ops, shape.pointCount, shape.points,
			_Stipple());
	}
	void DrawString(const char* string, int32 length, escapement_delta delta) override
	{
		fView->_DrawStringAtPen(string, length, &delta);
	}
	void DrawPixels(const PicturePixels& pixels) override { fView->_DrawPixels(pixels); }
	uint64 WorkDone() const override
	{
		BitmapPrivate* target = fView->fBitmap != NULL ? fView->fBitmap->Private() : NULL;
		return target != NULL ? target->PixelsWorked() : 0;
	}
	void DrawPicture(BPoint where, const PictureData& picture) override;
	void StrokeArc(BPoint center, BPoint radii, float start, float span) override
	{
		fView->StrokeArc(center, radii.x, radii.y, start, span, _Stipple());
	}
	void FillArc(BPoint center, BPoint radii, float start, float span) override
	{
		fView->FillArc(center, radii.x, radii.y, start, span, _Stipple());
	}
	void StrokeEllipse(BRect rect) override { fView->StrokeEllipse(rect, _Stipple()); }
	void FillEllipse(BRect rect) override { fView->FillEllipse(rect, _Stipple()); }

	void EnterFontState() override
	{
		fView->GetFont(&fFont);
		fFontMask = 0;
		fInFontState = true;
	}
	void ExitFontState() override
	{
		fInFontState = false;
		_ApplyFont();
	}

	void SetClippingRects(const clipping_rect& frame, const clipping_rect* rects,
		int32 count) override
	{
		BRegion region;
		if (count == 0)
			region.Include(frame);
		for (int32 i = 0; i < count; i++)
			region.Include(rects[i]);
		fView->ConstrainClippingRegion(&region);
	}
	// Clipping to a picture's drawing is not supported: the ops draw unclipped by it, which
	// loses less of a page than drawing nothing.
	void ClipToPicture(const PictureData&, BPoint, bool) override {}
	void ClearClipping() override { fView->ConstrainClippingRegion(NULL); }
	void ClipToRect(BRect rect, bool inverse) override
	{
		const ViewState& state = fView->fStates->Top();
		BRegion region;
		if (state.clipping)
			region = *state.clipping;
		else
			region.Set(BRect(-kHugeCoordinate, -kHugeCoordinate, kHugeCoordinate,
				kHugeCoordinate));
		if (inverse) {
			region.Exclude(rect);
		} else {
			BRegion cut(rect);
			region.IntersectWith(&cut);
		}
		fView->ConstrainClippingRegion(&region);
	}

	void PushState() override
	{
		fView->PushState();
		fPushes++;
	}
	void PopState() override
	{
		if (fPushes == 0)
			return;
		fView->PopState();
		fPushes--;
	}
	void SetOrigin(BPoint origin) override { fView->SetOrigin(origin); }
	void SetPenLocation(BPoint location) override { fView->MovePenTo(location); }
	void SetDrawingMode(drawing_mode mode) override { fView->SetDrawingMode(mode); }
	void SetLineMode(cap_mode cap, join_mode join, float miterLimit) override
	{
		fView->SetLineMode(cap, join, miterLimit);
	}
	void SetPenSize(float size) override { fView->SetPenSize(size); }
	void SetScale(float scale) override { fView->SetScale(scale); }
	void SetHighColor(rgb_color color) override { fView->SetHighColor(color); }
	void SetLowColor(rgb_color color) override { fView->SetLowColor(color); }
	void SetStipplePattern(const pattern& stipple) override
	{
		fView->fStates->Top().stipple = stipple;
	}
	void SetBlendingMode(source_alpha sourceAlpha, alpha_function alphaFunction) override
	{
		fView->SetBlendingMode(sourceAlpha, alphaFunction);
	}

	void SetFontFamily(const char* family) override
	{
		_Font()->SetFamilyAndStyle(family, NULL);
		_FontChanged(B_FONT_FAMILY_AND_STYLE);
	}
	void SetFontStyle(const char* style) override
	{
		_Font()->SetFamilyAndStyle(NULL, style);
		_FontChanged(B_FONT_FAMILY_AND_STYLE);
	}
	void SetFontSpacing(int32 spacing) override
	{
		_Font()->SetSpacing(static_cast<uint8>(spacing));
		_FontChanged(B_FONT_SPACING);
	}
	void SetFontEncoding(int32 encoding) override
	{
		_Font()->SetEncoding(static_cast<uint8>(encoding));
		_FontChanged(B_FONT_ENCODING);
	}
	void SetFontFlags(int32 flags) override
	{
		_Font()->SetFlags(static_cast<uint32>(flags));
		_FontChanged(B_FONT_FLAGS);
	}
	void SetFontSize(float size) override
	{
		_Font()->SetSize(size);
		_FontChanged(B_FONT_SIZE);
	}
	void SetFontRotation(float degrees) override
	{
		_Font()->SetRotation(degrees);
		_FontChanged(B_FONT_ROTATION);
	}
	void SetFontShear(float degrees) override
	{
		_Font()->SetShear(degrees);
		_FontChanged(B_FONT_SHEAR);
	}
	void SetFontFace(int32 face) override
	{
		_Font()->SetFace(static_cast<uint16>(face));
		_FontChanged(B_FONT_FACE);
	}

private:
	pattern _Stipple() const { return fView->fStates->Top().stipple; }

	// Font ops inside a font block are applied together when it closes; a stray one at
	// once.
	BFont* _Font()
	{
		if (!fInFontState) {
			fView->GetFont(&fFont);
			fFontMask = 0;
		}
		return &fFont;
	}
	void _FontChanged(uint32 mask)
	{
		fFontMask |= mask;
		if (!fInFontState)
			_ApplyFont();
	}
	void _ApplyFont()
	{
		if (fFontMask != 0)
			fView->SetFont(&fFont, fFontMask);
		fFontMask = 0;
	}

	BView* fView;
	int32 fPushes = 0;
	BFont fFont;
	uint32 fFontMask = 0;
	bool fInFontState = false;
};

void ViewPicturePlayer::PlayInto(BView* view, const PictureData& data, BPoint where,
	PictureOps* sharing)
{
	if (!std::isfinite(where.x) || !std::isfinite(where.y))
		return;
	// Two levels: the drawing point, in the view's current coordinates, and above it the
	// picture's own level, where its ops run. The picture's origin, scale and state ops thus
	// act relative to the drawing point instead of replacing it.
	// On a full stack the picture draws nothing: it would run in, and change, its caller's
	// level.
	int32 refused = view->fStates->overflow;
	view->PushState();
	if (view->fStates->overflow != refused) {
		view->PopState();
		return;
	}
	view->SetOrigin(where);
	view->PushState();
	if (view->fStates->overflow != refused) {
		view->PopState();
		view->PopState();
		return;
	}
	// A picture's ops start from the solid pattern, whatever the view used last.
	view->fStates->Top().stipple = B_SOLID_HIGH;
	ViewPicturePlayer player(view);
	if (sharing != NULL) {
		(void)data.Play(player, sharing);  // a damaged picture draws what it can
	} else {
		(void)data.Play(player);
		// The one who drew the picture learns from the bitmap that it was cut short.
		BitmapPrivate* target = view->fBitmap != NULL ? view->fBitmap->Private() : NULL;
		if (player.PlayBudgetRanOut() && target != NULL)
			target->PictureCut();
	}
	player.Unwind();
	view->PopState();
	view->PopState();
}

void ViewPicturePlayer::DrawPicture(BPoint where, const PictureData& picture)
{
	PlayInto(fView, picture, where, this);
}

void BView::DrawPicture(const BPicture* picture)
{
	DrawPicture(picture, PenLocation());
}

void BView::DrawPicture(const BPicture* picture, BPoint where)
{
	if (picture == NULL)
		return;
	if (fRecorder != NULL) {
		fRecorder->DrawPicture(where, *picture->Data());
		return;
	}
	ViewPicturePlayer::PlayInto(this, *picture->Data(), where, NULL);
}

void BView::BeginPicture(BPicture* picture)
{
	_EndRecording();
	if (picture == NULL)
		return;
	fRecorder = new PictureWriter(true);
	fRecordedPicture = picture;
	fStates->Top().stipple = B_SOLID_HIGH;
}

void BView::AppendToPicture(BPicture* picture)
{
	_EndRecording();
	if (picture == NULL)
		return;
	PictureWriter* writer = new PictureWriter(true);
	(void)picture->Data()->Play(*writer);  // its ops were validated when it was made
	fRecorder = writer;
	fRecordedPicture = picture;
	fStates->Top().stipple = B_SOLID_HIGH;
}

BPicture* BView::EndPicture()
{
	BPicture* picture = fRecordedPicture;
	if (fRecorder == NULL)
		return NULL;
	PictureData data;
	static_cast<PictureWriter*>(fRecorder)->Finish(&data);
	picture->AdoptData(std::move(data));
	delete fRecorder;
	fRecorder = NULL;
	fRecordedPicture = NULL;
	return picture;
}

void BView::_EndRecording()
{
	delete fRecorder;
	fRecorder = NULL;
	fRecordedPicture = NULL;
}
