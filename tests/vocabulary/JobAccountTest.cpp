// The account of a job: which side failed first when the driver's and the transport's
// records are weighed together, and the same account in a whole line (the print tool's), as
// a reason alone (the CUPS filter's ERROR: line), with a document that failed on the way.
#include <JobAccount.h>

#include <Message.h>

#include <gtest/gtest.h>

#include <string>

namespace {

JobOutcome outcome(JobStop stop, int32 sent, int32 announced, int32 stopPage = 0)
{
	JobOutcome job;
	job.stop = stop;
	job.pages_sent = sent;
	job.pages_announced = announced;
	job.copies = 1;
	job.stop_page = stopPage;
	return job;
}

TransportReport delivery(int64 bytes, const char* error = "")
{
	return TransportReport{bytes, error, "/tmp/out.pcl"};
}

// The record of a File printer's file that the job did not replace.
TransportReport untouched(int64 bytes, const char* error = "")
{
	return TransportReport{bytes, error, "/tmp/out.pcl", true};
}

}  // namespace

TEST(JobAccount, WeighsBothRecordsAndWordsThemForEveryAudience)
{
	typedef JobAccount::Fault Fault;
	JobOutcome noTransport = outcome(JobStop::no_transport, 0, 1);
	noTransport.detail = "the transport \"USB\" cannot be loaded";
	struct Case {
		const char* name;
		bool recorded;
		JobOutcome job;
		bool delivered;
		TransportReport delivery;
		Fault fault;
		const char* line;
		const char* reason;
	};
	const Case cases[] = {
		{"printed whole", true, outcome(JobStop::completed, 3, 3), true, delivery(4096),
			Fault::none, "printed 3 pages", ""},
		{"the printer hung up", true, outcome(JobStop::transport_failed, 1, 3, 2), true,
			delivery(4096, "connection reset by the printer"), Fault::transport,
			"the job failed after 4096 bytes: connection reset by the printer",
			"connection reset by the printer"},
		{"one byte", true, outcome(JobStop::transport_failed, 0, 1, 1), true,
			delivery(1, "broken pipe"), Fault::transport, "the job failed after 1 byte: broken pipe",
			"broken pipe"},
		{"the transport could not open, and says why", true, noTransport, true,
			delivery(0, "cannot connect to printer:9100: connection refused"), Fault::transport,
			"not printed: cannot connect to printer:9100: connection refused",
			"cannot connect to printer:9100: connection refused"},
		{"no transport to open", true, noTransport, false, TransportReport(), Fault::driver,
			"not printed: the transport \"USB\" cannot be loaded",
			"the transport \"USB\" cannot be loaded"},
		{"stopped while the printer took nothing", true,
			outcome(JobStop::interrupted, 1, 3, 2), true,
			delivery(4096, "the job was stopped before the printer took every byte"),
			Fault::driver, "interrupted after 1 of 3 pages", ""},
		{"the spool ends early", true, outcome(JobStop::spool_cut, 2, 3, 3), true,
			delivery(9000), Fault::driver,
			"printed 2 of 3 pages: the spool file ends inside page 3",
			"the spool file ends inside page 3"},
		{"no driver record", false, JobOutcome(), true, delivery(10), Fault::no_record,
			"the driver left no account of the job; it may not have printed",
			"the driver left no account of the job; it may not have printed"},
		{"no transport record", true, outcome(JobStop::completed, 1, 1), false,
			TransportReport(), Fault::no_delivery,
			"the transport left no account of the job; it may not have printed",
			"the transport left no account of the job; it may not have printed"},
		// A destination left as it was holds nothing of the job, however far the driver got.
		{"the spool ends early, the file as it was", true,
			outcome(JobStop::spool_cut, 2, 3, 3), true, untouched(9000), Fault::driver,
			"not printed: the spool file ends inside page 3 (2 whole pages were not written "
			"to /tmp/out.pcl, which is as it was)", "the spool file ends inside page 3"},
		{"one whole page", true, outcome(JobStop::no_memory, 1, 2, 2), true, untouched(900),
			Fault::driver, "not printed: out of memory in page 2 (1 whole page was not "
			"written to /tmp/out.pcl, which is as it was)", "out of memory in page 2"},
		{"refused, the file as it was", true, outcome(JobStop::geometry_refused, 0, 1), true,
			untouched(0), Fault::driver, "not printed (/tmp/out.pcl is as it was)", ""},
		{"the disk filled up, the file as it was", true,
			outcome(JobStop::transport_failed, 0, 1, 1), true,
			untouched(65536, "cannot write the file: File too large"), Fault::transport,
			"not printed: cannot write the file: File too large (/tmp/out.pcl is as it was)",
			"cannot write the file: File too large"},
		{"interrupted, the file as it was", true, outcome(JobStop::interrupted, 1, 3, 2), true,
			untouched(4096), Fault::driver,
			"interrupted: not printed (/tmp/out.pcl is as it was)", ""},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.name);
		JobAccount account = account_for_job(c.recorded, c.job, c.delivered, c.delivery);
		EXPECT_EQ(account.fault, c.fault);
		EXPECT_EQ(account.Printed(), c.fault == Fault::none);
		EXPECT_EQ(describe_account(account), c.line);
		EXPECT_EQ(account_reason(account), c.reason);
		// The records come with the account, as they were read.
		EXPECT_EQ(account.job.pages_sent, c.recorded ? c.job.pages_sent : 0);
		EXPECT_EQ(account.delivery.bytes, c.delivered ? c.delivery.bytes : 0);
	}
}

