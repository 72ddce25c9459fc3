// How a job went once the driver and the transport have both had their say, as data: which
// side failed first, both records as they were read, and the document that failed while it
// was spooled. Every way in weighs the two records here and words the account for its own
// audience (the print tool's one line, the CUPS filter's ERROR: line, IPP's job state and
// message); none reads another's sentence back.
#pragma once

#include "JobOutcome.h"
#include "TransportOutcome.h"

#include <string>

class BMessage;

struct JobAccount {
	enum class Fault {
		none,         // every page sent whole, every byte delivered
		no_record,    // the driver left no record
		transport,    // the transport's stream failed (or it could not open: "no_transport")
		driver,       // the driver stopped early, for the reason its record gives
		no_delivery,  // the driver completed, but the transport left no record
		document,     // a document failed while it was spooled: `file` and `reason`
	};
	Fault fault = Fault::none;
	bool recorded = false;     // the driver's record could be read: `job`
	JobOutcome job;
	bool delivered = false;    // the transport's record could be read: `delivery`
	TransportReport delivery;
	std::string file;          // the document that failed, as the caller names it to its user
	std::string reason;        // why the document failed, in its reader's words

	bool Printed() const { return fault == Fault::none; }
	// The job never began sending: refused, or no transport to send to.
	bool NothingSent() const;
};

// Weighs the records. `recorded` / `delivered`: whether the driver's / the transport's record
// could be read. A job the driver's record calls interrupted is accounted as such whatever
// the transport's record says: a transport that lets go of a stopped job says so too.
JobAccount account_for_job(bool recorded, const JobOutcome& job, bool delivered,
	const TransportReport& delivery);

// Marks the account of a job whose spooling stopped at a document that failed: unless the
// driver stopped for another reason first (interrupted, no transport) or the transport failed,
// the document's failure is the job's.
void account_for_document(JobAccount* account, const std::string& file,
	const std::string& reason);

// The account as a message, for a process that reports a job it ran to another (the printer
// application's job processes), and back: false for a message that holds no account.
void account_to_message(const JobAccount& account, BMessage* message);
bool account_from_message(const BMessage& message, JobAccount* account);

// How far the job got: "printed 3 pages", "printed 2 of 3 pages", "not printed", "the job
// failed after 4096 bytes", "interrupted after 12 of 500 copies". A job whose destination the
// transport left as it was printed nothing: "not printed", "interrupted: not printed".
std::string account_head(const JobAccount& account);
// Why it did not print whole, without the head: "the spool file ends inside page 3",
// "connection reset by the printer", "report.pdf: damaged PNG image"; empty when it printed.
std::string account_reason(const JobAccount& account);
// Head and reason in one line, without a final stop; a destination left as it was is said
// so: "not printed: the spool file ends inside page 3 (2 whole pages were not written to
// /home/me/out.pcl, which is as it was)".
std::string describe_account(const JobAccount& account);
