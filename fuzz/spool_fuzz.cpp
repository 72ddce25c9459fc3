// Fuzz target: a whole spool file through the real job path. The bytes become a file (a
// memory file, opened by its /proc path as the print server opens a spool file), DoJob reads
// it and prints into a stream that counts what it is given, and the job's account must hold
// together: never more pages sent than announced, all of them when it says it completed.
//
// Pages larger than a small label, or many copies of one, are skipped before the job runs:
// their cost is the size the settings ask for, which the job limits already, not a fault, and
// they would slow the fuzzer to a crawl. Built as a libFuzzer target with TESSARY_FUZZ; the
// test build includes this file with TESSARY_FUZZ_REPLAY defined and replays the seeds.
#include <DataIO.h>
#include <File.h>
#include <JobSettings.h>
#include <Message.h>
#include <OutputBuffer.h>

#include "engine/TessaryPrint.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Device dots of a page (width times height, all copies) that an input may ask for.
const double kMaxDots = 160.0 * 160.0 * 4;


class CountingStream : public BDataIO {
public:
	ssize_t Write(const void*, size_t size) override
	{
		bytes += size;
		return static_cast<ssize_t>(size);
	}

	size_t bytes = 0;
};


void require(bool condition, const char* what)
{
	if (!condition) {
		fprintf(stderr, "spool_fuzz: %s\n", what);
		abort();
	}
}


// Whether the settings at offset 28 ask for more than a small page: reads them as DoJob will.
bool too_big(const uint8_t* data, size_t size)
{
	if (size < 28)
		return false;
	BMessage settings;
	if (settings.Unflatten(data + 28, size - 28) != B_OK)
		return false;
	BRect paper(0, 0, -1, -1);
	int32 xres = 0;
	int16 copies = 0;
	settings.FindRect(kPaperRectField, &paper);
	settings.FindInt32(kXResField, &xres);
	settings.FindInt16(kCopiesField, &copies);
	double scale = xres / 75;
	double dots = std::fabs((double)paper.Width() * scale) * std::fabs((double)paper.Height() * scale)
		* (copies > 1 ? copies : 1);
	return !std::isfinite(dots) || dots > kMaxDots;
}

}  // namespace


int spool_fuzz_one_input(const uint8_t* data, size_t size)
{
	if (too_big(data, size))
		return 0;
	int fd = memfd_create("spool", MFD_CLOEXEC);
	require(fd >= 0, "no memory file");
	size_t written = 0;
	while (written < size) {
		ssize_t n = write(fd, data + written, size - written);
		require(n > 0, "cannot fill the memory file");
		written += static_cast<size_t>(n);
	}
	std::string path = "/proc/self/fd/" + std::to_string(fd);

	CountingStream sink;
	{
		BFile spool(path.c_str(), B_READ_ONLY);
		require(spool.InitCheck() == B_OK, "cannot open the memory file");
		reset_output_buffer();
		stream = &sink;
		DoJob(&spool);
		stream = nullptr;
	}
	close(fd);

	require(job_outcome.pages_sent <= job_outcome.pages_announced,
		"more pages sent than announced");
	if (job_outcome.Completed())
		require(job_outcome.pages_sent == job_outcome.pages_announced,
			"completed without every page");
	if (job_outcome.stop == JobStop::settings_refused
		|| job_outcome.stop == JobStop::geometry_refused)
		require(sink.bytes == 0, "a refused job sent bytes");
	return 0;
}


#ifndef TESSARY_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	return spool_fuzz_one_input(data, size);
}
#endif
