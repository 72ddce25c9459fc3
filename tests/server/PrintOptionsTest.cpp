// The print command's habits of lp, end to end through the built tool: one job's own copies,
// pages, resolution, colour, paper, orientation and scaling, worked through the driver's
// dialogs and refused as the dialogs refuse them, with the printer's stored settings left as
// they were; the default printer; a document read from standard input.

#include "EngineInternal.h"
#include "JobSettings.h"
#include "PclPreview.h"
#include "Printers.h"
#include "SettingsStore.h"
#include "SetupCommands.h"
#include "Spool.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

std::string read_text(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

int line_count(const std::string& text)
{
	return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class PrintOptions : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string error;
		fOutput = fRoot.Sub("desk.pcl");
		ASSERT_TRUE(server::add_printer("Desk", "File", fOutput, &error)) << error;
		ASSERT_TRUE(server::add_printer("Office", "File", fRoot.Sub("office.pcl"), &error))
			<< error;
		fText = fRoot.Sub("five.txt");
		std::ofstream(fText) << "one\ftwo\fthree\ffour\ffive";
		fs::create_directories(fRoot.Sub("tmp"));
	}

	// Runs the built tool in the root folder, with no default printer from the environment
	// unless `environment` sets one; its exit status, standard error and standard output.
	int RunTool(const std::string& arguments, std::string* errors,
		std::string* output = nullptr, const std::string& environment = "")
	{
		// A sanitizer build's note of the leaks it was told to ignore is no line of the tool's.
		std::string command = "cd " + fRoot.Path() + " && ASAN_OPTIONS=$ASAN_OPTIONS:"
			"print_suppressions=0 env -u TESSARY_PRINTER TMPDIR="
			+ fRoot.Sub("tmp") + " " + environment + " " + TESSARY_BUILD_DIR
			+ "/server/tessary " + arguments + " >" + fRoot.Sub("stdout.txt") + " 2>"
			+ fRoot.Sub("stderr.txt");
		int status = system(command.c_str());
		*errors = read_text(fRoot.Sub("stderr.txt"));
		if (output != nullptr)
			*output = read_text(fRoot.Sub("stdout.txt"));
		return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	}

	std::vector<preview::Page> Sheets(const std::string& path)
	{
		std::string stream = read_text(path);
		std::vector<preview::Page> pages;
		preview::DecodeError error;
		EXPECT_TRUE(preview::decode_stream(reinterpret_cast<const uint8_t*>(stream.data()),
			stream.size(),
			[&](const preview::Page& page, std::string*) {
				pages.push_back(page);
				return true;
			},
			&error)) << error.message;
		return pages;
	}

	std::string SettingsText(const std::string& printer = "Desk")
	{
		BMessage settings;
		std::string error;
		EXPECT_TRUE(server::load_settings(printer, &settings, &error)) << error;
		return server::describe_settings(settings);
	}

	// The settings a job printed with: those of the spool file it was asked to keep.
	BMessage KeptSettings(const std::string& errors)
	{
		const std::string note = "tessary: spool file: ";
		size_t at = errors.find(note);
		EXPECT_NE(at, std::string::npos) << errors;
		frontend::SpoolSummary summary;
		std::string error;
		if (at != std::string::npos) {
			std::string path = errors.substr(at + note.size());
			path = path.substr(0, path.find('\n'));
			EXPECT_TRUE(frontend::read_spool_summary(path, &summary, &error)) << error;
		}
		return summary.settings;
	}

	// The stored job setup of these tests: 2 copies, 150 dpi, colour.
	void StoreTwoCopiesAt150()
	{
		server::JobSetupRequest job;
		job.printer = "Desk";
		job.copies = "2";
		job.resolution = "150";
		server::SetupOutcome outcome;
		std::string error;
		ASSERT_TRUE(server::run_job_setup(job, &outcome, &error)) << error;
	}

	TempRoot fRoot;
	std::string fOutput;
	std::string fText;
};

TEST_F(PrintOptions, JobOptionsApplyToThisJobAloneAndTheNextPrintsAsStored)
{
	StoreTwoCopiesAt150();
	std::string stored = SettingsText();
	std::string errors;

	// Three pages of five, once, at 75 dpi in black and white.
	ASSERT_EQ(RunTool("print Desk " + fText + " -n 1 -P 2-4 --resolution 75 --black-white",
		&errors), 0) << errors;
	std::vector<preview::Page> sheets = Sheets(fOutput);
	ASSERT_EQ(sheets.size(), 3u);
	for (const preview::Page& sheet : sheets) {
		EXPECT_EQ(sheet.resolution, 75);
		EXPECT_EQ(sheet.planes, 1);
	}
	EXPECT_EQ(SettingsText(), stored);

	// One page given alone is that page.
	ASSERT_EQ(RunTool("print Desk " + fText + " --pages 5", &errors), 0) << errors;
	sheets = Sheets(fOutput);
	EXPECT_EQ(sheets.size(), 2u);  // the stored two copies of it
	EXPECT_EQ(SettingsText(), stored);

	// No options: all five pages, twice, at 150 dpi in colour, as the printer keeps them.
	ASSERT_EQ(RunTool("print Desk " + fText, &errors), 0) << errors;
	EXPECT_TRUE(errors.empty()) << errors;
	sheets = Sheets(fOutput);
	ASSERT_EQ(sheets.size(), 10u);
	EXPECT_EQ(sheets[0].resolution, 150);
	EXPECT_EQ(sheets[0].planes, 4);
}

