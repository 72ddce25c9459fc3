// A tiny add-on for the image tests: one function, one data object, and one function
// that reaches into libkits to show that the add-on shares the loader's copy of it.
#include <Node.h>

extern "C" {

__attribute__((visibility("default"))) int32 test_addon_value = 7;

__attribute__((visibility("default"))) int32 test_addon_answer(int32 add)
{
	return 35 + add + test_addon_value - 7;
}

__attribute__((visibility("default"))) BNode* test_addon_node_from_token(int32 token)
{
	return node_from_token(token);
}

}
