// Documents printed as the print server prints them, with the driver already at work while
// they are read: the document reader, a process of its own (ReaderProcess.h), writes the
// spool file page by page (page k + 1 is drawn while page k goes to the printer) and the
// driver reads it as it grows. The stream is byte for byte what the finished spool file
// prints.
#pragma once

#include "JobAccount.h"
#include "ReaderProcess.h"

#include <Message.h>

#include <functional>
#include <string>

namespace frontend {

class DriverAddOn;

// A job of documents: where it prints and what it is called.
struct DocumentJob {
	std::string folder;     // the printer's folder
	std::string jobName;
	bool progress = false;  // a bar on standard error while the driver prints
	bool keepWhole = true;  // a job that ends early still lets the reader finish the spool file
	// Called on the driver's thread (the caller's) as the driver begins each page of the
	// spool file, with its index from 0, once a page; the pages before
	// it have been sent whole.
	std::function<void(int32 page)> pageBegun;
};

// How it went: the account of the driver and the transport (a document that failed while it
// was spooled is the account's fault, unless the driver or the transport failed first, or
// the user stopped the job), and how much of the job the spool file holds. A job refused
// because a document cannot be read did not reach the driver: `refused` says which and why.
struct DocumentJobResult {
	bool refused = false;
	DocumentError refusal;
	JobAccount account;
	int32 pagesPlanned = 0;
	int32 pagesSpooled = 0;
	bool spooledWhole = false;
	off_t largestSpool = 0;  // of a spool in memory: the most it held, in bytes
};

// Prints the documents of `reading` (its settings are the job's) through the driver. False
// with the reason only when the reader or the printer's folder cannot be had: nothing was
// printed, and no spool file is left. A request that names no spool file spools in memory:
// the pages the driver has read are freed as it goes, so the spool holds the page being
// printed and the one being read, however long the job.
bool print_documents(DriverAddOn* driver, const ReaderRequest& reading, const DocumentJob& job,
	DocumentJobResult* result, std::string* error);

// Writes the spool file of `reading` through the reader, with no driver waiting for it. False
// with the document that failed, or the reason the reader could not be had (file empty).
bool spool_documents(const ReaderRequest& reading, int32* pages, DocumentError* error);

}  // namespace frontend
