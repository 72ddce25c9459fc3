#include "PrivateScheduler.h"

#include "support/LoopbackPort.h"

#include <cups/cups.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace {

const char* const kSystemServerBin = "/usr/lib/cups";
const char* const kSystemDataDir = "/usr/share/cups";

typedef std::chrono::steady_clock Clock;

struct HttpCloser {
	void operator()(http_t* http) const { httpClose(http); }
};
struct IppDeleter {
	void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};

bool connects(int port)
{
	int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in address = {};
	address.sin_family = AF_INET;
	address.sin_port = htons(static_cast<uint16_t>(port));
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	bool connected = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
	close(probe);
	return connected;
}

std::string read_text(const std::string& path)
{
	std::ifstream file(path);
	return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Links every entry of `from` into `to`.
void link_entries(const fs::path& from, const fs::path& to)
{
	fs::create_directories(to);
	std::error_code code;
	for (const fs::directory_entry& entry : fs::directory_iterator(from, code))
		fs::create_symlink(entry.path(), to / entry.path().filename(), code);
}

}  // namespace

PrivateScheduler::Driver PrivateScheduler::BuiltDriver()
{
	return {TESSARY_BUILD_DIR "/cups", TESSARY_BUILD_DIR "/cups/tessary.ppd", {}};
}

PrivateScheduler::PrivateScheduler(const Driver& driver)
	:
	fDriver(driver)
{
	std::string pattern = fs::temp_directory_path().string() + "/tessary-cupsd-XXXXXX";
	if (mkdtemp(pattern.data()) == nullptr)
		throw std::runtime_error("mkdtemp failed");
	fFolder = pattern;
	// cupsd runs the filters as lp, which must reach the folder and the job's output.
	chmod(fFolder.c_str(), 0755);
}

PrivateScheduler::~PrivateScheduler()
{
	_Stop();
	std::error_code ignored;
	fs::remove_all(fFolder, ignored);
}

bool PrivateScheduler::_WriteConfiguration(std::string* error)
{
	fs::path root(fFolder);
	for (const char* folder : {"conf", "spool/tmp", "cache", "state", "log", "out", "data"})
		fs::create_directories(root / folder);
	chmod((root / "out").c_str(), 0777);

	// ServerBin: the system's filters, backends and helpers, and the driver's filters.
	for (const char* folder : {"filter", "backend", "daemon", "cgi-bin", "monitor", "notifier"})
		link_entries(fs::path(kSystemServerBin) / folder, root / "bin" / folder);
	std::error_code code;
	for (const char* filter : {"rastertotessary", "pdftotessary"}) {
		fs::path link = root / "bin/filter" / filter;
		fs::path program = fs::path(fDriver.filters) / filter;
		fs::remove(link, code);
		if (fDriver.environment.empty()) {
			fs::create_symlink(program, link, code);
		} else {
			// cupsd gives its filters no loader variables (LD_*) of a configuration's, nor of
			// its own environment: a script of the test's sets them and runs the filter.
			std::ofstream wrapper(link);
			wrapper << "#!/bin/sh\n";
			for (const std::string& variable : fDriver.environment) {
				std::string name = variable.substr(0, variable.find('='));
				wrapper << name << "='" << variable.substr(name.size() + 1) << "'; export "
						<< name << "\n";
			}
			wrapper << "exec '" << program.string() << "' \"$@\"\n";
			wrapper.close();
			chmod(link.c_str(), 0755);
			if (!wrapper)
				code = std::make_error_code(std::errc::io_error);
		}
		if (code) {
			*error = "cannot link the filter " + program.string() + ": " + code.message();
			return false;
		}
	}

	// DataDir: the system's, with the driver's PPD among the models.
	for (const fs::directory_entry& entry : fs::directory_iterator(kSystemDataDir, code)) {
		if (entry.path().filename() != "model")
			fs::create_symlink(entry.path(), root / "data" / entry.path().filename(), code);
		else
			link_entries(entry.path(), root / "data/model");
	}
	fs::create_directories(root / "data/model");
	fs::remove(root / "data/model/tessary.ppd", code);
	fs::create_symlink(fDriver.ppd, root / "data/model/tessary.ppd", code);
	if (code) {
		*error = "cannot link the PPD " + fDriver.ppd + ": " + code.message();
		return false;
	}

	std::ofstream files(root / "conf/cups-files.conf");
	files << "FileDevice Yes\n"
		  << "User lp\nGroup lp\nSystemGroup root\n"
		  << "ServerRoot " << fFolder << "/conf\n"
		  << "RequestRoot " << fFolder << "/spool\n"
		  << "TempDir " << fFolder << "/spool/tmp\n"
		  << "CacheDir " << fFolder << "/cache\n"
		  << "StateDir " << fFolder << "/state\n"
		  << "ServerBin " << fFolder << "/bin\n"
		  << "DataDir " << fFolder << "/data\n"
		  << "AccessLog " << fFolder << "/log/access_log\n"
		  << "ErrorLog " << fFolder << "/log/error_log\n"
		  << "PageLog " << fFolder << "/log/page_log\n"
		  // The sanitizer build's filter runs with the options the tests run with.
		  << "PassEnv ASAN_OPTIONS\nPassEnv UBSAN_OPTIONS\nPassEnv LSAN_OPTIONS\n";

	std::ofstream daemon(root / "conf/cupsd.conf");
	daemon << "LogLevel debug\n"
		   << "Listen 127.0.0.1:" << fPort << "\n"
		   << "Browsing No\nWebInterface No\nDefaultAuthType None\n"
		   << "<Location />\n  Order Allow,Deny\n  Allow 127.0.0.1\n</Location>\n"
		   << "<Policy default>\n  <Limit All>\n    Order Deny,Allow\n  </Limit>\n</Policy>\n";
	if (!files || !daemon) {
		*error = "cannot write the scheduler's configuration";
		return false;
	}
	return true;
}

