// The storage of one BMessage field, shared by the message's accessors and its flattening code.
#pragma once

#include <Message.h>

#include <string>
#include <vector>

struct BMessage::Field {
	std::string name;
	type_code type = 0;
	bool fixedSize = true;
	uint32 itemSize = 0;  // fixed fields only
	int32 count = 0;
	// Fixed fields: the items packed back to back. Variable fields: the items back to back
	// with their starts in offsets (an item ends where the next begins).
	std::vector<uint8> data;
	std::vector<uint32> offsets;

	size_t ItemOffset(int32 index) const
	{
		return fixedSize ? size_t(index) * itemSize : offsets[size_t(index)];
	}
	size_t ItemSize(int32 index) const
	{
		if (fixedSize)
			return itemSize;
		size_t end = index + 1 < count ? offsets[size_t(index) + 1] : data.size();
		return end - offsets[size_t(index)];
	}
	const uint8* Item(int32 index) const { return data.data() + ItemOffset(index); }
};

// Bytes one variable-size item takes in the R5 format: its int32 size prefix and the data,
// padded so that the two together fill a multiple of eight bytes.
inline size_t r5_padded_item_size(size_t size)
{
	return (4 + size + 7) & ~size_t(7);
}
