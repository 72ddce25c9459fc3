#include "SpoolFeed.h"

#include <Message.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace frontend {

namespace {

// Page offsets of a finished spool file, for the progress bar. A record whose next offset
// does not lie past its own header ends the walk, and no more offsets are kept than the file
// has room for page headers.
std::vector<off_t> page_starts(BFile* file, off_t size)
{
	std::vector<off_t> starts;
	uint8 header[28];
	BMessage settings;
	if (file->ReadAt(0, header, sizeof(header)) != sizeof(header))
		return starts;
	file->Seek(sizeof(header), SEEK_SET);
	if (settings.Unflatten(file) != B_OK)
		return starts;
	int32 pages = static_cast<int32>(header[4] | header[5] << 8 | header[6] << 16
		| static_cast<uint32>(header[7]) << 24);
	off_t position = file->Position();
	const off_t kPageHeaderSize = 52;
	for (int32 page = 0; page < pages && position + kPageHeaderSize <= size; page++) {
		starts.push_back(position);
		uint8 pageHeader[12];
		if (file->ReadAt(position, pageHeader, sizeof(pageHeader)) != sizeof(pageHeader))
			break;
		int64 next = 0;
		for (int i = 0; i < 8; i++)
			next |= static_cast<int64>(pageHeader[4 + i]) << (8 * i);
		if (next < position + kPageHeaderSize)
			break;
		position = next;
	}
	return starts;
}

}  // namespace

void SpoolFeed::Commit(off_t end, off_t pageStart)
{
	{
		std::lock_guard<std::mutex> guard(fLock);
		fCommitted = std::max(fCommitted, end);
		if (pageStart >= 0) {
			fPageStarts.push_back(pageStart);
			fPageEnds.push_back(end);
		}
	}
	fChanged.notify_all();
}

void SpoolFeed::Finish()
{
	{
		std::lock_guard<std::mutex> guard(fLock);
		fFinished = true;
	}
	fChanged.notify_all();
}

off_t SpoolFeed::WaitFor(off_t end) const
{
	std::unique_lock<std::mutex> guard(fLock);
	fChanged.wait(guard, [&] { return fCommitted >= end || fFinished; });
	return fCommitted;
}

void SpoolFeed::SetReadingObserver(std::function<void(size_t pages)> observer)
{
	fObserver = std::move(observer);
}

void SpoolFeed::ReadUpTo(off_t position)
{
	if (!fObserver)
		return;
	size_t pages;
	{
		std::lock_guard<std::mutex> guard(fLock);
		pages = static_cast<size_t>(std::upper_bound(fPageEnds.begin(), fPageEnds.end(),
			position) - fPageEnds.begin());
	}
	if (pages > fPagesRead) {
		fPagesRead = pages;
		fObserver(pages);
	}
}

off_t SpoolFeed::WaitForPageAt(off_t position) const
{
	std::unique_lock<std::mutex> guard(fLock);
	// Commits fall on page ends: one past the position ends the page that begins there.
	fChanged.wait(guard, [&] { return fCommitted > position || fFinished; });
	return fCommitted;
}

size_t SpoolFeed::PagesFrom(off_t position) const
{
	std::lock_guard<std::mutex> guard(fLock);
	return static_cast<size_t>(std::upper_bound(fPageStarts.begin(), fPageStarts.end(),
		position) - fPageStarts.begin());
}

off_t SpoolFeed::Committed() const
{
	std::lock_guard<std::mutex> guard(fLock);
	return fCommitted;
}

SpoolReadFile::SpoolReadFile(const char* path, SpoolFeed* feed, bool progress,
	int32 pages)
	:
	BFile(path, B_READ_ONLY),
	fFeed(feed),
	fBuffer(new char[kBufferSize]),
	fProgress(progress),
	fPages(pages)
{
	if (fProgress && fFeed == nullptr && InitCheck() == B_OK) {
		off_t size = 0;
		BFile::GetSize(&size);
		fPageStarts = page_starts(this, size);
		fPosition = 0;
		fBufferLength = 0;
	}
}

SpoolReadFile::~SpoolReadFile()
{
	if (fShown > 0)
		fprintf(stderr, "\n");
}

