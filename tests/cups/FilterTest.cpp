// The built filters run as CUPS runs them (job-id user title copies options, the input on
// standard input or named last): rastertotessary on CUPS raster that the test writes with
// libcups, pdftotessary on PDFs made with Cairo. What reaches standard output is decoded, what
// they say on standard error is read.

#include "PclPages.h"
#include "PdfPages.h"

#include <cups/raster.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "support/TempRoot.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A page of raster as a test asks for it. The page is small (2 x 1.5 inches) and at 75 dpi
// unless a case says otherwise, so the driver has little to do. The raster is of the whole
// page, or, as CUPS renders for the PPD, of its imageable area alone (a quarter inch in from
// the left, an eighth from the top).
struct RasterPage {
	cups_cspace_t space = CUPS_CSPACE_RGB;
	unsigned bitsPerColor = 8;
	unsigned dpiX = 75;
	unsigned dpiY = 75;
	float widthPoints = 144;
	float heightPoints = 108;
	unsigned copies = 1;
	cups_order_t order = CUPS_ORDER_CHUNKED;
	bool imageableAreaOnly = false;
};

// The imageable area of the PPD's papers: 18 points in from the left, 9 from the top.
const float kAreaLeft = 18;
const float kAreaTop = 9;

unsigned channels_of(cups_cspace_t space)
{
	switch (space) {
		case CUPS_CSPACE_W:
		case CUPS_CSPACE_SW:
		case CUPS_CSPACE_K:
			return 1;
		case CUPS_CSPACE_CMYK:
			return 4;
		default:
			return 3;
	}
}

cups_page_header2_t make_header(const RasterPage& shape)
{
	cups_page_header2_t header;
	memset(&header, 0, sizeof(header));
	header.HWResolution[0] = shape.dpiX;
	header.HWResolution[1] = shape.dpiY;
	header.PageSize[0] = static_cast<unsigned>(shape.widthPoints);
	header.PageSize[1] = static_cast<unsigned>(shape.heightPoints);
	header.cupsPageSize[0] = shape.widthPoints;
	header.cupsPageSize[1] = shape.heightPoints;
	float left = shape.imageableAreaOnly ? kAreaLeft : 0;
	float top = shape.heightPoints - (shape.imageableAreaOnly ? kAreaTop : 0);
	header.ImagingBoundingBox[0] = static_cast<unsigned>(left);
	header.ImagingBoundingBox[2] = header.PageSize[0];
	header.ImagingBoundingBox[3] = static_cast<unsigned>(top);
	header.cupsImagingBBox[0] = left;
	header.cupsImagingBBox[2] = shape.widthPoints;
	header.cupsImagingBBox[3] = top;
	header.Margins[0] = static_cast<unsigned>(left);
	header.NumCopies = shape.copies;
	header.cupsWidth = static_cast<unsigned>(std::lround((shape.widthPoints - left)
		* shape.dpiX / 72.0));
	header.cupsHeight = static_cast<unsigned>(std::lround(top * shape.dpiY / 72.0));
	header.cupsColorSpace = shape.space;
	header.cupsColorOrder = shape.order;
	header.cupsBitsPerColor = shape.bitsPerColor;
	header.cupsBitsPerPixel = shape.order == CUPS_ORDER_CHUNKED
		? shape.bitsPerColor * channels_of(shape.space) : shape.bitsPerColor;
	header.cupsBytesPerLine = (header.cupsWidth * header.cupsBitsPerPixel + 7) / 8;
	header.cupsNumColors = channels_of(shape.space);
	return header;
}

// The picture of every test page: white paper with a red square of 20 dots, 30 dots in from
// the sheet's left edge and 15 down from its top (black where the raster is grey), inside
// the printable area.
bool in_square(unsigned x, unsigned y)
{
	return x >= 30 && x < 50 && y >= 15 && y < 35;
}

