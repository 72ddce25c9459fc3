// BMessage fields: adding, finding, replacing, removing and printing. Flattening lives in
// MessageFlatten.cpp.
#include "MessageField.h"

#include <cinttypes>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

bool is_valid_name(const char* name)
{
	return name != nullptr && strlen(name) <= BMessage::kMaxNameLength;
}

}  // namespace

BMessage::BMessage() : what(0) {}
BMessage::BMessage(uint32 _what) : what(_what) {}
BMessage::BMessage(const BMessage& other) = default;
BMessage::~BMessage() = default;

BMessage& BMessage::operator=(const BMessage& other)
{
	if (this != &other) {
		// Copy first, so a failed allocation leaves this message as it was.
		std::vector<Field> fields(other.fFields);
		fFields.swap(fields);
		what = other.what;
	}
	return *this;
}

// --- Inspection --------------------------------------------------------------

BMessage::Field* BMessage::_FindField(const char* name)
{
	for (Field& field : fFields) {
		if (field.name == name)
			return &field;
	}
	return nullptr;
}

const BMessage::Field* BMessage::_FindField(const char* name) const
{
	return const_cast<BMessage*>(this)->_FindField(name);
}

status_t BMessage::GetInfo(type_code typeRequested, int32 index, const char** nameFound,
	type_code* typeFound, int32* countFound) const
{
	if (index < 0)
		return B_BAD_INDEX;
	int32 matches = 0;
	for (const Field& field : fFields) {
		if (typeRequested != B_ANY_TYPE && field.type != typeRequested)
			continue;
		if (matches++ == index) {
			if (nameFound != nullptr)
				*nameFound = field.name.c_str();
			if (typeFound != nullptr)
				*typeFound = field.type;
			if (countFound != nullptr)
				*countFound = field.count;
			return B_OK;
		}
	}
	return matches == 0 ? B_BAD_TYPE : B_BAD_INDEX;
}

status_t BMessage::GetInfo(type_code typeRequested, int32 index, char** nameFound,
	type_code* typeFound, int32* countFound) const
{
	const char* name = nullptr;
	status_t status = GetInfo(typeRequested, index, &name, typeFound, countFound);
	// The platform hands the name out through a non-const pointer; callers must not write it.
	if (status == B_OK && nameFound != nullptr)
		*nameFound = const_cast<char*>(name);
	return status;
}

status_t BMessage::GetInfo(
	const char* name, type_code* typeFound, int32* countFound, bool* fixedSize) const
{
	if (name == nullptr)
		return B_BAD_VALUE;
	const Field* field = _FindField(name);
	if (field == nullptr)
		return B_NAME_NOT_FOUND;
	if (typeFound != nullptr)
		*typeFound = field->type;
	if (countFound != nullptr)
		*countFound = field->count;
	if (fixedSize != nullptr)
		*fixedSize = field->fixedSize;
	return B_OK;
}

status_t BMessage::GetInfo(const char* name, type_code* typeFound, int32* countFound) const
{
	return GetInfo(name, typeFound, countFound, nullptr);
}

status_t BMessage::GetInfo(const char* name, type_code* typeFound, bool* fixedSize) const
{
	return GetInfo(name, typeFound, nullptr, fixedSize);
}

int32 BMessage::CountNames(type_code type) const
{
	int32 count = 0;
	for (const Field& field : fFields) {
		if (type == B_ANY_TYPE || field.type == type)
			count++;
	}
	return count;
}

bool BMessage::IsEmpty() const
{
	return fFields.empty();
}

// --- Removing ----------------------------------------------------------------

status_t BMessage::RemoveName(const char* name)
{
	if (name == nullptr)
		return B_BAD_VALUE;
	for (auto it = fFields.begin(); it != fFields.end(); ++it) {
		if (it->name == name) {
			fFields.erase(it);
			return B_OK;
		}
	}
	return B_NAME_NOT_FOUND;
}

