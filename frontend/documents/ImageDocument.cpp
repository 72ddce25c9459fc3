// PNG and JPEG images: decoded through libpng and libjpeg when their page is recorded, laid
// out at their natural size (the file's density, 72 pixels per inch when it gives none),
// shrunk to fit and turned as the page setup says, on white paper.
//
// An image that lands on the paper one pixel to a device dot (a photo made for the job's
// resolution) takes one trip: each decoded row goes straight into the page's strips of
// pixels, and the image is never held whole. Any other image is decoded whole and drawn
// smooth by Cairo at the job's resolution.
#include "DeviceModel.h"
#include "Documents.h"
#include "PageOutput.h"
#include "PixelPage.h"

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace frontend {

namespace {

// Images larger than this many pixels are refused rather than decoded.
const uint64 kMaxImagePixels = 100ull * 1000 * 1000;
const float kDefaultPixelsPerInch = 72;

struct FileCloser {
	void operator()(FILE* file) const { fclose(file); }
};
typedef std::unique_ptr<FILE, FileCloser> File;

// An image's rows, top to bottom, as 8-bit red, green and blue, alpha composited on white
// paper. Start reads the header; every row is then read once, in order.
class ImageRows {
public:
	virtual ~ImageRows() = default;

	virtual bool Start(std::string* error) = 0;
	virtual bool ReadRow(uint8* rgb, std::string* error) = 0;
	// After the last row: the rest of the file is checked as far as the format allows.
	virtual bool Finish(std::string* error) = 0;

	int32 Width() const { return fWidth; }
	int32 Height() const { return fHeight; }
	float PixelsPerInch() const { return fPixelsPerInch; }

protected:
	// False (with the error) for an image too large to print or of no size.
	bool _CheckSize(std::string* error)
	{
		if (fWidth <= 0 || fHeight <= 0
			|| static_cast<uint64>(fWidth) * static_cast<uint64>(fHeight) > kMaxImagePixels) {
			*error = "image too large to print";
			return false;
		}
		return true;
	}

	int32 fWidth = 0;
	int32 fHeight = 0;
	float fPixelsPerInch = kDefaultPixelsPerInch;
	bool fStarted = false;  // the header was read: a failure from here on is damage
};

// Alpha composited on white paper, as the paper shows through what is not opaque.
void composite_on_white(const uint8* rgba, uint8* rgb, int32 count)
{
	for (int32 i = 0; i < count; i++, rgba += 4, rgb += 3) {
		uint32 alpha = rgba[3];
		for (int c = 0; c < 3; c++)
			rgb[c] = static_cast<uint8>((rgba[c] * alpha + 255 * (255 - alpha)) / 255);
	}
}

// libpng reports errors by jumping back to the setjmp of the call in hand; no object with a
// destructor lives between the two in any of these methods.
class PngRows : public ImageRows {
public:
	explicit PngRows(const std::string& path) : fPath(path) {}

	~PngRows() override
	{
		if (fPng != nullptr)
			png_destroy_read_struct(&fPng, &fInfo, nullptr);
	}

	bool Start(std::string* error) override
	{
		fFile.reset(fopen(fPath.c_str(), "rb"));
		if (fFile == nullptr) {
			*error = std::string("cannot be opened: ") + strerror(errno);
			return false;
		}
		fPng = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, &PngRows::_Error,
			&PngRows::_Warning);
		if (fPng == nullptr || (fInfo = png_create_info_struct(fPng)) == nullptr) {
			*error = "out of memory for a PNG image";
			return false;
		}
		if (setjmp(png_jmpbuf(fPng)))
			return _Failed(error);
		png_init_io(fPng, fFile.get());
		png_read_info(fPng, fInfo);
		fWidth = static_cast<int32>(std::min<png_uint_32>(png_get_image_width(fPng, fInfo),
			0x7fffffff));
		fHeight = static_cast<int32>(std::min<png_uint_32>(png_get_image_height(fPng, fInfo),
			0x7fffffff));
		if (!_CheckSize(error))
			return false;
		fStarted = true;
		png_uint_32 xDensity = 0;
		png_uint_32 yDensity = 0;
		int unit = PNG_RESOLUTION_UNKNOWN;
		if (png_get_pHYs(fPng, fInfo, &xDensity, &yDensity, &unit) != 0
			&& unit == PNG_RESOLUTION_METER && xDensity > 0 && xDensity == yDensity)
			fPixelsPerInch = static_cast<float>(xDensity * 0.0254);
		// Every kind of PNG as 8-bit RGB or RGBA: palettes and low bit depths expanded,
		// transparency made alpha, grey made colour, 16 bits cut to 8, the file's gamma
		// brought to the screen's.
		png_set_expand(fPng);
		png_set_strip_16(fPng);
		png_set_gray_to_rgb(fPng);
		double gamma = 0;
		if (png_get_gAMA(fPng, fInfo, &gamma) != 0 && gamma > 0)
			png_set_gamma(fPng, PNG_DEFAULT_sRGB, gamma);
		bool interlaced = png_set_interlace_handling(fPng) > 1;
		png_read_update_info(fPng, fInfo);
		fChannels = png_get_channels(fPng, fInfo);
		fRowBytes = png_get_rowbytes(fPng, fInfo);
		if ((fChannels != 3 && fChannels != 4)
			|| fRowBytes != static_cast<size_t>(fWidth) * fChannels) {
			*error = "a PNG image of a kind that cannot be printed";
			return false;
		}
		if (fChannels == 4)
			fRow.reset(new uint8[fRowBytes]);
		if (interlaced) {
			// The passes of an interlaced image fill rows all over it: it is read whole.
			fWhole.reset(new uint8[fRowBytes * fHeight]);
			fRows.resize(fHeight);
			for (int32 y = 0; y < fHeight; y++)
				fRows[y] = fWhole.get() + fRowBytes * y;
			png_read_image(fPng, fRows.data());
		}
		return true;
	}

	bool ReadRow(uint8* rgb, std::string* error) override
	{
		if (fNext >= fHeight) {
			*error = "no more rows";
			return false;
		}
		uint8* row = fWhole != nullptr ? fRows[fNext] : fChannels == 3 ? rgb : fRow.get();
		if (fWhole == nullptr && !_ReadRow(row))
			return _Failed(error);
		fNext++;
		if (fChannels == 4)
			composite_on_white(row, rgb, fWidth);
		else if (row != rgb)
			memcpy(rgb, row, fRowBytes);
		return true;
	}

	bool Finish(std::string* error) override
	{
		if (setjmp(png_jmpbuf(fPng)))
			return _Failed(error);
		png_read_end(fPng, nullptr);
		return true;
	}

private:
	// The one call that may jump back, alone in its frame.
	bool _ReadRow(uint8* row)
	{
		if (setjmp(png_jmpbuf(fPng)))
			return false;
		png_read_row(fPng, row, nullptr);
		return true;
	}

	static void _Error(png_structp png, png_const_charp message)
	{
		auto* self = static_cast<PngRows*>(png_get_error_ptr(png));
		snprintf(self->fMessage, sizeof(self->fMessage), "%s", message);
		png_longjmp(png, 1);
	}

	// Warnings (an unknown chunk, a bad profile, an ancillary chunk whose CRC fails and is
	// dropped) leave every row whole: not the user's concern. Damage to the rows (a file
	// cut short, a critical chunk's CRC, a broken zlib stream) comes as an error.
	static void _Warning(png_structp, png_const_charp) {}

	bool _Failed(std::string* error)
	{
		*error = std::string(fStarted ? "damaged" : "not a readable") + " PNG image ("
			+ fMessage + ")";
		return false;
	}

	std::string fPath;
	File fFile;
	png_structp fPng = nullptr;
	png_infop fInfo = nullptr;
	int fChannels = 0;
	size_t fRowBytes = 0;
	std::unique_ptr<uint8[]> fRow;    // one RGBA row, before it meets the paper
	std::unique_ptr<uint8[]> fWhole;  // an interlaced image, read whole
	std::vector<uint8*> fRows;
	int32 fNext = 0;
	char fMessage[256] = "";
};

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

// libjpeg reports a file that ends early, or data that makes no sense as codes, only as a
// warning, and goes on with grey where the picture was lost: the page would print as if
// whole. The warnings that well-made photos give too (junk bytes between segments, an
// Adobe transform or a JFIF revision it does not know) are not damage.
bool jpeg_warning_is_damage(int code)
{
	switch (code) {
		case JWRN_JPEG_EOF:
		case JWRN_HIT_MARKER:
		case JWRN_HUFF_BAD_CODE:
#if JPEG_LIB_VERSION >= 70 || defined(C_ARITH_CODING_SUPPORTED) \
	|| defined(D_ARITH_CODING_SUPPORTED)
		case JWRN_ARITH_BAD_CODE:
#endif
		case JWRN_MUST_RESYNC:
		case JWRN_NOT_SEQUENTIAL:
		case JWRN_BOGUS_PROGRESSION:
			return true;
		default:
			return false;
	}
}

// Damage ends the decoding as an error does, with libjpeg's words for it; anything else
// libjpeg would say (other warnings, trace messages) is kept off standard error, where the
// tool's answer is one line.
void jpeg_emit_message(j_common_ptr info, int level)
{
	if (level >= 0)
		return;
	if (jpeg_warning_is_damage(info->err->msg_code))
		(*info->err->error_exit)(info);
	info->err->num_warnings++;
}

// libjpeg reports errors, and the warnings that are damage, by jumping back to the setjmp of
// the call in hand, as libpng does. A progressive file is decoded whole by
// jpeg_start_decompress, so its damage shows in Start; a sequential one's in ReadRow, or in
// Finish when only its end is missing.
class JpegRows : public ImageRows {
public:
	explicit JpegRows(const std::string& path) : fPath(path)
	{
		fInfo.err = jpeg_std_error(&fManager.base);
		fManager.base.error_exit = jpeg_error_exit;
		fManager.base.emit_message = jpeg_emit_message;
		fManager.message[0] = '\0';
	}

	~JpegRows() override
	{
		if (fCreated)
			jpeg_destroy_decompress(&fInfo);
	}

	bool Start(std::string* error) override
	{
		fFile.reset(fopen(fPath.c_str(), "rb"));
		if (fFile == nullptr) {
			*error = std::string("cannot be opened: ") + strerror(errno);
			return false;
		}
		if (setjmp(fManager.escape))
			return _Failed(error);
		jpeg_create_decompress(&fInfo);
		fCreated = true;
		jpeg_stdio_src(&fInfo, fFile.get());
		jpeg_read_header(&fInfo, TRUE);
		fWidth = static_cast<int32>(std::min<JDIMENSION>(fInfo.image_width, 0x7fffffff));
		fHeight = static_cast<int32>(std::min<JDIMENSION>(fInfo.image_height, 0x7fffffff));
		if (!_CheckSize(error))
			return false;
		fStarted = true;
		// The density the file gives, when it gives one in dots per inch or centimetre.
		if (fInfo.density_unit == 1 && fInfo.X_density > 0)
			fPixelsPerInch = fInfo.X_density;
		else if (fInfo.density_unit == 2 && fInfo.X_density > 0)
			fPixelsPerInch = fInfo.X_density * 2.54f;
		fInfo.out_color_space = JCS_RGB;
		jpeg_start_decompress(&fInfo);
		if (fInfo.output_components != 3) {
			*error = "a JPEG image of a kind that cannot be printed";
			return false;
		}
		return true;
	}

	bool ReadRow(uint8* rgb, std::string* error) override
	{
		if (setjmp(fManager.escape))
			return _Failed(error);
		JSAMPROW row = rgb;
		if (jpeg_read_scanlines(&fInfo, &row, 1) != 1) {
			*error = "damaged JPEG image (no more rows)";
			return false;
		}
		return true;
	}

	bool Finish(std::string* error) override
	{
		if (setjmp(fManager.escape))
			return _Failed(error);
		jpeg_finish_decompress(&fInfo);
		return true;
	}

private:
	bool _Failed(std::string* error)
	{
		*error = std::string(fStarted ? "damaged" : "not a readable") + " JPEG image ("
			+ fManager.message + ")";
		return false;
	}

	std::string fPath;
	File fFile;
	jpeg_decompress_struct fInfo;
	JpegErrorManager fManager;
	bool fCreated = false;
};

// Rows decoded on a thread of their own while the caller's thread spools the rows before
// them, so that decoding and spooling overlap. Rows travel in blocks, a few at a time in
// flight; the caller takes them in order with Next.
class RowPipe {
public:
	RowPipe(ImageRows* rows, size_t rowBytes)
		: fRows(rows), fRowBytes(rowBytes)
	{
		for (Block& block : fBlocks)
			block.bytes.reset(new uint8[rowBytes * kBlockRows]);
		fDecoder = std::thread(&RowPipe::_Decode, this);
	}

	~RowPipe()
	{
		{
			std::lock_guard<std::mutex> guard(fLock);
			fStopped = true;
		}
		fChanged.notify_all();
		fDecoder.join();
	}

	// The next row; nullptr when the image failed to decode (*error says why).
	const uint8* Next(std::string* error)
	{
		Block* block = &fBlocks[fTaking % kBlocks];
		if (fTaken == kBlockRows) {
			// The block before is spooled: the decoder may fill it again.
			{
				std::lock_guard<std::mutex> guard(fLock);
				block->full = false;
			}
			fChanged.notify_all();
			fTaking++;
			fTaken = 0;
			block = &fBlocks[fTaking % kBlocks];
		}
		if (fTaken == 0) {
			std::unique_lock<std::mutex> guard(fLock);
			fChanged.wait(guard, [&] { return block->full || !fError.empty(); });
			if (!block->full) {
				*error = fError;
				return nullptr;
			}
		}
		return block->bytes.get() + fRowBytes * fTaken++;
	}

private:
	static constexpr int32 kBlockRows = 32;
	static constexpr int kBlocks = 4;

	struct Block {
		std::unique_ptr<uint8[]> bytes;
		bool full = false;
	};

	void _Decode()
	{
		std::string error;
		const int32 height = fRows->Height();
		for (int32 first = 0, index = 0; first < height; first += kBlockRows, index++) {
			Block& block = fBlocks[index % kBlocks];
			{
				std::unique_lock<std::mutex> guard(fLock);
				fChanged.wait(guard, [&] { return !block.full || fStopped; });
				if (fStopped)
					return;
			}
			int32 count = std::min(kBlockRows, height - first);
			bool read = true;
			for (int32 i = 0; i < count && read; i++)
				read = fRows->ReadRow(block.bytes.get() + fRowBytes * i, &error);
			if (read && first + count == height)
				read = fRows->Finish(&error);
			{
				std::lock_guard<std::mutex> guard(fLock);
				if (!read) {
					fError = error;
				} else {
					block.full = true;
				}
			}
			fChanged.notify_all();
			if (!read)
				return;
		}
	}

	ImageRows* fRows;
	size_t fRowBytes;
	Block fBlocks[kBlocks];
	std::thread fDecoder;
	std::mutex fLock;
	std::condition_variable fChanged;
	bool fStopped = false;     // the caller wants no more rows
	std::string fError;        // the decoder failed; no more rows come
	int64 fTaking = 0;         // the block the caller takes rows from
	int32 fTaken = 0;          // rows of it taken
};

typedef std::unique_ptr<ImageRows> (*RowsFactory)(const std::string& path);

// Where the image's pixels land on whole device dots, one pixel to a dot: the raster's dot
// of its top left corner, before the raster when the image begins in the unprintable
// margins. False when the image is turned, scaled or falls between dots.
bool lands_one_to_one(const cairo_matrix_t& matrix, int32 width, int32 height, int32* left,
	int32* top)
{
	if (matrix.xy != 0 || matrix.yx != 0 || !(matrix.xx > 0) || !(matrix.yy > 0))
		return false;
	// Within half a dot over the whole image: a density of 11,811 pixels a metre is a
	// 300 dpi photo, not one scaled by 0.99999.
	if (std::fabs(matrix.xx * width - width) >= 0.5
		|| std::fabs(matrix.yy * height - height) >= 0.5)
		return false;
	double x = std::round(matrix.x0);
	double y = std::round(matrix.y0);
	if (!(x > -(1 << 24) && y > -(1 << 24) && x < 1 << 24 && y < 1 << 24))
		return false;
	*left = static_cast<int32>(x);
	*top = static_cast<int32>(y);
	return true;
}

class ImageDocument : public Document {
public:
	ImageDocument(const std::string& path, const PageSetup& setup, RowsFactory factory)
		: fPath(path), fSetup(setup), fFactory(factory) {}

	int32 CountPages() const override { return 1; }

	bool RecordPage(int32, PageSink* sink, std::string* error) override
	{
		std::unique_ptr<ImageRows> rows = fFactory(fPath);
		if (!rows->Start(error))
			return false;
		const int32 width = rows->Width();
		const int32 height = rows->Height();
		// Natural size in page units.
		float naturalWidth = width * device::kUnitsPerInch / rows->PixelsPerInch();
		float naturalHeight = height * device::kUnitsPerInch / rows->PixelsPerInch();
		Placement placement = place_page(fSetup, naturalWidth, naturalHeight);
		cairo_matrix_t matrix = placement.DeviceMatrix(fSetup);
		cairo_matrix_scale(&matrix, naturalWidth / width, naturalHeight / height);

		int32 left = 0;
		int32 top = 0;
		if (lands_one_to_one(matrix, width, height, &left, &top))
			return _Stream(rows.get(), left, top, sink, error);
		return _Draw(rows.get(), placement, naturalWidth, naturalHeight, sink, error);
	}

private:
	// Row by row into the page's strips, where the image lies on the raster (`left`, `top`
	// in its dots, which may lie before it). The part of the image outside the printable
	// area is cut; its rows are read all the same, so that damage anywhere in the file ends
	// the job as it does when the image lies whole on the paper.
	bool _Stream(ImageRows* rows, int32 left, int32 top, PageSink* sink, std::string* error)
	{
		const int32 firstColumn = std::max(0, -left);
		const int32 firstRow = std::max(0, -top);
		const int32 endColumn = std::min(rows->Width(), fSetup.PrintableDotsWide() - left);
		const int32 endRow = std::min(rows->Height(), fSetup.PrintableDotsHigh() - top);
		const float unit = 1.0f / static_cast<float>(fSetup.dotsPerUnit);
		PixelArea area;
		area.origin = BPoint(fSetup.paper.left + (left + firstColumn) * unit,
			fSetup.paper.top + (top + firstRow) * unit);
		area.width = endColumn - firstColumn;
		area.height = endRow - firstRow;
		area.dotsPerUnit = fSetup.dotsPerUnit;
		// Less than a unit of the image on the paper is too little for a picture to draw.
		bool shown = area.width >= area.dotsPerUnit && area.height >= area.dotsPerUnit;
		PixelPageWriter writer;
		auto strips = [sink](const SpooledPicture& strip, std::string* stripError) {
			return sink->AddPicture(strip, stripError);
		};
		if (!sink->BeginPage(error)
			|| (shown && !writer.Begin(area, B_RGB24_BIG, strips, error)))
			return false;
		RowPipe pipe(rows, static_cast<size_t>(rows->Width()) * 3);
		for (int32 y = 0; y < rows->Height(); y++) {
			const uint8* row = pipe.Next(error);
			if (row == nullptr)
				return false;
			if (shown && y >= firstRow && y < endRow
				&& !writer.AddRow(row + static_cast<size_t>(firstColumn) * 3, error))
				return false;
		}
		return (!shown || writer.Finish(error)) && sink->EndPage(error);
	}

	// Whole, scaled or turned by Cairo, smooth.
	bool _Draw(ImageRows* rows, const Placement& placement, float naturalWidth,
		float naturalHeight, PageSink* sink, std::string* error)
	{
		const int32 width = rows->Width();
		const int32 height = rows->Height();
		// Cairo's RGB24: blue, green, red and an unused byte, in memory order.
		const size_t stride = static_cast<size_t>(width) * 4;
		std::unique_ptr<uint8[]> pixels(new (std::nothrow) uint8[stride * height]);
		std::unique_ptr<uint8[]> row(new uint8[static_cast<size_t>(width) * 3]);
		if (pixels == nullptr) {
			*error = "out of memory for the image";
			return false;
		}
		for (int32 y = 0; y < height; y++) {
			if (!rows->ReadRow(row.get(), error))
				return false;
			uint8* out = pixels.get() + stride * y;
			const uint8* in = row.get();
			for (int32 x = 0; x < width; x++, in += 3, out += 4) {
				out[0] = in[2];
				out[1] = in[1];
				out[2] = in[0];
				out[3] = 255;
			}
		}
		if (!rows->Finish(error))
			return false;
		return record_cairo_page(fSetup, placement, [&](cairo_t* cairo, std::string* drawError) {
			CairoSurface surface(cairo_image_surface_create_for_data(pixels.get(),
				CAIRO_FORMAT_RGB24, width, height, static_cast<int>(stride)));
			if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
				*drawError = "the image cannot be drawn";
				return false;
			}
			cairo_scale(cairo, naturalWidth / width, naturalHeight / height);
			cairo_set_source_surface(cairo, surface.get(), 0, 0);
			// Edges stay sharp: the image's own last pixels, not a fade into nothing.
			cairo_pattern_set_extend(cairo_get_source(cairo), CAIRO_EXTEND_PAD);
			cairo_pattern_set_filter(cairo_get_source(cairo), CAIRO_FILTER_GOOD);
			cairo_rectangle(cairo, 0, 0, width, height);
			cairo_fill(cairo);
			return true;
		}, sink, error);
	}

	std::string fPath;
	PageSetup fSetup;
	RowsFactory fFactory;
};

std::unique_ptr<ImageRows> png_rows(const std::string& path)
{
	return std::make_unique<PngRows>(path);
}

std::unique_ptr<ImageRows> jpeg_rows(const std::string& path)
{
	return std::make_unique<JpegRows>(path);
}

// Opens a document of an image kind once its header reads, with the library's reason when
// it does not; the pixels are decoded only when the page is recorded.
std::unique_ptr<Document> open_image(const std::string& path, const PageSetup& setup,
	RowsFactory factory, std::string* error)
{
	std::unique_ptr<ImageRows> rows = factory(path);
	if (!rows->Start(error))
		return nullptr;
	return std::make_unique<ImageDocument>(path, setup, factory);
}

}  // namespace

std::unique_ptr<Document> open_png(const std::string& path, const PageSetup& setup,
	std::string* error)
{
	return open_image(path, setup, png_rows, error);
}

std::unique_ptr<Document> open_jpeg(const std::string& path, const PageSetup& setup,
	std::string* error)
{
	return open_image(path, setup, jpeg_rows, error);
}

}  // namespace frontend
