// Limits, open modes and node flags of the storage kit.
#pragma once

#include <SupportDefs.h>

#define B_DEV_NAME_LENGTH 128
#define B_FILE_NAME_LENGTH 256
#define B_PATH_NAME_LENGTH 1024
#define B_ATTR_NAME_LENGTH (B_FILE_NAME_LENGTH - 1)
#define B_MIME_TYPE_LENGTH (B_ATTR_NAME_LENGTH - 15)
#define B_MAX_SYMLINKS 16

// Open modes of BFile. The numbers are the platform's own (they were its O_* values);
// BFile translates them to the host's O_* flags, so callers never pass host flags.
enum {
	B_READ_ONLY = 0x0000,
	B_WRITE_ONLY = 0x0001,
	B_READ_WRITE = 0x0002,
	B_ACCESS_MODE_MASK = 0x0003,

	B_FAIL_IF_EXISTS = 0x0100,
	B_CREATE_FILE = 0x0200,
	B_ERASE_FILE = 0x0400,
	B_OPEN_AT_END = 0x0800,
};

// Node kinds, for BDirectory::Contains().
enum node_flavor {
	B_FILE_NODE = 0x01,
	B_SYMLINK_NODE = 0x02,
	B_DIRECTORY_NODE = 0x04,
	B_ANY_NODE = 0x07,
};
