#include "PackageSupport.h"

#include "support/LoopbackPort.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace {

typedef std::chrono::steady_clock Clock;

// This process's environment with `changes` made to it.
std::vector<std::string> environment_with(const Environment& changes)
{
	std::vector<std::string> variables;
	for (char** entry = environ; *entry != nullptr; entry++) {
		std::string variable = *entry;
		if (changes.count(variable.substr(0, variable.find('='))) == 0)
			variables.push_back(variable);
	}
	for (const auto& [name, value] : changes)
		variables.push_back(name + "=" + value);
	return variables;
}

// A systemd unit's [Service] section as far as the service's start needs it.
struct ServiceUnit {
	std::vector<std::string> environment;      // Environment= assignments, in order
	std::vector<std::string> environmentFiles; // EnvironmentFile=, "-" kept
	std::string execStart;
	std::vector<std::string> stateDirectories;
	std::string stateDirectoryMode = "0755";
	std::string umask = "0022";
	bool dynamicUser = false;
};

// systemd's splitting of a value into words: whitespace apart, double or single quotes
// around a word or part of one.
std::vector<std::string> split_words(const std::string& text)
{
	std::vector<std::string> words;
	std::string word;
	bool inWord = false;
	char quote = 0;
	for (size_t i = 0; i < text.size(); i++) {
		char c = text[i];
		if (quote != 0) {
			if (c == quote)
				quote = 0;
			else
				word += c;
		} else if (c == '"' || c == '\'') {
			quote = c;
			inWord = true;
		} else if (c == ' ' || c == '\t') {
			if (inWord)
				words.push_back(word);
			word.clear();
			inWord = false;
		} else {
			word += c;
			inWord = true;
		}
	}
	if (inWord)
		words.push_back(word);
	return words;
}

ServiceUnit read_unit(const std::string& path)
{
	ServiceUnit unit;
	std::istringstream text(read_text(path));
	std::string section;
	std::string line;
	std::string logical;
	while (std::getline(text, line)) {
		if (!line.empty() && line.back() == '\\') {
			logical += line.substr(0, line.size() - 1) + " ";
			continue;
		}
		logical += line;
		std::string entry = logical;
		logical.clear();
		if (entry.empty() || entry[0] == '#' || entry[0] == ';')
			continue;
		if (entry[0] == '[') {
			section = entry;
			continue;
		}
		if (section != "[Service]")
			continue;
		size_t equals = entry.find('=');
		std::string key = entry.substr(0, equals);
		std::string value = equals == std::string::npos ? "" : entry.substr(equals + 1);
		if (key == "Environment") {
			for (const std::string& assignment : split_words(value))
				unit.environment.push_back(assignment);
		} else if (key == "EnvironmentFile") {
			unit.environmentFiles.push_back(value);
		} else if (key == "ExecStart") {
			unit.execStart = value;
		} else if (key == "StateDirectory") {
			unit.stateDirectories = split_words(value);
		} else if (key == "StateDirectoryMode") {
			unit.stateDirectoryMode = value;
		} else if (key == "UMask") {
			unit.umask = value;
		} else if (key == "DynamicUser") {
			unit.dynamicUser = value == "yes" || value == "true" || value == "1";
		}
	}
	return unit;
}

// An environment file's assignments: NAME=VALUE lines, the value in quotes or not, comments
// and blank lines left out.
std::vector<std::string> read_environment_file(const std::string& path)
{
	std::vector<std::string> assignments;
	std::istringstream text(read_text(path));
	for (std::string line; std::getline(text, line);) {
		size_t start = line.find_first_not_of(" \t");
		if (start == std::string::npos || line[start] == '#' || line[start] == ';')
			continue;
		std::vector<std::string> words = split_words(line.substr(start));
		std::string joined;
		for (const std::string& word : words)
			joined += (joined.empty() ? "" : " ") + word;
		assignments.push_back(joined);
	}
	return assignments;
}

// The specifiers the service's unit uses, as systemd gives them to a system service.
std::string expand_specifiers(const std::string& text, const std::string& stateRoot,
	std::vector<std::string>* unknown)
{
	std::string expanded;
	for (size_t i = 0; i < text.size(); i++) {
		if (text[i] != '%' || i + 1 == text.size()) {
			expanded += text[i];
			continue;
		}
		char specifier = text[++i];
		if (specifier == 'S')
			expanded += stateRoot;
		else if (specifier == '%')
			expanded += '%';
		else
			unknown->push_back(std::string("%") + specifier);
	}
	return expanded;
}

