// The built-in test page: colour patches, ramps, text in the system fonts, lines, shapes and
// a small picture, designed on a US Letter page and fitted to the page it is set on; and at
// the sheet's corner, where the printable area begins.
#include "DeviceModel.h"
#include "Documents.h"
#include "PageOutput.h"

#include <Bitmap.h>
#include <Font.h>
#include <View.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace frontend {

namespace {

const float kDesignWidth = 637.5f;
const float kDesignHeight = 825;

// The Letter-sized design, fitted and centred on the content page.
class Canvas {
public:
	Canvas(const ContentCanvas& content, float width, float height)
		: fView(content.View()),
		  fDesign(content.View(), BPoint(0, 0), 1)
	{
		float fit = std::min(width / kDesignWidth, height / kDesignHeight);
		BPoint origin = content.P((width - kDesignWidth * fit) / 2,
			(height - kDesignHeight * fit) / 2);
		fDesign = ContentCanvas(fView, origin, content.S(fit));
	}

	BPoint P(float x, float y) const { return fDesign.P(x, y); }
	BRect R(float l, float t, float r, float b) const { return fDesign.R(l, t, r, b); }
	float S(float length) const { return fDesign.S(length); }

	void Font(const BFont* base, float size)
	{
		BFont font(*base);
		font.SetSize(S(size));
		fView->SetFont(&font);
	}

	void Text(const char* text, float x, float y) { fView->DrawString(text, P(x, y)); }

