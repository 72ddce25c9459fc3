// Flattened pictures: container parsing, op playback and recording.
//
// All multi-byte values are little-endian in the flattened form; they are assembled byte by
// byte so the code does not depend on the host order or on the alignment of the op bytes.
#include "PictureData.h"
#include "PictureOpCodes.h"

#include <Errors.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <utility>

using namespace BPrivate;

namespace {

const int32 kPictureVersion = 2;
const size_t kOpHeaderSize = 6;
const size_t kReadChunk = 64 * 1024;

// Shape op words: command bits and the point count in the low 24 bits.
const uint32 kShapeMoveTo = 0x80000000;
const uint32 kShapePointMask = 0x00FFFFFF;

const float kDegreesPerRadian = 180.0f / std::numbers::pi_v<float>;


bool is_container(uint16 code)
{
	return code == kOpEnterStateChange || code == kOpEnterFontState;
}


uint16 decode16(const uint8* bytes)
{
	return static_cast<uint16>(bytes[0] | (bytes[1] << 8));
}


uint32 decode32(const uint8* bytes)
{
	return static_cast<uint32>(bytes[0]) | (static_cast<uint32>(bytes[1]) << 8)
		| (static_cast<uint32>(bytes[2]) << 16) | (static_cast<uint32>(bytes[3]) << 24);
}


uint64 decode64(const uint8* bytes)
{
	return static_cast<uint64>(decode32(bytes)) | (static_cast<uint64>(decode32(bytes + 4)) << 32);
}


// Reads the payload of one op; every read fails (and reads nothing) past the end.
class PayloadReader {
public:
	PayloadReader(const uint8* data, size_t size) : fData(data), fSize(size), fOffset(0) {}

	size_t Remaining() const { return fSize - fOffset; }

	const uint8* Take(size_t size)
	{
		if (size > Remaining())
			return nullptr;
		const uint8* start = fData + fOffset;
		fOffset += size;
		return start;
	}

	bool Uint8(uint8* value)
	{
		const uint8* bytes = Take(1);
		if (bytes == nullptr)
			return false;
		*value = bytes[0];
		return true;
	}

	bool Int16(int16* value)
	{
		const uint8* bytes = Take(2);
		if (bytes == nullptr)
			return false;
		*value = static_cast<int16>(decode16(bytes));
		return true;
	}

	bool Int32(int32* value)
	{
		const uint8* bytes = Take(4);
		if (bytes == nullptr)
			return false;
		*value = static_cast<int32>(decode32(bytes));
		return true;
	}

	bool Uint32(uint32* value)
	{
		const uint8* bytes = Take(4);
		if (bytes == nullptr)
			return false;
		*value = decode32(bytes);
		return true;
	}

	bool Float(float* value)
	{
		const uint8* bytes = Take(4);
		if (bytes == nullptr)
			return false;
		*value = std::bit_cast<float>(decode32(bytes));
		return true;
	}

	bool Double(double* value)
	{
		const uint8* bytes = Take(8);
		if (bytes == nullptr)
			return false;
		*value = std::bit_cast<double>(decode64(bytes));
		return true;
	}

	bool Point(BPoint* point) { return Float(&point->x) && Float(&point->y); }

	bool Rect(BRect* rect)
	{
		return Float(&rect->left) && Float(&rect->top) && Float(&rect->right)
			&& Float(&rect->bottom);
	}

