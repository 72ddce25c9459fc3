// The printer application as a server: a cancelled job, two printers printing at once through
// the one driver, a printer that hangs up in the middle of a job, and the Add Printer page.

#include "PclPreview.h"
#include "printerapp/AppServer.h"
#include "printerapp/Samples.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

namespace {

const SamplePage kPage = {8.5, 11, {{1, 1, 2, {1, 0, 0}}, {4, 6, 3, {0, 0, 1}}}};

struct Decoded {
	std::vector<preview::Page> pages;  // the pages that ended with their form feed
	bool whole = false;
};

Decoded decode(const std::vector<uint8_t>& stream)
{
	Decoded decoded;
	preview::DecodeError error;
	decoded.whole = preview::decode_stream(stream.data(), stream.size(),
		[&](const preview::Page& page, std::string*) {
			decoded.pages.push_back(page);
			return true;
		}, &error);
	return decoded;
}

off_t file_size(const std::string& path)
{
	struct stat status;
	return stat(path.c_str(), &status) == 0 ? status.st_size : 0;
}

// A printer on the network that takes the first bytes of a job and then hangs up, as one
// that is switched off does; it goes on hanging up on every connection until it goes.
class HangingUpPrinter {
public:
	explicit HangingUpPrinter(size_t takes) : fTakes(takes)
	{
		fListener = socket(AF_INET, SOCK_STREAM, 0);
		fPort = bind_loopback(fListener);
		listen(fListener, 4);
		fThread = std::thread([this] { _Serve(); });
	}

	~HangingUpPrinter()
	{
		fStop = true;
		fThread.join();
		close(fListener);
	}

	int Port() const { return fPort; }
	size_t Taken() const { return fTaken; }

private:
	void _Serve()
	{
		while (!fStop) {
			pollfd ready = {fListener, POLLIN, 0};
			if (poll(&ready, 1, 50) <= 0)
				continue;
			int connection = accept(fListener, nullptr, nullptr);
			char buffer[4096];
			size_t taken = 0;
			ssize_t got;
			while (taken < fTakes && (got = read(connection, buffer, sizeof(buffer))) > 0)
				taken += static_cast<size_t>(got);
			fTaken += taken;
			close(connection);
		}
	}

	size_t fTakes;
	int fListener = -1;
	int fPort = 0;
	std::atomic<bool> fStop{false};
	std::atomic<size_t> fTaken{0};
	std::thread fThread;
};

class Server : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string error;
		ASSERT_TRUE(fServer.Start(&error)) << error;
	}

	AppServer fServer;
};

TEST_F(Server, CancelledJobStopsAtABandAndTheNextJobPrintsWhole)
{
	std::string pdf = fServer.Sub("page.pdf");
	ASSERT_TRUE(write_pdf(pdf, {kPage}));
	int job = submit_job(fServer, pdf, "application/pdf",
		{"resolution printer-resolution 75dpi", "integer copies 200"});
	ASSERT_GT(job, 0);
	// Cancel once the driver's stream has reached the printer.
	auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
	while (file_size(fServer.OutputPath()) == 0 && std::chrono::steady_clock::now() < deadline)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	ASSERT_GT(file_size(fServer.OutputPath()), 0) << fServer.LogTail();
	std::string output;
	ASSERT_EQ(fServer.Run("cancel -d Tessary -j " + std::to_string(job), &output), 0) << output;

	JobResult cancelled = wait_for_job(fServer, job);
	EXPECT_EQ(cancelled.state, 7) << cancelled.output;  // canceled
	Decoded stopped = decode(fServer.NewBytes(fServer.OutputPath()));
	EXPECT_LT(stopped.pages.size(), 200u);
	// Nothing more reaches the printer once the job has ended.
	EXPECT_EQ(fServer.NewBytes(fServer.OutputPath()).size(), 0u);

	// The stop was this job's alone.
	JobResult next = print_and_wait(fServer, pdf, "application/pdf", {"resolution printer-resolution 75dpi"});
	EXPECT_EQ(next.state, 9) << next.message;
	Decoded printed = decode(fServer.NewBytes(fServer.OutputPath()));
	EXPECT_TRUE(printed.whole);
	EXPECT_EQ(printed.pages.size(), 1u);
}

TEST_F(Server, TwoPrintersPrintAtOnceThroughTheOneDriver)
{
	std::string second = fServer.Sub("second.pcl");
	std::ofstream(second).flush();
	std::string output;
	ASSERT_EQ(fServer.Run("add -d Second -m tessary_bw -v file://" + second, &output), 0)
		<< output;
	std::string pdf = fServer.Sub("three.pdf");
	ASSERT_TRUE(write_pdf(pdf, {kPage, kPage, kPage}));

	int first = submit_job(fServer, pdf, "application/pdf", {"resolution printer-resolution 75dpi"});
	int other = submit_job(fServer, pdf, "application/pdf", {"resolution printer-resolution 75dpi"}, "Second");
	ASSERT_GT(first, 0);
	ASSERT_GT(other, 0);
	EXPECT_EQ(wait_for_job(fServer, first).state, 9);
	EXPECT_EQ(wait_for_job(fServer, other, "Second").state, 9);

	Decoded colour = decode(fServer.NewBytes(fServer.OutputPath()));
	Decoded black = decode(fServer.NewBytes(second));
	EXPECT_TRUE(colour.whole);
	EXPECT_TRUE(black.whole);
	ASSERT_EQ(colour.pages.size(), 3u);
	ASSERT_EQ(black.pages.size(), 3u);
	for (size_t i = 0; i < 3; i++) {
		EXPECT_EQ(colour.pages[i].planes, 4);
		EXPECT_EQ(black.pages[i].planes, 1);  // the black ink-jet's driver
		EXPECT_EQ(colour.pages[i].inks, colour.pages[0].inks) << "page " << i + 1;
	}
}

TEST_F(Server, PrinterThatHangsUpAbortsTheJobWithTheReason)
{
	HangingUpPrinter printer(64 * 1024);
	std::string output;
	ASSERT_EQ(fServer.Run("add -d Network -m tessary_color -v socket://127.0.0.1:"
		+ std::to_string(printer.Port()), &output), 0) << output;
	std::string pdf = fServer.Sub("page.pdf");
	ASSERT_TRUE(write_pdf(pdf, {kPage}));
	// At 300 dpi the page is megabytes, far more than the printer takes.
	JobResult job = print_and_wait(fServer, pdf, "application/pdf", {}, "Network");
	EXPECT_EQ(job.state, 8) << job.output << fServer.LogTail();  // aborted
	EXPECT_NE(job.message.find("the printer did not take the data"), std::string::npos)
		<< job.message;
	EXPECT_GT(printer.Taken(), 0u);
}

TEST_F(Server, AddPrinterPageAndDeviceListWorkWithoutDnsSd)
{
	std::string output;
	EXPECT_EQ(fServer.Run("devices", &output), 0) << output;
	std::string page = http_exchange(fServer.Port(), "GET", "/addprinter", "",
		fServer.AdminAuthorization());
	EXPECT_NE(page.find("<title>Add Printer"), std::string::npos) << page.substr(0, 300);
	// The server is still there.
	EXPECT_NE(http_exchange(fServer.Port(), "GET", "/").find("200 OK"), std::string::npos);
}

}  // namespace
