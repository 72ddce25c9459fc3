// Printers that stop taking data, and printers that are merely slow, through the built
// tessary: the Socket transport gives up on a printer that took nothing for the printer's
// timeout and says how far it got, waits for one that goes on taking bytes however slowly,
// and lets SIGINT and SIGTERM end the tool at once whatever it waits for (the connection, a
// write, the end of the job).

#include "DeviceModel.h"
#include "DriverFolders.h"
#include "Printers.h"
#include "Spool.h"
#include "SpoolPlan.h"
#include "TransportOutcome.h"
#include "support/TempRoot.h"
#include "support/WaitsOnOutput.h"

#include <Node.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace {

typedef std::chrono::steady_clock Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

std::vector<uint8_t> read_file(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
		std::istreambuf_iterator<char>());
}

std::string text_of(const std::string& path)
{
	std::vector<uint8_t> bytes = read_file(path);
	return std::string(bytes.begin(), bytes.end());
}

// Whether the kernel's table lists a connection to `port` on 127.0.0.1 in `state` (1
// established, 2 still connecting, 4 shut for sending with its FIN not yet acknowledged).
bool has_connection(int port, unsigned state)
{
	std::ifstream table("/proc/net/tcp");
	std::string line;
	std::getline(table, line);
	char remote[32];
	snprintf(remote, sizeof(remote), "0100007F:%04X", port);
	while (std::getline(table, line)) {
		char local[64], peer[64];
		unsigned found = 0;
		if (sscanf(line.c_str(), "%*s %63s %63s %x", local, peer, &found) == 3
			&& std::string(peer) == remote && found == state)
			return true;
	}
	return false;
}

// A printer on 127.0.0.1 with a small receive buffer, so that bytes it does not read soon
// hold the sender up. It takes one connection and reads the first `first` bytes as they come;
// after them `pace` bytes every 500 ms, or nothing more when `pace` is 0. Once the sender has
// shut its side the printer keeps the connection open for `keepOpen`, then closes it. One
// that does not accept leaves the connection half made: its queue is full already.
class Printer {
public:
	struct Habits {
		size_t first = SIZE_MAX;
		size_t pace = 0;
		milliseconds keepOpen{0};
		bool accepts = true;
	};

