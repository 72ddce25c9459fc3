// The "File" transport: the job goes to the file or device named by the printer folder's
// "transport_address" attribute.
//
// A regular file (or one not there yet) is replaced as printing to a file does. The bytes are
// written to a hidden file beside it (".NAME.part-PID") and moved over the old file only when
// the driver's record says it sent the whole job and every byte reached the disk, so a
// refused, cut-short, interrupted or failed job leaves the old file as it was, and says so in
// its record. A hidden file left by a job whose process died is removed by the next job to
// the same file. Through a symbolic link, it is the file the link names that is replaced;
// the link stays.
//
// Anything else is a device: a printer's node (/dev/usb/lp0, /dev/lp0), a FIFO, a terminal
// (a serial printer, set to pass bytes unchanged). It is opened for writing as it is, never
// created, truncated or replaced, and written through as the driver sends, by a stream that
// never blocks, so that a stop request ends a job that a printer holds up. An address below
// /dev that names nothing is a printer that is not there, not a file to make. A device that
// is absent, busy or refuses says so in one line; a folder, a disk or a socket is refused.
//
// Without an address the job goes to a new file in the printer's folder, named after the job
// and the time, and never replaces one.

#include "DescriptorStream.h"
#include "TransportStream.h"

#include <JobOutcome.h>

#include <Message.h>
#include <Node.h>

#include <dirent.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>

#include <cerrno>
#include <climits>
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

// A device the job is written straight to; the transport opened it and closes it.
class DeviceStream : public DescriptorStream {
public:
	DeviceStream(int fd, const std::string& address) : DescriptorStream(fd), fAddress(address) {}
	~DeviceStream() override { close(Descriptor()); }

protected:
	std::string DescribeError(int error) const override
	{
		return "cannot write to " + fAddress + ": " + Reason(error);
	}

private:
	std::string fAddress;
};

