// The "Socket" transport: the job goes over a raw TCP connection to the "host:port" of the
// printer folder's "transport_address" attribute (port 9100 when none is given), as network
// printers take it. After the last byte the sending side is shut down and the transport
// waits for the printer to close, so a printer that hung up before taking every byte is
// reported (it resets the connection) instead of being counted as delivered.
//
// A printer that stops taking data fails the job once it has taken nothing for the folder's
// "transport_timeout" seconds (60 when the attribute is absent or unusable), whether the
// bytes it does not take wait in a write or in the kernel's send queue after the last one. A
// printer that takes bytes, however slowly, is waited for: each byte it acknowledges starts
// the time again. The bytes a failed job counts are those the printer acknowledged, not those
// the kernel queued for it. A printer that took every byte and keeps the connection open is
// left after kDrainTimeout, its job delivered.
//
// Every wait (the connection, a write, the end of the job) lasts at most kStopCheckMs at a
// time before it looks at the stop request: a job asked to stop lets go of its printer at
// once, sends nothing more, and resets the connection rather than leave its bytes queued.

#include "TransportStream.h"

#include <DeviceModel.h>
#include <JobOutcome.h>

#include <Message.h>
#include <Node.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

typedef std::chrono::steady_clock Clock;

const char* const kDefaultPort = "9100";
const auto kConnectTimeout = std::chrono::milliseconds(15000);
const auto kDrainTimeout = std::chrono::milliseconds(30000);
const char* const kStoppedError = "the job was stopped before the printer took every byte";

std::string describe_errno(int error)
{
	switch (error) {
		case ECONNREFUSED: return "connection refused";
		case EPIPE: return "broken pipe (the printer closed the connection)";
		case ECONNRESET: return "connection reset by the printer";
		case ETIMEDOUT: return "connection timed out";
		case EHOSTUNREACH: return "host unreachable";
		case ENETUNREACH: return "network unreachable";
		case ECANCELED: return "the job was stopped";
		default: return strerror(error);
	}
}

