#include "System.h"

#include "DeviceRun.h"
#include "Devices.h"
#include "Drivers.h"

#include <avahi-client/client.h>
#include <cups/cups.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

// PAPPL registers its device schemes together, the first time one is asked for, and keeps
// the first registration of a name. These add its file, USB and network schemes one group at
// a time, so that schemes of ours can take a name first. They are not part of PAPPL's
// headers; where the library lacks them, its own schemes stay as they are.
extern "C" {
void _papplDeviceAddFileScheme() __attribute__((weak));
void _papplDeviceAddUSBScheme() __attribute__((weak));
void _papplDeviceAddNetworkSchemes() __attribute__((weak));
}

namespace printer_app {

namespace {

const char* const kPasswordFileName = "admin-password";
const size_t kPasswordLength = 16;

struct LogLevelName {
	const char* name;
	pappl_loglevel_t level;
};

const LogLevelName kLogLevels[] = {
	{"debug", PAPPL_LOGLEVEL_DEBUG},
	{"info", PAPPL_LOGLEVEL_INFO},
	{"warn", PAPPL_LOGLEVEL_WARN},
	{"error", PAPPL_LOGLEVEL_ERROR},
	{"fatal", PAPPL_LOGLEVEL_FATAL},
};

struct ServerOption {
	const char* name;
	pappl_soptions_t set;
	pappl_soptions_t clear;
};

const ServerOption kServerOptions[] = {
	// Plain IPP and HTTP: on loopback nothing travels where TLS would protect it.
	{"no-tls", PAPPL_SOPTIONS_NO_TLS, PAPPL_SOPTIONS_WEB_TLS},
	{"web-log", PAPPL_SOPTIONS_WEB_LOG, 0},
	{"no-web-interface", 0, PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_SECURITY
		| PAPPL_SOPTIONS_WEB_TLS | PAPPL_SOPTIONS_WEB_LOG},
};

const char* option(int count, cups_option_t* options, const char* name)
{
	return cupsGetOption(name, count, options);
}

bool parse_server_options(const std::string& list, pappl_soptions_t* soptions,
	std::string* error)
{
	std::stringstream items(list);
	std::string item;
	while (std::getline(items, item, ',')) {
		if (item.empty())
			continue;
		const ServerOption* found = nullptr;
		for (const ServerOption& known : kServerOptions)
			found = item == known.name ? &known : found;
		if (found == nullptr) {
			*error = "unknown server option \"" + item + "\" (no-tls, web-log, no-web-interface)";
			return false;
		}
		*soptions = (*soptions | found->set) & ~found->clear;
	}
	return true;
}

std::string random_password()
{
	static const char kLetters[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
	unsigned char bytes[kPasswordLength];
	size_t got = 0;
	while (got < sizeof(bytes)) {
		ssize_t more = getrandom(bytes + got, sizeof(bytes) - got, 0);
		if (more < 0 && errno == EINTR)
			continue;
		if (more <= 0)
			return std::string();
		got += static_cast<size_t>(more);
	}
	std::string password;
	for (unsigned char byte : bytes)
		password += kLetters[byte % (sizeof(kLetters) - 1)];
	return password;
}

bool read_password(const std::string& path, std::string* password)
{
	FILE* file = fopen(path.c_str(), "r");
	if (file == nullptr)
		return false;
	char line[256] = "";
	bool read = fgets(line, sizeof(line), file) != nullptr;
	fclose(file);
	*password = line;
	while (!password->empty() && (password->back() == '\n' || password->back() == '\r'))
		password->pop_back();
	return read && !password->empty();
}

// Whether a DNS-SD daemon answers; without one PAPPL cannot announce or browse.
bool dnssd_available()
{
	AvahiSimplePoll* poll = avahi_simple_poll_new();
	if (poll == nullptr)
		return false;
	int error = 0;
	AvahiClient* client = avahi_client_new(avahi_simple_poll_get(poll),
		static_cast<AvahiClientFlags>(0), nullptr, nullptr, &error);
	bool available = client != nullptr;
	if (client != nullptr)
		avahi_client_free(client);
	avahi_simple_poll_free(poll);
	return available;
}

// A device scheme that finds nothing and opens nothing.
bool list_nothing(pappl_device_cb_t, void*, pappl_deverror_cb_t, void*)
{
	return false;
}

bool open_nothing(pappl_device_t* device, const char* uri, const char*)
{
	papplDeviceError(device, "Printers at '%s' cannot be reached from here.", uri);
	return false;
}

void close_nothing(pappl_device_t*)
{
}

ssize_t read_nothing(pappl_device_t*, void*, size_t)
{
	return -1;
}

ssize_t write_nothing(pappl_device_t*, const void*, size_t)
{
	return -1;
}

pappl_preason_t no_status(pappl_device_t*)
{
	return PAPPL_PREASON_NONE;
}

void remove_discovery(const char* scheme, pappl_devtype_t type)
{
	papplDeviceAddScheme(scheme, type, list_nothing, open_nothing, close_nothing, read_nothing,
		write_nothing, no_status, nullptr);
}

// The jobs a server left behind when it stopped: their documents, and the job processes'
// settings. PAPPL's record of each job (its .ipp file) stays, so that the job is listed as
// aborted rather than printed again at the next start; the server's own keys stay too.
void remove_left_jobs(const std::string& spoolDirectory)
{
	std::error_code code;
	if (spoolDirectory.empty() || !fs::is_directory(spoolDirectory, code))
		return;
	for (const fs::directory_entry& entry : fs::directory_iterator(spoolDirectory, code)) {
		std::string name = entry.path().filename().string();
		// PAPPL names a job's files pPPPPPjJJJJJJJJJ-NAME.EXT.
		bool jobFile = name.size() > 17 && name[0] == 'p' && name[6] == 'j' && name[16] == '-'
			&& name.find_first_not_of("0123456789", 1) == 6
			&& name.find_first_not_of("0123456789", 7) == 16;
		if (jobFile && entry.path().extension() != ".ipp" && entry.is_regular_file(code))
			fs::remove(entry.path(), code);
	}
}

// PAPPL 1.3.1 turns a streamed raster job away (busy) with its printer's lock held while it
// takes the system's, and saves its state the other way round: a save at that moment stops
// the server for good. So the state is saved while this thread holds the lock of every
// printer that has jobs (through PAPPL's iteration of them, which holds it): no turning away
// can then be half-way through. A printer without jobs has no job to turn away.
struct Saving {
	pappl_system_t* system;
	const char* path;
	std::vector<pappl_printer_t*> printers;
	bool saved = false;
};

struct SavingLevel {
	Saving* saving;
	size_t index;
	bool entered = false;
};

void save_holding(Saving* saving, size_t index);

void save_inside(pappl_job_t*, void* data)
{
	auto* level = static_cast<SavingLevel*>(data);
	if (level->entered)
		return;
	level->entered = true;
	save_holding(level->saving, level->index + 1);
}

void save_holding(Saving* saving, size_t index)
{
	if (index == saving->printers.size()) {
		saving->saved = papplSystemSaveState(saving->system, saving->path);
		return;
	}
	SavingLevel level = {saving, index};
	papplPrinterIterateAllJobs(saving->printers[index], save_inside, &level, 1, 1);
	if (!level.entered)
		save_holding(saving, index + 1);
}

void list_printer(pappl_printer_t* printer, void* data)
{
	static_cast<std::vector<pappl_printer_t*>*>(data)->push_back(printer);
}

bool save_state(pappl_system_t* system, void* path)
{
	Saving saving = {system, static_cast<const char*>(path), {}};
	papplSystemIteratePrinters(system, list_printer, &saving.printers);
	save_holding(&saving, 0);
	return saving.saved;
}

// PAPPL's state, kept in the application's folder: the printers and the jobs' records. Loaded
// here rather than by PAPPL's main loop so that the jobs left behind are not started again.
// A state that cannot be read is logged and left for the next save to replace.
void load_state(pappl_system_t* system, const std::string& folder,
	const std::string& spoolDirectory)
{
	static std::string sStatePath;  // PAPPL keeps the pointer for its save callback
	sStatePath = folder + "/tessary-printer-app.state";
	remove_left_jobs(spoolDirectory);
	if (access(sStatePath.c_str(), F_OK) == 0 && !papplSystemLoadState(system,
			sStatePath.c_str()))
		papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot read the saved state '%s'.",
			sStatePath.c_str());
	papplSystemSetSaveCallback(system, save_state, sStatePath.data());
}

// Whether `password` is the one PAPPL keeps as its hash "NONCE~HEX", HEX being the SHA2-256 of
// "NONCE:PASSWORD". Compares every character, so that the time taken tells nothing.
bool matches_password_hash(const std::string& stored, const std::string& password)
{
	size_t tilde = stored.find('~');
	if (tilde == std::string::npos || tilde == 0)
		return false;
	std::string salted = stored.substr(0, tilde) + ":" + password;
	unsigned char hash[32];
	char hex[65];
	if (cupsHashData("sha2-256", salted.data(), salted.size(), hash, sizeof(hash)) < 0
		|| cupsHashString(hash, sizeof(hash), hex, sizeof(hex)) == nullptr)
		return false;
	std::string expected = stored.substr(tilde + 1);
	std::string given = hex;
	unsigned difference = expected.size() == given.size() ? 0 : 1;
	for (size_t i = 0; i < expected.size() && i < given.size(); i++)
		difference |= static_cast<unsigned>(expected[i] ^ given[i]);
	return difference == 0;
}

// The password of an HTTP Basic "Authorization" header; empty when there is none.
std::string basic_password(http_t* http)
{
	const char* authorization = httpGetField(http, HTTP_FIELD_AUTHORIZATION);
	if (authorization == nullptr || strncmp(authorization, "Basic ", 6) != 0)
		return std::string();
	char decoded[512];
	int length = sizeof(decoded);
	if (httpDecode64_2(decoded, &length, authorization + 6) == nullptr || length <= 0)
		return std::string();
	std::string credentials(decoded, static_cast<size_t>(length));
	size_t colon = credentials.find(':');
	return colon == std::string::npos ? std::string() : credentials.substr(colon + 1);
}

// IPP operations that print, or look at and manage one's own jobs: open to every client that
// reaches the server, as PAPPL has them without authentication.
bool is_printing_operation(ipp_op_t operation)
{
	switch (operation) {
		case IPP_OP_PRINT_JOB:
		case IPP_OP_PRINT_URI:
		case IPP_OP_VALIDATE_JOB:
		case IPP_OP_CREATE_JOB:
		case IPP_OP_SEND_DOCUMENT:
		case IPP_OP_SEND_URI:
		case IPP_OP_CANCEL_JOB:
		case IPP_OP_CANCEL_MY_JOBS:
		case IPP_OP_CLOSE_JOB:
		case IPP_OP_GET_JOB_ATTRIBUTES:
		case IPP_OP_GET_JOBS:
		case IPP_OP_GET_PRINTER_ATTRIBUTES:
		case IPP_OP_GET_PRINTER_SUPPORTED_VALUES:
		case IPP_OP_HOLD_JOB:
		case IPP_OP_RELEASE_JOB:
		case IPP_OP_IDENTIFY_PRINTER:
		case IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS:
		case IPP_OP_CREATE_JOB_SUBSCRIPTIONS:
		case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
		case IPP_OP_GET_SUBSCRIPTIONS:
		case IPP_OP_RENEW_SUBSCRIPTION:
		case IPP_OP_CANCEL_SUBSCRIPTION:
		case IPP_OP_GET_NOTIFICATIONS:
			return true;
		default:
			return false;
	}
}

// Who may administer the server. PAPPL 1.3.1's own login form lets in any password sent with
// the form's token (it takes the whole stored hash for the salt), so the administrative web
// pages ask for the password over HTTP Basic and it is checked here, against the hash PAPPL
// keeps (the first start's password, or the one set on the Security page). Printing stays
// open; administrative IPP operations stay open on loopback, as without authentication.
http_status_t authorize(pappl_client_t* client, const char*, gid_t, void*)
{
	http_t* http = papplClientGetHTTP(client);
	const char* type = httpGetField(http, HTTP_FIELD_CONTENT_TYPE);
	ipp_t* request = papplClientGetRequest(client);
	if (request != nullptr && type != nullptr && strncmp(type, "application/ipp", 15) == 0) {
		if (is_printing_operation(ippGetOperation(request))
			|| httpAddrLocalhost(httpGetAddress(http)))
			return HTTP_STATUS_CONTINUE;
	}
	char stored[256];
	std::string password = basic_password(http);
	if (!password.empty() && matches_password_hash(papplSystemGetPassword(
			papplClientGetSystem(client), stored, sizeof(stored)), password))
		return HTTP_STATUS_CONTINUE;
	return HTTP_STATUS_UNAUTHORIZED;
}

}  // namespace

bool parse_system_options(int count, cups_option_t* options, SystemOptions* parsed,
	std::string* error)
{
	if (const char* port = option(count, options, "server-port")) {
		char* end = nullptr;
		long value = strtol(port, &end, 10);
		if (end == port || *end != '\0' || value < 1 || value > 65535) {
			*error = std::string("bad server-port \"") + port + "\" (1 to 65535)";
			return false;
		}
		parsed->port = static_cast<int>(value);
	}
	if (const char* listen = option(count, options, "listen-hostname"))
		parsed->listen = listen;
	if (const char* spool = option(count, options, "spool-directory"))
		parsed->spoolDirectory = spool;
	if (const char* log = option(count, options, "log-file"))
		parsed->logFile = log;
	if (const char* level = option(count, options, "log-level")) {
		const LogLevelName* found = nullptr;
		for (const LogLevelName& known : kLogLevels)
			found = strcmp(level, known.name) == 0 ? &known : found;
		if (found == nullptr) {
			*error = std::string("bad log-level \"") + level
				+ "\" (debug, info, warn, error or fatal)";
			return false;
		}
		parsed->logLevel = found->level;
	}
	if (const char* timeout = option(count, options, "device-timeout")) {
		char* end = nullptr;
		long value = strtol(timeout, &end, 10);
		if (end == timeout || *end != '\0' || value < 1 || value > 3600) {
			*error = std::string("bad device-timeout \"") + timeout + "\" (1 to 3600 seconds)";
			return false;
		}
		parsed->deviceTimeout = static_cast<int>(value);
	}
	if (const char* service = option(count, options, "auth-service"))
		parsed->authService = service;
	if (const char* group = option(count, options, "admin-group"))
		parsed->adminGroup = group;
	if (const char* list = option(count, options, "server-options"))
		return parse_server_options(list, &parsed->soptions, error);
	return true;
}

std::string application_folder()
{
	const char* common = getenv("SNAP_COMMON");
	if (common != nullptr && common[0] != '\0')
		return common;
	const char* data = getenv("XDG_DATA_HOME");
	if (data != nullptr && data[0] == '/')
		return std::string(data) + "/tessary-printer-app";
	const char* home = getenv("HOME");
	return std::string(home != nullptr ? home : "/tmp") + "/.local/share/tessary-printer-app";
}

bool initial_admin_password(const std::string& folder, std::string* password,
	std::string* error)
{
	std::string path = folder + "/" + kPasswordFileName;
	if (read_password(path, password))
		return true;
	std::error_code code;
	fs::create_directories(folder, code);
	*password = random_password();
	if (password->empty()) {
		*error = "cannot make a random password";
		return false;
	}
	// Only its owner may read it: it opens the administrative pages.
	int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
	if (fd < 0) {
		*error = "cannot create " + path + ": " + strerror(errno);
		return false;
	}
	std::string line = *password + "\n";
	bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
	if (close(fd) != 0 || !written) {
		unlink(path.c_str());
		*error = "cannot write " + path;
		return false;
	}
	return true;
}

void limit_device_discovery()
{
	// Ours first: PAPPL keeps the first scheme of a name.
	add_device_schemes();
	if (_papplDeviceAddFileScheme == nullptr || _papplDeviceAddUSBScheme == nullptr
		|| _papplDeviceAddNetworkSchemes == nullptr)
		return;
	remove_discovery("snmp", PAPPL_DEVTYPE_SNMP);
	if (!dnssd_available())
		remove_discovery("dnssd", PAPPL_DEVTYPE_DNS_SD);
	_papplDeviceAddFileScheme();
	_papplDeviceAddUSBScheme();
	_papplDeviceAddNetworkSchemes();
}

pappl_system_t* make_system(int count, cups_option_t* options, void*)
{
	SystemOptions parsed;
	std::string error;
	if (!parse_system_options(count, options, &parsed, &error)) {
		fprintf(stderr, "tessary-printer-app: %s\n", error.c_str());
		return nullptr;
	}
	std::string folder = application_folder();
	std::string password;
	if (!initial_admin_password(folder, &password, &error)) {
		fprintf(stderr, "tessary-printer-app: %s\n", error.c_str());
		return nullptr;
	}

	pappl_system_t* system = papplSystemCreate(parsed.soptions, "Tessary", parsed.port,
		"_print,_universal", parsed.spoolDirectory.empty() ? nullptr : parsed.spoolDirectory.c_str(),
		parsed.logFile.c_str(), parsed.logLevel,
		parsed.authService.empty() ? nullptr : parsed.authService.c_str(), false);
	if (system == nullptr) {
		fprintf(stderr, "tessary-printer-app: cannot create the printing system\n");
		return nullptr;
	}
	// A server that could not listen where it was told would answer nobody.
	if (!papplSystemAddListeners(system, parsed.listen.c_str())) {
		fprintf(stderr, "tessary-printer-app: cannot listen on %s port %d\n",
			parsed.listen.c_str(), parsed.port);
		papplSystemDelete(system);
		return nullptr;
	}
	// A server on loopback names itself so: its URIs then work for the clients that can reach it.
	if (parsed.listen == "localhost" || parsed.listen == "127.0.0.1" || parsed.listen == "::1")
		papplSystemSetHostName(system, "localhost");
	if (!parsed.adminGroup.empty())
		papplSystemSetAdminGroup(system, parsed.adminGroup.c_str());

	// The administrative pages ask for this password until the user sets another on the
	// Security page; that one, kept in PAPPL's state, wins from then on. With a PAM service
	// of the user's, PAPPL asks for an account instead.
	char hash[100];
	papplSystemSetPassword(system,
		papplSystemHashPassword(system, nullptr, password.c_str(), hash, sizeof(hash)));
	if (parsed.authService.empty())
		papplSystemSetAuthCallback(system, "Basic", authorize, nullptr);

	papplSystemSetPrinterDrivers(system, kDriverCount, kDrivers, nullptr, printer_created,
		driver_callback, nullptr);
	// Every document goes to a job process of its own, raster files included; raster that a
	// client streams comes to the raster callbacks. The filters are to the driver's format, so
	// that PAPPL's own image filters are not taken for JPEG and PNG.
	for (int i = 0; i < kDocumentFormatCount; i++) {
		papplSystemAddMIMEFilter(system, kDocumentFormats[i], "application/octet-stream",
			print_document, nullptr);
	}
	set_device_timeout(parsed.deviceTimeout);
	load_state(system, folder, parsed.spoolDirectory);
	papplSystemAddTimerCallback(system, 0, 1, queue_waiting_jobs, nullptr);
	return system;
}

}  // namespace printer_app
