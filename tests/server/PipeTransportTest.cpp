// The Pipe transport through the print tool's job code: a printer whose folder names "Pipe"
// and a descriptor of the test's own pipe, the same job printed to a File printer beside it.

#include "DeviceModel.h"
#include "JobOutcome.h"
#include "PrintJob.h"
#include "DriverFolders.h"
#include "Printers.h"
#include "SettingsStore.h"
#include "support/TempRoot.h"
#include "support/WaitsOnOutput.h"

#include <Node.h>
#include <TypeConstants.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Everything that comes out of a pipe's read end until the write end closes. Reads are
// bounded so that a transport that never lets go fails the test instead of hanging it.
class PipeReader {
public:
	PipeReader()
	{
		int ends[2];
		if (pipe2(ends, O_CLOEXEC) != 0)
			throw std::runtime_error("pipe failed");
		fRead = ends[0];
		fWrite = ends[1];
		fThread = std::thread([this] { _Drain(); });
	}

	~PipeReader()
	{
		CloseWriteEnd();
		fThread.join();
		close(fRead);
	}

	int WriteEnd() const { return fWrite; }

	// Closes the write end and returns all that was read.
	std::vector<uint8_t> Finish()
	{
		CloseWriteEnd();
		fThread.join();
		fThread = std::thread([] {});
		return fReceived;
	}

	void CloseWriteEnd()
	{
		if (fWrite >= 0)
			close(fWrite);
		fWrite = -1;
	}

private:
	void _Drain()
	{
		char buffer[65536];
		for (;;) {
			pollfd poller = {fRead, POLLIN, 0};
			if (poll(&poller, 1, 60000) <= 0)
				return;
			ssize_t got = read(fRead, buffer, sizeof(buffer));
			if (got <= 0)
				return;
			fReceived.insert(fReceived.end(), buffer, buffer + got);
		}
	}

	int fRead = -1;
	int fWrite = -1;
	std::vector<uint8_t> fReceived;
	std::thread fThread;
};

std::vector<uint8_t> read_file(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
		std::istreambuf_iterator<char>());
}

class PipeTransport : public ::testing::Test {
protected:
	void SetUp() override
	{
		// A broken pipe must surface as the job's error, not as a signal that ends the test.
		fPreviousPipeAction = signal(SIGPIPE, SIG_DFL);
	}

	void TearDown() override { signal(SIGPIPE, fPreviousPipeAction); }

	// A printer of the Pipe transport with the given address (none: no attribute), set up
	// for US Letter at 75 dpi.
	void MakePipePrinter(const std::string& name, std::optional<std::string> address)
	{
		std::string folder = frontend::printers_folder(true) + "/" + name;
		fs::create_directories(folder);
		BNode node(folder.c_str());
		ASSERT_EQ(node.WriteAttr("transport", B_STRING_TYPE, 0, "Pipe", 5), 5);
		if (address.has_value()) {
			ssize_t size = static_cast<ssize_t>(address->size() + 1);
			ASSERT_EQ(node.WriteAttr("transport_address", B_STRING_TYPE, 0, address->c_str(),
				address->size() + 1), size);
		}
		SaveSmallSettings(name);
	}

	void SaveSmallSettings(const std::string& name)
	{
		BMessage settings;
		device::default_settings(&settings);
		settings.ReplaceInt32("xres", 75);
		std::string error;
		ASSERT_TRUE(server::save_settings(name, settings, &error)) << error;
	}

	// Prints a page of text: the same bytes on every printer (the test page names its
	// printer).
	bool Print(const std::string& printer, std::string* error)
	{
		std::string text = fRoot.Sub("page.txt");
		std::ofstream(text) << "Through the pipe\n\tand out of it.\n";
		server::PrintRequest request;
		request.printer = printer;
		request.documents = {text};
		fOutcome = server::PrintOutcome();
		return server::print_job(request, &fOutcome, error);
	}

	// The page as the File transport delivers it.
	std::vector<uint8_t> PrintToFile()
	{
		std::string error;
		std::string path = fRoot.Sub("file.pcl");
		EXPECT_TRUE(server::add_printer("File printer", "File", path, &error)) << error;
		SaveSmallSettings("File printer");
		EXPECT_TRUE(Print("File printer", &error)) << error;
		return read_file(path);
	}

	TempRoot fRoot;
	server::PrintOutcome fOutcome;
	sighandler_t fPreviousPipeAction = SIG_DFL;
};

TEST_F(PipeTransport, WritesTheJobThroughAndLeavesTheDescriptorOpen)
{
	std::vector<uint8_t> expected = PrintToFile();
	ASSERT_GT(expected.size(), 64u * 1024) << "the job should outgrow one pipe buffer";

	PipeReader reader;
	int fd = reader.WriteEnd();
	MakePipePrinter("Pipe printer", std::to_string(fd));
	std::string error;
	bool printed = Print("Pipe printer", &error);
	// Still the test's own descriptor: it takes more bytes after the job.
	ASSERT_EQ(write(fd, "+", 1), 1);
	std::vector<uint8_t> received = reader.Finish();

	ASSERT_TRUE(printed) << error;
	EXPECT_EQ(fOutcome.destination, "file descriptor " + std::to_string(fd));
	EXPECT_EQ(fOutcome.bytes, static_cast<int64>(expected.size()));
	expected.push_back('+');
	EXPECT_TRUE(received == expected) << received.size() << " bytes, not " << expected.size();
}

