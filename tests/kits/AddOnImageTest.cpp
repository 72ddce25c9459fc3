#include <File.h>
#include <Node.h>
#include <image.h>

#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

typedef int32 (*answer_func)(int32);
typedef BNode* (*token_func)(int32);

// Unloads on the way out, so a failed assertion does not leave the add-on loaded for
// the next test.
struct LoadedAddOn {
	explicit LoadedAddOn(const char* path) : id(load_add_on(path)) {}
	~LoadedAddOn()
	{
		if (id > 0)
			unload_add_on(id);
	}
	image_id id;
};

}  // namespace

TEST(AddOnImage, LoadsCallsReadsAndUnloads)
{
	int32 before = count_loaded_add_ons();
	image_id image = load_add_on(TEST_ADDON_PATH);
	ASSERT_GT(image, 0);
	EXPECT_EQ(count_loaded_add_ons(), before + 1);

	void* function = nullptr;
	ASSERT_EQ(get_image_symbol(image, "test_addon_answer", B_SYMBOL_TYPE_TEXT, &function), B_OK);
	void* data = nullptr;
	ASSERT_EQ(get_image_symbol(image, "test_addon_value", B_SYMBOL_TYPE_DATA, &data), B_OK);
	EXPECT_EQ(*static_cast<int32*>(data), 7);
	EXPECT_EQ(reinterpret_cast<answer_func>(function)(0), 35);
	// The data pointer is the add-on's own object, not a copy.
	*static_cast<int32*>(data) = 10;
	EXPECT_EQ(reinterpret_cast<answer_func>(function)(0), 38);

	void* any = nullptr;
	EXPECT_EQ(get_image_symbol(image, "test_addon_answer", B_SYMBOL_TYPE_ANY, &any), B_OK);
	EXPECT_EQ(any, function);
	EXPECT_EQ(get_image_symbol(image, "test_addon_value", B_SYMBOL_TYPE_ANY, &any), B_OK);
	EXPECT_EQ(any, data);

	EXPECT_EQ(unload_add_on(image), B_OK);
	EXPECT_EQ(count_loaded_add_ons(), before);
	EXPECT_EQ(unload_add_on(image), B_BAD_IMAGE_ID);
	EXPECT_EQ(get_image_symbol(image, "test_addon_answer", B_SYMBOL_TYPE_TEXT, &any),
		B_BAD_IMAGE_ID);
}

TEST(AddOnImage, RefusesSymbolsOfTheWrongKindMissingOrFromOtherLibraries)
{
	LoadedAddOn addOn(TEST_ADDON_PATH);
	ASSERT_GT(addOn.id, 0);
	void* location = &location;

	EXPECT_EQ(get_image_symbol(addOn.id, "test_addon_value", B_SYMBOL_TYPE_TEXT, &location),
		B_MISSING_SYMBOL);
	EXPECT_EQ(location, nullptr);
	location = &location;
	EXPECT_EQ(get_image_symbol(addOn.id, "test_addon_answer", B_SYMBOL_TYPE_DATA, &location),
		B_MISSING_SYMBOL);
	EXPECT_EQ(location, nullptr);
	EXPECT_EQ(get_image_symbol(addOn.id, "init_transport", B_SYMBOL_TYPE_TEXT, &location),
		B_MISSING_SYMBOL);
	// Defined by libkits and libc, which the add-on links, not by the add-on.
	EXPECT_EQ(get_image_symbol(addOn.id, "node_from_token", B_SYMBOL_TYPE_ANY, &location),
		B_MISSING_SYMBOL);
	EXPECT_EQ(get_image_symbol(addOn.id, "malloc", B_SYMBOL_TYPE_ANY, &location),
		B_MISSING_SYMBOL);

	EXPECT_EQ(get_image_symbol(addOn.id, "test_addon_answer", 3, &location), B_BAD_VALUE);
	EXPECT_EQ(get_image_symbol(addOn.id, nullptr, B_SYMBOL_TYPE_ANY, &location), B_BAD_VALUE);
	EXPECT_EQ(get_image_symbol(addOn.id, "test_addon_answer", B_SYMBOL_TYPE_ANY, nullptr),
		B_BAD_VALUE);
	EXPECT_EQ(get_image_symbol(0, "test_addon_answer", B_SYMBOL_TYPE_ANY, &location),
		B_BAD_IMAGE_ID);
}

TEST(AddOnImage, FailedLoadsSayWhyAndLeaveNothingLoaded)
{
	TempRoot root;
	int32 before = count_loaded_add_ons();

	EXPECT_EQ(load_add_on(root.Sub("no-such-add-on").c_str()), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(load_add_on(nullptr), B_BAD_VALUE);
	EXPECT_EQ(load_add_on(""), B_BAD_VALUE);

	std::ofstream(root.Sub("text")) << "not a shared object\n";
	EXPECT_EQ(load_add_on(root.Sub("text").c_str()), B_NOT_AN_EXECUTABLE);
	EXPECT_EQ(load_add_on(root.Path().c_str()), B_NOT_AN_EXECUTABLE);  // a folder

	EXPECT_EQ(load_add_on(TEST_BROKEN_ADDON_PATH), B_MISSING_SYMBOL);
	EXPECT_EQ(count_loaded_add_ons(), before);
}

TEST(AddOnImage, TwoLoadsOfOneFileAreUnloadedIndependently)
{
	image_id first = load_add_on(TEST_ADDON_PATH);
	image_id second = load_add_on(TEST_ADDON_PATH);
	ASSERT_GT(first, 0);
	ASSERT_GT(second, 0);
	EXPECT_NE(first, second);

	EXPECT_EQ(unload_add_on(first), B_OK);
	void* function = nullptr;
	ASSERT_EQ(get_image_symbol(second, "test_addon_answer", B_SYMBOL_TYPE_TEXT, &function), B_OK);
	EXPECT_EQ(reinterpret_cast<answer_func>(function)(1), 36);
	EXPECT_EQ(unload_add_on(second), B_OK);

	// Ids are not reused.
	image_id third = load_add_on(TEST_ADDON_PATH);
	EXPECT_GT(third, second);
	unload_add_on(third);
}

TEST(AddOnImage, SharesTheLoadersNodeTokens)
{
	TempRoot root;
	BNode node(root.Path().c_str());
	ASSERT_EQ(node.InitCheck(), B_OK);
	int32 token = register_node_token(&node);
	ASSERT_GT(token, 0);

	LoadedAddOn addOn(TEST_ADDON_PATH);
	ASSERT_GT(addOn.id, 0);
	void* function = nullptr;
	ASSERT_EQ(get_image_symbol(addOn.id, "test_addon_node_from_token", B_SYMBOL_TYPE_TEXT,
		&function), B_OK);
	EXPECT_EQ(reinterpret_cast<token_func>(function)(token), &node);
	unregister_node_token(token);
	EXPECT_EQ(reinterpret_cast<token_func>(function)(token), nullptr);
}
