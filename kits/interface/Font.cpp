#include <Font.h>

#include "FontCache.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace BPrivate {

namespace {

struct FaceCache {
	std::mutex lock;
	std::map<std::string, cairo_font_face_t*> faces;
};

FaceCache& face_cache()
{
	// Never destroyed: faces may be in use by other modules' static objects at exit.
	static FaceCache* cache = new FaceCache;
	return *cache;
}

cairo_font_face_t* load_face(const char* family, const char* style, uint16 face)
{
	FcPattern* pattern = FcPatternCreate();
	FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
	// The style name decides when fontconfig knows it; the face bits are the fallback.
	bool bold = (face & B_BOLD_FACE) != 0;
	bool italic = (face & B_ITALIC_FACE) != 0;
	if (style[0] != '\0') {
		std::string lower(style);
		std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
		bold = bold || lower.find("bold") != std::string::npos;
		italic = italic || lower.find("italic") != std::string::npos
			|| lower.find("oblique") != std::string::npos;
	}
	FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
	FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
	FcConfigSubstitute(NULL, pattern, FcMatchPattern);
	FcDefaultSubstitute(pattern);
	FcResult result;
	FcPattern* match = FcFontMatch(NULL, pattern, &result);
	FcPatternDestroy(pattern);

	cairo_font_face_t* fontFace = NULL;
	if (match != NULL) {
		fontFace = cairo_ft_font_face_create_for_pattern(match);
		FcPatternDestroy(match);
	}
	if (fontFace == NULL || cairo_font_face_status(fontFace) != CAIRO_STATUS_SUCCESS) {
		if (fontFace != NULL)
			cairo_font_face_destroy(fontFace);
		fontFace = cairo_toy_font_face_create("sans-serif", CAIRO_FONT_SLANT_NORMAL,
			CAIRO_FONT_WEIGHT_NORMAL);
	}
	return fontFace;
}

} // namespace

cairo_font_face_t* font_face_for(const BFont& font)
{
	font_family family;
	font_style style;
	font.GetFamilyAndStyle(&family, &style);
	std::string key = std::string(family) + '\n' + style + '\n' + std::to_string(font.Face());

	FaceCache& cache = face_cache();
	std::lock_guard<std::mutex> guard(cache.lock);
	auto found = cache.faces.find(key);
	if (found != cache.faces.end())
		return found->second;
	cairo_font_face_t* face = load_face(family, style, font.Face());
	cache.faces.emplace(key, face);
	return face;
}

void set_font_options(cairo_font_options_t* options, bool antialias)
{
	cairo_font_options_set_antialias(options,
		antialias ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
	cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
	cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
}

cairo_scaled_font_t* create_scaled_font(const BFont& font, double scale, bool antialias)
{
	// A glyph is at most 32,767 device pixels tall, what a 16-bit coordinate can place (and
	// more than the tallest page the driver prints). Cairo fails, and leaks on the way,
	// for glyphs of 65,536 pixels and up: a 10,000-point font at a scale of 6.6.
	const double kMaxDeviceSize = 32767;
	double size = std::min(font.Size() * scale, kMaxDeviceSize);
	cairo_matrix_t fontMatrix;
	// Shear slants the glyphs' tops to the right below 90 degrees; y grows downwards.
	double slant = 1.0 / std::tan(font.Shear() * M_PI / 180.0);
	cairo_matrix_init(&fontMatrix, size, 0, -size * slant, size, 0, 0);
	if (font.Rotation() != 0) {
		cairo_matrix_t rotation;
		cairo_matrix_init_rotate(&rotation, -font.Rotation() * M_PI / 180.0);
		cairo_matrix_multiply(&fontMatrix, &fontMatrix, &rotation);
	}
	cairo_matrix_t identity;
	cairo_matrix_init_identity(&identity);
	cairo_font_options_t* options = cairo_font_options_create();
	set_font_options(options, antialias);
	cairo_scaled_font_t* scaled = cairo_scaled_font_create(font_face_for(font), &fontMatrix,
		&identity, options);
	cairo_font_options_destroy(options);
	return scaled;
}

} // namespace BPrivate

// --- BFont ----------------------------------------------------------------------

