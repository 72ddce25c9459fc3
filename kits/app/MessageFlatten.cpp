// Flattening and unflattening of BMessage.
//
// Written: the R5 format (magic 'FOB1'), in this machine's byte order. Read: R5 in either byte
// order and the newer native format ('1FMH') in this machine's byte order.
//
// Everything read comes through a ByteSource that knows how many bytes it may still hand out
// (a buffer) or that only returns bytes actually read (a stream). Lengths found in the data
// never size an allocation by themselves: payloads are read in chunks, so a field claiming
// gigabytes in a short input fails once the input runs out.
#include "MessageField.h"

#include <DataIO.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

const uint32 kR5Magic = 'FOB1';
const uint32 kR5MagicSwapped = '1BOF';
const uint32 kNativeMagic = '1FMH';

// R5 header flags
const uint8 kR5HeaderValid = 0x01;
const uint8 kR5HeaderTarget = 0x02;
const uint8 kR5HeaderReply = 0x04;

// R5 field flags
const uint8 kR5FieldValid = 0x01;
const uint8 kR5FieldMini = 0x02;
const uint8 kR5FieldFixed = 0x04;
const uint8 kR5FieldSingle = 0x08;

const size_t kR5HeaderSize = 17;

// Native format
const uint32 kNativeMessageValid = 0x0001;
const uint32 kNativeSharedArea = 0x0080;
const uint16 kNativeFieldValid = 0x0001;
const uint16 kNativeFieldFixed = 0x0002;
const size_t kNativeHeaderSize = 68;
const size_t kNativeFieldHeaderSize = 24;

const size_t kReadChunk = 64 * 1024;

inline uint32 swap32(uint32 value)
{
	return __builtin_bswap32(value);
}

// --- Byte sources ------------------------------------------------------------

class ByteSource {
public:
	virtual ~ByteSource() = default;

	// Reads exactly size bytes or fails.
	virtual status_t Read(void* buffer, size_t size) = 0;

	// Makes the next size bytes available at *block, either in place (a buffer) or copied
	// into storage, which then grows no faster than bytes arrive.
	virtual status_t ReadBlock(size_t size, std::vector<uint8>& storage, const uint8** block)
	{
		storage.clear();
		while (storage.size() < size) {
			size_t chunk = min_c(size - storage.size(), kReadChunk);
			size_t start = storage.size();
			storage.resize(start + chunk);
			status_t status = Read(storage.data() + start, chunk);
			if (status != B_OK)
				return status;
		}
		*block = storage.data();
		return B_OK;
	}

	status_t Skip(size_t size)
	{
		uint8 scratch[64];
		while (size > 0) {
			size_t chunk = min_c(size, sizeof(scratch));
			status_t status = Read(scratch, chunk);
			if (status != B_OK)
				return status;
			size -= chunk;
		}
		return B_OK;
	}

	status_t ReadUInt8(uint8* value) { return Read(value, 1); }

	status_t ReadUInt32(uint32* value, bool swap)
	{
		status_t status = Read(value, 4);
		if (status == B_OK && swap)
			*value = swap32(*value);
		return status;
	}
};

class BufferSource : public ByteSource {
public:
	BufferSource(const void* data, size_t size)
		: fData(static_cast<const uint8*>(data)), fSize(size), fPosition(0)
	{
	}

	status_t Read(void* buffer, size_t size) override
	{
		if (size > fSize - fPosition)
			return B_BAD_DATA;
		memcpy(buffer, fData + fPosition, size);
		fPosition += size;
		return B_OK;
	}

	// Nested messages are read from their parent's bytes in place, so that deep nesting
	// does not hold one copy of the inner bytes per level.
	status_t ReadBlock(size_t size, std::vector<uint8>&, const uint8** block) override
	{
		if (size > fSize - fPosition)
			return B_BAD_DATA;
		*block = fData + fPosition;
		fPosition += size;
		return B_OK;
	}

private:
	const uint8* fData;
	size_t fSize;
	size_t fPosition;
};

class StreamSource : public ByteSource {
public:
	explicit StreamSource(BDataIO* stream) : fStream(stream) {}

