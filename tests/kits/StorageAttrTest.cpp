#include <Directory.h>
#include <File.h>
#include <Node.h>
#include <TypeConstants.h>

#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <sys/xattr.h>
#include <thread>
#include <vector>

namespace {

const char kComment[] = "Tessary printer";  // written with its NUL, 16 bytes

std::string make_file(const TempRoot& root, const char* name)
{
	BFile file(root.Sub(name).c_str(), B_WRITE_ONLY | B_CREATE_FILE);
	EXPECT_EQ(file.InitCheck(), B_OK);
	return root.Sub(name);
}

}  // namespace

TEST(StorageAttr, StringAttributeOnAFileKeepsTypeSizeAndBytes)
{
	TempRoot root;
	BNode node(make_file(root, "job").c_str());
	ASSERT_EQ(node.InitCheck(), B_OK);

	ASSERT_EQ(node.WriteAttr("Comments", B_STRING_TYPE, 0, kComment, sizeof(kComment)),
		ssize_t(sizeof(kComment)));
	attr_info info;
	ASSERT_EQ(node.GetAttrInfo("Comments", &info), B_OK);
	EXPECT_EQ(info.type, uint32(B_STRING_TYPE));
	EXPECT_EQ(info.size, off_t(sizeof(kComment)));

	char buffer[128];
	memset(buffer, 'x', sizeof(buffer));
	ASSERT_EQ(node.ReadAttr("Comments", B_STRING_TYPE, 0, buffer, sizeof(buffer)),
		ssize_t(sizeof(kComment)));
	EXPECT_EQ(memcmp(buffer, kComment, sizeof(kComment)), 0);
	EXPECT_EQ(buffer[sizeof(kComment)], 'x');  // nothing past the value

	// A short buffer gets the bytes that fit; an offset reads from there.
	EXPECT_EQ(node.ReadAttr("Comments", B_STRING_TYPE, 0, buffer, 4), 4);
	EXPECT_EQ(memcmp(buffer, "Tess", 4), 0);
	EXPECT_EQ(node.ReadAttr("Comments", B_STRING_TYPE, 8, buffer, sizeof(buffer)), 8);
	EXPECT_EQ(memcmp(buffer, "printer", 8), 0);
	EXPECT_EQ(node.ReadAttr("Comments", B_STRING_TYPE, 16, buffer, sizeof(buffer)), 0);
	EXPECT_EQ(node.ReadAttr("Comments", B_STRING_TYPE, -1, buffer, sizeof(buffer)), B_BAD_VALUE);

	// Another object on the same file sees it: it is on disk, not in the object.
	BNode again(root.Sub("job").c_str());
	EXPECT_EQ(again.ReadAttr("Comments", B_STRING_TYPE, 0, buffer, sizeof(buffer)),
		ssize_t(sizeof(kComment)));
}

