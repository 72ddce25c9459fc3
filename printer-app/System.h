// The application's PAPPL system: made from the `server` sub-command's -o options, listening
// on loopback unless told otherwise, its web interface's administrative pages behind an access
// password, and the document formats it prints registered before it runs.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace printer_app {

// The -o options of `server`, as read; every one has a default.
struct SystemOptions {
	int port = 0;                        // "server-port"; 0 lets PAPPL choose
	std::string listen = "localhost";    // "listen-hostname": loopback by default
	std::string spoolDirectory;          // "spool-directory"; empty: PAPPL's own
	std::string logFile = "-";           // "log-file"; "-" is standard error
	pappl_loglevel_t logLevel = PAPPL_LOGLEVEL_WARN;  // "log-level"
	int deviceTimeout = 60;              // "device-timeout": seconds a device may take nothing
	std::string authService;             // "auth-service": a PAM service for IPP operations
	std::string adminGroup;              // "admin-group"
	pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE
		| PAPPL_SOPTIONS_WEB_SECURITY | PAPPL_SOPTIONS_WEB_TLS;  // and "server-options"
};

// False, with the reason, for a value the option cannot take.
bool parse_system_options(int count, cups_option_t* options, SystemOptions* parsed,
	std::string* error);

// Where the application keeps what is its own: $SNAP_COMMON, where PAPPL then keeps its state
// and control socket too, or ~/.local/share/tessary-printer-app.
std::string application_folder();

// The first access password of the web interface, made at the first start and kept in
// <application folder>/admin-password (readable by its owner only). False with the reason
// when it can be neither read nor made.
bool initial_admin_password(const std::string& folder, std::string* password,
	std::string* error);

// Device discovery without broadcasts: PAPPL's SNMP search of the network is left out, and
// its DNS-SD search too when no DNS-SD daemon answers (PAPPL would stop on an assertion).
// Printers on the network are added by address (socket://HOST:9100). Call before any
// device is listed or opened.
void limit_device_discovery();

// The system callback of papplMainloop.
pappl_system_t* make_system(int count, cups_option_t* options, void* context);

}  // namespace printer_app
