// BDirectory: an open directory; creates files and folders in it and lists its entries
// ("." and ".." are never listed). Relative paths given to its methods are taken from
// the directory; absolute ones are used as they are.
#pragma once

#include <EntryList.h>
#include <Node.h>

#include <dirent.h>

class BFile;

class BDirectory : public BNode, public BEntryList {
public:
	BDirectory();
	BDirectory(const entry_ref* ref);
	BDirectory(const node_ref* nref);
	BDirectory(const BEntry* entry);
	BDirectory(const char* path);
	BDirectory(const BDirectory* dir, const char* path);
	BDirectory(const BDirectory& dir);
	~BDirectory() override;

	status_t SetTo(const entry_ref* ref);
	// Works for any node_ref that this process obtained from a node, as long as the
	// directory still exists; B_ENTRY_NOT_FOUND otherwise.
	status_t SetTo(const node_ref* nref);
	status_t SetTo(const BEntry* entry);
	status_t SetTo(const char* path);
	status_t SetTo(const BDirectory* dir, const char* path);
	void Unset();

	status_t GetEntry(BEntry* entry) const;
	bool IsRootDirectory() const;

	status_t FindEntry(const char* path, BEntry* entry, bool traverse = false) const;
	bool Contains(const char* path, int32 nodeFlags = B_ANY_NODE) const;
	bool Contains(const BEntry* entry, int32 nodeFlags = B_ANY_NODE) const;

	status_t GetNextEntry(BEntry* entry, bool traverse = false) override;
	status_t GetNextRef(entry_ref* ref) override;
	status_t Rewind() override;
	int32 CountEntries() override;

	status_t CreateFile(const char* path, BFile* file, bool failIfExists = false);
	status_t CreateDirectory(const char* path, BDirectory* dir);

	BDirectory& operator=(const BDirectory& dir);

private:
	status_t _NextName(std::string* name);
	void _CloseListing();

	DIR* fListing;
};

// Creates `path` and every missing folder above it.
status_t create_directory(const char* path, mode_t mode);
