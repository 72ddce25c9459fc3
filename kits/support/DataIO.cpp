#include <DataIO.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

// --- BDataIO ---------------------------------------------------------------

BDataIO::BDataIO() = default;
BDataIO::~BDataIO() = default;

ssize_t BDataIO::Read(void*, size_t) { return B_NOT_ALLOWED; }
ssize_t BDataIO::Write(const void*, size_t) { return B_NOT_ALLOWED; }
status_t BDataIO::Flush() { return B_OK; }

status_t BDataIO::ReadExactly(void* buffer, size_t size, size_t* _bytesRead)
{
	char* out = static_cast<char*>(buffer);
	size_t done = 0;
	status_t error = B_OK;
	while (done < size) {
		ssize_t read = Read(out + done, size - done);
		if (read < 0) {
			error = static_cast<status_t>(read);
			break;
		}
		if (read == 0) {
			error = B_BAD_DATA;  // the stream ended early
			break;
		}
		done += static_cast<size_t>(read);
	}
	if (_bytesRead != nullptr)
		*_bytesRead = done;
	return error;
}

status_t BDataIO::WriteExactly(const void* buffer, size_t size, size_t* _bytesWritten)
{
	const char* in = static_cast<const char*>(buffer);
	size_t done = 0;
	status_t error = B_OK;
	while (done < size) {
		ssize_t written = Write(in + done, size - done);
		if (written < 0) {
			error = static_cast<status_t>(written);
			break;
		}
		if (written == 0) {
			error = B_IO_ERROR;
			break;
		}
		done += static_cast<size_t>(written);
	}
	if (_bytesWritten != nullptr)
		*_bytesWritten = done;
	return error;
}

// --- BPositionIO -----------------------------------------------------------

BPositionIO::BPositionIO() = default;
BPositionIO::~BPositionIO() = default;

ssize_t BPositionIO::Read(void* buffer, size_t size)
{
	off_t position = Position();
	ssize_t result = ReadAt(position, buffer, size);
	if (result > 0)
		Seek(position + result, SEEK_SET);
	return result;
}

ssize_t BPositionIO::Write(const void* buffer, size_t size)
{
	off_t position = Position();
	ssize_t result = WriteAt(position, buffer, size);
	if (result > 0)
		Seek(position + result, SEEK_SET);
	return result;
}

status_t BPositionIO::SetSize(off_t) { return B_ERROR; }

status_t BPositionIO::GetSize(off_t* size) const
{
	if (size == nullptr)
		return B_BAD_VALUE;
	auto* self = const_cast<BPositionIO*>(this);
	off_t current = Position();
	off_t end = self->Seek(0, SEEK_END);
	if (end < 0)
		return static_cast<status_t>(end);
	self->Seek(current, SEEK_SET);
	*size = end;
	return B_OK;
}

// --- BMemoryIO -------------------------------------------------------------

BMemoryIO::BMemoryIO(void* data, size_t length)
	: fReadOnly(false), fBuffer(static_cast<char*>(data)), fLength(length),
	  fBufferSize(length), fPosition(0)
{
}

BMemoryIO::BMemoryIO(const void* data, size_t length)
	: fReadOnly(true), fBuffer(const_cast<char*>(static_cast<const char*>(data))),
	  fLength(length), fBufferSize(length), fPosition(0)
{
}

BMemoryIO::~BMemoryIO() = default;

ssize_t BMemoryIO::ReadAt(off_t position, void* buffer, size_t size)
{
	if (buffer == nullptr || position < 0)
		return B_BAD_VALUE;
	if (static_cast<uint64>(position) >= fLength)
		return 0;
	size_t available = fLength - static_cast<size_t>(position);
	size_t count = size < available ? size : available;
	memcpy(buffer, fBuffer + position, count);
	return static_cast<ssize_t>(count);
}

ssize_t BMemoryIO::WriteAt(off_t position, const void* buffer, size_t size)
{
	if (fReadOnly)
		return B_NOT_ALLOWED;
	if (buffer == nullptr || position < 0)
		return B_BAD_VALUE;
	if (static_cast<uint64>(position) >= fBufferSize)
		return 0;
	size_t available = fBufferSize - static_cast<size_t>(position);
	size_t count = size < available ? size : available;
	memcpy(fBuffer + position, buffer, count);
	if (static_cast<size_t>(position) + count > fLength)
		fLength = static_cast<size_t>(position) + count;
	return static_cast<ssize_t>(count);
}

