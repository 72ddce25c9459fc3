#include "DriverRun.h"

#include "DriverAddOn.h"
#include "JobSettings.h"
#include "Paths.h"

#include <File.h>
#include <Node.h>
#include <TypeConstants.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace printer_app {

namespace {

// The transport add-on that writes the driver's stream to a file descriptor.
const char* const kPipeTransport = "Pipe";

// How often the copying thread looks at the job's cancel while the driver is quiet.
const int kCancelPollMilliseconds = 100;

// One job at a time through the driver, and the driver loaded once for the process.
std::mutex sDriverLock;
server::DriverAddOn* sDriver = nullptr;  // guarded by sDriverLock; lives as long as the process

std::string plural(int64 count, const char* one, const char* many)
{
	return std::to_string(count) + " " + (count == 1 ? one : many);
}

pappl_jreason_t reasons_for(JobStop stop)
{
	switch (stop) {
		case JobStop::settings_refused:
		case JobStop::geometry_refused:
			return PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR;
		case JobStop::spool_cut:
		case JobStop::drawing_failed:
			return PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR | PAPPL_JREASON_ERRORS_DETECTED;
		default:
			return PAPPL_JREASON_ABORTED_BY_SYSTEM | PAPPL_JREASON_ERRORS_DETECTED;
	}
}

status_t write_string_attr(BNode& node, const char* name, const std::string& value)
{
	ssize_t written = node.WriteAttr(name, B_STRING_TYPE, 0, value.c_str(), value.size() + 1);
	return written < 0 ? static_cast<status_t>(written) : B_OK;
}

// The driver's folder for a PAPPL printer, made and labelled by the driver the first time:
// printers/printer-ID below the driver's root. Called with sDriverLock held.
bool printer_folder_for(pappl_printer_t* printer, std::string* folder, std::string* error)
{
	std::string name = "printer-" + std::to_string(papplPrinterGetID(printer));
	std::string folders = server::printers_folder(true);
	if (folders.empty()) {
		*error = "cannot create the driver's printers folder";
		return false;
	}
	*folder = folders + "/" + name;
	std::error_code code;
	if (fs::is_directory(*folder, code))
		return true;
	if (!fs::create_directory(*folder, code)) {
		*error = "cannot create " + *folder + ": " + code.message();
		return false;
	}
	BNode node(folder->c_str());
	status_t status = node.InitCheck();
	if (status == B_OK)
		status = write_string_attr(node, "transport", kPipeTransport);
	if (status != B_OK) {
		*error = "cannot write the attributes of " + *folder + ": " + strerror_be(status);
		fs::remove_all(*folder, code);
		return false;
	}
	if (!sDriver->AddPrinter(name, error)) {
		fs::remove_all(*folder, code);
		return false;
	}
	return true;
}

// Copies the driver's stream from the pipe to the device on a thread of its own while the
// driver writes it, and turns the job's cancel into the driver's stop request. A device
// that fails closes the pipe, so the transport's next write fails and the driver stops.
class DeviceFeeder {
public:
	DeviceFeeder(pappl_job_t* job, pappl_device_t* device, int readEnd)
		: fJob(job), fDevice(device), fReadEnd(readEnd)
	{
		fThread = std::thread([this] { _Run(); });
	}

	~DeviceFeeder() { Finish(); }

	// Waits until the pipe is drained; the caller has closed the write end.
	const DeviceFeed& Finish()
	{
		if (fThread.joinable())
			fThread.join();
		return fFeed;
	}

	bool SawCancel() const { return fSawCancel; }

private:
	void _Run()
	{
		char buffer[64 * 1024];
		for (;;) {
			if (!fSawCancel && papplJobIsCanceled(fJob)) {
				fSawCancel = true;
				request_job_stop();
			}
			pollfd ready = {fReadEnd, POLLIN, 0};
			int events = poll(&ready, 1, kCancelPollMilliseconds);
			if (events == 0 || (events < 0 && errno == EINTR))
				continue;
			ssize_t got = read(fReadEnd, buffer, sizeof(buffer));
			if (got < 0 && (errno == EINTR || errno == EAGAIN))
				continue;
			if (got < 0) {
				fFeed.error = std::string("cannot read the driver's stream: ") + strerror(errno);
				break;
			}
			if (got == 0) {
				papplDeviceFlush(fDevice);
				break;
			}
			if (papplDeviceWrite(fDevice, buffer, static_cast<size_t>(got)) < 0) {
				fFeed.error = "the printer did not take the data";
				break;
			}
			fFeed.bytes += got;
		}
		close(fReadEnd);
	}

	pappl_job_t* fJob;
	pappl_device_t* fDevice;
	int fReadEnd;
	DeviceFeed fFeed;
	bool fSawCancel = false;  // written by the thread, read after Finish
	std::thread fThread;
};

// The driver's take_job on the spool file, the transport writing into `writeEnd`. Called with
// sDriverLock held.
void take_job(const std::string& folder, const std::string& spoolPath, const BMessage& settings,
	const char* jobName, int writeEnd)
{
	BNode node(folder.c_str());
	clear_outcome(node);
	clear_job_outcome(&node);
	write_string_attr(node, kTransportAddressAttr, std::to_string(writeEnd));
	write_string_attr(node, kJobNameAttr, jobName != nullptr ? jobName : "");

	BFile spool(spoolPath.c_str(), B_READ_ONLY);
	sDriver->PrintSpool(&spool, &node, settings);
}

}  // namespace

