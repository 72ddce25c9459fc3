// The band encoders behind DrawBandColor and DrawBandBW, on a US Letter band at 300 dots per
// inch (SpoolWidth 320), in time per dot: a white band, a photo-like band and a black band.
// Arguments 0, 1, 2 are white, photo and black.
#include <DataIO.h>
#include <OutputBuffer.h>

#include "EngineInternal.h"
#include "TessaryPrint.h"

#include <benchmark/benchmark.h>

#include <cmath>
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

}  // namespace


BENCHMARK(encode_band<encode_band_color>)->Name("encode_band_color")->DenseRange(0, 2);
BENCHMARK(encode_band<encode_band_bw>)->Name("encode_band_bw")->DenseRange(0, 2);
