// Damaged images end the job; they never print as if whole. PNG and JPEG files made by the
// test are cut short at many lengths or spoilt inside their pixel data and printed through
// the print tool's own code to a File printer that holds an earlier print: each job fails
// with the library's reason, and the printer's file stays as it was. The oddities real
// cameras and programs write still print.

#include "DriverFolders.h"
#include "JobSettings.h"
#include "PrintJob.h"
#include "Printers.h"
#include "SettingsStore.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <jpeglib.h>
#include <png.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// The picture of every test image: smooth ramps and a chequer, so that the compressed data
// is more than a few bytes of flat colour.
void test_pixel(int x, int y, uint8_t rgb[3])
{
	rgb[0] = static_cast<uint8_t>(x * 5);
	rgb[1] = static_cast<uint8_t>(y * 4);
	rgb[2] = ((x / 8 + y / 8) & 1) != 0 ? 220 : 30;
}

struct JpegMaking {
	int width = 48;
	int height = 64;
	bool progressive = false;
	int restartRows = 0;      // a restart marker after every so many rows of blocks
	int adobeTransform = -1;  // an Adobe marker with this colour transform, and no JFIF one
};

// 75 pixels per inch (when JFIF says so): one pixel to a dot at the job's resolution.
std::string make_jpeg(const JpegMaking& making)
{
	jpeg_compress_struct info;
	jpeg_error_mgr errors;
	info.err = jpeg_std_error(&errors);
	jpeg_create_compress(&info);
	unsigned char* buffer = nullptr;
	unsigned long size = 0;
	jpeg_mem_dest(&info, &buffer, &size);
	info.image_width = making.width;
	info.image_height = making.height;
	info.input_components = 3;
	info.in_color_space = JCS_RGB;
	jpeg_set_defaults(&info);
	jpeg_set_quality(&info, 90, TRUE);
	if (making.progressive)
		jpeg_simple_progression(&info);
	info.restart_in_rows = making.restartRows;
	info.density_unit = 1;
	info.X_density = info.Y_density = 75;
	info.write_JFIF_header = making.adobeTransform < 0;
	jpeg_start_compress(&info, TRUE);
	if (making.adobeTransform >= 0) {
		// "Adobe", version 100, two flag words, the transform.
		const JOCTET adobe[12] = {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0,
			static_cast<JOCTET>(making.adobeTransform)};
		jpeg_write_marker(&info, JPEG_APP0 + 14, adobe, sizeof(adobe));
	}
	std::vector<uint8_t> row(making.width * 3);
	for (int y = 0; y < making.height; y++) {
		for (int x = 0; x < making.width; x++)
			test_pixel(x, y, &row[x * 3]);
		JSAMPROW rows[1] = {row.data()};
		jpeg_write_scanlines(&info, rows, 1);
	}
	jpeg_finish_compress(&info);
	jpeg_destroy_compress(&info);
	std::string bytes(reinterpret_cast<char*>(buffer), size);
	free(buffer);
	return bytes;
}

void append_png_bytes(png_structp png, png_bytep data, size_t length)
{
	static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data),
		length);
}

void flush_nothing(png_structp) {}

std::string make_png(int width, int height, bool interlaced)
{
	std::string bytes;
	png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
	png_infop info = png_create_info_struct(png);
	png_set_write_fn(png, &bytes, append_png_bytes, flush_nothing);
	png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB,
		interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
		PNG_FILTER_TYPE_DEFAULT);
	png_set_pHYs(png, info, 2953, 2953, PNG_RESOLUTION_METER);  // 75 per inch
	png_write_info(png, info);
	std::vector<uint8_t> image(static_cast<size_t>(width) * height * 3);
	std::vector<png_bytep> rows(height);
	for (int y = 0; y < height; y++) {
		rows[y] = &image[static_cast<size_t>(width) * 3 * y];
		for (int x = 0; x < width; x++)
			test_pixel(x, y, rows[y] + x * 3);
	}
	png_write_image(png, rows.data());
	png_write_end(png, nullptr);
	png_destroy_write_struct(&png, &info);
	return bytes;
}

