#include "Common/alient_wnd.h"

#include <chrono>
#include <cstdio>

#include "Common/install_window.h"
#include "Common/message_box_wnd.h"
#include "FuntionImpl.h"
#include "Logging.h"
#include "ui/Control.h"
#include "ui/Host.h"

namespace {

// Touched on the UI thread only.
unsigned g_frameCounter = 0;

}  // namespace

std::string CutVersion(std::string_view version) {
    size_t dot = std::string_view::npos;
    for (int n = 0; n < 3; ++n) {
        dot = version.find('.', dot == std::string_view::npos ? 0 : dot + 1);
        if (dot == std::string_view::npos)
            return std::string(version);
    }
    return std::string(version.substr(0, dot));
}

unsigned CAlientWnd::FrameCounter() {
    return g_frameCounter;
}

CAlientWnd::CAlientWnd(Launch launch, ProcessEnd end, Starter start)
    : m_launch(std::move(launch)),
      m_version(CutVersion(m_launch.version)),
      m_end(std::move(end)),
      m_start(start ? std::move(start) : Starter(&FuntionImpl::StartTargetMainExe)) {}

CAlientWnd::~CAlientWnd() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    // A launch thread waiting for the UI thread is let go before it is joined.
    if (auto queue = GetMessageQueue())
        queue->Close();
    if (m_thread.joinable())
        m_thread.join();
}

void CAlientWnd::InitWindow() {
    // The markup's own text stays on "version": the product's name reads better than a
    // number while it starts.
    SetTimer(kFrameTimer, kFrameMs);
    m_thread = std::thread([this, queue = GetMessageQueue()] { launchThread(queue); });
}

void CAlientWnd::launchThread(const std::shared_ptr<ui::MessageQueue>& queue) {
    if (m_start(m_launch.target, m_launch.adminFlag) == -1) {
        LOG(INFO) << " The product did not start: " << m_launch.target;
        // The system message belongs to the UI thread; this thread waits for its answer.
        queue->InvokeSync([this] {
            const std::string text = MessagePageText(
                GetPaintManager().GetSkin(), m_launch.languageIndex, "ClickShortcutToLaunchText");
            if (ui::HostBackend* backend = ui::GetHostBackend())
                backend->ShowSystemMessage(nullptr, "", text);
        });
    } else {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::seconds(std::max(0, m_launch.seconds)),
                        [this] { return m_stopping; });
        if (m_stopping)
            return;  // the window went away first: nothing left to end
    }
    m_end.ReportClose();
    queue->PostMessage(kMsgInstallEnded);
}

ui::LResult CAlientWnd::HandleMessage(unsigned message, ui::WParam wParam, ui::LParam lParam) {
    if (message == static_cast<unsigned>(kMsgInstallEnded)) {
        LOG(INFO) << " Launch hint done after " << g_frameCounter << " frames";
        m_end.Exit(0);
        // Reached only when `exit` was replaced (tests).
        KillTimer(kFrameTimer);
        Close(0);
        return 0;
    }
    if (message == ui::kWmTimer)
        nextFrame();
    return WindowBase::HandleMessage(message, wParam, lParam);
}

void CAlientWnd::nextFrame() {
    char name[32];
    std::snprintf(name, sizeof name, "skin/gif/bg%.2d.png",
                  static_cast<int>(g_frameCounter % kFrameCount));
    if (ui::Control* fore = FindControl("foreImage"))
        fore->SetBkImage(name);
    ++g_frameCounter;
}

void CAlientWnd::OnClick(ui::Notification& msg) {
    if (!msg.sender)
        return;
    if (msg.sender->GetName() == "closebtn")
        Close(2);
    else if (msg.sender->GetName() == "minbtn")
        SendMessage(ui::kWmSysCommand, ui::kScMinimize);
}

int ShowLaunchHint(CAlientWnd::Launch launch, ProcessEnd end, CAlientWnd::Starter start) {
    CAlientWnd hint(std::move(launch), std::move(end), std::move(start));
    if (!hint.Create(nullptr, "MSGUIDemo", {0, 0, 600, 400})) {
        LOG(INFO) << " The launch hint could not be created";
        return -1;
    }
    hint.CenterWindow();
    return hint.ShowModal();
}
