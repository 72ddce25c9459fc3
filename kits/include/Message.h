// BMessage: a code ("what") plus named, typed fields, each holding one or more values.
//
// Contract:
// - Fields keep the order in which they were first added. A name has one type: adding a value
//   of another type under an existing name fails with B_BAD_TYPE. A field disappears when its
//   last value is removed.
// - Find...() calls leave the out value untouched when they fail. The index-less overloads mean
//   index 0. Pointers handed out by FindData() and FindString() stay valid until that field is
//   changed or the message is emptied, assigned or destroyed.
// - Nested messages are kept flattened; FindMessage() hands out a copy.
// - Flatten() writes the R5 format. Unflatten() reads R5 in either byte order and the newer
//   native format in this machine's byte order. A failed Unflatten() leaves the message empty
//   (what 0, no fields) and never reads past the bytes it was given; reading from a stream
//   consumes exactly the bytes of one message, so whatever follows can be read next.
// - Nesting deeper than kMaxNestingDepth levels is refused when reading.
// - A message is not thread safe; one thread at a time may use it.
#pragma once

#include <GraphicsDefs.h>
#include <Point.h>
#include <Rect.h>
#include <SupportDefs.h>
#include <TypeConstants.h>

#include <vector>

class BDataIO;

class BMessage {
public:
	uint32 what;

	static constexpr int32 kMaxNestingDepth = 64;
	static constexpr size_t kMaxNameLength = 255;  // the R5 format stores it in one byte

	BMessage();
	BMessage(uint32 what);
	BMessage(const BMessage& other);
	virtual ~BMessage();
	BMessage& operator=(const BMessage& other);

	// Inspecting fields. Typed lookups with B_ANY_TYPE match every field.
	status_t GetInfo(type_code typeRequested, int32 index, char** nameFound,
		type_code* typeFound, int32* countFound = nullptr) const;
	status_t GetInfo(type_code typeRequested, int32 index, const char** nameFound,
		type_code* typeFound, int32* countFound = nullptr) const;
	status_t GetInfo(const char* name, type_code* typeFound, int32* countFound = nullptr) const;
	status_t GetInfo(const char* name, type_code* typeFound, bool* fixedSize) const;
	status_t GetInfo(
		const char* name, type_code* typeFound, int32* countFound, bool* fixedSize) const;
	int32 CountNames(type_code type) const;
	bool IsEmpty() const;
	// Writes every field (name, type, values; nested messages indented) to standard output.
	void PrintToStream() const;

	status_t RemoveName(const char* name);
	status_t RemoveData(const char* name, int32 index = 0);
	status_t MakeEmpty();

	// Flattening. Flatten(char*, size) fails with B_BAD_VALUE when the buffer is too small.
	ssize_t FlattenedSize() const;
	status_t Flatten(char* buffer, ssize_t size) const;
	status_t Flatten(BDataIO* stream, ssize_t* size = nullptr) const;
	// Trusts the length recorded in the data; use the bounded form for bytes from outside.
	status_t Unflatten(const char* flatBuffer);
	status_t Unflatten(const void* data, size_t size);
	status_t Unflatten(BDataIO* stream);

	// Adding. AddData() decides fixed or variable size when it creates the field; later
	// values follow the field (a fixed field takes only values of its item size).
	status_t AddData(const char* name, type_code type, const void* data, ssize_t numBytes,
		bool isFixedSize = true, int32 count = 1);
	status_t AddBool(const char* name, bool value);
	status_t AddInt8(const char* name, int8 value);
	status_t AddUInt8(const char* name, uint8 value);
	status_t AddInt16(const char* name, int16 value);
	status_t AddUInt16(const char* name, uint16 value);
	status_t AddInt32(const char* name, int32 value);
	status_t AddUInt32(const char* name, uint32 value);
	status_t AddInt64(const char* name, int64 value);
	status_t AddUInt64(const char* name, uint64 value);
	status_t AddFloat(const char* name, float value);
	status_t AddDouble(const char* name, double value);
	status_t AddString(const char* name, const char* string);
	status_t AddPoint(const char* name, BPoint point);
	status_t AddRect(const char* name, BRect rect);
	status_t AddPointer(const char* name, const void* pointer);
	status_t AddColor(const char* name, rgb_color color);  // B_RGB_32_BIT_TYPE
	status_t AddMessage(const char* name, const BMessage* message);