	BView* View() const { return fView; }

private:
	BView* fView;
	ContentCanvas fDesign;
};

rgb_color hue_color(float hue)
{
	float h = hue * 6;
	int sector = static_cast<int>(h) % 6;
	float f = h - std::floor(h);
	uint8 up = static_cast<uint8>(255 * f);
	uint8 down = static_cast<uint8>(255 * (1 - f));
	switch (sector) {
		case 0: return make_color(255, up, 0);
		case 1: return make_color(down, 255, 0);
		case 2: return make_color(0, 255, up);
		case 3: return make_color(0, down, 255);
		case 4: return make_color(up, 0, 255);
		default: return make_color(255, 0, down);
	}
}

// A small picture with no symmetry: a blue field with a red "F" and a yellow corner, so a
// flipped, rotated or channel-swapped image shows at once.
std::unique_ptr<BBitmap> test_image()
{
	auto image = std::make_unique<BBitmap>(BRect(0, 0, 119, 79), B_RGB32);
	if (image->InitCheck() != B_OK)
		return nullptr;
	for (int y = 0; y < 80; y++) {
		for (int x = 0; x < 120; x++) {
			uint8* pixel = static_cast<uint8*>(image->Bits()) + y * image->BytesPerRow() + x * 4;
			uint8 red = static_cast<uint8>(40 + x);
			uint8 green = static_cast<uint8>(60 + y * 2);
			uint8 blue = 200;
			bool stem = x >= 20 && x < 34 && y >= 10 && y < 70;
			bool top = x >= 20 && x < 80 && y >= 10 && y < 22;
			bool middle = x >= 20 && x < 64 && y >= 34 && y < 45;
			if (stem || top || middle) {
				red = 230;
				green = 20;
				blue = 20;
			}
			if (x >= 100 && y < 16) {
				red = 255;
				green = 230;
				blue = 0;
			}
			pixel[0] = blue;
			pixel[1] = green;
			pixel[2] = red;
			pixel[3] = 255;
		}
	}
	return image;
}

void draw_test_page(Canvas& canvas, const std::string& caption, const BBitmap* bitmap)
{
	BView* view = canvas.View();
	const rgb_color black = make_color(0, 0, 0);

	// Frame and title.
	view->SetHighColor(black);
	view->SetPenSize(canvas.S(1));
	view->StrokeRect(canvas.R(37.5f, 37.5f, 600, 787.5f));
	canvas.Font(be_bold_font, 26);
	canvas.Text("Tessary test page", 55, 82);
	canvas.Font(be_plain_font, 10);
	canvas.Text(caption.c_str(), 55, 102);

	// Colour patches: the three inks, their pairs, black and paper white.
	const rgb_color patches[] = {
		make_color(0, 255, 255), make_color(255, 0, 255), make_color(255, 255, 0),
		make_color(255, 0, 0), make_color(0, 255, 0), make_color(0, 0, 255),
		make_color(0, 0, 0), make_color(255, 255, 255)};
	const char* labels[] = {"Cyan", "Magenta", "Yellow", "Red", "Green", "Blue", "Black",
		"White"};
	canvas.Font(be_plain_font, 8);
	for (int i = 0; i < 8; i++) {
		float left = 55 + i * 67;
		view->SetHighColor(patches[i]);
		view->FillRect(canvas.R(left, 118, left + 59, 172));
		view->SetHighColor(black);
		if (i == 7)
			view->StrokeRect(canvas.R(left, 118, left + 59, 172));
		canvas.Text(labels[i], left, 184);
	}

	// Grey ramp in 32 steps and a hue ramp.
	canvas.Font(be_plain_font, 9);
	canvas.Text("Grey ramp", 55, 204);
	for (int i = 0; i < 32; i++) {
		uint8 level = static_cast<uint8>(255 - i * 255 / 31);
		view->SetHighColor(make_color(level, level, level));
		float left = 55 + i * 16.5f;
		view->FillRect(canvas.R(left, 208, left + 16.5f, 240));
	}
	view->SetHighColor(black);
	view->StrokeRect(canvas.R(55, 208, 583, 240));
	canvas.Text("Hue ramp", 55, 258);
	for (int i = 0; i < 64; i++) {
		view->SetHighColor(hue_color(i / 64.0f));
		float left = 55 + i * 8.25f;
		view->FillRect(canvas.R(left, 262, left + 8.25f, 286));
	}
	for (int plane = 0; plane < 3; plane++) {
		for (int i = 0; i < 32; i++) {
			uint8 level = static_cast<uint8>(255 - i * 255 / 31);
			rgb_color color = make_color(255, 255, 255);
			if (plane == 0)
				color.red = level;
			else if (plane == 1)
				color.green = level;
			else
				color.blue = level;
			view->SetHighColor(color);
			float left = 55 + i * 16.5f;
			float top = 292 + plane * 12;
			view->FillRect(canvas.R(left, top, left + 16.5f, top + 10));
		}
	}

	// Text in the three system fonts.
	view->SetHighColor(black);
	const char* pangram = "The quick brown fox jumps over the lazy dog. 0123456789";
	canvas.Font(be_plain_font, 12);
	canvas.Text(pangram, 55, 350);
	canvas.Font(be_bold_font, 12);
	canvas.Text(pangram, 55, 368);
	canvas.Font(be_fixed_font, 11);
	canvas.Text("Fixed: { int dots = 8 * SpoolWidth; } <>[]|\\/", 55, 386);
	const float sizes[] = {6, 8, 10, 14, 18, 24};
	float x = 55;
	for (float size : sizes) {
		canvas.Font(be_plain_font, size);
		char sample[48];
		snprintf(sample, sizeof(sample), "%gpt Aa", static_cast<double>(size));
		canvas.Text(sample, x, 420);
		x += size * 4.2f + 14;
	}
	view->SetHighColor(make_color(200, 0, 0));
	canvas.Font(be_bold_font, 14);
	canvas.Text("Red text", 55, 446);
	view->SetHighColor(make_color(0, 0, 190));
	canvas.Text("Blue text", 160, 446);
	view->SetHighColor(make_color(0, 140, 0));
	canvas.Text("Green text", 265, 446);

	// Lines of growing width and a fan of thin lines.
	view->SetHighColor(black);
	for (int i = 0; i < 8; i++) {
		view->SetPenSize(canvas.S(0.5f + i * 0.75f));
		float y = 476 + i * 12;
		view->StrokeLine(canvas.P(55, y), canvas.P(215, y));
	}
	view->SetPenSize(canvas.S(0.5f));
	for (int i = 0; i <= 12; i++) {
		double angle = i * M_PI / 24;
		view->StrokeLine(canvas.P(235, 580),
			canvas.P(235 + 100 * static_cast<float>(cos(angle)),
				580 - 100 * static_cast<float>(sin(angle))));
	}

	// Curves and shapes.
	view->SetPenSize(canvas.S(2));
	view->SetHighColor(make_color(0, 120, 200));
	BPoint curve[4] = {canvas.P(360, 560), canvas.P(390, 470), canvas.P(450, 620),
		canvas.P(480, 480)};
	view->StrokeBezier(curve);
	view->SetHighColor(make_color(220, 0, 120));
	view->FillEllipse(canvas.R(500, 470, 580, 530));
	view->SetHighColor(make_color(0, 160, 80));
	view->StrokeArc(canvas.P(540, 562), canvas.S(30), canvas.S(30), 30, 240);
	BPoint star[10];
	for (int i = 0; i < 10; i++) {
		double angle = -M_PI / 2 + i * M_PI / 5;
		float radius = (i % 2 == 0) ? 42 : 17;
		star[i] = canvas.P(90 + radius * static_cast<float>(cos(angle)),
			640 + radius * static_cast<float>(sin(angle)));
	}
	view->SetHighColor(make_color(250, 180, 0));
	view->FillPolygon(star, 10);
	view->SetHighColor(black);
	view->SetPenSize(canvas.S(1));
	view->StrokePolygon(star, 10, true);
	view->SetHighColor(make_color(120, 60, 180));
	view->FillRoundRect(canvas.R(150, 605, 250, 675), canvas.S(12), canvas.S(12));
	view->SetHighColor(make_color(0, 0, 0));
	view->FillTriangle(canvas.P(270, 675), canvas.P(310, 605), canvas.P(350, 675));

	// The embedded bitmap, scaled up, with a frame.
	BRect imageFrame = canvas.R(380, 605, 560, 725);
	view->DrawBitmap(bitmap, bitmap->Bounds(), imageFrame);
	view->SetHighColor(black);
	view->StrokeRect(imageFrame);

	// Footer.
	canvas.Font(be_fixed_font, 8);
	canvas.Text("Tessary colour ink-jet driver: PCL raster, error diffusion, black generation",
		55, 770);
}

// Where the printable area begins: an L along its top and left edges from its corner on the
// portrait sheet, half an inch each way, with the margins in words beside it. It is drawn on
// the sheet whatever the design's fit, scaling or turning, so that the sheet shows how much
// of its top and left edges the printer cannot reach.
void draw_printable_corner(ContentCanvas& content, const PageSetup& setup,
	const Placement& placement)
{
	device::Margins margins = device::sheet_margins();
	const float corner_x = device::units_of_inches(margins.left);
	const float corner_y = device::units_of_inches(margins.top);
	const float leg = device::units_of_inches(0.5);
	auto at = [&](float x, float y) {
		BPoint point = placement.ToContent(BPoint(setup.paper.left + x, setup.paper.top + y),
			setup);
		return content.P(point.x, point.y);
	};
	BView* view = content.View();
	view->SetHighColor(make_color(0, 0, 0));
	view->SetPenSize(content.S(1.5f / placement.scale));
	view->StrokeLine(at(corner_x, corner_y), at(corner_x + leg, corner_y));
	view->StrokeLine(at(corner_x, corner_y), at(corner_x, corner_y + leg));

	char text[96];
	snprintf(text, sizeof(text), "printing begins here, %.2f in from the left and %.2f in "
		"from the top", margins.left, margins.top);
	BFont font(be_plain_font);
	font.SetSize(content.S(device::units_of_points(6) / placement.scale));
	view->SetFont(&font);
	// Inside the L, as the page's text runs: along the sheet's top edge on portrait paper;
	// on turned paper the laid-out page's top runs down the sheet's left edge, so the text
	// ends short of the corner there.
	const float gap = device::units_of_inches(0.12);
	BPoint start = at(corner_x + gap, corner_y + gap);
	if (placement.turned)
		start = at(corner_x + gap, corner_y + gap) - BPoint(font.StringWidth(text), 0);
	view->DrawString(text, start);
}

}  // namespace

class TestPage : public Document {
public:
	TestPage(const PageSetup& setup, const std::string& caption)
		: fSetup(setup), fCaption(caption) {}

	int32 CountPages() const override { return 1; }

	bool RecordPage(int32, PageSink* sink, std::string* error) override
	{
		std::unique_ptr<BBitmap> bitmap = test_image();
		if (bitmap == nullptr) {
			*error = "out of memory";
			return false;
		}
		float width, height;
		Placement placement = place_flow_page(fSetup, &width, &height);
		return record_vector_page(fSetup, placement, [&](ContentCanvas& content) {
			Canvas canvas(content, width, height);
			draw_test_page(canvas, fCaption, bitmap.get());
			draw_printable_corner(content, fSetup, placement);
		}, sink, error);
	}

private:
	PageSetup fSetup;
	std::string fCaption;
};

std::unique_ptr<Document> open_test_page(const PageSetup& setup, const std::string& caption)
{
	return std::make_unique<TestPage>(setup, caption);
}

}  // namespace frontend
