// Telling document kinds apart: by their first bytes, with the file's name as a claim that
// is held to (a "report.pdf" that holds no PDF is refused with poppler's reason, not printed
// as text).
#include "Documents.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace frontend {

namespace {

enum class Kind { kPdf, kPng, kJpeg, kText, kUnknown };

std::string lower_extension(const std::string& path)
{
	size_t slash = path.find_last_of('/');
	size_t dot = path.find_last_of('.');
	if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
		return "";
	std::string extension = path.substr(dot + 1);
	std::transform(extension.begin(), extension.end(), extension.begin(),
		[](unsigned char c) { return static_cast<char>(tolower(c)); });
	return extension;
}

Kind kind_named(const std::string& path)
{
	std::string extension = lower_extension(path);
	if (extension == "pdf")
		return Kind::kPdf;
	if (extension == "png")
		return Kind::kPng;
	if (extension == "jpg" || extension == "jpeg")
		return Kind::kJpeg;
	return Kind::kUnknown;
}

Kind kind_of_contents(const std::string& head)
{
	// A PDF header may follow some bytes of junk; readers look for it in the first kilobyte.
	if (head.find("%PDF-") != std::string::npos)
		return Kind::kPdf;
	if (head.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0)
		return Kind::kPng;
	if (head.size() >= 3 && head.compare(0, 3, "\xff\xd8\xff") == 0)
		return Kind::kJpeg;
	return Kind::kText;
}

// The kind open_document reads a file as, from the first kilobyte of the open file.
Kind kind_of(const std::string& path, std::ifstream& file)
{
	char head[1024];
	file.read(head, sizeof(head));
	Kind kind = kind_of_contents(std::string(head, static_cast<size_t>(file.gcount())));
	Kind named = kind_named(path);
	return named != Kind::kUnknown ? named : kind;
}

}  // namespace

std::string document_kind(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	if (!file)
		return std::string();
	switch (kind_of(path, file)) {
		case Kind::kPdf: return "PDF";
		case Kind::kPng: return "PNG";
		case Kind::kJpeg: return "JPEG";
		default: return "text";
	}
}

std::unique_ptr<Document> open_document(const std::string& path, const PageSetup& setup,
	std::string* error)
{
	std::ifstream file(path, std::ios::binary);
	if (!file) {
		*error = std::string("cannot be opened: ") + strerror(errno);
		return nullptr;
	}
	Kind kind = kind_of(path, file);

	switch (kind) {
		case Kind::kPdf:
			return open_pdf(path, setup, error);
		case Kind::kPng:
			return open_png(path, setup, error);
		case Kind::kJpeg:
			return open_jpeg(path, setup, error);
		default:
			break;
	}

	file.clear();
	file.seekg(0);
	std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
	if (file.bad()) {
		*error = "cannot be read";
		return nullptr;
	}
	if (text.find('\0') != std::string::npos) {
		*error = "not a document the tool can print (PDF, PNG, JPEG or plain text)";
		return nullptr;
	}
	return open_text(text, setup);
}

}  // namespace frontend
