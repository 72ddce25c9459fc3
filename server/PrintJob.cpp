#include "PrintJob.h"

#include "DeviceModel.h"
#include "DocumentPrint.h"
#include "DriverAddOn.h"
#include "DriverFolders.h"
#include "DriverRun.h"
#include "JobAccount.h"
#include "JobSettings.h"
#include "Printers.h"
#include "SettingsStore.h"
#include "SetupCommands.h"
#include "SpoolFeed.h"

#include <File.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace server {

namespace {

std::string job_name_for(const PrintRequest& request)
{
	if (!request.jobName.empty())
		return request.jobName;
	if (!request.existingSpool.empty())
		return fs::path(request.existingSpool).stem().string();
	if (request.documents.empty())
		return "Test page";
	return fs::path(request.documents.front()).filename().string();
}

std::string resolution_caption(const BMessage& settings, const std::string& printer)
{
	int32 xres = 0;
	int16 copies = 0;
	int16 bw = 0;
	settings.FindInt32(kXResField, &xres);
	settings.FindInt16(kCopiesField, &copies);
	settings.FindInt16(kBWModeField, &bw);
	BRect paper;
	settings.FindRect(kPaperRectField, &paper);
	char text[256];
	time_t now = time(nullptr);
	char stamp[32];
	strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M", localtime(&now));
	snprintf(text, sizeof(text), "Printer %s, %d dpi, %s, %.2f x %.2f in, %s",
		printer.c_str(), static_cast<int>(xres), bw != 0 ? "black and white" : "colour",
		static_cast<double>(paper.Width() / device::kUnitsPerInch),
		static_cast<double>(paper.Height() / device::kUnitsPerInch), stamp);
	return text;
}

std::string plural(int32 count, const char* one, const char* many)
{
	return std::to_string(count) + " " + (count == 1 ? one : many);
}

// A word of a command line as the shell reads it back.
std::string shell_word(const std::string& word)
{
	const char* const plain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
		"_./-+=:,@%";
	if (!word.empty() && word.find_first_not_of(plain) == std::string::npos)
		return word;
	std::string quoted = "'";
	for (char c : word)
		quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
	return quoted + "'";
}

// Whether printing the spool file again could print what this job did not: not when the
// driver refused its settings (they are the spool file's), nor when it holds only some of
// the job's pages.
bool retry_can_use(const JobAccount& account, const frontend::DocumentJobResult* spooled)
{
	if (spooled != nullptr && !spooled->spooledWhole)
		return false;
	return !(account.recorded && (account.job.stop == JobStop::settings_refused
		|| account.job.stop == JobStop::geometry_refused));
}

// The note on the spool file --keep-spool kept of a failed job: how to print it again.
void keep_for_retry(const std::string& spool, const PrintRequest& request,
	PrintOutcome* outcome)
{
	outcome->notes.push_back("the spool file is kept; to retry: tessary print "
		+ shell_word(request.printer) + " --spool " + shell_word(spool));
}

// A page setup drops the job fields; as the print server does, the job setup runs before the
// job, here confirmed as it opens, and its answer is kept.
bool confirm_missing_job_setup(const std::string& printer,
	const std::shared_ptr<frontend::DriverAddOn>& driver, BMessage* settings,
	PrintOutcome* outcome, std::string* error)
{
	std::shared_ptr<BNode> node
		= std::make_shared<BNode>(frontend::printer_folder(printer).c_str());
	std::unique_ptr<BMessage> answer(confirm_job_setup(driver, node, *settings, error));
	if (answer == nullptr) {
		*error = "no job setup since the last page setup, and the job setup failed: " + *error;
		return false;
	}
	*settings = *answer;
	if (!save_settings(printer, *settings, error))
		return false;
	outcome->notes.push_back("no job setup since the last page setup: confirmed the job setup "
		"as it opens (" + job_setup_summary(*settings) + ")");
	return true;
}

// The job's own page setup and job setup, on the printer's settings in *settings. A page
// setup drops the job fields, and the job setup opens on one copy, so the job setup follows
// every page setup here and is given the stored job setup for what the request leaves out.
bool set_up_this_job(const PrintRequest& request,
	const std::shared_ptr<frontend::DriverAddOn>& driver, BMessage* settings,
	PrintOutcome* outcome, std::string* error)
{
	const BMessage stored = *settings;
	if (request.ownPageSetup) {
		PageSetupRequest page = request.page;
		page.printer = request.printer;
		if (!page_setup_for_job(page, driver, settings, &outcome->refused, error))
			return false;
	}
	JobSetupRequest job = request.job;
	job.printer = request.printer;
	fill_job_setup_from(stored, &job);
	return job_setup_for_job(job, driver, settings, &outcome->refused, error);
}

// The account of the job in the tool's words: true only for a job printed whole. `spool` is
// the spool file of the job; `ownSpool` whether the tool wrote it.
bool report_job(const JobAccount& account, const PrintRequest& request,
	const PrinterInfo& printer, const std::string& spool, bool ownSpool,
	const frontend::DocumentJobResult* spooled, PrintOutcome* outcome, std::string* error)
{
	typedef JobAccount::Fault Fault;
	if (account.delivered) {
		outcome->bytes = account.delivery.bytes;
		outcome->destination = account.delivery.destination;
	}
	outcome->pages = account.recorded ? account.job.pages_sent : 0;
	outcome->interrupted = account.recorded && account.job.stop == JobStop::interrupted;

	if (account.Printed()) {
		if (account.job.pictures_unread > 0) {
			outcome->notes.push_back(plural(account.job.pictures_unread, "picture", "pictures")
				+ " of the spool file could not be read and were left out");
		}
		if (account.job.pictures_cut > 0) {
			outcome->notes.push_back(plural(account.job.pictures_cut, "picture", "pictures")
				+ " took too long to draw and were drawn only in part");
		}
		if (ownSpool && !request.keepSpool)
			unlink(spool.c_str());
		else if (ownSpool && !spool.empty())
			outcome->notes.push_back("spool file: " + spool);
		return true;
	}

	if (account.fault == Fault::driver && account.job.stop == JobStop::no_transport
		&& !account.delivered) {
		*error = "not printed: the job did not reach a transport (printer \"" + request.printer
			+ "\" uses \"" + printer.transport + "\"; is its add-on in "
			+ frontend::transport_folder() + "?)";
	} else {
		*error = describe_account(account);
	}
	if (!ownSpool) {
		outcome->notes.push_back("the spool file is kept: " + spool);
		return false;
	}
	// A spool in memory is gone with the job: the documents print again as they are.
	if (spool.empty())
		return false;
	// A document that failed while it was spooled ends the job where its pages end, and a
	// job stopped while it was spooled leaves a spool file of some pages: neither holds the
	// job a retry could print, and nor does one whose settings the driver refused.
	if (account.fault == Fault::document || !retry_can_use(account, spooled)) {
		unlink(spool.c_str());
		return false;
	}
	keep_for_retry(spool, request, outcome);
	return false;
}

}  // namespace

