// The device model: every paper's sizes agree in all their units, sizes find their rows in
// either unit and either way round, and the resolutions map to and from their rows.
#include <DeviceModel.h>
#include <JobSettings.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <string>

TEST(DeviceModel, EveryPaperHasTheSameSizeInEveryUnitAndAUniqueName)
{
	std::set<std::string> names;
	for (const device::Paper& paper : device::kPapers) {
		SCOPED_TRACE(paper.label);
		// The dialog's inches as it shows them; the envelope lies wider than tall there.
		double dialogWidth = strtod(paper.widthText, nullptr);
		double dialogHeight = strtod(paper.heightText, nullptr);
		double shortSide = std::min(dialogWidth, dialogHeight);
		double longSide = std::max(dialogWidth, dialogHeight);
		EXPECT_NEAR(paper.widthPoints / 72.0, shortSide, 0.01);
		EXPECT_NEAR(paper.lengthPoints / 72.0, longSide, 0.01);
		EXPECT_NEAR(paper.widthHmm / 2540.0, shortSide, 0.01);
		EXPECT_NEAR(paper.lengthHmm / 2540.0, longSide, 0.01);
		EXPECT_TRUE(names.insert(paper.ppdName).second);
		EXPECT_TRUE(names.insert(paper.pwgName).second);
		EXPECT_NE(std::string(paper.pwgName).find('_'), std::string::npos);
	}
}

TEST(DeviceModel, SizesFindTheirRowEitherWayRoundAndNothingElseDoes)
{
	for (int row = 0; row < device::kPaperCount; row++) {
		const device::Paper& paper = device::kPapers[row];
		SCOPED_TRACE(paper.label);
		EXPECT_EQ(device::paper_row_for_hundredths(paper.widthHmm, paper.lengthHmm), row);
		EXPECT_EQ(device::paper_row_for_hundredths(paper.lengthHmm + 50, paper.widthHmm - 50),
			row);
		EXPECT_EQ(device::paper_row_for_points(paper.widthPoints + 0.9,
			paper.lengthPoints), row);
		EXPECT_EQ(device::paper_row_for_points(paper.lengthPoints, paper.widthPoints), row);
	}
	EXPECT_EQ(device::paper_row_for_hundredths(21590 + 51, 27940), device::kOtherPaperRow);
	EXPECT_EQ(device::paper_row_for_points(612, 800), device::kOtherPaperRow);
	EXPECT_EQ(device::paper_row_for_points(0, 0), device::kOtherPaperRow);
}

TEST(DeviceModel, ResolutionsAndTheirRows)
{
	struct Case {
		int32 dpi;
		bool printed;
		int8 row;
	};
	for (const Case& c : {Case{300, true, 0}, Case{150, true, 1}, Case{75, true, 2},
			 Case{600, false, 0}, Case{0, false, 0}, Case{-75, false, 0}}) {
		SCOPED_TRACE(c.dpi);
		EXPECT_EQ(device::prints_at(c.dpi), c.printed);
		EXPECT_EQ(device::quality_type_for(c.dpi), c.row);
		if (c.printed) {
			EXPECT_EQ(device::dpi_for_quality_type(c.row), c.dpi);
		}
	}
	EXPECT_EQ(device::dpi_for_quality_type(3), device::kDefaultResolution);
	EXPECT_EQ(device::dpi_for_quality_type(-1), device::kDefaultResolution);
	EXPECT_EQ(device::resolutions_in_words(), "300, 150 or 75");
	EXPECT_EQ(device::dots_per_unit(300), 4);
	EXPECT_EQ(device::dots_per_unit(75), 1);
}