std::string bytes_in_words(int64 count)
{
	return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// Bytes written to the socket that the printer has not acknowledged yet, the FIN among them
// once the sending side is shut (Linux counts up to the last sequence number queued). 0 where
// the kernel cannot say: the bytes the kernel took are then all the transport knows of.
int64 unacknowledged(int fd)
{
	int queued = 0;
	if (ioctl(fd, SIOCOUTQ, &queued) != 0 || queued < 0)
		return 0;
	return queued;
}

// The stream of one job over a non-blocking socket.
class SocketStream : public TransportStream {
public:
	SocketStream(int fd, int32 timeoutSeconds)
		:
		fFd(fd),
		fTimeout(std::chrono::seconds(timeoutSeconds))
	{
	}

	~SocketStream() override
	{
		if (fFd >= 0)
			close(fFd);
	}

	// Ends the job: what is held goes out, the sending side is shut, and the transport waits
	// until the printer closes. A job asked to stop sends nothing more.
	void Finish()
	{
		if (fFd < 0)
			return;
		if (job_stop_requested()) {
			if (_Taken() < fSent + static_cast<int64>(Held()))
				SetFailure(_Taken(), kStoppedError);
		} else if (Flush() == B_OK) {
			if (shutdown(fFd, SHUT_WR) != 0) {
				SetError(describe_errno(errno));
			} else {
				fShutDown = true;
				_Drain();
			}
		}
		if (!FirstError().empty()) {
			// Bytes still queued would go on being offered to a printer that stopped taking
			// them, after the job has ended; a reset drops them and tells the printer.
			struct linger abort = {1, 0};
			setsockopt(fFd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
		}
		close(fFd);
		fFd = -1;
	}

protected:
	ssize_t WriteSome(const void* buffer, size_t size) override
	{
		Clock::time_point since = Clock::now();
		int64 taken = _Taken();
		for (;;) {
			// A printer that hung up must give EPIPE, not kill the process with SIGPIPE.
			ssize_t sent = send(fFd, buffer, size, MSG_NOSIGNAL | MSG_DONTWAIT);
			if (sent >= 0) {
				fSent += sent;
				return sent;
			}
			if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
				return -1;
			(void)wait_for_descriptor(fFd, POLLOUT);  // room or not, the next send says
			if (!_KeepWaiting(&since, &taken))
				return -1;
		}
	}

	std::string DescribeError(int error) const override { return describe_errno(error); }

private:
	// The bytes the printer has acknowledged.
	int64 _Taken() const
	{
		int64 queued = unacknowledged(fFd);
		if (fShutDown && queued > 0)
			queued--;  // the FIN
		return queued < fSent ? fSent - queued : 0;
	}

	// After a slice of waiting: false, with the job's error kept, when the job was asked to
	// stop or the printer has taken nothing for the timeout. `since` is when the printer last
	// took bytes (or the wait began), `taken` how many it had taken then.
	bool _KeepWaiting(Clock::time_point* since, int64* taken)
	{
		int64 now = _Taken();
		if (job_stop_requested()) {
			SetFailure(now, kStoppedError);
			return false;
		}
		if (now > *taken) {
			*taken = now;
			*since = Clock::now();
			return true;
		}
		if (Clock::now() - *since < fTimeout)
			return true;
		SetFailure(now, "the printer stopped taking data after " + bytes_in_words(now));
		return false;
	}

	// After the shutdown: reads and drops what the printer says until it closes, while it
	// takes the last bytes. A reset is the job's error; a stop request once every byte was
	// taken leaves the job delivered.
	void _Drain()
	{
		Clock::time_point since = Clock::now();
		int64 taken = _Taken();
		Clock::time_point allTaken;
		bool sawAllTaken = false;
		bool closed = false;
		for (;;) {
			// Once the printer has closed its side only the acknowledgements are waited for
			// (poll leaves out a negative descriptor and just waits).
			if (wait_for_descriptor(closed ? -1 : fFd, POLLIN)) {
				char scratch[512];
				ssize_t got = recv(fFd, scratch, sizeof(scratch), MSG_DONTWAIT);
				if (got == 0) {
					closed = true;
				} else if (got < 0 && errno != EINTR && errno != EAGAIN
					&& errno != EWOULDBLOCK) {
					SetFailure(_Taken(), describe_errno(errno));
					return;
				}
			}
			if (_Taken() < fSent) {
				if (!_KeepWaiting(&since, &taken))
					return;
				continue;
			}
			if (closed || job_stop_requested())
				return;
			if (!sawAllTaken) {
				sawAllTaken = true;
				allTaken = Clock::now();
			} else if (Clock::now() - allTaken >= kDrainTimeout) {
				return;
			}
		}
	}

	int fFd;
	Clock::duration fTimeout;
	int64 fSent = 0;         // bytes the kernel took from the stream
	bool fShutDown = false;  // the FIN is queued behind them
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
	Clock::time_point deadline = Clock::now() + kConnectTimeout;
	int socketError = 0;
	for (;;) {
		if (wait_for_descriptor(fd, POLLOUT)) {
			socklen_t length = sizeof(socketError);
			if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &socketError, &length) != 0)
				socketError = errno;
			break;
		}
		if (job_stop_requested()) {
			socketError = ECANCELED;
			break;
		}
		if (Clock::now() >= deadline) {
			socketError = ETIMEDOUT;
			break;
		}
	}
	if (socketError != 0) {
		*error = socketError;
		close(fd);
		return -1;
	}
	// The socket stays non-blocking for the job: every write waits in slices of its own.
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
			for (struct addrinfo* info = found; info != nullptr && fd < 0 && error != ECANCELED;
					info = info->ai_next)
				fd = connect_with_timeout(info, &error);
			freeaddrinfo(found);
			if (fd < 0)
				failure = "cannot connect to " + sJob->destination + ": " + describe_errno(error);
		}
	}
	if (fd < 0)
		return refuse_job(sJob, failure);
	int32 timeout = device::transport_timeout_seconds(
		read_string_attr(sJob->folder, device::kTransportTimeoutAttr));
	sJob->stream = new SocketStream(fd, timeout);
	return sJob->stream;
}

extern "C" __attribute__((visibility("default"))) void exit_transport()
{
	finish_job(sJob);
}