	bool ClippingRect(clipping_rect* rect)
	{
		return Int32(&rect->left) && Int32(&rect->top) && Int32(&rect->right)
			&& Int32(&rect->bottom);
	}

private:
	const uint8* fData;
	size_t fSize;
	size_t fOffset;
};


status_t read_int32(BDataIO* stream, int32* value)
{
	uint8 bytes[4];
	status_t status = stream->ReadExactly(bytes, sizeof(bytes));
	if (status != B_OK)
		return status;
	*value = static_cast<int32>(decode32(bytes));
	return B_OK;
}


status_t write_int32(BDataIO* stream, int32 value)
{
	uint32 bits = static_cast<uint32>(value);
	uint8 bytes[4] = {static_cast<uint8>(bits), static_cast<uint8>(bits >> 8),
		static_cast<uint8>(bits >> 16), static_cast<uint8>(bits >> 24)};
	return stream->WriteExactly(bytes, sizeof(bytes));
}


// True when the stream is seekable and holds fewer than needed bytes after its position;
// lets a huge declared size fail before anything is allocated for it.
bool stream_is_shorter_than(BDataIO* stream, uint64 needed)
{
	auto* positionIO = dynamic_cast<BPositionIO*>(stream);
	if (positionIO == nullptr)
		return false;
	off_t size;
	off_t position = positionIO->Position();
	if (position < 0 || positionIO->GetSize(&size) != B_OK || size < position)
		return false;
	return needed > static_cast<uint64>(size - position);
}


// Checks that the ops of data frame exactly, containers included.
bool frames_are_valid(const uint8* data, size_t size, int32 depth)
{
	if (depth >= PictureData::kMaxNesting)
		return false;
	size_t offset = 0;
	while (offset < size) {
		if (size - offset < kOpHeaderSize)
			return false;
		uint16 code = decode16(data + offset);
		int32 opSize = static_cast<int32>(decode32(data + offset + 2));
		offset += kOpHeaderSize;
		if (opSize < 0 || static_cast<size_t>(opSize) > size - offset)
			return false;
		if (is_container(code) && !frames_are_valid(data + offset, opSize, depth + 1))
			return false;
		offset += opSize;
	}
	return true;
}


bool pixel_space_is_supported(int32 space, uint32* bitsPerPixel)
{
	switch (space) {
		case B_GRAY1:
			*bitsPerPixel = 1;
			return true;
		case B_GRAY8: case B_CMAP8:
			*bitsPerPixel = 8;
			return true;
		case B_RGB16: case B_RGB15: case B_RGBA15: case B_RGB16_BIG: case B_RGB15_BIG:
		case B_RGBA15_BIG:
			*bitsPerPixel = 16;
			return true;
		case B_RGB24: case B_RGB24_BIG:
			*bitsPerPixel = 24;
			return true;
		case B_RGB32: case B_RGBA32: case B_RGB32_BIG: case B_RGBA32_BIG:
			*bitsPerPixel = 32;
			return true;
		default:
			return false;
	}
}


// Shape data comes in two field orders: (K, ops, P, points) from the original and
// (K, P, ops, points) from later writers. Both are 8 + 4K + 8P bytes. An order is taken
// when its point count field holds P and the op words consume exactly P points.
struct DecodedShape {
	std::vector<uint32> ops;
	std::vector<BPoint> points;
};


bool shape_order_fits(const uint8* data, int32 opCount, size_t opsOffset, uint64 pointCount)
{
	uint64 consumed = 0;
	for (int32 i = 0; i < opCount; i++) {
		uint32 op = decode32(data + opsOffset + 4 * static_cast<size_t>(i));
		consumed += op & kShapePointMask;
		if ((op & kShapeMoveTo) != 0)
			consumed++;
	}
	return consumed == pointCount;
}


bool decode_shape(const uint8* data, size_t size, DecodedShape* shape)
{
	if (size < 8)
		return false;
	int32 opCount = static_cast<int32>(decode32(data));
	if (opCount < 0 || 8 + 4 * static_cast<uint64>(opCount) > size)
		return false;
	size_t pointsOffset = 8 + 4 * static_cast<size_t>(opCount);
	size_t pointBytes = size - pointsOffset;
	if (pointBytes % sizeof(BPoint) != 0)
		return false;
	uint64 pointCount = pointBytes / sizeof(BPoint);

	size_t opsOffset;
	if (decode32(data + 4 + 4 * static_cast<size_t>(opCount)) == pointCount
		&& shape_order_fits(data, opCount, 4, pointCount)) {
		opsOffset = 4;
	} else if (decode32(data + 4) == pointCount
		&& shape_order_fits(data, opCount, 8, pointCount)) {
		opsOffset = 8;
	} else
		return false;

	shape->ops.resize(opCount);
	for (int32 i = 0; i < opCount; i++)
		shape->ops[i] = decode32(data + opsOffset + 4 * static_cast<size_t>(i));
	PayloadReader reader(data + pointsOffset, pointBytes);
	shape->points.resize(pointCount);
	for (BPoint& point : shape->points)
		reader.Point(&point);
	return true;
}


bool read_points(PayloadReader& reader, int32 count, std::vector<BPoint>* points)
{
	if (count <= 0 || static_cast<uint64>(count) * sizeof(BPoint) > reader.Remaining())
		return false;
	points->resize(count);
	for (BPoint& point : *points)
		reader.Point(&point);
	return true;
}


// A font name stored with its length, the terminating NUL included in the count.
bool read_font_name(PayloadReader& reader, std::string* name)
{
	int32 length;
	if (!reader.Int32(&length) || length < 0)
		return false;
	const uint8* bytes = reader.Take(length);
	if (bytes == nullptr)
		return false;
	name->assign(reinterpret_cast<const char*>(bytes), length);
	name->resize(strnlen(name->c_str(), name->size()));
	return true;
}

}  // namespace


