#include "PixelPage.h"

#include <Picture.h>
#include <View.h>

#include <algorithm>
#include <cstring>

namespace frontend {

namespace {

// Records one strip's picture through a view, as an application records what it prints.
std::unique_ptr<BPicture> record_strip(const BBitmap* strip, BRect destination)
{
	BBitmap canvas(BRect(0, 0, 7, 7), B_RGB32, true);
	BView* view = new BView(canvas.Bounds(), "strip", B_FOLLOW_ALL_SIDES, B_WILL_DRAW);
	canvas.AddChild(view);  // the bitmap owns the view from here on
	canvas.Lock();
	view->BeginPicture(new BPicture);
	view->DrawBitmap(strip, strip->Bounds(), destination);
	std::unique_ptr<BPicture> picture(view->EndPicture());
	canvas.Unlock();
	return picture;
}

}  // namespace

void pixels_to_rgb16_big(color_space format, const uint8* source, uint8* destination,
	int32 count)
{
	// byte 0: RRRRRGGG (red's top five bits, green's top three), byte 1: GGGBBBBB (the next
	// three bits of green, blue's top five).
	auto put = [](uint8* out, uint8 red, uint8 green, uint8 blue) {
		out[0] = static_cast<uint8>((red & 0xf8) | (green >> 5));
		out[1] = static_cast<uint8>(((green << 3) & 0xe0) | (blue >> 3));
	};
	switch (format) {
		case B_RGB24_BIG:
			for (int32 i = 0; i < count; i++, source += 3, destination += 2)
				put(destination, source[0], source[1], source[2]);
			break;
		case B_RGB32:
			for (int32 i = 0; i < count; i++, source += 4, destination += 2)
				put(destination, source[2], source[1], source[0]);
			break;
		case B_GRAY8:
			for (int32 i = 0; i < count; i++, source++, destination += 2)
				put(destination, source[0], source[0], source[0]);
			break;
		case B_RGB16_BIG:
			memcpy(destination, source, static_cast<size_t>(count) * 2);
			break;
		case B_RGB16:
			// The same bits, the word's bytes the other way round.
			for (int32 i = 0; i < count; i++, source += 2, destination += 2) {
				destination[0] = source[1];
				destination[1] = source[0];
			}
			break;
		default:
			break;
	}
}

uint64 PixelPageWriter::PixelBytes(int32 width, int32 height)
{
	uint64 rowBytes = (static_cast<uint64>(std::max(width, 0)) * 2 + 3) & ~uint64(3);
	return rowBytes * static_cast<uint64>(std::max(height, 0));
}

bool PixelPageWriter::Begin(const PixelArea& area, color_space format, const StripSink& sink,
	std::string* error, int32 stripRows)
{
	fOpen = false;
	fStrip.reset();
	if (format != B_RGB24_BIG && format != B_RGB32 && format != B_GRAY8
		&& format != B_RGB16_BIG && format != B_RGB16) {
		*error = "pixels in a colour space the spool page does not take";
		return false;
	}
	// A picture cannot draw less than one page unit.
	if (area.dotsPerUnit <= 0 || area.width < area.dotsPerUnit
		|| area.height < area.dotsPerUnit || area.width > (1 << 24)
		|| area.height > (1 << 24)) {
		*error = "a page of pixels too small or too large to place";
		return false;
	}
	fArea = area;
	fFormat = format;
	fSink = sink;
	// Few enough strips that the driver reads every one of them: it takes only so many
	// pictures per page.
	fStripRows = stripRows > 0 ? stripRows : kStripRows;
	fStripRows = std::max(fStripRows, (area.height + kMaxStrips - 1) / kMaxStrips);
	fStripRows = std::min(std::max(fStripRows, area.dotsPerUnit), area.height);
	// Room for the last rows of the page too, when they are too few for a strip of their own.
	fStrip = std::make_unique<BBitmap>(
		BRect(0, 0, area.width - 1, fStripRows + area.dotsPerUnit - 2), B_RGB16_BIG);
	if (fStrip->InitCheck() != B_OK) {
		fStrip.reset();
		*error = "out of memory for a strip of pixels";
		return false;
	}
	fStripTop = 0;
	fStripFill = 0;
	fRow = 0;
	fOpen = true;
	return true;
}

bool PixelPageWriter::AddRow(const void* row, std::string* error)
{
	if (!fOpen || fRow >= fArea.height) {
		*error = "more rows of pixels than the page has";
		return false;
	}
	uint8* bits = static_cast<uint8*>(fStrip->Bits())
		+ static_cast<size_t>(fStripFill) * fStrip->BytesPerRow();
	pixels_to_rgb16_big(fFormat, static_cast<const uint8*>(row), bits, fArea.width);
	fStripFill++;
	fRow++;
	int32 left = fArea.height - fRow;
	if (fStripFill >= fStripRows && (left == 0 || left >= fArea.dotsPerUnit))
		return _FlushStrip(error);
	return true;
}

bool PixelPageWriter::Finish(std::string* error)
{
	if (!fOpen) {
		*error = "no page of pixels begun";
		return false;
	}
	// A page ended early can leave a last strip under one unit high, which no picture can
	// draw: it is dropped with the rest of the rows not given.
	bool flushed = fStripFill < fArea.dotsPerUnit || _FlushStrip(error);
	fOpen = false;
	fStrip.reset();
	return flushed;
}

bool PixelPageWriter::_FlushStrip(std::string* error)
{
	// A strip is stored at the height it was given: a picture keeps the whole bitmap.
	const BBitmap* strip = fStrip.get();
	std::unique_ptr<BBitmap> shorter;
	if (fStripFill * fStrip->BytesPerRow() < fStrip->BitsLength()) {
		shorter = std::make_unique<BBitmap>(BRect(0, 0, fArea.width - 1, fStripFill - 1),
			B_RGB16_BIG);
		if (shorter->InitCheck() != B_OK) {
			*error = "out of memory for a strip of pixels";
			return false;
		}
		memcpy(shorter->Bits(), fStrip->Bits(),
			static_cast<size_t>(shorter->BitsLength()));
		strip = shorter.get();
	}

	// Page units per pixel: a pixel covers 1 / dotsPerUnit of a unit, so the band, drawn at
	// dotsPerUnit dots to the unit, shows it on exactly one dot. The picture draws at its
	// own origin; the spool record places it.
	float unit = 1.0f / static_cast<float>(fArea.dotsPerUnit);
	BRect extent(0, 0, fArea.width * unit - 1, fStripFill * unit - 1);
	SpooledPicture picture;
	picture.where = BPoint(fArea.origin.x, fArea.origin.y + fStripTop * unit);
	picture.rect = extent;
	picture.picture = record_strip(strip, extent);
	fStripTop += fStripFill;
	fStripFill = 0;
	if (picture.picture == nullptr) {
		*error = "cannot record a strip of pixels";
		return false;
	}
	return fSink(picture, error);
}

}  // namespace frontend