namespace {

void copy_name(char* destination, const char* source, size_t capacity)
{
	strncpy(destination, source, capacity - 1);
	destination[capacity - 1] = '\0';
}

const BFont& make_font(const char* family, const char* style, float size)
{
	BFont* font = new BFont;
	font->SetFamilyAndStyle(family, style);
	font->SetSize(size);
	return *font;
}

// Sizes of the platform's three system fonts.
const BFont& kPlainFont = make_font("DejaVu Sans", "Book", 10.0f);
const BFont& kBoldFont = make_font("DejaVu Sans", "Bold", 12.0f);
const BFont& kFixedFont = make_font("DejaVu Sans Mono", "Book", 12.0f);

uint16 face_for_style(const char* style)
{
	std::string lower(style);
	std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
	uint16 face = 0;
	if (lower.find("bold") != std::string::npos)
		face |= B_BOLD_FACE;
	if (lower.find("italic") != std::string::npos || lower.find("oblique") != std::string::npos)
		face |= B_ITALIC_FACE;
	return face != 0 ? face : uint16(B_REGULAR_FACE);
}

const char* style_for_face(uint16 face)
{
	bool bold = (face & B_BOLD_FACE) != 0;
	bool italic = (face & B_ITALIC_FACE) != 0;
	if (bold && italic)
		return "Bold Oblique";
	if (bold)
		return "Bold";
	if (italic)
		return "Oblique";
	return "Book";
}

} // namespace

const BFont* be_plain_font = &kPlainFont;
const BFont* be_bold_font = &kBoldFont;
const BFont* be_fixed_font = &kFixedFont;

BFont::BFont()
	:
	fSize(10.0f),
	fShear(90.0f),
	fRotation(0.0f),
	fSpacing(B_BITMAP_SPACING),
	fEncoding(B_UNICODE_UTF8),
	fFace(B_REGULAR_FACE),
	fFlags(0)
{
	copy_name(fFamily, "DejaVu Sans", sizeof(fFamily));
	copy_name(fStyle, "Book", sizeof(fStyle));
}

BFont::BFont(const BFont& font) = default;

BFont::BFont(const BFont* font)
	:
	BFont(font != NULL ? *font : BFont())
{
}

BFont& BFont::operator=(const BFont& font) = default;

bool BFont::operator==(const BFont& font) const
{
	return strcmp(fFamily, font.fFamily) == 0 && strcmp(fStyle, font.fStyle) == 0
		&& fSize == font.fSize && fShear == font.fShear && fRotation == font.fRotation
		&& fSpacing == font.fSpacing && fEncoding == font.fEncoding && fFace == font.fFace
		&& fFlags == font.fFlags;
}

status_t BFont::SetFamilyAndStyle(const font_family family, const font_style style)
{
	if (family != NULL && family[0] == '\0')
		return B_BAD_VALUE;
	if (family != NULL)
		copy_name(fFamily, family, sizeof(fFamily));
	if (style != NULL && style[0] != '\0') {
		copy_name(fStyle, style, sizeof(fStyle));
		fFace = face_for_style(fStyle);
	}
	return B_OK;
}

status_t BFont::SetFamilyAndFace(const font_family family, uint16 face)
{
	if (family != NULL && family[0] == '\0')
		return B_BAD_VALUE;
	if (family != NULL)
		copy_name(fFamily, family, sizeof(fFamily));
	SetFace(face);
	return B_OK;
}

void BFont::GetFamilyAndStyle(font_family* family, font_style* style) const
{
	if (family != NULL)
		copy_name(*family, fFamily, sizeof(font_family));
	if (style != NULL)
		copy_name(*style, fStyle, sizeof(font_style));
}

void BFont::SetSize(float size)
{
	if (std::isfinite(size) && size >= 0)
		fSize = std::min(size, 10000.0f);
}

void BFont::SetShear(float shear)
{
	if (std::isfinite(shear))
		fShear = std::clamp(shear, 45.0f, 135.0f);
}

void BFont::SetRotation(float rotation)
{
	if (std::isfinite(rotation))
		fRotation = std::fmod(rotation, 360.0f);
}

void BFont::SetSpacing(uint8 spacing)
{
	fSpacing = spacing;
}

void BFont::SetEncoding(uint8 encoding)
{
	fEncoding = encoding;
}

void BFont::SetFace(uint16 face)
{
	fFace = face != 0 ? face : uint16(B_REGULAR_FACE);
	copy_name(fStyle, style_for_face(fFace), sizeof(fStyle));
}

