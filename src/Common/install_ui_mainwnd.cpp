// The main window: building, start-up, messages and the controls the worker reaches.

#include "Common/install_ui_mainwnd.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <filesystem>

#include "CConfigure.h"
#include "Common/install_session.h"
#include "Common/install_worker.h"
#include "Common/message_box_wnd.h"
#include "Common/side_queries.h"
#include "Common/skin_labels.h"
#include "Common/skin_probe.h"
#include "Common/startup_sequence.h"
#include "FuntionImplChannel.h"
#include "Logging.h"
#include "TextUtil.h"
#include "platform/Resources.h"
#include "platform/System.h"
#include "report/EventReporter.h"
#include "ui/Control.h"
#include "ui/Layouts.h"
#include "ui/MarkupLoader.h"
#include "ui/Progress.h"
#include "ui/SkinPackage.h"

namespace {

constexpr int kWindowWidth = 650;
constexpr int kBandHeight = 360;
constexpr unsigned kMsgShowLinks = kWmUser + 1;

void report(const std::string& category, const std::string& action, const std::string& label = "",
            bool now = false) {
    EventReporter::instance().report(category, action, label, now);
}

}  // namespace

InstallUIMainWnd::InstallUIMainWnd(std::string windowClassName, std::vector<uint8_t> skinPackage)
    : m_className(windowClassName.empty() ? "KV_UI_Frame" : std::move(windowClassName)) {
    std::string error;
    m_skin = ui::SkinPackage::Open(std::move(skinPackage), &error);
    if (!m_skin)
        LOG(INFO) << " Skin package does not open: " << error;
    else
        SetSkinPackage(m_skin);
}

InstallUIMainWnd::~InstallUIMainWnd() {
    // The worker and the queries touch this object until they end. A process ends before its
    // window goes (the exit skips unwinding); only a replaced exit (tests) comes on, and then the
    // threads are released from any wait on the UI thread and joined.
    if (m_liveThreads > 0)
        m_end.Exit(0);
    if (auto queue = GetMessageQueue())
        queue->Close();
    for (auto& t : m_threads)
        if (t.joinable())
            t.join();
}

bool InstallUIMainWnd::CreateMainWindow(const std::string& caption) {
    if (!m_skin)
        return false;
    // The message boxes and the launch hint are built from the same package.
    ui::SkinPackage::SetDefault(m_skin);
    const auto configureXml = m_skin->ReadText(kConfigureEntry);
    const auto labels = configureXml ? ReadLabelTexts(*configureXml) : std::nullopt;
    if (!labels) {
        LOG(INFO) << " Skin package has no readable product configuration";
        return false;
    }
    m_labels.insert(labels->begin(), labels->end());
    if (!Create(nullptr, caption, {0, 0, kWindowWidth, kBandHeight}))
        return false;
    if (!FindControl<ui::TabLayout>("main_tablayout")) {
        LOG(INFO) << " InstallMainWnd.xml gave no main page";
        return false;
    }
    return true;
}

void InstallUIMainWnd::CenterAndShow() {
    CenterWindow();
    ShowWindow(true, true);
}

std::string InstallUIMainWnd::GetWindowClassName() const {
    return m_className;
}

void InstallUIMainWnd::InitWindow() {
    m_startTick = platform::tickCount();
    running = false;
    spTracking = true;
    isRetry = false;
    m_slides.CountSlides();
    for (const char* name : {"text_fail_retry", "text_fail_advice", "img_warning"})
        SetControlVisible(name, false);
    SetUrlUsed("");

    m_product = ReadStartupLabels(*this);
    const StartupLabels& product = m_product;
    m_configure = std::make_unique<CConfigure>(downloaderId, product.languageId, product.siteId);
    configure = m_configure.get();
    m_sessionStamp = SessionStamp(std::chrono::system_clock::now());
    m_defaultInstallPath = ::DefaultInstallPath();
    SetControlText("install_file_path_edit", m_defaultInstallPath);

    const StartupFolders folders = OpenStartupFolders(*this, product, m_sessionStamp);
    m_productFolder = folders.productFolder;
    m_logFile = folders.logFile;

    startBackgroundQueries();
    ReportStartup(*this, product);
    setIconFromResources();
    ChooseUiLanguage(platform::userUiLanguageId());
    report("Other", "ClickToShowTime", std::to_string(platform::tickCount() - m_startTick));
}

void InstallUIMainWnd::setIconFromResources() {
    const platform::ResourceTable resources = platform::readOwnResources();
    const platform::ResourceEntry* icon = resources.find(kIconResourceType, kIconResourceId);
    if (icon && !icon->data.empty())
        SetIcon(icon->data);
}

void InstallUIMainWnd::startBackgroundQueries() {
    subPrograms.setNames({});
    subPrograms.clearDownloads();
    if (IsToolkitDownloader(downloaderId)) {
        subPrograms.setNames({"Torvane", "Melvisto"});
        spawn([this] { GetSubProgramInfoThreadFunc(*this); });
    }
    std::promise<void> done;
    m_configQueryDone = done.get_future().share();
    auto finished = std::make_shared<std::promise<void>>(std::move(done));
    spawn([this, finished] {
        AsyncGetCbsInfoThreadFunc(*this);
        finished->set_value();
    });
    spawn([this] { VerifyCrossEndIdThreadFunc(*this); });
}

void InstallUIMainWnd::spawn(std::function<void()> body) {
    ++m_liveThreads;
    m_threads.emplace_back([this, body = std::move(body)] {
        body();
        --m_liveThreads;
    });
}

