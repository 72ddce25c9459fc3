#include "Devices.h"

#include <cups/cups.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace printer_app {

namespace {

const int kDefaultPort = 9100;
const int kConnectTimeoutMs = 15000;
const int kSliceMs = 100;

std::atomic<int> sTimeoutSeconds{60};

// Set while a job opens its own connection: PAPPL's opens get a placeholder.
thread_local bool tOpeningForJob = false;

struct Device {
	int fd = -1;               // -1: PAPPL's placeholder
	bool socket = false;
	std::atomic<bool> abandoned{false};
	std::atomic<bool> stalled{false};
	std::string error;         // why the last open failed
};

// Our devices, so that a device of another scheme is never taken for one.
std::mutex sDevicesLock;
std::set<Device*> sDevices;

Device* our_device(pappl_device_t* device)
{
	void* data = papplDeviceGetData(device);
	std::lock_guard<std::mutex> guard(sDevicesLock);
	auto found = sDevices.find(static_cast<Device*>(data));
	return found != sDevices.end() ? *found : nullptr;
}

void keep(pappl_device_t* device, Device* ours)
{
	{
		std::lock_guard<std::mutex> guard(sDevicesLock);
		sDevices.insert(ours);
	}
	papplDeviceSetData(device, ours);
}

struct UriParts {
	std::string host;
	int port = 0;
	std::string resource;
	std::string extension = "prn";
};

bool split_uri(const char* uri, UriParts* parts)
{
	char scheme[32];
	char userpass[32];
	char host[256];
	char resource[1024];
	if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), userpass,
			sizeof(userpass), host, sizeof(host), &parts->port, resource, sizeof(resource))
		< HTTP_URI_STATUS_OK)
		return false;
	parts->host = host;
	parts->resource = resource;
	size_t options = parts->resource.find('?');
	if (options != std::string::npos) {
		std::string option = parts->resource.substr(options + 1);
		if (option.compare(0, 4, "ext=") == 0 && option.find('/') == std::string::npos)
			parts->extension = option.substr(4);
		parts->resource.resize(options);
	}
	return true;
}

// A file, a character device or a FIFO, opened for the job's stream; writes do not block.
int open_file(const UriParts& parts, const char* jobName, std::string* error)
{
	struct stat info;
	std::string path = parts.resource;
	int flags = O_WRONLY | O_CLOEXEC | O_NONBLOCK;
	if (stat(path.c_str(), &info) != 0) {
		flags |= O_CREAT | O_APPEND;
	} else if (S_ISDIR(info.st_mode)) {
		std::string name = jobName != nullptr && jobName[0] != '\0' ? jobName : "job";
		for (char& c : name) {
			if (static_cast<unsigned char>(c) < ' ' || c == 0x7f || (c & 0x80) || c == '/')
				c = '_';
		}
		path += "/" + name + "." + parts.extension;
		flags |= O_CREAT | O_TRUNC;
	} else if (S_ISREG(info.st_mode)) {
		flags |= O_APPEND;
	} else if (!S_ISCHR(info.st_mode) && !S_ISFIFO(info.st_mode)) {
		*error = "'" + path + "' is neither a file, a folder nor a device";
		return -1;
	}
	int fd = open(path.c_str(), flags, 0666);
	if (fd < 0) {
		*error = errno == ENXIO ? "nothing reads '" + path + "'"
			: "cannot open '" + path + "': " + strerror(errno);
	}
	return fd;
}

int open_socket(const UriParts& parts, std::string* error)
{
	struct addrinfo hints = {};
	hints.ai_family = AF_UNSPEC;
	hints.ai_socktype = SOCK_STREAM;
	struct addrinfo* found = nullptr;
	std::string service = std::to_string(parts.port > 0 ? parts.port : kDefaultPort);
	int lookup = getaddrinfo(parts.host.c_str(), service.c_str(), &hints, &found);
	if (lookup != 0) {
		*error = "cannot find " + parts.host + ": " + gai_strerror(lookup);
		return -1;
	}
	int fd = -1;
	int failure = 0;
	for (struct addrinfo* info = found; info != nullptr && fd < 0; info = info->ai_next) {
		fd = socket(info->ai_family, info->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
			info->ai_protocol);
		if (fd < 0) {
			failure = errno;
			continue;
		}
		if (connect(fd, info->ai_addr, info->ai_addrlen) != 0 && errno != EINPROGRESS) {
			failure = errno;
			close(fd);
			fd = -1;
			continue;
		}
		struct pollfd poller = {fd, POLLOUT, 0};
		int ready;
		do {
			ready = poll(&poller, 1, kConnectTimeoutMs);
		} while (ready < 0 && errno == EINTR);
		int socketError = ready == 0 ? ETIMEDOUT : 0;
		socklen_t length = sizeof(socketError);
		if (ready > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &socketError, &length) != 0)
			socketError = errno;
		if (socketError != 0) {
			failure = socketError;
			close(fd);
			fd = -1;
		}
	}
	freeaddrinfo(found);
	if (fd < 0) {
		*error = "cannot connect to " + parts.host + ":" + service + ": " + strerror(failure);
		return -1;
	}
	int one = 1;
	setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
	return fd;
}

