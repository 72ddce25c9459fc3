#include "ReaderProcess.h"

#include "DriverFolders.h"
#include "ReaderProtocol.h"

#include <File.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace frontend {

namespace {

const char* const kReaderProgram = "tessary-reader";
// The descriptor the reader finds its control socket on.
const int kControlFd = 3;
// ... and its spool and settings, when they are in memory.
const int kSpoolFd = 4;
const int kSettingsFd = 5;
const size_t kMaxErrorLine = 300;

std::string describe_signal(int signal)
{
	switch (signal) {
		case SIGXCPU:
			return "it used up its processor time";
		case SIGSEGV:
		case SIGBUS:
			return std::string("it crashed (") + strsignal(signal) + ")";
		default:
			return "it was ended by signal " + std::to_string(signal) + " ("
				+ strsignal(signal) + ")";
	}
}

bool write_settings(const std::string& path, const BMessage& settings, std::string* error)
{
	BFile file(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
	status_t status = file.InitCheck();
	if (status == B_OK)
		status = settings.Flatten(&file);
	if (status != B_OK) {
		*error = "cannot write the job's settings to " + path + ": " + strerror_be(status);
		return false;
	}
	return true;
}

}  // namespace

ReaderProcess::~ReaderProcess()
{
	Abandon();
	Join();
	if (fControl >= 0)
		close(fControl);
	if (fErrors >= 0)
		close(fErrors);
}

bool ReaderProcess::Start(const ReaderRequest& request, std::string* error)
{
	fRequest = request;
	fKinds.assign(request.documents.size(), std::string());
	std::string program = !request.program.empty() ? request.program
		: bundled_program(kReaderProgram);
	if (program.empty()) {
		*error = std::string("cannot find the document reader ") + kReaderProgram;
		return false;
	}
	// A spool in memory hands the reader its file and the settings as descriptors.
	bool inMemory = request.spoolPath.empty();
	if (inMemory && (!fSpool.Create(error) || !fSettings.Create(error)))
		return false;
	fSettingsPath = inMemory ? fSettings.Path() : request.spoolPath + ".settings";
	if (!write_settings(fSettingsPath, request.settings, error)) {
		_RemoveFiles();
		return false;
	}

	int control[2];
	int errors[2];
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control) != 0) {
		*error = std::string("cannot talk to the document reader: ") + strerror(errno);
		_RemoveFiles();
		return false;
	}
	if (pipe2(errors, O_CLOEXEC) != 0) {
		*error = std::string("cannot talk to the document reader: ") + strerror(errno);
		close(control[0]);
		close(control[1]);
		_RemoveFiles();
		return false;
	}

	std::string childSpool = inMemory ? "/proc/self/fd/" + std::to_string(kSpoolFd)
		: request.spoolPath;
	std::string childSettings = inMemory ? "/proc/self/fd/" + std::to_string(kSettingsFd)
		: fSettingsPath;
	std::vector<std::string> arguments = {program, "--settings", childSettings, "--spool",
		childSpool, "--control", std::to_string(kControlFd), "--caption",
		request.caption, "--ahead", std::to_string(request.ahead), "--memory",
		std::to_string(request.memoryMegabytes), "--cpu", std::to_string(request.cpuSeconds),
		"--parent", std::to_string(getpid())};
	if (!request.turnWidePages)
		arguments.push_back("--no-rotate");
	if (!request.onlyKind.empty()) {
		arguments.push_back("--only");
		arguments.push_back(request.onlyKind);
	}
	arguments.push_back("--");
	arguments.insert(arguments.end(), request.documents.begin(), request.documents.end());
	std::vector<char*> argv;
	for (std::string& argument : arguments)
		argv.push_back(argument.data());
	argv.push_back(nullptr);

	// The reader gets its control socket, a pipe for what it says on standard error, the
	// spool and settings of a spool in memory, and nothing else of this process's
	// descriptors.
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
	posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
	posix_spawn_file_actions_adddup2(&actions, control[1], kControlFd);
	if (inMemory) {
		posix_spawn_file_actions_adddup2(&actions, fSpool.Descriptor(), kSpoolFd);
		posix_spawn_file_actions_adddup2(&actions, fSettings.Descriptor(), kSettingsFd);
	}
	posix_spawn_file_actions_addclosefrom_np(&actions, kSettingsFd + 1);
	int spawned = posix_spawn(&fChild, program.c_str(), &actions, nullptr, argv.data(),
		environ);
	posix_spawn_file_actions_destroy(&actions);
	close(control[1]);
	close(errors[1]);
	fControl = control[0];
	fErrors = errors[0];
	if (spawned != 0) {
		fChild = -1;
		*error = "cannot start the document reader " + program + ": " + strerror(spawned);
		_RemoveFiles();
		return false;
	}

	fFeed.SetReadingObserver([this](size_t pages) { _DriverRead(pages); });
	fWatcher = std::thread(&ReaderProcess::_Watch, this);

	std::unique_lock<std::mutex> guard(fLock);
	fChanged.wait(guard, [this] { return fOpened; });
	if (!fRefused)
		return true;
	guard.unlock();
	Join();
	if (!inMemory)
		unlink(request.spoolPath.c_str());
	return false;
}

