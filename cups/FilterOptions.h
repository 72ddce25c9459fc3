// The job's options as a CUPS filter of the driver reads them: the PPD that CUPS names in
// $PPD, its defaults marked and then the job's options (the filter's fifth argument), as
// CUPS's own filters mark them. Without a PPD (a filter run by hand) the options are read
// alone, and the paper, resolution and colour are the device's defaults.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

#include <string>

namespace cups_filter {

class FilterOptions {
public:
	FilterOptions() = default;
	~FilterOptions();
	FilterOptions(const FilterOptions&) = delete;
	FilterOptions& operator=(const FilterOptions&) = delete;

	// Reads $PPD, when set, and the job's options; false with the reason for a PPD that
	// cannot be read.
	bool Read(const char* options, std::string* error);

	bool HasPpd() const { return fPpd != nullptr; }

	// How the driver sends its rows for this job: the device model's name of the PPD's
	// "Compression" choice ("none" or "tiff"), the default's for any other.
	std::string Compression() const;

	// The page header the PPD's marked options make (PageSize, Resolution, ColorModel), as
	// CUPS's raster filters make it for every page; false with the reason when there is no
	// PPD or its options make no header.
	bool PageHeader(cups_page_header2_t* header, std::string* error) const;

	// Whether the job asks for collated copies ("collate", "Collate" or
	// "multiple-document-handling").
	bool Collated() const;

private:
	const char* _Option(const char* name) const;

	ppd_file_t* fPpd = nullptr;
	int fCount = 0;
	cups_option_t* fOptions = nullptr;
};

}  // namespace cups_filter
