// The "File" transport: the job goes to the file named by the printer folder's
// "transport_address" attribute, replacing it as printing to a file does. The bytes are
// written to a hidden file beside it (".NAME.part-PID") and moved over the old file only when
// the driver's record says it sent the whole job and every byte reached the disk, so a
// refused, cut-short, interrupted or failed job leaves the old file as it was. A hidden file
// left by a job whose process died is removed by the next job to the same file. Without an
// address the job goes to a new file in the printer's folder, named after the job and the
// time, and never replaces one.

#include "TransportStream.h"

#include <JobOutcome.h>

#include <Message.h>
#include <Node.h>

#include <dirent.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

class FileStream : public TransportStream {
public:
	explicit FileStream(int fd) : fFd(fd) {}
	~FileStream() override
	{
		if (fFd >= 0)
			close(fFd);
	}

	// Closes the file; false (with the error kept) when the data did not reach the disk.
	bool Close()
	{
		if (fFd < 0)
			return FirstError().empty();
		Flush();
		if (FirstError().empty() && fsync(fFd) != 0 && errno != EINVAL)
			SetError(std::string("cannot write the file: ") + strerror(errno));
		if (close(fFd) != 0 && FirstError().empty())
			SetError(std::string("cannot write the file: ") + strerror(errno));
		fFd = -1;
		return FirstError().empty();
	}

protected:
	ssize_t WriteSome(const void* buffer, size_t size) override
	{
		return write(fFd, buffer, size);
	}

	std::string DescribeError(int error) const override
	{
		return std::string("cannot write the file: ") + strerror(error);
	}

private:
	int fFd;
};

// The destination is the file the job is for.
struct FileJob : TransportJob<FileStream> {
	std::string partial;       // where the bytes are written until the job is complete
};

FileJob* sJob = nullptr;

std::string sanitized_job_name(const std::string& name)
{
	std::string result;
	for (char c : name) {
		if (c == '/' || c == '\0' || static_cast<unsigned char>(c) < 0x20)
			result += '_';
		else
			result += c;
	}
	if (result.empty() || result == "." || result == "..")
		result = "job";
	if (result.size() > 120)
		result.resize(120);
	return result;
}

// Opens a new file in folder named after the job and the time; adds a counter rather than
// replacing a file that exists.
int open_new_job_file(const std::string& folder, const std::string& jobName, std::string* path)
{
	char stamp[32];
	time_t now = time(nullptr);
	struct tm local;
	localtime_r(&now, &local);
	strftime(stamp, sizeof(stamp), "%Y-%m-%d %H%M%S", &local);
	std::string base = folder + "/" + sanitized_job_name(jobName) + " " + stamp;
	for (int attempt = 0; attempt < 1000; attempt++) {
		std::string candidate = base + (attempt == 0 ? "" : "-" + std::to_string(attempt))
			+ ".pcl";
		int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
		if (fd >= 0 || errno != EEXIST) {
			*path = candidate;
			return fd;
		}
	}
	errno = EEXIST;
	return -1;
}

// The hidden file a job to `leaf` writes while it runs, for the process `pid`.
std::string partial_name(const std::string& leaf, pid_t pid)
{
	return "." + leaf + ".part-" + std::to_string(pid);
}

// Removes hidden files of earlier jobs to `leaf` in `directory` whose process is gone (killed,
// or the machine went down). A live process's file is its job in progress and stays.
void remove_leftovers(const std::string& directory, const std::string& leaf)
{
	DIR* folder = opendir(directory.c_str());
	if (folder == nullptr)
		return;
	const std::string prefix = "." + leaf + ".part-";
	while (struct dirent* entry = readdir(folder)) {
		std::string name = entry->d_name;
		if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
			continue;
		std::string digits = name.substr(prefix.size());
		if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
			continue;
		pid_t pid = static_cast<pid_t>(std::stol(digits));
		if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH)
			unlink((directory + "/" + name).c_str());
	}
	closedir(folder);
}

// Whether the driver recorded this job as sent whole (it writes its record before it
// closes the transport).
bool driver_completed(BNode* folder)
{
	JobOutcome outcome;
	return read_job_outcome(folder, &outcome) && outcome.Completed();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) BDataIO* init_transport(BMessage* message,
	BMessage* /*reply*/)
{
	std::string folderPath;
	std::string address;
	if (!start_job(sJob, message, &folderPath, &address))
		return nullptr;
	int fd;
	if (!address.empty()) {
		if (address[0] != '/')
			address = folderPath + "/" + address;
		sJob->destination = address;
		size_t slash = address.rfind('/');
		std::string directory = address.substr(0, slash);
		std::string leaf = address.substr(slash + 1);
		remove_leftovers(directory, leaf);
		sJob->partial = directory + "/" + partial_name(leaf, getpid());
		fd = open(sJob->partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	} else {
		std::string jobName = read_string_attr(sJob->folder, kJobNameAttr);
		fd = open_new_job_file(folderPath, jobName.empty() ? "job" : jobName,
			&sJob->destination);
	}
	if (fd < 0)
		return refuse_job(sJob, "cannot create " + sJob->destination + ": " + strerror(errno));
	sJob->stream = new FileStream(fd);
	return sJob->stream;
}

extern "C" __attribute__((visibility("default"))) void exit_transport()
{
	if (sJob == nullptr)
		return;
	FileStream* stream = sJob->stream;
	bool delivered = stream->Close();
	if (!sJob->partial.empty()) {
		// A job the driver did not complete is no replacement for the old file; that is
		// the driver's account to give, not a failure of the file.
		bool replace = delivered && driver_completed(&sJob->folder);
		if (replace && rename(sJob->partial.c_str(), sJob->destination.c_str()) != 0) {
			stream->SetError("cannot replace " + sJob->destination + ": " + strerror(errno));
			delivered = false;
		}
		if (!replace || !delivered)
			unlink(sJob->partial.c_str());
	}
	record_outcome(sJob->folder, stream->BytesDelivered(), stream->FirstError(),
		sJob->destination);
	delete stream;
	delete sJob;
	sJob = nullptr;
}
