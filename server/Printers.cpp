#include "Printers.h"

#include "DeviceModel.h"
#include "DriverAddOn.h"
#include "DriverFolders.h"
#include "PrinterFolder.h"
#include "SettingsStore.h"
#include "TransportOutcome.h"

#include <Node.h>
#include <TypeConstants.h>
#include <fs_attr.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace server {

using frontend::printer_folder;
using frontend::printers_folder;

namespace {

const char kDefaultPrinterAttr[] = "default_printer";  // on the printers folder
const char kDefaultPrinterVariable[] = "TESSARY_PRINTER";

std::string stored_default_printer()
{
	std::string folder = printers_folder(false);
	std::error_code code;
	if (folder.empty() || !fs::is_directory(folder, code))
		return std::string();
	BNode node(folder.c_str());
	return read_string_attr(node, kDefaultPrinterAttr);
}

// Forgets the stored default when it is NAME.
bool clear_default_printer_if(const std::string& name, std::string* error)
{
	if (stored_default_printer() != name)
		return true;
	std::string folder = printers_folder(false);
	BNode node(folder.c_str());
	status_t status = node.RemoveAttr(kDefaultPrinterAttr);
	if (status != B_OK && status != B_ENTRY_NOT_FOUND) {
		*error = "cannot clear the default printer on " + folder + ": " + strerror_be(status);
		return false;
	}
	return true;
}

}  // namespace

bool is_known_transport(const std::string& name)
{
	return name == "File" || name == "Socket";
}

bool is_valid_printer_name(const std::string& name, std::string* error)
{
	if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos
		|| name.find('\0') != std::string::npos) {
		*error = "invalid printer name \"" + name + "\" (it names a folder: no '/', not . or ..)";
		return false;
	}
	if (name.size() > 200) {
		*error = "printer name too long";
		return false;
	}
	// The printers are listed one a line (and their names completed by the shell): a name
	// holds no line break, tab or other control character.
	for (unsigned char c : name) {
		if (c < 0x20 || c == 0x7f) {
			*error = "invalid printer name (no line breaks, tabs or other control characters)";
			return false;
		}
	}
	return true;
}

bool is_printer(const std::string& name)
{
	std::string ignored;
	std::error_code code;
	return is_valid_printer_name(name, &ignored) && fs::is_directory(printer_folder(name), code);
}

std::string default_printer(bool* fromEnvironment)
{
	const char* variable = getenv(kDefaultPrinterVariable);
	bool fromVariable = variable != nullptr && variable[0] != '\0';
	if (fromEnvironment != nullptr)
		*fromEnvironment = fromVariable;
	return fromVariable ? std::string(variable) : stored_default_printer();
}

bool set_default_printer(const std::string& name, std::string* error)
{
	PrinterInfo info;
	if (!find_printer(name, &info, error))
		return false;
	std::string folder = printers_folder(false);
	BNode node(folder.c_str());
	status_t status = frontend::write_string_attr(node, kDefaultPrinterAttr, name);
	if (status != B_OK) {
		*error = "cannot store the default printer on " + folder + ": " + strerror_be(status);
		return false;
	}
	return true;
}

bool add_printer(const std::string& name, const std::string& transport,
	const std::string& address, std::string* error)
{
	return add_printer(name, transport, address, 0, error);
}

