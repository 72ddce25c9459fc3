#include <DataIO.h>
#include <Message.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8>;

Bytes flatten(const BMessage& message)
{
	ssize_t size = message.FlattenedSize();
	EXPECT_GT(size, 0);
	Bytes bytes(size_t(size > 0 ? size : 0));
	EXPECT_EQ(message.Flatten(reinterpret_cast<char*>(bytes.data()), size), B_OK);
	return bytes;
}

// The 'okok' message with one int32 "status" 0, as the R5 platform writes it on x86.
const Bytes kR5Status = {
	0x31, 0x42, 0x4F, 0x46,  // 'FOB1'
	0x70, 0x6B, 0x6F, 0x8E,  // checksum
	0x23, 0x00, 0x00, 0x00,  // size 35
	0x6B, 0x6F, 0x6B, 0x6F,  // 'okok'
	0x01,                    // header flags
	0x0F,                    // valid | mini | fixed | single
	0x47, 0x4E, 0x4F, 0x4C,  // 'LONG'
	0x04,                    // data length
	0x06, 's', 't', 'a', 't', 'u', 's',
	0x00, 0x00, 0x00, 0x00,  // value
	0x00,                    // terminator
};

// The same message in the newer native format, 103 bytes.
const Bytes kNativeStatus = {
	0x48, 0x4D, 0x46, 0x31, 0x6B, 0x6F, 0x6B, 0x6F, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF,
	0xFF,  // format, what, flags, target
	0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
	0xFF,  // specifier, area, reply port, reply target
	0xFF, 0xFF, 0xFF, 0xFF, 0x0B, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00,
	0x00,  // reply team, data size 11, 1 field, hash size 5
	0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
	0xFF,  // hash table
	0xFF, 0xFF, 0xFF, 0xFF,
	0x03, 0x00, 0x07, 0x00, 0x47, 0x4E, 0x4F, 0x4C, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00,
	0x00,  // field: valid|fixed, name 7, 'LONG', count 1, size 4
	0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,  // offset 0, next -1
	's', 't', 'a', 't', 'u', 's', 0x00, 0x00, 0x00, 0x00, 0x00,
};

void expect_status_message(const BMessage& message)
{
	EXPECT_EQ(message.what, uint32(0x6F6B6F6B));
	EXPECT_EQ(message.CountNames(B_ANY_TYPE), 1);
	int32 status = 99;
	EXPECT_EQ(message.FindInt32("status", &status), B_OK);
	EXPECT_EQ(status, 0);
}

TEST(MessageFlatten, WritesTheR5ExampleByteForByte)
{
	BMessage message('okok');
	message.AddInt32("status", 0);
	EXPECT_EQ(flatten(message), kR5Status);

	BMallocIO stream;
	ssize_t written = 0;
	ASSERT_EQ(message.Flatten(&stream, &written), B_OK);
	EXPECT_EQ(written, 35);
	ASSERT_EQ(stream.BufferLength(), kR5Status.size());
	EXPECT_EQ(memcmp(stream.Buffer(), kR5Status.data(), kR5Status.size()), 0);

	char small[34];
	EXPECT_EQ(message.Flatten(small, sizeof(small)), B_BAD_VALUE);
}

TEST(MessageFlatten, ReadsBothWorkedExamples)
{
	BMessage message;
	ASSERT_EQ(message.Unflatten(kR5Status.data(), kR5Status.size()), B_OK);
	expect_status_message(message);

	ASSERT_EQ(message.Unflatten(kNativeStatus.data(), kNativeStatus.size()), B_OK);
	expect_status_message(message);
	// What comes in native goes out as R5.
	EXPECT_EQ(flatten(message), kR5Status);

	// The platform's length-less form takes the length recorded in the data.
	BMessage fromPointer;
	ASSERT_EQ(fromPointer.Unflatten(reinterpret_cast<const char*>(kNativeStatus.data())), B_OK);
	expect_status_message(fromPointer);
	ASSERT_EQ(fromPointer.Unflatten(reinterpret_cast<const char*>(kR5Status.data())), B_OK);
	expect_status_message(fromPointer);
}

TEST(MessageFlatten, ReadsR5HeadersWithTargetAndReplySections)
{
	for (uint8 flags : {0x03, 0x05, 0x07}) {
		Bytes bytes(kR5Status.begin(), kR5Status.begin() + 16);
		bytes.push_back(flags);
		if (flags & 0x02)
			bytes.insert(bytes.end(), {1, 2, 3, 4});
		if (flags & 0x04)
			bytes.insert(bytes.end(), {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 1, 0, 0, 1});
		bytes.insert(bytes.end(), kR5Status.begin() + 17, kR5Status.end());

		BMessage message;
		ASSERT_EQ(message.Unflatten(bytes.data(), bytes.size()), B_OK) << int(flags);
		expect_status_message(message);
	}
}