bool PrivateScheduler::Start(std::string* error)
{
	if (geteuid() != 0) {
		*error = "cupsd must start as root to run its filters as lp";
		return false;
	}
	fPort = free_loopback_port();
	if (!_WriteConfiguration(error))
		return false;

	std::string configuration = fFolder + "/conf/cupsd.conf";
	std::string files = fFolder + "/conf/cups-files.conf";
	std::string output = fFolder + "/log/cupsd.out";
	const char* argv[] = {"cupsd", "-f", "-c", configuration.c_str(), "-s", files.c_str(),
		nullptr};
	pid_t parent = getpid();
	fPid = fork();
	if (fPid == 0) {
		// The scheduler goes with the test even when the test dies without its destructor.
		prctl(PR_SET_PDEATHSIG, SIGTERM);
		if (getppid() != parent)
			_exit(127);
		int input = open("/dev/null", O_RDONLY);
		int log = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		if (input < 0 || log < 0 || dup2(input, 0) < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0)
			_exit(127);
		execvp("cupsd", const_cast<char**>(argv));
		_exit(127);
	}
	if (fPid < 0) {
		*error = std::string("cannot start cupsd: ") + strerror(errno);
		return false;
	}
	return _WaitUntilListening(error);
}

bool PrivateScheduler::_WaitUntilListening(std::string* error)
{
	auto deadline = Clock::now() + std::chrono::seconds(30);
	while (!connects(fPort)) {
		int status = 0;
		if (waitpid(fPid, &status, WNOHANG) == fPid) {
			fPid = -1;
			*error = "cupsd ended at start: " + read_text(fFolder + "/log/cupsd.out")
				+ read_text(fFolder + "/log/error_log");
			return false;
		}
		if (Clock::now() > deadline) {
			*error = "cupsd does not listen on port " + std::to_string(fPort);
			return false;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	}
	return true;
}

void PrivateScheduler::_Stop()
{
	if (fPid < 0)
		return;
	// cupsd stops its jobs' filters when it stops itself.
	kill(fPid, SIGTERM);
	auto deadline = Clock::now() + std::chrono::seconds(20);
	int status = 0;
	while (waitpid(fPid, &status, WNOHANG) == 0) {
		if (Clock::now() > deadline) {
			kill(fPid, SIGKILL);
			waitpid(fPid, &status, 0);
			break;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	}
	fPid = -1;
}

int PrivateScheduler::Run(const std::vector<std::string>& arguments, std::string* output) const
{
	std::string capture = fFolder + "/log/command.out";
	std::vector<char*> argv;
	for (const std::string& argument : arguments)
		argv.push_back(const_cast<char*>(argument.c_str()));
	argv.push_back(nullptr);
	// The clients read this scheduler's folders, never the machine's.
	std::vector<std::string> variables = {"CUPS_SERVERROOT=" + fFolder + "/conf",
		"CUPS_SERVERBIN=" + fFolder + "/bin", "CUPS_DATADIR=" + fFolder + "/data",
		"HOME=" + fFolder, "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C"};
	std::vector<char*> environment;
	for (std::string& variable : variables)
		environment.push_back(variable.data());
	environment.push_back(nullptr);

	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&actions, 1, capture.c_str(),
		O_WRONLY | O_CREAT | O_TRUNC, 0644);
	posix_spawn_file_actions_adddup2(&actions, 1, 2);
	pid_t child;
	int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(),
		environment.data());
	posix_spawn_file_actions_destroy(&actions);
	if (spawned != 0) {
		*output = arguments[0] + ": " + strerror(spawned);
		return -1;
	}
	int status = 0;
	waitpid(child, &status, 0);
	*output = read_text(capture);
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int PrivateScheduler::Print(const std::string& queue, const std::vector<std::string>& options,
	const std::string& file, std::string* error) const
{
	std::vector<std::string> arguments = {"lp", "-h", Server(), "-d", queue};
	arguments.insert(arguments.end(), options.begin(), options.end());
	arguments.push_back(file);
	std::string output;
	int status = Run(arguments, &output);
	// "request id is Desk-3 (1 file(s))"
	std::string marker = "request id is " + queue + "-";
	size_t at = output.find(marker);
	if (status != 0 || at == std::string::npos) {
		*error = output;
		return 0;
	}
	return atoi(output.c_str() + at + marker.size());
}

int PrivateScheduler::JobStateOf(int job) const
{
	std::unique_ptr<http_t, HttpCloser> http(httpConnect2("127.0.0.1", fPort, nullptr,
		AF_INET, HTTP_ENCRYPTION_NEVER, 1, 10000, nullptr));
	if (http == nullptr)
		return 0;
	ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
	std::string uri = "ipp://" + Server() + "/jobs/" + std::to_string(job);
	ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
	ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
		"root");
	// cupsDoRequest takes the request and gives the response.
	std::unique_ptr<ipp_t, IppDeleter> response(cupsDoRequest(http.get(), request, "/"));
	if (response == nullptr)
		return 0;
	ipp_attribute_t* state = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
	return state != nullptr ? ippGetInteger(state, 0) : 0;
}

