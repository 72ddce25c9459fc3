// Each printer's Job settings message, kept flattened in the file "settings" of the
// printer's folder, as the print server keeps it between hook calls.
#pragma once

#include <Message.h>

#include <string>

namespace server {

// The settings a printer starts with, as a confirmed page setup and job setup would leave
// them: US Letter, 300 dpi, colour, one copy, all pages.
void default_settings(BMessage* settings);

// The "quality_type" row the job setup keeps for a resolution: 300, 150 and 75 dpi are its
// rows 0, 1 and 2 (any other resolution is kept as row 0's).
int8 quality_type_for(int32 dpi);

// Loads NAME's settings; a printer without a settings file gets the defaults. False with a
// message when the file exists but cannot be read as a message.
bool load_settings(const std::string& printer, BMessage* settings, std::string* error);

// Stores the settings, replacing the file only once the new one is complete.
bool save_settings(const std::string& printer, const BMessage& settings, std::string* error);

// True when the fields the raster engine needs to print ("xres", "copies", "BWMode") are there.
bool has_job_fields(const BMessage& settings);

// Adds the job fields a job setup confirmed with its defaults would add (one copy, all pages,
// colour, 300 dpi), keeping every other field.
void add_default_job_fields(BMessage* settings);

// One line per field: name, type, values.
std::string describe_settings(const BMessage& settings);

}  // namespace server
