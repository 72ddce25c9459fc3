// Each printer's Job settings message, kept flattened in the file "settings" of the
// printer's folder, as the print server keeps it between hook calls.
#pragma once

#include <Message.h>

#include <string>

namespace server {

// Loads NAME's settings; a printer without a settings file gets the device's defaults. False with a
// message when the file exists but cannot be read as a message.
bool load_settings(const std::string& printer, BMessage* settings, std::string* error);

// Stores the settings, replacing the file only once the new one is complete.
bool save_settings(const std::string& printer, const BMessage& settings, std::string* error);

// True when the fields the raster engine needs to print ("xres", "copies", "BWMode") are there.
bool has_job_fields(const BMessage& settings);

// One line per field: name, type, values.
std::string describe_settings(const BMessage& settings);

}  // namespace server
