#include "Icons.h"

#include <cairo.h>

#include <mutex>
#include <vector>

namespace printer_app {

namespace {

const int kSizes[3] = {48, 128, 512};

cairo_status_t append_png(void* closure, const unsigned char* data, unsigned int length)
{
	auto* bytes = static_cast<std::vector<unsigned char>*>(closure);
	bytes->insert(bytes->end(), data, data + length);
	return CAIRO_STATUS_SUCCESS;
}

void rounded(cairo_t* cairo, double x, double y, double width, double height, double radius)
{
	cairo_new_sub_path(cairo);
	cairo_arc(cairo, x + width - radius, y + radius, radius, -1.5708, 0);
	cairo_arc(cairo, x + width - radius, y + height - radius, radius, 0, 1.5708);
	cairo_arc(cairo, x + radius, y + height - radius, radius, 1.5708, 3.14159);
	cairo_arc(cairo, x + radius, y + radius, radius, 3.14159, 4.71239);
	cairo_close_path(cairo);
}

// The icon on a square of side 1.
void draw_printer(cairo_t* cairo, bool colour)
{
	// The sheet waiting at the back, and the printed one coming out at the front.
	cairo_set_source_rgb(cairo, 0.97, 0.97, 0.95);
	cairo_rectangle(cairo, 0.28, 0.06, 0.44, 0.3);
	cairo_fill(cairo);
	// The body.
	cairo_set_source_rgb(cairo, 0.25, 0.29, 0.35);
	rounded(cairo, 0.06, 0.3, 0.88, 0.42, 0.07);
	cairo_fill(cairo);
	cairo_set_source_rgb(cairo, 0.16, 0.18, 0.22);
	cairo_rectangle(cairo, 0.18, 0.6, 0.64, 0.05);
	cairo_fill(cairo);
	cairo_set_source_rgb(cairo, 1, 1, 1);
	cairo_rectangle(cairo, 0.22, 0.63, 0.56, 0.31);
	cairo_fill(cairo);
	cairo_set_source_rgb(cairo, 0.6, 0.62, 0.66);
	cairo_set_line_width(cairo, 0.012);
	cairo_rectangle(cairo, 0.22, 0.63, 0.56, 0.31);
	cairo_stroke(cairo);
	// The inks, as drops along the printed sheet: black alone on the black printer.
	const double inks[4][3] = {{0, 0.68, 0.94}, {0.93, 0, 0.55}, {1, 0.87, 0}, {0.1, 0.1, 0.1}};
	for (int i = colour ? 0 : 3; i < 4; i++) {
		double x = colour ? 0.31 + 0.127 * i : 0.5;
		cairo_set_source_rgb(cairo, inks[i][0], inks[i][1], inks[i][2]);
		cairo_move_to(cairo, x, 0.71);
		cairo_curve_to(cairo, x + 0.05, 0.78, x + 0.05, 0.84, x, 0.85);
		cairo_curve_to(cairo, x - 0.05, 0.84, x - 0.05, 0.78, x, 0.71);
		cairo_fill(cairo);
	}
	// The power light.
	cairo_set_source_rgb(cairo, 0.3, 0.85, 0.4);
	cairo_arc(cairo, 0.84, 0.4, 0.025, 0, 6.28318);
	cairo_fill(cairo);
}

std::vector<unsigned char> icon_png(int size, bool colour)
{
	std::vector<unsigned char> bytes;
	cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
	cairo_t* cairo = cairo_create(surface);
	cairo_scale(cairo, size, size);
	draw_printer(cairo, colour);
	cairo_destroy(cairo);
	cairo_surface_write_to_png_stream(surface, append_png, &bytes);
	cairo_surface_destroy(surface);
	return bytes;
}

}  // namespace

void set_icons(pappl_icon_t (&icons)[3], bool colour)
{
	// Drawn once for each kind of printer; PAPPL keeps pointers to the data.
	static std::once_flag drawn;
	static std::vector<unsigned char> images[2][3];
	std::call_once(drawn, [] {
		for (int kind = 0; kind < 2; kind++) {
			for (int i = 0; i < 3; i++)
				images[kind][i] = icon_png(kSizes[i], kind == 0);
		}
	});
	for (int i = 0; i < 3; i++) {
		const std::vector<unsigned char>& image = images[colour ? 0 : 1][i];
		icons[i].filename[0] = '\0';
		icons[i].data = image.data();
		icons[i].datalen = image.size();
	}
}

}  // namespace printer_app