void BFont::SetFlags(uint32 flags)
{
	fFlags = flags;
}

float BFont::StringWidth(const char* string) const
{
	return string != NULL ? StringWidth(string, static_cast<int32>(strlen(string))) : 0;
}

float BFont::StringWidth(const char* string, int32 length) const
{
	if (string == NULL || length <= 0 || fSize == 0)
		return 0;
	length = static_cast<int32>(strnlen(string, length));
	std::string text(string, length);
	// Measured at 1 point and scaled: metrics are unhinted, so this is exact and keeps
	// one cached scaled font per face.
	BFont unit(*this);
	unit.fSize = 1.0f;
	unit.fShear = 90.0f;
	unit.fRotation = 0.0f;
	cairo_scaled_font_t* scaled = BPrivate::create_scaled_font(unit, 1.0, false);
	cairo_text_extents_t extents;
	cairo_scaled_font_text_extents(scaled, text.c_str(), &extents);
	bool valid = cairo_scaled_font_status(scaled) == CAIRO_STATUS_SUCCESS;
	cairo_scaled_font_destroy(scaled);
	return valid ? static_cast<float>(extents.x_advance * fSize) : 0;
}

void BFont::GetStringWidths(const char* stringArray[], const int32 lengthArray[],
	int32 numStrings, float widthArray[]) const
{
	if (stringArray == NULL || lengthArray == NULL || widthArray == NULL)
		return;
	for (int32 i = 0; i < numStrings; i++)
		widthArray[i] = StringWidth(stringArray[i], lengthArray[i]);
}

void BFont::GetHeight(font_height* height) const
{
	if (height == NULL)
		return;
	BFont unit(*this);
	unit.fSize = 1.0f;
	unit.fShear = 90.0f;
	unit.fRotation = 0.0f;
	cairo_scaled_font_t* scaled = BPrivate::create_scaled_font(unit, 1.0, false);
	cairo_font_extents_t extents;
	cairo_scaled_font_extents(scaled, &extents);
	cairo_scaled_font_destroy(scaled);
	height->ascent = static_cast<float>(extents.ascent * fSize);
	height->descent = static_cast<float>(extents.descent * fSize);
	height->leading = static_cast<float>(
		std::max(0.0, extents.height - extents.ascent - extents.descent) * fSize);
}

void BFont::PrintToStream() const
{
	printf("BFont: %s %s, size %g, shear %g, rotation %g, face 0x%x, flags 0x%x\n", fFamily,
		fStyle, fSize, fShear, fRotation, fFace, fFlags);
}

int32 count_font_families()
{
	FcPattern* pattern = FcPatternCreate();
	FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, NULL);
	FcFontSet* set = FcFontList(NULL, pattern, objects);
	std::vector<std::string> families;
	int32 count = 0;
	if (set != NULL) {
		for (int i = 0; i < set->nfont; i++) {
			FcChar8* name;
			if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &name) == FcResultMatch)
				families.push_back(reinterpret_cast<const char*>(name));
		}
		FcFontSetDestroy(set);
		std::sort(families.begin(), families.end());
		count = static_cast<int32>(
			std::unique(families.begin(), families.end()) - families.begin());
	}
	FcObjectSetDestroy(objects);
	FcPatternDestroy(pattern);
	return count;
}

status_t get_font_family(int32 index, font_family* name, uint32* flags)
{
	if (name == NULL || index < 0)
		return B_BAD_VALUE;
	FcPattern* pattern = FcPatternCreate();
	FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, NULL);
	FcFontSet* set = FcFontList(NULL, pattern, objects);
	std::vector<std::string> families;
	if (set != NULL) {
		for (int i = 0; i < set->nfont; i++) {
			FcChar8* family;
			if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &family) == FcResultMatch)
				families.push_back(reinterpret_cast<const char*>(family));
		}
		FcFontSetDestroy(set);
	}
	FcObjectSetDestroy(objects);
	FcPatternDestroy(pattern);
	std::sort(families.begin(), families.end());
	families.erase(std::unique(families.begin(), families.end()), families.end());
	if (index >= static_cast<int32>(families.size()))
		return B_BAD_INDEX;
	copy_name(*name, families[index].c_str(), sizeof(font_family));
	if (flags != NULL)
		*flags = 0;
	return B_OK;
}
