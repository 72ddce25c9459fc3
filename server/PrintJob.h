// Printing a job as the print server does: documents to a spool file in the printer's
// folder, take_job on it, and the transport's outcome reported to the user.
#pragma once

#include <Message.h>

#include <functional>
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
};

struct PrintOutcome {
	int32 pages = 0;                     // pages the driver sent whole
	int64 bytes = 0;
	std::string destination;
	bool interrupted = false;            // the job stopped at the caller's request
	std::vector<std::string> notes;      // things the user should be told
};

// Writes the spool file for documents with the given settings, laid out as its page setup
// says; pages outside the settings' page range ("first_page" to "last_page") of each
// document are left out. No documents: the test page. A document that cannot be read
// refuses the whole job and leaves no spool file. `stopped`, when given, is asked before each
// page: true ends the spool there, as a failure, and leaves no spool file.
bool write_spool(const std::string& path, const std::vector<std::string>& documents,
	const BMessage& settings, const std::string& caption, int32* pages, std::string* error,
	bool turnWidePages = true, const std::function<bool()>& stopped = nullptr);

// Prints the request; true only when the driver sent every page and the transport delivered
// every byte. Otherwise *error is one line in the user's words (and outcome->interrupted says
// whether a stop request ended the job); a spool file the tool wrote is then kept, and named
// in the notes.
bool print_job(const PrintRequest& request, PrintOutcome* outcome, std::string* error);

}  // namespace server
