#pragma once
// A private X server for tests (Xvfb on a free display number, stopped by its pid) and what a
// test sees and does on it through Xlib: every program's top-level windows with their class and
// place, real pointer clicks through the XTest extension, pictures of the screen.

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

struct _XDisplay;  // Xlib's Display

namespace kvtest {

class VirtualDisplay {
public:
    VirtualDisplay() = default;
    ~VirtualDisplay() { Stop(); }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // Starts Xvfb with one screen of `geometry` ("WxHxDEPTH"); false with `why` when Xvfb is
    // missing or gives no display number within 15 s.
    bool Start(std::string* why, const std::string& geometry = "1280x1024x24");
    // SIGTERM, then SIGKILL after 2 s; idempotent.
    void Stop();
    // ":N", for DISPLAY.
    const std::string& Name() const { return m_name; }

private:
    pid_t m_pid = -1;
    std::string m_name;
};

// A private display for one scope: Xvfb started, and the environment that GTK programs started
// meanwhile need on a bare X server (DISPLAY set, no Wayland, no session bus for settings, no
// leak report for the caches GTK keeps for the life of a process). Put back at the end.
class DisplayScope {
public:
    bool Start(std::string* why, const std::string& geometry = "1280x1024x24");
    const std::string& Name() const { return m_display.Name(); }

private:
    VirtualDisplay m_display;
    std::vector<std::unique_ptr<ScopedEnv>> m_env;
};

struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
    int CenterX() const { return x + width / 2; }
    int CenterY() const { return y + height / 2; }
};

struct Toplevel {
    unsigned long id = 0;
    std::string instanceName;  // WM_CLASS, first part
    std::string className;     // WM_CLASS, second part
    ScreenRect bounds;         // on the screen
    bool viewable = false;
};

// One connection to a display, for the test's own thread.
class XScreen {
public:
    explicit XScreen(const std::string& displayName);
    ~XScreen();
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;
    bool Connected() const { return m_display != nullptr; }

    // Every top-level window with a WM_CLASS, bottom of the stack first.
    std::vector<Toplevel> Toplevels() const;
    // The topmost viewable window of the class.
    std::optional<Toplevel> Find(const std::string& className) const;
    // Waits (bounded) until a viewable window of the class exists.
    std::optional<Toplevel> WaitFor(const std::string& className, int timeoutMs) const;
    // The window that has the keyboard focus (0: none).
    unsigned long FocusWindow() const;
    // Moves the pointer to a point of the screen and clicks the first button there.
    bool Click(int x, int y);
    // The screen area as a PNG file.
    bool SaveArea(const ScreenRect& area, const std::string& path, std::string* error) const;
    // A plain window of another program, mapped at `area` over whatever is there.
    unsigned long Cover(const ScreenRect& area);
    void Remove(unsigned long coverWindow);

private:
    ::_XDisplay* m_display = nullptr;
};

}  // namespace kvtest
