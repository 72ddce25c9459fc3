#include "Drivers.h"

#include "DeviceModel.h"
#include "Icons.h"
#include "IppSettings.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstring>

namespace printer_app {

pappl_pr_driver_t kDrivers[2] = {
	// name, description, IEEE-1284 device ID, extension
	{"tessary_color", "Tessary Colour Ink-Jet", "MFG:Tessary;MDL:Colour Ink-Jet;CMD:PCL;",
		nullptr},
	{"tessary_bw", "Tessary Black Ink-Jet", "MFG:Tessary;MDL:Black Ink-Jet;CMD:PCL;", nullptr},
};
const int kDriverCount = 2;

const char* const kDocumentFormats[] = {
	"application/pdf",
	"image/jpeg",
	"image/png",
	"image/pwg-raster",
	"image/urf",
};
const int kDocumentFormatCount = static_cast<int>(std::size(kDocumentFormats));

namespace {


const char* const kSource = "main";
const char* const kMediaType = "stationery";

// The vendor attribute of the driver's row compression: "-default" and "-supported" on the
// printer, and the job template attribute itself.
const char* const kCompressionAttribute = "tessary-compression";
const char* const kCompressionDefault = "tessary-compression-default";
const char* const kCompressionSupported = "tessary-compression-supported";

void copy_text(char* destination, size_t size, const char* text)
{
	snprintf(destination, size, "%s", text);
}

// An identify request has nothing to flash or sound: the printer shows it in the log.
void identify(pappl_printer_t* printer, pappl_identify_actions_t, const char* message)
{
	papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: %s",
		message != nullptr ? message : "");
}

// Attributes an IPP Everywhere printer reports that PAPPL does not fill in by itself, each
// true of this printer: no preferred attributes, no colour management beyond the driver's own
// conversion, one-sided sheets.
ipp_t* extra_attributes()
{
	ipp_t* attributes = ippNew();
	ippAddBoolean(attributes, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
	ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default",
		nullptr, "auto");
	ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD,
		"print-rendering-intent-supported", nullptr, "auto");
	ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back",
		nullptr, "normal");
	// Overrides are applied to PDF, JPEG and PNG documents (segments_for_job).
	ippAddStrings(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported",
		kOverrideMemberCount, nullptr, kOverrideMembers);

	// Rows sent whole unless the printer is set to compress them.
	const char* names[device::kCompressionCount];
	for (int row = 0; row < device::kCompressionCount; row++)
		names[row] = device::kCompressions[row].name;
	ippAddStrings(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, kCompressionSupported,
		device::kCompressionCount, nullptr, names);
	ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, kCompressionDefault, nullptr,
		device::kCompressions[device::kDefaultCompression].name);
	return attributes;
}

void set_media(pappl_pr_driver_data_t* data)
{
	data->num_media = 0;
	for (const device::Paper& paper : device::kPapers)
		data->media[data->num_media++] = paper.pwgName;
	// The printer cannot reach the sheet's left and top edges (the device model's margins).
	// PAPPL 1.3.1 keeps one margin for the left and right and one for the bottom and top, so
	// each pair says the larger: clients keep a little more clear than they must, and lose
	// nothing to the edges.
	device::Margins margins = device::margins_in_hundredths();
	data->left_right = static_cast<int>(std::max(margins.left, margins.right));
	data->bottom_top = static_cast<int>(std::max(margins.bottom, margins.top));
	data->borderless = false;
	data->num_source = 1;
	data->source[0] = kSource;
	data->num_type = 1;
	data->type[0] = kMediaType;

	const device::Paper& standard = device::kPapers[device::kDefaultPaper];
	pappl_media_col_t& media = data->media_ready[0];
	copy_text(media.size_name, sizeof(media.size_name), standard.pwgName);
	media.size_width = standard.widthHmm;
	media.size_length = standard.lengthHmm;
	copy_text(media.source, sizeof(media.source), kSource);
	copy_text(media.type, sizeof(media.type), kMediaType);
	media.left_margin = media.right_margin = data->left_right;
	media.bottom_margin = media.top_margin = data->bottom_top;
	data->media_default = media;
}

}  // namespace

