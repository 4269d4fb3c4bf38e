#pragma once
// Classes of the GTK host, shared by its files.

#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/GtkHost.h"

namespace ui::gtk {

class GtkWindowHost : public WindowHost {
public:
    GtkWindowHost(GtkBackend& backend, WindowBase& window, GtkWindowHost* owner);
    ~GtkWindowHost() override;

    WindowBase& Window() const { return m_window; }
    GtkWidget* Toplevel() const { return m_toplevel; }
    GtkWidget* Surface() const { return m_area; }
    int Frames() const { return m_frames; }

    void SetBounds(const Rect& bounds) override;
    Rect GetBounds() const override { return m_bounds; }
    Rect GetWorkArea() const override;
    void SetTitle(const std::string& title) override;
    void Show(bool show, bool activate) override;
    bool IsShown() const override { return m_shown; }
    void Minimize() override;
    void Restore() override;
    bool IsMinimized() const override { return m_minimized; }
    void SetInputEnabled(bool enabled) override;
    bool IsInputEnabled() const { return m_inputEnabled; }
    void SetIcon(std::shared_ptr<const Image> icon) override;
    void Invalidate(const Rect& rect) override;
    void TimersChanged() override;
    void BeginCaptionDrag(Point point) override;
    void SetToolTip(const std::string& text) override;
    void SetHandCursor(bool hand) override;
    void BeginEdit(Edit& edit) override;
    void EndEdit(Edit& edit) override;

private:
    static gboolean onDraw(GtkWidget*, cairo_t* cr, gpointer self);
    static gboolean onButtonPress(GtkWidget*, GdkEventButton* e, gpointer self);
    static gboolean onButtonRelease(GtkWidget*, GdkEventButton* e, gpointer self);
    static gboolean onMotion(GtkWidget*, GdkEventMotion* e, gpointer self);
    static gboolean onLeave(GtkWidget*, GdkEventCrossing* e, gpointer self);
    static gboolean onScroll(GtkWidget*, GdkEventScroll* e, gpointer self);
    static gboolean onKeyPress(GtkWidget*, GdkEventKey* e, gpointer self);
    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean onWindowState(GtkWidget*, GdkEventWindowState* e, gpointer self);
    static gboolean onTimer(gpointer self);
    static void onEntryActivate(GtkEntry*, gpointer self);
    static gboolean onEntryFocusOut(GtkWidget*, GdkEvent*, gpointer self);
    void paint(cairo_t* cr);
    void applyShape(const Image& frame);
    PaintManager& pm() const;

    GtkBackend& m_backend;
    WindowBase& m_window;
    GtkWidget* m_toplevel = nullptr;
    GtkWidget* m_overlay = nullptr;
    GtkWidget* m_area = nullptr;
    GtkWidget* m_entry = nullptr;
    GtkCssProvider* m_entryCss = nullptr;
    Edit* m_editing = nullptr;
    Rect m_bounds;
    bool m_shown = false;
    bool m_minimized = false;
    bool m_inputEnabled = true;
    bool m_rgba = false;
    bool m_shaped = false;
    int m_frames = 0;
    guint m_timer = 0;
    Point m_pressRoot;
    guint32 m_pressTime = 0;
    std::string m_tooltip;
};

class GtkBackend : public HostBackend {
public:
    GtkBackend();
    ~GtkBackend() override;

    std::string Name() const override { return "gtk"; }
    std::unique_ptr<WindowHost> CreateHost(WindowBase& window, WindowHost* owner) override;
    std::function<void()> MakeWaker(std::weak_ptr<WindowAnchor> anchor) override;
    void RunUntil(const std::function<bool()>& done) override;
    void Wake() override;
    std::optional<std::string> BrowseForFolder(WindowHost* owner,
                                               const std::string& initial) override;
    void ShowSystemMessage(WindowHost* owner, const std::string& caption,
                           const std::string& text) override;
    bool ActivateWindowOfClass(const std::string& className) override;
    Size GetScreenSize() const override;
    ScreenMetrics GetScreenMetrics() const override { return m_metrics; }

    bool Composited() const;
    GtkWindowHost* HostOf(const WindowBase& window) const;
    void Register(GtkWindowHost* host) { m_hosts.push_back(host); }
    void Unregister(GtkWindowHost* host);

private:
    // Runs a dialog until it is answered or the program quits; the GTK response id.
    int runDialog(GtkWidget* dialog);

    std::vector<GtkWindowHost*> m_hosts;
    ScreenMetrics m_metrics;  // set once in the constructor, read from any thread
};

}  // namespace ui::gtk
