// PNG and JPEG images: decoded through libpng and libjpeg when their page is recorded, laid
// out at their natural size (the file's density, 72 pixels per inch when it gives none),
// shrunk to fit and turned as the page setup says, and drawn smooth at the job's
// resolution on white paper.
#include "Documents.h"
#include "PageOutput.h"

#include <jpeglib.h>
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace server {

namespace {

// Images larger than this many pixels are refused rather than decoded.
const uint64 kMaxImagePixels = 100ull * 1000 * 1000;
const float kDefaultPixelsPerInch = 72;

// Decoded pixels, 4 bytes each in B_RGB32 memory order (blue, green, red, alpha).
struct Image {
	int width = 0;
	int height = 0;
	float pixelsPerInch = kDefaultPixelsPerInch;
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

// libjpeg prints its warnings (a file that ends early, say) on standard error; the tool's
// answer is one line, so they are dropped. The image decodes as far as it goes.
void jpeg_quiet_warning(j_common_ptr)
{
}

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
	manager.base.output_message = jpeg_quiet_warning;
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
	// The density the file gives, when it gives one in dots per inch or centimetre.
	if (info.density_unit == 1 && info.X_density > 0)
		image->pixelsPerInch = info.X_density;
	else if (info.density_unit == 2 && info.X_density > 0)
		image->pixelsPerInch = info.X_density * 2.54f;
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

// Alpha composited on white paper, in place; the pixels are then Cairo's RGB24.
void flatten_on_white(Image* image)
{
	uint8* pixel = image->pixels.data();
	for (size_t i = 0; i < image->pixels.size(); i += 4, pixel += 4) {
		uint32 alpha = pixel[3];
		for (int c = 0; c < 3; c++)
			pixel[c] = static_cast<uint8>((pixel[c] * alpha + 255 * (255 - alpha)) / 255);
		pixel[3] = 255;
	}
}

typedef bool (*ImageLoader)(const std::string& path, Image* image, std::string* error);

class ImageDocument : public Document {
public:
	ImageDocument(const std::string& path, const PageSetup& setup, ImageLoader loader)
		: fPath(path), fSetup(setup), fLoader(loader) {}

	int32 CountPages() const override { return 1; }

	bool RecordPage(int32, PageSink* sink, std::string* error) override
	{
		Image image;
		if (!fLoader(fPath, &image, error))
			return false;
		flatten_on_white(&image);
		// Natural size in page units of 1/75 inch.
		float width = image.width * 75 / image.pixelsPerInch;
		float height = image.height * 75 / image.pixelsPerInch;
		Placement placement = place_page(fSetup, width, height);
		return record_cairo_page(fSetup, placement, [&](cairo_t* cairo, std::string* drawError) {
			CairoSurface pixels(cairo_image_surface_create_for_data(image.pixels.data(),
				CAIRO_FORMAT_RGB24, image.width, image.height, image.width * 4));
			if (cairo_surface_status(pixels.get()) != CAIRO_STATUS_SUCCESS) {
				*drawError = fPath + ": the image cannot be drawn";
				return false;
			}
			cairo_scale(cairo, width / image.width, height / image.height);
			cairo_set_source_surface(cairo, pixels.get(), 0, 0);
			// Edges stay sharp: the image's own last pixels, not a fade into nothing.
			cairo_pattern_set_extend(cairo_get_source(cairo), CAIRO_EXTEND_PAD);
			cairo_pattern_set_filter(cairo_get_source(cairo), CAIRO_FILTER_GOOD);
			cairo_rectangle(cairo, 0, 0, image.width, image.height);
			cairo_fill(cairo);
			return true;
		}, sink, error);
	}

private:
	std::string fPath;
	PageSetup fSetup;
	ImageLoader fLoader;
};

// Whether the file starts as an image of the kind says, with the library's reason if not;
// the pixels are decoded only when the page is recorded.
bool check_png(const std::string& path, std::string* error)
{
	png_image png;
	memset(&png, 0, sizeof(png));
	png.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file(&png, path.c_str())) {
		*error = path + ": not a readable PNG image (" + png.message + ")";
		return false;
	}
	png_image_free(&png);
	return true;
}

bool check_jpeg(const std::string& path, std::string* error)
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
		*error = path + ": not a readable JPEG image (" + manager.message + ")";
		return false;
	}
	jpeg_create_decompress(&info);
	jpeg_stdio_src(&info, file);
	jpeg_read_header(&info, TRUE);
	jpeg_destroy_decompress(&info);
	fclose(file);
	return true;
}

}  // namespace

std::unique_ptr<Document> open_png(const std::string& path, const PageSetup& setup,
	std::string* error)
{
	if (!check_png(path, error))
		return nullptr;
	return std::make_unique<ImageDocument>(path, setup, load_png);
}

std::unique_ptr<Document> open_jpeg(const std::string& path, const PageSetup& setup,
	std::string* error)
{
	if (!check_jpeg(path, error))
		return nullptr;
	return std::make_unique<ImageDocument>(path, setup, load_jpeg);
}

}  // namespace server