TEST_F(PipeTransport, WithoutAnAddressTheJobGoesToStandardOutput)
{
	std::vector<uint8_t> expected = PrintToFile();
	PipeReader reader;
	MakePipePrinter("Pipe printer", std::nullopt);

	// Standard output is the pipe while the job runs; no assertion may print until it is back.
	fflush(stdout);
	int savedOutput = dup(1);
	ASSERT_GE(savedOutput, 0);
	ASSERT_EQ(dup2(reader.WriteEnd(), 1), 1);
	std::string error;
	bool printed = Print("Pipe printer", &error);
	int flags = fcntl(1, F_GETFD);
	dup2(savedOutput, 1);
	close(savedOutput);
	std::vector<uint8_t> received = reader.Finish();

	ASSERT_TRUE(printed) << error;
	EXPECT_GE(flags, 0) << "the transport closed standard output";
	EXPECT_EQ(fOutcome.destination, "standard output");
	EXPECT_TRUE(received == expected) << received.size() << " bytes, not " << expected.size();
}

TEST_F(PipeTransport, AReaderThatWentAwayFailsTheJobWithoutASignal)
{
	// Nothing reads the pipe: the first write gets EPIPE, and SIGPIPE with it.
	int ends[2];
	ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
	close(ends[0]);
	int fd = ends[1];
	MakePipePrinter("Pipe printer", std::to_string(fd));
	sigset_t maskBefore;
	pthread_sigmask(SIG_SETMASK, nullptr, &maskBefore);

	std::string error;
	EXPECT_FALSE(Print("Pipe printer", &error));
	EXPECT_EQ(error, "the job failed after 0 bytes: cannot write to file descriptor "
		+ std::to_string(fd) + ": broken pipe (nothing reads it any more)");
	EXPECT_EQ(fOutcome.bytes, 0);

	sigset_t pending;
	sigpending(&pending);
	EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "the transport left a SIGPIPE pending";
	sigset_t maskAfter;
	pthread_sigmask(SIG_SETMASK, nullptr, &maskAfter);
	EXPECT_EQ(sigismember(&maskAfter, SIGPIPE), sigismember(&maskBefore, SIGPIPE));
	EXPECT_GE(fcntl(fd, F_GETFD), 0) << "the transport closed the descriptor";
	close(fd);
}

TEST_F(PipeTransport, AStopRequestEndsAJobWhoseReaderTakesNothing)
{
	// The read end stays open and nobody reads it: the job fills the pipe and waits.
	int ends[2];
	ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
	int capacity = fcntl(ends[1], F_GETPIPE_SZ);
	ASSERT_GT(capacity, 0);
	MakePipePrinter("Pipe printer", std::to_string(ends[1]));

	// Another thread asks for the stop once the pipe is full and the job waits on it, as a
	// signal handler or a printer application's cancel would. Should the job still not end,
	// the same thread drains the pipe after a minute: a transport that never lets go fails
	// the test instead of hanging it.
	std::atomic<bool> returned{false};
	std::atomic<bool> waiting{false};
	pid_t printing = gettid();
	std::thread stopper([&] {
		auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
		int queued = 0;
		while (!returned && std::chrono::steady_clock::now() < deadline) {
			if (ioctl(ends[0], FIONREAD, &queued) == 0 && queued >= capacity
				&& waits_on_output(getpid(), printing)) {
				waiting = true;
				break;
			}
			poll(nullptr, 0, 10);
		}
		request_job_stop();
		while (!returned && std::chrono::steady_clock::now() < deadline)
			poll(nullptr, 0, 10);
		fcntl(ends[0], F_SETFL, O_NONBLOCK);
		char buffer[65536];
		while (!returned) {
			if (read(ends[0], buffer, sizeof(buffer)) <= 0)
				poll(nullptr, 0, 10);
		}
	});
	std::string error;
	auto started = std::chrono::steady_clock::now();
	bool printed = Print("Pipe printer", &error);
	std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
	returned = true;
	stopper.join();
	reset_job_stop();
	close(ends[0]);
	close(ends[1]);

	EXPECT_TRUE(waiting) << "the job never waited on the full pipe";
	EXPECT_FALSE(printed);
	EXPECT_LT(took.count(), 60) << "the job ended only once the pipe was drained";
	EXPECT_TRUE(fOutcome.interrupted);
	EXPECT_EQ(error.rfind("interrupted after 0 of 1 page", 0), 0u) << error;
}

TEST_F(PipeTransport, AddressesThatNameNoWritableDescriptorAreRefusedBeforeTheJob)
{
	int ends[2];
	ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
	// A number no descriptor of the process has (a closed low number would be taken again
	// by the files the job opens).
	int closed = 900;
	ASSERT_LT(fcntl(closed, F_GETFD), 0);
	std::string readEnd = std::to_string(ends[0]);
	std::string closedFd = std::to_string(closed);
	struct Case {
		std::string address;
		std::string error;
	} cases[] = {
		{"stdout", "the Pipe transport's address \"stdout\" is not a file descriptor number"},
		{"-1", "the Pipe transport's address \"-1\" is not a file descriptor number"},
		{"1 ", "the Pipe transport's address \"1 \" is not a file descriptor number"},
		{"4294967297", "the Pipe transport's address \"4294967297\" is not a file descriptor "
			"number"},
		{closedFd, "file descriptor " + closedFd + " is not open"},
		{readEnd, "file descriptor " + readEnd + " is not open for writing"},
	};
	for (size_t i = 0; i < std::size(cases); i++) {
		std::string name = "Pipe " + std::to_string(i);
		MakePipePrinter(name, cases[i].address);
		std::string error;
		EXPECT_FALSE(Print(name, &error)) << cases[i].address;
		EXPECT_EQ(error, "not printed: " + cases[i].error) << cases[i].address;
		EXPECT_EQ(fOutcome.bytes, 0) << cases[i].address;
	}
	close(ends[0]);
	close(ends[1]);
}

}  // namespace
