// Helpers for the picture tests: a PictureOps that logs every callback with exact values,
// and a builder for hand-made flattened pictures.
#pragma once

#include <DataIO.h>
#include <SupportDefs.h>

#include <bit>
#include <cstdio>
#include <string>
#include <vector>

#include "kits/interface/PictureData.h"

namespace picture_test {

// Logs one line per callback. Floats are printed as their bit patterns so NaNs, infinities
// and rounding differences all show. Sub-pictures are played into the same log when
// playSubPictures is set, between "[" and "]".
class LoggingOps : public PictureOps {
public:
	std::vector<std::string> log;
	bool playSubPictures = false;
	status_t lastSubStatus = B_OK;

	void MovePenBy(BPoint p) override { _Log("MovePenBy", {p.x, p.y}); }
	void StrokeLine(BPoint a, BPoint b) override { _Log("StrokeLine", {a.x, a.y, b.x, b.y}); }
	void StrokeRect(BRect r) override { _Log("StrokeRect", _Rect(r)); }
	void FillRect(BRect r) override { _Log("FillRect", _Rect(r)); }
	void StrokeRoundRect(BRect r, BPoint p) override
	{
		_Log("StrokeRoundRect", _Rect(r, {p.x, p.y}));
	}
	void FillRoundRect(BRect r, BPoint p) override
	{
		_Log("FillRoundRect", _Rect(r, {p.x, p.y}));
	}
	void StrokeBezier(const BPoint* p) override { _Log("StrokeBezier", _Points(4, p)); }
	void FillBezier(const BPoint* p) override { _Log("FillBezier", _Points(4, p)); }
	void StrokePolygon(int32 n, const BPoint* p, bool closed) override
	{
		_Log("StrokePolygon " + std::to_string(n) + (closed ? " closed" : " open"),
			_Points(n, p));
	}
	void FillPolygon(int32 n, const BPoint* p) override
	{
		_Log("FillPolygon " + std::to_string(n), _Points(n, p));
	}
	void StrokeShape(const PictureShape& s) override { _Log("StrokeShape" + _Shape(s), {}); }
	void FillShape(const PictureShape& s) override { _Log("FillShape" + _Shape(s), {}); }
	void DrawString(const char* text, int32 length, escapement_delta d) override
	{
		_Log("DrawString '" + std::string(text, length) + "'", {d.nonspace, d.space});
	}
	void DrawPixels(const PicturePixels& p) override
	{
		char line[160];
		snprintf(line, sizeof(line), "DrawPixels %d %d %d 0x%x %d len %zu first %u",
			(int)p.width, (int)p.height, (int)p.bytesPerRow, (unsigned)p.space,
			(int)p.flags, p.length, (unsigned)static_cast<const uint8*>(p.data)[0]);
		_Log(line, _Rect(p.source, {p.destination.left, p.destination.top,
			p.destination.right, p.destination.bottom}));
	}
	void DrawPicture(BPoint where, const PictureData& picture) override
	{
		_Log("DrawPicture " + _Describe(picture), {where.x, where.y});
		if (playSubPictures) {
			log.push_back("[");
			lastSubStatus = picture.Play(*this);
			log.push_back("]");
		}
	}
	void StrokeArc(BPoint c, BPoint r, float s, float span) override
	{
		_Log("StrokeArc", {c.x, c.y, r.x, r.y, s, span});
	}
	void FillArc(BPoint c, BPoint r, float s, float span) override
	{
		_Log("FillArc", {c.x, c.y, r.x, r.y, s, span});
	}
	void StrokeEllipse(BRect r) override { _Log("StrokeEllipse", _Rect(r)); }
	void FillEllipse(BRect r) override { _Log("FillEllipse", _Rect(r)); }

	void EnterStateChange() override { log.push_back("EnterStateChange"); }
	void ExitStateChange() override { log.push_back("ExitStateChange"); }
	void EnterFontState() override { log.push_back("EnterFontState"); }
	void ExitFontState() override { log.push_back("ExitFontState"); }

