// The Tessary colour ink-jet as a device: the papers it takes, in every unit and name the
// ways in use for them; its resolutions and the job setup's rows for them; the page unit;
// the attributes of a printer's folder; and the settings a printer starts with. The page
// setup dialog, the print tool, the CUPS driver (tessary.drv is generated from this table)
// and the printer application all take these facts from here: adding a paper is adding a
// row to kPapers.
#pragma once

#include <Message.h>
#include <SupportDefs.h>

#include <array>
#include <cstddef>
#include <string>

namespace device {

// #pragma mark - units

// Page units: all page geometry in the settings and in the spool file is in 1/75 inch.
inline constexpr int32 kUnitsPerInch = 75;
inline constexpr double kPointsPerInch = 72;
inline constexpr double kHundredthsOfMmPerInch = 2540;

inline constexpr float units_of_inches(double inches)
{
	return static_cast<float>(inches * kUnitsPerInch);
}
inline constexpr float units_of_points(double points)
{
	return static_cast<float>(points * kUnitsPerInch / kPointsPerInch);
}
inline constexpr float units_of_hundredths(double hundredthsOfMm)
{
	return static_cast<float>(hundredthsOfMm * kUnitsPerInch / kHundredthsOfMmPerInch);
}

// #pragma mark - papers

// One paper the device takes. The page setup shows its size as typed inches (the envelope
// lies wider than tall there, as it is fed); the CUPS driver names it by its PPD name in
// points and IPP by its PWG name in hundredths of a millimetre, both portrait.
struct Paper {
	const char* label;       // the page setup's row ("US Letter")
	const char* widthText;   // the page setup's width, in inches as the dialog shows it
	const char* heightText;  // the page setup's height, likewise
	int widthPoints;         // the standard size in points (1/72 inch), portrait
	int lengthPoints;
	int widthHmm;            // the standard size in hundredths of a millimetre, portrait
	int lengthHmm;
	const char* ppdName;     // PageSize in the PPD
	const char* ppdText;     // its name shown by CUPS
	const char* pwgName;     // PWG self-describing media name
};

inline constexpr Paper kPapers[] = {
	// label, dialog width and height, points, hundredths of a millimetre, PPD, PWG
	{"US Letter", "8.5", "11.0", 612, 792, 21590, 27940, "Letter", "US Letter",
		"na_letter_8.5x11in"},
	{"US Legal", "8.5", "14.0", 612, 1008, 21590, 35560, "Legal", "US Legal",
		"na_legal_8.5x14in"},
	{"A4", "8.264", "11.694", 595, 842, 21000, 29700, "A4", "A4", "iso_a4_210x297mm"},
	{"B5", "7.167", "10.125", 516, 729, 18200, 25700, "B5", "JIS B5", "jis_b5_182x257mm"},
	{"Tabloid", "11.0", "17.0", 792, 1224, 27940, 43180, "Tabloid", "Tabloid",
		"na_ledger_11x17in"},
	{"Envelope", "9.5", "4.125", 297, 684, 10478, 24130, "Env10", "Envelope #10",
		"na_number-10_4.125x9.5in"},
};
inline constexpr int kPaperCount = static_cast<int>(std::size(kPapers));

// The page setup's row after the papers: a size typed in.
inline constexpr int8 kOtherPaperRow = kPaperCount;
inline constexpr const char* kOtherPaperLabel = "Other";
inline constexpr const char* kOtherPaperSize = "0.0";

// The paper a printer starts with.
inline constexpr int kDefaultPaper = 0;

// A column of the page setup's paper table: one member of every paper, then `other` for
// the row of a typed size.
template <typename Member>
constexpr std::array<const char*, kPaperCount + 1> paper_column(Member member,
	const char* other)
{
	std::array<const char*, kPaperCount + 1> column{};
	for (int row = 0; row < kPaperCount; row++)
		column[row] = kPapers[row].*member;
	column[kPaperCount] = other;
	return column;
}

// The row of a paper of this size, in hundredths of a millimetre, either way round and
// within half a millimetre; kOtherPaperRow for any other size.
int8 paper_row_for_hundredths(int width, int length);
// The same for a size in points, within a point.
int8 paper_row_for_points(double width, double length);

// #pragma mark - where the device prints

// Where the printer puts the driver's dot (0, 0) on the sheet. The stream positions no cursor,
// so a PCL printer starts the raster at the top left of its logical page: 1/4 inch right of
// the sheet's left edge, and 37/300 inch below its top edge (the first line of 6 lines to the
// inch, at 3/4 of a line, below a top margin of 0). What the raster holds past the sheet's
// right and bottom edges is not printed. That is what an independent PCL interpreter does
// with a US Letter page; every other paper, and a size typed in, is taken to start at the
// same place. A printer that starts elsewhere is this one row.
struct RasterOrigin {
	int32 dpi;    // the resolution the offsets are counted at
	int32 right;  // dots from the sheet's left edge
	int32 down;   // dots from the sheet's top edge
};
inline constexpr RasterOrigin kRasterOrigin = {300, 75, 37};

// The raster origin in whole dots at a resolution, rounded to the nearest dot: (75, 37) at
// 300 dpi, (38, 19) at 150 dpi, (19, 9) at 75 dpi.
struct DotOffset {
	int32 x;
	int32 y;
};
DotOffset raster_origin_dots(int32 dpi);

// The edges of a sheet the device cannot print on, in inches: the left and top edges up to
// the raster origin; none at the right and bottom. The same for every paper.
struct Margins {
	double left;
	double top;
	double right;
	double bottom;
};
Margins sheet_margins();
// The margins applications are told to keep clear, so that what they keep inside prints:
// in whole points (the PPD's HWMargins: 18 at the left, 9 at the top), and the same in whole
// hundredths of a millimetre (IPP's media-*-margin: 635 and 318), each rounded up.
Margins margins_in_points();
Margins margins_in_hundredths();

// A paper's printable area in points from the bottom left corner of the portrait sheet, as
// the PPD's ImageableArea gives it: left, bottom, right, top.
struct PointsBox {
	double left;
	double bottom;
	double right;
	double top;
};
PointsBox imageable_area(const Paper& paper);

// #pragma mark - resolutions

// The job setup's resolutions, by row: the row is the settings' "quality_type".
struct Resolution {
	int32 dpi;
	const char* label;  // the job setup's menu item
};

inline constexpr Resolution kResolutions[] = {
	{300, "300 dpi"},
	{150, "150 dpi"},
	{75, "75 dpi"},
};
inline constexpr int kResolutionCount = static_cast<int>(std::size(kResolutions));
inline constexpr int8 kDefaultQualityType = 0;
inline constexpr int32 kDefaultResolution = kResolutions[kDefaultQualityType].dpi;

// The job setup's labels, by row.
constexpr std::array<const char*, kResolutionCount> resolution_labels()
{
	std::array<const char*, kResolutionCount> labels{};
	for (int row = 0; row < kResolutionCount; row++)
		labels[row] = kResolutions[row].label;
	return labels;
}

// Whether the device prints at this resolution.
bool prints_at(int32 dpi);
// The "quality_type" row of a resolution; any other resolution is kept as row 0's.
int8 quality_type_for(int32 dpi);
// The dots per inch of a row; kDefaultResolution for a row that is not one.
int32 dpi_for_quality_type(int32 row);
// "300, 150 or 75", for messages.
std::string resolutions_in_words();

// Device dots per page unit at a resolution: 4, 2 or 1.
inline constexpr int32 dots_per_unit(int32 dpi)
{
	return dpi / kUnitsPerInch;
}

// #pragma mark - the printer's folder

// Attributes of a printer's folder (B_STRING_TYPE each).
inline constexpr const char* kTransportAttr = "transport";  // the transport add-on's name
inline constexpr const char* kTransportAddressAttr = "transport_address";  // where it prints
// Whole seconds a Socket printer may go without taking a byte before its job fails.
inline constexpr const char* kTransportTimeoutAttr = "transport_timeout";
inline constexpr const char* kCommentsAttr = "Comments";  // written by the driver's add_printer

// The transport that hands the driver's stream to a file descriptor.
inline constexpr const char* kPipeTransport = "Pipe";

// What "transport_timeout" may hold, and what an absent or unusable value means.
inline constexpr int32 kMinTransportTimeout = 1;
inline constexpr int32 kMaxTransportTimeout = 3600;
inline constexpr int32 kDefaultTransportTimeout = 60;

// The seconds of a "transport_timeout" value: decimal digits alone, from kMinTransportTimeout
// to kMaxTransportTimeout; anything else is kDefaultTransportTimeout.
int32 transport_timeout_seconds(const std::string& value);

// How the driver sends its raster rows: "compression", a string attribute beside the
// transport's. Every printer reads rows sent whole; a compressed stream is several times
// shorter, for printers on a slow link that read it.
inline constexpr const char* kCompressionAttr = "compression";

struct Compression {
	const char* name;     // the attribute's value, the tool's --compression, the IPP keyword
	const char* ppdName;  // the choice of the PPD's option
	const char* ppdText;  // the choice as CUPS shows it
};

inline constexpr Compression kCompressions[] = {
	// Rows sent whole (PCL compression method 0): the stream every printer starts with.
	{"none", "None", "None"},
	// Rows in PCL compression method 2 (TIFF PackBits), runs of blank rows skipped.
	{"tiff", "TIFF", "TIFF PackBits"},
};
inline constexpr int kCompressionCount = static_cast<int>(std::size(kCompressions));
inline constexpr int kDefaultCompression = 0;
inline constexpr int kTiffCompression = 1;
// The PPD's option.
inline constexpr const char* kCompressionPpdOption = "Compression";

// The row of kCompressions a value names (its name, or its PPD choice); -1 for any other.
int compression_row(const std::string& value);
// Whether a printer whose "compression" attribute holds `value` gets the compressed stream:
// only for "tiff"; an absent or unknown value keeps rows whole.
bool compresses_rows(const std::string& value);
// "none or tiff", for messages.
std::string compressions_in_words();

// #pragma mark - settings

// The settings a printer starts with, as a confirmed page setup and job setup would leave
// them: US Letter, 300 dpi, colour, one copy, all pages.
void default_settings(BMessage* settings);

// Adds the job fields a job setup confirmed with its defaults would add (one copy, all
// pages, colour, 300 dpi), keeping every other field.
void add_default_job_fields(BMessage* settings);

}  // namespace device