status_t BMessage::RemoveData(const char* name, int32 index)
{
	if (name == nullptr)
		return B_BAD_VALUE;
	Field* field = _FindField(name);
	if (field == nullptr)
		return B_NAME_NOT_FOUND;
	if (index < 0 || index >= field->count)
		return B_BAD_INDEX;
	if (field->count == 1)
		return RemoveName(name);

	size_t offset = field->ItemOffset(index);
	size_t size = field->ItemSize(index);
	field->data.erase(field->data.begin() + offset, field->data.begin() + offset + size);
	if (!field->fixedSize) {
		field->offsets.erase(field->offsets.begin() + index);
		for (size_t i = size_t(index); i < field->offsets.size(); i++)
			field->offsets[i] -= uint32(size);
	}
	field->count--;
	return B_OK;
}

status_t BMessage::MakeEmpty()
{
	fFields.clear();
	return B_OK;
}

// --- Adding ------------------------------------------------------------------

status_t BMessage::AddData(const char* name, type_code type, const void* data, ssize_t numBytes,
	bool isFixedSize, int32 count)
{
	if (!is_valid_name(name) || numBytes < 0 || (data == nullptr && numBytes > 0)
		|| type == B_ANY_TYPE)
		return B_BAD_VALUE;

	Field* field = _FindField(name);
	if (field != nullptr) {
		if (field->type != type)
			return B_BAD_TYPE;
		if (field->fixedSize && size_t(numBytes) != field->itemSize)
			return B_BAD_VALUE;
	} else if (isFixedSize && numBytes == 0)
		return B_BAD_VALUE;

	// The R5 format counts a field's bytes in an int32; a variable item adds at most 11 bytes
	// of size prefix and padding.
	bool fixedSize = field != nullptr ? field->fixedSize : isFixedSize;
	size_t used = 0;
	if (field != nullptr)
		used = field->data.size() + (fixedSize ? 0 : 11 * size_t(field->count));
	size_t added = size_t(numBytes) + (fixedSize ? 0 : 11);
	if (added > size_t(INT32_MAX) - used || (field != nullptr && field->count == INT32_MAX))
		return B_NO_MEMORY;

	try {
		if (field == nullptr) {
			Field fresh;
			fresh.name = name;
			fresh.type = type;
			fresh.fixedSize = isFixedSize;
			fresh.itemSize = isFixedSize ? uint32(numBytes) : 0;
			if (count > 1 && size_t(count) * size_t(numBytes) <= 64 * 1024)
				fresh.data.reserve(size_t(count) * size_t(numBytes));
			fFields.push_back(std::move(fresh));
			field = &fFields.back();
		}
		if (!field->fixedSize)
			field->offsets.push_back(uint32(field->data.size()));
		const uint8* bytes = static_cast<const uint8*>(data);
		const uint8* begin = field->data.data();
		if (numBytes > 0 && bytes >= begin && bytes < begin + field->data.size()) {
			// The value is an item of this field (from FindData()); growing would move it.
			std::vector<uint8> copy(bytes, bytes + numBytes);
			field->data.insert(field->data.end(), copy.begin(), copy.end());
		} else
			field->data.insert(field->data.end(), bytes, bytes + numBytes);
		field->count++;
	} catch (const std::bad_alloc&) {
		if (field != nullptr && field->count == 0)
			fFields.pop_back();
		else if (field != nullptr && !field->fixedSize
			&& field->offsets.size() > size_t(field->count))
			field->offsets.pop_back();
		return B_NO_MEMORY;
	}
	return B_OK;
}

status_t BMessage::_AddFixed(const char* name, type_code type, const void* value, size_t size)
{
	return AddData(name, type, value, ssize_t(size), true);
}

status_t BMessage::AddString(const char* name, const char* string)
{
	if (string == nullptr)
		return B_BAD_VALUE;
	return AddData(name, B_STRING_TYPE, string, ssize_t(strlen(string) + 1), false);
}

