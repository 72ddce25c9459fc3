#include <Directory.h>
#include <Entry.h>
#include <File.h>
#include <FindDirectory.h>
#include <Path.h>

#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sets or clears one environment variable for the life of the object.
class EnvironmentVariable {
public:
	EnvironmentVariable(const char* name, const char* value) : fName(name)
	{
		const char* previous = getenv(name);
		fHadPrevious = previous != nullptr;
		if (fHadPrevious)
			fPrevious = previous;
		if (value != nullptr)
			setenv(name, value, 1);
		else
			unsetenv(name);
	}
	~EnvironmentVariable()
	{
		if (fHadPrevious)
			setenv(fName.c_str(), fPrevious.c_str(), 1);
		else
			unsetenv(fName.c_str());
	}

private:
	std::string fName;
	std::string fPrevious;
	bool fHadPrevious;
};

bool is_directory(const std::string& path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The temporary folder itself may sit behind a symbolic link; compare resolved paths.
std::string resolved(const std::string& path)
{
	return std::filesystem::canonical(path).string();
}

std::string current_folder()
{
	char buffer[4096];
	return getcwd(buffer, sizeof(buffer)) != nullptr ? buffer : "";
}

}  // namespace

TEST(StoragePath, AppendJoinsWithoutNormalising)
{
	BPath path("/no/such/folder");
	ASSERT_EQ(path.InitCheck(), B_OK);
	ASSERT_EQ(path.Append("printers"), B_OK);
	ASSERT_EQ(path.Append("My Printer/../x"), B_OK);
	EXPECT_STREQ(path.Path(), "/no/such/folder/printers/My Printer/../x");
	EXPECT_STREQ(path.Leaf(), "x");

	EXPECT_EQ(path.Append("/absolute"), B_BAD_VALUE);
	EXPECT_STREQ(path.Path(), "/no/such/folder/printers/My Printer/../x");

	BPath parent;
	ASSERT_EQ(path.GetParent(&parent), B_OK);
	EXPECT_STREQ(parent.Path(), "/no/such/folder/printers/My Printer/..");

	BPath withLeaf("/a/", "b");
	EXPECT_STREQ(withLeaf.Path(), "/a/b");
	BPath trailing("/a/b/");
	EXPECT_STREQ(trailing.Path(), "/a/b");
	EXPECT_STREQ(trailing.Leaf(), "b");
}

TEST(StoragePath, RelativeRootAndFailedPaths)
{
	BPath relative("some/file");
	EXPECT_EQ(std::string(relative.Path()), current_folder() + "/some/file");

	BPath root("/");
	EXPECT_STREQ(root.Leaf(), "");
	BPath parent;
	EXPECT_EQ(root.GetParent(&parent), B_ENTRY_NOT_FOUND);
	BPath top("/top");
	ASSERT_EQ(top.GetParent(&parent), B_OK);
	EXPECT_STREQ(parent.Path(), "/");

	BPath bad("/a", "/b");
	EXPECT_EQ(bad.InitCheck(), B_BAD_VALUE);
	EXPECT_EQ(bad.Path(), nullptr);
	EXPECT_EQ(bad.Append("c"), B_BAD_VALUE);
	BPath empty;
	EXPECT_EQ(empty.InitCheck(), B_NO_INIT);
	EXPECT_EQ(empty.Path(), nullptr);
	EXPECT_TRUE(empty == bad);
}

TEST(StoragePath, NormalisingResolvesDotsLinksAndNeedsTheFolder)
{
	TempRoot root;
	std::string base = resolved(root.Path());
	ASSERT_EQ(mkdir((base + "/real").c_str(), 0755), 0);
	ASSERT_EQ(mkdir((base + "/real/sub").c_str(), 0755), 0);
	ASSERT_EQ(symlink((base + "/real").c_str(), (base + "/link").c_str()), 0);

	BPath path((base + "//link/./sub/..").c_str(), "leaf", true);
	ASSERT_EQ(path.InitCheck(), B_OK);
	EXPECT_EQ(std::string(path.Path()), base + "/real/leaf");

	BPath missing((base + "/nowhere/leaf").c_str(), nullptr, true);
	EXPECT_EQ(missing.InitCheck(), B_ENTRY_NOT_FOUND);

	BPath dotDot((base + "/real/..").c_str(), nullptr, true);
	EXPECT_EQ(std::string(dotDot.Path()), base);
}

