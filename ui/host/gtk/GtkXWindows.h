#pragma once
// Top-level windows of every program on the X display, found by their WM_CLASS. Kept apart
// from the other host files: the X headers' macros clash with the rest of the program's headers.

#include <gdk/gdk.h>

#include <string>
#include <vector>

namespace ui::gtk {

// The X ids of the top-level windows whose WM_CLASS class part is `className`, in stacking
// order, bottom first. Windows a window manager has framed are found inside their frames.
std::vector<unsigned long> FindToplevelsOfClass(GdkDisplay* display, const std::string& className);

// Asks the window manager to activate `window` (it then also de-iconifies and raises it); with
// no window manager, raises the window and gives it the focus directly. False when the window
// went away meanwhile.
bool ActivateToplevel(GdkDisplay* display, unsigned long window);

}  // namespace ui::gtk
