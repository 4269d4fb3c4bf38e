#pragma once
// Synthesised pointer clicks for the GTK host's test helpers.

#include <gdk/gdk.h>

namespace ui::gtk {

// Moves the pointer to (x, y) of `window` and clicks the first button; false without XTest.
bool XTestClick(GdkWindow* window, int x, int y);

}  // namespace ui::gtk
