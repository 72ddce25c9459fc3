// Documents laid out as the page setup says, printed end to end: PDFs, images and text made
// by the test are printed through the print tool to a File printer, and the PCL stream is
// decoded and placed on its sheet as the printer places it (the raster at the device model's
// raster origin) to see where the dots of each colour landed on the paper.

#include "PrintJob.h"
#include "DeviceModel.h"
#include "DocumentPrint.h"
#include "DriverAddOn.h"
#include "JobAccount.h"
#include "JobSettings.h"
#include "DriverFolders.h"
#include "PclPreview.h"
#include "Printers.h"
#include "SettingsStore.h"
#include "support/HostileDocuments.h"
#include "support/SheetFrame.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cairo-pdf.h>
#include <cairo.h>
#include <jpeglib.h>
#include <png.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace fs = std::filesystem;

namespace {

using preview::kBlackInk;
using preview::kCyanInk;
using preview::kMagentaInk;
using preview::kYellowInk;

const uint8_t kRed = kMagentaInk | kYellowInk;
const uint8_t kGreen = kCyanInk | kYellowInk;
const uint8_t kBlue = kCyanInk | kMagentaInk;
const uint8_t kCyan = kCyanInk;

struct Colour {
	double red, green, blue;
	uint8_t inks;
};

const Colour kCornerColours[4] = {
	{1, 0, 0, kRed},    // top left
	{0, 1, 0, kGreen},  // top right
	{0, 0, 1, kBlue},   // bottom left
	{0, 1, 1, kCyan},   // bottom right
};

// A square of colour on a page, in the page's own units (PDF points, image pixels).
struct Square {
	double x, y, size;
	Colour colour;
};

// The four corner squares of a page `width` x `height`, touching its edges: a cropped
// page loses one of them.
std::vector<Square> corner_squares(double width, double height, double size)
{
	return {{0, 0, size, kCornerColours[0]}, {width - size, 0, size, kCornerColours[1]},
		{0, height - size, size, kCornerColours[2]},
		{width - size, height - size, size, kCornerColours[3]}};
}

struct PdfPage {
	double width, height;
	std::vector<Square> squares;
	std::string text;  // drawn in black, bold, 48 points, at (72, 200)
};

void make_pdf(const std::string& path, const std::vector<PdfPage>& pages)
{
	cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), pages[0].width,
		pages[0].height);
	cairo_t* cairo = cairo_create(surface);
	for (const PdfPage& page : pages) {
		cairo_pdf_surface_set_size(surface, page.width, page.height);
		for (const Square& square : page.squares) {
			cairo_set_source_rgb(cairo, square.colour.red, square.colour.green,
				square.colour.blue);
			cairo_rectangle(cairo, square.x, square.y, square.size, square.size);
			cairo_fill(cairo);
		}
		if (!page.text.empty()) {
			cairo_set_source_rgb(cairo, 0, 0, 0);
			cairo_select_font_face(cairo, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
				CAIRO_FONT_WEIGHT_BOLD);
			cairo_set_font_size(cairo, 48);
			cairo_move_to(cairo, 72, 200);
			cairo_show_text(cairo, page.text.c_str());
		}
		cairo_show_page(cairo);
	}
	cairo_destroy(cairo);
	cairo_surface_finish(surface);
	ASSERT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS);
	cairo_surface_destroy(surface);
}

void make_png(const std::string& path, int width, int height, const std::vector<Square>& squares)
{
	cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
	cairo_t* cairo = cairo_create(surface);
	cairo_set_source_rgb(cairo, 1, 1, 1);
	cairo_paint(cairo);
	for (const Square& square : squares) {
		cairo_set_source_rgb(cairo, square.colour.red, square.colour.green, square.colour.blue);
		cairo_rectangle(cairo, square.x, square.y, square.size, square.size);
		cairo_fill(cairo);
	}
	cairo_destroy(cairo);
	ASSERT_EQ(cairo_surface_write_to_png(surface, path.c_str()), CAIRO_STATUS_SUCCESS);
	cairo_surface_destroy(surface);
}

// Where the paper puts a point of the content, in dots: the content scaled by `scale` dots
// per content unit and centred on the page it is laid out on (the paper, or the paper
// turned a quarter counter-clockwise, its top running up the paper's left edge).
struct Expected {
	double scale;      // dots per content unit
	bool turned;
	double width, height;  // of the content, in its units
	double paperWidth, paperHeight;  // dots

	void Map(double x, double y, double* px, double* py) const
	{
		double pageWidth = turned ? paperHeight : paperWidth;
		double pageHeight = turned ? paperWidth : paperHeight;
		double lx = (pageWidth - width * scale) / 2 + x * scale;
		double ly = (pageHeight - height * scale) / 2 + y * scale;
		*px = turned ? ly : lx;
		*py = turned ? paperHeight - lx : ly;
	}

	// The dots a square covers, as a box.
	void Box(const Square& square, double* left, double* top, double* right, double* bottom) const
	{
		double x0, y0, x1, y1;
		Map(square.x, square.y, &x0, &y0);
		Map(square.x + square.size, square.y + square.size, &x1, &y1);
		*left = std::min(x0, x1);
		*right = std::max(x0, x1);
		*top = std::min(y0, y1);
		*bottom = std::max(y0, y1);
	}
};

