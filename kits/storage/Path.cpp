#include <Directory.h>
#include <Entry.h>
#include <Path.h>

#include "storage/StoragePrivate.h"

#include <cstring>

using namespace storage_private;

BPath::BPath() : fCStatus(B_NO_INIT) {}
BPath::BPath(const BPath& path) : fName(path.fName), fCStatus(path.fCStatus) {}
BPath::BPath(const entry_ref* ref) : BPath() { SetTo(ref); }
BPath::BPath(const BEntry* entry) : BPath() { SetTo(entry); }

BPath::BPath(const char* dir, const char* leaf, bool normalize) : BPath()
{
	SetTo(dir, leaf, normalize);
}

BPath::BPath(const BDirectory* dir, const char* leaf, bool normalize) : BPath()
{
	SetTo(dir, leaf, normalize);
}

BPath::~BPath() = default;

status_t BPath::InitCheck() const { return fCStatus; }

void BPath::Unset()
{
	fName.clear();
	fCStatus = B_NO_INIT;
}

status_t BPath::SetTo(const char* path, const char* leaf, bool normalize)
{
	if (path == nullptr || path[0] == '\0' || (leaf != nullptr && leaf[0] == '/')) {
		Unset();
		return fCStatus = B_BAD_VALUE;
	}
	// `leaf` may point into our own name (Append(Leaf())): copy before changing anything.
	std::string joined = leaf != nullptr ? join_path(path, leaf) : std::string(path);
	std::string result;
	status_t status = normalize ? normalize_path(joined.c_str(), &result)
								: absolute_path(joined.c_str(), &result);
	if (status == B_OK && result.size() >= B_PATH_NAME_LENGTH)
		status = B_NAME_TOO_LONG;
	if (status != B_OK) {
		Unset();
		return fCStatus = status;
	}
	// A trailing slash adds nothing to a path name and would make Leaf() empty.
	while (result.size() > 1 && result.back() == '/')
		result.pop_back();
	fName = result;
	return fCStatus = B_OK;
}

status_t BPath::SetTo(const BDirectory* dir, const char* leaf, bool normalize)
{
	if (dir == nullptr || (leaf != nullptr && leaf[0] == '/')) {
		Unset();
		return fCStatus = B_BAD_VALUE;
	}
	BEntry entry;
	status_t status = dir->GetEntry(&entry);
	if (status != B_OK) {
		Unset();
		return fCStatus = status;
	}
	std::string dirPath = entry._CurrentPath();
	return SetTo(dirPath.c_str(), leaf, normalize);
}

status_t BPath::SetTo(const BEntry* entry)
{
	if (entry == nullptr || entry->InitCheck() != B_OK) {
		Unset();
		return fCStatus = entry == nullptr ? B_BAD_VALUE : entry->InitCheck();
	}
	std::string path = entry->_CurrentPath();
	return SetTo(path.c_str());
}

status_t BPath::SetTo(const entry_ref* ref)
{
	BEntry entry(ref);
	return SetTo(&entry);
}

status_t BPath::Append(const char* path, bool normalize)
{
	if (fCStatus != B_OK)
		return fCStatus;
	if (path != nullptr && path[0] == '/')
		return B_BAD_VALUE;
	if ((path == nullptr || path[0] == '\0') && !normalize)
		return B_OK;
	std::string current = fName;
	return SetTo(current.c_str(), path, normalize);
}

const char* BPath::Path() const
{
	return fCStatus == B_OK ? fName.c_str() : nullptr;
}

const char* BPath::Leaf() const
{
	if (fCStatus != B_OK)
		return nullptr;
	return fName.c_str() + fName.rfind('/') + 1;
}

status_t BPath::GetParent(BPath* path) const
{
	if (path == nullptr)
		return B_BAD_VALUE;
	if (fCStatus != B_OK)
		return fCStatus;
	if (fName == "/")
		return B_ENTRY_NOT_FOUND;
	size_t slash = fName.rfind('/');
	return path->SetTo(slash == 0 ? "/" : fName.substr(0, slash).c_str());
}

bool BPath::operator==(const BPath& item) const
{
	if (fCStatus != B_OK || item.fCStatus != B_OK)
		return fCStatus != B_OK && item.fCStatus != B_OK;
	return fName == item.fName;
}

bool BPath::operator==(const char* path) const
{
	const char* mine = Path();
	if (mine == nullptr || path == nullptr)
		return mine == path;
	return strcmp(mine, path) == 0;
}

BPath& BPath::operator=(const BPath& item)
{
	fName = item.fName;
	fCStatus = item.fCStatus;
	return *this;
}

BPath& BPath::operator=(const char* path)
{
	if (path == nullptr)
		Unset();
	else
		SetTo(path);
	return *this;
}
