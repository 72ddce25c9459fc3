#include "DeviceRun.h"

#include "Devices.h"
#include "DriverFolders.h"
#include "Drivers.h"

#include <File.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <deque>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace printer_app {

namespace {

const char* const kWorkerProgram = "tessary-job";
// The descriptor a worker writes its account to.
const int kResultFd = 3;
// How often the watching thread looks at the job's cancel and the worker.
const std::chrono::milliseconds kWatchInterval(100);
// A cancelled worker that has not stopped at a band by then is ended.
const std::chrono::seconds kCancelGrace(2);
// A worker that neither writes nor ends for this long has stopped making progress (the
// document reader it waits for gives up sooner).
const std::chrono::seconds kWorkerStall(180);

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

// #pragma mark - turns

std::mutex sTurnLock;
std::condition_variable sTurnChanged;
std::set<int> sBusyPrinters;                 // printers whose turn is taken
std::map<int, std::set<int>> sWaitingJobs;   // by printer: jobs waiting, the oldest first
// Jobs are numbered per printer: a job is known by its printer's number and its own.
typedef std::pair<int, int> JobKey;
std::set<JobKey> sRunningJobs;                  // jobs holding a turn
std::map<JobKey, DriverOutcome> sFinishedJobs;  // the last jobs' outcomes
const size_t kFinishedJobsKept = 1000;
std::deque<JobKey> sFinishedOrder;              // the same, oldest first
std::set<JobKey> sHeldJobs;                     // jobs held here until their turn

struct WaitingJob {
	int id;
	pappl_job_t* job;
	ipp_jstate_t state;
};

void list_job(pappl_job_t* job, void* data)
{
	static_cast<std::vector<WaitingJob>*>(data)->push_back(
		{papplJobGetID(job), job, papplJobGetState(job)});
}

// Leaves the oldest of the printer's waiting jobs the one PAPPL starts next: PAPPL 1.3.1 takes
// the newest pending job first. The others are held here until their turn (a job a user holds
// stays the user's). Called with no job of the printer printing, or at the end of the one
// that is.
void queue_oldest_job(pappl_printer_t* printer)
{
	std::vector<WaitingJob> jobs;
	papplPrinterIterateActiveJobs(printer, list_job, &jobs, 1, 0);
	int printerId = papplPrinterGetID(printer);
	std::vector<WaitingJob> waiting;
	{
		std::lock_guard<std::mutex> guard(sTurnLock);
		for (const WaitingJob& job : jobs) {
			if (job.state == IPP_JSTATE_PENDING || (job.state == IPP_JSTATE_HELD
					&& sHeldJobs.count(JobKey(printerId, job.id)) > 0))
				waiting.push_back(job);
		}
	}
	if (waiting.empty())
		return;
	const WaitingJob* oldest = &waiting.front();
	for (const WaitingJob& job : waiting)
		oldest = job.id < oldest->id ? &job : oldest;
	for (const WaitingJob& job : waiting) {
		if (job.id == oldest->id || job.state != IPP_JSTATE_PENDING)
			continue;
		if (papplJobHold(job.job, nullptr, "indefinite", 0)) {
			std::lock_guard<std::mutex> guard(sTurnLock);
			sHeldJobs.insert(JobKey(printerId, job.id));
		}
	}
	if (oldest->state == IPP_JSTATE_HELD) {
		{
			std::lock_guard<std::mutex> guard(sTurnLock);
			sHeldJobs.erase(JobKey(printerId, oldest->id));
		}
		papplJobRelease(oldest->job, nullptr);
	}
}

void queue_idle_printer(pappl_printer_t* printer, void*)
{
	{
		std::lock_guard<std::mutex> guard(sTurnLock);
		if (sBusyPrinters.count(papplPrinterGetID(printer)) > 0 || sHeldJobs.empty())
			return;
	}
	if (papplPrinterGetState(printer) != IPP_PSTATE_PROCESSING)
		queue_oldest_job(printer);
}

}  // namespace

