// PictureWriter: appends ops in the flattened form, little-endian.
#include "PictureData.h"
#include "PictureOpCodes.h"

#include <bit>
#include <cassert>
#include <cstring>
#include <limits>
#include <numbers>
#include <utility>

using namespace BPrivate;

namespace {

const size_t kOpHeaderSize = 6;
// State ops: everything after the state-change block up to the end of the 0x03xx range.
const uint16 kLastStateOp = 0x03FF;
const float kRadiansPerDegree = std::numbers::pi_v<float> / 180.0f;
// Largest payload that still fits the int32 size field.
const size_t kMaxPayload = static_cast<size_t>(std::numeric_limits<int32>::max());

}  // namespace


void PictureWriter::Finish(PictureData* data)
{
	while (!fOpenBlocks.empty())
		_CloseBlock(fOpenBlocks.back().code);
	*data = std::move(fData);
	fData = PictureData();
}


// #pragma mark - op framing


void PictureWriter::_BeginOp(uint16 code)
{
	if (fBatchStateChanges)
		_Batch(code);
	_WriteHeader(code);
}


void PictureWriter::_WriteHeader(uint16 code)
{
	fOpStart = fData.fOps.size();
	_AddInt16(static_cast<int16>(code));
	_AddInt32(0);  // patched by _EndOp
}


// The original recorder keeps consecutive state ops in one state-change block: a state op
// outside any block opens one, and the next op that is not a state op closes it.
void PictureWriter::_Batch(uint16 code)
{
	bool stateOp = code > kOpEnterStateChange && code <= kLastStateOp;
	if (stateOp && fOpenBlocks.empty()) {
		_WriteHeader(kOpEnterStateChange);
		fOpenBlocks.push_back({kOpEnterStateChange, fOpStart, true});
	} else if (!stateOp && fOpenBlocks.size() == 1 && fOpenBlocks[0].batch)
		_CloseBlock(kOpEnterStateChange);
}


void PictureWriter::_EndOp()
{
	size_t payload = fData.fOps.size() - fOpStart - kOpHeaderSize;
	assert(payload <= kMaxPayload);
	uint32 size = static_cast<uint32>(payload);
	uint8* field = fData.fOps.data() + fOpStart + 2;
	for (int i = 0; i < 4; i++)
		field[i] = static_cast<uint8>(size >> (8 * i));
}


void PictureWriter::_Op(uint16 code, const void* payload, size_t size)
{
	_BeginOp(code);
	_Add(payload, size);
	_EndOp();
}


void PictureWriter::_OpenBlock(uint16 code)
{
	_BeginOp(code);
	fOpenBlocks.push_back({code, fOpStart, false});
}


// Closes the innermost open block of this kind, and any block opened inside it.
void PictureWriter::_CloseBlock(uint16 code)
{
	bool open = false;
	for (const Block& block : fOpenBlocks)
		open = open || block.code == code;
	if (!open)
		return;
	while (true) {
		Block block = fOpenBlocks.back();
		fOpenBlocks.pop_back();
		fOpStart = block.start;
		_EndOp();
		if (block.code == code)
			break;
	}
}


void PictureWriter::_Add(const void* data, size_t size)
{
	const uint8* bytes = static_cast<const uint8*>(data);
	fData.fOps.insert(fData.fOps.end(), bytes, bytes + size);
}


void PictureWriter::_AddInt16(int16 value)
{
	uint16 bits = static_cast<uint16>(value);
	uint8 bytes[2] = {static_cast<uint8>(bits), static_cast<uint8>(bits >> 8)};
	_Add(bytes, sizeof(bytes));
}


void PictureWriter::_AddInt32(int32 value)
{
	uint32 bits = static_cast<uint32>(value);
	uint8 bytes[4] = {static_cast<uint8>(bits), static_cast<uint8>(bits >> 8),
		static_cast<uint8>(bits >> 16), static_cast<uint8>(bits >> 24)};
	_Add(bytes, sizeof(bytes));
}


void PictureWriter::_AddFloat(float value)
{
	_AddInt32(static_cast<int32>(std::bit_cast<uint32>(value)));
}


void PictureWriter::_AddDouble(double value)
{
	uint64 bits = std::bit_cast<uint64>(value);
	_AddInt32(static_cast<int32>(static_cast<uint32>(bits)));
	_AddInt32(static_cast<int32>(static_cast<uint32>(bits >> 32)));
}


