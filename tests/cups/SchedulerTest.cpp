// The driver as CUPS users meet it: a private CUPS scheduler with a queue made from the built
// tessary.ppd (found among the scheduler's models, as `lpinfo -m` lists it) and a file:
// device, PDFs and CUPS raster printed with `lp`, and what reached the device decoded.
//
// Where CUPS places a PDF's page: pdftopdf passes a page of the paper's own size through
// unscaled, and pdftotessary lays it on the sheet as the print tool does: shifted by the
// raster origin and cut at the printable area, which is the PPD's imageable area. Raster of
// other inputs (gstoraster renders the imageable area alone) the raster filter puts where
// the area lies on the sheet. Either way a point (x, y) of the page, from its top left
// corner, lands on dot (x, y) * dpi / 72 of the sheet as the printer prints it; what lies
// left of or above the imageable area is not printed.

#include "DeviceModel.h"
#include "PclPages.h"
#include "PdfPages.h"
#include "PrivateScheduler.h"
#include "support/SheetFrame.h"

#include <gtest/gtest.h>

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

class CupsPrinting : public ::testing::Test {
protected:
	static void SetUpTestSuite()
	{
		sScheduler = new PrivateScheduler;
		sStartError.clear();
		if (!sScheduler->Start(&sStartError))
			return;
		std::string output;
		// The queue as a user adds it, but with a file: device of the test's.
		if (sScheduler->Run({"lpadmin", "-h", sScheduler->Server(), "-p", "Desk", "-E", "-v",
				"file://" + sScheduler->OutputPath("desk.pcl"), "-m", "tessary.ppd"}, &output)
			!= 0)
			sStartError = "lpadmin: " + output;
	}

	static void TearDownTestSuite()
	{
		delete sScheduler;
		sScheduler = nullptr;
	}

	void SetUp() override { ASSERT_TRUE(sStartError.empty()) << sStartError; }

	std::string MakePdf(const std::string& name, const std::vector<PdfPage>& pages)
	{
		std::string path = sScheduler->Folder() + "/" + name;
		make_pdf(path, pages);
		return path;
	}

	// Prints the file with lp and the options; the job's id, once it completed.
	int PrintToEnd(const std::vector<std::string>& options, const std::string& file)
	{
		std::string error;
		int job = sScheduler->Print("Desk", options, file, &error);
		EXPECT_GT(job, 0) << error;
		if (job <= 0)
			return 0;
		int state = sScheduler->WaitForJobEnd(job);
		EXPECT_EQ(state, PrivateScheduler::kCompleted)
			<< "job " << job << " ended in state " << state << ":\n" << sScheduler->JobLog(job);
		return state == PrivateScheduler::kCompleted ? job : 0;
	}

	// The pages of the stream the last job left on the device, as the driver's rasters.
	std::vector<preview::Page> Pages()
	{
		return decode_pages(read_bytes(sScheduler->OutputPath("desk.pcl")));
	}

	// The same pages as the printer prints them on their sheets.
	std::vector<preview::Page> Sheets()
	{
		return on_sheets(Pages());
	}

	// The scheduler ran the job through `filters` (their names, in order) and no other.
	void ExpectFilters(int job, const std::vector<std::string>& filters)
	{
		std::istringstream log(sScheduler->JobLog(job));
		std::vector<std::string> started;
		const std::string marker = "Started filter ";
		for (std::string line; std::getline(log, line);) {
			size_t at = line.find(marker);
			if (at == std::string::npos)
				continue;
			std::string program = line.substr(at + marker.size());
			program = program.substr(0, program.find(" (PID"));
			started.push_back(fs::path(program).filename().string());
		}
		EXPECT_EQ(started, filters) << sScheduler->JobLog(job);
	}

	static PrivateScheduler* sScheduler;
	static std::string sStartError;
};

PrivateScheduler* CupsPrinting::sScheduler = nullptr;
std::string CupsPrinting::sStartError;

