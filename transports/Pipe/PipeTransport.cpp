// The "Pipe" transport: the job goes straight to an open file descriptor of the process, the
// one named by the printer folder's "transport_address" attribute as a decimal number, or
// standard output (1) when the attribute is missing or empty. It is how a program that
// drives the driver from inside a pipeline (a CUPS filter, a printer application) takes the
// stream: the descriptor belongs to the caller, so the transport never closes it.
//
// A pipe cannot be replaced as a whole the way the File transport replaces its file: the bytes
// are written through as the driver sends them, what is held is flushed when the job ends,
// and a write that fails (the reader went away, the disk behind it is full) is recorded as the
// job's error and ends the delivery. A reader that went away must not kill the process with
// SIGPIPE: every write runs with SIGPIPE blocked on the writing thread, and the signal that
// write raised is taken back before it is unblocked. Once a caller has asked the job to stop,
// what is still held is dropped rather than sent: a stopped job sends nothing more.
//
// A reader that takes nothing must not hold a stopped job for ever, and a signal that asks
// for the stop may reach any thread of the process, not the one blocked in write(2). So no
// write blocks: the transport waits for room in slices of kStopCheckMs, looking at the stop
// request between them, and hands a pipe only what it takes at once (its whole size when it
// is empty, PIPE_BUF bytes otherwise; a pipe with room takes that many without waiting).

#include "TransportStream.h"

#include <JobOutcome.h>

#include <Message.h>
#include <Node.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int kStandardOutput = 1;

std::string describe_descriptor(int fd)
{
	return fd == kStandardOutput ? std::string("standard output")
		: "file descriptor " + std::to_string(fd);
}

// The descriptor named by the address: digits only, and a number a descriptor can have.
bool parse_descriptor(const std::string& address, int* fd)
{
	if (address.empty()) {
		*fd = kStandardOutput;
		return true;
	}
	if (address.size() > 9 || address.find_first_not_of("0123456789") != std::string::npos)
		return false;
	long value = std::stol(address);
	if (value > INT_MAX)
		return false;
	*fd = static_cast<int>(value);
	return true;
}

// One write(2) with SIGPIPE held off this thread. A SIGPIPE that the write raised is taken
// back before the mask is restored; one that was pending already is left to its owner.
ssize_t write_without_sigpipe(int fd, const void* buffer, size_t size)
{
	sigset_t pipeSet;
	sigemptyset(&pipeSet);
	sigaddset(&pipeSet, SIGPIPE);
	sigset_t previous;
	pthread_sigmask(SIG_BLOCK, &pipeSet, &previous);
	sigset_t pending;
	sigpending(&pending);
	bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;

	ssize_t written = write(fd, buffer, size);
	int error = errno;
	if (written < 0 && error == EPIPE && !pendingBefore) {
		const struct timespec now = {0, 0};
		while (sigtimedwait(&pipeSet, nullptr, &now) < 0 && errno == EINTR) {
		}
	}
	pthread_sigmask(SIG_SETMASK, &previous, nullptr);
	errno = error;
	return written;
}

class PipeStream : public TransportStream {
public:
	explicit PipeStream(int fd)
		:
		fFd(fd)
	{
		struct stat status;
		fKind = fstat(fd, &status) != 0 ? Kind::other
			: S_ISREG(status.st_mode) || S_ISBLK(status.st_mode) ? Kind::file
			: S_ISFIFO(status.st_mode) ? Kind::pipe : Kind::other;
		int capacity = fKind == Kind::pipe ? fcntl(fd, F_GETPIPE_SZ) : -1;
		fPipeSize = capacity > 0 ? static_cast<size_t>(capacity) : PIPE_BUF;
	}

	// Ends the job: what is held goes out, unless the job was asked to stop. The descriptor
	// stays open; it is the caller's.
	void Finish()
	{
		if (!job_stop_requested())
			Flush();
	}

protected:
	ssize_t WriteSome(const void* buffer, size_t size) override
	{
		for (;;) {
			if (wait_for_descriptor(fFd, POLLOUT)) {
				ssize_t written = write_without_sigpipe(fFd, buffer,
					std::min(size, _TakenAtOnce()));
				if (written >= 0 || (errno != EAGAIN && errno != EINTR))
					return written;
			}
			if (job_stop_requested()) {
				errno = ECANCELED;
				return -1;
			}
		}
	}

	std::string DescribeError(int error) const override
	{
		std::string reason = error == EPIPE ? "broken pipe (nothing reads it any more)"
			: error == ECANCELED ? "the job was stopped while it took no bytes"
			: strerror(error);
		return "cannot write to " + describe_descriptor(fFd) + ": " + reason;
	}

private:
	enum class Kind { file, pipe, other };

	// The most a write may hand over once the descriptor has room, without blocking: a file
	// takes everything; a pipe takes PIPE_BUF bytes into a free buffer, and its whole size
	// when nothing is in it; anything else (a socket, a terminal) PIPE_BUF too.
	size_t _TakenAtOnce() const
	{
		if (fKind == Kind::file)
			return SIZE_MAX;
		int queued = 0;
		if (fKind == Kind::pipe && ioctl(fFd, FIONREAD, &queued) == 0 && queued == 0)
			return fPipeSize;
		return PIPE_BUF;
	}

	int fFd;
	Kind fKind;
	size_t fPipeSize;  // bytes an empty pipe takes
};

typedef TransportJob<PipeStream> PipeJob;

PipeJob* sJob = nullptr;

// Why the descriptor cannot take the job, or empty when it can.
std::string check_descriptor(int fd)
{
	int flags = fcntl(fd, F_GETFL);
	if (flags < 0)
		return describe_descriptor(fd) + " is not open";
	if ((flags & O_ACCMODE) == O_RDONLY)
		return describe_descriptor(fd) + " is not open for writing";
	return std::string();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) BDataIO* init_transport(BMessage* message,
	BMessage* /*reply*/)
{
	std::string folderPath;
	std::string address;
	if (!start_job(sJob, message, &folderPath, &address))
		return nullptr;
	int fd = -1;
	std::string failure;
	if (!parse_descriptor(address, &fd)) {
		failure = "the Pipe transport's address \"" + address
			+ "\" is not a file descriptor number";
	} else {
		sJob->destination = describe_descriptor(fd);
		failure = check_descriptor(fd);
	}
	if (!failure.empty())
		return refuse_job(sJob, failure);
	sJob->stream = new PipeStream(fd);
	return sJob->stream;
}

extern "C" __attribute__((visibility("default"))) void exit_transport()
{
	finish_job(sJob);
}
