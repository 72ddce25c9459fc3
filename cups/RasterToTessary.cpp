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
// folder below $TMPDIR that is removed when the filter ends.
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

#include "DriverAddOn.h"
#include "JobOutcome.h"
#include "JobSettings.h"
#include "Paths.h"
#include "PixelPage.h"
#include "SettingsStore.h"
#include "Spool.h"
#include "TransportOutcome.h"

#include <File.h>
#include <Node.h>
#include <TypeConstants.h>

#include <cups/raster.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
// fontconfig leaves part of its configuration parse unreachable for the life of the process;
// a sanitizer build of the filter should not report the library's leak as its own.
extern "C" const char* __lsan_default_suppressions()
{
	return "leak:libfontconfig.so\n";
}
#endif

namespace {

volatile sig_atomic_t sCancelled = 0;  // set by SIGTERM: CUPS cancelled the job

// The first SIGTERM asks the job to stop at its next band; a second one ends the process.
void cancel_job(int)
{
	sCancelled = 1;
	request_job_stop();
}

// Page units (1/75 inch) of a length in points.
float page_units(float points)
{
	return points * 75.0f / 72.0f;
}

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
		if (got < 0 && errno == EINTR && !sCancelled)
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

// What one raster page asks of the driver, and how its rows are read.
struct PageRequest {
	BRect paper;             // page units
	BRect printable;         // page units
	int32 dpi = 0;
	bool gray = false;
	int16 copies = 1;
	int32 columns = 0;       // dots of each row given to the driver: the raster's, up to the paper's
	int32 rows = 0;          // rows given to the driver, likewise
	int32 channels = 0;      // 3 (red, green, blue) or 1 (grey)
	int32 bitsPerColor = 0;  // 8 or 16
	bool inverted = false;   // black (CUPS_CSPACE_K): 0 is white paper