TEST_F(CupsPrinting, TheBuiltPpdPassesCupstestppdAndIsListedAmongTheModels)
{
	std::string output;
	EXPECT_EQ(sScheduler->Run({"cupstestppd", "-v", TESSARY_BUILD_DIR "/cups/tessary.ppd"},
		&output), 0) << output;
	EXPECT_NE(output.find("NO ERRORS FOUND"), std::string::npos) << output;
	EXPECT_EQ(output.find("WARN"), std::string::npos) << output;

	// Every paper's imageable area is the device model's printable area.
	std::vector<uint8_t> bytes = read_bytes(TESSARY_BUILD_DIR "/cups/tessary.ppd");
	std::string ppd(bytes.begin(), bytes.end());
	for (const device::Paper& paper : device::kPapers) {
		SCOPED_TRACE(paper.label);
		device::PointsBox area = device::imageable_area(paper);
		char line[160];
		snprintf(line, sizeof(line), "*ImageableArea %s/%s: \"%g %g %g %g\"\n", paper.ppdName,
			paper.ppdText, area.left, area.bottom, area.right, area.top);
		EXPECT_NE(ppd.find(line), std::string::npos) << line;
	}
	EXPECT_NE(ppd.find("*ImageableArea Letter/US Letter: \"18 0 612 783\"\n"),
		std::string::npos);

	EXPECT_EQ(sScheduler->Run({"lpinfo", "-h", sScheduler->Server(), "-m"}, &output), 0)
		<< output;
	EXPECT_NE(output.find("tessary.ppd Tessary Colour Ink-Jet"), std::string::npos) << output;
}

// A PDF goes through pdftopdf and pdftotessary, the paper, resolution, colour model and
// copies of its options honoured: two sheets of A4 at 150 dpi, in black ink alone, each with
// the page's rectangles in shades of grey where they belong.
TEST_F(CupsPrinting, PdfGoesThroughThePdfFilterWithTheJobsOptions)
{
	std::string pdf = MakePdf("page.pdf", {kA4});
	int job = PrintToEnd({"-o", "PageSize=A4", "-o", "Resolution=150dpi", "-o",
		"ColorModel=Gray", "-n", "2"}, pdf);
	ASSERT_GT(job, 0);
	ExpectFilters(job, {"pdftopdf", "pdftotessary"});
	std::vector<preview::Page> pages = Pages();
	std::vector<preview::Page> sheets = on_sheets(pages);
	ASSERT_EQ(sheets.size(), 2u);
	for (size_t i = 0; i < sheets.size(); i++) {
		EXPECT_EQ(pages[i].resolution, 150);
		EXPECT_EQ(pages[i].planes, 1);
		// A4 at 150 dpi: rows of 156 bytes (595 points), 18 bands of 100 rows (842 points).
		EXPECT_EQ(pages[i].width, 1248);
		EXPECT_EQ(pages[i].rows, 1800);
		expect_ink_boxes(sheets[i], placed(kA4, 150, true), 0.05);
	}
	EXPECT_TRUE(sheets[0].inks == sheets[1].inks);
}

TEST_F(CupsPrinting, LetterAndA4PagesCarryTheirRectanglesWhereCupsPlacesThem)
{
	struct Case {
		const PdfPage& page;
		std::vector<std::string> options;
		int width, rows;  // of the sheet at 300 dpi
	} cases[] = {
		{kLetter, {}, 2550, 3300},
		{kA4, {"-o", "PageSize=A4"}, 2479, 3508},
	};
	for (const Case& c : cases) {
		std::string pdf = MakePdf("page.pdf", {c.page});
		ASSERT_GT(PrintToEnd(c.options, pdf), 0);
		std::vector<preview::Page> sheets = Sheets();
		ASSERT_EQ(sheets.size(), 1u);
		EXPECT_EQ(sheets[0].resolution, 300);
		EXPECT_EQ(sheets[0].planes, 4);
		EXPECT_EQ(sheets[0].width, c.width);
		EXPECT_EQ(sheets[0].rows, c.rows);
		expect_ink_boxes(sheets[0], placed(c.page, 300));
	}
}