int PrivateScheduler::WaitForJobEnd(int job, int timeoutSeconds) const
{
	auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
	for (;;) {
		int state = JobStateOf(job);
		if (state >= kStopped || Clock::now() > deadline)
			return state;
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
}

bool PrivateScheduler::WaitForJobState(int job, int wanted, int timeoutSeconds) const
{
	auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
	for (;;) {
		int state = JobStateOf(job);
		if (state == wanted)
			return true;
		if ((state >= kStopped && state != wanted) || Clock::now() > deadline)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
}

std::string PrivateScheduler::JobLog(int job) const
{
	std::istringstream log(read_text(fFolder + "/log/error_log"));
	std::string tag = "[Job " + std::to_string(job) + "]";
	std::string lines;
	for (std::string line; std::getline(log, line);) {
		if (line.find(tag) != std::string::npos && line.find("envp[") == std::string::npos)
			lines += line + "\n";
	}
	return lines;
}

bool PrivateScheduler::WaitForJobLog(int job, const std::string& text, int timeoutSeconds) const
{
	auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
	while (JobLog(job).find(text) == std::string::npos) {
		if (Clock::now() > deadline)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
	return true;
}

std::string PrivateScheduler::PageLog() const
{
	return read_text(fFolder + "/log/page_log");
}
