#include <Directory.h>
#include <Entry.h>
#include <Path.h>

#include "storage/StoragePrivate.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

using namespace storage_private;

// --- entry_ref -------------------------------------------------------------

entry_ref::entry_ref() : device(-1), directory(-1), name(nullptr) {}

entry_ref::entry_ref(dev_t device_, ino_t directory_, const char* name_)
	: device(device_), directory(directory_), name(nullptr)
{
	set_name(name_);
}

entry_ref::entry_ref(const entry_ref& ref) : device(-1), directory(-1), name(nullptr)
{
	*this = ref;
}

entry_ref::~entry_ref() { free(name); }

status_t entry_ref::set_name(const char* newName)
{
	free(name);
	name = nullptr;
	if (newName == nullptr)
		return B_OK;
	name = strdup(newName);
	return name != nullptr ? B_OK : B_NO_MEMORY;
}

bool entry_ref::operator==(const entry_ref& ref) const
{
	if (device != ref.device || directory != ref.directory)
		return false;
	if (name == nullptr || ref.name == nullptr)
		return name == ref.name;
	return strcmp(name, ref.name) == 0;
}

entry_ref& entry_ref::operator=(const entry_ref& ref)
{
	if (this != &ref) {
		device = ref.device;
		directory = ref.directory;
		set_name(ref.name);
	}
	return *this;
}

status_t get_ref_for_path(const char* path, entry_ref* ref)
{
	if (ref == nullptr)
		return B_BAD_VALUE;
	BEntry entry(path);
	status_t status = entry.InitCheck();
	return status == B_OK ? entry.GetRef(ref) : status;
}

// --- BEntry ----------------------------------------------------------------

BEntry::BEntry() : fCStatus(B_NO_INIT) {}

BEntry::BEntry(const BDirectory* dir, const char* path, bool traverse) : BEntry()
{
	SetTo(dir, path, traverse);
}

BEntry::BEntry(const entry_ref* ref, bool traverse) : BEntry() { SetTo(ref, traverse); }
BEntry::BEntry(const char* path, bool traverse) : BEntry() { SetTo(path, traverse); }
BEntry::BEntry(const BEntry& entry) : BStatable(), fPath(entry.fPath), fCStatus(entry.fCStatus) {}
BEntry::~BEntry() = default;

BEntry& BEntry::operator=(const BEntry& entry)
{
	fPath = entry.fPath;
	fCStatus = entry.fCStatus;
	return *this;
}

bool BEntry::operator==(const BEntry& entry) const
{
	if (fCStatus != B_OK || entry.fCStatus != B_OK)
		return fCStatus == entry.fCStatus;
	return fPath == entry.fPath;
}

status_t BEntry::InitCheck() const { return fCStatus; }

void BEntry::Unset()
{
	fPath.clear();
	fCStatus = B_NO_INIT;
}

status_t BEntry::SetTo(const char* path, bool traverse)
{
	Unset();
	std::string normalized;
	status_t status = normalize_path(path, &normalized);
	if (status != B_OK)
		return fCStatus = status;
	if (traverse) {
		// A symbolic link names what it points at; a dangling one names nothing.
		struct stat st;
		if (lstat(normalized.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
			char resolved[PATH_MAX];
			if (realpath(normalized.c_str(), resolved) == nullptr)
				return fCStatus = status_from_errno(errno);
			normalized = resolved;
		}
	}
	fPath = normalized;
	return fCStatus = B_OK;
}

status_t BEntry::SetTo(const BDirectory* dir, const char* path, bool traverse)
{
	if (path != nullptr && path[0] == '/')
		return SetTo(path, traverse);
	Unset();
	if (dir == nullptr)
		return fCStatus = B_BAD_VALUE;
	BEntry dirEntry;
	status_t status = dir->GetEntry(&dirEntry);
	if (status != B_OK)
		return fCStatus = status;
	if (path == nullptr || path[0] == '\0') {
		*this = dirEntry;
		return B_OK;
	}
	return SetTo(join_path(dirEntry.fPath, path).c_str(), traverse);
}

status_t BEntry::SetTo(const entry_ref* ref, bool traverse)
{
	Unset();
	if (ref == nullptr || ref->name == nullptr || ref->name[0] == '\0'
		|| strchr(ref->name, '/') != nullptr)
		return fCStatus = B_BAD_VALUE;
	std::string dir;
	status_t status = path_of_node_ref(node_ref(ref->device, ref->directory), &dir);
	if (status != B_OK)
		return fCStatus = status;
	return SetTo(join_path(dir, ref->name).c_str(), traverse);
}

status_t BEntry::GetStat(struct stat* st) const
{
	if (st == nullptr)
		return B_BAD_VALUE;
	if (fCStatus != B_OK)
		return fCStatus;
	return lstat(fPath.c_str(), st) == 0 ? B_OK : status_from_errno(errno);
}

bool BEntry::Exists() const
{
	struct stat st;
	return GetStat(&st) == B_OK;
}

std::string BEntry::_CurrentPath() const
{
	return fCStatus == B_OK ? fPath : std::string();
}

status_t BEntry::GetRef(entry_ref* ref) const
{
	if (ref == nullptr)
		return B_BAD_VALUE;
	if (fCStatus != B_OK)
		return fCStatus;
	BEntry parent;
	status_t status = GetParent(&parent);
	if (status != B_OK)
		return status;
	node_ref dir;
	status = parent.GetNodeRef(&dir);
	if (status != B_OK)
		return status;
	ref->device = dir.device;
	ref->directory = dir.node;
	return ref->set_name(fPath.substr(fPath.rfind('/') + 1).c_str());
}

status_t BEntry::GetPath(BPath* path) const
{
	if (path == nullptr)
		return B_BAD_VALUE;
	if (fCStatus != B_OK)
		return fCStatus;
	return path->SetTo(fPath.c_str());
}

status_t BEntry::GetParent(BEntry* entry) const
{
	if (entry == nullptr)
		return B_BAD_VALUE;
	if (fCStatus != B_OK)
		return fCStatus;
	if (fPath == "/")
		return B_ENTRY_NOT_FOUND;
	size_t slash = fPath.rfind('/');
	return entry->SetTo(slash == 0 ? "/" : fPath.substr(0, slash).c_str());
}

status_t BEntry::GetParent(BDirectory* dir) const
{
	if (dir == nullptr)
		return B_BAD_VALUE;
	BEntry parent;
	status_t status = GetParent(&parent);
	return status == B_OK ? dir->SetTo(&parent) : status;
}

status_t BEntry::GetName(char* buffer) const
{
	if (buffer == nullptr)
		return B_BAD_VALUE;
	if (fCStatus != B_OK)
		return fCStatus;
	std::string leaf = fPath == "/" ? "/" : fPath.substr(fPath.rfind('/') + 1);
	if (leaf.size() >= B_FILE_NAME_LENGTH)
		return B_NAME_TOO_LONG;
	memcpy(buffer, leaf.c_str(), leaf.size() + 1);
	return B_OK;
}

status_t BEntry::Remove()
{
	if (fCStatus != B_OK)
		return fCStatus;
	struct stat st;
	if (lstat(fPath.c_str(), &st) != 0)
		return status_from_errno(errno);
	int result = S_ISDIR(st.st_mode) ? rmdir(fPath.c_str()) : unlink(fPath.c_str());
	return result == 0 ? B_OK : status_from_errno(errno);
}