	status_t Read(void* buffer, size_t size) override
	{
		if (size == 0)
			return B_OK;
		// A stream that ends inside a message gives B_BAD_DATA, a truncated message.
		return fStream->ReadExactly(buffer, size);
	}

private:
	BDataIO* fStream;
};

}  // namespace

// --- Reader --------------------------------------------------------------------

// Reads one flattened message from a source into a BMessage. The target is assumed empty;
// the caller empties it again on failure.
class MessageReader {
public:
	MessageReader(ByteSource& source, int32 depth) : fSource(source), fDepth(depth) {}

	status_t Read(BMessage* message)
	{
		if (fDepth > BMessage::kMaxNestingDepth)
			return B_BAD_DATA;
		uint32 magic;
		status_t status = fSource.Read(&magic, 4);
		if (status != B_OK)
			return status;
		switch (magic) {
			case kR5Magic:
				return _ReadR5(message, false);
			case kR5MagicSwapped:
				return _ReadR5(message, true);
			case kNativeMagic:
				return _ReadNative(message);
			default:
				// Including the native format of the other byte order, which its own
				// reference reader refuses as well.
				return B_NOT_A_MESSAGE;
		}
	}

private:
	status_t _ReadR5(BMessage* message, bool swap);
	status_t _ReadNative(BMessage* message);
	status_t _AddField(BMessage* message, BMessage::Field&& field);
	status_t _StoreItems(BMessage::Field& field, const uint8* raw, size_t size, bool swap,
		bool sizePadded);
	status_t _StoreNested(BMessage::Field& field, const uint8* const* items,
		const uint32* sizes);

	ByteSource& fSource;
	int32 fDepth;
};

namespace {

// Width of the numbers inside a fixed-size item of the given type, for byte swapping;
// 0 when the item is a byte string.
size_t swap_unit(type_code type, size_t itemSize)
{
	switch (type) {
		case B_INT16_TYPE:
		case B_UINT16_TYPE:
			return 2;
		case B_INT32_TYPE:
		case B_UINT32_TYPE:
		case B_FLOAT_TYPE:
		case B_POINT_TYPE:
		case B_RECT_TYPE:
			return 4;
		case B_INT64_TYPE:
		case B_UINT64_TYPE:
		case B_DOUBLE_TYPE:
		case B_OFF_T_TYPE:
		case B_TIME_TYPE:
			return 8;
		case B_POINTER_TYPE:
		case B_SIZE_T_TYPE:
		case B_SSIZE_T_TYPE:
			return itemSize == 4 || itemSize == 8 ? itemSize : 0;
		default:
			return 0;
	}
}

void swap_items(uint8* data, size_t size, size_t unit)
{
	for (size_t i = 0; i + unit <= size; i += unit)
		std::reverse(data + i, data + i + unit);
}

}  // namespace

namespace {

// Takes host-order or swapped numbers out of bytes that have already been read.
class Unpacker {
public:
	Unpacker(const uint8* bytes, bool swap) : fBytes(bytes), fSwap(swap) {}

	uint8 Byte() { return *fBytes++; }
	uint32 UInt32()
	{
		uint32 value;
		memcpy(&value, fBytes, 4);
		fBytes += 4;
		return fSwap ? swap32(value) : value;
	}

private:
	const uint8* fBytes;
	bool fSwap;
};

}  // namespace

