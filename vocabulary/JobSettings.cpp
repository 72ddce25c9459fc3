#include "JobSettings.h"

#include <cstring>

namespace {

status_t store_bytes(BMessage* message, const char* name, type_code type, const void* data,
	ssize_t size, bool fixedSize)
{
	if (message == nullptr || name == nullptr)
		return B_BAD_VALUE;
	type_code found;
	int32 count;
	if (message->GetInfo(name, &found, &count) == B_OK) {
		if (found == type && count == 1)
			return message->ReplaceData(name, type, 0, data, size);
		// A value of another type (or a list) would hide the one written here from every
		// reader that looks the field up by its type; the written value wins.
		message->RemoveName(name);
	}
	return message->AddData(name, type, data, size, fixedSize);
}

}  // namespace

status_t store_field(BMessage* message, const char* name, int8 value)
{
	return store_bytes(message, name, B_INT8_TYPE, &value, sizeof(value), true);
}

status_t store_field(BMessage* message, const char* name, int16 value)
{
	return store_bytes(message, name, B_INT16_TYPE, &value, sizeof(value), true);
}

status_t store_field(BMessage* message, const char* name, int32 value)
{
	return store_bytes(message, name, B_INT32_TYPE, &value, sizeof(value), true);
}

status_t store_field(BMessage* message, const char* name, float value)
{
	return store_bytes(message, name, B_FLOAT_TYPE, &value, sizeof(value), true);
}

status_t store_field(BMessage* message, const char* name, BRect value)
{
	return store_bytes(message, name, B_RECT_TYPE, &value, sizeof(value), true);
}

status_t store_field(BMessage* message, const char* name, const char* value)
{
	if (value == nullptr)
		return B_BAD_VALUE;
	return store_bytes(message, name, B_STRING_TYPE, value, ssize_t(strlen(value) + 1), false);
}
