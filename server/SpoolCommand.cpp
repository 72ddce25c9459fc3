// spool [FILES...] -o SPOOL [--printer NAME] [--no-rotate]
#include "Commands.h"
#include "DeviceModel.h"
#include "Printers.h"
#include "SettingsStore.h"
#include "DocumentPrint.h"

#include <cstdio>
#include <memory>

namespace server {

namespace {

struct SpoolOptions {
	std::vector<std::string> files;
	std::string output;
	std::string printer;
	bool noRotate = false;
};

int run_spool(const SpoolOptions& options)
{
	std::string error;
	BMessage settings;
	if (!options.printer.empty()) {
		PrinterInfo info;
		if (!find_printer(options.printer, &info, &error)
			|| !load_settings(options.printer, &settings, &error))
			return fail(error);
	} else {
		device::default_settings(&settings);
	}
	frontend::ReaderRequest reading;
	reading.documents = options.files;
	reading.settings = settings;
	reading.caption = "Spooled by tessary";
	reading.turnWidePages = !options.noRotate;
	reading.spoolPath = options.output;
	int32 pages = 0;
	frontend::DocumentError documentError;
	if (!frontend::spool_documents(reading, &pages, &documentError))
		return fail(documentError.InWords());
	printf("spooled %d page%s to %s\n", static_cast<int>(pages), pages == 1 ? "" : "s",
		options.output.c_str());
	return 0;
}

}  // namespace

void add_spool_command(CLI::App& app, Commands* commands)
{
	auto options = std::make_shared<SpoolOptions>();
	CLI::App* spool = app.add_subcommand("spool", "Write a spool file without printing");
	spool->add_option("FILES", options->files, "Documents (the test page when none)")
		->check(CLI::ExistingFile);
	spool->add_option("-o,--output", options->output, "Spool file to write")->required();
	spool->add_option("--printer", options->printer, "Take the settings of this printer");
	spool->add_flag("--no-rotate", options->noRotate,
		"Do not turn pages and images wider than tall to fit portrait paper");
	commands->push_back({spool, [options] { return run_spool(*options); }});
}

}  // namespace server
