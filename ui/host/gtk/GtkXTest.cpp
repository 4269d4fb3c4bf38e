// Pointer input through the X server's test extension, as a user's mouse would send it. Kept
// apart: the X headers' macros clash with the rest of the program's headers.

#include "GtkXTest.h"

#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

namespace ui::gtk {

bool XTestClick(GdkWindow* window, int x, int y) {
    GdkDisplay* display = gdk_window_get_display(window);
    if (!GDK_IS_X11_DISPLAY(display))
        return false;
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
    int major = 0, minor = 0, event = 0, error = 0;
    if (!XTestQueryExtension(xdisplay, &event, &error, &major, &minor))
        return false;
    int originX = 0, originY = 0;
    gdk_window_get_origin(window, &originX, &originY);
    XTestFakeMotionEvent(xdisplay, -1, originX + x, originY + y, CurrentTime);
    XTestFakeButtonEvent(xdisplay, 1, True, CurrentTime);
    XTestFakeButtonEvent(xdisplay, 1, False, CurrentTime);
    XFlush(xdisplay);
    return true;
}

}  // namespace ui::gtk
