// Raster pages as PAPPL hands them over (PWG and Apple raster, drawn by the client at one of
// the printer's resolutions): each page becomes a page of pixels in the spool file, placed 1:1
// on the device's dots, and the job goes through the driver when PAPPL ends it. Rows stream
// from PAPPL into the spool file a strip at a time; no page is held whole.
#include "Drivers.h"
#include "DeviceRun.h"
#include "IppSettings.h"
#include "JobSettings.h"
#include "PixelPage.h"
#include "RasterPage.h"
#include "Spool.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace printer_app {

namespace {

struct RasterJob {
	explicit RasterJob(pappl_job_t* job) : spool(job) {}

	BMessage settings;
	JobSpoolFile spool;
	frontend::SpoolWriter writer;
	frontend::PixelPageWriter pixels;
	bool opened = false;          // the spool file has its header and settings
	int32 resolution = 0;         // of the pages, dots per inch
	std::unique_ptr<frontend::RasterRows> rows;  // of the page PAPPL is handing over
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
	// Pages drawn for the paper: its size is the raster's, at the raster's resolution.
	frontend::RasterRules rules;
	rules.paper = frontend::RasterPaper::kRasterSize;
	rules.oneBitBlack = true;
	frontend::RasterPage page;
	std::string refusal;
	if (!frontend::read_raster_page(options->header, rules, &page, &refusal)) {
		return refuse(raster, "not printed: " + refusal,
			PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR);
	}
	if (raster->opened && page.dpi != raster->resolution) {
		return refuse(raster, "not printed: the pages change resolution within the job",
			PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR);
	}
	raster->rows = std::make_unique<frontend::RasterRows>(page);

	std::string error;
	if (!raster->opened) {
		// Pages without colour print with the black ink alone.
		frontend::store_raster_page(page, &raster->settings);
		if (raster->spool.Path().empty()
			|| !raster->writer.Open(raster->spool.Path(), raster->settings, &error))
			return refuse(raster, "cannot write the spool file: " + error,
				PAPPL_JREASON_ABORTED_BY_SYSTEM);
		raster->opened = true;
		raster->resolution = page.dpi;
	}

	frontend::SpoolWriter* writer = &raster->writer;
	bool begun = writer->BeginPage(&error)
		&& raster->pixels.Begin(page.Area(), page.PixelFormat(),
			[writer](const frontend::SpooledPicture& strip, std::string* stripError) {
				return writer->AddPicture(strip, stripError);
			}, &error);
	if (!begun)
		return refuse(raster, "cannot write the spool file: " + error,
			PAPPL_JREASON_ABORTED_BY_SYSTEM);
	return true;
}

bool raster_write_line(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned,
	const unsigned char* line)
{
	RasterJob* raster = job_of(job);
	std::string error;
	if (raster == nullptr)
		return false;
	if (!raster->pixels.AddRow(raster->rows->Convert(line), &error))
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
