// Process-wide cache of the Cairo font faces that fontconfig picks for a family and style.
// Faces live until the process ends; the cache is safe to use from any thread.
#pragma once

#include <Font.h>

#include <cairo.h>

namespace BPrivate {

// The face for a font's family, style and face bits; never NULL (a face that cannot be
// found falls back to fontconfig's default sans-serif).
cairo_font_face_t* font_face_for(const BFont& font);

// Font options of all text: outlines unhinted and metrics unrounded, so widths scale
// linearly with the size and a page measures the same at every resolution.
void set_font_options(cairo_font_options_t* options, bool antialias);

// A scaled font of the face at size points with the font's shear and rotation applied,
// at scale (device pixels per point). The caller destroys it.
cairo_scaled_font_t* create_scaled_font(const BFont& font, double scale, bool antialias);

} // namespace BPrivate
