// Add-on images: shared objects loaded at run time (dlopen underneath). Image ids are
// small positive numbers, never reused within the process; all calls are thread-safe.
#pragma once

#include <SupportDefs.h>

enum {
	B_SYMBOL_TYPE_DATA = 0x1,
	B_SYMBOL_TYPE_TEXT = 0x2,
	B_SYMBOL_TYPE_ANY = 0x5,
};

enum image_type {
	B_APP_IMAGE = 1,
	B_LIBRARY_IMAGE,
	B_ADD_ON_IMAGE,
	B_SYSTEM_IMAGE,
};

// Loads the add-on with all its symbols resolved at once and kept private to it.
// Negative on failure: B_BAD_VALUE (no path), B_ENTRY_NOT_FOUND (no such file),
// B_PERMISSION_DENIED, B_NOT_AN_EXECUTABLE (not a shared object), B_MISSING_LIBRARY
// (a library it needs is absent), B_MISSING_SYMBOL (a symbol it needs is undefined),
// B_ERROR otherwise.
image_id load_add_on(const char* path);
status_t unload_add_on(image_id image);

// Finds a symbol defined by the image itself (not by a library it links). TEXT refuses
// a data object and DATA refuses a function, as B_MISSING_SYMBOL like an absent symbol;
// ANY takes both, and a symbol whose ELF entry names no kind is taken by all three.
// `*location` is NULL on failure.
status_t get_image_symbol(image_id image, const char* name, int32 symbolType,
	void** location);

// Platform extension: the number of add-on images currently loaded, for tests and tools
// that check that every load was matched by an unload.
int32 count_loaded_add_ons();