std::string ReaderProcess::SpoolPath() const
{
	return fSpool.IsOpen() ? fSpool.Path() : fRequest.spoolPath;
}

off_t ReaderProcess::LargestSpool() const
{
	std::lock_guard<std::mutex> guard(fLock);
	return fLargestSpool;
}

void ReaderProcess::_RemoveFiles()
{
	if (!fSettings.IsOpen() && !fSettingsPath.empty())
		unlink(fSettingsPath.c_str());
}

void ReaderProcess::Abandon()
{
	std::lock_guard<std::mutex> guard(fLock);
	if (fEnded || fChild < 0)
		return;
	fAbandoned = true;
	kill(fChild, SIGKILL);
}

void ReaderProcess::Release()
{
	std::lock_guard<std::mutex> guard(fLock);
	if (fEnded || fRequest.ahead == 0)
		return;
	fRequest.ahead = 0;
	std::string line = format_reader_message("read", {INT32_MAX});
	(void)send(fControl, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void ReaderProcess::Join()
{
	if (fWatcher.joinable())
		fWatcher.join();
}

void ReaderProcess::_DriverRead(size_t pages)
{
	// The driver reads a page whole before it draws its first band.
	if (fDriverObserver && pages > 0)
		fDriverObserver(pages - 1);
	std::lock_guard<std::mutex> guard(fLock);
	if (static_cast<int64>(pages) <= fDriverPages || fEnded)
		return;
	fDriverPages = static_cast<int64>(pages);
	// A reader that is busy takes the message when it next waits; one that cannot take it now
	// gets a later, larger number.
	std::string line = format_reader_message("read", {fDriverPages});
	(void)send(fControl, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

std::string ReaderProcess::_ReaderName(int64 document) const
{
	if (document >= 0 && static_cast<size_t>(document) < fKinds.size()
		&& !fKinds[document].empty() && fKinds[document] != "document")
		return "the " + fKinds[document] + " reader";
	return "the document reader";
}

void ReaderProcess::_Fail(int64 document, const std::string& reason)
{
	if (!fError.reason.empty())
		return;
	fError.file = document >= 0 && static_cast<size_t>(document) < fRequest.documents.size()
		? fRequest.documents[document] : std::string();
	fError.reason = reason;
}

void ReaderProcess::_Take(const std::string& line)
{
	ReaderMessage message;
	if (!parse_reader_message(line, &message)) {
		std::lock_guard<std::mutex> guard(fLock);
		_Fail(fDocument, _ReaderName(fDocument) + " stopped: it said something it should not");
		kill(fChild, SIGKILL);
		return;
	}
	const std::vector<int64>& number = message.numbers;
	std::lock_guard<std::mutex> guard(fLock);
	if (message.word == "kind") {
		if (number[0] >= 0 && static_cast<size_t>(number[0]) < fKinds.size())
			fKinds[number[0]] = message.text;
	} else if (message.word == "planned") {
		fPlanned = static_cast<int32>(std::clamp<int64>(number[0], 0, INT32_MAX));
		fOpened = true;
	} else if (message.word == "header") {
		fFeed.Commit(number[0]);
	} else if (message.word == "reading") {
		fDocument = number[0];
	} else if (message.word == "page") {
		fPages++;
		// The spool is at its largest as a page is finished: the page and what the driver
		// has not yet read of the pages before.
		fLargestSpool = std::max(fLargestSpool, fSpool.Allocated());
		fFeed.Commit(number[0], number[1]);
	} else if (message.word == "done") {
		fWhole = true;
		fFeed.Commit(number[0]);
	} else if (message.word == "failed") {
		_Fail(number[0], message.text);
		if (!fOpened)
			fRefused = true;
		fOpened = true;
	}
	fChanged.notify_all();
}

void ReaderProcess::_Watch()
{
	std::string pending;
	std::string errorText;
	auto lastMessage = std::chrono::steady_clock::now();
	bool stalled = false;
	bool controlOpen = true;
	while (controlOpen) {
		pollfd ready[2] = {{fControl, POLLIN, 0}, {fErrors, POLLIN, 0}};
		int events = poll(ready, fErrors >= 0 ? 2 : 1, 250);
		if (events < 0 && errno != EINTR)
			break;
		char chunk[4096];
		if (fErrors >= 0 && (ready[1].revents & (POLLIN | POLLHUP)) != 0) {
			ssize_t got = read(fErrors, chunk, sizeof(chunk));
			if (got <= 0) {
				close(fErrors);
				fErrors = -1;
			} else {
				// Only the last line is kept: what the reader said as it stopped.
				errorText.append(chunk, static_cast<size_t>(got));
				size_t end = errorText.find_last_not_of("\n\r ");
				size_t start = end == std::string::npos ? 0 : errorText.rfind('\n', end);
				std::string last = end == std::string::npos ? std::string()
					: errorText.substr(start == std::string::npos ? 0 : start + 1,
						end - (start == std::string::npos ? 0 : start + 1) + 1);
				if (!last.empty()) {
					std::lock_guard<std::mutex> guard(fLock);
					fLastError = last.substr(0, kMaxErrorLine);
				}
				if (errorText.size() > 8192)
					errorText.erase(0, errorText.size() - 4096);
			}
		}
		if ((ready[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
			ssize_t got = read(fControl, chunk, sizeof(chunk));
			if (got <= 0) {
				controlOpen = false;
			} else {
				lastMessage = std::chrono::steady_clock::now();
				pending.append(chunk, static_cast<size_t>(got));
				size_t newline;
				while ((newline = pending.find('\n')) != std::string::npos) {
					_Take(pending.substr(0, newline));
					pending.erase(0, newline + 1);
				}
				if (pending.size() > kMaxReaderLine)
					_Take(pending);  // not a message: the reader is stopped for it
			}
		}
		// A reader that is neither writing pages nor waiting for the driver has stopped
		// making progress.
		bool waiting;
		{
			std::lock_guard<std::mutex> guard(fLock);
			waiting = fRequest.ahead > 0 && fPages - fDriverPages >= fRequest.ahead;
		}
		if (waiting || stalled)
			lastMessage = waiting ? std::chrono::steady_clock::now() : lastMessage;
		else if (std::chrono::steady_clock::now() - lastMessage > fRequest.stall) {
			stalled = true;
			kill(fChild, SIGKILL);
		}
	}
	// Waited for without being reaped, so that Abandon cannot signal another process that has
	// taken its number; reaped once it is marked as ended.
	siginfo_t ended = {};
	while (waitid(P_PID, static_cast<id_t>(fChild), &ended, WEXITED | WNOWAIT) < 0
		&& errno == EINTR) {
	}
	std::lock_guard<std::mutex> guard(fLock);
	fEnded = true;
	int status = 0;
	while (waitpid(fChild, &status, 0) < 0 && errno == EINTR) {
	}
	if (!fWhole && !fAbandoned && fError.reason.empty()) {
		std::string why;
		if (stalled)
			why = "it stopped making progress";
		else if (WIFSIGNALED(status))
			why = describe_signal(WTERMSIG(status));
		else
			why = "it ended before it was done (exit status "
				+ std::to_string(WEXITSTATUS(status)) + ")";
		if (!fLastError.empty() && !stalled)
			why = fLastError + "; " + why;
		_Fail(fDocument, _ReaderName(fDocument) + " stopped: " + why);
	}
	if (!fOpened)
		fRefused = true;
	fOpened = true;
	_RemoveFiles();
	fFeed.Finish();
	fChanged.notify_all();
}

}  // namespace frontend
