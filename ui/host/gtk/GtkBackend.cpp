#include <algorithm>
#include <cstdlib>

#include "GtkInternal.h"
#include "GtkXTest.h"
#include "GtkXWindows.h"
#include "Logging.h"
#include "ui/Fonts.h"

namespace ui::gtk {
namespace {

struct WakeTarget {
    std::weak_ptr<WindowAnchor> anchor;
};

gboolean drainQueue(gpointer data) {
    auto* target = static_cast<WakeTarget*>(data);
    if (auto anchor = target->anchor.lock(); anchor && anchor->window)
        anchor->window->ProcessMessages();
    return G_SOURCE_REMOVE;
}

gboolean stopAfter(gpointer flag) {
    *static_cast<bool*>(flag) = true;
    g_main_context_wakeup(nullptr);
    return G_SOURCE_REMOVE;
}

}  // namespace

GtkBackend* Install() {
    // X11 only: Wayland cannot place or centre a window. Without GL the first frame comes
    // sooner and the process stays smaller; without the accessibility bridge nothing waits
    // for a session bus that a bare X server does not have.
    gdk_set_allowed_backends("x11");
    setenv("GDK_GL", "disable", 0);
    setenv("NO_AT_BRIDGE", "1", 0);
    // Fonts first, so GTK's own widgets resolve the skin's font names as well.
    FontSystem::Instance();
    if (!gtk_init_check(nullptr, nullptr)) {
        LOG(INFO) << " No X display could be opened (DISPLAY="
                  << (getenv("DISPLAY") ? getenv("DISPLAY") : "") << ")";
        return nullptr;
    }
    auto backend = std::make_unique<GtkBackend>();
    GtkBackend* raw = backend.get();
    InstallHostBackend(std::move(backend));
    return raw;
}

namespace {

GdkMonitor* primaryMonitor() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (!monitor && display && gdk_display_get_n_monitors(display) > 0)
        monitor = gdk_display_get_monitor(display, 0);
    return monitor;
}

}  // namespace

GtkBackend::GtkBackend() {
    if (GdkMonitor* monitor = primaryMonitor()) {
        GdkRectangle area;
        gdk_monitor_get_geometry(monitor, &area);
        const int scale = std::max(1, gdk_monitor_get_scale_factor(monitor));
        m_metrics.pixels = {area.width * scale, area.height * scale};
        m_metrics.scale = scale;
    }
}

GtkBackend::~GtkBackend() {
    if (!m_hosts.empty())
        LOG(INFO) << " GTK host ends with " << m_hosts.size() << " windows still open";
}

bool GtkBackend::Composited() const {
    GdkScreen* screen = gdk_screen_get_default();
    return screen && gdk_screen_is_composited(screen) && gdk_screen_get_rgba_visual(screen);
}

std::unique_ptr<WindowHost> GtkBackend::CreateHost(WindowBase& window, WindowHost* owner) {
    return std::make_unique<GtkWindowHost>(*this, window, dynamic_cast<GtkWindowHost*>(owner));
}

void GtkBackend::Unregister(GtkWindowHost* host) {
    m_hosts.erase(std::remove(m_hosts.begin(), m_hosts.end(), host), m_hosts.end());
}

GtkWindowHost* GtkBackend::HostOf(const WindowBase& window) const {
    for (GtkWindowHost* host : m_hosts)
        if (&host->Window() == &window)
            return host;
    return nullptr;
}

std::function<void()> GtkBackend::MakeWaker(std::weak_ptr<WindowAnchor> anchor) {
    // g_idle_add is safe from any thread and always runs on the loop's thread (invoking the
    // context directly would run the handler on the caller while the loop is not running).
    return [anchor] {
        g_idle_add_full(G_PRIORITY_DEFAULT, drainQueue, new WakeTarget{anchor},
                        [](gpointer data) { delete static_cast<WakeTarget*>(data); });
    };
}

void GtkBackend::RunUntil(const std::function<bool()>& done) {
    while (!done() && !QuitRequested())
        g_main_context_iteration(nullptr, TRUE);
}

void GtkBackend::Wake() {
    g_main_context_wakeup(nullptr);
}

int GtkBackend::runDialog(GtkWidget* dialog) {
    int response = GTK_RESPONSE_NONE;
    g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog*, int id, gpointer out) {
                         *static_cast<int*>(out) = id;
                     }),
                     &response);
    gtk_widget_show_all(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
    // A quit closes the dialog instead of leaving it to block the end of the program.
    while (response == GTK_RESPONSE_NONE && !QuitRequested())
        g_main_context_iteration(nullptr, TRUE);
    g_signal_handlers_disconnect_by_data(dialog, &response);
    return response;
}

std::optional<std::string> GtkBackend::BrowseForFolder(WindowHost* owner,
                                                       const std::string& initial) {
    auto* host = dynamic_cast<GtkWindowHost*>(owner);
    GtkWidget* dialog =
        gtk_file_chooser_dialog_new(nullptr, host ? GTK_WINDOW(host->Toplevel()) : nullptr,
                                    GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel",
                                    GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_file_chooser_set_create_folders(GTK_FILE_CHOOSER(dialog), TRUE);
    if (!initial.empty())
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), initial.c_str());
    // Sized to fit the screen and centred on it, whatever the owner's size.
    const Size screen = GetScreenSize();
    const int w = std::min(760, std::max(320, screen.cx - 80));
    const int h = std::min(520, std::max(240, screen.cy - 80));
    gtk_window_set_default_size(GTK_WINDOW(dialog), w, h);
    gtk_window_move(GTK_WINDOW(dialog), std::max(0, (screen.cx - w) / 2),
                    std::max(0, (screen.cy - h) / 2));
    std::optional<std::string> chosen;
    if (runDialog(dialog) == GTK_RESPONSE_ACCEPT) {
        if (char* folder = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
            chosen = folder;
            g_free(folder);
        }
    }
    gtk_widget_destroy(dialog);
    return chosen;
}

