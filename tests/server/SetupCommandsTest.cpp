// The print tool's page-setup and job-setup, which work the driver's own dialogs through the
// display's scripting interface, and the settings life cycle they drive up to the printed
// stream.

#include "EngineInternal.h"
#include "PrintJob.h"
#include "JobSettings.h"
#include "PclPreview.h"
#include "Printers.h"
#include "SettingsStore.h"
#include "SetupCommands.h"
#include "support/TempRoot.h"

#include <Message.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> read_file(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
		std::istreambuf_iterator<char>());
}

class SetupCommands : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string error;
		fOutput = fRoot.Sub("out.pcl");
		ASSERT_TRUE(server::add_printer("Desk", "File", fOutput, &error)) << error;
	}

	BMessage Settings()
	{
		BMessage settings;
		std::string error;
		EXPECT_TRUE(server::load_settings("Desk", &settings, &error)) << error;
		return settings;
	}

	std::string SettingsText() { return server::describe_settings(Settings()); }

	// Prints the test page and decodes what reached the printer.
	std::vector<preview::Page> PrintTestPage(server::PrintOutcome* outcome)
	{
		server::PrintRequest request;
		request.printer = "Desk";
		std::string error;
		EXPECT_TRUE(server::print_job(request, outcome, &error)) << error;
		std::vector<uint8_t> stream = read_file(fOutput);
		std::vector<preview::Page> pages;
		preview::DecodeError decodeError;
		EXPECT_TRUE(preview::decode_stream(stream.data(), stream.size(),
			[&](const preview::Page& page, std::string*) {
				pages.push_back(page);
				return true;
			},
			&decodeError)) << decodeError.message;
		return pages;
	}

	// Runs the built tool; its exit status, with what it wrote to stderr.
	int RunTool(const std::string& arguments, std::string* errors)
	{
		std::string errorsPath = fRoot.Sub("stderr.txt");
		std::string command = std::string(TESSARY_BUILD_DIR) + "/server/tessary " + arguments
			+ " >/dev/null 2>" + errorsPath;
		int status = system(command.c_str());
		std::ifstream file(errorsPath);
		errors->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
		return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	}

	TempRoot fRoot;
	std::string fOutput;
};

TEST_F(SetupCommands, PageAndJobSetupDecideWhatThePrinterGets)
{
	server::PageSetupRequest page;
	page.printer = "Desk";
	page.paper = "A4";
	page.orientation = "landscape";
	server::SetupOutcome outcome;
	std::string error;
	ASSERT_TRUE(server::run_page_setup(page, &outcome, &error)) << error;
	EXPECT_TRUE(outcome.stored);

	server::JobSetupRequest job;
	job.printer = "Desk";
	job.resolution = "150";
	job.blackWhite = 1;
	job.copies = "2";
	ASSERT_TRUE(server::run_job_setup(job, &outcome, &error)) << error;
	EXPECT_TRUE(outcome.stored);
	EXPECT_EQ(outcome.summary, "2 copies, all pages, 150 dpi, black and white");

	BMessage settings = Settings();
	BRect paper;
	ASSERT_EQ(settings.FindRect(kPaperRectField, &paper), B_OK);
	EXPECT_EQ(paper.right, 619.79999f);
	EXPECT_EQ(paper.bottom, 877.05005f);
	int8 layout = -1;
	EXPECT_EQ(settings.FindInt8(kLayoutField, &layout), B_OK);
	EXPECT_EQ(layout, 1);

	server::PrintOutcome printed;
	std::vector<preview::Page> pages = PrintTestPage(&printed);
	EXPECT_TRUE(printed.notes.empty());
	// Two copies: two sheets.
	ASSERT_EQ(pages.size(), 2u);
	job_geometry geometry;
	ASSERT_TRUE(compute_geometry(paper, 150, &geometry));
	for (const preview::Page& sheet : pages) {
		EXPECT_EQ(sheet.resolution, 150);
		EXPECT_EQ(sheet.planes, 1);
		EXPECT_EQ(sheet.rows, geometry.band_num * 100);
		EXPECT_EQ(sheet.width, 8 * geometry.spool_width);
		EXPECT_EQ(sheet.rows, 1800);
		EXPECT_EQ(sheet.width, 1248);
	}
	EXPECT_TRUE(pages[0].inks == pages[1].inks);
}