// One row of the test picture in the header's colour space and depth: the sheet's row as far
// as the raster covers it.
std::vector<uint8_t> picture_row(const cups_page_header2_t& header, unsigned y)
{
	std::vector<uint8_t> row(header.cupsBytesPerLine, 0);
	unsigned channels = channels_of(static_cast<cups_cspace_t>(header.cupsColorSpace));
	// The sheet's dot of the raster's first: the imageable area's top left corner.
	unsigned left = static_cast<unsigned>(std::lround(header.cupsImagingBBox[0]
		* header.HWResolution[0] / 72.0));
	unsigned top = static_cast<unsigned>(std::lround((header.cupsPageSize[1]
		- header.cupsImagingBBox[3]) * header.HWResolution[1] / 72.0));
	size_t value = 0;
	for (unsigned x = 0; x < header.cupsWidth; x++) {
		bool square = in_square(x + left, y + top);
		for (unsigned c = 0; c < channels; c++, value++) {
			uint8_t level;
			if (channels == 3)
				level = square && c > 0 ? 0 : 255;  // red on white
			else if (header.cupsColorSpace == CUPS_CSPACE_K)
				level = square ? 255 : 0;  // ink on no ink
			else
				level = square ? 0 : 255;  // black on white
			if (header.cupsBitsPerColor == 16) {
				uint16_t wide = static_cast<uint16_t>(level * 257);
				memcpy(&row[value * 2], &wide, sizeof(wide));
			} else if (header.cupsBitsPerColor == 8) {
				row[value] = level;
			}
		}
	}
	return row;
}

// Writes pages of the test picture to `path`. `pixels` false writes the headers alone.
void write_raster(const std::string& path, const std::vector<RasterPage>& pages,
	cups_mode_t mode = CUPS_RASTER_WRITE, bool pixels = true)
{
	int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	ASSERT_GE(fd, 0);
	cups_raster_t* raster = cupsRasterOpen(fd, mode);
	ASSERT_NE(raster, nullptr);
	for (const RasterPage& shape : pages) {
		cups_page_header2_t header = make_header(shape);
		ASSERT_TRUE(cupsRasterWriteHeader2(raster, &header));
		for (unsigned y = 0; pixels && y < header.cupsHeight; y++) {
			std::vector<uint8_t> row = picture_row(header, y);
			ASSERT_EQ(cupsRasterWritePixels(raster, row.data(), header.cupsBytesPerLine),
				header.cupsBytesPerLine);
		}
	}
	cupsRasterClose(raster);
	close(fd);
}

void truncate_to(const std::string& path, uintmax_t size)
{
	fs::resize_file(path, size);
}

// What one run of the filter left behind.
struct FilterRun {
	bool exited = false;      // ended by exit(), not by a signal or the watchdog
	int status = -1;
	std::vector<uint8_t> output;
	std::string messages;     // standard error
};

// How a filter is run: as CUPS runs it, but for what a test changes.
struct FilterCall {
	std::string program = "rastertotessary";
	std::string copies = "1";
	std::string options;
	bool ppd = false;            // $PPD names the built tessary.ppd, as CUPS sets it
	bool inputArgument = false;  // the input is the sixth argument, not standard input
};

class CupsFilter : public ::testing::Test {
protected:
	// Runs the raster filter on the raster in `input` (standard input), with `copies` as its
	// copies argument. `whileRunning` is called once the filter's first bytes reached its
	// output.
	FilterRun Run(const std::string& input, const std::string& copies = "1",
		const std::function<void(pid_t)>& whileRunning = nullptr)
	{
		FilterCall call;
		call.copies = copies;
		return Run(input, call, whileRunning);
	}

