// The drivers the application offers PAPPL: the Tessary colour ink-jet and its black-only
// sibling, each with the page setup's papers, the job setup's three resolutions, and the
// attributes an IPP Everywhere printer reports. Printing goes through RasterJob (the raster
// pages PAPPL hands over: PWG and Apple raster, and JPEG and PNG drawn by PAPPL) and
// DocumentJob (PDF laid out as the print tool lays it out).
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace printer_app {

extern pappl_pr_driver_t kDrivers[2];
extern const int kDriverCount;

bool driver_callback(pappl_system_t* system, const char* driverName, const char* deviceUri,
	const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attributes, void* context);

// How the printer's driver sends its rows, a setting of the printer (a vendor attribute,
// "tessary-compression-default", none unless set) that a job may also name: the device
// model's name, "none" or "tiff".
std::string compression_for_job(pappl_job_t* job);

// Called for every printer PAPPL creates: its supplies.
void printer_created(pappl_printer_t* printer, void* context);

// The raster callbacks (RasterJob.cpp).
bool raster_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
	unsigned page);
bool raster_write_line(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
	unsigned y, const unsigned char* line);
bool raster_end_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
	unsigned page);
bool raster_end_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// The document filter for PDF, JPEG, PNG and raster files (DocumentJob.cpp).
bool print_document(pappl_job_t* job, pappl_device_t* device, void* context);

// The job callback for a document PAPPL has no filter for: the web interface's test page is
// printed as the driver's test page; any other document is refused with the reason
// (DocumentJob.cpp).
bool print_raw_document(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// The file PAPPL prints for the web interface's "Print Test Page" (DocumentJob.cpp).
const char* test_page_file(pappl_printer_t* printer, char* buffer, size_t size);

// The formats the application prints through print_document, as PAPPL names them.
extern const char* const kDocumentFormats[];
extern const int kDocumentFormatCount;

}  // namespace printer_app
