#include "virtual_display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "ui/Image.h"

extern char** environ;

namespace kvtest {

bool VirtualDisplay::Start(std::string* why, const std::string& geometry) {
    const char* binary = "/usr/bin/Xvfb";
    if (access(binary, X_OK) != 0) {
        *why = "Xvfb is not installed (scripts/install-deps installs it)";
        return false;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        *why = "no pipe";
        return false;
    }
    const std::string fd = std::to_string(fds[1]);
    std::vector<std::string> args = {binary,   "-displayfd", fd,    "-screen", "0",
                                     geometry, "-nolisten",  "tcp", "-noreset"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The write end is the one descriptor Xvfb gets besides the standard ones.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], fds[1]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawn(&m_pid, binary, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        m_pid = -1;
        *why = "Xvfb did not start";
        return false;
    }
    // Xvfb writes its display number once it accepts clients.
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline && number.find('\n') == std::string::npos) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        char buf[32];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        number.append(buf, size_t(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        *why = "Xvfb gave no display number within 15 s";
        Stop();
        return false;
    }
    m_name = ":" + number.substr(0, number.find('\n'));
    return true;
}

void VirtualDisplay::Stop() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200 && waitpid(m_pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(m_pid, &status, WNOHANG) == 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
    }
    m_pid = -1;
}

bool DisplayScope::Start(std::string* why, const std::string& geometry) {
    if (!m_display.Start(why, geometry))
        return false;
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string noLeaks = std::string(asan ? asan : "") + ":detect_leaks=0";
    m_env.push_back(std::make_unique<ScopedEnv>("DISPLAY", m_display.Name().c_str()));
    m_env.push_back(std::make_unique<ScopedEnv>("WAYLAND_DISPLAY", nullptr));
    m_env.push_back(std::make_unique<ScopedEnv>("GSETTINGS_BACKEND", "memory"));
    m_env.push_back(std::make_unique<ScopedEnv>("ASAN_OPTIONS", noLeaks.c_str()));
    return true;
}

namespace {

// Windows of other programs may vanish while a test looks at them.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

// Frames of reparenting window managers nest a client a level or two below the root.
constexpr int kMaxFrameDepth = 3;

void collect(Display* display, Window parent, int depth, std::vector<Toplevel>& found) {
    Window root = 0, up = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count))
        return;
    for (unsigned int i = 0; i < count; ++i) {
        XClassHint hint{};
        if (!XGetClassHint(display, children[i], &hint)) {
            if (depth + 1 < kMaxFrameDepth)
                collect(display, children[i], depth + 1, found);
            continue;
        }
        Toplevel t;
        t.id = children[i];
        t.instanceName = hint.res_name ? hint.res_name : "";
        t.className = hint.res_class ? hint.res_class : "";
        XFree(hint.res_name);
        XFree(hint.res_class);
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display, children[i], &attributes))
            continue;
        Window child = 0;
        XTranslateCoordinates(display, children[i], root, 0, 0, &t.bounds.x, &t.bounds.y, &child);
        t.bounds.width = attributes.width;
        t.bounds.height = attributes.height;
        t.viewable = attributes.map_state == IsViewable;
        found.push_back(t);
    }
    if (children)
        XFree(children);
}

}  // namespace

XScreen::XScreen(const std::string& displayName) {
    m_display = XOpenDisplay(displayName.c_str());
    if (m_display)
        XSetErrorHandler(ignoreErrors);
}

XScreen::~XScreen() {
    if (m_display)
        XCloseDisplay(m_display);
}

std::vector<Toplevel> XScreen::Toplevels() const {
    std::vector<Toplevel> found;
    if (m_display) {
        XSync(m_display, False);
        collect(m_display, DefaultRootWindow(m_display), 0, found);
    }
    return found;
}

std::optional<Toplevel> XScreen::Find(const std::string& className) const {
    std::optional<Toplevel> top;
    for (const Toplevel& t : Toplevels())
        if (t.viewable && t.className == className)
            top = t;
    return top;
}

std::optional<Toplevel> XScreen::WaitFor(const std::string& className, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto found = Find(className))
            return found;
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

unsigned long XScreen::FocusWindow() const {
    if (!m_display)
        return 0;
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(m_display, &focus, &revert);
    return focus;
}

bool XScreen::Click(int x, int y) {
    int event = 0, error = 0, major = 0, minor = 0;
    if (!m_display || !XTestQueryExtension(m_display, &event, &error, &major, &minor))
        return false;
    XTestFakeMotionEvent(m_display, -1, x, y, CurrentTime);
    XSync(m_display, False);
    // A press right after the motion may reach the toolkit before it saw the pointer arrive.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    XTestFakeButtonEvent(m_display, 1, True, CurrentTime);
    XTestFakeButtonEvent(m_display, 1, False, CurrentTime);
    XSync(m_display, False);
    return true;
}

bool XScreen::SaveArea(const ScreenRect& area, const std::string& path, std::string* error) const {
    XImage* image = m_display
                        ? XGetImage(m_display, DefaultRootWindow(m_display), area.x, area.y,
                                    unsigned(area.width), unsigned(area.height), AllPlanes, ZPixmap)
                        : nullptr;
    auto picture = image ? ui::Image::Create(area.width, area.height) : nullptr;
    if (!picture) {
        if (image)
            XDestroyImage(image);
        *error = "the X server gave no picture of the area";
        return false;
    }
    uint32_t* pixels = picture->Pixels();
    for (int y = 0; y < area.height; ++y)
        for (int x = 0; x < area.width; ++x)
            pixels[y * area.width + x] = 0xFF000000u | uint32_t(XGetPixel(image, x, y));
    XDestroyImage(image);
    picture->MarkDirty();
    return picture->SavePng(path, error);
}

unsigned long XScreen::Cover(const ScreenRect& area) {
    if (!m_display)
        return 0;
    const int screen = DefaultScreen(m_display);
    const Window window = XCreateSimpleWindow(
        m_display, DefaultRootWindow(m_display), area.x, area.y, unsigned(area.width),
        unsigned(area.height), 0, BlackPixel(m_display, screen), WhitePixel(m_display, screen));
    XClassHint hint{};
    char name[] = "cover";
    hint.res_name = name;
    hint.res_class = name;
    XSetClassHint(m_display, window, &hint);
    XMapRaised(m_display, window);
    XSync(m_display, False);
    return window;
}

void XScreen::Remove(unsigned long coverWindow) {
    if (!m_display)
        return;
    XDestroyWindow(m_display, coverWindow);
    XSync(m_display, False);
}

}  // namespace kvtest
