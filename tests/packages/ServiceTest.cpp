// The service unit of the printer application, with the build tree's application in place of
// the installed one: systemd's own check of the unit where systemd-analyze is installed, and
// the unit's command line, environment and state folders started as systemd would start them.
// The manual pages too.
#include "PackageSupport.h"

#include "TessaryVersion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::string kSourceUnit = TESSARY_SOURCE_DIR "/debian/tessary-printer-app.service";
const std::string kSourceDefaults = TESSARY_SOURCE_DIR "/debian/tessary-printer-app.default";
const std::string kBuiltApp = TESSARY_BUILD_DIR "/printer-app/tessary-printer-app";

TEST(ServiceUnit, SystemdFindsNoFault)
{
	if (!have_systemd_analyze())
		GTEST_SKIP() << "systemd-analyze is not installed (package systemd): the unit is not "
						"verified";
	std::string root = make_temporary_folder("tessary-unit-root");
	add_system_targets(root);
	fs::create_directories(root + "/usr/bin");
	fs::copy_file(kBuiltApp, root + "/usr/bin/tessary-printer-app");
	std::string unit = root + "/lib/systemd/system/tessary-printer-app.service";
	fs::copy_file(kSourceUnit, unit);
	check_unit_verifies(root, unit);
	fs::remove_all(root);
}

TEST(ServiceUnit, StartsTheServerAsConfigured)
{
	check_service_starts_as_configured(kSourceUnit, kSourceDefaults,
		fs::path(kBuiltApp).parent_path().string(), {});
}

TEST(ServiceUnit, ReadsItsSettingsWithoutTheDefaultsFile)
{
	// An administrator who removes /etc/default/tessary-printer-app gets the unit's own
	// defaults, not a server that cannot parse an empty port.
	std::string scratch = make_temporary_folder("tessary-defaults");
	std::vector<std::string> command = service_command(kSourceUnit, scratch + "/absent",
		"/usr/bin");
	auto has = [&](const std::string& word) {
		return std::find(command.begin(), command.end(), word) != command.end();
	};
	EXPECT_TRUE(has("server-port=8631"));
	EXPECT_TRUE(has("listen-hostname=localhost"));
	EXPECT_TRUE(has("server-options=no-tls"));
	fs::remove_all(scratch);
}

// The manual pages name the version the programs print.
TEST(ManualPages, NameTheProjectVersion)
{
	int pages = 0;
	for (const fs::directory_entry& entry : fs::directory_iterator(TESSARY_SOURCE_DIR "/man")) {
		std::string text = read_text(entry.path());
		std::string header = text.substr(0, text.find('\n'));
		EXPECT_NE(header.find("\"Tessary " TESSARY_VERSION "\""), std::string::npos)
			<< entry.path() << ": " << header;
		pages++;
	}
	EXPECT_GE(pages, 3);
}

}  // namespace