	// Finding.
	status_t FindData(const char* name, type_code type, const void** data,
		ssize_t* numBytes) const;
	status_t FindData(const char* name, type_code type, int32 index, const void** data,
		ssize_t* numBytes) const;
	status_t FindBool(const char* name, bool* value) const;
	status_t FindBool(const char* name, int32 index, bool* value) const;
	status_t FindInt8(const char* name, int8* value) const;
	status_t FindInt8(const char* name, int32 index, int8* value) const;
	status_t FindUInt8(const char* name, uint8* value) const;
	status_t FindUInt8(const char* name, int32 index, uint8* value) const;
	status_t FindInt16(const char* name, int16* value) const;
	status_t FindInt16(const char* name, int32 index, int16* value) const;
	status_t FindUInt16(const char* name, uint16* value) const;
	status_t FindUInt16(const char* name, int32 index, uint16* value) const;
	status_t FindInt32(const char* name, int32* value) const;
	status_t FindInt32(const char* name, int32 index, int32* value) const;
	status_t FindUInt32(const char* name, uint32* value) const;
	status_t FindUInt32(const char* name, int32 index, uint32* value) const;
	status_t FindInt64(const char* name, int64* value) const;
	status_t FindInt64(const char* name, int32 index, int64* value) const;
	status_t FindUInt64(const char* name, uint64* value) const;
	status_t FindUInt64(const char* name, int32 index, uint64* value) const;
	status_t FindFloat(const char* name, float* value) const;
	status_t FindFloat(const char* name, int32 index, float* value) const;
	status_t FindDouble(const char* name, double* value) const;
	status_t FindDouble(const char* name, int32 index, double* value) const;
	// The string must end with its NUL inside the stored item, else B_BAD_DATA.
	status_t FindString(const char* name, const char** string) const;
	status_t FindString(const char* name, int32 index, const char** string) const;
	status_t FindPoint(const char* name, BPoint* point) const;
	status_t FindPoint(const char* name, int32 index, BPoint* point) const;
	status_t FindRect(const char* name, BRect* rect) const;
	status_t FindRect(const char* name, int32 index, BRect* rect) const;
	status_t FindPointer(const char* name, void** pointer) const;
	status_t FindPointer(const char* name, int32 index, void** pointer) const;
	status_t FindColor(const char* name, rgb_color* color) const;
	status_t FindColor(const char* name, int32 index, rgb_color* color) const;
	status_t FindMessage(const char* name, BMessage* message) const;
	status_t FindMessage(const char* name, int32 index, BMessage* message) const;

	// Replacing one value in place.
	status_t ReplaceData(const char* name, type_code type, const void* data, ssize_t numBytes);
	status_t ReplaceData(const char* name, type_code type, int32 index, const void* data,
		ssize_t numBytes);
	status_t ReplaceBool(const char* name, bool value);
	status_t ReplaceBool(const char* name, int32 index, bool value);
	status_t ReplaceInt8(const char* name, int8 value);
	status_t ReplaceInt8(const char* name, int32 index, int8 value);
	status_t ReplaceUInt8(const char* name, uint8 value);
	status_t ReplaceUInt8(const char* name, int32 index, uint8 value);
	status_t ReplaceInt16(const char* name, int16 value);
	status_t ReplaceInt16(const char* name, int32 index, int16 value);
	status_t ReplaceUInt16(const char* name, uint16 value);
	status_t ReplaceUInt16(const char* name, int32 index, uint16 value);
	status_t ReplaceInt32(const char* name, int32 value);
	status_t ReplaceInt32(const char* name, int32 index, int32 value);
	status_t ReplaceUInt32(const char* name, uint32 value);
	status_t ReplaceUInt32(const char* name, int32 index, uint32 value);
	status_t ReplaceInt64(const char* name, int64 value);
	status_t ReplaceInt64(const char* name, int32 index, int64 value);
	status_t ReplaceUInt64(const char* name, uint64 value);
	status_t ReplaceUInt64(const char* name, int32 index, uint64 value);
	status_t ReplaceFloat(const char* name, float value);
	status_t ReplaceFloat(const char* name, int32 index, float value);
	status_t ReplaceDouble(const char* name, double value);
	status_t ReplaceDouble(const char* name, int32 index, double value);
	status_t ReplaceString(const char* name, const char* string);
	status_t ReplaceString(const char* name, int32 index, const char* string);
	status_t ReplacePoint(const char* name, BPoint point);
	status_t ReplacePoint(const char* name, int32 index, BPoint point);
	status_t ReplaceRect(const char* name, BRect rect);
	status_t ReplaceRect(const char* name, int32 index, BRect rect);
	status_t ReplacePointer(const char* name, const void* pointer);
	status_t ReplacePointer(const char* name, int32 index, const void* pointer);
	status_t ReplaceColor(const char* name, rgb_color color);
	status_t ReplaceColor(const char* name, int32 index, rgb_color color);
	status_t ReplaceMessage(const char* name, const BMessage* message);
	status_t ReplaceMessage(const char* name, int32 index, const BMessage* message);

