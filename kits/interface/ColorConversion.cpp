#include "ColorConversion.h"

#include <cstring>
#include <mutex>

namespace BPrivate {

namespace {

// The colour map: a 6 x 6 x 6 cube, then a ramp of 32 greys, then the remaining entries
// filled with the primaries and greys the cube lacks; index 255 is the transparent magic.
struct ColorMap {
	rgb_color colors[256];
	uint8 inverse[32 * 32 * 32];

	ColorMap()
	{
		int index = 0;
		for (int r = 0; r < 6; r++)
			for (int g = 0; g < 6; g++)
				for (int b = 0; b < 6; b++)
					colors[index++] = make_color(r * 51, g * 51, b * 51);
		for (int i = 0; i < 32; i++) {
			uint8 level = static_cast<uint8>(i * 255 / 31);
			colors[index++] = make_color(level, level, level);
		}
		while (index < 255) {
			uint8 level = static_cast<uint8>(((index - 248) + 1) * 32);
			colors[index++] = make_color(level, 0, 0);
		}
		colors[255] = B_TRANSPARENT_COLOR;

		// Nearest colour of each 15-bit cell, ignoring the transparent entry.
		for (int r = 0; r < 32; r++) {
			for (int g = 0; g < 32; g++) {
				for (int b = 0; b < 32; b++) {
					int red = (r << 3) | (r >> 2);
					int green = (g << 3) | (g >> 2);
					int blue = (b << 3) | (b >> 2);
					int best = 0;
					int bestDistance = 1 << 30;
					for (int i = 0; i < 255; i++) {
						int dr = colors[i].red - red;
						int dg = colors[i].green - green;
						int db = colors[i].blue - blue;
						int distance = dr * dr + dg * dg + db * db;
						if (distance < bestDistance) {
							bestDistance = distance;
							best = i;
						}
					}
					inverse[(r << 10) | (g << 5) | b] = static_cast<uint8>(best);
				}
			}
		}
	}
};

const ColorMap& color_map()
{
	static const ColorMap* map = new ColorMap;
	return *map;
}

inline uint32 word(uint8 red, uint8 green, uint8 blue, uint8 alpha = 255)
{
	return (uint32(alpha) << 24) | (uint32(red) << 16) | (uint32(green) << 8) | blue;
}

inline uint32 word_from_565(uint32 pixel)
{
	uint32 r = (pixel >> 11) & 0x1f;
	uint32 g = (pixel >> 5) & 0x3f;
	uint32 b = pixel & 0x1f;
	return word((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2));
}

inline uint32 word_to_565(uint32 value)
{
	return ((value >> 8) & 0xf800) | ((value >> 5) & 0x07e0) | ((value >> 3) & 0x001f);
}

const uint32* expanded_565()
{
	static const uint32* table = [] {
		uint32* entries = new uint32[65536];
		for (uint32 pixel = 0; pixel < 65536; pixel++)
			entries[pixel] = word_from_565(pixel);
		return entries;
	}();
	return table;
}

} // namespace

bool drawable_space(color_space space)
{
	switch (space) {
		case B_RGB32: case B_RGBA32: case B_RGB24: case B_RGB16: case B_RGB16_BIG:
		case B_CMAP8: case B_GRAY8:
			return true;
		default:
			return false;
	}
}

const rgb_color* system_colors()
{
	return color_map().colors;
}

uint8 index_for_color(uint8 red, uint8 green, uint8 blue)
{
	return color_map().inverse[((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3)];
}

void load_row(color_space space, const uint8* source, uint32* words, int32 count)
{
	switch (space) {
		case B_RGB32:
			for (int32 x = 0; x < count; x++, source += 4)
				words[x] = word(source[2], source[1], source[0]);
			break;
		case B_RGBA32:
			for (int32 x = 0; x < count; x++, source += 4)
				words[x] = word(source[2], source[1], source[0], source[3]);
			break;
		case B_RGB24:
			for (int32 x = 0; x < count; x++, source += 3)
				words[x] = word(source[2], source[1], source[0]);
			break;
		case B_RGB16:
			for (int32 x = 0; x < count; x++, source += 2)
				words[x] = word_from_565(source[0] | (uint32(source[1]) << 8));
			break;
		case B_RGB16_BIG:
		{
			// The hot path of band drawing: a table lookup per pixel.
			const uint32* table = expanded_565();
			for (int32 x = 0; x < count; x++, source += 2)
				words[x] = table[(uint32(source[0]) << 8) | source[1]];
			break;
		}
		case B_CMAP8:
		{
			const rgb_color* colors = system_colors();
			for (int32 x = 0; x < count; x++) {
				rgb_color color = colors[source[x]];
				words[x] = word(color.red, color.green, color.blue);
			}
			break;
		}
		case B_GRAY8:
			for (int32 x = 0; x < count; x++)
				words[x] = word(source[x], source[x], source[x]);
			break;
		default:
			memset(words, 0, sizeof(uint32) * count);
			break;
	}
}

void store_row(color_space space, const uint32* words, uint8* destination, int32 count)
{
	switch (space) {
		case B_RGB32:
			for (int32 x = 0; x < count; x++, destination += 4) {
				uint32 value = words[x];
				destination[0] = value & 0xff;
				destination[1] = (value >> 8) & 0xff;
				destination[2] = (value >> 16) & 0xff;
				destination[3] = 0xff;
			}
			break;
		case B_RGBA32:
			for (int32 x = 0; x < count; x++, destination += 4) {
				uint32 value = words[x];
				destination[0] = value & 0xff;
				destination[1] = (value >> 8) & 0xff;
				destination[2] = (value >> 16) & 0xff;
				destination[3] = value >> 24;
			}
			break;
		case B_RGB24:
			for (int32 x = 0; x < count; x++, destination += 3) {
				uint32 value = words[x];
				destination[0] = value & 0xff;
				destination[1] = (value >> 8) & 0xff;
				destination[2] = (value >> 16) & 0xff;
			}
			break;
		case B_RGB16:
			for (int32 x = 0; x < count; x++, destination += 2) {
				uint32 pixel = word_to_565(words[x]);
				destination[0] = pixel & 0xff;
				destination[1] = pixel >> 8;
			}
			break;
		case B_RGB16_BIG:
			for (int32 x = 0; x < count; x++, destination += 2) {
				uint32 pixel = word_to_565(words[x]);
				destination[0] = static_cast<uint8>(pixel >> 8);
				destination[1] = static_cast<uint8>(pixel);
			}
			break;
		case B_CMAP8:
			for (int32 x = 0; x < count; x++) {
				uint32 value = words[x];
				destination[x] = index_for_color((value >> 16) & 0xff, (value >> 8) & 0xff,
					value & 0xff);
			}
			break;
		case B_GRAY8:
			for (int32 x = 0; x < count; x++) {
				uint32 value = words[x];
				destination[x] = luminance((value >> 16) & 0xff, (value >> 8) & 0xff,
					value & 0xff);
			}
			break;
		default:
			break;
	}
}

int32 pack_color(color_space space, rgb_color color, uint8 bytes[4])
{
	uint32 value = word(color.red, color.green, color.blue, color.alpha);
	int32 size = static_cast<int32>(bytes_per_pixel_of(space));
	if (size == 0)
		return 0;
	store_row(space, &value, bytes, 1);
	return size;
}

} // namespace BPrivate
