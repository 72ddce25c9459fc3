// The printer application's pure parts: a job's options as the driver's settings message,
// the three records of a job weighed into what IPP is told, and the server's -o options.

#include "DeviceRun.h"
#include "IppSettings.h"
#include "JobSettings.h"
#include "System.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

using printer_app::Content;

pappl_pr_options_t letter_options()
{
	pappl_pr_options_t options;
	memset(&options, 0, sizeof(options));
	options.media.size_width = 21590;
	options.media.size_length = 27940;
	options.copies = 1;
	options.first_page = 1;
	options.last_page = INT_MAX;
	options.orientation_requested = IPP_ORIENT_PORTRAIT;
	options.print_color_mode = PAPPL_COLOR_MODE_COLOR;
	options.printer_resolution[0] = options.printer_resolution[1] = 300;
	return options;
}

TEST(JobSettings, OptionsBecomeTheFieldsTheDriverReads)
{
	struct Case {
		const char* name;
		void (*change)(pappl_pr_options_t*);
		Content content;
		// expected
		BRect paper;
		int8 layout;
		int8 paperRow;
		int16 bw;
		int32 xres;
		int8 qualityRow;
		int16 copies;
		int32 first, last;
		int8 countType;
	};
	const Case cases[] = {
		{"letter, all defaults", [](pappl_pr_options_t*) {}, Content::kDocument,
			BRect(0, 0, 637.5f, 825), 0, 0, 0, 300, 0, 1, 1, -1, 0},
		{"A4 at 150 dpi", [](pappl_pr_options_t* o) {
			o->media.size_width = 21000;
			o->media.size_length = 29700;
			o->printer_resolution[0] = o->printer_resolution[1] = 150;
		}, Content::kDocument, BRect(0, 0, 620.07874f, 876.96851f), 0, 2, 0, 150, 1, 1, 1, -1, 0},
		{"envelope, landscape, 75 dpi", [](pappl_pr_options_t* o) {
			o->media.size_width = 10478;
			o->media.size_length = 24130;
			o->orientation_requested = IPP_ORIENT_LANDSCAPE;
			o->printer_resolution[0] = o->printer_resolution[1] = 75;
		}, Content::kDocument, BRect(0, 0, 309.39961f, 712.5f), 1, 5, 0, 75, 2, 1, 1, -1, 0},
		{"reverse landscape turns as landscape", [](pappl_pr_options_t* o) {
			o->orientation_requested = IPP_ORIENT_REVERSE_LANDSCAPE;
		}, Content::kDocument, BRect(0, 0, 637.5f, 825), 1, 0, 0, 300, 0, 1, 1, -1, 0},
		{"raster is never turned", [](pappl_pr_options_t* o) {
			o->orientation_requested = IPP_ORIENT_LANDSCAPE;
		}, Content::kRaster, BRect(0, 0, 637.5f, 825), 0, 0, 0, 300, 0, 1, 1, -1, 0},
		{"a size of its own is the page setup's Other", [](pappl_pr_options_t* o) {
			o->media.size_width = 10000;
			o->media.size_length = 15000;
		}, Content::kDocument, BRect(0, 0, 295.27559f, 442.91339f), 0, 6, 0, 300, 0, 1, 1, -1,
			0},
		{"monochrome", [](pappl_pr_options_t* o) {
			o->print_color_mode = PAPPL_COLOR_MODE_MONOCHROME;
		}, Content::kDocument, BRect(0, 0, 637.5f, 825), 0, 0, 1, 300, 0, 1, 1, -1, 0},
		{"auto is colour", [](pappl_pr_options_t* o) {
			o->print_color_mode = PAPPL_COLOR_MODE_AUTO;
		}, Content::kDocument, BRect(0, 0, 637.5f, 825), 0, 0, 0, 300, 0, 1, 1, -1, 0},
		{"copies and a range", [](pappl_pr_options_t* o) {
			o->copies = 3;
			o->first_page = 2;
			o->last_page = 5;
		}, Content::kDocument, BRect(0, 0, 637.5f, 825), 0, 0, 0, 300, 0, 3, 2, 5, 1},
		{"a range from a page to the end", [](pappl_pr_options_t* o) {
			o->first_page = 4;
		}, Content::kDocument, BRect(0, 0, 637.5f, 825), 0, 0, 0, 300, 0, 1, 4, -1, 1},
		{"raster prints every page handed over", [](pappl_pr_options_t* o) {
			o->first_page = 2;
			o->last_page = 3;
		}, Content::kRaster, BRect(0, 0, 637.5f, 825), 0, 0, 0, 300, 0, 1, 1, -1, 0},
		{"copies beyond the job setup's are cut to 999", [](pappl_pr_options_t* o) {
			o->copies = 5000;
		}, Content::kDocument, BRect(0, 0, 637.5f, 825), 0, 0, 0, 300, 0, 999, 1, -1, 0},
	};
	for (const Case& c : cases) {
		pappl_pr_options_t options = letter_options();
		c.change(&options);
		BMessage settings;
		printer_app::settings_for_job(options, c.content, &settings);
		BRect paper, printable;
		int8 layout = -1, paperRow = -1, qualityRow = -1, countType = -1;
		int16 bw = -1, copies = -1;
		int32 xres = 0, yres = 0, first = 0, last = 0;
		float scaling = 0;
		EXPECT_EQ(settings.FindRect(kPaperRectField, &paper), B_OK) << c.name;
		EXPECT_EQ(settings.FindRect(kPrintableRectField, &printable), B_OK) << c.name;
		settings.FindInt8(kLayoutField, &layout);
		settings.FindInt8(kPreviousSettingsField, &paperRow);
		settings.FindInt16(kBWModeField, &bw);
		settings.FindInt32(kXResField, &xres);
		settings.FindInt32(kYResField, &yres);
		settings.FindInt8(kQualityTypeField, &qualityRow);
		settings.FindInt16(kCopiesField, &copies);
		settings.FindInt32(kFirstPageField, &first);
		settings.FindInt32(kLastPageField, &last);
		settings.FindInt8(kCountTypeField, &countType);
		settings.FindFloat(kScalingField, &scaling);
		EXPECT_NEAR(paper.right, c.paper.right, 0.01) << c.name;
		EXPECT_NEAR(paper.bottom, c.paper.bottom, 0.01) << c.name;
		EXPECT_EQ(paper.left, 0) << c.name;
		EXPECT_EQ(paper.top, 0) << c.name;
		EXPECT_TRUE(printable == paper) << c.name << ": the driver prints the whole sheet";
		EXPECT_EQ(layout, c.layout) << c.name;
		EXPECT_EQ(paperRow, c.paperRow) << c.name;
		EXPECT_EQ(bw, c.bw) << c.name;
		EXPECT_EQ(xres, c.xres) << c.name;
		EXPECT_EQ(yres, c.xres) << c.name;
		EXPECT_EQ(qualityRow, c.qualityRow) << c.name;
		EXPECT_EQ(copies, c.copies) << c.name;
		EXPECT_EQ(first, c.first) << c.name;
		EXPECT_EQ(last, c.last) << c.name;
		EXPECT_EQ(countType, c.countType) << c.name;
		EXPECT_EQ(scaling, 100) << c.name;
	}
}