	FilterRun Run(const std::string& input, const FilterCall& call,
		const std::function<void(pid_t)>& whileRunning = nullptr)
	{
		std::string output = fRoot.Sub("out.pcl");
		std::string errors = fRoot.Sub("errors.txt");
		std::string filter = TESSARY_BUILD_DIR "/cups/" + call.program;
		const char* argv[] = {filter.c_str(), "7", "tester", "Test job", call.copies.c_str(),
			call.options.c_str(), call.inputArgument ? input.c_str() : nullptr, nullptr};
		posix_spawn_file_actions_t actions;
		posix_spawn_file_actions_init(&actions);
		posix_spawn_file_actions_addopen(&actions, 0, call.inputArgument ? "/dev/null"
			: input.c_str(), O_RDONLY, 0);
		posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
			O_WRONLY | O_CREAT | O_TRUNC, 0644);
		posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(),
			O_WRONLY | O_CREAT | O_TRUNC, 0644);
		// The filter's private root goes below TMPDIR: here, a folder of the test's own.
		fs::create_directories(TemporaryFolder());
		std::vector<std::string> variables = {"TMPDIR=" + TemporaryFolder()};
		if (call.ppd)
			variables.push_back("PPD=" TESSARY_BUILD_DIR "/cups/tessary.ppd");
		for (char** variable = environ; *variable != nullptr; variable++) {
			if (strncmp(*variable, "TMPDIR=", 7) != 0 && strncmp(*variable, "PPD=", 4) != 0)
				variables.push_back(*variable);
		}
		std::vector<char*> environment;
		for (std::string& variable : variables)
			environment.push_back(variable.data());
		environment.push_back(nullptr);
		pid_t child = -1;
		FilterRun run;
		int spawned = posix_spawn(&child, filter.c_str(), &actions, nullptr,
			const_cast<char**>(argv), environment.data());
		posix_spawn_file_actions_destroy(&actions);
		EXPECT_EQ(spawned, 0) << strerror(spawned);
		if (spawned != 0)
			return run;

		// A watchdog, not a speed check: a filter that hangs fails the test.
		auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
		bool called = whileRunning == nullptr;
		int status = 0;
		while (waitpid(child, &status, WNOHANG) == 0) {
			std::error_code code;
			if (!called && fs::file_size(output, code) > 0 && !code) {
				whileRunning(child);
				called = true;
			}
			if (std::chrono::steady_clock::now() > deadline) {
				kill(child, SIGKILL);
				waitpid(child, &status, 0);
				ADD_FAILURE() << "the filter did not end";
				break;
			}
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
		}
		run.exited = WIFEXITED(status);
		run.status = run.exited ? WEXITSTATUS(status) : -1;
		run.output = read_bytes(output);
		std::ifstream text(errors);
		run.messages.assign(std::istreambuf_iterator<char>(text), std::istreambuf_iterator<char>());
		EXPECT_TRUE(called) << "the filter wrote nothing while it ran";
		return run;
	}

	std::string TemporaryFolder() const { return fRoot.Sub("tmp"); }

	TempRoot fRoot;
};

// The red (or black) square of the test picture where the page has it on the sheet, on a
// page of 75 dpi.
void expect_test_picture(const preview::Page& page, bool gray)
{
	EXPECT_EQ(page.resolution, 75);
	EXPECT_EQ(page.planes, gray ? 1 : 4);
	preview::Page sheet = preview::on_sheet(page, preview::sheet_for(page));
	expect_ink_boxes(sheet, {{30, 15, 50, 35,
		static_cast<uint8_t>(gray ? kBlackInk : kMagentaInk | kYellowInk)}});
}

struct Format {
	const char* label;
	cups_cspace_t space;
	unsigned bitsPerColor;
	cups_mode_t mode;
	bool gray;
	bool imageableAreaOnly = false;
};

void PrintTo(const Format& format, std::ostream* out)
{
	*out << format.label;
}

class CupsFilterFormats : public CupsFilter, public ::testing::WithParamInterface<Format> {};

TEST_P(CupsFilterFormats, PrintTheSquareWhereTheRasterHasIt)
{
	const Format& format = GetParam();
	RasterPage shape;
	shape.space = format.space;
	shape.bitsPerColor = format.bitsPerColor;
	shape.imageableAreaOnly = format.imageableAreaOnly;
	std::string input = fRoot.Sub("page.ras");
	write_raster(input, {shape, shape}, format.mode);

	FilterRun run = Run(input);
	ASSERT_TRUE(run.exited) << run.messages;
	EXPECT_EQ(run.status, 0) << run.messages;
	EXPECT_NE(run.messages.find("PAGE: 1 1\nINFO: Printing page 2\nPAGE: 2 1\n"),
		std::string::npos) << run.messages;
	std::vector<preview::Page> pages = decode_pages(run.output);
	ASSERT_EQ(pages.size(), 2u);
	for (const preview::Page& page : pages)
		expect_test_picture(page, format.gray);
}