bool print_job(const PrintRequest& request, PrintOutcome* outcome, std::string* error)
{
	if (!request.existingSpool.empty() && (request.ownPageSetup || request.ownJobSetup)) {
		*error = "a spool file is printed with the settings it carries: no page or job "
			"options with --spool";
		outcome->refused = true;
		return false;
	}
	PrinterInfo printer;
	if (!find_printer(request.printer, &printer, error))
		return false;
	std::string folder = frontend::printer_folder(request.printer);

	BMessage settings;
	if (!load_settings(request.printer, &settings, error))
		return false;

	// Shared with a dialog's thread, which may outlive this call if the dialog never closes.
	std::shared_ptr<frontend::DriverAddOn> driver = std::make_shared<frontend::DriverAddOn>();
	if (!driver->Load(error))
		return false;
	std::string jobName = job_name_for(request);

	// A spool file given as it is goes to the driver unread, with its own settings: the driver
	// alone decides whether they and its pages can be printed, and says so in its record.
	if (!request.existingSpool.empty()) {
		frontend::SpoolReadFile file(request.existingSpool.c_str(), nullptr, request.progress,
			0);
		if (file.InitCheck() != B_OK) {
			*error = "cannot open the spool file " + request.existingSpool;
			return false;
		}
		JobAccount account;
		if (!frontend::run_driver_job(driver.get(), folder, &file, settings, jobName,
				&account, error))
			return false;
		return report_job(account, request, printer, request.existingSpool, false, nullptr,
			outcome, error);
	}

	if (request.ownPageSetup || request.ownJobSetup) {
		if (!set_up_this_job(request, driver, &settings, outcome, error))
			return false;
	} else if (!has_job_fields(settings)
		&& !confirm_missing_job_setup(request.printer, driver, &settings, outcome, error)) {
		return false;
	}

	char name[64];
	snprintf(name, sizeof(name), "job-%ld-%d.spool", static_cast<long>(time(nullptr)),
		static_cast<int>(getpid()));
	frontend::ReaderRequest reading;
	reading.documents = request.documents;
	reading.settings = settings;
	reading.caption = resolution_caption(settings, request.printer);
	reading.turnWidePages = request.turnWidePages;
	// Pages reach the driver through memory; a spool file the user asked to keep is written
	// into the printer's folder, as the print server keeps its jobs.
	if (request.keepSpool)
		reading.spoolPath = folder + "/" + name;
	frontend::DocumentJob job;
	job.folder = folder;
	job.jobName = jobName;
	job.progress = request.progress;
	frontend::DocumentJobResult result;
	if (!frontend::print_documents(driver.get(), reading, job, &result, error))
		return false;
	if (result.refused) {
		*error = result.refusal.InWords();
		return false;
	}
	return report_job(result.account, request, printer, reading.spoolPath, true, &result,
		outcome, error);
}

}  // namespace server
