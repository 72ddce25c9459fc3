// Bounded reading of the spool file's records: the file header, the page headers, the
// placement of each picture and the extent of each flattened picture. Everything is read
// field by field in the file's little-endian order, never by copying a structure.
#include "EngineInternal.h"

#include <DataIO.h>

#include <cstring>

namespace {

const size_t kSpoolHeaderSize = 28;
const size_t kPageHeaderSize = 52;
const size_t kPicturePlaceSize = 24;
const size_t kPictureHeaderSize = 12;	// version, second word, sub-picture count
const int32 kPictureVersion = 2;
// Sub-pictures nest; deeper nesting than this is taken as damage, not as a picture.
const int kMaxPictureDepth = 32;


bool read_exactly(BPositionIO* file, void* buffer, size_t size)
{
	return file->Read(buffer, size) == (ssize_t)size;
}


bool read_exactly_at(BPositionIO* file, off_t position, void* buffer, size_t size)
{
	return file->ReadAt(position, buffer, size) == (ssize_t)size;
}


uint32 uint32_at(const uint8* bytes)
{
	return (uint32)bytes[0] | (uint32)bytes[1] << 8 | (uint32)bytes[2] << 16
		| (uint32)bytes[3] << 24;
}


int32 int32_at(const uint8* bytes)
{
	return (int32)uint32_at(bytes);
}


int64 int64_at(const uint8* bytes)
{
	return (int64)((uint64)uint32_at(bytes) | (uint64)uint32_at(bytes + 4) << 32);
}


float float_at(const uint8* bytes)
{
	uint32 bits = uint32_at(bytes);
	float value;
	memcpy(&value, &bits, sizeof(value));
	return value;
}


// Moves *position past the picture starting there.
bool skip_picture(BPositionIO* file, off_t* position, off_t end, int depth)
{
	if (depth > kMaxPictureDepth || end - *position < (off_t)kPictureHeaderSize)
		return false;
	uint8 header[kPictureHeaderSize];
	if (!read_exactly_at(file, *position, header, sizeof(header)))
		return false;
	int32 sub_pictures = int32_at(header + 8);
	if (int32_at(header) != kPictureVersion || int32_at(header + 4) != 0 || sub_pictures < 0)
		return false;
	*position += kPictureHeaderSize;

	for (int32 i = 0; i < sub_pictures; i++) {
		if (!skip_picture(file, position, end, depth + 1))
			return false;
	}

	uint8 size_field[4];
	if (end - *position < 4 || !read_exactly_at(file, *position, size_field, 4))
		return false;
	int32 op_data_size = int32_at(size_field);
	*position += 4;
	if (op_data_size < 0 || op_data_size > end - *position)
		return false;
	*position += op_data_size;
	return true;
}

}  // namespace


bool read_spool_header(BPositionIO* file, int32* page_count)
{
	uint8 header[kSpoolHeaderSize];
	if (!read_exactly(file, header, sizeof(header)))
		return false;
	// The version, the first page's offset and the reserved words are not needed: the first
	// page record follows the settings.
	*page_count = int32_at(header + 4);
	return true;
}


bool read_page_header(BPositionIO* file, int32* picture_count, int64* next_page)
{
	uint8 header[kPageHeaderSize];
	if (!read_exactly(file, header, sizeof(header)))
		return false;
	*picture_count = int32_at(header);
	*next_page = int64_at(header + 4);
	return true;
}


bool read_picture_place(BPositionIO* file, BPoint* where, BRect* rect)
{
	uint8 place[kPicturePlaceSize];
	if (!read_exactly(file, place, sizeof(place)))
		return false;
	*where = BPoint(float_at(place), float_at(place + 4));
	*rect = BRect(float_at(place + 8), float_at(place + 12), float_at(place + 16),
		float_at(place + 20));
	return true;
}


bool measure_flattened_picture(BPositionIO* file, off_t start, off_t end, off_t* length)
{
	off_t position = start;
	if (start < 0 || !skip_picture(file, &position, end, 0))
		return false;
	*length = position - start;
	return true;
}