INSTANTIATE_TEST_SUITE_P(Raster, CupsFilterFormats, ::testing::Values(
	Format{"Rgb8", CUPS_CSPACE_RGB, 8, CUPS_RASTER_WRITE, false},
	Format{"Srgb16", CUPS_CSPACE_SRGB, 16, CUPS_RASTER_WRITE, false},
	Format{"Rgb8Compressed", CUPS_CSPACE_RGB, 8, CUPS_RASTER_WRITE_COMPRESSED, false},
	Format{"White8", CUPS_CSPACE_W, 8, CUPS_RASTER_WRITE, true},
	Format{"SGray16", CUPS_CSPACE_SW, 16, CUPS_RASTER_WRITE, true},
	Format{"Black8", CUPS_CSPACE_K, 8, CUPS_RASTER_WRITE, true},
	// As CUPS renders a page for the PPD: its imageable area alone, which the filter places
	// where it lies on the sheet.
	Format{"Rgb8OfTheImageableArea", CUPS_CSPACE_RGB, 8, CUPS_RASTER_WRITE, false, true},
	Format{"White8OfTheImageableArea", CUPS_CSPACE_W, 8, CUPS_RASTER_WRITE, true, true}),
	[](const ::testing::TestParamInfo<Format>& param) { return param.param.label; });

// The driver makes the copies the raster header asks for; the copies argument keeps the
// job's count even where CUPS made the copies already, so it must not count.
TEST_F(CupsFilter, CopiesComeFromTheRasterHeaderNotFromTheCopiesArgument)
{
	struct Case {
		unsigned numCopies;
		const char* argument;
		size_t sheets;
	} cases[] = {{3, "1", 3}, {1, "4", 1}, {0, "2", 1}};
	for (const Case& c : cases) {
		RasterPage shape;
		shape.copies = c.numCopies;
		std::string input = fRoot.Sub("copies.ras");
		write_raster(input, {shape});
		FilterRun run = Run(input, c.argument);
		EXPECT_EQ(run.status, 0) << run.messages;
		std::vector<preview::Page> pages = decode_pages(run.output);
		ASSERT_EQ(pages.size(), c.sheets) << "NumCopies " << c.numCopies;
		for (const preview::Page& page : pages)
			expect_test_picture(page, false);
		EXPECT_NE(run.messages.find("PAGE: 1 " + std::to_string(c.sheets) + "\n"),
			std::string::npos) << run.messages;
	}
}

// Input the filter cannot print ends with an ERROR: line and status 1, whatever pages before
// it were printed, and never with a crash.
struct BadInput {
	const char* label;
	std::function<void(const std::string& path)> make;
	const char* error;     // the ERROR: line
	size_t pagesPrinted;
};

void PrintTo(const BadInput& input, std::ostream* out)
{
	*out << input.label;
}

class CupsFilterRefuses : public CupsFilter, public ::testing::WithParamInterface<BadInput> {};

TEST_P(CupsFilterRefuses, WithAnErrorAndAFailingStatus)
{
	const BadInput& bad = GetParam();
	std::string input = fRoot.Sub("bad.ras");
	bad.make(input);
	FilterRun run = Run(input);
	ASSERT_TRUE(run.exited) << "ended by a signal: " << run.messages;
	EXPECT_EQ(run.status, 1) << run.messages;
	EXPECT_NE(run.messages.find(std::string("ERROR: ") + bad.error + "\n"), std::string::npos)
		<< run.messages;
	std::vector<preview::Page> pages = decode_pages(run.output);
	EXPECT_EQ(pages.size(), bad.pagesPrinted);
	if (bad.pagesPrinted == 0) {
		EXPECT_TRUE(run.output.empty()) << run.output.size() << " bytes written";
	}
}

RasterPage with(std::function<void(RasterPage*)> change)
{
	RasterPage shape;
	change(&shape);
	return shape;
}

