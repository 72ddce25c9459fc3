#include <Directory.h>
#include <Entry.h>
#include <File.h>
#include <Path.h>

#include "storage/StoragePrivate.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace storage_private;

namespace {

const int kDirectoryFlags = O_RDONLY | O_DIRECTORY;

bool flavor_matches(mode_t mode, int32 nodeFlags)
{
	if (S_ISDIR(mode))
		return (nodeFlags & B_DIRECTORY_NODE) != 0;
	if (S_ISLNK(mode))
		return (nodeFlags & B_SYMLINK_NODE) != 0;
	return (nodeFlags & B_FILE_NODE) != 0;
}

}  // namespace

BDirectory::BDirectory() : fListing(nullptr) {}
BDirectory::BDirectory(const entry_ref* ref) : BDirectory() { SetTo(ref); }
BDirectory::BDirectory(const node_ref* nref) : BDirectory() { SetTo(nref); }
BDirectory::BDirectory(const BEntry* entry) : BDirectory() { SetTo(entry); }
BDirectory::BDirectory(const char* path) : BDirectory() { SetTo(path); }

BDirectory::BDirectory(const BDirectory* dir, const char* path) : BDirectory()
{
	SetTo(dir, path);
}

BDirectory::BDirectory(const BDirectory& dir) : BNode(), BEntryList(), fListing(nullptr)
{
	*this = dir;
}

BDirectory::~BDirectory() { _CloseListing(); }

BDirectory& BDirectory::operator=(const BDirectory& dir)
{
	if (this != &dir) {
		_CloseListing();
		BNode::operator=(dir);
	}
	return *this;
}

void BDirectory::Unset()
{
	_CloseListing();
	BNode::Unset();
}

void BDirectory::_CloseListing()
{
	if (fListing != nullptr)
		closedir(fListing);
	fListing = nullptr;
}

status_t BDirectory::SetTo(const char* path)
{
	_CloseListing();
	return _Open(AT_FDCWD, path, kDirectoryFlags);
}

status_t BDirectory::SetTo(const BDirectory* dir, const char* path)
{
	_CloseListing();
	if (dir == nullptr || dir->InitCheck() != B_OK) {
		BNode::Unset();
		return fCStatus = dir == nullptr ? B_BAD_VALUE : dir->InitCheck();
	}
	return _Open(_FdOf(dir), path, kDirectoryFlags);
}

status_t BDirectory::SetTo(const BEntry* entry)
{
	_CloseListing();
	BPath path;
	status_t status = entry == nullptr ? B_BAD_VALUE : entry->GetPath(&path);
	if (status != B_OK) {
		BNode::Unset();
		return fCStatus = status;
	}
	return SetTo(path.Path());
}

status_t BDirectory::SetTo(const entry_ref* ref)
{
	BEntry entry(ref);
	return SetTo(&entry);
}

status_t BDirectory::SetTo(const node_ref* nref)
{
	_CloseListing();
	std::string path;
	status_t status = nref == nullptr ? B_BAD_VALUE : path_of_node_ref(*nref, &path);
	if (status != B_OK) {
		BNode::Unset();
		return fCStatus = status;
	}
	status = SetTo(path.c_str());
	// The path may have been taken by another node since it was remembered.
	node_ref opened;
	if (status == B_OK && (GetNodeRef(&opened) != B_OK || opened != *nref)) {
		Unset();
		return fCStatus = B_ENTRY_NOT_FOUND;
	}
	return status;
}

status_t BDirectory::GetEntry(BEntry* entry) const
{
	if (entry == nullptr)
		return B_BAD_VALUE;
	if (fCStatus != B_OK)
		return fCStatus;
	std::string path;
	status_t status = path_of_fd(fFd, &path);
	return status == B_OK ? entry->SetTo(path.c_str()) : status;
}

bool BDirectory::IsRootDirectory() const
{
	std::string path;
	return fCStatus == B_OK && path_of_fd(fFd, &path) == B_OK && path == "/";
}

status_t BDirectory::FindEntry(const char* path, BEntry* entry, bool traverse) const
{
	if (path == nullptr || entry == nullptr)
		return B_BAD_VALUE;
	if (fCStatus != B_OK)
		return fCStatus;
	status_t status = entry->SetTo(this, path, traverse);
	if (status == B_OK && !entry->Exists()) {
		entry->Unset();
		return B_ENTRY_NOT_FOUND;
	}
	return status;
}

