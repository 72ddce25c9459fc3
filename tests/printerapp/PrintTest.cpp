// Jobs sent to the printer application over IPP, as any driverless client sends them, and the
// driver's stream that reached the printer's file device decoded and placed on its sheet as
// the printer places it: colours where they belong, one plane for monochrome, copies as
// sheets, page ranges, the resolution the job asked for; refused, cancelled and cut-off jobs
// with the state a user reads; the margins the printer declares.

#include "PclPreview.h"
#include "printerapp/AppServer.h"
#include "printerapp/Samples.h"
#include "support/SheetFrame.h"

#include <cups/raster.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

namespace {

using preview::kBlackInk;
using preview::kCyanInk;
using preview::kMagentaInk;
using preview::kYellowInk;

const Rgb kRed{1, 0, 0};
const Rgb kGreen{0, 1, 0};
const Rgb kBlue{0, 0, 1};
const Rgb kBlack{0, 0, 0};

uint8_t inks_of(const Rgb& colour)
{
	if (colour.red == 1 && colour.green == 0 && colour.blue == 0)
		return kMagentaInk | kYellowInk;
	if (colour.red == 0 && colour.green == 1 && colour.blue == 0)
		return kCyanInk | kYellowInk;
	if (colour.red == 0 && colour.green == 0 && colour.blue == 1)
		return kCyanInk | kMagentaInk;
	return kBlackInk;
}

// A Letter page with three squares of colour, none of them symmetric to another, so that a
// page turned, mirrored or shifted shows.
SamplePage letter_page(const Rgb& first = kRed)
{
	return {8.5, 11, {{1, 1, 2, first}, {5.5, 2, 1.5, kGreen}, {2, 7, 2.5, kBlue}}};
}

// The sheets of a stream, as the printer prints them: each page's raster at the raster
// origin on the paper whose raster it is.
std::vector<preview::Page> decode(const std::vector<uint8_t>& stream, bool* whole,
	std::vector<std::string>* papers = nullptr)
{
	std::vector<preview::Page> pages;
	preview::DecodeError error;
	*whole = preview::decode_stream(stream.data(), stream.size(),
		[&](const preview::Page& page, std::string*) {
			preview::Sheet sheet = preview::sheet_for(page);
			if (papers != nullptr)
				papers->push_back(sheet.paper);
			pages.push_back(preview::on_sheet(page, sheet));
			return true;
		}, &error);
	return pages;
}

// A PWG raster page of the frame of SheetFrame.h in black on white, `width` x `height`
// points, as a client renders a page for the printer: the whole sheet.
bool write_frame_pwg(const std::string& path, const char* media, double width, double height,
	int dpi)
{
	int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	cups_raster_t* raster = fd >= 0 ? cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG) : nullptr;
	cups_page_header2_t header;
	bool written = raster != nullptr
		&& cupsRasterInitPWGHeader(&header, pwgMediaForPWG(media), "sgray_8", dpi, dpi,
			"one-sided", "normal")
		&& cupsRasterWriteHeader2(raster, &header);
	const double dots = dpi / 72.0;
	const double half = kFrameLine / 2 * dots;
	const double left = kFrameInset * dots, top = kFrameInset * dots;
	const double right = (width - kFrameInset) * dots, bottom = (height - kFrameInset) * dots;
	std::vector<uint8_t> row(written ? header.cupsBytesPerLine : 0);
	for (unsigned y = 0; written && y < header.cupsHeight; y++) {
		double cy = y + 0.5;
		bool down = cy >= top - half && cy <= bottom + half;
		bool across = std::fabs(cy - top) <= half || std::fabs(cy - bottom) <= half;
		for (unsigned x = 0; x < header.cupsWidth; x++) {
			double cx = x + 0.5;
			bool vertical = down && (std::fabs(cx - left) <= half || std::fabs(cx - right) <= half);
			bool horizontal = across && cx >= left - half && cx <= right + half;
			row[x] = vertical || horizontal ? 0 : 255;
		}
		written = cupsRasterWritePixels(raster, row.data(), header.cupsBytesPerLine)
			== header.cupsBytesPerLine;
	}
	if (raster != nullptr)
		cupsRasterClose(raster);
	if (fd >= 0)
		close(fd);
	return written;
}