uint8_t ink(const preview::Page& page, int x, int y)
{
	if (x < 0 || y < 0 || x >= page.width || y >= page.rows)
		return 0;
	return page.inks[static_cast<size_t>(y) * page.width + x];
}

// Each square's colour fills the middle of where it belongs on the sheet, as far as it lies
// on the printable area (what lies left of or above the raster origin is cut), and no dot
// outside the squares carries ink (a margin of two dots allowed at their edges).
void expect_squares(const preview::Page& page, const std::vector<Square>& squares,
	const Expected& expected)
{
	device::DotOffset origin = device::raster_origin_dots(page.resolution);
	std::vector<std::array<double, 4>> boxes;
	for (const Square& square : squares) {
		double left, top, right, bottom;
		expected.Box(square, &left, &top, &right, &bottom);
		boxes.push_back({left - 2, top - 2, right + 2, bottom + 2});
		left = std::max<double>(left, origin.x);
		top = std::max<double>(top, origin.y);
		int matching = 0, total = 0;
		for (int y = static_cast<int>(top + 3); y < bottom - 3; y++) {
			for (int x = static_cast<int>(left + 3); x < right - 3; x++) {
				total++;
				matching += ink(page, x, y) == square.colour.inks;
			}
		}
		ASSERT_GT(total, 20) << "square at " << square.x << "," << square.y;
		EXPECT_GT(matching, total * 9 / 10) << "square at " << square.x << "," << square.y
			<< " expected on dots " << left << "," << top << " to " << right << "," << bottom;
	}
	int stray = 0;
	for (int y = 0; y < page.rows; y++) {
		for (int x = 0; x < page.width; x++) {
			if (ink(page, x, y) == 0)
				continue;
			bool inside = false;
			for (const auto& box : boxes)
				inside = inside || (x >= box[0] && x <= box[2] && y >= box[1] && y <= box[3]);
			if (!inside && stray++ < 3)
				ADD_FAILURE() << "ink at dot " << x << "," << y << " outside every square";
		}
	}
	EXPECT_EQ(stray, 0);
}

class DocumentPrint : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string error;
		ASSERT_TRUE(server::add_printer("Desk", "File", Output(), &error)) << error;
		// 75 dpi: a dot is a page unit, and jobs are quick.
		Settings([](BMessage* settings) {
			settings->ReplaceInt32(kXResField, 75);
			settings->ReplaceInt32(kYResField, 75);
			settings->ReplaceInt8(kQualityTypeField, 2);
		});
	}

	void Settings(const std::function<void(BMessage*)>& change)
	{
		BMessage settings;
		std::string error;
		ASSERT_TRUE(server::load_settings("Desk", &settings, &error)) << error;
		change(&settings);
		ASSERT_TRUE(server::save_settings("Desk", settings, &error)) << error;
	}

	std::string Output() const { return fRoot.Sub("out.pcl"); }

	// Prints through the built tool, as a user does; the decoded pages on their sheets, or
	// none when the tool fails (its exit status and standard error kept).
	std::vector<preview::Page> Print(const std::string& arguments)
	{
		std::string errorsPath = fRoot.Sub("stderr.txt");
		std::string command = std::string(TESSARY_BUILD_DIR) + "/server/tessary print Desk "
			+ arguments + " >/dev/null 2>" + errorsPath;
		int status = system(command.c_str());
		fStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
		std::ifstream errors(errorsPath);
		fErrors.assign(std::istreambuf_iterator<char>(errors), std::istreambuf_iterator<char>());
		std::vector<preview::Page> pages;
		if (fStatus != 0)
			return pages;
		std::ifstream file(Output(), std::ios::binary);
		std::vector<uint8_t> stream((std::istreambuf_iterator<char>(file)),
			std::istreambuf_iterator<char>());
		preview::DecodeError error;
		EXPECT_TRUE(preview::decode_stream(stream.data(), stream.size(),
			[&](const preview::Page& page, std::string*) {
				preview::Sheet sheet = preview::sheet_for(page);
				EXPECT_EQ(sheet.paper, fPaper);
				pages.push_back(preview::on_sheet(page, sheet));
				return true;
			}, &error)) << error.message;
		return pages;
	}

	TempRoot fRoot;
	std::string fPaper = "US Letter";  // the paper the pages are printed on
	int fStatus = -1;
	std::string fErrors;
};

// Letter paper at 75 dpi, in dots of the sheet.
const double kPaperWidth = 637.5;
const double kPaperHeight = 825;
// Dots per PDF point at 75 dpi.
const double kPoint = 75.0 / 72;

struct LayoutCase {
	const char* name;
	double width, height;    // of the PDF page, in points
	bool landscape;          // page setup
	float scaling;           // page setup, percent
	bool noRotate;
	double scale;            // expected fraction of the natural size
	bool turned;             // expected
};