off_t BMemoryIO::Seek(off_t position, uint32 seekMode)
{
	off_t base;
	switch (seekMode) {
		case SEEK_SET: base = 0; break;
		case SEEK_CUR: base = static_cast<off_t>(fPosition); break;
		case SEEK_END: base = static_cast<off_t>(fLength); break;
		default: return B_BAD_VALUE;
	}
	if ((position > 0 && base > std::numeric_limits<off_t>::max() - position))
		return B_BAD_VALUE;
	off_t target = base + position;
	if (target < 0)
		return B_BAD_VALUE;
	fPosition = static_cast<size_t>(target);
	return target;
}

off_t BMemoryIO::Position() const { return static_cast<off_t>(fPosition); }

status_t BMemoryIO::SetSize(off_t size)
{
	if (fReadOnly)
		return B_NOT_ALLOWED;
	if (size < 0 || static_cast<uint64>(size) > fBufferSize)
		return B_BAD_VALUE;
	fLength = static_cast<size_t>(size);
	return B_OK;
}

// --- BMallocIO -------------------------------------------------------------

BMallocIO::BMallocIO()
	: fBlockSize(256), fMallocSize(0), fLength(0), fData(nullptr), fPosition(0)
{
}

BMallocIO::~BMallocIO() { free(fData); }

status_t BMallocIO::_Reserve(size_t size)
{
	if (size <= fMallocSize)
		return B_OK;
	size_t newSize = (size + fBlockSize - 1) / fBlockSize * fBlockSize;
	if (newSize < fMallocSize * 2 && fMallocSize * 2 > fMallocSize)
		newSize = fMallocSize * 2;  // grow geometrically so appends stay linear
	char* data = static_cast<char*>(realloc(fData, newSize));
	if (data == nullptr)
		return B_NO_MEMORY;
	fData = data;
	fMallocSize = newSize;
	return B_OK;
}

ssize_t BMallocIO::ReadAt(off_t position, void* buffer, size_t size)
{
	if (buffer == nullptr || position < 0)
		return B_BAD_VALUE;
	if (static_cast<uint64>(position) >= fLength)
		return 0;
	size_t available = fLength - static_cast<size_t>(position);
	size_t count = size < available ? size : available;
	memcpy(buffer, fData + position, count);
	return static_cast<ssize_t>(count);
}

ssize_t BMallocIO::WriteAt(off_t position, const void* buffer, size_t size)
{
	if (buffer == nullptr || position < 0)
		return B_BAD_VALUE;
	if (size == 0)
		return 0;
	if (static_cast<uint64>(position) > SIZE_MAX - size)
		return B_NO_MEMORY;
	size_t end = static_cast<size_t>(position) + size;
	status_t error = _Reserve(end);
	if (error != B_OK)
		return error;
	if (static_cast<size_t>(position) > fLength)
		memset(fData + fLength, 0, static_cast<size_t>(position) - fLength);
	memcpy(fData + position, buffer, size);
	if (end > fLength)
		fLength = end;
	return static_cast<ssize_t>(size);
}

off_t BMallocIO::Seek(off_t position, uint32 seekMode)
{
	off_t base;
	switch (seekMode) {
		case SEEK_SET: base = 0; break;
		case SEEK_CUR: base = fPosition; break;
		case SEEK_END: base = static_cast<off_t>(fLength); break;
		default: return B_BAD_VALUE;
	}
	if ((position > 0 && base > std::numeric_limits<off_t>::max() - position))
		return B_BAD_VALUE;
	off_t target = base + position;
	if (target < 0)
		return B_BAD_VALUE;
	fPosition = target;
	return target;
}

off_t BMallocIO::Position() const { return fPosition; }

status_t BMallocIO::SetSize(off_t size)
{
	if (size < 0)
		return B_BAD_VALUE;
	size_t newLength = static_cast<size_t>(size);
	if (newLength > fLength) {
		status_t error = _Reserve(newLength);
		if (error != B_OK)
			return error;
		memset(fData + fLength, 0, newLength - fLength);
	}
	fLength = newLength;
	return B_OK;
}

void BMallocIO::SetBlockSize(size_t blockSize) { fBlockSize = blockSize == 0 ? 1 : blockSize; }
const void* BMallocIO::Buffer() const { return fData; }
size_t BMallocIO::BufferLength() const { return fLength; }