// ExecStart's words with the environment put in: $NAME alone as a word becomes the words of
// its value, ${NAME} becomes its value within the word.
std::vector<std::string> command_of(const std::string& execStart, const Environment& variables)
{
	std::vector<std::string> command;
	std::regex braced(R"(\$\{([A-Za-z_][A-Za-z0-9_]*)\})");
	std::regex alone(R"(^\$([A-Za-z_][A-Za-z0-9_]*)$)");
	for (const std::string& word : split_words(execStart)) {
		std::smatch match;
		if (std::regex_match(word, match, alone)) {
			auto found = variables.find(match[1]);
			if (found != variables.end()) {
				for (const std::string& part : split_words(found->second))
					command.push_back(part);
			}
			continue;
		}
		std::string result;
		std::string rest = word;
		while (std::regex_search(rest, match, braced)) {
			auto found = variables.find(match[1]);
			result += match.prefix().str() + (found != variables.end() ? found->second : "");
			rest = match.suffix();
		}
		command.push_back(result + rest);
	}
	return command;
}

// The addresses (in the kernel's hexadecimal form) that sockets listen on at `port`.
std::set<std::string> listening_addresses(int port)
{
	std::set<std::string> addresses;
	char portText[8];
	snprintf(portText, sizeof(portText), "%04X", port);
	for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
		std::istringstream lines(read_text(table));
		std::string line;
		std::getline(lines, line);
		while (std::getline(lines, line)) {
			std::istringstream fields(line);
			std::string slot, local, remote, state;
			fields >> slot >> local >> remote >> state;
			size_t colon = local.find(':');
			if (state == "0A" && colon != std::string::npos && local.substr(colon + 1) == portText)
				addresses.insert(local.substr(0, colon));
		}
	}
	return addresses;
}

// 127.0.0.1 as /proc/net/tcp writes it (little-endian), and ::1 as tcp6 does.
const char* const kLoopbackV4 = "0100007F";
const char* const kLoopbackV6 = "00000000000000000000000001000000";

bool connects(const std::string& address, int port)
{
	int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in target = {};
	target.sin_family = AF_INET;
	target.sin_port = htons(static_cast<uint16_t>(port));
	inet_pton(AF_INET, address.c_str(), &target.sin_addr);
	bool connected = connect(probe, reinterpret_cast<sockaddr*>(&target), sizeof(target)) == 0;
	close(probe);
	return connected;
}

// The first line of the answer to GET / over plain HTTP. The whole answer is read, to the
// server's close: PAPPL 1.3.1 frees its system under a page it is still sending when it is
// stopped, so a test stops the server only once the page is sent.
std::string http_status_line(const std::string& address, int port)
{
	int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in target = {};
	target.sin_family = AF_INET;
	target.sin_port = htons(static_cast<uint16_t>(port));
	inet_pton(AF_INET, address.c_str(), &target.sin_addr);
	timeval timeout = {10, 0};
	setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
	std::string answer;
	if (connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof(target)) == 0) {
		std::string request = "GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
		if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
			char buffer[512];
			ssize_t got;
			while ((got = read(fd, buffer, sizeof(buffer))) > 0)
				answer.append(buffer, static_cast<size_t>(got));
		}
	}
	close(fd);
	return answer.substr(0, answer.find("\r\n"));
}

