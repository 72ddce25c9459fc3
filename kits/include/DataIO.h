// Byte streams: BDataIO (sequential), BPositionIO (seekable), and two memory-backed
// streams, BMallocIO (growable, owns its buffer) and BMemoryIO (over a caller's buffer).
#pragma once

#include <SupportDefs.h>

class BDataIO {
public:
	BDataIO();
	virtual ~BDataIO();

	// Both return the number of bytes moved, or a negative status code.
	virtual ssize_t Read(void* buffer, size_t size);
	virtual ssize_t Write(const void* buffer, size_t size);

	// Loops until all bytes are moved; B_PARTIAL-style short reads become B_IO_ERROR
	// (or B_BAD_DATA at end of stream for reads).
	status_t ReadExactly(void* buffer, size_t size, size_t* _bytesRead = nullptr);
	status_t WriteExactly(const void* buffer, size_t size, size_t* _bytesWritten = nullptr);

	virtual status_t Flush();

private:
	BDataIO(const BDataIO&) = delete;
	BDataIO& operator=(const BDataIO&) = delete;
};



class BPositionIO : public BDataIO {
public:
	BPositionIO();
	~BPositionIO() override;

	ssize_t Read(void* buffer, size_t size) override;
	ssize_t Write(const void* buffer, size_t size) override;

	virtual ssize_t ReadAt(off_t position, void* buffer, size_t size) = 0;
	virtual ssize_t WriteAt(off_t position, const void* buffer, size_t size) = 0;

	// seekMode is SEEK_SET, SEEK_CUR or SEEK_END; returns the new position or an error.
	virtual off_t Seek(off_t position, uint32 seekMode) = 0;
	virtual off_t Position() const = 0;

	virtual status_t SetSize(off_t size);
	virtual status_t GetSize(off_t* size) const;
};

// A stream over a caller-owned buffer; never grows past it.
class BMemoryIO : public BPositionIO {
public:
	BMemoryIO(void* data, size_t length);
	BMemoryIO(const void* data, size_t length);  // read-only
	~BMemoryIO() override;

	ssize_t ReadAt(off_t position, void* buffer, size_t size) override;
	ssize_t WriteAt(off_t position, const void* buffer, size_t size) override;
	off_t Seek(off_t position, uint32 seekMode) override;
	off_t Position() const override;
	status_t SetSize(off_t size) override;

private:
	bool fReadOnly;
	char* fBuffer;
	size_t fLength;
	size_t fBufferSize;
	size_t fPosition;
};

// A growable stream that owns its buffer.
class BMallocIO : public BPositionIO {
public:
	BMallocIO();
	~BMallocIO() override;

	ssize_t ReadAt(off_t position, void* buffer, size_t size) override;
	ssize_t WriteAt(off_t position, const void* buffer, size_t size) override;
	off_t Seek(off_t position, uint32 seekMode) override;
	off_t Position() const override;
	status_t SetSize(off_t size) override;

	void SetBlockSize(size_t blockSize);
	const void* Buffer() const;
	size_t BufferLength() const;

private:
	status_t _Reserve(size_t size);

	size_t fBlockSize;
	size_t fMallocSize;
	size_t fLength;
	char* fData;
	off_t fPosition;
};