// Bytes of a raster of one whole test page, sync word and header included.
uintmax_t one_page_bytes()
{
	cups_page_header2_t header = make_header(RasterPage());
	return 4 + sizeof(cups_page_header2_t)
		+ static_cast<uintmax_t>(header.cupsBytesPerLine) * header.cupsHeight;
}

INSTANTIATE_TEST_SUITE_P(Input, CupsFilterRefuses, ::testing::Values(
	BadInput{"ResolutionTheDriverDoesNotOffer",
		[](const std::string& path) {
			write_raster(path, {with([](RasterPage* s) { s->dpiX = s->dpiY = 600; })});
		},
		"Page 1 cannot be printed: the driver prints at 300, 150 or 75 dpi, not at 600x600 dpi",
		0},
	BadInput{"ResolutionsThatDiffer",
		[](const std::string& path) {
			write_raster(path, {with([](RasterPage* s) { s->dpiX = 150; })});
		},
		"Page 1 cannot be printed: the driver prints at 300, 150 or 75 dpi, not at 150x75 dpi",
		0},
	BadInput{"PaperWiderThanTheDriverPrints",
		[](const std::string& path) {
			// 120 inches at 300 dpi; the header alone, the driver refuses before the pixels.
			write_raster(path, {with([](RasterPage* s) {
				s->dpiX = s->dpiY = 300;
				s->widthPoints = 8640;
				s->heightPoints = 72;
			})}, CUPS_RASTER_WRITE, false);
		},
		"Page 1 cannot be printed: the paper is wider than the driver prints (at most 109.2 "
		"inches at 300 dpi)",
		0},
	BadInput{"ColourSpaceOfFourInks",
		[](const std::string& path) {
			write_raster(path, {with([](RasterPage* s) { s->space = CUPS_CSPACE_CMYK; })});
		},
		"Page 1 cannot be printed: the driver prints RGB or grey raster, not colour space 6", 0},
	BadInput{"OneBitBlack",
		[](const std::string& path) {
			write_raster(path, {with([](RasterPage* s) {
				s->space = CUPS_CSPACE_K;
				s->bitsPerColor = 1;
			})});
		},
		"Page 1 cannot be printed: the driver prints chunky raster of 8 or 16 bits a colour, "
		"not order 0 at 1 bits a colour, 1 a pixel",
		0},
	BadInput{"RandomBytes",
		[](const std::string& path) {
			std::mt19937 random(13);
			std::ofstream file(path, std::ios::binary);
			for (int i = 0; i < 100000; i++)
				file.put(static_cast<char>(random()));
		},
		"The input is not CUPS raster.", 0},
	BadInput{"NoInputAtAll",
		[](const std::string& path) { std::ofstream file(path); },
		"No pages found.", 0},
	BadInput{"RasterCutInsideAPage",
		[](const std::string& path) {
			write_raster(path, {RasterPage()});
			truncate_to(path, one_page_bytes() - 1000);
		},
		"The raster ends inside page 1 (row 111 of 113).", 0},
	BadInput{"SecondPageCutInsideItsHeader",
		[](const std::string& path) {
			write_raster(path, {RasterPage(), RasterPage()});
			truncate_to(path, one_page_bytes() + 100);
		},
		"The raster ends inside the header of page 2.", 1},
	BadInput{"GarbageAfterAPage",
		[](const std::string& path) {
			write_raster(path, {RasterPage()});
			std::ofstream file(path, std::ios::binary | std::ios::app);
			file << std::string(3000, 'x');
		},
		"The raster is damaged after page 1.", 1}),
	[](const ::testing::TestParamInfo<BadInput>& param) { return param.param.label; });

