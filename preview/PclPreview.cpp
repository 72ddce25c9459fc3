#include "PclPreview.h"

#include "DeviceModel.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

namespace preview {

namespace {

// Raster rows wider than this are refused: the driver never sends rows near it, and a
// hostile count must not make the preview allocate without bound.
const long kMaxRowBytes = 64 * 1024;
const long kMaxRows = 1'000'000;
// A packed row of the widest row takes at most a control byte more for every 128 bytes.
const long kMaxPackedRowBytes = kMaxRowBytes + kMaxRowBytes / 128;
// Rows a Y offset adds cost the stream a few bytes whatever their number: the page they make
// may hold no more dots than the driver's largest page.
const long kMaxOffsetPageDots = 1L << 30;

class Decoder {
public:
	Decoder(const uint8_t* data, size_t length,
		const std::function<bool(const Page&, std::string*)>& onPage, DecodeError* error)
		: fData(data), fLength(length), fPos(0), fOnPage(onPage), fError(error)
	{
	}

	bool Run();

private:
	bool _Fail(size_t offset, const std::string& message)
	{
		fError->offset = offset;
		fError->message = message;
		return false;
	}
	bool _Expect(const char* bytes);
	bool _ReadNumber(long* value);
	bool _RasterCommand(size_t commandStart);
	bool _Transfer(size_t commandStart, long count, bool endOfRow);
	bool _Unpack(const uint8_t* packed, long count, long* length);
	bool _YOffset(size_t commandStart, long rows);
	bool _EndPage(size_t offset);

	const uint8_t* fData;
	size_t fLength;
	size_t fPos;
	const std::function<bool(const Page&, std::string*)>& fOnPage;
	DecodeError* fError;

