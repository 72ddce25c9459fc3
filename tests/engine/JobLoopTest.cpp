#include "EngineFixture.h"
#include "PclPreview.h"
#include "SpoolBuilder.h"
#include "support/TempRoot.h"

#include <Bitmap.h>
#include <File.h>
#include <JobSettings.h>
#include <Message.h>
#include <Picture.h>
#include <View.h>

#include <fstream>
#include <functional>
#include <optional>

namespace {

const uint8 kFormFeed = 0x0C;

// Settings as config_job leaves them; a field given as nullopt is left out.
std::string flattened_settings(std::optional<BRect> paper, std::optional<int32> xres,
	std::optional<int16> copies, std::optional<int16> bw)
{
	BMessage settings('okok');
	if (paper)
		settings.AddRect(kPaperRectField, *paper);
	if (xres)
		settings.AddInt32(kXResField, *xres);
	if (copies)
		settings.AddInt16(kCopiesField, *copies);
	if (bw)
		settings.AddInt16(kBWModeField, *bw);
	BMallocIO flat;
	EXPECT_EQ(settings.Flatten(&flat), B_OK);
	return std::string((const char*)flat.Buffer(), flat.BufferLength());
}


// A flattened picture of what `draw` does in black on a view that records.
std::string recorded_picture(const std::function<void(BView*)>& draw)
{
	BBitmap canvas(BRect(0, 0, 15, 15), B_BITMAP_ACCEPTS_VIEWS, B_RGB32);
	BView* view = new BView(canvas.Bounds(), "canvas", B_FOLLOW_ALL_SIDES, B_WILL_DRAW);
	canvas.AddChild(view);
	BPicture picture;
	view->BeginPicture(&picture);
	view->SetHighColor(0, 0, 0);
	draw(view);
	view->EndPicture();
	BMallocIO flat;
	EXPECT_EQ(picture.Flatten(&flat), B_OK);
	return std::string((const char*)flat.Buffer(), flat.BufferLength());
}


// A flattened picture that fills `fill` in black.
std::string black_fill_picture(BRect fill)
{
	return recorded_picture([&](BView* view) { view->FillRect(fill); });
}


const BRect kLetter(0, 0, 637.5, 825);


class JobLoop : public EngineTest {
protected:
	// Writes the spool bytes to a file and prints it.
	std::string Print(const std::string& spool)
	{
		std::string path = fRoot.Sub("job.spool");
		std::ofstream(path, std::ios::binary) << spool;
		BFile file(path.c_str(), B_READ_ONLY);
		EXPECT_EQ(file.InitCheck(), B_OK);
		DoJob(&file);
		return fStream.Bytes();
	}

	// Black-and-white rows of `bytes` after a page header of `header` bytes, each row
	// ESC * b <n> W and n data bytes; stops at the form feed.
	std::vector<std::string> BWRows(const std::string& bytes, size_t header, int32 width)
	{
		std::string command = "\x1b*b" + std::to_string(width) + "W";
		std::vector<std::string> rows;
		size_t at = header;
		while (at + command.size() + width <= bytes.size()
			&& bytes.compare(at, command.size(), command) == 0) {
			rows.push_back(bytes.substr(at + command.size(), width));
			at += command.size() + width;
		}
		return rows;
	}

	TempRoot fRoot;
};


std::string bw_letter_header_75()
{
	return hex_bytes({0x1B, 0x45, 0x1B, 0x2A, 0x74, 0x37, 0x35, 0x52, 0x1B, 0x26, 0x6C, 0x30,
		0x45, 0x1B, 0x2A, 0x62, 0x30, 0x4D, 0x1B, 0x2A, 0x72, 0x31, 0x55});
}

}  // namespace