uint32_t big_endian(const std::string& bytes, size_t at)
{
	uint32_t value = 0;
	for (size_t i = 0; i < 4; i++)
		value = value << 8 | static_cast<uint8_t>(bytes.at(at + i));
	return value;
}

// Where the chunk of `type` starts (its length field), and how much data it holds.
size_t png_chunk(const std::string& bytes, const char* type, uint32_t* length)
{
	for (size_t at = 8; at + 8 <= bytes.size(); at += 12 + big_endian(bytes, at)) {
		if (bytes.compare(at + 4, 4, type) == 0) {
			*length = big_endian(bytes, at);
			return at;
		}
	}
	ADD_FAILURE() << "no " << type << " chunk";
	return 0;
}

// The entropy-coded data of each scan: from the end of its SOS segment to the next marker
// that is neither a stuffed 0xff nor a restart marker.
struct Scan {
	size_t header;  // the SOS marker
	size_t start, end;
};

std::vector<Scan> jpeg_scans(const std::string& bytes)
{
	std::vector<Scan> scans;
	auto byte = [&](size_t at) { return static_cast<uint8_t>(bytes.at(at)); };
	size_t at = 2;
	while (at + 4 <= bytes.size() && byte(at) == 0xff && byte(at + 1) != 0xd9) {
		size_t length = byte(at + 2) << 8 | byte(at + 3);
		if (byte(at + 1) != 0xda) {
			at += 2 + length;
			continue;
		}
		Scan scan{at, at + 2 + length, at + 2 + length};
		while (scan.end + 1 < bytes.size() && !(byte(scan.end) == 0xff
				   && byte(scan.end + 1) != 0 && (byte(scan.end + 1) & 0xf8) != 0xd0))
			scan.end++;
		scans.push_back(scan);
		at = scan.end;
	}
	EXPECT_FALSE(scans.empty()) << "no scan in the JPEG";
	return scans;
}

struct Spoilt {
	std::string how;
	std::string bytes;
};

// The file cut at `steps` lengths evenly through what follows `start` (the first byte of
// pixel data), and a few bytes short of its end, where only the end marker or chunk goes.
std::vector<Spoilt> cut_short(const std::string& bytes, size_t start, size_t steps)
{
	std::set<size_t> lengths;
	for (size_t i = 0; i < steps; i++)
		lengths.insert(start + 1 + (bytes.size() - start - 2) * i / steps);
	for (size_t shorter : {1, 2, 12})
		lengths.insert(bytes.size() - shorter);
	std::vector<Spoilt> cut;
	for (size_t length : lengths)
		cut.push_back({"cut to " + std::to_string(length) + " of "
			+ std::to_string(bytes.size()) + " bytes", bytes.substr(0, length)});
	return cut;
}

// Bytes inverted through the IDAT chunk, its CRC included.
std::vector<Spoilt> png_flipped(const std::string& bytes)
{
	uint32_t length = 0;
	size_t idat = png_chunk(bytes, "IDAT", &length);
	std::vector<Spoilt> flipped;
	for (size_t i = 0; i < 8; i++) {
		size_t at = idat + 8 + (length + 3) * i / 7;
		std::string spoilt = bytes;
		spoilt[at] = static_cast<char>(~spoilt[at]);
		flipped.push_back({"byte " + std::to_string(at) + " of the IDAT chunk inverted", spoilt});
	}
	return flipped;
}