// CUPS cancels a job with SIGTERM: the driver stops at its next band, the filter sends nothing
// more and ends with status 0.
TEST_F(CupsFilter, SigtermStopsTheJobAtABandAndEndsCleanly)
{
	// 500 copies of a Letter page at 300 dpi: minutes of work if nothing stops it.
	RasterPage shape;
	shape.dpiX = shape.dpiY = 300;
	shape.widthPoints = 612;
	shape.heightPoints = 792;
	shape.copies = 500;
	std::string input = fRoot.Sub("long.ras");
	write_raster(input, {shape});

	auto stopped = std::chrono::steady_clock::now();
	FilterRun run = Run(input, "1", [&](pid_t filter) {
		stopped = std::chrono::steady_clock::now();
		kill(filter, SIGTERM);
	});
	double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now()
		- stopped).count();
	RecordProperty("seconds_to_stop", std::to_string(seconds));
	ASSERT_TRUE(run.exited) << run.messages;
	EXPECT_EQ(run.status, 0) << run.messages;
	EXPECT_NE(run.messages.find("INFO: Job cancelled after 0 pages\n"), std::string::npos)
		<< run.messages;
	EXPECT_EQ(run.messages.find("ERROR:"), std::string::npos) << run.messages;
	EXPECT_EQ(run.messages.find("PAGE:"), std::string::npos) << run.messages;
	bool complete = true;
	std::vector<preview::Page> sheets = decode_pages(run.output, &complete);
	EXPECT_LT(sheets.size(), 500u);
	// The private root folder went with the filter.
	EXPECT_TRUE(fs::is_empty(TemporaryFolder()));
}

// A job's pages of different sizes and kinds each print at their own: every page is a
// driver job of its own settings, and a size seen before is not asked again.
TEST_F(CupsFilter, PagesOfDifferentSizesEachPrintAtTheirOwn)
{
	RasterPage small;
	RasterPage wide = with([](RasterPage* s) {
		s->widthPoints = 216;
		s->heightPoints = 72;
	});
	RasterPage tall = with([](RasterPage* s) {
		s->widthPoints = 72;
		s->heightPoints = 360;
		s->space = CUPS_CSPACE_W;
	});
	std::string input = fRoot.Sub("mixed.ras");
	write_raster(input, {small, wide, tall, small});
	FilterRun run = Run(input);
	EXPECT_EQ(run.status, 0) << run.messages;
	std::vector<preview::Page> pages = decode_pages(run.output);
	ASSERT_EQ(pages.size(), 4u);
	const struct {
		int width, rows, planes;  // whole bytes of dots, whole bands of rows
	} sizes[] = {{152, 200, 4}, {232, 100, 4}, {80, 400, 1}, {152, 200, 4}};
	for (size_t i = 0; i < pages.size(); i++) {
		SCOPED_TRACE("page " + std::to_string(i + 1));
		EXPECT_EQ(pages[i].width, sizes[i].width);
		EXPECT_EQ(pages[i].rows, sizes[i].rows);
		expect_test_picture(pages[i], sizes[i].planes == 1);
	}
}

// Compression comes from the PPD's option, as CUPS marks the job's choice in the PPD, or from
// the options alone where there is no PPD; the packed stream prints the same sheets.
TEST_F(CupsFilter, CompressionOptionPacksTheRows)
{
	std::string input = fRoot.Sub("page.ras");
	write_raster(input, {RasterPage(), with([](RasterPage* s) { s->copies = 2; })});
	FilterCall call;
	FilterRun whole = Run(input, call);
	ASSERT_EQ(whole.status, 0) << whole.messages;
	std::vector<preview::Page> sheets = decode_pages(whole.output);
	ASSERT_EQ(sheets.size(), 3u);
	const struct {
		const char* options;
		bool ppd;
		bool packed;
	} cases[] = {
		{"", true, false},
		{"Compression=None", true, false},
		{"Compression=TIFF", true, true},
		{"Compression=TIFF", false, true},
		{"Compression=tiff", false, true},
		{"Compression=LZW", true, false},
		{"Compression=LZW", false, false},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(std::string(c.options) + (c.ppd ? " with the PPD" : " without a PPD"));
		call.options = c.options;
		call.ppd = c.ppd;
		FilterRun run = Run(input, call);
		ASSERT_EQ(run.status, 0) << run.messages;
		if (!c.packed) {
			EXPECT_TRUE(run.output == whole.output);
			continue;
		}
		EXPECT_LT(run.output.size() * 3, whole.output.size());
		std::vector<preview::Page> packed = decode_pages(run.output);
		ASSERT_EQ(packed.size(), sheets.size());
		for (size_t i = 0; i < packed.size(); i++) {
			EXPECT_EQ(packed[i].rows, sheets[i].rows);
			EXPECT_TRUE(packed[i].inks == sheets[i].inks) << "sheet " << i + 1;
		}
	}
}