void GtkBackend::ShowSystemMessage(WindowHost* owner, const std::string& caption,
                                   const std::string& text) {
    auto* host = dynamic_cast<GtkWindowHost*>(owner);
    GtkWidget* dialog =
        gtk_message_dialog_new(host ? GTK_WINDOW(host->Toplevel()) : nullptr, GTK_DIALOG_MODAL,
                               GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    runDialog(dialog);
    gtk_widget_destroy(dialog);
}

bool GtkBackend::ActivateWindowOfClass(const std::string& className) {
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return false;
    // The topmost of them is the one the user saw last.
    const std::vector<unsigned long> found = FindToplevelsOfClass(display, className);
    for (auto it = found.rbegin(); it != found.rend(); ++it)
        if (ActivateToplevel(display, *it))
            return true;
    return false;
}

Size GtkBackend::GetScreenSize() const {
    GdkMonitor* monitor = primaryMonitor();
    if (!monitor)
        return {};
    GdkRectangle area;
    gdk_monitor_get_geometry(monitor, &area);
    return {area.width, area.height};
}

namespace {

GtkWindowHost* hostOf(const WindowBase& window) {
    auto* backend = dynamic_cast<GtkBackend*>(GetHostBackend());
    return backend ? backend->HostOf(window) : nullptr;
}

}  // namespace

void RunFor(int ms) {
    bool elapsed = false;
    const guint source = g_timeout_add(guint(std::max(0, ms)), stopAfter, &elapsed);
    while (!elapsed)
        g_main_context_iteration(nullptr, TRUE);
    (void)source;
}

int FramesPainted(const WindowBase& window) {
    GtkWindowHost* host = hostOf(window);
    return host ? host->Frames() : 0;
}

bool WaitForFrames(const WindowBase& window, int frames, int ms) {
    bool elapsed = false;
    const guint source = g_timeout_add(guint(std::max(0, ms)), stopAfter, &elapsed);
    while (!elapsed && FramesPainted(window) < frames)
        g_main_context_iteration(nullptr, TRUE);
    if (!elapsed)
        g_source_remove(source);
    // What was drawn reaches the server before anyone looks at it.
    gdk_display_sync(gdk_display_get_default());
    return FramesPainted(window) >= frames;
}

bool SimulateClick(const WindowBase& window, Point point) {
    GtkWindowHost* host = hostOf(window);
    GdkWindow* target = host ? gtk_widget_get_window(host->Surface()) : nullptr;
    return target && XTestClick(target, point.x, point.y);
}

bool SimulateKey(const WindowBase& window, WParam key) {
    GtkWindowHost* host = hostOf(window);
    GdkWindow* target = host ? gtk_widget_get_window(host->Toplevel()) : nullptr;
    guint keyval = 0;
    switch (key) {
        case kVkSpace:
            keyval = GDK_KEY_space;
            break;
        case kVkReturn:
            keyval = GDK_KEY_Return;
            break;
        case kVkEscape:
            keyval = GDK_KEY_Escape;
            break;
        case kVkTab:
            keyval = GDK_KEY_Tab;
            break;
        default:
            return false;
    }
    if (!target)
        return false;
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(target));
    event->key.keyval = keyval;
    event->key.time = GDK_CURRENT_TIME;
    gdk_event_set_device(
        event, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_window_get_display(target))));
    gtk_widget_event(host->Toplevel(), event);
    gdk_event_free(event);
    return true;
}

bool SimulateCloseRequest(const WindowBase& window) {
    GtkWindowHost* host = hostOf(window);
    if (!host)
        return false;
    gtk_window_close(GTK_WINDOW(host->Toplevel()));
    return true;
}

// Writes `shot` (taken, may be null) as PNG and releases it.
static bool savePicture(GdkPixbuf* shot, const char* missing, const std::string& path,
                        std::string* error) {
    if (!shot) {
        if (error)
            *error = missing;
        return false;
    }
    GError* failure = nullptr;
    const bool saved = gdk_pixbuf_save(shot, path.c_str(), "png", &failure, nullptr);
    if (!saved && error)
        *error = failure ? failure->message : "cannot write " + path;
    if (failure)
        g_error_free(failure);
    g_object_unref(shot);
    return saved;
}

bool SaveScreenshot(const WindowBase& window, const std::string& path, std::string* error) {
    GtkWindowHost* host = hostOf(window);
    GdkWindow* target = host ? gtk_widget_get_window(host->Toplevel()) : nullptr;
    if (!target) {
        if (error)
            *error = "the window is not shown";
        return false;
    }
    return savePicture(gdk_pixbuf_get_from_window(target, 0, 0, gdk_window_get_width(target),
                                                  gdk_window_get_height(target)),
                       "the X server gave no picture of the window", path, error);
}

bool SaveScreenArea(const Rect& area, const std::string& path, std::string* error) {
    GdkWindow* root = gdk_get_default_root_window();
    return savePicture(
        root ? gdk_pixbuf_get_from_window(root, area.left, area.top, area.Width(), area.Height())
             : nullptr,
        "the X server gave no picture of the screen", path, error);
}

bool HasCompositor() {
    auto* backend = dynamic_cast<GtkBackend*>(GetHostBackend());
    return backend && backend->Composited();
}

}  // namespace ui::gtk
