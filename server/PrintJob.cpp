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
#include "SpoolFeed.h"
#include "TransportOutcome.h"

#include <File.h>
#include <Node.h>
#include <TypeConstants.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace server {

namespace {

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

// The notes of a job that did not print: where its spool file is.
void keep_spool(const std::string& spoolPath, PrintOutcome* outcome)
{
	outcome->notes.push_back("the spool file is kept: " + spoolPath);
}

// Reads what the driver and the transport recorded of the job and turns it into the tool's
// answer: true only for a job the driver sent whole and the transport delivered whole.
bool report_job(BNode& printerNode, const PrintRequest& request, const PrinterInfo& printer,
	const std::string& spoolPath, bool ownSpool, const std::string& spoolError,
	PrintOutcome* outcome, std::string* error)
{
	JobOutcome job;
	bool recorded = read_job_outcome(&printerNode, &job);
	// A stop request that found the driver waiting for pages still being spooled ends the
	// job where the spool ends: the user stopped it all the same.
	if (recorded && !job.Completed() && job_stop_requested() && ownSpool)
		job.stop = JobStop::interrupted;
	TransportReport delivery;
	bool delivered = read_transport_outcome(printerNode, &delivery);
	if (delivered) {
		outcome->bytes = delivery.bytes;
		outcome->destination = delivery.destination;
	}
	outcome->pages = recorded ? job.pages_sent : 0;
	outcome->interrupted = recorded && job.stop == JobStop::interrupted;

	JobAccount account = account_for_job(recorded, job, delivered, delivery);
	if (account.fault == JobAccount::Fault::driver && job.stop == JobStop::no_transport
		&& !delivered) {
		*error = "not printed: the job did not reach a transport (printer \"" + request.printer
			+ "\" uses \"" + printer.transport + "\"; is its add-on in "
			+ transport_folder() + "?)";
	} else if (account.fault == JobAccount::Fault::driver && !spoolError.empty()
		&& job.stop != JobStop::no_transport && job.stop != JobStop::interrupted) {
		// A document that failed while it was spooled ends the job where its pages end.
		*error = (job.pages_sent > 0 ? "printed " + std::to_string(job.pages_sent) + " of "
			+ std::to_string(job.pages_announced) + " pages: " : std::string("not printed: "))
			+ spoolError;
		unlink(spoolPath.c_str());
		return false;
	} else if (account.fault != JobAccount::Fault::none) {
		*error = account.line;
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

// The documents of a job, each opened for the page setup (one that cannot be read refuses
// the whole job), and the pages of each that the settings' page range picks.
struct SpoolPlan {
	std::vector<std::unique_ptr<Document>> documents;
	int32 firstPage = 1;
	int32 lastPage = -1;

	// Pages of document `index` that go into the spool file: [*first, *end).
	void Range(size_t index, int32* first, int32* end) const
	{
		int32 count = documents[index]->CountPages();
		*end = lastPage >= 0 ? std::min(lastPage, count) : count;
		*first = std::max(firstPage, 1) - 1;
	}

	int32 Pages() const
	{
		int64 pages = 0;
		for (size_t i = 0; i < documents.size(); i++) {
			int32 first, end;
			Range(i, &first, &end);
			pages += std::max(end - first, 0);
		}
		return static_cast<int32>(std::min<int64>(pages, INT32_MAX));
	}
};

bool plan_spool(const std::vector<std::string>& documents, const BMessage& settings,
	const std::string& caption, bool turnWidePages, SpoolPlan* plan, std::string* error)
{
	PageSetup setup = PageSetup::FromSettings(settings, turnWidePages);
	if (!setup.paper.IsValid() || setup.paper.Width() < 1 || setup.paper.Height() < 1) {
		*error = "the paper size in the settings cannot be printed";
		return false;
	}
	// Every document is opened before a page is written: one that cannot be read refuses
	// the whole job.
	if (documents.empty())
		plan->documents.push_back(open_test_page(setup, caption));
	for (const std::string& document : documents) {
		plan->documents.push_back(open_document(document, setup, error));
		if (plan->documents.back() == nullptr)
			return false;
	}
	settings.FindInt32(kFirstPageField, &plan->firstPage);
	settings.FindInt32(kLastPageField, &plan->lastPage);
	return true;
}

// Records the plan's pages into the writer, telling `feed` (when given) of each whole page;
// `stop` returning true ends the spooling early. Each document is let go once its pages
// are written. False (with *error) when a page could not be recorded or the spooling was
// stopped.
bool spool_pages(SpoolPlan* plan, SpoolWriter* writer, SpoolFeed* feed,
	const std::function<bool()>& stop, std::string* error)
{
	for (size_t i = 0; i < plan->documents.size(); i++) {
		int32 first, end;
		plan->Range(i, &first, &end);
		// The page range picks pages of each document; pages outside it are never drawn.
		for (int32 page = first; page < end; page++) {
			if (stop && stop()) {
				*error = "stopped after " + std::to_string(writer->PageCount()) + " pages";
				return false;
			}
			off_t start = writer->Position();
			if (!plan->documents[i]->RecordPage(page, writer, error))
				return false;
			if (feed != nullptr)
				feed->Commit(writer->Position(), start);
		}
		plan->documents[i].reset();
	}
	return true;
}

}  // namespace

bool write_spool(const std::string& path, const std::vector<std::string>& documents,
	const BMessage& settings, const std::string& caption, int32* pages, std::string* error,
	bool turnWidePages, const std::function<bool()>& stopped)
{
	SpoolPlan plan;
	if (!plan_spool(documents, settings, caption, turnWidePages, &plan, error))
		return false;
	SpoolWriter writer;
	if (!writer.Open(path, settings, error, plan.Pages()))
		return false;
	if (!spool_pages(&plan, &writer, nullptr, stopped, error) || !writer.Close(error)) {
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
	SpoolPlan plan;
	SpoolWriter writer;
	SpoolFeed feed;
	int32 pages = 0;
	if (ownSpool) {
		char name[64];
		snprintf(name, sizeof(name), "job-%ld-%d.spool", static_cast<long>(time(nullptr)),
			static_cast<int>(getpid()));
		spoolPath = folder + "/" + name;
		if (!plan_spool(request.documents, settings,
				resolution_caption(settings, request.printer), request.turnWidePages, &plan,
				error))
			return false;
		pages = plan.Pages();
		if (!writer.Open(spoolPath, settings, error, pages))
			return false;
		feed.Commit(writer.Position());
	}
	// A spool file given as it is goes to the driver unread: the driver alone decides
	// whether its settings and pages can be printed, and says so in its record.

	BNode printerNode(folder.c_str());
	if (printerNode.InitCheck() != B_OK) {
		*error = "cannot open the printer folder " + folder;
		if (ownSpool)
			unlink(spoolPath.c_str());
		return false;
	}
	clear_outcome(printerNode);
	clear_job_outcome(&printerNode);
	std::string jobName = job_name_for(request);
	printerNode.WriteAttr(kJobNameAttr, B_STRING_TYPE, 0, jobName.c_str(), jobName.size() + 1);

	// The documents are spooled on a thread of their own while the driver prints the pages
	// spooled before: page k + 1 is drawn while page k goes to the printer. The driver stops
	// the spooling early only when the user stops the job.
	std::string spoolError;
	std::thread spooler;
	std::atomic<bool> abandon(false);
	bool spooledWhole = false;
	auto spool = [&] {
		if (spool_pages(&plan, &writer, &feed,
				[&] { return abandon.load() || job_stop_requested(); }, &spoolError))
			spooledWhole = writer.Close(&spoolError);
		feed.Finish();
	};
	if (ownSpool) {
		try {
			spooler = std::thread(spool);
		} catch (const std::system_error&) {
			spool();  // no thread to be had: spooled first, then printed
		}
	}

	{
		SpoolReadFile spoolFile(spoolPath.c_str(), ownSpool ? &feed : nullptr,
			request.progress, pages);
		if (spoolFile.InitCheck() != B_OK) {
			abandon = true;
			if (spooler.joinable())
				spooler.join();
			*error = "cannot open the spool file " + spoolPath;
			return false;
		}
		driver->PrintSpool(&spoolFile, &printerNode, settings);
		// A job stopped by the user stops its spooling too. Any other job that ended early
		// lets the spooling finish, so that the spool file it keeps is whole.
		if (job_stop_requested())
			abandon = true;
		if (spooler.joinable())
			spooler.join();
	}

	if (ownSpool && abandon)
		spoolError.clear();  // stopped by the user, which the driver's record says
	bool printed = report_job(printerNode, request, printer, spoolPath, ownSpool, spoolError,
		outcome, error);
	// A spool file kept before it was finished says how much of the job it holds.
	if (!printed && ownSpool && !spooledWhole) {
		for (std::string& note : outcome->notes) {
			if (note.rfind("the spool file is kept: ", 0) == 0) {
				note += " (it holds " + std::to_string(writer.PageCount()) + " of "
					+ std::to_string(pages) + " pages)";
			}
		}
	}
	return printed;
}

}  // namespace server
