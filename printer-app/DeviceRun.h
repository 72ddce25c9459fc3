// Jobs of the printer application, each in a worker process of its own (tessary-job): the
// driver's engine state is process-wide, so a process per job lets printers print side by
// side and keeps a job that dies from taking the server with it. The worker writes the
// driver's stream to a pipe; a thread of ours copies it to the PAPPL device unchanged, while
// another watches the job: a cancel stops the worker at the driver's next band (SIGTERM),
// and ends it (SIGKILL) when it has not stopped two seconds later.
//
// One printer prints one job at a time, in the order the jobs came. PAPPL 1.3.1 starts the
// newest of a printer's waiting jobs first, may start a job while the last one is still
// ending (it clears its printer's job before it closes the device they share) or a streamed
// raster job beside a waiting one, and may run one job twice. So:
// - when a job ends, the printer's waiting jobs but the oldest are held, and the oldest is the
//   one PAPPL starts next (a timer does the same for a printer left idle);
// - every job holds its printer's turn from its first callback to its last, the oldest
//   waiting first;
// - every job writes to a device connection of its own (Devices.h);
// - a job that is run a second time is answered with its first run's outcome without
//   touching the device.
#pragma once

#include "JobAccount.h"

#include <Message.h>

#include <pappl/pappl.h>

#include <memory>
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

// Tells PAPPL: the message and reasons on the job, and the sheets printed as its impressions
// unless PAPPL counts them itself. The result is what a PAPPL job callback returns: true only
// for a job printed whole.
bool finish_job(pappl_job_t* job, const DriverOutcome& outcome, bool countImpressions = true);

// A job's turn on its printer, from its first callback to its last. Waits while another job
// of the printer holds it. A job that already ran (PAPPL started it twice) does not get the
// turn: Repeated() is true and Outcome() its first run's outcome.
class PrinterTurn {
public:
	explicit PrinterTurn(pappl_job_t* job);
	~PrinterTurn();
	PrinterTurn(const PrinterTurn&) = delete;
	PrinterTurn& operator=(const PrinterTurn&) = delete;

	bool Repeated() const { return fRepeated; }
	const DriverOutcome& Outcome() const { return fOutcome; }
	// Kept as the job's outcome, for a second run of the job.
	void Done(const DriverOutcome& outcome) { fOutcome = outcome; }

private:
	pappl_job_t* fJob;
	int fPrinter;
	int fJobId;
	bool fRepeated = false;
	DriverOutcome fOutcome;
};

// A timer callback of the system (every second): a printer that prints nothing while jobs
// are held for their turn gets its oldest one started.
bool queue_waiting_jobs(pappl_system_t* system, void* data);

// A job in its worker process.
class JobProcess {
public:
	JobProcess(pappl_job_t* job, pappl_device_t* device);
	~JobProcess();
	JobProcess(const JobProcess&) = delete;
	JobProcess& operator=(const JobProcess&) = delete;

	// What the job prints: a document the document reader reads (PDF, JPEG, PNG), raster pages
	// written to RasterInput(), or the driver's test page.
	enum class Input { kDocument, kRaster, kTestPage };

	// Starts the worker; `document` is the document's path for Input::kDocument.
	bool Start(const BMessage& settings, Input input, const std::string& document,
		std::string* error);

	// The worker's standard input, for CUPS raster; -1 when it takes a document.
	int RasterInput() const { return fRasterInput; }

	// Ends the raster input, waits until the worker has ended and its stream is on the
	// device, and weighs the job.
	DriverOutcome Finish();

private:
	struct State;
	std::unique_ptr<State> fState;
	int fRasterInput = -1;
};

}  // namespace printer_app
