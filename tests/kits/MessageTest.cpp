#include <Message.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// One entry per typed accessor family: the member functions and two distinct values.
#define TRAITS(Traits, Name, Type, typeCode, first, second) \
	struct Traits { \
		using Value = Type; \
		static constexpr type_code kType = typeCode; \
		static Value First() { return first; } \
		static Value Second() { return second; } \
		static status_t Add(BMessage& m, const char* n, Value v) { return m.Add##Name(n, v); } \
		static status_t Find(const BMessage& m, const char* n, int32 i, Value* v) \
		{ \
			return m.Find##Name(n, i, v); \
		} \
		static status_t Replace(BMessage& m, const char* n, int32 i, Value v) \
		{ \
			return m.Replace##Name(n, i, v); \
		} \
		static bool Has(const BMessage& m, const char* n, int32 i) { return m.Has##Name(n, i); } \
		static bool Equal(Value a, Value b) { return a == b; } \
	};

TRAITS(BoolTraits, Bool, bool, B_BOOL_TYPE, true, false)
TRAITS(Int8Traits, Int8, int8, B_INT8_TYPE, -7, 100)
TRAITS(UInt8Traits, UInt8, uint8, B_UINT8_TYPE, 200, 3)
TRAITS(Int16Traits, Int16, int16, B_INT16_TYPE, -30000, 1234)
TRAITS(UInt16Traits, UInt16, uint16, B_UINT16_TYPE, 65000, 2)
TRAITS(Int32Traits, Int32, int32, B_INT32_TYPE, -123456789, 42)
TRAITS(UInt32Traits, UInt32, uint32, B_UINT32_TYPE, 0xDEADBEEF, 1)
TRAITS(Int64Traits, Int64, int64, B_INT64_TYPE, -0x123456789ALL, 7)
TRAITS(UInt64Traits, UInt64, uint64, B_UINT64_TYPE, 0xFEDCBA9876543210ULL, 9)
TRAITS(FloatTraits, Float, float, B_FLOAT_TYPE, 637.5f, -0.25f)
TRAITS(DoubleTraits, Double, double, B_DOUBLE_TYPE, 1.0 / 3.0, -1e300)
TRAITS(PointTraits, Point, BPoint, B_POINT_TYPE, BPoint(1.5f, -2), BPoint(0, 99))
TRAITS(RectTraits, Rect, BRect, B_RECT_TYPE, BRect(0, 0, 637.5f, 825), BRect(1, 2, 3, 4))
TRAITS(ColorTraits, Color, rgb_color, B_RGB_32_BIT_TYPE, make_color(1, 2, 3, 4),
	make_color(250, 0, 128))
TRAITS(PointerTraits, Pointer, void*, B_POINTER_TYPE, reinterpret_cast<void*>(0x1234),
	nullptr)

#undef TRAITS

struct StringTraits {
	using Value = const char*;
	static constexpr type_code kType = B_STRING_TYPE;
	static Value First() { return "Letter"; }
	static Value Second() { return "a longer second string"; }
	static status_t Add(BMessage& m, const char* n, Value v) { return m.AddString(n, v); }
	static status_t Find(const BMessage& m, const char* n, int32 i, Value* v)
	{
		return m.FindString(n, i, v);
	}
	static status_t Replace(BMessage& m, const char* n, int32 i, Value v)
	{
		return m.ReplaceString(n, i, v);
	}
	static bool Has(const BMessage& m, const char* n, int32 i) { return m.HasString(n, i); }
	static bool Equal(Value a, Value b) { return strcmp(a, b) == 0; }
};

// Nested messages are compared by their what and one field.
struct MessageTraits {
	using Value = BMessage;
	static constexpr type_code kType = B_MESSAGE_TYPE;
	static Value First()
	{
		BMessage message('frst');
		message.AddInt32("n", 1);
		return message;
	}
	static Value Second()
	{
		BMessage message('scnd');
		message.AddString("s", "two");
		BMessage inner('innr');
		inner.AddFloat("f", 2.5f);
		message.AddMessage("inner", &inner);
		return message;
	}
	static status_t Add(BMessage& m, const char* n, const Value& v) { return m.AddMessage(n, &v); }
	static status_t Find(const BMessage& m, const char* n, int32 i, Value* v)
	{
		return m.FindMessage(n, i, v);
	}
	static status_t Replace(BMessage& m, const char* n, int32 i, const Value& v)
	{
		return m.ReplaceMessage(n, i, &v);
	}
	static bool Has(const BMessage& m, const char* n, int32 i) { return m.HasMessage(n, i); }
	static bool Equal(const Value& a, const Value& b)
	{
		return a.what == b.what && a.CountNames(B_ANY_TYPE) == b.CountNames(B_ANY_TYPE)
			&& a.FlattenedSize() == b.FlattenedSize();
	}
};

template <typename Traits>
class MessageField : public testing::Test {};

using FieldTypes = testing::Types<BoolTraits, Int8Traits, UInt8Traits, Int16Traits,
	UInt16Traits, Int32Traits, UInt32Traits, Int64Traits, UInt64Traits, FloatTraits,
	DoubleTraits, PointTraits, RectTraits, ColorTraits, PointerTraits, StringTraits,
	MessageTraits>;
TYPED_TEST_SUITE(MessageField, FieldTypes);

TYPED_TEST(MessageField, AddFindReplaceRemove)
{
	using T = TypeParam;
	BMessage message('test');
	typename T::Value value{};

	EXPECT_EQ(T::Find(message, "field", 0, &value), B_NAME_NOT_FOUND);
	ASSERT_EQ(T::Add(message, "field", T::First()), B_OK);
	ASSERT_EQ(T::Add(message, "field", T::Second()), B_OK);
	EXPECT_TRUE(T::Has(message, "field", 1));
	EXPECT_FALSE(T::Has(message, "field", 2));

	type_code type = 0;
	int32 count = 0;
	ASSERT_EQ(message.GetInfo("field", &type, &count), B_OK);
	EXPECT_EQ(type, T::kType);
	EXPECT_EQ(count, 2);

	ASSERT_EQ(T::Find(message, "field", 0, &value), B_OK);
	EXPECT_TRUE(T::Equal(value, T::First()));
	ASSERT_EQ(T::Find(message, "field", 1, &value), B_OK);
	EXPECT_TRUE(T::Equal(value, T::Second()));
	EXPECT_EQ(T::Find(message, "field", 2, &value), B_BAD_INDEX);
	EXPECT_EQ(T::Find(message, "field", -1, &value), B_BAD_INDEX);

	// Replacing the first value (a different size for variable items) keeps the second.
	ASSERT_EQ(T::Replace(message, "field", 0, T::Second()), B_OK);
	ASSERT_EQ(T::Replace(message, "field", 1, T::First()), B_OK);
	EXPECT_EQ(T::Replace(message, "field", 2, T::First()), B_BAD_INDEX);
	ASSERT_EQ(T::Find(message, "field", 0, &value), B_OK);
	EXPECT_TRUE(T::Equal(value, T::Second()));
	ASSERT_EQ(T::Find(message, "field", 1, &value), B_OK);
	EXPECT_TRUE(T::Equal(value, T::First()));

	ASSERT_EQ(message.RemoveData("field", 0), B_OK);
	ASSERT_EQ(T::Find(message, "field", 0, &value), B_OK);
	EXPECT_TRUE(T::Equal(value, T::First()));
	ASSERT_EQ(message.RemoveData("field", 0), B_OK);
	EXPECT_TRUE(message.IsEmpty());
	EXPECT_EQ(message.RemoveData("field", 0), B_NAME_NOT_FOUND);
}

TYPED_TEST(MessageField, SurvivesFlattenAndUnflatten)
{
	using T = TypeParam;
	BMessage message('rtrp');
	ASSERT_EQ(message.AddInt32("before", 1), B_OK);
	ASSERT_EQ(T::Add(message, "single", T::Second()), B_OK);
	ASSERT_EQ(T::Add(message, "list", T::First()), B_OK);
	ASSERT_EQ(T::Add(message, "list", T::Second()), B_OK);
	ASSERT_EQ(T::Add(message, "list", T::First()), B_OK);

	ssize_t size = message.FlattenedSize();
	ASSERT_GT(size, 0);
	std::string buffer(size_t(size), '\0');
	ASSERT_EQ(message.Flatten(buffer.data(), size), B_OK);

	BMessage copy;
	ASSERT_EQ(copy.Unflatten(buffer.data(), buffer.size()), B_OK);
	EXPECT_EQ(copy.what, message.what);
	EXPECT_EQ(copy.CountNames(B_ANY_TYPE), 3);
	typename T::Value value{};
	ASSERT_EQ(T::Find(copy, "single", 0, &value), B_OK);
	EXPECT_TRUE(T::Equal(value, T::Second()));
	for (int32 i = 0; i < 3; i++) {
		ASSERT_EQ(T::Find(copy, "list", i, &value), B_OK);
		EXPECT_TRUE(T::Equal(value, i == 1 ? T::Second() : T::First())) << i;
	}
	EXPECT_EQ(T::Find(copy, "list", 3, &value), B_BAD_INDEX);

	// Writing what was read gives the same bytes.
	ASSERT_EQ(copy.FlattenedSize(), size);
	std::string again(size_t(size), '\0');
	ASSERT_EQ(copy.Flatten(again.data(), size), B_OK);
	EXPECT_EQ(again, buffer);
}

TEST(Message, NameHasOneTypeAndErrorsLeaveOutValueAlone)
{
	BMessage message;
	ASSERT_EQ(message.AddInt32("copies", 2), B_OK);
	EXPECT_EQ(message.AddInt16("copies", 2), B_BAD_TYPE);
	EXPECT_EQ(message.AddString("copies", "2"), B_BAD_TYPE);

	int16 value16 = 77;
	EXPECT_EQ(message.FindInt16("copies", &value16), B_BAD_TYPE);
	EXPECT_EQ(value16, 77);
	int32 value32 = 5;
	EXPECT_EQ(message.FindInt32("missing", &value32), B_NAME_NOT_FOUND);
	EXPECT_EQ(message.FindInt32("copies", 1, &value32), B_BAD_INDEX);
	EXPECT_EQ(value32, 5);
	EXPECT_EQ(message.FindInt32(nullptr, &value32), B_BAD_VALUE);
	EXPECT_EQ(message.ReplaceInt16("copies", 1), B_BAD_TYPE);
	EXPECT_EQ(message.ReplaceInt32("missing", 1), B_NAME_NOT_FOUND);

	EXPECT_EQ(message.AddString("name", nullptr), B_BAD_VALUE);
	EXPECT_EQ(message.AddInt32(nullptr, 1), B_BAD_VALUE);
	EXPECT_EQ(message.AddInt32(std::string(256, 'n').c_str(), 1), B_BAD_VALUE);
	EXPECT_EQ(message.AddInt32(std::string(255, 'n').c_str(), 1), B_OK);
	EXPECT_EQ(message.AddData("raw", B_RAW_TYPE, "abcd", 4), B_OK);
	EXPECT_EQ(message.AddData("raw", B_RAW_TYPE, "abc", 3), B_BAD_VALUE);  // fixed size 4
	EXPECT_EQ(message.AddData("zero", B_RAW_TYPE, "", 0, true), B_BAD_VALUE);
	EXPECT_EQ(message.AddData("any", B_ANY_TYPE, "a", 1), B_BAD_VALUE);
	EXPECT_EQ(message.RemoveName("missing"), B_NAME_NOT_FOUND);

	// A string found through FindString always ends inside its item.
	ASSERT_EQ(message.AddData("unterminated", B_STRING_TYPE, "abc", 3, false), B_OK);
	const char* string = "untouched";
	EXPECT_EQ(message.FindString("unterminated", &string), B_BAD_DATA);
	EXPECT_STREQ(string, "untouched");
}

// Values handed back from FindData() of the same field are safe to add or replace with.
TEST(Message, AddsAndReplacesWithItsOwnItems)
{
	BMessage message;
	message.AddData("v", B_RAW_TYPE, "first", 5, false);
	for (int i = 0; i < 20; i++) {
		const void* data;
		ssize_t size;
		ASSERT_EQ(message.FindData("v", B_RAW_TYPE, 0, &data, &size), B_OK);
		ASSERT_EQ(message.AddData("v", B_RAW_TYPE, data, size, false), B_OK);
	}
	const void* data;
	ssize_t size;
	ASSERT_EQ(message.FindData("v", B_RAW_TYPE, 20, &data, &size), B_OK);
	EXPECT_EQ(std::string(static_cast<const char*>(data), size_t(size)), "first");
	ASSERT_EQ(message.FindData("v", B_RAW_TYPE, 3, &data, &size), B_OK);
	ASSERT_EQ(message.ReplaceData("v", B_RAW_TYPE, 0, data, size), B_OK);
	ASSERT_EQ(message.FindData("v", B_RAW_TYPE, 0, &data, &size), B_OK);
	EXPECT_EQ(std::string(static_cast<const char*>(data), size_t(size)), "first");
}

TEST(Message, KeepsInsertionOrderAndReportsFieldsByType)
{
	BMessage message;
	message.AddFloat("c", 1);
	message.AddInt32("a", 1);
	message.AddInt32("b", 2);
	message.AddInt32("b", 3);
	message.AddData("v", B_RAW_TYPE, "xyz", 3, false);

	const char* expected[] = {"c", "a", "b", "v"};
	for (int32 i = 0; i < 4; i++) {
		char* name = nullptr;
		type_code type;
		ASSERT_EQ(message.GetInfo(B_ANY_TYPE, i, &name, &type), B_OK);
		EXPECT_STREQ(name, expected[i]);
	}
	char* name = nullptr;
	type_code type = 0;
	int32 count = 0;
	ASSERT_EQ(message.GetInfo(B_INT32_TYPE, 1, &name, &type, &count), B_OK);
	EXPECT_STREQ(name, "b");
	EXPECT_EQ(type, type_code(B_INT32_TYPE));
	EXPECT_EQ(count, 2);
	EXPECT_EQ(message.GetInfo(B_INT32_TYPE, 2, &name, &type), B_BAD_INDEX);
	EXPECT_EQ(message.GetInfo(B_STRING_TYPE, 0, &name, &type), B_BAD_TYPE);
	EXPECT_EQ(message.CountNames(B_INT32_TYPE), 2);
	EXPECT_EQ(message.CountNames(B_ANY_TYPE), 4);

	bool fixedSize = true;
	ASSERT_EQ(message.GetInfo("v", &type, &fixedSize), B_OK);
	EXPECT_FALSE(fixedSize);
	EXPECT_EQ(message.GetInfo("nope", &type, &fixedSize), B_NAME_NOT_FOUND);

	const void* data;
	ssize_t size;
	ASSERT_EQ(message.FindData("v", B_ANY_TYPE, &data, &size), B_OK);
	EXPECT_EQ(size, 3);
	EXPECT_EQ(memcmp(data, "xyz", 3), 0);
}

TEST(Message, CopiesAreIndependent)
{
	BMessage original('orig');
	original.AddString("s", "one");
	BMessage copy(original);
	copy.ReplaceString("s", "two");
	BMessage assigned;
	assigned.AddInt8("x", 1);
	assigned = original;

	const char* string;
	ASSERT_EQ(original.FindString("s", &string), B_OK);
	EXPECT_STREQ(string, "one");
	ASSERT_EQ(copy.FindString("s", &string), B_OK);
	EXPECT_STREQ(string, "two");
	EXPECT_EQ(assigned.what, original.what);
	EXPECT_FALSE(assigned.HasInt8("x"));
	ASSERT_EQ(assigned.FindString("s", &string), B_OK);
	EXPECT_STREQ(string, "one");

	assigned.MakeEmpty();
	EXPECT_TRUE(assigned.IsEmpty());
	EXPECT_EQ(assigned.GetInt32("s", -3), -3);
	EXPECT_STREQ(original.GetString("s", "none"), "one");
	EXPECT_EQ(original.GetRect("r", BRect(1, 2, 3, 4)), BRect(1, 2, 3, 4));
}

TEST(Message, PrintsEveryFieldWithNestedMessagesIndented)
{
	BMessage inner('innr');
	inner.AddFloat("scale", 1.5f);
	BMessage message('okok');
	message.AddInt32("status", 0);
	message.AddInt32("status", -1);
	message.AddRect("paper_rect", BRect(0, 0, 637.5f, 825));
	message.AddString("name", "Letter");
	message.AddMessage("child", &inner);
	message.AddData("blob", 'blob', "\x01\x02", 2);

	testing::internal::CaptureStdout();
	message.PrintToStream();
	std::string printed = testing::internal::GetCapturedStdout();
	EXPECT_EQ(printed,
		"BMessage('okok') {\n"
		"\tstatus[0] = int32(0)\n"
		"\tstatus[1] = int32(-1)\n"
		"\tpaper_rect = BRect(l:0, t:0, r:637.5, b:825)\n"
		"\tname = string(\"Letter\", 7 bytes)\n"
		"\tchild = BMessage('innr') {\n"
		"\t\tscale = float(1.5)\n"
		"\t}\n"
		"\tblob = 'blob' 2 bytes: 01 02\n"
		"}\n");
}

}  // namespace
