// The band encoders behind DrawBandColor and DrawBandBW, on a US Letter band at 300 dots per
// inch (SpoolWidth 320), in time per dot: a white band, a photo-like band and a black band.
// Arguments 0, 1, 2 are white, photo and black. Then photo bands encoded on one thread and
// on two at once, and a whole US Letter page through DoJob with its bands on one thread and
// on two.
#include <Bitmap.h>
#include <DataIO.h>
#include <File.h>
#include <JobSettings.h>
#include <Message.h>
#include <OutputBuffer.h>
#include <Picture.h>
#include <View.h>

#include "EngineInternal.h"
#include "TessaryPrint.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const int32 kLetterSpoolWidth = 320;

class NullStream : public BDataIO {
public:
	ssize_t Write(const void*, size_t size) override { return (ssize_t)size; }
};

NullStream null_stream;

enum band_kind { kWhite, kPhoto, kBlack };


// Smooth gradients in all three channels with a little noise, like a scanned photograph.
std::vector<uint8> make_band(band_kind kind)
{
	size_t bytes_per_row = band_bytes_per_row(kLetterSpoolWidth);
	std::vector<uint8> bits(bytes_per_row * (kBandRows + 1));
	uint32 noise = 12345;
	for (int32 r = 0; r <= kBandRows; r++) {
		for (int32 x = 0; x <= 8 * kLetterSpoolWidth; x++) {
			uint16 pixel = kind == kWhite ? 0xFFFF : 0x0000;
			if (kind == kPhoto) {
				noise = noise * 1103515245 + 12345;
				int jitter = (int)((noise >> 16) & 3);
				int red = (int)(15.5 + 15.5 * std::sin(x * 0.004 + r * 0.03)) ^ jitter;
				int green = (int)(31.5 + 31.5 * std::cos(x * 0.003 - r * 0.02));
				int blue = (x / 40 + r / 10) & 31;
				pixel = (uint16)((red & 31) << 11 | (green & 63) << 5 | (blue & 31));
			}
			bits[r * bytes_per_row + 2 * x] = (uint8)(pixel >> 8);
			bits[r * bytes_per_row + 2 * x + 1] = (uint8)pixel;
		}
	}
	return bits;
}


