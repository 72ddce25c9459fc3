#include "JobRunner.h"

#include "Documents.h"
#include "DriverAddOn.h"
#include "JobOutcome.h"
#include "JobSettings.h"
#include "Paths.h"
#include "Printers.h"
#include "SettingsStore.h"
#include "SetupCommands.h"
#include "Spool.h"
#include "TransportOutcome.h"

#include <File.h>
#include <Node.h>
#include <TypeConstants.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace fs = std::filesystem;

namespace server {

namespace {

// The spool file as the driver reads it, telling the progress bar which page the driver has
// reached (it reads each page's records just before it renders the page).
class ProgressFile : public BFile {
public:
	ProgressFile(const char* path, std::vector<off_t> pageStarts, bool show)
		: BFile(path, B_READ_ONLY), fPageStarts(std::move(pageStarts)), fShow(show)
	{
	}

	~ProgressFile() override
	{
		if (fShow && fShown > 0)
			fprintf(stderr, "\n");
	}

	ssize_t Read(void* buffer, size_t size) override
	{
		_Report(Position());
		return BFile::Read(buffer, size);
	}

private:
	void _Report(off_t position)
	{
		if (!fShow || fPageStarts.empty())
			return;
		size_t page = static_cast<size_t>(
			std::upper_bound(fPageStarts.begin(), fPageStarts.end(), position)
			- fPageStarts.begin());
		if (page == 0 || page == fShown)
			return;
		fShown = page;
		const int width = 30;
		int filled = static_cast<int>(width * page / fPageStarts.size());
		fprintf(stderr, "\r[%s%s] page %zu of %zu", std::string(filled, '#').c_str(),
			std::string(width - filled, ' ').c_str(), page, fPageStarts.size());
		fflush(stderr);
	}

	std::vector<off_t> fPageStarts;
	bool fShow;
	size_t fShown = 0;
};

std::string job_name_for(const PrintRequest& request)
{
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
		static_cast<double>((paper.Width()) / 75), static_cast<double>((paper.Height()) / 75),
		stamp);
	return text;
}

// Page offsets of a spool file, for the progress bar. A record whose next offset does not lie
// past its own header ends the walk, and no more offsets are kept than the file has room for
// page headers.
std::vector<off_t> page_starts(const std::string& path)
{
	std::vector<off_t> starts;
	BFile file(path.c_str(), B_READ_ONLY);
	if (file.InitCheck() != B_OK)
		return starts;
	uint8 header[28];
	BMessage settings;
	if (file.ReadExactly(header, sizeof(header)) != B_OK || settings.Unflatten(&file) != B_OK)
		return starts;
	int32 pages = static_cast<int32>(header[4] | header[5] << 8 | header[6] << 16
		| static_cast<uint32>(header[7]) << 24);
	off_t size = 0;
	file.GetSize(&size);
	off_t position = file.Position();
	const off_t kPageHeaderSize = 52;
	for (int32 page = 0; page < pages && position + kPageHeaderSize <= size; page++) {
		starts.push_back(position);
		uint8 pageHeader[12];
		if (file.ReadAt(position, pageHeader, sizeof(pageHeader)) != sizeof(pageHeader))
			break;
		int64 next = 0;
		for (int i = 0; i < 8; i++)
			next |= static_cast<int64>(pageHeader[4 + i]) << (8 * i);
		if (next < position + kPageHeaderSize)
			break;
		position = next;
	}
	return starts;
}

// The notes of a job that did not print: where its spool file is.
void keep_spool(const std::string& spoolPath, PrintOutcome* outcome)
{
	outcome->notes.push_back("the spool file is kept: " + spoolPath);
}

// Reads what the driver and the transport recorded of the job and turns it into the tool's
// answer: true only for a job the driver sent whole and the transport delivered whole.
bool report_job(BNode& printerNode, const PrintRequest& request, const PrinterInfo& printer,
	const std::string& spoolPath, bool ownSpool, PrintOutcome* outcome, std::string* error)
{
	JobOutcome job;
	bool recorded = read_job_outcome(&printerNode, &job);
	TransportReport delivery;
	bool delivered = read_transport_outcome(printerNode, &delivery);
	if (delivered) {
		outcome->bytes = delivery.bytes;
		outcome->destination = delivery.destination;
	}
	outcome->pages = recorded ? job.pages_sent : 0;
	outcome->interrupted = recorded && job.stop == JobStop::interrupted;

	if (!recorded) {
		*error = "the driver left no account of the job; it may not have printed";
	} else if (job.stop == JobStop::no_transport) {
		// A transport that could not open says why in its own record.
		if (delivered && !delivery.error.empty())
			*error = "not printed: " + delivery.error;
		else if (!delivered)
			*error = "not printed: the job did not reach a transport (printer \"" + request.printer
				+ "\" uses \"" + printer.transport + "\"; is its add-on in "
				+ transport_folder() + "?)";
		else
			*error = describe_job_outcome(job);
	} else if (delivered && !delivery.error.empty()) {
		*error = "the job failed after " + std::to_string(delivery.bytes) + " bytes: "
			+ delivery.error;
	} else if (!job.Completed()) {
		*error = describe_job_outcome(job);
	} else if (!delivered) {
		*error = "the transport left no account of the job; it may not have printed";
	} else {
		if (job.pictures_unread > 0) {
			outcome->notes.push_back(std::to_string(job.pictures_unread)
				+ (job.pictures_unread == 1 ? " picture" : " pictures")
				+ " of the spool file could not be read and were left out");
		}
		if (job.pictures_cut > 0) {
			outcome->notes.push_back(std::to_string(job.pictures_cut)
				+ (job.pictures_cut == 1 ? " picture" : " pictures")
				+ " took too long to draw and were drawn only in part");
		}
		if (ownSpool && !request.keepSpool)
			unlink(spoolPath.c_str());
		else if (ownSpool)
			outcome->notes.push_back("spool file: " + spoolPath);
		return true;
	}
	keep_spool(spoolPath, outcome);
	return false;
}

}  // namespace

