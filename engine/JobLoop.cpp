// The job loop: DoJob reads the spool file's header and settings and sets up the band;
// print_page renders every page band by band into the band bitmap and hands each band to an
// encoder, once per copy, each copy a page of the stream from its header to its form feed.
// Entry points and job-wide values keep their established names; local functions are
// snake_case.
//
// The colour and grey encoders start every band afresh, so bands do not depend on each
// other: a helper thread with a band bitmap of its own draws and encodes bands beside the
// job's thread, each band's bytes held until the job's thread sends them in band order. The
// stream is the one a single thread sends, and a band that fails, a stop request or a failed
// write stop the job after the same bands.
//
// A job that cannot be printed as asked (settings that do not unflatten or lack "xres",
// "copies" or "BWMode", an "xres" outside 75 to 600, a page too wide, too tall or empty, no
// memory for the band) is refused before any byte is written. A spool file that ends early,
// or whose next page record does not lie past the end of the current one, stops the job
// after the last page that was read whole; what was sent until then is flushed. A stop
// request, a failed write to the transport or a failed band stop the job at the next band
// boundary. Every way out leaves its account in job_outcome.
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

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

namespace {

// The pictures of one page, read whole before any byte of the page is sent.
struct page_pictures {
	int32 count = 0;	// stored entries, at most kMaxPagePictures
	BPoint where[kMaxPagePictures];
	BRect rect[kMaxPagePictures];
	std::unique_ptr<BPicture> picture[kMaxPagePictures];	// null when it did not unflatten
	std::atomic<bool> cut[kMaxPagePictures] = {};	// stopped at its work budget in some band
};


// Reads the picture records of a page at the file's position. The first kMaxPagePictures are
// kept; the records of any others are read past. False when the file ends inside a record or
// a record is not a picture's, so that the page cannot be known whole. A picture whose
// container is sound but whose ops do not unflatten is counted in job_outcome and left out.
bool read_page_pictures(BFile* spool_file, int32 picture_count, off_t file_size,
	page_pictures* pictures)
{
	// Every record takes more than its 24 placement bytes: a count beyond what the rest of
	// the file could hold is damage, found before any record is read.
	if (picture_count < 0
		|| picture_count > (file_size - spool_file->Position()) / 24)
		return false;
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
			if (picture->Unflatten(spool_file) != B_OK) {
				picture.reset();
				job_outcome.pictures_unread++;
			}
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
void render_band(int32 band, page_pictures& pictures)
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
		if (band_bmp->TakePicturesCut() > 0)
			pictures.cut[i].store(true, std::memory_order_relaxed);
	}
}


// Draws band `band` of the page into this thread's band bitmap and encodes it into `output`.
void draw_band(int32 band, page_pictures& pictures, bool bw, band_output* output)
{
	begin_band_output(output, band);
	try {
		render_band(band, pictures);
		// A band that Cairo could not draw would print white as if it were right.
		status_t drawing = band_bmp->TakeDrawingError();
		if (drawing != B_OK)
			stop_job(drawing == B_NO_MEMORY ? JobStop::no_memory : JobStop::drawing_failed);
		else if (bw)
			DrawBandBW();
		else
			DrawBandColor();
	} catch (const std::bad_alloc&) {
		stop_job(JobStop::no_memory);
	}
	end_band_output();
}


// Bands drawn ahead of the one being sent are held in slots: band b in slot b % kBandSlots,
// taken only once band b - kBandSlots has been sent.
const int32 kBandSlots = 4;

// The bands of a sheet, drawn and encoded by the job's thread and, once started, a helper
// thread, and sent by the job's thread in band order.
class band_sharer {
public:
	band_sharer() = default;
	~band_sharer() { Stop(); }
	band_sharer(const band_sharer&) = delete;
	band_sharer& operator=(const band_sharer&) = delete;

	// Starts the helper thread with a band bitmap of its own, as the job's is set up. Without
	// the memory or a thread for it, the job's thread draws every band alone.
	void Start();
	void Stop();

	// Draws, encodes and sends the `bands` bands of one sheet of the page; stops the job at
	// a stop request, a band that fails or a failed write, after the bands before it.
	void PrintSheet(page_pictures* pictures, bool bw, int32 bands);

private:
	enum slot_state { kFree, kTaken, kDone };
	struct band_slot {
		band_output output;
		int32 band = -1;
		slot_state state = kFree;
	};

	bool _CanTake() const
	{
		return fNext < fBands && fSlots[fNext % kBandSlots].state == kFree;
	}
	band_slot* _Take()
	{
		band_slot* slot = &fSlots[fNext % kBandSlots];
		slot->band = fNext++;
		slot->state = kTaken;
		return slot;
	}
	void _Help();

	std::thread fHelper;
	std::unique_ptr<BBitmap> fBitmap;  // the helper's band and its view
	BView* fView = nullptr;
	std::mutex fLock;
	std::condition_variable fChanged;
	bool fQuit = false;
	page_pictures* fPictures = nullptr;  // the sheet in hand
	bool fBW = false;
	int32 fBands = 0;
	int32 fNext = 0;        // the next band to take
	int32 fHelping = 0;     // bands the helper has taken and not finished
	band_slot fSlots[kBandSlots];
};


