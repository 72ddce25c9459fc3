// What a transport tells the print server about a job: the bytes it delivered and the first
// error, kept as attributes of the printer's folder so the server can read them after
// take_job has returned.
//
//   "transport:bytes"        int64   bytes the destination accepted
//   "transport:error"        string  the first error, empty when the job was delivered
//   "transport:destination"  string  where the bytes went (a path or host:port)
//   "transport:untouched"    bool    the destination is as it was before the job: none of
//                                    its bytes reached it (a File printer's file that a job
//                                    which did not print whole left in place); absent: false
//
// The transports write these (record_outcome); the print server, the CUPS filter and the
// printer application read them (read_transport_outcome).
#pragma once

#include <Node.h>

#include <string>

extern const char* const kTransportBytesAttr;
extern const char* const kTransportErrorAttr;
extern const char* const kTransportDestinationAttr;
extern const char* const kTransportUntouchedAttr;
extern const char* const kJobNameAttr;           // "transport:job_name", set by the print server

// Reads a string attribute; empty when absent.
std::string read_string_attr(BNode& node, const char* name);

// Removes what an earlier job recorded, so a job that never reaches the transport cannot be
// mistaken for a success.
void clear_outcome(BNode& folder);

// Records a job's outcome on the printer folder.
status_t record_outcome(BNode& folder, int64 bytes, const std::string& error,
	const std::string& destination, bool untouched = false);

// A transport's record as read back.
struct TransportReport {
	int64 bytes = 0;
	std::string error;        // empty: every byte was delivered
	std::string destination;
	bool untouched = false;   // the destination was left as it was
};

// False when the folder holds no transport record (the job never reached a transport).
bool read_transport_outcome(BNode& folder, TransportReport* report);