template <void (*Encode)(const uint8*, size_t)>
void encode_band(benchmark::State& state)
{
	std::vector<uint8> bits = make_band((band_kind)state.range(0));
	size_t bytes_per_row = band_bytes_per_row(kLetterSpoolWidth);
	stream = &null_stream;
	SpoolWidth = kLetterSpoolWidth;
	for (auto _ : state) {
		Encode(bits.data(), bytes_per_row);
		SendToOutput(NULL, 0);
	}
	// Seconds per dot, shown with its SI prefix (n for nanoseconds).
	state.counters["per_dot"] = benchmark::Counter((double)kBandRows * 8 * kLetterSpoolWidth,
		benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
	state.SetLabel(state.range(0) == kWhite ? "white" : state.range(0) == kPhoto ? "photo"
		: "black");
}

// Bands encoded as a job encodes them on its threads: each into a band output of its own,
// which the job's thread then sends. Run on one thread and on two at once, in wall time per
// dot of all the bands the threads encode together.
void encode_photo_bands(benchmark::State& state)
{
	std::vector<uint8> bits = make_band(kPhoto);
	size_t bytes_per_row = band_bytes_per_row(kLetterSpoolWidth);
	if (state.thread_index() == 0) {
		stream = &null_stream;
		SpoolWidth = kLetterSpoolWidth;
	}
	band_output output;
	int32 band = 1;
	for (auto _ : state) {
		begin_band_output(&output, band++);
		encode_band_color(bits.data(), bytes_per_row);
		end_band_output();
		benchmark::DoNotOptimize(output.bytes.data());
	}
	state.counters["per_dot"] = benchmark::Counter((double)kBandRows * 8 * kLetterSpoolWidth,
		benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace


BENCHMARK(encode_photo_bands)->Name("encode_band_color_threads")->Threads(1)->Threads(2)
	->UseRealTime();
BENCHMARK(encode_band<encode_band_color>)->Name("encode_band_color")->DenseRange(0, 2);
BENCHMARK(encode_band<encode_band_bw>)->Name("encode_band_bw")->DenseRange(0, 2);


namespace {

void put_int32(std::string* bytes, int32 value)
{
	for (int shift = 0; shift < 32; shift += 8)
		*bytes += (char)((uint32)value >> shift);
}


void put_float(std::string* bytes, float value)
{
	uint32 bits;
	memcpy(&bits, &value, sizeof(bits));
	put_int32(bytes, (int32)bits);
}


// A one-page US Letter spool: a picture of 40 x 50 flat patches in graded colours, so that
// every band is dithered in full.
std::string letter_spool(int32 xres, int16 bw)
{
	BMessage settings('okok');
	settings.AddRect(kPaperRectField, BRect(0, 0, 637.5, 825));
	settings.AddInt32(kXResField, xres);
	settings.AddInt16(kCopiesField, 1);
	settings.AddInt16(kBWModeField, bw);
	BMallocIO flat_settings;
	settings.Flatten(&flat_settings);

	BBitmap canvas(BRect(0, 0, 15, 15), B_BITMAP_ACCEPTS_VIEWS, B_RGB32);
	BView* view = new BView(canvas.Bounds(), "canvas", B_FOLLOW_ALL_SIDES, B_WILL_DRAW);
	canvas.AddChild(view);
	BPicture picture;
	view->BeginPicture(&picture);
	for (int row = 0; row < 50; row++) {
		for (int column = 0; column < 40; column++) {
			view->SetHighColor((uint8)(column * 6), (uint8)(row * 5), (uint8)(255 - row * 3));
			view->FillRect(BRect(column * 16, row * 16.5f, column * 16 + 15.9f,
				row * 16.5f + 16.4f));
		}
	}
	view->EndPicture();
	BMallocIO flat_picture;
	picture.Flatten(&flat_picture);

	std::string spool;
	put_int32(&spool, 1 << 16);
	put_int32(&spool, 1);
	for (int i = 0; i < 5; i++)
		put_int32(&spool, i < 2 ? -1 : 0);
	spool.append((const char*)flat_settings.Buffer(), flat_settings.BufferLength());
	put_int32(&spool, 1);
	put_int32(&spool, 0);
	put_int32(&spool, 0);
	for (int i = 0; i < 10; i++)
		put_int32(&spool, 0);
	for (float value : {0.0f, 0.0f, 0.0f, 0.0f, 637.5f, 825.0f})
		put_float(&spool, value);
	spool.append((const char*)flat_picture.Buffer(), flat_picture.BufferLength());
	return spool;
}


// DoJob on a whole page: reading, drawing into the band through the platform, encoding.
void print_letter_page(benchmark::State& state)
{
	char path[] = "/tmp/engine-bench-XXXXXX";
	int descriptor = mkstemp(path);
	std::string spool = letter_spool(300, (int16)state.range(0));
	if (descriptor < 0 || write(descriptor, spool.data(), spool.size()) != (ssize_t)spool.size()) {
		state.SkipWithError("cannot write the spool file");
		return;
	}
	close(descriptor);
	stream = &null_stream;
	band_threads = (int32)state.range(1);
	for (auto _ : state) {
		BFile file(path, B_READ_ONLY);
		DoJob(&file);
	}
	band_threads = 2;
	unlink(path);
	state.counters["per_dot"] = benchmark::Counter(2560.0 * 3600,
		benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
	state.SetLabel(std::string(state.range(0) == 0 ? "colour" : "black and white") + ", "
		+ std::to_string(state.range(1)) + (state.range(1) == 1 ? " thread" : " threads"));
}

}  // namespace

BENCHMARK(print_letter_page)->Name("DoJob_letter_300")->ArgsProduct({{0, 1}, {1, 2}})
	->UseRealTime()
	->Unit(benchmark::kMillisecond);
