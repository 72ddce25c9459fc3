#include "RasterPage.h"

#include "DeviceModel.h"
#include "JobSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace frontend {

namespace {

// The channels of a colour space the driver takes, or 0.
int32 channels_of(cups_cspace_t space)
{
	switch (space) {
		case CUPS_CSPACE_RGB:
		case CUPS_CSPACE_SRGB:
		case CUPS_CSPACE_ADOBERGB:
			return 3;
		case CUPS_CSPACE_W:
		case CUPS_CSPACE_SW:
		case CUPS_CSPACE_K:
			return 1;
		default:
			return 0;
	}
}

bool read_resolution(const cups_page_header2_t& header, RasterPage* page, std::string* refusal)
{
	if (header.HWResolution[0] != header.HWResolution[1]
		|| !device::prints_at(static_cast<int32>(header.HWResolution[0]))) {
		*refusal = "the driver prints at " + device::resolutions_in_words() + " dpi, not at "
			+ std::to_string(header.HWResolution[0]) + "x"
			+ std::to_string(header.HWResolution[1]) + " dpi";
		return false;
	}
	page->dpi = static_cast<int32>(header.HWResolution[0]);
	return true;
}

bool read_colours(const cups_page_header2_t& header, const RasterRules& rules, RasterPage* page,
	std::string* refusal)
{
	char text[160];
	int32 channels = channels_of(header.cupsColorSpace);
	if (channels == 0) {
		snprintf(text, sizeof(text), "the driver prints RGB or grey raster, not colour space %u",
			static_cast<unsigned>(header.cupsColorSpace));
		*refusal = text;
		return false;
	}
	page->gray = channels == 1;
	page->inverted = header.cupsColorSpace == CUPS_CSPACE_K;
	page->bitsPerColor = static_cast<int32>(header.cupsBitsPerColor);
	// One bit a dot only as black ink; 8 or 16 bits a colour otherwise, chunky.
	bool depth = header.cupsBitsPerColor == 8 || header.cupsBitsPerColor == 16
		|| (header.cupsBitsPerColor == 1 && page->inverted && rules.oneBitBlack);
	uint64 rowBytes = (static_cast<uint64>(header.cupsWidth) * header.cupsBitsPerPixel + 7) / 8;
	if (header.cupsColorOrder != CUPS_ORDER_CHUNKED || !depth
		|| header.cupsBitsPerPixel != header.cupsBitsPerColor * static_cast<unsigned>(channels)
		|| header.cupsBytesPerLine != rowBytes) {
		snprintf(text, sizeof(text), "the driver prints chunky raster of 8 or 16 bits a "
			"colour, not order %u at %u bits a colour, %u a pixel",
			static_cast<unsigned>(header.cupsColorOrder), header.cupsBitsPerColor,
			header.cupsBitsPerPixel);
		*refusal = text;
		return false;
	}
	return true;
}

// The printable area a header gives, in points from the bottom left of the page.
struct ImagingBox {
	double left = 0;
	double bottom = 0;
	double right = 0;
	double top = 0;
};

// The header's imaging box: cupsImagingBBox in fractions of a point where it is set, else
// the whole points of ImagingBoundingBox. False when neither holds a box.
bool imaging_box(const cups_page_header2_t& header, ImagingBox* box)
{
	const float* exact = header.cupsImagingBBox;
	if (exact[2] > exact[0] && exact[3] > exact[1]) {
		*box = {exact[0], exact[1], exact[2], exact[3]};
		return true;
	}
	const unsigned* whole = header.ImagingBoundingBox;
	if (whole[2] > whole[0] && whole[3] > whole[1]) {
		*box = {static_cast<double>(whole[0]), static_cast<double>(whole[1]),
			static_cast<double>(whole[2]), static_cast<double>(whole[3])};
		return true;
	}
	return false;
}

// Whether the raster is a picture of the imaging box alone, as CUPS's rasterisers make it
// for a PPD with margins, rather than of the whole page: its dots are the box's, not the
// page's (to within a dot either way).
bool covers_box_only(const cups_page_header2_t& header, double width, double height,
	int32 dpi, const ImagingBox& box)
{
	auto dots = [dpi](double points) { return points * dpi / device::kPointsPerInch; };
	auto near = [](double a, double b) { return std::fabs(a - b) <= 1.5; };
	bool page = near(header.cupsWidth, dots(width)) && near(header.cupsHeight, dots(height));
	bool boxOnly = near(header.cupsWidth, dots(box.right - box.left))
		&& near(header.cupsHeight, dots(box.top - box.bottom));
	return boxOnly && !page;
}

bool read_paper(const cups_page_header2_t& header, const RasterRules& rules, RasterPage* page,
	std::string* refusal)
{
	const RasterPaper source = rules.paper;
	char text[160];
	double width;
	double height;
	if (source == RasterPaper::kPageSize) {
		width = header.cupsPageSize[0] > 0 ? header.cupsPageSize[0] : header.PageSize[0];
		height = header.cupsPageSize[1] > 0 ? header.cupsPageSize[1] : header.PageSize[1];
	} else {
		width = header.cupsWidth * device::kPointsPerInch / page->dpi;
		height = header.cupsHeight * device::kPointsPerInch / page->dpi;
	}
	if (!std::isfinite(width) || !std::isfinite(height) || width < 1 || height < 1
		|| width > 1e6 || height > 1e6) {
		snprintf(text, sizeof(text), "the page has no size the driver can print "
			"(%.1f x %.1f points)", width, height);
		*refusal = text;
		return false;
	}
	if (source == RasterPaper::kPageSize) {
		page->paper = BRect(0, 0, device::units_of_points(width),
			device::units_of_points(height));
	} else {
		// Exactly the raster's dots, whatever rounding points would bring.
		page->paper = BRect(0, 0,
			static_cast<float>(header.cupsWidth) * device::kUnitsPerInch / page->dpi,
			static_cast<float>(header.cupsHeight) * device::kUnitsPerInch / page->dpi);
	}
	page->printable = page->paper;
	ImagingBox box;
	if (source == RasterPaper::kPageSize && imaging_box(header, &box)) {
		page->printable = BRect(device::units_of_points(box.left),
			device::units_of_points(height - box.top), device::units_of_points(box.right),
			device::units_of_points(height - box.bottom));
	}

	// Rows and columns beyond the paper are read and left out; a raster larger than its page
	// by more than an inch is not a page of that paper.
	double paperColumns = std::ceil(width * page->dpi / device::kPointsPerInch);
	double paperRows = std::ceil(height * page->dpi / device::kPointsPerInch);
	if (header.cupsWidth < 1 || header.cupsHeight < 1
		|| header.cupsWidth > paperColumns + page->dpi
		|| header.cupsHeight > paperRows + page->dpi) {
		snprintf(text, sizeof(text), "the raster page of %u x %u dots does not fit its paper "
			"of %.0f x %.0f dots", header.cupsWidth, header.cupsHeight, paperColumns, paperRows);
		*refusal = text;
		return false;
	}
	page->width = header.cupsWidth;
	page->height = header.cupsHeight;

	// The driver's page is the printable area, from the raster origin to the paper's edges.
	device::DotOffset origin = device::raster_origin_dots(page->dpi);
	page->columns = static_cast<int32>(paperColumns) - origin.x;
	page->rows = static_cast<int32>(paperRows) - origin.y;
	if (page->columns < device::dots_per_unit(page->dpi)
		|| page->rows < device::dots_per_unit(page->dpi)) {
		snprintf(text, sizeof(text), "the paper of %.1f x %.1f points leaves nothing to print "
			"inside its margins", width, height);
		*refusal = text;
		return false;
	}
	// Where the raster's first dot lies on the sheet: its corner, or the imaging box's.
	int32 sheetX = 0;
	int32 sheetY = 0;
	if (source == RasterPaper::kPageSize && covers_box_only(header, width, height, page->dpi,
			box)) {
		sheetX = static_cast<int32>(std::lround(box.left * page->dpi / device::kPointsPerInch));
		sheetY = static_cast<int32>(std::lround((height - box.top) * page->dpi
			/ device::kPointsPerInch));
	}
	page->shiftX = sheetX - origin.x;
	page->shiftY = sheetY - origin.y;
	return true;
}

}  // namespace

