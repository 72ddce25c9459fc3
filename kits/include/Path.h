// BPath: an absolute path name. Relative input is taken from the current folder.
// Unless asked to normalise, BPath only joins: Append("a/../b") stores exactly that.
// Normalising resolves ".", "..", repeated slashes and symbolic links in the folder part
// and needs that folder to exist; the leaf itself need not exist.
#pragma once

#include <StorageDefs.h>

#include <string>

class BDirectory;
class BEntry;
struct entry_ref;

class BPath {
public:
	BPath();
	BPath(const BPath& path);
	BPath(const entry_ref* ref);
	BPath(const BEntry* entry);
	BPath(const char* dir, const char* leaf = nullptr, bool normalize = false);
	BPath(const BDirectory* dir, const char* leaf, bool normalize = false);
	~BPath();

	status_t InitCheck() const;

	status_t SetTo(const entry_ref* ref);
	status_t SetTo(const BEntry* entry);
	status_t SetTo(const char* path, const char* leaf = nullptr, bool normalize = false);
	status_t SetTo(const BDirectory* dir, const char* leaf = nullptr, bool normalize = false);
	void Unset();

	// `path` must be relative (B_BAD_VALUE otherwise).
	status_t Append(const char* path, bool normalize = false);

	const char* Path() const;  // NULL when uninitialised
	const char* Leaf() const;  // "" for "/"
	status_t GetParent(BPath* path) const;

	bool operator==(const BPath& item) const;
	bool operator==(const char* path) const;
	bool operator!=(const BPath& item) const { return !(*this == item); }
	bool operator!=(const char* path) const { return !(*this == path); }
	BPath& operator=(const BPath& item);
	BPath& operator=(const char* path);

private:
	std::string fName;
	status_t fCStatus;
};