	bool fInPage = false;
	Page fPage;
	int fPlaneInRow = 0;       // planes received for the row being built
	long fRowBytes = -1;       // bytes of the page's plane rows, fixed by the first transfer
	int fCompression = 0;      // 0: rows as they are; 2: TIFF PackBits
	std::vector<uint8_t> fRow; // inks of the row being built
	std::vector<uint8_t> fUnpacked;  // the plane row of a packed transfer
};

bool Decoder::_Expect(const char* bytes)
{
	size_t length = strlen(bytes);
	if (fLength - fPos < length || memcmp(fData + fPos, bytes, length) != 0)
		return false;
	fPos += length;
	return true;
}

bool Decoder::_ReadNumber(long* value)
{
	size_t start = fPos;
	bool negative = false;
	if (fPos < fLength && (fData[fPos] == '-' || fData[fPos] == '+')) {
		negative = fData[fPos] == '-';
		fPos++;
	}
	long number = 0;
	size_t digits = 0;
	while (fPos < fLength && fData[fPos] >= '0' && fData[fPos] <= '9') {
		if (number > 100'000'000)
			return _Fail(start, "number too large");
		number = number * 10 + (fData[fPos] - '0');
		fPos++;
		digits++;
	}
	if (digits == 0)
		return _Fail(start, "number expected");
	*value = negative ? -number : number;
	return true;
}

// ESC * b <number> and its letter: compression method (M), raster Y offset (Y), transfer by
// plane (V, the printer stays on the row) or by row (W, the row's last plane).
bool Decoder::_RasterCommand(size_t commandStart)
{
	long number;
	if (!_ReadNumber(&number))
		return false;
	if (fPos >= fLength)
		return _Fail(fPos, "stream ends inside a raster command");
	uint8_t letter = fData[fPos];
	if (letter != 'M' && letter != 'Y' && letter != 'V' && letter != 'W')
		return _Fail(commandStart, "unknown raster command");
	fPos++;
	if (letter == 'M') {
		if (number != 0 && number != 2)
			return _Fail(commandStart, "compression method other than 0 or 2");
		if (fPlaneInRow != 0)
			return _Fail(commandStart, "compression method changed inside a row");
		fCompression = static_cast<int>(number);
		return true;
	}
	if (letter == 'Y')
		return _YOffset(commandStart, number);
	return _Transfer(commandStart, number, letter == 'W');
}

// TIFF PackBits into fUnpacked: a control byte n, then n + 1 literal bytes (n from 0 to 127)
// or one byte repeated 1 - n times (n from -127 to -1); -128 is no operation.
bool Decoder::_Unpack(const uint8_t* packed, long count, long* length)
{
	size_t base = static_cast<size_t>(packed - fData);
	long in = 0;
	long out = 0;
	fUnpacked.resize(static_cast<size_t>(kMaxRowBytes));
	while (in < count) {
		long at = in;
		int control = static_cast<int8_t>(packed[in++]);
		if (control == -128)
			continue;
		long run = control >= 0 ? control + 1 : 1 - control;
		if (out + run > kMaxRowBytes)
			return _Fail(base + static_cast<size_t>(at),
				"packed row wider than the decoder takes");
		if (control >= 0) {
			if (count - in < run)
				return _Fail(base + static_cast<size_t>(at), "packed row ends inside a literal");
			memcpy(fUnpacked.data() + out, packed + in, static_cast<size_t>(run));
			in += run;
		} else {
			if (in >= count)
				return _Fail(base + static_cast<size_t>(at), "packed row ends inside a repeat");
			memset(fUnpacked.data() + out, packed[in++], static_cast<size_t>(run));
		}
		out += run;
	}
	*length = out;
	return true;
}

bool Decoder::_YOffset(size_t commandStart, long rows)
{
	if (fPage.planes == 0)
		return _Fail(commandStart, "raster Y offset before the planes-per-row command");
	if (fPlaneInRow != 0)
		return _Fail(commandStart, "raster Y offset inside a row");
	if (fRowBytes < 0)
		return _Fail(commandStart, "raster Y offset before the page's first row");
	if (rows < 0)
		return _Fail(commandStart, "raster Y offset out of range");
	if (rows > kMaxRows - fPage.rows
		|| (fPage.rows + rows) * static_cast<long>(fPage.width) > kMaxOffsetPageDots)
		return _Fail(commandStart, "too many rows on one page");
	fPage.inks.resize(fPage.inks.size() + static_cast<size_t>(rows) * fPage.width, 0);
	fPage.rows += static_cast<int>(rows);
	return true;
}

bool Decoder::_Transfer(size_t commandStart, long count, bool endOfRow)
{
	if (fPage.planes == 0)
		return _Fail(commandStart, "raster data before the planes-per-row command");
	bool packed = fCompression == 2;
	if (count < 0 || count > (packed ? kMaxPackedRowBytes : kMaxRowBytes))
		return _Fail(commandStart, "raster byte count out of range");
	if (!packed && fRowBytes >= 0 && count != fRowBytes)
		return _Fail(commandStart, "raster byte count differs from the page's first row");
	if (fLength - fPos < static_cast<size_t>(count))
		return _Fail(fLength, "stream ends inside raster data");

	int plane = fPlaneInRow;
	if (plane >= fPage.planes)
		return _Fail(commandStart, "more planes in a row than the page declared");
	if (endOfRow != (plane == fPage.planes - 1))
		return _Fail(commandStart, endOfRow ? "row ends before its last plane"
											: "last plane of a row sent by plane");

	// The plane row's bytes: as they came, or unpacked.
	const uint8_t* bytes = fData + fPos;
	long rowBytes = count;
	if (packed) {
		if (!_Unpack(bytes, count, &rowBytes))
			return false;
		bytes = fUnpacked.data();
	}
	if (fRowBytes < 0) {
		fRowBytes = rowBytes;
		fPage.width = static_cast<int>(rowBytes * 8);
		fRow.assign(static_cast<size_t>(fPage.width), 0);
	} else if (rowBytes != fRowBytes) {
		return _Fail(commandStart, "packed row unpacks to " + std::to_string(rowBytes)
			+ " bytes, not the " + std::to_string(fRowBytes) + " of the page's rows");
	}

	// Plane order within a row: black, cyan, magenta, yellow (a single plane is black).
	uint8_t ink = static_cast<uint8_t>(1u << plane);
	for (long x = 0; x < rowBytes * 8; x++) {
		if (bytes[x >> 3] & (0x80 >> (x & 7)))
			fRow[static_cast<size_t>(x)] |= ink;
	}
	fPos += static_cast<size_t>(count);

	if (!endOfRow) {
		fPlaneInRow++;
		return true;
	}
	if (fPage.rows >= kMaxRows)
		return _Fail(commandStart, "too many rows on one page");
	fPage.inks.insert(fPage.inks.end(), fRow.begin(), fRow.end());
	fPage.rows++;
	std::fill(fRow.begin(), fRow.end(), 0);
	fPlaneInRow = 0;
	return true;
}

bool Decoder::_EndPage(size_t offset)
{
	if (!fInPage)
		return _Fail(offset, "form feed outside a page");
	if (fPlaneInRow != 0)
		return _Fail(offset, "form feed inside a row");
	std::string message;
	if (!fOnPage(fPage, &message))
		return _Fail(offset, message);
	fInPage = false;
	return true;
}

bool Decoder::Run()
{
	while (fPos < fLength) {
		size_t start = fPos;
		uint8_t byte = fData[fPos];
		if (byte == 0x0c) {
			fPos++;
			if (!_EndPage(start))
				return false;
			continue;
		}
		if (byte != 0x1b)
			return _Fail(start, "byte outside any command");
		fPos++;
		if (_Expect("E")) {
			// Printer reset: a new page starts; the set-up commands follow.
			if (fInPage && (fPage.rows > 0 || fPlaneInRow != 0))
				return _Fail(start, "printer reset inside a page");
			fInPage = true;
			fPage = Page();
			fRowBytes = -1;
			fPlaneInRow = 0;
			fCompression = 0;
			continue;
		}
		if (!fInPage)
			return _Fail(start, "command before the printer reset");
		if (_Expect("&l0E"))
			continue;  // top margin 0
		if (_Expect("*t")) {
			long dpi;
			if (!_ReadNumber(&dpi))
				return false;
			if (!_Expect("R"))
				return _Fail(start, "unknown raster resolution command");
			if (dpi <= 0 || dpi > 2400)
				return _Fail(start, "raster resolution out of range");
			fPage.resolution = static_cast<int>(dpi);
			continue;
		}
		if (_Expect("*r")) {
			long planes;
			if (!_ReadNumber(&planes))
				return false;
			if (!_Expect("U"))
				return _Fail(start, "unknown raster command");
			if (planes != -4 && planes != 1)
				return _Fail(start, "planes per row other than -4 or 1");
			if (fPage.rows > 0 || fPlaneInRow != 0)
				return _Fail(start, "planes per row changed inside a page");
			fPage.planes = planes == -4 ? 4 : 1;
			continue;
		}
		if (_Expect("*b")) {
			if (!_RasterCommand(start))
				return false;
			continue;
		}
		return _Fail(start, "escape sequence outside the driver's vocabulary");
	}
	if (fInPage)
		return _Fail(fLength, "stream ends inside a page (no form feed)");
	return true;
}

}  // namespace

bool decode_stream(const uint8_t* data, size_t length,
	const std::function<bool(const Page&, std::string* error)>& onPage, DecodeError* error)
{
	Decoder decoder(data, length, onPage, error);
	return decoder.Run();
}

namespace {

// libpng reports errors by longjmp; this function keeps no locals that change after its
// setjmp, so nothing it holds can be clobbered.
bool write_png_rows(FILE* file, const Page& page, int width, int height, png_byte* row)
{
	png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
	png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
	if (png == nullptr || info == nullptr) {
		png_destroy_write_struct(&png, nullptr);
		return false;
	}
	if (setjmp(png_jmpbuf(png))) {
		png_destroy_write_struct(&png, &info);
		return false;
	}
	png_init_io(png, file);
	png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
		8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
		PNG_FILTER_TYPE_DEFAULT);
	if (page.resolution > 0) {
		auto perMetre = static_cast<png_uint_32>(page.resolution / 0.0254 + 0.5);
		png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
	}
	png_set_compression_level(png, 3);
	png_write_info(png, info);
	for (int y = 0; y < height; y++) {
		if (y >= page.rows || page.width == 0) {
			memset(row, 255, static_cast<size_t>(width) * 3);
		} else {
			const uint8_t* inks = page.inks.data() + static_cast<size_t>(y) * page.width;
			for (int x = 0; x < page.width; x++) {
				uint8_t ink = inks[x];
				png_byte* pixel = &row[static_cast<size_t>(x) * 3];
				if (ink & kBlackInk) {
					pixel[0] = pixel[1] = pixel[2] = 0;
					continue;
				}
				pixel[0] = (ink & kCyanInk) ? 0 : 255;
				pixel[1] = (ink & kMagentaInk) ? 0 : 255;
				pixel[2] = (ink & kYellowInk) ? 0 : 255;
			}
		}
		png_write_row(png, row);
	}
	png_write_end(png, nullptr);
	png_destroy_write_struct(&png, &info);
	return true;
}

}  // namespace