bool BDirectory::Contains(const char* path, int32 nodeFlags) const
{
	if (path == nullptr || fCStatus != B_OK)
		return false;
	BEntry entry(this, path);
	return Contains(&entry, nodeFlags);
}

bool BDirectory::Contains(const BEntry* entry, int32 nodeFlags) const
{
	if (entry == nullptr || entry->InitCheck() != B_OK || fCStatus != B_OK)
		return false;
	struct stat st;
	if (entry->GetStat(&st) != B_OK || !flavor_matches(st.st_mode, nodeFlags))
		return false;
	// Anywhere below this folder, at any depth.
	std::string dir;
	BPath entryPath;
	if (path_of_fd(fFd, &dir) != B_OK || entry->GetPath(&entryPath) != B_OK)
		return false;
	std::string prefix = dir == "/" ? dir : dir + "/";
	return strncmp(entryPath.Path(), prefix.c_str(), prefix.size()) == 0;
}

status_t BDirectory::_NextName(std::string* name)
{
	if (fCStatus != B_OK)
		return fCStatus;
	if (fListing == nullptr) {
		// A descriptor of its own: a duplicate would share its reading position with
		// every copy of this BDirectory, and their listings would disturb each other.
		int fd = openat(fFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
		if (fd < 0)
			return status_from_errno(errno);
		fListing = fdopendir(fd);
		if (fListing == nullptr) {
			close(fd);
			return status_from_errno(errno);
		}
	}
	while (struct dirent* item = readdir(fListing)) {
		if (strcmp(item->d_name, ".") == 0 || strcmp(item->d_name, "..") == 0)
			continue;
		*name = item->d_name;
		return B_OK;
	}
	return B_ENTRY_NOT_FOUND;
}

status_t BDirectory::GetNextEntry(BEntry* entry, bool traverse)
{
	if (entry == nullptr)
		return B_BAD_VALUE;
	std::string name;
	status_t status = _NextName(&name);
	if (status != B_OK) {
		entry->Unset();
		return status;
	}
	return entry->SetTo(this, name.c_str(), traverse);
}

status_t BDirectory::GetNextRef(entry_ref* ref)
{
	if (ref == nullptr)
		return B_BAD_VALUE;
	BEntry entry;
	status_t status = GetNextEntry(&entry);
	return status == B_OK ? entry.GetRef(ref) : status;
}

status_t BDirectory::Rewind()
{
	if (fCStatus != B_OK)
		return fCStatus;
	if (fListing != nullptr)
		rewinddir(fListing);
	return B_OK;
}

int32 BDirectory::CountEntries()
{
	if (fCStatus != B_OK)
		return fCStatus;
	status_t status = Rewind();
	int32 count = 0;
	std::string name;
	while (status == B_OK && _NextName(&name) == B_OK)
		count++;
	Rewind();
	return count;
}

status_t BDirectory::CreateFile(const char* path, BFile* file, bool failIfExists)
{
	if (path == nullptr)
		return B_BAD_VALUE;
	if (fCStatus != B_OK)
		return fCStatus;
	uint32 mode = B_READ_WRITE | B_CREATE_FILE
		| (failIfExists ? B_FAIL_IF_EXISTS : B_ERASE_FILE);
	BFile local;
	BFile* target = file != nullptr ? file : &local;
	return target->_OpenFile(fFd, path, mode);
}

status_t BDirectory::CreateDirectory(const char* path, BDirectory* dir)
{
	if (path == nullptr)
		return B_BAD_VALUE;
	if (fCStatus != B_OK)
		return fCStatus;
	if (mkdirat(fFd, path, 0777) != 0)
		return status_from_errno(errno);
	if (dir == nullptr)
		return B_OK;
	return dir->SetTo(this, path);
}

status_t create_directory(const char* path, mode_t mode)
{
	std::string absolute;
	status_t status = absolute_path(path, &absolute);
	if (status != B_OK)
		return status;
	// Walk down from the root; an existing folder on the way is fine, a file is not.
	for (size_t slash = absolute.find('/', 1);; slash = absolute.find('/', slash + 1)) {
		std::string step = absolute.substr(0, slash);
		if (!step.empty() && step.back() != '/' && mkdir(step.c_str(), mode) != 0) {
			struct stat st;
			if (errno != EEXIST)
				return status_from_errno(errno);
			if (stat(step.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
				return B_NOT_A_DIRECTORY;
		}
		if (slash == std::string::npos)
			break;
	}
	return B_OK;
}
