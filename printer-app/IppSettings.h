// What a job's IPP attributes make of the driver's settings message: the message a confirmed
// page setup and job setup would leave, with the paper, orientation, colour mode,
// resolution, copies and page range the job asks for. PAPPL has already resolved the job's
// attributes against the printer's defaults into a pappl_pr_options_t; this reads that, and
// nothing here talks to PAPPL.
#pragma once

#include <Message.h>

#include <pappl/pappl.h>

#include <string>
#include <vector>

namespace printer_app {

// How the document reaches the driver: laid out by the application (PDF), or as raster
// pages already drawn at the device's resolution (by the client, or by PAPPL from an image).
enum class Content { kDocument, kRaster };

// The settings message for a job with these options. Raster content is printed as drawn: no
// turning, no scaling, every page PAPPL hands over. `resolutionAsked`: the job named its
// printer-resolution; otherwise the resolution follows print-quality (resolution_for_quality).
void settings_for_job(const pappl_pr_options_t& options, Content content, BMessage* settings,
	bool resolutionAsked = true);

// The resolution of a print-quality: draft 150 dpi, normal and high 300 dpi (the job setup's
// default, and the printer's default quality is normal).
int32 resolution_for_quality(ipp_quality_t quality);

// One run of a job's pages printed with one set of settings: pages `first` to `last` (-1: to
// the end of the document), the settings holding them as their page range.
struct JobSegment {
	int32 first = 1;
	int32 last = -1;
	BMessage settings;
};

// The job's pages in runs where its "overrides" (PWG 5100.6: settings for some pages of some
// documents) ask for other settings than the job's: every run with the job's settings and
// the changes of the first override that names its pages (media, media-col's size,
// orientation-requested, print-color-mode, print-quality, printer-resolution). A job without
// overrides is one run. The one document of a job is document number 1. False with the
// reason for overrides that cannot be read.
bool segments_for_job(const pappl_pr_options_t& options, bool resolutionAsked,
	ipp_attribute_t* overrides, std::vector<JobSegment>* segments, std::string* error);

// What the job process is handed: the settings of the one run, or every run's (JobSegments.h).
BMessage segments_message(const std::vector<JobSegment>& segments);

// The members of "overrides" the printer applies, for overrides-supported.
extern const char* const kOverrideMembers[];
extern const int kOverrideMemberCount;

// Whether the job's colour mode asks for the black ink alone.
bool wants_black_only(pappl_color_mode_t mode);

}  // namespace printer_app