status_t BMessage::AddBool(const char* name, bool value)
{
	uint8 byte = value ? 1 : 0;
	return _AddFixed(name, B_BOOL_TYPE, &byte, 1);
}

status_t BMessage::AddPointer(const char* name, const void* pointer)
{
	return _AddFixed(name, B_POINTER_TYPE, &pointer, sizeof(pointer));
}

status_t BMessage::AddMessage(const char* name, const BMessage* message)
{
	if (message == nullptr)
		return B_BAD_VALUE;
	return _AddFlattened(name, message);
}

status_t BMessage::_AddFlattened(const char* name, const BMessage* message)
{
	ssize_t size = message->FlattenedSize();
	if (size < 0)
		return status_t(size);
	std::vector<char> buffer;
	try {
		buffer.resize(size_t(size));
	} catch (const std::bad_alloc&) {
		return B_NO_MEMORY;
	}
	status_t status = message->Flatten(buffer.data(), size);
	if (status != B_OK)
		return status;
	return AddData(name, B_MESSAGE_TYPE, buffer.data(), size, false);
}

// --- Finding -----------------------------------------------------------------

status_t BMessage::_FindItem(const char* name, type_code type, int32 index, const void** data,
	size_t* size) const
{
	if (name == nullptr)
		return B_BAD_VALUE;
	const Field* field = _FindField(name);
	if (field == nullptr)
		return B_NAME_NOT_FOUND;
	if (type != B_ANY_TYPE && field->type != type)
		return B_BAD_TYPE;
	if (index < 0 || index >= field->count)
		return B_BAD_INDEX;
	*data = field->Item(index);
	*size = field->ItemSize(index);
	return B_OK;
}

status_t BMessage::FindData(const char* name, type_code type, int32 index, const void** data,
	ssize_t* numBytes) const
{
	if (data == nullptr)
		return B_BAD_VALUE;
	const void* item;
	size_t size;
	status_t status = _FindItem(name, type, index, &item, &size);
	if (status != B_OK)
		return status;
	*data = item;
	if (numBytes != nullptr)
		*numBytes = ssize_t(size);
	return B_OK;
}

status_t BMessage::FindData(
	const char* name, type_code type, const void** data, ssize_t* numBytes) const
{
	return FindData(name, type, 0, data, numBytes);
}

status_t BMessage::_FindFixed(const char* name, type_code type, int32 index, void* value,
	size_t size) const
{
	if (value == nullptr)
		return B_BAD_VALUE;
	const void* item;
	size_t itemSize;
	status_t status = _FindItem(name, type, index, &item, &itemSize);
	if (status != B_OK)
		return status;
	// A field read from outside may hold items of another size than the type's.
	if (itemSize != size)
		return B_BAD_DATA;
	memcpy(value, item, size);
	return B_OK;
}

status_t BMessage::FindBool(const char* name, int32 index, bool* value) const
{
	uint8 byte;
	if (value == nullptr)
		return B_BAD_VALUE;
	status_t status = _FindFixed(name, B_BOOL_TYPE, index, &byte, 1);
	if (status == B_OK)
		*value = byte != 0;
	return status;
}

status_t BMessage::FindBool(const char* name, bool* value) const
{
	return FindBool(name, 0, value);
}

status_t BMessage::FindString(const char* name, int32 index, const char** string) const
{
	if (string == nullptr)
		return B_BAD_VALUE;
	const void* item;
	size_t size;
	status_t status = _FindItem(name, B_STRING_TYPE, index, &item, &size);
	if (status != B_OK)
		return status;
	if (size == 0 || static_cast<const char*>(item)[size - 1] != '\0')
		return B_BAD_DATA;
	*string = static_cast<const char*>(item);
	return B_OK;
}

status_t BMessage::FindString(const char* name, const char** string) const
{
	return FindString(name, 0, string);
}

status_t BMessage::FindPointer(const char* name, int32 index, void** pointer) const
{
	return _FindFixed(name, B_POINTER_TYPE, index, pointer, sizeof(void*));
}