ssize_t SpoolReadFile::Read(void* buffer, size_t size)
{
	_Report(fPosition);
	ssize_t done = ReadAt(fPosition, buffer, size);
	if (done > 0)
		fPosition += done;
	return done;
}

ssize_t SpoolReadFile::ReadAt(off_t location, void* buffer, size_t size)
{
	if (location < 0)
		return B_BAD_VALUE;
	if (size == 0)
		return 0;
	// What may be read: the whole file once it is finished, else what the writer has made
	// whole (a page being written still has its header to be filled in).
	off_t limit = -1;
	if (fFeed != nullptr) {
		limit = fFeed->WaitFor(location + static_cast<off_t>(size));
		if (location >= limit)
			return 0;
		size = std::min(size, static_cast<size_t>(limit - location));
	}
	char* out = static_cast<char*>(buffer);
	off_t bufferEnd = fBufferStart + static_cast<off_t>(fBufferLength);
	if (location >= fBufferStart && location + static_cast<off_t>(size) <= bufferEnd) {
		memcpy(out, fBuffer.get() + (location - fBufferStart), size);
		return static_cast<ssize_t>(size);
	}
	// Large reads go straight where the caller wants them.
	if (size >= kBufferSize)
		return BFile::ReadAt(location, buffer, size);
	size_t fill = kBufferSize;
	if (limit >= 0)
		fill = static_cast<size_t>(std::min<off_t>(static_cast<off_t>(fill), limit - location));
	ssize_t filled = BFile::ReadAt(location, fBuffer.get(), fill);
	if (filled < 0) {
		fBufferLength = 0;
		return filled;
	}
	fBufferStart = location;
	fBufferLength = static_cast<size_t>(filled);
	size_t taken = std::min(size, fBufferLength);
	memcpy(out, fBuffer.get(), taken);
	return static_cast<ssize_t>(taken);
}

off_t SpoolReadFile::Seek(off_t offset, uint32 seekMode)
{
	off_t base = 0;
	switch (seekMode) {
		case SEEK_SET:
			break;
		case SEEK_CUR:
			base = fPosition;
			break;
		case SEEK_END: {
			status_t status = GetSize(&base);
			if (status != B_OK)
				return status;
			break;
		}
		default:
			return B_BAD_VALUE;
	}
	if (offset > 0 && base > INT64_MAX - offset)
		return B_BAD_VALUE;
	off_t position = base + offset;
	if (position < 0)
		return B_BAD_VALUE;
	if (fDiscard && position > fDiscarded) {
		// Never past what the writer has finished: the bytes beyond may still be on their way.
		off_t end = fFeed != nullptr ? std::min(position, fFeed->Committed()) : position;
		if (end > fDiscarded) {
			fDiscard(fDiscarded, end);
			fDiscarded = end;
		}
	}
	fPosition = position;
	if (fFeed != nullptr)
		fFeed->ReadUpTo(position);
	return fPosition;
}

void SpoolReadFile::SetDiscard(std::function<void(off_t from, off_t to)> discard)
{
	fDiscard = std::move(discard);
}

off_t SpoolReadFile::Position() const
{
	return fPosition;
}

status_t SpoolReadFile::GetSize(off_t* size) const
{
	if (fFeed == nullptr)
		return BFile::GetSize(size);
	*size = fFeed->WaitForPageAt(fPosition);
	return B_OK;
}

void SpoolReadFile::_Report(off_t position)
{
	if (!fProgress)
		return;
	size_t page = fFeed != nullptr ? fFeed->PagesFrom(position)
		: static_cast<size_t>(std::upper_bound(fPageStarts.begin(), fPageStarts.end(),
			position) - fPageStarts.begin());
	if (page == 0 || page == fShown)
		return;
	fShown = page;
	const int width = 30;
	size_t total = std::max(fFeed != nullptr ? static_cast<size_t>(std::max(fPages, 0))
		: fPageStarts.size(), page);
	int filled = static_cast<int>(width * page / total);
	fprintf(stderr, "\r[%s%s] page %zu of %zu", std::string(filled, '#').c_str(),
		std::string(width - filled, ' ').c_str(), page, total);
	fflush(stderr);
}

}  // namespace frontend
