// What both CUPS filters of the driver do around their job: read the command line CUPS gives
// (or a person asking for the version), and hear CUPS cancel the job.
#pragma once

namespace cups_filter {

// The command line: `program job-id user title copies options [file]`. -1 to go on; else
// the exit status, having answered --version or written the usage line.
int check_arguments(int argc, char** argv, const char* program);

// From here on the first SIGTERM (CUPS cancelling the job) asks the job to stop at the
// driver's next band; a second one ends the process.
void watch_for_cancel();

// Whether CUPS has cancelled the job.
bool cancelled();

}  // namespace cups_filter
