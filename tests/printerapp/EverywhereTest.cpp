// The printer application as every driverless client meets it: jobs that ask for nothing
// print at the driver's best, print-quality and printer-resolution as README.md says,
// overrides change the pages they name, the web interface's buttons work and its
// administration needs the password, the printer has icons of its own, and a CUPS queue made
// the way a desktop makes one prints through it.

#include "PclPreview.h"
#include "cups/PclPages.h"
#include "cups/PrivateScheduler.h"
#include "printerapp/AppServer.h"
#include "printerapp/Samples.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

const SamplePage kPage = {8.5, 11, {{1, 1, 2, {1, 0, 0}}, {4, 6, 3, {0, 0, 1}}}};

class Everywhere : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string error;
		ASSERT_TRUE(fServer.Start(&error)) << error;
		fPdf = fServer.Sub("page.pdf");
		ASSERT_TRUE(write_pdf(fPdf, {kPage}));
	}

	std::vector<preview::Page> NewPages()
	{
		bool whole = false;
		return decode_pages(fServer.NewBytes(fServer.OutputPath()), &whole);
	}

	AppServer fServer;
	std::string fPdf;
};

}  // namespace

TEST_F(Everywhere, JobsPrintAtTheJobSetupsDefaultUnlessTheyAskForAnother)
{
	struct Case {
		const char* name;
		std::vector<std::string> attributes;
		int resolution;
		int planes;
	};
	const Case cases[] = {
		{"nothing asked", {}, 300, 4},
		{"draft", {"enum print-quality 3"}, 150, 4},
		{"normal", {"enum print-quality 4"}, 300, 4},
		{"high", {"enum print-quality 5"}, 300, 4},
		{"75 dpi named", {"resolution printer-resolution 75dpi"}, 75, 4},
		{"150 dpi named beside a quality", {"enum print-quality 5",
			"resolution printer-resolution 150dpi"}, 150, 4},
		{"monochrome", {"keyword print-color-mode monochrome"}, 300, 1},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.name);
		JobResult job = print_and_wait(fServer, fPdf, "application/pdf", c.attributes);
		ASSERT_EQ(job.state, 9) << job.output;
		std::vector<preview::Page> pages = NewPages();
		ASSERT_EQ(pages.size(), 1u);
		EXPECT_EQ(pages[0].resolution, c.resolution);
		EXPECT_EQ(pages[0].planes, c.planes);
	}
}

TEST_F(Everywhere, OverridesChangeThePagesTheyNameAndNoOthers)
{
	std::string output;
	ASSERT_EQ(fServer.Ipptool("-tv " + fServer.PrinterUri() + " get-printer-attributes.test",
		&output), 0) << output;
	EXPECT_NE(output.find("overrides-supported (1setOf keyword) = document-number,pages,"),
		std::string::npos);

	std::string three = fServer.Sub("three.pdf");
	ASSERT_TRUE(write_pdf(three, {kPage, kPage, kPage}));
	JobResult job = print_and_wait(fServer, three, "application/pdf", {
		"collection overrides {\n"
		"\t\tMEMBER rangeOfInteger document-numbers 1-1\n"
		"\t\tMEMBER rangeOfInteger pages 2-2\n"
		"\t\tMEMBER enum print-quality 3\n"
		"\t\tMEMBER keyword print-color-mode monochrome\n"
		"\t}, {\n"
		"\t\tMEMBER rangeOfInteger pages 3-3\n"
		"\t\tMEMBER keyword media iso_a4_210x297mm\n"
		"\t}, {\n"
		"\t\tMEMBER rangeOfInteger document-numbers 2-2\n"
		"\t\tMEMBER rangeOfInteger pages 1-3\n"
		"\t\tMEMBER keyword print-color-mode monochrome\n"
		"\t}"});
	ASSERT_EQ(job.state, 9) << job.output << fServer.LogTail();
	std::vector<preview::Page> pages = NewPages();
	ASSERT_EQ(pages.size(), 3u);
	// The job's own settings; the first override's (the driver prints a page of a run at its
	// resolution, so the run is a driver job of its own); the second's paper.
	EXPECT_EQ(pages[0].resolution, 300);
	EXPECT_EQ(pages[0].planes, 4);
	EXPECT_EQ(pages[0].width, 2560);
	EXPECT_EQ(pages[1].resolution, 150);
	EXPECT_EQ(pages[1].planes, 1);
	EXPECT_EQ(pages[2].resolution, 300);
	EXPECT_EQ(pages[2].planes, 4);
	EXPECT_EQ(pages[2].width, 2496);  // A4's 2480 dots, in whole bytes of eight
}

