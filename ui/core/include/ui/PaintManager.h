#pragma once
// Everything a window's controls share: the tree, fonts, class defaults, images, layout,
// invalidation, mouse and keyboard routing (hot, pushed and focused controls, the caption drag
// area, an open drop-down list), notifications by name, and timers by id.
//
// The host feeds it input in client coordinates through HostInput (HostInput.h) and paints it
// when asked; it tells the host, through PaintHost, what needs repainting and which native
// services a control wants.
//
// UI thread only. The manager must outlive its tree (it destroys the tree first itself).

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/Control.h"
#include "ui/HostInput.h"
#include "ui/ImageCache.h"
#include "ui/MarkupLoader.h"
#include "ui/Notification.h"

namespace ui {

class Edit;
class Option;
class Painter;

// What the manager asks of the window's host.
class PaintHost {
public:
    virtual ~PaintHost() = default;
    virtual void Invalidate(const Rect& rect) = 0;
    virtual void TimersChanged() = 0;
    virtual void BeginCaptionDrag(Point point) = 0;
    virtual void SetToolTip(const std::string& text) = 0;
    virtual void SetHandCursor(bool hand) = 0;
    // Editing an Edit: the host shows its input over the control; at EndEdit it hands the
    // final text back through Edit::SetEditText before returning.
    virtual void BeginEdit(Edit& edit) = 0;
    virtual void EndEdit(Edit& edit) = 0;
};

class PaintManager : private HostInput {
public:
    using Clock = std::chrono::steady_clock;

    PaintManager();
    ~PaintManager();
    PaintManager(const PaintManager&) = delete;
    PaintManager& operator=(const PaintManager&) = delete;

    void SetSkin(std::shared_ptr<SkinPackage> skin, std::string folder);
    const std::shared_ptr<SkinPackage>& GetSkin() const { return m_skin; }
    const std::string& GetSkinFolder() const { return m_folder; }
    // Takes a loaded document: fonts, defaults and window settings first, then the tree.
    void Attach(MarkupDocument doc);
    Control* GetRoot() const { return m_root.get(); }
    void SetHost(PaintHost* host) { m_host = host; }
    PaintHost* GetHost() const { return m_host; }
    void AddNotifier(NotifyListener* listener);
    void RemoveNotifier(NotifyListener* listener);
    // Receives window timers (those set without a control).
    void SetWindowTimerHandler(std::function<void(int id)> handler) {
        m_windowTimer = std::move(handler);
    }

    const WindowAttributes& GetWindowAttributes() const { return m_window; }
    WindowAttributes& GetWindowAttributes() { return m_window; }
    const std::vector<FontDesc>& GetFonts() const { return m_fonts; }
    // Font `index` of the list; -1 or an index the list lacks gives the default font (the
    // latter is logged once).
    FontDesc GetFont(int index) const;
    const std::string* GetDefaultAttributes(std::string_view className) const;
    void ApplyDefaultAttributes(Control& control, std::string_view className);
    void ApplyAttributeList(Control& control, std::string_view list);
    ImageCache& Images() { return m_images; }

    // The first control of that name in document order (pages not shown included), or null.
    Control* FindControl(std::string_view name) const;
    // The same, typed: null and a log line when the name is missing or the type differs.
    template <typename T>
    T* Find(std::string_view name) const {
        Control* c = FindControl(name);
        T* typed = dynamic_cast<T*>(c);
        if (!typed)
            reportLookup(name, c, T::kClassName);
        return typed;
    }
    Control* FindControlAt(Point point) const;
    std::vector<Option*> GroupMembers(std::string_view group) const;

    void SetClientSize(Size size);
    Size GetClientSize() const { return m_size; }
    void NeedLayout();
    bool IsLayoutNeeded() const { return m_needLayout; }
    // Lays the tree out when something changed since the last pass.
    void Layout();
    void Invalidate();
    void Invalidate(const Rect& rect);
    // Paints the area `dirty` of the window (laying out first when needed).
    void Paint(Painter& painter, const Rect& dirty);

