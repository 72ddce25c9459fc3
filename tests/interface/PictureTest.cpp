// Flattened pictures: decoding, recording and the round trip between them.
#include <gtest/gtest.h>

#include <Errors.h>
#include <Picture.h>

#include <cmath>
#include <limits>

#include "interface/PictureTestSupport.h"

using namespace picture_test;
using Log = std::vector<std::string>;

namespace {

// A red fill: the state block with the high colour, then a fill rect (0, 0, 99, 49).
const std::vector<uint8> kRedFill = {
	0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
	0x26, 0x00, 0x00, 0x00,
	0x00, 0x02, 0x0A, 0x00, 0x00, 0x00,
	0x06, 0x03, 0x04, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF,
	0x02, 0x01, 0x10, 0x00, 0x00, 0x00,
	0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC6, 0x42,
	0x00, 0x00, 0x44, 0x42,
};

}  // namespace


TEST(PictureTest, RedFillDecodesToStateBlockAndFill)
{
	Log expected = {
		"EnterStateChange",
		"SetHighColor 255 0 0 255",
		"ExitStateChange",
		"FillRect 0/00000000 0/00000000 99/42c60000 49/42440000",
	};
	EXPECT_EQ(play(kRedFill), expected);
}


TEST(PictureTest, RecordingRedFillWritesTheSameBytes)
{
	PictureWriter writer;
	writer.EnterStateChange();
	writer.SetHighColor({255, 0, 0, 255});
	writer.ExitStateChange();
	writer.FillRect(BRect(0, 0, 99, 49));
	PictureData recorded;
	writer.Finish(&recorded);

	EXPECT_EQ(flatten(recorded), kRedFill);
	EXPECT_EQ(recorded.FlattenedSize(), kRedFill.size());
}


TEST(PictureTest, BatchingWriterGroupsStateOpsLikeTheOriginal)
{
	PictureWriter writer(true);
	writer.SetHighColor({255, 0, 0, 255});
	writer.FillRect(BRect(0, 0, 99, 49));
	PictureData recorded;
	writer.Finish(&recorded);
	EXPECT_EQ(flatten(recorded), kRedFill);

	// Runs of state ops share a block, font blocks nest inside it, drawing ends it.
	PictureWriter batching(true);
	batching.SetPenSize(2);
	batching.EnterFontState();
	batching.SetFontSize(9);
	batching.ExitFontState();
	batching.SetScale(0.5f);
	batching.StrokeLine(BPoint(0, 0), BPoint(1, 1));
	batching.MovePenBy(BPoint(1, 0));
	batching.PushState();
	batching.Finish(&recorded);
	LoggingOps ops;
	recorded.Play(ops);
	Log expected = {"EnterStateChange", "SetPenSize 2/40000000", "EnterFontState",
		"SetFontSize 9/41100000", "ExitFontState", "SetScale 0.5/3f000000", "ExitStateChange",
		"StrokeLine 0/00000000 0/00000000 1/3f800000 1/3f800000", "MovePenBy 1/3f800000 0/00000000",
		"EnterStateChange", "PushState", "ExitStateChange"};
	EXPECT_EQ(ops.log, expected);
}


TEST(PictureTest, EveryOpRoundTripsThroughTheFlattenedForm)
{
	PictureData sub = small_sub_picture();
	LoggingOps direct;
	record_everything(direct, sub);

	PictureWriter writer;
	record_everything(writer, sub);
	PictureData recorded;
	writer.Finish(&recorded);
	ASSERT_EQ(recorded.CountSubPictures(), 2);

	BPicture picture;
	BMallocIO stream;
	{
		BPicture original;
		original.AdoptData(std::move(recorded));
		ASSERT_EQ(original.Flatten(&stream), B_OK);
		EXPECT_EQ(static_cast<size_t>(original.FlattenedSize()), stream.BufferLength());
	}
	stream.Seek(0, SEEK_SET);
	ASSERT_EQ(picture.Unflatten(&stream), B_OK);
	ASSERT_EQ(picture.InitCheck(), B_OK);

	LoggingOps played;
	EXPECT_EQ(picture.Data()->Play(played), B_OK);
	EXPECT_EQ(played.log, direct.log);
	// The one decoded shear is exact at upright.
	EXPECT_NE(std::find(played.log.begin(), played.log.end(), "SetFontShear 90/42b40000"),
		played.log.end());

	// Playing into a writer records the same bytes again.
	PictureWriter again;
	ASSERT_EQ(picture.Data()->Play(again), B_OK);
	PictureData rerecorded;
	again.Finish(&rerecorded);
	EXPECT_EQ(flatten(rerecorded), flatten(*picture.Data()));
}