TEST(StorageAttr, TypedValuesOnADirectoryAreListedAndRemoved)
{
	TempRoot root;
	BDirectory dir(root.Path().c_str());
	ASSERT_EQ(dir.InitCheck(), B_OK);

	int32 copies = 42;
	ASSERT_EQ(dir.WriteAttr("copies", B_INT32_TYPE, 0, &copies, sizeof(copies)), 4);
	ASSERT_EQ(dir.WriteAttr("transport", B_STRING_TYPE, 0, "File", 5), 5);
	ASSERT_EQ(dir.WriteAttr("empty", B_RAW_TYPE, 0, nullptr, 0), 0);

	attr_info info;
	ASSERT_EQ(dir.GetAttrInfo("copies", &info), B_OK);
	EXPECT_EQ(info.type, uint32(B_INT32_TYPE));
	EXPECT_EQ(info.size, 4);
	int32 readBack = 0;
	EXPECT_EQ(dir.ReadAttr("copies", B_INT32_TYPE, 0, &readBack, sizeof(readBack)), 4);
	EXPECT_EQ(readBack, 42);
	ASSERT_EQ(dir.GetAttrInfo("empty", &info), B_OK);
	EXPECT_EQ(info.type, uint32(B_RAW_TYPE));
	EXPECT_EQ(info.size, 0);

	std::set<std::string> names;
	char name[B_ATTR_NAME_LENGTH];
	while (dir.GetNextAttrName(name) == B_OK)
		names.insert(name);
	EXPECT_EQ(names, (std::set<std::string>{"copies", "transport", "empty"}));

	ASSERT_EQ(dir.RemoveAttr("copies"), B_OK);
	EXPECT_EQ(dir.RemoveAttr("copies"), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(dir.ReadAttr("copies", B_INT32_TYPE, 0, &readBack, 4), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(dir.GetAttrInfo("copies", &info), B_ENTRY_NOT_FOUND);

	ASSERT_EQ(dir.RewindAttrs(), B_OK);
	names.clear();
	while (dir.GetNextAttrName(name) == B_OK)
		names.insert(name);
	EXPECT_EQ(names, (std::set<std::string>{"transport", "empty"}));
}

TEST(StorageAttr, WriteAtAnOffsetKeepsTheRestAndOffsetZeroReplaces)
{
	TempRoot root;
	BNode node(make_file(root, "f").c_str());
	char buffer[32];
	attr_info info;

	ASSERT_EQ(node.WriteAttr("a", B_RAW_TYPE, 0, "abcdef", 6), 6);
	ASSERT_EQ(node.WriteAttr("a", B_RAW_TYPE, 2, "XY", 2), 2);
	ASSERT_EQ(node.ReadAttr("a", B_RAW_TYPE, 0, buffer, sizeof(buffer)), 6);
	EXPECT_EQ(memcmp(buffer, "abXYef", 6), 0);

	// Past the end: the gap reads as zeros, and the type is the last one written.
	ASSERT_EQ(node.WriteAttr("a", B_STRING_TYPE, 8, "Z", 1), 1);
	ASSERT_EQ(node.ReadAttr("a", B_RAW_TYPE, 0, buffer, sizeof(buffer)), 9);
	EXPECT_EQ(memcmp(buffer, "abXYef\0\0Z", 9), 0);
	ASSERT_EQ(node.GetAttrInfo("a", &info), B_OK);
	EXPECT_EQ(info.type, uint32(B_STRING_TYPE));

	ASSERT_EQ(node.WriteAttr("a", B_RAW_TYPE, 0, "q", 1), 1);
	ASSERT_EQ(node.GetAttrInfo("a", &info), B_OK);
	EXPECT_EQ(info.size, 1);

	// An offset no attribute can reach is refused before anything is allocated.
	EXPECT_EQ(node.WriteAttr("a", B_RAW_TYPE, off_t(1) << 40, "q", 1), B_BAD_VALUE);
	EXPECT_EQ(node.WriteAttr("a", B_RAW_TYPE, -1, "q", 1), B_BAD_VALUE);
	ASSERT_EQ(node.GetAttrInfo("a", &info), B_OK);
	EXPECT_EQ(info.size, 1);
}

TEST(StorageAttr, BadNamesAndForeignValuesAreReportedNotGuessed)
{
	TempRoot root;
	std::string path = make_file(root, "f");
	BNode node(path.c_str());
	std::string longName(B_ATTR_NAME_LENGTH, 'n');
	char buffer[8];
	EXPECT_EQ(node.WriteAttr(longName.c_str(), B_RAW_TYPE, 0, "x", 1), B_NAME_TOO_LONG);
	EXPECT_EQ(node.WriteAttr(nullptr, B_RAW_TYPE, 0, "x", 1), B_BAD_VALUE);
	EXPECT_EQ(node.WriteAttr("", B_RAW_TYPE, 0, "x", 1), B_BAD_VALUE);

	// Written by another tool, too short to hold a type code.
	ASSERT_EQ(setxattr(path.c_str(), "user.foreign", "ab", 2, 0), 0);
	EXPECT_EQ(node.ReadAttr("foreign", B_STRING_TYPE, 0, buffer, sizeof(buffer)), B_BAD_DATA);
	attr_info info;
	EXPECT_EQ(node.GetAttrInfo("foreign", &info), B_BAD_DATA);
	EXPECT_EQ(node.WriteAttr("foreign", B_RAW_TYPE, 1, "x", 1), B_BAD_DATA);
	EXPECT_EQ(getxattr(path.c_str(), "user.foreign", buffer, sizeof(buffer)), 2);

	BNode unset;
	EXPECT_EQ(unset.ReadAttr("a", B_RAW_TYPE, 0, buffer, sizeof(buffer)), B_NO_INIT);
	EXPECT_EQ(unset.WriteAttr("a", B_RAW_TYPE, 0, "x", 1), B_NO_INIT);
}

TEST(StorageAttr, RefusedAttributesGiveAClearError)
{
	// A device node may not carry user attributes.
	BNode device("/dev/null");
	ASSERT_EQ(device.InitCheck(), B_OK);
	EXPECT_EQ(device.WriteAttr("Comments", B_STRING_TYPE, 0, kComment, sizeof(kComment)),
		B_NOT_ALLOWED);
	char buffer[32];
	EXPECT_EQ(device.ReadAttr("Comments", B_STRING_TYPE, 0, buffer, sizeof(buffer)),
		B_ENTRY_NOT_FOUND);

	// A file system without user attributes.
	BNode proc("/proc/self/comm");
	if (proc.InitCheck() != B_OK)
		GTEST_SKIP() << "no /proc here";
	EXPECT_EQ(proc.WriteAttr("Comments", B_STRING_TYPE, 0, kComment, sizeof(kComment)),
		B_UNSUPPORTED);
}

TEST(StorageAttr, GetfattrShowsAStringAttributeAsText)
{
	TempRoot root;
	std::string path = make_file(root, "shown");
	BNode node(path.c_str());
	ASSERT_EQ(node.WriteAttr("Comments", B_STRING_TYPE, 0, kComment, sizeof(kComment)),
		ssize_t(sizeof(kComment)));

	std::string command = "getfattr -d --absolute-names '" + path + "' 2>/dev/null";
	std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
	ASSERT_NE(pipe, nullptr);
	std::string output;
	char chunk[256];
	while (size_t count = fread(chunk, 1, sizeof(chunk), pipe.get()))
		output.append(chunk, count);
	int status = pclose(pipe.release());
	if (output.empty() && status != 0)
		GTEST_SKIP() << "getfattr is not installed";
	EXPECT_NE(output.find("user.Comments=\"CSTRTessary printer"), std::string::npos) << output;
}

TEST(StorageNodeToken, TokensAreFreshResolveAndDieWithTheirNode)
{
	TempRoot root;
	auto node = std::make_unique<BNode>(root.Path().c_str());
	int32 first = register_node_token(node.get());
	int32 second = register_node_token(node.get());
	ASSERT_GT(first, 0);
	EXPECT_GT(second, first);
	EXPECT_EQ(node_from_token(first), node.get());
	EXPECT_EQ(node_from_token(second), node.get());
	EXPECT_EQ(node_from_token(0), nullptr);
	EXPECT_EQ(node_from_token(-5), nullptr);
	EXPECT_EQ(register_node_token(nullptr), B_BAD_VALUE);

	unregister_node_token(first);
	EXPECT_EQ(node_from_token(first), nullptr);
	int32 third = register_node_token(node.get());
	EXPECT_GT(third, second);  // never reused

	// A destroyed node leaves no token behind that would lead to freed memory.
	node.reset();
	EXPECT_EQ(node_from_token(second), nullptr);
	EXPECT_EQ(node_from_token(third), nullptr);
}

TEST(StorageNodeToken, ConcurrentRegistrationsGetDistinctTokens)
{
	BNode nodes[4];
	std::vector<int32> tokens[4];
	std::vector<std::thread> threads;
	for (int index = 0; index < 4; index++) {
		threads.emplace_back([&, index] {
			for (int count = 0; count < 500; count++)
				tokens[index].push_back(register_node_token(&nodes[index]));
		});
	}
	for (std::thread& thread : threads)
		thread.join();
	std::set<int32> all;
	for (int index = 0; index < 4; index++) {
		for (int32 token : tokens[index]) {
			EXPECT_EQ(node_from_token(token), &nodes[index]);
			all.insert(token);
		}
	}
	EXPECT_EQ(all.size(), 2000u);
	EXPECT_GT(*all.begin(), 0);
}