bool driver_callback(pappl_system_t* system, const char* driverName, const char*, const char*,
	pappl_pr_driver_data_t* data, ipp_t** attributes, void*)
{
	bool colour = strcmp(driverName, kDrivers[0].name) == 0;
	if (!colour && strcmp(driverName, kDrivers[1].name) != 0) {
		papplLog(system, PAPPL_LOGLEVEL_ERROR, "No driver named '%s'.", driverName);
		return false;
	}

	data->identify_cb = identify;
	data->rstartjob_cb = raster_start_job;
	data->rstartpage_cb = raster_start_page;
	data->rwriteline_cb = raster_write_line;
	data->rendpage_cb = raster_end_page;
	data->rendjob_cb = raster_end_job;
	// No format of the printer's own: every job goes through the driver, none is sent to the
	// printer as it came. The documents PAPPL cannot tell apart (and those of a format the
	// application has no filter for) come to a callback that refuses them with the reason.
	data->format = "application/octet-stream";
	data->printfile_cb = print_raw_document;
	data->testpage_cb = test_page_file;

	copy_text(data->make_and_model, sizeof(data->make_and_model),
		colour ? "Tessary Colour Ink-Jet" : "Tessary Black Ink-Jet");
	data->ppm = 4;
	data->ppm_color = colour ? 2 : 0;
	data->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_ENVELOPE | PAPPL_KIND_PHOTO;
	data->has_supplies = true;
	data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
	data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
	data->orient_default = IPP_ORIENT_PORTRAIT;
	// Normal quality is the job setup's default resolution (resolution_for_quality).
	data->quality_default = IPP_QUALITY_NORMAL;
	data->content_default = PAPPL_CONTENT_AUTO;
	data->scaling_default = PAPPL_SCALING_AUTO;
	data->sides_supported = PAPPL_SIDES_ONE_SIDED;
	data->sides_default = PAPPL_SIDES_ONE_SIDED;
	data->duplex = PAPPL_DUPLEX_NONE;
	data->num_vendor = 1;
	data->vendor[0] = kCompressionAttribute;

	// Raster pages of 8 bits a colour, or of black dots, which the driver dithers itself.
	if (colour) {
		data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8
			| PAPPL_PWG_RASTER_TYPE_SRGB_8;
		data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR
			| PAPPL_COLOR_MODE_MONOCHROME;
		data->color_default = PAPPL_COLOR_MODE_AUTO;
	} else {
		data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
		data->color_supported = PAPPL_COLOR_MODE_MONOCHROME;
		data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
	}

	// The job setup's resolutions, lowest first: PAPPL takes the first for
	// print-quality=draft and the last for high.
	data->num_resolution = 0;
	for (int row = device::kResolutionCount - 1; row >= 0; row--) {
		data->x_resolution[data->num_resolution] = device::kResolutions[row].dpi;
		data->y_resolution[data->num_resolution] = device::kResolutions[row].dpi;
		data->num_resolution++;
	}
	data->x_default = device::kDefaultResolution;
	data->y_default = device::kDefaultResolution;

	set_media(data);
	set_icons(data->icons, colour);
	*attributes = extra_attributes();
	return true;
}

std::string compression_for_job(pappl_job_t* job)
{
	std::string value;
	ipp_attribute_t* chosen = papplJobGetAttribute(job, kCompressionAttribute);
	if (chosen != nullptr) {
		const char* text = ippGetString(chosen, 0, nullptr);
		value = text != nullptr ? text : "";
	} else {
		ipp_t* attributes = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
		const char* text = ippGetString(ippFindAttribute(attributes, kCompressionDefault,
			IPP_TAG_KEYWORD), 0, nullptr);
		value = text != nullptr ? text : "";
		ippDelete(attributes);
	}
	return device::kCompressions[device::compresses_rows(value) ? device::kTiffCompression
		: device::kDefaultCompression].name;
}

void printer_created(pappl_printer_t* printer, void*)
{
	pappl_pr_driver_data_t data;
	papplPrinterGetDriverData(printer, &data);
	bool colour = data.ppm_color > 0;
	// The driver reads no ink levels: they are reported as unknown.
	pappl_supply_t supplies[2] = {};
	copy_text(supplies[0].description, sizeof(supplies[0].description), "Black Ink");
	supplies[0].color = PAPPL_SUPPLY_COLOR_BLACK;
	supplies[0].type = PAPPL_SUPPLY_TYPE_INK_CARTRIDGE;
	supplies[0].is_consumed = true;
	supplies[0].level = -1;
	copy_text(supplies[1].description, sizeof(supplies[1].description), "Colour Ink");
	supplies[1].color = PAPPL_SUPPLY_COLOR_MULTIPLE;
	supplies[1].type = PAPPL_SUPPLY_TYPE_INK_CARTRIDGE;
	supplies[1].is_consumed = true;
	supplies[1].level = -1;
	papplPrinterSetSupplies(printer, colour ? 2 : 1, supplies);
}

}  // namespace printer_app