class PdfLayout : public DocumentPrint, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(PdfLayout, CornersLandWhereThePageSetupPutsThem)
{
	const LayoutCase& c = GetParam();
	std::vector<Square> squares = corner_squares(c.width, c.height, 60);
	std::string pdf = fRoot.Sub("page.pdf");
	make_pdf(pdf, {{c.width, c.height, squares, ""}});
	Settings([&](BMessage* settings) {
		settings->ReplaceInt8(kLayoutField, c.landscape ? 1 : 0);
		settings->ReplaceFloat(kScalingField, c.scaling);
	});
	std::vector<preview::Page> pages = Print(pdf + (c.noRotate ? " --no-rotate" : ""));
	ASSERT_EQ(fStatus, 0) << fErrors;
	ASSERT_EQ(pages.size(), 1u);
	Expected expected{c.scale * kPoint, c.turned, c.width, c.height, kPaperWidth, kPaperHeight};
	expect_squares(pages[0], squares, expected);
}

// Scales worked out by hand from the paper (612 x 792 points) and the page.
INSTANTIATE_TEST_SUITE_P(PageSetup, PdfLayout, ::testing::Values(
	LayoutCase{"LetterAtNaturalSize", 612, 792, false, 100, false, 1, false},
	LayoutCase{"SmallPageCentred", 300, 200 * 1.5, false, 100, false, 1, false},
	// 792 / 841.89: shrunk to the paper's height, centred across
	LayoutCase{"A4ShrunkToFit", 595.28, 841.89, false, 100, false, 0.940741, false},
	LayoutCase{"WidePageTurned", 792, 612, false, 100, false, 1, true},
	// 612 / 792 across the paper
	LayoutCase{"WidePageNotTurnedWhenAsked", 792, 612, false, 100, true, 0.772727, false},
	// the paper turned: a Letter page shrunk to 612 / 792 of the turned page's height
	LayoutCase{"LandscapeSetupTurnsAPortraitPage", 612, 792, true, 100, false, 0.772727,
		true},
	LayoutCase{"ScalingHalvesTheNaturalSize", 612, 792, false, 50, false, 0.5, false},
	LayoutCase{"ScalingAppliesAfterShrinking", 595.28, 841.89, false, 50, false, 0.470370,
		false}),
	[](const ::testing::TestParamInfo<LayoutCase>& param) { return param.param.name; });

TEST_F(DocumentPrint, WidePhotoIsTurnedAtItsNaturalSize)
{
	// 300 x 150 pixels at 72 per inch: 312.5 x 156.25 dots at 75 dpi.
	std::vector<Square> squares = corner_squares(300, 150, 40);
	std::string png = fRoot.Sub("photo.png");
	make_png(png, 300, 150, squares);
	std::vector<preview::Page> pages = Print(png);
	ASSERT_EQ(fStatus, 0) << fErrors;
	ASSERT_EQ(pages.size(), 1u);
	expect_squares(pages[0], squares, Expected{kPoint, true, 300, 150, kPaperWidth,
		kPaperHeight});
}

// An image of the kinds a camera, a scanner or a drawing program writes, 75 pixels per inch,
// white with coloured squares (transparent where `alpha`, on the paper's white).
enum class ImageKind { rgb8, rgba8, rgb16, palette, grey, interlaced, jpeg };

