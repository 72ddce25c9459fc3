#include "MemorySpool.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace frontend {

namespace {

// Above the descriptors a child is given by number (its standard ones and the few a parent
// hands on at fixed places), so that handing it on is always a real dup2.
const int kLowestDescriptor = 10;

}  // namespace

MemorySpool::~MemorySpool()
{
	if (fFd >= 0)
		close(fFd);
}

bool MemorySpool::Create(std::string* error)
{
	int fd = memfd_create("tessary-spool", MFD_CLOEXEC);
	if (fd < 0) {
		*error = std::string("cannot make a spool in memory: ") + strerror(errno);
		return false;
	}
	fFd = fcntl(fd, F_DUPFD_CLOEXEC, kLowestDescriptor);
	int saved = errno;
	close(fd);
	if (fFd < 0) {
		*error = std::string("cannot make a spool in memory: ") + strerror(saved);
		return false;
	}
	return true;
}

std::string MemorySpool::Path() const
{
	return "/proc/self/fd/" + std::to_string(fFd);
}

void MemorySpool::Discard(off_t from, off_t to)
{
	// The block `from` falls in holds only bytes read before, given back already but kept
	// for the part of the block that had not been read then.
	static const off_t block = sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096;
	from -= from % block;
	if (fFd < 0 || to <= from)
		return;
	// Bytes already read: a file system that cannot free them keeps them, which costs memory
	// but nothing else.
	(void)fallocate(fFd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, from, to - from);
}

bool MemorySpool::Reset()
{
	return fFd >= 0 && ftruncate(fFd, 0) == 0;
}

off_t MemorySpool::Allocated() const
{
	struct stat info;
	if (fFd < 0 || fstat(fFd, &info) != 0)
		return 0;
	return static_cast<off_t>(info.st_blocks) * 512;
}

}  // namespace frontend