	void SetClippingRects(const clipping_rect& f, const clipping_rect* r, int32 n) override
	{
		std::string line = "SetClippingRects " + _Clip(f) + " n " + std::to_string(n);
		for (int32 i = 0; i < n; i++)
			line += " " + _Clip(r[i]);
		log.push_back(line);
	}
	void ClipToPicture(const PictureData& picture, BPoint o, bool inverse) override
	{
		_Log("ClipToPicture " + _Describe(picture) + (inverse ? " inverse" : ""), {o.x, o.y});
	}
	void ClearClipping() override { log.push_back("ClearClipping"); }
	void ClipToRect(BRect r, bool inverse) override
	{
		_Log(inverse ? "ClipToRect inverse" : "ClipToRect", _Rect(r));
	}

	void PushState() override { log.push_back("PushState"); }
	void PopState() override { log.push_back("PopState"); }
	void SetOrigin(BPoint p) override { _Log("SetOrigin", {p.x, p.y}); }
	void SetPenLocation(BPoint p) override { _Log("SetPenLocation", {p.x, p.y}); }
	void SetDrawingMode(drawing_mode m) override
	{
		log.push_back("SetDrawingMode " + std::to_string(m));
	}
	void SetLineMode(cap_mode c, join_mode j, float m) override
	{
		_Log("SetLineMode " + std::to_string(c) + " " + std::to_string(j), {m});
	}
	void SetPenSize(float s) override { _Log("SetPenSize", {s}); }
	void SetScale(float s) override { _Log("SetScale", {s}); }
	void SetHighColor(rgb_color c) override { log.push_back("SetHighColor " + _Color(c)); }
	void SetLowColor(rgb_color c) override { log.push_back("SetLowColor " + _Color(c)); }
	void SetStipplePattern(const pattern& p) override
	{
		std::string line = "SetStipplePattern";
		for (uint8 row : p.data)
			line += " " + std::to_string(row);
		log.push_back(line);
	}
	void SetBlendingMode(source_alpha s, alpha_function f) override
	{
		log.push_back("SetBlendingMode " + std::to_string(s) + " " + std::to_string(f));
	}
	void SetFillRule(int32 rule) override { log.push_back("SetFillRule " + std::to_string(rule)); }
	void SetTransform(const double* m) override
	{
		_LogDoubles("SetTransform", {m[0], m[1], m[2], m[3], m[4], m[5]});
	}
	void AffineTranslate(double x, double y) override { _LogDoubles("AffineTranslate", {x, y}); }
	void AffineScale(double x, double y) override { _LogDoubles("AffineScale", {x, y}); }
	void AffineRotate(double a) override { _LogDoubles("AffineRotate", {a}); }

	void SetFontFamily(const char* f) override { log.push_back(std::string("SetFontFamily ") + f); }
	void SetFontStyle(const char* s) override { log.push_back(std::string("SetFontStyle ") + s); }
	void SetFontSpacing(int32 v) override { log.push_back("SetFontSpacing " + std::to_string(v)); }
	void SetFontEncoding(int32 v) override
	{
		log.push_back("SetFontEncoding " + std::to_string(v));
	}
	void SetFontFlags(int32 v) override { log.push_back("SetFontFlags " + std::to_string(v)); }
	void SetFontSize(float v) override { _Log("SetFontSize", {v}); }
	void SetFontRotation(float v) override { _Log("SetFontRotation", {v}); }
	void SetFontShear(float v) override { _Log("SetFontShear", {v}); }
	void SetFontBpp(int32 v) override { log.push_back("SetFontBpp " + std::to_string(v)); }
	void SetFontFace(int32 v) override { log.push_back("SetFontFace " + std::to_string(v)); }

private:
	void _Log(const std::string& name, std::vector<float> values)
	{
		std::string line = name;
		for (float value : values) {
			char text[32];
			snprintf(text, sizeof(text), " %g/%08x", value, std::bit_cast<uint32>(value));
			line += text;
		}
		log.push_back(line);
	}
	void _LogDoubles(const std::string& name, std::vector<double> values)
	{
		std::string line = name;
		for (double value : values) {
			char text[48];
			snprintf(text, sizeof(text), " %a", value);
			line += text;
		}
		log.push_back(line);
	}
	static std::vector<float> _Rect(BRect r, std::vector<float> more = {})
	{
		std::vector<float> values = {r.left, r.top, r.right, r.bottom};
		values.insert(values.end(), more.begin(), more.end());
		return values;
	}
	static std::vector<float> _Points(int32 n, const BPoint* p)
	{
		std::vector<float> values;
		for (int32 i = 0; i < n; i++) {
			values.push_back(p[i].x);
			values.push_back(p[i].y);
		}
		return values;
	}
	static std::string _Shape(const PictureShape& s)
	{
		char text[64];
		std::string line = " ops";
		for (int32 i = 0; i < s.opCount; i++) {
			snprintf(text, sizeof(text), " %08x", s.ops[i]);
			line += text;
		}
		line += " points";
		for (int32 i = 0; i < s.pointCount; i++) {
			snprintf(text, sizeof(text), " %g,%g", s.points[i].x, s.points[i].y);
			line += text;
		}
		return line;
	}
	static std::string _Clip(const clipping_rect& r)
	{
		return std::to_string(r.left) + "," + std::to_string(r.top) + ","
			+ std::to_string(r.right) + "," + std::to_string(r.bottom);
	}
	static std::string _Color(rgb_color c)
	{
		return std::to_string(c.red) + " " + std::to_string(c.green) + " "
			+ std::to_string(c.blue) + " " + std::to_string(c.alpha);
	}
	static std::string _Describe(const PictureData& picture)
	{
		return "(" + std::to_string(picture.OpDataSize()) + " op bytes, "
			+ std::to_string(picture.CountSubPictures()) + " subs)";
	}
};


// Little-endian byte builder for hand-made pictures.
class Bytes {
public:
	std::vector<uint8> data;

