// Builds spool file bytes for the engine tests, field by field in little-endian order.
#pragma once

#include <SupportDefs.h>

#include <cstring>
#include <string>

class SpoolBuilder {
public:
	SpoolBuilder& Int32(int32 value)
	{
		for (int shift = 0; shift < 32; shift += 8)
			fBytes += (char)((uint32)value >> shift);
		return *this;
	}

	SpoolBuilder& Int64(int64 value)
	{
		Int32((int32)(uint32)value);
		return Int32((int32)(uint32)((uint64)value >> 32));
	}

	SpoolBuilder& Float(float value)
	{
		uint32 bits;
		memcpy(&bits, &value, sizeof(bits));
		return Int32((int32)bits);
	}

	SpoolBuilder& Raw(const std::string& bytes)
	{
		fBytes += bytes;
		return *this;
	}

	// The 28-byte file header; the first page offset is -1, as the print system writes it.
	SpoolBuilder& FileHeader(int32 page_count)
	{
		Int32(1 << 16).Int32(page_count).Int64(-1);
		return Int32(0).Int32(0).Int32(0);
	}

	// A 52-byte page header. A next page offset of -1 stands for "right after this page"
	// and is patched by EndPage.
	SpoolBuilder& PageHeader(int32 picture_count, int64 next_page = -1)
	{
		fPageStart = fBytes.size();
		Int32(picture_count).Int64(next_page);
		for (int i = 0; i < 10; i++)
			Int32(0);
		return *this;
	}

	SpoolBuilder& EndPage()
	{
		int64 next;
		memcpy(&next, fBytes.data() + fPageStart + 4, sizeof(next));
		if (next == -1) {
			std::string offset = SpoolBuilder().Int64((int64)fBytes.size()).Bytes();
			fBytes.replace(fPageStart + 4, 8, offset);
		}
		return *this;
	}

	// A picture record: placement point and rectangle, then the flattened picture.
	SpoolBuilder& Picture(float x, float y, float left, float top, float right, float bottom,
		const std::string& flattened)
	{
		Float(x).Float(y).Float(left).Float(top).Float(right).Float(bottom);
		return Raw(flattened);
	}

	const std::string& Bytes() const { return fBytes; }

private:
	std::string fBytes;
	size_t fPageStart = 0;
};


// A flattened picture container: version 2, 0, the sub-pictures, the op data.
inline std::string flattened_picture(const std::string& op_data,
	std::initializer_list<std::string> sub_pictures = {})
{
	SpoolBuilder builder;
	builder.Int32(2).Int32(0).Int32((int32)sub_pictures.size());
	for (const std::string& sub : sub_pictures)
		builder.Raw(sub);
	builder.Int32((int32)op_data.size()).Raw(op_data);
	return builder.Bytes();
}
