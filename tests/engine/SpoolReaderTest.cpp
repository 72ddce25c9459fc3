#include "EngineFixture.h"
#include "SpoolBuilder.h"

#include <DataIO.h>

namespace {

off_t measure(const std::string& bytes, off_t start = 0)
{
	BMemoryIO file(bytes.data(), bytes.size());
	off_t length = -1;
	if (!measure_flattened_picture(&file, start, (off_t)bytes.size(), &length))
		return -1;
	return length;
}

}  // namespace


TEST(SpoolReader, HeadersAndPlacementReadFieldByField)
{
	std::string bytes = SpoolBuilder()
		.FileHeader(3)
		.PageHeader(2, 0x123456789A)
		.Picture(10, 20.5f, 100, 100, 200, 300, "")
		.Bytes();
	BMemoryIO file(bytes.data(), bytes.size());

	int32 page_count = 0;
	ASSERT_TRUE(read_spool_header(&file, &page_count));
	EXPECT_EQ(page_count, 3);
	EXPECT_EQ(file.Position(), 28);

	int32 pictures = 0;
	int64 next_page = 0;
	ASSERT_TRUE(read_page_header(&file, &pictures, &next_page));
	EXPECT_EQ(pictures, 2);
	EXPECT_EQ(next_page, 0x123456789A);
	EXPECT_EQ(file.Position(), 28 + 52);

	BPoint where;
	BRect rect;
	ASSERT_TRUE(read_picture_place(&file, &where, &rect));
	EXPECT_EQ(where, BPoint(10, 20.5f));
	EXPECT_EQ(rect, BRect(100, 100, 200, 300));
	EXPECT_FALSE(read_picture_place(&file, &where, &rect));
}


TEST(SpoolReader, TruncatedRecordsAreNotRead)
{
	std::string bytes = SpoolBuilder().FileHeader(1).PageHeader(1).Bytes();
	for (size_t cut : {(size_t)0, (size_t)27}) {
		BMemoryIO file(bytes.data(), cut);
		int32 page_count;
		EXPECT_FALSE(read_spool_header(&file, &page_count)) << cut;
	}
	BMemoryIO file(bytes.data(), bytes.size() - 1);
	int32 page_count, pictures;
	int64 next_page;
	ASSERT_TRUE(read_spool_header(&file, &page_count));
	EXPECT_FALSE(read_page_header(&file, &pictures, &next_page));
}


TEST(SpoolReader, PictureLengthFollowsTheContainer)
{
	std::string plain = flattened_picture("abcdef");
	EXPECT_EQ(measure(plain), 16 + 6);
	EXPECT_EQ(measure("xyz" + plain, 3), 16 + 6);

	std::string nested = flattened_picture("12", {plain, flattened_picture("", {plain})});
	EXPECT_EQ(measure(nested), 16 + 22 + (16 + 22) + 2);
	// Bytes after the picture are not part of it.
	EXPECT_EQ(measure(nested + "trailing"), 16 + 22 + (16 + 22) + 2);
}


TEST(SpoolReader, DamagedOrCutPicturesAreNotMeasured)
{
	std::string plain = flattened_picture("abcdef");
	EXPECT_EQ(measure(plain.substr(0, plain.size() - 1)), -1);
	EXPECT_EQ(measure(plain.substr(0, 15)), -1);
	EXPECT_EQ(measure(""), -1);

	std::string wrong_version = SpoolBuilder().Int32(3).Int32(0).Int32(0).Int32(0).Bytes();
	EXPECT_EQ(measure(wrong_version), -1);
	std::string second_word = SpoolBuilder().Int32(2).Int32(1).Int32(0).Int32(0).Bytes();
	EXPECT_EQ(measure(second_word), -1);
	std::string negative_size = SpoolBuilder().Int32(2).Int32(0).Int32(0).Int32(-1).Bytes();
	EXPECT_EQ(measure(negative_size), -1);
	std::string too_many_subs =
		SpoolBuilder().Int32(2).Int32(0).Int32(0x7FFFFFFF).Raw(plain).Bytes();
	EXPECT_EQ(measure(too_many_subs), -1);

	// Nesting deeper than any real picture is damage; a modest depth is fine.
	std::string deep = plain;
	for (int depth = 0; depth < 40; depth++) {
		deep = flattened_picture("", {deep});
		if (depth == 10) {
			EXPECT_GT(measure(deep), 0);
		}
	}
	EXPECT_EQ(measure(deep), -1);
}
