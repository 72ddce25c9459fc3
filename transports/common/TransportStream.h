// What every transport add-on shares: how a job begins (the printer folder named by the open
// message, the last job's record cleared, the folder's address read) and a stream that
// counts the bytes delivered and keeps the first error, for the transport's record
// (TransportOutcome.h).
#pragma once

#include "TransportOutcome.h"

#include <DataIO.h>
#include <Message.h>
#include <Node.h>

#include <memory>
#include <string>

// The printer folder's path from the transport's open message ("printer_file").
std::string printer_folder_of(const BMessage* openMessage);

// What every transport does first: opens the printer folder named by the open message,
// clears the outcome of the last job, and reads the folder's "transport_address".
bool begin_job(const BMessage* openMessage, BNode* folder, std::string* folderPath,
	std::string* address);

// How long a transport waits on its destination at most before it looks at the stop request
// (job_stop_requested) again: a job asked to stop must not stay behind a printer that takes
// nothing, and the print tool promises to end within two seconds.
inline constexpr int kStopCheckMs = 200;

// Waits up to kStopCheckMs for `events` on `fd`: true when they came, false when the time
// ran out or a signal came first (the caller looks at the stop request and waits again).
// A poll that fails otherwise counts as ready, so that the next call meets the error itself.
bool wait_for_descriptor(int fd, short events);

// A transport's stream: keeps the byte count and the first error; once a write failed, every
// further write fails at once and nothing more reaches the destination.
//
// The driver writes 1 KB blocks; they are gathered here and handed to the destination in
// chunks of kChunkSize, so a page costs a few dozen system calls rather than thousands. The
// bytes and their order are the same. What is held is written by Flush, which every
// transport calls when the job ends, whether it ended well or not; an error that a held chunk
// meets shows at the next Write or at Flush.
class TransportStream : public BDataIO {
public:
	static constexpr size_t kChunkSize = 64 * 1024;

	TransportStream();
	~TransportStream() override = default;

	ssize_t Write(const void* buffer, size_t size) final;
	// Writes what is held; B_IO_ERROR (with the error kept) when it did not all get through.
	status_t Flush() override;

	int64 BytesDelivered() const { return fBytes; }
	const std::string& FirstError() const { return fError; }
	void SetError(const std::string& error)
	{
		if (fError.empty())
			fError = error;
	}

protected:
	// One write(2)-like attempt: the bytes taken, or -1 with errno set.
	virtual ssize_t WriteSome(const void* buffer, size_t size) = 0;
	// The first error as the user reads it.
	virtual std::string DescribeError(int error) const = 0;
	// Bytes written to the stream and not yet handed to the destination.
	size_t Held() const { return fHeld; }
	// For a WriteSome that fails for a reason of its own rather than an errno: keeps `error`
	// as the first error, with the bytes the destination took by then, which a stream that
	// can see them (a socket's unacknowledged bytes) knows better than the bytes it handed on.
	// WriteSome then returns -1; its errno is not described.
	void SetFailure(int64 delivered, const std::string& error)
	{
		if (!fError.empty())
			return;
		fError = error;
		fBytes = delivered;
	}

private:
	// Hands bytes to WriteSome until all are taken or one attempt fails.
	bool _WriteAll(const char* bytes, size_t size);

	std::unique_ptr<char[]> fChunk;
	size_t fHeld = 0;
	int64 fBytes = 0;
	std::string fError;
};

// The job of a transport add-on, one at a time: the printer folder, the stream the driver
// writes, and where its bytes go. A transport may add what it needs of its own.
template <class Stream>
struct TransportJob {
	BNode folder;
	Stream* stream = nullptr;
	std::string destination;
};

// Replaces the job before with a new one and begins it (begin_job); false, with no job left,
// when the printer folder cannot be opened.
template <class Job>
bool start_job(Job*& job, const BMessage* openMessage, std::string* folderPath,
	std::string* address)
{
	delete job;
	job = new Job;
	if (begin_job(openMessage, &job->folder, folderPath, address))
		return true;
	delete job;
	job = nullptr;
	return false;
}

// Ends a job that could not open its destination: the record says why. What init_transport
// returns then.
template <class Job>
BDataIO* refuse_job(Job*& job, const std::string& failure)
{
	record_outcome(job->folder, 0, failure, job->destination);
	delete job;
	job = nullptr;
	return nullptr;
}

// Ends a job whose stream has only a last Finish to do, recording what it delivered. What
// exit_transport does for such a transport.
template <class Job>
void finish_job(Job*& job)
{
	if (job == nullptr)
		return;
	job->stream->Finish();
	record_outcome(job->folder, job->stream->BytesDelivered(), job->stream->FirstError(),
		job->destination);
	delete job->stream;
	delete job;
	job = nullptr;
}
