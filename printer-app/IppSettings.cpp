#include "IppSettings.h"

#include "JobSettings.h"
#include "SettingsStore.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace printer_app {

// The page setup dialog's table, row by row. The envelope stands wider than tall in the
// dialog; IPP names it across the feed first, as every medium.
const Paper kPapers[6] = {
	{"na_letter_8.5x11in", 21590, 27940},        // US Letter
	{"na_legal_8.5x14in", 21590, 35560},         // US Legal
	{"iso_a4_210x297mm", 21000, 29700},          // A4
	{"jis_b5_182x257mm", 18200, 25700},          // B5
	{"na_ledger_11x17in", 27940, 43180},         // Tabloid
	{"na_number-10_4.125x9.5in", 10478, 24130},  // Envelope (#10)
};

namespace {

const int8 kOtherRow = 6;
const int kHundredthsPerInch = 2540;

float units_of(int hundredthsOfMillimetre)
{
	return static_cast<float>(hundredthsOfMillimetre) * 75 / kHundredthsPerInch;
}

bool near(int a, int b)
{
	return std::abs(a - b) <= 50;
}

}  // namespace

int8 paper_row_for(int width, int length)
{
	for (int8 row = 0; row < 6; row++) {
		const Paper& paper = kPapers[row];
		if ((near(width, paper.width) && near(length, paper.length))
			|| (near(width, paper.length) && near(length, paper.width)))
			return row;
	}
	return kOtherRow;
}

bool wants_black_only(pappl_color_mode_t mode)
{
	return mode == PAPPL_COLOR_MODE_MONOCHROME || mode == PAPPL_COLOR_MODE_AUTO_MONOCHROME
		|| mode == PAPPL_COLOR_MODE_BI_LEVEL || mode == PAPPL_COLOR_MODE_PROCESS_MONOCHROME;
}

void settings_for_job(const pappl_pr_options_t& options, Content content, BMessage* settings)
{
	server::default_settings(settings);

	// Page setup: the paper as it is fed, and how the document lies on it.
	int width = options.media.size_width > 0 ? options.media.size_width : kPapers[0].width;
	int length = options.media.size_length > 0 ? options.media.size_length : kPapers[0].length;
	BRect paper(0, 0, units_of(width), units_of(length));
	BRect printable(units_of(options.media.left_margin), units_of(options.media.top_margin),
		units_of(width - options.media.right_margin),
		units_of(length - options.media.bottom_margin));
	bool turned = content == Content::kDocument
		&& (options.orientation_requested == IPP_ORIENT_LANDSCAPE
			|| options.orientation_requested == IPP_ORIENT_REVERSE_LANDSCAPE);
	store_field(settings, kPreviousSettingsField, paper_row_for(width, length));
	store_field(settings, kPageWidthField, static_cast<float>(width) / kHundredthsPerInch);
	store_field(settings, kPageHeightField, static_cast<float>(length) / kHundredthsPerInch);
	store_field(settings, kPaperRectField, paper);
	store_field(settings, kPrintableRectField, printable);
	store_field(settings, kLayoutField, static_cast<int8>(turned ? 1 : 0));
	store_field(settings, kScalingField, 100.0f);

	// Job setup: copies as sheets of the driver's, ink, resolution and page range.
	int16 copies = static_cast<int16>(std::clamp(options.copies, 1, 999));
	store_field(settings, kCopiesField, copies);
	store_field(settings, kBWModeField,
		static_cast<int16>(wants_black_only(options.print_color_mode) ? 1 : 0));
	int32 xres = options.printer_resolution[0] > 0 ? options.printer_resolution[0] : 300;
	int32 yres = options.printer_resolution[1] > 0 ? options.printer_resolution[1] : xres;
	store_field(settings, kXResField, xres);
	store_field(settings, kYResField, yres);
	store_field(settings, kQualityTypeField, server::quality_type_for(xres));

	// Without page-ranges PAPPL gives 1 to INT_MAX: every page, "last_page" -1.
	int32 first = 1;
	int32 last = -1;
	if (content == Content::kDocument && options.first_page >= 1
		&& options.first_page <= INT32_MAX) {
		first = static_cast<int32>(options.first_page);
		if (options.last_page >= options.first_page && options.last_page < INT32_MAX)
			last = static_cast<int32>(options.last_page);
	}
	bool range = first > 1 || last != -1;
	store_field(settings, kCountTypeField, static_cast<int8>(range ? 1 : 0));
	store_field(settings, kFromField, static_cast<int16>(std::min(first, 32767)));
	store_field(settings, kToField, static_cast<int16>(last < 0 ? -1 : std::min(last, 32767)));
	store_field(settings, kFirstPageField, first);
	store_field(settings, kLastPageField, last);
}

}  // namespace printer_app
