// The document reader as a process of its own: it never writes more than a page ahead of the
// one reading its spool file, and a reader that is refused a document, dies or stalls ends
// the spooling with a reason in the user's words while this process carries on.
#include "DeviceModel.h"
#include "ReaderProcess.h"
#include "Spool.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdint>
#include <fstream>
#include <string>

namespace {

int64_t little_endian(const uint8_t* bytes, int size)
{
	int64_t value = 0;
	for (int i = 0; i < size; i++)
		value |= static_cast<int64_t>(bytes[i]) << (8 * i);
	return value;
}

class Reader : public ::testing::Test {
protected:
	frontend::ReaderRequest Request(const std::vector<std::string>& documents)
	{
		frontend::ReaderRequest request;
		request.documents = documents;
		device::default_settings(&request.settings);
		// Small pages keep the spool small.
		request.settings.ReplaceRect("paper_rect", BRect(0, 0, 160, 200));
		request.settings.ReplaceInt32("xres", 75);
		request.spoolPath = fRoot.Sub("job.spool");
		return request;
	}

	// A reader of the test's own: a shell script.
	std::string FakeReader(const std::string& name, const std::string& script)
	{
		std::string path = fRoot.Sub(name);
		std::ofstream(path) << "#!/bin/sh\n" << script << "\n";
		chmod(path.c_str(), 0755);
		return path;
	}

	TempRoot fRoot;
};

}  // namespace

TEST_F(Reader, WritesAPageOnlyOnceTheDriverHasReadThePageBefore)
{
	std::string text = fRoot.Sub("eight.txt");
	std::ofstream(text) << "1\f2\f3\f4\f5\f6\f7\f8";
	frontend::ReaderProcess reader;
	frontend::ReaderRequest request = Request({text});
	std::string error;
	ASSERT_TRUE(reader.Start(request, &error)) << error;
	ASSERT_EQ(reader.PagesPlanned(), 8);

	// Read the spool as the driver does: the size of the file at the start of each page, the
	// page's records, then a seek to the next page.
	frontend::SpoolReadFile spool(fRoot.Sub("job.spool").c_str(), reader.Feed(), false, 8);
	ASSERT_EQ(spool.InitCheck(), B_OK);
	// The first page follows the header and the settings.
	off_t position = 28 + request.settings.FlattenedSize();
	for (int page = 0; page < 8; page++) {
		spool.Seek(position, SEEK_SET);
		off_t size = 0;
		ASSERT_EQ(spool.GetSize(&size), B_OK);
		// This page is whole, and the next waits until the driver has read this one.
		EXPECT_EQ(reader.Feed()->PagesFrom(INT64_MAX), static_cast<size_t>(page) + 1)
			<< "at page " << page + 1;
		uint8_t record[12];
		ASSERT_EQ(spool.ReadAt(position, record, sizeof(record)), 12);
		position = little_endian(record + 4, 8);
	}
	reader.Join();
	EXPECT_TRUE(reader.SpooledWhole());
	EXPECT_EQ(reader.PagesSpooled(), 8);
}

TEST_F(Reader, ASpoolInMemoryHoldsAPageHoweverLongTheJob)
{
	// Pages of pixels: a picture is printed on a page of its own.
	std::string picture = fRoot.Sub("square.png");
	{
		cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 40, 40);
		cairo_t* cairo = cairo_create(surface);
		cairo_set_source_rgb(cairo, 0, 0.5, 1);
		cairo_paint(cairo);
		cairo_destroy(cairo);
		ASSERT_EQ(cairo_surface_write_to_png(surface, picture.c_str()), CAIRO_STATUS_SUCCESS);
		cairo_surface_destroy(surface);
	}
	const int kPages = 12;
	frontend::ReaderRequest request = Request(std::vector<std::string>(kPages, picture));
	request.spoolPath.clear();
	frontend::ReaderProcess reader;
	std::string error;
	ASSERT_TRUE(reader.Start(request, &error)) << error;
	ASSERT_TRUE(reader.SpoolInMemory());

	// Read as the driver reads: each page whole, then on to the next, giving back what it read.
	frontend::SpoolReadFile spool(reader.SpoolPath().c_str(), reader.Feed(), false, kPages);
	ASSERT_EQ(spool.InitCheck(), B_OK);
	spool.SetDiscard([&reader](off_t from, off_t to) { reader.Discard(from, to); });
	off_t position = 28 + request.settings.FlattenedSize();
	off_t largestPage = 0;
	off_t total = 0;
	for (int page = 0; page < kPages; page++) {
		spool.Seek(position, SEEK_SET);
		off_t size = 0;
		ASSERT_EQ(spool.GetSize(&size), B_OK);
		uint8_t record[12];
		ASSERT_EQ(spool.ReadAt(position, record, sizeof(record)), 12);
		off_t next = little_endian(record + 4, 8);
		ASSERT_GT(next, position);
		// The page reads whole: what was given back lies before it.
		std::vector<uint8_t> bytes(static_cast<size_t>(next - position));
		ASSERT_EQ(spool.ReadAt(position, bytes.data(), bytes.size()),
			static_cast<ssize_t>(bytes.size()));
		EXPECT_GT(little_endian(bytes.data(), 4), 0) << "the page's pictures, at page "
			<< page + 1;
		largestPage = std::max(largestPage, next - position);
		total += next - position;
		position = next;
	}
	spool.Seek(position, SEEK_SET);
	reader.Join();
	EXPECT_TRUE(reader.SpooledWhole());
	EXPECT_EQ(reader.PagesSpooled(), kPages);
	// The page being written, with the header and the rounding of the memory to whole
	// blocks: the driver has given back the pages before it.
	EXPECT_GT(reader.LargestSpool(), largestPage);
	EXPECT_LE(reader.LargestSpool(), largestPage + 16 * 1024) << total << " bytes spooled";
	EXPECT_GT(total, 10 * reader.LargestSpool());
	// Nothing of it went to the disk.
	for (const auto& entry : std::filesystem::directory_iterator(fRoot.Path()))
		EXPECT_EQ(entry.path().filename(), "square.png");
}

