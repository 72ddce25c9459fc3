// tessary: the print server stand-in. Keeps printers and their settings, spools documents,
// runs jobs through the driver add-on and its transports, and previews what a printer
// would print.

#include "JobOutcome.h"
#include "JobRunner.h"
#include "PclPreview.h"
#include "Printers.h"
#include "SetupCommands.h"
#include "SettingsStore.h"
#include "Spool.h"

#include <InteractiveDisplay.h>

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
// fontconfig leaves part of its configuration parse unreachable for the life of the process;
// a sanitizer build of the tool should not report the library's leak as its own.
extern "C" const char* __lsan_default_suppressions()
{
	return "leak:libfontconfig.so\n";
}
#endif
#if defined(__SANITIZE_THREAD__)
// Cairo hands objects between threads through lock-free pools whose atomics ThreadSanitizer
// does not see in the uninstrumented library: windows drawing at once (a dialog and its
// pop-up menu on the X display), or a page spooled while a band prints, look like a race
// inside Cairo's own copies. libxcb takes two
// of its internal locks in either order on the first request that needs an extension's data.
extern "C" const char* __tsan_default_suppressions()
{
	return "race:libcairo.so\n"
		   "deadlock:libxcb.so\n";
}
#endif

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

int fail(const std::string& message)
{
	fprintf(stderr, "tessary: %s\n", message.c_str());
	return 1;
}

int run_preview(const std::string& input, const std::string& outputFolder)
{
	std::ifstream file(input, std::ios::binary);
	if (!file)
		return fail("cannot open " + input);
	std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)),
		std::istreambuf_iterator<char>());
	std::error_code code;
	fs::create_directories(outputFolder, code);
	if (code)
		return fail("cannot create " + outputFolder + ": " + code.message());

	int pageNumber = 0;
	preview::DecodeError decodeError;
	bool decoded = preview::decode_stream(data.data(), data.size(),
		[&](const preview::Page& page, std::string* error) {
			pageNumber++;
			char name[32];
			snprintf(name, sizeof(name), "page-%03d.png", pageNumber);
			std::string path = (fs::path(outputFolder) / name).string();
			if (!preview::write_png(page, path, error))
				return false;
			printf("%s -> %s\n", preview::summary_line(pageNumber, page).c_str(), path.c_str());
			return true;
		},
		&decodeError);
	if (!decoded) {
		return fail(input + ": at byte " + std::to_string(decodeError.offset) + ": "
			+ decodeError.message);
	}
	if (pageNumber == 0)
		printf("no pages\n");
	return 0;
}

}  // namespace