// JPEG keeps no check over its coefficients: most bytes changed in the data decode as a
// different picture and nothing can tell. These are the changes libjpeg does see.
std::vector<Spoilt> jpeg_spoilt(const std::string& bytes)
{
	std::vector<Spoilt> spoilt;
	std::vector<Scan> scans = jpeg_scans(bytes);
	const Scan& largest = *std::max_element(scans.begin(), scans.end(),
		[](const Scan& a, const Scan& b) { return a.end - a.start < b.end - b.start; });
	std::string marked = bytes;
	marked.replace((largest.start + largest.end) / 2, 2, "\xff\xd9");
	spoilt.push_back({"an end of image in the middle of the data", marked});

	size_t restart = bytes.find("\xff\xd1", scans[0].start);
	if (restart != std::string::npos && restart < scans[0].end) {
		std::string renumbered = bytes;
		renumbered[restart + 1] = '\xd3';
		spoilt.push_back({"the second restart marker numbered as the fourth", renumbered});
	}
	if (scans.size() == 1) {
		// A sequential scan's spectral selection ends at coefficient 63.
		std::string narrowed = bytes;
		narrowed[scans[0].start - 2] = 62;
		spoilt.push_back({"a sequential scan up to coefficient 62", narrowed});
	}
	return spoilt;
}

std::string read_file(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	std::ostringstream bytes;
	bytes << file.rdbuf();
	return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes)
{
	std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class DocumentPrintDamage : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string error;
		ASSERT_TRUE(server::add_printer("Desk", "File", Output(), &error)) << error;
		// 75 dpi: a dot is a page unit, and jobs are quick.
		BMessage settings;
		ASSERT_TRUE(server::load_settings("Desk", &settings, &error)) << error;
		settings.ReplaceInt32(kXResField, 75);
		settings.ReplaceInt32(kYResField, 75);
		settings.ReplaceInt8(kQualityTypeField, 2);
		ASSERT_TRUE(server::save_settings("Desk", settings, &error)) << error;
	}

	std::string Output() const { return fRoot.Sub("out.pcl"); }

	bool Print(const std::string& document, std::string* error)
	{
		server::PrintRequest request;
		request.printer = "Desk";
		request.documents = {document};
		fOutcome = server::PrintOutcome();
		return server::print_job(request, &fOutcome, error);
	}

	// The job of a damaged file fails in one line that names it and gives the library's
	// reason, prints no page, and leaves the printer's file and folder as they were.
	void ExpectNotPrinted(const std::string& path, const std::string& reason)
	{
		std::string before = read_file(Output());
		std::string error;
		EXPECT_FALSE(Print(path, &error)) << fOutcome.pages << " pages printed";
		EXPECT_NE(error.find(path + ": " + reason + " ("), std::string::npos) << error;
		EXPECT_EQ(error.find('\n'), std::string::npos) << error;
		EXPECT_EQ(error.find("()"), std::string::npos) << error;
		EXPECT_EQ(fOutcome.pages, 0);
		EXPECT_TRUE(read_file(Output()) == before) << "the printer's file was replaced";
		for (const auto& entry : fs::directory_iterator(frontend::printer_folder("Desk")))
			EXPECT_NE(entry.path().extension(), ".spool") << entry.path();
	}

	TempRoot fRoot;
	server::PrintOutcome fOutcome;
};

