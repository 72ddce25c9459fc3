// print [PRINTER] [FILES...] [one job's options] [--spool FILE] [--keep-spool] [--no-rotate]
#include "Commands.h"
#include "JobOutcome.h"
#include "KeptInput.h"
#include "PrintJob.h"
#include "Printers.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace server {

namespace {

volatile sig_atomic_t sStopSignal = 0;

// The first SIGINT or SIGTERM asks the job to stop at its next band; the handler is then
// the default again, so a second one ends the process at once.
void stop_job_on_signal(int signal)
{
	sStopSignal = signal;
	request_job_stop();
}

void catch_stop_signals()
{
	struct sigaction action = {};
	action.sa_handler = stop_job_on_signal;
	action.sa_flags = SA_RESETHAND;
	sigemptyset(&action.sa_mask);
	sigaction(SIGINT, &action, nullptr);
	sigaction(SIGTERM, &action, nullptr);
}

const char kStandardInput[] = "-";

struct PrintOptions {
	PrintRequest request;
	std::vector<std::string> arguments;  // [PRINTER] FILES...
	bool noRotate = false;
	bool blackWhite = false;
	bool colour = false;
	bool landscape = false;
	bool portrait = false;
	std::vector<CLI::Option*> pageOptions;  // options of the job's own page setup
	std::vector<CLI::Option*> jobOptions;   // and of its own job setup
};

bool any_given(const std::vector<CLI::Option*>& options)
{
	for (const CLI::Option* option : options) {
		if (option->count() > 0)
			return true;
	}
	return false;
}

// Standard input kept in a private temporary file for as long as the job runs: the reader
// reads a document by its contents from a file, as every other.
class StandardInputDocument {
public:
	~StandardInputDocument()
	{
		if (!fPath.empty())
			unlink(fPath.c_str());
	}