// Reads go in as few calls as the layout allows, without ever asking for a byte past the
// terminator: the fixed part of a field in one read, then its name, its data and the flags
// byte of whatever follows (another field or the terminator) in another.
status_t MessageReader::_ReadR5(BMessage* message, bool swap)
{
	// Header: checksum (ignored, as later readers do), size, what, flags. The recorded size
	// is not trusted either: the fields end at their terminator byte.
	uint8 header[13];
	status_t status = fSource.Read(header, sizeof(header));
	if (status != B_OK)
		return status;
	Unpacker headerData(header, swap);
	headerData.UInt32();  // checksum
	headerData.UInt32();  // size
	message->what = headerData.UInt32();
	uint8 headerFlags = headerData.Byte();
	size_t sections = ((headerFlags & kR5HeaderTarget) != 0 ? 4 : 0)
		+ ((headerFlags & kR5HeaderReply) != 0 ? 12 + 4 : 0);
	if ((status = fSource.Skip(sections)) != B_OK)
		return status;

	uint8 flags;
	if ((status = fSource.ReadUInt8(&flags)) != B_OK)
		return status;
	std::vector<uint8> scratch;
	std::vector<uint8> block;
	while ((flags & kR5FieldValid) != 0) {
		bool mini = (flags & kR5FieldMini) != 0;
		bool single = (flags & kR5FieldSingle) != 0;
		size_t numberSize = mini ? 1 : 4;

		// Type, count, data length, name length.
		uint8 fixedPart[4 + 4 + 4 + 1];
		size_t fixedSize = 4 + (single ? 0 : numberSize) + numberSize + 1;
		if ((status = fSource.Read(fixedPart, fixedSize)) != B_OK)
			return status;
		Unpacker unpack(fixedPart, swap);
		BMessage::Field field;
		field.fixedSize = (flags & kR5FieldFixed) != 0;
		field.type = unpack.UInt32();
		uint32 count = single ? 1 : (mini ? unpack.Byte() : unpack.UInt32());
		uint32 length = mini ? unpack.Byte() : unpack.UInt32();
		uint8 nameLength = unpack.Byte();
		if (count == 0 || count > uint32(INT32_MAX) || length > uint32(INT32_MAX))
			return B_BAD_DATA;

		// Name, data and the next flags byte; large data is read on its own, in chunks.
		const uint8* raw;
		if (length <= kReadChunk) {
			scratch.resize(nameLength + size_t(length) + 1);
			if ((status = fSource.Read(scratch.data(), scratch.size())) != B_OK)
				return status;
			field.name.assign(reinterpret_cast<const char*>(scratch.data()), nameLength);
			raw = scratch.data() + nameLength;
			flags = scratch.back();
		} else {
			char name[256];
			if ((status = fSource.Read(name, nameLength)) != B_OK
				|| (status = fSource.ReadBlock(length, block, &raw)) != B_OK)
				return status;
			field.name.assign(name, nameLength);
		}
		if (field.name.find('\0') != std::string::npos)
			return B_BAD_DATA;
		field.count = int32(count);

		if (field.fixedSize) {
			if (length % count != 0 || length == 0)
				return B_BAD_DATA;
			field.itemSize = length / count;
			field.data.assign(raw, raw + length);
			size_t unit = swap ? swap_unit(field.type, field.itemSize) : 0;
			if (unit != 0 && field.itemSize % unit == 0)
				swap_items(field.data.data(), field.data.size(), unit);
		} else if ((status = _StoreItems(field, raw, length, swap, true)) != B_OK)
			return status;
		if (length > kReadChunk && (status = fSource.ReadUInt8(&flags)) != B_OK)
			return status;

		if ((status = _AddField(message, std::move(field))) != B_OK)
			return status;
	}
	return B_OK;
}

// Stores the prefixed items of a variable-size field as data plus offsets. R5 pads each
// prefix-and-item to eight bytes; the native format does not pad.
status_t MessageReader::_StoreItems(
	BMessage::Field& field, const uint8* raw, size_t size, bool swap, bool sizePadded)
{
	// Every item takes at least its four-byte prefix, which bounds the count by the bytes.
	if (size_t(field.count) > size / 4)
		return B_BAD_DATA;
	std::vector<const uint8*> items;
	std::vector<uint32> sizes;
	items.reserve(size_t(field.count));
	sizes.reserve(size_t(field.count));

	size_t position = 0;
	for (int32 i = 0; i < field.count; i++) {
		if (size - position < 4)
			return B_BAD_DATA;
		uint32 itemSize;
		memcpy(&itemSize, raw + position, 4);
		if (swap)
			itemSize = swap32(itemSize);
		if (itemSize > size - position - 4)
			return B_BAD_DATA;
		items.push_back(raw + position + 4);
		sizes.push_back(itemSize);
		size_t step = sizePadded ? r5_padded_item_size(itemSize) : 4 + size_t(itemSize);
		// Accept a last item whose padding was cut off.
		position += min_c(step, size - position);
	}
	if (position != size)
		return B_BAD_DATA;

	field.itemSize = 0;
	if (field.type == B_MESSAGE_TYPE)
		return _StoreNested(field, items.data(), sizes.data());
	field.data.reserve(size);
	for (int32 i = 0; i < field.count; i++) {
		field.offsets.push_back(uint32(field.data.size()));
		field.data.insert(field.data.end(), items[size_t(i)], items[size_t(i)] + sizes[size_t(i)]);
	}
	return B_OK;
}

