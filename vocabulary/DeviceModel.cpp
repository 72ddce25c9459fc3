#include "DeviceModel.h"

#include "JobSettings.h"

#include <cmath>
#include <cstdlib>

namespace device {

namespace {

template <typename Number>
bool same_size(Number width, Number length, Number paperWidth, Number paperLength,
	Number tolerance)
{
	auto near = [tolerance](Number a, Number b) { return std::abs(a - b) <= tolerance; };
	return (near(width, paperWidth) && near(length, paperLength))
		|| (near(width, paperLength) && near(length, paperWidth));
}

// Rounds up to a whole number, forgiving what binary fractions add to an exact value.
double round_up(double value)
{
	double whole = std::ceil(value - 1e-6);
	return whole > 0 ? whole : 0;
}

Margins scaled_up(const Margins& margins, double scale)
{
	return {round_up(margins.left * scale), round_up(margins.top * scale),
		round_up(margins.right * scale), round_up(margins.bottom * scale)};
}

}  // namespace

int8 paper_row_for_hundredths(int width, int length)
{
	for (int row = 0; row < kPaperCount; row++) {
		if (same_size(width, length, kPapers[row].widthHmm, kPapers[row].lengthHmm, 50))
			return static_cast<int8>(row);
	}
	return kOtherPaperRow;
}

int8 paper_row_for_points(double width, double length)
{
	for (int row = 0; row < kPaperCount; row++) {
		if (same_size(width, length, static_cast<double>(kPapers[row].widthPoints),
				static_cast<double>(kPapers[row].lengthPoints), 1.0))
			return static_cast<int8>(row);
	}
	return kOtherPaperRow;
}

DotOffset raster_origin_dots(int32 dpi)
{
	auto scaled = [dpi](int32 dots) {
		return static_cast<int32>(std::lround(static_cast<double>(dots) * dpi
			/ kRasterOrigin.dpi));
	};
	return {scaled(kRasterOrigin.right), scaled(kRasterOrigin.down)};
}

Margins sheet_margins()
{
	return {static_cast<double>(kRasterOrigin.right) / kRasterOrigin.dpi,
		static_cast<double>(kRasterOrigin.down) / kRasterOrigin.dpi, 0, 0};
}

Margins margins_in_points()
{
	return scaled_up(sheet_margins(), kPointsPerInch);
}

Margins margins_in_hundredths()
{
	return scaled_up(margins_in_points(), kHundredthsOfMmPerInch / kPointsPerInch);
}

PointsBox imageable_area(const Paper& paper)
{
	Margins margins = margins_in_points();
	return {margins.left, margins.bottom, paper.widthPoints - margins.right,
		paper.lengthPoints - margins.top};
}

bool prints_at(int32 dpi)
{
	for (const Resolution& resolution : kResolutions) {
		if (resolution.dpi == dpi)
			return true;
	}
	return false;
}

int8 quality_type_for(int32 dpi)
{
	for (int row = 0; row < kResolutionCount; row++) {
		if (kResolutions[row].dpi == dpi)
			return static_cast<int8>(row);
	}
	return kDefaultQualityType;
}

int32 dpi_for_quality_type(int32 row)
{
	if (row < 0 || row >= kResolutionCount)
		return kDefaultResolution;
	return kResolutions[row].dpi;
}

std::string resolutions_in_words()
{
	std::string words;
	for (int row = 0; row < kResolutionCount; row++) {
		if (row > 0)
			words += row + 1 == kResolutionCount ? " or " : ", ";
		words += std::to_string(kResolutions[row].dpi);
	}
	return words;
}

int32 transport_timeout_seconds(const std::string& value)
{
	// More digits than the largest value has cannot be one, and must not overflow.
	if (value.empty() || value.size() > 4
		|| value.find_first_not_of("0123456789") != std::string::npos)
		return kDefaultTransportTimeout;
	int32 seconds = std::stoi(value);
	if (seconds < kMinTransportTimeout || seconds > kMaxTransportTimeout)
		return kDefaultTransportTimeout;
	return seconds;
}

int compression_row(const std::string& value)
{
	for (int row = 0; row < kCompressionCount; row++) {
		if (value == kCompressions[row].name || value == kCompressions[row].ppdName)
			return row;
	}
	return -1;
}

bool compresses_rows(const std::string& value)
{
	return value == kCompressions[kTiffCompression].name;
}

std::string compressions_in_words()
{
	std::string words;
	for (int row = 0; row < kCompressionCount; row++) {
		if (row > 0)
			words += row + 1 == kCompressionCount ? " or " : ", ";
		words += kCompressions[row].name;
	}
	return words;
}

void default_settings(BMessage* settings)
{
	const Paper& paper = kPapers[kDefaultPaper];
	float width = strtof(paper.widthText, nullptr);
	float height = strtof(paper.heightText, nullptr);
	BRect rect(0, 0, units_of_inches(width), units_of_inches(height));
	settings->MakeEmpty();
	settings->what = kSettingsConfirmed;
	// What a confirmed page setup of the first paper leaves...
	store_field(settings, kStatusField, int32(0));
	store_field(settings, kPreviousSettingsField, int8(kDefaultPaper));
	store_field(settings, kPageWidthField, width);
	store_field(settings, kPageHeightField, height);
	store_field(settings, kScalingField, 100.0f);
	store_field(settings, kLayoutField, int8(0));
	store_field(settings, kPrintableRectField, rect);
	store_field(settings, kPaperRectField, rect);
	// ...and what a confirmed job setup with its defaults adds.
	add_default_job_fields(settings);
}

void add_default_job_fields(BMessage* settings)
{
	store_field(settings, kStatusField, int32(0));
	store_field(settings, kCopiesField, int16(1));
	store_field(settings, kCountTypeField, int8(0));
	store_field(settings, kBWModeField, int16(0));
	store_field(settings, kQualityTypeField, kDefaultQualityType);
	store_field(settings, kFirstPageField, int32(1));
	store_field(settings, kLastPageField, int32(-1));
	store_field(settings, kXResField, kDefaultResolution);
	store_field(settings, kYResField, kDefaultResolution);
	settings->what = kSettingsConfirmed;
}

}  // namespace device
