#include "printerapp/Samples.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <cups/raster.h>
#include <jpeglib.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const char* const kCupsTests = "/usr/share/cups/ipptool";

uint8_t byte_of(double value)
{
	return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
}

double luminance(const Rgb& colour)
{
	return 0.299 * colour.red + 0.587 * colour.green + 0.114 * colour.blue;
}

// A run of one colour on a row, in pixels.
struct Span {
	int left, right;
	Rgb colour;
};

// The squares that cross row `y` of a page at `dpi`, `width` pixels wide.
std::vector<Span> spans_of_row(const SamplePage& page, int dpi, int width, int y)
{
	std::vector<Span> spans;
	double inches = (y + 0.5) / dpi;
	for (const ColourSquare& square : page.squares) {
		if (inches < square.y || inches >= square.y + square.size)
			continue;
		int left = std::max(0, static_cast<int>(std::lround(square.x * dpi)));
		int right = std::min(width,
			static_cast<int>(std::lround((square.x + square.size) * dpi)));
		spans.push_back({left, right, square.colour});
	}
	return spans;
}

// Fills a row of `bytes` in one of the layouts: 3 bytes a pixel (RGB), 1 (grey), or a bit a
// pixel with 1 for black.
enum class Layout { kRgb, kGrey, kBlackBits };

void fill_row(const std::vector<Span>& spans, Layout layout, std::vector<uint8_t>* bytes)
{
	std::fill(bytes->begin(), bytes->end(), layout == Layout::kBlackBits ? 0 : 255);
	for (const Span& span : spans) {
		uint8_t rgb[3] = {byte_of(span.colour.red), byte_of(span.colour.green),
			byte_of(span.colour.blue)};
		uint8_t grey = byte_of(luminance(span.colour));
		for (int x = span.left; x < span.right; x++) {
			size_t at = static_cast<size_t>(x);
			if (layout == Layout::kRgb)
				memcpy(&(*bytes)[3 * at], rgb, 3);
			else if (layout == Layout::kGrey)
				(*bytes)[at] = grey;
			else if (grey < 128)
				(*bytes)[at / 8] |= static_cast<uint8_t>(0x80 >> (at % 8));
		}
	}
}

bool write_raster_page(cups_raster_t* raster, const SamplePage& page, int dpi,
	const std::string& type)
{
	cups_page_header2_t header;
	pwg_media_t* media = pwgMediaForSize(static_cast<int>(std::lround(page.width * 2540)),
		static_cast<int>(std::lround(page.height * 2540)));
	if (media == nullptr
		|| !cupsRasterInitPWGHeader(&header, media, type.c_str(), dpi, dpi, "one-sided",
			"normal")
		|| !cupsRasterWriteHeader2(raster, &header))
		return false;
	Layout layout = type == "srgb_8" ? Layout::kRgb
		: type == "sgray_8" ? Layout::kGrey : Layout::kBlackBits;
	std::vector<uint8_t> bytes(header.cupsBytesPerLine);
	for (unsigned y = 0; y < header.cupsHeight; y++) {
		fill_row(spans_of_row(page, dpi, static_cast<int>(header.cupsWidth),
			static_cast<int>(y)), layout, &bytes);
		if (cupsRasterWritePixels(raster, bytes.data(), header.cupsBytesPerLine)
			!= header.cupsBytesPerLine)
			return false;
	}
	return true;
}

}  // namespace

bool write_pdf(const std::string& path, const std::vector<SamplePage>& pages)
{
	cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), pages[0].width * 72,
		pages[0].height * 72);
	cairo_t* cairo = cairo_create(surface);
	for (const SamplePage& page : pages) {
		cairo_pdf_surface_set_size(surface, page.width * 72, page.height * 72);
		for (const ColourSquare& square : page.squares) {
			cairo_set_source_rgb(cairo, square.colour.red, square.colour.green,
				square.colour.blue);
			cairo_rectangle(cairo, square.x * 72, square.y * 72, square.size * 72,
				square.size * 72);
			cairo_fill(cairo);
		}
		cairo_show_page(cairo);
	}
	cairo_destroy(cairo);
	cairo_surface_finish(surface);
	bool good = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
	cairo_surface_destroy(surface);
	return good;
}

bool write_jpeg(const std::string& path, const SamplePage& page, int ppi, bool grey)
{
	FILE* file = fopen(path.c_str(), "wb");
	if (file == nullptr)
		return false;
	jpeg_compress_struct info;
	jpeg_error_mgr errors;
	info.err = jpeg_std_error(&errors);
	jpeg_create_compress(&info);
	jpeg_stdio_dest(&info, file);
	info.image_width = static_cast<JDIMENSION>(std::lround(page.width * ppi));
	info.image_height = static_cast<JDIMENSION>(std::lround(page.height * ppi));
	info.input_components = grey ? 1 : 3;
	info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
	jpeg_set_defaults(&info);
	jpeg_set_quality(&info, 95, TRUE);
	info.density_unit = 1;  // dots per inch
	info.X_density = static_cast<UINT16>(ppi);
	info.Y_density = static_cast<UINT16>(ppi);
	jpeg_start_compress(&info, TRUE);
	std::vector<uint8_t> bytes(info.image_width * static_cast<size_t>(info.input_components));
	for (JDIMENSION y = 0; y < info.image_height; y++) {
		fill_row(spans_of_row(page, ppi, static_cast<int>(info.image_width), static_cast<int>(y)),
			grey ? Layout::kGrey : Layout::kRgb, &bytes);
		JSAMPROW pointer = bytes.data();
		jpeg_write_scanlines(&info, &pointer, 1);
	}
	jpeg_finish_compress(&info);
	jpeg_destroy_compress(&info);
	return fclose(file) == 0;
}