int main(int argc, char** argv)
{
	CLI::App app{"tessary: print with the Tessary colour ink-jet driver", "tessary"};
	app.require_subcommand(1);

	// printer add | list | remove
	CLI::App* printer = app.add_subcommand("printer", "Add, list or remove printers");
	printer->require_subcommand(1);
	std::string printerName;
	std::string transport;
	std::string address;
	CLI::App* printerAdd = printer->add_subcommand("add", "Add a printer");
	printerAdd->add_option("NAME", printerName, "Name of the new printer")->required();
	printerAdd->add_option("--transport", transport, "How jobs reach the printer: File or Socket")
		->required();
	printerAdd->add_option("--address", address,
		"File: the path printed to (replaced by each job; without it, a new file per job in "
		"the printer's folder). Socket: host:port (port 9100 by default)");
	CLI::App* printerList = printer->add_subcommand("list", "List the printers");
	CLI::App* printerRemove = printer->add_subcommand("remove", "Remove a printer");
	printerRemove->add_option("NAME", printerName, "Printer to remove")->required();

	// settings
	CLI::App* settingsCommand = app.add_subcommand("settings", "Show a printer's settings");
	bool resetSettings = false;
	settingsCommand->add_option("NAME", printerName, "Printer")->required();
	settingsCommand->add_flag("--reset", resetSettings, "Go back to the default settings");

	// page-setup
	CLI::App* pageSetup = app.add_subcommand("page-setup",
		"Run the driver's page setup dialog for a printer and keep its answer: shown on the X "
		"display (DISPLAY) for you to fill in, or, with any option below, worked headless "
		"as a user would");
	server::PageSetupRequest pageRequest;
	pageSetup->add_option("NAME", pageRequest.printer, "Printer")->required();
	CLI::Option* paperOption = pageSetup->add_option("--paper", pageRequest.paper,
		"Paper size as the dialog lists it (US Letter, US Legal, A4, B5, Tabloid, Envelope, "
		"Other)");
	CLI::Option* widthOption = pageSetup->add_option("--width", pageRequest.width,
		"Paper width in inches, typed into the dialog");
	CLI::Option* heightOption = pageSetup->add_option("--height", pageRequest.height,
		"Paper height in inches, typed into the dialog");
	widthOption->needs(heightOption);
	heightOption->needs(widthOption);
	CLI::Option* orientationOption = pageSetup->add_option("--orientation",
		pageRequest.orientation, "portrait or landscape")
		->check(CLI::IsMember({"portrait", "landscape"}));
	CLI::Option* scalingOption = pageSetup->add_option("--scaling", pageRequest.scaling,
		"Scaling in percent");
	CLI::Option* pageCancelOption = pageSetup->add_flag("--cancel", pageRequest.cancel,
		"Press Cancel instead of OK (the settings stay as they were)");
	CLI::Option* pageShotOption = pageSetup->add_option("--screenshot",
		pageRequest.screenshotFolder,
		"Folder for a picture of the dialog, taken before OK or Cancel is pressed (and of "
		"the alert, if the dialog refuses the values)");
	const std::vector<CLI::Option*> pageScript = {paperOption, widthOption, heightOption,
		orientationOption, scalingOption, pageCancelOption, pageShotOption};

	// job-setup
	CLI::App* jobSetup = app.add_subcommand("job-setup",
		"Run the driver's job setup dialog for a printer and keep its answer: shown on the X "
		"display (DISPLAY) for you to fill in, or, with any option below, worked headless "
		"as a user would");
	server::JobSetupRequest jobRequest;
	bool blackWhite = false;
	bool colour = false;
	jobSetup->add_option("NAME", jobRequest.printer, "Printer")->required();
	CLI::Option* copiesOption = jobSetup->add_option("--copies", jobRequest.copies,
		"Number of copies");
	CLI::Option* pagesOption = jobSetup->add_option("--pages", jobRequest.pages,
		"all, or a range FROM-TO");
	CLI::Option* resolutionOption = jobSetup->add_option("--resolution", jobRequest.resolution,
		"Dots per inch")->check(CLI::IsMember({"300", "150", "75"}));
	CLI::Option* bwOption = jobSetup->add_flag("--black-white", blackWhite,
		"Print in black and white");
	CLI::Option* colourOption = jobSetup->add_flag("--colour,--color", colour,
		"Print in colour");
	bwOption->excludes(colourOption);
	CLI::Option* jobCancelOption = jobSetup->add_flag("--cancel", jobRequest.cancel,
		"Press Cancel instead of OK (the settings stay as they were)");
	CLI::Option* jobShotOption = jobSetup->add_option("--screenshot",
		jobRequest.screenshotFolder,
		"Folder for a picture of the dialog, taken before OK or Cancel is pressed (and of "
		"the alert, if the dialog refuses the values)");
	const std::vector<CLI::Option*> jobScript = {copiesOption, pagesOption, resolutionOption,
		bwOption, colourOption, jobCancelOption, jobShotOption};

	// print
	CLI::App* print = app.add_subcommand("print",
		"Print files (PDF, PNG, JPEG, plain text), or the test page when no file is given");
	std::vector<std::string> files;
	std::string spoolInput;
	bool keepSpool = false;
	bool noRotate = false;
	print->add_option("NAME", printerName, "Printer")->required();
	print->add_option("FILES", files, "Documents to print")->check(CLI::ExistingFile);
	print->add_option("--spool", spoolInput, "Print an existing spool file as it is")
		->check(CLI::ExistingFile);
	print->add_flag("--keep-spool", keepSpool, "Keep the spool file after the job");
	print->add_flag("--no-rotate", noRotate,
		"Do not turn pages and images wider than tall to fit portrait paper");

	// spool
	CLI::App* spool = app.add_subcommand("spool", "Write a spool file without printing");
	std::string spoolOutput;
	std::string spoolPrinter;
	spool->add_option("FILES", files, "Documents (the test page when none)")
		->check(CLI::ExistingFile);
	spool->add_option("-o,--output", spoolOutput, "Spool file to write")->required();
	spool->add_option("--printer", spoolPrinter, "Take the settings of this printer");
	spool->add_flag("--no-rotate", noRotate,
		"Do not turn pages and images wider than tall to fit portrait paper");

	// preview
	CLI::App* previewCommand = app.add_subcommand("preview",
		"Turn a PCL stream into one PNG per page, as the printer would print it");
	std::string pclInput;
	std::string previewOutput;
	previewCommand->add_option("FILE", pclInput, "PCL file")->required()
		->check(CLI::ExistingFile);
	previewCommand->add_option("-o,--output", previewOutput, "Folder for the PNG pages")
		->required();

	try {
		app.parse(argc, argv);
	} catch (const CLI::CallForHelp& help) {
		return app.exit(help);
	} catch (const CLI::CallForAllHelp& help) {
		return app.exit(help);
	} catch (const CLI::ParseError& parseError) {
		fprintf(stderr, "tessary: %s (see --help)\n", parseError.what());
		return 2;
	}

	std::string error;
	if (printerAdd->parsed()) {
		if (!server::add_printer(printerName, transport, address, &error))
			return fail(error);
		printf("added printer %s (%s%s%s)\n", printerName.c_str(), transport.c_str(),
			address.empty() ? "" : " ", address.c_str());
		return 0;
	}
	if (printerList->parsed()) {
		std::vector<server::PrinterInfo> printers;
		if (!server::list_printers(&printers, &error))
			return fail(error);
		for (const server::PrinterInfo& info : printers) {
			printf("%s\t%s\t%s\n", info.name.c_str(), info.transport.c_str(),
				info.address.c_str());
		}
		return 0;
	}
	if (printerRemove->parsed()) {
		if (!server::remove_printer(printerName, &error))
			return fail(error);
		return 0;
	}
	if (settingsCommand->parsed()) {
		server::PrinterInfo info;
		if (!server::find_printer(printerName, &info, &error))
			return fail(error);
		BMessage settings;
		if (resetSettings) {
			server::default_settings(&settings);
			if (!server::save_settings(printerName, settings, &error))
				return fail(error);
		} else if (!server::load_settings(printerName, &settings, &error)) {
			return fail(error);
		}
		fputs(server::describe_settings(settings).c_str(), stdout);
		return 0;
	}
	if (pageSetup->parsed() || jobSetup->parsed()) {
		server::SetupOutcome outcome;
		bool done;
		const std::string& name = pageSetup->parsed() ? pageRequest.printer : jobRequest.printer;
		const char* what = pageSetup->parsed() ? "page setup" : "job setup";
		bool scripted = false;
		for (const CLI::Option* option : pageSetup->parsed() ? pageScript : jobScript)
			scripted = scripted || option->count() > 0;
		if (!scripted) {
			// Nothing to enter was given: the dialog is for the person at the display.
			std::string displayError;
			if (InteractiveDisplay::Open(nullptr, &displayError) != B_OK) {
				fprintf(stderr, "tessary: cannot show the %s dialog: %s; give the values as "
					"options instead (see --help)\n", what, displayError.c_str());
				return 2;
			}
			done = server::show_setup_dialog(pageSetup->parsed() ? server::SetupDialog::Page
				: server::SetupDialog::Job, name, &outcome, &error);
		} else if (pageSetup->parsed()) {
			done = server::run_page_setup(pageRequest, &outcome, &error);
		} else {
			jobRequest.blackWhite = blackWhite ? 1 : colour ? 0 : -1;
			done = server::run_job_setup(jobRequest, &outcome, &error);
		}
		if (!outcome.screenshot.empty())
			printf("screenshot: %s\n", outcome.screenshot.c_str());
		if (!done)
			return fail(error);
		if (outcome.stored)
			printf("%s of %s: %s\n", what, name.c_str(), outcome.summary.c_str());
		else
			printf("%s of %s cancelled; the settings are unchanged\n", what, name.c_str());
		return 0;
	}
	if (print->parsed()) {
		server::PrintRequest request;
		request.printer = printerName;
		request.documents = files;
		request.existingSpool = spoolInput;
		request.keepSpool = keepSpool;
		request.turnWidePages = !noRotate;
		request.progress = isatty(STDERR_FILENO) != 0;
		if (!spoolInput.empty() && !files.empty())
			return fail("give either files or --spool, not both");
		server::PrintOutcome outcome;
		catch_stop_signals();
		bool printed = server::print_job(request, &outcome, &error);
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
			outcome.pages == 1 ? "" : "s", printerName.c_str(),
			static_cast<long long>(outcome.bytes), outcome.destination.c_str());
		return 0;
	}
	if (spool->parsed()) {
		BMessage settings;
		if (!spoolPrinter.empty()) {
			server::PrinterInfo info;
			if (!server::find_printer(spoolPrinter, &info, &error)
				|| !server::load_settings(spoolPrinter, &settings, &error))
				return fail(error);
		} else {
			server::default_settings(&settings);
		}
		int32 pages = 0;
		if (!server::write_spool(spoolOutput, files, settings, "Spooled by tessary", &pages,
				&error, !noRotate))
			return fail(error);
		printf("spooled %d page%s to %s\n", static_cast<int>(pages), pages == 1 ? "" : "s",
			spoolOutput.c_str());
		return 0;
	}
	if (previewCommand->parsed())
		return run_preview(pclInput, previewOutput);
	return 0;
}