TEST_F(JobLoop, EmptyBlackAndWhiteLetterPageAt75)
{
	std::string spool = SpoolBuilder()
		.FileHeader(1)
		.Raw(flattened_settings(kLetter, 75, 1, 1))
		.PageHeader(0).EndPage()
		.Bytes();
	std::string bytes = Print(spool);

	ASSERT_EQ(bytes.size(), 77424u);
	EXPECT_EQ(bytes.substr(0, 23), bw_letter_header_75());
	std::vector<std::string> rows = BWRows(bytes, 23, 80);
	ASSERT_EQ(rows.size(), 900u);
	for (const std::string& row : rows)
		ASSERT_EQ(row, std::string(80, '\0'));
	EXPECT_EQ((uint8)bytes.back(), kFormFeed);
	// Full blocks while the job runs, then the one flush.
	ASSERT_EQ(fStream.writes.size(), 77424u / 1024 + 1);
	for (size_t i = 0; i + 1 < fStream.writes.size(); i++)
		EXPECT_EQ(fStream.writes[i].size(), 1024u);
}


TEST_F(JobLoop, PicturesArePlacedShiftedIntoTheirBandAndClipped)
{
	// At 75 dpi a page unit is a dot. The picture fills far more than its rectangle, which
	// is 8 by 10 units: only that much of it shows, at the placement point (8, 95), so rows
	// 95 to 104 cross from band 0 into band 1.
	std::string spool = SpoolBuilder()
		.FileHeader(1)
		.Raw(flattened_settings(BRect(0, 0, 31, 199), 75, 1, 1))
		.PageHeader(1)
		.Picture(8, 95, 50, 50, 57, 59, black_fill_picture(BRect(0, 0, 15, 15)))
		.EndPage()
		.Bytes();
	std::string bytes = Print(spool);

	std::vector<std::string> rows = BWRows(bytes, 23, 4);
	ASSERT_EQ(rows.size(), 200u);
	for (int32 r = 0; r < 200; r++) {
		std::string expected(4, '\0');
		if (r >= 95 && r <= 104)
			expected[1] = (char)0xFF;
		ASSERT_EQ(rows[r], expected) << "row " << r;
	}
}


// Every copy is a page of the stream: its own header, its rows and its form feed. Each page
// is decoded on its own here, from the bytes, and again by the print tool's preview decoder.
TEST_F(JobLoop, EveryCopyIsAWholePage)
{
	auto job = [](int16 copies) {
		return SpoolBuilder()
			.FileHeader(2)
			.Raw(flattened_settings(BRect(0, 0, 7, 24), 300, copies, 0))
			.PageHeader(1)
			.Picture(0, 0, 0, 0, 1, 0, black_fill_picture(BRect(0, 0, 1, 0)))
			.EndPage()
			.PageHeader(1)
			.Picture(0, 0, 0, 0, 7, 24, black_fill_picture(BRect(4, 10, 7, 12)))
			.EndPage()
			.Bytes();
	};
	std::string one_copy = Print(job(1));
	SetUp();
	std::string bytes = Print(job(2));

	// SpoolWidth 4, 400 rows a page at 300 dpi, colour.
	const std::string header = "\x1b" "E" "\x1b*t300R" "\x1b&l0E" "\x1b*b0M" "\x1b*r-4U";
	const std::string by_plane = "\x1b*b4V";
	const std::string by_row = "\x1b*b4W";
	std::vector<std::string> pages;
	std::vector<std::vector<std::string>> black_rows;
	size_t at = 0;
	while (at < bytes.size()) {
		SCOPED_TRACE(pages.size());
		size_t start = at;
		ASSERT_EQ(bytes.compare(at, header.size(), header), 0) << "at byte " << at;
		at += header.size();
		std::vector<std::string> black;
		while (at < bytes.size() && (uint8)bytes[at] != kFormFeed) {
			for (int plane = 0; plane < 4; plane++) {
				const std::string& command = plane < 3 ? by_plane : by_row;
				ASSERT_EQ(bytes.compare(at, command.size(), command), 0) << "at byte " << at;
				at += command.size();
				ASSERT_LE(at + 4, bytes.size());
				if (plane == 0)
					black.push_back(bytes.substr(at, 4));
				at += 4;
			}
		}
		ASSERT_LT(at, bytes.size()) << "no form feed";
		at++;
		ASSERT_EQ(black.size(), 400u);
		pages.push_back(bytes.substr(start, at - start));
		black_rows.push_back(black);
	}
	ASSERT_EQ(pages.size(), 4u);
	EXPECT_TRUE(pages[0] == pages[1]);
	EXPECT_TRUE(pages[2] == pages[3]);
	EXPECT_FALSE(pages[0] == pages[2]);
	// Units (0, 0) to (1, 0) are dots 0 to 7 of rows 0 to 3; units (4, 10) to (7, 12) dots
	// 16 to 31 of rows 40 to 51.
	EXPECT_EQ(black_rows[0][3], std::string("\xFF\0\0\0", 4));
	EXPECT_EQ(black_rows[0][4], std::string(4, '\0'));
	EXPECT_EQ(black_rows[2][40], std::string("\0\0\xFF\xFF", 4));
	// One copy is the first copy of each page, as before.
	EXPECT_TRUE(one_copy == pages[0] + pages[2]);

	for (const std::string& page : pages) {
		std::vector<uint8_t> data(page.begin(), page.end());
		int decoded = 0;
		preview::DecodeError error;
		EXPECT_TRUE(preview::decode_stream(data.data(), data.size(),
			[&](const preview::Page& each, std::string*) {
				decoded++;
				EXPECT_EQ(each.rows, 400);
				EXPECT_EQ(each.planes, 4);
				return true;
			},
			&error)) << error.message;
		EXPECT_EQ(decoded, 1);
	}
}