TEST_F(SetupCommands, PageSetupDropsTheJobFieldsAndPrintConfirmsTheJobSetupFirst)
{
	server::JobSetupRequest job;
	job.printer = "Desk";
	job.copies = "3";
	job.resolution = "75";
	server::SetupOutcome outcome;
	std::string error;
	ASSERT_TRUE(server::run_job_setup(job, &outcome, &error)) << error;

	server::PageSetupRequest page;
	page.printer = "Desk";
	page.width = "5.25";
	page.height = "7";
	ASSERT_TRUE(server::run_page_setup(page, &outcome, &error)) << error;
	EXPECT_EQ(outcome.summary, "5.25 x 7 in, portrait, scaling 100%");
	BMessage settings = Settings();
	EXPECT_FALSE(server::has_job_fields(settings));
	EXPECT_FALSE(settings.HasInt16(kCopiesField));
	int8 row = -1;
	EXPECT_EQ(settings.FindInt8(kPreviousSettingsField, &row), B_OK);
	EXPECT_EQ(row, 6);

	// The job dialog opens on its defaults (the page setup left nothing of the last one).
	server::PrintOutcome printed;
	std::vector<preview::Page> pages = PrintTestPage(&printed);
	ASSERT_EQ(printed.notes.size(), 1u);
	EXPECT_EQ(printed.notes[0], "no job setup since the last page setup: confirmed the job "
		"setup as it opens (1 copy, all pages, 300 dpi, colour)");
	ASSERT_EQ(pages.size(), 1u);
	EXPECT_EQ(pages[0].resolution, 300);
	EXPECT_EQ(pages[0].planes, 4);
	job_geometry geometry;
	ASSERT_TRUE(compute_geometry(BRect(0, 0, 393.75f, 525), 300, &geometry));
	EXPECT_EQ(pages[0].rows, geometry.band_num * 100);  // one copy
	EXPECT_EQ(pages[0].width, 8 * geometry.spool_width);
	// The confirmed job setup is kept, so the next job prints without asking.
	EXPECT_TRUE(server::has_job_fields(Settings()));
	server::PrintOutcome again;
	ASSERT_EQ(PrintTestPage(&again).size(), 1u);
	EXPECT_TRUE(again.notes.empty()) << again.notes.front();
}

TEST_F(SetupCommands, RefusedValuesAreErrorsThatLeaveTheSettingsAlone)
{
	std::string before = SettingsText();
	server::SetupOutcome outcome;
	std::string error;

	server::PageSetupRequest page;
	page.printer = "Desk";
	page.width = "0";
	page.height = "5";
	EXPECT_FALSE(server::run_page_setup(page, &outcome, &error));
	EXPECT_EQ(error, "the Page Setup dialog refused the values: Invalid values! Check paper "
		"size and scalinng.");
	page = server::PageSetupRequest();
	page.printer = "Desk";
	page.paper = "Letter";
	EXPECT_FALSE(server::run_page_setup(page, &outcome, &error));
	EXPECT_NE(error.find("no \"Letter\""), std::string::npos) << error;

	server::JobSetupRequest job;
	job.printer = "Desk";
	job.pages = "5-3";
	EXPECT_FALSE(server::run_job_setup(job, &outcome, &error));
	EXPECT_EQ(error, "the Print Setup dialog refused the values: Invalid Values! Check the "
		"number of copies and pages.");
	job.pages = "";
	job.copies = "-2";
	EXPECT_FALSE(server::run_job_setup(job, &outcome, &error));
	EXPECT_NE(error.find("does not take \"-2\""), std::string::npos) << error;
	job.copies = "40000";
	EXPECT_FALSE(server::run_job_setup(job, &outcome, &error));
	EXPECT_NE(error.find("Invalid Values!"), std::string::npos) << error;

	EXPECT_FALSE(outcome.stored);
	EXPECT_EQ(SettingsText(), before);
}

TEST_F(SetupCommands, CancelKeepsTheSettings)
{
	std::string before = SettingsText();
	server::SetupOutcome outcome;
	std::string error;
	server::PageSetupRequest page;
	page.printer = "Desk";
	page.paper = "Tabloid";
	page.cancel = true;
	EXPECT_TRUE(server::run_page_setup(page, &outcome, &error)) << error;
	EXPECT_FALSE(outcome.stored);
	server::JobSetupRequest job;
	job.printer = "Desk";
	job.copies = "4";
	job.cancel = true;
	EXPECT_TRUE(server::run_job_setup(job, &outcome, &error)) << error;
	EXPECT_FALSE(outcome.stored);
	EXPECT_EQ(SettingsText(), before);
}

TEST_F(SetupCommands, ToolReportsAnAlertWithANonZeroStatusAndTakesScreenshots)
{
	std::string errors;
	std::string shots = fRoot.Sub("shots");
	EXPECT_EQ(RunTool("page-setup Desk --width 0 --height 5 --screenshot " + shots, &errors), 2);
	EXPECT_EQ(errors.substr(0, errors.find('\n')), "tessary: the Page Setup dialog refused the "
		"values: Invalid values! Check paper size and scalinng.");
	EXPECT_TRUE(fs::exists(shots + "/page-setup-alert.png"));

	EXPECT_EQ(RunTool("job-setup Desk --pages 2-9 --colour --screenshot " + shots, &errors), 0)
		<< errors;
	EXPECT_EQ(RunTool("page-setup Desk --paper B5 --scaling 50 --screenshot " + shots, &errors),
		0) << errors;
	for (const char* name : {"job-setup.png", "page-setup.png"}) {
		std::vector<uint8_t> png = read_file(shots + "/" + name);
		ASSERT_GT(png.size(), 8u) << name;
		EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG") << name;
	}
	BMessage settings = Settings();
	float scaling = 0;
	EXPECT_EQ(settings.FindFloat(kScalingField, &scaling), B_OK);
	EXPECT_EQ(scaling, 50.0f);
	EXPECT_FALSE(settings.HasInt32(kFirstPageField));  // the page setup dropped the range
}

}  // namespace
