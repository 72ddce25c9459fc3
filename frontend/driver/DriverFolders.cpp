#include "DriverFolders.h"

#include "InstallLayout.h"

#include <FindDirectory.h>
#include <Path.h>

#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace frontend {

namespace {

std::string directory_of(directory_which which, bool create)
{
	BPath path;
	if (find_directory(which, &path, create) != B_OK || path.Path() == nullptr)
		return std::string();
	return path.Path();
}

// The folder that holds this executable.
fs::path executable_folder()
{
	std::error_code error;
	fs::path self = fs::read_symlink("/proc/self/exe", error);
	if (error)
		return fs::path();
	return self.parent_path();
}

// The add-on tree this executable came with: the build's stage folder beside server/ (or
// cups/); installed, the private folder, found from the folder the executable is in (the
// print tool and the printer application in <prefix>/bin, a CUPS filter in CUPS's filter
// folder, the helper programs in the private folder itself), so that an installed tree works
// wherever it lies; at last the private folder of the prefix it was built for.
fs::path bundled_addons_root()
{
	fs::path folder = executable_folder();
	if (folder.empty())
		return fs::path();
	std::error_code error;
	for (const fs::path& candidate : {folder.parent_path() / "stage",
			 folder / TESSARY_PRIVATE_FROM_BINDIR, folder / TESSARY_PRIVATE_FROM_FILTER_DIR,
			 folder, fs::path(TESSARY_INSTALLED_LIBRARY)}) {
		if (fs::is_directory(candidate / "boot", error))
			return candidate.lexically_normal();
	}
	return fs::path();
}

bool link_addon(const fs::path& bundled, const fs::path& installed, std::string* error)
{
	std::error_code code;
	if (!fs::exists(bundled, code)) {
		*error = "the add-on " + bundled.string() + " was not built";
		return false;
	}
	fs::file_status status = fs::symlink_status(installed, code);
	if (fs::exists(status)) {
		if (!fs::is_symlink(status))
			return true;  // a copy installed by hand stays
		if (fs::read_symlink(installed, code) == bundled)
			return true;
		fs::remove(installed, code);
	}
	fs::create_directories(installed.parent_path(), code);
	if (code) {
		*error = "cannot create " + installed.parent_path().string() + ": " + code.message();
		return false;
	}
	fs::create_symlink(bundled, installed, code);
	if (code && !fs::exists(installed)) {
		*error = "cannot install " + installed.string() + ": " + code.message();
		return false;
	}
	return true;
}

}  // namespace

std::string printers_folder(bool create)
{
	std::string settings = directory_of(B_COMMON_SETTINGS_DIRECTORY, create);
	if (settings.empty())
		return std::string();
	std::string folder = settings + "/printers";
	if (create) {
		std::error_code ignored;
		fs::create_directories(folder, ignored);
	}
	return folder;
}

std::string printer_folder(const std::string& name)
{
	return printers_folder(false) + "/" + name;
}

std::string driver_addon_path()
{
	return directory_of(B_USER_ADDONS_DIRECTORY, false) + "/Print/Tessary";
}

std::string transport_folder()
{
	return directory_of(B_BEOS_ADDONS_DIRECTORY, false) + "/Print/transport";
}

std::string bundled_program(const std::string& name)
{
	fs::path root = bundled_addons_root();
	std::error_code error;
	if (root.empty() || !fs::is_regular_file(root / name, error))
		return std::string();
	return (root / name).string();
}

bool ensure_addons_installed(std::string* error)
{
	fs::path bundled = bundled_addons_root();
	if (bundled.empty()) {
		// Run from somewhere without its add-ons: whatever the root holds is used.
		return true;
	}
	std::string userAddons = directory_of(B_USER_ADDONS_DIRECTORY, true);
	std::string systemAddons = directory_of(B_BEOS_ADDONS_DIRECTORY, true);
	if (userAddons.empty() || systemAddons.empty()) {
		*error = "cannot create the add-on folders below the root folder";
		return false;
	}
	if (!link_addon(bundled / "boot/home/config/add-ons/Print/Tessary",
			fs::path(userAddons) / "Print/Tessary", error))
		return false;
	for (const char* transport : {"File", "Socket", "Pipe"}) {
		if (!link_addon(bundled / "boot/beos/system/add-ons/Print/transport" / transport,
				fs::path(systemAddons) / "Print/transport" / transport, error))
			return false;
	}
	return true;
}

}  // namespace frontend
