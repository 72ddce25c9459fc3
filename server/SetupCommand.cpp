// page-setup NAME [options], job-setup NAME [options]: the driver's dialogs, shown to the
// person at the display, or worked headless from the options as a user would.
#include "Commands.h"
#include "DeviceModel.h"
#include "SetupCommands.h"

#include <InteractiveDisplay.h>

#include <cstdio>
#include <memory>

namespace server {

namespace {

struct SetupOptions {
	PageSetupRequest page;
	JobSetupRequest job;
	bool blackWhite = false;
	bool colour = false;
	std::vector<CLI::Option*> script;  // the options that say what to enter
};

// Runs the dialog of `dialog` for `printer`: shown when no option says what to enter.
int run_setup(SetupDialog dialog, SetupOptions& options)
{
	const bool page = dialog == SetupDialog::Page;
	const std::string& name = page ? options.page.printer : options.job.printer;
	const char* what = page ? "page setup" : "job setup";
	bool scripted = false;
	for (const CLI::Option* option : options.script)
		scripted = scripted || option->count() > 0;

	SetupOutcome outcome;
	std::string error;
	bool done;
	if (!scripted) {
		// Nothing to enter was given: the dialog is for the person at the display.
		std::string displayError;
		if (InteractiveDisplay::Open(nullptr, &displayError) != B_OK) {
			fprintf(stderr, "tessary: cannot show the %s dialog: %s; give the values as "
				"options instead (see --help)\n", what, displayError.c_str());
			return kUsageStatus;
		}
		done = show_setup_dialog(dialog, name, &outcome, &error);
	} else if (page) {
		done = run_page_setup(options.page, &outcome, &error);
	} else {
		options.job.blackWhite = options.blackWhite ? 1 : options.colour ? 0 : -1;
		done = run_job_setup(options.job, &outcome, &error);
	}
	if (!outcome.screenshot.empty())
		printf("screenshot: %s\n", outcome.screenshot.c_str());
	// A value the dialog did not take is a usage error, as one the command line refuses.
	if (!done && outcome.refused)
		return usage_error(error);
	if (!done)
		return fail(error);
	if (outcome.stored)
		printf("%s of %s: %s\n", what, name.c_str(), outcome.summary.c_str());
	else
		printf("%s of %s cancelled; the settings are unchanged\n", what, name.c_str());
	return 0;
}

const char* const kScreenshotHelp = "Folder for a picture of the dialog, taken before OK or "
	"Cancel is pressed (and of the alert, if the dialog refuses the values)";
const char* const kCancelHelp = "Press Cancel instead of OK (the settings stay as they were)";

void add_page_setup(CLI::App& app, Commands* commands)
{
	auto options = std::make_shared<SetupOptions>();
	PageSetupRequest& request = options->page;
	CLI::App* setup = app.add_subcommand("page-setup",
		"Run the driver's page setup dialog for a printer and keep its answer: shown on the X "
		"display (DISPLAY) for you to fill in, or, with any option below, worked headless "
		"as a user would");
	setup->add_option("NAME", request.printer, "Printer")->required();
	CLI::Option* paper = setup->add_option("--paper", request.paper,
		"Paper size as the dialog lists it (" + paper_labels() + ")");
	CLI::Option* width = setup->add_option("--width", request.width,
		"Paper width in inches, typed into the dialog");
	CLI::Option* height = setup->add_option("--height", request.height,
		"Paper height in inches, typed into the dialog");
	width->needs(height);
	height->needs(width);
	CLI::Option* orientation = setup->add_option("--orientation", request.orientation,
		"portrait or landscape")->check(CLI::IsMember({"portrait", "landscape"}));
	CLI::Option* scaling = setup->add_option("--scaling", request.scaling,
		"Scaling in percent");
	CLI::Option* cancel = setup->add_flag("--cancel", request.cancel, kCancelHelp);
	CLI::Option* screenshot = setup->add_option("--screenshot", request.screenshotFolder,
		kScreenshotHelp);
	options->script = {paper, width, height, orientation, scaling, cancel, screenshot};
	commands->push_back({setup, [options] { return run_setup(SetupDialog::Page, *options); }});
}

void add_job_setup(CLI::App& app, Commands* commands)
{
	auto options = std::make_shared<SetupOptions>();
	JobSetupRequest& request = options->job;
	CLI::App* setup = app.add_subcommand("job-setup",
		"Run the driver's job setup dialog for a printer and keep its answer: shown on the X "
		"display (DISPLAY) for you to fill in, or, with any option below, worked headless "
		"as a user would");
	setup->add_option("NAME", request.printer, "Printer")->required();
	CLI::Option* copies = setup->add_option("--copies", request.copies, "Number of copies");
	CLI::Option* pages = setup->add_option("--pages", request.pages,
		"all, a range FROM-TO, or one page");
	CLI::Option* resolution = setup->add_option("--resolution", request.resolution,
		"Dots per inch")->check(CLI::IsMember(resolution_choices()));
	CLI::Option* blackWhite = setup->add_flag("--black-white", options->blackWhite,
		"Print in black and white");
	CLI::Option* colour = setup->add_flag("--colour,--color", options->colour,
		"Print in colour");
	blackWhite->excludes(colour);
	CLI::Option* cancel = setup->add_flag("--cancel", request.cancel, kCancelHelp);
	CLI::Option* screenshot = setup->add_option("--screenshot", request.screenshotFolder,
		kScreenshotHelp);
	options->script = {copies, pages, resolution, blackWhite, colour, cancel, screenshot};
	commands->push_back({setup, [options] { return run_setup(SetupDialog::Job, *options); }});
}

}  // namespace

std::string paper_labels()
{
	std::string labels;
	for (const device::Paper& paper : device::kPapers)
		labels += std::string(paper.label) + ", ";
	return labels + device::kOtherPaperLabel;
}

std::vector<std::string> resolution_choices()
{
	std::vector<std::string> choices;
	for (const device::Resolution& resolution : device::kResolutions)
		choices.push_back(std::to_string(resolution.dpi));
	return choices;
}

void add_setup_commands(CLI::App& app, Commands* commands)
{
	add_page_setup(app, commands);
	add_job_setup(app, commands);
}

}  // namespace server
