// What a transport tells the print tool about a job: the bytes it delivered and the first
// error, kept as attributes of the printer's folder so the tool can read them after the job
// (the driver itself reports nothing).
//
//   "transport:bytes"        int64   bytes the destination accepted
//   "transport:error"        string  the first error, empty when the job was delivered
//   "transport:destination"  string  where the bytes went (a path or host:port)
#pragma once

#include <DataIO.h>
#include <Message.h>
#include <Node.h>

#include <string>

extern const char* const kTransportBytesAttr;
extern const char* const kTransportErrorAttr;
extern const char* const kTransportDestinationAttr;
extern const char* const kTransportAddressAttr;  // "transport_address", set by the print tool
extern const char* const kJobNameAttr;           // "transport:job_name", set by the print tool

// Reads a string attribute; empty when absent.
std::string read_string_attr(BNode& node, const char* name);

// Removes what an earlier job recorded, so a job that never reaches the transport cannot be
// mistaken for a success.
void clear_outcome(BNode& folder);

// Records a job's outcome on the printer folder.
status_t record_outcome(BNode& folder, int64 bytes, const std::string& error,
	const std::string& destination);

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
