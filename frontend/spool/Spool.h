// Spool files: the job's input as the driver reads it. A 28-byte header (version, page
// count, first-page offset, reserved), the flattened Job settings message, then one record
// per page: picture count, the offset of the next page record, 40 reserved bytes, and the
// page's pictures (placement point, rectangle, flattened picture). Integers little-endian,
// written field by field.
#pragma once

#include <File.h>
#include <Message.h>
#include <Picture.h>
#include <Rect.h>

#include <memory>
#include <string>
#include <vector>

namespace frontend {

struct SpooledPicture {
	BPoint where;
	BRect rect;
	std::unique_ptr<BPicture> picture;
};

typedef std::vector<SpooledPicture> SpooledPage;

// Where recorded pages go, one page at a time and picture by picture, so that a page need not
// be held whole: BeginPage, any number of AddPicture, EndPage. False stops the document.
class PageSink {
public:
	virtual ~PageSink() = default;
	virtual bool BeginPage(std::string* error) = 0;
	virtual bool AddPicture(const SpooledPicture& picture, std::string* error) = 0;
	virtual bool EndPage(std::string* error) = 0;
};

class SpoolWriter : public PageSink {
public:
	SpoolWriter() = default;

	// Creates the file with its header and settings. `pages`, when known, is the page count
	// the header announces from the start, so that a reader may begin before Close;
	// otherwise the header holds 0 until Close writes the count.
	bool Open(const std::string& path, const BMessage& settings, std::string* error,
		int32 pages = 0);
	bool AddPage(const SpooledPage& page, std::string* error);

	bool BeginPage(std::string* error) override;
	bool AddPicture(const SpooledPicture& picture, std::string* error) override;
	bool EndPage(std::string* error) override;
	// Writes the final page count; the file is complete only after this.
	bool Close(std::string* error);

	int32 PageCount() const { return fPages; }
	// Bytes written so far: the end of the last whole page between pages.
	off_t Position() const { return fFile != nullptr ? fFile->Position() : 0; }

private:
	bool _Write(const void* data, size_t size, std::string* error);

	std::unique_ptr<BFile> fFile;
	std::string fPath;
	int32 fPages = 0;
	off_t fPageStart = -1;      // of the page being written, -1 between pages
	int32 fPagePictures = 0;
};

// What a reader finds in a spool file, page by page, without rendering anything.
struct SpoolSummary {
	int32 pageCount = 0;          // from the header
	std::vector<int32> pictures;  // pictures of each page that could be read completely
	BMessage settings;
};

bool read_spool_summary(const std::string& path, SpoolSummary* summary, std::string* error);

}  // namespace frontend