// Builds the R5 bytes of a message by hand in either byte order, one field per call.
class R5Builder {
public:
	explicit R5Builder(bool bigEndian, uint32 what) : fBig(bigEndian)
	{
		Put32('FOB1');
		Put32(0);
		Put32(0);  // size, fixed by Finish
		Put32(what);
		fBytes.push_back(0x01);
	}
	void Put32(uint32 value)
	{
		for (int i = 0; i < 4; i++) {
			int shift = fBig ? 24 - 8 * i : 8 * i;
			fBytes.push_back(uint8(value >> shift));
		}
	}
	void Field(uint8 flags, type_code type, uint32 count, const Bytes& data, const char* name)
	{
		bool mini = flags & 0x02;
		fBytes.push_back(flags);
		Put32(type);
		if (!(flags & 0x08)) {
			if (mini)
				fBytes.push_back(uint8(count));
			else
				Put32(count);
		}
		if (mini)
			fBytes.push_back(uint8(data.size()));
		else
			Put32(uint32(data.size()));
		fBytes.push_back(uint8(strlen(name)));
		fBytes.insert(fBytes.end(), name, name + strlen(name));
		fBytes.insert(fBytes.end(), data.begin(), data.end());
	}
	Bytes Finish()
	{
		fBytes.push_back(0);
		Bytes size = Value(fBytes.size(), 4);
		std::copy(size.begin(), size.end(), fBytes.begin() + 8);
		return fBytes;
	}
	Bytes Value(uint64 value, int bytes) const
	{
		Bytes out;
		for (int i = 0; i < bytes; i++) {
			int shift = fBig ? 8 * (bytes - 1 - i) : 8 * i;
			out.push_back(uint8(value >> shift));
		}
		return out;
	}

private:
	bool fBig;
	Bytes fBytes;
};

TEST(MessageFlatten, ReadsR5FromTheOtherByteOrder)
{
	R5Builder builder(true, 'okok');
	builder.Field(0x0F, B_INT16_TYPE, 1, builder.Value(0x1234, 2), "copies");
	Bytes rect;
	for (uint32 bits : {0u, 0x3F800000u, 0x441F6000u, 0x444E4000u}) {  // 0, 1, 637.5, 825
		Bytes part = builder.Value(bits, 4);
		rect.insert(rect.end(), part.begin(), part.end());
	}
	builder.Field(0x0F, B_RECT_TYPE, 1, rect, "paper_rect");
	Bytes int64s = builder.Value(0x0102030405060708ULL, 8);
	Bytes second = builder.Value(uint64(-2), 8);
	int64s.insert(int64s.end(), second.begin(), second.end());
	builder.Field(0x07, B_INT64_TYPE, 2, int64s, "big");
	Bytes string = builder.Value(7, 4);
	string.insert(string.end(), {'L', 'e', 't', 't', 'e', 'r', 0, 0, 0, 0, 0, 0});
	builder.Field(0x0B, B_STRING_TYPE, 1, string, "name");
	builder.Field(0x0F, B_RAW_TYPE, 1, {1, 2, 3}, "raw");  // bytes are never swapped
	Bytes bytes = builder.Finish();

	BMessage message;
	ASSERT_EQ(message.Unflatten(bytes.data(), bytes.size()), B_OK);
	EXPECT_EQ(message.what, uint32('okok'));
	EXPECT_EQ(message.GetInt16("copies", 0), 0x1234);
	EXPECT_EQ(message.GetRect("paper_rect", BRect()), BRect(0, 1, 637.5f, 825));
	int64 value;
	ASSERT_EQ(message.FindInt64("big", 0, &value), B_OK);
	EXPECT_EQ(value, 0x0102030405060708LL);
	ASSERT_EQ(message.FindInt64("big", 1, &value), B_OK);
	EXPECT_EQ(value, -2);
	EXPECT_STREQ(message.GetString("name", ""), "Letter");
	const void* raw;
	ssize_t rawSize;
	ASSERT_EQ(message.FindData("raw", B_RAW_TYPE, &raw, &rawSize), B_OK);
	ASSERT_EQ(rawSize, 3);
	EXPECT_EQ(memcmp(raw, "\x01\x02\x03", 3), 0);
}