bool write_spool(const std::string& path, const std::vector<std::string>& documents,
	const BMessage& settings, const std::string& caption, int32* pages, std::string* error,
	bool turnWidePages, const std::function<bool()>& stopped)
{
	PageSetup setup = PageSetup::FromSettings(settings, turnWidePages);
	if (!setup.paper.IsValid() || setup.paper.Width() < 1 || setup.paper.Height() < 1) {
		*error = "the paper size in the settings cannot be printed";
		return false;
	}

	// Every document is opened before a page is written: one that cannot be read refuses
	// the whole job.
	std::vector<std::unique_ptr<Document>> opened;
	if (documents.empty())
		opened.push_back(open_test_page(setup, caption));
	for (const std::string& document : documents) {
		opened.push_back(open_document(document, setup, error));
		if (opened.back() == nullptr)
			return false;
	}

	int32 firstPage = 1;
	int32 lastPage = -1;
	settings.FindInt32(kFirstPageField, &firstPage);
	settings.FindInt32(kLastPageField, &lastPage);

	SpoolWriter writer;
	if (!writer.Open(path, settings, error))
		return false;
	bool done = true;
	for (size_t i = 0; i < opened.size() && done; i++) {
		// The page range picks pages of each document; pages outside it are never drawn.
		int32 count = opened[i]->CountPages();
		int32 end = lastPage >= 0 ? std::min(lastPage, count) : count;
		for (int32 page = std::max(firstPage, 1) - 1; page < end && done; page++) {
			if (stopped && stopped()) {
				*error = "stopped after " + std::to_string(writer.PageCount()) + " pages";
				done = false;
			} else {
				done = opened[i]->RecordPage(page, &writer, error);
			}
		}
		opened[i].reset();
	}
	if (!done || !writer.Close(error)) {
		unlink(path.c_str());
		return false;
	}
	*pages = writer.PageCount();
	return true;
}

bool print_job(const PrintRequest& request, PrintOutcome* outcome, std::string* error)
{
	PrinterInfo printer;
	if (!find_printer(request.printer, &printer, error))
		return false;
	std::string folder = printer_folder(request.printer);

	BMessage settings;
	if (!load_settings(request.printer, &settings, error))
		return false;

	// Shared with a dialog's thread, which may outlive this call if the dialog never closes.
	std::shared_ptr<DriverAddOn> driver = std::make_shared<DriverAddOn>();
	if (!driver->Load(error))
		return false;

	// A page setup drops the job fields; as the print server does, the job setup runs before
	// the job, here confirmed as it opens, and its answer is kept. A spool file given as it
	// is carries its own settings.
	if (request.existingSpool.empty() && !has_job_fields(settings)) {
		std::shared_ptr<BNode> node = std::make_shared<BNode>(folder.c_str());
		std::unique_ptr<BMessage> answer(confirm_job_setup(driver, node, settings, error));
		if (answer == nullptr) {
			*error = "no job setup since the last page setup, and the job setup failed: "
				+ *error;
			return false;
		}
		settings = *answer;
		if (!save_settings(request.printer, settings, error))
			return false;
		outcome->notes.push_back("no job setup since the last page setup: confirmed the job "
			"setup as it opens (" + job_setup_summary(settings) + ")");
	}

	// The spool file goes into the printer's folder, as the print server keeps its jobs.
	std::string spoolPath = request.existingSpool;
	bool ownSpool = spoolPath.empty();
	if (ownSpool) {
		char name[64];
		snprintf(name, sizeof(name), "job-%ld-%d.spool", static_cast<long>(time(nullptr)),
			static_cast<int>(getpid()));
		spoolPath = folder + "/" + name;
		if (!write_spool(spoolPath, request.documents, settings,
				resolution_caption(settings, request.printer), &outcome->pages, error,
				request.turnWidePages))
			return false;
	}
	// A spool file given as it is goes to the driver unread: the driver alone decides
	// whether its settings and pages can be printed, and says so in its record.

	BNode printerNode(folder.c_str());
	if (printerNode.InitCheck() != B_OK) {
		*error = "cannot open the printer folder " + folder;
		return false;
	}
	clear_outcome(printerNode);
	clear_job_outcome(&printerNode);
	std::string jobName = job_name_for(request);
	printerNode.WriteAttr(kJobNameAttr, B_STRING_TYPE, 0, jobName.c_str(), jobName.size() + 1);

	// The driver finds the printer's node through the "printer" field of the settings.
	int32 token = register_node_token(&printerNode);
	store_field(&settings, kPrinterField, token);
	{
		ProgressFile spool(spoolPath.c_str(), page_starts(spoolPath), request.progress);
		if (spool.InitCheck() != B_OK) {
			unregister_node_token(token);
			*error = "cannot open the spool file " + spoolPath;
			return false;
		}
		delete driver->TakeJob(&spool, &printerNode, &settings);
	}
	unregister_node_token(token);

	return report_job(printerNode, request, printer, spoolPath, ownSpool, outcome, error);
}

}  // namespace server