status_t BMessage::FindPointer(const char* name, void** pointer) const
{
	return FindPointer(name, 0, pointer);
}

status_t BMessage::FindMessage(const char* name, int32 index, BMessage* message) const
{
	if (message == nullptr)
		return B_BAD_VALUE;
	const void* item;
	size_t size;
	status_t status = _FindItem(name, B_MESSAGE_TYPE, index, &item, &size);
	if (status != B_OK)
		return status;
	BMessage found;
	status = found.Unflatten(item, size);
	if (status != B_OK)
		return status;
	*message = std::move(found);
	return B_OK;
}

status_t BMessage::FindMessage(const char* name, BMessage* message) const
{
	return FindMessage(name, 0, message);
}

// --- Replacing ---------------------------------------------------------------

status_t BMessage::ReplaceData(const char* name, type_code type, int32 index, const void* data,
	ssize_t numBytes)
{
	if (name == nullptr || numBytes < 0 || (data == nullptr && numBytes > 0))
		return B_BAD_VALUE;
	Field* field = _FindField(name);
	if (field == nullptr)
		return B_NAME_NOT_FOUND;
	if (type != B_ANY_TYPE && field->type != type)
		return B_BAD_TYPE;
	if (index < 0 || index >= field->count)
		return B_BAD_INDEX;

	const uint8* bytes = static_cast<const uint8*>(data);
	if (field->fixedSize) {
		if (size_t(numBytes) != field->itemSize)
			return B_BAD_VALUE;
		if (numBytes > 0)
			memmove(field->data.data() + field->ItemOffset(index), bytes, size_t(numBytes));
		return B_OK;
	}

	size_t offset = field->ItemOffset(index);
	size_t oldSize = field->ItemSize(index);
	size_t newSize = size_t(numBytes);
	if (newSize == oldSize) {
		// memmove: the new value may come from FindData() on this very item.
		if (newSize > 0)
			memmove(field->data.data() + offset, bytes, newSize);
		return B_OK;
	}
	size_t used = field->data.size() + 11 * size_t(field->count);
	if (newSize > oldSize && newSize - oldSize > size_t(INT32_MAX) - used)
		return B_NO_MEMORY;
	try {
		// Built aside, so that a value taken from this field itself stays readable.
		std::vector<uint8> replaced;
		replaced.reserve(field->data.size() - oldSize + newSize);
		replaced.insert(replaced.end(), field->data.begin(), field->data.begin() + offset);
		replaced.insert(replaced.end(), bytes, bytes + newSize);
		replaced.insert(
			replaced.end(), field->data.begin() + offset + oldSize, field->data.end());
		field->data.swap(replaced);
	} catch (const std::bad_alloc&) {
		return B_NO_MEMORY;
	}
	for (size_t i = size_t(index) + 1; i < field->offsets.size(); i++)
		field->offsets[i] = uint32(field->offsets[i] - oldSize + newSize);
	return B_OK;
}

status_t BMessage::ReplaceData(const char* name, type_code type, const void* data, ssize_t numBytes)
{
	return ReplaceData(name, type, 0, data, numBytes);
}

status_t BMessage::_ReplaceFixed(const char* name, type_code type, int32 index, const void* value,
	size_t size)
{
	return ReplaceData(name, type, index, value, ssize_t(size));
}

status_t BMessage::ReplaceBool(const char* name, int32 index, bool value)
{
	uint8 byte = value ? 1 : 0;
	return _ReplaceFixed(name, B_BOOL_TYPE, index, &byte, 1);
}

status_t BMessage::ReplaceBool(const char* name, bool value)
{
	return ReplaceBool(name, 0, value);
}

status_t BMessage::ReplaceString(const char* name, int32 index, const char* string)
{
	if (string == nullptr)
		return B_BAD_VALUE;
	return ReplaceData(name, B_STRING_TYPE, index, string, ssize_t(strlen(string) + 1));
}