	explicit Printer(const Habits& habits) : fHabits(habits)
	{
		fSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
		int small = 2048;
		setsockopt(fSocket, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
		// Segments of an Ethernet's size rather than loopback's 64 KB, so that the window
		// opens as the printer reads, as a network printer's does.
		int segment = 1460;
		setsockopt(fSocket, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof(segment));
		sockaddr_in address = {};
		address.sin_family = AF_INET;
		address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		bind(fSocket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
		socklen_t length = sizeof(address);
		getsockname(fSocket, reinterpret_cast<sockaddr*>(&address), &length);
		fPort = ntohs(address.sin_port);
		if (pipe2(fQuit, O_CLOEXEC) != 0)
			throw std::runtime_error("pipe failed");
		if (!habits.accepts) {
			// A backlog of none holds one connection that nobody accepts; the kernel drops
			// the handshake of every connection after it.
			listen(fSocket, 0);
			fFiller = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
			connect(fFiller, reinterpret_cast<sockaddr*>(&address), sizeof(address));
			return;
		}
		listen(fSocket, 1);
		fThread = std::thread([this] { _Serve(); });
	}

	~Printer()
	{
		Finish();
		close(fQuit[0]);
		close(fQuit[1]);
		if (fFiller >= 0)
			close(fFiller);
		close(fSocket);
	}

	int Port() const { return fPort; }
	size_t Received() const { return fReceived.load(); }

	// Lets go of the connection; everything the printer read.
	std::vector<uint8_t> Finish()
	{
		if (fThread.joinable()) {
			(void)write(fQuit[1], "q", 1);  // a full pipe is a quit all the same
			fThread.join();
		}
		return fBytes;
	}

private:
	// Waits up to `timeout` for `fd` to be readable; false when nothing came or the test
	// ended the printer first.
	bool _Readable(int fd, milliseconds timeout)
	{
		pollfd wait[2] = {{fQuit[0], POLLIN, 0}, {fd, POLLIN, 0}};
		return poll(wait, 2, static_cast<int>(timeout.count())) > 0 && wait[0].revents == 0;
	}

	// Waits `timeout`; true when the test ended the printer meanwhile.
	bool _Ended(milliseconds timeout)
	{
		pollfd wait = {fQuit[0], POLLIN, 0};
		return poll(&wait, 1, static_cast<int>(timeout.count())) > 0;
	}

	// Reads up to `want` bytes; false once the sender has closed or reset.
	bool _Read(int connection, size_t want)
	{
		char buffer[65536];
		ssize_t got = recv(connection, buffer, std::min(want, sizeof(buffer)), MSG_DONTWAIT);
		if (got == 0 || (got < 0 && errno != EAGAIN))
			return false;
		if (got > 0) {
			fBytes.insert(fBytes.end(), buffer, buffer + got);
			fReceived += static_cast<size_t>(got);
		}
		return true;
	}

	void _Serve()
	{
		if (!_Readable(fSocket, seconds(60)))
			return;
		int connection = accept(fSocket, nullptr, nullptr);
		if (connection < 0)
			return;
		// Two minutes at most, whatever the sender does.
		Clock::time_point deadline = Clock::now() + seconds(120);
		bool open = true;
		while (open && fBytes.size() < fHabits.first && Clock::now() < deadline) {
			if (!_Readable(connection, seconds(60)))
				break;
			open = _Read(connection, fHabits.first - fBytes.size());
		}
		while (open && Clock::now() < deadline) {
			if (_Ended(fHabits.pace > 0 ? milliseconds(500) : seconds(120))
				|| fHabits.pace == 0)
				break;
			open = _Read(connection, fHabits.pace);
		}
		if (!open)
			_Ended(fHabits.keepOpen);
		close(connection);
	}

	Habits fHabits;
	int fSocket = -1;
	int fFiller = -1;
	int fPort = 0;
	int fQuit[2] = {-1, -1};
	std::atomic<size_t> fReceived{0};
	std::vector<uint8_t> fBytes;
	std::thread fThread;
};

class SocketTransport : public ::testing::Test {
protected:
	void AddPrinter(const std::string& name, const Printer& printer, int32 timeout = 0)
	{
		std::string error;
		ASSERT_TRUE(server::add_printer(name, "Socket",
			"127.0.0.1:" + std::to_string(printer.Port()), timeout, &error)) << error;
	}

	// A spool file of a small page of text at 75 dpi: a job of a few dozen kilobytes.
	std::string SmallSpool()
	{
		std::string text = fRoot.Sub("note.txt");
		std::ofstream(text) << "A page for a slow printer.\n\tSecond line.\n";
		BMessage settings;
		device::default_settings(&settings);
		settings.ReplaceRect("paper_rect", BRect(0, 0, 160, 200));
		settings.ReplaceInt32("xres", 75);
		std::string path = fRoot.Sub("small.spool");
		int32 pages = 0;
		frontend::DocumentError error;
		EXPECT_TRUE(frontend::write_spool(path, {text}, settings, "", &pages, &error))
			<< error.InWords();
		return path;
	}

	// What the job of the spool file sends, as a File printer receives it.
	std::vector<uint8_t> JobBytes(const std::string& spool)
	{
		std::string error;
		std::string file = fRoot.Sub("job.pcl");
		EXPECT_TRUE(server::add_printer("File printer", "File", file, &error)) << error;
		EXPECT_EQ(Run({"print", "File printer", "--spool", spool}), 0) << Errors();
		EXPECT_TRUE(server::remove_printer("File printer", &error)) << error;
		return read_file(file);
	}

	// Starts `tessary ARGUMENTS`, its standard error into a file of the root.
	pid_t Start(const std::vector<std::string>& arguments)
	{
		posix_spawn_file_actions_t actions;
		posix_spawn_file_actions_init(&actions);
		posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
		posix_spawn_file_actions_addopen(&actions, 2, ErrorsPath().c_str(),
			O_WRONLY | O_CREAT | O_TRUNC, 0644);
		std::string tool = std::string(TESSARY_BUILD_DIR) + "/server/tessary";
		std::vector<const char*> argv = {tool.c_str()};
		for (const std::string& argument : arguments)
			argv.push_back(argument.c_str());
		argv.push_back(nullptr);
		pid_t child = -1;
		if (posix_spawn(&child, tool.c_str(), &actions, nullptr,
				const_cast<char* const*>(argv.data()), environ) != 0)
			child = -1;
		posix_spawn_file_actions_destroy(&actions);
		return child;
	}

	// The tool's exit status once it has ended, or -1 (and the tool killed) when it has not
	// ended within `watchdog` or a signal ended it. `took` is how long it ran.
	static int Wait(pid_t child, Clock::duration watchdog, double* took = nullptr)
	{
		Clock::time_point start = Clock::now();
		int status = 0;
		while (waitpid(child, &status, WNOHANG) == 0) {
			if (Clock::now() - start > watchdog) {
				kill(child, SIGKILL);
				waitpid(child, &status, 0);
				ADD_FAILURE() << "the tool did not end";
				return -1;
			}
			poll(nullptr, 0, 10);
		}
		if (took != nullptr)
			*took = std::chrono::duration<double>(Clock::now() - start).count();
		return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	}

	// Runs `tessary ARGUMENTS` to its end.
	int Run(const std::vector<std::string>& arguments)
	{
		pid_t child = Start(arguments);
		if (child < 0)
			return -1;
		return Wait(child, seconds(240));
	}

	std::string ErrorsPath() const { return fRoot.Sub("stderr.txt"); }
	std::string Errors() const { return text_of(ErrorsPath()); }

	TempRoot fRoot;
};

// The number that follows `lead` in `line`; -1 when `lead` is not there.
long long bytes_after(const std::string& line, const std::string& lead)
{
	size_t at = line.find(lead);
	if (at == std::string::npos)
		return -1;
	return atoll(line.c_str() + at + lead.size());
}

TEST_F(SocketTransport, APrinterThatStopsTakingDataFailsTheJobAfterItsTimeout)
{
	Printer printer({64 * 1024, 0, milliseconds(0), true});
	AddPrinter("Stalled", printer, 2);

	pid_t tool = Start({"print", "Stalled"});
	ASSERT_GT(tool, 0);
	double took = 0;
	int status = Wait(tool, seconds(240), &took);
	std::vector<uint8_t> received = printer.Finish();
	RecordProperty("seconds_to_fail", std::to_string(took));

	EXPECT_EQ(status, 1);
	EXPECT_LT(took, 30) << "the printer's 2 s went unheeded";
	std::string errors = Errors();
	std::string line = errors.substr(0, errors.find('\n'));
	long long failedAfter = bytes_after(line, "tessary: the job failed after ");
	long long acknowledged = bytes_after(line, ": the printer stopped taking data after ");
	ASSERT_GE(acknowledged, 0) << errors;
	EXPECT_EQ(line, "tessary: the job failed after " + std::to_string(failedAfter)
		+ " bytes: the printer stopped taking data after " + std::to_string(acknowledged)
		+ " bytes") << errors;
	EXPECT_EQ(failedAfter, acknowledged);
	// What the printer acknowledged: what it read, and what waits unread in its buffer.
	EXPECT_GE(acknowledged, static_cast<long long>(received.size()));
	EXPECT_LT(acknowledged, static_cast<long long>(received.size()) + 1024 * 1024);

	// As after any failed job of documents: the pages were spooled in memory and nothing is
	// left of them; the printer stays as it was.
	EXPECT_EQ(errors.find("spool file"), std::string::npos) << errors;
	server::PrinterInfo info;
	std::string error;
	ASSERT_TRUE(server::find_printer("Stalled", &info, &error)) << error;
	EXPECT_EQ(info.address, "127.0.0.1:" + std::to_string(printer.Port()));
	BNode folder(frontend::printer_folder("Stalled").c_str());
	EXPECT_EQ(read_string_attr(folder, device::kTransportTimeoutAttr), "2");
}

TEST_F(SocketTransport, SlowPrintersThatGoOnTakingBytesGetTheWholeJob)
{
	std::string spool = SmallSpool();
	std::vector<uint8_t> expected = JobBytes(spool);
	// Far more than the printer's buffer: it takes the job over seconds, never a second
	// without a byte.
	ASSERT_GT(expected.size(), 16u * 1024);
	ASSERT_LT(expected.size(), 64u * 1024);
	const struct {
		const char* label;
		Printer::Habits habits;
	} printers[] = {
		{"reads what its buffer holds every half second", {0, 4096, milliseconds(0), true}},
		{"takes every byte, then keeps the connection open for 3 s",
			{SIZE_MAX, 0, milliseconds(3000), true}},
	};
	for (const auto& habits : printers) {
		SCOPED_TRACE(habits.label);
		Printer printer(habits.habits);
		AddPrinter("Slow", printer, 1);
		EXPECT_EQ(Run({"print", "Slow", "--spool", spool}), 0) << Errors();
		std::vector<uint8_t> received = printer.Finish();
		EXPECT_TRUE(received == expected) << received.size() << " bytes of " << expected.size();
		std::string error;
		ASSERT_TRUE(server::remove_printer("Slow", &error)) << error;
	}
}

TEST_F(SocketTransport, SigintAndSigtermEndTheToolWhileItWaitsOnThePrinter)
{
	std::string spool = SmallSpool();
	const size_t smallJob = JobBytes(spool).size();
	const size_t unreadAtTheEnd = 8000;
	ASSERT_GT(smallJob, unreadAtTheEnd);
	const struct {
		const char* waitsFor;
		int signal;
		int status;
		Printer::Habits habits;
		std::vector<std::string> job;
		unsigned state;  // of the connection while the tool waits
	} stops[] = {
		{"a write the printer does not take", SIGINT, 130,
			{64 * 1024, 0, milliseconds(0), true}, {}, 1},
		{"a write the printer does not take", SIGTERM, 143,
			{64 * 1024, 0, milliseconds(0), true}, {}, 1},
		{"the last bytes, after the job was sent", SIGINT, 130,
			{smallJob - unreadAtTheEnd, 0, milliseconds(0), true}, {"--spool", spool}, 4},
		{"the connection", SIGTERM, 143, {0, 0, milliseconds(0), false}, {}, 2},
	};
	for (const auto& stop : stops) {
		SCOPED_TRACE(std::string(stop.waitsFor) + ", signal " + std::to_string(stop.signal));
		Printer printer(stop.habits);
		AddPrinter("Stalled", printer);
		std::vector<std::string> arguments = {"print", "Stalled"};
		arguments.insert(arguments.end(), stop.job.begin(), stop.job.end());
		pid_t tool = Start(arguments);
		ASSERT_GT(tool, 0);

		// The printer has what it takes, and the tool waits on it for the rest.
		Clock::time_point deadline = Clock::now() + seconds(120);
		size_t first = stop.habits.accepts ? stop.habits.first : 0;
		while (printer.Received() < first || !has_connection(printer.Port(), stop.state)
			|| !waits_on_output(tool, tool)) {
			if (Clock::now() > deadline) {
				kill(tool, SIGKILL);
				waitpid(tool, nullptr, 0);
				FAIL() << "the tool never waited on the printer (" << printer.Received()
					<< " bytes received)";
			}
			poll(nullptr, 0, 10);
		}
		ASSERT_EQ(kill(tool, stop.signal), 0);
		double took = 0;
		int status = Wait(tool, seconds(60), &took);
		printer.Finish();

		EXPECT_EQ(status, stop.status);
		EXPECT_LT(took, 2.0);
		std::string errors = Errors();
		EXPECT_EQ(errors.rfind("tessary: interrupted after ", 0), 0u) << errors;
		std::string error;
		ASSERT_TRUE(server::remove_printer("Stalled", &error)) << error;
	}
}

TEST_F(SocketTransport, TimeoutOptionTakesWholeSecondsFrom1To3600)
{
	const struct {
		const char* transport;
		std::vector<std::string> timeout;
		int status;
		const char* stored;  // the printer's "transport_timeout"; null: no printer made
	} cases[] = {
		{"Socket", {"--timeout", "1"}, 0, "1"},
		{"Socket", {"--timeout", "3600"}, 0, "3600"},
		{"Socket", {}, 0, ""},
		{"Socket", {"--timeout", "0"}, 2, nullptr},
		{"Socket", {"--timeout", "3601"}, 2, nullptr},
		{"Socket", {"--timeout", "-5"}, 2, nullptr},
		{"Socket", {"--timeout", "x"}, 2, nullptr},
		{"Socket", {"--timeout", "1.5"}, 2, nullptr},
		{"Socket", {"--timeout"}, 2, nullptr},
		{"File", {"--timeout", "5"}, 1, nullptr},
	};
	for (const auto& c : cases) {
		std::vector<std::string> arguments = {"printer", "add", "Office", "--transport",
			c.transport, "--address", "192.0.2.7"};
		arguments.insert(arguments.end(), c.timeout.begin(), c.timeout.end());
		SCOPED_TRACE(c.transport + ::testing::PrintToString(c.timeout));
		EXPECT_EQ(Run(arguments), c.status);
		std::string errors = Errors();
		server::PrinterInfo info;
		std::string error;
		if (c.stored == nullptr) {
			EXPECT_EQ(errors.rfind("tessary: ", 0), 0u) << errors;
			EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
			EXPECT_NE(errors.find("timeout"), std::string::npos) << errors;
			EXPECT_FALSE(server::find_printer("Office", &info, &error));
			continue;
		}
		EXPECT_EQ(errors.find("tessary: "), std::string::npos) << errors;
		ASSERT_TRUE(server::find_printer("Office", &info, &error)) << error;
		BNode folder(frontend::printer_folder("Office").c_str());
		EXPECT_EQ(read_string_attr(folder, device::kTransportTimeoutAttr), c.stored);
		ASSERT_TRUE(server::remove_printer("Office", &error)) << error;
	}
}

}  // namespace