// #pragma mark - outcomes

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
	if (account.fault == JobAccount::Fault::document) {
		outcome.reasons = PAPPL_JREASON_DOCUMENT_FORMAT_ERROR | PAPPL_JREASON_ERRORS_DETECTED;
	} else if (account.fault == JobAccount::Fault::driver
		&& job.stop != JobStop::no_transport) {
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

bool finish_job(pappl_job_t* job, const DriverOutcome& outcome, bool countImpressions)
{
	if (countImpressions)
		papplJobSetImpressionsCompleted(job, outcome.pagesSent);
	if (!outcome.message.empty())
		papplJobSetMessage(job, "%s", outcome.message.c_str());
	if (outcome.reasons != PAPPL_JREASON_NONE)
		papplJobSetReasons(job, outcome.reasons, PAPPL_JREASON_NONE);
	// A job that was cancelled ends as cancelled, not aborted: PAPPL takes the cancel it
	// sees when the callback returns.
	if (outcome.cancelled && !papplJobIsCanceled(job))
		papplJobCancel(job);
	papplLogJob(job, outcome.printed ? PAPPL_LOGLEVEL_INFO : PAPPL_LOGLEVEL_ERROR, "%s",
		outcome.message.c_str());
	return outcome.printed;
}

// #pragma mark - turns

PrinterTurn::PrinterTurn(pappl_job_t* job)
	:
	fJob(job),
	fPrinter(papplPrinterGetID(papplJobGetPrinter(job))),
	fJobId(papplJobGetID(job))
{
	const JobKey key(fPrinter, fJobId);
	std::unique_lock<std::mutex> guard(sTurnLock);
	if (sRunningJobs.count(key) > 0 || sFinishedJobs.count(key) > 0) {
		fRepeated = true;
		sTurnChanged.wait(guard, [key] { return sRunningJobs.count(key) == 0; });
		auto finished = sFinishedJobs.find(key);
		if (finished != sFinishedJobs.end())
			fOutcome = finished->second;
		papplLogJob(fJob, PAPPL_LOGLEVEL_WARN, "Started a second time; it has run already.");
		return;
	}
	// Turns go in the order the jobs came: the lowest job number first.
	sRunningJobs.insert(key);
	std::set<int>& waiting = sWaitingJobs[fPrinter];
	waiting.insert(fJobId);
	sTurnChanged.wait(guard, [this, &waiting] {
		return sBusyPrinters.count(fPrinter) == 0 && *waiting.begin() == fJobId;
	});
	waiting.erase(fJobId);
	sBusyPrinters.insert(fPrinter);
}

PrinterTurn::~PrinterTurn()
{
	if (fRepeated)
		return;
	{
		std::lock_guard<std::mutex> guard(sTurnLock);
		const JobKey key(fPrinter, fJobId);
		sBusyPrinters.erase(fPrinter);
		sRunningJobs.erase(key);
		sFinishedJobs[key] = fOutcome;
		sFinishedOrder.push_back(key);
		if (sFinishedOrder.size() > kFinishedJobsKept) {
			sFinishedJobs.erase(sFinishedOrder.front());
			sFinishedOrder.pop_front();
		}
	}
	sTurnChanged.notify_all();
	// PAPPL starts the next job when this one's callback has returned.
	queue_oldest_job(papplJobGetPrinter(fJob));
}

bool queue_waiting_jobs(pappl_system_t* system, void*)
{
	// A job released for its turn may have been cancelled before it started; the jobs held
	// behind it then wait for this.
	papplSystemIteratePrinters(system, queue_idle_printer, nullptr);
	return true;
}

// #pragma mark - the worker

struct JobProcess::State {
	pappl_job_t* job;
	pappl_device_t* device;
	pid_t child = -1;
	int output = -1;        // the worker's stream
	int result = -1;        // the worker's account
	std::string settingsPath;
	std::string documentPath;

	std::mutex lock;
	std::condition_variable changed;
	bool exited = false;    // the worker has ended (not yet reaped)
	bool cancelled = false; // the job was cancelled while the worker ran
	bool killed = false;    // the worker was ended by this side
	bool stalled = false;   // ... because it stopped making progress
	bool stopWatching = false;
	pappl_device_t* jobDevice = nullptr;  // the job's own connection while it is open
	std::chrono::steady_clock::time_point lastOutput = std::chrono::steady_clock::now();
	DeviceFeed feed;

	std::thread copier;
	std::thread watcher;

	void Copy();
	void Watch();
};

void JobProcess::State::Copy()
{
	// A device of ours is opened for this job alone; PAPPL's device of another scheme is
	// used as PAPPL gives it.
	pappl_device_t* own = nullptr;
	const char* uri = papplPrinterGetDeviceURI(papplJobGetPrinter(job));
	bool failed = false;
	if (has_job_device(uri)) {
		std::string error;
		own = open_job_device(uri, papplJobGetName(job), &error);
		std::lock_guard<std::mutex> guard(lock);
		if (own == nullptr) {
			feed.error = error;
			failed = true;
		} else {
			jobDevice = own;
		}
	}
	pappl_device_t* target = own != nullptr ? own : device;
	char buffer[64 * 1024];
	for (;;) {
		ssize_t got = read(output, buffer, sizeof(buffer));
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			break;
		{
			std::lock_guard<std::mutex> guard(lock);
			lastOutput = std::chrono::steady_clock::now();
		}
		// A device that failed takes nothing more; the worker's writes fail once the pipe is
		// closed behind it, and its driver stops.
		if (failed)
			break;
		std::string error;
		if (!write_to_device(target, buffer, static_cast<size_t>(got), &error)) {
			std::lock_guard<std::mutex> guard(lock);
			feed.error = error;
			failed = true;
			break;
		}
		std::lock_guard<std::mutex> guard(lock);
		feed.bytes += got;
	}
	if (!failed)
		papplDeviceFlush(target);
	std::lock_guard<std::mutex> guard(lock);
	if (failed) {
		close(output);
		output = -1;
	}
	if (own != nullptr) {
		jobDevice = nullptr;
		papplDeviceClose(own);
	}
}

void JobProcess::State::Watch()
{
	std::chrono::steady_clock::time_point terminated;
	std::unique_lock<std::mutex> guard(lock);
	while (!stopWatching) {
		changed.wait_for(guard, kWatchInterval);
		if (stopWatching)
			break;
		siginfo_t ended = {};
		if (!exited && waitid(P_PID, static_cast<id_t>(child), &ended,
				WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == child)
			exited = true;
		if (exited)
			continue;
		auto now = std::chrono::steady_clock::now();
		if (!cancelled && papplJobIsCanceled(job)) {
			// The driver stops at its next band; a device write in hand gives up at once.
			cancelled = true;
			terminated = now;
			kill(child, SIGTERM);
			abandon_device(jobDevice != nullptr ? jobDevice : device);
		} else if (cancelled && !killed && now - terminated > kCancelGrace) {
			killed = true;
			kill(child, SIGKILL);
		} else if (!cancelled && !killed && now - lastOutput > kWorkerStall) {
			killed = true;
			stalled = true;
			kill(child, SIGKILL);
		}
	}
}

JobProcess::JobProcess(pappl_job_t* job, pappl_device_t* device)
	:
	fState(std::make_unique<State>())
{
	fState->job = job;
	fState->device = device;
}

JobProcess::~JobProcess()
{
	State& state = *fState;
	if (state.child > 0) {
		{
			std::lock_guard<std::mutex> guard(state.lock);
			if (!state.exited)
				kill(state.child, SIGKILL);
		}
		Finish();
	}
}

bool JobProcess::Start(const BMessage& settings, Input kind, const std::string& document,
	std::string* error)
{
	State& state = *fState;
	std::string program = frontend::bundled_program(kWorkerProgram);
	if (program.empty()) {
		*error = std::string("cannot find the job process ") + kWorkerProgram;
		return false;
	}
	char path[PATH_MAX];
	int settingsFd = papplJobOpenFile(state.job, path, sizeof(path), nullptr, "settings", "w");
	if (settingsFd < 0) {
		*error = std::string("cannot write the job's settings: ") + strerror(errno);
		return false;
	}
	close(settingsFd);
	state.settingsPath = path;
	{
		BFile file(path, B_WRITE_ONLY | B_ERASE_FILE);
		if (file.InitCheck() != B_OK || settings.Flatten(&file) != B_OK) {
			*error = "cannot write the job's settings to " + state.settingsPath;
			return false;
		}
	}

	int output[2] = {-1, -1};
	int result[2] = {-1, -1};
	int input[2] = {-1, -1};
	bool raster = kind == Input::kRaster;
	if (pipe2(output, O_CLOEXEC) != 0 || pipe2(result, O_CLOEXEC) != 0
		|| (raster && pipe2(input, O_CLOEXEC) != 0)) {
		*error = std::string("cannot make pipes for the job's process: ") + strerror(errno);
		for (int fd : {output[0], output[1], result[0], result[1], input[0], input[1]}) {
			if (fd >= 0)
				close(fd);
		}
		return false;
	}

	const char* jobName = papplJobGetName(state.job);
	std::vector<std::string> arguments = {program, "--printer",
		"printer-" + std::to_string(papplPrinterGetID(papplJobGetPrinter(state.job))),
		"--settings", state.settingsPath, "--job-name", jobName != nullptr ? jobName : "",
		"--result", std::to_string(kResultFd), "--compression", compression_for_job(state.job)};
	if (kind == Input::kRaster) {
		arguments.push_back("--raster");
	} else if (kind == Input::kTestPage) {
		arguments.push_back("--test-page");
	} else {
		arguments.push_back("--document");
		arguments.push_back(document);
		state.documentPath = document;
	}
	std::vector<char*> argv;
	for (std::string& argument : arguments)
		argv.push_back(argument.data());
	argv.push_back(nullptr);

	// The worker gets its pipes and nothing else of the server's descriptors (PAPPL keeps its
	// devices and clients open without close-on-exec).
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	if (raster)
		posix_spawn_file_actions_adddup2(&actions, input[0], 0);
	else
		posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_adddup2(&actions, output[1], 1);
	posix_spawn_file_actions_adddup2(&actions, result[1], kResultFd);
	posix_spawn_file_actions_addclosefrom_np(&actions, kResultFd + 1);
	int spawned = posix_spawn(&state.child, program.c_str(), &actions, nullptr, argv.data(),
		environ);
	posix_spawn_file_actions_destroy(&actions);
	close(output[1]);
	close(result[1]);
	if (raster)
		close(input[0]);
	if (spawned != 0) {
		state.child = -1;
		close(output[0]);
		close(result[0]);
		if (raster)
			close(input[1]);
		*error = "cannot start the job's process " + program + ": " + strerror(spawned);
		return false;
	}
	state.output = output[0];
	state.result = result[0];
	fRasterInput = raster ? input[1] : -1;
	state.copier = std::thread(&State::Copy, &state);
	state.watcher = std::thread(&State::Watch, &state);
	return true;
}

DriverOutcome JobProcess::Finish()
{
	State& state = *fState;
	if (fRasterInput >= 0) {
		close(fRasterInput);
		fRasterInput = -1;
	}
	if (state.child < 0)
		return refused_job("the job's process did not start", PAPPL_JREASON_ABORTED_BY_SYSTEM);

	// The account comes when the worker ends; its stream has reached the device by then.
	std::string flat;
	char chunk[4096];
	for (;;) {
		ssize_t got = read(state.result, chunk, sizeof(chunk));
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			break;
		if (flat.size() < 1 << 20)
			flat.append(chunk, static_cast<size_t>(got));
	}
	close(state.result);
	state.result = -1;
	if (state.copier.joinable())
		state.copier.join();
	if (state.output >= 0) {
		close(state.output);
		state.output = -1;
	}
	int status = 0;
	while (waitpid(state.child, &status, 0) < 0 && errno == EINTR) {
	}
	{
		std::lock_guard<std::mutex> guard(state.lock);
		state.exited = true;
		state.stopWatching = true;
	}
	state.changed.notify_all();
	if (state.watcher.joinable())
		state.watcher.join();
	state.child = -1;
	unlink(state.settingsPath.c_str());

	bool cancelled = state.cancelled || papplJobIsCanceled(state.job);
	BMessage message;
	BMessage accountMessage;
	JobAccount account;
	bool refused = false;
	bool reported = !flat.empty() && message.Unflatten(flat.data(), flat.size()) == B_OK
		&& message.FindMessage("account", &accountMessage) == B_OK
		&& account_from_message(accountMessage, &account);
	message.FindBool("refused", &refused);
	// The document is PAPPL's copy in its spool folder; the user knows it by the job's name.
	if (!account.file.empty() && account.file == state.documentPath) {
		const char* name = papplJobGetName(state.job);
		account.file = "\"" + std::string(name != nullptr && name[0] != '\0' ? name
			: "the document") + "\"";
	}
	if (!reported) {
		if (cancelled)
			return cancelled_job(0);
		std::string why = state.stalled ? "it stopped making progress"
			: WIFSIGNALED(status) ? "it was ended by signal " + std::to_string(WTERMSIG(status))
				+ " (" + strsignal(WTERMSIG(status)) + ")"
			: "it ended without an account (exit status " + std::to_string(WEXITSTATUS(status))
				+ ")";
		return refused_job("the job's process stopped: " + why,
			PAPPL_JREASON_ABORTED_BY_SYSTEM | PAPPL_JREASON_ERRORS_DETECTED);
	}
	if (refused && !cancelled) {
		return refused_job("not printed: " + account_reason(account),
			PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
	}
	return judge_job(account, state.feed, cancelled);
}

}  // namespace printer_app