	Bytes& Int8(uint8 v) { data.push_back(v); return *this; }
	Bytes& Int16(uint16 v) { return Int8(v & 0xFF).Int8(v >> 8); }
	Bytes& Int32(uint32 v) { return Int16(v & 0xFFFF).Int16(v >> 16); }
	Bytes& Float(float v) { return Int32(std::bit_cast<uint32>(v)); }
	Bytes& Double(double v)
	{
		uint64 bits = std::bit_cast<uint64>(v);
		return Int32(static_cast<uint32>(bits)).Int32(static_cast<uint32>(bits >> 32));
	}
	Bytes& Point(float x, float y) { return Float(x).Float(y); }
	Bytes& Rect(float l, float t, float r, float b) { return Float(l).Float(t).Float(r).Float(b); }
	Bytes& Append(const std::vector<uint8>& more)
	{
		data.insert(data.end(), more.begin(), more.end());
		return *this;
	}
	Bytes& Op(uint16 code, const Bytes& payload)
	{
		Int16(code).Int32(static_cast<uint32>(payload.data.size()));
		return Append(payload.data);
	}
};


// A flattened picture of the given op bytes and (already flattened) sub-pictures.
inline std::vector<uint8> make_picture(const Bytes& ops,
	const std::vector<std::vector<uint8>>& subPictures = {})
{
	Bytes picture;
	picture.Int32(2).Int32(0).Int32(static_cast<uint32>(subPictures.size()));
	for (const std::vector<uint8>& sub : subPictures)
		picture.Append(sub);
	picture.Int32(static_cast<uint32>(ops.data.size())).Append(ops.data);
	return picture.data;
}


inline status_t unflatten(const std::vector<uint8>& bytes, PictureData* picture)
{
	BMemoryIO stream(bytes.data(), bytes.size());
	return picture->Unflatten(&stream);
}


inline std::vector<std::string> play(const std::vector<uint8>& bytes,
	bool playSubPictures = false)
{
	PictureData picture;
	if (unflatten(bytes, &picture) != B_OK)
		return {"unflatten failed"};
	LoggingOps ops;
	ops.playSubPictures = playSubPictures;
	picture.Play(ops);
	return ops.log;
}


inline std::vector<uint8> flatten(const PictureData& picture)
{
	BMallocIO stream;
	if (picture.Flatten(&stream) != B_OK)
		return {};
	const uint8* start = static_cast<const uint8*>(stream.Buffer());
	return std::vector<uint8>(start, start + stream.BufferLength());
}

// Calls every recording method once with distinctive values; the sub-picture is used for
// both DrawPicture and ClipToPicture.
inline void record_everything(PictureOps& ops, const PictureData& sub)
{
	BPoint bezier[4] = {{1, 2}, {3, 4}, {5, 6}, {7, 8}};
	BPoint polygon[3] = {{0, 0}, {10, 0}, {5, 8.5f}};
	uint32 shapeOps[2] = {0x90000002, 0x60000003};
	BPoint shapePoints[6] = {{0, 0}, {1, 1}, {2, 0}, {3, 3}, {4, 4}, {5, 0}};
	uint8 pixelBytes[2 * 8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
		0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x0F};
	clipping_rect frame = {0, 0, 99, 99};
	clipping_rect rects[2] = {{0, 0, 9, 9}, {20, 20, 29, 39}};
	double matrix[6] = {1, 0.5, -0.5, 1, 10, 20};

	ops.MovePenBy(BPoint(1.5f, -2));
	ops.StrokeLine(BPoint(0, 0), BPoint(10, 20));
	ops.StrokeRect(BRect(1, 2, 3, 4));
	ops.FillRect(BRect(5, 6, 7, 8));
	ops.StrokeRoundRect(BRect(0, 0, 50, 40), BPoint(5, 6));
	ops.FillRoundRect(BRect(1, 1, 51, 41), BPoint(7, 8));
	ops.StrokeBezier(bezier);
	ops.FillBezier(bezier);
	ops.StrokePolygon(3, polygon, true);
	ops.StrokePolygon(3, polygon, false);
	ops.FillPolygon(3, polygon);
	ops.StrokeShape({2, shapeOps, 6, shapePoints});
	ops.FillShape({2, shapeOps, 6, shapePoints});
	ops.DrawString("Grüße", 7, {0.5f, 2});
	ops.DrawPixels({BRect(0, 0, 3, 1), BRect(10, 10, 13, 11), 4, 2, 8, B_RGB16_BIG, 0,
		pixelBytes, sizeof(pixelBytes)});
	ops.DrawPicture(BPoint(100, 200), sub);
	ops.StrokeArc(BPoint(50, 50), BPoint(10, 20), 30, 90);
	ops.FillArc(BPoint(60, 60), BPoint(5, 5), -45, 270);
	ops.StrokeEllipse(BRect(0, 0, 9, 19));
	ops.FillEllipse(BRect(1, 1, 8, 18));

	ops.EnterStateChange();
	ops.SetClippingRects(frame, rects, 2);
	ops.SetClippingRects(frame, nullptr, 0);
	ops.ClipToPicture(sub, BPoint(3, 4), true);
	ops.ClearClipping();
	ops.ClipToRect(BRect(0, 0, 10, 10), false);
	ops.PushState();
	ops.PopState();
	ops.SetOrigin(BPoint(12, 34));
	ops.SetPenLocation(BPoint(56, 78));
	ops.SetDrawingMode(B_OP_ALPHA);
	ops.SetLineMode(B_SQUARE_CAP, B_BEVEL_JOIN, 4.5f);
	ops.SetPenSize(2.25f);
	ops.SetScale(0.24f);
	ops.SetHighColor({255, 0, 0, 255});
	ops.SetLowColor({1, 2, 3, 4});
	ops.SetStipplePattern({{0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55}});
	ops.SetBlendingMode(B_CONSTANT_ALPHA, B_ALPHA_COMPOSITE);
	ops.SetFillRule(1);
	ops.SetTransform(matrix);
	ops.AffineTranslate(1.25, -3);
	ops.AffineScale(2, 0.5);
	ops.AffineRotate(0.125);
	ops.EnterFontState();
	ops.SetFontFamily("Swiss 911");
	ops.SetFontStyle("Bold");
	ops.SetFontSpacing(1);
	ops.SetFontEncoding(0);
	ops.SetFontFlags(0x2);
	ops.SetFontSize(12.5f);
	ops.SetFontRotation(30);
	ops.SetFontShear(90);
	ops.SetFontBpp(8);
	ops.SetFontFace(0x20);
	ops.ExitFontState();
	ops.ExitStateChange();
}


inline PictureData small_sub_picture()
{
	PictureWriter writer;
	writer.FillRect(BRect(0, 0, 1, 1));
	PictureData sub;
	writer.Finish(&sub);
	return sub;
}

}  // namespace picture_test