TEST(PictureTest, CopiesCarryTheirOwnData)
{
	BPicture picture;
	BMemoryIO stream(kRedFill.data(), kRedFill.size());
	ASSERT_EQ(picture.Unflatten(&stream), B_OK);
	BPicture copy(picture);
	BPicture assigned;
	assigned = picture;

	BMemoryIO empty("", 0);
	EXPECT_NE(picture.Unflatten(&empty), B_OK);
	EXPECT_TRUE(picture.Data()->IsEmpty());
	EXPECT_EQ(flatten(*copy.Data()), kRedFill);
	EXPECT_EQ(flatten(*assigned.Data()), kRedFill);
}


TEST(PictureTest, ShapesAreReadInBothFieldOrders)
{
	// Move to (0,0), lines to (1,1) and (2,0); then a bezier through three points, closed.
	const uint32 op0 = 0x90000002, op1 = 0x60000003;
	auto points = [](Bytes& bytes) -> Bytes& {
		return bytes.Point(0, 0).Point(1, 1).Point(2, 0).Point(3, 3).Point(4, 4).Point(5, 0);
	};
	Bytes first, second;
	first.Int32(2).Int32(op0).Int32(op1).Int32(6);
	points(first);
	second.Int32(2).Int32(6).Int32(op0).Int32(op1);
	points(second);
	std::string expected = " ops 90000002 60000003 points 0,0 1,1 2,0 3,3 4,4 5,0";

	EXPECT_EQ(play(make_picture(Bytes().Op(0x010D, first))), Log{"StrokeShape" + expected});
	EXPECT_EQ(play(make_picture(Bytes().Op(0x010E, second))), Log{"FillShape" + expected});

	// Both count fields hold P: the words are the same set, so the first order is taken.
	Bytes ambiguous;
	ambiguous.Int32(2).Int32(3).Int32(0x40000000).Int32(3).Point(7, 7).Point(8, 8).Point(9, 9);
	EXPECT_EQ(play(make_picture(Bytes().Op(0x010E, ambiguous))),
		Log{"FillShape ops 00000003 40000000 points 7,7 8,8 9,9"});

	// The point count field disagrees with the payload size in both places: skipped.
	Bytes wrongCount;
	wrongCount.Int32(1).Int32(0x10000001).Int32(5).Point(1, 1);
	EXPECT_EQ(play(make_picture(Bytes().Op(0x010E, wrongCount))), Log{});
	// The op words consume more points than are stored: skipped.
	Bytes overrun;
	overrun.Int32(1).Int32(0x90000005).Int32(2).Point(1, 1).Point(2, 2);
	EXPECT_EQ(play(make_picture(Bytes().Op(0x010D, overrun))), Log{});
	// An op count that does not fit the payload: skipped.
	Bytes hugeCount;
	hugeCount.Int32(0x7FFFFFFF).Int32(0);
	EXPECT_EQ(play(make_picture(Bytes().Op(0x010D, hugeCount))), Log{});
}


TEST(PictureTest, UnknownOpsAreSkippedAtEveryLevel)
{
	Bytes ops;
	ops.Op(0x0102, Bytes().Rect(0, 0, 1, 1))
		.Op(0x7777, Bytes().Int32(1).Int32(2).Int8(3))
		.Op(0x0117, Bytes().Int32(1).Point(0, 0).Int32(1).Int8('x'))
		.Op(0x0200, Bytes().Op(0x0394, Bytes().Int32(0).Int32(0)).Op(0x0304, Bytes().Float(3)))
		.Op(0x0102, Bytes().Rect(2, 2, 3, 3));
	Log log = play(make_picture(ops));
	ASSERT_EQ(log.size(), 5u);
	EXPECT_EQ(log[1], "EnterStateChange");
	EXPECT_EQ(log[2], "SetPenSize 3/40400000");
	EXPECT_EQ(log[4], "FillRect 2/40000000 2/40000000 3/40400000 3/40400000");
}


TEST(PictureTest, NestedBlocksAndOpsAtAnyLevel)
{
	Bytes font;
	font.Op(0x0380, Bytes().Int32(6).Int8('S').Int8('a').Int8('n').Int8('s').Int8(0).Int8(0))
		.Op(0x0385, Bytes().Float(10));
	Bytes inner;
	inner.Op(0x0309, font).Op(0x0102, Bytes().Rect(0, 0, 0, 0));
	Bytes ops;
	ops.Op(0x0200, Bytes().Op(0x0200, inner).Op(0x0385, Bytes().Float(11)))
		.Op(0x0309, Bytes())
		.Op(0x0306, Bytes().Int8(1).Int8(2).Int8(3).Int8(4));
	Log expected = {
		"EnterStateChange", "EnterStateChange", "EnterFontState", "SetFontFamily Sans",
		"SetFontSize 10/41200000", "ExitFontState", "FillRect 0/00000000 0/00000000 0/00000000 0/00000000",
		"ExitStateChange", "SetFontSize 11/41300000", "ExitStateChange",
		"EnterFontState", "ExitFontState", "SetHighColor 1 2 3 4",
	};
	EXPECT_EQ(play(make_picture(ops)), expected);
}


