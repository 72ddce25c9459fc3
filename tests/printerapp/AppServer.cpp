#include "printerapp/AppServer.h"

#include <cups/cups.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

const auto kStopDeadline = std::chrono::seconds(10);

std::string read_file(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string shell_quoted(const std::string& text)
{
	std::string result = "'";
	for (char c : text)
		result += c == '\'' ? std::string("'\\''") : std::string(1, c);
	return result + "'";
}

// The value ipptool displays for an attribute: "        name (type) = value".
std::string displayed(const std::string& output, const std::string& name)
{
	std::string key = " " + name + " (";
	size_t at = output.rfind(key);
	if (at == std::string::npos)
		return std::string();
	size_t equals = output.find(" = ", at);
	size_t end = output.find('\n', at);
	if (equals == std::string::npos || equals > end)
		return std::string();
	// ipptool shows a quote in a text value as \".
	std::string value;
	for (size_t i = equals + 3; i < end; i++) {
		if (output[i] == '\\' && i + 1 < end)
			i++;
		value += output[i];
	}
	return value;
}

int job_state_number(const std::string& state)
{
	static const char* const kStates[] = {"pending", "pending-held", "processing",
		"processing-stopped", "canceled", "aborted", "completed"};
	for (int i = 0; i < 7; i++) {
		if (state == kStates[i])
			return i + 3;
	}
	return 0;
}

// The Print-Job request of a job, as an ipptool test.
std::string print_job_test(const std::string& document, const std::string& format,
	const std::vector<std::string>& jobAttributes)
{
	std::string test = "{\n\tNAME \"Print-Job\"\n\tOPERATION Print-Job\n"
		"\tGROUP operation-attributes-tag\n"
		"\tATTR charset attributes-charset utf-8\n"
		"\tATTR naturalLanguage attributes-natural-language en\n"
		"\tATTR uri printer-uri $uri\n"
		"\tATTR name requesting-user-name tester\n"
		"\tATTR mimeMediaType document-format " + format + "\n"
		"\tATTR name job-name \"" + fs::path(document).filename().string() + "\"\n";
	if (!jobAttributes.empty()) {
		test += "\tGROUP job-attributes-tag\n";
		for (const std::string& attribute : jobAttributes)
			test += "\tATTR " + attribute + "\n";
	}
	// A printer busy with a streamed job is asked again, as CUPS asks.
	test += "\tFILE \"" + document + "\"\n\tSTATUS successful-ok\n"
		"\tSTATUS server-error-busy REPEAT-MATCH\n"
		"\tEXPECT ?job-id OF-TYPE integer WITH-VALUE >0\n\tDISPLAY job-id\n}\n";
	return test;
}

// Get-Job-Attributes until the job has ended, asking every fifth of a second.
std::string wait_test(const std::string& jobId)
{
	return "{\n\tNAME \"Wait for the job\"\n\tOPERATION Get-Job-Attributes\n"
		"\tDELAY \"0.01,0.2\"\n"
		"\tGROUP operation-attributes-tag\n"
		"\tATTR charset attributes-charset utf-8\n"
		"\tATTR naturalLanguage attributes-natural-language en\n"
		"\tATTR uri printer-uri $uri\n"
		"\tATTR integer job-id " + jobId + "\n"
		"\tSTATUS successful-ok\n"
		"\tEXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 600\n"
		"\tDISPLAY job-state\n\tDISPLAY job-state-reasons\n\tDISPLAY job-state-message\n}\n";
}

JobResult job_result(int status, const std::string& output)
{
	JobResult result;
	result.exitStatus = status;
	result.output = output;
	result.state = job_state_number(displayed(output, "job-state"));
	result.reasons = displayed(output, "job-state-reasons");
	result.message = displayed(output, "job-state-message");
	return result;
}

std::string write_test(const AppServer& server, const std::string& text)
{
	static std::atomic<int> count{0};
	std::string path = server.Sub("request-" + std::to_string(++count) + ".test");
	std::ofstream(path) << text;
	return path;
}

}  // namespace