bool write_png(const Page& page, const std::string& path, std::string* error)
{
	int width = page.width > 0 ? page.width : 1;
	int height = page.rows > 0 ? page.rows : 1;
	std::vector<png_byte> row(static_cast<size_t>(width) * 3);
	FILE* file = fopen(path.c_str(), "wb");
	if (file == nullptr) {
		*error = "cannot create " + path + ": " + strerror(errno);
		return false;
	}
	bool written = write_png_rows(file, page, width, height, row.data());
	if (fclose(file) != 0 || !written) {
		*error = "cannot write " + path + (written ? std::string(": ") + strerror(errno) : "");
		return false;
	}
	return true;
}

namespace {

// Whole units of `perUnit` page units over a length, as the driver rounds a page's width up
// to whole bytes of 8 units and its height to whole bands of 100.
long whole_units(double length, long perUnit)
{
	long units = static_cast<long>(length);
	return units / perUnit + (units % perUnit != 0 ? 1 : 0);
}

// Whether the driver's raster of a paper `width` x `height` (page units) at the page's
// resolution is the page's.
bool raster_of(const Page& page, double width, double height)
{
	long dotsPerUnit = page.resolution / device::kUnitsPerInch;
	return whole_units(width, 8) * 8 * dotsPerUnit == page.width
		&& whole_units(height, 100) * 100 * dotsPerUnit == page.rows;
}

}  // namespace

