// Band rendering costs: a typical page and a full-page image played into the 36 bands of a
// US Letter page at 300 dpi, the way the band renderer draws them.
#include <Bitmap.h>
#include <Picture.h>
#include <Region.h>
#include <View.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

const float kFactor = 4;
const int32 kBands = 36;

struct Band {
	std::unique_ptr<BBitmap> bitmap;
	BView* view;

	Band()
		:
		bitmap(new BBitmap(BRect(0, 0, 2560, 100), B_RGB16_BIG, true))
	{
		view = new BView(bitmap->Bounds(), "OutputView", B_FOLLOW_ALL_SIDES, B_WILL_DRAW);
		bitmap->AddChild(view);
		view->ForceFontAliasing(true);
		view->SetScale(kFactor);
	}

	// One page: every band cleared, then the page's drawing placed and clipped into it.
	void Render(const std::function<void(BView*)>& page)
	{
		for (int32 band = 0; band < kBands; band++) {
			float offset = _Clear(band);
			view->PushState();
			view->SetOrigin(0, -offset);
			page(view);
			view->PopState();
		}
	}

	// The same with the page recorded as a picture, the way a spool file brings it.
	void Render(const BPicture* page)
	{
		for (int32 band = 0; band < kBands; band++) {
			float offset = _Clear(band);
			view->DrawPicture(page, BPoint(0, -offset));
		}
	}

	float _Clear(int32 band)
	{
		float offset = 100.0f * band / kFactor;
		view->ConstrainClippingRegion(NULL);
		view->SetHighColor(255, 255, 255);
		view->FillRect(view->Bounds());
		BRegion clip(BRect(0, -offset, 637.5f, 825 - offset));
		view->ConstrainClippingRegion(&clip);
		return offset;
	}
};

std::unique_ptr<BBitmap> make_image(int32 width, int32 height)
{
	std::unique_ptr<BBitmap> image(
		new BBitmap(BRect(0, 0, width - 1, height - 1), B_RGB32));
	for (int32 y = 0; y < height; y++) {
		uint8* row = static_cast<uint8*>(image->Bits()) + y * image->BytesPerRow();
		for (int32 x = 0; x < width; x++) {
			row[x * 4 + 0] = static_cast<uint8>(x);
			row[x * 4 + 1] = static_cast<uint8>(y);
			row[x * 4 + 2] = static_cast<uint8>(x ^ y);
		}
	}
	return image;
}

// A hundred text runs, twenty shapes and a 600 x 400 image.
void draw_typical_page(BView* view, const BBitmap* image)
{
	view->SetHighColor(0, 0, 0);
	BFont font(be_plain_font);
	font.SetSize(10);
	view->SetFont(&font);
	for (int32 line = 0; line < 100; line++) {
		view->DrawString("The quick brown fox jumps over the lazy dog, 0123456789.",
			BPoint(50, 60 + line * 7));
	}
	for (int32 shape = 0; shape < 20; shape++) {
		float y = 40 + shape * 38;
		view->SetHighColor(shape * 12, 80, 255 - shape * 12);
		view->FillRect(BRect(400, y, 440, y + 20));
		view->StrokeEllipse(BRect(450, y, 500, y + 30));
		view->StrokeLine(BPoint(510, y), BPoint(600, y + 30));
	}
	view->DrawBitmap(image, BRect(100, 300, 400, 500));
}

void BM_TypicalPage(benchmark::State& state)
{
	Band band;
	std::unique_ptr<BBitmap> image = make_image(600, 400);
	for (auto _ : state)
		band.Render([&](BView* view) { draw_typical_page(view, image.get()); });
}
BENCHMARK(BM_TypicalPage)->Unit(benchmark::kMillisecond);

void BM_TypicalPagePicture(benchmark::State& state)
{
	Band band;
	std::unique_ptr<BBitmap> image = make_image(600, 400);
	BView recorder(BRect(0, 0, 637.5f, 825), "page", B_FOLLOW_NONE, 0);
	BPicture picture;
	recorder.BeginPicture(&picture);
	draw_typical_page(&recorder, image.get());
	recorder.EndPicture();
	for (auto _ : state)
		band.Render(&picture);
}
BENCHMARK(BM_TypicalPagePicture)->Unit(benchmark::kMillisecond);

void BM_FullPageImage(benchmark::State& state)
{
	Band band;
	std::unique_ptr<BBitmap> image = make_image(2550, 3300);
	auto page = [&](BView* view) {
		view->DrawBitmap(image.get(), BRect(0, 0, 637.25f, 824.75f));
	};
	for (auto _ : state)
		band.Render(page);
}
BENCHMARK(BM_FullPageImage)->Unit(benchmark::kMillisecond);

void BM_BlankPage(benchmark::State& state)
{
	Band band;
	for (auto _ : state)
		band.Render([](BView*) {});
}
BENCHMARK(BM_BlankPage)->Unit(benchmark::kMillisecond);

} // namespace
