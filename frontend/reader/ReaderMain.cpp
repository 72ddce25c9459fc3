// tessary-reader: reads documents into a spool file, in a process of its own, for the print
// tool, the CUPS filter or the printer application that started it. Everything that parses a
// document from outside (poppler, libpng, libjpeg) runs here, under limits on memory and
// processor time, so that a hostile document can end this process and nothing else.
//
//	tessary-reader --settings FILE --spool FILE --control FD [--caption TEXT] [--no-rotate]
//		[--only KIND] [--ahead PAGES] [--memory MB] [--cpu SECONDS] [--parent PID] [DOCUMENT...]
//
// The settings are a flattened settings message; no documents: the test page. The control
// socket carries ReaderProtocol.h's messages: the reader tells how far the spool file is whole
// after each page, and with --ahead it writes no more than that many pages beyond those the
// driver has read, waiting for the parent's "read" messages. Exit status 0 when the spool
// file is complete, 1 when a document failed (and said so), 2 for a command line or set-up
// that does not work.
#include "DeviceModel.h"
#include "ReaderProtocol.h"
#include "Spool.h"
#include "SpoolPlan.h"
#include "TessaryVersion.h"

#include <File.h>
#include <Message.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions()
{
	return "leak:libfontconfig.so\n";
}
#endif

