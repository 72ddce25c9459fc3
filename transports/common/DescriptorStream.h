// A transport stream to a descriptor that may stop taking bytes (a pipe, a FIFO, a printer's
// device node, a terminal): no write blocks, so that a stop request ends a job whose reader
// takes nothing, whichever thread the signal reached. The stream waits for room in slices of
// kStopCheckMs, looking at the stop request between them, and hands a pipe only what it takes
// at once (its whole size when it is empty, PIPE_BUF bytes otherwise). A reader that went
// away gives EPIPE, never SIGPIPE: every write runs with the signal blocked on the writing
// thread, and the signal that write raised is taken back before it is unblocked.
//
// The descriptor is not closed here: the Pipe transport's belongs to its caller, the File
// transport closes the device it opened itself.
#pragma once

#include "TransportStream.h"

#include <cstddef>

class DescriptorStream : public TransportStream {
public:
	explicit DescriptorStream(int fd);

	// Ends the job: what is held goes out, unless the job was asked to stop, in which case a
	// stopped job sends nothing more.
	void Finish();

	int Descriptor() const { return fFd; }

protected:
	ssize_t WriteSome(const void* buffer, size_t size) override;

	// "broken pipe (nothing reads it any more)", "the job was stopped while it took no
	// bytes", or the system's words.
	static std::string Reason(int error);

private:
	enum class Kind { file, pipe, other };

	// The most a write may hand over once the descriptor has room, without blocking.
	size_t _TakenAtOnce() const;

	int fFd;
	Kind fKind;
	size_t fPipeSize;  // bytes an empty pipe takes
};
