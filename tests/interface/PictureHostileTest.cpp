// Flattened pictures from untrusted sources: truncation, impossible sizes, deep nesting,
// runaway sub-pictures, and the corpus of broken pictures in tests/data/pictures.
#include <gtest/gtest.h>

#include <Errors.h>
#include <Picture.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "interface/PictureTestSupport.h"

using namespace picture_test;
using Log = std::vector<std::string>;

namespace {

// Budget of the plays that are meant to run out, small enough to keep the tests quick.
const uint64 kTestBudget = 200000;


// A stream without a known length, as a pipe would be.
class SequentialIO : public BDataIO {
public:
	SequentialIO(const uint8* data, size_t size) : fData(data), fSize(size) {}

	ssize_t Read(void* buffer, size_t size) override
	{
		size_t count = std::min(size, fSize - fOffset);
		memcpy(buffer, fData + fOffset, count);
		fOffset += count;
		return static_cast<ssize_t>(count);
	}

private:
	const uint8* fData;
	size_t fSize;
	size_t fOffset = 0;
};


// Counts callbacks and plays sub-pictures (clipping ones into a separate object that shares
// the limits, the way a view builds a clipping mask).
class CountingOps : public PictureOps {
public:
	uint64 fills = 0;
	uint64 pictures = 0;

	void FillRect(BRect) override { fills++; }
	void DrawPicture(BPoint, const PictureData& picture) override
	{
		pictures++;
		picture.Play(*this);
	}
	void ClipToPicture(const PictureData& picture, BPoint, bool) override
	{
		pictures++;
		CountingOps mask;
		picture.Play(mask, this);
		fills += mask.fills;
		pictures += mask.pictures;
	}
};


std::vector<uint8> rich_picture()
{
	PictureWriter writer;
	record_everything(writer, small_sub_picture());
	PictureData recorded;
	writer.Finish(&recorded);
	return flatten(recorded);
}


std::vector<uint8> read_file(const std::filesystem::path& path)
{
	std::ifstream file(path, std::ios::binary);
	return std::vector<uint8>(std::istreambuf_iterator<char>(file), {});
}


// count levels of pictures, each drawing (op 0x0112) or clipping to (0x0202) its one
// sub-picture fanOut times; the innermost fills a rect.
std::vector<uint8> fan_out(int levels, int fanOut, uint16 code = 0x0112)
{
	std::vector<uint8> picture = make_picture(Bytes().Op(0x0102, Bytes().Rect(0, 0, 1, 1)));
	for (int level = 0; level < levels; level++) {
		Bytes ops;
		for (int i = 0; i < fanOut; i++) {
			if (code == 0x0112)
				ops.Op(code, Bytes().Point(1, 1).Int32(0));
			else
				ops.Op(code, Bytes().Int32(0).Point(1, 1).Int8(0));
		}
		picture = make_picture(ops, {picture});
	}
	return picture;
}

}  // namespace


TEST(PictureHostileTest, TruncationAtEveryByteFailsAndLeavesNothing)
{
	std::vector<uint8> bytes = rich_picture();
	ASSERT_GT(bytes.size(), 500u);
	for (size_t length = 0; length < bytes.size(); length++) {
		BPicture picture;
		BMemoryIO stream(bytes.data(), length);
		ASSERT_NE(picture.Unflatten(&stream), B_OK) << length;
		EXPECT_NE(picture.InitCheck(), B_OK);
		EXPECT_TRUE(picture.Data()->IsEmpty()) << length;
		LoggingOps ops;
		picture.Data()->Play(ops);
		EXPECT_TRUE(ops.log.empty()) << length;

		PictureData data;
		SequentialIO sequential(bytes.data(), length);
		ASSERT_NE(data.Unflatten(&sequential), B_OK) << length;
		EXPECT_TRUE(data.IsEmpty());
	}
	PictureData whole;
	SequentialIO sequential(bytes.data(), bytes.size());
	EXPECT_EQ(whole.Unflatten(&sequential), B_OK);
}