void band_sharer::Start()
{
	BRect bounds = band_bmp->Bounds();
	std::unique_ptr<BBitmap> bitmap(new (std::nothrow) BBitmap(bounds, B_BITMAP_ACCEPTS_VIEWS,
		B_RGB16_BIG));
	if (!bitmap || !bitmap->IsValid())
		return;
	fView = new BView(bounds, "OutputView", B_FOLLOW_ALL_SIDES, B_WILL_DRAW);
	bitmap->AddChild(fView);
	fBitmap = std::move(bitmap);
	fQuit = false;
	try {
		fHelper = std::thread(&band_sharer::_Help, this);
	} catch (const std::system_error&) {
		fBitmap->RemoveChild(fView);
		delete fView;
		fView = nullptr;
		fBitmap.reset();
	}
}


void band_sharer::Stop()
{
	if (fHelper.joinable()) {
		{
			std::lock_guard<std::mutex> guard(fLock);
			fQuit = true;
		}
		fChanged.notify_all();
		fHelper.join();
	}
	if (fBitmap) {
		fBitmap->RemoveChild(fView);
		delete fView;
		fView = nullptr;
		fBitmap.reset();
	}
}


void band_sharer::_Help()
{
	band_bmp = fBitmap.get();
	band_view = fView;
	band_bmp->Lock();
	band_view->ForceFontAliasing(true);
	band_view->SetScale(factor);
	band_view->SetHighColor(255, 255, 255, 255);
	std::unique_lock<std::mutex> guard(fLock);
	while (true) {
		fChanged.wait(guard, [this] { return fQuit || _CanTake(); });
		if (fQuit)
			break;
		band_slot* slot = _Take();
		page_pictures* pictures = fPictures;
		bool bw = fBW;
		fHelping++;
		guard.unlock();
		draw_band(slot->band, *pictures, bw, &slot->output);
		guard.lock();
		slot->state = kDone;
		fHelping--;
		fChanged.notify_all();
	}
	guard.unlock();
	band_bmp->Unlock();
	band_bmp = nullptr;
	band_view = nullptr;
}


void band_sharer::PrintSheet(page_pictures* pictures, bool bw, int32 bands)
{
	{
		std::lock_guard<std::mutex> guard(fLock);
		fPictures = pictures;
		fBW = bw;
		fBands = bands;
		fNext = 0;
	}
	fChanged.notify_all();

	for (int32 band = 0; band < bands && !job_failed; band++) {
		if (job_stop_requested()) {
			stop_job(JobStop::interrupted);
			break;
		}
		// Until the band is drawn, the job's thread draws the next band to take, if any.
		band_slot& slot = fSlots[band % kBandSlots];
		std::unique_lock<std::mutex> guard(fLock);
		while (slot.band != band || slot.state != kDone) {
			if (!_CanTake()) {
				fChanged.wait(guard);
				continue;
			}
			band_slot* taken = _Take();
			guard.unlock();
			draw_band(taken->band, *pictures, bw, &taken->output);
			guard.lock();
			taken->state = kDone;
			fChanged.notify_all();
		}
		guard.unlock();

		if (slot.output.failed) {
			stop_job(slot.output.stop);
		} else {
			send_band_output(slot.output);
			if (output_failed())
				stop_job(JobStop::transport_failed);
		}
		guard.lock();
		slot.state = kFree;
		slot.band = -1;
		guard.unlock();
		fChanged.notify_all();
	}

	// Nothing more is taken; the helper's band in hand is finished and dropped.
	std::unique_lock<std::mutex> guard(fLock);
	fBands = 0;
	fNext = 0;
	fChanged.wait(guard, [this] { return fHelping == 0; });
	for (band_slot& slot : fSlots) {
		slot.state = kFree;
		slot.band = -1;
	}
	fPictures = nullptr;
}


// The bands of the job DoJob runs; print_page called on its own draws them alone.
band_sharer* job_bands = nullptr;


// Refuses the job for a settings field that is missing (value "") or cannot be printed.
void refuse_settings(const char* field, const std::string& value)
{
	stop_job(JobStop::settings_refused);
	job_outcome.field = field;
	job_outcome.value = value;
}


// Reads the four fields the engine uses; false, with the job refused, when one is missing or
// out of range.
bool read_job_settings(BFile* spool_file, BRect* paper, int32* xres, int16* copies, int16* bw)
{
	BMessage settings;
	if (settings.Unflatten(spool_file) != B_OK) {
		refuse_settings("", "");
		return false;
	}
	(void)settings.FindRect(kPaperRectField, paper);  // stays (0, 0, -1, -1) when absent
	if (settings.FindInt32(kXResField, xres) != B_OK) {
		refuse_settings(kXResField, "");
		return false;
	}
	if (*xres < kMinResolution || *xres > kMaxResolution) {
		refuse_settings(kXResField, std::to_string(*xres));
		return false;
	}
	if (settings.FindInt16(kCopiesField, copies) != B_OK) {
		refuse_settings(kCopiesField, "");
		return false;
	}
	if (settings.FindInt16(kBWModeField, bw) != B_OK) {
		refuse_settings(kBWModeField, "");
		return false;
	}
	return true;
}


