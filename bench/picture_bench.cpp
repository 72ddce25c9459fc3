// Decoding speed of a page-sized picture: unflatten, and play into callbacks that do nothing.
#include <benchmark/benchmark.h>

#include <DataIO.h>

#include <string>

#include "kits/interface/PictureData.h"

namespace {

// A text page as an application records it: per line a state block with the pen location
// and a font block, then the string; a few rules and a filled box.
PictureData text_page(int lines)
{
	PictureWriter writer(true);
	writer.SetHighColor({0, 0, 0, 255});
	writer.EnterFontState();
	writer.SetFontFamily("Serif");
	writer.SetFontStyle("Roman");
	writer.SetFontSize(10);
	writer.ExitFontState();
	std::string line = "The quick brown fox jumps over the lazy dog, again and again.";
	for (int i = 0; i < lines; i++) {
		writer.SetPenLocation(BPoint(72, 72 + 12.0f * i));
		writer.DrawString(line.c_str(), static_cast<int32>(line.size()), {0, 0});
		if (i % 10 == 0)
			writer.StrokeLine(BPoint(72, 74 + 12.0f * i), BPoint(540, 74 + 12.0f * i));
	}
	writer.FillRect(BRect(72, 700, 540, 760));
	PictureData picture;
	writer.Finish(&picture);
	return picture;
}


void BM_UnflattenTextPage(benchmark::State& state)
{
	BMallocIO stream;
	text_page(60).Flatten(&stream);
	for (auto _ : state) {
		BMemoryIO input(stream.Buffer(), stream.BufferLength());
		PictureData picture;
		benchmark::DoNotOptimize(picture.Unflatten(&input));
	}
	state.SetBytesProcessed(state.iterations() * stream.BufferLength());
}
BENCHMARK(BM_UnflattenTextPage);


void BM_PlayTextPage(benchmark::State& state)
{
	PictureData picture = text_page(60);
	PictureOps ops;
	for (auto _ : state)
		benchmark::DoNotOptimize(picture.Play(ops));
	state.SetBytesProcessed(state.iterations() * picture.OpDataSize());
}
BENCHMARK(BM_PlayTextPage);

}  // namespace