bool add_printer(const std::string& name, const std::string& transport,
	const std::string& address, int32 timeoutSeconds, std::string* error)
{
	if (!is_valid_printer_name(name, error))
		return false;
	if (!is_known_transport(transport)) {
		*error = "unknown transport \"" + transport + "\" (File or Socket)";
		return false;
	}
	if (timeoutSeconds != 0 && transport != "Socket") {
		*error = "a timeout is for Socket printers only";
		return false;
	}
	if (timeoutSeconds != 0 && (timeoutSeconds < device::kMinTransportTimeout
			|| timeoutSeconds > device::kMaxTransportTimeout)) {
		*error = "the timeout must be " + std::to_string(device::kMinTransportTimeout) + " to "
			+ std::to_string(device::kMaxTransportTimeout) + " seconds";
		return false;
	}
	std::error_code code;
	std::string storedAddress = address;
	if (transport == "File" && !address.empty() && address[0] != '/')
		storedAddress = (fs::current_path(code) / address).lexically_normal().string();

	frontend::DriverAddOn driver;
	if (!driver.Load(error))
		return false;
	std::string folder;
	if (!frontend::make_printer_folder(name, transport, storedAddress, &driver, &folder, error))
		return false;
	if (timeoutSeconds != 0) {
		BNode node(folder.c_str());
		status_t status = frontend::write_string_attr(node, device::kTransportTimeoutAttr,
			std::to_string(timeoutSeconds));
		if (status != B_OK) {
			*error = "cannot write the timeout of " + folder + ": " + strerror_be(status);
			fs::remove_all(folder, code);
			return false;
		}
	}
	BMessage settings;
	device::default_settings(&settings);
	if (!save_settings(name, settings, error)) {
		fs::remove_all(folder, code);
		return false;
	}
	return true;
}

bool remove_printer(const std::string& name, std::string* error)
{
	if (!is_valid_printer_name(name, error))
		return false;
	std::string folder = printer_folder(name);
	std::error_code code;
	if (!fs::is_directory(folder, code)) {
		*error = "no printer named \"" + name + "\"";
		return false;
	}
	fs::remove_all(folder, code);
	if (code) {
		*error = "cannot remove " + folder + ": " + code.message();
		return false;
	}
	return clear_default_printer_if(name, error);
}

bool set_printer_compression(const std::string& name, const std::string& compression,
	std::string* error)
{
	int row = device::compression_row(compression);
	if (row < 0 || compression != device::kCompressions[row].name) {
		*error = "unknown compression \"" + compression + "\" ("
			+ device::compressions_in_words() + ")";
		return false;
	}
	PrinterInfo info;
	if (!find_printer(name, &info, error))
		return false;
	std::string folder = printer_folder(name);
	BNode node(folder.c_str());
	status_t status = frontend::write_string_attr(node, device::kCompressionAttr, compression);
	if (status != B_OK) {
		*error = "cannot write the compression of " + folder + ": " + strerror_be(status);
		return false;
	}
	return true;
}

bool find_printer(const std::string& name, PrinterInfo* info, std::string* error)
{
	if (!is_valid_printer_name(name, error))
		return false;
	std::string folder = printer_folder(name);
	std::error_code code;
	if (!fs::is_directory(folder, code)) {
		*error = "no printer named \"" + name + "\" (see `tessary printer list`)";
		return false;
	}
	BNode node(folder.c_str());
	info->name = name;
	info->transport = read_string_attr(node, device::kTransportAttr);
	info->address = read_string_attr(node, device::kTransportAddressAttr);
	info->comments = read_string_attr(node, device::kCommentsAttr);
	info->compression = device::compresses_rows(read_string_attr(node, device::kCompressionAttr))
		? device::kCompressions[device::kTiffCompression].name
		: device::kCompressions[device::kDefaultCompression].name;
	return true;
}

bool list_printers(std::vector<PrinterInfo>* printers, std::string* error)
{
	printers->clear();
	std::string folders = printers_folder(false);
	std::error_code code;
	if (!fs::is_directory(folders, code))
		return true;
	for (const fs::directory_entry& entry : fs::directory_iterator(folders, code)) {
		if (!entry.is_directory(code))
			continue;
		PrinterInfo info;
		if (find_printer(entry.path().filename().string(), &info, error))
			printers->push_back(info);
	}
	if (code) {
		*error = "cannot read " + folders + ": " + code.message();
		return false;
	}
	std::sort(printers->begin(), printers->end(),
		[](const PrinterInfo& a, const PrinterInfo& b) { return a.name < b.name; });
	return true;
}

}  // namespace server
