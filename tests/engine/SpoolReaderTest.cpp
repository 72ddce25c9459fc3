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
