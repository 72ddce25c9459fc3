#include "DriverRun.h"

#include "DriverAddOn.h"
#include "JobOutcome.h"
#include "PrinterFolder.h"
#include "TransportOutcome.h"

#include <File.h>
#include <Node.h>

namespace frontend {

bool run_driver_job(DriverAddOn* driver, const std::string& folder, BFile* spool,
	const BMessage& settings, const std::string& jobName, JobAccount* account,
	std::string* error)
{
	BNode printer(folder.c_str());
	if (printer.InitCheck() != B_OK) {
		*error = "cannot open the printer folder " + folder;
		return false;
	}
	clear_outcome(printer);
	clear_job_outcome(&printer);
	write_string_attr(printer, kJobNameAttr, jobName);

	driver->PrintSpool(spool, &printer, settings);

	JobOutcome job;
	bool recorded = read_job_outcome(&printer, &job);
	TransportReport delivery;
	bool delivered = read_transport_outcome(printer, &delivery);
	// A transport that gave up because the job was asked to stop fails the write the driver
	// was in, its own opening, or the end of a job the driver had sent whole; the job was
	// stopped all the same, as it is when the driver sees the request between bands.
	if (recorded && delivered && !delivery.error.empty() && job_stop_requested()
		&& (job.stop == JobStop::transport_failed || job.stop == JobStop::no_transport
			|| job.stop == JobStop::completed))
		job.stop = JobStop::interrupted;
	*account = account_for_job(recorded, job, delivered, delivery);
	return true;
}

}  // namespace frontend
