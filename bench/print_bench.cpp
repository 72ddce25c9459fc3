// A whole job through the print tool's code: a 10-page mixed document (the test page, an
// image, eight pages of text) spooled and printed at 300 dpi in colour through the built
// driver add-on and the File transport. Reports pages per second and the process's peak
// resident memory.

#include "DeviceModel.h"
#include "Documents.h"
#include "PrintJob.h"
#include "Printers.h"
#include "SettingsStore.h"
#include "Spool.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Fixture {
	std::string root;
	std::string spool;
	int32 pages = 0;
};

void write_photo(const std::string& path, int width, int height)
{
	png_image image = {};
	image.version = PNG_IMAGE_VERSION;
	image.width = static_cast<png_uint_32>(width);
	image.height = static_cast<png_uint_32>(height);
	image.format = PNG_FORMAT_RGB;
	std::vector<png_byte> pixels(static_cast<size_t>(width) * height * 3);
	for (int y = 0; y < height; y++) {
		for (int x = 0; x < width; x++) {
			png_byte* pixel = &pixels[(static_cast<size_t>(y) * width + x) * 3];
			pixel[0] = static_cast<png_byte>((x * 255) / width);
			pixel[1] = static_cast<png_byte>((y * 255) / height);
			pixel[2] = static_cast<png_byte>(((x ^ y) * 7) & 0xff);
		}
	}
	png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr);
}

Fixture& fixture()
{
	static Fixture* shared = [] {
		auto* made = new Fixture;
		char pattern[] = "/tmp/tessary-bench-XXXXXX";
		made->root = mkdtemp(pattern);
		setenv("TESSARY_ROOT", made->root.c_str(), 1);
		std::string error;
		if (!server::add_printer("Bench", "File", made->root + "/out.pcl", &error)) {
			fprintf(stderr, "print_bench: %s\n", error.c_str());
			exit(1);
		}
		std::string photo = made->root + "/photo.png";
		write_photo(photo, 1800, 1200);
		std::string text = made->root + "/text.txt";
		std::ofstream file(text);
		for (int page = 0; page < 8; page++) {
			for (int line = 0; line < 60; line++)
				file << "Page " << page + 1 << ", line " << line + 1
					 << ": the quick brown fox jumps over the lazy dog, 0123456789.\n";
			if (page < 7)
				file << '\f';
		}
		file.close();

		BMessage settings;
		device::default_settings(&settings);
		made->spool = made->root + "/mixed.spool";
		frontend::SpoolWriter writer;
		frontend::PageSetup setup = frontend::PageSetup::FromSettings(settings, true);
		std::vector<std::unique_ptr<frontend::Document>> documents;
		documents.push_back(frontend::open_test_page(setup, "benchmark"));
		documents.push_back(frontend::open_document(photo, setup, &error));
		documents.push_back(frontend::open_document(text, setup, &error));
		bool written = writer.Open(made->spool, settings, &error);
		for (auto& document : documents) {
			for (int32 page = 0; written && document && page < document->CountPages(); page++)
				written = document->RecordPage(page, &writer, &error);
			written = written && document != nullptr;
		}
		if (!written || !writer.Close(&error)) {
			fprintf(stderr, "print_bench: %s\n", error.c_str());
			exit(1);
		}
		made->pages = writer.PageCount();
		return made;
	}();
	return *shared;
}

void BM_PrintMixedDocument(benchmark::State& state)
{
	Fixture& shared = fixture();
	server::PrintRequest request;
	request.printer = "Bench";
	request.existingSpool = shared.spool;
	for (auto _ : state) {
		server::PrintOutcome outcome;
		std::string error;
		if (!server::print_job(request, &outcome, &error)) {
			state.SkipWithError(error.c_str());
			return;
		}
		benchmark::DoNotOptimize(outcome.bytes);
	}
	struct rusage usage;
	getrusage(RUSAGE_SELF, &usage);
	state.counters["pages"] = shared.pages;
	state.counters["pages_per_s"] = benchmark::Counter(
		static_cast<double>(shared.pages) * state.iterations(), benchmark::Counter::kIsRate);
	state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_PrintMixedDocument)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

