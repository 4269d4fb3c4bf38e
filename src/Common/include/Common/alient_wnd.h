#pragma once
// The launch-hint window: after a successful installation it replaces the main window, turns a
// 21-frame spinner every 50 ms, starts the installed product on a thread of its own, and ends
// the process once the product has had `seconds` to appear (at once when it could not start).
// There is no other way out of it.
//
// Threads: the window and the frame counter belong to the UI thread. The launch thread starts
// the product, shows the failure message through the UI thread, sleeps, reports
// "CrashRate"/"Close" and posts kMsgInstallEnded; it holds only the window's queue, and the
// destructor cuts its sleep short and joins it (the process normally ends before that).

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "Common/process_end.h"
#include "ui/WindowBase.h"

// The version shown with the product: cut before its third "." ("1.2.3.4" → "1.2.3"); a text
// with fewer than three dots stays whole.
std::string CutVersion(std::string_view version);

class CAlientWnd : public ui::WindowBase {
public:
    struct Launch {
        int adminFlag = 0;
        std::string target;   // the product's program, in double quotation marks
        std::string title;    // Software_name
        std::string version;  // Software_version, whole (cut here)
        int seconds = 0;      // how long the hint stays after the product started
        int languageIndex = 0;
    };
    // Starts the product; 0 started, -1 failed (StartTargetMainExe's contract).
    using Starter = std::function<int(std::string_view quotedPath, int mode)>;

    // `start` empty: FuntionImpl::StartTargetMainExe.
    CAlientWnd(Launch launch, ProcessEnd end, Starter start = {});
    ~CAlientWnd() override;

    std::string GetWindowClassName() const override { return "CALIENTWND_UI_Frame"; }
    ui::LResult HandleMessage(unsigned message, ui::WParam wParam, ui::LParam lParam) override;
    void InitWindow() override;
    void OnClick(ui::Notification& msg) override;
    std::string GetSkinFolder() const override { return "skin\\"; }
    std::string GetSkinFile() const override { return "transWnd.xml"; }

    const std::string& Version() const { return m_version; }
    // Frames shown so far by every hint window of the process.
    static unsigned FrameCounter();

    static constexpr int kFrameTimer = 1000;
    static constexpr int kFrameMs = 50;
    static constexpr int kFrameCount = 21;

private:
    void launchThread(const std::shared_ptr<ui::MessageQueue>& queue);
    void nextFrame();

    const Launch m_launch;
    const std::string m_version;
    const ProcessEnd m_end;
    const Starter m_start;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
};

// Shows the launch hint without owner, centred, and runs it until the process ends (or, with a
// replaced exit, until the window closes). Result: the window's close result.
int ShowLaunchHint(CAlientWnd::Launch launch, ProcessEnd end, CAlientWnd::Starter start = {});
