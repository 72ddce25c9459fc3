// The bands of a job drawn and encoded on two threads: the stream, the writes the transport
// sees and the job's account are those of one thread, for every kind of row, copies, a stop
// request and a failing transport.
#include "EngineFixture.h"
#include "PclPreview.h"
#include "SpoolBuilder.h"
#include "SpoolRecords.h"
#include "support/TempRoot.h"

#include <Bitmap.h>
#include <File.h>
#include <JobSettings.h>
#include <Message.h>
#include <Picture.h>
#include <View.h>

#include <fstream>
#include <functional>

namespace {

// A page that gives the dither work in every band and across band boundaries: a ramp of
// colours down the page, shapes across band edges, text, and a white stretch of several
// bands in the middle (which the packed rows skip).
std::string busy_picture(float width, float height)
{
	return recorded_picture([=](BView* view) {
		for (int step = 0; step < 40; step++) {
			float top = step * height / 100;
			view->SetHighColor(static_cast<uint8>(6 * step), static_cast<uint8>(255 - 5 * step),
				static_cast<uint8>(128 + 3 * step));
			view->FillRect(BRect(0, top, width * (0.3f + step / 80.0f), top + height / 100));
		}
		view->SetHighColor(20, 20, 20);
		view->SetFont(be_plain_font);
		view->SetFontSize(14);
		view->DrawString("Bands drawn side by side", BPoint(width / 10, height * 0.45f));
		view->SetHighColor(200, 30, 90);
		view->FillEllipse(BRect(width / 2, height * 0.8f, width * 0.9f, height * 0.98f));
		view->SetHighColor(0, 0, 0);
		view->StrokeLine(BPoint(0, height - 1), BPoint(width - 1, height * 0.75f));
	});
}

const BRect kLetter(0, 0, 637.5, 825);

// Writes, and after a number of them fails or asks the job to stop.
class TroubledStream : public RecordingStream {
public:
	ssize_t Write(const void* buffer, size_t size) override
	{
		if (failAfter >= 0 && static_cast<int>(writes.size()) >= failAfter)
			return -1;
		if (stopAfter >= 0 && static_cast<int>(writes.size()) == stopAfter)
			request_job_stop();
		return RecordingStream::Write(buffer, size);
	}

	int failAfter = -1;
	int stopAfter = -1;
};

struct Printed {
	std::vector<std::string> writes;
	JobOutcome outcome;
};

class BandThreads : public EngineTest {
protected:
	void TearDown() override
	{
		band_threads = 2;
		reset_job_stop();
		EngineTest::TearDown();
	}

	// Prints the spool bytes with `threads` band threads into a stream that may fail or ask
	// for a stop after some writes.
	Printed Print(const std::string& spool, int32 threads, RowEncoding encoding,
		int failAfter = -1, int stopAfter = -1)
	{
		SetUp();
		reset_job_stop();
		std::string path = fRoot.Sub("job.spool");
		std::ofstream(path, std::ios::binary) << spool;
		BFile file(path.c_str(), B_READ_ONLY);
		EXPECT_EQ(file.InitCheck(), B_OK);
		TroubledStream troubled;
		troubled.failAfter = failAfter;
		troubled.stopAfter = stopAfter;
		stream = &troubled;
		band_threads = threads;
		DoJob(&file, encoding);
		stream = &fStream;
		return {troubled.writes, job_outcome};
	}

