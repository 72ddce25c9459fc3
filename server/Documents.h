// Turning documents into pages of pictures, recorded through a BView as an application
// records what it prints: the built-in test page, PNG and JPEG images fitted to the page,
// and plain text set in the fixed font.
#pragma once

#include "Spool.h"

#include <functional>
#include <string>

namespace server {

// Called once per finished page, in order; returning false stops the document.
typedef std::function<bool(SpooledPage& page, std::string* error)> PageSink;

struct PageFormat {
	BRect paper;            // in page units of 1/75 inch
	std::string caption;    // a line for the test page (printer, resolution...)
};

bool record_test_page(const PageFormat& format, const PageSink& sink, std::string* error);

// Detects the kind of the file (PNG, JPEG or text) and records its pages.
bool record_document(const std::string& path, const PageFormat& format, const PageSink& sink,
	std::string* error);

bool record_text(const std::string& text, const std::string& title, const PageFormat& format,
	const PageSink& sink, std::string* error);

}  // namespace server