	// Whether a job of these settings is the one the driver was last asked about.
	bool SameSettings(const PageRequest& other) const
	{
		return paper == other.paper && dpi == other.dpi && gray == other.gray
			&& copies == other.copies;
	}
};

// Reads what the header asks for; false with the reason when the driver cannot print it.
bool read_page_request(const cups_page_header2_t& header, PageRequest* request,
	std::string* refusal)
{
	char text[160];
	if (header.HWResolution[0] != header.HWResolution[1]
		|| (header.HWResolution[0] != 300 && header.HWResolution[0] != 150
			&& header.HWResolution[0] != 75)) {
		snprintf(text, sizeof(text), "the driver prints at 300, 150 or 75 dpi, not at %ux%u dpi",
			header.HWResolution[0], header.HWResolution[1]);
		*refusal = text;
		return false;
	}
	request->dpi = static_cast<int32>(header.HWResolution[0]);

	switch (header.cupsColorSpace) {
		case CUPS_CSPACE_RGB:
		case CUPS_CSPACE_SRGB:
		case CUPS_CSPACE_ADOBERGB:
			request->channels = 3;
			break;
		case CUPS_CSPACE_W:
		case CUPS_CSPACE_SW:
		case CUPS_CSPACE_K:
			request->channels = 1;
			break;
		default:
			snprintf(text, sizeof(text), "the driver prints RGB or grey raster, not colour "
				"space %u", static_cast<unsigned>(header.cupsColorSpace));
			*refusal = text;
			return false;
	}
	request->gray = request->channels == 1;
	request->inverted = header.cupsColorSpace == CUPS_CSPACE_K;
	request->bitsPerColor = static_cast<int32>(header.cupsBitsPerColor);
	if (header.cupsColorOrder != CUPS_ORDER_CHUNKED
		|| (header.cupsBitsPerColor != 8 && header.cupsBitsPerColor != 16)
		|| header.cupsBitsPerPixel != header.cupsBitsPerColor * request->channels
		|| header.cupsBytesPerLine
			!= header.cupsWidth * static_cast<unsigned>(header.cupsBitsPerPixel / 8)) {
		snprintf(text, sizeof(text), "the driver prints chunky raster of 8 or 16 bits a "
			"colour, not order %u at %u bits a colour, %u a pixel",
			static_cast<unsigned>(header.cupsColorOrder), header.cupsBitsPerColor,
			header.cupsBitsPerPixel);
		*refusal = text;
		return false;
	}

	float width = header.cupsPageSize[0] > 0 ? header.cupsPageSize[0] : header.PageSize[0];
	float height = header.cupsPageSize[1] > 0 ? header.cupsPageSize[1] : header.PageSize[1];
	if (!std::isfinite(width) || !std::isfinite(height) || width < 1 || height < 1
		|| width > 1e6f || height > 1e6f) {
		snprintf(text, sizeof(text), "the page has no size the driver can print "
			"(%.1f x %.1f points)", static_cast<double>(width), static_cast<double>(height));
		*refusal = text;
		return false;
	}
	request->paper = BRect(0, 0, page_units(width), page_units(height));
	request->printable = request->paper;
	const unsigned* box = header.ImagingBoundingBox;  // points from the bottom left
	if (box[2] > box[0] && box[3] > box[1]) {
		request->printable = BRect(page_units(box[0]), page_units(height - box[3]),
			page_units(box[2]), page_units(height - box[1]));
	}

	if (header.NumCopies > 32767) {
		snprintf(text, sizeof(text), "the driver makes at most 32767 copies, not %u",
			header.NumCopies);
		*refusal = text;
		return false;
	}
	request->copies = static_cast<int16>(header.NumCopies > 0 ? header.NumCopies : 1);

	// Rows and columns beyond the paper are read and left out; a raster larger than its page
	// by more than an inch is not a page of that paper.
	double dotsPerPoint = request->dpi / 72.0;
	double paperColumns = std::ceil(width * dotsPerPoint);
	double paperRows = std::ceil(height * dotsPerPoint);
	if (header.cupsWidth < 1 || header.cupsHeight < 1
		|| header.cupsWidth > paperColumns + request->dpi
		|| header.cupsHeight > paperRows + request->dpi) {
		snprintf(text, sizeof(text), "the raster page of %u x %u dots does not fit its paper "
			"of %.0f x %.0f dots", header.cupsWidth, header.cupsHeight, paperColumns, paperRows);
		*refusal = text;
		return false;
	}
	request->columns = static_cast<int32>(std::min<double>(header.cupsWidth, paperColumns));
	request->rows = static_cast<int32>(std::min<double>(header.cupsHeight, paperRows));
	return true;
}

// The settings message the driver reads for the page, as a confirmed page setup and job
// setup would leave it.
BMessage page_settings(const PageRequest& request)
{
	BMessage settings;
	server::default_settings(&settings);
	settings.RemoveName(kPreviousSettingsField);  // no row of the paper table was chosen
	store_field(&settings, kPageWidthField, request.paper.Width() / 75);
	store_field(&settings, kPageHeightField, request.paper.Height() / 75);
	store_field(&settings, kPaperRectField, request.paper);
	store_field(&settings, kPrintableRectField, request.printable);
	store_field(&settings, kCopiesField, request.copies);
	store_field(&settings, kBWModeField, int16(request.gray ? 1 : 0));
	store_field(&settings, kQualityTypeField, server::quality_type_for(request.dpi));
	store_field(&settings, kXResField, request.dpi);
	store_field(&settings, kYResField, request.dpi);
	return settings;
}

// One raster row in the form the pixel page takes (8 bits a colour): rows of 8-bit RGB or
// grey are handed on as they are, others are converted into `scratch`.
const uint8* driver_row(const PageRequest& request, const uint8* row, std::vector<uint8>* scratch)
{
	if (request.bitsPerColor == 8 && !request.inverted)
		return row;
	size_t values = static_cast<size_t>(request.columns) * request.channels;
	scratch->resize(values);
	for (size_t i = 0; i < values; i++) {
		uint8 value;
		if (request.bitsPerColor == 16) {
			uint16 wide;  // libcups hands 16-bit values over in this machine's order
			memcpy(&wide, row + 2 * i, sizeof(wide));
			value = static_cast<uint8>(wide >> 8);
		} else {
			value = row[i];
		}
		(*scratch)[i] = request.inverted ? static_cast<uint8>(255 - value) : value;
	}
	return scratch->data();
}

// #pragma mark - the driver

// The driver as this filter runs it: the add-on loaded from a private root folder that holds
// one printer, whose transport is "Pipe" to standard output.
class Driver {
public:
	~Driver()
	{
		fAddOn.reset();  // unloaded before its folder goes
		if (!fRoot.empty()) {
			std::error_code ignored;
			fs::remove_all(fRoot, ignored);
		}
	}

