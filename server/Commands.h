// The sub-commands of `tessary`, one file each: every one adds its part of the command line
// (its options, kept for as long as the command line is) and what it does when it is the
// one given; main parses the line and runs it.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace server {

struct Command {
	CLI::App* app;             // the sub-command's part of the command line
	std::function<int()> run;  // what it does; gives the exit status
};
typedef std::vector<Command> Commands;

void add_printer_commands(CLI::App& app, Commands* commands);  // printer add | list | remove
void add_settings_command(CLI::App& app, Commands* commands);  // settings
void add_setup_commands(CLI::App& app, Commands* commands);    // page-setup, job-setup
void add_print_command(CLI::App& app, Commands* commands);     // print
void add_spool_command(CLI::App& app, Commands* commands);     // spool
void add_preview_command(CLI::App& app, Commands* commands);   // preview

// The page setup's papers and the job setup's resolutions, for the options that take them.
std::string paper_labels();                     // "US Letter, US Legal, ..., Other"
std::vector<std::string> resolution_choices();  // "300", "150", "75"

// "tessary: MESSAGE" on standard error; gives the status of a failed command, 1.
int fail(const std::string& message);
// The same for a usage error (a value or an argument the tool does not take); gives 2, the
// status of a command line that does not parse.
int usage_error(const std::string& message);
const int kUsageStatus = 2;

}  // namespace server
