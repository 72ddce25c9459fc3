#include <Directory.h>
#include <Entry.h>
#include <Node.h>

#include "storage/StoragePrivate.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <mutex>
#include <sys/xattr.h>
#include <unistd.h>

using namespace storage_private;

// --- BStatable -------------------------------------------------------------

BStatable::~BStatable() = default;

namespace {

template <typename Check>
bool stat_says(const BStatable* object, Check check)
{
	struct stat st;
	return object->GetStat(&st) == B_OK && check(st.st_mode);
}

}  // namespace

bool BStatable::IsFile() const
{
	return stat_says(this, [](mode_t mode) { return S_ISREG(mode); });
}

bool BStatable::IsDirectory() const
{
	return stat_says(this, [](mode_t mode) { return S_ISDIR(mode); });
}

bool BStatable::IsSymLink() const
{
	return stat_says(this, [](mode_t mode) { return S_ISLNK(mode); });
}

status_t BStatable::GetNodeRef(node_ref* ref) const
{
	if (ref == nullptr)
		return B_BAD_VALUE;
	struct stat st;
	status_t status = GetStat(&st);
	if (status != B_OK)
		return status;
	ref->device = st.st_dev;
	ref->node = st.st_ino;
	std::string path = _CurrentPath();
	if (!path.empty())
		remember_node_path(*ref, path);
	return B_OK;
}

#define STAT_FIELD_GETTER(method, type, field) \
	status_t BStatable::method(type* value) const \
	{ \
		if (value == nullptr) \
			return B_BAD_VALUE; \
		struct stat st; \
		status_t status = GetStat(&st); \
		if (status == B_OK) \
			*value = st.field; \
		return status; \
	}

STAT_FIELD_GETTER(GetOwner, uid_t, st_uid)
STAT_FIELD_GETTER(GetGroup, gid_t, st_gid)
STAT_FIELD_GETTER(GetSize, off_t, st_size)
STAT_FIELD_GETTER(GetModificationTime, time_t, st_mtime)

#undef STAT_FIELD_GETTER

status_t BStatable::GetPermissions(mode_t* permissions) const
{
	if (permissions == nullptr)
		return B_BAD_VALUE;
	struct stat st;
	status_t status = GetStat(&st);
	if (status == B_OK)
		*permissions = st.st_mode & ~S_IFMT;
	return status;
}

// --- node tokens -----------------------------------------------------------

namespace {

struct TokenRegistry {
	std::mutex lock;
	std::map<int32, BNode*> nodes;
	int32 lastToken = 0;
};

TokenRegistry& token_registry()
{
	// Never destroyed: nodes may be deleted by other static destructors at exit.
	static TokenRegistry* registry = new TokenRegistry;
	return *registry;
}

// Lets ~BNode skip the lock in the usual case of a process that registers nothing.
std::atomic<int32> sLiveTokens{0};

void forget_tokens_of(BNode* node)
{
	if (sLiveTokens.load() == 0)
		return;
	TokenRegistry& registry = token_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	for (auto it = registry.nodes.begin(); it != registry.nodes.end();) {
		if (it->second == node) {
			it = registry.nodes.erase(it);
			sLiveTokens--;
		} else
			++it;
	}
}

}  // namespace

int32 register_node_token(BNode* node)
{
	if (node == nullptr)
		return B_BAD_VALUE;
	TokenRegistry& registry = token_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	if (registry.lastToken == std::numeric_limits<int32>::max())
		return B_NO_MEMORY;  // every token has been handed out once
	int32 token = ++registry.lastToken;
	registry.nodes[token] = node;
	sLiveTokens++;
	return token;
}

BNode* node_from_token(int32 token)
{
	TokenRegistry& registry = token_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	auto found = registry.nodes.find(token);
	return found == registry.nodes.end() ? nullptr : found->second;
}

void unregister_node_token(int32 token)
{
	TokenRegistry& registry = token_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	if (registry.nodes.erase(token) > 0)
		sLiveTokens--;
}

// --- BNode -----------------------------------------------------------------

BNode::BNode() : fFd(-1), fCStatus(B_NO_INIT), fAttrIndex(0), fAttrsListed(false) {}

BNode::BNode(const entry_ref* ref) : BNode() { SetTo(ref); }
BNode::BNode(const BEntry* entry) : BNode() { SetTo(entry); }
BNode::BNode(const char* path) : BNode() { SetTo(path); }
BNode::BNode(const BDirectory* dir, const char* path) : BNode() { SetTo(dir, path); }

BNode::BNode(const BNode& node) : BNode() { *this = node; }

BNode::~BNode()
{
	forget_tokens_of(this);
	Unset();
}

status_t BNode::InitCheck() const { return fCStatus; }

status_t BNode::GetStat(struct stat* st) const
{
	if (st == nullptr)
		return B_BAD_VALUE;
	if (fCStatus != B_OK)
		return fCStatus;
	return fstat(fFd, st) == 0 ? B_OK : status_from_errno(errno);
}