TEST_F(JobLoop, NoCopiesGivesHeaderAndFormFeed)
{
	std::string spool = SpoolBuilder()
		.FileHeader(2)
		.Raw(flattened_settings(kLetter, 75, 0, 1))
		.PageHeader(0).EndPage()
		.PageHeader(0).EndPage()
		.Bytes();
	std::string page = bw_letter_header_75() + "\x0c";
	EXPECT_EQ(Print(spool), page + page);
}


TEST_F(JobLoop, MissingPaperRectPrintsOneUnitEachWay)
{
	std::string spool = SpoolBuilder()
		.FileHeader(1)
		.Raw(flattened_settings(std::nullopt, 75, 1, 1))
		.PageHeader(0).EndPage()
		.Bytes();
	// SpoolWidth 1 and one band: 100 rows of ESC * b 1 W and one byte.
	EXPECT_EQ(Print(spool).size(), 23u + 100 * 6 + 1);
}


TEST_F(JobLoop, UnprintableSettingsAreRefusedWithoutAnyWrite)
{
	struct {
		const char* what;
		std::string settings;
	} cases[] = {
		{"no xres", flattened_settings(kLetter, std::nullopt, 1, 1)},
		{"no copies", flattened_settings(kLetter, 300, std::nullopt, 1)},
		{"no BWMode", flattened_settings(kLetter, 300, 1, std::nullopt)},
		{"xres below 75", flattened_settings(kLetter, 74, 1, 1)},
		{"zero width", flattened_settings(BRect(0, 0, -9, 825), 300, 1, 1)},
		{"band row over 64 KiB", flattened_settings(BRect(0, 0, 9000, 825), 300, 1, 1)},
		{"not a message", "garbage that is no message at all"},
	};
	for (const auto& test : cases) {
		SetUp();
		std::string spool = SpoolBuilder().FileHeader(1).Raw(test.settings)
			.PageHeader(0).EndPage().Bytes();
		Print(spool);
		EXPECT_TRUE(fStream.writes.empty()) << test.what;
		EXPECT_EQ(band_bmp, nullptr);
	}
}


TEST_F(JobLoop, JobWithoutPagesIsOneEmptyFlush)
{
	std::string spool = SpoolBuilder().FileHeader(0).Raw(flattened_settings(kLetter, 300, 1, 0))
		.Bytes();
	Print(spool);
	ASSERT_EQ(fStream.writes.size(), 1u);
	EXPECT_EQ(fStream.writes[0].size(), 0u);
	EXPECT_EQ(band_bmp, nullptr);
	EXPECT_EQ(band_view, nullptr);
}