// #pragma mark - PictureData


void PictureData::MakeEmpty()
{
	fSubPictures.clear();
	fOps.clear();
}


int32 PictureData::NestingDepth() const
{
	int32 deepest = 0;
	for (const PictureData& sub : fSubPictures)
		deepest = std::max(deepest, sub.NestingDepth());
	return deepest + 1;
}


const PictureData* PictureData::SubPictureAt(int32 index) const
{
	if (index < 0 || index >= CountSubPictures())
		return nullptr;
	return &fSubPictures[index];
}


status_t PictureData::Unflatten(BDataIO* stream)
{
	MakeEmpty();
	if (stream == nullptr)
		return B_BAD_VALUE;
	PictureData parsed;
	status_t status = parsed._Unflatten(stream, 0);
	if (status != B_OK)
		return status;
	*this = std::move(parsed);
	return B_OK;
}


status_t PictureData::_Unflatten(BDataIO* stream, int32 depth)
{
	if (depth >= kMaxNesting)
		return B_BAD_DATA;

	// Header: version, a word that is always 0, the number of sub-pictures
	int32 version, zero, count;
	status_t status = read_int32(stream, &version);
	if (status == B_OK)
		status = read_int32(stream, &zero);
	if (status == B_OK)
		status = read_int32(stream, &count);
	if (status != B_OK)
		return status;
	if (version != kPictureVersion || zero != 0 || count < 0)
		return B_BAD_DATA;
	// Every sub-picture needs at least its 16 header bytes.
	if (stream_is_shorter_than(stream, static_cast<uint64>(count) * 16 + 4))
		return B_BAD_DATA;

	// Sub-pictures, grown one at a time so the count alone allocates nothing
	for (int32 i = 0; i < count; i++) {
		fSubPictures.emplace_back();
		status = fSubPictures.back()._Unflatten(stream, depth + 1);
		if (status != B_OK)
			return status;
	}

	// Op data, read in chunks for streams whose length is not known
	int32 size;
	status = read_int32(stream, &size);
	if (status != B_OK)
		return status;
	if (size < 0 || stream_is_shorter_than(stream, static_cast<uint64>(size)))
		return B_BAD_DATA;
	size_t done = 0;
	while (done < static_cast<size_t>(size)) {
		size_t chunk = std::min(kReadChunk, static_cast<size_t>(size) - done);
		fOps.resize(done + chunk);
		status = stream->ReadExactly(fOps.data() + done, chunk);
		if (status != B_OK)
			return status;
		done += chunk;
	}

	if (!frames_are_valid(fOps.data(), fOps.size(), 0))
		return B_BAD_DATA;
	return B_OK;
}


