// Where the driver's things live below the root folder (TESSARY_ROOT, or the user's data
// folder), as the print server keeps them: the printers' folders, the driver add-on and the
// transports.
#pragma once

#include <string>

namespace frontend {

// <common settings>/printers, created when asked.
std::string printers_folder(bool create);
// <common settings>/printers/NAME
std::string printer_folder(const std::string& name);
// <user add-ons>/Print/Tessary
std::string driver_addon_path();
// <system add-ons>/Print/transport
std::string transport_folder();

// Makes sure the root's add-on folders hold the driver and the transports this program was
// built or installed with: a missing entry, or a link of ours that points elsewhere, becomes a link
// to the copy beside this executable. A real file a user put there is left alone.
bool ensure_addons_installed(std::string* error);

// A helper program this program was built or installed with (the document reader), in the
// same tree as its add-ons; empty when there is none.
std::string bundled_program(const std::string& name);

}  // namespace frontend
