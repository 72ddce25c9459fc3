#include <JobSettings.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(JobSettings, FieldNamesAreSpelledAsStored)
{
	EXPECT_STREQ(kPreviousSettingsField, "prevous_settings");
	EXPECT_STREQ(kBWModeField, "BWMode");
	EXPECT_STREQ(kPaperRectField, "paper_rect");
	EXPECT_STREQ(kPrintableRectField, "printable_rect");
	EXPECT_STREQ(kQualityTypeField, "quality_type");
	EXPECT_STREQ(kPrinterFileField, "printer_file");
	EXPECT_EQ(kSettingsConfirmed, 0x6F6B6F6Bu);
}

TEST(JobSettings, StoreFieldLeavesExactlyOneValue)
{
	BMessage settings;
	// Twice through the job dialog: still one value each, the last one written.
	for (int32 xres : {300, 150}) {
		ASSERT_EQ(store_field(&settings, kXResField, xres), B_OK);
		ASSERT_EQ(store_field(&settings, kCopiesField, int16(xres / 75)), B_OK);
		ASSERT_EQ(store_field(&settings, kQualityTypeField, int8(xres == 300 ? 0 : 1)), B_OK);
		ASSERT_EQ(store_field(&settings, kScalingField, 100.0f), B_OK);
		ASSERT_EQ(store_field(&settings, kPaperRectField, BRect(0, 0, 637.5f, 825)), B_OK);
		ASSERT_EQ(store_field(&settings, "name", xres == 300 ? "first" : "second"), B_OK);
	}
	EXPECT_EQ(settings.CountNames(B_ANY_TYPE), 6);
	for (int32 i = 0; i < 6; i++) {
		const char* name;
		type_code type;
		int32 count = 0;
		ASSERT_EQ(settings.GetInfo(B_ANY_TYPE, i, &name, &type, &count), B_OK);
		EXPECT_EQ(count, 1) << name;
	}
	EXPECT_EQ(settings.GetInt32(kXResField, 0), 150);
	EXPECT_EQ(settings.GetInt16(kCopiesField, 0), 2);
	EXPECT_EQ(settings.GetInt8(kQualityTypeField, -1), 1);
	EXPECT_STREQ(settings.GetString("name", ""), "second");
}

TEST(JobSettings, StoreFieldOverridesAnotherTypeOrSeveralValues)
{
	BMessage settings;
	settings.AddInt32(kCopiesField, 4);  // wrong type, as a foreign writer might leave it
	settings.AddInt32(kFirstPageField, 1);
	settings.AddInt32(kFirstPageField, 2);

	ASSERT_EQ(store_field(&settings, kCopiesField, int16(3)), B_OK);
	ASSERT_EQ(store_field(&settings, kFirstPageField, int32(7)), B_OK);

	type_code type;
	int32 count;
	ASSERT_EQ(settings.GetInfo(kCopiesField, &type, &count), B_OK);
	EXPECT_EQ(type, type_code(B_INT16_TYPE));
	EXPECT_EQ(count, 1);
	EXPECT_EQ(settings.GetInt16(kCopiesField, 0), 3);
	ASSERT_EQ(settings.GetInfo(kFirstPageField, &type, &count), B_OK);
	EXPECT_EQ(count, 1);
	EXPECT_EQ(settings.GetInt32(kFirstPageField, 0), 7);

	EXPECT_EQ(store_field(nullptr, kCopiesField, int16(1)), B_BAD_VALUE);
	EXPECT_EQ(store_field(&settings, "s", static_cast<const char*>(nullptr)), B_BAD_VALUE);
}

}  // namespace
