// Telling document kinds apart: by their first bytes alone. A file's name says nothing about
// how it is read ("report.txt" holding a PDF prints as the PDF); it is named in the error only
// when the contents are of no kind the tool reads, where the name may explain what the user
// expected.
#include "Documents.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace frontend {

namespace {

enum class Kind { kPdf, kPng, kJpeg, kText, kEmpty };

const char* const kKindsRead = "PDF, PNG, JPEG or plain text";

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

// The kind a file's name claims, for errors: "PDF", "PNG", "JPEG", "plain text" or empty.
std::string kind_named(const std::string& path)
{
	std::string extension = lower_extension(path);
	if (extension == "pdf")
		return "PDF";
	if (extension == "png")
		return "PNG";
	if (extension == "jpg" || extension == "jpeg")
		return "JPEG";
	if (extension == "txt" || extension == "text")
		return "plain text";
	return std::string();
}

Kind kind_of_contents(const std::string& head)
{
	if (head.empty())
		return Kind::kEmpty;
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
Kind kind_of(std::ifstream& file)
{
	char head[1024];
	file.read(head, sizeof(head));
	return kind_of_contents(std::string(head, static_cast<size_t>(file.gcount())));
}

// Why a file of no kind the tool reads is refused: what it holds, and what its name claimed.
std::string no_kind(const std::string& path, const std::string& holds)
{
	std::string named = kind_named(path);
	if (named.empty())
		return holds;
	return holds + ", though its name says " + named;
}

}  // namespace

std::string document_kind(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	if (!file)
		return std::string();
	switch (kind_of(file)) {
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
	switch (kind_of(file)) {
		case Kind::kPdf:
			return open_pdf(path, setup, error);
		case Kind::kPng:
			return open_png(path, setup, error);
		case Kind::kJpeg:
			return open_jpeg(path, setup, error);
		case Kind::kEmpty:
			if (file.bad()) {
				*error = "cannot be read";
				return nullptr;
			}
			*error = no_kind(path, "the file is empty");
			return nullptr;
		case Kind::kText:
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
		*error = no_kind(path, std::string("not a document the tool can print (") + kKindsRead
			+ ")");
		return nullptr;
	}
	return open_text(text, setup);
}

}  // namespace frontend
