// What a job's IPP attributes make of the driver's settings message: the message a confirmed
// page setup and job setup would leave, with the paper, orientation, colour mode,
// resolution, copies and page range the job asks for. PAPPL has already resolved the job's
// attributes against the printer's defaults into a pappl_pr_options_t; this reads that, and
// nothing here talks to PAPPL.
#pragma once

#include <Message.h>

#include <pappl/pappl.h>

namespace printer_app {

// How the document reaches the driver: laid out by the application (PDF), or as raster
// pages already drawn at the device's resolution (by the client, or by PAPPL from an image).
enum class Content { kDocument, kRaster };

// The settings message for a job with these options. Raster content is printed as drawn: no
// turning, no scaling, every page PAPPL hands over.
void settings_for_job(const pappl_pr_options_t& options, Content content, BMessage* settings);

// Whether the job's colour mode asks for the black ink alone.
bool wants_black_only(pappl_color_mode_t mode);

}  // namespace printer_app
