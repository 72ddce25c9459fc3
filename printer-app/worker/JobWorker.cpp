// tessary-job: one job of the printer application, in a process of its own. The driver's
// engine state is process-wide, so every job gets a process: jobs on different printers print
// at once, and a job that dies ends only itself.
//
//	tessary-job --printer NAME --settings FILE --job-name NAME --result FD
//		[--compression none|tiff] (--raster | --document FILE | --test-page)
//
// The driver's stream goes to standard output, where the application copies it to the
// printer's device. With --document the job's document is read by the document reader (a
// process of its own again, under limits) while the driver prints it; with --raster standard
// input carries CUPS raster (the PWG and Apple raster pages the application was handed), each
// page printed as soon as it is read; with --test-page the driver's test page is printed.
// --compression is the printer's setting, which the driver reads from the job's printer
// folder. SIGTERM stops the job at the driver's next band. When the job has ended, its
// account is written to the result descriptor as a flattened message ("refused" true for a
// document that could not be read at all, "account" as JobAccount.h writes it); the exit
// status is 0 whenever an account was written.
#include "DeviceModel.h"
#include "DocumentPrint.h"
#include "DriverAddOn.h"
#include "DriverFolders.h"
#include "JobAccount.h"
#include "JobOutcome.h"
#include "JobSegments.h"
#include "JobSettings.h"
#include "PrinterFolder.h"
#include "RasterPage.h"
#include "RasterPrint.h"
#include "TessaryVersion.h"

#include <DataIO.h>
#include <File.h>
#include <Message.h>

#include <cups/raster.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions()
{
	return "leak:libfontconfig.so\n";
}
#endif

namespace {

struct WorkerOptions {
	std::string printer;
	std::string settings;
	std::string jobName;
	int result = -1;
	bool raster = false;
	bool testPage = false;
	std::string document;
	std::string compression = device::kCompressions[device::kDefaultCompression].name;
};

bool parse_options(int argc, char** argv, WorkerOptions* options)
{
	for (int i = 1; i < argc; i++) {
		std::string option = argv[i];
		if (option == "--raster") {
			options->raster = true;
			continue;
		}
		if (option == "--test-page") {
			options->testPage = true;
			continue;
		}
		if (i + 1 >= argc)
			return false;
		const char* value = argv[++i];
		if (option == "--printer") {
			options->printer = value;
		} else if (option == "--settings") {
			options->settings = value;
		} else if (option == "--job-name") {
			options->jobName = value;
		} else if (option == "--document") {
			options->document = value;
		} else if (option == "--compression") {
			if (device::compression_row(value) < 0)
				return false;
			options->compression = value;
		} else if (option == "--result") {
			char* end = nullptr;
			long fd = strtol(value, &end, 10);
			if (end == value || *end != '\0' || fd < 3 || fd > 1 << 20)
				return false;
			options->result = static_cast<int>(fd);
		} else {
			return false;
		}
	}
	int inputs = (options->raster ? 1 : 0) + (options->testPage ? 1 : 0)
		+ (options->document.empty() ? 0 : 1);
	return !options->printer.empty() && !options->settings.empty() && options->result >= 0
		&& inputs == 1;
}

void stop_job_on_signal(int)
{
	request_job_stop();
}

// The job's end, for the application.
struct WorkerResult {
	bool refused = false;
	JobAccount account;
};

bool write_result(int fd, const WorkerResult& result)
{
	BMessage message;
	message.AddBool("refused", result.refused);
	BMessage account;
	account_to_message(result.account, &account);
	message.AddMessage("account", &account);
	ssize_t size = message.FlattenedSize();
	std::string flat(static_cast<size_t>(size), '\0');
	if (message.Flatten(flat.data(), size) != B_OK)
		return false;
	const char* bytes = flat.data();
	size_t left = flat.size();
	while (left > 0) {
		ssize_t written = write(fd, bytes, left);
		if (written < 0 && errno == EINTR)
			continue;
		if (written <= 0)
			return false;
		bytes += written;
		left -= static_cast<size_t>(written);
	}
	return true;
}

// A job that could not even begin: the reason, as the driver would give one it refused.
WorkerResult not_started(const std::string& reason)
{
	WorkerResult result;
	result.account.fault = JobAccount::Fault::driver;
	result.account.recorded = true;
	result.account.job.stop = JobStop::no_transport;
	result.account.job.detail = reason;
	return result;
}

// Adds the account of a run of the job's pages (a page of raster, a run of a document printed
// with settings of its own) to the job's: pages and bytes add up, the run's end is the job's.
void add_run(const JobAccount& run, JobAccount* job)
{
	int32 sent = job->job.pages_sent;
	int32 announced = job->job.pages_announced;
	int64 bytes = job->delivery.bytes;
	*job = run;
	job->job.pages_sent += sent;
	job->job.pages_announced += announced;
	if (job->job.stop_page > 0)
		job->job.stop_page += announced;
	job->delivery.bytes += bytes;
}

WorkerResult print_document(frontend::DriverAddOn* driver, const std::string& folder,
	const WorkerOptions& options, const BMessage& settings)
{
	frontend::DocumentJob job;
	job.folder = folder;
	job.jobName = options.jobName;
	job.keepWhole = false;  // nobody retries from the spool file of a printer application
	WorkerResult result;
	JobAccount& account = result.account;
	account.recorded = true;
	account.delivered = true;
	// Each run of pages with settings of its own is a driver job of its own: the driver
	// prints every page of a job at one resolution, on one paper.
	std::vector<BMessage> runs = printer_app::settings_of_segments(settings);
	for (size_t i = 0; i < runs.size() && !job_stop_requested(); i++) {
		frontend::ReaderRequest reading;
		if (!options.testPage)
			reading.documents = {options.document};
		reading.caption = "Tessary printer application, " + options.printer + ", "
			+ options.jobName;
		reading.settings = runs[i];  // and the spool in memory
		frontend::DocumentJobResult printed;
		std::string error;
		if (!frontend::print_documents(driver, reading, job, &printed, &error))
			return i == 0 ? not_started(error) : result;
		if (printed.refused) {
			result.refused = i == 0;
			account.fault = JobAccount::Fault::document;
			account.file = printed.refusal.file;
			account.reason = printed.refusal.reason;
			return result;
		}
		add_run(printed.account, &account);
		// A run that begins past the document's last page prints nothing, nor do the rest.
		if (!account.Printed() || printed.pagesPlanned == 0)
			break;
	}
	return result;
}

WorkerResult print_raster(frontend::DriverAddOn* driver, const std::string& folder,
	const WorkerOptions& options, BMessage settings)
{
	typedef frontend::RasterPrinter::Result Result;
	cups_raster_t* raster = cupsRasterOpen(0, CUPS_RASTER_READ);
	if (raster == nullptr)
		return not_started("the raster pages cannot be read");
	frontend::RasterPrinter printer(driver, folder, options.jobName);
	frontend::RasterRules rules;
	rules.paper = frontend::RasterPaper::kRasterSize;
	rules.oneBitBlack = true;

	WorkerResult result;
	JobAccount& account = result.account;
	account.recorded = true;
	account.delivered = true;
	int32 pages = 0;
	int32 resolution = 0;
	cups_page_header2_t header;
	while (!job_stop_requested() && cupsRasterReadHeader2(raster, &header)) {
		frontend::RasterPage page;
		std::string refusal;
		if (!frontend::read_raster_page(header, rules, &page, &refusal)
			|| (resolution != 0 && page.dpi != resolution)) {
			if (refusal.empty())
				refusal = "the pages change resolution within the job";
			account.fault = JobAccount::Fault::driver;
			account.job.stop = JobStop::geometry_refused;
			account.job.detail = refusal;
			break;
		}
		resolution = page.dpi;
		BMessage pageSettings = settings;
		frontend::store_raster_page(page, &pageSettings);
		if (!printer.Takes(page, pageSettings, &refusal)) {
			account.fault = JobAccount::Fault::driver;
			account.job.stop = JobStop::geometry_refused;
			account.job.detail = refusal;
			break;
		}
		frontend::RasterPrinter::PageOutcome outcome = printer.PrintPage(raster, header, page,
			pageSettings, [] { return job_stop_requested(); });
		if (outcome.result == Result::kFailed && outcome.account.fault
			== JobAccount::Fault::none && !outcome.account.recorded) {
			// The page never reached the driver: its raster or its spool file failed.
			account.fault = JobAccount::Fault::document;
			account.reason = outcome.rasterCut ? "the raster ends inside page "
				+ std::to_string(pages + 1) : outcome.reason;
			break;
		}
		add_run(outcome.account, &account);
		if (outcome.result != Result::kPrinted) {
			if (outcome.result == Result::kCancelled) {
				account.fault = JobAccount::Fault::driver;
				account.job.stop = JobStop::interrupted;
			}
			break;
		}
		pages++;
	}
	cupsRasterClose(raster);
	if (job_stop_requested() && account.Printed()) {
		account.fault = JobAccount::Fault::driver;
		account.job.stop = JobStop::interrupted;
	} else if (pages == 0 && account.Printed()) {
		account.fault = JobAccount::Fault::document;
		account.reason = "the document has no pages";
	}
	account.job.pages_announced = std::max(account.job.pages_announced, pages);
	return result;
}

}  // namespace