uint8_t ink(const preview::Page& page, int x, int y)
{
	if (x < 0 || y < 0 || x >= page.width || y >= page.rows)
		return 0;
	return page.inks[static_cast<size_t>(y) * page.width + x];
}

// Every square's inks fill the middle of where it belongs on the page, and (but for a few
// dots where a JPEG's edges ring) no ink falls outside the squares. `black` expects black
// ink for every colour.
void expect_squares(const preview::Page& page, const SamplePage& sample, bool black,
	int strayAllowed = 0)
{
	double dpi = page.resolution;
	int stray = 0;
	for (const ColourSquare& square : sample.squares) {
		int left = static_cast<int>(square.x * dpi) + 3;
		int top = static_cast<int>(square.y * dpi) + 3;
		int right = static_cast<int>((square.x + square.size) * dpi) - 3;
		int bottom = static_cast<int>((square.y + square.size) * dpi) - 3;
		uint8_t wanted = black ? static_cast<uint8_t>(kBlackInk) : inks_of(square.colour);
		int matching = 0, total = 0;
		for (int y = top; y < bottom; y++) {
			for (int x = left; x < right; x++) {
				total++;
				matching += ink(page, x, y) == wanted;
			}
		}
		// In black alone a colour is a grey: dithered dots, about as many as it is dark.
		double share = black ? 0.5 * (1 - (0.299 * square.colour.red
			+ 0.587 * square.colour.green + 0.114 * square.colour.blue)) : 0.9;
		EXPECT_GT(matching, total * share) << "square at " << square.x << "," << square.y
			<< " in. at " << dpi << " dpi";
	}
	for (int y = 0; y < page.rows; y++) {
		for (int x = 0; x < page.width; x++) {
			if (ink(page, x, y) == 0)
				continue;
			bool inside = false;
			for (const ColourSquare& square : sample.squares) {
				inside = inside || (x >= square.x * dpi - 3 && x <= (square.x + square.size) * dpi + 3
					&& y >= square.y * dpi - 3 && y <= (square.y + square.size) * dpi + 3);
			}
			stray += !inside;
		}
	}
	EXPECT_LE(stray, strayAllowed) << "dots of ink outside the squares";
}

class PrinterApp : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string error;
		ASSERT_TRUE(fServer.Start(&error)) << error;
	}

	// Prints and returns the decoded pages of what reached the printer.
	std::vector<preview::Page> Print(const std::string& document, const std::string& format,
		const std::vector<std::string>& attributes, JobResult* result = nullptr)
	{
		JobResult job = print_and_wait(fServer, document, format, attributes);
		if (result != nullptr)
			*result = job;
		EXPECT_EQ(job.state, 9) << job.message << "\n" << job.output << fServer.LogTail();
		bool whole = false;
		std::vector<preview::Page> pages = decode(fServer.NewBytes(fServer.OutputPath()),
			&whole);
		EXPECT_TRUE(whole) << "the stream does not decode whole";
		return pages;
	}

	std::string Write(const std::string& name, const std::vector<SamplePage>& pages)
	{
		std::string path = fServer.Sub(name);
		bool written = name.ends_with(".pdf") ? write_pdf(path, pages)
			: name.ends_with(".jpg") ? write_jpeg(path, pages[0], 100)
			: write_pwg(path, pages, 75, "srgb_8");
		EXPECT_TRUE(written) << path;
		return path;
	}

	AppServer fServer;
};

struct FormatCase {
	const char* name;
	const char* file;
	const char* format;
	int strayAllowed;  // JPEG's compression rings at the squares' edges
};

class Formats : public PrinterApp, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(Formats, ColoursLandWhereTheDocumentPutsThem)
{
	const FormatCase& c = GetParam();
	SamplePage page = letter_page();
	std::vector<preview::Page> pages = Print(Write(c.file, {page}), c.format,
		{"resolution printer-resolution 75dpi"});
	ASSERT_EQ(pages.size(), 1u);
	EXPECT_EQ(pages[0].resolution, 75);
	EXPECT_EQ(pages[0].planes, 4);
	expect_squares(pages[0], page, false, c.strayAllowed);
}

