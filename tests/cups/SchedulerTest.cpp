// The driver as CUPS users meet it: a private CUPS scheduler with a queue made from the built
// tessary.ppd (found among the scheduler's models, as `lpinfo -m` lists it) and a file:
// device, PDFs printed with `lp`, and what reached the device decoded.
//
// Where CUPS places a PDF's page: pdftopdf passes a page of the paper's own size through
// unscaled (cropping what lies outside the PPD's imageable area), and gstoraster renders the
// imageable area alone. The filter puts that raster where the area lies on the sheet, less
// the raster origin, so that a point (x, y) of the page, from its top left corner, lands on
// dot (x, y) * dpi / 72 of the sheet as the printer prints it; what lies left of or above the
// imageable area is not printed.

#include "DeviceModel.h"
#include "PclPages.h"
#include "PrivateScheduler.h"
#include "support/SheetFrame.h"

#include <gtest/gtest.h>

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

struct Colour {
	double red, green, blue;
	uint8_t inks;
};

const Colour kRed = {1, 0, 0, kMagentaInk | kYellowInk};
const Colour kGreen = {0, 1, 0, kCyanInk | kYellowInk};
const Colour kBlue = {0, 0, 1, kCyanInk | kMagentaInk};
const Colour kCyan = {0, 1, 1, kCyanInk};

// A rectangle of colour on a PDF page, in points from the page's top left corner.
struct Rectangle {
	double x, y, width, height;
	Colour colour;
};

struct PdfPage {
	double width, height;  // points
	std::vector<Rectangle> rectangles;
};

void make_pdf(const std::string& path, const std::vector<PdfPage>& pages)
{
	cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), pages[0].width,
		pages[0].height);
	cairo_t* cairo = cairo_create(surface);
	for (const PdfPage& page : pages) {
		cairo_pdf_surface_set_size(surface, page.width, page.height);
		for (const Rectangle& rectangle : page.rectangles) {
			cairo_set_source_rgb(cairo, rectangle.colour.red, rectangle.colour.green,
				rectangle.colour.blue);
			cairo_rectangle(cairo, rectangle.x, rectangle.y, rectangle.width, rectangle.height);
			cairo_fill(cairo);
		}
		cairo_show_page(cairo);
	}
	cairo_destroy(cairo);
	cairo_surface_finish(surface);
	ASSERT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS);
	cairo_surface_destroy(surface);
}

// Where the rectangles land on a sheet printed at `dpi`, in the colour's inks or, printed in
// grey, in black: as far as they lie inside the PPD's imageable area (18 points in from the
// left, 9 from the top), which is all CUPS renders.
std::vector<InkBox> placed(const PdfPage& page, int dpi, bool gray = false)
{
	std::vector<InkBox> boxes;
	double scale = dpi / 72.0;
	for (const Rectangle& r : page.rectangles) {
		boxes.push_back({std::max(r.x, 18.0) * scale, std::max(r.y, 9.0) * scale,
			(r.x + r.width) * scale, (r.y + r.height) * scale,
			gray ? uint8_t(kBlackInk) : r.colour.inks});
	}
	return boxes;
}

// A US Letter page and an A4 page, each with rectangles of four colours at places that tell
// left from right and top from bottom, two of them touching the corners of the sheet.
const PdfPage kLetter = {612, 792, {
	{0, 0, 48, 36, kRed},
	{430, 60, 110, 72, kGreen},
	{72, 500, 90, 150, kBlue},
	{612 - 60, 792 - 40, 60, 40, kCyan},
}};
const PdfPage kA4 = {595, 842, {
	{0, 0, 40, 60, kCyan},
	{300, 100, 120, 50, kRed},
	{50, 700, 200, 30, kGreen},
	{595 - 50, 842 - 50, 50, 50, kBlue},
}};

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

	// The sheets the last job left on the device, as the printer prints them.
	std::vector<preview::Page> Sheets()
	{
		return on_sheets(decode_pages(read_bytes(sScheduler->OutputPath("desk.pcl"))));
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

TEST_F(CupsPrinting, ACancelledJobStopsAndItsFilterEndsCleanly)
{
	std::string pdf = MakePdf("page.pdf", {kLetter});
	std::string error;
	// 300 copies at 300 dpi: minutes of work if nothing stops it.
	int job = sScheduler->Print("Desk", {"-n", "300"}, pdf, &error);
	ASSERT_GT(job, 0) << error;

	// Bounded wait until the driver's first bytes reach the device.
	std::string device = sScheduler->OutputPath("desk.pcl");
	auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
	std::error_code code;
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
	// The scheduler's SIGTERM was taken as a cancel: the filter ended with status 0.
	EXPECT_TRUE(sScheduler->WaitForJobLog(job, "/rastertotessary) exited with no errors."))
		<< sScheduler->JobLog(job);
	bool complete = true;
	std::vector<preview::Page> sheets = decode_pages(read_bytes(device), &complete);
	EXPECT_LT(sheets.size(), 300u);
}

}  // namespace
