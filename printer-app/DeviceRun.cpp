#include "DeviceRun.h"

#include "DeviceModel.h"
#include "DriverAddOn.h"
#include "DriverRun.h"
#include "JobSettings.h"
#include "PrinterFolder.h"

#include <File.h>
#include <Node.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace printer_app {

namespace {

// How often the copying thread looks at the job's cancel while the driver is quiet.
const int kCancelPollMilliseconds = 100;

// One job at a time through the driver, and the driver loaded once for the process.
std::mutex sDriverLock;
frontend::DriverAddOn* sDriver = nullptr;  // guarded by sDriverLock; lives as long as the process

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

}  // namespace

DriverOutcome judge_job(const JobAccount& account, const DeviceFeed& feed, bool cancelled)
{
	DriverOutcome outcome;
	const JobOutcome& job = account.job;
	outcome.pagesSent = account.recorded ? job.pages_sent : 0;
	if (cancelled || (account.recorded && job.stop == JobStop::interrupted)) {
		outcome.cancelled = true;
		outcome.message = account.recorded ? "cancelled: " + describe_job_outcome(job)
			: "cancelled";
		outcome.reasons = PAPPL_JREASON_JOB_CANCELED_BY_USER;
		return outcome;
	}
	// The device's failure first: the transport only saw the pipe close behind it.
	if (!feed.error.empty()) {
		outcome.message = feed.error + " after " + plural(feed.bytes, "byte", "bytes");
		outcome.reasons = PAPPL_JREASON_ABORTED_BY_SYSTEM | PAPPL_JREASON_ERRORS_DETECTED;
		return outcome;
	}
	outcome.message = describe_account(account);
	outcome.reasons = PAPPL_JREASON_ABORTED_BY_SYSTEM | PAPPL_JREASON_ERRORS_DETECTED;
	if (account.fault == JobAccount::Fault::driver && job.stop != JobStop::no_transport) {
		outcome.reasons = reasons_for(job.stop);
	} else if (account.fault == JobAccount::Fault::none && feed.bytes != account.delivery.bytes) {
		outcome.message = "only " + std::to_string(feed.bytes) + " of "
			+ plural(account.delivery.bytes, "byte", "bytes") + " reached the printer";
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
		auto* driver = new frontend::DriverAddOn();
		if (!driver->Load(&error)) {
			delete driver;
			return refused_job(error, PAPPL_JREASON_ABORTED_BY_SYSTEM);
		}
		sDriver = driver;
	}
	// The driver's folder for a PAPPL printer: printers/printer-ID below the driver's root,
	// made and labelled by the driver the first time.
	std::string folder;
	std::string name = "printer-" + std::to_string(papplPrinterGetID(papplJobGetPrinter(job)));
	if (!frontend::own_printer_folder(name, device::kPipeTransport, sDriver, &folder, &error))
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
	// The Pipe transport writes into the descriptor the folder's address names.
	{
		BNode node(folder.c_str());
		frontend::write_string_attr(node, device::kTransportAddressAttr,
			std::to_string(ends[1]));
	}
	JobAccount account;
	bool ran;
	{
		BFile spool(spoolPath.c_str(), B_READ_ONLY);
		const char* jobName = papplJobGetName(job);
		ran = frontend::run_driver_job(sDriver, folder, &spool, settings,
			jobName != nullptr ? jobName : "", &account, &error);
	}
	// The transport never closes the descriptor it was given: the end of the stream is ours.
	close(ends[1]);
	const DeviceFeed& feed = feeder.Finish();
	reset_job_stop();
	if (!ran)
		return refused_job(error, PAPPL_JREASON_ABORTED_BY_SYSTEM);
	return judge_job(account, feed, feeder.SawCancel() || papplJobIsCanceled(job));
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
