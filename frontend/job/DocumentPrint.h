// Documents printed as the print server prints them, with the driver already at work while
// they are spooled: the spool file is written on a thread of its own (page k + 1 is drawn
// while page k goes to the printer) and the driver reads it as it grows, through a
// SpoolFeed. The stream is byte for byte what the finished spool file prints.
//
// SpoolingThread owns the thread, the writer and the feed, and their hand-over: the writer
// commits each whole page to the feed, the reader never reads past it, and a stop request
// (or a job the driver ended early) stops the spooling at the next page.
#pragma once

#include "JobAccount.h"
#include "Spool.h"
#include "SpoolFeed.h"
#include "SpoolPlan.h"

#include <Message.h>

#include <atomic>
#include <string>
#include <thread>

namespace frontend {

class DriverAddOn;

class SpoolingThread {
public:
	explicit SpoolingThread(SpoolPlan plan);
	~SpoolingThread();
	SpoolingThread(const SpoolingThread&) = delete;
	SpoolingThread& operator=(const SpoolingThread&) = delete;

	// Creates the spool file with its header and settings and starts spooling the plan's
	// pages into it (on the calling thread, before returning, when no thread can be had).
	bool Start(const std::string& path, const BMessage& settings, std::string* error);

	// What the driver reads the spool file through.
	const SpoolFeed* Feed() const { return &fFeed; }

	// Stops the spooling before its next page.
	void Abandon() { fAbandoned = true; }
	// Waits until the spooling has ended, whole or not.
	void Join();

	// After Join.
	bool SpooledWhole() const { return fWhole; }
	bool Abandoned() const { return fAbandoned; }
	// The document that failed, when one did (not for an abandoned spooling).
	const DocumentError& Error() const { return fError; }
	bool Failed() const { return !fWhole && !fAbandoned; }
	int32 PagesPlanned() const { return fPlanned; }
	int32 PagesSpooled() const { return fWriter.PageCount(); }

private:
	void _Spool();

	SpoolPlan fPlan;
	SpoolWriter fWriter;
	SpoolFeed fFeed;
	std::thread fThread;
	std::atomic<bool> fAbandoned{false};
	bool fWhole = false;
	int32 fPlanned = 0;
	DocumentError fError;
};

// A job of documents: where it prints and what it is called.
struct DocumentJob {
	std::string folder;     // the printer's folder
	std::string spoolPath;  // the spool file to write
	std::string jobName;
	BMessage settings;      // the job's settings: the spool file's copy
	bool progress = false;  // a bar on standard error while the driver prints
};

// How it went: the account of the driver and the transport (a document that failed while it
// was spooled is the account's fault, unless the driver or the transport failed first, or
// the user stopped the job), and how much of the job the spool file holds.
struct DocumentJobResult {
	JobAccount account;
	int32 pagesPlanned = 0;
	int32 pagesSpooled = 0;
	bool spooledWhole = false;
};

// Prints the plan. False with the reason only when the spool file or the printer's folder
// cannot be opened: nothing was printed, and no spool file is left.
bool print_documents(DriverAddOn* driver, SpoolPlan plan, const DocumentJob& job,
	DocumentJobResult* result, std::string* error);

}  // namespace frontend
