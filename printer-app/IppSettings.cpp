#include "IppSettings.h"

#include "DeviceModel.h"
#include "JobSegments.h"
#include "JobSettings.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <set>
#include <cstdint>
#include <cstdlib>

namespace printer_app {

bool wants_black_only(pappl_color_mode_t mode)
{
	return mode == PAPPL_COLOR_MODE_MONOCHROME || mode == PAPPL_COLOR_MODE_AUTO_MONOCHROME
		|| mode == PAPPL_COLOR_MODE_BI_LEVEL || mode == PAPPL_COLOR_MODE_PROCESS_MONOCHROME;
}

int32 resolution_for_quality(ipp_quality_t quality)
{
	return quality == IPP_QUALITY_DRAFT ? 150 : device::kDefaultResolution;
}

void settings_for_job(const pappl_pr_options_t& options, Content content, BMessage* settings,
	bool resolutionAsked)
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
	int32 xres = resolutionAsked && options.printer_resolution[0] > 0
		? options.printer_resolution[0] : resolution_for_quality(options.print_quality);
	int32 yres = resolutionAsked && options.printer_resolution[1] > 0
		? options.printer_resolution[1] : xres;
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


// #pragma mark - overrides

const char* const kOverrideMembers[] = {
	"document-number",
	"pages",
	"media",
	"media-col",
	"orientation-requested",
	"print-color-mode",
	"print-quality",
	"printer-resolution",
};
const int kOverrideMemberCount = static_cast<int>(std::size(kOverrideMembers));

namespace {

struct PageRange {
	int first;
	int last;  // INT_MAX: to the end
};

struct Override {
	std::vector<PageRange> pages;  // empty: every page
	pappl_pr_options_t options;
	bool resolutionAsked;
};

std::vector<PageRange> ranges_of(ipp_attribute_t* attribute)
{
	std::vector<PageRange> ranges;
	for (int i = 0; attribute != nullptr && i < ippGetCount(attribute); i++) {
		int upper = 0;
		int lower = ippGetRange(attribute, i, &upper);
		if (lower >= 1 && upper >= lower)
			ranges.push_back({lower, upper});
	}
	return ranges;
}

bool covers(const std::vector<PageRange>& ranges, int page)
{
	if (ranges.empty())
		return true;
	for (const PageRange& range : ranges) {
		if (page >= range.first && page <= range.last)
			return true;
	}
	return false;
}

// The media size an override names, by keyword or by media-col's media-size.
bool apply_media(ipp_t* members, pappl_media_col_t* media, std::string* error)
{
	if (const char* name = ippGetString(ippFindAttribute(members, "media", IPP_TAG_ZERO), 0,
			nullptr)) {
		pwg_media_t* size = pwgMediaForPWG(name);
		if (size == nullptr)
			size = pwgMediaForLegacy(name);
		if (size == nullptr) {
			*error = std::string("the overrides ask for media \"") + name + "\"";
			return false;
		}
		media->size_width = size->width;
		media->size_length = size->length;
		snprintf(media->size_name, sizeof(media->size_name), "%s", size->pwg);
	}
	ipp_t* col = ippGetCollection(ippFindAttribute(members, "media-col", IPP_TAG_BEGIN_COLLECTION),
		0);
	ipp_t* size = col != nullptr ? ippGetCollection(ippFindAttribute(col, "media-size",
		IPP_TAG_BEGIN_COLLECTION), 0) : nullptr;
	if (size != nullptr) {
		int width = ippGetInteger(ippFindAttribute(size, "x-dimension", IPP_TAG_INTEGER), 0);
		int length = ippGetInteger(ippFindAttribute(size, "y-dimension", IPP_TAG_INTEGER), 0);
		if (width <= 0 || length <= 0) {
			*error = "the overrides ask for a media size of no size";
			return false;
		}
		media->size_width = width;
		media->size_length = length;
	}
	return true;
}

bool read_override(ipp_t* members, const pappl_pr_options_t& job, bool resolutionAsked,
	Override* override, std::string* error)
{
	override->options = job;
	override->resolutionAsked = resolutionAsked;
	override->pages = ranges_of(ippFindAttribute(members, "pages", IPP_TAG_RANGE));
	pappl_pr_options_t& options = override->options;
	if (!apply_media(members, &options.media, error))
		return false;
	if (ipp_attribute_t* orientation = ippFindAttribute(members, "orientation-requested",
			IPP_TAG_ENUM))
		options.orientation_requested = static_cast<ipp_orient_t>(ippGetInteger(orientation, 0));
	if (const char* mode = ippGetString(ippFindAttribute(members, "print-color-mode",
			IPP_TAG_KEYWORD), 0, nullptr)) {
		bool black = strcmp(mode, "monochrome") == 0 || strcmp(mode, "auto-monochrome") == 0
			|| strcmp(mode, "process-monochrome") == 0 || strcmp(mode, "bi-level") == 0;
		options.print_color_mode = black ? PAPPL_COLOR_MODE_MONOCHROME : PAPPL_COLOR_MODE_COLOR;
	}
	if (ipp_attribute_t* quality = ippFindAttribute(members, "print-quality", IPP_TAG_ENUM)) {
		options.print_quality = static_cast<ipp_quality_t>(ippGetInteger(quality, 0));
		override->resolutionAsked = false;
	}
	if (ipp_attribute_t* resolution = ippFindAttribute(members, "printer-resolution",
			IPP_TAG_RESOLUTION)) {
		ipp_res_t units;
		int y = 0;
		int x = ippGetResolution(resolution, 0, &y, &units);
		if (units != IPP_RES_PER_INCH || x <= 0) {
			*error = "the overrides ask for a resolution in other units than dots per inch";
			return false;
		}
		options.printer_resolution[0] = x;
		options.printer_resolution[1] = y;
		override->resolutionAsked = true;
	}
	return true;
}

// The override that applies to a page: the first that names it.
int override_for(const std::vector<Override>& overrides, int page)
{
	for (size_t i = 0; i < overrides.size(); i++) {
		if (covers(overrides[i].pages, page))
			return static_cast<int>(i);
	}
	return -1;
}

}  // namespace

bool segments_for_job(const pappl_pr_options_t& options, bool resolutionAsked,
	ipp_attribute_t* overrides, std::vector<JobSegment>* segments, std::string* error)
{
	segments->clear();
	std::vector<Override> applying;
	for (int i = 0; overrides != nullptr && i < ippGetCount(overrides); i++) {
		ipp_t* members = ippGetCollection(overrides, i);
		if (members == nullptr)
			continue;
		// Documents the override is for; a job here holds one document.
		ipp_attribute_t* documents = ippFindAttribute(members, "document-numbers", IPP_TAG_RANGE);
		if (documents == nullptr)
			documents = ippFindAttribute(members, "document-number", IPP_TAG_RANGE);
		if (documents != nullptr && !covers(ranges_of(documents), 1))
			continue;
		Override override;
		if (!read_override(members, options, resolutionAsked, &override, error))
			return false;
		applying.push_back(override);
	}

	// The job's own page range, and the pages where the override in force changes.
	int first = options.first_page >= 1 && options.first_page <= INT32_MAX
		? static_cast<int>(options.first_page) : 1;
	int last = options.last_page >= static_cast<unsigned>(first) && options.last_page < INT32_MAX
		? static_cast<int>(options.last_page) : INT_MAX;
	std::set<int> starts = {first};
	for (const Override& override : applying) {
		for (const PageRange& range : override.pages) {
			if (range.first > first && range.first <= last)
				starts.insert(range.first);
			if (range.last < last && range.last + 1 > first)
				starts.insert(range.last + 1);
		}
	}
	std::vector<int> bounds(starts.begin(), starts.end());
	int previous = -2;
	for (size_t i = 0; i < bounds.size(); i++) {
		int from = bounds[i];
		int to = i + 1 < bounds.size() ? bounds[i + 1] - 1 : last;
		int index = override_for(applying, from);
		if (index == previous && !segments->empty()) {
			segments->back().last = to == INT_MAX ? -1 : to;
			continue;
		}
		previous = index;
		JobSegment segment;
		segment.first = from;
		segment.last = to == INT_MAX ? -1 : to;
		const pappl_pr_options_t& used = index >= 0 ? applying[index].options : options;
		settings_for_job(used, Content::kDocument, &segment.settings,
			index >= 0 ? applying[index].resolutionAsked : resolutionAsked);
		segments->push_back(std::move(segment));
	}
	for (JobSegment& segment : *segments) {
		bool range = segment.first > 1 || segment.last != -1;
		store_field(&segment.settings, kCountTypeField, static_cast<int8>(range ? 1 : 0));
		store_field(&segment.settings, kFromField, static_cast<int16>(std::min(segment.first,
			32767)));
		store_field(&segment.settings, kToField, static_cast<int16>(segment.last < 0 ? -1
			: std::min(segment.last, 32767)));
		store_field(&segment.settings, kFirstPageField, static_cast<int32>(segment.first));
		store_field(&segment.settings, kLastPageField, static_cast<int32>(segment.last));
	}
	return true;
}

BMessage segments_message(const std::vector<JobSegment>& segments)
{
	if (segments.size() == 1)
		return segments.front().settings;
	BMessage message(kSegmentsWhat);
	for (const JobSegment& segment : segments) {
		BMessage run;
		run.AddMessage(kSegmentSettingsField, &segment.settings);
		message.AddMessage(kSegmentField, &run);
	}
	return message;
}

}  // namespace printer_app
