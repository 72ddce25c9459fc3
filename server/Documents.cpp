#include "Documents.h"

#include <Bitmap.h>
#include <Font.h>
#include <Picture.h>
#include <View.h>

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace server {

namespace {

// Half an inch of white around everything the tool sets on a page.
const float kMargin = 37.5f;
// Images larger than this many pixels are refused rather than decoded.
const uint64 kMaxImagePixels = 100ull * 1000 * 1000;
// Images are kept at no more detail than the printer's finest resolution (4 dots per unit).
const float kDotsPerUnit = 4.0f;

// Records one page at a time through a view, as an application draws what it prints.
class PageRecorder {
public:
	explicit PageRecorder(BRect paper)
		: fBitmap(BRect(0, 0, 7, 7), B_RGB32, true),
		  fView(new BView(paper, "page", B_FOLLOW_ALL_SIDES, B_WILL_DRAW))
	{
		fBitmap.AddChild(fView);
	}

	~PageRecorder()
	{
		fBitmap.Lock();
		fBitmap.RemoveChild(fView);
		fBitmap.Unlock();
		delete fView;
	}

	BView* Begin()
	{
		fBitmap.Lock();
		fView->BeginPicture(new BPicture);
		return fView;
	}

	std::unique_ptr<BPicture> End()
	{
		std::unique_ptr<BPicture> picture(fView->EndPicture());
		fBitmap.Unlock();
		return picture;
	}

private:
	BBitmap fBitmap;
	BView* fView;
};

bool finish_page(PageRecorder& recorder, BRect paper, const PageSink& sink, std::string* error)
{
	SpooledPage page;
	SpooledPicture picture;
	picture.where = BPoint(paper.left, paper.top);
	picture.rect = paper;
	picture.picture = recorder.End();
	page.push_back(std::move(picture));
	return sink(page, error);
}

// --- images -----------------------------------------------------------------

// Decoded pixels, 4 bytes each in B_RGB32 memory order (blue, green, red, alpha).
struct Image {
	int width = 0;
	int height = 0;
	std::vector<uint8> pixels;
};

bool load_png(const std::string& path, Image* image, std::string* error)
{
	png_image png;
	memset(&png, 0, sizeof(png));
	png.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file(&png, path.c_str())) {
		*error = path + ": not a readable PNG image (" + png.message + ")";
		return false;
	}
	if (static_cast<uint64>(png.width) * png.height > kMaxImagePixels || png.width == 0
		|| png.height == 0) {
		png_image_free(&png);
		*error = path + ": image too large to print";
		return false;
	}
	png.format = PNG_FORMAT_BGRA;
	image->width = static_cast<int>(png.width);
	image->height = static_cast<int>(png.height);
	image->pixels.resize(PNG_IMAGE_SIZE(png));
	if (!png_image_finish_read(&png, nullptr, image->pixels.data(), 0, nullptr)) {
		*error = path + ": damaged PNG image (" + png.message + ")";
		png_image_free(&png);
		return false;
	}
	return true;
}

struct JpegErrorManager {
	jpeg_error_mgr base;
	jmp_buf escape;
	char message[JMSG_LENGTH_MAX];
};

void jpeg_error_exit(j_common_ptr info)
{
	auto* manager = reinterpret_cast<JpegErrorManager*>(info->err);
	(*info->err->format_message)(info, manager->message);
	longjmp(manager->escape, 1);
}

bool load_jpeg(const std::string& path, Image* image, std::string* error)
{
	FILE* file = fopen(path.c_str(), "rb");
	if (file == nullptr) {
		*error = "cannot open " + path + ": " + strerror(errno);
		return false;
	}
	jpeg_decompress_struct info;
	JpegErrorManager manager;
	info.err = jpeg_std_error(&manager.base);
	manager.base.error_exit = jpeg_error_exit;
	if (setjmp(manager.escape)) {
		jpeg_destroy_decompress(&info);
		fclose(file);
		*error = path + ": damaged JPEG image (" + manager.message + ")";
		return false;
	}
	jpeg_create_decompress(&info);
	jpeg_stdio_src(&info, file);
	jpeg_read_header(&info, TRUE);
	if (static_cast<uint64>(info.image_width) * info.image_height > kMaxImagePixels) {
		jpeg_destroy_decompress(&info);
		fclose(file);
		*error = path + ": image too large to print";
		return false;
	}
	info.out_color_space = JCS_EXT_BGRA;
	jpeg_start_decompress(&info);
	image->width = static_cast<int>(info.output_width);
	image->height = static_cast<int>(info.output_height);
	image->pixels.resize(static_cast<size_t>(image->width) * image->height * 4);
	while (info.output_scanline < info.output_height) {
		JSAMPROW row = &image->pixels[static_cast<size_t>(info.output_scanline) * image->width * 4];
		jpeg_read_scanlines(&info, &row, 1);
	}
	jpeg_finish_decompress(&info);
	jpeg_destroy_decompress(&info);
	fclose(file);
	return true;
}

// Area-averaged reduction to width x height, alpha composited on white paper.
Image reduce_on_white(const Image& source, int width, int height)
{
	Image result;
	result.width = width;
	result.height = height;
	result.pixels.resize(static_cast<size_t>(width) * height * 4);
	for (int y = 0; y < height; y++) {
		int y0 = static_cast<int>(static_cast<int64>(y) * source.height / height);
		int y1 = std::max(y0 + 1, static_cast<int>(static_cast<int64>(y + 1) * source.height / height));
		for (int x = 0; x < width; x++) {
			int x0 = static_cast<int>(static_cast<int64>(x) * source.width / width);
			int x1 = std::max(x0 + 1, static_cast<int>(static_cast<int64>(x + 1) * source.width / width));
			uint64 sum[3] = {0, 0, 0};
			for (int sy = y0; sy < y1; sy++) {
				const uint8* pixel = &source.pixels[(static_cast<size_t>(sy) * source.width + x0) * 4];
				for (int sx = x0; sx < x1; sx++, pixel += 4) {
					uint32 alpha = pixel[3];
					for (int c = 0; c < 3; c++)
						sum[c] += (pixel[c] * alpha + 255 * (255 - alpha)) / 255;
				}
			}
			uint64 count = static_cast<uint64>(y1 - y0) * (x1 - x0);
			uint8* out = &result.pixels[(static_cast<size_t>(y) * width + x) * 4];
			for (int c = 0; c < 3; c++)
				out[c] = static_cast<uint8>(sum[c] / count);
			out[3] = 255;
		}
	}
	return result;
}

std::unique_ptr<BBitmap> make_bitmap(const Image& image)
{
	auto bitmap = std::make_unique<BBitmap>(
		BRect(0, 0, image.width - 1, image.height - 1), B_RGB32);
	if (bitmap->InitCheck() != B_OK)
		return nullptr;
	uint8* bits = static_cast<uint8*>(bitmap->Bits());
	for (int y = 0; y < image.height; y++) {
		memcpy(bits + static_cast<size_t>(y) * bitmap->BytesPerRow(),
			&image.pixels[static_cast<size_t>(y) * image.width * 4],
			static_cast<size_t>(image.width) * 4);
	}
	return bitmap;
}

bool record_image(const Image& decoded, const PageFormat& format, const PageSink& sink,
	std::string* error)
{
	BRect area = format.paper;
	area.InsetBy(kMargin, kMargin);
	float scale = std::min((area.Width() + 1) / decoded.width, (area.Height() + 1) / decoded.height);
	float width = decoded.width * scale;
	float height = decoded.height * scale;
	BRect destination(0, 0, width - 1, height - 1);
	destination.OffsetTo(area.left + (area.Width() + 1 - width) / 2,
		area.top + (area.Height() + 1 - height) / 2);

	// No more pixels than the finest resolution can show.
	int pixelsWide = std::max(1, std::min(decoded.width,
		static_cast<int>(std::ceil(width * kDotsPerUnit))));
	int pixelsHigh = std::max(1, std::min(decoded.height,
		static_cast<int>(std::ceil(height * kDotsPerUnit))));
	Image reduced = reduce_on_white(decoded, pixelsWide, pixelsHigh);
	std::unique_ptr<BBitmap> bitmap = make_bitmap(reduced);
	if (bitmap == nullptr) {
		*error = "out of memory for the image";
		return false;
	}

	PageRecorder recorder(format.paper);
	BView* view = recorder.Begin();
	view->DrawBitmap(bitmap.get(), bitmap->Bounds(), destination);
	return finish_page(recorder, format.paper, sink, error);
}

// --- text -------------------------------------------------------------------

// Splits text into printable lines: tabs to the next multiple of 8, form feeds start a new
// page (an empty string marks the break), bytes that are not UTF-8 become '?', other control
// characters are dropped.
std::vector<std::string> text_lines(const std::string& text, size_t columns)
{
	std::vector<std::string> lines;
	std::string line;
	size_t cells = 0;
	auto wrap = [&]() {
		lines.push_back(line);
		line.clear();
		cells = 0;
	};
	for (size_t i = 0; i < text.size();) {
		unsigned char c = static_cast<unsigned char>(text[i]);
		if (c == '\n') {
			wrap();
			i++;
			continue;
		}
		if (c == '\f') {
			if (!line.empty())
				wrap();
			lines.push_back(std::string("\f"));
			i++;
			continue;
		}
		if (c == '\t') {
			size_t next = (cells / 8 + 1) * 8;
			if (next > columns) {
				wrap();
			} else {
				line.append(next - cells, ' ');
				cells = next;
			}
			i++;
			continue;
		}
		size_t length = 1;
		bool valid = true;
		if (c >= 0x80) {
			length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 0;
			valid = length >= 2 && i + length <= text.size() && c < 0xf5;
			for (size_t k = 1; valid && k < length; k++)
				valid = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
		} else if (c < 0x20 || c == 0x7f) {
			i++;
			continue;
		}
		if (cells >= columns)
			wrap();
		if (valid) {
			line.append(text, i, length);
			i += length;
		} else {
			line += '?';
			i++;
		}
		cells++;
	}
	if (!line.empty())
		lines.push_back(line);
	return lines;
}

// --- the test page ----------------------------------------------------------

// Lays the test page out on a Letter-sized canvas and scales it onto any paper.
class Canvas {
public:
	Canvas(BView* view, BRect paper) : fView(view)
	{
		fScale = std::min((paper.Width()) / 637.5f, (paper.Height()) / 825.0f);
		fOrigin = BPoint(paper.left + (paper.Width() - 637.5f * fScale) / 2,
			paper.top + (paper.Height() - 825.0f * fScale) / 2);
	}

	BPoint P(float x, float y) const { return BPoint(fOrigin.x + x * fScale, fOrigin.y + y * fScale); }
	BRect R(float l, float t, float r, float b) const { return BRect(P(l, t), P(r, b)); }
	float S(float length) const { return length * fScale; }

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
	float fScale;
	BPoint fOrigin;
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
Image test_image()
{
	Image image;
	image.width = 120;
	image.height = 80;
	image.pixels.resize(static_cast<size_t>(image.width) * image.height * 4);
	for (int y = 0; y < image.height; y++) {
		for (int x = 0; x < image.width; x++) {
			uint8* pixel = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
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

}  // namespace

bool record_test_page(const PageFormat& format, const PageSink& sink, std::string* error)
{
	std::unique_ptr<BBitmap> bitmap = make_bitmap(test_image());
	if (bitmap == nullptr) {
		*error = "out of memory";
		return false;
	}
	PageRecorder recorder(format.paper);
	BView* view = recorder.Begin();
	Canvas canvas(view, format.paper);
	draw_test_page(canvas, format.caption, bitmap.get());
	return finish_page(recorder, format.paper, sink, error);
}

bool record_text(const std::string& text, const std::string& title, const PageFormat& format,
	const PageSink& sink, std::string* error)
{
	(void)title;
	BFont font(be_fixed_font);
	font.SetSize(10);
	font_height height;
	font.GetHeight(&height);
	float lineHeight = std::ceil(height.ascent + height.descent + height.leading);
	float cellWidth = font.StringWidth("M");
	BRect area = format.paper;
	area.InsetBy(kMargin, kMargin);
	size_t columns = static_cast<size_t>(std::max(8.0f, std::floor((area.Width() + 1) / cellWidth)));
	size_t rows = static_cast<size_t>(std::max(1.0f, std::floor((area.Height() + 1) / lineHeight)));

	std::vector<std::string> lines = text_lines(text, columns);
	size_t index = 0;
	do {
		PageRecorder recorder(format.paper);
		BView* view = recorder.Begin();
		view->SetFont(&font);
		view->SetHighColor(make_color(0, 0, 0));
		for (size_t row = 0; row < rows && index < lines.size(); index++) {
			if (lines[index] == "\f") {
				index++;
				break;
			}
			if (!lines[index].empty()) {
				view->DrawString(lines[index].c_str(),
					BPoint(area.left, area.top + height.ascent + row * lineHeight));
			}
			row++;
		}
		if (!finish_page(recorder, format.paper, sink, error))
			return false;
	} while (index < lines.size());
	return true;
}

bool record_document(const std::string& path, const PageFormat& format, const PageSink& sink,
	std::string* error)
{
	std::ifstream file(path, std::ios::binary);
	if (!file) {
		*error = "cannot open " + path + ": " + strerror(errno);
		return false;
	}
	unsigned char magic[8] = {};
	file.read(reinterpret_cast<char*>(magic), sizeof(magic));
	size_t got = static_cast<size_t>(file.gcount());
	if (got >= 8 && memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0) {
		Image image;
		return load_png(path, &image, error) && record_image(image, format, sink, error);
	}
	if (got >= 3 && magic[0] == 0xff && magic[1] == 0xd8 && magic[2] == 0xff) {
		Image image;
		return load_jpeg(path, &image, error) && record_image(image, format, sink, error);
	}

	file.clear();
	file.seekg(0);
	std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
	if (file.bad()) {
		*error = "cannot read " + path;
		return false;
	}
	if (text.find('\0') != std::string::npos) {
		*error = path + ": not a document the tool can print (PNG, JPEG or plain text)";
		return false;
	}
	return record_text(text, path, format, sink, error);
}

}  // namespace server
