#include "Spool.h"

#include <DataIO.h>

#include <cassert>
#include <cstring>

namespace frontend {

namespace {

void put_int32(uint8* out, int32 value)
{
	uint32 bits = static_cast<uint32>(value);
	for (int i = 0; i < 4; i++)
		out[i] = static_cast<uint8>(bits >> (8 * i));
}

void put_int64(uint8* out, int64 value)
{
	uint64 bits = static_cast<uint64>(value);
	for (int i = 0; i < 8; i++)
		out[i] = static_cast<uint8>(bits >> (8 * i));
}

void put_float(uint8* out, float value)
{
	uint32 bits;
	memcpy(&bits, &value, sizeof(bits));
	put_int32(out, static_cast<int32>(bits));
}

int32 get_int32(const uint8* in)
{
	uint32 bits = 0;
	for (int i = 0; i < 4; i++)
		bits |= static_cast<uint32>(in[i]) << (8 * i);
	return static_cast<int32>(bits);
}

int64 get_int64(const uint8* in)
{
	uint64 bits = 0;
	for (int i = 0; i < 8; i++)
		bits |= static_cast<uint64>(in[i]) << (8 * i);
	return static_cast<int64>(bits);
}

const int32 kSpoolVersion = 1 << 16;
const size_t kFileHeaderSize = 28;
const size_t kPageHeaderSize = 52;
const size_t kPictureHeaderSize = 24;

}  // namespace

bool SpoolWriter::_Write(const void* data, size_t size, std::string* error)
{
	status_t status = fFile->WriteExactly(data, size);
	if (status != B_OK) {
		*error = "cannot write the spool file " + fPath + ": " + strerror_be(status);
		return false;
	}
	return true;
}

bool SpoolWriter::Open(const std::string& path, const BMessage& settings, std::string* error,
	int32 pages)
{
	fPath = path;
	fPages = 0;
	fFile = std::make_unique<BFile>(path.c_str(), B_READ_WRITE | B_CREATE_FILE | B_ERASE_FILE);
	if (fFile->InitCheck() != B_OK) {
		*error = "cannot create the spool file " + path + ": " + strerror_be(fFile->InitCheck());
		return false;
	}
	uint8 header[kFileHeaderSize] = {};
	put_int32(header, kSpoolVersion);
	put_int32(header + 4, pages);
	put_int64(header + 8, -1);  // the first page follows the settings; readers never use it
	if (!_Write(header, sizeof(header), error))
		return false;
	status_t status = settings.Flatten(fFile.get());
	if (status != B_OK) {
		*error = "cannot write the settings into the spool file: " + std::string(strerror_be(status));
		return false;
	}
	return true;
}

bool SpoolWriter::AddPage(const SpooledPage& page, std::string* error)
{
	if (!BeginPage(error))
		return false;
	for (const SpooledPicture& picture : page) {
		if (!AddPicture(picture, error))
			return false;
	}
	return EndPage(error);
}

bool SpoolWriter::BeginPage(std::string* error)
{
	assert(fPageStart < 0);
	fPageStart = fFile->Position();
	fPagePictures = 0;
	// The picture count and the next page's offset are filled in by EndPage.
	uint8 header[kPageHeaderSize] = {};
	return _Write(header, sizeof(header), error);
}

bool SpoolWriter::AddPicture(const SpooledPicture& picture, std::string* error)
{
	assert(fPageStart >= 0);
	uint8 placement[kPictureHeaderSize];
	put_float(placement, picture.where.x);
	put_float(placement + 4, picture.where.y);
	put_float(placement + 8, picture.rect.left);
	put_float(placement + 12, picture.rect.top);
	put_float(placement + 16, picture.rect.right);
	put_float(placement + 20, picture.rect.bottom);
	if (!_Write(placement, sizeof(placement), error))
		return false;
	status_t status = picture.picture->Flatten(fFile.get());
	if (status != B_OK) {
		*error = "cannot write a picture into the spool file: " + std::string(strerror_be(status));
		return false;
	}
	fPagePictures++;
	return true;
}

bool SpoolWriter::EndPage(std::string* error)
{
	assert(fPageStart >= 0);
	// The next page starts where this one ends (the end of the file after the last page).
	uint8 fields[12];
	put_int32(fields, fPagePictures);
	put_int64(fields + 4, fFile->Position());
	if (fFile->WriteAt(fPageStart, fields, sizeof(fields)) != static_cast<ssize_t>(sizeof(fields))) {
		*error = "cannot write the spool file " + fPath;
		return false;
	}
	fPageStart = -1;
	fPages++;
	return true;
}

bool SpoolWriter::Close(std::string* error)
{
	uint8 count[4];
	put_int32(count, fPages);
	if (fFile->WriteAt(4, count, sizeof(count)) != static_cast<ssize_t>(sizeof(count))) {
		*error = "cannot write the spool file " + fPath;
		return false;
	}
	fFile.reset();
	return true;
}

bool read_spool_summary(const std::string& path, SpoolSummary* summary, std::string* error)
{
	BFile file(path.c_str(), B_READ_ONLY);
	if (file.InitCheck() != B_OK) {
		*error = "cannot open " + path + ": " + strerror_be(file.InitCheck());
		return false;
	}
	off_t size = 0;
	file.GetSize(&size);
	uint8 header[kFileHeaderSize];
	if (file.ReadExactly(header, sizeof(header)) != B_OK) {
		*error = path + " is not a spool file (too short)";
		return false;
	}
	summary->pageCount = get_int32(header + 4);
	status_t status = summary->settings.Unflatten(&file);
	if (status != B_OK) {
		*error = path + ": the settings cannot be read (" + strerror_be(status) + ")";
		return false;
	}
	summary->pictures.clear();
	for (int32 page = 0; page < summary->pageCount; page++) {
		uint8 pageHeader[kPageHeaderSize];
		if (file.ReadExactly(pageHeader, sizeof(pageHeader)) != B_OK)
			break;
		int32 count = get_int32(pageHeader);
		int64 next = get_int64(pageHeader + 4);
		bool complete = count >= 0;
		for (int32 i = 0; complete && i < count; i++) {
			uint8 placement[kPictureHeaderSize];
			BPicture picture;
			complete = file.ReadExactly(placement, sizeof(placement)) == B_OK
				&& picture.Unflatten(&file) == B_OK;
		}
		if (!complete)
			break;
		summary->pictures.push_back(count);
		// The next record lies past this one, inside the file; any other offset would read
		// pages again for ever (a header may announce two thousand million of them).
		if (next < file.Position() || next > size)
			break;
		file.Seek(next, SEEK_SET);
	}
	return true;
}

}  // namespace frontend
