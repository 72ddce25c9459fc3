// PDF documents through poppler: every page of the PDF is a page of the job, laid out as the
// page setup says and rasterised by poppler's Cairo renderer at the job's resolution, as
// poppler renders for printing. Text and line art get hard edges (the dither would scatter
// grey edge pixels as stray dots); images keep the smooth scaling poppler gives them.
#include "DeviceModel.h"
#include "Documents.h"
#include "PageOutput.h"

#include <gio/gio.h>
#include <glib.h>
#include <poppler.h>

#include <memory>

namespace frontend {

namespace {

// Small owners of GLib and GObject handles.
struct GObjectDeleter {
	void operator()(gpointer object) const { g_object_unref(object); }
};
template<typename T>
using GObjectRef = std::unique_ptr<T, GObjectDeleter>;

struct GErrorDeleter {
	void operator()(GError* error) const { g_error_free(error); }
};
typedef std::unique_ptr<GError, GErrorDeleter> GErrorPtr;

struct GFreeDeleter {
	void operator()(gchar* text) const { g_free(text); }
};
typedef std::unique_ptr<gchar, GFreeDeleter> GText;

// Page units of 1/75 inch per PDF point of 1/72 inch.
const double kUnitsPerPoint = device::kUnitsPerInch / device::kPointsPerInch;

class PdfDocument : public Document {
public:
	PdfDocument(const PageSetup& setup, PopplerDocument* document)
		: fSetup(setup), fDocument(document) {}

	int32 CountPages() const override
	{
		return poppler_document_get_n_pages(fDocument.get());
	}

	bool RecordPage(int32 index, PageSink* sink, std::string* error) override
	{
		GObjectRef<PopplerPage> page(poppler_document_get_page(fDocument.get(), index));
		if (page == nullptr) {
			*error = "page " + std::to_string(index + 1) + " cannot be read";
			return false;
		}
		double width = 0, height = 0;
		poppler_page_get_size(page.get(), &width, &height);
		if (!(width > 0 && height > 0 && width < 1e6 && height < 1e6)) {
			*error = "page " + std::to_string(index + 1) + " has no size";
			return false;
		}
		Placement placement = place_page(fSetup, static_cast<float>(width * kUnitsPerPoint),
			static_cast<float>(height * kUnitsPerPoint));
		return record_cairo_page(fSetup, placement, [&](cairo_t* cairo, std::string*) {
			cairo_scale(cairo, kUnitsPerPoint, kUnitsPerPoint);
			// The page's own box only: nothing it draws outside lands on the paper.
			cairo_rectangle(cairo, 0, 0, width, height);
			cairo_clip(cairo);
			cairo_set_antialias(cairo, CAIRO_ANTIALIAS_NONE);
			cairo_font_options_t* options = cairo_font_options_create();
			cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
			cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
			cairo_set_font_options(cairo, options);
			cairo_font_options_destroy(options);
			poppler_page_render_for_printing(page.get(), cairo);
			return true;
		}, sink, error);
	}

private:
	PageSetup fSetup;
	GObjectRef<PopplerDocument> fDocument;
};

}  // namespace

std::unique_ptr<Document> open_pdf(const std::string& path, const PageSetup& setup,
	std::string* error)
{
	GError* failure = nullptr;
	GText absolute(g_canonicalize_filename(path.c_str(), nullptr));
	// Poppler reads a file it opens itself 256 bytes at a time (94,000 system calls for a
	// photo page); from a file stream it reads a kilobyte at a time, and holds no copy.
	GObjectRef<GFile> file(g_file_new_for_path(absolute.get()));
	GObjectRef<GFileInputStream> input(g_file_read(file.get(), nullptr, &failure));
	if (input == nullptr) {
		GErrorPtr owned(failure);
		*error = std::string("cannot be opened: ") + owned->message;
		return nullptr;
	}
	PopplerDocument* document = poppler_document_new_from_stream(G_INPUT_STREAM(input.get()),
		-1, nullptr, nullptr, &failure);
	if (document == nullptr) {
		GErrorPtr owned(failure);
		std::string reason = owned != nullptr ? owned->message : "unknown reason";
		*error = "cannot be read as a PDF (" + reason + ")";
		return nullptr;
	}
	auto pdf = std::make_unique<PdfDocument>(setup, document);
	if (pdf->CountPages() <= 0) {
		*error = "cannot be read as a PDF (it has no pages)";
		return nullptr;
	}
	return pdf;
}

}  // namespace frontend