TEST(PictureHostileTest, HugeDeclaredSizesFailWithoutTheirAllocation)
{
	Bytes header;
	header.Int32(2).Int32(0).Int32(0).Int32(0x7FFFFFF0);
	std::vector<uint8> bytes = header.data;
	bytes.resize(1024);
	PictureData picture;
	EXPECT_EQ(unflatten(bytes, &picture), B_BAD_DATA);
	// Without a known length the data is read in bounded chunks until the stream ends.
	SequentialIO sequential(bytes.data(), bytes.size());
	EXPECT_EQ(picture.Unflatten(&sequential), B_BAD_DATA);

	Bytes subHeader;
	subHeader.Int32(2).Int32(0).Int32(0x7FFFFFFF);
	bytes = subHeader.data;
	bytes.resize(1024);
	EXPECT_EQ(unflatten(bytes, &picture), B_BAD_DATA);
	SequentialIO sequentialSubs(bytes.data(), bytes.size());
	EXPECT_EQ(picture.Unflatten(&sequentialSubs), B_BAD_DATA);
}


TEST(PictureHostileTest, DrawPixelsIsCheckedAgainstItsData)
{
	auto pixels = [](int32 width, int32 height, int32 bytesPerRow, int32 space, int32 length,
		size_t stored) {
		Bytes payload;
		payload.Rect(0, 0, 1, 1).Rect(0, 0, 1, 1).Int32(width).Int32(height)
			.Int32(bytesPerRow).Int32(space).Int32(0).Int32(length);
		for (size_t i = 0; i < stored; i++)
			payload.Int8(static_cast<uint8>(i + 1));
		return play(make_picture(Bytes().Op(0x0110, payload)));
	};
	// Accepted: exact, longer data, 1-bit rows rounded up to bytes.
	Log ok = pixels(3, 2, 12, B_RGB32, 24, 24);
	ASSERT_EQ(ok.size(), 1u);
	EXPECT_EQ(ok[0].substr(0, 39), "DrawPixels 3 2 12 0x8 0 len 24 first 1 ");
	EXPECT_EQ(pixels(3, 2, 12, B_RGB32, 30, 30).size(), 1u);
	EXPECT_EQ(pixels(9, 2, 2, B_GRAY1, 4, 4).size(), 1u);

	EXPECT_EQ(pixels(3, 2, 12, B_RGB32, 23, 23), Log{});  // rows do not fit the data
	EXPECT_EQ(pixels(3, 2, 12, B_RGB32, 24, 20), Log{});  // data length past the payload
	EXPECT_EQ(pixels(3, 2, 11, B_RGB32, 24, 24), Log{});  // row shorter than 3 pixels
	EXPECT_EQ(pixels(9, 2, 1, B_GRAY1, 4, 4), Log{});  // 9 bits need 2 bytes
	EXPECT_EQ(pixels(0x40000000, 1, 0x40000000, B_RGB32, 16, 16), Log{});
	EXPECT_EQ(pixels(0x10000, 0x10000, 0x40000, B_RGB32, 16, 16), Log{});
	EXPECT_EQ(pixels(2, 2, 8, B_CMYK32, 16, 16), Log{});
	EXPECT_EQ(pixels(2, 2, 8, 0x7FFFFFFF, 16, 16), Log{});
	EXPECT_EQ(pixels(-2, 2, 8, B_RGB32, 16, 16), Log{});
	EXPECT_EQ(pixels(2, 2, 8, B_RGB32, -16, 16), Log{});
}


TEST(PictureHostileTest, CountsAndLengthsAreCheckedAgainstThePayload)
{
	Bytes ops;
	ops.Op(0x010B, Bytes().Int32(0x20000001).Point(0, 0).Int8(1))
		.Op(0x010C, Bytes().Int32(-1).Point(0, 0))
		.Op(0x010C, Bytes().Int32(2).Point(0, 0))
		.Op(0x010F, Bytes().Int32(0x7FFFFFFF).Int32(0).Int32(0))
		.Op(0x010F, Bytes().Int32(0xFFFFFFFF).Int32(0).Int32(0))
		.Op(0x010F, Bytes().Int32(1).Int8('x').Int32(0))  // escapement cut short
		.Op(0x0380, Bytes().Int32(0x7FFFFFFF).Int8('A').Int8(0))
		.Op(0x0380, Bytes().Int32(3).Int8('A').Int8('b').Int8('c'))  // NUL missing: kept
		.Op(0x0381, Bytes().Int32(4).Int8('A').Int8(0).Int8('b').Int8(0))  // stops at NUL
		.Op(0x010B, Bytes().Int32(1).Point(4, 5).Int8(0));
	Log expected = {"SetFontFamily Abc", "SetFontStyle A",
		"StrokePolygon 1 open 4/40800000 5/40a00000"};
	EXPECT_EQ(play(make_picture(ops)), expected);
}