PixelArea RasterPage::Area() const
{
	PixelArea area;
	area.width = columns;
	area.height = rows;
	area.dotsPerUnit = device::dots_per_unit(dpi);
	return area;
}

bool RasterPage::SameSettings(const RasterPage& other) const
{
	return paper == other.paper && dpi == other.dpi && gray == other.gray
		&& copies == other.copies;
}

bool read_raster_page(const cups_page_header2_t& header, const RasterRules& rules,
	RasterPage* page, std::string* refusal)
{
	*page = RasterPage();
	if (!read_resolution(header, page, refusal) || !read_colours(header, rules, page, refusal)
		|| !read_paper(header, rules, page, refusal))
		return false;
	if (header.NumCopies > 32767) {
		*refusal = "the driver makes at most 32767 copies, not "
			+ std::to_string(header.NumCopies);
		return false;
	}
	page->copies = static_cast<int16>(header.NumCopies > 0 ? header.NumCopies : 1);
	return true;
}

void store_raster_page(const RasterPage& page, BMessage* settings)
{
	float width = page.paper.Width() / device::kUnitsPerInch;
	float height = page.paper.Height() / device::kUnitsPerInch;
	store_field(settings, kPreviousSettingsField,
		device::paper_row_for_points(width * device::kPointsPerInch,
			height * device::kPointsPerInch));
	store_field(settings, kPageWidthField, width);
	store_field(settings, kPageHeightField, height);
	store_field(settings, kPaperRectField, page.paper);
	store_field(settings, kPrintableRectField, page.printable);
	// Pages without colour print with the black ink alone; colour pages as the job asks.
	if (page.gray)
		store_field(settings, kBWModeField, int16(1));
	store_field(settings, kQualityTypeField, device::quality_type_for(page.dpi));
	store_field(settings, kXResField, page.dpi);
	store_field(settings, kYResField, page.dpi);
}

