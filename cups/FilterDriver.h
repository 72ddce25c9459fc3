// The driver as the CUPS filters run it: the add-on they were built or installed with,
// loaded from a private root folder below $TMPDIR that holds one printer, "CUPS", whose
// transport is "Pipe" to standard output and whose "compression" is the job's. The folder is
// removed when the object goes.
#pragma once

#include "DriverAddOn.h"

#include <memory>
#include <string>

namespace cups_filter {

class FilterDriver {
public:
	// `program` names the folder ("rastertotessary-XXXXXX").
	explicit FilterDriver(const std::string& program) : fProgram(program) {}
	~FilterDriver();
	FilterDriver(const FilterDriver&) = delete;
	FilterDriver& operator=(const FilterDriver&) = delete;

	// Makes the root folder and sets TESSARY_ROOT to it; the filter may keep files of its own
	// there (File()) before the driver is loaded.
	bool MakeRoot(std::string* error);
	// Loads the add-on and makes the printer, its rows sent as `compression` (a name of the
	// device model's) says.
	bool Open(const std::string& compression, std::string* error);

	// A file of the filter's in the root folder.
	std::string File(const std::string& name) const { return fRoot + "/" + name; }
	frontend::DriverAddOn* AddOn() const { return fAddOn.get(); }
	// The printer's folder.
	const std::string& Printer() const { return fPrinter; }

private:
	std::string fProgram;
	std::string fRoot;
	std::string fPrinter;
	std::unique_ptr<frontend::DriverAddOn> fAddOn;
};

}  // namespace cups_filter
