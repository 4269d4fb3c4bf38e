#pragma once
// The host without a display. Windows run their real loop (messages, timers, modal runs), take
// injected input and paint, on request, through the same painter into an image, recording every
// draw operation. Tests and the installer's unattended mode drive windows through it.
//
//   auto* host = ui::headless::HeadlessBackend::Install();
//   MyWindow w;  w.Create(nullptr, "title");
//   host->HostOf(w)->ClickControl("install_btn");   // queued for the UI thread
//   host->Pump();                                    // handled now
//   host->HostOf(w)->Render().image->SavePng("frame.png");
//
// Threads: injection calls (Click…, PressKey…, Tick…) may come from any thread: they queue the
// event on the window's message queue, so it is handled on the UI thread in order with the
// window's other messages. Everything else is for the UI thread.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ui/DrawRecord.h"
#include "ui/Host.h"
#include "ui/Image.h"
#include "ui/WindowBase.h"

namespace ui::headless {

class HeadlessBackend;

struct Frame {
    std::shared_ptr<Image> image;
    DrawRecorder ops;
    // The operations for one control name, in drawing order.
    std::vector<DrawOp> OpsOf(const std::string& control) const;
};

class HeadlessWindowHost : public WindowHost {
public:
    HeadlessWindowHost(HeadlessBackend& backend, WindowBase& window, WindowHost* owner);
    ~HeadlessWindowHost() override;

    WindowBase& Window() const { return m_window; }
    WindowHost* Owner() const { return m_owner; }

    // Lays out and paints the whole window now (UI thread).
    Frame Render();
    bool SavePng(const std::string& path, std::string* error = nullptr);

    // Injected input, queued on the window's message queue (any thread). False when the
    // window is gone. Input sent while the window takes none (a modal child runs) is dropped,
    // as a real window would.
    bool Click(Point point);
    bool ClickControl(const std::string& name);
    bool MoveMouse(Point point);
    // Press at `from`, move to `to` in `steps` moves, release there (a thumb drag).
    bool Drag(Point from, Point to, int steps = 4);
    bool Wheel(Point point, int notches);
    // `modifiers`: kKeyShift.
    bool PressKey(WParam key, LParam modifiers = 0);
    bool TypeText(const std::string& text);
    // Opens the combo's list and clicks item `index` in it.
    bool SelectComboItem(const std::string& comboName, int index);
    // One tick of a window timer / of a control's timer (only if that timer is set).
    bool TickTimer(int id);
    bool TickControlTimer(const std::string& controlName, int id);
    bool SystemCommand(WParam command);

    // What the window asked of its host.
    bool IsInputEnabled() const { return m_inputEnabled; }
    const std::string& GetToolTip() const { return m_tooltip; }
    bool IsHandCursor() const { return m_handCursor; }
    Edit* GetEditing() const { return m_editing; }
    int CaptionDragCount() const { return m_captionDrags; }
    const std::shared_ptr<const Image>& GetIcon() const { return m_icon; }
    const std::string& GetTitle() const { return m_title; }

    // WindowHost
    void SetBounds(const Rect& bounds) override { m_bounds = bounds; }
    Rect GetBounds() const override { return m_bounds; }
    Rect GetWorkArea() const override;
    void SetTitle(const std::string& title) override { m_title = title; }
    void Show(bool show, bool activate) override;
    bool IsShown() const override { return m_shown; }
    void Minimize() override { m_minimized = true; }
    void Restore() override { m_minimized = false; }
    bool IsMinimized() const override { return m_minimized; }
    void SetInputEnabled(bool enabled) override { m_inputEnabled = enabled; }
    void SetIcon(std::shared_ptr<const Image> icon) override { m_icon = std::move(icon); }
    void Invalidate(const Rect&) override {}
    void TimersChanged() override;
    void BeginCaptionDrag(Point) override { ++m_captionDrags; }
    void SetToolTip(const std::string& text) override { m_tooltip = text; }
    void SetHandCursor(bool hand) override { m_handCursor = hand; }
    void BeginEdit(Edit& edit) override { m_editing = &edit; }
    void EndEdit(Edit& edit) override;

private:
    bool inject(std::function<void(PaintManager&)> action);

