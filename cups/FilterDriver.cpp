#include "FilterDriver.h"

#include "DeviceModel.h"
#include "PrinterFolder.h"

#include <Node.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace cups_filter {

FilterDriver::~FilterDriver()
{
	fAddOn.reset();  // unloaded before its folder goes
	if (!fRoot.empty()) {
		std::error_code ignored;
		fs::remove_all(fRoot, ignored);
	}
}

bool FilterDriver::MakeRoot(std::string* error)
{
	const char* temporary = getenv("TMPDIR");
	std::string pattern = std::string(temporary != nullptr && temporary[0] != '\0'
		? temporary : "/tmp") + "/" + fProgram + "-XXXXXX";
	if (mkdtemp(pattern.data()) == nullptr) {
		*error = "cannot create a folder in " + pattern + ": " + strerror(errno);
		return false;
	}
	fRoot = pattern;
	setenv("TESSARY_ROOT", fRoot.c_str(), 1);
	return true;
}

bool FilterDriver::Open(const std::string& compression, std::string* error)
{
	if (fRoot.empty() && !MakeRoot(error))
		return false;
	fAddOn = std::make_unique<frontend::DriverAddOn>();
	// No address: the transport's default, standard output. The printer folder keeps what
	// the driver and the transport record in extended attributes, which the file system
	// of $TMPDIR must take.
	if (!fAddOn->Load(error)
		|| !frontend::own_printer_folder("CUPS", device::kPipeTransport, fAddOn.get(),
			&fPrinter, error))
		return false;
	BNode node(fPrinter.c_str());
	status_t status = frontend::write_string_attr(node, device::kCompressionAttr, compression);
	if (status != B_OK) {
		*error = "cannot write the compression of " + fPrinter + ": " + strerror_be(status);
		return false;
	}
	return true;
}

}  // namespace cups_filter