status_t BMessage::ReplaceString(const char* name, const char* string)
{
	return ReplaceString(name, 0, string);
}

status_t BMessage::ReplacePointer(const char* name, int32 index, const void* pointer)
{
	return _ReplaceFixed(name, B_POINTER_TYPE, index, &pointer, sizeof(pointer));
}

status_t BMessage::ReplacePointer(const char* name, const void* pointer)
{
	return ReplacePointer(name, 0, pointer);
}

status_t BMessage::ReplaceMessage(const char* name, int32 index, const BMessage* message)
{
	if (message == nullptr)
		return B_BAD_VALUE;
	ssize_t size = message->FlattenedSize();
	if (size < 0)
		return status_t(size);
	std::vector<char> buffer;
	try {
		buffer.resize(size_t(size));
	} catch (const std::bad_alloc&) {
		return B_NO_MEMORY;
	}
	status_t status = message->Flatten(buffer.data(), size);
	if (status != B_OK)
		return status;
	return ReplaceData(name, B_MESSAGE_TYPE, index, buffer.data(), size);
}

status_t BMessage::ReplaceMessage(const char* name, const BMessage* message)
{
	return ReplaceMessage(name, 0, message);
}

// --- Presence ----------------------------------------------------------------

bool BMessage::HasData(const char* name, type_code type, int32 index) const
{
	const void* item;
	size_t size;
	return _FindItem(name, type, index, &item, &size) == B_OK;
}

bool BMessage::HasString(const char* name, int32 index) const
{
	return HasData(name, B_STRING_TYPE, index);
}
bool BMessage::HasPointer(const char* name, int32 index) const
{
	return HasData(name, B_POINTER_TYPE, index);
}
bool BMessage::HasMessage(const char* name, int32 index) const
{
	return HasData(name, B_MESSAGE_TYPE, index);
}
bool BMessage::HasBool(const char* name, int32 index) const
{
	return HasData(name, B_BOOL_TYPE, index);
}

bool BMessage::GetBool(const char* name, int32 index, bool defaultValue) const
{
	bool value;
	return FindBool(name, index, &value) == B_OK ? value : defaultValue;
}

bool BMessage::GetBool(const char* name, bool defaultValue) const
{
	return GetBool(name, 0, defaultValue);
}

const char* BMessage::GetString(const char* name, int32 index, const char* defaultValue) const
{
	const char* value;
	return FindString(name, index, &value) == B_OK ? value : defaultValue;
}

const char* BMessage::GetString(const char* name, const char* defaultValue) const
{
	return GetString(name, 0, defaultValue);
}

// --- Fixed-size numeric accessors --------------------------------------------
//
// Every plain fixed-size type has the same five accessors; they differ only in the C++ type
// and the type code, so one macro spells them out.

#define FIXED_ACCESSORS(Name, Type, typeCode) \
	status_t BMessage::Add##Name(const char* name, Type value) \
	{ \
		return _AddFixed(name, typeCode, &value, sizeof(Type)); \
	} \
	status_t BMessage::Find##Name(const char* name, int32 index, Type* value) const \
	{ \
		return _FindFixed(name, typeCode, index, value, sizeof(Type)); \
	} \
	status_t BMessage::Find##Name(const char* name, Type* value) const \
	{ \
		return _FindFixed(name, typeCode, 0, value, sizeof(Type)); \
	} \
	status_t BMessage::Replace##Name(const char* name, int32 index, Type value) \
	{ \
		return _ReplaceFixed(name, typeCode, index, &value, sizeof(Type)); \
	} \
	status_t BMessage::Replace##Name(const char* name, Type value) \
	{ \
		return _ReplaceFixed(name, typeCode, 0, &value, sizeof(Type)); \
	} \
	bool BMessage::Has##Name(const char* name, int32 index) const \
	{ \
		return HasData(name, typeCode, index); \
	}

