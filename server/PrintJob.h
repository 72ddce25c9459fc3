// A job of the print tool, as the print server runs one: the printer's settings (with the job
// setup confirmed first when a page setup dropped its fields), the documents spooled into the
// printer's folder while the driver prints them, and the account of the driver and the
// transport in the user's words.
#pragma once

#include "SetupCommands.h"

#include <SupportDefs.h>

#include <string>
#include <vector>

namespace server {

struct PrintRequest {
	std::string printer;
	std::vector<std::string> documents;  // empty: the built-in test page
	std::string existingSpool;           // print this spool file as it is
	bool keepSpool = false;
	bool progress = false;               // a progress bar on standard error
	bool turnWidePages = true;           // turn wide pages on portrait paper
	std::string jobName;                 // empty: the first document's file name

	// A page setup and a job setup of this job alone, worked through the driver's dialogs on
	// a copy of the printer's settings (their printer is the request's); the stored
	// settings stay as they are. Not for a spool file, which carries its own settings.
	bool ownPageSetup = false;
	PageSetupRequest page;
	bool ownJobSetup = false;
	JobSetupRequest job;
};

struct PrintOutcome {
	int32 pages = 0;                     // pages the driver sent whole
	int64 bytes = 0;
	std::string destination;
	bool interrupted = false;            // the job stopped at the caller's request
	bool refused = false;                // a value of the request was refused (usage error)
	std::vector<std::string> notes;      // things the user should be told
};

// Prints the request; true only when the driver sent every page and the transport delivered
// every byte. Otherwise *error is one line in the user's words (and outcome->interrupted says
// whether a stop request ended the job). A spool file the tool wrote is then kept where
// printing it again could print the job (not when it holds only some of the job's pages, nor
// when the driver refused its settings), as "unprinted-TIME-PID.spool" in the printer's
// folder beside at most four older ones (together at most 1 GB; the oldest go first), and
// the notes name it and the command that retries it.
bool print_job(const PrintRequest& request, PrintOutcome* outcome, std::string* error);

}  // namespace server