void make_image(const std::string& path, ImageKind kind, int width, int height,
	const std::vector<Square>& squares)
{
	auto colour_at = [&](int x, int y, uint8_t rgba[4]) {
		rgba[0] = rgba[1] = rgba[2] = 255;
		rgba[3] = kind == ImageKind::rgba8 ? 0 : 255;
		for (const Square& square : squares) {
			if (x >= square.x && x < square.x + square.size && y >= square.y
				&& y < square.y + square.size) {
				rgba[0] = static_cast<uint8_t>(square.colour.red * 255);
				rgba[1] = static_cast<uint8_t>(square.colour.green * 255);
				rgba[2] = static_cast<uint8_t>(square.colour.blue * 255);
				rgba[3] = 255;
			}
		}
	};
	FILE* file = fopen(path.c_str(), "wb");
	ASSERT_NE(file, nullptr);
	if (kind == ImageKind::jpeg) {
		jpeg_compress_struct info;
		jpeg_error_mgr errors;
		info.err = jpeg_std_error(&errors);
		jpeg_create_compress(&info);
		jpeg_stdio_dest(&info, file);
		info.image_width = width;
		info.image_height = height;
		info.input_components = 3;
		info.in_color_space = JCS_RGB;
		jpeg_set_defaults(&info);
		jpeg_set_quality(&info, 100, TRUE);
		info.density_unit = 1;
		info.X_density = info.Y_density = 75;
		jpeg_start_compress(&info, TRUE);
		std::vector<uint8_t> row(width * 3);
		for (int y = 0; y < height; y++) {
			for (int x = 0; x < width; x++) {
				uint8_t rgba[4];
				colour_at(x, y, rgba);
				memcpy(&row[x * 3], rgba, 3);
			}
			JSAMPROW rows[1] = {row.data()};
			jpeg_write_scanlines(&info, rows, 1);
		}
		jpeg_finish_compress(&info);
		jpeg_destroy_compress(&info);
		fclose(file);
		return;
	}
	png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
	png_infop info = png_create_info_struct(png);
	png_init_io(png, file);
	int type = kind == ImageKind::rgba8 ? PNG_COLOR_TYPE_RGBA
		: kind == ImageKind::palette ? PNG_COLOR_TYPE_PALETTE
		: kind == ImageKind::grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB;
	int depth = kind == ImageKind::rgb16 ? 16 : 8;
	png_set_IHDR(png, info, width, height, depth, type,
		kind == ImageKind::interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
		PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
	png_set_pHYs(png, info, 2953, 2953, PNG_RESOLUTION_METER);  // 75 per inch
	std::vector<png_color> palette;
	if (kind == ImageKind::palette) {
		palette.push_back({255, 255, 255});
		for (const Square& square : squares) {
			palette.push_back({static_cast<png_byte>(square.colour.red * 255),
				static_cast<png_byte>(square.colour.green * 255),
				static_cast<png_byte>(square.colour.blue * 255)});
		}
		png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
	}
	png_write_info(png, info);
	int channels = type == PNG_COLOR_TYPE_RGBA ? 4 : type == PNG_COLOR_TYPE_RGB ? 3 : 1;
	size_t rowBytes = static_cast<size_t>(width) * channels * depth / 8;
	std::vector<uint8_t> image(rowBytes * height);
	for (int y = 0; y < height; y++) {
		uint8_t* row = &image[rowBytes * y];
		for (int x = 0; x < width; x++) {
			uint8_t rgba[4];
			colour_at(x, y, rgba);
			if (kind == ImageKind::palette) {
				row[x] = 0;
				for (size_t i = 1; i < palette.size(); i++) {
					if (palette[i].red == rgba[0] && palette[i].green == rgba[1]
						&& palette[i].blue == rgba[2])
						row[x] = static_cast<uint8_t>(i);
				}
			} else if (kind == ImageKind::grey) {
				row[x] = rgba[1];
			} else if (depth == 16) {
				for (int c = 0; c < 3; c++)
					row[(x * 3 + c) * 2] = row[(x * 3 + c) * 2 + 1] = rgba[c];
			} else {
				memcpy(row + x * channels, rgba, channels);
			}
		}
	}
	std::vector<png_bytep> rows(height);
	for (int y = 0; y < height; y++)
		rows[y] = &image[rowBytes * y];
	png_write_image(png, rows.data());
	png_write_end(png, nullptr);
	png_destroy_write_struct(&png, &info);
	fclose(file);
}

TEST_F(DocumentPrint, ImagesAtTheJobsResolutionPrintOnePixelToADot)
{
	// 120 x 200 pixels at 75 per inch on Letter at 75 dpi: centred, the image's top left
	// pixel on dot (259, 313), each pixel on a dot of its own.
	const int width = 120, height = 200;
	const int left = 259, top = 313;
	const Colour black{0, 0, 0, kBlackInk};
	struct Case {
		ImageKind kind;
		const char* name;
		bool exact;  // lossless: every square's edge on its own dot
	};
	for (const Case& c : {Case{ImageKind::rgb8, "RGB", true},
			 Case{ImageKind::rgba8, "RGB with alpha", true},
			 Case{ImageKind::rgb16, "16-bit RGB", true},
			 Case{ImageKind::palette, "palette", true},
			 Case{ImageKind::interlaced, "interlaced", true},
			 Case{ImageKind::grey, "grey", true},
			 Case{ImageKind::jpeg, "JPEG", false}}) {
		SCOPED_TRACE(c.name);
		std::vector<Square> squares = c.kind == ImageKind::grey
			? std::vector<Square>{{0, 0, 30, black}, {90, 170, 30, black}, {40, 90, 25, black}}
			: corner_squares(width, height, 30);
		if (c.kind != ImageKind::grey)
			squares.push_back({40, 90, 25, black});
		std::string path = fRoot.Sub(c.kind == ImageKind::jpeg ? "image.jpg" : "image.png");
		make_image(path, c.kind, width, height, squares);
		std::vector<preview::Page> pages = Print(path);
		ASSERT_EQ(fStatus, 0) << fErrors;
		ASSERT_EQ(pages.size(), 1u);
		const preview::Page& page = pages[0];
		if (!c.exact) {
			expect_squares(page, squares, Expected{1, false, width, height, kPaperWidth,
				kPaperHeight});
			continue;
		}
		// Every dot of the image is the colour of its pixel: the squares' inks inside them,
		// no ink on the white around them, nor on the paper beyond the image.
		int wrong = 0;
		for (int y = 0; y < page.rows; y++) {
			for (int x = 0; x < page.width; x++) {
				uint8_t expected = 0;
				for (const Square& square : squares) {
					int sx = left + static_cast<int>(square.x);
					int sy = top + static_cast<int>(square.y);
					int size = static_cast<int>(square.size);
					if (x >= sx && x < sx + size && y >= sy && y < sy + size)
						expected = square.colour.inks;
				}
				if (ink(page, x, y) != expected && wrong++ < 3) {
					ADD_FAILURE() << "dot " << x << "," << y << " has inks "
						<< int(ink(page, x, y)) << ", expected " << int(expected);
				}
			}
		}
		EXPECT_EQ(wrong, 0);
	}

}

TEST_F(DocumentPrint, PagesPrintAsTheRestAreSpooledAndGiveTheBytesOfTheirSpoolFile)
{
	// Page k goes to the printer while page k + 1 is spooled: the stream is still exactly
	// what the finished spool file prints.
	std::string text = fRoot.Sub("three.txt");
	std::ofstream(text) << "one\ftwo\fthree";
	std::string image = fRoot.Sub("tall.png");
	make_image(image, ImageKind::rgb8, 120, 200, corner_squares(120, 200, 30));
	std::string pdf = fRoot.Sub("two.pdf");
	make_pdf(pdf, {{612, 792, corner_squares(612, 792, 100), ""}, {595.28, 841.89, {}, "A4"}});
	std::string documents = text + " " + image + " " + pdf;
	ASSERT_EQ(Print(documents).size(), 6u) << fErrors;
	std::ifstream printed(Output(), std::ios::binary);
	std::string direct((std::istreambuf_iterator<char>(printed)), std::istreambuf_iterator<char>());

	std::string spool = fRoot.Sub("job.spool");
	std::string command = std::string(TESSARY_BUILD_DIR) + "/server/tessary spool --printer Desk -o "
		+ spool + " " + documents + " >/dev/null";
	ASSERT_EQ(system(command.c_str()), 0);
	ASSERT_EQ(Print("--spool " + spool).size(), 6u) << fErrors;
	std::ifstream again(Output(), std::ios::binary);
	std::string spooled((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
	EXPECT_TRUE(direct == spooled) << direct.size() << " bytes printed as spooled, "
		<< spooled.size() << " from the spool file";

	// A document that fails while it is spooled ends the job after the pages before it: one
	// line says how far it got and why, the last good output stays, and the broken spool
	// file goes.
	std::string cut = fRoot.Sub("cut.png");
	make_image(cut, ImageKind::rgb8, 120, 200, {});
	fs::resize_file(cut, fs::file_size(cut) / 2);
	// The File printer's target is replaced by a whole job alone: the line says that the
	// pages before the damage were not written either.
	Print(text + " " + cut);
	EXPECT_EQ(fStatus, 1);
	EXPECT_EQ(fErrors.rfind("tessary: not printed: " + cut + ": damaged PNG image", 0), 0u)
		<< fErrors;
	EXPECT_NE(fErrors.find("(3 whole pages were not written to " + Output()
		+ ", which is as it was)\n"), std::string::npos) << fErrors;
	// (The leak checker of a sanitizer build may add its own report of suppressed leaks.)
	std::string said = fErrors.substr(0, fErrors.find("-----"));
	EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << fErrors;
	std::ifstream kept(Output(), std::ios::binary);
	EXPECT_TRUE(std::string((std::istreambuf_iterator<char>(kept)),
		std::istreambuf_iterator<char>()) == spooled);
	for (const auto& entry : fs::directory_iterator(frontend::printer_folder("Desk")))
		EXPECT_NE(entry.path().extension(), ".spool") << entry.path();
}

// A way in that reports pages as they print is told of each page as the driver begins it, in
// order, and never of a page after the last.
TEST_F(DocumentPrint, TheDriverTellsEachPageAsItBeginsIt)
{
	std::string text = fRoot.Sub("three.txt");
	std::ofstream(text) << "one\ftwo\fthree";
	std::string error;
	frontend::DriverAddOn driver;
	ASSERT_TRUE(driver.Load(&error)) << error;
	frontend::ReaderRequest reading;
	reading.documents = {text};
	ASSERT_TRUE(server::load_settings("Desk", &reading.settings, &error)) << error;
	reading.spoolPath = fRoot.Sub("told.spool");
	frontend::DocumentJob job;
	job.folder = frontend::printer_folder("Desk");
	job.jobName = "told";
	std::vector<int32> told;
	job.pageBegun = [&told](int32 page) {
		if (told.empty() || told.back() != page)
			told.push_back(page);
	};
	frontend::DocumentJobResult result;
	ASSERT_TRUE(frontend::print_documents(&driver, reading, job, &result, &error)) << error;
	EXPECT_TRUE(result.account.Printed()) << describe_account(result.account);
	EXPECT_EQ(told, (std::vector<int32>{0, 1, 2}));
}

TEST_F(DocumentPrint, PageRangeSelectsPagesOfThePdf)
{
	std::vector<PdfPage> pdfPages;
	for (int i = 0; i < 4; i++)
		pdfPages.push_back({612, 792, {{200, 300, 150, kCornerColours[i]}}, ""});
	std::string pdf = fRoot.Sub("four.pdf");
	make_pdf(pdf, pdfPages);
	Settings([](BMessage* settings) {
		settings->ReplaceInt32(kFirstPageField, 2);
		settings->ReplaceInt32(kLastPageField, 3);
	});
	std::vector<preview::Page> pages = Print(pdf);
	ASSERT_EQ(fStatus, 0) << fErrors;
	ASSERT_EQ(pages.size(), 2u);
	Expected natural{kPoint, false, 612, 792, kPaperWidth, kPaperHeight};
	expect_squares(pages[0], pdfPages[1].squares, natural);
	expect_squares(pages[1], pdfPages[2].squares, natural);
}

TEST_F(DocumentPrint, PdfTextAt75DpiHasSolidGlyphsAndNoStrayDots)
{
	std::string pdf = fRoot.Sub("text.pdf");
	make_pdf(pdf, {{612, 792, {}, "HILT"}});
	std::vector<preview::Page> pages = Print(pdf);
	ASSERT_EQ(fStatus, 0) << fErrors;
	ASSERT_EQ(pages.size(), 1u);
	const preview::Page& page = pages[0];

	// The glyphs sit right of x = 72 points on the baseline at 200 points, 48 points high.
	// Their dots are solid: grey edge pixels would be dithered into lone dots and one-dot
	// gaps around them.
	int inked = 0, outside = 0, lone = 0, gaps = 0;
	for (int y = 0; y < page.rows; y++) {
		for (int x = 0; x < page.width; x++) {
			bool across = ink(page, x - 1, y) != 0 && ink(page, x + 1, y) != 0;
			bool down = ink(page, x, y - 1) != 0 && ink(page, x, y + 1) != 0;
			if (ink(page, x, y) == 0) {
				gaps += across || down;
				continue;
			}
			inked++;
			outside += !(x >= 72 * kPoint - 3 && x <= 400 * kPoint && y >= 150 * kPoint
				&& y <= 215 * kPoint);
			bool neighbour = false;
			for (int dy = -1; dy <= 1; dy++)
				for (int dx = -1; dx <= 1; dx++)
					neighbour = neighbour || ((dx || dy) && ink(page, x + dx, y + dy) != 0);
			lone += !neighbour;
		}
	}
	EXPECT_GT(inked, 500);
	EXPECT_EQ(outside, 0);
	EXPECT_EQ(lone, 0);
	EXPECT_EQ(gaps, 0);
}

// A PDF whose trailer names a standard security handler whose user password is not empty.
std::string encrypted_pdf()
{
	std::vector<std::string> objects = {
		"<< /Type /Catalog /Pages 2 0 R >>",
		"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
		"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>",
		"<< /Filter /Standard /V 1 /R 2 /P -4 /O <" + std::string(64, 'a') + "> /U <"
			+ std::string(64, 'b') + "> >>",
	};
	return pdf_of_objects(objects, " /Encrypt 4 0 R /ID [<" + std::string(32, '1') + "> <"
		+ std::string(32, '1') + ">]");
}

TEST_F(DocumentPrint, UnreadablePdfsRefuseTheWholeJobWithTheirReason)
{
	// A readable document first: the job is refused as a whole, before the printer is
	// reached.
	std::string good = fRoot.Sub("good.pdf");
	make_pdf(good, {{612, 792, {{0, 0, 50, kCornerColours[0]}}, ""}});
	struct Bad {
		const char* name;
		std::string contents;
		const char* reason;
	};
	const Bad bad[] = {
		{"damaged.pdf", "%PDF-1.4\n1 0 obj\n<< /Type /Catalog\ngarbage\n", "damaged"},
		{"locked.pdf", encrypted_pdf(), "encrypted"},
		{"scrambled.pdf", std::string("\x01\x02 no kind at all \0\x03", 20),
			"not a document the tool can print (PDF, PNG, JPEG or plain text), though its "
			"name says PDF"},
	};
	for (const Bad& file : bad) {
		std::string path = fRoot.Sub(file.name);
		std::ofstream(path, std::ios::binary) << file.contents;
		fs::remove(Output());
		Print(good + " " + path);
		EXPECT_EQ(fStatus, 1) << file.name;
		EXPECT_EQ(std::count(fErrors.begin(), fErrors.end(), '\n'), 1) << fErrors;
		EXPECT_EQ(fErrors.rfind("tessary: " + path, 0), 0u) << fErrors;
		EXPECT_NE(fErrors.find(file.reason), std::string::npos) << fErrors;
		EXPECT_FALSE(fs::exists(Output())) << file.name;
	}
}

// A document is read as the kind its contents say, whatever its name says; its name is
// mentioned only when the contents are of no kind the tool reads.
TEST_F(DocumentPrint, DocumentsAreReadAsTheirContentsSayWhateverTheirNames)
{
	std::vector<Square> squares = {{200, 300, 150, kCornerColours[1]}};
	std::string pdfNamedText = fRoot.Sub("report.txt");
	make_pdf(pdfNamedText, {{612, 792, squares, ""}});
	std::vector<preview::Page> pages = Print(pdfNamedText);
	ASSERT_EQ(fStatus, 0) << fErrors;
	ASSERT_EQ(pages.size(), 1u);
	expect_squares(pages[0], squares, Expected{kPoint, false, 612, 792, kPaperWidth,
		kPaperHeight});

	std::vector<Square> imageSquares = corner_squares(120, 200, 30);
	std::string pngNamedJpeg = fRoot.Sub("photo.jpg");
	make_image(pngNamedJpeg, ImageKind::rgb8, 120, 200, imageSquares);
	pages = Print(pngNamedJpeg);
	ASSERT_EQ(fStatus, 0) << fErrors;
	ASSERT_EQ(pages.size(), 1u);
	expect_squares(pages[0], imageSquares, Expected{1, false, 120, 200, kPaperWidth,
		kPaperHeight});

	// Notes named as a PDF are notes: a page of text, in black.
	std::string notes = fRoot.Sub("notes.pdf");
	std::ofstream(notes) << "just some notes, not a PDF\n";
	pages = Print(notes);
	ASSERT_EQ(fStatus, 0) << fErrors;
	ASSERT_EQ(pages.size(), 1u);
	EXPECT_NE(std::count(pages[0].inks.begin(), pages[0].inks.end(), uint8_t(kBlackInk)), 0);

	struct Refused {
		const char* name;
		std::string contents;
		const char* line;  // after "tessary: PATH: "
	};
	const Refused refused[] = {
		{"empty.jpg", "", "the file is empty, though its name says JPEG"},
		{"empty", "", "the file is empty"},
		{"data.txt", std::string("\0\1\2", 3), "not a document the tool can print (PDF, "
			"PNG, JPEG or plain text), though its name says plain text"},
		{"data.bin", std::string("\0\1\2", 3),
			"not a document the tool can print (PDF, PNG, JPEG or plain text)"},
	};
	for (const Refused& file : refused) {
		SCOPED_TRACE(file.name);
		std::string path = fRoot.Sub(file.name);
		std::ofstream(path, std::ios::binary) << file.contents;
		Print(path);
		EXPECT_EQ(fStatus, 1);
		std::string said = fErrors.substr(0, fErrors.find("-----"));
		EXPECT_EQ(said, "tessary: " + path + ": " + file.line + "\n");
	}
}

TEST_F(DocumentPrint, APdfThatEndsItsReaderEndsTheJobAndLeavesNothingBehind)
{
	std::string path = fRoot.Sub("report.pdf");
	std::ofstream(path, std::ios::binary) << bogus_image_pdf();
	std::ofstream(Output(), std::ios::binary) << "the last job";
	Print(path);
	EXPECT_EQ(fStatus, 1);
	EXPECT_EQ(fErrors, "tessary: not printed: " + path + ": the PDF reader stopped: Bogus "
		"memory allocation size; it was ended by signal 6 (Aborted) (" + Output()
		+ " is as it was)\n");
	std::ifstream target(Output(), std::ios::binary);
	EXPECT_EQ(std::string(std::istreambuf_iterator<char>(target),
		std::istreambuf_iterator<char>()), "the last job");
	// No hidden partial file beside the target, no spool file in the printer's folder.
	for (const fs::directory_entry& entry : fs::directory_iterator(fRoot.Sub("")))
		EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos);
	for (const fs::directory_entry& entry : fs::directory_iterator(
			frontend::printer_folder("Desk")))
		EXPECT_NE(entry.path().extension(), ".spool") << entry.path();
}

TEST_F(DocumentPrint, TextReflowsOnTurnedAndScaledPaper)
{
	std::string text = fRoot.Sub("long.txt");
	{
		std::ofstream file(text);
		for (int i = 1; i <= 120; i++)
			file << "line " << i << "\n";
	}
	auto pages_with = [&](int8 layout, float scaling) {
		Settings([&](BMessage* settings) {
			settings->ReplaceInt8(kLayoutField, layout);
			settings->ReplaceFloat(kScalingField, scaling);
		});
		std::vector<preview::Page> pages = Print(text);
		EXPECT_EQ(fStatus, 0) << fErrors;
		return pages.size();
	};
	size_t portrait = pages_with(0, 100);
	size_t landscape = pages_with(1, 100);
	size_t landscapeHalf = pages_with(1, 50);
	// The turned page has room for fewer lines; at 50% for twice as many.
	EXPECT_GT(landscape, portrait);
	EXPECT_LT(landscapeHalf, landscape);
	EXPECT_GE(portrait, 2u);
}

// A PDF page with a frame half an inch inside its edges, printed at 300 dpi on its own paper:
// the frame lands on the sheet where the page has it, within a dot, and whole; the sheet's
// unprintable margins hold nothing of it.
TEST_F(DocumentPrint, AFrameHalfAnInchInsideTheEdgesLandsThereOnLetterAndA4)
{
	struct Case {
		const char* paper;
		double width, height;  // points
		float inchesWide, inchesHigh;  // as the page setup keeps them
	};
	for (const Case& c : {Case{"US Letter", 612, 792, 8.5f, 11.0f},
			 Case{"A4", 595, 842, 8.264f, 11.694f}}) {
		SCOPED_TRACE(c.paper);
		std::string pdf = fRoot.Sub("frame.pdf");
		ASSERT_TRUE(write_frame_pdf(pdf, c.width, c.height));
		Settings([&](BMessage* settings) {
			settings->ReplaceInt32(kXResField, 300);
			settings->ReplaceInt32(kYResField, 300);
			settings->ReplaceInt8(kQualityTypeField, 0);
			BRect paper(0, 0, device::units_of_inches(c.inchesWide),
				device::units_of_inches(c.inchesHigh));
			settings->ReplaceRect(kPaperRectField, paper);
			settings->ReplaceRect(kPrintableRectField, paper);
		});
		fPaper = c.paper;
		std::vector<preview::Page> sheets = Print(pdf);
		ASSERT_EQ(fStatus, 0) << fErrors;
		ASSERT_EQ(sheets.size(), 1u);
		EXPECT_EQ(sheets[0].resolution, 300);
		expect_frame(sheets[0], c.width, c.height);
	}
}

// The test page marks the printable area's corner on the sheet, portrait or turned: an L
// whose legs, half an inch each, run along the top and left edges of the printable area from
// the raster origin, where the printer's first dot lies: its first row and column are
// inked along the legs (but for the corner's own two dots, where the aliased pen may leave
// the corner square or round).

TEST_F(DocumentPrint, TheTestPageMarksWhereThePrintableAreaBegins)
{
	Settings([](BMessage* settings) {
		settings->ReplaceInt32(kXResField, 300);
		settings->ReplaceInt32(kYResField, 300);
		settings->ReplaceInt8(kQualityTypeField, 0);
	});
	device::DotOffset origin = device::raster_origin_dots(300);
	for (int8 layout : {0, 1}) {
		SCOPED_TRACE(layout == 0 ? "portrait" : "landscape");
		Settings([&](BMessage* settings) { settings->ReplaceInt8(kLayoutField, layout); });
		std::vector<preview::Page> sheets = Print("");
		ASSERT_EQ(fStatus, 0) << fErrors;
		ASSERT_EQ(sheets.size(), 1u);
		const preview::Page& sheet = sheets[0];
		int gaps = 0;
		for (int along = 2; along < 150 - 2; along++) {
			gaps += ink(sheet, origin.x + along, origin.y) != kBlackInk;
			gaps += ink(sheet, origin.x, origin.y + along) != kBlackInk;
		}
		EXPECT_EQ(gaps, 0);
		// The legs end half an inch from the corner.
		EXPECT_EQ(ink(sheet, origin.x + 160, origin.y), 0);
		EXPECT_EQ(ink(sheet, origin.x, origin.y + 160), 0);
	}
}

// Peak resident memory of one run of the print tool, in kilobytes; -1 when it fails. A
// sanitizer build keeps no freed memory aside for the run, so what it holds is what the
// tool holds.
long peak_kilobytes(const std::vector<std::string>& arguments)
{
	std::string tool = std::string(TESSARY_BUILD_DIR) + "/server/tessary";
	std::vector<char*> argv;
	argv.push_back(const_cast<char*>(tool.c_str()));
	for (const std::string& argument : arguments)
		argv.push_back(const_cast<char*>(argument.c_str()));
	argv.push_back(nullptr);
	std::vector<std::string> environment;
	for (char** variable = environ; *variable != nullptr; variable++) {
		if (strncmp(*variable, "ASAN_OPTIONS=", 13) != 0)
			environment.push_back(*variable);
	}
	environment.push_back("ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=0");
	std::vector<char*> envp;
	for (std::string& variable : environment)
		envp.push_back(variable.data());
	envp.push_back(nullptr);

	pid_t child = fork();
	if (child == 0) {
		int null = open("/dev/null", O_WRONLY);
		dup2(null, STDOUT_FILENO);
		dup2(null, STDERR_FILENO);
		execve(tool.c_str(), argv.data(), envp.data());
		_exit(127);
	}
	int status = 0;
	rusage usage = {};
	if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)
		|| WEXITSTATUS(status) != 0)
		return -1;
	return usage.ru_maxrss;
}