	bool Open(std::string* error)
	{
		const char* temporary = getenv("TMPDIR");
		std::string pattern = std::string(temporary != nullptr && temporary[0] != '\0'
			? temporary : "/tmp") + "/rastertotessary-XXXXXX";
		if (mkdtemp(pattern.data()) == nullptr) {
			*error = "cannot create a folder in " + pattern + ": " + strerror(errno);
			return false;
		}
		fRoot = pattern;
		setenv("TESSARY_ROOT", fRoot.c_str(), 1);
		fAddOn = std::make_unique<server::DriverAddOn>();
		if (!fAddOn->Load(error))
			return false;
		fPrinter = server::printers_folder(true) + "/CUPS";
		std::error_code code;
		fs::create_directories(fPrinter, code);
		BNode node(fPrinter.c_str());
		// No address: the transport's default, standard output.
		ssize_t written = node.InitCheck() != B_OK ? node.InitCheck()
			: node.WriteAttr("transport", B_STRING_TYPE, 0, "Pipe", sizeof("Pipe"));
		if (written < 0) {
			// The printer folder keeps what the driver and the transport record in extended
			// attributes, which the file system of $TMPDIR must take.
			*error = "cannot set up the printer folder " + fPrinter + ": "
				+ strerror_be(static_cast<status_t>(written));
			return false;
		}
		return true;
	}

	std::string SpoolPath() const { return fRoot + "/page.spool"; }

	// Prints the spool file; the driver's and the transport's records say how it went.
	void TakeJob(BMessage settings, JobOutcome* job, TransportReport* delivery)
	{
		BNode printer(fPrinter.c_str());
		{
			BFile spool(SpoolPath().c_str(), B_READ_ONLY);
			fAddOn->PrintSpool(&spool, &printer, settings);
		}
		if (!read_job_outcome(&printer, job)) {
			job->stop = JobStop::no_transport;
			job->detail = "the driver left no account of the job";
		}
		if (!read_transport_outcome(printer, delivery))
			*delivery = TransportReport();
		unlink(SpoolPath().c_str());
	}

private:
	std::string fRoot;
	std::string fPrinter;
	std::unique_ptr<server::DriverAddOn> fAddOn;
};

// Why a job the driver ran did not print whole, in the user's words; empty when it did.
std::string job_failure(const JobOutcome& job, const TransportReport& delivery)
{
	if (!delivery.error.empty())
		return delivery.error;
	if (!job.Completed())
		return describe_job_outcome(job);
	return std::string();
}

// Asks the driver whether it can print pages of the request: a job of no pages, which it
// refuses before any byte or sends as nothing at all.
bool driver_takes(Driver& driver, const PageRequest& request, std::string* refusal)
{
	server::SpoolWriter spool;
	if (!spool.Open(driver.SpoolPath(), page_settings(request), refusal)
		|| !spool.Close(refusal))
		return false;
	JobOutcome job;
	TransportReport delivery;
	driver.TakeJob(page_settings(request), &job, &delivery);
	*refusal = job_failure(job, delivery);
	const std::string head = "not printed: ";
	if (refusal->compare(0, head.size(), head) == 0)
		refusal->erase(0, head.size());
	return refusal->empty();
}

enum class PageResult { printed, cancelled, failed };

// Reads one page of raster into a spool file and prints it.
PageResult print_page(Driver& driver, cups_raster_t* raster, RasterInput* input,
	const cups_page_header2_t& header, const PageRequest& request, int page)
{
	std::string error;
	server::SpoolWriter spool;
	server::PixelPageWriter pixels;
	server::PixelArea area;
	area.width = request.columns;
	area.height = request.rows;
	area.dotsPerUnit = request.dpi / 75;
	auto sink = [&spool](const server::SpooledPicture& strip, std::string* stripError) {
		return spool.AddPicture(strip, stripError);
	};
	if (!spool.Open(driver.SpoolPath(), page_settings(request), &error)
		|| !spool.BeginPage(&error)
		|| !pixels.Begin(area, request.channels == 3 ? B_RGB24_BIG : B_GRAY8, sink, &error)) {
		fprintf(stderr, "ERROR: page %d: %s\n", page, error.c_str());
		return PageResult::failed;
	}

	// Every row of the raster is read; those beyond the paper are left out.
	std::vector<uint8> row(header.cupsBytesPerLine);
	std::vector<uint8> scratch;
	for (unsigned y = 0; y < header.cupsHeight; y++) {
		if (sCancelled)
			return PageResult::cancelled;
		if (cupsRasterReadPixels(raster, row.data(), header.cupsBytesPerLine)
			!= header.cupsBytesPerLine) {
			if (sCancelled)
				return PageResult::cancelled;
			fprintf(stderr, "ERROR: The raster ends inside page %d (row %u of %u).\n", page,
				y + 1, header.cupsHeight);
			return PageResult::failed;
		}
		if (static_cast<int32>(y) < request.rows
			&& !pixels.AddRow(driver_row(request, row.data(), &scratch), &error)) {
			fprintf(stderr, "ERROR: page %d: %s\n", page, error.c_str());
			return PageResult::failed;
		}
	}
	input->pageEnd = input->bytes;
	if (!pixels.Finish(&error) || !spool.EndPage(&error) || !spool.Close(&error)) {
		fprintf(stderr, "ERROR: page %d: %s\n", page, error.c_str());
		return PageResult::failed;
	}

	JobOutcome job;
	TransportReport delivery;
	driver.TakeJob(page_settings(request), &job, &delivery);
	if (job.stop == JobStop::interrupted || sCancelled)
		return PageResult::cancelled;
	std::string failure = job_failure(job, delivery);
	if (!failure.empty()) {
		fprintf(stderr, "ERROR: page %d: %s\n", page, failure.c_str());
		return PageResult::failed;
	}
	fprintf(stderr, "PAGE: %d %d\n", page, static_cast<int>(request.copies));
	return PageResult::printed;
}

}  // namespace