TEST_P(Formats, MonochromePrintsWithTheBlackPlaneAlone)
{
	const FormatCase& c = GetParam();
	SamplePage page = letter_page();
	std::vector<preview::Page> pages = Print(Write(c.file, {page}), c.format,
		{"resolution printer-resolution 75dpi", "keyword print-color-mode monochrome"});
	ASSERT_EQ(pages.size(), 1u);
	EXPECT_EQ(pages[0].planes, 1);
	expect_squares(pages[0], page, true, c.strayAllowed);
}

TEST_P(Formats, TwoCopiesAreTwoSheets)
{
	const FormatCase& c = GetParam();
	SamplePage page = letter_page();
	std::vector<preview::Page> pages = Print(Write(c.file, {page}), c.format,
		{"resolution printer-resolution 75dpi", "integer copies 2"});
	ASSERT_EQ(pages.size(), 2u);
	for (const preview::Page& sheet : pages)
		expect_squares(sheet, page, false, c.strayAllowed);
}

INSTANTIATE_TEST_SUITE_P(PrinterApp, Formats, ::testing::Values(
	FormatCase{"Pdf", "page.pdf", "application/pdf", 0},
	FormatCase{"Jpeg", "page.jpg", "image/jpeg", 40},
	FormatCase{"PwgRaster", "page.pwg", "image/pwg-raster", 0}),
	[](const ::testing::TestParamInfo<FormatCase>& param) { return param.param.name; });

TEST_F(PrinterApp, PageRangesPickPagesOfAPdf)
{
	std::vector<SamplePage> pages;
	for (const Rgb& colour : {kRed, kGreen, kBlue, kBlack})
		pages.push_back(letter_page(colour));
	std::vector<preview::Page> printed = Print(Write("four.pdf", pages), "application/pdf",
		{"resolution printer-resolution 75dpi", "rangeOfInteger page-ranges 2-3"});
	ASSERT_EQ(printed.size(), 2u);
	expect_squares(printed[0], pages[1], false);
	expect_squares(printed[1], pages[2], false);
}

TEST_F(PrinterApp, ResolutionFollowsQualityAndPrinterResolution)
{
	struct Case {
		const char* attribute;
		int dpi;
	};
	const Case cases[] = {
		{"enum print-quality 3", 150},   // draft
		{"enum print-quality 4", 300},   // normal, the printer's default
		{"enum print-quality 5", 300},   // high
		{"resolution printer-resolution 150dpi", 150},
		{"resolution printer-resolution 75dpi", 75},
	};
	std::string pdf = Write("small.pdf", {{4, 6, {{1, 1, 1, kRed}}}});
	for (const Case& c : cases) {
		std::vector<preview::Page> pages = Print(pdf, "application/pdf", {c.attribute});
		ASSERT_EQ(pages.size(), 1u) << c.attribute;
		EXPECT_EQ(pages[0].resolution, c.dpi) << c.attribute;
		EXPECT_EQ(pages[0].planes, 4) << c.attribute;
	}
}