TEST_F(DocumentPrint, MemoryStaysFlatOverAHundredPagePdf)
{
	auto make = [&](const std::string& path, int count) {
		std::vector<PdfPage> pages;
		for (int i = 0; i < count; i++)
			pages.push_back({612, 792, {{100, 100.0 + i * 5, 300, kCornerColours[i % 4]}}, ""});
		make_pdf(path, pages);
	};
	std::string few = fRoot.Sub("few.pdf");
	std::string many = fRoot.Sub("many.pdf");
	make(few, 5);
	make(many, 100);
	long fewPeak = peak_kilobytes({"print", "Desk", few});
	long manyPeak = peak_kilobytes({"print", "Desk", many});
	ASSERT_GT(fewPeak, 0);
	ASSERT_GT(manyPeak, 0);
	// A page costs about a megabyte here: a hundred pages held would show as a hundred.
	EXPECT_LT(manyPeak - fewPeak, 30 * 1024) << fewPeak << " kB for 5 pages, " << manyPeak
		<< " kB for 100";
	std::ifstream file(Output(), std::ios::binary);
	std::vector<uint8_t> stream((std::istreambuf_iterator<char>(file)),
		std::istreambuf_iterator<char>());
	int pages = 0;
	preview::DecodeError error;
	EXPECT_TRUE(preview::decode_stream(stream.data(), stream.size(),
		[&](const preview::Page&, std::string*) { return ++pages > 0; }, &error));
	EXPECT_EQ(pages, 100);
}

}  // namespace
