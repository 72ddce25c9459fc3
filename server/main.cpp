// tessary: the print server stand-in. Keeps printers and their settings, spools documents,
// runs jobs through the driver add-on and its transports, and previews what a printer
// would print.

#include "JobRunner.h"
#include "PclPreview.h"
#include "Printers.h"
#include "SettingsStore.h"
#include "Spool.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

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

	// print
	CLI::App* print = app.add_subcommand("print",
		"Print files (PNG, JPEG, plain text), or the test page when no file is given");
	std::vector<std::string> files;
	std::string spoolInput;
	bool keepSpool = false;
	print->add_option("NAME", printerName, "Printer")->required();
	print->add_option("FILES", files, "Documents to print")->check(CLI::ExistingFile);
	print->add_option("--spool", spoolInput, "Print an existing spool file as it is")
		->check(CLI::ExistingFile);
	print->add_flag("--keep-spool", keepSpool, "Keep the spool file after the job");

	// spool
	CLI::App* spool = app.add_subcommand("spool", "Write a spool file without printing");
	std::string spoolOutput;
	std::string spoolPrinter;
	spool->add_option("FILES", files, "Documents (the test page when none)")
		->check(CLI::ExistingFile);
	spool->add_option("-o,--output", spoolOutput, "Spool file to write")->required();
	spool->add_option("--printer", spoolPrinter, "Take the settings of this printer");

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
	if (print->parsed()) {
		server::PrintRequest request;
		request.printer = printerName;
		request.documents = files;
		request.existingSpool = spoolInput;
		request.keepSpool = keepSpool;
		request.progress = isatty(STDERR_FILENO) != 0;
		if (!spoolInput.empty() && !files.empty())
			return fail("give either files or --spool, not both");
		server::PrintOutcome outcome;
		bool printed = server::print_job(request, &outcome, &error);
		for (const std::string& note : outcome.notes)
			fprintf(stderr, "tessary: %s\n", note.c_str());
		if (!printed)
			return fail(error);
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
				&error))
			return fail(error);
		printf("spooled %d page%s to %s\n", static_cast<int>(pages), pages == 1 ? "" : "s",
			spoolOutput.c_str());
		return 0;
	}
	if (previewCommand->parsed())
		return run_preview(pclInput, previewOutput);
	return 0;
}
