// tessary: the print server stand-in. Keeps printers and their settings, spools documents,
// runs jobs through the driver add-on and its transports, and previews what a printer
// would print. Each sub-command lives in a file of its own (Commands.h).

#include "Commands.h"
#include "TessaryVersion.h"

#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
// fontconfig leaves part of its configuration parse unreachable for the life of the process;
// a sanitizer build of the tool should not report the library's leak as its own.
extern "C" const char* __lsan_default_suppressions()
{
	return "leak:libfontconfig.so\n";
}
#endif
#if defined(__SANITIZE_THREAD__)
// Cairo hands objects between threads through lock-free pools whose atomics ThreadSanitizer
// does not see in the uninstrumented library: windows drawing at once (a dialog and its
// pop-up menu on the X display), or a page spooled while a band prints, look like a race
// inside Cairo's own copies. libxcb takes two of its internal locks in either order on the
// first request that needs an extension's data. The storage kit finds the path of a node by
// looking at every descriptor the process holds (fstat), some of them another thread's, as
// the documents being spooled; ThreadSanitizer counts a look at a descriptor as a use of it.
extern "C" const char* __tsan_default_suppressions()
{
	return "race:libcairo.so\n"
		   "deadlock:libxcb.so\n"
		   "race:storage_private::path_of_node_ref\n";
}
#endif

namespace server {

int fail(const std::string& message)
{
	fprintf(stderr, "tessary: %s\n", message.c_str());
	return 1;
}

int usage_error(const std::string& message)
{
	fail(message);
	return kUsageStatus;
}

}  // namespace server

int main(int argc, char** argv)
{
	CLI::App app{"tessary: print with the Tessary colour ink-jet driver", "tessary"};
	app.require_subcommand(1);
	app.set_version_flag("--version", "tessary " TESSARY_VERSION, "Print the version and exit");

	server::Commands commands;
	server::add_printer_commands(app, &commands);
	server::add_settings_command(app, &commands);
	server::add_setup_commands(app, &commands);
	server::add_print_command(app, &commands);
	server::add_spool_command(app, &commands);
	server::add_preview_command(app, &commands);

	try {
		app.parse(argc, argv);
	} catch (const CLI::CallForHelp& help) {
		return app.exit(help);
	} catch (const CLI::CallForAllHelp& help) {
		return app.exit(help);
	} catch (const CLI::CallForVersion& version) {
		return app.exit(version);
	} catch (const CLI::ParseError& parseError) {
		fprintf(stderr, "tessary: %s (see --help)\n", parseError.what());
		return server::kUsageStatus;
	}

	for (const server::Command& command : commands) {
		if (command.app->parsed())
			return command.run();
	}
	return 0;
}
