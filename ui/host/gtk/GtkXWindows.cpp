#include "GtkXWindows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>

namespace ui::gtk {
namespace {

// Frames of reparenting window managers nest the client a level or two below the root.
constexpr int kMaxFrameDepth = 3;

void collect(Display* display, Window parent, const std::string& className, int depth,
             std::vector<unsigned long>& found) {
    Window root = 0, up = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count))
        return;
    for (unsigned int i = 0; i < count; ++i) {
        // A window with a class of its own is a client; its children are its own business.
        XClassHint hint{};
        if (XGetClassHint(display, children[i], &hint)) {
            if (hint.res_class && className == hint.res_class)
                found.push_back(children[i]);
            if (hint.res_name)
                XFree(hint.res_name);
            if (hint.res_class)
                XFree(hint.res_class);
        } else if (depth + 1 < kMaxFrameDepth) {
            collect(display, children[i], className, depth + 1, found);
        }
    }
    if (children)
        XFree(children);
}

}  // namespace

std::vector<unsigned long> FindToplevelsOfClass(GdkDisplay* display, const std::string& className) {
    std::vector<unsigned long> found;
    if (!GDK_IS_X11_DISPLAY(display) || className.empty())
        return found;
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
    // Windows of other programs may go away while we look: their errors are expected.
    gdk_x11_display_error_trap_push(display);
    collect(xdisplay, DefaultRootWindow(xdisplay), className, 0, found);
    gdk_x11_display_error_trap_pop_ignored(display);
    return found;
}

bool ActivateToplevel(GdkDisplay* display, unsigned long window) {
    if (!GDK_IS_X11_DISPLAY(display))
        return false;
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
    const Window root = DefaultRootWindow(xdisplay);
    gdk_x11_display_error_trap_push(display);
    XWindowAttributes attributes{};
    const bool exists = XGetWindowAttributes(xdisplay, window, &attributes) != 0;
    if (exists) {
        GdkScreen* screen = gdk_display_get_default_screen(display);
        if (gdk_x11_screen_supports_net_wm_hint(
                screen, gdk_atom_intern_static_string("_NET_ACTIVE_WINDOW"))) {
            // Source 2 ("pager"): the user asked for it, so focus-stealing rules do not apply.
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = XInternAtom(xdisplay, "_NET_ACTIVE_WINDOW", False);
            event.xclient.format = 32;
            event.xclient.data.l[0] = 2;
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(xdisplay, root, False, SubstructureRedirectMask | SubstructureNotifyMask,
                       &event);
        } else if (attributes.map_state == IsViewable) {
            XRaiseWindow(xdisplay, window);
            XSetInputFocus(xdisplay, window, RevertToParent, CurrentTime);
        }
        XSync(xdisplay, False);
    }
    return gdk_x11_display_error_trap_pop(display) == 0 && exists;
}

}  // namespace ui::gtk
