// Fuzz target: unflatten a picture from raw bytes and play it, sub-pictures included: once
// into an object that reads every byte the player hands out (so the sanitizers see any read
// past a payload), and once into a small 16-bit band the way the band renderer draws it
// (scale 4, shifted origin, clipped to the picture's rectangle). Built as a libFuzzer target with TESSARY_FUZZ; the test build includes
// this file with TESSARY_FUZZ_REPLAY defined and calls picture_fuzz_one_input directly.
#include <Bitmap.h>
#include <DataIO.h>
#include <Picture.h>
#include <Region.h>
#include <View.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kits/interface/PictureData.h"

namespace {

// Smaller than a real play's budget so runaway sub-pictures do not slow the fuzzer down.
const uint64 kFuzzBudget = 10000;


class TouchingOps : public PictureOps {
public:
	uint64 sum = 0;

	void StrokeBezier(const BPoint* points) override { _Points(4, points); }
	void FillBezier(const BPoint* points) override { _Points(4, points); }
	void StrokePolygon(int32 count, const BPoint* points, bool) override
	{
		_Points(count, points);
	}
	void FillPolygon(int32 count, const BPoint* points) override { _Points(count, points); }
	void StrokeShape(const PictureShape& shape) override { _Shape(shape); }
	void FillShape(const PictureShape& shape) override { _Shape(shape); }
	void DrawString(const char* text, int32 length, escapement_delta) override
	{
		_Bytes(text, length);
	}
	void DrawPixels(const PicturePixels& pixels) override
	{
		_Bytes(pixels.data, pixels.length);
	}
	void DrawPicture(BPoint, const PictureData& picture) override { picture.Play(*this); }
	void SetClippingRects(const clipping_rect& frame, const clipping_rect* rects,
		int32 count) override
	{
		_Bytes(&frame, sizeof(frame));
		_Bytes(rects, count * sizeof(clipping_rect));
	}
	void ClipToPicture(const PictureData& picture, BPoint, bool) override
	{
		// A clipping mask is drawn by a separate object that shares the limits.
		TouchingOps mask;
		picture.Play(mask, this);
		sum += mask.sum;
	}
	void SetStipplePattern(const pattern& stipple) override
	{
		_Bytes(stipple.data, sizeof(stipple.data));
	}
	void SetTransform(const double* matrix) override { _Bytes(matrix, 6 * sizeof(double)); }
	void SetFontFamily(const char* family) override { _Bytes(family, strlen(family)); }
	void SetFontStyle(const char* style) override { _Bytes(style, strlen(style)); }

private:
	void _Bytes(const void* data, size_t length)
	{
		const uint8* bytes = static_cast<const uint8*>(data);
		for (size_t i = 0; i < length; i++)
			sum += bytes[i];
	}
	void _Points(int32 count, const BPoint* points)
	{
		_Bytes(points, count * sizeof(BPoint));
	}
	void _Shape(const PictureShape& shape)
	{
		_Bytes(shape.ops, shape.opCount * sizeof(uint32));
		_Points(shape.pointCount, shape.points);
	}
};

}  // namespace


int picture_fuzz_one_input(const uint8_t* data, size_t size)
{
	BMemoryIO stream(data, size);
	PictureData picture;
	if (picture.Unflatten(&stream) != B_OK)
		return 0;
	TouchingOps ops;
	picture.Play(ops, nullptr, kFuzzBudget);

#ifndef TESSARY_FUZZ_NO_BAND
	// The same bytes through the public picture and a band view, as a page is printed.
	static BBitmap* band = [] {
		auto* bitmap = new BBitmap(BRect(0, 0, 64, 25), B_RGB16_BIG, true);
		bitmap->AddChild(new BView(bitmap->Bounds(), "band", B_FOLLOW_ALL_SIDES, B_WILL_DRAW));
		return bitmap;
	}();
	BMemoryIO again(data, size);
	BPicture public_picture;
	if (public_picture.Unflatten(&again) == B_OK) {
		BView* view = band->ChildAt(0);
		band->Lock();
		view->ForceFontAliasing(true);
		view->SetScale(4);
		view->SetHighColor(255, 255, 255, 255);
		view->ConstrainClippingRegion(nullptr);
		view->FillRect(view->Bounds());
		BRegion clip(BRect(2, -3, 14, 9));
		view->ConstrainClippingRegion(&clip);
		view->DrawPicture(&public_picture, BPoint(2, -3));
		view->Sync();
		band->Unlock();
	}
#endif
	return 0;
}


#ifndef TESSARY_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	return picture_fuzz_one_input(data, size);
}
#endif
