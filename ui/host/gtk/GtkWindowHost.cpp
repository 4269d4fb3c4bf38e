#include <algorithm>
#include <chrono>
#include <cstdio>

#include "GtkInternal.h"
#include "Logging.h"
#include "ui/Edit.h"
#include "ui/HostInput.h"
#include "ui/Painter.h"

namespace ui::gtk {
namespace {

WParam virtualKey(guint keyval) {
    switch (keyval) {
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
            return kVkReturn;
        case GDK_KEY_Escape:
            return kVkEscape;
        case GDK_KEY_Tab:
        case GDK_KEY_ISO_Left_Tab:
            return kVkTab;
        case GDK_KEY_BackSpace:
            return kVkBack;
        case GDK_KEY_space:
            return kVkSpace;
        case GDK_KEY_Up:
            return kVkUp;
        case GDK_KEY_Down:
            return kVkDown;
        case GDK_KEY_Left:
            return kVkLeft;
        case GDK_KEY_Right:
            return kVkRight;
        case GDK_KEY_Home:
            return kVkHome;
        case GDK_KEY_End:
            return kVkEnd;
        case GDK_KEY_Page_Up:
            return kVkPrior;
        case GDK_KEY_Page_Down:
            return kVkNext;
        case GDK_KEY_Delete:
            return kVkDelete;
        default:
            return 0;
    }
}

GdkPixbuf* pixbufOf(const Image& image) {
    return gdk_pixbuf_get_from_surface(image.Surface(), 0, 0, image.Width(), image.Height());
}

}  // namespace

GtkWindowHost::GtkWindowHost(GtkBackend& backend, WindowBase& window, GtkWindowHost* owner)
    : m_backend(backend), m_window(window) {
    m_toplevel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(m_toplevel);
    gtk_window_set_decorated(GTK_WINDOW(m_toplevel), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(m_toplevel), FALSE);
    gtk_widget_set_app_paintable(m_toplevel, TRUE);
    GdkScreen* screen = gtk_widget_get_screen(m_toplevel);
    const WindowAttributes& attrs = pm().GetWindowAttributes();
    const bool seeThrough = attrs.bkTrans || (attrs.roundCorner.cx > 0 && attrs.roundCorner.cy > 0);
    // Transparency needs a compositor; without one the window is cut to the skin's outline.
    if (gdk_screen_is_composited(screen)) {
        if (GdkVisual* visual = gdk_screen_get_rgba_visual(screen)) {
            gtk_widget_set_visual(m_toplevel, visual);
            m_rgba = true;
        }
    }
    m_shaped = seeThrough && !m_rgba;
    if (owner) {
        gtk_window_set_transient_for(GTK_WINDOW(m_toplevel), GTK_WINDOW(owner->Toplevel()));
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(m_toplevel), TRUE);
    }
    // The class name is what another copy of the program looks for on the display, so it
    // goes into WM_CLASS (both parts) and the role. GTK calls the WM_CLASS setter deprecated
    // because window managers should not need it; here another program does.
    const std::string wmClass = m_window.GetWindowClassName();
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_window_set_wmclass(GTK_WINDOW(m_toplevel), wmClass.c_str(), wmClass.c_str());
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_window_set_role(GTK_WINDOW(m_toplevel), wmClass.c_str());

    m_overlay = gtk_overlay_new();
    m_area = gtk_drawing_area_new();
    gtk_widget_set_can_focus(m_area, TRUE);
    gtk_widget_add_events(m_area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                      GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK |
                                      GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK);
    gtk_container_add(GTK_CONTAINER(m_overlay), m_area);
    gtk_container_add(GTK_CONTAINER(m_toplevel), m_overlay);