int run_command(const std::string& command, std::string* output)
{
	// Output goes through a file, not a pipe: a process the command leaves behind (a server
	// that a sub-command started) would hold a pipe open and keep the reader waiting.
	char path[] = "/tmp/tessary-command-XXXXXX";
	int fd = mkstemp(path);
	if (fd < 0)
		return -1;
	close(fd);
	int status = system((command + " >" + path + " 2>&1 </dev/null").c_str());
	*output = read_file(path);
	unlink(path);
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

AppServer::AppServer()
{
	// The script leaves the server running when it exits; it becomes our child, so that
	// stopping it can wait for it.
	prctl(PR_SET_CHILD_SUBREAPER, 1);
	std::string pattern = "/tmp/tessary-app-XXXXXX";
	if (mkdtemp(pattern.data()) != nullptr)
		fFolder = pattern;
}

AppServer::~AppServer()
{
	_Stop();
	std::error_code ignored;
	if (!fFolder.empty())
		fs::remove_all(fFolder, ignored);
}

bool AppServer::Start(std::string* error, const std::string& environment,
	const std::string& options)
{
	if (fFolder.empty()) {
		*error = "cannot make a temporary folder";
		return false;
	}
	// A port that another test took between our look and the server's bind fails the start;
	// a second port is tried.
	for (int attempt = 0; attempt < 3; attempt++) {
		fPort = free_loopback_port();
		std::string output;
		int status = run_command("cd " + shell_quoted(fFolder) + " && env " + environment
			+ " TESSARY_PRINTER_APP=" + shell_quoted(TESSARY_PRINTER_APP) + " "
			+ "DBUS_SYSTEM_BUS_ADDRESS=unix:path="
			+ shell_quoted(fFolder + "/no-bus") + " LSAN_OPTIONS=print_suppressions=0 bash "
			+ shell_quoted(std::string(TESSARY_SOURCE_DIR) + "/scripts/printer-app.sh") + " "
			+ std::to_string(fPort) + " " + shell_quoted(fFolder) + " " + shell_quoted(OutputPath())
			+ " " + options, &output);
		std::string pid = read_file(Sub("server.pid"));
		fPid = pid.empty() ? -1 : atoi(pid.c_str());
		if (status == 0 && output.find(PrinterUri()) != std::string::npos)
			return true;
		*error = "scripts/printer-app.sh failed (" + std::to_string(status) + "): " + output;
		_Stop();
	}
	return false;
}

std::string AppServer::PrinterUri(const std::string& name) const
{
	return "ipp://127.0.0.1:" + std::to_string(fPort) + "/ipp/print/" + name;
}

int AppServer::Run(const std::string& arguments, std::string* output) const
{
	// PAPPL's sub-commands start a server of their own when none answers; none is to be
	// started for a test whose server died.
	if (fPid <= 0 || waitpid(fPid, nullptr, WNOHANG) != 0) {
		*output = "the server is not running:\n" + LogTail();
		return -1;
	}
	return run_command("env SNAP_COMMON=" + shell_quoted(fFolder) + " TMPDIR=" + shell_quoted(fFolder)
		+ " LSAN_OPTIONS=print_suppressions=0 " + shell_quoted(TESSARY_PRINTER_APP) + " " + arguments,
		output);
}

int AppServer::Ipptool(const std::string& arguments, std::string* output) const
{
	return run_command("ipptool " + arguments, output);
}

std::vector<uint8_t> AppServer::NewBytes(const std::string& path)
{
	std::string contents = read_file(path);
	uint64_t* taken = nullptr;
	for (auto& entry : fTaken)
		taken = entry.first == path ? &entry.second : taken;
	if (taken == nullptr) {
		fTaken.emplace_back(path, 0);
		taken = &fTaken.back().second;
	}
	uint64_t from = std::min<uint64_t>(*taken, contents.size());
	*taken = contents.size();
	return std::vector<uint8_t>(contents.begin() + static_cast<std::ptrdiff_t>(from),
		contents.end());
}

std::string AppServer::AdminPassword() const
{
	std::string password = read_file(Sub("admin-password"));
	while (!password.empty() && (password.back() == '\n' || password.back() == '\r'))
		password.pop_back();
	return password;
}

std::string AppServer::AdminAuthorization(const std::string& password) const
{
	std::string credentials = "admin:" + (password.empty() ? AdminPassword() : password);
	char encoded[512];
	httpEncode64_2(encoded, sizeof(encoded), credentials.data(),
		static_cast<int>(credentials.size()));
	return std::string("Authorization: Basic ") + encoded + "\r\n";
}

std::string AppServer::LogTail(size_t bytes) const
{
	std::string log = read_file(Sub("server.log"));
	// What the server wrote to its standard error: a sanitizer's report, say.
	std::string errors = read_file(Sub("server.out"));
	return (log.size() > bytes ? log.substr(log.size() - bytes) : log) + "\n" + errors;
}

// Our children that were started for this server's folder: the server, and any that a
// sub-command started when it found none.
std::vector<int> AppServer::_Servers() const
{
	std::vector<int> pids;
	std::string mark = "SNAP_COMMON=" + fFolder;
	std::error_code code;
	for (const fs::directory_entry& entry : fs::directory_iterator("/proc", code)) {
		int pid = atoi(entry.path().filename().c_str());
		if (pid <= 0)
			continue;
		std::string stat = read_file(entry.path() / "stat");
		size_t end = stat.rfind(')');
		if (end == std::string::npos || atoi(stat.c_str() + end + 4) != getpid())
			continue;
		std::string environment = read_file(entry.path() / "environ");
		for (size_t at = 0; at < environment.size(); at = environment.find('\0', at) + 1) {
			if (environment.compare(at, mark.size() + 1, mark + '\0') == 0)
				pids.push_back(pid);
			if (environment.find('\0', at) == std::string::npos)
				break;
		}
	}
	return pids;
}

void AppServer::Kill()
{
	if (fPid > 0) {
		kill(fPid, SIGKILL);
		waitpid(fPid, nullptr, 0);
	}
	fPid = -1;
}

bool AppServer::Running() const
{
	return fPid > 0 && waitpid(fPid, nullptr, WNOHANG) == 0;
}

void AppServer::_Stop()
{
	std::vector<int> pids = _Servers();
	if (fPid > 0 && std::find(pids.begin(), pids.end(), fPid) == pids.end())
		pids.push_back(fPid);
	for (int pid : pids) {
		kill(pid, SIGTERM);
		auto deadline = std::chrono::steady_clock::now() + kStopDeadline;
		while (waitpid(pid, nullptr, WNOHANG) == 0) {
			if (std::chrono::steady_clock::now() > deadline) {
				kill(pid, SIGKILL);
				waitpid(pid, nullptr, 0);
				break;
			}
			std::this_thread::sleep_for(std::chrono::milliseconds(20));
		}
	}
	fPid = -1;
}

JobResult print_and_wait(const AppServer& server, const std::string& document,
	const std::string& format, const std::vector<std::string>& jobAttributes,
	const std::string& printer)
{
	std::string test = write_test(server, print_job_test(document, format, jobAttributes)
		+ wait_test("$job-id"));
	std::string output;
	int status = server.Ipptool("-t " + shell_quoted(server.PrinterUri(printer)) + " " + shell_quoted(test),
		&output);
	return job_result(status, output);
}

int submit_job(const AppServer& server, const std::string& document, const std::string& format,
	const std::vector<std::string>& jobAttributes, const std::string& printer)
{
	std::string test = write_test(server, print_job_test(document, format, jobAttributes));
	std::string output;
	if (server.Ipptool("-t " + shell_quoted(server.PrinterUri(printer)) + " " + shell_quoted(test), &output)
		!= 0)
		return 0;
	return atoi(displayed(output, "job-id").c_str());
}

JobResult wait_for_job(const AppServer& server, int jobId, const std::string& printer)
{
	std::string test = write_test(server, wait_test(std::to_string(jobId)));
	std::string output;
	int status = server.Ipptool("-t " + shell_quoted(server.PrinterUri(printer)) + " " + shell_quoted(test),
		&output);
	return job_result(status, output);
}

int job_state(const AppServer& server, int jobId, const std::string& printer)
{
	std::string test = write_test(server, "{\n\tNAME \"Get-Job-Attributes\"\n"
		"\tOPERATION Get-Job-Attributes\n"
		"\tGROUP operation-attributes-tag\n"
		"\tATTR charset attributes-charset utf-8\n"
		"\tATTR naturalLanguage attributes-natural-language en\n"
		"\tATTR uri printer-uri $uri\n"
		"\tATTR integer job-id " + std::to_string(jobId) + "\n"
		"\tSTATUS successful-ok\n\tDISPLAY job-state\n}\n");
	std::string output;
	server.Ipptool("-t " + shell_quoted(server.PrinterUri(printer)) + " " + shell_quoted(test),
		&output);
	return job_state_number(displayed(output, "job-state"));
}

bool cancel_job(const AppServer& server, int jobId, const std::string& printer)
{
	std::string test = write_test(server, "{\n\tNAME \"Cancel-Job\"\n\tOPERATION Cancel-Job\n"
		"\tGROUP operation-attributes-tag\n"
		"\tATTR charset attributes-charset utf-8\n"
		"\tATTR naturalLanguage attributes-natural-language en\n"
		"\tATTR uri printer-uri $uri\n"
		"\tATTR integer job-id " + std::to_string(jobId) + "\n"
		"\tATTR name requesting-user-name tester\n"
		"\tSTATUS successful-ok\n}\n");
	std::string output;
	return server.Ipptool("-t " + shell_quoted(server.PrinterUri(printer)) + " "
		+ shell_quoted(test), &output) == 0;
}

bool printer_answers(const AppServer& server, const std::string& printer)
{
	std::string test = write_test(server, "{\n\tNAME \"Get-Printer-Attributes\"\n"
		"\tOPERATION Get-Printer-Attributes\n"
		"\tGROUP operation-attributes-tag\n"
		"\tATTR charset attributes-charset utf-8\n"
		"\tATTR naturalLanguage attributes-natural-language en\n"
		"\tATTR uri printer-uri $uri\n"
		"\tATTR keyword requested-attributes printer-state\n"
		"\tSTATUS successful-ok\n\tEXPECT printer-state\n}\n");
	std::string output;
	return server.Ipptool("-T 10 -t " + shell_quoted(server.PrinterUri(printer)) + " "
		+ shell_quoted(test), &output) == 0;
}

std::string http_exchange(int port, const std::string& method, const std::string& path,
	const std::string& form, const std::string& headers)
{
	int fd = socket(AF_INET, SOCK_STREAM, 0);
	sockaddr_in address = {};
	address.sin_family = AF_INET;
	address.sin_port = htons(static_cast<uint16_t>(port));
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
		close(fd);
		return std::string();
	}
	std::string request = method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1:"
		+ std::to_string(port) + "\r\nConnection: close\r\n" + headers;
	if (!form.empty()) {
		request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: "
			+ std::to_string(form.size()) + "\r\n";
	}
	request += "\r\n" + form;
	(void)!write(fd, request.data(), request.size());
	// The body ends where the server closes the connection, or where its length says.
	std::string response;
	char buffer[8192];
	ssize_t got;
	while ((got = read(fd, buffer, sizeof(buffer))) > 0) {
		response.append(buffer, static_cast<size_t>(got));
		size_t headersEnd = response.find("\r\n\r\n");
		std::string length = headersEnd == std::string::npos ? std::string()
			: text_between(response.substr(0, headersEnd), "Content-Length: ", "\r\n");
		if (!length.empty() && response.size() >= headersEnd + 4 + std::stoul(length))
			break;
	}
	close(fd);
	return response;
}

std::string text_between(const std::string& text, const std::string& before,
	const std::string& after)
{
	size_t start = text.find(before);
	if (start == std::string::npos)
		return std::string();
	start += before.size();
	return text.substr(start, text.find(after, start) - start);
}
