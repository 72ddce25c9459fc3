// pdftotessary: the CUPS filter of the Tessary driver for PDF. PDF in (as CUPS's own pdftopdf
// leaves it, having done the page ranges, number-up, scaling and orientation), the driver's
// PCL out.
//
//	pdftotessary job-id user title copies options [file]
//
// The PDF is printed as `tessary print` prints one: the document reader, a process of its own
// under limits, lays its pages out on the paper and draws them with poppler at the job's
// resolution into a spool in memory, while the driver already prints the pages before (page k
// goes to the printer while page k + 1 is drawn). The driver's add-on, its transport "Pipe" to
// standard output and the reader are those the filter was built or installed with, run in a
// private root folder below $TMPDIR that is removed when the filter ends (FilterDriver.h).
// Input on standard input is kept in that folder first: poppler reads a file. A file named
// as the last argument is read through a link there. The reader takes a PDF alone: a
// document whose contents are of another kind is refused, whatever its name.
//
// Settings are those the raster filter would take from the pages CUPS rasterises for the same
// job: the page header that the PPD's marked options make (PageSize, Resolution, ColorModel)
// is read as rastertotessary reads each raster page's header. Copies are the driver's, the
// copies argument, unless the job asks for collated copies: pdftopdf then repeats the whole
// document itself (the PPD offers no collating), and the driver prints each page once. The
// PPD's Compression option says how the driver sends its rows.
//
// Standard error carries CUPS's messages: INFO: as pages begin, PAGE: for each page printed
// whole, ERROR: for why the job did not print. The exit status is 0 when every page printed,
// or when SIGTERM cancelled the job: it then stops at the driver's next band and sends nothing
// more. Anything else (a document poppler cannot read, a PPD that makes no page the driver
// prints, a stream that could not be written) ends with an ERROR: line and status 1.

#include "DeviceModel.h"
#include "DocumentPrint.h"
#include "FilterDriver.h"
#include "FilterJob.h"
#include "FilterOptions.h"
#include "JobAccount.h"
#include "KeptInput.h"
#include "JobOutcome.h"
#include "JobSettings.h"
#include "RasterPage.h"

#include <Message.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// #pragma mark - input

// Copies standard input into `path`; false with the reason, or when the job was cancelled.
bool keep_standard_input(const std::string& path, std::string* error)
{
	int out = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
	if (out < 0) {
		*error = "cannot create " + path + ": " + strerror(errno);
		return false;
	}
	off_t bytes = 0;
	int number = 0;
	frontend::KeepResult result = frontend::keep_input(0, out, &bytes, &number,
		cups_filter::cancelled);
	bool kept = result == frontend::KeepResult::kKept;
	if (result == frontend::KeepResult::kReadFailed)
		*error = std::string("cannot read the PDF: ") + strerror(number);
	else if (result == frontend::KeepResult::kWriteFailed)
		*error = "cannot write " + path + ": " + strerror(number);
	if (close(out) != 0 && kept) {
		*error = "cannot write " + path + ": " + strerror(errno);
		kept = false;
	}
	return kept && !cups_filter::cancelled();
}

// Links `path` to the file named as the filter's last argument.
bool name_input(const char* file, const std::string& path, std::string* error)
{
	std::error_code code;
	fs::path target = fs::absolute(file, code);
	if (!code)
		fs::create_symlink(target, path, code);
	if (code) {
		*error = std::string("cannot read the PDF ") + file + ": " + code.message();
		return false;
	}
	return true;
}

// #pragma mark - settings

// The driver's copies of each page: the copies argument, or one where pdftopdf made collated
// copies. False with the reason for a count the driver does not make.
bool driver_copies(const char* argument, const cups_filter::FilterOptions& options,
	int16* copies, std::string* error)
{
	char* end = nullptr;
	long count = strtol(argument, &end, 10);
	if (end == argument || *end != '\0' || count < 1)
		count = 1;
	if (count > 32767) {
		*error = "the driver makes at most 32767 copies, not " + std::to_string(count);
		return false;
	}
	*copies = static_cast<int16>(options.Collated() ? 1 : count);
	return true;
}

// The settings message of the job, as a confirmed page setup and job setup would leave it
// for the PPD's page; the device's defaults without a PPD. False with the reason for a page
// the driver does not print.
bool job_settings(const cups_filter::FilterOptions& options, int16 copies, BMessage* settings,
	std::string* error)
{
	device::default_settings(settings);
	store_field(settings, kCopiesField, copies);
	if (!options.HasPpd())
		return true;
	cups_page_header2_t header;
	frontend::RasterPage page;
	if (!options.PageHeader(&header, error)
		|| !frontend::read_raster_page(header, frontend::RasterRules(), &page, error))
		return false;
	frontend::store_raster_page(page, settings);
	return true;
}

