// Helpers shared by the window and the scripting interface.
#pragma once

class BBitmap;
class BWindow;

// The window drawn afresh into a copy of its bitmap, which the caller owns. With the
// window locked.
BBitmap* window_render(BWindow* window);