// A page with a frame half an inch inside its edges, on Letter and on A4 at 300 dpi: CUPS
// neither scales nor moves it, and the frame lands on the sheet where the page has it, whole.
TEST_F(CupsPrinting, AFrameHalfAnInchInsideTheEdgesLandsThereOnLetterAndA4)
{
	struct Case {
		double width, height;
		std::vector<std::string> options;
		const char* paper;
	};
	for (const Case& c : {Case{612, 792, {}, "US Letter"},
			 Case{595, 842, {"-o", "PageSize=A4"}, "A4"}}) {
		SCOPED_TRACE(c.paper);
		std::string pdf = sScheduler->Folder() + "/frame.pdf";
		ASSERT_TRUE(write_frame_pdf(pdf, c.width, c.height));
		ASSERT_GT(PrintToEnd(c.options, pdf), 0);
		std::vector<preview::Page> pages = decode_pages(read_bytes(
			sScheduler->OutputPath("desk.pcl")));
		ASSERT_EQ(pages.size(), 1u);
		preview::Sheet sheet = preview::sheet_for(pages[0]);
		EXPECT_EQ(sheet.paper, c.paper);
		expect_frame(preview::on_sheet(pages[0], sheet), c.width, c.height);
	}
}

TEST_F(CupsPrinting, ResolutionAndColourModelOptionsGiveAOnePlaneStreamAt150Dpi)
{
	std::string pdf = MakePdf("page.pdf", {kLetter});
	ASSERT_GT(PrintToEnd({"-o", "Resolution=150dpi", "-o", "ColorModel=Gray"}, pdf), 0);
	std::vector<preview::Page> sheets = Sheets();
	ASSERT_EQ(sheets.size(), 1u);
	EXPECT_EQ(sheets[0].resolution, 150);
	EXPECT_EQ(sheets[0].planes, 1);
	// Colours become shades of grey: dithered black dots, few for the light ones (cyan gets
	// about one dot in ten), and none outside the rectangles.
	expect_ink_boxes(sheets[0], placed(kLetter, 150, true), 0.05);
}

TEST_F(CupsPrinting, TwoCopiesAreTwoSheetsMadeByTheDriver)
{
	std::string pdf = MakePdf("page.pdf", {kLetter});
	int job = PrintToEnd({"-n", "2", "-o", "Resolution=75dpi"}, pdf);
	ASSERT_GT(job, 0);
	std::vector<preview::Page> sheets = Sheets();
	ASSERT_EQ(sheets.size(), 2u);
	for (const preview::Page& sheet : sheets) {
		EXPECT_EQ(sheet.resolution, 75);
		expect_ink_boxes(sheet, placed(kLetter, 75));
	}
	EXPECT_TRUE(sheets[0].inks == sheets[1].inks);
	// The filter's "PAGE: 1 2" (page 1, two copies) counts two sheets in the page log.
	std::string log = sScheduler->PageLog();
	std::string jobEntry = "Desk root " + std::to_string(job) + " [";
	size_t line = log.find(jobEntry);
	ASSERT_NE(line, std::string::npos) << log;
	EXPECT_NE(log.substr(line, log.find('\n', line) - line).find("] total 2 "),
		std::string::npos) << log;
}

// Collated copies are made by CUPS (pdftopdf repeats the document, and the raster says one
// copy, while the filter's copies argument still says two): they must not be multiplied again.
TEST_F(CupsPrinting, CollatedCopiesThatCupsMadeArePrintedOnce)
{
	PdfPage second = {612, 792, {{300, 300, 100, 100, kBlue}}};
	std::string pdf = MakePdf("pages.pdf", {kLetter, second});
	ASSERT_GT(PrintToEnd({"-n", "2", "-o", "collate=true", "-o", "Resolution=75dpi"}, pdf), 0);
	std::vector<preview::Page> sheets = Sheets();
	ASSERT_EQ(sheets.size(), 4u);
	for (size_t i = 0; i < sheets.size(); i++)
		expect_ink_boxes(sheets[i], placed(i % 2 == 0 ? kLetter : second, 75));
}

