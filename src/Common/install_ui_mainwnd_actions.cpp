// The main window's answers to the user: clicks, links, the install start, the folder dialog,
// retry, starting the product and closing.

#include <chrono>
#include <filesystem>

#include "CConfigure.h"
#include "CdnUrl.h"
#include "Common/alient_wnd.h"
#include "Common/install_session.h"
#include "Common/install_ui_mainwnd.h"
#include "Common/install_worker.h"
#include "Common/side_queries.h"
#include "Common/startup_sequence.h"
#include "FuntionImpl.h"
#include "LanguageTable.h"
#include "Logging.h"
#include "TextUtil.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Shell.h"
#include "report/EventReporter.h"
#include "ui/Control.h"
#include "ui/Layouts.h"
#include "ui/Option.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWindowWidth = 650;
constexpr int kBandHeight = 360;
constexpr int kPanelHeight = 560;
constexpr int kSettingsPage = 1;
constexpr int kLicensePage = 0;
// The configuration query normally answers within a second; its own time-outs bound it.
constexpr auto kConfigQueryWait = std::chrono::seconds(60);
const char* const kCompleteBackground = "skin/backgroud_complete.png";

void report(const std::string& category, const std::string& action, const std::string& label = "",
            bool now = false) {
    EventReporter::instance().report(category, action, label, now);
}

bool isWebAddress(std::string_view url) {
    return (url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0) &&
           isSafeCommandLinePiece(url);
}

}  // namespace

std::string FormatSizeText(const std::string& format, const std::string& text) {
    // The language file's format takes one "%s"; anything else is shown as written.
    const auto conversions = formatConversions(format);
    if (conversions.size() != 1 || conversions[0].text != "%s")
        return format;
    return replaceConversion(format, conversions[0], text);
}

void InstallUIMainWnd::OnClick(ui::Notification& msg) {
    if (!msg.sender)
        return;
    const std::string& name = msg.sender->GetName();
    if (name == "closebtn" || name == "install_closebtn" || name == "cancel_btn") {
        OnCloseRequest();
    } else if (name == "minbtn") {
        report("DownloaderInfo", "ClickHide");
        SendMessage(ui::kWmSysCommand, ui::kScMinimize);
    } else if (name == "install_minbtn") {
        SendMessage(ui::kWmSysCommand, ui::kScMinimize);
    } else if (name == "step_last") {
        m_slides.StopSlides();
        SelectTabPage("main_tablayout", 0);
    } else if (name == "install_btn") {
        OnInstallClick();
    } else if (name == "finish_btn") {
        quit();
    } else if (name == "browser_btn") {
        report("DownloaderInfo", "ClickBrowse");
        BrowseInstallFolder();
    } else if (name == "license_checkbox") {
        OnLicenseCheckBox();
    } else if (name == "start_app") {
        const bool failureShown =
            FindControl("text_fail_retry") && FindControl("text_fail_retry")->IsVisible() &&
            FindControl("text_fail_advice") && FindControl("text_fail_advice")->IsVisible() &&
            FindControl("img_warning") && FindControl("img_warning")->IsVisible();
        if (failureShown)
            OnRetry();
        else
            OnStartProduct();
    } else if (name == "install_setting") {
        OnSettingsButton();
    }
}

void InstallUIMainWnd::OnLicenseCheckBox() {
    // The click comes before the box toggles: its state is still the old one.
    auto* box = FindControl<ui::CheckBox>("license_checkbox");
    if (!box)
        return;
    if (box->GetCheck()) {
        report("DownloaderInfo00", "DisagreeTermsService");
        SetControlEnabled("install_btn", false);
    } else {
        report("DownloaderInfo", "AgreeProxy");
        SetControlEnabled("install_btn", true);
    }
}

void InstallUIMainWnd::OnInstallClick() {
    const auto* improvement = FindControl<ui::CheckBox>("agree_improvement_checkbox");
    const ui::Control* edit = FindControl("install_file_path_edit");
    ReportInstallClick(languageIndex, improvement && improvement->GetCheck(),
                       edit && edit->GetText() != m_defaultInstallPath);
    StartInstall();
}