TEST_F(Reader, ADocumentThatCannotBeReadRefusesTheJobBeforeAnyPage)
{
	std::string fake = fRoot.Sub("report.pdf");
	std::ofstream(fake) << "%PDF-1.4\nnot really\n";
	frontend::ReaderProcess reader;
	std::string error;
	EXPECT_FALSE(reader.Start(Request({fake}), &error));
	EXPECT_TRUE(reader.Refused());
	EXPECT_EQ(reader.Error().file, fake);
	EXPECT_NE(reader.Error().reason.find("cannot be read as a PDF"), std::string::npos)
		<< reader.Error().reason;
	struct stat info;
	EXPECT_NE(stat(fRoot.Sub("job.spool").c_str(), &info), 0) << "no spool file is left";
}

TEST_F(Reader, AReaderThatDiesOrStallsEndsTheSpoolWithItsReason)
{
	struct Case {
		const char* name;
		std::string script;
		const char* reason;
	};
	// Each says it has opened the document and written the spool's header, then goes wrong.
	const std::string opened = "echo 'kind 0 PDF' >&3; echo 'planned 3' >&3; "
		"echo 'header 100' >&3; echo 'reading 0' >&3; ";
	const Case cases[] = {
		{"aborts", opened + "echo 'Bogus memory allocation size' >&2; kill -ABRT $$",
			"report.pdf: the PDF reader stopped: Bogus memory allocation size; it was ended by "
			"signal 6"},
		{"runs out of processor time", opened + "kill -XCPU $$",
			"report.pdf: the PDF reader stopped: it used up its processor time"},
		{"stalls", opened + "exec sleep 30",
			"report.pdf: the PDF reader stopped: it stopped making progress"},
		{"ends early", opened + "exit 0",
			"report.pdf: the PDF reader stopped: it ended before it was done (exit status 0)"},
		{"talks nonsense", opened + "echo 'page many' >&3; exec sleep 30",
			"report.pdf: the PDF reader stopped: it said something it should not"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.name);
		frontend::ReaderRequest request = Request({"report.pdf"});
		request.program = FakeReader("reader.sh", c.script);
		request.stall = std::chrono::seconds(1);
		frontend::ReaderProcess reader;
		std::string error;
		auto start = std::chrono::steady_clock::now();
		ASSERT_TRUE(reader.Start(request, &error)) << error;
		reader.Join();
		EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
		EXPECT_TRUE(reader.Failed());
		EXPECT_EQ(reader.Error().InWords().rfind(c.reason, 0), 0u) << reader.Error().InWords();
		EXPECT_EQ(reader.PagesSpooled(), 0);
	}
}

TEST_F(Reader, AReaderThatCannotStartSaysSo)
{
	frontend::ReaderRequest request = Request({});
	request.program = fRoot.Sub("no-such-reader");
	frontend::ReaderProcess reader;
	std::string error;
	EXPECT_FALSE(reader.Start(request, &error));
	EXPECT_FALSE(reader.Refused());
	EXPECT_NE(error.find("cannot start the document reader"), std::string::npos) << error;
}
