// The job outcome record as the driver writes it and the print server reads it back, and the
// words the user is given for it.

#include <JobOutcome.h>

#include "support/TempRoot.h"

#include <Node.h>
#include <TypeConstants.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(JobOutcome, RecordReadsBackFieldForFieldAndOnlyOnce)
{
	TempRoot root;
	std::string folder = root.Sub("printer");
	std::filesystem::create_directories(folder);
	BNode node(folder.c_str());
	JobOutcome read;
	EXPECT_FALSE(read_job_outcome(&node, &read));  // none yet

	JobOutcome written;
	written.stop = JobStop::settings_refused;
	written.pages_sent = 3;
	written.pages_announced = 7;
	written.copies = 500;
	written.copies_sent = 12;
	written.stop_page = 4;
	written.pictures_unread = 2;
	written.pictures_cut = 1;
	written.field = "xres";
	written.value = "50";
	written.detail = "why";
	ASSERT_EQ(write_job_outcome(&node, written), B_OK);
	ASSERT_TRUE(read_job_outcome(&node, &read));
	EXPECT_EQ(read.stop, written.stop);
	EXPECT_EQ(read.pages_sent, 3);
	EXPECT_EQ(read.pages_announced, 7);
	EXPECT_EQ(read.copies, 500);
	EXPECT_EQ(read.copies_sent, 12);
	EXPECT_EQ(read.stop_page, 4);
	EXPECT_EQ(read.pictures_unread, 2);
	EXPECT_EQ(read.pictures_cut, 1);
	EXPECT_EQ(read.field, "xres");
	EXPECT_EQ(read.value, "50");
	EXPECT_EQ(read.detail, "why");

	// A second record replaces the first; a cleared folder has none.
	ASSERT_EQ(write_job_outcome(&node, JobOutcome()), B_OK);
	ASSERT_TRUE(read_job_outcome(&node, &read));
	EXPECT_TRUE(read.Completed());
	EXPECT_EQ(read.field, "");
	clear_job_outcome(&node);
	EXPECT_FALSE(read_job_outcome(&node, &read));

	// Bytes that are not a record, or a stop reason from a later driver, are no record.
	const char junk[] = "not a message";
	node.WriteAttr(kJobOutcomeAttr, B_MESSAGE_TYPE, 0, junk, sizeof(junk));
	EXPECT_FALSE(read_job_outcome(&node, &read));
	JobOutcome unknown;
	unknown.stop = static_cast<JobStop>(99);
	ASSERT_EQ(write_job_outcome(&node, unknown), B_OK);
	EXPECT_FALSE(read_job_outcome(&node, &read));
}

struct Words {
	JobOutcome outcome;
	const char* expected;
};

JobOutcome make(JobStop stop, int32 sent, int32 announced, int32 page = 0, int32 copies = 1,
	int32 copiesSent = 0, const char* field = "", const char* value = "",
	const char* detail = "")
{
	JobOutcome outcome;
	outcome.stop = stop;
	outcome.pages_sent = sent;
	outcome.pages_announced = announced;
	outcome.stop_page = page;
	outcome.copies = copies;
	outcome.copies_sent = copiesSent;
	outcome.field = field;
	outcome.value = value;
	outcome.detail = detail;
	return outcome;
}

TEST(JobOutcome, DescribedInTheUsersWords)
{
	const Words cases[] = {
		{make(JobStop::completed, 1, 1), "printed 1 page"},
		{make(JobStop::completed, 3, 3), "printed 3 pages"},
		{make(JobStop::settings_refused, 0, 1, 0, 1, 0, "xres"),
			"not printed: the job's settings have no resolution (\"xres\")"},
		{make(JobStop::settings_refused, 0, 1, 0, 1, 0, "xres", "50"),
			"not printed: the job's resolution (\"xres\") 50 dpi cannot be printed"},
		{make(JobStop::settings_refused, 0, 1), "not printed: the job's settings cannot be read"},
		{make(JobStop::spool_cut, 2, 3, 3),
			"printed 2 of 3 pages: the spool file ends inside page 3"},
		{make(JobStop::spool_cut, 0, 3, 1), "not printed: the spool file ends inside page 1"},
		{make(JobStop::interrupted, 0, 1, 1, 500, 12), "interrupted after 12 of 500 copies"},
		{make(JobStop::interrupted, 2, 5, 3, 2, 1), "interrupted after 2 of 5 pages"},
		// Stopped while the transport opened, before the spool file was read.
		{make(JobStop::interrupted, 0, 0), "interrupted after 0 pages"},
		{make(JobStop::geometry_refused, 0, 1, 0, 1, 0, "", "", "the paper is too tall"),
			"not printed: the paper is too tall"},
		{make(JobStop::no_memory, 1, 2, 2), "printed 1 of 2 pages: out of memory in page 2"},
	};
	for (const Words& test : cases)
		EXPECT_EQ(describe_job_outcome(test.outcome), test.expected);
}

}  // namespace
