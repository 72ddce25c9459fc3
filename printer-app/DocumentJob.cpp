// PDF documents, laid out on the paper exactly as the print tool lays them out (the same
// document reader and layout): the job's options become the settings, the document becomes
// a spool file page by page, and the spool goes through the driver.
#include "Drivers.h"
#include "DeviceRun.h"
#include "IppSettings.h"
#include "SpoolPlan.h"

#include <memory>
#include <string>

namespace printer_app {

namespace {

struct PrintOptionsDeleter {
	void operator()(pappl_pr_options_t* options) const { papplJobDeletePrintOptions(options); }
};
typedef std::unique_ptr<pappl_pr_options_t, PrintOptionsDeleter> PrintOptions;

// The user knows the document by its job name.
std::string document_name(pappl_job_t* job)
{
	const char* name = papplJobGetName(job);
	return "\"" + std::string(name != nullptr && name[0] != '\0' ? name : "the document") + "\"";
}

}  // namespace

bool print_document(pappl_job_t* job, pappl_device_t* device, void*)
{
	// PAPPL 1.3.1 drops the document of a job cancelled just as it starts.
	const char* filename = papplJobGetFilename(job);
	if (filename == nullptr)
		return finish_job(job, cancelled_job(0));
	std::string path = filename;
	PrintOptions options(papplJobCreatePrintOptions(job, 0, true));
	if (options == nullptr) {
		return finish_job(job, refused_job("not printed: the job's options cannot be read",
			PAPPL_JREASON_ABORTED_BY_SYSTEM));
	}
	BMessage settings;
	settings_for_job(*options, Content::kDocument, &settings);

	JobSpoolFile spool(job);
	if (spool.Path().empty()) {
		return finish_job(job, refused_job("cannot make a spool file for the job",
			PAPPL_JREASON_ABORTED_BY_SYSTEM));
	}
	int32 pages = 0;
	frontend::DocumentError error;
	bool spooled = frontend::write_spool(spool.Path(), {path}, settings, "", &pages, &error,
		true, [job] { return papplJobIsCanceled(job); });
	if (!spooled && papplJobIsCanceled(job))
		return finish_job(job, cancelled_job(0));
	if (!spooled) {
		if (error.file == path)
			error.file = document_name(job);
		return finish_job(job, refused_job("not printed: " + error.InWords(),
			PAPPL_JREASON_DOCUMENT_FORMAT_ERROR));
	}
	papplJobSetImpressions(job, pages);
	return finish_job(job, print_spool(job, device, spool.Path(), settings));
}

}  // namespace printer_app