void PictureWriter::_AddPoint(BPoint point)
{
	_AddFloat(point.x);
	_AddFloat(point.y);
}


void PictureWriter::_AddRect(BRect rect)
{
	_AddFloat(rect.left);
	_AddFloat(rect.top);
	_AddFloat(rect.right);
	_AddFloat(rect.bottom);
}


int32 PictureWriter::_AddSubPicture(const PictureData& picture)
{
	fData.fSubPictures.push_back(picture);
	return fData.CountSubPictures() - 1;
}


void PictureWriter::_Shape(uint16 code, const PictureShape& shape)
{
	if (shape.opCount < 0 || shape.pointCount < 0)
		return;
	_BeginOp(code);
	_AddInt32(shape.opCount);
	for (int32 i = 0; i < shape.opCount; i++)
		_AddInt32(static_cast<int32>(shape.ops[i]));
	_AddInt32(shape.pointCount);
	for (int32 i = 0; i < shape.pointCount; i++)
		_AddPoint(shape.points[i]);
	_EndOp();
}


// #pragma mark - drawing


void PictureWriter::MovePenBy(BPoint delta)
{
	_BeginOp(kOpMovePenBy);
	_AddPoint(delta);
	_EndOp();
}


void PictureWriter::StrokeLine(BPoint start, BPoint end)
{
	_BeginOp(kOpStrokeLine);
	_AddPoint(start);
	_AddPoint(end);
	_EndOp();
}


void PictureWriter::StrokeRect(BRect rect)
{
	_BeginOp(kOpStrokeRect);
	_AddRect(rect);
	_EndOp();
}


void PictureWriter::FillRect(BRect rect)
{
	_BeginOp(kOpFillRect);
	_AddRect(rect);
	_EndOp();
}


void PictureWriter::StrokeRoundRect(BRect rect, BPoint radii)
{
	_BeginOp(kOpStrokeRoundRect);
	_AddRect(rect);
	_AddPoint(radii);
	_EndOp();
}


void PictureWriter::FillRoundRect(BRect rect, BPoint radii)
{
	_BeginOp(kOpFillRoundRect);
	_AddRect(rect);
	_AddPoint(radii);
	_EndOp();
}


void PictureWriter::StrokeBezier(const BPoint* points)
{
	_BeginOp(kOpStrokeBezier);
	for (int i = 0; i < 4; i++)
		_AddPoint(points[i]);
	_EndOp();
}


void PictureWriter::FillBezier(const BPoint* points)
{
	_BeginOp(kOpFillBezier);
	for (int i = 0; i < 4; i++)
		_AddPoint(points[i]);
	_EndOp();
}


void PictureWriter::StrokePolygon(int32 count, const BPoint* points, bool closed)
{
	if (count <= 0)
		return;
	_BeginOp(kOpStrokePolygon);
	_AddInt32(count);
	for (int32 i = 0; i < count; i++)
		_AddPoint(points[i]);
	uint8 flag = closed ? 1 : 0;
	_Add(&flag, 1);
	_EndOp();
}


void PictureWriter::FillPolygon(int32 count, const BPoint* points)
{
	if (count <= 0)
		return;
	_BeginOp(kOpFillPolygon);
	_AddInt32(count);
	for (int32 i = 0; i < count; i++)
		_AddPoint(points[i]);
	_EndOp();
}


void PictureWriter::StrokeShape(const PictureShape& shape)
{
	_Shape(kOpStrokeShape, shape);
}


void PictureWriter::FillShape(const PictureShape& shape)
{
	_Shape(kOpFillShape, shape);
}


void PictureWriter::DrawString(const char* string, int32 length, escapement_delta delta)
{
	if (string == nullptr || length < 0)
		return;
	_BeginOp(kOpDrawString);
	_AddInt32(length);
	_Add(string, length);
	_AddFloat(delta.nonspace);
	_AddFloat(delta.space);
	_EndOp();
}


void PictureWriter::DrawPixels(const PicturePixels& pixels)
{
	if (pixels.data == nullptr || pixels.length > kMaxPayload - 56)
		return;
	_BeginOp(kOpDrawPixels);
	_AddRect(pixels.source);
	_AddRect(pixels.destination);
	_AddInt32(pixels.width);
	_AddInt32(pixels.height);
	_AddInt32(pixels.bytesPerRow);
	_AddInt32(pixels.space);
	_AddInt32(pixels.flags);
	_AddInt32(static_cast<int32>(pixels.length));
	_Add(pixels.data, pixels.length);
	_EndOp();
}