JobOutcome completed(int32 pages)
{
	JobOutcome job;
	job.pages_sent = pages;
	job.pages_announced = pages;
	job.copies = 1;
	return job;
}

TEST(JobJudgement, TheRecordsOfAJobGiveOneOutcome)
{
	TransportReport delivered{4096, "", "file descriptor 7"};
	JobOutcome refused;
	refused.stop = JobStop::settings_refused;
	refused.field = kXResField;
	refused.value = "100";
	JobOutcome cut = completed(1);
	cut.stop = JobStop::spool_cut;
	cut.pages_announced = 3;
	cut.stop_page = 2;
	JobOutcome stopped = completed(1);
	stopped.stop = JobStop::interrupted;
	stopped.pages_announced = 4;
	struct Case {
		const char* name;
		bool recorded;
		JobOutcome job;
		bool delivered;
		TransportReport delivery;
		printer_app::DeviceFeed feed;
		bool cancelled;
		// expected
		bool printed;
		bool wasCancelled;
		const char* message;
		pappl_jreason_t reason;
	};
	const Case cases[] = {
		{"printed whole", true, completed(2), true, delivered, {4096, ""}, false,
			true, false, "printed 2 pages", PAPPL_JREASON_NONE},
		{"the device stopped taking bytes", true, completed(2), true,
			{4096, "Broken pipe", "file descriptor 7"}, {1024, "the printer did not take the data"},
			false, false, false, "the printer did not take the data after 1024 bytes",
			PAPPL_JREASON_ABORTED_BY_SYSTEM},
		{"fewer bytes on the device than the driver sent", true, completed(2), true, delivered,
			{4000, ""}, false, false, false, "only 4000 of 4096 bytes reached the printer",
			PAPPL_JREASON_ABORTED_BY_SYSTEM},
		{"settings refused", true, refused, true, {0, "", ""}, {0, ""}, false, false, false,
			"resolution", PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR},
		{"spool cut short", true, cut, true, delivered, {4096, ""}, false, false, false,
			"printed 1 of 3 pages", PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR},
		{"the transport's own error", true, completed(1), true, {10, "No space left", "x"},
			{10, ""}, false, false, false, "the job failed after 10 bytes: No space left",
			PAPPL_JREASON_ABORTED_BY_SYSTEM},
		{"no record from the driver", false, JobOutcome(), false, {}, {0, ""}, false, false,
			false, "the driver left no account", PAPPL_JREASON_ABORTED_BY_SYSTEM},
		{"no record from the transport", true, completed(1), false, {}, {0, ""}, false, false,
			false, "the transport left no account", PAPPL_JREASON_ABORTED_BY_SYSTEM},
		{"cancelled at a band", true, stopped, true, delivered, {4096, ""}, true, false, true,
			"cancelled: interrupted after 1 of 4 pages", PAPPL_JREASON_JOB_CANCELED_BY_USER},
		{"cancelled, the device failing as it went", true, stopped, true, delivered,
			{100, "the printer did not take the data"}, true, false, true, "cancelled",
			PAPPL_JREASON_JOB_CANCELED_BY_USER},
	};
	for (const Case& c : cases) {
		printer_app::DriverOutcome outcome = printer_app::judge_job(
			account_for_job(c.recorded, c.job, c.delivered, c.delivery), c.feed, c.cancelled);
		EXPECT_EQ(outcome.printed, c.printed) << c.name;
		EXPECT_EQ(outcome.cancelled, c.wasCancelled) << c.name;
		EXPECT_NE(outcome.message.find(c.message), std::string::npos) << c.name << ": "
			<< outcome.message;
		EXPECT_EQ(outcome.reasons & c.reason, c.reason) << c.name;
		if (c.printed) {
			EXPECT_EQ(outcome.reasons, PAPPL_JREASON_NONE) << c.name;
		}
	}
}

