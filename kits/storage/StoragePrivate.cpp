#include "storage/StoragePrivate.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace storage_private {

status_t absolute_path(const char* path, std::string* result)
{
	if (path == nullptr || path[0] == '\0')
		return B_BAD_VALUE;
	if (path[0] == '/') {
		*result = path;
		return B_OK;
	}
	char cwd[PATH_MAX];
	if (getcwd(cwd, sizeof(cwd)) == nullptr)
		return status_from_errno(errno);
	*result = join_path(cwd, path);
	return B_OK;
}

std::string join_path(const std::string& dir, const std::string& leaf)
{
	if (dir.empty())
		return leaf;
	if (leaf.empty())
		return dir;
	bool dirSlash = dir.back() == '/';
	bool leafSlash = leaf.front() == '/';
	if (dirSlash && leafSlash)
		return dir + leaf.substr(1);
	if (dirSlash || leafSlash)
		return dir + leaf;
	return dir + "/" + leaf;
}

status_t normalize_path(const char* path, std::string* result)
{
	std::string absolute;
	status_t status = absolute_path(path, &absolute);
	if (status != B_OK)
		return status;

	// Split off the leaf, ignoring trailing slashes.
	while (absolute.size() > 1 && absolute.back() == '/')
		absolute.pop_back();
	size_t slash = absolute.rfind('/');
	std::string dir = slash == 0 ? std::string("/") : absolute.substr(0, slash);
	std::string leaf = absolute.substr(slash + 1);

	// "." and ".." as the leaf name the folder itself or its parent: resolve all of it.
	bool whole = leaf.empty() || leaf == "." || leaf == "..";
	const std::string& toResolve = whole ? absolute : dir;
	char resolved[PATH_MAX];
	if (realpath(toResolve.c_str(), resolved) == nullptr)
		return status_from_errno(errno);
	if (whole) {
		*result = resolved;
		return B_OK;
	}
	struct stat st;
	if (stat(resolved, &st) != 0)
		return status_from_errno(errno);
	if (!S_ISDIR(st.st_mode))
		return B_NOT_A_DIRECTORY;
	if (leaf.size() >= B_FILE_NAME_LENGTH)
		return B_NAME_TOO_LONG;
	*result = join_path(resolved, leaf);
	return B_OK;
}

status_t path_of_fd(int fd, std::string* result)
{
	if (fd < 0)
		return B_NO_INIT;
	std::string link = "/proc/self/fd/" + std::to_string(fd);
	char buffer[PATH_MAX];
	ssize_t length = readlink(link.c_str(), buffer, sizeof(buffer) - 1);
	if (length < 0)
		return status_from_errno(errno);
	buffer[length] = '\0';
	// A removed node reads back as "/old/path (deleted)": it has no path any more.
	if (buffer[0] != '/')
		return B_ENTRY_NOT_FOUND;
	struct stat byFd, byPath;
	if (fstat(fd, &byFd) != 0 || stat(buffer, &byPath) != 0 || byFd.st_dev != byPath.st_dev
		|| byFd.st_ino != byPath.st_ino)
		return B_ENTRY_NOT_FOUND;
	*result = buffer;
	return B_OK;
}

namespace {

// The last few paths each handed-out node_ref was seen under, most recent first.
// Bounded: they only help to reach nodes that no open descriptor points at any more.
const size_t kMaxRememberedNodes = 4096;
const size_t kPathsPerNode = 4;

std::mutex& paths_lock()
{
	static std::mutex* lock = new std::mutex;
	return *lock;
}

std::map<node_ref, std::vector<std::string>>& remembered_paths()
{
	static auto* paths = new std::map<node_ref, std::vector<std::string>>;
	return *paths;
}

bool same_node(const std::string& path, const node_ref& ref)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 && st.st_dev == ref.device && st.st_ino == ref.node;
}

}  // namespace

void remember_node_path(const node_ref& ref, const std::string& path)
{
	std::lock_guard<std::mutex> guard(paths_lock());
	auto& nodes = remembered_paths();
	if (nodes.size() >= kMaxRememberedNodes && nodes.find(ref) == nodes.end())
		nodes.clear();
	std::vector<std::string>& paths = nodes[ref];
	paths.erase(std::remove(paths.begin(), paths.end(), path), paths.end());
	paths.insert(paths.begin(), path);
	if (paths.size() > kPathsPerNode)
		paths.resize(kPathsPerNode);
}

status_t path_of_node_ref(const node_ref& ref, std::string* result)
{
	// First the descriptors this process holds: they follow renames.
	if (DIR* fds = opendir("/proc/self/fd")) {
		int own = dirfd(fds);
		while (struct dirent* item = readdir(fds)) {
			char* end;
			long fd = strtol(item->d_name, &end, 10);
			if (*end != '\0' || end == item->d_name || fd == own)
				continue;
			struct stat st;
			if (fstat(static_cast<int>(fd), &st) != 0 || st.st_dev != ref.device
				|| st.st_ino != ref.node)
				continue;
			std::string path;
			if (path_of_fd(static_cast<int>(fd), &path) == B_OK) {
				closedir(fds);
				*result = path;
				return B_OK;
			}
		}
		closedir(fds);
	}

	std::lock_guard<std::mutex> guard(paths_lock());
	auto found = remembered_paths().find(ref);
	if (found == remembered_paths().end())
		return B_ENTRY_NOT_FOUND;
	for (const std::string& path : found->second) {
		if (same_node(path, ref)) {
			*result = path;
			return B_OK;
		}
	}
	return B_ENTRY_NOT_FOUND;
}

}  // namespace storage_private
