// A CUPS scheduler of the test's own, as CUPS's own test suite runs one: `cupsd -f` with a
// configuration written into a temporary folder (its own ServerRoot, RequestRoot, CacheDir,
// StateDir, DataDir and logs), listening on a free port of 127.0.0.1 only, with file: devices
// allowed and a ServerBin whose filters, backends and helpers are links to the system's, plus
// the driver's rastertotessary and pdftotessary (the built ones, or others the test names).
// Its DataDir is the system's with the driver's tessary.ppd added to the models, so `lpinfo
// -m` lists it. The machine's own CUPS is never touched.
//
// CUPS runs filters as the user lp: the temporary folder is open to every user, and the built
// filter, the add-ons and libraries it loads must be readable by lp too (a build tree made with
// the usual umask is). The scheduler is stopped, and its folder removed, when the object goes,
// whether the test passed or not.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class PrivateScheduler {
public:
	// Job states as IPP numbers them.
	enum JobState {
		kPending = 3,
		kHeld = 4,
		kProcessing = 5,
		kStopped = 6,
		kCanceled = 7,
		kAborted = 8,
		kCompleted = 9
	};

	// The driver the scheduler prints with: the folder of its filters, its PPD, and what the
	// filters' environment needs beyond CUPS's own (NAME=VALUE, given by a script that runs
	// them).
	struct Driver {
		std::string filters;
		std::string ppd;
		std::vector<std::string> environment;
	};
	// The filters and PPD of the build tree.
	static Driver BuiltDriver();

	explicit PrivateScheduler(const Driver& driver = BuiltDriver());
	~PrivateScheduler();
	PrivateScheduler(const PrivateScheduler&) = delete;
	PrivateScheduler& operator=(const PrivateScheduler&) = delete;

	// Writes the configuration and starts cupsd; false with the reason when it does not come
	// up listening.
	bool Start(std::string* error);

	int Port() const { return fPort; }
	std::string Server() const { return "127.0.0.1:" + std::to_string(fPort); }
	const std::string& Folder() const { return fFolder; }
	// Where a queue of the test writes its jobs (a folder lp can reach).
	std::string OutputPath(const std::string& name) const { return fFolder + "/out/" + name; }

	// Runs a CUPS command (lp, lpadmin, cancel, cupstestppd, ...) against this scheduler;
	// its exit status, with standard output and error in *output.
	int Run(const std::vector<std::string>& arguments, std::string* output) const;

	// Prints with `lp -h SERVER -d queue options... file`; the job id, or 0 (with lp's words
	// in *error).
	int Print(const std::string& queue, const std::vector<std::string>& options,
		const std::string& file, std::string* error) const;

	// The job's state, 0 when it cannot be asked.
	int JobStateOf(int job) const;
	// Waits (bounded) until the job is completed, canceled, aborted or stopped; its state.
	int WaitForJobEnd(int job, int timeoutSeconds = 120) const;
	// Waits (bounded) until the job reaches `state`; false on a deadline or another end.
	bool WaitForJobState(int job, int state, int timeoutSeconds = 60) const;

	// The scheduler's log lines about the job ("[Job N]"), for a failure message.
	std::string JobLog(int job) const;
	// Waits (bounded) until a line about the job contains `text`.
	bool WaitForJobLog(int job, const std::string& text, int timeoutSeconds = 30) const;
	std::string PageLog() const;

private:
	bool _WriteConfiguration(std::string* error);
	bool _WaitUntilListening(std::string* error);
	void _Stop();

	Driver fDriver;
	std::string fFolder;
	int fPort = 0;
	pid_t fPid = -1;
};
