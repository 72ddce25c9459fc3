// printer add | set | list | remove | default
#include "Commands.h"
#include "DeviceModel.h"
#include "Printers.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace server {

namespace {

struct PrinterOptions {
	std::string name;
	std::string transport;
	std::string address;
	int32 timeout = 0;  // seconds; 0 when not given
	std::string compression;  // empty when not given
	bool namesOnly = false;  // list: one name a line, nothing else
};

// The --compression option of `add` and `set`: the device model's names.
CLI::Option* add_compression_option(CLI::App* command, std::string* compression)
{
	std::vector<std::string> names;
	for (const device::Compression& row : device::kCompressions)
		names.push_back(row.name);
	return command->add_option("--compression", *compression,
		"How the driver sends its raster rows: none (whole, what every printer reads; the "
		"default) or tiff (TIFF PackBits, blank rows skipped: several times fewer bytes, for "
		"printers on a slow link)")->check(CLI::IsMember(names));
}

int run_add(const PrinterOptions& options)
{
	std::string error;
	if (!add_printer(options.name, options.transport, options.address, options.timeout,
			&error))
		return fail(error);
	if (!options.compression.empty()
		&& !set_printer_compression(options.name, options.compression, &error)) {
		std::string ignored;
		remove_printer(options.name, &ignored);
		return fail(error);
	}
	printf("added printer %s (%s%s%s)\n", options.name.c_str(), options.transport.c_str(),
		options.address.empty() ? "" : " ", options.address.c_str());
	return 0;
}

int run_set(const PrinterOptions& options)
{
	std::string error;
	if (!set_printer_compression(options.name, options.compression, &error))
		return fail(error);
	printf("printer %s: compression %s\n", options.name.c_str(), options.compression.c_str());
	return 0;
}

int run_list(bool namesOnly)
{
	std::string error;
	std::vector<PrinterInfo> printers;
	if (!list_printers(&printers, &error))
		return fail(error);
	for (const PrinterInfo& info : printers) {
		if (namesOnly)
			printf("%s\n", info.name.c_str());
		else
			printf("%s\t%s\t%s\t%s\n", info.name.c_str(), info.transport.c_str(),
				info.address.c_str(), info.compression.c_str());
	}
	return 0;
}

// With a name, stores it as the default; without, prints the default printer's name alone,
// so that scripts can take it, and says on standard error where it comes from.
int run_default(const PrinterOptions& options)
{
	std::string error;
	if (!options.name.empty()) {
		if (!set_default_printer(options.name, &error))
			return fail(error);
		printf("default printer: %s\n", options.name.c_str());
		return 0;
	}
	bool fromEnvironment = false;
	std::string name = default_printer(&fromEnvironment);
	if (name.empty())
		return fail("no default printer; set one with `tessary printer default NAME` or "
			"TESSARY_PRINTER");
	printf("%s\n", name.c_str());
	if (fromEnvironment)
		fprintf(stderr, "tessary: the default printer comes from TESSARY_PRINTER\n");
	if (!is_printer(name))
		fprintf(stderr, "tessary: there is no printer named \"%s\"\n", name.c_str());
	return 0;
}

int run_remove(const PrinterOptions& options)
{
	std::string error;
	if (!remove_printer(options.name, &error))
		return fail(error);
	return 0;
}

}  // namespace

void add_printer_commands(CLI::App& app, Commands* commands)
{
	auto options = std::make_shared<PrinterOptions>();
	CLI::App* printer = app.add_subcommand("printer", "Add, change, list or remove printers");
	printer->require_subcommand(1);

	CLI::App* add = printer->add_subcommand("add", "Add a printer");
	add->add_option("NAME", options->name, "Name of the new printer")->required();
	add->add_option("--transport", options->transport,
		"How jobs reach the printer: File or Socket")->required();
	add->add_option("--address", options->address,
		"File: the path printed to (replaced by each job; without it, a new file per job in "
		"the printer's folder). Socket: host:port (port 9100 by default)");
	add->add_option("--timeout", options->timeout,
		"Socket: seconds the printer may take no data before the job fails (default "
		+ std::to_string(device::kDefaultTransportTimeout) + ")")
		->check(CLI::Range(device::kMinTransportTimeout, device::kMaxTransportTimeout));
	add_compression_option(add, &options->compression);
	commands->push_back({add, [options] { return run_add(*options); }});

	CLI::App* set = printer->add_subcommand("set", "Change a printer's settings");
	set->add_option("NAME", options->name, "Printer to change")->required();
	add_compression_option(set, &options->compression)->required();
	commands->push_back({set, [options] { return run_set(*options); }});

	CLI::App* list = printer->add_subcommand("list",
		"List the printers: name, transport, address and compression, separated by tabs");
	list->add_flag("--names", options->namesOnly, "Only the names, one a line");
	commands->push_back({list, [options] { return run_list(options->namesOnly); }});

	CLI::App* remove = printer->add_subcommand("remove", "Remove a printer");
	remove->add_option("NAME", options->name, "Printer to remove")->required();
	commands->push_back({remove, [options] { return run_remove(*options); }});

	CLI::App* byDefault = printer->add_subcommand("default",
		"Set the printer `tessary print` uses when it is given none, or, without a name, "
		"show it (TESSARY_PRINTER in the environment wins over the one set here)");
	byDefault->add_option("NAME", options->name, "Printer to use by default");
	commands->push_back({byDefault, [options] { return run_default(*options); }});
}

}  // namespace server
