// The spool file as the driver reads it.
//
// The driver reads its records in many small reads (a field, a header, a placement) and its
// pictures in large ones. SpoolReadFile serves the small ones from a buffer that it fills
// with large reads of the file, and hands the large ones straight to the file, so that
// pixel data is read once, into the place it is used.
//
// While the print tool is still writing the spool file on another thread, the driver may
// already print the pages before: the writer tells a SpoolFeed how far the file is whole
// (after its header and settings, then after each page), and the reader never reads past
// that point. The driver reads a page's records whole before it prints the page, then seeks
// to the next: a seek past the end of a page tells the writer that the page is read. A read beyond it waits until the writer gets there or finishes; the size of
// the file, which the driver asks for at the start of each page, waits until the page at
// the reading position is whole. Once the writer has finished, the file reads as it is.
#pragma once

#include <File.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace frontend {

class SpoolFeed {
public:
	// The file is whole up to `end`; `pageStart` is where the page that ends there began,
	// or -1 for the header and settings.
	void Commit(off_t end, off_t pageStart = -1);
	// The writer is done: nothing more will be committed.
	void Finish();

	// Waits until the file is whole up to `end` or the writer has finished, and gives how
	// far it is whole.
	off_t WaitFor(off_t end) const;
	// Waits until the page beginning at `position` is whole or the writer has finished,
	// and gives how far the file is whole.
	off_t WaitForPageAt(off_t position) const;

	// The reader has moved on to `position`: the pages that end at or before it are read.
	void ReadUpTo(off_t position);

	// How many of the pages committed so far begin at or before `position`.
	size_t PagesFrom(off_t position) const;
	// How far the file is whole now, without waiting.
	off_t Committed() const;

	// Called (on the reading thread, with no lock held) each time the reader has read one
	// more page whole: with the number of pages read. A writer that must not run too far
	// ahead of the reader learns from it how far the reader has got. Set before reading
	// begins.
	void SetReadingObserver(std::function<void(size_t pages)> observer);

private:
	std::function<void(size_t pages)> fObserver;
	size_t fPagesRead = 0;   // as last told to the observer (the reading thread's own)
	mutable std::mutex fLock;
	mutable std::condition_variable fChanged;
	off_t fCommitted = 0;
	bool fFinished = false;
	std::vector<off_t> fPageStarts;
	std::vector<off_t> fPageEnds;
};

class SpoolReadFile : public BFile {
public:
	// Reads the file at `path`; `feed` (which must outlive the reader) when another thread
	// is still writing it, nullptr for a finished file. With `progress`, a bar on standard
	// error shows the page the driver has reached, of `pages` the writer announced (of
	// those the file holds, for a finished file).
	SpoolReadFile(const char* path, SpoolFeed* feed, bool progress, int32 pages);
	~SpoolReadFile() override;

	ssize_t Read(void* buffer, size_t size) override;
	ssize_t ReadAt(off_t location, void* buffer, size_t size) override;
	off_t Seek(off_t offset, uint32 seekMode) override;
	off_t Position() const override;
	status_t GetSize(off_t* size) const override;

	// Hands what the driver has gone past back to `discard` (from, to) each time it moves
	// forward: the driver reads a spool file once, front to back, and never returns to a
	// record behind the one it seeks to. For a spool in memory, whose bytes are worth
	// freeing as soon as they are read; never for a file that someone may print again.
	void SetDiscard(std::function<void(off_t from, off_t to)> discard);

	static const size_t kBufferSize = 64 * 1024;

private:
	void _Report(off_t position);

	SpoolFeed* fFeed;
	std::function<void(off_t from, off_t to)> fDiscard;
	off_t fDiscarded = 0;
	off_t fPosition = 0;
	std::unique_ptr<char[]> fBuffer;
	off_t fBufferStart = 0;
	size_t fBufferLength = 0;

	bool fProgress;
	int32 fPages;
	std::vector<off_t> fPageStarts;  // of a finished file, read once for the bar
	size_t fShown = 0;
};

}  // namespace frontend
