// The printers' icons, drawn here: a small ink-jet printer with a sheet coming out, and a
// drop of each ink. PNG images at the three sizes PAPPL shows (48, 128 and 512 pixels), made
// once and kept for the life of the process.
#pragma once

#include <pappl/pappl.h>

namespace printer_app {

// Fills PAPPL's icon entries: small, medium, large.
void set_icons(pappl_icon_t (&icons)[3], bool colour);

}  // namespace printer_app
