#include "IppSettings.h"

#include "DeviceModel.h"
#include "JobSettings.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace printer_app {

bool wants_black_only(pappl_color_mode_t mode)
{
	return mode == PAPPL_COLOR_MODE_MONOCHROME || mode == PAPPL_COLOR_MODE_AUTO_MONOCHROME
		|| mode == PAPPL_COLOR_MODE_BI_LEVEL || mode == PAPPL_COLOR_MODE_PROCESS_MONOCHROME;
}

void settings_for_job(const pappl_pr_options_t& options, Content content, BMessage* settings)
{
	device::default_settings(settings);

	// Page setup: the paper as it is fed, and how the document lies on it.
	const device::Paper& standard = device::kPapers[device::kDefaultPaper];
	int width = options.media.size_width > 0 ? options.media.size_width : standard.widthHmm;
	int length = options.media.size_length > 0 ? options.media.size_length
		: standard.lengthHmm;
	BRect paper(0, 0, device::units_of_hundredths(width), device::units_of_hundredths(length));
	BRect printable(device::units_of_hundredths(options.media.left_margin),
		device::units_of_hundredths(options.media.top_margin),
		device::units_of_hundredths(width - options.media.right_margin),
		device::units_of_hundredths(length - options.media.bottom_margin));
	bool turned = content == Content::kDocument
		&& (options.orientation_requested == IPP_ORIENT_LANDSCAPE
			|| options.orientation_requested == IPP_ORIENT_REVERSE_LANDSCAPE);
	store_field(settings, kPreviousSettingsField, device::paper_row_for_hundredths(width, length));
	store_field(settings, kPageWidthField,
		static_cast<float>(width / device::kHundredthsOfMmPerInch));
	store_field(settings, kPageHeightField,
		static_cast<float>(length / device::kHundredthsOfMmPerInch));
	store_field(settings, kPaperRectField, paper);
	store_field(settings, kPrintableRectField, printable);
	store_field(settings, kLayoutField, static_cast<int8>(turned ? 1 : 0));
	store_field(settings, kScalingField, 100.0f);

	// Job setup: copies as sheets of the driver's, ink, resolution and page range.
	int16 copies = static_cast<int16>(std::clamp(options.copies, 1, 999));
	store_field(settings, kCopiesField, copies);
	store_field(settings, kBWModeField,
		static_cast<int16>(wants_black_only(options.print_color_mode) ? 1 : 0));
	int32 xres = options.printer_resolution[0] > 0 ? options.printer_resolution[0]
		: device::kDefaultResolution;
	int32 yres = options.printer_resolution[1] > 0 ? options.printer_resolution[1] : xres;
	store_field(settings, kXResField, xres);
	store_field(settings, kYResField, yres);
	store_field(settings, kQualityTypeField, device::quality_type_for(xres));

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