TEST(JobAccount, ADocumentThatFailedIsTheJobsFaultOnlyWhenNothingElseFailedFirst)
{
	typedef JobAccount::Fault Fault;
	JobAccount cut = account_for_job(true, outcome(JobStop::spool_cut, 3, 4, 4), true,
		delivery(100));
	account_for_document(&cut, "photo.png", "damaged PNG image (CRC error)");
	EXPECT_EQ(cut.fault, Fault::document);
	EXPECT_EQ(describe_account(cut),
		"printed 3 of 4 pages: photo.png: damaged PNG image (CRC error)");
	EXPECT_EQ(account_reason(cut), "photo.png: damaged PNG image (CRC error)");

	JobAccount first = account_for_job(true, outcome(JobStop::spool_cut, 0, 2, 1), true,
		delivery(0));
	account_for_document(&first, "a.pdf", "page 1 cannot be read");
	EXPECT_EQ(describe_account(first), "not printed: a.pdf: page 1 cannot be read");

	for (JobStop stop : {JobStop::interrupted, JobStop::no_transport}) {
		JobAccount other = account_for_job(true, outcome(stop, 0, 2, 1), false,
			TransportReport());
		account_for_document(&other, "a.pdf", "page 1 cannot be read");
		EXPECT_EQ(other.fault, Fault::driver);
	}
	JobAccount hungUp = account_for_job(true, outcome(JobStop::transport_failed, 0, 2, 1), true,
		delivery(0, "broken pipe"));
	account_for_document(&hungUp, "a.pdf", "page 2 cannot be read");
	EXPECT_EQ(hungUp.fault, Fault::transport);
}

// The account travels between processes as a message (the printer application's job
// processes): every field comes back, the destination left as it was included.
TEST(JobAccount, AMessageCarriesTheWholeAccount)
{
	JobAccount account = account_for_job(true, outcome(JobStop::spool_cut, 2, 3, 3), true,
		untouched(9000));
	account_for_document(&account, "photo.png", "damaged PNG image");
	BMessage message;
	account_to_message(account, &message);
	JobAccount back;
	ASSERT_TRUE(account_from_message(message, &back));
	EXPECT_EQ(back.fault, account.fault);
	EXPECT_EQ(back.job.pages_sent, 2);
	EXPECT_EQ(back.delivery.bytes, 9000);
	EXPECT_EQ(back.delivery.destination, "/tmp/out.pcl");
	EXPECT_TRUE(back.delivery.untouched);
	EXPECT_EQ(back.file, "photo.png");
	EXPECT_EQ(describe_account(back), describe_account(account));
	EXPECT_FALSE(account_from_message(BMessage(), &back));
}
