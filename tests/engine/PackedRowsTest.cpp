// The packed row encoding: PackBits rows that unpack to themselves, blank rows skipped with
// Y offsets, and whole jobs whose packed streams decode to exactly the sheets of their whole
// streams.
#include "EngineFixture.h"
#include "PclPreview.h"
#include "SpoolBuilder.h"
#include "SpoolRecords.h"
#include "support/TempRoot.h"

#include <Bitmap.h>
#include <File.h>
#include <JobSettings.h>
#include <Message.h>
#include <Picture.h>
#include <View.h>

#include <fstream>
#include <functional>
#include <random>

namespace {

std::string bytes_of(std::initializer_list<int> values)
{
	std::string bytes;
	for (int value : values)
		bytes += (char)value;
	return bytes;
}

std::string packed(const std::string& row)
{
	std::string out(packed_row_bound((int32)row.size()), '\0');
	size_t length = pack_bits((const uint8*)row.data(), (int32)row.size(), (uint8*)out.data());
	EXPECT_LE(length, out.size());
	out.resize(length);
	return out;
}

// The plane row a one-plane page of `packed` bytes decodes to, through the preview decoder;
// empty, with a failure, when it does not decode.
std::string unpacked_by_the_decoder(const std::string& packed_row)
{
	std::string stream = "\x1b" "E" "\x1b*t75R" "\x1b*b2M" "\x1b*r1U" "\x1b*b"
		+ std::to_string(packed_row.size()) + "W" + packed_row + "\x0c";
	std::string row;
	preview::DecodeError error;
	bool decoded = preview::decode_stream((const uint8_t*)stream.data(), stream.size(),
		[&](const preview::Page& page, std::string*) {
			row.assign((size_t)page.width / 8, '\0');
			for (int x = 0; x < page.width; x++) {
				if (page.inks[(size_t)x] != 0)
					row[(size_t)x / 8] |= (char)(0x80 >> (x % 8));
			}
			return true;
		},
		&error);
	EXPECT_TRUE(decoded) << error.message << " at byte " << error.offset;
	return row;
}

}  // namespace


TEST(PackBits, RunsBecomeRepeatsAndTheRestLiterals)
{
	const std::string zeros128(128, '\0');
	std::string ascending;
	for (int i = 0; i <= 128; i++)
		ascending += (char)i;
	const struct {
		const char* label;
		std::string row;
		std::string packed;
	} cases[] = {
		{"one byte", bytes_of({7}), bytes_of({0x00, 7})},
		{"two different", bytes_of({1, 2}), bytes_of({0x01, 1, 2})},
		{"two equal", bytes_of({1, 1}), bytes_of({0xFF, 1})},
		{"four equal", bytes_of({0, 0, 0, 0}), bytes_of({0xFD, 0})},
		{"a pair after a literal stays in it", bytes_of({1, 2, 2}), bytes_of({0x02, 1, 2, 2})},
		{"three after a literal", bytes_of({1, 2, 2, 2}), bytes_of({0x00, 1, 0xFE, 2})},
		{"a pair, then a run", bytes_of({5, 5, 1, 1, 1}), bytes_of({0xFF, 5, 0xFE, 1})},
		{"a literal between runs", bytes_of({0, 0, 0, 9, 8, 0, 0, 0}),
			bytes_of({0xFE, 0, 0x01, 9, 8, 0xFE, 0})},
		{"128 equal", zeros128, bytes_of({0x81, 0})},
		{"129 equal", zeros128 + '\0', bytes_of({0x81, 0, 0x00, 0})},
		{"130 equal", zeros128 + std::string(2, '\0'), bytes_of({0x81, 0, 0xFF, 0})},
		{"129 different", ascending,
			std::string(1, '\x7F') + ascending.substr(0, 128) + bytes_of({0x00, 128})},
	};
	for (const auto& c : cases)
		EXPECT_EQ(packed(c.row), c.packed) << c.label;
}


