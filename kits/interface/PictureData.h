// The parsed form of a flattened picture, its player and its recorder (private to the kit).
//
// PictureData is the container of a flattened picture: the list of sub-pictures (each itself
// a PictureData) and the raw op stream. Unflatten validates the container and the framing of
// every op, nested blocks included, before it keeps anything, so the op stream of a
// PictureData always frames correctly; the payload of each op is still read through a bounded
// reader at play time and an op whose payload does not hold what its code promises is skipped.
//
// Play decodes the ops in order and calls the PictureOps methods. Sub-pictures are not played
// by the player itself: DrawPicture and ClipToPicture hand the sub-picture to the client,
// which plays it (usually into itself, after moving the origin). Such nested plays share the
// depth limit and the op budget of the outermost Play through the PictureOps object, so a tree
// of sub-pictures that draw each other many times cannot multiply the work without bound.
//
// PictureWriter appends ops as they are recorded and yields a PictureData at the end.
#pragma once

#include <DataIO.h>
#include <SupportDefs.h>

#include <memory>
#include <utility>
#include <vector>

#include "PictureOps.h"

// An allocator that leaves new bytes as they come: the op data read from a file is about to
// be overwritten, and pages of pixels are megabytes of it.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
	template <typename U>
	struct rebind {
		typedef UninitializedAllocator<U> other;
	};
	UninitializedAllocator() = default;
	template <typename U>
	UninitializedAllocator(const UninitializedAllocator<U>&) {}
	template <typename U>
	void construct(U* place) { ::new (static_cast<void*>(place)) U; }
	template <typename U, typename... Arguments>
	void construct(U* place, Arguments&&... arguments)
	{
		::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
	}
};

class PictureData {
public:
	// Limits applied to untrusted pictures.
	static constexpr int32 kMaxNesting = 32;  // sub-picture levels and op blocks, each
	static constexpr uint64 kMaxOpsPerPlay = 10000000;  // all nested plays together
	static constexpr uint64 kMinOpsBudget = 200000;     // what any picture may play
	static constexpr uint64 kOpsPerByte = 4;            // beyond that, ops per stored byte
	// Work of an outermost play, all nested plays together: pixels worked by the object
	// played into, and kWorkPerOp for every op besides. About a second of drawing, so a
	// picture played once per band cannot cost a page more than a second a band.
	static constexpr uint64 kMaxWorkPerPlay = 150000000;
	static constexpr uint64 kWorkPerOp = 256;

	PictureData() = default;

	// Reads a container from the stream's current position; on failure the object is left
	// empty and B_BAD_DATA (or the stream's own error) is returned.
	status_t Unflatten(BDataIO* stream);
	status_t Flatten(BDataIO* stream) const;
	size_t FlattenedSize() const;

	// Plays the ops into ops. A client that plays a sub-picture into another PictureOps
	// object (to build a clipping mask, say) passes the object it is being played into as
	// sharing, so the limits carry over. maxOps is the budget of an outermost play (nested
	// plays use what is left of theirs). Returns B_OK, or B_BAD_DATA when the nesting limit
	// was reached or the op or work budget ran out (the ops before that point were played;
	// PlayBudgetRanOut() of the object played into tells the budgets apart).
	status_t Play(PictureOps& ops, PictureOps* sharing = nullptr,
		uint64 maxOps = kMaxOpsPerPlay) const;

	bool IsEmpty() const { return fOps.empty() && fSubPictures.empty(); }
	void MakeEmpty();

	// Levels of pictures in this one, itself included: 1 without sub-pictures. Unflatten
	// takes at most kMaxNesting.
	int32 NestingDepth() const;

	int32 CountSubPictures() const { return static_cast<int32>(fSubPictures.size()); }
	const PictureData* SubPictureAt(int32 index) const;
	const uint8* OpData() const { return fOps.data(); }
	size_t OpDataSize() const { return fOps.size(); }

private:
	friend class PictureWriter;

	status_t _Unflatten(BDataIO* stream, int32 depth);
	status_t _Play(PictureOps& ops, const uint8* data, size_t size, int32 depth) const;
	void _PlayOp(PictureOps& ops, uint16 code, const uint8* payload, size_t size) const;

	std::vector<PictureData> fSubPictures;
	std::vector<uint8, UninitializedAllocator<uint8>> fOps;
};