Sheet sheet_for(const Page& page)
{
	Sheet sheet;
	device::DotOffset origin = device::raster_origin_dots(page.resolution);
	sheet.originX = origin.x;
	sheet.originY = origin.y;
	const double dotsPerUnit = static_cast<double>(page.resolution) / device::kUnitsPerInch;
	if (page.resolution % device::kUnitsPerInch == 0) {
		for (const device::Paper& paper : device::kPapers) {
			// The paper in points either way round: the page setup lays the envelope as it is
			// fed, CUPS and IPP portrait.
			double across = device::units_of_points(paper.widthPoints);
			double down = device::units_of_points(paper.lengthPoints);
			for (int turn = 0; turn < 2; turn++, std::swap(across, down)) {
				if (!raster_of(page, across, down))
					continue;
				sheet.paper = paper.label;
				sheet.width = static_cast<int>(std::lround(across * dotsPerUnit));
				sheet.height = static_cast<int>(std::lround(down * dotsPerUnit));
				return sheet;
			}
		}
	}
	sheet.width = origin.x + page.width;
	sheet.height = origin.y + page.rows;
	return sheet;
}

Page on_sheet(const Page& page, const Sheet& sheet)
{
	Page placed;
	placed.resolution = page.resolution;
	placed.planes = page.planes;
	placed.width = std::max(sheet.width, 0);
	placed.rows = std::max(sheet.height, 0);
	placed.inks.assign(static_cast<size_t>(placed.width) * placed.rows, 0);
	const int left = std::max(sheet.originX, 0);
	const int right = std::min(placed.width, sheet.originX + page.width);
	if (right <= left)
		return placed;
	for (int y = std::max(sheet.originY, 0); y < placed.rows; y++) {
		int row = y - sheet.originY;
		if (row >= page.rows)
			break;
		const uint8_t* from = page.inks.data() + static_cast<size_t>(row) * page.width
			+ (left - sheet.originX);
		std::copy(from, from + (right - left),
			placed.inks.begin() + static_cast<ptrdiff_t>(y) * placed.width + left);
	}
	return placed;
}

std::string summary_line(int pageNumber, const Page& page, const Sheet& sheet)
{
	char line[96];
	if (sheet.paper.empty()) {
		snprintf(line, sizeof(line), ", on a sheet of no paper of the printer's (%d x %d dots)",
			sheet.width, sheet.height);
	} else {
		snprintf(line, sizeof(line), ", on %s (%d x %d dots)", sheet.paper.c_str(), sheet.width,
			sheet.height);
	}
	return summary_line(pageNumber, page) + line;
}

std::string summary_line(int pageNumber, const Page& page)
{
	char line[160];
	snprintf(line, sizeof(line), "page %d: %d dpi, %d plane%s, %d rows of %d dots", pageNumber,
		page.resolution, page.planes, page.planes == 1 ? "" : "s", page.rows, page.width);
	return line;
}

}  // namespace preview