// #pragma mark - messages

// INFO: as the driver begins a page, and PAGE: for each page before it, which it has sent
// whole. The driver tells its pages on the thread that runs the job, this one.
class PageMessages {
public:
	explicit PageMessages(int16 copies) : fCopies(copies) {}

	void Begun(int32 page)
	{
		if (page < fBegun)
			return;
		_Report(page);
		fprintf(stderr, "INFO: Printing page %d\n", static_cast<int>(page + 1));
		fBegun = page + 1;
	}

	// The job has ended with `sent` pages sent whole.
	void Ended(int32 sent) { _Report(sent); }

private:
	// PAGE: for the pages up to `whole`, from 1, not yet reported.
	void _Report(int32 whole)
	{
		for (; fReported < whole; fReported++) {
			fprintf(stderr, "PAGE: %d %d\n", static_cast<int>(fReported + 1),
				static_cast<int>(fCopies));
		}
	}

	int16 fCopies;
	int32 fBegun = 0;     // pages the driver has begun
	int32 fReported = 0;  // pages reported whole
};

}  // namespace

int main(int argc, char* argv[])
{
	// Arguments; CUPS gives five or six, a person may ask for the version.
	int status = cups_filter::check_arguments(argc, argv, "pdftotessary");
	if (status >= 0)
		return status;

	// A cancelled job stops at the driver's next band.
	cups_filter::watch_for_cancel();

	// Options, settings and input
	cups_filter::FilterOptions options;
	cups_filter::FilterDriver driver("pdftotessary");
	std::string error;
	int16 copies = 1;
	BMessage settings;
	if (!options.Read(argv[5], &error) || !driver_copies(argv[4], options, &copies, &error)) {
		fprintf(stderr, "ERROR: %s\n", error.c_str());
		return 1;
	}
	if (!job_settings(options, copies, &settings, &error)) {
		fprintf(stderr, "ERROR: The job cannot be printed: %s\n", error.c_str());
		return 1;
	}
	if (!driver.MakeRoot(&error)) {
		fprintf(stderr, "ERROR: %s\n", error.c_str());
		return 1;
	}
	std::string document = driver.File("document.pdf");
	if (argc == 7 ? !name_input(argv[6], document, &error)
			: !keep_standard_input(document, &error)) {
		if (cups_filter::cancelled()) {
			fputs("INFO: Job cancelled after 0 pages\n", stderr);
			return 0;
		}
		fprintf(stderr, "ERROR: %s\n", error.c_str());
		return 1;
	}
	if (!driver.Open(options.Compression(), &error)) {
		fprintf(stderr, "ERROR: %s\n", error.c_str());
		return 1;
	}

	// The document, printed as it is read
	frontend::ReaderRequest reading;
	reading.documents = {document};
	reading.settings = settings;
	reading.onlyKind = "PDF";
	// reading.spoolPath stays empty: the pages reach the driver through memory.
	PageMessages messages(copies);
	frontend::DocumentJob job;
	job.folder = driver.Printer();
	job.jobName = argv[3];
	job.keepWhole = false;  // nobody prints again from the filter's spool file
	job.pageBegun = [&messages](int32 page) { messages.Begun(page); };
	frontend::DocumentJobResult result;
	if (!frontend::print_documents(driver.AddOn(), reading, job, &result, &error)) {
		fprintf(stderr, "ERROR: %s\n", error.c_str());
		return 1;
	}
	if (result.refused) {
		fprintf(stderr, "ERROR: The PDF cannot be printed: %s\n", result.refusal.reason.c_str());
		return 1;
	}

	// How it went
	const JobAccount& account = result.account;
	int32 sent = account.recorded ? account.job.pages_sent : 0;
	if (account.Printed()) {
		messages.Ended(sent);
		fprintf(stderr, "INFO: Printed %d page%s\n", static_cast<int>(sent),
			sent == 1 ? "" : "s");
		return 0;
	}
	if (cups_filter::cancelled()
		|| (account.recorded && account.job.stop == JobStop::interrupted)) {
		fprintf(stderr, "INFO: Job cancelled after %d page%s\n", static_cast<int>(sent),
			sent == 1 ? "" : "s");
		return 0;
	}
	if (account.fault == JobAccount::Fault::driver && account.job.stop_page > 0) {
		fprintf(stderr, "ERROR: page %d: %s\n", static_cast<int>(account.job.stop_page),
			account_reason(account).c_str());
	} else {
		fprintf(stderr, "ERROR: %s\n", account_reason(account).c_str());
	}
	return 1;
}
