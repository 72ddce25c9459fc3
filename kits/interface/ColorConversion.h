// Pixel rows between the platform's colour spaces and 32-bit 0xAARRGGBB words (alpha not
// premultiplied), the working form of the drawing code.
//
// Writing a colour into a space with fewer bits truncates each channel (8-bit red 0xFF into
// 16 bits is 0xF8), and reading expands by repeating the high bits, so a pixel read and
// written back is unchanged in every space except B_CMAP8 (a colour may be in the map twice).
#pragma once

#include <GraphicsDefs.h>

namespace BPrivate {

bool drawable_space(color_space space);

// count pixels of a row in space to or from words. Alpha is 255 unless the space has alpha.
void load_row(color_space space, const uint8* source, uint32* words, int32 count);
void store_row(color_space space, const uint32* words, uint8* destination, int32 count);

// One colour in a space's pixel bytes (at most 4); returns the number of bytes.
int32 pack_color(color_space space, rgb_color color, uint8 bytes[4]);

// The 256-entry map of B_CMAP8 and the index nearest to a colour.
const rgb_color* system_colors();
uint8 index_for_color(uint8 red, uint8 green, uint8 blue);

inline uint8 luminance(uint8 red, uint8 green, uint8 blue)
{
	// Weights add to 256, so a grey reads back as itself.
	return static_cast<uint8>((red * 77 + green * 150 + blue * 29) >> 8);
}

} // namespace BPrivate
