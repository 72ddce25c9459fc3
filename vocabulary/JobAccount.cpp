#include "JobAccount.h"

#include <Message.h>

namespace {

const char* const kNoDriverRecord = "the driver left no account of the job; it may not have "
	"printed";
const char* const kNoTransportRecord = "the transport left no account of the job; it may not "
	"have printed";

std::string plural(int64 count, const char* one, const char* many)
{
	return std::to_string(count) + " " + (count == 1 ? one : many);
}

// A job that did not print whole and whose destination the transport left as it was (a File
// printer's file that is replaced only by a whole job): nothing of it was printed, however
// far the driver got.
bool left_as_it_was(const JobAccount& account)
{
	return !account.Printed() && account.delivered && account.delivery.untouched;
}

bool interrupted(const JobAccount& account)
{
	return account.recorded && account.job.stop == JobStop::interrupted;
}

// What a line about a job that left its destination as it was adds: that it is.
std::string untouched_note(const JobAccount& account)
{
	const std::string& where = account.delivery.destination;
	int32 whole = account.recorded ? account.job.pages_sent : 0;
	if (whole == 0 || interrupted(account))
		return " (" + where + " is as it was)";
	return " (" + plural(whole, "whole page was", "whole pages were") + " not written to " + where
		+ ", which is as it was)";
}

}  // namespace

bool JobAccount::NothingSent() const
{
	if (fault == Fault::no_record)
		return true;
	return recorded && job.pages_sent == 0
		&& (job.stop == JobStop::settings_refused || job.stop == JobStop::geometry_refused
			|| job.stop == JobStop::no_transport);
}

JobAccount account_for_job(bool recorded, const JobOutcome& job, bool delivered,
	const TransportReport& delivery)
{
	typedef JobAccount::Fault Fault;
	JobAccount account;
	account.recorded = recorded;
	account.job = recorded ? job : JobOutcome();
	account.delivered = delivered;
	account.delivery = delivered ? delivery : TransportReport();
	bool transportFailed = delivered && !delivery.error.empty();
	if (!recorded)
		account.fault = Fault::no_record;
	else if (job.stop == JobStop::interrupted)
		account.fault = Fault::driver;  // what the transport said as it let go is not a fault
	else if (transportFailed)
		account.fault = Fault::transport;  // a transport that could not open says why too
	else if (!job.Completed())
		account.fault = Fault::driver;
	else if (!delivered)
		account.fault = Fault::no_delivery;
	return account;
}

void account_for_document(JobAccount* account, const std::string& file,
	const std::string& reason)
{
	if (account->fault != JobAccount::Fault::driver || account->job.stop == JobStop::interrupted
		|| account->job.stop == JobStop::no_transport)
		return;
	account->fault = JobAccount::Fault::document;
	account->file = file;
	account->reason = reason;
}

void account_to_message(const JobAccount& account, BMessage* message)
{
	message->MakeEmpty();
	message->AddInt32("fault", static_cast<int32>(account.fault));
	message->AddBool("recorded", account.recorded);
	BMessage record;
	job_outcome_to_message(account.job, &record);
	message->AddMessage("job", &record);
	message->AddBool("delivered", account.delivered);
	message->AddInt64("bytes", account.delivery.bytes);
	message->AddString("error", account.delivery.error.c_str());
	message->AddString("destination", account.delivery.destination.c_str());
	message->AddBool("untouched", account.delivery.untouched);
	message->AddString("file", account.file.c_str());
	message->AddString("reason", account.reason.c_str());
}

bool account_from_message(const BMessage& message, JobAccount* account)
{
	int32 fault;
	BMessage record;
	JobAccount read;
	if (message.FindInt32("fault", &fault) != B_OK || fault < 0
		|| fault > static_cast<int32>(JobAccount::Fault::document)
		|| message.FindMessage("job", &record) != B_OK
		|| !job_outcome_from_message(record, &read.job))
		return false;
	read.fault = static_cast<JobAccount::Fault>(fault);
	message.FindBool("recorded", &read.recorded);
	message.FindBool("delivered", &read.delivered);
	message.FindInt64("bytes", &read.delivery.bytes);
	message.FindBool("untouched", &read.delivery.untouched);
	const char* text;
	if (message.FindString("error", &text) == B_OK)
		read.delivery.error = text;
	if (message.FindString("destination", &text) == B_OK)
		read.delivery.destination = text;
	if (message.FindString("file", &text) == B_OK)
		read.file = text;
	if (message.FindString("reason", &text) == B_OK)
		read.reason = text;
	*account = read;
	return true;
}

std::string account_head(const JobAccount& account)
{
	typedef JobAccount::Fault Fault;
	if (left_as_it_was(account))
		return interrupted(account) ? "interrupted: not printed" : "not printed";
	switch (account.fault) {
		case Fault::no_record:
		case Fault::no_delivery:
			return std::string();
		case Fault::transport:
			if (account.job.stop == JobStop::no_transport)
				return "not printed";
			return "the job failed after " + plural(account.delivery.bytes, "byte", "bytes");
		case Fault::document:
			if (account.job.pages_sent == 0)
				return "not printed";
			return "printed " + std::to_string(account.job.pages_sent) + " of "
				+ plural(account.job.pages_announced, "page", "pages");
		default:
			return job_outcome_head(account.job);
	}
}

std::string account_reason(const JobAccount& account)
{
	typedef JobAccount::Fault Fault;
	switch (account.fault) {
		case Fault::none:
			return std::string();
		case Fault::no_record:
			return kNoDriverRecord;
		case Fault::no_delivery:
			return kNoTransportRecord;
		case Fault::transport:
			return account.delivery.error;
		case Fault::document:
			return account.file.empty() ? account.reason : account.file + ": " + account.reason;
		case Fault::driver:
			return job_outcome_reason(account.job);
	}
	return std::string();
}

std::string describe_account(const JobAccount& account)
{
	std::string head = account_head(account);
	std::string reason = account_reason(account);
	std::string line = head.empty() ? reason : reason.empty() ? head : head + ": " + reason;
	return left_as_it_was(account) ? line + untouched_note(account) : line;
}
