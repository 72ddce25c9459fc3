#include <Directory.h>
#include <FindDirectory.h>
#include <Path.h>

#include "storage/StoragePrivate.h"

#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace {

struct DirectoryPath {
	directory_which which;
	const char* path;  // the platform's default, mirrored below the root
};

// The user's home is the platform's /boot/home, as on a single-user system.
const DirectoryPath kDirectories[] = {
	{B_DESKTOP_DIRECTORY, "boot/home/Desktop"},
	{B_TRASH_DIRECTORY, "boot/home/Desktop/Trash"},

	{B_BEOS_DIRECTORY, "boot/beos"},
	{B_BEOS_SYSTEM_DIRECTORY, "boot/beos/system"},
	{B_BEOS_ADDONS_DIRECTORY, "boot/beos/system/add-ons"},
	{B_BEOS_BOOT_DIRECTORY, "boot/beos/system/boot"},
	{B_BEOS_FONTS_DIRECTORY, "boot/beos/etc/fonts"},
	{B_BEOS_LIB_DIRECTORY, "boot/beos/system/lib"},
	{B_BEOS_SERVERS_DIRECTORY, "boot/beos/system/servers"},
	{B_BEOS_APPS_DIRECTORY, "boot/beos/apps"},
	{B_BEOS_BIN_DIRECTORY, "boot/beos/bin"},
	{B_BEOS_ETC_DIRECTORY, "boot/beos/etc"},
	{B_BEOS_DOCUMENTATION_DIRECTORY, "boot/beos/documentation"},
	{B_BEOS_PREFERENCES_DIRECTORY, "boot/beos/preferences"},
	{B_BEOS_TRANSLATORS_DIRECTORY, "boot/beos/system/add-ons/Translators"},
	{B_BEOS_MEDIA_NODES_DIRECTORY, "boot/beos/system/add-ons/media"},
	{B_BEOS_SOUNDS_DIRECTORY, "boot/beos/etc/sounds"},

	{B_COMMON_DIRECTORY, "boot/home"},
	{B_COMMON_SYSTEM_DIRECTORY, "boot/home/config"},
	{B_COMMON_ADDONS_DIRECTORY, "boot/home/config/add-ons"},
	{B_COMMON_BOOT_DIRECTORY, "boot/home/config/boot"},
	{B_COMMON_FONTS_DIRECTORY, "boot/home/config/fonts"},
	{B_COMMON_LIB_DIRECTORY, "boot/home/config/lib"},
	{B_COMMON_SERVERS_DIRECTORY, "boot/home/config/servers"},
	{B_COMMON_BIN_DIRECTORY, "boot/home/config/bin"},
	{B_COMMON_ETC_DIRECTORY, "boot/home/config/etc"},
	{B_COMMON_DOCUMENTATION_DIRECTORY, "boot/home/config/documentation"},
	{B_COMMON_SETTINGS_DIRECTORY, "boot/home/config/settings"},
	{B_COMMON_DEVELOP_DIRECTORY, "boot/develop"},
	{B_COMMON_LOG_DIRECTORY, "boot/var/log"},
	{B_COMMON_SPOOL_DIRECTORY, "boot/var/spool"},
	{B_COMMON_TEMP_DIRECTORY, "boot/var/tmp"},
	{B_COMMON_VAR_DIRECTORY, "boot/var"},
	{B_COMMON_TRANSLATORS_DIRECTORY, "boot/home/config/add-ons/Translators"},
	{B_COMMON_MEDIA_NODES_DIRECTORY, "boot/home/config/add-ons/media"},
	{B_COMMON_SOUNDS_DIRECTORY, "boot/home/config/sounds"},

	{B_USER_DIRECTORY, "boot/home"},
	{B_USER_CONFIG_DIRECTORY, "boot/home/config"},
	{B_USER_ADDONS_DIRECTORY, "boot/home/config/add-ons"},
	{B_USER_BOOT_DIRECTORY, "boot/home/config/boot"},
	{B_USER_FONTS_DIRECTORY, "boot/home/config/fonts"},
	{B_USER_LIB_DIRECTORY, "boot/home/config/lib"},
	{B_USER_SETTINGS_DIRECTORY, "boot/home/config/settings"},
	{B_USER_DESKBAR_DIRECTORY, "boot/home/config/be"},
	{B_USER_PRINTERS_DIRECTORY, "boot/home/config/settings/printers"},
	{B_USER_TRANSLATORS_DIRECTORY, "boot/home/config/add-ons/Translators"},
	{B_USER_MEDIA_NODES_DIRECTORY, "boot/home/config/add-ons/media"},
	{B_USER_SOUNDS_DIRECTORY, "boot/home/config/sounds"},

	{B_APPS_DIRECTORY, "boot/apps"},
	{B_PREFERENCES_DIRECTORY, "boot/preferences"},
	{B_UTILITIES_DIRECTORY, "boot/utilities"},
};

const char* relative_path_of(directory_which which)
{
	for (const DirectoryPath& entry : kDirectories) {
		if (entry.which == which)
			return entry.path;
	}
	return nullptr;
}

bool usable(const char* value)
{
	return value != nullptr && value[0] != '\0';
}

status_t root_folder(std::string* root)
{
	const char* explicitRoot = getenv("TESSARY_ROOT");
	if (usable(explicitRoot))
		return storage_private::absolute_path(explicitRoot, root);

	// The XDG rules ignore a relative XDG_DATA_HOME.
	const char* dataHome = getenv("XDG_DATA_HOME");
	if (usable(dataHome) && dataHome[0] == '/') {
		*root = storage_private::join_path(dataHome, "tessary");
		return B_OK;
	}
	std::string home;
	const char* homeVariable = getenv("HOME");
	if (usable(homeVariable))
		home = homeVariable;
	else {
		struct passwd entry, *found = nullptr;
		char buffer[4096];
		if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &found) != 0
			|| found == nullptr || !usable(found->pw_dir))
			return B_ENTRY_NOT_FOUND;
		home = found->pw_dir;
	}
	*root = storage_private::join_path(home, ".local/share/tessary");
	return B_OK;
}

status_t directory_path(directory_which which, bool createIt, std::string* result)
{
	const char* relative = relative_path_of(which);
	if (relative == nullptr)
		return B_BAD_VALUE;
	std::string root;
	status_t status = root_folder(&root);
	if (status != B_OK)
		return status;
	*result = storage_private::join_path(root, relative);
	return createIt ? create_directory(result->c_str(), 0755) : B_OK;
}

}  // namespace

status_t find_directory(directory_which which, BPath* path, bool createIt, BVolume*)
{
	if (path == nullptr)
		return B_BAD_VALUE;
	std::string result;
	status_t status = directory_path(which, createIt, &result);
	if (status != B_OK)
		return status;
	return path->SetTo(result.c_str());
}

status_t find_directory(directory_which which, dev_t, bool createIt, char* path, int32 length)
{
	if (path == nullptr || length <= 0)
		return B_BAD_VALUE;
	std::string result;
	status_t status = directory_path(which, createIt, &result);
	if (status != B_OK)
		return status;
	if (result.size() >= size_t(length))
		return B_NAME_TOO_LONG;
	memcpy(path, result.c_str(), result.size() + 1);
	return B_OK;
}