void InstallUIMainWnd::startWorker() {
    // The worker refreshes the configuration itself: it waits until the background query has
    // written its answer, so the two never write it at once.
    std::shared_future<void> queryDone = m_configQueryDone;
    spawn([this, queryDone] {
        if (queryDone.valid())
            queryDone.wait();
        InstallThreadFunc(*this);
    });
}

ui::LResult InstallUIMainWnd::HandleMessage(unsigned message, ui::WParam wParam,
                                            ui::LParam lParam) {
    switch (message) {
        case kMsgShowLinks:
            SetControlVisible("install_setting", true);
            SetControlVisible("license_link", true);
            return 0;
        case kMsgInstallEnded:
            ShowWindow(true, true);
            if (GetHost() && GetHost()->IsMinimized())
                GetHost()->Restore();
            ResizeAndCenter();
            return 0;
        case kMsgDeleteDownloadedSetup:
            DeleteDownloadedSetup(DownloadedSetupPath());
            return 0;
        case ui::kWmTimer:
            if (m_slides.OnTimer(static_cast<int>(wParam)))
                return 0;
            break;
        default:
            break;
    }
    return WindowBase::HandleMessage(message, wParam, lParam);
}

bool InstallUIMainWnd::ResponseDefaultKeyEvent(ui::WParam key) {
    if (key == ui::kVkEscape)
        return true;
    return WindowBase::ResponseDefaultKeyEvent(key);
}

ui::LResult InstallUIMainWnd::OnSysCommand(unsigned message, ui::WParam wParam, ui::LParam lParam,
                                           bool& handled) {
    if (wParam == ui::kScClose) {
        quit();
        handled = true;
        return 0;
    }
    return WindowBase::OnSysCommand(message, wParam, lParam, handled);
}

void InstallUIMainWnd::quit() {
    m_end.ReportClose();
    ui::PostQuitMessage(0);
}

void InstallUIMainWnd::Notify(ui::Notification& msg) {
    if (msg.type == "link" && msg.sender) {
        const std::string& name = msg.sender->GetName();
        if (name == "install_setting" || name == "license_link")
            OnSettingsLink(name);
        else if (name == "text_fail_advice")
            OnAdviceLink();
    }
    WindowBase::Notify(msg);
}

void InstallUIMainWnd::OnSelectChanged(ui::Notification& msg) {
    m_slides.OnSelectChanged(msg.sender);
}

// ---- controls, from any thread ----

void InstallUIMainWnd::assertUiThread() const {
    assert(ui::IsUiThread() && "controls are touched on the UI thread only");
}

void InstallUIMainWnd::onUiThread(std::function<void()> task) {
    if (ui::IsUiThread())
        task();
    else
        Invoke(std::move(task));
}

void InstallUIMainWnd::SetControlText(std::string_view control, const std::string& text) {
    onUiThread([this, name = std::string(control), text] {
        assertUiThread();
        if (ui::Control* c = FindControl(name))
            c->SetText(text);
    });
}

void InstallUIMainWnd::SetControlVisible(std::string_view control, bool visible) {
    onUiThread([this, name = std::string(control), visible] {
        assertUiThread();
        if (ui::Control* c = FindControl(name))
            c->SetVisible(visible);
    });
}

void InstallUIMainWnd::SetControlEnabled(std::string_view control, bool enabled) {
    onUiThread([this, name = std::string(control), enabled] {
        assertUiThread();
        if (ui::Control* c = FindControl(name))
            c->SetEnabled(enabled);
    });
}

void InstallUIMainWnd::SetProgressValue(std::string_view control, int value) {
    onUiThread([this, name = std::string(control), value] {
        assertUiThread();
        if (auto* bar = FindControl<ui::Progress>(name))
            bar->SetValue(value);
    });
}

void InstallUIMainWnd::SelectTabPage(std::string_view control, int page) {
    onUiThread([this, name = std::string(control), page] {
        assertUiThread();
        if (auto* tabs = FindControl<ui::TabLayout>(name))
            tabs->SelectItem(page);
    });
}

bool InstallUIMainWnd::HasControl(std::string_view control) const {
    if (ui::IsUiThread())
        return FindControl(control) != nullptr;
    auto* self = const_cast<InstallUIMainWnd*>(this);
    return self
        ->InvokeAndWait(
            [self, name = std::string(control)] { return self->FindControl(name) != nullptr; })
        .value_or(false);
}

std::optional<std::string> InstallUIMainWnd::LabelText(std::string_view label) const {
    // Read once from the package when the window was built: the labels never change, and the
    // worker asks from its own thread.
    const auto it = m_labels.find(label);
    if (it == m_labels.end())
        return std::nullopt;
    return it->second;
}

int InstallUIMainWnd::ShowMessageBox(int kind) {
    LOG(INFO) << " ShowMsgBox: " << kind;
    return ::ShowMessageBox(this, kind, languageIndex, m_end);
}

void InstallUIMainWnd::StopSlides() {
    onUiThread([this] { m_slides.StopSlides(); });
}

void InstallUIMainWnd::PostWindowMessage(int message) {
    PostMessage(static_cast<unsigned>(message));
}

std::string InstallUIMainWnd::GetInstallPath() const {
    {
        std::lock_guard<std::mutex> lock(m_pathMutex);
        if (!m_installPath.empty())
            return m_installPath;
    }
    auto chosen = [this] {
        const ui::Control* edit = FindControl("install_file_path_edit");
        std::string text = edit ? edit->GetText() : std::string();
        // Typed paths may use either separator.
        std::replace(text.begin(), text.end(), '\\', '/');
        return ComposeInstallPath(text, m_productFolder);
    };
    if (ui::IsUiThread())
        return chosen();
    auto* self = const_cast<InstallUIMainWnd*>(this);
    return self->InvokeAndWait(chosen).value_or(std::string());
}