// The destination is the file or device the job is for; one of the two streams is open.
struct FileJob : TransportJob<TransportStream> {
	FileStream* file = nullptr;
	DeviceStream* device = nullptr;
	std::string target;        // the file the address names through its links
	std::string partial;       // where a file's bytes are written until the job is complete
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

// The file a path names through its symbolic links, which need not exist yet. Empty (with
// errno) when a link cannot be read or the links go round in a loop.
std::string resolve_links(const std::string& path)
{
	std::string current = path;
	for (int hop = 0; hop < 40; hop++) {
		struct stat status;
		if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
			return current;
		char target[PATH_MAX];
		ssize_t length = readlink(current.c_str(), target, sizeof(target) - 1);
		if (length < 0)
			return std::string();
		target[length] = '\0';
		if (target[0] == '/')
			current = target;
		else
			current = current.substr(0, current.rfind('/') + 1) + target;
	}
	errno = ELOOP;
	return std::string();
}

// What a user can do about a device that refuses them: join the group that may write to it.
std::string permission_hint(const struct stat& status)
{
	struct group* owner = getgrgid(status.st_gid);
	if ((status.st_mode & S_IWGRP) == 0 || owner == nullptr || status.st_gid == 0)
		return std::string();
	std::string name = owner->gr_name;
	return " (its group " + name + " may write to it: join that group with `sudo usermod -aG "
		+ name + " $USER` and log in again)";
}

// Why a device did not open for writing, in one line.
std::string device_refusal(const std::string& address, const struct stat& status, int error)
{
	switch (error) {
		case EBUSY:
			return address + " is busy: another program has it open";
		case ENXIO:
		case ENODEV:
			if (S_ISFIFO(status.st_mode))
				return "nothing reads the FIFO " + address;
			return "no printer answers at " + address + " (is it connected and switched on?)";
		case EACCES:
		case EPERM:
			return "cannot open " + address + ": " + strerror(error) + permission_hint(status);
		default:
			return "cannot open " + address + ": " + strerror(error);
	}
}

// Why a target that is not a regular file cannot be printed to, or empty when it is a device
// the job is written to.
std::string unwritable_kind(const std::string& address, const struct stat& status)
{
	if (S_ISDIR(status.st_mode))
		return address + " is a folder, not a file or a printer's device";
	if (S_ISBLK(status.st_mode))
		return address + " is a disk, not a printer's device";
	if (S_ISSOCK(status.st_mode))
		return address + " is a socket, which the File transport does not write (the Socket "
			"transport prints to a printer on the network)";
	return std::string();
}

// Opens a device for the job as it is: no creating, truncating or replacing. A terminal is
// set to pass the bytes unchanged. -1 with *failure set when it cannot be had.
int open_device(const std::string& address, const std::string& target,
	const struct stat& status, std::string* failure)
{
	*failure = unwritable_kind(address, status);
	if (!failure->empty())
		return -1;
	int fd = open(target.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0) {
		*failure = device_refusal(address, status, errno);
		return -1;
	}
	struct termios terminal;
	if (isatty(fd) && tcgetattr(fd, &terminal) == 0) {
		cfmakeraw(&terminal);
		(void)tcsetattr(fd, TCSANOW, &terminal);  // a terminal that keeps its ways still prints
	}
	return fd;
}

// Whether the driver recorded this job as sent whole (it writes its record before it
// closes the transport).
bool driver_completed(BNode* folder)
{
	JobOutcome outcome;
	return read_job_outcome(folder, &outcome) && outcome.Completed();
}

// Opens the regular file `target` (the address through its links) for a job that replaces
// it: a hidden file beside it.
int open_partial(const std::string& target)
{
	size_t slash = target.rfind('/');
	std::string directory = target.substr(0, slash);
	std::string leaf = target.substr(slash + 1);
	remove_leftovers(directory, leaf);
	sJob->partial = directory + "/" + partial_name(leaf, getpid());
	return open(sJob->partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) BDataIO* init_transport(BMessage* message,
	BMessage* /*reply*/)
{
	std::string folderPath;
	std::string address;
	if (!start_job(sJob, message, &folderPath, &address))
		return nullptr;
	if (address.empty()) {
		std::string jobName = read_string_attr(sJob->folder, kJobNameAttr);
		int fd = open_new_job_file(folderPath, jobName.empty() ? "job" : jobName,
			&sJob->destination);
		if (fd < 0) {
			return refuse_job(sJob, "cannot create " + sJob->destination + ": "
				+ strerror(errno));
		}
		sJob->stream = sJob->file = new FileStream(fd);
		return sJob->stream;
	}

	if (address[0] != '/')
		address = folderPath + "/" + address;
	sJob->destination = address;
	sJob->target = resolve_links(address);
	const std::string& target = sJob->target;
	if (target.empty())
		return refuse_job(sJob, "cannot follow " + address + ": " + strerror(errno));
	struct stat status;
	bool exists = stat(target.c_str(), &status) == 0;
	if (exists && !S_ISREG(status.st_mode)) {
		std::string failure;
		int fd = open_device(address, target, status, &failure);
		if (fd < 0)
			return refuse_job(sJob, failure);
		sJob->stream = sJob->device = new DeviceStream(fd, address);
		return sJob->stream;
	}
	if (!exists && target.compare(0, 5, "/dev/") == 0) {
		return refuse_job(sJob, "no device " + address
			+ " (is the printer connected and switched on?)");
	}
	int fd = open_partial(target);
	if (fd < 0)
		return refuse_job(sJob, "cannot create " + address + ": " + strerror(errno));
	sJob->stream = sJob->file = new FileStream(fd);
	return sJob->stream;
}

extern "C" __attribute__((visibility("default"))) void exit_transport()
{
	if (sJob == nullptr)
		return;
	TransportStream* stream = sJob->stream;
	bool untouched = false;
	if (sJob->device != nullptr) {
		sJob->device->Finish();
	} else {
		bool delivered = sJob->file->Close();
		if (!sJob->partial.empty()) {
			// A job the driver did not complete is no replacement for the old file; that is
			// the driver's account to give, not a failure of the file.
			bool replace = delivered && driver_completed(&sJob->folder);
			if (replace && rename(sJob->partial.c_str(), sJob->target.c_str()) != 0) {
				stream->SetError("cannot replace " + sJob->destination + ": " + strerror(errno));
				delivered = false;
			}
			untouched = !replace || !delivered;
			if (untouched)
				unlink(sJob->partial.c_str());
		}
	}
	record_outcome(sJob->folder, stream->BytesDelivered(), stream->FirstError(),
		sJob->destination, untouched);
	delete stream;
	delete sJob;
	sJob = nullptr;
}