TEST_F(JobLoop, SpoolEndingEarlyStopsAfterTheLastWholePage)
{
	std::string settings = flattened_settings(BRect(0, 0, 7, 99), 75, 1, 1);
	std::string picture = black_fill_picture(BRect(0, 0, 3, 3));
	std::string whole = SpoolBuilder()
		.FileHeader(3)
		.Raw(settings)
		.PageHeader(0).EndPage()
		.PageHeader(1).Picture(0, 0, 0, 0, 3, 3, picture).EndPage()
		.Bytes();
	const size_t page_bytes = 23 + 100 * 6 + 1;

	// Page 2's picture record cut short: only page 1 goes out, then the flush.
	EXPECT_EQ(Print(whole.substr(0, whole.size() - 1)).size(), page_bytes);
	// Complete pages 1 and 2; page 3 (the header promises three) is missing.
	SetUp();
	std::string bytes = Print(whole);
	EXPECT_EQ(bytes.size(), 2 * page_bytes);
	EXPECT_EQ(BWRows(bytes, page_bytes + 23, 1)[0], "\xF0");
	// The header alone, or the settings cut: refused without output.
	SetUp();
	Print(whole.substr(0, 28 + settings.size() / 2));
	EXPECT_TRUE(fStream.writes.empty());
}


TEST_F(JobLoop, NextPageOffsetOutsideTheFileEndsTheJob)
{
	std::string settings = flattened_settings(BRect(0, 0, 7, 99), 75, 1, 1);
	std::string spool = SpoolBuilder()
		.FileHeader(2)
		.Raw(settings)
		.PageHeader(0, 1 << 30).EndPage()
		.PageHeader(0).EndPage()
		.Bytes();
	EXPECT_EQ(Print(spool).size(), 23u + 100 * 6 + 1);

	// The last page's offset is not needed (later writers leave it 0).
	SetUp();
	spool = SpoolBuilder().FileHeader(1).Raw(settings).PageHeader(0, 0).EndPage().Bytes();
	EXPECT_EQ(Print(spool).size(), 23u + 100 * 6 + 1);
}


TEST_F(JobLoop, OnlyTheFirst128PicturesOfAPageAreDrawn)
{
	std::string settings = flattened_settings(BRect(0, 0, 7, 99), 75, 1, 1);
	std::string nothing = black_fill_picture(BRect(0, 0, 3, 3));
	SpoolBuilder builder;
	builder.FileHeader(2).Raw(settings).PageHeader(130);
	// 128 pictures clipped to nothing (a rectangle of one unit far off the page), then two
	// that would blacken the whole row 0.
	for (int i = 0; i < 128; i++)
		builder.Picture(500, 500, 0, 0, 0, 0, nothing);
	for (int i = 0; i < 2; i++)
		builder.Picture(0, 0, 0, 0, 7, 0, black_fill_picture(BRect(0, 0, 7, 0)));
	builder.EndPage().PageHeader(1).Picture(0, 0, 0, 0, 7, 0,
		black_fill_picture(BRect(0, 0, 7, 0))).EndPage();

	std::string bytes = Print(builder.Bytes());
	const size_t page_bytes = 23 + 100 * 6 + 1;
	ASSERT_EQ(bytes.size(), 2 * page_bytes);
	EXPECT_EQ(BWRows(bytes, 23, 1)[0], std::string(1, '\0'));
	// The records of pictures 129 and 130 were read past: the next page is found.
	EXPECT_EQ(BWRows(bytes, page_bytes + 23, 1)[0], "\xFF");
}