void InstallUIMainWnd::StartInstall() {
    // The checks read the product's configuration, which the start-up query may still be
    // writing.
    if (m_configQueryDone.valid())
        m_configQueryDone.wait_for(kConfigQueryWait);
    if (!PrepareInstallPath())
        return;
    ResizeAndCenter();
    // Working again: after a failed try a close request must ask before it ends the install.
    stage = 2;
    startWorker();
    if (ui::Control* band = FindControl("backgroudlayout"))
        band->SetBkImage(kCompleteBackground);
    m_slides.StartSlides(languageIndex, configure ? configure->Software_id : 0);
}

bool InstallUIMainWnd::PrepareInstallPath() {
    {
        std::lock_guard<std::mutex> lock(m_pathMutex);
        m_installPath.clear();  // a retry reads the folder box again
    }
    const auto path = PrepareInstall(*this, m_productFolder);
    if (!path)
        return false;
    std::lock_guard<std::mutex> lock(m_pathMutex);
    m_installPath = *path;
    return true;
}

void InstallUIMainWnd::ResizeAndCenter() {
    ResizeClient(kWindowWidth, kBandHeight);
    CenterWindow();
}

void InstallUIMainWnd::ResizeForSettings(bool open) {
    const ui::Rect r = GetWindowRect();
    ResizeClient(r.right - r.left, open ? kPanelHeight : kBandHeight);
}

bool InstallUIMainWnd::SettingsOpen() const {
    const ui::Rect r = GetWindowRect();
    return r.bottom - r.top == kPanelHeight;
}

void InstallUIMainWnd::OnSettingsLink(const std::string& sender) {
    const int page = sender == "install_setting" ? kSettingsPage : kLicensePage;
    auto* tabs = FindControl<ui::TabLayout>("set_layout");
    const int shown = tabs ? tabs->GetCurSel() : -1;
    if (m_linkPanelOpen && shown == page) {
        ResizeForSettings(false);
        m_linkPanelOpen = false;
        return;
    }
    SelectTabPage("set_layout", page);
    ResizeForSettings(true);
    m_linkPanelOpen = true;
}

void InstallUIMainWnd::OnSettingsButton() {
    auto* tabs = FindControl<ui::TabLayout>("set_layout");
    const int shown = tabs ? tabs->GetCurSel() : -1;
    if (m_buttonPanelOpen && shown == kSettingsPage) {
        ResizeForSettings(false);
        m_buttonPanelOpen = false;
        return;
    }
    report(m_buttonPanelOpen ? "DownloaderInfo00" : "DownloaderInfo", "DownloadSetting");
    SelectTabPage("set_layout", kSettingsPage);
    ResizeForSettings(true);
    m_buttonPanelOpen = true;
}

void InstallUIMainWnd::BrowseInstallFolder() {
    ui::HostBackend* backend = ui::GetHostBackend();
    if (!backend)
        return;
    const ui::Control* edit = FindControl("install_file_path_edit");
    const auto chosen = backend->BrowseForFolder(GetHost(), edit ? edit->GetText() : "");
    if (!chosen || chosen->empty())
        return;
    UpdateSpaceLabels(*chosen);
    std::string folder = *chosen;
    if (folder.find("Quenlake") == std::string::npos) {
        if (folder.back() != '/')
            folder += '/';
        folder += "Quenlake";
    }
    report("DownloaderInfo00", "DownloadPath");
    SetControlText("install_file_path_edit", folder);
}

void InstallUIMainWnd::UpdateSpaceLabels(const std::string& folder) {
    // The same measure as the install click's check, so the label agrees with its refusal.
    if (const auto free = freeSpaceProbe ? freeSpaceProbe(folder) : platform::freeBytes(folder)) {
        m_freeSpaceGB = static_cast<double>(*free) / 1024 / 1024 / 1024;
        SetControlText("space_free", FormatProgress(m_spaceFreeFormat, m_freeSpaceGB));
    }
    SetControlText("space_need",
                   FormatSizeText(m_spaceNeedFormat, LabelText("ProductSize").value_or("")));
}

