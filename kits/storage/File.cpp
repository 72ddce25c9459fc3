#include <Directory.h>
#include <Entry.h>
#include <File.h>
#include <Path.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int open_mode_to_flags(uint32 openMode)
{
	int flags;
	switch (openMode & B_ACCESS_MODE_MASK) {
		case B_READ_ONLY: flags = O_RDONLY; break;
		case B_WRITE_ONLY: flags = O_WRONLY; break;
		case B_READ_WRITE: flags = O_RDWR; break;
		default: return -1;
	}
	if (openMode & B_CREATE_FILE)
		flags |= O_CREAT;
	// Only meaningful together with creation, as with O_EXCL.
	if ((openMode & B_FAIL_IF_EXISTS) && (openMode & B_CREATE_FILE))
		flags |= O_EXCL;
	if (openMode & B_ERASE_FILE)
		flags |= O_TRUNC;
	if (openMode & B_OPEN_AT_END)
		flags |= O_APPEND;
	return flags;
}

BFile::BFile() : fMode(0) {}

BFile::BFile(const entry_ref* ref, uint32 openMode) : BFile() { SetTo(ref, openMode); }
BFile::BFile(const BEntry* entry, uint32 openMode) : BFile() { SetTo(entry, openMode); }
BFile::BFile(const char* path, uint32 openMode) : BFile() { SetTo(path, openMode); }

BFile::BFile(const BDirectory* dir, const char* path, uint32 openMode) : BFile()
{
	SetTo(dir, path, openMode);
}

BFile::BFile(const BFile& file) : BNode(), BPositionIO(), fMode(0) { *this = file; }

BFile::~BFile() = default;

BFile& BFile::operator=(const BFile& file)
{
	if (this != &file) {
		BNode::operator=(file);
		fMode = fCStatus == B_OK ? file.fMode : 0;
	}
	return *this;
}

status_t BFile::SetTo(const entry_ref* ref, uint32 openMode)
{
	BEntry entry(ref);
	return SetTo(&entry, openMode);
}

status_t BFile::SetTo(const BEntry* entry, uint32 openMode)
{
	if (entry == nullptr || entry->InitCheck() != B_OK) {
		Unset();
		return fCStatus = entry == nullptr ? B_BAD_VALUE : entry->InitCheck();
	}
	BPath path;
	status_t status = entry->GetPath(&path);
	if (status != B_OK) {
		Unset();
		return fCStatus = status;
	}
	return SetTo(path.Path(), openMode);
}

status_t BFile::SetTo(const char* path, uint32 openMode)
{
	return _OpenFile(AT_FDCWD, path, openMode);
}

status_t BFile::SetTo(const BDirectory* dir, const char* path, uint32 openMode)
{
	if (dir == nullptr || dir->InitCheck() != B_OK) {
		Unset();
		return fCStatus = dir == nullptr ? B_BAD_VALUE : dir->InitCheck();
	}
	return _OpenFile(_FdOf(dir), path, openMode);
}

status_t BFile::_OpenFile(int dirFd, const char* path, uint32 openMode)
{
	Unset();
	int flags = open_mode_to_flags(openMode);
	if (flags < 0)
		return fCStatus = B_BAD_VALUE;
	status_t status = _Open(dirFd, path, flags, 0666);
	if (status != B_OK)
		return status;
	struct stat st;
	if (fstat(fFd, &st) == 0 && S_ISDIR(st.st_mode)) {
		Unset();
		return fCStatus = B_IS_A_DIRECTORY;
	}
	fMode = openMode;
	return B_OK;
}

void BFile::Unset()
{
	BNode::Unset();
	fMode = 0;
}

bool BFile::IsReadable() const
{
	uint32 access = fMode & B_ACCESS_MODE_MASK;
	return fCStatus == B_OK && (access == B_READ_ONLY || access == B_READ_WRITE);
}

bool BFile::IsWritable() const
{
	uint32 access = fMode & B_ACCESS_MODE_MASK;
	return fCStatus == B_OK && (access == B_WRITE_ONLY || access == B_READ_WRITE);
}

namespace {

ssize_t io_result(ssize_t result)
{
	return result < 0 ? status_from_errno(errno) : result;
}

}  // namespace

ssize_t BFile::Read(void* buffer, size_t size)
{
	if (fCStatus != B_OK)
		return fCStatus;
	return io_result(::read(fFd, buffer, size));
}

ssize_t BFile::ReadAt(off_t location, void* buffer, size_t size)
{
	if (fCStatus != B_OK)
		return fCStatus;
	if (location < 0)
		return B_BAD_VALUE;
	return io_result(::pread(fFd, buffer, size, location));
}

ssize_t BFile::Write(const void* buffer, size_t size)
{
	if (fCStatus != B_OK)
		return fCStatus;
	return io_result(::write(fFd, buffer, size));
}

ssize_t BFile::WriteAt(off_t location, const void* buffer, size_t size)
{
	if (fCStatus != B_OK)
		return fCStatus;
	if (location < 0)
		return B_BAD_VALUE;
	return io_result(::pwrite(fFd, buffer, size, location));
}

off_t BFile::Seek(off_t offset, uint32 seekMode)
{
	if (fCStatus != B_OK)
		return fCStatus;
	off_t result = lseek(fFd, offset, static_cast<int>(seekMode));
	return result < 0 ? status_from_errno(errno) : result;
}

off_t BFile::Position() const
{
	if (fCStatus != B_OK)
		return fCStatus;
	off_t result = lseek(fFd, 0, SEEK_CUR);
	return result < 0 ? status_from_errno(errno) : result;
}

status_t BFile::SetSize(off_t size)
{
	if (fCStatus != B_OK)
		return fCStatus;
	if (size < 0)
		return B_BAD_VALUE;
	if (!IsWritable())
		return B_NOT_ALLOWED;
	return ftruncate(fFd, size) == 0 ? B_OK : status_from_errno(errno);
}

status_t BFile::GetSize(off_t* size) const
{
	return BNode::GetSize(size);
}