TEST_F(PrintOptions, PageOptionsKeepTheStoredJobSetupAndLeaveTheStoredPageSetup)
{
	StoreTwoCopiesAt150();
	std::string stored = SettingsText();
	std::string errors;

	// A page setup drops the job fields; the job still has the stored job setup.
	ASSERT_EQ(RunTool("print Desk --paper A4 --landscape --scaling 50 --keep-spool", &errors), 0)
		<< errors;
	BMessage job = KeptSettings(errors);
	BRect paper;
	ASSERT_EQ(job.FindRect(kPaperRectField, &paper), B_OK);
	EXPECT_EQ(paper, BRect(0, 0, 619.79999f, 877.05005f));
	int8 layout = -1;
	float scaling = 0;
	int16 copies = 0;
	int32 resolution = 0;
	EXPECT_EQ(job.FindInt8(kLayoutField, &layout), B_OK);
	EXPECT_EQ(layout, 1);
	EXPECT_EQ(job.FindFloat(kScalingField, &scaling), B_OK);
	EXPECT_EQ(scaling, 50.0f);
	EXPECT_EQ(job.FindInt16(kCopiesField, &copies), B_OK);
	EXPECT_EQ(copies, 2);
	EXPECT_EQ(job.FindInt32(kXResField, &resolution), B_OK);
	EXPECT_EQ(resolution, 150);

	std::vector<preview::Page> sheets = Sheets(fOutput);
	ASSERT_EQ(sheets.size(), 2u);
	job_geometry a4;
	ASSERT_TRUE(compute_geometry(paper, 150, &a4));
	EXPECT_EQ(sheets[0].rows, a4.band_num * 100);
	EXPECT_EQ(SettingsText(), stored);

	// The next job is on the stored US Letter again, with its job setup.
	ASSERT_EQ(RunTool("print Desk --keep-spool", &errors), 0) << errors;
	BMessage next = KeptSettings(errors);
	ASSERT_EQ(next.FindRect(kPaperRectField, &paper), B_OK);
	EXPECT_EQ(paper, BRect(0, 0, 637.5f, 825));
	layout = 0;
	next.FindInt8(kLayoutField, &layout);
	EXPECT_EQ(layout, 0);
	EXPECT_EQ(Sheets(fOutput).size(), 2u);
}

TEST_F(PrintOptions, RefusedValuesAreUsageErrorsInOneLineThatPrintNothing)
{
	std::string stored = SettingsText();
	struct Case {
		const char* options;
		const char* says;  // part of the one line
	} cases[] = {
		{"-n 0", "Invalid Values!"},
		{"--copies 40000", "Invalid Values!"},
		{"--copies two", "does not take \"two\""},
		{"--copies -2", "does not take \"-2\""},
		{"-P 5-3", "Invalid Values!"},
		{"--pages 0", "Invalid Values!"},
		{"--pages 3-", "FROM-TO or one page"},
		{"--pages 1-2-3", "FROM-TO or one page"},
		{"--resolution 200", "--resolution"},
		{"--scaling 0", "Invalid values!"},
		{"--paper Letter", "no \"Letter\""},
		{"--landscape --portrait", "excludes"},
		{"--black-white --colour", "excludes"},
		{"--spool five.txt -n 2", "carries"},
	};
	for (const Case& test : cases) {
		std::string errors;
		EXPECT_EQ(RunTool(std::string("print Desk ") + test.options, &errors), 2) << test.options;
		EXPECT_EQ(line_count(errors), 1) << test.options << ": " << errors;
		EXPECT_NE(errors.find(test.says), std::string::npos) << test.options << ": " << errors;
		EXPECT_FALSE(fs::exists(fOutput)) << test.options;
	}
	EXPECT_EQ(SettingsText(), stored);
}