namespace {

using frontend::format_reader_message;
using frontend::kMaxReaderLine;
using frontend::parse_reader_message;
using frontend::ReaderMessage;

struct ReaderOptions {
	std::string settings;
	std::string spool;
	int control = -1;
	std::string caption;
	bool turnWidePages = true;
	std::string only;         // the one kind of document taken; empty: any
	int64 ahead = 0;          // 0: no limit
	int64 memoryMegabytes = 0;
	int64 cpuSeconds = 0;
	pid_t parent = 0;
	std::vector<std::string> documents;
};

bool parse_number(const char* text, int64 low, int64 high, int64* value)
{
	char* end = nullptr;
	errno = 0;
	long long parsed = strtoll(text, &end, 10);
	if (end == text || *end != '\0' || errno != 0 || parsed < low || parsed > high)
		return false;
	*value = parsed;
	return true;
}

bool parse_options(int argc, char** argv, ReaderOptions* options)
{
	int64 number = 0;
	int i = 1;
	for (; i < argc; i++) {
		std::string option = argv[i];
		if (option == "--") {
			i++;
			break;
		}
		if (option.compare(0, 2, "--") != 0)
			break;
		if (option == "--no-rotate") {
			options->turnWidePages = false;
			continue;
		}
		if (i + 1 >= argc)
			return false;
		const char* value = argv[++i];
		if (option == "--settings")
			options->settings = value;
		else if (option == "--spool")
			options->spool = value;
		else if (option == "--caption")
			options->caption = value;
		else if (option == "--only")
			options->only = value;
		else if (option == "--control" && parse_number(value, 0, 1 << 20, &number))
			options->control = static_cast<int>(number);
		else if (option == "--ahead" && parse_number(value, 0, 1 << 20, &options->ahead))
			continue;
		else if (option == "--memory" && parse_number(value, 0, 1 << 30,
				&options->memoryMegabytes))
			continue;
		else if (option == "--cpu" && parse_number(value, 0, 1 << 30, &options->cpuSeconds))
			continue;
		else if (option == "--parent" && parse_number(value, 1, 1 << 30, &number))
			options->parent = static_cast<pid_t>(number);
		else
			return false;
	}
	for (; i < argc; i++)
		options->documents.push_back(argv[i]);
	return !options->settings.empty() && !options->spool.empty() && options->control >= 0;
}

// The limits this process reads documents under. An address-space limit cannot be had in a
// sanitizer build, whose shadow memory takes terabytes of addresses.
void apply_limits(const ReaderOptions& options)
{
	struct rlimit none = {0, 0};
	setrlimit(RLIMIT_CORE, &none);  // a document that ends the reader leaves no core behind
	if (options.cpuSeconds > 0) {
		rlim_t seconds = static_cast<rlim_t>(options.cpuSeconds);
		struct rlimit cpu = {seconds, seconds + 5};
		setrlimit(RLIMIT_CPU, &cpu);
	}
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
	if (options.memoryMegabytes > 0) {
		rlim_t bytes = static_cast<rlim_t>(options.memoryMegabytes) << 20;
		struct rlimit memory = {bytes, bytes};
		setrlimit(RLIMIT_AS, &memory);
	}
#endif
}

// Every page is drawn into buffers of the same few sizes (the page's surface, its strips,
// their pictures), each megabytes large. The C library would map each one afresh and give it
// back when it is freed, and the next page would fault every one of its pages in again; kept
// in the heap they are used again, and a page costs a third less time. The reader lives for
// one job, and its limit on memory still holds.
void keep_freed_memory()
{
	mallopt(M_MMAP_THRESHOLD, 64 << 20);
	mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

// The control socket: messages out, "read" messages in.
class Control {
public:
	explicit Control(int fd) : fFd(fd) {}

	bool Send(const std::string& word, const std::vector<int64>& numbers,
		const std::string& text = std::string())
	{
		std::string line = format_reader_message(word, numbers, text);
		const char* bytes = line.data();
		size_t left = line.size();
		while (left > 0) {
			ssize_t sent = write(fFd, bytes, left);
			if (sent < 0 && errno == EINTR)
				continue;
			if (sent <= 0)
				return false;
			bytes += sent;
			left -= static_cast<size_t>(sent);
		}
		return true;
	}

	// Waits until the driver has read `pages` pages whole; false when the parent is gone.
	bool WaitForRead(int64 pages)
	{
		while (fRead < pages) {
			char chunk[256];
			ssize_t got = read(fFd, chunk, sizeof(chunk));
			if (got < 0 && errno == EINTR)
				continue;
			if (got <= 0)
				return false;
			fPending.append(chunk, static_cast<size_t>(got));
			size_t newline;
			while ((newline = fPending.find('\n')) != std::string::npos) {
				ReaderMessage message;
				if (parse_reader_message(fPending.substr(0, newline), &message)
					&& message.word == "read" && message.numbers[0] > fRead)
					fRead = message.numbers[0];
				fPending.erase(0, newline + 1);
			}
			if (fPending.size() > kMaxReaderLine)
				return false;
		}
		return true;
	}

private:
	int fFd;
	int64 fRead = 0;
	std::string fPending;
};

// Tells the parent of each page and keeps the spool no more than `ahead` pages beyond those
// the driver has read.
class Progress : public frontend::SpoolProgress {
public:
	Progress(Control* control, int64 ahead) : fControl(control), fAhead(ahead) {}

	bool BeforePage(size_t document) override
	{
		if (static_cast<int64>(document) != fDocument) {
			fDocument = static_cast<int64>(document);
			if (!fControl->Send("reading", {fDocument}))
				return false;
		}
		if (fAhead > 0 && !fControl->WaitForRead(fWritten - fAhead + 1))
			return false;
		return true;
	}

	void PageWritten(off_t end, off_t start) override
	{
		fWritten++;
		fControl->Send("page", {end, start});
	}

	int64 Document() const { return fDocument; }

private:
	Control* fControl;
	int64 fAhead;
	int64 fWritten = 0;
	int64 fDocument = -1;
};

bool read_settings(const std::string& path, BMessage* settings)
{
	BFile file(path.c_str(), B_READ_ONLY);
	return file.InitCheck() == B_OK && settings->Unflatten(&file) == B_OK;
}

}  // namespace

int main(int argc, char** argv)
{
	if (answer_version(argc, argv, "tessary-reader"))
		return 0;
	ReaderOptions options;
	if (!parse_options(argc, argv, &options)) {
		fprintf(stderr, "usage: %s --settings FILE --spool FILE --control FD [--caption TEXT] "
			"[--no-rotate] [--only KIND] [--ahead PAGES] [--memory MB] [--cpu SECONDS] [--parent PID] "
			"[DOCUMENT...]\n", argv[0]);
		return 2;
	}
	// The reader lives no longer than the process it reads for.
	prctl(PR_SET_PDEATHSIG, SIGKILL);
	if (options.parent != 0 && getppid() != options.parent)
		return 2;
	// A parent that goes away shows as a failed write, not a signal.
	signal(SIGPIPE, SIG_IGN);
	apply_limits(options);
	keep_freed_memory();

	Control control(options.control);
	BMessage settings;
	if (!read_settings(options.settings, &settings)) {
		control.Send("failed", {-1}, "the job's settings cannot be read");
		return 1;
	}

	// Every document is opened before a page is written: one that cannot be read refuses
	// the whole job.
	for (size_t i = 0; i < options.documents.size(); i++) {
		std::string kind = frontend::document_kind(options.documents[i]);
		control.Send("kind", {static_cast<int64>(i)}, kind.empty() ? "document" : kind);
		if (!options.only.empty() && kind != options.only) {
			control.Send("failed", {static_cast<int64>(i)}, "cannot be read as a " + options.only
				+ " (" + (kind.empty() ? std::string("its contents are of no kind printed")
					: "its contents are " + kind) + ")");
			return 1;
		}
	}
	frontend::SpoolPlan plan;
	frontend::DocumentError error;
	if (!plan.Open(options.documents, settings, options.caption, options.turnWidePages,
			&error)) {
		size_t index = 0;
		while (index < options.documents.size() && options.documents[index] != error.file)
			index++;
		control.Send("failed", {static_cast<int64>(index)}, error.reason);
		return 1;
	}
	frontend::SpoolWriter writer;
	std::string reason;
	if (!writer.Open(options.spool, settings, &reason, plan.Pages())) {
		control.Send("failed", {-1}, reason);
		return 1;
	}
	// The spool file exists from here on: the parent may open it.
	control.Send("planned", {plan.Pages()});
	control.Send("header", {writer.Position()});
	Progress progress(&control, options.ahead);
	if (!plan.SpoolPages(&writer, &progress, &error)) {
		control.Send("failed", {std::max<int64>(progress.Document(), 0)}, error.reason);
		return 1;
	}
	if (!writer.Close(&reason)) {
		control.Send("failed", {std::max<int64>(progress.Document(), 0)}, reason);
		return 1;
	}
	control.Send("done", {writer.Position(), writer.PageCount()});
	return 0;
}
