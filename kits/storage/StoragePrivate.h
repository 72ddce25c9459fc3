// Helpers shared by the storage kit's classes; not part of the public API.
#pragma once

#include <Node.h>

#include <string>

namespace storage_private {

// Prefixes the current folder to a relative path; nothing else changes.
status_t absolute_path(const char* path, std::string* result);

// An absolute path with the folder part resolved (".", "..", "//", symbolic links);
// the folder must exist, the leaf need not. "x/.." and "x/." resolve completely.
status_t normalize_path(const char* path, std::string* result);

// Joins two path parts with exactly one '/' between them.
std::string join_path(const std::string& dir, const std::string& leaf);

// Where an open descriptor's node is now.
status_t path_of_fd(int fd, std::string* result);

// Where a node that this process has seen can be found now: a descriptor this process
// holds on it, or the last path it was seen under (checked to be the same node still).
status_t path_of_node_ref(const node_ref& ref, std::string* result);
void remember_node_path(const node_ref& ref, const std::string& path);

}  // namespace storage_private