TEST(ServerOptions, EachOptionIsReadOrRefusedWithItsReason)
{
	struct Case {
		const char* name;
		const char* value;
		bool accepted;
		const char* refusal;
	};
	const Case cases[] = {
		{"server-port", "8631", true, ""},
		{"server-port", "0", false, "server-port"},
		{"server-port", "65536", false, "server-port"},
		{"server-port", "86x", false, "server-port"},
		{"log-level", "debug", true, ""},
		{"log-level", "loud", false, "log-level"},
		{"server-options", "no-tls,web-log", true, ""},
		{"server-options", "no-tls,raw-socket", false, "raw-socket"},
		{"listen-hostname", "127.0.0.1", true, ""},
	};
	for (const Case& c : cases) {
		cups_option_t option = {const_cast<char*>(c.name), const_cast<char*>(c.value)};
		printer_app::SystemOptions parsed;
		std::string error;
		EXPECT_EQ(printer_app::parse_system_options(1, &option, &parsed, &error), c.accepted)
			<< c.name << "=" << c.value;
		EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
	}
}

TEST(ServerOptions, DefaultsListenOnLoopbackWithTheAdministrativePagesOn)
{
	printer_app::SystemOptions parsed;
	std::string error;
	ASSERT_TRUE(printer_app::parse_system_options(0, nullptr, &parsed, &error));
	EXPECT_EQ(parsed.listen, "localhost");
	EXPECT_NE(parsed.soptions & PAPPL_SOPTIONS_WEB_INTERFACE, 0u);
	EXPECT_EQ(parsed.soptions & PAPPL_SOPTIONS_RAW_SOCKET, 0u);

	cups_option_t plain = {const_cast<char*>("server-options"), const_cast<char*>("no-tls")};
	ASSERT_TRUE(printer_app::parse_system_options(1, &plain, &parsed, &error));
	EXPECT_NE(parsed.soptions & PAPPL_SOPTIONS_NO_TLS, 0u);
	EXPECT_EQ(parsed.soptions & PAPPL_SOPTIONS_WEB_TLS, 0u);
}

}  // namespace
