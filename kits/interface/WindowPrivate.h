// Helpers shared by the window, the controls and the scripting interface.
#pragma once

#include <SupportDefs.h>

#include <string>

class BView;
class BWindow;

// The first view, depth first in tree order, whose label (see view_label) equals spec, else
// the first whose name does; NULL for none. With the window locked.
BView* window_find_view(BWindow* window, const char* spec);

// What a user reads on the view: a control's, box's or menu field's label, a string view's
// text; NULL for views without one.
const char* view_label(BView* view);

class BBitmap;

// The window drawn afresh into a copy of its bitmap, which the caller owns. With the
// window locked.
BBitmap* window_render(BWindow* window);