	bool Read(std::string* path, std::string* error)
	{
		const char* folder = getenv("TMPDIR");
		std::string pattern = std::string(folder != nullptr && folder[0] != '\0' ? folder
			: "/tmp") + "/tessary-stdin-XXXXXX";
		std::vector<char> name(pattern.begin(), pattern.end());
		name.push_back('\0');
		int file = mkstemp(name.data());  // mode 0600: the document is the user's alone
		if (file < 0) {
			*error = "cannot keep standard input in " + pattern + ": " + strerror(errno);
			return false;
		}
		fPath = name.data();
		off_t size = 0;
		int number = 0;
		bool copied = false;
		switch (frontend::keep_input(STDIN_FILENO, file, &size, &number)) {
			case frontend::KeepResult::kKept:
				copied = true;
				break;
			case frontend::KeepResult::kReadFailed:
				*error = std::string("cannot read standard input: ") + strerror(number);
				break;
			default:
				*error = "cannot keep standard input in " + fPath + ": " + strerror(number);
				break;
		}
		if (close(file) != 0 && copied) {
			*error = "cannot keep standard input in " + fPath + ": " + strerror(errno);
			copied = false;
		}
		if (copied && size == 0) {
			*error = "standard input is empty: nothing to print";
			copied = false;
		}
		*path = fPath;
		return copied;
	}

private:
	std::string fPath;
};

// The printer and the documents of the command line. The first argument is the printer when
// a printer has that name, even when a file has it too (./NAME is the file); otherwise every
// argument is a document and the printer is the default one. False with a message, a usage
// error, when there is no printer or a document is not there.
bool choose_printer(const std::vector<std::string>& arguments, PrintRequest* request,
	std::string* error)
{
	std::vector<std::string>::const_iterator document = arguments.begin();
	if (!arguments.empty() && is_printer(arguments.front())) {
		request->printer = arguments.front();
		++document;
	}
	request->documents.assign(document, arguments.end());
	int fromStandardInput = 0;
	for (const std::string& path : request->documents) {
		std::error_code code;
		if (path == kStandardInput) {
			++fromStandardInput;
			continue;
		}
		if (fs::is_directory(path, code)) {
			*error = "\"" + path + "\" is a folder, not a document";
			return false;
		}
		if (!fs::exists(path, code)) {
			*error = "no document " + std::string(request->printer.empty()
				&& path == arguments.front() ? "or printer " : "") + "named \"" + path
				+ "\" (see `tessary printer list`)";
			return false;
		}
	}
	if (fromStandardInput > 1) {
		*error = "standard input (-) can be printed only once in a job";
		return false;
	}
	if (!request->printer.empty())
		return true;
	request->printer = default_printer();
	if (request->printer.empty()) {
		*error = "no printer given and no default printer; set one with `tessary printer "
			"default NAME` or TESSARY_PRINTER";
		return false;
	}
	return true;
}

int run_print(PrintOptions& options)
{
	PrintRequest& request = options.request;
	request.turnWidePages = !options.noRotate;
	request.progress = isatty(STDERR_FILENO) != 0;
	request.ownPageSetup = any_given(options.pageOptions);
	request.ownJobSetup = any_given(options.jobOptions);
	if (options.landscape || options.portrait)
		request.page.orientation = options.landscape ? "landscape" : "portrait";
	request.job.blackWhite = options.blackWhite ? 1 : options.colour ? 0 : -1;

	std::string error;
	if (!choose_printer(options.arguments, &request, &error))
		return usage_error(error);
	if (!request.existingSpool.empty() && !request.documents.empty())
		return usage_error("give either files or --spool, not both");

	// Read before the job starts, so the job waits on nothing but the driver.
	StandardInputDocument standardInput;
	for (std::string& document : request.documents) {
		if (document != kStandardInput)
			continue;
		if (!standardInput.Read(&document, &error))
			return fail(error);
		if (request.documents.size() == 1)
			request.jobName = "standard input";
	}

	PrintOutcome outcome;
	catch_stop_signals();
	bool printed = print_job(request, &outcome, &error);
	if (!printed)
		fail(error);
	for (const std::string& note : outcome.notes)
		fprintf(stderr, "tessary: %s\n", note.c_str());
	// Stopped by a signal: the shell's status for it, 128 + the signal's number.
	if (!printed && outcome.interrupted && sStopSignal != 0)
		return 128 + sStopSignal;
	if (!printed)
		return outcome.refused ? kUsageStatus : 1;
	printf("printed %d page%s on %s: %lld bytes to %s\n", static_cast<int>(outcome.pages),
		outcome.pages == 1 ? "" : "s", request.printer.c_str(),
		static_cast<long long>(outcome.bytes), outcome.destination.c_str());
	return 0;
}

// The options of one job, each going to the driver's dialog that takes it.
void add_job_options(CLI::App* print, PrintOptions* options)
{
	PageSetupRequest& page = options->request.page;
	JobSetupRequest& job = options->request.job;
	const char* const forJob = " (this job only)";
	CLI::Option* copies = print->add_option("-n,--copies", job.copies,
		std::string("Number of copies") + forJob);
	CLI::Option* pages = print->add_option("-P,--pages", job.pages,
		std::string("Pages to print: a range FROM-TO, one page, or all") + forJob);
	CLI::Option* resolution = print->add_option("--resolution", job.resolution,
		std::string("Dots per inch") + forJob)->check(CLI::IsMember(resolution_choices()));
	CLI::Option* blackWhite = print->add_flag("--black-white", options->blackWhite,
		std::string("Print in black and white") + forJob);
	CLI::Option* colour = print->add_flag("--colour,--color", options->colour,
		std::string("Print in colour") + forJob);
	blackWhite->excludes(colour);
	CLI::Option* paper = print->add_option("--paper", page.paper,
		"Paper size as the page setup lists it (" + paper_labels() + ")" + forJob);
	CLI::Option* landscape = print->add_flag("--landscape", options->landscape,
		std::string("Landscape orientation") + forJob);
	CLI::Option* portrait = print->add_flag("--portrait", options->portrait,
		std::string("Portrait orientation") + forJob);
	landscape->excludes(portrait);
	CLI::Option* scaling = print->add_option("--scaling", page.scaling,
		std::string("Scaling in percent") + forJob);
	options->pageOptions = {paper, landscape, portrait, scaling};
	options->jobOptions = {copies, pages, resolution, blackWhite, colour};
}

}  // namespace

void add_print_command(CLI::App& app, Commands* commands)
{
	auto options = std::make_shared<PrintOptions>();
	PrintRequest& request = options->request;
	CLI::App* print = app.add_subcommand("print",
		"Print files (PDF, PNG, JPEG, plain text; - is standard input), or the test page when "
		"no file is given, on the printer named first or else the default printer");
	print->add_option("FILES", options->arguments,
		"[PRINTER] and the documents; the first is the printer when a printer has its name");
	add_job_options(print, options.get());
	print->add_option("--spool", request.existingSpool, "Print an existing spool file as it is")
		->check(CLI::ExistingFile);
	print->add_flag("--keep-spool", request.keepSpool, "Keep the spool file after the job");
	print->add_flag("--no-rotate", options->noRotate,
		"Do not turn pages and images wider than tall to fit portrait paper");
	commands->push_back({print, [options] { return run_print(*options); }});
}

}  // namespace server
