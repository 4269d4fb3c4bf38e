#pragma once
// The installer's main window: licence and settings, the running page with its slide show, and
// the finish page. It owns the user's choices (language, install folder, improvement-plan
// consent), starts the install worker and the side queries, and reports every user action.
//
//   InstallUIMainWnd wnd("KV_UI_Frame_253", skinZipBytes);
//   wnd.SetProcessEnd({.releaseInstanceGuard = [&] { guard.reset(); }});
//   if (!wnd.CreateMainWindow("Kestrova Editor")) return 0;
//   wnd.CenterAndShow();
//   ui::RunMessageLoop();
//
// Threads: the window is created, used and destroyed on the UI thread (the thread that
// installed the host backend). The InstallWindow operations may be called from any thread: off
// the UI thread they are queued to it in call order; ShowMessageBox, HasControl and
// GetInstallPath wait for the UI thread's answer. The side queries and the install worker are
// never joined (the process ends from a window handler); they hold only what stays alive until
// then: the window, which is destroyed only after the message loop returned.

#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Common/install_window.h"
#include "Common/process_end.h"
#include "Common/slide_animator.h"
#include "Common/startup_sequence.h"
#include "ui/WindowBase.h"

namespace ui {
class SkinPackage;
}

class InstallUIMainWnd : public ui::WindowBase, public InstallWindow {
public:
    // `windowClassName` "" means "KV_UI_Frame". `skinPackage`: the ZIP bytes the window and its
    // message boxes are built from.
    explicit InstallUIMainWnd(std::string windowClassName, std::vector<uint8_t> skinPackage);
    ~InstallUIMainWnd() override;

    // Builds the window from "InstallMainWnd.xml" and runs InitWindow (configuration, program
    // log, background queries, start events). False when the skin package does not open, the
    // markup gives no main page, or no host backend is installed.
    bool CreateMainWindow(const std::string& caption);
    // The "Downloader_id" label of the skin's configuration (0 before CreateMainWindow).
    int DownloaderId() const { return downloaderId; }
    void CenterAndShow();
    // How the process ends from this window and its message boxes: the entry hands in the
    // single-instance guard to release. Call before CreateMainWindow or any time on the UI
    // thread.
    void SetProcessEnd(ProcessEnd end) { m_end = std::move(end); }

    // ---- the framework's operations ----
    std::string GetWindowClassName() const override;
    ui::LResult HandleMessage(unsigned message, ui::WParam wParam, ui::LParam lParam) override;
    void InitWindow() override;
    void OnClick(ui::Notification& msg) override;
    std::string GetSkinFolder() const override { return "skin\\"; }
    std::string GetSkinFile() const override { return "InstallMainWnd.xml"; }
    bool ResponseDefaultKeyEvent(ui::WParam key) override;
    ui::LResult OnSysCommand(unsigned message, ui::WParam wParam, ui::LParam lParam,
                             bool& handled) override;
    void OnItemSelect(ui::Notification& msg) override;
    void OnSelectChanged(ui::Notification& msg) override;
    void Notify(ui::Notification& msg) override;

    // ---- InstallWindow ----
    void SetControlText(std::string_view control, const std::string& text) override;
    void SetControlVisible(std::string_view control, bool visible) override;
    void SetControlEnabled(std::string_view control, bool enabled) override;
    void SetProgressValue(std::string_view control, int value) override;
    void SelectTabPage(std::string_view control, int page) override;
    bool HasControl(std::string_view control) const override;
    std::optional<std::string> LabelText(std::string_view label) const override;
    int ShowMessageBox(int kind) override;
    void StopSlides() override;
    void PostWindowMessage(int message) override;
    std::string GetInstallPath() const override;
    std::string LanguageText(std::string_view section, std::string_view key) const override;

    // ---- the install click and its checks (UI thread) ----
    // The product must not run, the folder must have room and be made (each refusal shows its
    // message), a running product service is stopped; then the running page and the worker.
    void StartInstall();
    bool PrepareInstallPath();
    // The product's program in the install folder; empty while the configuration is not loaded.
    std::string GetLaunchTarget() const;
    void LaunchProduct();

    // ---- languages (UI thread) ----
    void ChooseUiLanguage(uint32_t userLanguageId);
    void SelectLanguageItem(int requested);
    void ApplyLanguage();

    // What tests and the entry read back.
    const std::string& DefaultInstallPath() const { return m_defaultInstallPath; }
    const std::string& InstallPath() const { return m_installPath; }
    const std::string& ProductFolder() const { return m_productFolder; }
    const std::string& LogFile() const { return m_logFile; }
    bool SettingsOpen() const;
    const SlideShow& Slides() const { return m_slides; }

private:
    // Runs `task` on the UI thread: now when called there, else queued in call order.
    void onUiThread(std::function<void()> task);
    void assertUiThread() const;

    void startBackgroundQueries();
    void setIconFromResources();
    void startWorker();
    // Starts a thread that may touch this window until it ends; the destructor joins it.
    void spawn(std::function<void()> body);

    void OnInstallClick();
    void OnLicenseCheckBox();
    void OnRetry();
    void OnStartProduct();
    void OnCloseRequest();
    void OnAdviceLink();
    void OnSettingsLink(const std::string& sender);
    void OnSettingsButton();
    void ResizeForSettings(bool open);
    void BrowseInstallFolder();
    void UpdateSpaceLabels(const std::string& folder);
    void ResizeAndCenter();
    void DeleteDownloadedSetupFiles();
    void quit();

    std::string m_className;
    std::shared_ptr<ui::SkinPackage> m_skin;
    ProcessEnd m_end;
    std::unique_ptr<CConfigure> m_configure;
    std::map<std::string, std::string, std::less<>> m_labels;  // configure.xml, read once
    SlideShow m_slides{*this};

    uint64_t m_startTick = 0;
    StartupLabels m_product;  // the skin's labels read at start
    std::string m_productFolder;
    std::string m_defaultInstallPath;
    std::string m_installPath;  // fixed by PrepareInstallPath; guarded by m_pathMutex
    std::string m_sessionStamp;
    std::string m_logFile;
    std::string m_spaceNeedFormat;
    std::string m_spaceFreeFormat;
    double m_freeSpaceGB = 0;
    bool m_linkPanelOpen = false;
    bool m_buttonPanelOpen = false;
    mutable std::mutex m_pathMutex;
    std::shared_future<void> m_configQueryDone;
    std::atomic<int> m_liveThreads{0};
    std::vector<std::thread> m_threads;
};

// `format` with its one "%s" replaced by `text`; a format with any other conversion is shown
// as written.
std::string FormatSizeText(const std::string& format, const std::string& text);
