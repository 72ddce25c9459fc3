// How a job went, as the driver tells the print server: the pages sent whole, the pages the
// spool file announced, and why the job stopped when it stopped early.
//
// The driver's take_job writes exactly one record per call, on every path, as the attribute
// "job:outcome" (B_MESSAGE_TYPE, a flattened message) of the printer's folder, before it closes
// the transport; a transport may read it in exit_transport to decide what to do with what it
// holds. The print server, the CUPS filter and the printer application read it after take_job
// has returned. Fields of the flattened message:
//
//   "stop"             int32   a JobStop; 0 when the job was printed whole
//   "pages_sent"       int32   pages sent whole: every copy and the form feed
//   "pages_announced"  int32   the page count of the spool file's header
//   "copies"           int32   copies asked of each page
//   "copies_sent"      int32   copies of the stopped page sent whole before it stopped
//   "stop_page"        int32   the page (from 1) the job stopped in; 0 when none
//   "pictures_unread"  int32   pictures that could not be read (their pages still printed)
//   "pictures_cut"     int32   pictures that stopped drawing at the playback budget
//   "field", "value"   string  the settings field refused and its value ("" when missing)
//   "detail"           string  more on why, in the user's words
//
// A caller asks a running job to stop with request_job_stop(); the job loop looks at the
// request at every band boundary. It is one flag for the whole process, safe to set from a
// signal handler (the print tool's SIGINT, the CUPS filter's SIGTERM) or another thread (a
// printer application's job cancel).
#pragma once

#include <Node.h>

#include <string>

class BMessage;

extern const char* const kJobOutcomeAttr;  // "job:outcome"

enum class JobStop : int32 {
	completed = 0,
	settings_refused = 1,   // "field" and "value" say which
	geometry_refused = 2,   // the paper and resolution give no printable band; "detail"
	spool_cut = 3,          // the spool file ends, or stops making sense, inside "stop_page"
	no_memory = 4,
	transport_failed = 5,   // the transport's stream refused bytes; its own record says why
	interrupted = 6,        // a caller asked the job to stop
	drawing_failed = 7,     // the band could not be drawn; "detail"
	no_transport = 8,       // no transport could be loaded or opened; "detail"
};

struct JobOutcome {
	JobStop stop = JobStop::completed;
	int32 pages_sent = 0;
	int32 pages_announced = 0;
	int32 copies = 0;
	int32 copies_sent = 0;
	int32 stop_page = 0;
	int32 pictures_unread = 0;
	int32 pictures_cut = 0;
	std::string field;
	std::string value;
	std::string detail;

	bool Completed() const { return stop == JobStop::completed; }
};

// Driver side: clear_job_outcome when a job begins, write_job_outcome once when it ends.
void clear_job_outcome(BNode* folder);
status_t write_job_outcome(BNode* folder, const JobOutcome& outcome);

// Reader side: false when the folder holds no record, or one that cannot be read.
bool read_job_outcome(BNode* folder, JobOutcome* outcome);

// The record's fields in a message, and back (false for a message that holds no record).
void job_outcome_to_message(const JobOutcome& outcome, BMessage* record);
bool job_outcome_from_message(const BMessage& record, JobOutcome* outcome);

// The outcome in the user's words, one line without a final stop, e.g. "printed 2 of 3 pages:
// the spool file ends inside page 3" or "not printed: the job's settings have no resolution
// ("xres")". For a completed job: "printed N pages". It is the head and, for a job that
// stopped for a reason, ": " and the reason.
std::string describe_job_outcome(const JobOutcome& outcome);
// How far the job got: "printed N pages", "printed 2 of 3 pages", "not printed",
// "interrupted after 12 of 500 copies".
std::string job_outcome_head(const JobOutcome& outcome);
// Why it stopped, without the head ("the spool file ends inside page 3"); empty for a job
// printed whole or interrupted.
std::string job_outcome_reason(const JobOutcome& outcome);

// The stop request. request_job_stop is async-signal-safe.
void request_job_stop();
bool job_stop_requested();
void reset_job_stop();