void PictureWriter::DrawPicture(BPoint where, const PictureData& picture)
{
	// One level more than Unflatten reads would make the whole recording unreadable.
	if (picture.NestingDepth() >= PictureData::kMaxNesting)
		return;
	int32 index = _AddSubPicture(picture);
	_BeginOp(kOpDrawPicture);
	_AddPoint(where);
	_AddInt32(index);
	_EndOp();
}


void PictureWriter::StrokeArc(BPoint center, BPoint radii, float start, float span)
{
	_BeginOp(kOpStrokeArc);
	_AddPoint(center);
	_AddPoint(radii);
	_AddFloat(start);
	_AddFloat(span);
	_EndOp();
}


void PictureWriter::FillArc(BPoint center, BPoint radii, float start, float span)
{
	_BeginOp(kOpFillArc);
	_AddPoint(center);
	_AddPoint(radii);
	_AddFloat(start);
	_AddFloat(span);
	_EndOp();
}


void PictureWriter::StrokeEllipse(BRect rect)
{
	_BeginOp(kOpStrokeEllipse);
	_AddRect(rect);
	_EndOp();
}


void PictureWriter::FillEllipse(BRect rect)
{
	_BeginOp(kOpFillEllipse);
	_AddRect(rect);
	_EndOp();
}


// #pragma mark - blocks


void PictureWriter::EnterStateChange()
{
	_OpenBlock(kOpEnterStateChange);
}


void PictureWriter::ExitStateChange()
{
	_CloseBlock(kOpEnterStateChange);
}


void PictureWriter::EnterFontState()
{
	_OpenBlock(kOpEnterFontState);
}


void PictureWriter::ExitFontState()
{
	_CloseBlock(kOpEnterFontState);
}


// #pragma mark - clipping


void PictureWriter::SetClippingRects(const clipping_rect& frame, const clipping_rect* rects,
	int32 count)
{
	_BeginOp(kOpSetClippingRects);
	_AddInt32(frame.left);
	_AddInt32(frame.top);
	_AddInt32(frame.right);
	_AddInt32(frame.bottom);
	for (int32 i = 0; rects != nullptr && i < count; i++) {
		_AddInt32(rects[i].left);
		_AddInt32(rects[i].top);
		_AddInt32(rects[i].right);
		_AddInt32(rects[i].bottom);
	}
	_EndOp();
}


void PictureWriter::ClipToPicture(const PictureData& picture, BPoint origin, bool inverse)
{
	if (picture.NestingDepth() >= PictureData::kMaxNesting)
		return;
	int32 index = _AddSubPicture(picture);
	_BeginOp(kOpClipToPicture);
	_AddInt32(index);
	_AddPoint(origin);
	uint8 flag = inverse ? 1 : 0;
	_Add(&flag, 1);
	_EndOp();
}


void PictureWriter::ClearClipping()
{
	_Op(kOpClearClipping, nullptr, 0);
}


void PictureWriter::ClipToRect(BRect rect, bool inverse)
{
	_BeginOp(kOpClipToRect);
	uint8 flag = inverse ? 1 : 0;
	_Add(&flag, 1);
	_AddRect(rect);
	_EndOp();
}


// #pragma mark - state


void PictureWriter::PushState()
{
	_Op(kOpPushState, nullptr, 0);
}


void PictureWriter::PopState()
{
	_Op(kOpPopState, nullptr, 0);
}


void PictureWriter::SetOrigin(BPoint origin)
{
	_BeginOp(kOpSetOrigin);
	_AddPoint(origin);
	_EndOp();
}


void PictureWriter::SetPenLocation(BPoint location)
{
	_BeginOp(kOpSetPenLocation);
	_AddPoint(location);
	_EndOp();
}


void PictureWriter::SetDrawingMode(drawing_mode mode)
{
	_BeginOp(kOpSetDrawingMode);
	_AddInt16(static_cast<int16>(mode));
	_EndOp();
}


void PictureWriter::SetLineMode(cap_mode cap, join_mode join, float miterLimit)
{
	_BeginOp(kOpSetLineMode);
	_AddInt16(static_cast<int16>(cap));
	_AddInt16(static_cast<int16>(join));
	_AddFloat(miterLimit);
	_EndOp();
}


