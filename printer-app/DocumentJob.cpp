// Documents (PDF, JPEG, PNG) and raster files, through a job process of their own: the job's
// options become the settings, the document is read by the document reader as the print
// tool reads it (laid out on the paper by the same layout), and its pages go through the
// driver as they are read.
#include "DeviceRun.h"
#include "Drivers.h"
#include "IppSettings.h"
#include "JobSegments.h"
#include "System.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace printer_app {

namespace {

// The web interface's test page: a file of the application's own, and what it says.
const char* const kTestPageFile = "test-page";
const char* const kTestPageMark = "The driver's test page, printed from the web interface.\n";

struct PrintOptionsDeleter {
	void operator()(pappl_pr_options_t* options) const { papplJobDeletePrintOptions(options); }
};
typedef std::unique_ptr<pappl_pr_options_t, PrintOptionsDeleter> PrintOptions;

bool is_raster(const char* format)
{
	return format != nullptr && (strcmp(format, "image/pwg-raster") == 0
		|| strcmp(format, "image/urf") == 0);
}

// Copies a raster file into the job process's raster input.
bool copy_raster(const char* path, int input, std::string* error)
{
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0) {
		*error = std::string("cannot open the document: ") + strerror(errno);
		return false;
	}
	char buffer[64 * 1024];
	bool copied = true;
	for (;;) {
		ssize_t got = read(fd, buffer, sizeof(buffer));
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0) {
			copied = got == 0;
			break;
		}
		const char* bytes = buffer;
		size_t left = static_cast<size_t>(got);
		while (left > 0) {
			ssize_t written = write(input, bytes, left);
			if (written < 0 && errno == EINTR)
				continue;
			if (written <= 0) {
				// The job process stopped reading: its account says why.
				close(fd);
				return true;
			}
			bytes += written;
			left -= static_cast<size_t>(written);
		}
	}
	close(fd);
	if (!copied)
		*error = std::string("cannot read the document: ") + strerror(errno);
	return copied;
}

}  // namespace

bool print_document(pappl_job_t* job, pappl_device_t* device, void*)
{
	PrinterTurn turn(job);
	if (turn.Repeated())
		return turn.Outcome().printed;
	auto finish = [&turn, job](const DriverOutcome& outcome) {
		turn.Done(outcome);
		return finish_job(job, outcome);
	};

	const char* filename = papplJobGetFilename(job);
	if (filename == nullptr || papplJobIsCanceled(job))
		return finish(cancelled_job(0));
	std::string path = filename;
	PrintOptions options(papplJobCreatePrintOptions(job, 0, true));
	if (options == nullptr) {
		return finish(refused_job("not printed: the job's options cannot be read",
			PAPPL_JREASON_ABORTED_BY_SYSTEM));
	}
	bool raster = is_raster(papplJobGetFormat(job));
	// A job that names no printer-resolution prints at its print-quality's.
	bool resolutionAsked = papplJobGetAttribute(job, "printer-resolution") != nullptr;
	BMessage settings;
	if (raster) {
		settings_for_job(*options, Content::kRaster, &settings);
	} else {
		std::vector<JobSegment> segments;
		std::string why;
		if (!segments_for_job(*options, resolutionAsked, papplJobGetAttribute(job, "overrides"),
				&segments, &why))
			return finish(refused_job("not printed: " + why, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR));
		settings = segments_message(segments);
	}

	JobProcess process(job, device);
	std::string error;
	if (!process.Start(settings, raster ? JobProcess::Input::kRaster
			: JobProcess::Input::kDocument, path, &error))
		return finish(refused_job(error, PAPPL_JREASON_ABORTED_BY_SYSTEM));
	if (raster && !copy_raster(path.c_str(), process.RasterInput(), &error)) {
		process.Finish();
		return finish(refused_job("not printed: " + error, PAPPL_JREASON_ABORTED_BY_SYSTEM));
	}
	return finish(process.Finish());
}

const char* test_page_file(pappl_printer_t*, char* buffer, size_t size)
{
	// PAPPL prints the file it is given as a job of the printer: this one says "the test
	// page" to print_raw_document, and is left alone by PAPPL, being outside its spool.
	std::string path = application_folder() + "/" + kTestPageFile;
	if (access(path.c_str(), R_OK) != 0) {
		std::ofstream(path) << kTestPageMark;
		if (access(path.c_str(), R_OK) != 0)
			return nullptr;
	}
	snprintf(buffer, size, "%s", path.c_str());
	return buffer;
}

bool print_raw_document(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
	const char* filename = papplJobGetFilename(job);
	bool testPage = filename != nullptr
		&& std::string(filename) == application_folder() + "/" + kTestPageFile;
	if (!testPage) {
		const char* format = papplJobGetFormat(job);
		return finish_job(job, refused_job(std::string("not printed: the printer prints PDF, "
			"JPEG, PNG and PWG or Apple raster, not ") + (format != nullptr ? format
			: "this document"), PAPPL_JREASON_DOCUMENT_FORMAT_ERROR), false);
	}
	PrinterTurn turn(job);
	if (turn.Repeated())
		return turn.Outcome().printed;
	BMessage settings;
	settings_for_job(*options, Content::kDocument, &settings, false);
	JobProcess process(job, device);
	std::string error;
	DriverOutcome outcome = process.Start(settings, JobProcess::Input::kTestPage, std::string(),
		&error) ? process.Finish() : refused_job(error, PAPPL_JREASON_ABORTED_BY_SYSTEM);
	turn.Done(outcome);
	return finish_job(job, outcome);
}

}  // namespace printer_app
