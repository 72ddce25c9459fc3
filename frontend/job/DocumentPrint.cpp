#include "DocumentPrint.h"

#include "DriverRun.h"
#include "JobOutcome.h"

#include <system_error>
#include <unistd.h>

namespace frontend {

SpoolingThread::SpoolingThread(SpoolPlan plan)
	:
	fPlan(std::move(plan)),
	fPlanned(fPlan.Pages())
{
}

SpoolingThread::~SpoolingThread()
{
	Abandon();
	Join();
}

bool SpoolingThread::Start(const std::string& path, const BMessage& settings,
	std::string* error)
{
	if (!fWriter.Open(path, settings, error, fPlanned))
		return false;
	fFeed.Commit(fWriter.Position());
	try {
		fThread = std::thread(&SpoolingThread::_Spool, this);
	} catch (const std::system_error&) {
		_Spool();  // no thread to be had: spooled first, then printed
	}
	return true;
}

void SpoolingThread::Join()
{
	if (fThread.joinable())
		fThread.join();
}

void SpoolingThread::_Spool()
{
	if (fPlan.SpoolPages(&fWriter, &fFeed,
			[this] { return fAbandoned.load() || job_stop_requested(); }, &fError)) {
		std::string reason;
		fWhole = fWriter.Close(&reason);
		if (!fWhole)
			fError = {"", reason};
	}
	if (job_stop_requested())
		fAbandoned = true;
	fFeed.Finish();
}

bool print_documents(DriverAddOn* driver, SpoolPlan plan, const DocumentJob& job,
	DocumentJobResult* result, std::string* error)
{
	SpoolingThread spooling(std::move(plan));
	result->pagesPlanned = spooling.PagesPlanned();
	if (!spooling.Start(job.spoolPath, job.settings, error))
		return false;

	bool ran = false;
	{
		SpoolReadFile spool(job.spoolPath.c_str(), spooling.Feed(), job.progress,
			spooling.PagesPlanned());
		if (spool.InitCheck() != B_OK) {
			*error = "cannot open the spool file " + job.spoolPath;
		} else {
			ran = run_driver_job(driver, job.folder, &spool, job.settings, job.jobName,
				&result->account, error);
		}
		// A job stopped by the user, or one that never ran, stops its spooling too. Any
		// other job that ended early lets the spooling finish, so that the spool file it
		// keeps is whole.
		if (!ran || job_stop_requested())
			spooling.Abandon();
		spooling.Join();
	}
	result->pagesSpooled = spooling.PagesSpooled();
	result->spooledWhole = spooling.SpooledWhole();
	if (!ran) {
		unlink(job.spoolPath.c_str());
		return false;
	}

	JobAccount& account = result->account;
	if (spooling.Abandoned()) {
		// A stop request that found the driver waiting for pages still being spooled ends
		// the job where the spool ends: the user stopped it all the same.
		if (account.fault == JobAccount::Fault::driver && job_stop_requested())
			account.job.stop = JobStop::interrupted;
	} else if (spooling.Failed()) {
		account_for_document(&account, spooling.Error().file, spooling.Error().reason);
	}
	return true;
}

}  // namespace frontend