TEST(StorageFindDirectory, MirrorsThePlatformPathsBelowTheRoot)
{
	TempRoot root;
	BPath path;
	ASSERT_EQ(find_directory(B_BEOS_ADDONS_DIRECTORY, &path), B_OK);
	EXPECT_EQ(std::string(path.Path()), root.Sub("boot/beos/system/add-ons"));
	EXPECT_FALSE(is_directory(path.Path()));  // not created unless asked

	ASSERT_EQ(find_directory(B_COMMON_SETTINGS_DIRECTORY, &path, true), B_OK);
	EXPECT_EQ(std::string(path.Path()), root.Sub("boot/home/config/settings"));
	EXPECT_TRUE(is_directory(path.Path()));
	ASSERT_EQ(find_directory(B_COMMON_SETTINGS_DIRECTORY, &path, true), B_OK);

	BPath user;
	ASSERT_EQ(find_directory(B_USER_SETTINGS_DIRECTORY, &user), B_OK);
	EXPECT_EQ(user, path);
	ASSERT_EQ(find_directory(B_USER_ADDONS_DIRECTORY, &user), B_OK);
	EXPECT_EQ(std::string(user.Path()), root.Sub("boot/home/config/add-ons"));
	ASSERT_EQ(find_directory(B_USER_DIRECTORY, &user), B_OK);
	EXPECT_EQ(std::string(user.Path()), root.Sub("boot/home"));

	EXPECT_EQ(find_directory(directory_which(999), &user), B_BAD_VALUE);
	EXPECT_EQ(find_directory(B_USER_DIRECTORY, static_cast<BPath*>(nullptr)), B_BAD_VALUE);

	char buffer[B_PATH_NAME_LENGTH];
	ASSERT_EQ(find_directory(B_BEOS_ADDONS_DIRECTORY, -1, false, buffer, sizeof(buffer)), B_OK);
	EXPECT_EQ(std::string(buffer), root.Sub("boot/beos/system/add-ons"));
	EXPECT_EQ(find_directory(B_BEOS_ADDONS_DIRECTORY, -1, false, buffer, 8), B_NAME_TOO_LONG);
}

TEST(StorageFindDirectory, CreatesTheWholeChainAndRefusesAFileInTheWay)
{
	TempRoot root;
	BPath path;
	ASSERT_EQ(find_directory(B_BEOS_ADDONS_DIRECTORY, &path, true), B_OK);
	EXPECT_TRUE(is_directory(root.Sub("boot/beos/system/add-ons")));

	FILE* blocker = fopen(root.Sub("boot/home").c_str(), "w");
	ASSERT_NE(blocker, nullptr);
	fclose(blocker);
	EXPECT_EQ(find_directory(B_USER_SETTINGS_DIRECTORY, &path, true), B_NOT_A_DIRECTORY);
}

TEST(StorageFindDirectory, ReadsTheRootAtEveryCall)
{
	BPath path;
	{
		TempRoot first;
		ASSERT_EQ(find_directory(B_BEOS_DIRECTORY, &path), B_OK);
		EXPECT_EQ(std::string(path.Path()), first.Sub("boot/beos"));
		TempRoot second;
		ASSERT_EQ(find_directory(B_BEOS_DIRECTORY, &path), B_OK);
		EXPECT_EQ(std::string(path.Path()), second.Sub("boot/beos"));
	}

	EnvironmentVariable noRoot("TESSARY_ROOT", nullptr);
	{
		EnvironmentVariable data("XDG_DATA_HOME", "/xdg/data");
		ASSERT_EQ(find_directory(B_BEOS_DIRECTORY, &path), B_OK);
		EXPECT_STREQ(path.Path(), "/xdg/data/tessary/boot/beos");
	}
	EnvironmentVariable relativeData("XDG_DATA_HOME", "relative/data");  // ignored
	EnvironmentVariable home("HOME", "/home/someone");
	ASSERT_EQ(find_directory(B_BEOS_DIRECTORY, &path), B_OK);
	EXPECT_STREQ(path.Path(), "/home/someone/.local/share/tessary/boot/beos");
	EnvironmentVariable emptyRoot("TESSARY_ROOT", "");
	ASSERT_EQ(find_directory(B_BEOS_DIRECTORY, &path), B_OK);
	EXPECT_STREQ(path.Path(), "/home/someone/.local/share/tessary/boot/beos");
}

