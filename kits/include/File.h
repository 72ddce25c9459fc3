// BFile: a regular file opened for reading and/or writing, readable and writable as a
// BPositionIO and carrying attributes as a BNode. Read and Write move the file's own
// position (so B_OPEN_AT_END appends); ReadAt and WriteAt leave it alone.
#pragma once

#include <DataIO.h>
#include <Node.h>

class BFile : public BNode, public BPositionIO {
public:
	BFile();
	BFile(const entry_ref* ref, uint32 openMode);
	BFile(const BEntry* entry, uint32 openMode);
	BFile(const char* path, uint32 openMode);
	BFile(const BDirectory* dir, const char* path, uint32 openMode);
	BFile(const BFile& file);
	~BFile() override;

	// openMode: one of B_READ_ONLY, B_WRITE_ONLY, B_READ_WRITE, or-ed with
	// B_CREATE_FILE, B_FAIL_IF_EXISTS, B_ERASE_FILE, B_OPEN_AT_END.
	status_t SetTo(const entry_ref* ref, uint32 openMode);
	status_t SetTo(const BEntry* entry, uint32 openMode);
	status_t SetTo(const char* path, uint32 openMode);
	status_t SetTo(const BDirectory* dir, const char* path, uint32 openMode);
	void Unset();

	bool IsReadable() const;
	bool IsWritable() const;

	ssize_t Read(void* buffer, size_t size) override;
	ssize_t ReadAt(off_t location, void* buffer, size_t size) override;
	ssize_t Write(const void* buffer, size_t size) override;
	ssize_t WriteAt(off_t location, const void* buffer, size_t size) override;

	off_t Seek(off_t offset, uint32 seekMode) override;
	off_t Position() const override;

	status_t SetSize(off_t size) override;
	status_t GetSize(off_t* size) const override;

	BFile& operator=(const BFile& file);

private:
	friend class BDirectory;
	status_t _OpenFile(int dirFd, const char* path, uint32 openMode);

	uint32 fMode;
};

// The host open(2) flags for a platform open mode; -1 for an invalid access mode.
int open_mode_to_flags(uint32 openMode);
