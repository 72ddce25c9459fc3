#include "JobOutcome.h"

#include "JobSettings.h"

#include <Message.h>
#include <TypeConstants.h>
#include <fs_attr.h>

#include <atomic>
#include <vector>

const char* const kJobOutcomeAttr = "job:outcome";

namespace {

// A record is a few hundred bytes; anything far larger is not one.
const off_t kMaxRecordSize = 64 * 1024;

// Lock-free, so that a signal handler may set it.
std::atomic<bool> sStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

std::string plural(int32 count, const char* one, const char* many)
{
	return std::to_string(count) + " " + (count == 1 ? one : many);
}

// What a settings field is to the user.
std::string field_in_words(const std::string& field)
{
	if (field == kXResField)
		return "resolution";
	if (field == kCopiesField)
		return "number of copies";
	if (field == kBWModeField)
		return "colour mode";
	if (field == kPaperRectField)
		return "paper size";
	return "field";
}

std::string refused_settings(const JobOutcome& outcome)
{
	if (outcome.field.empty())
		return "the job's settings cannot be read";
	std::string named = field_in_words(outcome.field) + " (\"" + outcome.field + "\")";
	if (outcome.value.empty())
		return "the job's settings have no " + named;
	std::string text = "the job's " + named + " " + outcome.value;
	if (outcome.field == kXResField)
		text += " dpi";
	return text + " cannot be printed";
}

// Why a job stopped after it began sending, as the second half of the line.
std::string reason_of(const JobOutcome& outcome)
{
	std::string page = std::to_string(outcome.stop_page);
	switch (outcome.stop) {
		case JobStop::spool_cut:
			if (outcome.stop_page == 0)
				return "the spool file ends before its first page";
			return "the spool file ends inside page " + page;
		case JobStop::no_memory:
			return "out of memory in page " + page;
		case JobStop::transport_failed:
			return "the printer's connection failed in page " + page;
		case JobStop::drawing_failed:
			return (outcome.detail.empty() ? std::string("page ") + page + " cannot be drawn"
				: outcome.detail);
		default:
			return outcome.detail;
	}
}

}  // namespace


void clear_job_outcome(BNode* folder)
{
	if (folder != nullptr)
		folder->RemoveAttr(kJobOutcomeAttr);
}


void job_outcome_to_message(const JobOutcome& outcome, BMessage* record)
{
	record->MakeEmpty();
	record->AddInt32("stop", static_cast<int32>(outcome.stop));
	record->AddInt32("pages_sent", outcome.pages_sent);
	record->AddInt32("pages_announced", outcome.pages_announced);
	record->AddInt32("copies", outcome.copies);
	record->AddInt32("copies_sent", outcome.copies_sent);
	record->AddInt32("stop_page", outcome.stop_page);
	record->AddInt32("pictures_unread", outcome.pictures_unread);
	record->AddInt32("pictures_cut", outcome.pictures_cut);
	record->AddString("field", outcome.field.c_str());
	record->AddString("value", outcome.value.c_str());
	record->AddString("detail", outcome.detail.c_str());
}


bool job_outcome_from_message(const BMessage& record, JobOutcome* outcome)
{
	int32 stop;
	if (record.FindInt32("stop", &stop) != B_OK || stop < 0
		|| stop > static_cast<int32>(JobStop::no_transport))
		return false;
	JobOutcome read;
	read.stop = static_cast<JobStop>(stop);
	record.FindInt32("pages_sent", &read.pages_sent);
	record.FindInt32("pages_announced", &read.pages_announced);
	record.FindInt32("copies", &read.copies);
	record.FindInt32("copies_sent", &read.copies_sent);
	record.FindInt32("stop_page", &read.stop_page);
	record.FindInt32("pictures_unread", &read.pictures_unread);
	record.FindInt32("pictures_cut", &read.pictures_cut);
	const char* text;
	if (record.FindString("field", &text) == B_OK)
		read.field = text;
	if (record.FindString("value", &text) == B_OK)
		read.value = text;
	if (record.FindString("detail", &text) == B_OK)
		read.detail = text;
	*outcome = read;
	return true;
}


status_t write_job_outcome(BNode* folder, const JobOutcome& outcome)
{
	if (folder == nullptr)
		return B_BAD_VALUE;
	BMessage record;
	job_outcome_to_message(outcome, &record);
	ssize_t size = record.FlattenedSize();
	std::vector<char> flat(static_cast<size_t>(size));
	status_t status = record.Flatten(flat.data(), size);
	if (status != B_OK)
		return status;
	ssize_t written = folder->WriteAttr(kJobOutcomeAttr, B_MESSAGE_TYPE, 0, flat.data(),
		flat.size());
	return written < 0 ? static_cast<status_t>(written) : B_OK;
}


bool read_job_outcome(BNode* folder, JobOutcome* outcome)
{
	attr_info info;
	if (folder == nullptr || folder->GetAttrInfo(kJobOutcomeAttr, &info) != B_OK
		|| info.type != B_MESSAGE_TYPE || info.size <= 0 || info.size > kMaxRecordSize)
		return false;
	std::vector<char> flat(static_cast<size_t>(info.size));
	if (folder->ReadAttr(kJobOutcomeAttr, B_MESSAGE_TYPE, 0, flat.data(), flat.size())
		!= static_cast<ssize_t>(flat.size()))
		return false;
	BMessage record;
	return record.Unflatten(flat.data(), flat.size()) == B_OK
		&& job_outcome_from_message(record, outcome);
}


std::string job_outcome_head(const JobOutcome& outcome)
{
	switch (outcome.stop) {
		case JobStop::completed:
			return "printed " + plural(outcome.pages_sent, "page", "pages");
		case JobStop::settings_refused:
		case JobStop::geometry_refused:
		case JobStop::no_transport:
			return "not printed";
		case JobStop::interrupted:
			// A one-page job of many copies is counted in copies, as the user asked for it.
			if (outcome.pages_announced == 1 && outcome.copies > 1) {
				return "interrupted after " + std::to_string(outcome.copies_sent) + " of "
					+ plural(outcome.copies, "copy", "copies");
			}
			// Stopped before the driver read the spool file: while its transport opened.
			if (outcome.pages_announced == 0)
				return "interrupted after " + plural(outcome.pages_sent, "page", "pages");
			return "interrupted after " + std::to_string(outcome.pages_sent) + " of "
				+ plural(outcome.pages_announced, "page", "pages");
		default:
			break;
	}
	return outcome.pages_sent == 0 ? std::string("not printed")
		: "printed " + std::to_string(outcome.pages_sent) + " of "
			+ plural(outcome.pages_announced, "page", "pages");
}


std::string job_outcome_reason(const JobOutcome& outcome)
{
	switch (outcome.stop) {
		case JobStop::completed:
		case JobStop::interrupted:
			return std::string();
		case JobStop::settings_refused:
			return refused_settings(outcome);
		case JobStop::geometry_refused:
		case JobStop::no_transport:
			return outcome.detail;
		default:
			return reason_of(outcome);
	}
}


std::string describe_job_outcome(const JobOutcome& outcome)
{
	std::string reason = job_outcome_reason(outcome);
	std::string head = job_outcome_head(outcome);
	return reason.empty() ? head : head + ": " + reason;
}


void request_job_stop()
{
	sStopRequested.store(true, std::memory_order_relaxed);
}


bool job_stop_requested()
{
	return sStopRequested.load(std::memory_order_relaxed);
}


void reset_job_stop()
{
	sStopRequested.store(false, std::memory_order_relaxed);
}
