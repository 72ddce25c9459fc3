#include "PrinterFolder.h"

#include "DeviceModel.h"
#include "DriverAddOn.h"
#include "DriverFolders.h"

#include <TypeConstants.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace frontend {

status_t write_string_attr(BNode& node, const char* name, const std::string& value)
{
	ssize_t written = node.WriteAttr(name, B_STRING_TYPE, 0, value.c_str(), value.size() + 1);
	return written < 0 ? static_cast<status_t>(written) : B_OK;
}

bool make_printer_folder(const std::string& name, const std::string& transport,
	const std::string& address, DriverAddOn* driver, std::string* folder, std::string* error)
{
	std::string folders = printers_folder(true);
	if (folders.empty()) {
		*error = "cannot create the printers folder";
		return false;
	}
	*folder = folders + "/" + name;
	std::error_code code;
	if (fs::exists(*folder, code)) {
		*error = "a printer named \"" + name + "\" exists already";
		return false;
	}
	if (!fs::create_directory(*folder, code)) {
		*error = "cannot create " + *folder + ": " + code.message();
		return false;
	}
	// The printer folder keeps its attributes, and later the records of its jobs, in extended
	// attributes, which the file system of the root must take.
	BNode node(folder->c_str());
	status_t status = node.InitCheck();
	if (status == B_OK)
		status = write_string_attr(node, device::kTransportAttr, transport);
	if (status == B_OK && !address.empty())
		status = write_string_attr(node, device::kTransportAddressAttr, address);
	if (status != B_OK) {
		*error = "cannot write the attributes of " + *folder + ": " + strerror_be(status);
		fs::remove_all(*folder, code);
		return false;
	}
	if (!driver->AddPrinter(name, error)) {
		fs::remove_all(*folder, code);
		return false;
	}
	return true;
}

bool own_printer_folder(const std::string& name, const std::string& transport,
	DriverAddOn* driver, std::string* folder, std::string* error)
{
	*folder = printer_folder(name);
	std::error_code code;
	if (fs::is_directory(*folder, code))
		return true;
	return make_printer_folder(name, transport, "", driver, folder, error);
}

}  // namespace frontend
