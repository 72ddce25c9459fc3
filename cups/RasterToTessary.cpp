// rastertotessary: the CUPS filter of the Tessary driver. CUPS raster in, the driver's PCL
// out.
//
//	rastertotessary job-id user title copies options [file]
//
// The filter prints through the driver itself, as the print server does: every raster page
// becomes the page of a spool file (its pixels at the raster's resolution, which the band
// renderer draws 1:1), with a settings message made from the page's header, and take_job
// sends it through the "Pipe" transport to standard output. The driver's add-on and the
// transport are those the filter was built or installed with, linked into a private root
// folder below $TMPDIR that is removed when the filter ends (FilterDriver.h). The PPD's
// Compression option says how the driver sends its rows, through that printer's folder.
//
// Pages go to the driver one at a time, one spool file each. Every sheet of the driver's
// stream carries its own page header and form feed, so a job's stream is its pages' streams
// one after the other: the bytes are those of one spool file of the whole job, while the disk
// holds one page and the printer has page one while page two is still being read.
//
// Settings come from each page header: the page size in points becomes "paper_rect" in
// 1/75 inch, the resolution "xres" and "yres", the colour space "BWMode", and NumCopies
// "copies": the driver makes the copies, and the header's count is the one to use (where CUPS
// made the copies itself the header says 1, while the copies argument still says how many).
// A page the driver cannot print (a resolution it does not offer, a paper beyond its limits)
// is refused before any byte of it is written: the driver is asked first with a job of no
// pages, which it refuses or sends as nothing.
//
// Standard error carries CUPS's messages: INFO: as pages begin, PAGE: for each page printed
// whole, ERROR: for why the job did not print. The exit status is 0 when every page printed,
// or when SIGTERM cancelled the job: it then stops at the driver's next band and sends nothing
// more. Anything else (input that is not CUPS raster, a raster cut short, a page refused, a
// stream that could not be written) ends with an ERROR: line and status 1.

#include "DeviceModel.h"
#include "DriverAddOn.h"
#include "DriverRun.h"
#include "FilterDriver.h"
#include "FilterJob.h"
#include "FilterOptions.h"
#include "JobAccount.h"
#include "JobOutcome.h"
#include "JobSettings.h"
#include "PixelPage.h"
#include "RasterPage.h"
#include "RasterPrint.h"
#include "Spool.h"

#include <File.h>

#include <cups/raster.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// #pragma mark - raster input

// The filter's input as libcups reads it, counted. A header that cannot be read ends the job
// only where the input ends right after a page; bytes after the last page that make no header
// are a raster cut short (libcups reads uncompressed raster, what CUPS's own filters send,
// without reading ahead, so the count after a page is exact there).
struct RasterInput {
	int fd = 0;
	bool ended = false;
	uint64 bytes = 0;         // given to libcups so far
	uint64 pageEnd = 0;       // given to libcups when the last page (or the sync word) was read
};

ssize_t read_input(void* context, unsigned char* buffer, size_t length)
{
	RasterInput* input = static_cast<RasterInput*>(context);
	for (;;) {
		ssize_t got = read(input->fd, buffer, length);
		if (got < 0 && errno == EINTR && !cups_filter::cancelled())
			continue;
		if (got == 0)
			input->ended = true;
		else if (got > 0)
			input->bytes += static_cast<uint64>(got);
		return got;
	}
}

struct RasterCloser {
	void operator()(cups_raster_t* raster) const { cupsRasterClose(raster); }
};
typedef std::unique_ptr<cups_raster_t, RasterCloser> Raster;

// #pragma mark - pages

// The settings message the driver reads for the page, as a confirmed page setup and job
// setup would leave it.
BMessage page_settings(const frontend::RasterPage& page)
{
	BMessage settings;
	device::default_settings(&settings);
	frontend::store_raster_page(page, &settings);
	store_field(&settings, kCopiesField, page.copies);
	return settings;
}

enum class PageResult { printed, cancelled, failed };

