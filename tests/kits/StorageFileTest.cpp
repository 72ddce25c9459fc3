#include <File.h>

#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string contents(const std::string& path)
{
	std::ifstream in(path, std::ios::binary);
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

void write(const std::string& path, const std::string& text)
{
	std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(StorageFile, CreateModesFailEraseOrKeep)
{
	TempRoot root;
	std::string path = root.Sub("f");

	BFile missing(path.c_str(), B_READ_ONLY);
	EXPECT_EQ(missing.InitCheck(), B_ENTRY_NOT_FOUND);

	BFile created(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_FAIL_IF_EXISTS);
	ASSERT_EQ(created.InitCheck(), B_OK);
	ASSERT_EQ(created.Write("hello", 5), 5);
	created.Unset();

	BFile again(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_FAIL_IF_EXISTS);
	EXPECT_EQ(again.InitCheck(), B_FILE_EXISTS);
	EXPECT_EQ(contents(path), "hello");

	// Opening without B_ERASE_FILE keeps the bytes, and writes over them in place.
	BFile kept(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE);
	ASSERT_EQ(kept.Write("J", 1), 1);
	kept.Unset();
	EXPECT_EQ(contents(path), "Jello");

	BFile erased(path.c_str(), B_WRITE_ONLY | B_ERASE_FILE);
	ASSERT_EQ(erased.InitCheck(), B_OK);
	erased.Unset();
	EXPECT_EQ(contents(path), "");
}

TEST(StorageFile, OpenAtEndAppendsWhereverThePositionIs)
{
	TempRoot root;
	std::string path = root.Sub("log");
	write(path, "one\n");
	BFile file(path.c_str(), B_READ_WRITE | B_OPEN_AT_END);
	ASSERT_EQ(file.InitCheck(), B_OK);
	ASSERT_EQ(file.Write("two\n", 4), 4);
	ASSERT_EQ(file.Seek(0, SEEK_SET), 0);
	ASSERT_EQ(file.Write("three\n", 6), 6);
	EXPECT_EQ(contents(path), "one\ntwo\nthree\n");
}

TEST(StorageFile, ReadsSeeksAndSizesThroughThePositionIOSide)
{
	TempRoot root;
	std::string path = root.Sub("data");
	write(path, "0123456789");
	BFile file(path.c_str(), B_READ_ONLY);
	ASSERT_EQ(file.InitCheck(), B_OK);
	EXPECT_TRUE(file.IsReadable());
	EXPECT_FALSE(file.IsWritable());

	// The spool reader sees a BFile only as a BPositionIO.
	BPositionIO* io = &file;
	char buffer[16] = {};
	ASSERT_EQ(io->Read(buffer, 3), 3);
	EXPECT_EQ(memcmp(buffer, "012", 3), 0);
	EXPECT_EQ(io->Position(), 3);
	EXPECT_EQ(io->Seek(2, SEEK_CUR), 5);
	ASSERT_EQ(io->Read(buffer, sizeof(buffer)), 5);
	EXPECT_EQ(memcmp(buffer, "56789", 5), 0);
	EXPECT_EQ(io->Read(buffer, sizeof(buffer)), 0);

	// ReadAt does not move the position.
	ASSERT_EQ(io->ReadAt(1, buffer, 2), 2);
	EXPECT_EQ(memcmp(buffer, "12", 2), 0);
	EXPECT_EQ(io->Position(), 10);
	EXPECT_EQ(io->ReadAt(-1, buffer, 2), B_BAD_VALUE);

	off_t size = 0;
	EXPECT_EQ(file.GetSize(&size), B_OK);
	EXPECT_EQ(size, 10);
	EXPECT_LT(file.Write("x", 1), 0);
	EXPECT_EQ(file.SetSize(3), B_NOT_ALLOWED);
	EXPECT_EQ(contents(path), "0123456789");
}

TEST(StorageFile, WriteAtAndSetSizeOnAWritableFile)
{
	TempRoot root;
	std::string path = root.Sub("w");
	BFile file(path.c_str(), B_READ_WRITE | B_CREATE_FILE);
	ASSERT_EQ(file.InitCheck(), B_OK);
	EXPECT_TRUE(file.IsReadable());
	EXPECT_TRUE(file.IsWritable());
	ASSERT_EQ(file.Write("abcdef", 6), 6);
	ASSERT_EQ(file.WriteAt(1, "XY", 2), 2);
	EXPECT_EQ(file.Position(), 6);
	ASSERT_EQ(file.SetSize(4), B_OK);
	off_t size = 0;
	ASSERT_EQ(file.GetSize(&size), B_OK);
	EXPECT_EQ(size, 4);
	EXPECT_EQ(contents(path), "aXYd");
}

TEST(StorageFile, RefusesFoldersAndUnknownAccessModes)
{
	TempRoot root;
	BFile folder(root.Path().c_str(), B_READ_ONLY);
	EXPECT_EQ(folder.InitCheck(), B_IS_A_DIRECTORY);
	BFile badMode(root.Sub("x").c_str(), 3 | B_CREATE_FILE);
	EXPECT_EQ(badMode.InitCheck(), B_BAD_VALUE);

	BFile unset;
	char byte;
	EXPECT_EQ(unset.InitCheck(), B_NO_INIT);
	EXPECT_EQ(unset.Read(&byte, 1), B_NO_INIT);
	EXPECT_FALSE(unset.IsReadable());
}