TEST_F(JobLoop, PictureThatDoesNotUnflattenDrawsNothing)
{
	// A well-formed container whose op data is not a sequence of ops.
	std::string broken = flattened_picture(std::string("\x01\x00\xFF\xFF\xFF\x7F", 6));
	BMemoryIO broken_stream(broken.data(), broken.size());
	BPicture check;
	ASSERT_NE(check.Unflatten(&broken_stream), B_OK);
	std::string spool = SpoolBuilder()
		.FileHeader(1)
		.Raw(flattened_settings(BRect(0, 0, 7, 99), 75, 1, 1))
		.PageHeader(2)
		.Picture(0, 0, 0, 0, 7, 99, broken)
		.Picture(0, 1, 0, 0, 7, 0, black_fill_picture(BRect(0, 0, 7, 0)))
		.EndPage()
		.Bytes();
	std::vector<std::string> rows = BWRows(Print(spool), 23, 1);
	ASSERT_EQ(rows.size(), 100u);
	EXPECT_EQ(rows[0], std::string(1, '\0'));
	EXPECT_EQ(rows[1], "\xFF");
}


// One picture that fills more than its 10 x 10 rectangle, placed at page unit (0, 30), and
// one placed below the page: at each resolution exactly the dots of the 10 x 10 square at
// (0, 30) come out black, shifted into the band that holds them.
TEST_F(JobLoop, PicturesLandWhereTheBandArithmeticSaysAtEveryResolution)
{
	std::string picture = black_fill_picture(BRect(0, 0, 15, 15));
	for (int32 xres : {300, 150, 75}) {
		SCOPED_TRACE(xres);
		SetUp();
		int32 factor_value = xres / 75;
		std::string spool = SpoolBuilder()
			.FileHeader(1)
			.Raw(flattened_settings(BRect(0, 0, 15, 199), xres, 1, 1))
			.PageHeader(2)
			.Picture(0, 30, 0, 0, 9, 9, picture)
			.Picture(0, 400, 0, 0, 9, 9, picture)
			.EndPage()
			.Bytes();
		std::string bytes = Print(spool);
		size_t header = xres == 75 ? 23 : 24;
		int32 width = 2 * factor_value;  // SpoolWidth: 16 units at factor dots each
		std::vector<std::string> rows = BWRows(bytes, header, width);
		ASSERT_EQ(rows.size(), size_t(2 * factor_value * 100));

		int32 first = 30 * factor_value;
		int32 last = 40 * factor_value - 1;
		int32 dots = 10 * factor_value;
		for (int32 r = 0; r < (int32)rows.size(); r++) {
			std::string expected(width, '\0');
			if (r >= first && r <= last) {
				for (int32 x = 0; x < dots; x++)
					expected[x / 8] |= (char)(0x80 >> (x % 8));
			}
			ASSERT_EQ(rows[r], expected) << "row " << r;
		}
	}
}


// A three-page job cut at every record boundary, and one byte into every record: only the
// pages whose records are all in the file are sent, each exactly as in the whole job.
TEST_F(JobLoop, SpoolCutAtEveryRecordBoundarySendsTheWholePagesOnly)
{
	std::string settings = flattened_settings(BRect(0, 0, 7, 99), 75, 1, 1);
	std::string picture = black_fill_picture(BRect(0, 0, 3, 3));
	SpoolBuilder builder;
	builder.FileHeader(3).Raw(settings);
	std::vector<size_t> boundaries = {28, builder.Bytes().size()};
	std::vector<size_t> page_ends;
	for (int32 page = 0; page < 3; page++) {
		builder.PageHeader(2);
		boundaries.push_back(builder.Bytes().size());
		for (int32 i = 0; i < 2; i++) {
			builder.Picture(0, (float)page, 0, 0, 3, 3, picture);
			boundaries.push_back(builder.Bytes().size() - picture.size());  // after the place
			boundaries.push_back(builder.Bytes().size());
		}
		builder.EndPage();
		page_ends.push_back(builder.Bytes().size());
	}
	const std::string whole = builder.Bytes();
	const size_t page_bytes = 23 + 100 * 6 + 1;
	std::string full_output = Print(whole);
	ASSERT_EQ(full_output.size(), 3 * page_bytes);

	for (size_t boundary : boundaries) {
		for (size_t cut : {boundary, boundary + 1}) {
			if (cut >= whole.size())
				continue;
			SCOPED_TRACE(cut);
			SetUp();
			std::string output = Print(whole.substr(0, cut));
			if (cut < 28 + settings.size()) {
				EXPECT_TRUE(fStream.writes.empty());  // refused before any output
				continue;
			}
			size_t whole_pages = 0;
			while (whole_pages < page_ends.size() && page_ends[whole_pages] <= cut)
				whole_pages++;
			EXPECT_EQ(output, full_output.substr(0, whole_pages * page_bytes));
		}
	}
}


