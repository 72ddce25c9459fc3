// entry_ref and BEntry: a name in a directory. A BEntry may name something that does
// not exist (yet); its directory must exist. It keeps the absolute path of the entry with
// the directory part resolved (no ".", "..", or symbolic links in it).
#pragma once

#include <Statable.h>
#include <StorageDefs.h>

#include <string>

class BDirectory;
class BPath;

struct entry_ref {
	entry_ref();
	entry_ref(dev_t device, ino_t directory, const char* name);
	entry_ref(const entry_ref& ref);
	~entry_ref();

	status_t set_name(const char* name);

	bool operator==(const entry_ref& ref) const;
	bool operator!=(const entry_ref& ref) const { return !(*this == ref); }
	entry_ref& operator=(const entry_ref& ref);

	dev_t device;
	ino_t directory;
	char* name;  // owned
};

class BEntry : public BStatable {
public:
	BEntry();
	BEntry(const BDirectory* dir, const char* path, bool traverse = false);
	BEntry(const entry_ref* ref, bool traverse = false);
	BEntry(const char* path, bool traverse = false);
	BEntry(const BEntry& entry);
	~BEntry() override;

	status_t InitCheck() const;
	bool Exists() const;
	status_t GetStat(struct stat* st) const override;

	status_t SetTo(const BDirectory* dir, const char* path, bool traverse = false);
	status_t SetTo(const entry_ref* ref, bool traverse = false);
	status_t SetTo(const char* path, bool traverse = false);
	void Unset();

	status_t GetRef(entry_ref* ref) const;
	status_t GetPath(BPath* path) const;
	status_t GetParent(BEntry* entry) const;
	status_t GetParent(BDirectory* dir) const;
	// `buffer` must hold B_FILE_NAME_LENGTH bytes.
	status_t GetName(char* buffer) const;

	// Removes the file, link or empty directory; the object keeps naming the entry.
	status_t Remove();

	BEntry& operator=(const BEntry& entry);
	bool operator==(const BEntry& entry) const;
	bool operator!=(const BEntry& entry) const { return !(*this == entry); }

protected:
	std::string _CurrentPath() const override;

private:
	friend class BNode;
	friend class BPath;

	std::string fPath;
	status_t fCStatus;
};

status_t get_ref_for_path(const char* path, entry_ref* ref);