    HeadlessBackend& m_backend;
    WindowBase& m_window;
    WindowHost* m_owner;
    Rect m_bounds;
    std::string m_title;
    bool m_shown = false;
    bool m_minimized = false;
    bool m_inputEnabled = true;
    bool m_handCursor = false;
    int m_captionDrags = 0;
    std::string m_tooltip;
    Edit* m_editing = nullptr;
    std::shared_ptr<const Image> m_icon;
};

class HeadlessBackend : public HostBackend {
public:
    // `screen`: where windows are placed and centred.
    explicit HeadlessBackend(Size screen = {1920, 1080});
    ~HeadlessBackend() override;
    // Installs a new headless backend (the calling thread becomes the UI thread) and returns it.
    static HeadlessBackend* Install(Size screen = {1920, 1080});
    // What GetScreenMetrics reports: there is no monitor to measure, so nothing (0 × 0 at
    // scale 1) until a driver says what to report. Call before other threads ask.
    void SetScreenMetrics(ScreenMetrics metrics) { m_metrics = metrics; }

    // Handles everything queued and every due timer, without waiting (UI thread).
    void Pump();
    // Runs the loop for `ms` milliseconds / until `done` or `ms` passed; true when `done`.
    void RunFor(int ms);
    bool RunUntilFor(const std::function<bool()>& done, int ms);
    // Every RunUntil (modal runs included) gives up after this many milliseconds (0: never);
    // a safety net for tests that would otherwise wait for a click that never comes.
    void SetLoopTimeout(int ms) { m_loopTimeoutMs = ms; }

    // Called on the UI thread whenever a window becomes visible: a driver answers windows here
    // (the unattended mode answers message boxes; tests click).
    void SetShowHook(std::function<void(HeadlessWindowHost&)> hook) {
        m_showHook = std::move(hook);
    }
    HeadlessWindowHost* HostOf(const WindowBase& window) const;
    const std::vector<HeadlessWindowHost*>& Hosts() const { return m_hosts; }

    // The folder the next folder dialogs answer with (nullopt: cancel), and the system
    // messages shown so far.
    void SetFolderChoice(std::optional<std::string> folder) { m_folderChoice = std::move(folder); }
    const std::vector<std::string>& SystemMessages() const { return m_systemMessages; }

    // HostBackend
    std::string Name() const override { return "headless"; }
    std::unique_ptr<WindowHost> CreateHost(WindowBase& window, WindowHost* owner) override;
    std::function<void()> MakeWaker(std::weak_ptr<WindowAnchor> anchor) override;
    void RunUntil(const std::function<bool()>& done) override;
    void Wake() override;
    std::optional<std::string> BrowseForFolder(WindowHost* owner,
                                               const std::string& initial) override;
    void ShowSystemMessage(WindowHost* owner, const std::string& caption,
                           const std::string& text) override;
    // Only this process's windows exist here: one of them, restored.
    bool ActivateWindowOfClass(const std::string& className) override;
    Size GetScreenSize() const override { return m_screen; }
    ScreenMetrics GetScreenMetrics() const override { return m_metrics; }

private:
    friend class HeadlessWindowHost;
    bool pumpOnce();
    void shown(HeadlessWindowHost& host);

    Size m_screen;
    ScreenMetrics m_metrics;
    std::vector<HeadlessWindowHost*> m_hosts;
    std::function<void(HeadlessWindowHost&)> m_showHook;
    std::optional<std::string> m_folderChoice;
    std::vector<std::string> m_systemMessages;
    int m_loopTimeoutMs = 0;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    uint64_t m_wakeups = 0;
};

}  // namespace ui::headless
