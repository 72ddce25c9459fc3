// What the package tests and the service unit's tests share: programs run to their end, and
// the service started as systemd starts it from its unit and its defaults file.
#pragma once

#include <map>
#include <string>
#include <vector>

typedef std::map<std::string, std::string> Environment;

std::string read_text(const std::string& path);

// A new folder below the temporary folder, open for every user to read (CUPS runs filters as lp).
std::string make_temporary_folder(const std::string& name);

// Runs a program to its end with standard output and error in *output, in this process's
// environment with `changes` made to it; its exit status, or -1 when it did not exit.
int run(const std::vector<std::string>& arguments, std::string* output,
	const Environment& changes = {});

// The command line the unit starts, its variables taken from the unit and the defaults file
// (for /etc/default/tessary-printer-app), /usr/bin being `binaries`.
std::vector<std::string> service_command(const std::string& unitPath,
	const std::string& defaultsPath, const std::string& binaries);

// The shipped defaults say where the service listens; started with them (on a free port in
// place of theirs, which may be taken here) it listens there only, answers over HTTP, keeps
// its state in its state folder readable by itself only (as a user of its own, where the
// test may change its user), and stops on SIGTERM. Then on
// another loopback address, as an administrator changes it. `extra` is what the program's
// environment needs beyond the unit's.
void check_service_starts_as_configured(const std::string& unitPath,
	const std::string& defaultsPath, const std::string& binaries, const Environment& extra);

// systemd-analyze verify of the unit, in a root that holds it and the program it starts:
// silent when all is well.
void check_unit_verifies(const std::string& root, const std::string& unit);
bool have_systemd_analyze();
// The targets every system service is ordered with, copied into a root of the unit's own.
void add_system_targets(const std::string& root);
