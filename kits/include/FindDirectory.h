// find_directory: the platform's well-known folders, all kept below one root folder.
//
// The root is $TESSARY_ROOT when that is set and not empty, otherwise
// ${XDG_DATA_HOME:-$HOME/.local/share}/tessary; it is read again at every call. Below
// the root each folder keeps the platform's own default path, so
// B_BEOS_ADDONS_DIRECTORY is <root>/boot/beos/system/add-ons and
// B_COMMON_SETTINGS_DIRECTORY is <root>/boot/home/config/settings. As on the platform,
// the user's home is /boot/home, so the B_USER_ folders coincide with the B_COMMON_ ones
// of the same name (both settings folders are <root>/boot/home/config/settings).
#pragma once

#include <SupportDefs.h>

class BPath;
class BVolume;

enum directory_which {
	B_DESKTOP_DIRECTORY = 0,
	B_TRASH_DIRECTORY,

	B_BEOS_DIRECTORY = 1000,
	B_BEOS_SYSTEM_DIRECTORY,
	B_BEOS_ADDONS_DIRECTORY,
	B_BEOS_BOOT_DIRECTORY,
	B_BEOS_FONTS_DIRECTORY,
	B_BEOS_LIB_DIRECTORY,
	B_BEOS_SERVERS_DIRECTORY,
	B_BEOS_APPS_DIRECTORY,
	B_BEOS_BIN_DIRECTORY,
	B_BEOS_ETC_DIRECTORY,
	B_BEOS_DOCUMENTATION_DIRECTORY,
	B_BEOS_PREFERENCES_DIRECTORY,
	B_BEOS_TRANSLATORS_DIRECTORY,
	B_BEOS_MEDIA_NODES_DIRECTORY,
	B_BEOS_SOUNDS_DIRECTORY,

	B_COMMON_DIRECTORY = 2000,
	B_COMMON_SYSTEM_DIRECTORY,
	B_COMMON_ADDONS_DIRECTORY,
	B_COMMON_BOOT_DIRECTORY,
	B_COMMON_FONTS_DIRECTORY,
	B_COMMON_LIB_DIRECTORY,
	B_COMMON_SERVERS_DIRECTORY,
	B_COMMON_BIN_DIRECTORY,
	B_COMMON_ETC_DIRECTORY,
	B_COMMON_DOCUMENTATION_DIRECTORY,
	B_COMMON_SETTINGS_DIRECTORY,
	B_COMMON_DEVELOP_DIRECTORY,
	B_COMMON_LOG_DIRECTORY,
	B_COMMON_SPOOL_DIRECTORY,
	B_COMMON_TEMP_DIRECTORY,
	B_COMMON_VAR_DIRECTORY,
	B_COMMON_TRANSLATORS_DIRECTORY,
	B_COMMON_MEDIA_NODES_DIRECTORY,
	B_COMMON_SOUNDS_DIRECTORY,

	B_USER_DIRECTORY = 3000,
	B_USER_CONFIG_DIRECTORY,
	B_USER_ADDONS_DIRECTORY,
	B_USER_BOOT_DIRECTORY,
	B_USER_FONTS_DIRECTORY,
	B_USER_LIB_DIRECTORY,
	B_USER_SETTINGS_DIRECTORY,
	B_USER_DESKBAR_DIRECTORY,
	B_USER_PRINTERS_DIRECTORY,
	B_USER_TRANSLATORS_DIRECTORY,
	B_USER_MEDIA_NODES_DIRECTORY,
	B_USER_SOUNDS_DIRECTORY,

	B_APPS_DIRECTORY = 4000,
	B_PREFERENCES_DIRECTORY,
	B_UTILITIES_DIRECTORY,
};

// `volume` is ignored: every folder lives on the one root. With `createIt` the folder
// and every missing folder above it are created. B_BAD_VALUE for an unknown `which`.
status_t find_directory(directory_which which, BPath* path, bool createIt = false,
	BVolume* volume = nullptr);
// The C form; B_NAME_TOO_LONG when the path does not fit into `length` bytes.
status_t find_directory(directory_which which, dev_t volume, bool createIt, char* path,
	int32 length);