	// Presence of a value of that name, type and index.
	bool HasData(const char* name, type_code type, int32 index = 0) const;
	bool HasBool(const char* name, int32 index = 0) const;
	bool HasInt8(const char* name, int32 index = 0) const;
	bool HasUInt8(const char* name, int32 index = 0) const;
	bool HasInt16(const char* name, int32 index = 0) const;
	bool HasUInt16(const char* name, int32 index = 0) const;
	bool HasInt32(const char* name, int32 index = 0) const;
	bool HasUInt32(const char* name, int32 index = 0) const;
	bool HasInt64(const char* name, int32 index = 0) const;
	bool HasUInt64(const char* name, int32 index = 0) const;
	bool HasFloat(const char* name, int32 index = 0) const;
	bool HasDouble(const char* name, int32 index = 0) const;
	bool HasString(const char* name, int32 index = 0) const;
	bool HasPoint(const char* name, int32 index = 0) const;
	bool HasRect(const char* name, int32 index = 0) const;
	bool HasPointer(const char* name, int32 index = 0) const;
	bool HasColor(const char* name, int32 index = 0) const;
	bool HasMessage(const char* name, int32 index = 0) const;

	// Convenience getters: the value, or defaultValue when it cannot be found.
	bool GetBool(const char* name, bool defaultValue) const;
	bool GetBool(const char* name, int32 index, bool defaultValue) const;
	int8 GetInt8(const char* name, int8 defaultValue) const;
	int8 GetInt8(const char* name, int32 index, int8 defaultValue) const;
	int16 GetInt16(const char* name, int16 defaultValue) const;
	int16 GetInt16(const char* name, int32 index, int16 defaultValue) const;
	int32 GetInt32(const char* name, int32 defaultValue) const;
	int32 GetInt32(const char* name, int32 index, int32 defaultValue) const;
	int64 GetInt64(const char* name, int64 defaultValue) const;
	int64 GetInt64(const char* name, int32 index, int64 defaultValue) const;
	float GetFloat(const char* name, float defaultValue) const;
	float GetFloat(const char* name, int32 index, float defaultValue) const;
	double GetDouble(const char* name, double defaultValue) const;
	double GetDouble(const char* name, int32 index, double defaultValue) const;
	const char* GetString(const char* name, const char* defaultValue) const;
	const char* GetString(const char* name, int32 index, const char* defaultValue) const;
	BRect GetRect(const char* name, const BRect& defaultValue) const;
	BRect GetRect(const char* name, int32 index, const BRect& defaultValue) const;

	// Storage of one field; defined inside the kit (kits/app/MessageField.h).
	struct Field;

private:
	friend class MessageReader;
	friend class MessageWriter;

	Field* _FindField(const char* name);
	const Field* _FindField(const char* name) const;
	status_t _FindItem(const char* name, type_code type, int32 index, const void** data,
		size_t* size) const;
	status_t _FindFixed(const char* name, type_code type, int32 index, void* value,
		size_t size) const;
	status_t _AddFixed(const char* name, type_code type, const void* value, size_t size);
	status_t _ReplaceFixed(const char* name, type_code type, int32 index, const void* value,
		size_t size);
	status_t _AddFlattened(const char* name, const BMessage* message);
	void _Print(std::vector<char>& out, int depth) const;

	std::vector<Field> fFields;
};