void PictureWriter::SetPenSize(float size)
{
	_BeginOp(kOpSetPenSize);
	_AddFloat(size);
	_EndOp();
}


void PictureWriter::SetScale(float scale)
{
	_BeginOp(kOpSetScale);
	_AddFloat(scale);
	_EndOp();
}


void PictureWriter::SetHighColor(rgb_color color)
{
	uint8 bytes[4] = {color.red, color.green, color.blue, color.alpha};
	_Op(kOpSetHighColor, bytes, sizeof(bytes));
}


void PictureWriter::SetLowColor(rgb_color color)
{
	uint8 bytes[4] = {color.red, color.green, color.blue, color.alpha};
	_Op(kOpSetLowColor, bytes, sizeof(bytes));
}


void PictureWriter::SetStipplePattern(const pattern& stipple)
{
	_Op(kOpSetStipplePattern, stipple.data, sizeof(stipple.data));
}


void PictureWriter::SetBlendingMode(source_alpha sourceAlpha, alpha_function alphaFunction)
{
	_BeginOp(kOpSetBlendingMode);
	_AddInt16(static_cast<int16>(sourceAlpha));
	_AddInt16(static_cast<int16>(alphaFunction));
	_EndOp();
}


void PictureWriter::SetFillRule(int32 rule)
{
	_BeginOp(kOpSetFillRule);
	_AddInt32(rule);
	_EndOp();
}


void PictureWriter::SetTransform(const double* matrix)
{
	_BeginOp(kOpSetTransform);
	for (int i = 0; i < 6; i++)
		_AddDouble(matrix[i]);
	_EndOp();
}


void PictureWriter::AffineTranslate(double x, double y)
{
	_BeginOp(kOpAffineTranslate);
	_AddDouble(x);
	_AddDouble(y);
	_EndOp();
}


void PictureWriter::AffineScale(double x, double y)
{
	_BeginOp(kOpAffineScale);
	_AddDouble(x);
	_AddDouble(y);
	_EndOp();
}


void PictureWriter::AffineRotate(double radians)
{
	_BeginOp(kOpAffineRotate);
	_AddDouble(radians);
	_EndOp();
}


// #pragma mark - font state


void PictureWriter::SetFontFamily(const char* family)
{
	if (family == nullptr)
		return;
	size_t length = strlen(family) + 1;  // the stored length counts the NUL
	_BeginOp(kOpSetFontFamily);
	_AddInt32(static_cast<int32>(length));
	_Add(family, length);
	_EndOp();
}


void PictureWriter::SetFontStyle(const char* style)
{
	if (style == nullptr)
		return;
	size_t length = strlen(style) + 1;
	_BeginOp(kOpSetFontStyle);
	_AddInt32(static_cast<int32>(length));
	_Add(style, length);
	_EndOp();
}


void PictureWriter::SetFontSpacing(int32 spacing)
{
	_BeginOp(kOpSetFontSpacing);
	_AddInt32(spacing);
	_EndOp();
}


void PictureWriter::SetFontEncoding(int32 encoding)
{
	_BeginOp(kOpSetFontEncoding);
	_AddInt32(encoding);
	_EndOp();
}


void PictureWriter::SetFontFlags(int32 flags)
{
	_BeginOp(kOpSetFontFlags);
	_AddInt32(flags);
	_EndOp();
}


void PictureWriter::SetFontSize(float size)
{
	_BeginOp(kOpSetFontSize);
	_AddFloat(size);
	_EndOp();
}


void PictureWriter::SetFontRotation(float degrees)
{
	_BeginOp(kOpSetFontRotation);
	_AddFloat(degrees);
	_EndOp();
}


void PictureWriter::SetFontShear(float degrees)
{
	// Stored in radians away from upright (API 90 degrees).
	_BeginOp(kOpSetFontShear);
	_AddFloat((degrees - 90.0f) * kRadiansPerDegree);
	_EndOp();
}


void PictureWriter::SetFontBpp(int32 bpp)
{
	_BeginOp(kOpSetFontBpp);
	_AddInt32(bpp);
	_EndOp();
}


void PictureWriter::SetFontFace(int32 face)
{
	_BeginOp(kOpSetFontFace);
	_AddInt32(face);
	_EndOp();
}
