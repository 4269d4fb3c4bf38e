#pragma once
// The base of the installer's windows: a borderless window built from a markup file of the
// skin package, with the operations a window overrides (in the order the windows were designed
// against), a private message queue any thread may post to, modal runs, and the window
// operations the windows use.
//
//   class MessageBoxWnd : public ui::WindowBase {
//       std::string GetSkinFile() const override { return "MessageBox.xml"; }
//       void OnClick(ui::Notification& msg) override {
//           if (msg.sender->GetName() == "btn_yes") Close(1);
//       }
//   };
//   MessageBoxWnd box;
//   box.Create(&owner, "MSGUIDemo", {0, 0, 452, 190});
//   box.CenterWindow();
//   int answer = box.ShowModal();
//
// Threads: create, use and destroy a window on the UI thread (destroy it after its modal run
// has returned). PostMessage, Invoke and InvokeAndWait may be called from any thread while the
// window lives; a thread that may outlive it posts through GetMessageQueue() instead.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include "ui/Host.h"
#include "ui/MessageQueue.h"
#include "ui/Messages.h"
#include "ui/Notification.h"
#include "ui/PaintManager.h"
#include "ui/SkinPackage.h"

namespace ui {

class WindowBase : public NotifyListener {
public:
    WindowBase();

    // ---- operations a window overrides, in slot order ----
    // 1. Class name of the window (single-instance checks look for it).
    virtual std::string GetWindowClassName() const;
    // 2. Every message: private ones (kWmUser + n), kWmTimer, kWmSysCommand, kWmKeyDown, kWmChar.
    //    An override handles what it knows and then calls the base.
    virtual LResult HandleMessage(unsigned message, WParam wParam, LParam lParam);
    // 3. Controls belong to the paint manager; the destructor closes the host window.
    ~WindowBase() override;
    // 4. After the markup is built and before the window is shown.
    virtual void InitWindow() {}
    // 5. "click" notifications.
    virtual void OnClick(Notification&) {}
    // 6. and 7. Where the markup comes from: the file, found as given or below the folder.
    virtual std::string GetSkinFolder() const { return {}; }
    virtual std::string GetSkinFile() const = 0;
    // 8. Return and Escape before the focused control sees them; true when handled.
    virtual bool ResponseDefaultKeyEvent(WParam key);
    // 9. kWmSysCommand (kScClose, kScMinimize, kScRestore); the base closes, minimises, restores.
    virtual LResult OnSysCommand(unsigned message, WParam wParam, LParam lParam, bool& handled);
    // The notification interface: the base dispatches "click" to OnClick, "selectchanged" to
    // OnSelectChanged, "itemselect" to OnItemSelect.
    void Notify(Notification& msg) override;
    virtual void OnSelectChanged(Notification&) {}
    virtual void OnItemSelect(Notification&) {}

    // ---- building and showing ----
    // The package to build from; without one the process default (SkinPackage::Default).
    void SetSkinPackage(std::shared_ptr<SkinPackage> skin) { m_skin = std::move(skin); }
    // Builds the window: `bounds` gives the position and a size the markup's size overrides.
    // A markup file that is missing or broken still gives a window (an empty one) and a log
    // line; false only when no host backend is installed or the window exists already.
    bool Create(WindowBase* owner, const std::string& title, const Rect& bounds = {});
    bool IsCreated() const { return m_host != nullptr; }
    void ShowWindow(bool show = true, bool takeFocus = true);
    bool IsWindowVisible() const;
    // Shows the window and runs a loop until Close; returns Close's result (-1 when the
    // process quit first). The owner takes no input meanwhile.
    int ShowModal();
    // Hides the window and ends its modal run with `result`.
    void Close(int result = 0);
    bool IsClosed() const { return m_closed; }
    int GetCloseResult() const { return m_result; }

    void CenterWindow();
    // New size, same top-left corner.
    void ResizeClient(int width, int height);
    void MoveWindow(int x, int y);
    Rect GetWindowRect() const;
    void SetTitle(const std::string& title);
    const std::string& GetTitle() const { return m_title; }
    // A PNG (or BMP) icon; false when it does not decode.
    bool SetIcon(const std::vector<uint8_t>& imageBytes);

    // ---- messages and timers ----
    // Handles a message now (UI thread).
    LResult SendMessage(unsigned message, WParam wParam = 0, LParam lParam = 0);
    // Queues a message for the UI thread (any thread); false when the window is gone.
    bool PostMessage(unsigned message, WParam wParam = 0, LParam lParam = 0);
    // Queues a task for the UI thread (any thread); false when the window is gone.
    bool Invoke(std::function<void()> task);
    // Runs `fn` on the UI thread and returns its result, blocking the caller until then. On the
    // UI thread it runs at once. nullopt when the window went away before running it.
    template <typename F>
    auto InvokeAndWait(F&& fn) -> std::optional<std::invoke_result_t<F>> {
        if (!m_queue)
            return std::nullopt;
        return m_queue->InvokeAndWait(std::forward<F>(fn));
    }
    // The window's queue, for threads that must be able to post after the window is gone.
    std::shared_ptr<MessageQueue> GetMessageQueue() const { return m_queue; }
    // Window timers: kWmTimer with wParam = id every `elapseMs` milliseconds.
    bool SetTimer(int id, int elapseMs) { return m_pm.SetTimer(nullptr, id, elapseMs); }
    bool KillTimer(int id) { return m_pm.KillTimer(nullptr, id); }
    // Handles every queued message (the host's loop calls this on the UI thread).
    void ProcessMessages();

    PaintManager& GetPaintManager() { return m_pm; }
    const PaintManager& GetPaintManager() const { return m_pm; }
    template <typename T>
    T* FindControl(std::string_view name) const {
        return m_pm.Find<T>(name);
    }
    Control* FindControl(std::string_view name) const { return m_pm.FindControl(name); }
    WindowHost* GetHost() const { return m_host.get(); }
    WindowBase* GetOwner() const { return m_owner; }

private:
    void dispatch(MessageQueue::Message& message);

    std::shared_ptr<SkinPackage> m_skin;
    PaintManager m_pm;
    std::unique_ptr<WindowHost> m_host;
    std::shared_ptr<WindowAnchor> m_anchor;
    std::shared_ptr<MessageQueue> m_queue;
    WindowBase* m_owner = nullptr;
    std::string m_title;
    bool m_closed = false;
    bool m_modal = false;
    int m_result = 0;
};

}  // namespace ui
