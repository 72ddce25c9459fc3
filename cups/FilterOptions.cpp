#include "FilterOptions.h"

#include "DeviceModel.h"

#include <cstdlib>
#include <strings.h>

// libcups marks its PPD interface deprecated for clients that should ask the scheduler
// instead; a filter is handed a PPD ($PPD) and reads it as CUPS's own filters do.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace cups_filter {

FilterOptions::~FilterOptions()
{
	if (fPpd != nullptr)
		ppdClose(fPpd);
	cupsFreeOptions(fCount, fOptions);
}

bool FilterOptions::Read(const char* options, std::string* error)
{
	fCount = cupsParseOptions(options != nullptr ? options : "", 0, &fOptions);
	const char* path = getenv("PPD");
	if (path == nullptr || path[0] == '\0')
		return true;
	fPpd = ppdOpenFile(path);
	if (fPpd == nullptr) {
		int line = 0;
		ppd_status_t status = ppdLastError(&line);
		*error = std::string("cannot read the PPD ") + path + ": " + ppdErrorString(status)
			+ " (line " + std::to_string(line) + ")";
		return false;
	}
	ppdMarkDefaults(fPpd);
	cupsMarkOptions(fPpd, fCount, fOptions);
	return true;
}

const char* FilterOptions::_Option(const char* name) const
{
	return cupsGetOption(name, fCount, fOptions);
}

std::string FilterOptions::Compression() const
{
	const char* choice = nullptr;
	if (fPpd != nullptr) {
		ppd_choice_t* marked = ppdFindMarkedChoice(fPpd, device::kCompressionPpdOption);
		choice = marked != nullptr ? marked->choice : nullptr;
	} else {
		choice = _Option(device::kCompressionPpdOption);
	}
	int row = choice != nullptr ? device::compression_row(choice) : -1;
	return device::kCompressions[row >= 0 ? row : device::kDefaultCompression].name;
}

bool FilterOptions::PageHeader(cups_page_header2_t* header, std::string* error) const
{
	if (fPpd == nullptr) {
		*error = "no PPD (the PPD environment variable names none)";
		return false;
	}
	if (cupsRasterInterpretPPD(header, fPpd, fCount, fOptions, nullptr) != 0) {
		const char* why = cupsRasterErrorString();
		*error = std::string("the PPD's options make no page: ")
			+ (why != nullptr ? why : "unknown error");
		return false;
	}
	return true;
}

bool FilterOptions::Collated() const
{
	const char* collate = _Option("collate");
	if (collate == nullptr)
		collate = _Option("Collate");
	if (collate != nullptr)
		return strcasecmp(collate, "true") == 0 || strcasecmp(collate, "yes") == 0
			|| strcasecmp(collate, "on") == 0;
	const char* handling = _Option("multiple-document-handling");
	return handling != nullptr
		&& strcasecmp(handling, "separate-documents-collated-copies") == 0;
}

}  // namespace cups_filter