TEST_F(PrintOptions, DefaultPrinterIsTheStoredOneOrTheEnvironmentsAndGoesWithItsPrinter)
{
	std::string errors;
	std::string output;
	EXPECT_EQ(RunTool("print " + fText, &errors), 2);
	EXPECT_EQ(errors, "tessary: no printer given and no default printer; set one with "
		"`tessary printer default NAME` or TESSARY_PRINTER\n");
	EXPECT_EQ(RunTool("printer default", &errors, &output), 1);
	EXPECT_EQ(output, "");
	EXPECT_EQ(RunTool("printer default Nowhere", &errors), 1);
	EXPECT_NE(errors.find("no printer named \"Nowhere\""), std::string::npos) << errors;

	ASSERT_EQ(RunTool("printer default Office", &errors), 0) << errors;
	ASSERT_EQ(RunTool("printer default", &errors, &output), 0) << errors;
	EXPECT_EQ(output, "Office\n");
	ASSERT_EQ(RunTool("print " + fText + " five.txt", &errors, &output), 0) << errors;
	EXPECT_EQ(output.rfind("printed 10 pages on Office: ", 0), 0u) << output;

	// The environment wins over the stored default.
	ASSERT_EQ(RunTool("print five.txt", &errors, &output, "TESSARY_PRINTER=Desk"), 0) << errors;
	EXPECT_EQ(output.rfind("printed 5 pages on Desk: ", 0), 0u) << output;
	ASSERT_EQ(RunTool("printer default", &errors, &output, "TESSARY_PRINTER=Desk"), 0);
	EXPECT_EQ(output, "Desk\n");
	EXPECT_EQ(RunTool("print five.txt", &errors, &output, "TESSARY_PRINTER=Gone"), 1);
	EXPECT_NE(errors.find("no printer named \"Gone\""), std::string::npos) << errors;

	// A file named like a printer: the name is the printer's; ./Desk is the file.
	std::ofstream(fRoot.Sub("Desk")) << "a file named Desk";
	ASSERT_EQ(RunTool("print Desk", &errors, &output), 0) << errors;
	EXPECT_EQ(output.rfind("printed 1 page on Desk: ", 0), 0u) << output;  // the test page
	ASSERT_EQ(RunTool("print ./Desk", &errors, &output), 0) << errors;
	EXPECT_EQ(output.rfind("printed 1 page on Office: ", 0), 0u) << output;
	// Neither a printer nor a file.
	EXPECT_EQ(RunTool("print Dsk", &errors), 2);
	EXPECT_EQ(errors, "tessary: no document or printer named \"Dsk\" (see `tessary printer "
		"list`)\n");

	// Removing the default printer clears the default.
	ASSERT_EQ(RunTool("printer remove Office", &errors), 0) << errors;
	EXPECT_EQ(RunTool("printer default", &errors, &output), 1);
	EXPECT_NE(errors.find("no default printer"), std::string::npos) << errors;
}

TEST_F(PrintOptions, StandardInputIsADocumentKeptPrivatelyForTheJobAlone)
{
	std::string errors;
	std::string output;
	ASSERT_EQ(RunTool("print Desk -P 2-3 - < five.txt", &errors, &output), 0) << errors;
	EXPECT_EQ(output.rfind("printed 2 pages on Desk: ", 0), 0u) << output;
	// With the default printer, and beside a file.
	ASSERT_EQ(RunTool("printer default Desk", &errors), 0) << errors;
	ASSERT_EQ(RunTool("print five.txt - < five.txt", &errors, &output), 0) << errors;
	EXPECT_EQ(output.rfind("printed 10 pages on Desk: ", 0), 0u) << output;

	EXPECT_EQ(RunTool("print - < /dev/null", &errors), 1);
	EXPECT_EQ(errors, "tessary: standard input is empty: nothing to print\n");
	EXPECT_EQ(RunTool("print - - < five.txt", &errors), 2);
	EXPECT_EQ(line_count(errors), 1) << errors;
	// What is not a document is refused by its contents, as a file would be.
	std::string junk(3000, '\0');
	std::ofstream(fRoot.Sub("junk.bin"), std::ios::binary) << junk;
	EXPECT_EQ(RunTool("print - < junk.bin", &errors), 1);
	EXPECT_EQ(line_count(errors), 1) << errors;
	// Nothing of standard input is left behind.
	EXPECT_TRUE(fs::is_empty(fRoot.Sub("tmp")));
}

TEST(PageRange, ShapesBecomeTheDialogsFromAndToTexts)
{
	struct Case {
		const char* pages;
		bool taken;
		const char* from;
		const char* to;
	} cases[] = {
		{"", true, "", ""}, {"all", true, "", ""}, {"3-5", true, "3", "5"},
		{"7", true, "7", "7"}, {"5-3", true, "5", "3"},  // the dialog judges the numbers
		{"-3", false, "", ""}, {"3-", false, "", ""}, {"-", false, "", ""},
		{"1-2-3", false, "", ""},
	};
	for (const Case& test : cases) {
		std::string from = "x";
		std::string to = "x";
		std::string error;
		EXPECT_EQ(server::split_page_range(test.pages, &from, &to, &error), test.taken)
			<< test.pages;
		if (test.taken) {
			EXPECT_EQ(from, test.from) << test.pages;
			EXPECT_EQ(to, test.to) << test.pages;
		} else {
			EXPECT_NE(error.find(test.pages), std::string::npos) << error;
		}
	}
}

}  // namespace
