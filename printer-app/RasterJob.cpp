// Raster pages as PAPPL hands them over (PWG and Apple raster, drawn by the client at one of
// the printer's resolutions): each page becomes a page of pixels in the spool file, placed 1:1
// on the device's dots, and the job goes through the driver when PAPPL ends it. Rows stream
// from PAPPL into the spool file a strip at a time; no page is held whole.
#include "Drivers.h"
#include "DriverRun.h"
#include "IppSettings.h"
#include "JobSettings.h"
#include "PixelPage.h"
#include "Spool.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace printer_app {

namespace {

// How a row from PAPPL becomes a row the pixel page takes.
enum class RowKind {
	kRgb,     // 8-bit red, green, blue: as it is
	kGray,    // 8-bit luminance: as it is
	kBlack8,  // 8-bit black ink: turned into luminance
	kBlack1,  // one bit a dot, 1 for black: spread into luminance
};

struct RasterJob {
	explicit RasterJob(pappl_job_t* job) : spool(job) {}

	BMessage settings;
	JobSpoolFile spool;
	server::SpoolWriter writer;
	server::PixelPageWriter pixels;
	bool opened = false;          // the spool file has its header and settings
	int32 resolution = 0;         // of the pages, dots per inch
	RowKind kind = RowKind::kRgb;
	std::vector<uint8> row;       // a converted row, for the kinds that need one
	bool refused = false;
	DriverOutcome refusal;
};

RasterJob* job_of(pappl_job_t* job)
{
	return static_cast<RasterJob*>(papplJobGetData(job));
}

// Ends the job's raster with a reason; PAPPL stops sending pages.
bool refuse(RasterJob* raster, const std::string& message, pappl_jreason_t reason)
{
	if (!raster->refused) {
		raster->refused = true;
		raster->refusal = refused_job(message, reason);
	}
	return false;
}

bool row_kind_for(const cups_page_header2_t& header, RowKind* kind)
{
	switch (header.cupsColorSpace) {
		case CUPS_CSPACE_SRGB:
		case CUPS_CSPACE_RGB:
		case CUPS_CSPACE_ADOBERGB:
			*kind = RowKind::kRgb;
			return header.cupsBitsPerPixel == 24;
		case CUPS_CSPACE_SW:
		case CUPS_CSPACE_W:
			*kind = RowKind::kGray;
			return header.cupsBitsPerPixel == 8;
		case CUPS_CSPACE_K:
			*kind = header.cupsBitsPerPixel == 1 ? RowKind::kBlack1 : RowKind::kBlack8;
			return header.cupsBitsPerPixel == 1 || header.cupsBitsPerPixel == 8;
		default:
			return false;
	}
}

// The job's settings take the paper and resolution of the pages as drawn.
void take_page_geometry(const cups_page_header2_t& header, BMessage* settings)
{
	float width = static_cast<float>(header.cupsWidth) * 75 / header.HWResolution[0];
	float height = static_cast<float>(header.cupsHeight) * 75 / header.HWResolution[1];
	BRect paper(0, 0, width, height);
	store_field(settings, kPaperRectField, paper);
	store_field(settings, kPrintableRectField, paper);
	store_field(settings, kPageWidthField, width / 75);
	store_field(settings, kPageHeightField, height / 75);
	store_field(settings, kPreviousSettingsField,
		paper_row_for(static_cast<int>(width * 2540 / 75), static_cast<int>(height * 2540 / 75)));
	int32 resolution = static_cast<int32>(header.HWResolution[0]);
	store_field(settings, kXResField, resolution);
	store_field(settings, kYResField, resolution);
	store_field(settings, kQualityTypeField,
		static_cast<int8>(resolution == 150 ? 1 : resolution == 75 ? 2 : 0));
}

const uint8* converted_row(RasterJob* raster, const unsigned char* line, uint32 width)
{
	switch (raster->kind) {
		case RowKind::kRgb:
		case RowKind::kGray:
			return line;
		case RowKind::kBlack8:
			for (uint32 x = 0; x < width; x++)
				raster->row[x] = static_cast<uint8>(255 - line[x]);
			break;
		case RowKind::kBlack1:
			for (uint32 x = 0; x < width; x++)
				raster->row[x] = (line[x / 8] & (0x80 >> (x & 7))) != 0 ? 0 : 255;
			break;
	}
	return raster->row.data();
}

}  // namespace

bool raster_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*)
{
	auto raster = std::make_unique<RasterJob>(job);
	settings_for_job(*options, Content::kRaster, &raster->settings);
	// PAPPL hands over a JPEG or PNG image once per copy; raster documents come once, and
	// the driver makes their copies.
	const char* format = papplJobGetFormat(job);
	if (format != nullptr && (strcmp(format, "image/jpeg") == 0 || strcmp(format, "image/png") == 0))
		store_field(&raster->settings, kCopiesField, int16(1));
	papplJobSetData(job, raster.release());
	return true;
}