// Records ops in the flattened form. One method per PictureOps method, so a recording BView
// can forward each drawing call and state change unchanged (and a played picture can be
// recorded again). EnterStateChange / EnterFontState open a block whose size is patched when
// the matching Exit call closes it (an Exit closes the blocks opened inside it too).
// DrawPicture and ClipToPicture store a copy of the picture as a sub-picture; they record
// nothing for a picture already kMaxNesting levels deep, which no reader would take back.
//
// With batchStateChanges the writer groups state ops the way the original recorder does: a
// state op (0x0201 to 0x03FF, font blocks included) written outside any block opens a
// state-change block, and the next drawing op (or explicit EnterStateChange) closes it. A
// recording view uses this mode; a writer that replays a decoded picture does not, so the
// blocks come out exactly as they were read.
class PictureWriter : public PictureOps {
public:
	explicit PictureWriter(bool batchStateChanges = false)
		: fBatchStateChanges(batchStateChanges) {}

	// Closes any block still open and moves the recording into data; the writer is empty
	// afterwards and can record again.
	void Finish(PictureData* data);
	// Nesting of the blocks open at the moment.
	int32 OpenBlocks() const { return static_cast<int32>(fOpenBlocks.size()); }

	void MovePenBy(BPoint delta) override;
	void StrokeLine(BPoint start, BPoint end) override;
	void StrokeRect(BRect rect) override;
	void FillRect(BRect rect) override;
	void StrokeRoundRect(BRect rect, BPoint radii) override;
	void FillRoundRect(BRect rect, BPoint radii) override;
	void StrokeBezier(const BPoint* points) override;
	void FillBezier(const BPoint* points) override;
	void StrokePolygon(int32 count, const BPoint* points, bool closed) override;
	void FillPolygon(int32 count, const BPoint* points) override;
	void StrokeShape(const PictureShape& shape) override;
	void FillShape(const PictureShape& shape) override;
	void DrawString(const char* string, int32 length, escapement_delta delta) override;
	void DrawPixels(const PicturePixels& pixels) override;
	void DrawPicture(BPoint where, const PictureData& picture) override;
	void StrokeArc(BPoint center, BPoint radii, float start, float span) override;
	void FillArc(BPoint center, BPoint radii, float start, float span) override;
	void StrokeEllipse(BRect rect) override;
	void FillEllipse(BRect rect) override;

	void EnterStateChange() override;
	void ExitStateChange() override;
	void EnterFontState() override;
	void ExitFontState() override;

	void SetClippingRects(const clipping_rect& frame, const clipping_rect* rects,
		int32 count) override;
	void ClipToPicture(const PictureData& picture, BPoint origin, bool inverse) override;
	void ClearClipping() override;
	void ClipToRect(BRect rect, bool inverse) override;

	void PushState() override;
	void PopState() override;
	void SetOrigin(BPoint origin) override;
	void SetPenLocation(BPoint location) override;
	void SetDrawingMode(drawing_mode mode) override;
	void SetLineMode(cap_mode cap, join_mode join, float miterLimit) override;
	void SetPenSize(float size) override;
	void SetScale(float scale) override;
	void SetHighColor(rgb_color color) override;
	void SetLowColor(rgb_color color) override;
	void SetStipplePattern(const pattern& stipple) override;
	void SetBlendingMode(source_alpha sourceAlpha, alpha_function alphaFunction) override;
	void SetFillRule(int32 rule) override;
	void SetTransform(const double* matrix) override;
	void AffineTranslate(double x, double y) override;
	void AffineScale(double x, double y) override;
	void AffineRotate(double radians) override;

	void SetFontFamily(const char* family) override;
	void SetFontStyle(const char* style) override;
	void SetFontSpacing(int32 spacing) override;
	void SetFontEncoding(int32 encoding) override;
	void SetFontFlags(int32 flags) override;
	void SetFontSize(float size) override;
	void SetFontRotation(float degrees) override;
	void SetFontShear(float degrees) override;
	void SetFontBpp(int32 bpp) override;
	void SetFontFace(int32 face) override;

private:
	void _BeginOp(uint16 code);
	void _WriteHeader(uint16 code);
	void _Batch(uint16 code);
	void _EndOp();
	void _Op(uint16 code, const void* payload, size_t size);
	void _OpenBlock(uint16 code);
	void _CloseBlock(uint16 code);
	void _Shape(uint16 code, const PictureShape& shape);
	void _Add(const void* data, size_t size);
	void _AddInt16(int16 value);
	void _AddInt32(int32 value);
	void _AddFloat(float value);
	void _AddDouble(double value);
	void _AddPoint(BPoint point);
	void _AddRect(BRect rect);
	int32 _AddSubPicture(const PictureData& picture);

	struct Block {
		uint16 code;
		size_t start;  // offset of the op header in fData.fOps
		bool batch;  // opened by the writer itself for a run of state ops
	};

	bool fBatchStateChanges;
	PictureData fData;
	std::vector<Block> fOpenBlocks;
	size_t fOpStart = 0;
};
