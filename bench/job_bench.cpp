// Whole pages through the job loop as a print job runs them: the test page (text in three
// fonts, colour patches, ramps, lines, curves, shapes and an embedded image) spooled once per
// paper size and mode, then DoJob from the spool file to a stream that takes every byte.
// Reports pages per second, and the peak memory of one job run in a child process of its own,
// so a Letter page and a Legal page can be compared: the band renderer holds one band at a
// time, so a taller page must not cost more memory.

#include "DeviceModel.h"
#include "Documents.h"
#include "JobSettings.h"
#include "OutputBuffer.h"
#include "SettingsStore.h"
#include "Spool.h"
#include "TessaryPrint.h"

#include <DataIO.h>
#include <File.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class NullStream : public BDataIO {
public:
	ssize_t Write(const void*, size_t size) override { return static_cast<ssize_t>(size); }
};

// Spools the test page once per paper and mode.
std::string spool_for(float heightUnits, bool blackAndWhite)
{
	static std::map<std::string, std::string> spools;
	std::string key = std::to_string(heightUnits) + (blackAndWhite ? "bw" : "colour");
	auto found = spools.find(key);
	if (found != spools.end())
		return found->second;

	BMessage settings;
	device::default_settings(&settings);
	BRect paper(0, 0, 637.5f, heightUnits);
	store_field(&settings, kPaperRectField, paper);
	store_field(&settings, kPrintableRectField, paper);
	store_field(&settings, kBWModeField, int16(blackAndWhite ? 1 : 0));

	char path[] = "/tmp/tessary-job-bench-XXXXXX";
	int fd = mkstemp(path);
	close(fd);
	frontend::SpoolWriter writer;
	std::string error;
	std::unique_ptr<frontend::Document> page = frontend::open_test_page(
		frontend::PageSetup::FromSettings(settings, true), "benchmark");
	if (!writer.Open(path, settings, &error) || !page->RecordPage(0, &writer, &error)
		|| !writer.Close(&error)) {
		fprintf(stderr, "job_bench: %s\n", error.c_str());
		exit(1);
	}
	spools[key] = path;
	return path;
}

void run_job(const std::string& spool)
{
	NullStream sink;
	stream = &sink;
	BFile file(spool.c_str(), B_READ_ONLY);
	DoJob(&file);
}

// Peak resident memory of a child process that runs one job, in MiB.
double job_peak_memory(const std::string& spool)
{
	pid_t child = fork();
	if (child == 0) {
		run_job(spool);
		_exit(0);
	}
	int status = 0;
	struct rusage usage = {};
	wait4(child, &status, 0, &usage);
	return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void print_page(benchmark::State& state)
{
	float height = state.range(0) == 0 ? 825.0f : 1050.0f;
	bool blackAndWhite = state.range(1) != 0;
	std::string spool = spool_for(height, blackAndWhite);
	for (auto _ : state)
		run_job(spool);
	state.counters["pages_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
		benchmark::Counter::kIsRate);
	state.counters["job_peak_MiB"] = job_peak_memory(spool);
	state.SetLabel(std::string(state.range(0) == 0 ? "Letter" : "Legal")
		+ (blackAndWhite ? ", black and white" : ", colour"));
}
BENCHMARK(print_page)->Name("TestPage_300dpi")->ArgsProduct({{0, 1}, {0, 1}})
	->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