TEST(StorageDirectory, OpensFromANodeRefAndGivesItsPath)
{
	TempRoot root;
	BPath settings;
	ASSERT_EQ(find_directory(B_COMMON_SETTINGS_DIRECTORY, &settings, true), B_OK);
	std::string folder = std::string(settings.Path()) + "/printers/Desk Jet";
	ASSERT_EQ(create_directory(folder.c_str(), 0755), B_OK);

	node_ref ref;
	{
		BNode printer(folder.c_str());
		ASSERT_EQ(printer.GetNodeRef(&ref), B_OK);

		// Open while the node is: found through the open descriptor, even after a rename.
		std::string renamed = std::string(settings.Path()) + "/printers/Renamed";
		ASSERT_EQ(rename(folder.c_str(), renamed.c_str()), 0);
		BDirectory dir(&ref);
		ASSERT_EQ(dir.InitCheck(), B_OK);
		BPath path(&dir, nullptr, false);
		EXPECT_EQ(resolved(path.Path()), resolved(renamed));
		ASSERT_EQ(rename(renamed.c_str(), folder.c_str()), 0);
	}

	// Closed: found where it was last seen, checked to be the same node.
	BDirectory dir(&ref);
	ASSERT_EQ(dir.InitCheck(), B_OK);
	BPath path(&dir, nullptr, false);
	EXPECT_EQ(resolved(path.Path()), resolved(folder));
	node_ref again;
	ASSERT_EQ(dir.GetNodeRef(&again), B_OK);
	EXPECT_EQ(again, ref);
	dir.Unset();

	// Gone, or never seen: not found. (A node made later may reuse the inode number, as
	// on any file system, so the test does not make one.)
	ASSERT_EQ(rmdir(folder.c_str()), 0);
	BDirectory gone(&ref);
	EXPECT_EQ(gone.InitCheck(), B_ENTRY_NOT_FOUND);
	node_ref unknown(ref.device, ref.node + 1000000);
	EXPECT_EQ(BDirectory(&unknown).InitCheck(), B_ENTRY_NOT_FOUND);
}