// Where the raster begins: the interpreter's 75 and 37 dots at 300 dpi, within half a dot
// at the other resolutions; and the margins every way in declares keep at least that clear,
// by less than a point more.
TEST(DeviceModel, RasterOriginAndTheMarginsDeclaredForIt)
{
	struct Case {
		int32 dpi;
		int32 x, y;
	};
	for (const Case& c : {Case{300, 75, 37}, Case{150, 38, 19}, Case{75, 19, 9}}) {
		SCOPED_TRACE(c.dpi);
		device::DotOffset origin = device::raster_origin_dots(c.dpi);
		EXPECT_EQ(origin.x, c.x);
		EXPECT_EQ(origin.y, c.y);
		EXPECT_LE(std::abs(origin.x - 0.25 * c.dpi), 0.5);
		EXPECT_LE(std::abs(origin.y - 37.0 / 300 * c.dpi), 0.5);
	}

	device::Margins inches = device::sheet_margins();
	EXPECT_DOUBLE_EQ(inches.left, 0.25);
	EXPECT_DOUBLE_EQ(inches.top, 37.0 / 300);
	EXPECT_EQ(inches.right, 0);
	EXPECT_EQ(inches.bottom, 0);
	device::Margins points = device::margins_in_points();
	EXPECT_EQ(points.left, 18);
	EXPECT_EQ(points.top, 9);
	EXPECT_EQ(points.right, 0);
	EXPECT_EQ(points.bottom, 0);
	device::Margins hundredths = device::margins_in_hundredths();
	EXPECT_EQ(hundredths.left, 635);
	EXPECT_EQ(hundredths.top, 318);
	EXPECT_EQ(hundredths.right, 0);
	EXPECT_EQ(hundredths.bottom, 0);
	// Never less than the raster origin at the finest resolution.
	EXPECT_GE(points.left / 72 * 300, device::kRasterOrigin.right);
	EXPECT_GE(points.top / 72 * 300, device::kRasterOrigin.down);
	EXPECT_GE(hundredths.top / 2540.0 * 300, device::kRasterOrigin.down);

	for (const device::Paper& paper : device::kPapers) {
		SCOPED_TRACE(paper.label);
		device::PointsBox area = device::imageable_area(paper);
		EXPECT_EQ(area.left, 18);
		EXPECT_EQ(area.bottom, 0);
		EXPECT_EQ(area.right, paper.widthPoints);
		EXPECT_EQ(area.top, paper.lengthPoints - 9);
	}
}

TEST(DeviceModel, DefaultSettingsAreTheFirstPaperAtTheDefaultResolution)
{
	BMessage settings;
	settings.AddString("left over", "x");
	device::default_settings(&settings);
	EXPECT_EQ(settings.what, kSettingsConfirmed);
	EXPECT_FALSE(settings.HasString("left over"));
	BRect paper;
	ASSERT_EQ(settings.FindRect(kPaperRectField, &paper), B_OK);
	EXPECT_EQ(paper, BRect(0, 0, 637.5f, 825));
	int32 xres = 0;
	ASSERT_EQ(settings.FindInt32(kXResField, &xres), B_OK);
	EXPECT_EQ(xres, 300);
	int8 quality = -1;
	ASSERT_EQ(settings.FindInt8(kQualityTypeField, &quality), B_OK);
	EXPECT_EQ(quality, 0);
	int16 copies = 0;
	ASSERT_EQ(settings.FindInt16(kCopiesField, &copies), B_OK);
	EXPECT_EQ(copies, 1);
}

TEST(DeviceModel, TransportTimeoutIsWholeSecondsInRangeOrTheDefault)
{
	const struct {
		const char* value;
		int32 seconds;
	} cases[] = {
		{"1", 1},
		{"2", 2},
		{"3600", 3600},
		{"0060", 60},
		{"", 60},
		{"0", 60},
		{"3601", 60},
		{"-5", 60},
		{"+5", 60},
		{" 5", 60},
		{"5 ", 60},
		{"1.5", 60},
		{"12x", 60},
		{"99999999999999999999", 60},
	};
	for (const auto& c : cases)
		EXPECT_EQ(device::transport_timeout_seconds(c.value), c.seconds) << '"' << c.value << '"';
}

TEST(DeviceModel, OnlyTiffCompressesRowsAndEveryNameFindsItsRow)
{
	const struct {
		const char* value;
		int row;
		bool compresses;  // as the printer folder's "compression"
	} cases[] = {
		{"none", 0, false},
		{"None", 0, false},
		{"tiff", 1, true},
		{"TIFF", 1, false},  // the PPD's choice, which the filters turn into "tiff"
		{"", -1, false},
		{"Tiff", -1, false},
		{"tiff ", -1, false},
		{"packbits", -1, false},
	};
	for (const auto& c : cases) {
		EXPECT_EQ(device::compression_row(c.value), c.row) << '"' << c.value << '"';
		EXPECT_EQ(device::compresses_rows(c.value), c.compresses) << '"' << c.value << '"';
	}
	EXPECT_STREQ(device::kCompressions[device::kDefaultCompression].name, "none");
	EXPECT_EQ(device::compressions_in_words(), "none or tiff");
}