bool device_open(pappl_device_t* device, const char* uri, const char* jobName, bool socket)
{
	auto* ours = new Device;
	ours->socket = socket;
	if (tOpeningForJob) {
		UriParts parts;
		std::string error;
		if (!split_uri(uri, &parts) || (socket && parts.host.empty())) {
			error = std::string("bad device URI '") + uri + "'";
		} else {
			ours->fd = socket ? open_socket(parts, &error) : open_file(parts, jobName, &error);
		}
		if (ours->fd < 0) {
			papplDeviceError(device, "%s", error.c_str());
			delete ours;
			return false;
		}
	}
	keep(device, ours);
	return true;
}

bool file_open(pappl_device_t* device, const char* uri, const char* jobName)
{
	return device_open(device, uri, jobName, false);
}

bool socket_open(pappl_device_t* device, const char* uri, const char* jobName)
{
	return device_open(device, uri, jobName, true);
}

void device_close(pappl_device_t* device)
{
	Device* ours = our_device(device);
	if (ours == nullptr)
		return;
	{
		std::lock_guard<std::mutex> guard(sDevicesLock);
		sDevices.erase(ours);
	}
	if (ours->fd >= 0)
		close(ours->fd);
	delete ours;
}

ssize_t device_read(pappl_device_t* device, void* buffer, size_t size)
{
	Device* ours = our_device(device);
	if (ours == nullptr || ours->fd < 0 || !ours->socket)
		return -1;
	struct pollfd poller = {ours->fd, POLLIN, 0};
	if (poll(&poller, 1, 0) <= 0)
		return 0;
	return recv(ours->fd, buffer, size, 0);
}

// Writes in slices; gives up after the timeout without progress, or when abandoned.
ssize_t device_write(pappl_device_t* device, const void* buffer, size_t size)
{
	Device* ours = our_device(device);
	if (ours == nullptr || ours->fd < 0)
		return -1;
	const char* bytes = static_cast<const char*>(buffer);
	size_t left = size;
	auto lastProgress = std::chrono::steady_clock::now();
	while (left > 0) {
		if (ours->abandoned)
			return -1;
		struct pollfd poller = {ours->fd, POLLOUT, 0};
		int ready = poll(&poller, 1, kSliceMs);
		if (ready < 0 && errno != EINTR)
			return -1;
		if (ready <= 0) {
			if (std::chrono::steady_clock::now() - lastProgress
				> std::chrono::seconds(sTimeoutSeconds.load())) {
				ours->stalled = true;
				return -1;
			}
			continue;
		}
		ssize_t sent = ours->socket ? send(ours->fd, bytes, left, MSG_NOSIGNAL | MSG_DONTWAIT)
			: write(ours->fd, bytes, left);
		if (sent < 0 && (errno == EINTR || errno == EAGAIN))
			continue;
		if (sent < 0)
			return -1;
		bytes += sent;
		left -= static_cast<size_t>(sent);
		lastProgress = std::chrono::steady_clock::now();
	}
	return static_cast<ssize_t>(size);
}

pappl_preason_t device_status(pappl_device_t*)
{
	return PAPPL_PREASON_NONE;
}

struct OpenError {
	std::string text;
};

void keep_open_error(const char* message, void* data)
{
	static_cast<OpenError*>(data)->text = message != nullptr ? message : "";
}

}  // namespace

void add_device_schemes()
{
	papplDeviceAddScheme("file", PAPPL_DEVTYPE_FILE, nullptr, file_open, device_close,
		device_read, device_write, device_status, nullptr);
	papplDeviceAddScheme("socket", PAPPL_DEVTYPE_SOCKET, nullptr, socket_open, device_close,
		device_read, device_write, device_status, nullptr);
}

void set_device_timeout(int seconds)
{
	sTimeoutSeconds = seconds;
}

bool has_job_device(const char* uri)
{
	return uri != nullptr && (strncmp(uri, "file:", 5) == 0 || strncmp(uri, "socket:", 7) == 0);
}

pappl_device_t* open_job_device(const char* uri, const char* jobName, std::string* error)
{
	OpenError failure;
	tOpeningForJob = true;
	pappl_device_t* device = papplDeviceOpen(uri, jobName != nullptr ? jobName : "job",
		keep_open_error, &failure);
	tOpeningForJob = false;
	if (device == nullptr)
		*error = failure.text.empty() ? std::string("cannot open the printer's device")
			: failure.text;
	return device;
}

bool write_to_device(pappl_device_t* device, const void* buffer, size_t size,
	std::string* error)
{
	if (papplDeviceWrite(device, buffer, size) >= 0)
		return true;
	Device* ours = our_device(device);
	*error = ours != nullptr && ours->stalled ? "the printer stopped taking data"
		: "the printer did not take the data";
	return false;
}

void abandon_device(pappl_device_t* device)
{
	if (Device* ours = our_device(device))
		ours->abandoned = true;
}

}  // namespace printer_app
