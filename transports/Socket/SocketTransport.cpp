// The "Socket" transport: the job goes over a raw TCP connection to the "host:port" of the
// printer folder's "transport_address" attribute (port 9100 when none is given), as network
// printers take it. After the last byte the sending side is shut down and the transport
// waits for the printer to close, so a printer that hung up before taking every byte is
// reported (it resets the connection) instead of being counted as delivered.

#include "TransportStream.h"

#include <Message.h>
#include <Node.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kDefaultPort = "9100";
const int kConnectTimeoutMs = 15000;
const int kDrainTimeoutMs = 30000;

std::string describe_errno(int error)
{
	switch (error) {
		case ECONNREFUSED: return "connection refused";
		case EPIPE: return "broken pipe (the printer closed the connection)";
		case ECONNRESET: return "connection reset by the printer";
		case ETIMEDOUT: return "connection timed out";
		case EHOSTUNREACH: return "host unreachable";
		case ENETUNREACH: return "network unreachable";
		default: return strerror(error);
	}
}

class SocketStream : public TransportStream {
public:
	explicit SocketStream(int fd) : fFd(fd) {}
	~SocketStream() override
	{
		if (fFd >= 0)
			close(fFd);
	}

	// Ends the job: shuts the sending side and waits until the printer closes.
	void Finish()
	{
		if (fFd < 0)
			return;
		Flush();
		if (FirstError().empty() && shutdown(fFd, SHUT_WR) != 0)
			SetError(describe_errno(errno));
		while (FirstError().empty()) {
			struct pollfd poller = {fFd, POLLIN, 0};
			int ready = poll(&poller, 1, kDrainTimeoutMs);
			if (ready < 0 && errno == EINTR)
				continue;
			if (ready <= 0) {
				// The printer keeps the connection open; every byte was accepted by then.
				break;
			}
			char scratch[512];
			ssize_t got = recv(fFd, scratch, sizeof(scratch), 0);
			if (got == 0)
				break;
			if (got < 0) {
				if (errno == EINTR)
					continue;
				SetError(describe_errno(errno));
			}
		}
		close(fFd);
		fFd = -1;
	}

protected:
	ssize_t WriteSome(const void* buffer, size_t size) override
	{
		// A printer that hung up must give EPIPE, not kill the process with SIGPIPE.
		return send(fFd, buffer, size, MSG_NOSIGNAL);
	}

	std::string DescribeError(int error) const override { return describe_errno(error); }

private:
	int fFd;
};

typedef TransportJob<SocketStream> SocketJob;

SocketJob* sJob = nullptr;

// Splits "host:port", "host", "[v6]:port" or "[v6]".
bool split_address(const std::string& address, std::string* host, std::string* port)
{
	*port = kDefaultPort;
	if (!address.empty() && address[0] == '[') {
		size_t close = address.find(']');
		if (close == std::string::npos)
			return false;
		*host = address.substr(1, close - 1);
		if (close + 1 < address.size()) {
			if (address[close + 1] != ':')
				return false;
			*port = address.substr(close + 2);
		}
	} else {
		size_t colon = address.rfind(':');
		if (colon != std::string::npos && address.find(':') == colon) {
			*host = address.substr(0, colon);
			*port = address.substr(colon + 1);
		} else {
			*host = address;
		}
	}
	return !host->empty() && !port->empty();
}

int connect_with_timeout(const struct addrinfo* info, int* error)
{
	int fd = socket(info->ai_family, info->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
		info->ai_protocol);
	if (fd < 0) {
		*error = errno;
		return -1;
	}
	if (connect(fd, info->ai_addr, info->ai_addrlen) != 0 && errno != EINPROGRESS) {
		*error = errno;
		close(fd);
		return -1;
	}
	struct pollfd poller = {fd, POLLOUT, 0};
	int ready;
	do {
		ready = poll(&poller, 1, kConnectTimeoutMs);
	} while (ready < 0 && errno == EINTR);
	int socketError = 0;
	socklen_t length = sizeof(socketError);
	if (ready == 0)
		socketError = ETIMEDOUT;
	else if (ready < 0)
		socketError = errno;
	else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &socketError, &length) != 0)
		socketError = errno;
	if (socketError != 0) {
		*error = socketError;
		close(fd);
		return -1;
	}
	// Back to blocking writes for the job itself.
	int flags = fcntl(fd, F_GETFL);
	fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
	int one = 1;
	setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
	return fd;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) BDataIO* init_transport(BMessage* message,
	BMessage* /*reply*/)
{
	std::string folderPath;
	std::string address;
	if (!start_job(sJob, message, &folderPath, &address))
		return nullptr;
	std::string host;
	std::string port;
	std::string failure;
	int fd = -1;
	if (!split_address(address, &host, &port)) {
		failure = "no printer address (host:port) for the Socket transport";
	} else {
		sJob->destination = host + ":" + port;
		struct addrinfo hints = {};
		hints.ai_family = AF_UNSPEC;
		hints.ai_socktype = SOCK_STREAM;
		struct addrinfo* found = nullptr;
		int lookup = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
		if (lookup != 0) {
			failure = "cannot find " + host + ": " + gai_strerror(lookup);
		} else {
			int error = 0;
			for (struct addrinfo* info = found; info != nullptr && fd < 0; info = info->ai_next)
				fd = connect_with_timeout(info, &error);
			freeaddrinfo(found);
			if (fd < 0)
				failure = "cannot connect to " + sJob->destination + ": " + describe_errno(error);
		}
	}
	if (fd < 0)
		return refuse_job(sJob, failure);
	sJob->stream = new SocketStream(fd);
	return sJob->stream;
}

extern "C" __attribute__((visibility("default"))) void exit_transport()
{
	finish_job(sJob);
}