status_t BNode::SetTo(const entry_ref* ref)
{
	BEntry entry(ref);
	return SetTo(&entry);
}

status_t BNode::SetTo(const BEntry* entry)
{
	Unset();
	if (entry == nullptr)
		return fCStatus = B_BAD_VALUE;
	std::string path = entry->_CurrentPath();
	if (entry->InitCheck() != B_OK)
		return fCStatus = entry->InitCheck();
	return SetTo(path.c_str());
}

status_t BNode::SetTo(const char* path)
{
	return _Open(AT_FDCWD, path, O_RDONLY);
}

status_t BNode::SetTo(const BDirectory* dir, const char* path)
{
	if (dir == nullptr || dir->InitCheck() != B_OK) {
		Unset();
		return fCStatus = dir == nullptr ? B_BAD_VALUE : dir->InitCheck();
	}
	return _Open(_FdOf(dir), path, O_RDONLY);
}

status_t BNode::_Open(int dirFd, const char* path, int flags, mode_t mode)
{
	Unset();
	if (path == nullptr || path[0] == '\0')
		return fCStatus = B_BAD_VALUE;
	int fd = openat(dirFd, path, flags | O_CLOEXEC, mode);
	if (fd < 0)
		return fCStatus = status_from_errno(errno);
	_Adopt(fd);
	return B_OK;
}

void BNode::_Adopt(int fd)
{
	Unset();
	fFd = fd;
	fCStatus = fd >= 0 ? B_OK : B_NO_INIT;
}

void BNode::Unset()
{
	if (fFd >= 0)
		close(fFd);
	fFd = -1;
	fCStatus = B_NO_INIT;
	fAttrNames.clear();
	fAttrIndex = 0;
	fAttrsListed = false;
}

std::string BNode::_CurrentPath() const
{
	std::string path;
	return path_of_fd(fFd, &path) == B_OK ? path : std::string();
}

status_t BNode::Sync()
{
	if (fCStatus != B_OK)
		return fCStatus;
	return fsync(fFd) == 0 ? B_OK : status_from_errno(errno);
}

int BNode::Dup()
{
	return fFd >= 0 ? fcntl(fFd, F_DUPFD_CLOEXEC, 0) : -1;
}

BNode& BNode::operator=(const BNode& node)
{
	if (this == &node)
		return *this;
	Unset();
	if (node.fCStatus == B_OK) {
		int fd = fcntl(node.fFd, F_DUPFD_CLOEXEC, 0);
		if (fd < 0)
			fCStatus = status_from_errno(errno);
		else
			_Adopt(fd);
	}
	return *this;
}

bool BNode::operator==(const BNode& node) const
{
	if (fCStatus != B_OK || node.fCStatus != B_OK)
		return fCStatus == B_NO_INIT && node.fCStatus == B_NO_INIT;
	node_ref mine, theirs;
	return GetNodeRef(&mine) == B_OK && node.GetNodeRef(&theirs) == B_OK && mine == theirs;
}

// --- attributes ------------------------------------------------------------

namespace {

// Linux allows 255 bytes for a whole extended attribute name and 64 KiB for a value.
const char kAttrPrefix[] = "user.";
const size_t kAttrPrefixLength = sizeof(kAttrPrefix) - 1;
const size_t kMaxXattrName = 255;
const size_t kMaxXattrValue = 65536;
const size_t kTypeSize = 4;

status_t attr_status(int error)
{
	switch (error) {
		case ENOTSUP:
			return B_UNSUPPORTED;  // the file system keeps no user attributes
		case EPERM:
			return B_NOT_ALLOWED;  // e.g. a device node, which may not carry them
		case ENODATA:
			return B_ENTRY_NOT_FOUND;
		case ERANGE:
		case E2BIG:
			return B_BAD_VALUE;
		default:
			return status_from_errno(error);
	}
}

status_t xattr_name(const char* name, std::string* result)
{
	if (name == nullptr || name[0] == '\0')
		return B_BAD_VALUE;
	size_t length = strlen(name);
	if (length >= B_ATTR_NAME_LENGTH || kAttrPrefixLength + length > kMaxXattrName)
		return B_NAME_TOO_LONG;
	*result = std::string(kAttrPrefix) + name;
	return B_OK;
}

// The whole stored value: type code and bytes.
status_t read_xattr(int fd, const std::string& name, std::vector<uint8>* value)
{
	for (int attempt = 0; attempt < 8; attempt++) {
		ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
		if (size < 0)
			return attr_status(errno);
		value->resize(static_cast<size_t>(size));
		ssize_t read = fgetxattr(fd, name.c_str(), value->data(), value->size());
		if (read >= 0) {
			value->resize(static_cast<size_t>(read));
			if (value->size() < kTypeSize)
				return B_BAD_DATA;  // written by something that does not know the layout
			return B_OK;
		}
		if (errno != ERANGE)  // ERANGE: the value grew between the two calls
			return attr_status(errno);
	}
	return B_BUSY;
}

uint32 stored_type(const std::vector<uint8>& value)
{
	return (uint32(value[0]) << 24) | (uint32(value[1]) << 16) | (uint32(value[2]) << 8)
		| uint32(value[3]);
}

void store_type(std::vector<uint8>* value, uint32 type)
{
	(*value)[0] = uint8(type >> 24);
	(*value)[1] = uint8(type >> 16);
	(*value)[2] = uint8(type >> 8);
	(*value)[3] = uint8(type);
}

}  // namespace

