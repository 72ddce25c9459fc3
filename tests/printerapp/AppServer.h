// A printer application of the test's own, started the way a user starts it
// (scripts/printer-app.sh) on a free loopback port, with its state, spool and output in a
// temporary folder, and DNS-SD kept off the machine's own services (the system bus it would
// reach Avahi through points nowhere). The server is stopped when the object goes, whatever
// the test did: SIGTERM, then SIGKILL if it is not gone within a few seconds.
#pragma once

#include "support/LoopbackPort.h"

#include <cstdint>
#include <string>
#include <vector>

class AppServer {
public:
	AppServer();
	~AppServer();
	AppServer(const AppServer&) = delete;
	AppServer& operator=(const AppServer&) = delete;

	// Starts the server and adds the printer "Tessary"; false with the reason. `environment`
	// (NAME=VALUE words) is added to the server's, `options` to its command line. A server
	// stopped by Kill starts again with the state it left.
	bool Start(std::string* error, const std::string& environment = std::string(),
		const std::string& options = std::string());
	// Ends the server at once, as a crash would.
	void Kill();
	bool Running() const;
	int Pid() const { return fPid; }

	int Port() const { return fPort; }
	const std::string& Folder() const { return fFolder; }
	std::string Sub(const std::string& relative) const { return fFolder + "/" + relative; }
	// ipp://127.0.0.1:PORT/ipp/print/NAME
	std::string PrinterUri(const std::string& name = "Tessary") const;
	// The file the printer "Tessary" writes to.
	std::string OutputPath() const { return Sub("out.pcl"); }

	// Runs a sub-command of the application against this server; its exit status, with
	// standard output and error in *output.
	int Run(const std::string& arguments, std::string* output) const;
	// Runs ipptool with the arguments; its exit status, with its output in *output.
	int Ipptool(const std::string& arguments, std::string* output) const;

	// The bytes a file has gained since the last call for it (the file device appends).
	std::vector<uint8_t> NewBytes(const std::string& path);

	// The administration password made at the first start, and the header that gives it
	// (HTTP Basic) with `password` in its place when one is given.
	std::string AdminPassword() const;
	std::string AdminAuthorization(const std::string& password = std::string()) const;

	// The end of the server's log and its standard error, for failure messages.
	std::string LogTail(size_t bytes = 4000) const;

private:
	std::vector<int> _Servers() const;
	void _Stop();

	std::string fFolder;
	int fPort = 0;
	int fPid = -1;
	std::vector<std::pair<std::string, uint64_t>> fTaken;
};

// Runs a shell command; its exit status, with standard output and error in *output.
int run_command(const std::string& command, std::string* output);

// One job through ipptool: a test file made of the given job attributes ("ATTR ..." lines
// for the job-attributes group), printed with document-format, then waited for until it ends.
struct JobResult {
	int exitStatus = -1;
	std::string output;           // ipptool's, for failure messages
	int state = 0;                // job-state: 7 canceled, 8 aborted, 9 completed
	std::string reasons;          // job-state-reasons
	std::string message;          // job-state-message
};

JobResult print_and_wait(const AppServer& server, const std::string& document,
	const std::string& format, const std::vector<std::string>& jobAttributes,
	const std::string& printer = "Tessary");

// Submits a job and returns its id (0 on failure) without waiting for it.
int submit_job(const AppServer& server, const std::string& document, const std::string& format,
	const std::vector<std::string>& jobAttributes, const std::string& printer = "Tessary");

// Waits until the job has ended (or the ipptool repeat limit is reached).
JobResult wait_for_job(const AppServer& server, int jobId, const std::string& printer = "Tessary");

// The job's state now (3 pending ... 9 completed), 0 when it cannot be asked.
int job_state(const AppServer& server, int jobId, const std::string& printer = "Tessary");

// Cancel-Job; false when the printer refused it (a job that has ended, say).
bool cancel_job(const AppServer& server, int jobId, const std::string& printer = "Tessary");

// Whether the printer answers Get-Printer-Attributes within a few seconds.
bool printer_answers(const AppServer& server, const std::string& printer = "Tessary");

// One HTTP/1.0 exchange with the server on loopback: the whole response, headers included.
// `headers` are added to the request as they are ("Authorization: Basic ...\r\n").
std::string http_exchange(int port, const std::string& method, const std::string& path,
	const std::string& form = std::string(), const std::string& headers = std::string());

// The text between `before` and `after` in `text`; empty when `before` is not there.
std::string text_between(const std::string& text, const std::string& before,
	const std::string& after);