TEST(MessageFlatten, ChoosesMiniFormUpTo255BytesAndReadsBothForms)
{
	// 63 int32s are 252 bytes: mini. 64 are 256 bytes: full-size count and length.
	for (int32 count : {63, 64}) {
		BMessage message;
		for (int32 i = 0; i < count; i++)
			message.AddInt32("n", i * 3);
		Bytes bytes = flatten(message);
		uint8 flags = bytes[17];
		if (count == 63) {
			EXPECT_EQ(flags, 0x07);
			EXPECT_EQ(bytes[22], 63);   // count
			EXPECT_EQ(bytes[23], 252);  // length
		} else {
			EXPECT_EQ(flags, 0x05);
			uint32 length;
			memcpy(&length, bytes.data() + 26, 4);
			EXPECT_EQ(length, 256u);
		}
		BMessage copy;
		ASSERT_EQ(copy.Unflatten(bytes.data(), bytes.size()), B_OK);
		EXPECT_EQ(copy.GetInt32("n", count - 1, -1), (count - 1) * 3);
	}

	// A reader also takes the full-size form for a short field.
	R5Builder builder(false, 'abcd');
	builder.Field(0x0D, B_INT32_TYPE, 1, builder.Value(77, 4), "one");
	builder.Field(0x05, B_INT32_TYPE, 2, {1, 0, 0, 0, 2, 0, 0, 0}, "two");
	Bytes bytes = builder.Finish();
	BMessage message;
	ASSERT_EQ(message.Unflatten(bytes.data(), bytes.size()), B_OK);
	EXPECT_EQ(message.GetInt32("one", 0), 77);
	EXPECT_EQ(message.GetInt32("two", 1, 0), 2);
}

TEST(MessageFlatten, PadsVariableItemsToEightBytesFromTheirSizePrefix)
{
	// A 42-byte string (41 characters and the NUL) takes 48 bytes.
	BMessage one;
	one.AddString("s", std::string(41, 'x').c_str());
	Bytes bytes = flatten(one);
	EXPECT_EQ(bytes[17], 0x0B);
	EXPECT_EQ(bytes[22], 48);  // data length, mini form
	EXPECT_EQ(bytes.size(), size_t(17 + 1 + 4 + 1 + 1 + 1 + 48 + 1));

	// Five strings of 18, 27, 27, 19 and 26 bytes give a data length of 144.
	BMessage five;
	for (size_t length : {18, 27, 27, 19, 26})
		five.AddString("list", std::string(length - 1, char('a' + length % 26)).c_str());
	bytes = flatten(five);
	EXPECT_EQ(bytes[17], 0x03);
	EXPECT_EQ(bytes[22], 5);    // count
	EXPECT_EQ(bytes[23], 144);  // data length
	// The second item starts 24 bytes into the data: 4 + 18 padded to 24.
	size_t data = 17 + 1 + 4 + 1 + 1 + 1 + 4;
	uint32 secondSize;
	memcpy(&secondSize, bytes.data() + data + 24, 4);
	EXPECT_EQ(secondSize, 27u);
	EXPECT_EQ(bytes[data + 4 + 18], 0);  // padding is zero

	BMessage copy;
	ASSERT_EQ(copy.Unflatten(bytes.data(), bytes.size()), B_OK);
	EXPECT_EQ(strlen(copy.GetString("list", 4, "")), 25u);
}

TEST(MessageFlatten, KeepsTheTypesOfEveryJobSettingsField)
{
	BMessage settings('okok');
	settings.AddInt32("status", 0);
	settings.AddInt8("prevous_settings", 6);
	settings.AddFloat("page_width", 8.5f);
	settings.AddFloat("page_height", 11);
	settings.AddFloat("scaling", 100);
	settings.AddInt8("layout", 1);
	settings.AddRect("paper_rect", BRect(0, 0, 637.5f, 825));
	settings.AddRect("printable_rect", BRect(0, 0, 637.5f, 825));
	settings.AddInt16("copies", 3);
	settings.AddInt8("count_type", 1);
	settings.AddInt16("from", 2);
	settings.AddInt16("to", 5);
	settings.AddInt32("first_page", 2);
	settings.AddInt32("last_page", -1);
	settings.AddInt16("BWMode", 1);
	settings.AddInt8("quality_type", 2);
	settings.AddInt32("xres", 75);
	settings.AddInt32("yres", 75);
	settings.AddInt32("printer", 0x12345678);

	Bytes bytes = flatten(settings);
	BMessage copy;
	ASSERT_EQ(copy.Unflatten(bytes.data(), bytes.size()), B_OK);
	ASSERT_EQ(copy.CountNames(B_ANY_TYPE), settings.CountNames(B_ANY_TYPE));
	for (int32 i = 0; i < settings.CountNames(B_ANY_TYPE); i++) {
		const char* name;
		type_code type, copyType;
		int32 count, copyCount;
		ASSERT_EQ(settings.GetInfo(B_ANY_TYPE, i, &name, &type, &count), B_OK);
		ASSERT_EQ(copy.GetInfo(name, &copyType, &copyCount), B_OK) << name;
		EXPECT_EQ(copyType, type) << name;
		EXPECT_EQ(copyCount, 1) << name;
		const void* a;
		const void* b;
		ssize_t aSize, bSize;
		ASSERT_EQ(settings.FindData(name, type, &a, &aSize), B_OK);
		ASSERT_EQ(copy.FindData(name, type, &b, &bSize), B_OK);
		ASSERT_EQ(aSize, bSize) << name;
		EXPECT_EQ(memcmp(a, b, size_t(aSize)), 0) << name;
	}
}