status_t PictureData::Flatten(BDataIO* stream) const
{
	if (stream == nullptr)
		return B_BAD_VALUE;
	if (fOps.size() > static_cast<size_t>(std::numeric_limits<int32>::max()))
		return B_BAD_VALUE;
	status_t status = write_int32(stream, kPictureVersion);
	if (status == B_OK)
		status = write_int32(stream, 0);
	if (status == B_OK)
		status = write_int32(stream, CountSubPictures());
	for (size_t i = 0; status == B_OK && i < fSubPictures.size(); i++)
		status = fSubPictures[i].Flatten(stream);
	if (status == B_OK)
		status = write_int32(stream, static_cast<int32>(fOps.size()));
	if (status == B_OK && !fOps.empty())
		status = stream->WriteExactly(fOps.data(), fOps.size());
	return status;
}


size_t PictureData::FlattenedSize() const
{
	size_t size = 16 + fOps.size();
	for (const PictureData& picture : fSubPictures)
		size += picture.FlattenedSize();
	return size;
}


status_t PictureData::Play(PictureOps& ops, PictureOps* sharing, uint64 maxOps) const
{
	// Find the object that keeps the limits of the outermost play in progress.
	PictureOps* root = sharing != nullptr ? sharing : &ops;
	while (root->fPlayOwner != nullptr)
		root = root->fPlayOwner;
	PictureOps* savedOwner = ops.fPlayOwner;
	if (root != &ops)
		ops.fPlayOwner = root;
	if (root->fPlayDepth == 0) {
		// A picture that plays its own sub-pictures over and over can ask for far more work
		// than its size suggests. Allow generous reuse (a few ops per byte of the picture,
		// and never less than kMinOpsBudget), but no more: the band renderer plays every
		// picture once per band, so the budget is paid dozens of times per page.
		uint64 sizeBound = static_cast<uint64>(FlattenedSize()) * kOpsPerByte;
		root->fPlayBudget = std::min(maxOps, std::max(kMinOpsBudget, sizeBound));
		// Ops are not all alike: one that fills a whole band costs as much as a thousand
		// that draw nothing. The work budget counts what was drawn.
		root->fPlayWork = kMaxWorkPerPlay;
		root->fPlayBudgetRanOut = false;
	}

	status_t status = B_BAD_DATA;
	if (root->fPlayDepth < kMaxNesting) {
		root->fPlayDepth++;
		status = _Play(ops, fOps.data(), fOps.size(), 0);
		root->fPlayDepth--;
	}
	ops.fPlayOwner = savedOwner;
	return status;
}


status_t PictureData::_Play(PictureOps& ops, const uint8* data, size_t size, int32 depth) const
{
	PictureOps* root = ops.fPlayOwner != nullptr ? ops.fPlayOwner : &ops;
	PayloadReader reader(data, size);
	while (reader.Remaining() > 0) {
		if (root->fPlayBudget == 0) {
			root->fPlayBudgetRanOut = true;
			return B_BAD_DATA;
		}
		root->fPlayBudget--;

		int16 code;
		int32 opSize;
		if (!reader.Int16(&code) || !reader.Int32(&opSize) || opSize < 0)
			return B_BAD_DATA;
		const uint8* payload = reader.Take(opSize);
		if (payload == nullptr)
			return B_BAD_DATA;

		uint16 op = static_cast<uint16>(code);
		if (!is_container(op)) {
			uint64 before = ops.WorkDone();
			_PlayOp(ops, op, payload, opSize);
			// A sub-picture's ops were charged by its own play.
			if (op == kOpDrawPicture || op == kOpClipToPicture)
				continue;
			uint64 work = kWorkPerOp + (ops.WorkDone() - before);
			if (work >= root->fPlayWork) {
				root->fPlayWork = 0;
				root->fPlayBudgetRanOut = true;
				return B_BAD_DATA;
			}
			root->fPlayWork -= work;
			continue;
		}
		if (depth + 1 >= kMaxNesting)
			continue;
		bool font = op == kOpEnterFontState;
		if (font)
			ops.EnterFontState();
		else
			ops.EnterStateChange();
		status_t status = _Play(ops, payload, opSize, depth + 1);
		if (font)
			ops.ExitFontState();
		else
			ops.ExitStateChange();
		if (status != B_OK)
			return status;
	}
	return B_OK;
}


