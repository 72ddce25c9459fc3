// What every transport add-on shares: how a job begins (the printer folder named by the open
// message, the last job's record cleared, the folder's address read) and a stream that
// counts the bytes delivered and keeps the first error, for the transport's record
// (TransportOutcome.h).
#pragma once

#include "TransportOutcome.h"

#include <DataIO.h>
#include <Message.h>
#include <Node.h>

#include <string>

// The printer folder's path from the transport's open message ("printer_file").
std::string printer_folder_of(const BMessage* openMessage);

// What every transport does first: opens the printer folder named by the open message,
// clears the outcome of the last job, and reads the folder's "transport_address".
bool begin_job(const BMessage* openMessage, BNode* folder, std::string* folderPath,
	std::string* address);

// A transport's stream: keeps the byte count and the first error; once a write failed, every
// further write fails at once and nothing more reaches the destination.
class TransportStream : public BDataIO {
public:
	TransportStream() = default;
	~TransportStream() override = default;

	ssize_t Write(const void* buffer, size_t size) final;

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

private:
	int64 fBytes = 0;
	std::string fError;
};