// The service started as systemd starts it: its state folders made with their mode, its
// environment from Environment= and the environment files (later ones win), its umask, and
// its ExecStart with the specifiers and variables put in. /usr/bin in the command is the
// installed tree's (`binaries`), /etc/default the one given.
class StartedService {
public:
	StartedService(const std::string& unitPath, const std::string& defaultsPath,
		const std::string& binaries, const Environment& extra)
		:
		fFolder(make_temporary_folder("tessary-service"))
	{
		ServiceUnit unit = read_unit(unitPath);
		fDynamicUser = unit.dynamicUser;
		// A user of the range systemd takes dynamic users from, when the test may become one;
		// the service's own /tmp (PrivateTmp, which DynamicUser implies) a folder of its own.
		if (fDynamicUser && geteuid() == 0)
			fUid = static_cast<uid_t>(61184 + getpid() % 4000);
		std::string privateTmp = fFolder + "/tmp";
		fs::create_directories(privateTmp);
		std::string stateRoot = fFolder + "/var/lib";
		mode_t mode = static_cast<mode_t>(strtol(unit.stateDirectoryMode.c_str(), nullptr, 8));
		for (const std::string& name : unit.stateDirectories)
			fs::create_directories(stateRoot + "/" + name);
		for (const std::string& folder : unit.stateDirectories) {
			std::string path = stateRoot + "/" + folder;
			chmod(path.c_str(), mode);
			if (fUid != 0 && chown(path.c_str(), fUid, fUid) != 0)
				ADD_FAILURE() << "cannot give " << path << " to the service's user";
		}
		if (fUid != 0 && chown(privateTmp.c_str(), fUid, fUid) != 0)
			ADD_FAILURE() << "cannot give " << privateTmp << " to the service's user";
		fStateFolder = unit.stateDirectories.empty() ? ""
			: stateRoot + "/" + unit.stateDirectories.front();

		std::vector<std::string> assignments = unit.environment;
		for (std::string file : unit.environmentFiles) {
			bool optional = !file.empty() && file[0] == '-';
			if (optional)
				file.erase(0, 1);
			EXPECT_EQ(file, "/etc/default/tessary-printer-app");
			std::vector<std::string> more = read_environment_file(defaultsPath);
			assignments.insert(assignments.end(), more.begin(), more.end());
		}
		for (const std::string& assignment : assignments) {
			size_t equals = assignment.find('=');
			fVariables[assignment.substr(0, equals)] = expand_specifiers(
				assignment.substr(equals + 1), stateRoot, &fUnknownSpecifiers);
		}
		fCommand = command_of(expand_specifiers(unit.execStart, stateRoot, &fUnknownSpecifiers),
			fVariables);
		if (!fCommand.empty() && fCommand[0].rfind("/usr/bin/", 0) == 0)
			fCommand[0] = binaries + fCommand[0].substr(8);
		fUmask = static_cast<mode_t>(strtol(unit.umask.c_str(), nullptr, 8));

		// A system service starts with an environment of its own, not the test's.
		Environment environment = fVariables;
		environment["PATH"] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
		for (const auto& [name, value] : extra)
			environment[name] = value;
		// The machine's system bus is not the service's to talk to.
		environment["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + fFolder + "/no-bus";
		environment["TMPDIR"] = privateTmp;
		for (const auto& [name, value] : environment)
			fEnvironment.push_back(name + "=" + value);
	}

	~StartedService()
	{
		Stop();
		std::error_code ignored;
		fs::remove_all(fFolder, ignored);
	}

	const std::vector<std::string>& Command() const { return fCommand; }
	const Environment& Variables() const { return fVariables; }
	const std::string& StateFolder() const { return fStateFolder; }
	bool DynamicUser() const { return fDynamicUser; }
	const std::vector<std::string>& UnknownSpecifiers() const { return fUnknownSpecifiers; }
	std::string Output() const { return read_text(fFolder + "/output"); }

	bool Start(std::string* error)
	{
		if (fCommand.empty()) {
			*error = "the unit has no ExecStart";
			return false;
		}
		std::vector<char*> argv;
		for (std::string& word : fCommand)
			argv.push_back(word.data());
		argv.push_back(nullptr);
		std::vector<char*> envp;
		for (std::string& variable : fEnvironment)
			envp.push_back(variable.data());
		envp.push_back(nullptr);
		std::string output = fFolder + "/output";
		pid_t parent = getpid();
		fPid = fork();
		if (fPid == 0) {
			int input = open("/dev/null", O_RDONLY);
			int log = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			if (input < 0 || log < 0 || dup2(input, 0) < 0 || dup2(log, 1) < 0
				|| dup2(log, 2) < 0 || chdir("/") != 0)
				_exit(127);
			if (fUid != 0 && (setgroups(0, nullptr) != 0 || setgid(fUid) != 0
					|| setuid(fUid) != 0))
				_exit(126);
			// Set once the user is changed, which clears it.
			prctl(PR_SET_PDEATHSIG, SIGTERM);
			if (getppid() != parent)
				_exit(127);
			umask(fUmask);
			execve(argv[0], argv.data(), envp.data());
			_exit(127);
		}
		if (fPid < 0) {
			*error = std::string("fork: ") + strerror(errno);
			return false;
		}
		return true;
	}

	// Waits (bounded) until something listens on the port; false when the service ended.
	bool WaitUntilListening(const std::string& address, int port, std::string* error)
	{
		auto deadline = Clock::now() + std::chrono::seconds(60);
		while (!connects(address, port)) {
			int status = 0;
			if (waitpid(fPid, &status, WNOHANG) == fPid) {
				fPid = -1;
				*error = "the service ended at start: " + Output();
				return false;
			}
			if (Clock::now() > deadline) {
				*error = "the service does not listen on " + address + ":"
					+ std::to_string(port) + ": " + Output();
				return false;
			}
			std::this_thread::sleep_for(std::chrono::milliseconds(50));
		}
		return true;
	}

	// Stops the service as systemd does, with SIGTERM; its exit status, -1 when it had to be
	// killed.
	int Stop()
	{
		if (fPid < 0)
			return fStopStatus;
		kill(fPid, SIGTERM);
		auto deadline = Clock::now() + std::chrono::seconds(45);
		int status = 0;
		while (waitpid(fPid, &status, WNOHANG) == 0) {
			if (Clock::now() > deadline) {
				kill(fPid, SIGKILL);
				waitpid(fPid, &status, 0);
				fPid = -1;
				return fStopStatus = -1;
			}
			std::this_thread::sleep_for(std::chrono::milliseconds(20));
		}
		fPid = -1;
		// As systemd counts it: a service that SIGTERM ended before it had set up its own
		// handling of the signal (still starting) stopped cleanly too.
		if (WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
			return fStopStatus = 0;
		return fStopStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	}

private:
	std::string fFolder;
	std::string fStateFolder;
	std::vector<std::string> fCommand;
	std::vector<std::string> fEnvironment;
	Environment fVariables;
	std::vector<std::string> fUnknownSpecifiers;
	mode_t fUmask = 022;
	bool fDynamicUser = false;
	uid_t fUid = 0;  // the user the service runs as; 0 for the test's own
	pid_t fPid = -1;
	int fStopStatus = -1;
};

// A copy of the defaults file with some of its settings changed, as an administrator edits it.
std::string edited_defaults(const std::string& defaults, const std::string& folder,
	const Environment& changes)
{
	std::istringstream text(read_text(defaults));
	std::string edited;
	std::set<std::string> done;
	for (std::string line; std::getline(text, line);) {
		size_t equals = line.find('=');
		std::string name = equals == std::string::npos || line[0] == '#' ? ""
			: line.substr(0, equals);
		auto change = changes.find(name);
		if (change != changes.end()) {
			line = name + "=" + change->second;
			done.insert(name);
		}
		edited += line + "\n";
	}
	for (const auto& [name, value] : changes)
		EXPECT_EQ(done.count(name), 1u) << "the defaults file has no " << name;
	std::string path = folder + "/tessary-printer-app.default";
	std::ofstream(path) << edited;
	return path;
}

}  // namespace

std::string read_text(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string make_temporary_folder(const std::string& name)
{
	std::string pattern = fs::temp_directory_path().string() + "/" + name + "-XXXXXX";
	if (mkdtemp(pattern.data()) == nullptr)
		throw std::runtime_error("mkdtemp failed");
	// CUPS runs the unpacked filter as lp, which must reach it.
	chmod(pattern.c_str(), 0755);
	return pattern;
}

int run(const std::vector<std::string>& arguments, std::string* output,
	const Environment& changes)
{
	char capture[] = "/tmp/tessary-package-run-XXXXXX";
	int fd = mkstemp(capture);
	if (fd < 0) {
		*output = "cannot make a capture file";
		return -1;
	}
	close(fd);
	std::vector<char*> argv;
	for (const std::string& argument : arguments)
		argv.push_back(const_cast<char*>(argument.c_str()));
	argv.push_back(nullptr);
	std::vector<std::string> variables = environment_with(changes);
	std::vector<char*> envp;
	for (std::string& variable : variables)
		envp.push_back(variable.data());
	envp.push_back(nullptr);

	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&actions, 1, capture, O_WRONLY | O_TRUNC, 0);
	posix_spawn_file_actions_adddup2(&actions, 1, 2);
	pid_t child;
	int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
	posix_spawn_file_actions_destroy(&actions);
	if (spawned != 0) {
		unlink(capture);
		*output = arguments[0] + ": " + strerror(spawned);
		return -1;
	}
	int status = 0;
	waitpid(child, &status, 0);
	*output = read_text(capture);
	unlink(capture);
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> service_command(const std::string& unitPath,
	const std::string& defaultsPath, const std::string& binaries)
{
	StartedService service(unitPath, defaultsPath, binaries, {});
	EXPECT_TRUE(service.UnknownSpecifiers().empty());
	return service.Command();
}

void check_service_starts_as_configured(const std::string& unitPath,
	const std::string& defaultsPath, const std::string& binaries, const Environment& extra)
{
	std::string shipped = read_text(defaultsPath);
	EXPECT_NE(shipped.find("\nLISTEN_ADDRESS=localhost\n"), std::string::npos) << shipped;
	EXPECT_NE(shipped.find("\nPORT=8631\n"), std::string::npos) << shipped;

	std::string scratch = make_temporary_folder("tessary-defaults");
	struct Case {
		const char* listen;
		const char* connectTo;
		std::set<std::string> addresses;  // where it may listen; one of them at least
	};
	for (const Case& c : {Case{nullptr, "127.0.0.1", {kLoopbackV4, kLoopbackV6}},
			 Case{"127.0.0.2", "127.0.0.2", {"0200007F"}}}) {
		SCOPED_TRACE(c.listen != nullptr ? c.listen : "as shipped");
		int port = free_loopback_port();
		Environment changes = {{"PORT", std::to_string(port)}};
		if (c.listen != nullptr)
			changes["LISTEN_ADDRESS"] = c.listen;
		StartedService service(unitPath, edited_defaults(defaultsPath, scratch, changes),
			binaries, extra);
		EXPECT_TRUE(service.UnknownSpecifiers().empty());
		EXPECT_TRUE(service.DynamicUser()) << "the service would run as root";
		std::string error;
		ASSERT_TRUE(service.Start(&error)) << error;
		ASSERT_TRUE(service.WaitUntilListening(c.connectTo, port, &error)) << error;

		std::set<std::string> listening = listening_addresses(port);
		EXPECT_FALSE(listening.empty());
		for (const std::string& address : listening)
			EXPECT_EQ(c.addresses.count(address), 1u) << "listens on " << address;
		EXPECT_EQ(http_status_line(c.connectTo, port).substr(0, 12), "HTTP/1.1 200");

		// Its state is where the unit says, readable by the service's user alone.
		std::string state = service.StateFolder();
		ASSERT_FALSE(state.empty());
		EXPECT_EQ(service.Variables().at("SNAP_COMMON"), state);
		struct stat info;
		ASSERT_EQ(stat(state.c_str(), &info), 0);
		EXPECT_EQ(info.st_mode & 0777, 0700u);
		ASSERT_EQ(stat((state + "/admin-password").c_str(), &info), 0) << service.Output();
		EXPECT_EQ(info.st_mode & 0077, 0u);
		EXPECT_TRUE(fs::is_directory(state + "/spool"));

		EXPECT_EQ(service.Stop(), 0) << service.Output();
	}
	fs::remove_all(scratch);
}

void check_unit_verifies(const std::string& root, const std::string& unit)
{
	std::string output;
	ASSERT_EQ(run({"systemd-analyze", "verify", "--man=no", "--root=" + root, unit}, &output), 0)
		<< output;
	EXPECT_EQ(output, "");
}

bool have_systemd_analyze()
{
	std::string output;
	return run({"sh", "-c", "command -v systemd-analyze"}, &output) == 0;
}

void add_system_targets(const std::string& root)
{
	fs::path units = fs::path(root) / "lib/systemd/system";
	fs::create_directories(units);
	for (const char* target : {"sysinit.target", "basic.target", "shutdown.target",
			 "multi-user.target", "network.target"}) {
		std::error_code code;
		if (!fs::exists(units / target))
			fs::copy_file(fs::path("/lib/systemd/system") / target, units / target, code);
	}
}