    m_entry = gtk_entry_new();
    gtk_widget_set_no_show_all(m_entry, TRUE);
    gtk_widget_set_halign(m_entry, GTK_ALIGN_START);
    gtk_widget_set_valign(m_entry, GTK_ALIGN_START);
    gtk_entry_set_has_frame(GTK_ENTRY(m_entry), FALSE);
    m_entryCss = gtk_css_provider_new();
    gtk_style_context_add_provider(gtk_widget_get_style_context(m_entry),
                                   GTK_STYLE_PROVIDER(m_entryCss),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gtk_overlay_add_overlay(GTK_OVERLAY(m_overlay), m_entry);

    g_signal_connect(m_area, "draw", G_CALLBACK(onDraw), this);
    g_signal_connect(m_area, "button-press-event", G_CALLBACK(onButtonPress), this);
    g_signal_connect(m_area, "button-release-event", G_CALLBACK(onButtonRelease), this);
    g_signal_connect(m_area, "motion-notify-event", G_CALLBACK(onMotion), this);
    g_signal_connect(m_area, "leave-notify-event", G_CALLBACK(onLeave), this);
    g_signal_connect(m_area, "scroll-event", G_CALLBACK(onScroll), this);
    g_signal_connect(m_toplevel, "key-press-event", G_CALLBACK(onKeyPress), this);
    g_signal_connect(m_toplevel, "delete-event", G_CALLBACK(onDelete), this);
    g_signal_connect(m_toplevel, "window-state-event", G_CALLBACK(onWindowState), this);
    g_signal_connect(m_entry, "activate", G_CALLBACK(onEntryActivate), this);
    g_signal_connect(m_entry, "focus-out-event", G_CALLBACK(onEntryFocusOut), this);
    m_backend.Register(this);
}

GtkWindowHost::~GtkWindowHost() {
    m_backend.Unregister(this);
    if (m_timer)
        g_source_remove(m_timer);
    g_signal_handlers_disconnect_by_data(m_entry, this);
    g_signal_handlers_disconnect_by_data(m_area, this);
    g_signal_handlers_disconnect_by_data(m_toplevel, this);
    g_object_unref(m_entryCss);
    gtk_widget_destroy(m_toplevel);
    g_object_unref(m_toplevel);
}

PaintManager& GtkWindowHost::pm() const {
    return m_window.GetPaintManager();
}

void GtkWindowHost::SetBounds(const Rect& bounds) {
    const bool resized = bounds.Width() != m_bounds.Width() || bounds.Height() != m_bounds.Height();
    m_bounds = bounds;
    if (resized) {
        gtk_widget_set_size_request(m_area, bounds.Width(), bounds.Height());
        gtk_window_resize(GTK_WINDOW(m_toplevel), bounds.Width(), bounds.Height());
        pm().SetClientSize({bounds.Width(), bounds.Height()});
    }
    gtk_window_move(GTK_WINDOW(m_toplevel), bounds.left, bounds.top);
}

Rect GtkWindowHost::GetWorkArea() const {
    GdkDisplay* display = gtk_widget_get_display(m_toplevel);
    const Point c = m_bounds.Center();
    GdkMonitor* monitor = gdk_display_get_monitor_at_point(display, c.x, c.y);
    if (!monitor)
        monitor = gdk_display_get_primary_monitor(display);
    if (!monitor)
        return Rect::FromSize(0, 0, m_bounds.Width(), m_bounds.Height());
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return Rect::FromSize(area.x, area.y, area.width, area.height);
}

void GtkWindowHost::SetTitle(const std::string& title) {
    gtk_window_set_title(GTK_WINDOW(m_toplevel), title.c_str());
}

void GtkWindowHost::Show(bool show, bool activate) {
    m_shown = show;
    if (!show) {
        gtk_widget_hide(m_toplevel);
        return;
    }
    gtk_window_move(GTK_WINDOW(m_toplevel), m_bounds.left, m_bounds.top);
    gtk_widget_show_all(m_toplevel);
    if (activate)
        gtk_window_present(GTK_WINDOW(m_toplevel));
    gtk_widget_grab_focus(m_area);
}

void GtkWindowHost::Minimize() {
    m_minimized = true;
    gtk_window_iconify(GTK_WINDOW(m_toplevel));
}

void GtkWindowHost::Restore() {
    m_minimized = false;
    gtk_window_deiconify(GTK_WINDOW(m_toplevel));
    if (m_shown)
        gtk_window_present(GTK_WINDOW(m_toplevel));
}

void GtkWindowHost::SetInputEnabled(bool enabled) {
    // Insensitive widgets still let keys and the window manager's close reach the toplevel:
    // every handler checks the flag as well.
    m_inputEnabled = enabled;
    gtk_widget_set_sensitive(m_overlay, enabled);
    if (!enabled) {
        HostInputOf(pm()).OnMouseLeave();
        pm().SetHandCursor(false);
    }
}

void GtkWindowHost::SetIcon(std::shared_ptr<const Image> icon) {
    if (!icon)
        return;
    if (GdkPixbuf* pixbuf = pixbufOf(*icon)) {
        gtk_window_set_icon(GTK_WINDOW(m_toplevel), pixbuf);
        g_object_unref(pixbuf);
    }
}

void GtkWindowHost::Invalidate(const Rect& r) {
    if (m_shaped)
        gtk_widget_queue_draw(m_area);  // the outline may change with any pixel
    else
        gtk_widget_queue_draw_area(m_area, r.left, r.top, r.Width(), r.Height());
}

void GtkWindowHost::TimersChanged() {
    if (m_timer)
        g_source_remove(m_timer);
    m_timer = 0;
    auto due = HostInputOf(pm()).NextTimerDue();
    if (!due)
        return;
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(*due - PaintManager::Clock::now())
            .count();
    m_timer = g_timeout_add(guint(std::max<int64_t>(0, wait)), onTimer, this);
}

gboolean GtkWindowHost::onTimer(gpointer self) {
    auto* host = static_cast<GtkWindowHost*>(self);
    host->m_timer = 0;
    // Firing re-arms through TimersChanged.
    HostInputOf(host->pm()).FireDueTimers(PaintManager::Clock::now());
    if (!host->m_timer)
        host->TimersChanged();
    return G_SOURCE_REMOVE;
}

void GtkWindowHost::BeginCaptionDrag(Point) {
    gtk_window_begin_move_drag(GTK_WINDOW(m_toplevel), 1, m_pressRoot.x, m_pressRoot.y,
                               m_pressTime);
}

void GtkWindowHost::SetToolTip(const std::string& text) {
    m_tooltip = text;
    gtk_widget_set_tooltip_text(m_area, text.empty() ? nullptr : text.c_str());
}

void GtkWindowHost::SetHandCursor(bool hand) {
    GdkWindow* w = gtk_widget_get_window(m_area);
    if (!w)
        return;
    GdkCursor* cursor =
        hand ? gdk_cursor_new_from_name(gdk_window_get_display(w), "pointer") : nullptr;
    gdk_window_set_cursor(w, cursor);
    if (cursor)
        g_object_unref(cursor);
}

void GtkWindowHost::BeginEdit(Edit& edit) {
    m_editing = &edit;
    const Rect r = edit.GetPos().Deflate(edit.GetTextPadding());
    const FontDesc font = pm().GetFont(edit.GetFont());
    const Color c = edit.GetTextColor();
    char css[512];
    // The entry looks like the skin's text so only the caret shows that editing began.
    std::snprintf(
        css, sizeof css,
        "entry { font-family: \"%s\"; font-size: %dpx; font-weight: %s; color: rgba(%d,%d,%d,%.3f);"
        " background: #FFFFFF; border: none; box-shadow: none; padding: 0 2px; min-height: 0; }",
        font.family.c_str(), font.size, font.bold ? "bold" : "normal", c.R(), c.G(), c.B(),
        c.A() / 255.0);
    gtk_css_provider_load_from_data(m_entryCss, css, -1, nullptr);
    gtk_entry_set_text(GTK_ENTRY(m_entry), edit.GetText().c_str());
    gtk_entry_set_max_length(GTK_ENTRY(m_entry), edit.GetMaxChar());
    gtk_entry_set_visibility(GTK_ENTRY(m_entry), !edit.IsPasswordMode());
    gtk_widget_set_margin_start(m_entry, r.left);
    gtk_widget_set_margin_top(m_entry, r.top);
    gtk_widget_set_size_request(m_entry, std::max(1, r.Width()), std::max(1, r.Height()));
    gtk_widget_show(m_entry);
    gtk_widget_grab_focus(m_entry);
}

void GtkWindowHost::EndEdit(Edit& edit) {
    if (m_editing != &edit)
        return;
    m_editing = nullptr;
    edit.SetEditText(gtk_entry_get_text(GTK_ENTRY(m_entry)));
    gtk_widget_hide(m_entry);
    gtk_widget_grab_focus(m_area);
}

void GtkWindowHost::onEntryActivate(GtkEntry*, gpointer self) {
    static_cast<GtkWindowHost*>(self)->pm().SetFocus(nullptr);
}

gboolean GtkWindowHost::onEntryFocusOut(GtkWidget*, GdkEvent*, gpointer self) {
    auto* host = static_cast<GtkWindowHost*>(self);
    // Leaving the entry ends the edit, but not from inside GTK's focus change.
    if (host->m_editing)
        host->m_window.Invoke([host] {
            if (host->m_editing)
                host->pm().SetFocus(nullptr);
        });
    return FALSE;
}

void GtkWindowHost::applyShape(const Image& frame) {
    cairo_region_t* region = gdk_cairo_region_create_from_surface(frame.Surface());
    gtk_widget_shape_combine_region(m_toplevel, region);
    cairo_region_destroy(region);
}

void GtkWindowHost::paint(cairo_t* cr) {
    const Size size = pm().GetClientSize();
    const Rect all = Rect::FromSize(0, 0, size.cx, size.cy);
    if (m_shaped) {
        // Without alpha the outline comes from the frame's own transparency.
        auto frame = Image::Create(std::max(1, size.cx), std::max(1, size.cy));
        if (!frame)
            return;
        {
            Painter painter(*frame);
            pm().Paint(painter, all);
        }
        applyShape(*frame);
        cairo_set_source_surface(cr, frame->Surface(), 0, 0);
        cairo_paint(cr);
    } else {
        double x1, y1, x2, y2;
        cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
        Painter painter(cr, size);
        pm().Paint(painter, Rect{int(x1), int(y1), int(x2 + 0.999), int(y2 + 0.999)});
    }
    HostInputOf(pm()).TakeDirtyRect();
    ++m_frames;
}

gboolean GtkWindowHost::onDraw(GtkWidget*, cairo_t* cr, gpointer self) {
    static_cast<GtkWindowHost*>(self)->paint(cr);
    return TRUE;
}

gboolean GtkWindowHost::onButtonPress(GtkWidget*, GdkEventButton* e, gpointer self) {
    auto* host = static_cast<GtkWindowHost*>(self);
    if (e->type != GDK_BUTTON_PRESS || e->button != 1 || !host->m_inputEnabled)
        return TRUE;
    host->m_pressRoot = {int(e->x_root), int(e->y_root)};
    host->m_pressTime = e->time;
    const Point p{int(e->x), int(e->y)};
    HostInputOf(host->pm()).OnMouseMove(p);
    HostInputOf(host->pm()).OnMouseDown(p);
    return TRUE;
}

gboolean GtkWindowHost::onButtonRelease(GtkWidget*, GdkEventButton* e, gpointer self) {
    auto* host = static_cast<GtkWindowHost*>(self);
    if (e->button == 1 && host->m_inputEnabled)
        HostInputOf(host->pm()).OnMouseUp({int(e->x), int(e->y)});
    return TRUE;
}

gboolean GtkWindowHost::onMotion(GtkWidget*, GdkEventMotion* e, gpointer self) {
    auto* host = static_cast<GtkWindowHost*>(self);
    if (host->m_inputEnabled)
        HostInputOf(host->pm()).OnMouseMove({int(e->x), int(e->y)});
    return TRUE;
}

gboolean GtkWindowHost::onLeave(GtkWidget*, GdkEventCrossing* e, gpointer self) {
    if (e->mode == GDK_CROSSING_NORMAL)
        HostInputOf(static_cast<GtkWindowHost*>(self)->pm()).OnMouseLeave();
    return FALSE;
}

gboolean GtkWindowHost::onScroll(GtkWidget*, GdkEventScroll* e, gpointer self) {
    int notches = 0;
    if (e->direction == GDK_SCROLL_UP)
        notches = 1;
    else if (e->direction == GDK_SCROLL_DOWN)
        notches = -1;
    else if (e->direction == GDK_SCROLL_SMOOTH)
        notches = e->delta_y < 0 ? 1 : e->delta_y > 0 ? -1 : 0;
    auto* host = static_cast<GtkWindowHost*>(self);
    if (notches && host->m_inputEnabled)
        HostInputOf(host->pm()).OnMouseWheel({int(e->x), int(e->y)}, notches);
    return TRUE;
}

gboolean GtkWindowHost::onKeyPress(GtkWidget*, GdkEventKey* e, gpointer self) {
    auto* host = static_cast<GtkWindowHost*>(self);
    // The owner of a running modal window takes no key, not even into its native entry.
    if (!host->m_inputEnabled)
        return TRUE;
    // While the native entry edits, keys are its own.
    if (host->m_editing && gtk_widget_has_focus(host->m_entry))
        return FALSE;
    if (const WParam vk = virtualKey(e->keyval)) {
        const bool shift = (e->state & GDK_SHIFT_MASK) || e->keyval == GDK_KEY_ISO_Left_Tab;
        host->m_window.SendMessage(kWmKeyDown, vk, shift ? kKeyShift : 0);
        return TRUE;
    }
    if (const guint32 cp = gdk_keyval_to_unicode(e->keyval);
        cp >= 0x20 && !(e->state & GDK_CONTROL_MASK)) {
        host->m_window.SendMessage(kWmChar, cp, 0);
        return TRUE;
    }
    return FALSE;
}

gboolean GtkWindowHost::onDelete(GtkWidget*, GdkEvent*, gpointer self) {
    // Alt+F4 and the window manager's close arrive as the system close command; the owner of
    // a running modal window ignores them, as it ignores every other input.
    auto* host = static_cast<GtkWindowHost*>(self);
    if (host->m_inputEnabled)
        host->m_window.SendMessage(kWmSysCommand, kScClose, 0);
    return TRUE;
}

gboolean GtkWindowHost::onWindowState(GtkWidget*, GdkEventWindowState* e, gpointer self) {
    static_cast<GtkWindowHost*>(self)->m_minimized =
        (e->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
    return FALSE;
}

}  // namespace ui::gtk
