// tessary-printer-app: the Tessary driver as a driverless IPP Everywhere printer. PAPPL's main
// loop gives the standard sub-commands (server, add, printers, submit, status, shutdown, ...)
// and the web interface; the drivers, the system and the job callbacks are ours.
#include "Drivers.h"
#include "System.h"
#include "TessaryVersion.h"

#include <csignal>
#include <cstdlib>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
// Leaks of the libraries, not of the application: fontconfig keeps part of its configuration
// parse unreachable, and PAPPL's sub-commands leave their -o options and their connection to
// the server to the exit.
extern "C" const char* __lsan_default_suppressions()
{
	return "leak:libfontconfig.so\n"
		"leak:cupsAddOption\n"
		"leak:libcups.so\n"
		"leak:papplSystemSetFooterHTML\n";
}
#endif

int main(int argc, char* argv[])
{
	// PAPPL's own --version prints the bare number; the application names itself as every
	// program of the driver does.
	if (answer_version(argc, argv, "tessary-printer-app"))
		return 0;
	// The driver's own folders (its printers, the add-ons it loads) live beside the
	// application's state unless a root is named.
	const char* root = getenv("TESSARY_ROOT");
	if (root == nullptr || root[0] == '\0') {
		std::string driverRoot = printer_app::application_folder() + "/driver";
		setenv("TESSARY_ROOT", driverRoot.c_str(), 1);
	}
	// A device or pipe that goes away must fail the write, not end the process.
	signal(SIGPIPE, SIG_IGN);
	printer_app::limit_device_discovery();

	return papplMainloop(argc, argv, TESSARY_VERSION, "Tessary printer application",
		printer_app::kDriverCount, printer_app::kDrivers, nullptr, printer_app::driver_callback,
		nullptr, nullptr, printer_app::make_system, nullptr, nullptr);
}