FIXED_ACCESSORS(Int8, int8, B_INT8_TYPE)
FIXED_ACCESSORS(UInt8, uint8, B_UINT8_TYPE)
FIXED_ACCESSORS(Int16, int16, B_INT16_TYPE)
FIXED_ACCESSORS(UInt16, uint16, B_UINT16_TYPE)
FIXED_ACCESSORS(Int32, int32, B_INT32_TYPE)
FIXED_ACCESSORS(UInt32, uint32, B_UINT32_TYPE)
FIXED_ACCESSORS(Int64, int64, B_INT64_TYPE)
FIXED_ACCESSORS(UInt64, uint64, B_UINT64_TYPE)
FIXED_ACCESSORS(Float, float, B_FLOAT_TYPE)
FIXED_ACCESSORS(Double, double, B_DOUBLE_TYPE)
FIXED_ACCESSORS(Point, BPoint, B_POINT_TYPE)
FIXED_ACCESSORS(Rect, BRect, B_RECT_TYPE)
FIXED_ACCESSORS(Color, rgb_color, B_RGB_32_BIT_TYPE)

#undef FIXED_ACCESSORS

#define GETTER(Name, Type) \
	Type BMessage::Get##Name(const char* name, int32 index, Type defaultValue) const \
	{ \
		Type value; \
		return Find##Name(name, index, &value) == B_OK ? value : defaultValue; \
	} \
	Type BMessage::Get##Name(const char* name, Type defaultValue) const \
	{ \
		return Get##Name(name, 0, defaultValue); \
	}

GETTER(Int8, int8)
GETTER(Int16, int16)
GETTER(Int32, int32)
GETTER(Int64, int64)
GETTER(Float, float)
GETTER(Double, double)

#undef GETTER

BRect BMessage::GetRect(const char* name, int32 index, const BRect& defaultValue) const
{
	BRect value;
	return FindRect(name, index, &value) == B_OK ? value : defaultValue;
}

BRect BMessage::GetRect(const char* name, const BRect& defaultValue) const
{
	return GetRect(name, 0, defaultValue);
}

// --- Printing ----------------------------------------------------------------