    bool IsInCaption(Point point) const;
    Control* GetHot() const { return m_hot; }
    Control* GetCaptured() const { return m_captured; }
    Control* GetFocus() const { return m_focus; }
    void SetFocus(Control* control);
    // Moves the focus to the next shown tab stop (Tab order = document order).
    bool FocusNext(bool forward = true);
    // Draw operations of the focus mark carry the focused control's name plus this.
    static constexpr const char* kFocusMarkSuffix = ".focusmark";
    bool IsFocusMarkShown() const { return !focusMarkRect().IsEmpty(); }
    const std::string& GetCurrentToolTip() const { return m_tooltip; }

    // One drop-down list at a time, drawn above the tree and hit first.
    void OpenPopup(Control* popup);
    void ClosePopup();
    Control* GetPopup() const { return m_popup; }

    void SendNotify(Control* sender, std::string_view type, WParam wParam = 0, LParam lParam = 0);
    void SendNotify(Control* sender, Notification& msg);

    // Timers: a control's send "timer" to the window's listeners, the window's own (control
    // null) go to the window timer handler. Setting an existing id restarts it.
    bool SetTimer(Control* control, int id, int elapseMs);
    bool KillTimer(Control* control, int id);
    void KillTimers(Control* control);
    bool HasTimer(Control* control, int id) const;

    // Services controls ask for.
    void BeginEdit(Edit& edit);
    void EndEdit(Edit& edit);
    void SetHandCursor(bool hand);
    void ReportMissingGlyphs(const Control& control, const std::string& text);

private:
    friend HostInput& HostInputOf(PaintManager& pm);
    friend class Control;
    friend class TabLayout;

    // HostInput: the host's side, reached through HostInputOf.
    void OnMouseMove(Point point) override;
    void OnMouseDown(Point point) override;
    void OnMouseUp(Point point) override;
    void OnMouseLeave() override;
    void OnMouseWheel(Point point, int notches) override;
    bool OnKeyDown(WParam key, bool shift) override;
    void OnChar(const std::string& text) override;
    std::optional<Clock::time_point> NextTimerDue() const override;
    void FireDueTimers(Clock::time_point now) override;
    bool FireTimer(Control* control, int id) override;
    Rect TakeDirtyRect() override;

    // A control is going away or out of sight: it stops being hot, pushed, focused or open.
    void ReapControl(Control* control);
    void ControlHidden(Control* control);

    struct Timer {
        Control* control;
        int id;
        int interval;
        Clock::time_point due;
    };
    void reportLookup(std::string_view name, const Control* found, const char* wanted) const;
    void send(Control* control, UiEvent::Type type, Point point = {}, WParam key = 0);
    void setHot(Control* control, Point point);
    void updateToolTip(Point point);
    void deliverTimer(Control* control, int id);
    Rect focusMarkRect() const;
    void paintFocusMark(Painter& painter, const Rect& area);
    void setFocusCue(bool on);
    void scrollIntoView(Control* control);

    std::shared_ptr<SkinPackage> m_skin;
    std::string m_folder;
    std::unique_ptr<Control> m_root;
    PaintHost* m_host = nullptr;
    std::vector<NotifyListener*> m_listeners;
    std::function<void(int)> m_windowTimer;
    WindowAttributes m_window;
    std::vector<FontDesc> m_fonts;
    int m_defaultFont = -1;
    std::map<std::string, std::string> m_defaults;
    ImageCache m_images;
    Size m_size;
    bool m_needLayout = true;
    Rect m_dirty;
    Control* m_hot = nullptr;
    Control* m_captured = nullptr;
    Control* m_focus = nullptr;
    Control* m_popup = nullptr;
    bool m_focusCue = false;  // the keyboard moved the focus since the last mouse press
    Point m_lastMouse{-1, -1};
    std::string m_tooltip;
    std::vector<Timer> m_timers;
};

}  // namespace ui