void InstallUIMainWnd::OnRetry() {
    LOG(INFO) << " User click try again button to retry";
    report("Download", "8-1.ClickTryAgain", isRetry ? "Retry" : "First");
    isRetry = true;
    SetProgressValue("install_progress", 0);
    spawn([this] { GetSubProgramInfoThreadFunc(*this); });
    StartInstall();
}

void InstallUIMainWnd::OnStartProduct() {
    const std::string path = GetInstallPath();
    const CConfigure& cfg = *configure;
    if (FuntionImpl::IsSetupExe(cfg.Extra_download_url)) {
        if (FuntionImpl::WillShowNetFrameCheck(path))
            m_product.gifDuration = 0;
        report("DownloaderInfo00", "Start001");
        report("Download", "7.ProgramLaunch", "", m_product.gifDuration == 0);
        LaunchProduct();
        return;
    }
    // Not a program to run here: show the user the file that was downloaded.
    const fs::path file =
        fs::path(downloadDirectory) /
        install_detail::SetupFileName(cfg.Extra_download_url, cfg.Software_version);
    platform::revealFile(file);
}

void InstallUIMainWnd::LaunchProduct() {
    const std::string target = "\"" + GetLaunchTarget() + "\"";
    report("Download", "9.StartWindow", std::to_string(m_product.gifDuration),
           m_product.gifDuration == 0);
    if (m_product.gifDuration != 0) {
        ShowWindow(false);
        CAlientWnd::Launch launch{m_product.adminFlag,      target,
                                  configure->Software_name, configure->Software_version,
                                  m_product.gifDuration,    languageIndex};
        ShowLaunchHint(std::move(launch), m_end);
        return;
    }
    if (FuntionImpl::StartTargetMainExe(target, m_product.adminFlag) == -1) {
        if (ui::HostBackend* backend = ui::GetHostBackend())
            backend->ShowSystemMessage(nullptr, "",
                                       LanguageText("message_page", "ClickShortcutToLaunchText"));
    }
    quit();
}

std::string InstallUIMainWnd::GetLaunchTarget() const {
    if (!configure || configure->loadState != CConfigure::kLoaded)
        return {};
    const fs::path folder = std::string(trimBlanks(GetInstallPath()));
    const fs::path candidate = folder / configure->Process_name;
    std::error_code ec;
    if (fs::exists(candidate, ec))
        return candidate.string();
    return FuntionImpl::FindFileInSubdirs(folder, configure->Process_name).string();
}

void InstallUIMainWnd::OnCloseRequest() {
    if (stage == 1) {
        ShowWindow(false);
        m_end.ReleaseGuard();
        m_end.ReportClose();
        report("DownloaderInfo", "CloseInstallCompleteWindow");
        ui::PostQuitMessage(0);
        return;
    }
    report("DownloaderInfo", "CloseDownloadWindow");
    ShowMessageBox(stage);
}

void InstallUIMainWnd::OnAdviceLink() {
    report("Download", "8-2.ClickInstallLink", isRetry ? "Retry" : "First");
    std::string url = UrlUsed();
    if (url.empty() && configure) {
        const int type = configure->Downloader_type;
        for (const std::string& candidate : configure->candidateUrls) {
            const bool cdn = FuntionImpl::IsCdnUrl(candidate);
            if (((type == 1 || type == 3) && !cdn) || (type == 2 && cdn)) {
                url = candidate;
                break;
            }
        }
    }
    if (url.empty())
        return;
    const std::string self = platform::ownModulePath().filename().string();
    if (spTracking && self.find('_') != std::string::npos)
        url += "?package=" + self;
    LOG(INFO) << " Open Advice Url: " << url;
    // The address comes from the network: only a plain web address goes to the opener.
    if (!isWebAddress(url)) {
        LOG(INFO) << " Advice Url refused: not a web address";
        return;
    }
    platform::openUrl(url);
}
