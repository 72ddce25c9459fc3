// Raster pages as PAPPL streams them (PWG and Apple raster, drawn by the client at one of the
// printer's resolutions): PAPPL hands them over a row at a time, and they go on, as CUPS
// raster, to the job's process, which prints each page through the driver as soon as it is
// read (placed 1:1 on the device's dots). No page is held whole on this side.
#include "DeviceRun.h"
#include "Drivers.h"
#include "IppSettings.h"

#include <cups/raster.h>

#include <cerrno>
#include <memory>
#include <string>
#include <unistd.h>

namespace printer_app {

namespace {

struct RasterCloser {
	void operator()(cups_raster_t* raster) const { cupsRasterClose(raster); }
};

// A streamed raster job, from its first callback to its last.
struct RasterJob {
	RasterJob(pappl_job_t* job, pappl_device_t* device) : turn(job), process(job, device) {}

	PrinterTurn turn;
	JobProcess process;
	int input = -1;  // the job's process's raster input
	std::unique_ptr<cups_raster_t, RasterCloser> raster;  // writes to `input`
	bool started = false;
	bool broken = false;  // the job's process stopped taking pages
	DriverOutcome refusal;
};

ssize_t write_to_process(void* context, unsigned char* buffer, size_t length)
{
	int fd = *static_cast<int*>(context);
	size_t done = 0;
	while (done < length) {
		ssize_t written = write(fd, buffer + done, length - done);
		if (written < 0 && errno == EINTR)
			continue;
		if (written <= 0)
			return -1;
		done += static_cast<size_t>(written);
	}
	return static_cast<ssize_t>(length);
}

RasterJob* job_of(pappl_job_t* job)
{
	return static_cast<RasterJob*>(papplJobGetData(job));
}

}  // namespace

bool raster_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
	auto raster = std::make_unique<RasterJob>(job, device);
	if (!raster->turn.Repeated()) {
		BMessage settings;
		settings_for_job(*options, Content::kRaster, &settings);
		std::string error;
		if (raster->process.Start(settings, JobProcess::Input::kRaster, std::string(),
				&error)) {
			raster->started = true;
			raster->input = raster->process.RasterInput();
		} else {
			raster->refusal = refused_job(error, PAPPL_JREASON_ABORTED_BY_SYSTEM);
		}
	}
	papplJobSetData(job, raster.release());
	return true;
}

bool raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*,
	unsigned)
{
	RasterJob* raster = job_of(job);
	if (raster == nullptr || !raster->started || raster->broken)
		return false;
	if (raster->raster == nullptr) {
		raster->raster.reset(cupsRasterOpenIO(write_to_process, &raster->input,
			CUPS_RASTER_WRITE));
		if (raster->raster == nullptr) {
			raster->broken = true;
			return false;
		}
	}
	cups_page_header2_t header = options->header;
	if (!cupsRasterWriteHeader2(raster->raster.get(), &header)) {
		raster->broken = true;
		return false;
	}
	return true;
}

bool raster_write_line(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned,
	const unsigned char* line)
{
	RasterJob* raster = job_of(job);
	if (raster == nullptr || raster->raster == nullptr || raster->broken)
		return false;
	unsigned bytes = options->header.cupsBytesPerLine;
	if (cupsRasterWritePixels(raster->raster.get(), const_cast<unsigned char*>(line), bytes)
		!= bytes) {
		raster->broken = true;
		return false;
	}
	return true;
}

bool raster_end_page(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned)
{
	RasterJob* raster = job_of(job);
	return raster != nullptr && !raster->broken;
}

bool raster_end_job(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*)
{
	std::unique_ptr<RasterJob> raster(job_of(job));
	papplJobSetData(job, nullptr);
	// PAPPL's image path calls this a second time when the first call fails.
	if (raster == nullptr)
		return false;
	// PAPPL counts the raster pages it hands over as impressions itself.
	const bool kPapplCounts = false;
	if (raster->turn.Repeated())
		return raster->turn.Outcome().printed;
	if (!raster->started) {
		raster->turn.Done(raster->refusal);
		return finish_job(job, raster->refusal, kPapplCounts);
	}
	raster->raster.reset();
	DriverOutcome outcome = raster->process.Finish();
	raster->turn.Done(outcome);
	return finish_job(job, outcome, kPapplCounts);
}

}  // namespace printer_app
