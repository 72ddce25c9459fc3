// settings NAME [--reset]
#include "Commands.h"
#include "DeviceModel.h"
#include "Printers.h"
#include "SettingsStore.h"

#include <cstdio>
#include <memory>

namespace server {

namespace {

struct SettingsOptions {
	std::string printer;
	bool reset = false;
};

int run_settings(const SettingsOptions& options)
{
	std::string error;
	PrinterInfo info;
	if (!find_printer(options.printer, &info, &error))
		return fail(error);
	BMessage settings;
	if (options.reset) {
		device::default_settings(&settings);
		if (!save_settings(options.printer, settings, &error))
			return fail(error);
	} else if (!load_settings(options.printer, &settings, &error)) {
		return fail(error);
	}
	fputs(describe_settings(settings).c_str(), stdout);
	return 0;
}

}  // namespace

void add_settings_command(CLI::App& app, Commands* commands)
{
	auto options = std::make_shared<SettingsOptions>();
	CLI::App* settings = app.add_subcommand("settings", "Show a printer's settings");
	settings->add_option("NAME", options->printer, "Printer")->required();
	settings->add_flag("--reset", options->reset, "Go back to the default settings");
	commands->push_back({settings, [options] { return run_settings(*options); }});
}

}  // namespace server