// Rows of many shapes and widths (about the 128-byte limits of both kinds of run) pack within
// their bound and unpack, as the preview decoder reads method 2, to themselves.
TEST(PackBits, EveryRowUnpacksToItselfWithinItsBound)
{
	std::mt19937 random(23);
	const std::vector<std::function<uint8(int32)>> kinds = {
		[&](int32) { return (uint8)random(); },                           // noise
		[&](int32) { return (uint8)(random() % 16 == 0 ? random() : 0); },  // sparse dots
		[&](int32 i) { return (uint8)((i / (1 + random() % 5)) & 1 ? 0xFF : 0x00); },
		[&](int32 i) { return (uint8)(i % 2 == 0 ? 0xAA : 0x55); },       // no two alike
		[&](int32 i) { return (uint8)(i / 3); },                          // runs of three
		[&](int32 i) { return (uint8)(i / 2); },                          // pairs
	};
	for (int32 width : {1, 2, 3, 127, 128, 129, 130, 255, 256, 257, 320, 641}) {
		for (size_t kind = 0; kind < kinds.size(); kind++) {
			std::string row;
			for (int32 i = 0; i < width; i++)
				row += (char)kinds[kind](i);
			SCOPED_TRACE("width " + std::to_string(width) + ", kind " + std::to_string(kind));
			std::string bytes = packed(row);
			EXPECT_LE(bytes.size(), packed_row_bound(width));
			EXPECT_EQ(unpacked_by_the_decoder(bytes), row);
		}
	}
}


namespace {

// A paper of 2.66 x 4.4 inches: sheets of several bands, the last one reaching below it.
const BRect kPaper(0, 0, 199.5, 330);

// Ink at the corners and edges of the paper, pure inks and dithered tones, and blank rows
// between them and below the paper.
std::string mixed_drawing()
{
	return recorded_picture([](BView* view) {
		view->SetHighColor(255, 0, 0);
		view->FillRect(BRect(0, 0, 30, 20));
		for (int step = 0; step < 6; step++) {
			view->SetHighColor(40 * step, 200 - 30 * step, 90 + 20 * step);
			view->FillRect(BRect(40 + 18 * step, 10, 57 + 18 * step, 60));
		}
		view->SetHighColor(128, 128, 128);
		view->FillEllipse(BPoint(60, 120), 40, 30);
		view->SetHighColor(0, 160, 200);
		view->FillRect(BRect(120, 100, 199.5, 150));
		view->SetHighColor(0, 0, 0);
		view->FillRect(BRect(199, 270, 199.5, 280));  // the last column
		view->FillRect(BRect(0, 329, 199.5, 330));    // the paper's last row
	});
}

class PackedRows : public EngineTest {
protected:
	std::string Print(const std::string& spool, RowEncoding encoding)
	{
		SetUp();
		std::string path = fRoot.Sub("job.spool");
		std::ofstream(path, std::ios::binary) << spool;
		BFile file(path.c_str(), B_READ_ONLY);
		EXPECT_EQ(file.InitCheck(), B_OK);
		DoJob(&file, encoding);
		EXPECT_FALSE(job_failed);
		return fStream.Bytes();
	}

	std::vector<preview::Page> Decode(const std::string& bytes)
	{
		std::vector<preview::Page> pages;
		preview::DecodeError error;
		EXPECT_TRUE(preview::decode_stream((const uint8_t*)bytes.data(), bytes.size(),
			[&](const preview::Page& page, std::string*) {
				pages.push_back(page);
				return true;
			},
			&error)) << error.message << " at byte " << error.offset;
		return pages;
	}

	TempRoot fRoot;
};

// The first row of dots where two pages differ, or -1.
int first_different_row(const preview::Page& a, const preview::Page& b)
{
	for (int y = 0; y < std::min(a.rows, b.rows); y++) {
		size_t at = (size_t)y * a.width;
		if (!std::equal(a.inks.begin() + at, a.inks.begin() + at + a.width, b.inks.begin() + at))
			return y;
	}
	return a.rows == b.rows ? -1 : std::min(a.rows, b.rows);
}

}  // namespace


