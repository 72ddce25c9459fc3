// A printer's folder as the print server keeps it: printers/NAME below the root, with the
// attribute "transport" naming its transport add-on and "transport_address" where that
// transport prints, labelled by the driver's add_printer once it is made.
#pragma once

#include <Node.h>

#include <string>

namespace frontend {

class DriverAddOn;

// Makes printers/NAME with its attributes (no address: none is written) and lets the driver
// label it. False, with nothing left behind, when the folder exists already or a step fails;
// *folder gets its path either way.
bool make_printer_folder(const std::string& name, const std::string& transport,
	const std::string& address, DriverAddOn* driver, std::string* folder, std::string* error);

// The folder of a printer that a way in keeps for itself (the CUPS filter's printer, a
// printer application's printers): made as above the first time it is asked for, found after.
bool own_printer_folder(const std::string& name, const std::string& transport,
	DriverAddOn* driver, std::string* folder, std::string* error);

// Writes a string attribute with its NUL, as the print server writes them.
status_t write_string_attr(BNode& node, const char* name, const std::string& value);

}  // namespace frontend