// A page with a frame half an inch inside its edges, on Letter and on A4 at 300 dpi, as a PDF
// and as PWG raster of the whole sheet: the frame lands on the sheet where the page has it,
// within a dot, whole.
TEST_F(PrinterApp, AFrameHalfAnInchInsideTheEdgesLandsThereOnLetterAndA4)
{
	struct Case {
		const char* media;
		const char* paper;
		double width, height;  // points
	};
	for (const Case& c : {Case{"na_letter_8.5x11in", "US Letter", 612, 792},
			 Case{"iso_a4_210x297mm", "A4", 595.28, 841.89}}) {
		for (const char* format : {"application/pdf", "image/pwg-raster"}) {
			SCOPED_TRACE(std::string(c.paper) + " " + format);
			bool pdf = std::string(format) == "application/pdf";
			std::string path = fServer.Sub(pdf ? "frame.pdf" : "frame.pwg");
			ASSERT_TRUE(pdf ? write_frame_pdf(path, c.width, c.height)
				: write_frame_pwg(path, c.media, c.width, c.height, 300));
			JobResult job = print_and_wait(fServer, path, format,
				{"enum print-quality 5", std::string("keyword media ") + c.media});
			ASSERT_EQ(job.state, 9) << job.message << "\n" << job.output << fServer.LogTail();
			bool whole = false;
			std::vector<std::string> papers;
			std::vector<preview::Page> sheets = decode(fServer.NewBytes(fServer.OutputPath()),
				&whole, &papers);
			EXPECT_TRUE(whole);
			ASSERT_EQ(sheets.size(), 1u);
			EXPECT_EQ(papers[0], c.paper);
			EXPECT_EQ(sheets[0].resolution, 300);
			expect_frame(sheets[0], c.width, c.height);
		}
	}
}

// The margins the printer declares are where it cannot print: a quarter inch at the left
// and an eighth at the top (PAPPL keeps one margin for left and right, one for top and
// bottom, so the larger of each pair), and no paper is offered without margins.
TEST_F(PrinterApp, DeclaresTheMarginsItCannotPrintIn)
{
	std::string test = fServer.Sub("margins.test");
	std::ofstream(test) << "{\n\tNAME \"Get-Printer-Attributes\"\n"
		"\tOPERATION Get-Printer-Attributes\n"
		"\tGROUP operation-attributes-tag\n"
		"\tATTR charset attributes-charset utf-8\n"
		"\tATTR naturalLanguage attributes-natural-language en\n"
		"\tATTR uri printer-uri $uri\n"
		"\tATTR keyword requested-attributes media-left-margin-supported,"
		"media-right-margin-supported,media-top-margin-supported,"
		"media-bottom-margin-supported,media-col-default,media-col-ready,"
		"media-col-database\n"
		"\tSTATUS successful-ok\n"
		"\tEXPECT media-left-margin-supported OF-TYPE integer WITH-ALL-VALUES 635\n"
		"\tEXPECT media-right-margin-supported OF-TYPE integer WITH-ALL-VALUES 635\n"
		"\tEXPECT media-top-margin-supported OF-TYPE integer WITH-ALL-VALUES 318\n"
		"\tEXPECT media-bottom-margin-supported OF-TYPE integer WITH-ALL-VALUES 318\n"
		"\tDISPLAY media-col-default\n\tDISPLAY media-col-ready\n"
		"\tDISPLAY media-col-database\n}\n";
	std::string output;
	ASSERT_EQ(fServer.Ipptool("-t " + fServer.PrinterUri() + " " + test, &output), 0) << output;
	for (const char* attribute : {"media-col-default (collection) = ",
			 "media-col-ready (collection) = "}) {
		size_t at = output.find(attribute);
		ASSERT_NE(at, std::string::npos) << attribute << "\n" << output;
		std::string value = output.substr(at, output.find('\n', at) - at);
		EXPECT_NE(value.find("media-left-margin=635"), std::string::npos) << value;
		EXPECT_NE(value.find("media-top-margin=318"), std::string::npos) << value;
	}
	EXPECT_EQ(output.find("margin=0"), std::string::npos) << output;
}

TEST_F(PrinterApp, DamagedPdfIsAbortedWithItsReasonAndNothingPrinted)
{
	std::string path = fServer.Sub("damaged.pdf");
	std::ofstream(path) << "%PDF-1.4\n1 0 obj\n<< /Type /Catalog\ngarbage\n";
	JobResult job = print_and_wait(fServer, path, "application/pdf", {});
	EXPECT_EQ(job.state, 8) << job.output;  // aborted
	EXPECT_NE(job.reasons.find("document-format-error"), std::string::npos) << job.reasons;
	EXPECT_NE(job.message.find("\"damaged.pdf\": cannot be read as a PDF"), std::string::npos)
		<< job.message;
	EXPECT_TRUE(fServer.NewBytes(fServer.OutputPath()).empty());
}

}  // namespace