int main(int argc, char** argv)
{
	if (answer_version(argc, argv, "tessary-job"))
		return 0;
	WorkerOptions options;
	if (!parse_options(argc, argv, &options)) {
		fprintf(stderr, "usage: %s --printer NAME --settings FILE --job-name NAME --result FD "
			"[--compression none|tiff] (--raster | --document FILE | --test-page)\n", argv[0]);
		return 2;
	}
	// A job outlives no application: it ends with the process that started it.
	prctl(PR_SET_PDEATHSIG, SIGKILL);
	signal(SIGPIPE, SIG_IGN);
	struct sigaction action = {};
	action.sa_handler = stop_job_on_signal;
	sigemptyset(&action.sa_mask);
	sigaction(SIGTERM, &action, nullptr);

	WorkerResult result;
	BMessage settings;
	frontend::DriverAddOn driver;
	std::string folder;
	std::string error;
	BFile settingsFile(options.settings.c_str(), B_READ_ONLY);
	if (settingsFile.InitCheck() != B_OK || settings.Unflatten(&settingsFile) != B_OK) {
		result = not_started("the job's settings cannot be read");
	} else if (!driver.Load(&error)
		|| !frontend::own_printer_folder(options.printer, device::kPipeTransport, &driver,
			&folder, &error)) {
		result = not_started(error);
	} else {
		// The Pipe transport writes to standard output, which the application reads.
		BNode node(folder.c_str());
		frontend::write_string_attr(node, device::kTransportAddressAttr, "1");
		frontend::write_string_attr(node, device::kCompressionAttr, options.compression);
		result = options.raster ? print_raster(&driver, folder, options, settings)
			: print_document(&driver, folder, options, settings);
	}
	return write_result(options.result, result) ? 0 : 1;
}
