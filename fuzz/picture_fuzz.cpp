// Fuzz target: unflatten a picture from raw bytes and play it, sub-pictures included.
//
// The ops object reads every byte the player hands out, so the sanitizers see any read
// past a payload. Built as a libFuzzer target with TESSARY_FUZZ; the test build includes
// this file with TESSARY_FUZZ_REPLAY defined and calls picture_fuzz_one_input directly.
#include <DataIO.h>

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
	return 0;
}


#ifndef TESSARY_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	return picture_fuzz_one_input(data, size);
}
#endif
