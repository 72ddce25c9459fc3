// The document reader as a process of its own: tessary-reader reads the documents of a job
// into its spool file under limits on memory and processor time, while this side tells the
// driver, through a SpoolFeed, how far the file is whole, and tells the reader how far the
// driver has read, so that the spool never holds more than `ahead` pages the driver has not
// read.
//
// A reader that dies (a document poppler or libjpeg cannot take, a limit reached) or stops
// making progress ends the spooling with a reason in the user's words ("the PDF reader
// stopped: ..."); the process that started it carries on. A watcher thread reads the
// reader's messages and its standard error and reaps it; Join waits for it.
#pragma once

#include "DocumentError.h"
#include "MemorySpool.h"
#include "SpoolFeed.h"

#include <Message.h>

#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace frontend {

struct ReaderRequest {
	std::vector<std::string> documents;  // empty: the test page
	BMessage settings;                   // the job's settings, laid out as their page setup says
	std::string caption;                 // the test page's caption
	bool turnWidePages = true;
	std::string onlyKind;                // the one kind taken ("PDF"; document_kind's words);
	                                     // empty: any
	std::string spoolPath;               // the spool file the reader writes; empty: in memory
	int32 ahead = 1;                     // pages spooled that the driver has not read whole;
	                                     // 0: no limit
	int64 memoryMegabytes = 2048;        // the reader's address space
	int64 cpuSeconds = 600;              // the reader's processor time
	std::chrono::seconds stall{60};      // no message for this long while not waiting: stopped
	std::string program;                 // the reader to run; empty: the one built with this
};

class ReaderProcess {
public:
	ReaderProcess() = default;
	~ReaderProcess();
	ReaderProcess(const ReaderProcess&) = delete;
	ReaderProcess& operator=(const ReaderProcess&) = delete;

	// Called on the driver's thread each time the driver has read a page of the spool file
	// whole and begins to print it, with the page's index from 0. Set before Start.
	void ObserveDriver(std::function<void(size_t page)> observer)
	{
		fDriverObserver = std::move(observer);
	}

	// Starts the reader and waits until it has opened every document. False when it could not
	// be started (*error says why) or when a document cannot be read (Refused() then, and
	// Error() names it): nothing is spooled then, and the spool file is removed.
	bool Start(const ReaderRequest& request, std::string* error);

	bool Refused() const { return fRefused; }
	// The pages the spool file will hold.
	int32 PagesPlanned() const { return fPlanned; }
	// What the driver reads the spool file through; the reader is told how far it has got.
	SpoolFeed* Feed() { return &fFeed; }
	// Where the driver opens the spool file: the request's, or the one in memory.
	std::string SpoolPath() const;
	bool SpoolInMemory() const { return fSpool.IsOpen(); }
	// Frees what the driver has read of a spool in memory.
	void Discard(off_t from, off_t to) { fSpool.Discard(from, to); }
	// The most memory a spool in memory held as a page was finished.
	off_t LargestSpool() const;

	// Stops the reader: the spool ends where it is.
	void Abandon();
	// Lets the reader write the rest of the spool file however far the driver has got (for a
	// spool file kept after a job that ended early).
	void Release();
	// Waits until the reader has ended; the feed is finished then.
	void Join();

	// After Join.
	bool SpooledWhole() const { return fWhole; }
	bool Abandoned() const { return fAbandoned; }
	bool Failed() const { return !fWhole && !fAbandoned; }
	// The document that failed and why, when one did (or the reader that stopped).
	const DocumentError& Error() const { return fError; }
	int32 PagesSpooled() const { return fPages; }

private:
	void _Watch();
	void _Take(const std::string& line);
	void _Fail(int64 document, const std::string& reason);
	std::string _ReaderName(int64 document) const;
	void _DriverRead(size_t pages);
	void _RemoveFiles();

	ReaderRequest fRequest;
	MemorySpool fSpool;           // when the request names no spool file
	MemorySpool fSettings;        // the job's settings, for a spool in memory
	std::string fSettingsPath;
	off_t fLargestSpool = 0;
	pid_t fChild = -1;
	int fControl = -1;
	int fErrors = -1;
	std::thread fWatcher;
	SpoolFeed fFeed;
	std::function<void(size_t page)> fDriverObserver;

	mutable std::mutex fLock;
	std::condition_variable fChanged;
	bool fOpened = false;         // "planned" or "failed" came, or the reader ended
	bool fRefused = false;
	int32 fPlanned = 0;
	int32 fPages = 0;
	int64 fDriverPages = 0;       // the pages the driver has read whole
	bool fEnded = false;
	bool fWhole = false;
	std::atomic<bool> fAbandoned{false};
	DocumentError fError;
	std::vector<std::string> fKinds;  // of each document, as the reader said
	int64 fDocument = 0;              // the document being spooled
	std::string fLastError;           // the last line the reader wrote on standard error
};

}  // namespace frontend
