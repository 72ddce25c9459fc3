// Flatten plus unflatten of a job settings message of 20 fields, the round trip every job
// makes through the spool file.
#include <DataIO.h>
#include <Message.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

BMessage settings_message()
{
	BMessage settings('okok');
	settings.AddInt32("status", 0);
	settings.AddInt8("prevous_settings", 0);
	settings.AddFloat("page_width", 8.5f);
	settings.AddFloat("page_height", 11);
	settings.AddFloat("scaling", 100);
	settings.AddInt8("layout", 0);
	settings.AddRect("paper_rect", BRect(0, 0, 637.5f, 825));
	settings.AddRect("printable_rect", BRect(0, 0, 637.5f, 825));
	settings.AddInt16("copies", 1);
	settings.AddInt8("count_type", 0);
	settings.AddInt16("from", 1);
	settings.AddInt16("to", 1);
	settings.AddInt32("first_page", 1);
	settings.AddInt32("last_page", -1);
	settings.AddInt16("BWMode", 0);
	settings.AddInt8("quality_type", 0);
	settings.AddInt32("xres", 300);
	settings.AddInt32("yres", 300);
	settings.AddInt32("printer", 0x1000);
	settings.AddString("printer_name", "Tessary on LPT1");
	return settings;
}

void BM_SettingsRoundTripBuffer(benchmark::State& state)
{
	BMessage settings = settings_message();
	std::vector<char> buffer(size_t(settings.FlattenedSize()));
	BMessage copy;
	for (auto _ : state) {
		ssize_t size = settings.FlattenedSize();
		settings.Flatten(buffer.data(), size);
		copy.Unflatten(buffer.data(), size_t(size));
		benchmark::DoNotOptimize(copy.what);
	}
}
BENCHMARK(BM_SettingsRoundTripBuffer);

// The spool path: flatten to a stream, read it back from the stream.
void BM_SettingsRoundTripStream(benchmark::State& state)
{
	BMessage settings = settings_message();
	BMessage copy;
	BMallocIO stream;
	for (auto _ : state) {
		stream.Seek(0, SEEK_SET);
		settings.Flatten(&stream);
		stream.Seek(0, SEEK_SET);
		copy.Unflatten(&stream);
		benchmark::DoNotOptimize(copy.what);
	}
}
BENCHMARK(BM_SettingsRoundTripStream);

}  // namespace