int main(int argc, char* argv[])
{
	// Arguments and input
	if (argc < 6 || argc > 7) {
		fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
		return 1;
	}
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
	struct sigaction action = {};
	action.sa_handler = cancel_job;
	action.sa_flags = SA_RESETHAND;
	sigemptyset(&action.sa_mask);
	sigaction(SIGTERM, &action, nullptr);

	Raster raster(cupsRasterOpenIO(read_input, &input, CUPS_RASTER_READ));
	if (raster == nullptr) {
		if (sCancelled)
			return 0;
		fputs(input.bytes == 0 ? "ERROR: No pages found.\n"
			: "ERROR: The input is not CUPS raster.\n", stderr);
		return 1;
	}

	input.pageEnd = input.bytes;

	Driver driver;
	std::string error;
	if (!driver.Open(&error)) {
		fprintf(stderr, "ERROR: %s\n", error.c_str());
		return 1;
	}

	// Pages, each printed as soon as it is read
	int page = 0;
	int printed = 0;
	PageRequest asked;  // the settings the driver last said it takes
	bool askedOnce = false;
	cups_page_header2_t header;
	while (!sCancelled && cupsRasterReadHeader2(raster.get(), &header)) {
		page++;
		PageRequest request;
		std::string refusal;
		if (!read_page_request(header, &request, &refusal)
			|| (!(askedOnce && request.SameSettings(asked))
				&& !driver_takes(driver, request, &refusal))) {
			if (sCancelled)
				break;
			fprintf(stderr, "ERROR: Page %d cannot be printed: %s\n", page, refusal.c_str());
			return 1;
		}
		asked = request;
		askedOnce = true;
		fprintf(stderr, "INFO: Printing page %d\n", page);
		PageResult result = print_page(driver, raster.get(), &input, header, request, page);
		if (result == PageResult::failed)
			return 1;
		if (result == PageResult::cancelled)
			break;
		printed++;
	}

	// The end of the input, a cancelled job, or damage
	if (sCancelled) {
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
