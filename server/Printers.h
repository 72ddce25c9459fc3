// The printers the print tool knows: one folder each below <common settings>/printers, with
// the attributes "transport" (the transport add-on's name), "transport_address", for a
// Socket printer given one, "transport_timeout", and, once one is chosen, "compression".
#pragma once

#include <SupportDefs.h>

#include <string>
#include <vector>

namespace server {

struct PrinterInfo {
	std::string name;
	std::string transport;
	std::string address;
	std::string comments;  // written by the driver when the printer was added
	std::string compression;  // how the driver sends its rows: none (also when unset) or tiff
};

// The transports the tool knows how to set up.
bool is_known_transport(const std::string& name);

// A name that can be a folder below "printers": not empty, no '/', not "." or "..".
bool is_valid_printer_name(const std::string& name, std::string* error);

// Whether NAME is a printer the tool keeps (a valid name whose folder is there).
bool is_printer(const std::string& name);

// The default printer of `tessary print`: TESSARY_PRINTER when the environment has it (not
// empty), else the one set_default_printer stored as the attribute "default_printer" of the
// printers folder; empty when neither. *fromEnvironment, when given, says which.
std::string default_printer(bool* fromEnvironment = nullptr);
// Stores NAME, which must be a printer, as the default.
bool set_default_printer(const std::string& name, std::string* error);

// Creates the folder and its attributes, then lets the driver label it (add_printer).
// A relative File address is made absolute against the current folder. A Socket printer may
// be given its "transport_timeout" in seconds; 0 writes none (the transport's default).
bool add_printer(const std::string& name, const std::string& transport,
	const std::string& address, std::string* error);
bool add_printer(const std::string& name, const std::string& transport,
	const std::string& address, int32 timeoutSeconds, std::string* error);
// Removes the printer's folder; the stored default, when it is this printer, goes too.
bool remove_printer(const std::string& name, std::string* error);
// Writes the printer's "compression": one of the device model's names (none, tiff).
bool set_printer_compression(const std::string& name, const std::string& compression,
	std::string* error);
bool list_printers(std::vector<PrinterInfo>* printers, std::string* error);
bool find_printer(const std::string& name, PrinterInfo* info, std::string* error);

}  // namespace server