// Nested messages are checked now, so that a message that unflattens is whole, and they are
// stored in the form Flatten() writes, whatever form they arrived in.
status_t MessageReader::_StoreNested(BMessage::Field& field, const uint8* const* items,
	const uint32* sizes)
{
	for (int32 i = 0; i < field.count; i++) {
		BufferSource source(items[i], sizes[i]);
		MessageReader reader(source, fDepth + 1);
		BMessage nested;
		status_t status = reader.Read(&nested);
		if (status != B_OK)
			return status == B_NOT_A_MESSAGE ? B_BAD_DATA : status;
		ssize_t size = nested.FlattenedSize();
		if (size < 0 || size_t(size) > size_t(INT32_MAX) / 2 - field.data.size())
			return B_BAD_DATA;
		field.offsets.push_back(uint32(field.data.size()));
		size_t start = field.data.size();
		field.data.resize(start + size_t(size));
		status = nested.Flatten(reinterpret_cast<char*>(field.data.data() + start), size);
		if (status != B_OK)
			return status;
	}
	return B_OK;
}

// A name read twice adds its items to the first field when both agree in type and layout.
status_t MessageReader::_AddField(BMessage* message, BMessage::Field&& field)
{
	BMessage::Field* existing = message->_FindField(field.name.c_str());
	if (existing == nullptr) {
		message->fFields.push_back(std::move(field));
		return B_OK;
	}
	if (existing->type != field.type || existing->fixedSize != field.fixedSize
		|| existing->itemSize != field.itemSize
		|| int64(existing->count) + field.count > INT32_MAX
		|| existing->data.size() + field.data.size() > size_t(INT32_MAX) / 2)
		return B_BAD_DATA;
	uint32 base = uint32(existing->data.size());
	for (uint32 offset : field.offsets)
		existing->offsets.push_back(base + offset);
	existing->data.insert(existing->data.end(), field.data.begin(), field.data.end());
	existing->count += field.count;
	return B_OK;
}

namespace {

struct NativeFieldHeader {
	uint16 flags;
	uint16 nameLength;
	type_code type;
	uint32 count;
	uint32 dataSize;
	uint32 offset;
};

}  // namespace

status_t MessageReader::_ReadNative(BMessage* message)
{
	uint8 header[kNativeHeaderSize - 4];
	status_t status = fSource.Read(header, sizeof(header));
	if (status != B_OK)
		return status;
	auto header32 = [&](size_t offset) {
		uint32 value;
		memcpy(&value, header + offset - 4, 4);
		return value;
	};
	uint32 what = header32(4);
	uint32 flags = header32(8);
	uint32 dataSize = header32(36);
	uint32 fieldCount = header32(40);
	if ((flags & kNativeMessageValid) == 0 || (flags & kNativeSharedArea) != 0)
		return B_BAD_DATA;
	message->what = what;

	// Field headers arrive one by one, so a huge count costs only the bytes present.
	std::vector<NativeFieldHeader> fields;
	for (uint32 i = 0; i < fieldCount; i++) {
		uint8 raw[kNativeFieldHeaderSize];
		if ((status = fSource.Read(raw, sizeof(raw))) != B_OK)
			return status;
		NativeFieldHeader field;
		memcpy(&field.flags, raw + 0, 2);
		memcpy(&field.nameLength, raw + 2, 2);
		memcpy(&field.type, raw + 4, 4);
		memcpy(&field.count, raw + 8, 4);
		memcpy(&field.dataSize, raw + 12, 4);
		memcpy(&field.offset, raw + 16, 4);
		fields.push_back(field);
	}

	std::vector<uint8> storage;
	const uint8* data;
	if ((status = fSource.ReadBlock(dataSize, storage, &data)) != B_OK)
		return status;

	for (const NativeFieldHeader& fieldHeader : fields) {
		if ((fieldHeader.flags & kNativeFieldValid) == 0 || fieldHeader.nameLength == 0
			|| fieldHeader.count == 0 || fieldHeader.count > uint32(INT32_MAX)
			|| fieldHeader.dataSize > uint32(INT32_MAX)
			|| uint64(fieldHeader.offset) + fieldHeader.nameLength + fieldHeader.dataSize
				> dataSize)
			return B_BAD_DATA;
		const char* name = reinterpret_cast<const char*>(data + fieldHeader.offset);
		size_t nameLength = strnlen(name, fieldHeader.nameLength);
		// The name must end inside its recorded length, and must fit the R5 form we write.
		if (nameLength == fieldHeader.nameLength || nameLength > BMessage::kMaxNameLength)
			return B_BAD_DATA;

		BMessage::Field field;
		field.name.assign(name, nameLength);
		field.type = fieldHeader.type;
		field.fixedSize = (fieldHeader.flags & kNativeFieldFixed) != 0;
		field.count = int32(fieldHeader.count);
		const uint8* payload = data + fieldHeader.offset + fieldHeader.nameLength;
		if (field.fixedSize) {
			if (fieldHeader.dataSize == 0 || fieldHeader.dataSize % fieldHeader.count != 0)
				return B_BAD_DATA;
			field.itemSize = fieldHeader.dataSize / fieldHeader.count;
			field.data.assign(payload, payload + fieldHeader.dataSize);
		} else if ((status = _StoreItems(field, payload, fieldHeader.dataSize, false, false))
			!= B_OK)
			return status;
		if ((status = _AddField(message, std::move(field))) != B_OK)
			return status;
	}
	return B_OK;
}

