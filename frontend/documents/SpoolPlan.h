// The documents of a job on their way into a spool file: every document opened for the
// job's page setup before a page is written (one that cannot be read refuses the whole job),
// then the pages the settings' page range picks ("first_page" to "last_page" of each
// document), recorded one after the other into a spool writer.
#pragma once

#include "Documents.h"

#include <Message.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace frontend {

// Told of the spooling as it goes, page by page.
class SpoolProgress {
public:
	virtual ~SpoolProgress() = default;
	// Before each page, with the index of its document: false stops the spooling there.
	virtual bool BeforePage(size_t document) = 0;
	// After each whole page: the file is whole up to `end`; the page began at `start`.
	virtual void PageWritten(off_t end, off_t start) = 0;
};

class SpoolPlan {
public:
	SpoolPlan() = default;
	SpoolPlan(SpoolPlan&&) = default;
	SpoolPlan& operator=(SpoolPlan&&) = default;

	// Opens the documents (no documents: the test page, with `caption` on it) for the page
	// setup of `settings`. False with the document that failed and why.
	bool Open(const std::vector<std::string>& documents, const BMessage& settings,
		const std::string& caption, bool turnWidePages, DocumentError* error);

	// Pages the plan puts into the spool file.
	int32 Pages() const;

	// Records the planned pages into the writer, telling `progress` (when given) of each
	// page. Each document is let go once its pages are written. False with the document that
	// failed (or "stopped after N pages" when the progress stopped it).
	bool SpoolPages(SpoolWriter* writer, SpoolProgress* progress, DocumentError* error);

private:
	// Pages of document `index` that go into the spool file: [*first, *end).
	void _Range(size_t index, int32* first, int32* end) const;

	std::vector<std::unique_ptr<Document>> fDocuments;
	std::vector<std::string> fNames;  // as the caller gave them, for its errors
	int32 fFirstPage = 1;
	int32 fLastPage = -1;
};

// Writes the spool file of documents with the given settings in one go, laid out as its
// page setup says. No documents: the test page. A document that cannot be read refuses the
// whole job and leaves no spool file. `stopped`, when given, is asked before each page: true
// ends the spool there, as a failure, and leaves no spool file.
bool write_spool(const std::string& path, const std::vector<std::string>& documents,
	const BMessage& settings, const std::string& caption, int32* pages, DocumentError* error,
	bool turnWidePages = true, const std::function<bool()>& stopped = nullptr);

}  // namespace frontend