	TempRoot fRoot;
};

std::string busy_job(BRect paper, int32 xres, int16 copies, int16 bw, int32 pages = 2)
{
	SpoolBuilder builder;
	builder.FileHeader(pages).Raw(flattened_settings(paper, xres, copies, bw));
	for (int32 page = 0; page < pages; page++) {
		builder.PageHeader(1)
			.Picture(0, 0, 0, 0, paper.right, paper.bottom,
				busy_picture(paper.right, paper.bottom))
			.EndPage();
	}
	return builder.Bytes();
}

void expect_same(const Printed& one, const Printed& two)
{
	EXPECT_EQ(one.writes.size(), two.writes.size());
	EXPECT_TRUE(one.writes == two.writes) << "the streams differ";
	EXPECT_EQ(static_cast<int>(one.outcome.stop), static_cast<int>(two.outcome.stop));
	EXPECT_EQ(one.outcome.pages_sent, two.outcome.pages_sent);
	EXPECT_EQ(one.outcome.copies_sent, two.outcome.copies_sent);
	EXPECT_EQ(one.outcome.stop_page, two.outcome.stop_page);
	EXPECT_EQ(one.outcome.pictures_cut, two.outcome.pictures_cut);
}

}  // namespace


TEST_F(BandThreads, StreamsAreByteForByteThoseOfOneThread)
{
	const BRect kA4(0, 0, 620, 877);
	const struct {
		const char* label;
		BRect paper;
		int32 xres;
		int16 copies;
		int16 bw;
		RowEncoding encoding;
	} cases[] = {
		{"colour 300", kLetter, 300, 1, 0, RowEncoding::kWhole},
		{"colour 150, two copies", kLetter, 150, 2, 0, RowEncoding::kWhole},
		{"grey 300", kLetter, 300, 1, 1, RowEncoding::kWhole},
		{"grey 75 A4", kA4, 75, 1, 1, RowEncoding::kWhole},
		{"packed colour 300", kLetter, 300, 1, 0, RowEncoding::kPacked},
		{"packed grey 150, two copies", kA4, 150, 2, 1, RowEncoding::kPacked},
		{"packed colour 75", kLetter, 75, 1, 0, RowEncoding::kPacked},
		{"no copies", kLetter, 300, 0, 0, RowEncoding::kWhole},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.label);
		std::string spool = busy_job(c.paper, c.xres, c.copies, c.bw);
		Printed one = Print(spool, 1, c.encoding);
		Printed two = Print(spool, 2, c.encoding);
		EXPECT_TRUE(two.outcome.Completed());
		expect_same(one, two);

		std::string bytes;
		for (const std::string& write : two.writes)
			bytes += write;
		std::vector<uint8_t> data(bytes.begin(), bytes.end());
		int sheets = 0;
		preview::DecodeError error;
		EXPECT_TRUE(preview::decode_stream(data.data(), data.size(),
			[&](const preview::Page&, std::string*) { return ++sheets > 0; }, &error))
			<< error.message;
		EXPECT_EQ(sheets, 2 * (c.copies > 0 ? c.copies : 1));
	}
}


// A transport that fails part way and a stop asked for part way end the job after the same
// bands, with the same account.
TEST_F(BandThreads, AFailingTransportOrAStopEndsTheJobAfterTheSameBands)
{
	std::string spool = busy_job(kLetter, 300, 2, 0, 1);
	for (RowEncoding encoding : {RowEncoding::kWhole, RowEncoding::kPacked}) {
		// A sheet is some thousands of blocks whole, hundreds packed.
		for (int after : {1, 37, 700}) {
			SCOPED_TRACE(std::to_string(after) + " writes, "
				+ (encoding == RowEncoding::kWhole ? "whole" : "packed"));
			Printed failedOne = Print(spool, 1, encoding, after);
			Printed failedTwo = Print(spool, 2, encoding, after);
			EXPECT_EQ(static_cast<int>(failedTwo.outcome.stop),
				static_cast<int>(JobStop::transport_failed));
			expect_same(failedOne, failedTwo);

			Printed stoppedOne = Print(spool, 1, encoding, -1, after);
			Printed stoppedTwo = Print(spool, 2, encoding, -1, after);
			EXPECT_EQ(static_cast<int>(stoppedTwo.outcome.stop),
				static_cast<int>(JobStop::interrupted));
			expect_same(stoppedOne, stoppedTwo);
		}
	}
}
