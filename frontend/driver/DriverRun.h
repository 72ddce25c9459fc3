// One job through the driver, as the print server runs it: the records of the printer's
// last job cleared, the job's name left for the transport, take_job on the spool file (with
// the printer's node handed over through the settings, as the server does), and the
// driver's and the transport's records read back into one account.
//
// The driver's engine state is process-wide: a process runs one job at a time.
#pragma once

#include "JobAccount.h"

#include <Message.h>

#include <string>

class BFile;

namespace frontend {

class DriverAddOn;

// Runs the job; false with the reason only when the printer's folder cannot be opened (then
// the driver was not called). The account says how the job went: interrupted, too, when a
// stop request made the transport give up (job_stop_requested is set when the records are
// read, and the transport's record has an error).
bool run_driver_job(DriverAddOn* driver, const std::string& folder, BFile* spool,
	const BMessage& settings, const std::string& jobName, JobAccount* account,
	std::string* error);

}  // namespace frontend
