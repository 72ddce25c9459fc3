// BNode: an open file system node (file, directory or symbolic link target) and its
// attributes. The node keeps one file descriptor; a BNode is not shared between threads
// without the caller's own locking.
//
// Attributes are Linux extended attributes in the "user." name space: the attribute
// "Comments" is the extended attribute "user.Comments". Its value is the attribute's
// type code as four bytes, most significant first, followed by the attribute's bytes.
// Keeping the type inside the one value makes every write atomic and leaves no companion
// attribute that could fall out of step or collide with a user's name; and because every
// type code is four printable letters, `getfattr -d` still shows a string attribute as
// readable text: user.Comments="CSTRTessary printer".
#pragma once

#include <Statable.h>
#include <StorageDefs.h>
#include <fs_attr.h>

#include <string>
#include <sys/types.h>
#include <vector>

class BDirectory;
class BEntry;
struct entry_ref;

struct node_ref {
	node_ref() : device(-1), node(-1) {}
	node_ref(dev_t device_, ino_t node_) : device(device_), node(node_) {}

	bool operator==(const node_ref& other) const
	{
		return device == other.device && node == other.node;
	}
	bool operator!=(const node_ref& other) const { return !(*this == other); }
	bool operator<(const node_ref& other) const
	{
		return device != other.device ? device < other.device : node < other.node;
	}

	dev_t device;
	ino_t node;
};

class BNode : public BStatable {
public:
	BNode();
	BNode(const entry_ref* ref);
	BNode(const BEntry* entry);
	BNode(const char* path);
	BNode(const BDirectory* dir, const char* path);
	BNode(const BNode& node);
	~BNode() override;

	status_t InitCheck() const;
	status_t GetStat(struct stat* st) const override;

	status_t SetTo(const entry_ref* ref);
	status_t SetTo(const BEntry* entry);
	status_t SetTo(const char* path);
	status_t SetTo(const BDirectory* dir, const char* path);
	void Unset();

	status_t Sync();

	// Both return the number of bytes moved or a negative status. WriteAttr at offset 0
	// replaces the whole value; at a larger offset it keeps the bytes before it and fills
	// a gap with zeros. ReadAttr ignores `type`, as the platform does, and returns the
	// bytes that fit into `length`. A file system that refuses user attributes gives
	// B_UNSUPPORTED, a node kind that may not carry them (a device) B_NOT_ALLOWED.
	ssize_t WriteAttr(const char* name, type_code type, off_t offset, const void* buffer,
		size_t length);
	ssize_t ReadAttr(const char* name, type_code type, off_t offset, void* buffer,
		size_t length) const;
	status_t RemoveAttr(const char* name);
	status_t GetAttrInfo(const char* name, attr_info* info) const;

	// Walks the attribute names (without the "user." prefix); `buffer` must hold
	// B_ATTR_NAME_LENGTH bytes. B_ENTRY_NOT_FOUND after the last one.
	status_t GetNextAttrName(char* buffer);
	status_t RewindAttrs();

	// A new descriptor on the node, owned by the caller; -1 when uninitialised.
	int Dup();

	BNode& operator=(const BNode& node);
	bool operator==(const BNode& node) const;
	bool operator!=(const BNode& node) const { return !(*this == node); }

protected:
	// Opens `path` (relative to `dirFd` when that is not AT_FDCWD) with host open flags.
	status_t _Open(int dirFd, const char* path, int flags, mode_t mode = 0);
	void _Adopt(int fd);
	static int _FdOf(const BNode* node) { return node->fFd; }
	std::string _CurrentPath() const override;

	int fFd;
	status_t fCStatus;

private:
	std::vector<std::string> fAttrNames;
	size_t fAttrIndex;
	bool fAttrsListed;
};

// Node tokens. The platform's print server hands a driver "its node object" by storing
// the object's address in an int32 settings field, which cannot hold a pointer here.
// These calls replace that habit: the server registers the node and stores the token;
// the driver turns the token back into the node.
//
// register_node_token returns a new positive token (never 0, never reused in the
// process), or a negative status. node_from_token returns NULL for an unknown token.
// A BNode that is destroyed drops its tokens, so a token never leads to a dead object.
// All three are thread-safe.
int32 register_node_token(BNode* node);
BNode* node_from_token(int32 token);
void unregister_node_token(int32 token);
