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
// The File transport writes to FIFOs and devices the same way (DescriptorStream.h).

#include "DescriptorStream.h"

#include <JobOutcome.h>

#include <Message.h>
#include <Node.h>

#include <climits>
#include <fcntl.h>
#include <string>

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

// The caller's descriptor, written through the shared stream that never blocks
// (DescriptorStream.h).
class PipeStream : public DescriptorStream {
public:
	explicit PipeStream(int fd) : DescriptorStream(fd) {}

protected:
	std::string DescribeError(int error) const override
	{
		return "cannot write to " + describe_descriptor(Descriptor()) + ": " + Reason(error);
	}
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