// Sends every page of the job; stops at the first page that cannot be sent whole.
void print_pages(BFile* spool_file, int32 page_count, int copies, int bw)
{
	for (int32 page = 0; page < page_count && !job_failed; page++) {
		if (job_stop_requested()) {
			stop_job(JobStop::interrupted);
		} else {
			job_outcome.copies_sent = 0;
			print_page(spool_file, copies, bw);
		}
		if (job_failed)
			job_outcome.stop_page = page + 1;
		else
			job_outcome.pages_sent++;
	}
}

}  // namespace


void DoJob(BFile* spool_file, RowEncoding encoding)
{
	job_failed = false;
	job_outcome = JobOutcome();
	row_encoding = encoding;
	begin_output();

	// Header and settings
	int32 page_count;
	if (!read_spool_header(spool_file, &page_count)) {
		stop_job(JobStop::spool_cut);
		return;
	}
	job_outcome.pages_announced = page_count > 0 ? page_count : 0;
	BRect paper;
	int32 xres;
	int16 copies;
	int16 bw;
	if (!read_job_settings(spool_file, &paper, &xres, &copies, &bw))
		return;
	job_outcome.copies = copies > 0 ? copies : 0;

	// Raster geometry and the band
	job_geometry geometry;
	if (!compute_geometry(paper, xres, &geometry, &job_outcome.detail)) {
		stop_job(JobStop::geometry_refused);
		return;
	}
	factor = geometry.factor;
	SpoolWidth = geometry.spool_width;
	band_num = geometry.band_num;

	BRect bounds(0, 0, SpoolWidth * 8, kBandRows);
	band_bmp = new BBitmap(bounds, B_BITMAP_ACCEPTS_VIEWS, B_RGB16_BIG);
	if (!band_bmp->IsValid()) {
		delete band_bmp;
		band_bmp = nullptr;
		stop_job(JobStop::no_memory);
		return;
	}
	band_view = new BView(bounds, "OutputView", B_FOLLOW_ALL_SIDES, B_WILL_DRAW);
	band_bmp->AddChild(band_view);

	// Pages, their bands shared with a helper thread, then the one flush of the job
	{
		band_sharer bands;
		if (band_threads > 1 && band_num > 1)
			bands.Start();
		job_bands = &bands;
		print_pages(spool_file, page_count, copies, bw);
		job_bands = nullptr;
	}
	SendToOutput(NULL, 0);
	if (output_failed())
		stop_job(JobStop::transport_failed);

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
	std::unique_ptr<page_pictures> pictures(new (std::nothrow) page_pictures);
	if (!pictures) {
		stop_job(JobStop::no_memory);
		return;
	}
	bool read_whole;
	try {
		read_whole = read_page_header(spool_file, &picture_count, &next_page)
			&& read_page_pictures(spool_file, picture_count, file_size, pictures.get());
	} catch (const std::bad_alloc&) {
		stop_job(JobStop::no_memory);
		return;
	}
	if (!read_whole) {
		stop_job(JobStop::spool_cut);
		return;
	}
	// The next record lies past this one. An offset back into it or before it would read
	// pages again for ever, and one outside the file names nothing: both leave the file at
	// its end, where a following page reads as cut short.
	if (next_page < spool_file->Position() || next_page > file_size)
		next_page = file_size;
	spool_file->Seek(next_page, SEEK_SET);

	// Every copy is a sheet of its own: page header, bands, form feed. Without copies the
	// page is its header and form feed alone. A stop request or a failed write ends the page
	// at a band boundary; between copies, before the next sheet's header.
	band_sharer alone;
	band_sharer* sharer = job_bands != nullptr ? job_bands : &alone;
	band_bmp->Lock();
	band_view->ForceFontAliasing(true);
	band_view->SetScale(factor);
	band_view->SetHighColor(255, 255, 255, 255);
	int sheets = copies > 0 ? copies : 1;
	int32 bands = copies > 0 ? band_num : 0;
	for (int sheet = 0; sheet < sheets && !job_failed; sheet++) {
		if (sheet > 0 && job_stop_requested()) {
			stop_job(JobStop::interrupted);
			break;
		}
		send_page_header(bw != 0);
		begin_sheet_rows();
		sharer->PrintSheet(pictures.get(), bw != 0, bands);
		// A job stopped inside a sheet sends nothing more, not even the form feed.
		if (!job_failed) {
			end_sheet_rows();
			send_form_feed();
			if (copies > 0)
				job_outcome.copies_sent++;
		}
	}
	band_bmp->Unlock();
	for (int32 i = 0; i < pictures->count; i++)
		job_outcome.pictures_cut += pictures->cut[i] ? 1 : 0;
}


void DrawBandColor()
{
	encode_band_color((const uint8*)band_bmp->Bits(), band_bmp->BytesPerRow());
}


void DrawBandBW()
{
	encode_band_bw((const uint8*)band_bmp->Bits(), band_bmp->BytesPerRow());
}