// #pragma mark - pdftotessary

class PdfFilter : public CupsFilter {
protected:
	// A PDF of `pages` in the test's folder.
	std::string Pdf(const std::vector<PdfPage>& pages)
	{
		std::string path = fRoot.Sub("document.pdf");
		make_pdf(path, pages);
		return path;
	}

	// The PDF filter with the built PPD, at 75 dpi unless the options say otherwise.
	static FilterCall PdfCall(const std::string& options = "Resolution=75dpi",
		const std::string& copies = "1")
	{
		FilterCall call;
		call.program = "pdftotessary";
		call.options = options;
		call.copies = copies;
		call.ppd = true;
		return call;
	}
};

// Every page goes through the driver with the PPD's options as the raster filter takes them
// from a raster page's header: paper, resolution and colour model, and the driver's copies.
TEST_F(PdfFilter, PrintsEveryPageWithThePpdsOptions)
{
	PdfPage second = {612, 792, {{300, 300, 100, 100, kBlue}}};
	std::string pdf = Pdf({kLetter, second});
	const struct {
		std::string options;
		std::string copies;
		int dpi;
		bool gray;
		int width, rows;
		size_t sheetsPerPage;
	} cases[] = {
		{"Resolution=75dpi", "1", 75, false, 640, 900, 1},
		{"Resolution=150dpi ColorModel=Gray", "2", 150, true, 1280, 1800, 2},
		{"Resolution=75dpi PageSize=A4", "1", 75, false, 624, 900, 1},
		{"Resolution=75dpi print-color-mode=monochrome", "1", 75, true, 640, 900, 1},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.options + ", copies " + c.copies);
		FilterRun run = Run(pdf, PdfCall(c.options, c.copies));
		ASSERT_TRUE(run.exited) << run.messages;
		EXPECT_EQ(run.status, 0) << run.messages;
		std::string pageLines = "INFO: Printing page 1\nPAGE: 1 " + c.copies
			+ "\nINFO: Printing page 2\nPAGE: 2 " + c.copies + "\nINFO: Printed 2 pages\n";
		EXPECT_NE(run.messages.find(pageLines), std::string::npos) << run.messages;
		std::vector<preview::Page> pages = decode_pages(run.output);
		std::vector<preview::Page> sheets = on_sheets(pages);
		ASSERT_EQ(sheets.size(), 2 * c.sheetsPerPage);
		for (size_t i = 0; i < sheets.size(); i++) {
			SCOPED_TRACE("sheet " + std::to_string(i + 1));
			EXPECT_EQ(pages[i].resolution, c.dpi);
			EXPECT_EQ(pages[i].planes, c.gray ? 1 : 4);
			EXPECT_EQ(pages[i].width, c.width);
			EXPECT_EQ(pages[i].rows, c.rows);
			const PdfPage& page = i < c.sheetsPerPage ? kLetter : second;
			if (c.options.find("A4") == std::string::npos)
				expect_ink_boxes(sheets[i], placed(page, c.dpi, c.gray), c.gray ? 0.05 : 0.9);
		}
	}
}