ssize_t BNode::WriteAttr(const char* name, type_code type, off_t offset, const void* buffer,
	size_t length)
{
	if (fCStatus != B_OK)
		return fCStatus;
	std::string xname;
	status_t status = xattr_name(name, &xname);
	if (status != B_OK)
		return status;
	if (offset < 0 || (buffer == nullptr && length > 0))
		return B_BAD_VALUE;
	if (length > kMaxXattrValue || uint64(offset) > kMaxXattrValue - kTypeSize - length)
		return B_BAD_VALUE;  // more than any attribute can hold

	std::vector<uint8> value(kTypeSize);
	if (offset > 0) {
		status = read_xattr(fFd, xname, &value);
		// A value written by something else (B_BAD_DATA) is not ours to patch.
		if (status == B_ENTRY_NOT_FOUND)
			value.assign(kTypeSize, 0);
		else if (status != B_OK)
			return status;
	}
	size_t end = kTypeSize + size_t(offset) + length;
	if (value.size() < end)
		value.resize(end, 0);
	store_type(&value, type);
	if (length > 0)
		memcpy(value.data() + kTypeSize + offset, buffer, length);

	if (fsetxattr(fFd, xname.c_str(), value.data(), value.size(), 0) != 0)
		return attr_status(errno);
	fAttrsListed = false;
	return static_cast<ssize_t>(length);
}

ssize_t BNode::ReadAttr(const char* name, type_code, off_t offset, void* buffer,
	size_t length) const
{
	if (fCStatus != B_OK)
		return fCStatus;
	std::string xname;
	status_t status = xattr_name(name, &xname);
	if (status != B_OK)
		return status;
	if (offset < 0 || (buffer == nullptr && length > 0))
		return B_BAD_VALUE;
	std::vector<uint8> value;
	status = read_xattr(fFd, xname, &value);
	if (status != B_OK)
		return status;
	size_t dataSize = value.size() - kTypeSize;
	if (uint64(offset) >= dataSize)
		return 0;
	size_t count = min_c(length, dataSize - size_t(offset));
	if (count > 0)
		memcpy(buffer, value.data() + kTypeSize + offset, count);
	return static_cast<ssize_t>(count);
}

status_t BNode::RemoveAttr(const char* name)
{
	if (fCStatus != B_OK)
		return fCStatus;
	std::string xname;
	status_t status = xattr_name(name, &xname);
	if (status != B_OK)
		return status;
	if (fremovexattr(fFd, xname.c_str()) != 0)
		return attr_status(errno);
	fAttrsListed = false;
	return B_OK;
}

status_t BNode::GetAttrInfo(const char* name, attr_info* info) const
{
	if (fCStatus != B_OK)
		return fCStatus;
	if (info == nullptr)
		return B_BAD_VALUE;
	std::string xname;
	status_t status = xattr_name(name, &xname);
	if (status != B_OK)
		return status;
	std::vector<uint8> value;
	status = read_xattr(fFd, xname, &value);
	if (status != B_OK)
		return status;
	info->type = stored_type(value);
	info->size = static_cast<off_t>(value.size() - kTypeSize);
	return B_OK;
}

status_t BNode::GetNextAttrName(char* buffer)
{
	if (buffer == nullptr)
		return B_BAD_VALUE;
	if (fCStatus != B_OK)
		return fCStatus;
	if (!fAttrsListed) {
		ssize_t size = flistxattr(fFd, nullptr, 0);
		if (size < 0)
			return attr_status(errno);
		std::vector<char> names(static_cast<size_t>(size) + 1, '\0');
		size = flistxattr(fFd, names.data(), names.size() - 1);
		if (size < 0)
			return attr_status(errno);
		fAttrNames.clear();
		for (size_t at = 0; at < size_t(size); at += strlen(names.data() + at) + 1) {
			const char* item = names.data() + at;
			if (strncmp(item, kAttrPrefix, kAttrPrefixLength) == 0)
				fAttrNames.emplace_back(item + kAttrPrefixLength);
		}
		fAttrsListed = true;
	}
	if (fAttrIndex >= fAttrNames.size())
		return B_ENTRY_NOT_FOUND;
	const std::string& next = fAttrNames[fAttrIndex++];
	size_t count = min_c(next.size(), size_t(B_ATTR_NAME_LENGTH - 1));
	memcpy(buffer, next.data(), count);
	buffer[count] = '\0';
	return B_OK;
}

status_t BNode::RewindAttrs()
{
	if (fCStatus != B_OK)
		return fCStatus;
	fAttrsListed = false;
	fAttrIndex = 0;
	return B_OK;
}