// Two pages (a mixed drawing, and a blank page) of two copies each, in colour and in black,
// at every resolution: the packed stream's sheets are the whole stream's, dot for dot, each
// with the whole stream's header but for the compression method.
TEST_F(PackedRows, SheetsAreDotForDotTheWholeStreamsAtEveryResolutionWithCopies)
{
	const std::string drawing = mixed_drawing();
	for (int32 xres : {300, 150, 75}) {
		for (int16 bw : {int16(0), int16(1)}) {
			SCOPED_TRACE(std::to_string(xres) + " dpi, " + (bw ? "black" : "colour"));
			std::string spool = SpoolBuilder()
				.FileHeader(2)
				.Raw(flattened_settings(kPaper, xres, 2, bw))
				.PageHeader(1)
				.Picture(0, 0, 0, 0, 199.5, 330, drawing)
				.EndPage()
				.PageHeader(0)
				.EndPage()
				.Bytes();
			std::string whole = Print(spool, RowEncoding::kWhole);
			std::string packed = Print(spool, RowEncoding::kPacked);
			std::vector<preview::Page> sheets = Decode(whole);
			std::vector<preview::Page> packed_sheets = Decode(packed);
			ASSERT_EQ(sheets.size(), 4u);
			ASSERT_EQ(packed_sheets.size(), 4u);
			for (size_t i = 0; i < sheets.size(); i++) {
				SCOPED_TRACE("sheet " + std::to_string(i + 1));
				EXPECT_EQ(packed_sheets[i].resolution, xres);
				EXPECT_EQ(packed_sheets[i].planes, bw ? 1 : 4);
				EXPECT_EQ(packed_sheets[i].width, sheets[i].width);
				EXPECT_EQ(packed_sheets[i].rows, sheets[i].rows);
				EXPECT_EQ(first_different_row(packed_sheets[i], sheets[i]), -1);
			}
			// The drawing reached the sheet, and the blank page is blank.
			EXPECT_NE(std::count(sheets[0].inks.begin(), sheets[0].inks.end(), 0),
				(long)sheets[0].inks.size());
			EXPECT_EQ(std::count(sheets[2].inks.begin(), sheets[2].inks.end(), 0),
				(long)sheets[2].inks.size());

			// The header ends with the planes per row, ESC * r <planes> U.
			std::string header = whole.substr(0, whole.find('U', whole.find("\x1b*r")) + 1);
			ASSERT_NE(header.find("\x1b*b0M"), std::string::npos);
			header.replace(header.find("\x1b*b0M"), 5, "\x1b*b2M");
			EXPECT_EQ(packed.compare(0, header.size(), header), 0);
			EXPECT_LT(packed.size(), whole.size() / 2);
		}
	}
}


TEST_F(PackedRows, BlankRowsAreSkippedAfterTheSheetsFirstRow)
{
	const std::string header = "\x1b" "E" "\x1b*t75R" "\x1b&l0E" "\x1b*b2M" "\x1b*r1U";
	// A blank sheet: its first row, then a Y offset over the other 99.
	std::string blank = SpoolBuilder()
		.FileHeader(1)
		.Raw(flattened_settings(BRect(0, 0, 7, 99), 75, 1, 1))
		.PageHeader(0)
		.EndPage()
		.Bytes();
	EXPECT_EQ(Print(blank, RowEncoding::kPacked),
		header + "\x1b*b2W" + bytes_of({0x00, 0x00}) + "\x1b*b99Y" + "\x0c");

	// Rows 10 to 12 black: the blank rows before and after them are skipped.
	std::string bar = SpoolBuilder()
		.FileHeader(1)
		.Raw(flattened_settings(BRect(0, 0, 7, 99), 75, 1, 1))
		.PageHeader(1)
		.Picture(0, 0, 0, 0, 7, 99, recorded_picture([](BView* view) {
			view->SetHighColor(0, 0, 0);
			view->FillRect(BRect(0, 10, 7, 12));
		}))
		.EndPage()
		.Bytes();
	std::string black_row = "\x1b*b2W" + bytes_of({0x00, 0xFF});
	EXPECT_EQ(Print(bar, RowEncoding::kPacked), header + "\x1b*b2W" + bytes_of({0x00, 0x00})
		+ "\x1b*b9Y" + black_row + black_row + black_row + "\x1b*b87Y" + "\x0c");

	// No copies: the header and the form feed alone, as in the whole stream.
	std::string none = SpoolBuilder()
		.FileHeader(1)
		.Raw(flattened_settings(BRect(0, 0, 7, 99), 75, 0, 1))
		.PageHeader(0)
		.EndPage()
		.Bytes();
	EXPECT_EQ(Print(none, RowEncoding::kPacked), header + "\x0c");
}


// The tallest sheet the driver prints, blank: more rows below its first than one Y offset
// moves, so two.
TEST_F(PackedRows, LongRunsOfBlankRowsTakeSeveralOffsets)
{
	std::string spool = SpoolBuilder()
		.FileHeader(1)
		.Raw(flattened_settings(BRect(0, 0, 7, 32799), 75, 1, 1))
		.PageHeader(0)
		.EndPage()
		.Bytes();
	std::string bytes = Print(spool, RowEncoding::kPacked);
	EXPECT_EQ(bytes.substr(23), "\x1b*b2W" + bytes_of({0x00, 0x00}) + "\x1b*b32767Y"
		+ "\x1b*b32Y" + "\x0c");
	std::vector<preview::Page> sheets = Decode(bytes);
	ASSERT_EQ(sheets.size(), 1u);
	EXPECT_EQ(sheets[0].rows, 32800);
}