// The input on standard input (as CUPS hands over pdftopdf's output) prints as the file named
// last does; collated copies are pdftopdf's, which repeated the document, so the driver prints
// each page once.
TEST_F(PdfFilter, StandardInputAndCollatedCopies)
{
	std::string pdf = Pdf({kLetter});
	FilterCall named = PdfCall();
	named.inputArgument = true;
	FilterRun fromFile = Run(pdf, named);
	FilterRun fromInput = Run(pdf, PdfCall());
	EXPECT_EQ(fromFile.status, 0) << fromFile.messages;
	EXPECT_EQ(fromInput.status, 0) << fromInput.messages;
	EXPECT_FALSE(fromFile.output.empty());
	EXPECT_TRUE(fromFile.output == fromInput.output);

	const struct {
		const char* options;
		size_t sheets;
	} cases[] = {
		{"Resolution=75dpi", 3},
		{"Resolution=75dpi collate=false", 3},
		{"Resolution=75dpi collate=true", 1},
		{"Resolution=75dpi Collate=True", 1},
		{"Resolution=75dpi multiple-document-handling=separate-documents-collated-copies", 1},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.options);
		FilterRun run = Run(pdf, PdfCall(c.options, "3"));
		EXPECT_EQ(run.status, 0) << run.messages;
		EXPECT_EQ(decode_pages(run.output).size(), c.sheets);
		EXPECT_NE(run.messages.find("PAGE: 1 " + std::to_string(c.sheets) + "\n"),
			std::string::npos) << run.messages;
	}
}

// What the filter cannot print ends with an ERROR: line and status 1, before any byte is sent.
TEST_F(PdfFilter, RefusesWhatItCannotPrint)
{
	std::string notPdf = fRoot.Sub("letter.txt");
	std::ofstream(notPdf) << "Dear printer,\n";
	std::string cut = fRoot.Sub("cut.pdf");
	make_pdf(cut, {kLetter});
	fs::resize_file(cut, fs::file_size(cut) / 2);
	std::string pdf = Pdf({kLetter});
	const struct {
		const char* label;
		std::string input;
		std::string copies;
		const char* error;
	} cases[] = {
		{"not a PDF", notPdf, "1", "ERROR: The PDF cannot be printed: "},
		{"a PDF cut short", cut, "1", "ERROR: The PDF cannot be printed: "},
		{"more copies than the driver makes", pdf, "40000",
			"ERROR: the driver makes at most 32767 copies, not 40000\n"},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.label);
		FilterRun run = Run(c.input, PdfCall("Resolution=75dpi", c.copies));
		// Named as the last argument too (a name the document reader would take for text).
		FilterCall named = PdfCall("Resolution=75dpi", c.copies);
		named.inputArgument = true;
		FilterRun namedRun = Run(c.input, named);
		EXPECT_EQ(namedRun.status, 1) << namedRun.messages;
		EXPECT_NE(namedRun.messages.find(c.error), std::string::npos) << namedRun.messages;
		EXPECT_TRUE(namedRun.output.empty()) << namedRun.output.size() << " bytes written";
		ASSERT_TRUE(run.exited) << run.messages;
		EXPECT_EQ(run.status, 1) << run.messages;
		EXPECT_NE(run.messages.find(c.error), std::string::npos) << run.messages;
		EXPECT_EQ(run.messages.find("PAGE:"), std::string::npos) << run.messages;
		EXPECT_TRUE(run.output.empty()) << run.output.size() << " bytes written";
		EXPECT_TRUE(fs::is_empty(TemporaryFolder()));
	}
}

// CUPS cancels with SIGTERM: the driver stops at its next band, the filter sends nothing more,
// says how far it got and ends with status 0, its private root folder gone.
TEST_F(PdfFilter, SigtermStopsTheJobAtABandAndEndsCleanly)
{
	std::string pdf = Pdf({kLetter});
	FilterRun run = Run(pdf, PdfCall("", "500"), [](pid_t filter) { kill(filter, SIGTERM); });
	ASSERT_TRUE(run.exited) << run.messages;
	EXPECT_EQ(run.status, 0) << run.messages;
	EXPECT_NE(run.messages.find("INFO: Job cancelled after 0 pages\n"), std::string::npos)
		<< run.messages;
	EXPECT_EQ(run.messages.find("ERROR:"), std::string::npos) << run.messages;
	EXPECT_EQ(run.messages.find("PAGE:"), std::string::npos) << run.messages;
	bool complete = true;
	EXPECT_LT(decode_pages(run.output, &complete).size(), 500u);
	EXPECT_FALSE(complete);
	EXPECT_TRUE(fs::is_empty(TemporaryFolder()));
}

}  // namespace