// A page of CUPS raster in 8-bit RGB at 75 dpi, white paper with a red square of 20 dots 10
// dots in from the left and 5 down, as a raster client sends it.
struct RasterSheet {
	unsigned widthPoints, heightPoints;
	unsigned copies;
	unsigned dpi = 75;
};

void write_raster(const std::string& path, const std::vector<RasterSheet>& sheets)
{
	int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	ASSERT_GE(fd, 0);
	cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
	ASSERT_NE(raster, nullptr);
	for (const RasterSheet& sheet : sheets) {
		cups_page_header2_t header = {};
		header.HWResolution[0] = header.HWResolution[1] = sheet.dpi;
		header.PageSize[0] = sheet.widthPoints;
		header.PageSize[1] = sheet.heightPoints;
		header.NumCopies = sheet.copies;
		header.cupsWidth = sheet.widthPoints * sheet.dpi / 72;
		header.cupsHeight = sheet.heightPoints * sheet.dpi / 72;
		header.cupsColorSpace = CUPS_CSPACE_RGB;
		header.cupsColorOrder = CUPS_ORDER_CHUNKED;
		header.cupsBitsPerColor = 8;
		header.cupsBitsPerPixel = 24;
		header.cupsBytesPerLine = 3 * header.cupsWidth;
		header.cupsNumColors = 3;
		ASSERT_TRUE(cupsRasterWriteHeader2(raster, &header));
		std::vector<uint8_t> row(header.cupsBytesPerLine);
		for (unsigned y = 0; y < header.cupsHeight; y++) {
			std::fill(row.begin(), row.end(), 255);
			for (unsigned x = 30; y >= 20 && y < 40 && x < 50; x++)
				row[3 * x + 1] = row[3 * x + 2] = 0;
			ASSERT_EQ(cupsRasterWritePixels(raster, row.data(), header.cupsBytesPerLine),
				header.cupsBytesPerLine);
		}
	}
	cupsRasterClose(raster);
	close(fd);
}

// CUPS raster goes straight to rastertotessary, and every page is printed on its own paper:
// Letter, Legal and A4 in one job.
TEST_F(CupsPrinting, CupsRasterGoesThroughTheRasterFilterEachPageAtItsOwnSize)
{
	std::string input = sScheduler->Folder() + "/pages.ras";
	write_raster(input, {{612, 792, 1}, {612, 1008, 1}, {595, 842, 1}});
	int job = PrintToEnd({}, input);
	ASSERT_GT(job, 0);
	ExpectFilters(job, {"rastertotessary"});
	std::vector<preview::Page> pages = Pages();
	std::vector<preview::Page> sheets = on_sheets(pages);
	ASSERT_EQ(sheets.size(), 3u);
	const struct {
		int width, rows;  // whole bytes of dots a row, whole bands of 100 rows
	} sizes[] = {{640, 900}, {640, 1100}, {624, 900}};
	for (size_t i = 0; i < sheets.size(); i++) {
		SCOPED_TRACE("sheet " + std::to_string(i + 1));
		EXPECT_EQ(pages[i].resolution, 75);
		EXPECT_EQ(pages[i].width, sizes[i].width);
		EXPECT_EQ(pages[i].rows, sizes[i].rows);
		expect_ink_boxes(sheets[i], {{30, 20, 50, 40, kMagentaInk | kYellowInk}});
	}
}