bool write_png(const std::string& path, const SamplePage& page, int ppi)
{
	int width = static_cast<int>(std::lround(page.width * ppi));
	int height = static_cast<int>(std::lround(page.height * ppi));
	cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
	unsigned char* data = cairo_image_surface_get_data(surface);
	int stride = cairo_image_surface_get_stride(surface);
	std::vector<uint8_t> bytes(static_cast<size_t>(width) * 3);
	cairo_surface_flush(surface);
	for (int y = 0; y < height; y++) {
		fill_row(spans_of_row(page, ppi, width, y), Layout::kRgb, &bytes);
		uint8_t* out = data + static_cast<size_t>(y) * stride;
		for (int x = 0; x < width; x++) {
			out[4 * x] = bytes[3 * x + 2];
			out[4 * x + 1] = bytes[3 * x + 1];
			out[4 * x + 2] = bytes[3 * x];
			out[4 * x + 3] = 0xff;
		}
	}
	cairo_surface_mark_dirty(surface);
	bool written = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
	cairo_surface_destroy(surface);
	return written;
}

bool write_pwg(const std::string& path, const std::vector<SamplePage>& pages, int dpi,
	const std::string& type)
{
	int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	if (fd < 0)
		return false;
	cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
	bool written = raster != nullptr;
	for (const SamplePage& page : pages)
		written = written && write_raster_page(raster, page, dpi, type);
	if (raster != nullptr)
		cupsRasterClose(raster);
	return close(fd) == 0 && written;
}

bool prepare_conformance_folder(const std::string& folder, std::string* error)
{
	std::error_code code;
	fs::create_directories(folder, code);
	for (const fs::directory_entry& entry : fs::directory_iterator(kCupsTests, code)) {
		if (entry.path().extension() == ".test")
			fs::copy_file(entry.path(), fs::path(folder) / entry.path().filename(),
				fs::copy_options::overwrite_existing, code);
	}
	if (code || !fs::exists(fs::path(folder) / "ipp-everywhere.test")) {
		*error = std::string("cannot copy the conformance tests from ") + kCupsTests
			+ " (is cups-ipp-utils installed?)";
		return false;
	}

	const Rgb kRed{1, 0, 0}, kBlue{0, 0, 1}, kGrey{0.5, 0.5, 0.5};
	auto page = [&](double width, double height, const Rgb& colour) {
		return SamplePage{width, height, {{0.5, 0.5, 1, colour}, {width - 1.5, height - 1.5, 1,
			kBlue}}};
	};
	struct Document {
		const char* name;
		std::vector<SamplePage> pages;
	};
	const Document documents[] = {
		{"color.jpg-4x6", {page(4, 6, kRed)}},
		{"gray.jpg-4x6", {page(4, 6, kGrey)}},
		{"document-a4", {page(8.27, 11.69, kRed), page(8.27, 11.69, kGrey)}},
		{"document-letter", {page(8.5, 11, kRed), page(8.5, 11, kGrey)}},
		{"onepage-a4", {page(8.27, 11.69, kRed)}},
		{"onepage-letter", {page(8.5, 11, kRed)}},
	};
	for (int dpi : {150, 300}) {
		for (const char* type : {"black_1", "sgray_8", "srgb_8"}) {
			std::string dashed = type;
			dashed[dashed.find('_')] = '-';
			std::string sub = folder + "/pwg-raster-samples-" + std::to_string(dpi) + "dpi/"
				+ dashed;
			fs::create_directories(sub, code);
			for (const Document& document : documents) {
				std::string path = sub + "/" + document.name + "-" + dashed + "-"
					+ std::to_string(dpi) + "dpi.pwg";
				if (!write_pwg(path, document.pages, dpi, type)) {
					*error = "cannot write " + path;
					return false;
				}
			}
		}
	}
	bool written = write_jpeg(folder + "/color.jpg", page(4, 6, kRed), 72)
		&& write_jpeg(folder + "/gray.jpg", page(4, 6, kGrey), 72, true)
		&& write_pdf(folder + "/document-a4.pdf", documents[2].pages)
		&& write_pdf(folder + "/document-letter.pdf", documents[3].pages);
	if (!written) {
		*error = "cannot write the JPEG and PDF samples";
		return false;
	}
	// ipptool reads no further than a FILE that is missing, even in a test it skips: the
	// documents this printer does not take (PostScript, raster of other resolutions and
	// types) are there as empty placeholders, and their tests are skipped for what the
	// printer reports.
	for (const fs::directory_entry& entry : fs::directory_iterator(folder, code)) {
		if (entry.path().extension() != ".test")
			continue;
		std::ifstream test(entry.path());
		std::string word;
		while (test >> word) {
			std::string name;
			if (word != "FILE" || !(test >> name) || name.empty() || name[0] == '$')
				continue;
			fs::path path = fs::path(folder) / name;
			if (!fs::exists(path, code)) {
				fs::create_directories(path.parent_path(), code);
				std::ofstream placeholder(path);
			}
		}
	}
	return true;
}