const uint8* RasterRows::Convert(const uint8* row)
{
	const size_t channels = fPage.gray ? 1 : 3;
	// Raster dots [first, end) land on the driver's dots [first + shiftX, end + shiftX).
	const int64 first = std::max<int64>(0, -static_cast<int64>(fPage.shiftX));
	const int64 end = std::min<int64>(fPage.width,
		static_cast<int64>(fPage.columns) - fPage.shiftX);
	// 8-bit rows that fill the driver's row from its first dot go as they are.
	if (fPage.bitsPerColor == 8 && !fPage.inverted && fPage.shiftX <= 0
		&& end - first >= fPage.columns)
		return row + static_cast<size_t>(first) * channels;

	fScratch.assign(static_cast<size_t>(fPage.columns) * channels, 255);
	for (int64 dot = first; dot < end; dot++) {
		uint8* out = fScratch.data() + static_cast<size_t>(dot + fPage.shiftX) * channels;
		for (size_t c = 0; c < channels; c++) {
			size_t i = static_cast<size_t>(dot) * channels + c;
			uint8 value;
			if (fPage.bitsPerColor == 16) {
				uint16 wide;  // libcups and PAPPL hand 16-bit values over in this machine's order
				memcpy(&wide, row + 2 * i, sizeof(wide));
				value = static_cast<uint8>(wide >> 8);
			} else if (fPage.bitsPerColor == 1) {
				value = (row[i / 8] & (0x80 >> (i & 7))) != 0 ? 255 : 0;
			} else {
				value = row[i];
			}
			out[c] = fPage.inverted ? static_cast<uint8>(255 - value) : value;
		}
	}
	return fScratch.data();
}

const uint8* RasterRows::White()
{
	fScratch.assign(static_cast<size_t>(fPage.columns) * (fPage.gray ? 1 : 3), 255);
	return fScratch.data();
}

}  // namespace frontend
