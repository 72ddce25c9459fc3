#include "DocumentPrint.h"

#include "DriverRun.h"
#include "JobOutcome.h"
#include "Spool.h"

#include <unistd.h>

namespace frontend {

bool print_documents(DriverAddOn* driver, const ReaderRequest& reading, const DocumentJob& job,
	DocumentJobResult* result, std::string* error)
{
	ReaderProcess reader;
	if (job.pageBegun) {
		reader.ObserveDriver([&job, &reader](size_t page) {
			if (page < static_cast<size_t>(reader.PagesPlanned()))
				job.pageBegun(static_cast<int32>(page));
		});
	}
	if (!reader.Start(reading, error)) {
		if (!reader.Refused())
			return false;
		result->refused = true;
		result->refusal = reader.Error();
		return true;
	}
	result->pagesPlanned = reader.PagesPlanned();

	bool ran = false;
	{
		SpoolReadFile spool(reader.SpoolPath().c_str(), reader.Feed(), job.progress,
			reader.PagesPlanned());
		if (reader.SpoolInMemory())
			spool.SetDiscard([&reader](off_t from, off_t to) { reader.Discard(from, to); });
		if (spool.InitCheck() != B_OK) {
			*error = "cannot open the spool file " + reader.SpoolPath();
		} else {
			ran = run_driver_job(driver, job.folder, &spool, reading.settings, job.jobName,
				&result->account, error);
		}
	}
	// A job stopped by the user, or one that never ran, stops its reader too. Any other job
	// that ended early lets the reader finish, so that the spool file it keeps is whole; a
	// spool in memory is not kept, and the pages the driver read are gone from it.
	if (!ran || job_stop_requested() || !job.keepWhole || reader.SpoolInMemory())
		reader.Abandon();
	else
		reader.Release();
	reader.Join();
	result->pagesSpooled = reader.PagesSpooled();
	result->spooledWhole = reader.SpooledWhole();
	result->largestSpool = reader.LargestSpool();
	if (!ran) {
		if (!reader.SpoolInMemory())
			unlink(reading.spoolPath.c_str());
		return false;
	}

	JobAccount& account = result->account;
	if (reader.Abandoned()) {
		// A stop request that found the driver waiting for pages still being read ends the
		// job where the spool ends: the user stopped it all the same.
		if (account.fault == JobAccount::Fault::driver && job_stop_requested())
			account.job.stop = JobStop::interrupted;
	} else if (reader.Failed()) {
		account_for_document(&account, reader.Error().file, reader.Error().reason);
	}
	return true;
}

bool spool_documents(const ReaderRequest& reading, int32* pages, DocumentError* error)
{
	ReaderRequest request = reading;
	request.ahead = 0;
	ReaderProcess reader;
	std::string why;
	if (!reader.Start(request, &why)) {
		*error = reader.Refused() ? reader.Error() : DocumentError{"", why};
		return false;
	}
	reader.Join();
	if (!reader.SpooledWhole()) {
		*error = reader.Error();
		unlink(reading.spoolPath.c_str());
		return false;
	}
	*pages = reader.PagesSpooled();
	return true;
}

}  // namespace frontend
