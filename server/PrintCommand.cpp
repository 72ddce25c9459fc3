// print NAME [FILES...] [--spool FILE] [--keep-spool] [--no-rotate]
#include "Commands.h"
#include "JobOutcome.h"
#include "PrintJob.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

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

struct PrintOptions {
	PrintRequest request;
	bool noRotate = false;
};

int run_print(PrintOptions& options)
{
	PrintRequest& request = options.request;
	request.turnWidePages = !options.noRotate;
	request.progress = isatty(STDERR_FILENO) != 0;
	if (!request.existingSpool.empty() && !request.documents.empty())
		return fail("give either files or --spool, not both");

	PrintOutcome outcome;
	std::string error;
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
		return 1;
	printf("printed %d page%s on %s: %lld bytes to %s\n", static_cast<int>(outcome.pages),
		outcome.pages == 1 ? "" : "s", request.printer.c_str(),
		static_cast<long long>(outcome.bytes), outcome.destination.c_str());
	return 0;
}

}  // namespace

void add_print_command(CLI::App& app, Commands* commands)
{
	auto options = std::make_shared<PrintOptions>();
	PrintRequest& request = options->request;
	CLI::App* print = app.add_subcommand("print",
		"Print files (PDF, PNG, JPEG, plain text), or the test page when no file is given");
	print->add_option("NAME", request.printer, "Printer")->required();
	print->add_option("FILES", request.documents, "Documents to print")
		->check(CLI::ExistingFile);
	print->add_option("--spool", request.existingSpool, "Print an existing spool file as it is")
		->check(CLI::ExistingFile);
	print->add_flag("--keep-spool", request.keepSpool, "Keep the spool file after the job");
	print->add_flag("--no-rotate", options->noRotate,
		"Do not turn pages and images wider than tall to fit portrait paper");
	commands->push_back({print, [options] { return run_print(*options); }});
}

}  // namespace server
