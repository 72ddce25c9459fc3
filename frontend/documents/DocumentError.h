// Why a document could not be printed: which one, and the reason in its reader's words. The
// document kinds give the reason alone; the file is named by the caller, in the words its user
// knows the document by.
#pragma once

#include <string>

namespace frontend {

// Why a document could not be printed.
struct DocumentError {
	std::string file;    // the document, as the caller named it; empty when the reason says
	std::string reason;  // in its reader's words

	// "report.pdf: cannot be read as a PDF (...)"
	std::string InWords() const { return file.empty() ? reason : file + ": " + reason; }
};

}  // namespace frontend