TEST(PictureHostileTest, NestingIsBounded)
{
	// Sub-pictures: the top picture and 31 levels below it are accepted, one more is not.
	auto nested = [](int levels) {
		std::vector<uint8> picture = make_picture(Bytes());
		for (int i = 0; i < levels; i++)
			picture = make_picture(Bytes(), {picture});
		return picture;
	};
	PictureData picture;
	EXPECT_EQ(unflatten(nested(PictureData::kMaxNesting - 1), &picture), B_OK);
	EXPECT_EQ(unflatten(nested(PictureData::kMaxNesting), &picture), B_BAD_DATA);

	// Blocks: 31 levels of state blocks inside the op stream, then one too many.
	auto blocks = [](int levels) {
		Bytes ops;
		ops.Op(0x0102, Bytes().Rect(0, 0, 1, 1));
		for (int i = 0; i < levels; i++)
			ops = Bytes().Op(0x0200, ops);
		return make_picture(ops);
	};
	Log log = play(blocks(PictureData::kMaxNesting - 1));
	EXPECT_EQ(log.size(), 2u * (PictureData::kMaxNesting - 1) + 1);
	EXPECT_EQ(play(blocks(PictureData::kMaxNesting)), Log{"unflatten failed"});
}


TEST(PictureHostileTest, ClientThatReplaysTheWholePictureIsStopped)
{
	// A client that answers every DrawPicture by playing the top picture again.
	std::vector<uint8> bytes = make_picture(
		Bytes().Op(0x0112, Bytes().Point(0, 0).Int32(0)).Op(0x0112, Bytes().Point(0, 0).Int32(0)),
		{make_picture(Bytes())});
	PictureData picture;
	ASSERT_EQ(unflatten(bytes, &picture), B_OK);
	struct ReplayingOps : PictureOps {
		const PictureData* top = nullptr;
		uint64 calls = 0;
		void DrawPicture(BPoint, const PictureData&) override
		{
			calls++;
			top->Play(*this);
		}
	} ops;
	ops.top = &picture;
	// The calls double with every level; the budget ends it.
	EXPECT_EQ(picture.Play(ops, nullptr, kTestBudget), B_BAD_DATA);
	EXPECT_GT(ops.calls, kTestBudget / 2);
	EXPECT_LE(ops.calls, kTestBudget);
}


TEST(PictureHostileTest, FanOutOfSubPicturesStopsAtTheOpBudget)
{
	// 30^6 (7e8) fills if played to the end.
	PictureData picture;
	ASSERT_EQ(unflatten(fan_out(6, 30), &picture), B_OK);
	CountingOps ops;
	EXPECT_EQ(picture.Play(ops, nullptr, kTestBudget), B_BAD_DATA);
	EXPECT_EQ(ops.fills + ops.pictures, kTestBudget);

	// A later play starts with a fresh budget.
	CountingOps again;
	EXPECT_EQ(picture.Play(again, nullptr, kTestBudget), B_BAD_DATA);
	EXPECT_EQ(again.fills, ops.fills);

	// Clipping masks drawn by other objects share the budget of the play they belong to.
	ASSERT_EQ(unflatten(fan_out(6, 30, 0x0202), &picture), B_OK);
	CountingOps clipping;
	EXPECT_EQ(picture.Play(clipping, nullptr, kTestBudget), B_BAD_DATA);
	EXPECT_EQ(clipping.fills + clipping.pictures, kTestBudget);
}


TEST(PictureHostileTest, BrokenPictureCorpus)
{
	std::filesystem::path folder = std::filesystem::path(TESSARY_TEST_DATA) / "pictures";
	int files = 0;
	for (const auto& entry : std::filesystem::directory_iterator(folder)) {
		std::string name = entry.path().filename().string();
		if (entry.path().extension() != ".pic")
			continue;
		files++;
		std::vector<uint8> bytes = read_file(entry.path());
		BPicture picture;
		BMemoryIO stream(bytes.data(), bytes.size());
		status_t status = picture.Unflatten(&stream);
		if (name.starts_with("bad-")) {
			EXPECT_EQ(status, B_BAD_DATA) << name;
			EXPECT_TRUE(picture.Data()->IsEmpty()) << name;
		} else if (name.starts_with("skip-") || name.starts_with("ok-")) {
			EXPECT_EQ(status, B_OK) << name;
		}
		CountingOps ops;
		picture.Data()->Play(ops, nullptr, kTestBudget);
	}
	EXPECT_GT(files, 20);
}
