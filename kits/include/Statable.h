// BStatable: what every file system object (a node or an entry) can say about itself
// through stat(). Subclasses supply GetStat(); the rest is derived from it.
#pragma once

#include <SupportDefs.h>

#include <string>
#include <sys/stat.h>

struct node_ref;

class BStatable {
public:
	virtual ~BStatable();

	virtual status_t GetStat(struct stat* st) const = 0;

	bool IsFile() const;
	bool IsDirectory() const;
	bool IsSymLink() const;

	// Also remembers where the node was found, so that a BDirectory can later be opened
	// from the node_ref alone (the host cannot open a node by its device and inode).
	status_t GetNodeRef(node_ref* ref) const;

	status_t GetOwner(uid_t* owner) const;
	status_t GetGroup(gid_t* group) const;
	status_t GetPermissions(mode_t* permissions) const;
	virtual status_t GetSize(off_t* size) const;
	status_t GetModificationTime(time_t* mtime) const;

protected:
	// The absolute path the object can be reached under now; empty when unknown.
	virtual std::string _CurrentPath() const = 0;
};
