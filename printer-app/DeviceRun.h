// Jobs through the driver itself. A finished spool file goes to the driver's take_job; the
// printer's folder names the "Pipe" transport, which writes the driver's stream into a pipe
// whose write end this side opened; a thread of ours copies what comes out of the pipe to
// the PAPPL device, unchanged, and asks the driver to stop when the job is cancelled.
//
// The driver prints one job at a time in a process (its job values and the stop request are
// process-wide), while PAPPL runs the jobs of several printers at once: print_spool holds
// one lock for the whole of a job's time in the driver.
#pragma once

#include "JobAccount.h"

#include <Message.h>

#include <pappl/pappl.h>

#include <string>

namespace printer_app {

// What became of a job, as the application tells PAPPL.
struct DriverOutcome {
	bool printed = false;     // every page sent whole and every byte on the device
	bool cancelled = false;   // stopped at the job's cancel
	int32 pagesSent = 0;      // pages the driver sent whole, copies as sheets included
	std::string message;      // job-state-message: what happened, in the user's words
	pappl_jreason_t reasons = PAPPL_JREASON_NONE;  // job-state-reasons to add
};

// What the copying thread saw of the device.
struct DeviceFeed {
	int64 bytes = 0;          // bytes the device took
	std::string error;        // the first failure, empty when every byte went through
};

// Weighs the account of the driver and the transport and the device's side of a job into
// one outcome.
DriverOutcome judge_job(const JobAccount& account, const DeviceFeed& feed, bool cancelled);

// The outcome of a job refused before it reached the driver (an unreadable document, a page
// that cannot be drawn), with the reason it is shown with.
DriverOutcome refused_job(const std::string& message, pappl_jreason_t reason);

// The outcome of a job cancelled before it reached the driver.
DriverOutcome cancelled_job(int32 pagesSpooled);

// Prints the spool file through the driver to the device. `settings` are those the spool was
// written with; the printer's token is added here.
DriverOutcome print_spool(pappl_job_t* job, pappl_device_t* device,
	const std::string& spoolPath, const BMessage& settings);

// Tells PAPPL: the message and reasons on the job, and the sheets printed as its impressions
// unless PAPPL counts them itself. The result is what a PAPPL job callback returns: true only
// for a job printed whole.
bool finish_job(pappl_job_t* job, const DriverOutcome& outcome, bool countImpressions = true);

// A spool file in PAPPL's spool folder, named after the job, removed when it goes out of
// scope whatever became of the job.
class JobSpoolFile {
public:
	explicit JobSpoolFile(pappl_job_t* job);
	~JobSpoolFile();
	JobSpoolFile(const JobSpoolFile&) = delete;
	JobSpoolFile& operator=(const JobSpoolFile&) = delete;

	// Empty when no file could be made.
	const std::string& Path() const { return fPath; }

private:
	std::string fPath;
};

}  // namespace printer_app