TEST(StorageDirectory, CreatesListsAndContains)
{
	TempRoot root;
	BDirectory dir(root.Path().c_str());
	ASSERT_EQ(dir.InitCheck(), B_OK);
	EXPECT_TRUE(dir.IsDirectory());
	EXPECT_EQ(dir.CountEntries(), 0);

	BFile file;
	ASSERT_EQ(dir.CreateFile("spool", &file), B_OK);
	ASSERT_EQ(file.Write("x", 1), 1);
	EXPECT_EQ(dir.CreateFile("spool", &file, true), B_FILE_EXISTS);
	BDirectory sub;
	ASSERT_EQ(dir.CreateDirectory("sub", &sub), B_OK);
	EXPECT_EQ(dir.CreateDirectory("sub", nullptr), B_FILE_EXISTS);
	ASSERT_EQ(sub.CreateFile("inner", nullptr), B_OK);

	EXPECT_EQ(dir.CountEntries(), 2);
	std::set<std::string> names;
	BEntry entry;
	char name[B_FILE_NAME_LENGTH];
	while (dir.GetNextEntry(&entry) == B_OK) {
		ASSERT_EQ(entry.GetName(name), B_OK);
		names.insert(name);
	}
	EXPECT_EQ(names, (std::set<std::string>{"spool", "sub"}));
	EXPECT_EQ(dir.GetNextEntry(&entry), B_ENTRY_NOT_FOUND);
	ASSERT_EQ(dir.Rewind(), B_OK);
	EXPECT_EQ(dir.GetNextEntry(&entry), B_OK);

	// A copy lists on its own, without moving the original's place.
	BDirectory copy(dir);
	EXPECT_EQ(copy.CountEntries(), 2);
	EXPECT_EQ(copy.GetNextEntry(&entry), B_OK);
	EXPECT_EQ(copy.GetNextEntry(&entry), B_OK);
	EXPECT_EQ(dir.GetNextEntry(&entry), B_OK);
	EXPECT_EQ(dir.GetNextEntry(&entry), B_ENTRY_NOT_FOUND);

	EXPECT_TRUE(dir.Contains("spool"));
	EXPECT_TRUE(dir.Contains("spool", B_FILE_NODE));
	EXPECT_FALSE(dir.Contains("spool", B_DIRECTORY_NODE));
	EXPECT_TRUE(dir.Contains("sub/inner"));
	EXPECT_FALSE(dir.Contains("missing"));
	BEntry outside("/");
	EXPECT_FALSE(dir.Contains(&outside));
	BEntry inner(root.Sub("sub/inner").c_str());
	EXPECT_TRUE(dir.Contains(&inner, B_FILE_NODE));

	BEntry found;
	EXPECT_EQ(dir.FindEntry("sub/inner", &found), B_OK);
	EXPECT_EQ(found, inner);
	EXPECT_EQ(dir.FindEntry("nothing", &found), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(found.InitCheck(), B_NO_INIT);

	BDirectory notAFolder(root.Sub("spool").c_str());
	EXPECT_EQ(notAFolder.InitCheck(), B_NOT_A_DIRECTORY);
}

TEST(StorageEntry, NamesParentsRefsAndRemoval)
{
	TempRoot root;
	std::string base = resolved(root.Path());
	BEntry entry((base + "/folder/../file").c_str());
	EXPECT_EQ(entry.InitCheck(), B_ENTRY_NOT_FOUND);  // the folder part must exist

	ASSERT_EQ(entry.SetTo((base + "/./file").c_str()), B_OK);
	EXPECT_FALSE(entry.Exists());
	BPath path;
	ASSERT_EQ(entry.GetPath(&path), B_OK);
	EXPECT_EQ(std::string(path.Path()), base + "/file");

	BFile(&entry, B_WRITE_ONLY | B_CREATE_FILE);
	EXPECT_TRUE(entry.Exists());
	EXPECT_TRUE(entry.IsFile());

	BEntry parent;
	ASSERT_EQ(entry.GetParent(&parent), B_OK);
	EXPECT_TRUE(parent.IsDirectory());
	BDirectory parentDir;
	ASSERT_EQ(entry.GetParent(&parentDir), B_OK);
	EXPECT_TRUE(parentDir.Contains(&entry));

	entry_ref ref;
	ASSERT_EQ(entry.GetRef(&ref), B_OK);
	EXPECT_STREQ(ref.name, "file");
	BEntry fromRef(&ref);
	EXPECT_EQ(fromRef, entry);
	entry_ref copy = ref;
	EXPECT_EQ(copy, ref);

	ASSERT_EQ(entry.Remove(), B_OK);
	EXPECT_FALSE(entry.Exists());
	EXPECT_EQ(entry.InitCheck(), B_OK);
	EXPECT_EQ(entry.Remove(), B_ENTRY_NOT_FOUND);

	BEntry rootEntry("/");
	char name[B_FILE_NAME_LENGTH];
	ASSERT_EQ(rootEntry.GetName(name), B_OK);
	EXPECT_STREQ(name, "/");
	EXPECT_EQ(rootEntry.GetParent(&parent), B_ENTRY_NOT_FOUND);
}