// Pages whose pictures move their own origin, as a recording application does when it calls
// SetOrigin between drawing calls (a whole-page image sent as strips, each strip a picture at
// the page's corner), must print exactly like the same page drawn at page coordinates.
TEST_F(JobLoop, PicturesThatMoveTheirOriginPrintLikeTheSameDrawingInPlace)
{
	struct placed {
		BPoint where;
		BRect rect;
		std::string picture;
	};
	const BRect page(0, 0, 31, 199);
	auto job = [&](const std::vector<placed>& pictures, int32 xres) {
		SpoolBuilder builder;
		builder.FileHeader(1).Raw(flattened_settings(page, xres, 1, 1))
			.PageHeader((int32)pictures.size());
		for (const placed& p : pictures)
			builder.Picture(p.where.x, p.where.y, p.rect.left, p.rect.top, p.rect.right,
				p.rect.bottom, p.picture);
		return builder.EndPage().Bytes();
	};

	std::vector<placed> moved, in_place;
	// Unit (0, 100): the top of the second band at 75 dpi.
	moved.push_back({BPoint(0, 0), page, recorded_picture([](BView* view) {
		view->SetOrigin(3, 105);
		view->FillRect(BRect(-3, -5, 4, -1));
	})});
	in_place.push_back({BPoint(0, 0), page, black_fill_picture(BRect(0, 100, 7, 104))});
	// Four strips of 50 units, each drawn in its own coordinates.
	for (int32 k = 0; k < 4; k++) {
		BRect strip(8 + 4 * k, 2 * k, 11 + 5 * k, 45);
		moved.push_back({BPoint(0, 0), page, recorded_picture([&](BView* view) {
			view->SetOrigin(0, 50 * k);
			view->FillRect(strip);
		})});
		in_place.push_back({BPoint(0, 0), page,
			black_fill_picture(strip.OffsetByCopy(0, 50 * k))});
	}
	// Placed at (5, 33) and clipped to its 20 x 50 rectangle: a scaled square in a pushed
	// level, then a fill larger than the rectangle.
	moved.push_back({BPoint(5, 33), BRect(100, 100, 120, 150), recorded_picture([](BView* view) {
		view->SetOrigin(2, 7);
		view->PushState();
		view->SetOrigin(1, 1);
		view->SetScale(2);
		view->FillRect(BRect(0, 0, 3, 3));
		view->PopState();
		view->FillRect(BRect(-4, 30, 30, 60));
	})});
	in_place.push_back({BPoint(5, 33), BRect(100, 100, 120, 150),
		recorded_picture([](BView* view) {
			view->FillRect(BRect(3, 8, 10, 15));
			view->FillRect(BRect(-2, 37, 32, 67));
		})});

	for (int32 xres : {300, 150, 75}) {
		SCOPED_TRACE(xres);
		SetUp();
		std::string expected = Print(job(in_place, xres));
		SetUp();
		std::string bytes = Print(job(moved, xres));
		ASSERT_EQ(bytes.size(), expected.size());
		EXPECT_TRUE(bytes == expected);
		if (xres == 75) {
			// Dots 0 to 4 hold only the first picture: rows 100 to 104.
			std::vector<std::string> rows = BWRows(bytes, 23, 4);
			ASSERT_EQ(rows.size(), 200u);
			for (int32 r = 0; r < 200; r++)
				ASSERT_EQ(rows[r][0] & 0xF8, r >= 100 && r <= 104 ? 0xF8 : 0) << "row " << r;
		}
	}
}