bool raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*,
	unsigned)
{
	RasterJob* raster = job_of(job);
	if (raster == nullptr)
		return false;
	const cups_page_header2_t& header = options->header;
	unsigned resolution = header.HWResolution[0];
	if (resolution != header.HWResolution[1]
		|| (resolution != 75 && resolution != 150 && resolution != 300)) {
		return refuse(raster, "not printed: the pages are drawn at "
			+ std::to_string(header.HWResolution[0]) + "x" + std::to_string(header.HWResolution[1])
			+ " dpi; the driver prints 300, 150 or 75 dpi",
			PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR);
	}
	if (raster->opened && static_cast<int32>(resolution) != raster->resolution) {
		return refuse(raster, "not printed: the pages change resolution within the job",
			PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR);
	}
	RowKind kind;
	if (!row_kind_for(header, &kind) || header.cupsWidth == 0 || header.cupsHeight == 0) {
		return refuse(raster, "not printed: raster pages of a colour space the driver does "
			"not take", PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
	}
	raster->kind = kind;
	raster->row.resize(header.cupsWidth);

	std::string error;
	if (!raster->opened) {
		take_page_geometry(header, &raster->settings);
		// Pages without colour print with the black ink alone.
		if (kind != RowKind::kRgb)
			store_field(&raster->settings, kBWModeField, int16(1));
		if (raster->spool.Path().empty()
			|| !raster->writer.Open(raster->spool.Path(), raster->settings, &error))
			return refuse(raster, "cannot write the spool file: " + error,
				PAPPL_JREASON_ABORTED_BY_SYSTEM);
		raster->opened = true;
		raster->resolution = static_cast<int32>(resolution);
	}

	server::PixelArea area;
	area.width = static_cast<int32>(header.cupsWidth);
	area.height = static_cast<int32>(header.cupsHeight);
	area.dotsPerUnit = static_cast<int32>(resolution / 75);
	server::SpoolWriter* writer = &raster->writer;
	bool begun = writer->BeginPage(&error)
		&& raster->pixels.Begin(area, kind == RowKind::kRgb ? B_RGB24_BIG : B_GRAY8,
			[writer](const server::SpooledPicture& strip, std::string* stripError) {
				return writer->AddPicture(strip, stripError);
			}, &error);
	if (!begun)
		return refuse(raster, "cannot write the spool file: " + error,
			PAPPL_JREASON_ABORTED_BY_SYSTEM);
	return true;
}

bool raster_write_line(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned,
	const unsigned char* line)
{
	RasterJob* raster = job_of(job);
	std::string error;
	if (raster == nullptr)
		return false;
	if (!raster->pixels.AddRow(converted_row(raster, line, options->header.cupsWidth), &error))
		return refuse(raster, "cannot write the spool file: " + error,
			PAPPL_JREASON_ABORTED_BY_SYSTEM);
	return true;
}

bool raster_end_page(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned)
{
	RasterJob* raster = job_of(job);
	std::string error;
	if (raster == nullptr)
		return false;
	if (!raster->pixels.Finish(&error) || !raster->writer.EndPage(&error))
		return refuse(raster, "cannot write the spool file: " + error,
			PAPPL_JREASON_ABORTED_BY_SYSTEM);
	return true;
}

bool raster_end_job(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device)
{
	std::unique_ptr<RasterJob> raster(job_of(job));
	papplJobSetData(job, nullptr);
	// A streamed raster job that PAPPL turns away while the printer is busy ends here
	// without having started.
	if (raster == nullptr)
		return false;
	// PAPPL counts the raster pages it hands over as impressions itself.
	const bool kPapplCounts = false;
	if (raster->refused)
		return finish_job(job, raster->refusal, kPapplCounts);
	if (papplJobIsCanceled(job))
		return finish_job(job, cancelled_job(raster->writer.PageCount()), kPapplCounts);
	std::string error;
	if (!raster->opened) {
		return finish_job(job, refused_job("not printed: the document has no pages",
			PAPPL_JREASON_DOCUMENT_FORMAT_ERROR), kPapplCounts);
	}
	if (!raster->writer.Close(&error)) {
		return finish_job(job, refused_job("cannot write the spool file: " + error,
			PAPPL_JREASON_ABORTED_BY_SYSTEM), kPapplCounts);
	}
	return finish_job(job, print_spool(job, device, raster->spool.Path(), raster->settings),
		kPapplCounts);
}

}  // namespace printer_app
