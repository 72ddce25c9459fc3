// Documents the ways in print: the built-in test page, plain text, PNG and JPEG images and
// PDF. Each kind lives in its own file behind this one interface: a document, opened for a
// page setup, yields its pages one at a time, recorded as pictures into a PageSink, laid out
// on the paper by Layout. Adding a kind is adding a file and a line to open_document.
//
// The kinds give their reasons alone ("cannot be read as a PDF (...)"); which file it was is
// the caller's to say, in the words its user knows the document by (DocumentError).
#pragma once

#include "DocumentError.h"
#include "Layout.h"
#include "Spool.h"

#include <memory>
#include <string>

namespace frontend {

class Document {
public:
	virtual ~Document() = default;

	// Pages of the document as laid out for the page setup it was opened with.
	virtual int32 CountPages() const = 0;
	// Records page `index` (0-based) into the sink.
	virtual bool RecordPage(int32 index, PageSink* sink, std::string* error) = 0;
};

// Opens a file for printing, of the kind its contents say, whatever its name says: a PDF
// named "report.txt" prints as a PDF, notes named "notes.pdf" as text. A file of no kind the
// tool reads (empty, or bytes that are not text) is refused, and its name is mentioned when
// it claims a kind ("..., though its name says JPEG").
std::unique_ptr<Document> open_document(const std::string& path, const PageSetup& setup,
	std::string* error);

// The kind open_document reads a file as: "PDF", "PNG", "JPEG" or "text"; empty for a file
// that cannot be opened.
std::string document_kind(const std::string& path);

// The kinds, for open_document and the tests.
std::unique_ptr<Document> open_test_page(const PageSetup& setup, const std::string& caption);
std::unique_ptr<Document> open_text(const std::string& text, const PageSetup& setup);
std::unique_ptr<Document> open_png(const std::string& path, const PageSetup& setup,
	std::string* error);
std::unique_ptr<Document> open_jpeg(const std::string& path, const PageSetup& setup,
	std::string* error);
std::unique_ptr<Document> open_pdf(const std::string& path, const PageSetup& setup,
	std::string* error);

}  // namespace frontend