// --- Writer --------------------------------------------------------------------

class MessageWriter {
public:
	static size_t FieldDataLength(const BMessage::Field& field)
	{
		if (field.fixedSize)
			return field.data.size();
		size_t length = 0;
		for (int32 i = 0; i < field.count; i++)
			length += r5_padded_item_size(field.ItemSize(i));
		return length;
	}

	static size_t FlattenedSize(const BMessage& message)
	{
		size_t size = kR5HeaderSize + 1;  // header and terminator
		for (const BMessage::Field& field : message.fFields) {
			size_t length = FieldDataLength(field);
			bool mini = length <= 255;
			size += 1 + 4;  // flags, type
			if (field.count != 1)
				size += mini ? 1 : 4;
			size += (mini ? 1 : 4) + 1 + field.name.size() + length;
		}
		return size;
	}

	static void Write(const BMessage& message, uint8* out, size_t size)
	{
		uint8* start = out;
		put32(out, kR5Magic);
		put32(out, 0);  // checksum, filled in below
		put32(out, uint32(size));
		put32(out, message.what);
		*out++ = kR5HeaderValid;
		uint32 checksum = Checksum(start + 8, kR5HeaderSize - 8);
		memcpy(start + 4, &checksum, 4);

		for (const BMessage::Field& field : message.fFields) {
			uint32 length = uint32(FieldDataLength(field));
			bool mini = length <= 255;
			uint8 flags = kR5FieldValid;
			if (mini)
				flags |= kR5FieldMini;
			if (field.fixedSize)
				flags |= kR5FieldFixed;
			if (field.count == 1)
				flags |= kR5FieldSingle;
			*out++ = flags;
			put32(out, field.type);
			if (field.count != 1) {
				if (mini)
					*out++ = uint8(field.count);
				else
					put32(out, uint32(field.count));
			}
			if (mini)
				*out++ = uint8(length);
			else
				put32(out, length);
			*out++ = uint8(field.name.size());
			memcpy(out, field.name.data(), field.name.size());
			out += field.name.size();

			if (field.fixedSize) {
				if (!field.data.empty())
					memcpy(out, field.data.data(), field.data.size());
				out += field.data.size();
				continue;
			}
			for (int32 i = 0; i < field.count; i++) {
				size_t itemSize = field.ItemSize(i);
				size_t padded = r5_padded_item_size(itemSize);
				put32(out, uint32(itemSize));
				if (itemSize > 0)
					memcpy(out, field.Item(i), itemSize);
				memset(out + itemSize, 0, padded - 4 - itemSize);
				out += padded - 4;
			}
		}
		*out++ = 0;  // terminator
	}

