#include <Font.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

TEST(Font, SystemFontsAreTheDejaVuFamilies)
{
	font_family family;
	font_style style;
	be_plain_font->GetFamilyAndStyle(&family, &style);
	EXPECT_STREQ(family, "DejaVu Sans");
	EXPECT_STREQ(style, "Book");
	be_bold_font->GetFamilyAndStyle(&family, &style);
	EXPECT_STREQ(style, "Bold");
	EXPECT_TRUE(be_bold_font->Face() & B_BOLD_FACE);
	be_fixed_font->GetFamilyAndStyle(&family, &style);
	EXPECT_STREQ(family, "DejaVu Sans Mono");

	// The fixed font is monospaced; the plain one is not.
	EXPECT_FLOAT_EQ(be_fixed_font->StringWidth("iiii"), be_fixed_font->StringWidth("MMMM"));
	EXPECT_LT(be_plain_font->StringWidth("iiii"), be_plain_font->StringWidth("MMMM"));
	// Bold is wider than plain at the same size.
	BFont plain(be_plain_font);
	plain.SetSize(be_bold_font->Size());
	EXPECT_GT(be_bold_font->StringWidth("Wide text"), plain.StringWidth("Wide text"));
}

TEST(Font, WidthsAndHeightsScaleWithTheSize)
{
	BFont font;
	font.SetSize(10);
	float width = font.StringWidth("Scaling");
	font_height height;
	font.GetHeight(&height);
	EXPECT_GT(width, 20);
	EXPECT_GT(height.ascent, height.descent);
	EXPECT_GT(height.descent, 0);
	EXPECT_GE(height.leading, 0);

	font.SetSize(30);
	EXPECT_NEAR(font.StringWidth("Scaling"), 3 * width, 1e-3);
	font_height larger;
	font.GetHeight(&larger);
	EXPECT_NEAR(larger.ascent, 3 * height.ascent, 1e-3);

	// A length stops the string early, and so does a NUL.
	EXPECT_FLOAT_EQ(font.StringWidth("Scaling", 3), font.StringWidth("Sca"));
	EXPECT_FLOAT_EQ(font.StringWidth("Sca\0ling", 8), font.StringWidth("Sca"));
	EXPECT_EQ(font.StringWidth(NULL), 0);
	EXPECT_EQ(font.StringWidth("", 0), 0);
}

TEST(Font, AnyFamilyNameFindsAnInstalledFont)
{
	BFont font;
	EXPECT_EQ(font.SetFamilyAndStyle("No Such Family Anywhere", "Roman"), B_OK);
	EXPECT_GT(font.StringWidth("still measured"), 0);
	EXPECT_EQ(font.SetFamilyAndStyle("", "Bold"), B_BAD_VALUE);
	font_family family;
	font.GetFamilyAndStyle(&family, NULL);
	EXPECT_STREQ(family, "No Such Family Anywhere");

	// Overlong names are cut to the platform's length.
	std::string longName(200, 'x');
	EXPECT_EQ(font.SetFamilyAndStyle(longName.c_str(), NULL), B_OK);
	font.GetFamilyAndStyle(&family, NULL);
	EXPECT_EQ(strlen(family), size_t(B_FONT_FAMILY_LENGTH));

	EXPECT_EQ(font.SetFamilyAndFace("DejaVu Sans", B_BOLD_FACE | B_ITALIC_FACE), B_OK);
	font_style style;
	font.GetFamilyAndStyle(NULL, &style);
	EXPECT_STREQ(style, "Bold Oblique");
	EXPECT_GT(count_font_families(), 0);
	EXPECT_EQ(get_font_family(0, &family), B_OK);
	EXPECT_EQ(get_font_family(1 << 20, &family), B_BAD_INDEX);
}

TEST(Font, ValuesOutsideTheirRangeAreRefusedOrClamped)
{
	BFont font;
	font.SetSize(12);
	font.SetSize(-1);
	font.SetSize(NAN);
	EXPECT_EQ(font.Size(), 12);
	font.SetSize(1e9f);
	EXPECT_EQ(font.Size(), 10000);
	font.SetShear(10);
	EXPECT_EQ(font.Shear(), 45);
	font.SetShear(INFINITY);
	EXPECT_EQ(font.Shear(), 45);
	font.SetRotation(725);
	EXPECT_EQ(font.Rotation(), 5);
	BFont other(font);
	EXPECT_TRUE(other == font);
	other.SetFlags(B_DISABLE_ANTIALIASING);
	EXPECT_TRUE(other != font);
}

TEST(Font, MeasuringFromManyThreadsAgrees)
{
	const char* families[] = {"DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono", "Unknown"};
	std::vector<float> expected;
	for (const char* family : families) {
		BFont font;
		font.SetFamilyAndStyle(family, "Book");
		expected.push_back(font.StringWidth("Threads"));
	}
	std::vector<std::thread> threads;
	std::vector<int> mismatches(8, 0);
	for (int t = 0; t < 8; t++) {
		threads.emplace_back([&, t] {
			for (int i = 0; i < 200; i++) {
				BFont font;
				font.SetFamilyAndStyle(families[(t + i) % 4], "Book");
				if (font.StringWidth("Threads") != expected[(t + i) % 4])
					mismatches[t]++;
			}
		});
	}
	for (std::thread& thread : threads)
		thread.join();
	for (int count : mismatches)
		EXPECT_EQ(count, 0);
}