// Reads one page of raster into a spool file and prints it.
PageResult print_page(frontend::RasterPrinter& printer, cups_raster_t* raster,
	RasterInput* input, const cups_page_header2_t& header, const frontend::RasterPage& request,
	int page)
{
	typedef frontend::RasterPrinter::Result Result;
	frontend::RasterPrinter::PageOutcome outcome = printer.PrintPage(raster, header, request,
		page_settings(request), [] { return cups_filter::cancelled(); });
	input->pageEnd = input->bytes;
	if (outcome.result == Result::kCancelled)
		return PageResult::cancelled;
	if (outcome.result == Result::kFailed && outcome.rasterCut) {
		fprintf(stderr, "ERROR: The raster ends inside page %d (row %u of %u).\n", page,
			outcome.rowsRead + 1, header.cupsHeight);
		return PageResult::failed;
	}
	if (outcome.result == Result::kFailed) {
		fprintf(stderr, "ERROR: page %d: %s\n", page, outcome.reason.c_str());
		return PageResult::failed;
	}
	fprintf(stderr, "PAGE: %d %d\n", page, static_cast<int>(request.copies));
	return PageResult::printed;
}

}  // namespace

int main(int argc, char* argv[])
{
	// Arguments; CUPS gives five or six, a person may ask for the version.
	int status = cups_filter::check_arguments(argc, argv, "rastertotessary");
	if (status >= 0)
		return status;
	RasterInput input;
	if (argc == 7) {
		input.fd = open(argv[6], O_RDONLY | O_CLOEXEC);
		if (input.fd < 0) {
			fprintf(stderr, "ERROR: Unable to open the raster file %s: %s\n", argv[6],
				strerror(errno));
			return 1;
		}
	}

	// A cancelled job stops at the driver's next band.
	cups_filter::watch_for_cancel();

	Raster raster(cupsRasterOpenIO(read_input, &input, CUPS_RASTER_READ));
	if (raster == nullptr) {
		if (cups_filter::cancelled())
			return 0;
		fputs(input.bytes == 0 ? "ERROR: No pages found.\n"
			: "ERROR: The input is not CUPS raster.\n", stderr);
		return 1;
	}

	input.pageEnd = input.bytes;

	cups_filter::FilterOptions options;
	cups_filter::FilterDriver driver("rastertotessary");
	std::string error;
	if (!options.Read(argv[5], &error) || !driver.Open(options.Compression(), &error)) {
		fprintf(stderr, "ERROR: %s\n", error.c_str());
		return 1;
	}

	// Pages, each printed as soon as it is read
	frontend::RasterPrinter printer(driver.AddOn(), driver.Printer(), "CUPS job");
	int page = 0;
	int printed = 0;
	cups_page_header2_t header;
	while (!cups_filter::cancelled() && cupsRasterReadHeader2(raster.get(), &header)) {
		page++;
		frontend::RasterPage request;
		std::string refusal;
		if (!frontend::read_raster_page(header, frontend::RasterRules(), &request, &refusal)
			|| !printer.Takes(request, page_settings(request), &refusal)) {
			if (cups_filter::cancelled())
				break;
			fprintf(stderr, "ERROR: Page %d cannot be printed: %s\n", page, refusal.c_str());
			return 1;
		}
		fprintf(stderr, "INFO: Printing page %d\n", page);
		PageResult result = print_page(printer, raster.get(), &input, header, request, page);
		if (result == PageResult::failed)
			return 1;
		if (result == PageResult::cancelled)
			break;
		printed++;
	}

	// The end of the input, a cancelled job, or damage
	if (cups_filter::cancelled()) {
		fprintf(stderr, "INFO: Job cancelled after %d page%s\n", printed, printed == 1 ? "" : "s");
		return 0;
	}
	std::string damage = cupsRasterErrorString() != nullptr ? cupsRasterErrorString() : "";
	while (!damage.empty() && (damage.back() == '\n' || damage.back() == ' '))
		damage.pop_back();
	if (input.ended && input.bytes > input.pageEnd && damage.empty()) {
		fprintf(stderr, "ERROR: The raster ends inside the header of page %d.\n", page + 1);
		return 1;
	}
	if (!input.ended || !damage.empty()) {
		fprintf(stderr, "ERROR: The raster is damaged after page %d%s%s\n", page,
			damage.empty() ? "." : ": ", damage.c_str());
		return 1;
	}
	if (page == 0) {
		fputs("ERROR: No pages found.\n", stderr);
		return 1;
	}
	fprintf(stderr, "INFO: Printed %d page%s\n", page, page == 1 ? "" : "s");
	return 0;
}
