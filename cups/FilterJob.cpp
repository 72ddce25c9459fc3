#include "FilterJob.h"

#include "JobOutcome.h"
#include "TessaryVersion.h"

#include <csignal>
#include <cstdio>

namespace cups_filter {

namespace {

volatile sig_atomic_t sCancelled = 0;

void cancel_job(int)
{
	sCancelled = 1;
	request_job_stop();
}

}  // namespace

int check_arguments(int argc, char** argv, const char* program)
{
	if (answer_version(argc, argv, program))
		return 0;
	if (argc < 6 || argc > 7) {
		fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
		return 1;
	}
	return -1;
}

void watch_for_cancel()
{
	struct sigaction action = {};
	action.sa_handler = cancel_job;
	action.sa_flags = SA_RESETHAND;
	sigemptyset(&action.sa_mask);
	sigaction(SIGTERM, &action, nullptr);
}

bool cancelled()
{
	return sCancelled != 0;
}

}  // namespace cups_filter