TEST_F(Everywhere, PrintTestPageButtonPrintsTheDriversTestPage)
{
	std::string home = http_exchange(fServer.Port(), "GET", "/Tessary/");
	ASSERT_NE(home.find("print-test-page"), std::string::npos) << home.substr(0, 400);
	std::string session = text_between(home, "name=\"session\" value=\"", "\"");
	ASSERT_FALSE(session.empty());
	std::string answer = http_exchange(fServer.Port(), "POST", "/Tessary/",
		"session=" + session + "&action=print-test-page");
	EXPECT_NE(answer.find("Test page printed"), std::string::npos) << answer.substr(0, 400);
	JobResult job = wait_for_job(fServer, 1);
	EXPECT_EQ(job.state, 9) << job.output << fServer.LogTail();
	std::vector<preview::Page> pages = NewPages();
	ASSERT_EQ(pages.size(), 1u);
	EXPECT_EQ(pages[0].resolution, 300);
	EXPECT_EQ(pages[0].planes, 4);
	size_t inked = 0;
	for (uint8_t dot : pages[0].inks)
		inked += dot != 0 ? 1 : 0;
	EXPECT_GT(inked, pages[0].inks.size() / 20) << "the test page is full of colour";
}

TEST_F(Everywhere, ThePrinterShowsIconsOfItsOwnAtEverySize)
{
	struct Icon {
		const char* path;
		int size;
	};
	for (const Icon& icon : {Icon{"/Tessary/icon-sm.png", 48}, Icon{"/Tessary/icon-md.png", 128},
			 Icon{"/Tessary/icon-lg.png", 512}}) {
		SCOPED_TRACE(icon.path);
		std::string response = http_exchange(fServer.Port(), "GET", icon.path);
		size_t body = response.find("\r\n\r\n");
		ASSERT_NE(body, std::string::npos);
		std::string png = response.substr(body + 4);
		ASSERT_GT(png.size(), 24u);
		EXPECT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
		auto be32 = [&](size_t at) {
			return (static_cast<uint8_t>(png[at]) << 24) | (static_cast<uint8_t>(png[at + 1]) << 16)
				| (static_cast<uint8_t>(png[at + 2]) << 8) | static_cast<uint8_t>(png[at + 3]);
		};
		EXPECT_EQ(be32(16), icon.size);
		EXPECT_EQ(be32(20), icon.size);
	}
}

