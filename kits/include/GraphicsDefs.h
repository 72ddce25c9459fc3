// Colours, patterns, colour spaces and drawing modes of the Interface kit.
#pragma once

#include <SupportDefs.h>

struct pattern {
	uint8 data[8];
};

extern const pattern B_SOLID_HIGH;   // 8 x 0xFF
extern const pattern B_SOLID_LOW;    // 8 x 0x00
extern const pattern B_MIXED_COLORS; // AA 55 AA 55 ...

inline bool operator==(const pattern& a, const pattern& b)
{
	for (int i = 0; i < 8; i++)
		if (a.data[i] != b.data[i])
			return false;
	return true;
}

// Memory order red, green, blue, alpha (not the byte order of 32-bit pixels).
struct rgb_color {
	uint8 red;
	uint8 green;
	uint8 blue;
	uint8 alpha;

	rgb_color& set_to(uint8 r, uint8 g, uint8 b, uint8 a = 255)
	{
		red = r; green = g; blue = b; alpha = a;
		return *this;
	}
	bool operator==(const rgb_color& other) const
	{
		return red == other.red && green == other.green && blue == other.blue
			&& alpha == other.alpha;
	}
	bool operator!=(const rgb_color& other) const { return !(*this == other); }
};

inline rgb_color make_color(uint8 red, uint8 green, uint8 blue, uint8 alpha = 255)
{
	return rgb_color{red, green, blue, alpha};
}

extern const rgb_color B_TRANSPARENT_COLOR;  // 0x77, 0x74, 0x77, 0x00
#define B_TRANSPARENT_32_BIT B_TRANSPARENT_COLOR
const uint8 B_TRANSPARENT_MAGIC_CMAP8 = 0xff;
const uint16 B_TRANSPARENT_MAGIC_RGBA15 = 0x39ce;
const uint16 B_TRANSPARENT_MAGIC_RGBA15_BIG = 0xce39;
const uint32 B_TRANSPARENT_MAGIC_RGBA32 = 0x00777477;
const uint32 B_TRANSPARENT_MAGIC_RGBA32_BIG = 0x77747700;

// Integer rectangle with inclusive edges (used by picture clipping ops).
struct clipping_rect {
	int32 left;
	int32 top;
	int32 right;
	int32 bottom;
};

enum color_space {
	B_NO_COLOR_SPACE = 0x0000,
	B_RGB24 = 0x0003,
	B_RGB32 = 0x0008,
	B_RGBA32 = 0x2008,
	B_RGB16 = 0x0005,
	B_RGB15 = 0x0010,
	B_RGBA15 = 0x2010,
	B_CMAP8 = 0x0004,
	B_GRAY8 = 0x0002,
	B_GRAY1 = 0x0001,
	B_RGB24_BIG = 0x1003,
	B_RGB32_BIG = 0x1008,
	B_RGBA32_BIG = 0x3008,
	B_RGB16_BIG = 0x1005,
	B_RGB15_BIG = 0x1010,
	B_RGBA15_BIG = 0x3010,
	B_RGB32_LITTLE = B_RGB32,
	B_RGBA32_LITTLE = B_RGBA32,
	B_RGB24_LITTLE = B_RGB24,
	B_RGB16_LITTLE = B_RGB16,
	B_RGB15_LITTLE = B_RGB15,
	B_RGBA15_LITTLE = B_RGBA15,
	B_YCbCr422 = 0x4000,
	B_YCbCr411 = 0x4001,
	B_YCbCr444 = 0x4003,
	B_YCbCr420 = 0x4004,
	B_CMY24 = 0xC001,
	B_CMY32 = 0xC002,
	B_CMYA32 = 0xE002,
	B_CMYK32 = 0xC003
};

// Bytes per pixel of a colour space (0 for B_GRAY1 and unknown spaces) and whether the
// space is one the stand-in can draw into or read pixels from.
size_t bytes_per_pixel_of(color_space space);
bool bitmaps_support_space(color_space space, uint32* supportFlags);

enum drawing_mode {
	B_OP_COPY,
	B_OP_OVER,
	B_OP_ERASE,
	B_OP_INVERT,
	B_OP_ADD,
	B_OP_SUBTRACT,
	B_OP_BLEND,
	B_OP_MIN,
	B_OP_MAX,
	B_OP_SELECT,
	B_OP_ALPHA
};

enum source_alpha {
	B_PIXEL_ALPHA = 0,
	B_CONSTANT_ALPHA
};

enum alpha_function {
	B_ALPHA_OVERLAY = 0,
	B_ALPHA_COMPOSITE
};

enum join_mode {
	B_ROUND_JOIN = 0,
	B_MITER_JOIN,
	B_BEVEL_JOIN,
	B_BUTT_JOIN,
	B_SQUARE_JOIN
};

enum cap_mode {
	B_ROUND_CAP = B_ROUND_JOIN,
	B_BUTT_CAP = B_BUTT_JOIN,
	B_SQUARE_CAP = B_SQUARE_JOIN
};

const float B_DEFAULT_MITER_LIMIT = 10.0f;

// Bitmap creation flags.
enum {
	B_BITMAP_CLEAR_TO_WHITE = 0x00000001,
	B_BITMAP_ACCEPTS_VIEWS = 0x00000002,
	B_BITMAP_IS_AREA = 0x00000004,
	B_BITMAP_IS_LOCKED = 0x00000008 | B_BITMAP_IS_AREA,
	B_BITMAP_IS_CONTIGUOUS = 0x00000010 | B_BITMAP_IS_LOCKED,
	B_BITMAP_IS_OFFSCREEN = 0x00000020,
	B_BITMAP_WILL_OVERLAY = 0x00000040 | B_BITMAP_IS_OFFSCREEN,
	B_BITMAP_RESERVE_OVERLAY_CHANNEL = 0x00000080,
	B_BITMAP_NO_SERVER_LINK = 0x00000100
};

const int32 B_ANY_BYTES_PER_ROW = -1;
