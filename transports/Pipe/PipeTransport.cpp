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

#include "TransportStream.h"

#include <JobOutcome.h>

#include <Message.h>
#include <Node.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string>
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
	explicit PipeStream(int fd) : fFd(fd) {}

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
			ssize_t written = write_without_sigpipe(fFd, buffer, size);
			if (written < 0 && errno == EINTR && job_stop_requested()) {
				// A reader that takes nothing must not hold a stopped job for ever.
				errno = ECANCELED;
				return -1;
			}
			if (written >= 0 || errno != EAGAIN)
				return written;
			// A descriptor in non-blocking mode: wait until it takes bytes again.
			struct pollfd poller = {fFd, POLLOUT, 0};
			if (poll(&poller, 1, -1) < 0 && errno != EINTR)
				return -1;
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
	int fFd;
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