TEST_F(Everywhere, AdministrationNeedsThePasswordAndAWrongOneChangesNothing)
{
	ASSERT_EQ(fServer.AdminPassword().size(), 16u);
	const std::string right = fServer.AdminAuthorization();
	const std::string wrong = fServer.AdminAuthorization("not-the-password");
	// What every user may see: the printers and their jobs.
	for (const char* page : {"/", "/Tessary/"})
		EXPECT_NE(http_exchange(fServer.Port(), "GET", page).find("200 OK"), std::string::npos);
	// What changes the printers asks for the password first, and takes only the right one.
	for (const char* page : {"/config", "/security", "/addprinter", "/Tessary/delete",
			 "/Tessary/printing", "/Tessary/media"}) {
		SCOPED_TRACE(page);
		std::string none = http_exchange(fServer.Port(), "GET", page);
		EXPECT_NE(none.find("401"), std::string::npos) << none.substr(0, 300);
		EXPECT_NE(none.find("WWW-Authenticate: Basic"), std::string::npos);
		EXPECT_NE(http_exchange(fServer.Port(), "GET", page, "", wrong).find("401"),
			std::string::npos);
		EXPECT_NE(http_exchange(fServer.Port(), "GET", page, "", right).find("200 OK"),
			std::string::npos);
	}

	// A settings change sent with the form's token: with a wrong password, or with the
	// password in the form as PAPPL's own login form takes it, nothing changes.
	std::string config = http_exchange(fServer.Port(), "GET", "/config", "", right);
	std::string session = text_between(config, "name=\"session\" value=\"", "\"");
	ASSERT_FALSE(session.empty()) << config.substr(0, 400);
	std::string change = "session=" + session + "&location=Attic&geo_location=&organization="
		"&organizational_unit=";
	EXPECT_NE(http_exchange(fServer.Port(), "POST", "/config", change, wrong).find("401"),
		std::string::npos);
	EXPECT_NE(http_exchange(fServer.Port(), "POST", "/config",
		change + "&password=not-the-password").find("401"), std::string::npos);
	EXPECT_EQ(http_exchange(fServer.Port(), "GET", "/config", "", right).find("Attic"),
		std::string::npos);
	// With the password it does.
	http_exchange(fServer.Port(), "POST", "/config", change, right);
	EXPECT_NE(http_exchange(fServer.Port(), "GET", "/config", "", right).find("Attic"),
		std::string::npos);
	// Printing asks for nothing.
	EXPECT_EQ(print_and_wait(fServer, fPdf, "application/pdf", {}).state, 9);
}

TEST_F(Everywhere, CupsMakesAnEverywhereQueueThatPrintsThroughThePrinter)
{
	PrivateScheduler scheduler;
	std::string error;
	ASSERT_TRUE(scheduler.Start(&error)) << error;
	std::string output;
	ASSERT_EQ(scheduler.Run({"lpadmin", "-h", scheduler.Server(), "-p", "App", "-E", "-v",
		fServer.PrinterUri(), "-m", "everywhere"}, &output), 0) << output;
	// A PPD of the printer's own, with its papers. The scheduler makes it from the
	// printer's answers after lpadmin has returned, so it may take a moment to appear.
	auto ppdDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
	// (lpoptions says so on its error output and still ends well.)
	while ((scheduler.Run({"lpoptions", "-h", scheduler.Server(), "-p", "App", "-l"},
			&output) != 0 || output.find("PageSize") == std::string::npos)
		&& std::chrono::steady_clock::now() < ppdDeadline)
		std::this_thread::sleep_for(std::chrono::milliseconds(200));
	ASSERT_NE(output.find("PageSize"), std::string::npos) << output;

	struct Case {
		const char* name;
		std::vector<std::string> options;
		int planes;
		int width;
	};
	const Case cases[] = {
		{"no options", {}, 4, 2560},
		{"monochrome on A4", {"-o", "print-color-mode=monochrome", "-o",
			"media=iso_a4_210x297mm"}, 1, 2496},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.name);
		int job = scheduler.Print("App", c.options, fPdf, &error);
		ASSERT_GT(job, 0) << error;
		EXPECT_EQ(scheduler.WaitForJobEnd(job), PrivateScheduler::kCompleted)
			<< scheduler.JobLog(job);
		// CUPS's job ends when the printer has taken it; the printer prints it just after.
		std::vector<preview::Page> pages;
		auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
		std::vector<uint8_t> stream;
		while (pages.empty() && std::chrono::steady_clock::now() < deadline) {
			std::vector<uint8_t> bytes = fServer.NewBytes(fServer.OutputPath());
			stream.insert(stream.end(), bytes.begin(), bytes.end());
			bool whole = false;
			pages = decode_pages(stream, &whole);
			if (!whole)
				pages.clear();
			if (pages.empty())
				std::this_thread::sleep_for(std::chrono::milliseconds(100));
		}
		ASSERT_EQ(pages.size(), 1u) << scheduler.JobLog(job) << fServer.LogTail();
		EXPECT_EQ(pages[0].resolution, 300);
		EXPECT_EQ(pages[0].planes, c.planes);
		EXPECT_EQ(pages[0].width, c.width);
	}
}