	// Sum of the header's bytes taken as big-endian 32-bit groups, the leftover bytes
	// added as one small big-endian number.
	static uint32 Checksum(const uint8* bytes, size_t size)
	{
		uint32 sum = 0;
		size_t i = 0;
		for (; i + 4 <= size; i += 4) {
			sum += (uint32(bytes[i]) << 24) | (uint32(bytes[i + 1]) << 16)
				| (uint32(bytes[i + 2]) << 8) | uint32(bytes[i + 3]);
		}
		uint32 tail = 0;
		for (; i < size; i++)
			tail = (tail << 8) | bytes[i];
		return sum + tail;
	}

private:
	static void put32(uint8*& out, uint32 value)
	{
		memcpy(out, &value, 4);
		out += 4;
	}
};

// --- BMessage entry points -------------------------------------------------------

ssize_t BMessage::FlattenedSize() const
{
	size_t size = MessageWriter::FlattenedSize(*this);
	// The format records the total in an int32.
	if (size > size_t(INT32_MAX))
		return B_NO_MEMORY;
	return ssize_t(size);
}

status_t BMessage::Flatten(char* buffer, ssize_t size) const
{
	ssize_t needed = FlattenedSize();
	if (needed < 0)
		return status_t(needed);
	if (buffer == nullptr || size < needed)
		return B_BAD_VALUE;
	MessageWriter::Write(*this, reinterpret_cast<uint8*>(buffer), size_t(needed));
	return B_OK;
}

status_t BMessage::Flatten(BDataIO* stream, ssize_t* size) const
{
	if (stream == nullptr)
		return B_BAD_VALUE;
	ssize_t needed = FlattenedSize();
	if (needed < 0)
		return status_t(needed);
	// Settings-sized messages need no heap buffer.
	uint8 stackBuffer[1024];
	std::vector<uint8> heapBuffer;
	uint8* buffer = stackBuffer;
	if (size_t(needed) > sizeof(stackBuffer)) {
		try {
			heapBuffer.resize(size_t(needed));
		} catch (const std::bad_alloc&) {
			return B_NO_MEMORY;
		}
		buffer = heapBuffer.data();
	}
	MessageWriter::Write(*this, buffer, size_t(needed));
	status_t status = stream->WriteExactly(buffer, size_t(needed));
	if (status == B_OK && size != nullptr)
		*size = needed;
	return status;
}

namespace {

status_t read_message(ByteSource& source, BMessage* message)
{
	message->MakeEmpty();
	message->what = 0;
	status_t status;
	try {
		status = MessageReader(source, 0).Read(message);
	} catch (const std::bad_alloc&) {
		status = B_NO_MEMORY;
	} catch (const std::length_error&) {
		status = B_NO_MEMORY;
	}
	if (status != B_OK) {
		message->MakeEmpty();
		message->what = 0;
	}
	return status;
}

}  // namespace

status_t BMessage::Unflatten(const void* data, size_t size)
{
	if (data == nullptr) {
		MakeEmpty();
		what = 0;
		return B_BAD_VALUE;
	}
	BufferSource source(data, size);
	return read_message(source, this);
}

status_t BMessage::Unflatten(BDataIO* stream)
{
	if (stream == nullptr) {
		MakeEmpty();
		what = 0;
		return B_BAD_VALUE;
	}
	StreamSource source(stream);
	return read_message(source, this);
}

status_t BMessage::Unflatten(const char* flatBuffer)
{
	if (flatBuffer == nullptr) {
		MakeEmpty();
		what = 0;
		return B_BAD_VALUE;
	}
	// The platform's form carries no length: take the one the message records.
	uint32 magic;
	memcpy(&magic, flatBuffer, 4);
	size_t size = 0;
	if (magic == kR5Magic || magic == kR5MagicSwapped) {
		uint32 recorded;
		memcpy(&recorded, flatBuffer + 8, 4);
		size = magic == kR5Magic ? recorded : swap32(recorded);
	} else if (magic == kNativeMagic) {
		uint32 dataSize, fieldCount;
		memcpy(&dataSize, flatBuffer + 36, 4);
		memcpy(&fieldCount, flatBuffer + 40, 4);
		size = kNativeHeaderSize + uint64(fieldCount) * kNativeFieldHeaderSize + dataSize;
	} else
		size = 4;
	return Unflatten(static_cast<const void*>(flatBuffer), size);
}