namespace {

void append(std::vector<char>& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void append(std::vector<char>& out, const char* format, ...)
{
	char text[256];
	va_list args;
	va_start(args, format);
	int length = vsnprintf(text, sizeof(text), format, args);
	va_end(args);
	if (length > 0)
		out.insert(out.end(), text, text + min_c(length, int(sizeof(text)) - 1));
}

void append_indent(std::vector<char>& out, int depth)
{
	out.insert(out.end(), size_t(depth), '\t');
}

// A four-character code as 'ABCD' when all four bytes print, else in hexadecimal.
void append_code(std::vector<char>& out, uint32 code)
{
	char letters[4] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
	for (char c : letters) {
		if (c < 0x20 || c > 0x7e) {
			append(out, "0x%08" PRIx32, code);
			return;
		}
	}
	append(out, "'%c%c%c%c'", letters[0], letters[1], letters[2], letters[3]);
}

template <typename T>
T load(const uint8* bytes)
{
	T value;
	memcpy(&value, bytes, sizeof(T));
	return value;
}

void append_bytes(std::vector<char>& out, const uint8* bytes, size_t size)
{
	append(out, "%zu bytes:", size);
	const size_t kShown = 32;
	for (size_t i = 0; i < size && i < kShown; i++)
		append(out, " %02x", bytes[i]);
	if (size > kShown)
		append(out, " ...");
}

}  // namespace

void BMessage::_Print(std::vector<char>& out, int depth) const
{
	append(out, "BMessage(");
	append_code(out, what);
	append(out, ") {\n");
	for (const Field& field : fFields) {
		for (int32 i = 0; i < field.count; i++) {
			append_indent(out, depth + 1);
			out.insert(out.end(), field.name.begin(), field.name.end());
			if (field.count > 1)
				append(out, "[%" PRId32 "]", i);
			append(out, " = ");
			const uint8* item = field.Item(i);
			size_t size = field.ItemSize(i);
			switch (field.type) {
				case B_BOOL_TYPE:
					if (size == 1) {
						append(out, "bool(%s)\n", item[0] != 0 ? "true" : "false");
						continue;
					}
					break;
				case B_INT8_TYPE:
					if (size == 1) {
						append(out, "int8(%d)\n", int(int8(item[0])));
						continue;
					}
					break;
				case B_UINT8_TYPE:
					if (size == 1) {
						append(out, "uint8(%u)\n", unsigned(item[0]));
						continue;
					}
					break;
				case B_INT16_TYPE:
					if (size == 2) {
						append(out, "int16(%d)\n", int(load<int16>(item)));
						continue;
					}
					break;
				case B_UINT16_TYPE:
					if (size == 2) {
						append(out, "uint16(%u)\n", unsigned(load<uint16>(item)));
						continue;
					}
					break;
				case B_INT32_TYPE:
					if (size == 4) {
						append(out, "int32(%" PRId32 ")\n", load<int32>(item));
						continue;
					}
					break;
				case B_UINT32_TYPE:
					if (size == 4) {
						append(out, "uint32(%" PRIu32 ")\n", load<uint32>(item));
						continue;
					}
					break;
				case B_INT64_TYPE:
					if (size == 8) {
						append(out, "int64(%" PRId64 ")\n", load<int64>(item));
						continue;
					}
					break;
				case B_UINT64_TYPE:
					if (size == 8) {
						append(out, "uint64(%" PRIu64 ")\n", load<uint64>(item));
						continue;
					}
					break;
				case B_FLOAT_TYPE:
					if (size == 4) {
						append(out, "float(%g)\n", double(load<float>(item)));
						continue;
					}
					break;
				case B_DOUBLE_TYPE:
					if (size == 8) {
						append(out, "double(%g)\n", load<double>(item));
						continue;
					}
					break;
				case B_POINT_TYPE:
					if (size == 8) {
						BPoint point = load<BPoint>(item);
						append(out, "BPoint(x:%g, y:%g)\n", double(point.x), double(point.y));
						continue;
					}
					break;
				case B_RECT_TYPE:
					if (size == 16) {
						BRect rect = load<BRect>(item);
						append(out, "BRect(l:%g, t:%g, r:%g, b:%g)\n", double(rect.left),
							double(rect.top), double(rect.right), double(rect.bottom));
						continue;
					}
					break;
				case B_RGB_32_BIT_TYPE:
				case B_RGB_COLOR_TYPE:
					if (size == 4) {
						append(out, "rgb_color(r:%u, g:%u, b:%u, a:%u)\n", item[0], item[1],
							item[2], item[3]);
						continue;
					}
					break;
				case B_POINTER_TYPE:
					if (size == sizeof(void*)) {
						append(out, "pointer(%p)\n", load<void*>(item));
						continue;
					}
					break;
				case B_STRING_TYPE:
					if (size > 0 && item[size - 1] == 0) {
						append(out, "string(\"");
						out.insert(out.end(), item, item + size - 1);
						append(out, "\", %zu bytes)\n", size);
						continue;
					}
					break;
				case B_MESSAGE_TYPE:
				{
					BMessage nested;
					if (depth < kMaxNestingDepth && nested.Unflatten(item, size) == B_OK) {
						nested._Print(out, depth + 1);
						continue;
					}
					break;
				}
			}
			// Unknown types, and known ones whose items have an unexpected size.
			append_code(out, field.type);
			append(out, " ");
			append_bytes(out, item, size);
			append(out, "\n");
		}
	}
	append_indent(out, depth);
	append(out, "}\n");
}

void BMessage::PrintToStream() const
{
	std::vector<char> out;
	_Print(out, 0);
	fwrite(out.data(), 1, out.size(), stdout);
	fflush(stdout);
}
