#include "DescriptorStream.h"

#include <JobOutcome.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

}  // namespace

DescriptorStream::DescriptorStream(int fd)
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

void DescriptorStream::Finish()
{
	if (!job_stop_requested())
		Flush();
}

ssize_t DescriptorStream::WriteSome(const void* buffer, size_t size)
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

std::string DescriptorStream::Reason(int error)
{
	return error == EPIPE ? "broken pipe (nothing reads it any more)"
		: error == ECANCELED ? "the job was stopped while it took no bytes"
		: strerror(error);
}

// A file takes everything; a pipe takes PIPE_BUF bytes into a free buffer, and its whole size
// when nothing is in it; anything else (a device, a socket, a terminal) PIPE_BUF too.
size_t DescriptorStream::_TakenAtOnce() const
{
	if (fKind == Kind::file)
		return SIZE_MAX;
	int queued = 0;
	if (fKind == Kind::pipe && ioctl(fFd, FIONREAD, &queued) == 0 && queued == 0)
		return fPipeSize;
	return PIPE_BUF;
}