TEST(MessageFlatten, StreamReadingStopsAtTheEndOfTheMessage)
{
	BMessage first('frst');
	first.AddString("name", "Letter");
	BMessage nested('nest');
	nested.AddInt32("n", 1);
	first.AddMessage("inner", &nested);
	BMessage second('scnd');

	for (bool native : {false, true}) {
		BMallocIO stream;
		if (native)
			stream.Write(kNativeStatus.data(), kNativeStatus.size());
		else
			ASSERT_EQ(first.Flatten(&stream), B_OK);
		off_t end = stream.Position();
		ASSERT_EQ(second.Flatten(&stream), B_OK);
		stream.Write("tail", 4);
		stream.Seek(0, SEEK_SET);

		BMessage read;
		ASSERT_EQ(read.Unflatten(&stream), B_OK);
		EXPECT_EQ(stream.Position(), end);
		ASSERT_EQ(read.Unflatten(&stream), B_OK);
		EXPECT_EQ(read.what, uint32('scnd'));
		char tail[4];
		ASSERT_EQ(stream.Read(tail, 4), 4);
		EXPECT_EQ(memcmp(tail, "tail", 4), 0);
		EXPECT_EQ(read.Unflatten(&stream), B_BAD_DATA);  // nothing left
	}
}

TEST(MessageFlatten, NestedMessagesRoundTripAndDepthIsBounded)
{
	auto nest = [](int levels) {
		BMessage message('leaf');
		message.AddInt32("level", levels);
		for (int i = levels - 1; i >= 0; i--) {
			BMessage outer('node');
			outer.AddInt32("level", i);
			outer.AddMessage("child", &message);
			message = outer;
		}
		return message;
	};

	Bytes bytes = flatten(nest(BMessage::kMaxNestingDepth));
	BMessage message;
	ASSERT_EQ(message.Unflatten(bytes.data(), bytes.size()), B_OK);
	for (int32 level = 0; level < BMessage::kMaxNestingDepth; level++) {
		ASSERT_EQ(message.GetInt32("level", -1), level);
		BMessage child;
		ASSERT_EQ(message.FindMessage("child", &child), B_OK);
		message = child;
	}
	EXPECT_EQ(message.what, uint32('leaf'));

	bytes = flatten(nest(BMessage::kMaxNestingDepth + 1));
	message.AddInt32("stale", 1);
	EXPECT_EQ(message.Unflatten(bytes.data(), bytes.size()), B_BAD_DATA);
	EXPECT_TRUE(message.IsEmpty());
	EXPECT_EQ(message.what, 0u);
}

TEST(MessageFlatten, ReadsNativeVariableFieldsAndRefusesOtherByteOrder)
{
	// One string field "s" with two items "ab" and "" in the native layout.
	Bytes bytes(kNativeStatus.begin(), kNativeStatus.begin() + 68);
	Bytes data = {'s', 0, 3, 0, 0, 0, 'a', 'b', 0, 1, 0, 0, 0, 0};
	uint32 dataSize = uint32(data.size());
	memcpy(bytes.data() + 36, &dataSize, 4);
	Bytes field = {0x01, 0x00, 0x02, 0x00, 'R', 'T', 'S', 'C', 2, 0, 0, 0, 12, 0, 0, 0,
		0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
	bytes.insert(bytes.end(), field.begin(), field.end());
	bytes.insert(bytes.end(), data.begin(), data.end());

	BMessage message;
	ASSERT_EQ(message.Unflatten(bytes.data(), bytes.size()), B_OK);
	EXPECT_STREQ(message.GetString("s", 0, "?"), "ab");
	EXPECT_STREQ(message.GetString("s", 1, "?"), "");

	Bytes swapped = kNativeStatus;
	std::reverse(swapped.begin(), swapped.begin() + 4);
	EXPECT_EQ(message.Unflatten(swapped.data(), swapped.size()), B_NOT_A_MESSAGE);
	EXPECT_TRUE(message.IsEmpty());

	Bytes shared = kNativeStatus;
	shared[8] |= 0x80;
	EXPECT_EQ(message.Unflatten(shared.data(), shared.size()), B_BAD_DATA);
}

}  // namespace
