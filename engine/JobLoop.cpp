// The job loop: DoJob reads the spool file's header and settings and sets up the band;
// print_page renders every page band by band into the band bitmap and hands each band to an
// encoder, once per copy, each copy a page of the stream from its header to its form feed.
// Entry points and job-wide values keep their established names; local functions are
// snake_case.
//
// A job that cannot be printed as asked (settings without "xres", "copies" or "BWMode", an
// "xres" below 75, a page too wide or empty, no memory for the band) is refused before any
// byte is written. A spool file that ends early or points outside itself stops the job after
// the last page that was read whole; what was sent until then is flushed.
#include "TessaryPrint.h"

#include "EngineInternal.h"

#include <Bitmap.h>
#include <File.h>
#include <JobSettings.h>
#include <Message.h>
#include <OutputBuffer.h>
#include <Picture.h>
#include <Region.h>
#include <View.h>

#include <memory>

namespace {

// The pictures of one page, read whole before any byte of the page is sent.
struct page_pictures {
	int32 count = 0;	// stored entries, at most kMaxPagePictures
	BPoint where[kMaxPagePictures];
	BRect rect[kMaxPagePictures];
	std::unique_ptr<BPicture> picture[kMaxPagePictures];	// null when it did not unflatten
};


// Reads the picture records of a page at the file's position. The first kMaxPagePictures are
// kept; the records of any others are read past. False when the file ends inside a record or
// a record is not a picture's, so that the page cannot be known whole.
bool read_page_pictures(BFile* spool_file, int32 picture_count, off_t file_size,
	page_pictures* pictures)
{
	for (int32 i = 0; i < picture_count; i++) {
		BPoint where;
		BRect rect;
		off_t length;
		if (!read_picture_place(spool_file, &where, &rect))
			return false;
		off_t start = spool_file->Position();
		if (!measure_flattened_picture(spool_file, start, file_size, &length))
			return false;

		if (i < kMaxPagePictures) {
			auto picture = std::make_unique<BPicture>();
			// A picture that does not unflatten draws nothing; the page goes on.
			if (picture->Unflatten(spool_file) != B_OK)
				picture.reset();
			pictures->where[i] = where;
			pictures->rect[i] = rect;
			pictures->picture[i] = std::move(picture);
			pictures->count = i + 1;
		}
		spool_file->Seek(start + length, SEEK_SET);
	}
	return true;
}


// Clears band `band` to white and draws every picture of the page into it: shifted up by the
// band's offset, and clipped to a rectangle of the picture's size at its placement point.
void render_band(int32 band, const page_pictures& pictures)
{
	// The fill covers the whole band, whatever the last picture's clipping was.
	band_view->ConstrainClippingRegion(NULL);
	band_view->FillRect(band_view->Bounds());

	float offset = 100.0f * band / factor;
	for (int32 i = 0; i < pictures.count; i++) {
		if (!pictures.picture[i])
			continue;
		BPoint where = pictures.where[i];
		BRect rect = pictures.rect[i];
		BRegion region(BRect(where.x, where.y - offset, where.x + (rect.right - rect.left),
			where.y + (rect.bottom - rect.top) - offset));
		band_view->ConstrainClippingRegion(&region);
		band_view->DrawPicture(pictures.picture[i].get(), BPoint(where.x, where.y - offset));
		band_view->Sync();
	}
}

}  // namespace


void DoJob(BFile* spool_file)
{
	job_failed = false;

	// Header and settings
	int32 page_count;
	if (!read_spool_header(spool_file, &page_count))
		return;
	BMessage settings;
	// A message that does not unflatten has no "xres" and so refuses the job below.
	(void)settings.Unflatten(spool_file);

	BRect paper;  // stays (0, 0, -1, -1) without "paper_rect": one unit each way
	int32 xres;
	int16 copies;
	int16 bw;
	(void)settings.FindRect(kPaperRectField, &paper);
	if (settings.FindInt32(kXResField, &xres) != B_OK
		|| settings.FindInt16(kCopiesField, &copies) != B_OK
		|| settings.FindInt16(kBWModeField, &bw) != B_OK || xres < 75)
		return;

	// Raster geometry and the band
	job_geometry geometry;
	if (!compute_geometry(paper, xres, &geometry))
		return;
	factor = geometry.factor;
	SpoolWidth = geometry.spool_width;
	band_num = geometry.band_num;

	BRect bounds(0, 0, SpoolWidth * 8, kBandRows);
	band_bmp = new BBitmap(bounds, B_BITMAP_ACCEPTS_VIEWS, B_RGB16_BIG);
	if (!band_bmp->IsValid()) {
		delete band_bmp;
		band_bmp = nullptr;
		return;
	}
	band_view = new BView(bounds, "OutputView", B_FOLLOW_ALL_SIDES, B_WILL_DRAW);
	band_bmp->AddChild(band_view);

	// Pages, then the one flush of the job
	for (int32 page = 0; page < page_count && !job_failed; page++)
		print_page(spool_file, copies, bw);
	SendToOutput(NULL, 0);

	band_bmp->RemoveChild(band_view);
	delete band_view;
	delete band_bmp;
	band_view = nullptr;
	band_bmp = nullptr;
}


void print_page(BFile* spool_file, int copies, int bw)
{
	// The whole page record, before any byte of the page is sent
	off_t file_size = 0;
	spool_file->GetSize(&file_size);
	int32 picture_count;
	int64 next_page;
	auto pictures = std::make_unique<page_pictures>();
	if (!read_page_header(spool_file, &picture_count, &next_page)
		|| !read_page_pictures(spool_file, picture_count, file_size, pictures.get())) {
		job_failed = true;
		return;
	}
	// An offset outside the file leaves the file at its end, where a following page reads as
	// cut short.
	if (next_page < 0 || next_page > file_size)
		next_page = file_size;
	spool_file->Seek(next_page, SEEK_SET);

	// Every copy is a sheet of its own: page header, bands, form feed. Without copies the
	// page is its header and form feed alone.
	band_bmp->Lock();
	band_view->ForceFontAliasing(true);
	band_view->SetScale(factor);
	band_view->SetHighColor(255, 255, 255, 255);
	int sheets = copies > 0 ? copies : 1;
	int32 bands = copies > 0 ? band_num : 0;
	for (int sheet = 0; sheet < sheets && !job_failed; sheet++) {
		send_page_header(bw != 0);
		for (int32 band = 0; band < bands && !job_failed; band++) {
			render_band(band, *pictures);
			if (bw != 0)
				DrawBandBW();
			else
				DrawBandColor();
		}
		// A job stopped inside a sheet sends nothing more, not even the form feed.
		if (!job_failed)
			send_form_feed();
	}
	band_bmp->Unlock();
}


void DrawBandColor()
{
	encode_band_color((const uint8*)band_bmp->Bits(), band_bmp->BytesPerRow());
}


void DrawBandBW()
{
	encode_band_bw((const uint8*)band_bmp->Bits(), band_bmp->BytesPerRow());
}
