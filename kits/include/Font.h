// Fonts: a family and style name with size, shear, rotation, spacing, encoding, face and
// flags. Names go to fontconfig, which picks the nearest installed font, so any family name
// draws with something; FreeType rasterises the glyphs through Cairo.
//
// A BFont is a plain value and may be copied freely between threads; the faces it resolves to
// are cached process-wide behind a lock. Sizes are in points, one point being one pixel of a
// view at scale 1. be_plain_font, be_bold_font and be_fixed_font are DejaVu Sans, DejaVu Sans
// Bold and DejaVu Sans Mono.
#pragma once

#include <InterfaceDefs.h>
#include <Rect.h>

#define B_FONT_FAMILY_LENGTH 63
#define B_FONT_STYLE_LENGTH 63
typedef char font_family[B_FONT_FAMILY_LENGTH + 1];
typedef char font_style[B_FONT_STYLE_LENGTH + 1];

enum {
	B_CHAR_SPACING = 0,
	B_STRING_SPACING = 1,
	B_BITMAP_SPACING = 2,
	B_FIXED_SPACING = 3
};

enum font_direction {
	B_FONT_LEFT_TO_RIGHT = 0,
	B_FONT_RIGHT_TO_LEFT = 1
};

enum {
	B_UNICODE_UTF8 = 0,
	B_ISO_8859_1 = 1,
	B_ISO_8859_2 = 2,
	B_ISO_8859_3 = 3,
	B_ISO_8859_4 = 4,
	B_ISO_8859_5 = 5,
	B_ISO_8859_6 = 6,
	B_ISO_8859_7 = 7,
	B_ISO_8859_8 = 8,
	B_ISO_8859_9 = 9,
	B_ISO_8859_10 = 10,
	B_MACINTOSH_ROMAN = 11
};

// Font flags.
enum {
	B_DISABLE_ANTIALIASING = 0x00000001,
	B_FORCE_ANTIALIASING = 0x00000002
};

// Face bits.
enum {
	B_ITALIC_FACE = 0x0001,
	B_UNDERSCORE_FACE = 0x0002,
	B_NEGATIVE_FACE = 0x0004,
	B_OUTLINED_FACE = 0x0008,
	B_STRIKEOUT_FACE = 0x0010,
	B_BOLD_FACE = 0x0020,
	B_REGULAR_FACE = 0x0040
};

struct font_height {
	float ascent;
	float descent;
	float leading;
};

// Extra advance after each character of a drawn string, in view units: nonspace after
// every character that is not a space, space after every space.
struct escapement_delta {
	float nonspace;
	float space;
};

class BFont {
public:
	BFont();
	BFont(const BFont& font);
	BFont(const BFont* font);

	BFont& operator=(const BFont& font);
	bool operator==(const BFont& font) const;
	bool operator!=(const BFont& font) const { return !(*this == font); }

	// Any non-empty name is taken; fontconfig maps it to the nearest installed font when
	// drawing. B_BAD_VALUE for NULL or empty names (the font is left unchanged).
	status_t SetFamilyAndStyle(const font_family family, const font_style style);
	status_t SetFamilyAndFace(const font_family family, uint16 face);
	void GetFamilyAndStyle(font_family* family, font_style* style) const;

	// Non-finite or negative sizes are ignored; sizes are limited to 10000 points.
	void SetSize(float size);
	// Degrees, 90 upright; limited to 45..135.
	void SetShear(float shear);
	// Degrees, counter-clockwise.
	void SetRotation(float rotation);
	void SetSpacing(uint8 spacing);
	void SetEncoding(uint8 encoding);
	// Sets the face bits and the style name that matches them.
	void SetFace(uint16 face);
	void SetFlags(uint32 flags);

	float Size() const { return fSize; }
	float Shear() const { return fShear; }
	float Rotation() const { return fRotation; }
	uint8 Spacing() const { return fSpacing; }
	uint8 Encoding() const { return fEncoding; }
	uint16 Face() const { return fFace; }
	uint32 Flags() const { return fFlags; }
	font_direction Direction() const { return B_FONT_LEFT_TO_RIGHT; }

	// Advance of a UTF-8 string at this font's size (shear and rotation left out), in view
	// units at scale 1. A NUL ends the string early.
	float StringWidth(const char* string) const;
	float StringWidth(const char* string, int32 length) const;
	void GetStringWidths(const char* stringArray[], const int32 lengthArray[], int32 numStrings,
		float widthArray[]) const;
	void GetHeight(font_height* height) const;

	void PrintToStream() const;

private:
	friend class BView;

	font_family fFamily;
	font_style fStyle;
	float fSize;
	float fShear;
	float fRotation;
	uint8 fSpacing;
	uint8 fEncoding;
	uint16 fFace;
	uint32 fFlags;
};

extern const BFont* be_plain_font;
extern const BFont* be_bold_font;
extern const BFont* be_fixed_font;

int32 count_font_families();
status_t get_font_family(int32 index, font_family* name, uint32* flags = NULL);