TEST_F(DocumentPrintDamage, EndsTheJobWhereverAnImageIsCutOrSpoilt)
{
	struct Kind {
		const char* name;
		const char* extension;
		const char* reason;
		std::string bytes;
		size_t data;   // the first byte of pixel data
		size_t cuts;   // lengths cut to through the data
		std::function<std::vector<Spoilt>(const std::string&)> spoil;
	};
	auto jpeg = [](const char* name, size_t cuts, const JpegMaking& making) {
		std::string bytes = make_jpeg(making);
		return Kind{name, ".jpg", "damaged JPEG image", bytes, jpeg_scans(bytes)[0].start,
			cuts, jpeg_spoilt};
	};
	auto png = [](const char* name, size_t cuts, int width, int height, bool interlaced) {
		std::string bytes = make_png(width, height, interlaced);
		uint32_t length = 0;
		return Kind{name, ".png", "damaged PNG image", bytes,
			png_chunk(bytes, "IDAT", &length) + 8, cuts, png_flipped};
	};
	// Tall images land one pixel to a dot and stream to the page as they decode, on a
	// thread of their own; wide ones are turned and drawn whole. Progressive JPEGs and
	// interlaced PNGs are decoded whole when the job opens.
	const Kind kinds[] = {
		jpeg("baseline", 12, {}),
		jpeg("baseline-wide", 6, {.width = 64, .height = 48}),
		jpeg("progressive", 12, {.progressive = true}),
		jpeg("restarts", 0, {.restartRows = 1}),
		png("plain", 12, 48, 64, false),
		png("plain-wide", 6, 64, 48, false),
		png("interlaced", 12, 48, 64, true),
	};
	int tried = 0;
	for (const Kind& kind : kinds) {
		SCOPED_TRACE(kind.name);
		std::string whole = fRoot.Sub(std::string(kind.name) + kind.extension);
		write_file(whole, kind.bytes);
		std::string error;
		ASSERT_TRUE(Print(whole, &error)) << error;
		ASSERT_EQ(fOutcome.pages, 1);

		std::vector<Spoilt> spoilt = cut_short(kind.bytes, kind.data, kind.cuts);
		for (Spoilt& more : kind.spoil(kind.bytes))
			spoilt.push_back(std::move(more));
		for (const Spoilt& file : spoilt) {
			SCOPED_TRACE(file.how);
			std::string path = fRoot.Sub(std::string(kind.name) + "-damaged" + kind.extension);
			write_file(path, file.bytes);
			ExpectNotPrinted(path, kind.reason);
			tried++;
		}
	}
	// None of the makers above came back empty-handed.
	EXPECT_GE(tried, 100);
}

TEST_F(DocumentPrintDamage, OdditiesOfWellMadeImagesStillPrint)
{
	std::string jpeg = make_jpeg({});
	std::vector<Scan> scans = jpeg_scans(jpeg);
	std::string png = make_png(48, 64, false);
	uint32_t length = 0;
	size_t iend = png_chunk(png, "IEND", &length);
	// A comment chunk whose CRC does not match: libpng drops it.
	const std::string comment("\0\0\0\x0e" "tEXt" "Comment\0" "spoilt" "CRC!", 26);
	const Spoilt odd[] = {
		{"junk bytes before the scan",
			std::string(jpeg).insert(scans[0].header, std::string(3, '\0'))},
		// (libjpeg reads a few bytes ahead of the last block; it counts only the rest.)
		{"junk bytes before the end of image",
			std::string(jpeg).insert(jpeg.size() - 2, std::string(16, '\0'))},
		{"an Adobe marker naming a colour transform libjpeg does not know",
			make_jpeg({.adobeTransform = 7})},
		{"a comment chunk with a bad CRC", std::string(png).insert(iend, comment)},
	};
	for (const Spoilt& file : odd) {
		SCOPED_TRACE(file.how);
		std::string path = fRoot.Sub(file.bytes.compare(1, 3, "PNG") == 0 ? "odd.png" : "odd.jpg");
		write_file(path, file.bytes);
		std::string error;
		EXPECT_TRUE(Print(path, &error)) << error;
		EXPECT_EQ(fOutcome.pages, 1);
	}
}

TEST_F(DocumentPrintDamage, ToolSaysHowFarTheJobGotAndExitsWithOne)
{
	std::string text = fRoot.Sub("note.txt");
	write_file(text, "before the photo\n");
	std::string jpeg = make_jpeg({});
	std::string cut = fRoot.Sub("cut.jpg");
	write_file(cut, jpeg.substr(0, jpeg_scans(jpeg)[0].end - 40));
	std::string errorsPath = fRoot.Sub("stderr.txt");
	std::string command = std::string(TESSARY_BUILD_DIR) + "/server/tessary print Desk " + text
		+ " " + cut + " >/dev/null 2>" + errorsPath;
	int status = system(command.c_str());
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 1);
	std::string errors = read_file(errorsPath);
	// The File printer's target is written by a whole job alone: the page before the photo
	// was not printed either, and the line says so.
	EXPECT_EQ(errors.rfind("tessary: not printed: " + cut
		+ ": damaged JPEG image (Premature end of JPEG file) (1 whole page was not written to "
		+ Output() + ", which is as it was)\n", 0), 0u) << errors;
	EXPECT_FALSE(fs::exists(Output()));
}

}  // namespace
