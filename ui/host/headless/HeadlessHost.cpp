#include "ui/HeadlessHost.h"

#include <algorithm>
#include <chrono>

#include "Logging.h"
#include "ui/Combo.h"
#include "ui/Edit.h"
#include "ui/HostInput.h"
#include "ui/Painter.h"

namespace ui::headless {
namespace {

using Clock = std::chrono::steady_clock;
// Longest the loop sleeps without a timer or a wake: bounds the cost of a lost wake-up.
constexpr auto kIdleSlice = std::chrono::milliseconds(100);

}  // namespace

std::vector<DrawOp> Frame::OpsOf(const std::string& control) const {
    std::vector<DrawOp> out;
    for (const DrawOp& op : ops.Ops())
        if (op.control == control)
            out.push_back(op);
    return out;
}

HeadlessWindowHost::HeadlessWindowHost(HeadlessBackend& backend, WindowBase& window,
                                       WindowHost* owner)
    : m_backend(backend), m_window(window), m_owner(owner) {
    m_backend.m_hosts.push_back(this);
}

HeadlessWindowHost::~HeadlessWindowHost() {
    auto& hosts = m_backend.m_hosts;
    hosts.erase(std::remove(hosts.begin(), hosts.end(), this), hosts.end());
}

Rect HeadlessWindowHost::GetWorkArea() const {
    const Size s = m_backend.GetScreenSize();
    return Rect::FromSize(0, 0, s.cx, s.cy);
}

void HeadlessWindowHost::Show(bool show, bool) {
    const bool appeared = show && !m_shown;
    m_shown = show;
    if (show)
        m_minimized = false;
    if (appeared)
        m_backend.shown(*this);
}

void HeadlessWindowHost::TimersChanged() {
    m_backend.Wake();
}

void HeadlessWindowHost::EndEdit(Edit& edit) {
    if (m_editing == &edit)
        m_editing = nullptr;
}

Frame HeadlessWindowHost::Render() {
    PaintManager& pm = m_window.GetPaintManager();
    pm.Layout();
    const Size size = pm.GetClientSize();
    Frame frame;
    frame.image = Image::Create(std::max(1, size.cx), std::max(1, size.cy));
    if (!frame.image)
        return frame;
    Painter painter(*frame.image);
    painter.SetRecorder(&frame.ops);
    pm.Paint(painter, Rect::FromSize(0, 0, size.cx, size.cy));
    HostInputOf(pm).TakeDirtyRect();
    return frame;
}

bool HeadlessWindowHost::SavePng(const std::string& path, std::string* error) {
    Frame frame = Render();
    if (!frame.image) {
        if (error)
            *error = "the window has no size";
        return false;
    }
    return frame.image->SavePng(path, error);
}

bool HeadlessWindowHost::inject(std::function<void(PaintManager&)> action) {
    return m_window.Invoke([this, action = std::move(action)] {
        if (!m_inputEnabled) {
            LOG(INFO) << " Headless: input to " << m_window.GetWindowClassName()
                      << " dropped while a modal window runs";
            return;
        }
        PaintManager& pm = m_window.GetPaintManager();
        pm.Layout();
        action(pm);
    });
}

bool HeadlessWindowHost::Click(Point p) {
    return inject([p](PaintManager& pm) {
        HostInputOf(pm).OnMouseMove(p);
        HostInputOf(pm).OnMouseDown(p);
        HostInputOf(pm).OnMouseUp(p);
    });
}

bool HeadlessWindowHost::ClickControl(const std::string& name) {
    return inject([name](PaintManager& pm) {
        Control* c = pm.FindControl(name);
        if (!c || !c->IsShown()) {
            LOG(INFO) << " Headless: no shown control \"" << name << "\" to click";
            return;
        }
        const Point p = c->GetPos().Center();
        HostInputOf(pm).OnMouseMove(p);
        HostInputOf(pm).OnMouseDown(p);
        HostInputOf(pm).OnMouseUp(p);
    });
}

bool HeadlessWindowHost::MoveMouse(Point p) {
    return inject([p](PaintManager& pm) { HostInputOf(pm).OnMouseMove(p); });
}

bool HeadlessWindowHost::Drag(Point from, Point to, int steps) {
    steps = std::clamp(steps, 1, 100);
    return inject([from, to, steps](PaintManager& pm) {
        HostInputOf(pm).OnMouseMove(from);
        HostInputOf(pm).OnMouseDown(from);
        for (int i = 1; i <= steps; ++i)
            HostInputOf(pm).OnMouseMove(
                {from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps});
        HostInputOf(pm).OnMouseUp(to);
    });
}

bool HeadlessWindowHost::Wheel(Point p, int notches) {
    return inject([p, notches](PaintManager& pm) {
        HostInputOf(pm).OnMouseMove(p);
        HostInputOf(pm).OnMouseWheel(p, notches);
    });
}

bool HeadlessWindowHost::PressKey(WParam key, LParam modifiers) {
    return inject([this, key, modifiers](PaintManager&) {
        m_window.SendMessage(kWmKeyDown, key, modifiers);
    });
}

bool HeadlessWindowHost::TypeText(const std::string& text) {
    return inject([text](PaintManager& pm) {
        // One character event per code point, as a keyboard delivers them.
        for (size_t i = 0; i < text.size();) {
            size_t len = 1;
            while (i + len < text.size() &&
                   (static_cast<unsigned char>(text[i + len]) & 0xC0) == 0x80)
                ++len;
            HostInputOf(pm).OnChar(text.substr(i, len));
            i += len;
        }
    });
}

bool HeadlessWindowHost::SelectComboItem(const std::string& comboName, int index) {
    return inject([comboName, index](PaintManager& pm) {
        auto* combo = dynamic_cast<Combo*>(pm.FindControl(comboName));
        if (!combo || !combo->IsShown()) {
            LOG(INFO) << " Headless: no shown combo \"" << comboName << "\"";
            return;
        }
        if (!combo->IsDropped()) {
            const Point p = combo->GetPos().Center();
            HostInputOf(pm).OnMouseMove(p);
            HostInputOf(pm).OnMouseDown(p);
            HostInputOf(pm).OnMouseUp(p);
        }
        ComboPopup* popup = combo->GetPopup();
        if (!combo->IsDropped() || !popup)
            return;
        popup->ScrollToItem(index);
        const Rect item = popup->ItemRect(index);
        if (item.IsEmpty()) {
            LOG(INFO) << " Headless: item " << index << " of \"" << comboName
                      << "\" is not offered";
            combo->CloseUp();
            return;
        }
        HostInputOf(pm).OnMouseMove(item.Center());
        HostInputOf(pm).OnMouseDown(item.Center());
        HostInputOf(pm).OnMouseUp(item.Center());
    });
}

bool HeadlessWindowHost::TickTimer(int id) {
    return m_window.Invoke(
        [this, id] { HostInputOf(m_window.GetPaintManager()).FireTimer(nullptr, id); });
}

bool HeadlessWindowHost::TickControlTimer(const std::string& controlName, int id) {
    return m_window.Invoke([this, controlName, id] {
        PaintManager& pm = m_window.GetPaintManager();
        if (Control* c = pm.FindControl(controlName))
            HostInputOf(pm).FireTimer(c, id);
    });
}

bool HeadlessWindowHost::SystemCommand(WParam command) {
    return m_window.PostMessage(kWmSysCommand, command, 0);
}

HeadlessBackend::HeadlessBackend(Size screen) : m_screen(screen) {}

HeadlessBackend::~HeadlessBackend() {
    if (!m_hosts.empty())
        LOG(INFO) << " Headless host ends with " << m_hosts.size() << " windows still open";
}

HeadlessBackend* HeadlessBackend::Install(Size screen) {
    auto backend = std::make_unique<HeadlessBackend>(screen);
    HeadlessBackend* raw = backend.get();
    InstallHostBackend(std::move(backend));
    return raw;
}

std::unique_ptr<WindowHost> HeadlessBackend::CreateHost(WindowBase& window, WindowHost* owner) {
    return std::make_unique<HeadlessWindowHost>(*this, window, owner);
}

std::function<void()> HeadlessBackend::MakeWaker(std::weak_ptr<WindowAnchor>) {
    return [this] { Wake(); };
}

void HeadlessBackend::Wake() {
    {
        std::lock_guard lock(m_mutex);
        ++m_wakeups;
    }
    m_cv.notify_all();
}

HeadlessWindowHost* HeadlessBackend::HostOf(const WindowBase& window) const {
    for (HeadlessWindowHost* host : m_hosts)
        if (&host->Window() == &window)
            return host;
    return nullptr;
}

void HeadlessBackend::shown(HeadlessWindowHost& host) {
    if (m_showHook)
        m_showHook(host);
}

bool HeadlessBackend::pumpOnce() {
    bool worked = false;
    // Handlers may open and close windows; walk a copy and skip hosts that went away.
    const std::vector<HeadlessWindowHost*> hosts = m_hosts;
    const auto now = Clock::now();
    for (HeadlessWindowHost* host : hosts) {
        if (std::find(m_hosts.begin(), m_hosts.end(), host) == m_hosts.end())
            continue;
        PaintManager& pm = host->Window().GetPaintManager();
        if (auto due = HostInputOf(pm).NextTimerDue(); due && *due <= now) {
            HostInputOf(pm).FireDueTimers(now);
            worked = true;
        }
    }
    for (HeadlessWindowHost* host : hosts) {
        if (std::find(m_hosts.begin(), m_hosts.end(), host) == m_hosts.end())
            continue;
        // ProcessMessages may run a nested modal loop; that loop serves every window itself.
        WindowBase& window = host->Window();
        window.ProcessMessages();
        worked = true;
    }
    return worked;
}

void HeadlessBackend::Pump() {
    // Each round handles what is queued now; handlers that post more get a few more rounds.
    for (int round = 0; round < 16; ++round) {
        uint64_t before;
        {
            std::lock_guard lock(m_mutex);
            before = m_wakeups;
        }
        pumpOnce();
        std::lock_guard lock(m_mutex);
        if (m_wakeups == before)
            break;
    }
}

void HeadlessBackend::RunUntil(const std::function<bool()>& done) {
    const auto start = Clock::now();
    while (!done() && !QuitRequested()) {
        if (m_loopTimeoutMs > 0 &&
            Clock::now() - start > std::chrono::milliseconds(m_loopTimeoutMs)) {
            LOG(INFO) << " Headless loop gave up after " << m_loopTimeoutMs << " ms";
            return;
        }
        uint64_t seen;
        {
            std::lock_guard lock(m_mutex);
            seen = m_wakeups;
        }
        pumpOnce();
        if (done() || QuitRequested())
            return;
        auto deadline = Clock::now() + kIdleSlice;
        for (HeadlessWindowHost* host : m_hosts)
            if (auto due = HostInputOf(host->Window().GetPaintManager()).NextTimerDue())
                deadline = std::min(deadline, *due);
        if (m_loopTimeoutMs > 0)
            deadline = std::min(deadline, start + std::chrono::milliseconds(m_loopTimeoutMs) +
                                              std::chrono::milliseconds(1));
        std::unique_lock lock(m_mutex);
        m_cv.wait_until(lock, deadline, [&] { return m_wakeups != seen; });
    }
}

void HeadlessBackend::RunFor(int ms) {
    RunUntilFor([] { return false; }, ms);
}

bool HeadlessBackend::RunUntilFor(const std::function<bool()>& done, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(0, ms));
    RunUntil([&] { return done() || Clock::now() >= end; });
    return done();
}

std::optional<std::string> HeadlessBackend::BrowseForFolder(WindowHost*, const std::string&) {
    LOG(INFO) << " Headless folder dialog answers "
              << (m_folderChoice ? *m_folderChoice : std::string("(cancel)"));
    return m_folderChoice;
}

void HeadlessBackend::ShowSystemMessage(WindowHost*, const std::string& caption,
                                        const std::string& text) {
    LOG(INFO) << " Message box: " << (caption.empty() ? "" : caption + ": ") << text;
    m_systemMessages.push_back(text);
}

bool HeadlessBackend::ActivateWindowOfClass(const std::string& className) {
    for (HeadlessWindowHost* host : m_hosts) {
        if (host->Window().GetWindowClassName() == className) {
            host->Restore();
            return true;
        }
    }
    return false;
}

}  // namespace ui::headless