// Decodes one op that is not a container. An op whose payload is too short for what its
// code needs, or whose values are out of range, is skipped; longer payloads are accepted.
void PictureData::_PlayOp(PictureOps& ops, uint16 code, const uint8* payload,
	size_t size) const
{
	PayloadReader reader(payload, size);
	BPoint point, point2;
	BRect rect;
	float value;
	int32 number;

	switch (code) {
		// Drawing
		case kOpMovePenBy:
			if (reader.Point(&point))
				ops.MovePenBy(point);
			break;
		case kOpStrokeLine:
			if (reader.Point(&point) && reader.Point(&point2))
				ops.StrokeLine(point, point2);
			break;
		case kOpStrokeRect:
			if (reader.Rect(&rect))
				ops.StrokeRect(rect);
			break;
		case kOpFillRect:
			if (reader.Rect(&rect))
				ops.FillRect(rect);
			break;
		case kOpStrokeRoundRect:
			if (reader.Rect(&rect) && reader.Point(&point))
				ops.StrokeRoundRect(rect, point);
			break;
		case kOpFillRoundRect:
			if (reader.Rect(&rect) && reader.Point(&point))
				ops.FillRoundRect(rect, point);
			break;
		case kOpStrokeBezier:
		case kOpFillBezier:
		{
			BPoint points[4];
			for (BPoint& control : points) {
				if (!reader.Point(&control))
					return;
			}
			if (code == kOpStrokeBezier)
				ops.StrokeBezier(points);
			else
				ops.FillBezier(points);
			break;
		}
		case kOpStrokePolygon:
		{
			std::vector<BPoint> points;
			uint8 closed = 0;
			if (reader.Int32(&number) && read_points(reader, number, &points)
				&& reader.Uint8(&closed)) {
				ops.StrokePolygon(number, points.data(), closed != 0);
			}
			break;
		}
		case kOpFillPolygon:
		{
			std::vector<BPoint> points;
			if (reader.Int32(&number) && read_points(reader, number, &points))
				ops.FillPolygon(number, points.data());
			break;
		}
		case kOpStrokeShape:
		case kOpFillShape:
		{
			DecodedShape decoded;
			if (!decode_shape(payload, size, &decoded))
				break;
			PictureShape shape = {static_cast<int32>(decoded.ops.size()), decoded.ops.data(),
				static_cast<int32>(decoded.points.size()), decoded.points.data()};
			if (code == kOpStrokeShape)
				ops.StrokeShape(shape);
			else
				ops.FillShape(shape);
			break;
		}
		case kOpDrawString:
		{
			escapement_delta delta;
			const uint8* text = nullptr;
			if (reader.Int32(&number) && number >= 0
				&& (text = reader.Take(number)) != nullptr && reader.Float(&delta.nonspace)
				&& reader.Float(&delta.space)) {
				ops.DrawString(reinterpret_cast<const char*>(text), number, delta);
			}
			break;
		}
		case kOpDrawPixels:
		{
			PicturePixels pixels;
			int32 space, length;
			uint32 bitsPerPixel;
			if (!reader.Rect(&pixels.source) || !reader.Rect(&pixels.destination)
				|| !reader.Int32(&pixels.width) || !reader.Int32(&pixels.height)
				|| !reader.Int32(&pixels.bytesPerRow) || !reader.Int32(&space)
				|| !reader.Int32(&pixels.flags) || !reader.Int32(&length) || length < 0
				|| static_cast<size_t>(length) > reader.Remaining()
				|| !pixel_space_is_supported(space, &bitsPerPixel)
				|| pixels.width <= 0 || pixels.height <= 0 || pixels.bytesPerRow <= 0) {
				break;
			}
			uint64 rowBytes = (static_cast<uint64>(pixels.width) * bitsPerPixel + 7) / 8;
			uint64 dataBytes = static_cast<uint64>(pixels.height) * pixels.bytesPerRow;
			if (static_cast<uint64>(pixels.bytesPerRow) < rowBytes
				|| dataBytes > static_cast<uint64>(length)) {
				break;
			}
			pixels.space = static_cast<color_space>(space);
			pixels.data = reader.Take(dataBytes);
			pixels.length = dataBytes;
			ops.DrawPixels(pixels);
			break;
		}
		case kOpDrawPicture:
		{
			const PictureData* picture = nullptr;
			if (reader.Point(&point) && reader.Int32(&number)
				&& (picture = SubPictureAt(number)) != nullptr) {
				ops.DrawPicture(point, *picture);
			}
			break;
		}
		case kOpStrokeArc:
		case kOpFillArc:
		{
			float start, span;
			if (!reader.Point(&point) || !reader.Point(&point2) || !reader.Float(&start)
				|| !reader.Float(&span)) {
				break;
			}
			if (code == kOpStrokeArc)
				ops.StrokeArc(point, point2, start, span);
			else
				ops.FillArc(point, point2, start, span);
			break;
		}
		case kOpStrokeEllipse:
			if (reader.Rect(&rect))
				ops.StrokeEllipse(rect);
			break;
		case kOpFillEllipse:
			if (reader.Rect(&rect))
				ops.FillEllipse(rect);
			break;

		// Clipping
		case kOpSetClippingRects:
		{
			clipping_rect frame;
			if (!reader.ClippingRect(&frame))
				break;
			std::vector<clipping_rect> rects(reader.Remaining() / sizeof(clipping_rect));
			for (clipping_rect& clip : rects)
				reader.ClippingRect(&clip);
			ops.SetClippingRects(frame, rects.data(), static_cast<int32>(rects.size()));
			break;
		}
		case kOpClipToPicture:
		{
			// Index first; the origin and the inverse flag are the last 9 bytes, whatever
			// the writer put between them.
			const PictureData* picture = nullptr;
			uint8 inverse = 0;
			if (size < 13 || !reader.Int32(&number)
				|| (picture = SubPictureAt(number)) == nullptr) {
				break;
			}
			PayloadReader tail(payload + size - 9, 9);
			tail.Point(&point);
			tail.Uint8(&inverse);
			ops.ClipToPicture(*picture, point, inverse != 0);
			break;
		}
		case kOpPushState:
			ops.PushState();
			break;
		case kOpPopState:
			ops.PopState();
			break;
		case kOpClearClipping:
			ops.ClearClipping();
			break;
		case kOpClipToRect:
		{
			uint8 inverse = 0;
			if (reader.Uint8(&inverse) && reader.Rect(&rect))
				ops.ClipToRect(rect, inverse != 0);
			break;
		}

		// State
		case kOpSetOrigin:
			if (reader.Point(&point))
				ops.SetOrigin(point);
			break;
		case kOpSetPenLocation:
			if (reader.Point(&point))
				ops.SetPenLocation(point);
			break;
		case kOpSetDrawingMode:
		{
			int16 mode;
			if (reader.Int16(&mode) && mode >= B_OP_COPY && mode <= B_OP_ALPHA)
				ops.SetDrawingMode(static_cast<drawing_mode>(mode));
			break;
		}
		case kOpSetLineMode:
		{
			int16 cap, join;
			if (!reader.Int16(&cap) || !reader.Int16(&join) || !reader.Float(&value))
				break;
			if (cap != B_ROUND_CAP && cap != B_BUTT_CAP && cap != B_SQUARE_CAP)
				break;
			if (join < B_ROUND_JOIN || join > B_SQUARE_JOIN)
				break;
			ops.SetLineMode(static_cast<cap_mode>(cap), static_cast<join_mode>(join), value);
			break;
		}
		case kOpSetPenSize:
			if (reader.Float(&value))
				ops.SetPenSize(value);
			break;
		case kOpSetScale:
			if (reader.Float(&value))
				ops.SetScale(value);
			break;
		case kOpSetHighColor:
		case kOpSetLowColor:
		{
			rgb_color color;
			if (!reader.Uint8(&color.red) || !reader.Uint8(&color.green)
				|| !reader.Uint8(&color.blue) || !reader.Uint8(&color.alpha)) {
				break;
			}
			if (code == kOpSetHighColor)
				ops.SetHighColor(color);
			else
				ops.SetLowColor(color);
			break;
		}
		case kOpSetStipplePattern:
		{
			const uint8* bytes = reader.Take(sizeof(pattern));
			if (bytes == nullptr)
				break;
			pattern stipple;
			memcpy(stipple.data, bytes, sizeof(stipple.data));
			ops.SetStipplePattern(stipple);
			break;
		}
		case kOpSetBlendingMode:
		{
			int16 sourceAlpha, alphaFunction;
			if (reader.Int16(&sourceAlpha) && reader.Int16(&alphaFunction)
				&& (sourceAlpha == B_PIXEL_ALPHA || sourceAlpha == B_CONSTANT_ALPHA)
				&& (alphaFunction == B_ALPHA_OVERLAY || alphaFunction == B_ALPHA_COMPOSITE)) {
				ops.SetBlendingMode(static_cast<source_alpha>(sourceAlpha),
					static_cast<alpha_function>(alphaFunction));
			}
			break;
		}
		case kOpSetFillRule:
			if (reader.Int32(&number))
				ops.SetFillRule(number);
			break;
		case kOpSetTransform:
		{
			double matrix[6];
			for (double& element : matrix) {
				if (!reader.Double(&element))
					return;
			}
			ops.SetTransform(matrix);
			break;
		}
		case kOpAffineTranslate:
		case kOpAffineScale:
		{
			double x, y;
			if (!reader.Double(&x) || !reader.Double(&y))
				break;
			if (code == kOpAffineTranslate)
				ops.AffineTranslate(x, y);
			else
				ops.AffineScale(x, y);
			break;
		}
		case kOpAffineRotate:
		{
			double angle;
			if (reader.Double(&angle))
				ops.AffineRotate(angle);
			break;
		}

		// Font state
		case kOpSetFontFamily:
		case kOpSetFontStyle:
		{
			std::string name;
			if (!read_font_name(reader, &name))
				break;
			if (code == kOpSetFontFamily)
				ops.SetFontFamily(name.c_str());
			else
				ops.SetFontStyle(name.c_str());
			break;
		}
		case kOpSetFontSpacing:
			if (reader.Int32(&number))
				ops.SetFontSpacing(number);
			break;
		case kOpSetFontEncoding:
			if (reader.Int32(&number))
				ops.SetFontEncoding(number);
			break;
		case kOpSetFontFlags:
			if (reader.Int32(&number))
				ops.SetFontFlags(number);
			break;
		case kOpSetFontSize:
			if (reader.Float(&value))
				ops.SetFontSize(value);
			break;
		case kOpSetFontRotation:
			if (reader.Float(&value))
				ops.SetFontRotation(value);
			break;
		case kOpSetFontShear:
			// Stored in radians away from upright; the API counts degrees, 90 upright.
			if (reader.Float(&value))
				ops.SetFontShear(value * kDegreesPerRadian + 90.0f);
			break;
		case kOpSetFontBpp:
			if (reader.Int32(&number))
				ops.SetFontBpp(number);
			break;
		case kOpSetFontFace:
			if (reader.Int32(&number))
				ops.SetFontFace(number);
			break;

		default:
			// Unknown or unsupported op (gradients, text at locations, ...): skipped.
			break;
	}
}
