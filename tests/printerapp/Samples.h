// Documents the printer application's tests make for themselves: PDF pages through Cairo,
// JPEG images through libjpeg and PWG raster through libcups, each a white page with squares
// of colour at known places, and the sample files CUPS's conformance tests name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
	double red, green, blue;
};

// A square of colour, in inches from the top left corner of the page.
struct ColourSquare {
	double x, y, size;
	Rgb colour;
};

struct SamplePage {
	double width, height;  // inches
	std::vector<ColourSquare> squares;
};

bool write_pdf(const std::string& path, const std::vector<SamplePage>& pages);

// One page at `ppi` pixels per inch (recorded in the file), in colour or in grey.
bool write_jpeg(const std::string& path, const SamplePage& page, int ppi, bool grey = false);

// One page at `ppi` pixels per inch, in colour (Cairo records no density: 72 ppi).
bool write_png(const std::string& path, const SamplePage& page, int ppi);

// PWG raster of the given type ("black_1", "sgray_8", "srgb_8") at `dpi`.
bool write_pwg(const std::string& path, const std::vector<SamplePage>& pages, int dpi,
	const std::string& type);

// Copies CUPS's conformance test files into `folder` and writes beside them every sample file
// they name that this printer can print (PWG raster at 150 and 300 dpi in its three types,
// JPEG, PDF) and a placeholder for each one it cannot (PostScript, other resolutions and
// types stay missing, and their tests are skipped). False with the reason.
bool prepare_conformance_folder(const std::string& folder, std::string* error);