// The PPD's Compression option: TIFF sends the same sheets in packed rows, through either
// filter; None, the default, sends rows whole.
TEST_F(CupsPrinting, CompressionOptionPacksTheRowsOfTheSameSheets)
{
	std::string pdf = MakePdf("page.pdf", {kLetter});
	std::string raster = sScheduler->Folder() + "/page.ras";
	write_raster(raster, {{612, 792, 2}});
	for (const std::string& input : {pdf, raster}) {
		SCOPED_TRACE(input);
		ASSERT_GT(PrintToEnd({"-o", "Resolution=75dpi"}, input), 0);
		std::vector<uint8_t> whole = read_bytes(sScheduler->OutputPath("desk.pcl"));
		ASSERT_GT(PrintToEnd({"-o", "Resolution=75dpi", "-o", "Compression=TIFF"}, input), 0);
		std::vector<uint8_t> packed = read_bytes(sScheduler->OutputPath("desk.pcl"));
		ASSERT_GT(PrintToEnd({"-o", "Resolution=75dpi", "-o", "Compression=None"}, input), 0);
		EXPECT_TRUE(read_bytes(sScheduler->OutputPath("desk.pcl")) == whole);

		const std::string method = "\x1b&l0E\x1b*b";
		std::string wholeText(whole.begin(), whole.end());
		std::string packedText(packed.begin(), packed.end());
		EXPECT_EQ(wholeText.substr(wholeText.find(method) + method.size(), 2), "0M");
		EXPECT_EQ(packedText.substr(packedText.find(method) + method.size(), 2), "2M");
		EXPECT_LT(packed.size() * 4, whole.size());
		std::vector<preview::Page> wholeSheets = decode_pages(whole);
		std::vector<preview::Page> packedSheets = decode_pages(packed);
		ASSERT_EQ(packedSheets.size(), input == pdf ? 1u : 2u);
		ASSERT_EQ(wholeSheets.size(), packedSheets.size());
		for (size_t i = 0; i < wholeSheets.size(); i++) {
			EXPECT_EQ(packedSheets[i].rows, wholeSheets[i].rows);
			EXPECT_EQ(packedSheets[i].width, wholeSheets[i].width);
			EXPECT_TRUE(packedSheets[i].inks == wholeSheets[i].inks) << "sheet " << i + 1;
		}
	}
}

// A cancelled job stops at the driver's next band, whichever filter prints it: the scheduler's
// SIGTERM is taken as a cancel, and the filter ends with status 0.
TEST_F(CupsPrinting, ACancelledJobStopsAndItsFilterEndsCleanly)
{
	std::string pdf = MakePdf("page.pdf", {kLetter});
	std::string raster = sScheduler->Folder() + "/long.ras";
	write_raster(raster, {{612, 792, 300, 300}});
	const struct {
		std::string input;
		const char* filter;
	} cases[] = {{pdf, "pdftotessary"}, {raster, "rastertotessary"}};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.filter);
		std::string device = sScheduler->OutputPath("desk.pcl");
		std::error_code code;
		fs::remove(device, code);
		std::string error;
		// 300 copies at 300 dpi: minutes of work if nothing stops it.
		int job = sScheduler->Print("Desk", {"-n", "300"}, c.input, &error);
		ASSERT_GT(job, 0) << error;

		// Bounded wait until the driver's first bytes reach the device.
		auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
		while (fs::file_size(device, code) == 0 || code) {
			ASSERT_EQ(sScheduler->JobStateOf(job), PrivateScheduler::kProcessing)
				<< sScheduler->JobLog(job);
			ASSERT_LT(std::chrono::steady_clock::now(), deadline) << sScheduler->JobLog(job);
			std::this_thread::sleep_for(std::chrono::milliseconds(20));
		}
		std::string output;
		ASSERT_EQ(sScheduler->Run({"cancel", "-h", sScheduler->Server(),
			"Desk-" + std::to_string(job)}, &output), 0) << output;

		EXPECT_TRUE(sScheduler->WaitForJobState(job, PrivateScheduler::kCanceled))
			<< sScheduler->JobLog(job);
		EXPECT_TRUE(sScheduler->WaitForJobLog(job, std::string("/") + c.filter
			+ ") exited with no errors.")) << sScheduler->JobLog(job);
		bool complete = true;
		std::vector<preview::Page> sheets = decode_pages(read_bytes(device), &complete);
		EXPECT_LT(sheets.size(), 300u);
	}
}

}  // namespace
