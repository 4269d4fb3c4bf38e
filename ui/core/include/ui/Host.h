#pragma once
// The seam between windows and whatever shows them. A host backend (GTK windows on X11, or the
// headless host of tests and the unattended mode) is installed once per process, on the thread
// that then is the UI thread; every window gets a WindowHost from it.
//
// Threads: WindowHost and HostBackend methods are for the UI thread, except HostBackend::Wake,
// the wakers it makes and GetScreenMetrics, which any thread may call.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/Image.h"
#include "ui/PaintManager.h"

namespace ui {

class WindowBase;

// The primary monitor: its size in device pixels and the scale factor between those and the
// pixels windows are laid out in.
struct ScreenMetrics {
    Size pixels;
    double scale = 1.0;
};

// A window's native (or virtual) counterpart.
class WindowHost : public PaintHost {
public:
    // Screen coordinates of the window (the client area: windows are borderless).
    virtual void SetBounds(const Rect& bounds) = 0;
    virtual Rect GetBounds() const = 0;
    // Work area of the monitor the window is on (or would be on).
    virtual Rect GetWorkArea() const = 0;
    virtual void SetTitle(const std::string& title) = 0;
    virtual void Show(bool show, bool activate) = 0;
    virtual bool IsShown() const = 0;
    virtual void Minimize() = 0;
    virtual void Restore() = 0;
    virtual bool IsMinimized() const = 0;
    // A modal child turns its owner's input off while it runs.
    virtual void SetInputEnabled(bool enabled) = 0;
    virtual void SetIcon(std::shared_ptr<const Image> icon) = 0;
};

// Lets a waker reach its window only while the window lives.
struct WindowAnchor {
    WindowBase* window = nullptr;
};

class HostBackend {
public:
    virtual ~HostBackend() = default;
    virtual std::string Name() const = 0;
    virtual std::unique_ptr<WindowHost> CreateHost(WindowBase& window, WindowHost* owner) = 0;
    // The function a window's queue calls after each post, on the posting thread: it must get
    // the UI thread to call WindowBase::ProcessMessages soon.
    virtual std::function<void()> MakeWaker(std::weak_ptr<WindowAnchor> anchor) = 0;
    // Runs the UI thread's loop until `done` is true or a quit was posted; loops nest (modal
    // windows run one inside a handler of their owner).
    virtual void RunUntil(const std::function<bool()>& done) = 0;
    // Makes a running loop re-check its condition (any thread).
    virtual void Wake() = 0;
    // A folder chooser; nullopt when the user cancels.
    virtual std::optional<std::string> BrowseForFolder(WindowHost* owner,
                                                       const std::string& initial) = 0;
    // A plain system message box with an OK button; returns when it is answered.
    virtual void ShowSystemMessage(WindowHost* owner, const std::string& caption,
                                   const std::string& text) = 0;
    // Brings a top-level window of class `className` to the front and gives it the focus, the
    // way a user switching to it would; false when no such window exists. The GTK host looks at
    // every program's windows on the display (another copy of the installer shows one), the
    // headless host at its own.
    virtual bool ActivateWindowOfClass(const std::string& className) = 0;
    // The primary monitor's size in the pixels windows are placed in (UI thread).
    virtual Size GetScreenSize() const = 0;
    // Measured when the backend was installed; any thread may ask.
    virtual ScreenMetrics GetScreenMetrics() const = 0;
};

// Installs the backend and makes the calling thread the UI thread. Replacing a backend is for
// tests, with no window left open.
void InstallHostBackend(std::unique_ptr<HostBackend> backend);
HostBackend* GetHostBackend();
bool IsUiThread();

// The process's message loop: runs until PostQuitMessage, returns its exit code.
int RunMessageLoop();
// Ends every running loop, modal ones included (any thread).
void PostQuitMessage(int exitCode);
bool QuitRequested();
int QuitExitCode();
// Clears a quit that was handled, so a later loop can run (tests, a second run of the program's
// windows).
void ResetQuit();

}  // namespace ui