TEST(PictureTest, SubPicturesAreDrawnByIndex)
{
	std::vector<uint8> first = make_picture(Bytes().Op(0x0204, Bytes()));
	std::vector<uint8> second = make_picture(Bytes().Op(0x0203, Bytes()).Op(0x0205, Bytes()));
	Bytes ops;
	ops.Op(0x0112, Bytes().Point(1, 2).Int32(1))
		.Op(0x0112, Bytes().Point(3, 4).Int32(2))
		.Op(0x0112, Bytes().Point(3, 4).Int32(0xFFFFFFFF))
		.Op(0x0112, Bytes().Point(5, 6).Int32(0))
		// The original's 16-byte clip-to-picture: index, three unknown bytes, origin, flag.
		.Op(0x0202, Bytes().Int32(1).Int8(9).Int8(9).Int8(9).Point(7, 8).Int8(1))
		.Op(0x0202, Bytes().Int32(5).Point(7, 8).Int8(0));
	Log expected = {
		"DrawPicture (12 op bytes, 0 subs) 1/3f800000 2/40000000",
		"[", "PushState", "ClearClipping", "]",
		"DrawPicture (6 op bytes, 0 subs) 5/40a00000 6/40c00000",
		"[", "PopState", "]",
		"ClipToPicture (12 op bytes, 0 subs) inverse 7/40e00000 8/41000000",
	};
	EXPECT_EQ(play(make_picture(ops, {first, second}), true), expected);
}


TEST(PictureTest, FontShearIsStoredInRadiansFromUpright)
{
	PictureWriter writer;
	writer.SetFontShear(45);
	writer.SetFontShear(135);
	PictureData recorded;
	writer.Finish(&recorded);
	std::vector<uint8> bytes = flatten(recorded);
	float stored;
	memcpy(&stored, bytes.data() + 16 + 6, sizeof(stored));
	EXPECT_NEAR(stored, -M_PI / 4, 1e-6);

	struct ShearOps : PictureOps {
		std::vector<float> shears;
		void SetFontShear(float degrees) override { shears.push_back(degrees); }
	} ops;
	recorded.Play(ops);
	ASSERT_EQ(ops.shears.size(), 2u);
	EXPECT_NEAR(ops.shears[0], 45, 1e-4);
	EXPECT_NEAR(ops.shears[1], 135, 1e-4);
}


TEST(PictureTest, ValuesPassThroughUnchecked)
{
	const float nan = std::numeric_limits<float>::quiet_NaN();
	const float inf = std::numeric_limits<float>::infinity();
	Bytes ops;
	ops.Op(0x0102, Bytes().Rect(nan, -inf, 1e30f, inf))
		.Op(0x0305, Bytes().Float(nan))
		.Op(0x0387, Bytes().Float(inf))
		.Op(0x010F, Bytes().Int32(2).Int8('h').Int8('i').Float(1).Float(2))
		.Op(0x0201, Bytes().Int32(0).Int32(0).Int32(99).Int32(49));
	Log log = play(make_picture(ops));
	ASSERT_EQ(log.size(), 5u);
	EXPECT_EQ(log[0], "FillRect nan/7fc00000 -inf/ff800000 1e+30/7149f2ca inf/7f800000");
	EXPECT_EQ(log[1], "SetScale nan/7fc00000");
	EXPECT_EQ(log[2], "SetFontShear inf/7f800000");
	// Non-space escapement first.
	EXPECT_EQ(log[3], "DrawString 'hi' 1/3f800000 2/40000000");
	EXPECT_EQ(log[4], "SetClippingRects 0,0,99,49 n 0");
}


TEST(PictureTest, OutOfRangeModesAreSkipped)
{
	Bytes ops;
	ops.Op(0x0302, Bytes().Int16(11))
		.Op(0x0302, Bytes().Int16(0xFFFF))
		.Op(0x0303, Bytes().Int16(1).Int16(0).Float(1))
		.Op(0x0303, Bytes().Int16(3).Int16(5).Float(1))
		.Op(0x030A, Bytes().Int16(2).Int16(0))
		.Op(0x0302, Bytes().Int16(2));
	EXPECT_EQ(play(make_picture(ops)), Log{"SetDrawingMode 2"});
}


TEST(PictureTest, WriterClosesBlocksInOrder)
{
	PictureWriter writer;
	writer.ExitStateChange();  // nothing open: ignored
	writer.EnterStateChange();
	writer.EnterFontState();
	writer.SetFontSize(9);
	writer.ExitStateChange();  // closes the font block with it
	EXPECT_EQ(writer.OpenBlocks(), 0);
	writer.EnterStateChange();
	writer.SetPenSize(1);
	PictureData recorded;
	writer.Finish(&recorded);  // closes the open block

	LoggingOps ops;
	recorded.Play(ops);
	Log expected = {"EnterStateChange", "EnterFontState", "SetFontSize 9/41100000",
		"ExitFontState", "ExitStateChange", "EnterStateChange", "SetPenSize 1/3f800000",
		"ExitStateChange"};
	EXPECT_EQ(ops.log, expected);
}