DriverOutcome judge_job(bool recorded, const JobOutcome& job, bool delivered,
	const TransportReport& delivery, const DeviceFeed& feed, bool cancelled)
{
	DriverOutcome outcome;
	outcome.pagesSent = recorded ? job.pages_sent : 0;
	if (cancelled || (recorded && job.stop == JobStop::interrupted)) {
		outcome.cancelled = true;
		outcome.message = recorded ? "cancelled: " + describe_job_outcome(job) : "cancelled";
		outcome.reasons = PAPPL_JREASON_JOB_CANCELED_BY_USER;
		return outcome;
	}
	// The device's failure first: the transport only saw the pipe close behind it.
	if (!feed.error.empty()) {
		outcome.message = feed.error + " after " + plural(feed.bytes, "byte", "bytes");
		outcome.reasons = PAPPL_JREASON_ABORTED_BY_SYSTEM | PAPPL_JREASON_ERRORS_DETECTED;
		return outcome;
	}
	JobAccount account = account_for_job(recorded, job, delivered, delivery);
	outcome.message = account.line;
	outcome.reasons = PAPPL_JREASON_ABORTED_BY_SYSTEM | PAPPL_JREASON_ERRORS_DETECTED;
	if (account.fault == JobAccount::Fault::driver && job.stop != JobStop::no_transport) {
		outcome.reasons = reasons_for(job.stop);
	} else if (account.fault == JobAccount::Fault::none && feed.bytes != delivery.bytes) {
		outcome.message = "only " + std::to_string(feed.bytes) + " of "
			+ plural(delivery.bytes, "byte", "bytes") + " reached the printer";
	} else if (account.fault == JobAccount::Fault::none) {
		outcome.printed = true;
		outcome.reasons = PAPPL_JREASON_NONE;
		outcome.message = describe_job_outcome(job);
	}
	return outcome;
}

DriverOutcome refused_job(const std::string& message, pappl_jreason_t reason)
{
	DriverOutcome outcome;
	outcome.message = message;
	outcome.reasons = reason;
	return outcome;
}

DriverOutcome cancelled_job(int32 pagesSpooled)
{
	DriverOutcome outcome;
	outcome.cancelled = true;
	outcome.message = "cancelled before printing (" + plural(pagesSpooled, "page", "pages")
		+ " prepared)";
	outcome.reasons = PAPPL_JREASON_JOB_CANCELED_BY_USER;
	return outcome;
}

DriverOutcome print_spool(pappl_job_t* job, pappl_device_t* device,
	const std::string& spoolPath, const BMessage& settings)
{
	std::lock_guard<std::mutex> lock(sDriverLock);
	std::string error;
	if (sDriver == nullptr) {
		auto* driver = new server::DriverAddOn();
		if (!driver->Load(&error)) {
			delete driver;
			return refused_job(error, PAPPL_JREASON_ABORTED_BY_SYSTEM);
		}
		sDriver = driver;
	}
	std::string folder;
	if (!printer_folder_for(papplJobGetPrinter(job), &folder, &error))
		return refused_job(error, PAPPL_JREASON_ABORTED_BY_SYSTEM);
	// A cancel that came while the job waited for the driver.
	if (papplJobIsCanceled(job))
		return cancelled_job(0);

	int ends[2];
	if (pipe2(ends, O_CLOEXEC) != 0) {
		return refused_job(std::string("cannot make a pipe for the driver's stream: ")
			+ strerror(errno), PAPPL_JREASON_ABORTED_BY_SYSTEM);
	}
	reset_job_stop();
	DeviceFeeder feeder(job, device, ends[0]);
	take_job(folder, spoolPath, settings, papplJobGetName(job), ends[1]);
	// The transport never closes the descriptor it was given: the end of the stream is ours.
	close(ends[1]);
	const DeviceFeed& feed = feeder.Finish();
	reset_job_stop();

	BNode node(folder.c_str());
	JobOutcome record;
	bool recorded = read_job_outcome(&node, &record);
	TransportReport delivery;
	bool delivered = read_transport_outcome(node, &delivery);
	return judge_job(recorded, record, delivered, delivery, feed,
		feeder.SawCancel() || papplJobIsCanceled(job));
}

bool finish_job(pappl_job_t* job, const DriverOutcome& outcome, bool countImpressions)
{
	if (countImpressions)
		papplJobSetImpressionsCompleted(job, outcome.pagesSent);
	if (!outcome.message.empty())
		papplJobSetMessage(job, "%s", outcome.message.c_str());
	if (outcome.reasons != PAPPL_JREASON_NONE)
		papplJobSetReasons(job, outcome.reasons, PAPPL_JREASON_NONE);
	papplLogJob(job, outcome.printed ? PAPPL_LOGLEVEL_INFO : PAPPL_LOGLEVEL_ERROR, "%s",
		outcome.message.c_str());
	return outcome.printed;
}

JobSpoolFile::JobSpoolFile(pappl_job_t* job)
{
	char name[PATH_MAX];
	int fd = papplJobOpenFile(job, name, sizeof(name), nullptr, "spool", "w");
	if (fd < 0)
		return;
	close(fd);
	fPath = name;
}

JobSpoolFile::~JobSpoolFile()
{
	if (!fPath.empty())
		unlink(fPath.c_str());
}

}  // namespace printer_app
