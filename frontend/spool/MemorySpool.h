// A spool file in memory: where a job's spool is only the hand-over between the writer of
// its pages and the driver, its pixels need not go through the disk. The file is an
// anonymous memory file that this process (and the processes it hands the descriptor to)
// open by Path(); nothing of it is left behind when the last of them closes it.
//
// What the driver has read can be given back with Discard, so that a job of any length
// holds no more than the pages between the driver and the writer.
#pragma once

#include <sys/types.h>

#include <string>

namespace frontend {

class MemorySpool {
public:
	MemorySpool() = default;
	~MemorySpool();
	MemorySpool(const MemorySpool&) = delete;
	MemorySpool& operator=(const MemorySpool&) = delete;

	// Makes the memory file; false with the reason when the system gives none.
	bool Create(std::string* error);
	bool IsOpen() const { return fFd >= 0; }

	// The descriptor, for a child process to inherit (it is closed on exec otherwise).
	int Descriptor() const { return fFd; }
	// The name that opens the file in this process.
	std::string Path() const;

	// Frees the memory of the bytes from `from` to `to`: they read as zeros from then on.
	void Discard(off_t from, off_t to);
	// Empties the file for the next job.
	bool Reset();

	// The memory the file holds now, in bytes.
	off_t Allocated() const;

private:
	int fFd = -1;
};

}  // namespace frontend
