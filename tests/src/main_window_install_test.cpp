// The main window on the headless host, driven like a user: whole installs against vendor-sim on
// loopback with the real worker, download engine, signature check and the demo product's setup
// as a real child process. Each test reads what the window shows and what reached the reporter.

#include <gtest/gtest.h>
#include <json/json.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "CConfigure.h"
#include "Common/install_ui_mainwnd.h"
#include "Common/message_box_wnd.h"
#include "Common/startup_sequence.h"
#include "install_sandbox.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "report/EventReporter.h"
#include "test_support.h"
#include "ui/Combo.h"
#include "ui/HeadlessHost.h"
#include "ui/Layouts.h"
#include "ui/Option.h"
#include "ui/Progress.h"
#include "ui/ZipArchive.h"
#include "vendor_sim_runner.h"
#include "zip_builder.h"

namespace fs = std::filesystem;
using kvtest::md5Hex;
using kvtest::replaceLabel;
using ui::headless::HeadlessBackend;
using ui::headless::HeadlessWindowHost;

namespace {

const std::string kProductDir = std::string(KV_BIN_DIR) + "/demo-product/";
const std::string kSetup = kProductDir + "KestrovaEditor_2.4.1.0.exe";
const std::string kFilePath = "/editor/KestrovaEditor_2.4.1.0.exe";
constexpr int kInstallBoundMs = 120000;

// The shipped skin package with some entries rewritten.
// `edit` sees every other entry by its normalised name.
std::vector<uint8_t> SkinWith(
    const std::map<std::string, std::string>& labels,
    const std::function<void(const std::string&, std::string&)>& edit = {}) {
    std::ifstream in(std::string(KV_BIN_DIR) + "/../skin.zip", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    auto zip = ui::ZipArchive::OpenFromMemory(std::move(bytes));
    std::map<std::string, std::string> files;
    for (const std::string& name : zip->EntryNames()) {
        std::vector<uint8_t> data;
        zip->Unzip(name, data);
        std::string text(data.begin(), data.end());
        const std::string normal = ui::ZipArchive::NormalizeName(name);
        if (normal.find("configure.xml") != std::string::npos)
            for (const auto& [label, value] : labels)
                text = replaceLabel(text, label, value);
        else if (edit)
            edit(normal, text);
        files[name] = text;
    }
    return kvtest::makeZip(files);
}

struct Events {
    static auto all() { return EventReporter::instance().events(); }
    static int count(const std::string& category, const std::string& action,
                     const std::optional<std::string>& label = std::nullopt) {
        int n = 0;
        for (const auto& e : all())
            if (e.category == category && e.action == action && (!label || e.label == *label))
                ++n;
        return n;
    }
    // Position of the first such event, -1 when none.
    static int at(const std::string& category, const std::string& action) {
        const auto events = all();
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i].category == category && events[i].action == action)
                return static_cast<int>(i);
        return -1;
    }
};

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kSetup))
            GTEST_SKIP() << "the demo product was not built: " << kSetup;
        m_sandbox.emplace(m_dir.path());
        EventReporter::instance().clearEvents();
        ui::ResetQuit();
        m_backend = HeadlessBackend::Install();
        m_backend->SetLoopTimeout(kInstallBoundMs);
        m_backend->SetShowHook([this](HeadlessWindowHost& host) {
            if (auto* box = dynamic_cast<MessageBoxWnd*>(&host.Window())) {
                m_kinds.push_back(box->Kind());
                // Boxes that only inform have "btn_yes" alone.
                const ui::Control* no = box->FindControl("btn_no");
                const bool canRefuse = no && no->IsVisible();
                host.ClickControl(m_answerYes || !canRefuse ? "btn_yes" : "btn_no");
            }
        });
    }

    void TearDown() override {
        m_window.reset();
        m_sandbox.reset();
        ui::ResetQuit();
    }

    void set(const char* name, const std::string& value) { m_sandbox->set(name, value); }
    void unset(const char* name) { m_sandbox->unset(name); }

    void startSim(const std::string& md5 = {}, const std::string& source = kSetup,
                  const std::string& filePath = kFilePath) {
        const std::string served = kvtest::readFile(source);
        Json::Value fixture(Json::objectValue);
        Json::Value reply(Json::objectValue);
        reply["match"]["SoftWareID"] = "253";
        const std::vector<std::pair<std::string, std::string>> fields = {
            {"Downloader_id", "253"},
            {"Software_id", "1201"},
            {"Site_id", "55"},
            {"Downloader_type", m_downloaderType},
            {"Software_name", "Kestrova Editor"},
            {"Software_version", "2.4.1.0"},
            {"Process_name", "KestrovaEditor-not-started.exe"},
            {"Download_url", "https://" + m_downloadHost + filePath},
            {"Extra_download_url", "https://files.kestrova.example" + filePath},
            {"Md5", md5.empty() ? md5Hex(served) : md5},
            {"Filesize", std::to_string(served.size())}};
        kvtest::appendFields(reply, fields);
        fixture["update"]["replies"].append(reply);
        for (const std::string& host : {m_downloadHost, std::string("files.kestrova.example")}) {
            fixture["download"]["files"][host + filePath]["source"] = source;
            if (!m_downloadFaults.isNull())
                fixture["download"]["files"][host + filePath]["faults"] = m_downloadFaults;
        }
        m_sim = std::make_unique<kvtest::VendorSim>(kvtest::compactJson(fixture));
        m_sandbox->trust(*m_sim, kProductDir + "demo-root.pem");
    }

    InstallUIMainWnd& open(std::map<std::string, std::string> labels = {},
                           const std::function<void(const std::string&, std::string&)>& edit = {}) {
        labels.emplace("Process_name", "KestrovaEditor-not-started.exe");
        m_window = std::make_unique<InstallUIMainWnd>("", SkinWith(labels, edit));
        ProcessEnd end;
        end.releaseInstanceGuard = [this] { ++m_guardReleases; };
        end.exit = [this](int code) { m_exitCodes.push_back(code); };
        m_window->SetProcessEnd(end);
        EXPECT_TRUE(m_window->CreateMainWindow("Kestrova Editor"));
        m_window->CenterAndShow();
        m_backend->Pump();
        // Never the machine's programs folder.
        if (ui::Control* folderBox = control("install_file_path_edit"))
            folderBox->SetText(installRoot().string());
        return *m_window;
    }

    // What happened, for a failure's message: the events and the program log.
    std::string story() const {
        std::string text = "events:";
        for (const auto& e : Events::all())
            text += " " + e.category + "/" + e.action + "(" + e.label + ")";
        return text + "\nlog:\n" + (m_window ? kvtest::readFile(m_window->LogFile()) : "");
    }

    fs::path installRoot() const { return m_dir.path() / "programs"; }
    // Opens the settings panel, where the folder and the language are.
    void openSettings() {
        host().ClickControl("install_setting");
        m_backend->Pump();
        ASSERT_TRUE(m_window->SettingsOpen());
    }
    // A click the skin offers on a page that is not showing (the close button on the running
    // page of skins that have one).
    void clickHidden(const std::string& name) {
        ui::Notification click{"click", control(name)};
        m_window->OnClick(click);
    }

    HeadlessWindowHost& host() { return *m_backend->HostOf(*m_window); }
    ui::Control* control(const std::string& name) { return m_window->FindControl(name); }
    bool shown(const std::string& name) {
        ui::Control* c = control(name);
        return c && c->IsShown();
    }
    int page(const std::string& tabs) {
        auto* t = m_window->FindControl<ui::TabLayout>(tabs);
        return t ? t->GetCurSel() : -1;
    }
    // Clicks install and runs the window until the worker has ended.
    void installAndWait() {
        host().ClickControl("install_btn");
        ASSERT_TRUE(
            m_backend->RunUntilFor([this] { return m_window->stage == 1; }, kInstallBoundMs));
        m_backend->RunUntilFor([] { return false; }, 200);  // the end message
    }

    kvtest::TempDir m_dir;
    std::optional<kvtest::InstallSandbox> m_sandbox;
    std::unique_ptr<kvtest::VendorSim> m_sim;
    HeadlessBackend* m_backend = nullptr;
    std::unique_ptr<InstallUIMainWnd> m_window;
    std::vector<int> m_kinds;
    std::vector<int> m_exitCodes;
    int m_guardReleases = 0;
    bool m_answerYes = false;
    std::string m_downloaderType = "1";
    std::string m_downloadHost = "download.kestrova.example";
    Json::Value m_downloadFaults;  // of the setup file's downloads, none when null
};

TEST_F(MainWindow, StartsOnTheLicencePageAndReportsTheStartInOrder) {
    startSim();
    InstallUIMainWnd& w = open();
    EXPECT_EQ(page("main_tablayout"), 0);
    EXPECT_EQ(page("page_layout"), 0);
    EXPECT_EQ(host().GetBounds().bottom - host().GetBounds().top, 360);
    EXPECT_TRUE(shown("install_btn"));
    EXPECT_FALSE(shown("text_fail_advice"));
    EXPECT_EQ(w.DownloaderId(), 253);
    EXPECT_EQ(w.GetWindowClassName(), "KV_UI_Frame");
    EXPECT_TRUE(fs::exists(w.LogFile())) << w.LogFile();
    // The links come back once the language has been applied.
    EXPECT_TRUE(control("install_setting")->IsVisible());

    const int start = Events::at("CrashRate", "Start");
    ASSERT_GE(start, 0);
    EXPECT_LT(start, Events::at("Download", "1.Launch"));
    EXPECT_LT(Events::at("Download", "1.Launch"), Events::at("DownloaderInfo00", "Country"));
    EXPECT_LT(Events::at("DownloaderInfo00", "Country"), Events::at("Other", "ClickToShowTime"));
    EXPECT_EQ(Events::count("DownloaderInfo00", "LanguageSetting"), 1);
}

TEST_F(MainWindow, InstallsAndStartsTheProduct) {
    startSim();
    InstallUIMainWnd& w = open({{"NeedStart_flag", "1"}});
    installAndWait();
    EXPECT_EQ(page("main_tablayout"), 0);
    EXPECT_EQ(page("page_layout"), 1);
    EXPECT_TRUE(shown("start_app"));
    EXPECT_FALSE(shown("text_startshortcut"));
    EXPECT_FALSE(shown("text_fail_advice"));
    EXPECT_EQ(m_window->FindControl<ui::Progress>("install_progress")->GetValue(), 100);
    EXPECT_TRUE(m_kinds.empty());
    EXPECT_TRUE(fs::exists(fs::path(w.InstallPath()) / "KestrovaEditor.exe")) << w.InstallPath();
    EXPECT_EQ(Events::count("Other", "ImprovementPlan"), 1);
    EXPECT_EQ(Events::count("Other", "SetPath"), 1) << "the folder is not the default";
    EXPECT_EQ(w.InstallPath(), (installRoot() / "Kestrova Editor").string());

    host().ClickControl("start_app");
    m_backend->Pump();
    EXPECT_EQ(Events::count("Download", "9.StartWindow", "0"), 1);
    EXPECT_TRUE(ui::QuitRequested());
    EXPECT_EQ(Events::count("CrashRate", "Close"), 1);
}

TEST_F(MainWindow, WithoutStartShowsTheShortcutText) {
    startSim();
    open({{"NeedStart_flag", "0"}});
    installAndWait();
    EXPECT_TRUE(shown("text_startshortcut"));
    EXPECT_FALSE(shown("start_app"));
    // Closing the finished window ends the process without a question.
    host().ClickControl("closebtn");
    m_backend->Pump();
    EXPECT_TRUE(m_kinds.empty());
    EXPECT_EQ(m_guardReleases, 1);
    EXPECT_TRUE(ui::QuitRequested());
    EXPECT_EQ(Events::count("DownloaderInfo", "CloseInstallCompleteWindow"), 1);
}

TEST_F(MainWindow, NoNetworkThenRetryInstalls) {
    startSim();
    set("KV_TEST_OFFLINE", "1");
    InstallUIMainWnd& w = open();
    installAndWait();
    EXPECT_EQ(m_kinds, std::vector<int>{kMsgInternetFailed}) << story();
    EXPECT_EQ(page("page_layout"), 1);
    EXPECT_TRUE(shown("text_fail_advice"));
    EXPECT_TRUE(shown("img_warning"));
    EXPECT_TRUE(shown("start_app"));
    EXPECT_EQ(control("start_app")->GetText(), w.LanguageText("install_page", "retry_btn"));
    EXPECT_EQ(Events::count("Download", "8.DownFail", "First"), 1);

    // The advice link opens the configured page (the opener is a stand-in here).
    host().ClickControl("text_fail_advice");
    m_backend->Pump();
    EXPECT_EQ(Events::count("Download", "8-2.ClickInstallLink", "First"), 1) << story();

    unset("KV_TEST_OFFLINE");
    host().ClickControl("start_app");  // retry
    m_backend->Pump();
    EXPECT_EQ(Events::count("Download", "8-1.ClickTryAgain", "First"), 1);
    EXPECT_EQ(page("main_tablayout"), 1) << "a retry goes back to the running page";
    EXPECT_FALSE(shown("text_fail_advice"));
    EXPECT_EQ(w.stage, 2) << "working again: a close request asks first";
    ASSERT_TRUE(m_backend->RunUntilFor([&w] { return w.stage == 1; }, kInstallBoundMs));
    m_backend->RunUntilFor([] { return false; }, 200);
    EXPECT_EQ(m_kinds.size(), 1u) << story();
    EXPECT_TRUE(shown("start_app"));
    EXPECT_FALSE(shown("img_warning"));
    EXPECT_TRUE(fs::exists(installRoot() / "Kestrova Editor" / "KestrovaEditor.exe")) << story();
    EXPECT_EQ(Events::count("Download", "5.ProgramInstall", "Retry"), 1) << story();
}

TEST_F(MainWindow, AnInvalidSignatureFailsEveryTryAndLabelsTheRetries) {
    startSim({}, kProductDir + "KestrovaEditor_2.4.1.0.unsigned.exe");
    open();
    installAndWait();
    EXPECT_EQ(m_kinds, std::vector<int>{kMsgVerifyFailed}) << story();
    EXPECT_TRUE(shown("text_fail_advice"));
    EXPECT_EQ(Events::count("Download", "8.DownFail", "First"), 1);

    host().ClickControl("start_app");
    m_backend->Pump();
    ASSERT_TRUE(m_backend->RunUntilFor([this] { return m_kinds.size() == 2; }, kInstallBoundMs));
    ASSERT_TRUE(m_backend->RunUntilFor([this] { return shown("text_fail_advice"); }, 10000));
    EXPECT_EQ(Events::count("Download", "8.DownFail", "Retry"), 1) << story();
    host().ClickControl("start_app");
    m_backend->Pump();
    EXPECT_EQ(Events::count("Download", "8-1.ClickTryAgain", "Retry"), 1);
    ASSERT_TRUE(m_backend->RunUntilFor([this] { return m_kinds.size() == 3; }, kInstallBoundMs));
    EXPECT_FALSE(fs::exists(installRoot() / "Kestrova Editor" / "KestrovaEditor.exe"));
}

TEST_F(MainWindow, AProductThatIsNotASetupIsRevealedAndTheWindowStays) {
    const std::string apk = "/editor/KestrovaEditor_2.4.1.0.apk";
    startSim({}, kSetup, apk);
    // The opener records what it was asked to show.
    const fs::path opened = m_dir.path() / "opened.txt";
    const fs::path opener = m_dir.path() / "opener.sh";
    kvtest::writeFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + opened.string() + "'\n");
    fs::permissions(opener, fs::perms::owner_all);
    set("KV_OPENER", opener);
    InstallUIMainWnd& w = open({{"Extra_download_url", "https://files.kestrova.example" + apk},
                                {"Download_url", "https://download.kestrova.example" + apk}});
    installAndWait();
    EXPECT_TRUE(m_kinds.empty()) << story();
    ASSERT_TRUE(shown("start_app"));
    host().ClickControl("start_app");
    m_backend->Pump();
    EXPECT_FALSE(ui::QuitRequested()) << "the window stays";
    EXPECT_TRUE(w.IsWindowVisible());
    const std::string target = kvtest::readFile(opened);
    EXPECT_NE(target.find(fs::path(w.downloadDirectory).string()), std::string::npos)
        << target << story();
    EXPECT_FALSE(fs::exists(installRoot() / "Kestrova Editor" / "KestrovaEditor.exe"));
}

TEST_F(MainWindow, ProgressFromTheWorkerThreadIsScaledForSubPrograms) {
    startSim();
    InstallUIMainWnd& w = open();
    auto progressAt = [&](int counter) {
        w.subProgramCounter = counter;
        // From another thread, as the download loop calls it.
        std::thread([&w] { w.ShowDownloadProgress(50, 100); }).join();
        m_backend->Pump();
        return m_window->FindControl<ui::Progress>("install_progress")->GetValue();
    };
    EXPECT_EQ(progressAt(0), 40) << "the main file alone";
    w.subPrograms.setNames({"Torvane", "Melvisto"});
    EXPECT_EQ(progressAt(0), 20);
    EXPECT_EQ(progressAt(1), 50);
    EXPECT_EQ(progressAt(2), 70);
    EXPECT_NE(control("install_label")->GetText().find("70%"), std::string::npos);
}

TEST_F(MainWindow, TheAdviceLinkFollowsTheDownloaderType) {
    const fs::path opened = m_dir.path() / "opened.txt";
    const fs::path opener = m_dir.path() / "opener.sh";
    kvtest::writeFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + opened.string() + "'\n");
    fs::permissions(opener, fs::perms::owner_all);
    // A content-delivery address is configured; the configuration's list leaves such
    // addresses out, so only type 1 (the first other address) finds a page.
    m_downloadHost = "dl.kestrova.example";
    for (const char* type : {"1", "2", "4"}) {
        SCOPED_TRACE(std::string("Downloader_type ") + type);
        m_downloaderType = type;
        startSim();
        set("KV_OPENER", opener);
        set("KV_TEST_OFFLINE", "1");
        fs::remove(opened);
        InstallUIMainWnd& w = open();
        installAndWait();
        ASSERT_TRUE(shown("text_fail_advice"));
        w.SetUrlUsed("");  // as when no address was chosen
        ui::Notification link{"link", control("text_fail_advice")};
        m_window->Notify(link);
        const std::string target = fs::exists(opened) ? kvtest::readFile(opened) : "";
        if (std::string(type) == "1")
            EXPECT_EQ(target.rfind("https://files.kestrova.example" + kFilePath, 0), 0u)
                << target << story();
        else
            EXPECT_EQ(target, "") << "no address of this type to offer";
        m_window.reset();
        m_sim.reset();
    }
}

TEST_F(MainWindow, EscapeAndCloseRequestsWhileWorking) {
    startSim();
    set("KV_TEST_STALL_MS", "3000");
    InstallUIMainWnd& w = open();
    host().PressKey(ui::kVkEscape);
    m_backend->Pump();
    EXPECT_FALSE(ui::QuitRequested());
    EXPECT_TRUE(w.IsWindowVisible());

    host().ClickControl("install_btn");
    m_backend->Pump();
    ASSERT_EQ(page("main_tablayout"), 1);
    clickHidden("closebtn");
    EXPECT_EQ(m_kinds, std::vector<int>{kMsgCancelQuestion});
    EXPECT_EQ(Events::count("DownloaderInfo", "CloseDownloadWindow"), 1);
    EXPECT_FALSE(ui::QuitRequested()) << "\"No\" lets the install run on";
    ASSERT_TRUE(m_backend->RunUntilFor([&w] { return w.stage == 1; }, kInstallBoundMs));

    host().SystemCommand(ui::kScClose);
    m_backend->Pump();
    EXPECT_TRUE(ui::QuitRequested());
    EXPECT_EQ(Events::count("CrashRate", "Close"), 1);
}

TEST_F(MainWindow, TheLicenceCheckBoxGatesTheInstallButton) {
    startSim();
    open();
    host().ClickControl("license_checkbox");
    m_backend->Pump();
    EXPECT_FALSE(control("install_btn")->IsEnabled());
    EXPECT_EQ(Events::count("DownloaderInfo00", "DisagreeTermsService"), 1);
    host().ClickControl("license_checkbox");
    m_backend->Pump();
    EXPECT_TRUE(control("install_btn")->IsEnabled());
    EXPECT_EQ(Events::count("DownloaderInfo", "AgreeProxy"), 1);
}

TEST_F(MainWindow, FolderChoices) {
    startSim();
    InstallUIMainWnd& w = open();
    const fs::path root = m_dir.path() / "drive";
    fs::create_directories(root / "Quenlake" / "Tools");
    openSettings();

    m_backend->SetFolderChoice(root.string());
    host().ClickControl("browser_btn");
    m_backend->Pump();
    EXPECT_EQ(control("install_file_path_edit")->GetText(), (root / "Quenlake").string());
    EXPECT_EQ(Events::count("DownloaderInfo00", "DownloadPath"), 1);
    EXPECT_NE(control("space_free")->GetText().find("GB"), std::string::npos);

    m_backend->SetFolderChoice((root / "Quenlake" / "Tools").string());
    host().ClickControl("browser_btn");
    m_backend->Pump();
    EXPECT_EQ(control("install_file_path_edit")->GetText(), (root / "Quenlake/Tools").string());

    m_backend->SetFolderChoice(std::nullopt);
    host().ClickControl("browser_btn");
    m_backend->Pump();
    EXPECT_EQ(control("install_file_path_edit")->GetText(), (root / "Quenlake/Tools").string());

    // A typed folder gets the product folder.
    control("install_file_path_edit")->SetText((root / "Apps").string());
    EXPECT_EQ(w.GetInstallPath(), (root / "Apps" / "Kestrova Editor").string());
}

TEST_F(MainWindow, TheWindowManagersCloseEndsTheProcessWhileItDownloads) {
    // A slow line keeps the download running while the window manager closes the window.
    Json::Value slow(Json::objectValue);
    slow["mode"] = "slow";
    slow["bytes_per_second"] = 300000;
    m_downloadFaults.append(slow);
    startSim();
    InstallUIMainWnd& w = open();
    host().ClickControl("install_btn");
    m_backend->Pump();
    ASSERT_EQ(page("main_tablayout"), 1);
    ASSERT_EQ(w.stage, 2);

    host().SystemCommand(ui::kScClose);
    m_backend->Pump();
    EXPECT_TRUE(m_kinds.empty()) << "no question is asked";
    EXPECT_EQ(Events::count("CrashRate", "Close"), 1) << story();
    EXPECT_TRUE(ui::QuitRequested());
    EXPECT_EQ(ui::QuitExitCode(), 0);
    EXPECT_EQ(w.stage, 2) << "the close did not wait for the download";
    // The worker is still running: the process ends without waiting for it.
    m_window.reset();
    EXPECT_EQ(m_exitCodes, std::vector<int>{0});
}

TEST_F(MainWindow, ATypedFolderGetsTheProductFolderAndAPendingRenameTheNextNumber) {
    startSim();
    InstallUIMainWnd& w = open();
    const fs::path typed = m_dir.path() / "Apps";
    const fs::path product = typed / "Kestrova Editor";
    // Files in the product folder and in its first numbered neighbour change at the next
    // restart: the install goes beside both.
    auto key = platform::RegKey::create(platform::Hive::LocalMachine,
                                        "SYSTEM\\CurrentControlSet\\Control\\Session Manager");
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->setMultiString(
        "PendingFileRenameOperations",
        {(product / "old.so").string(), "", (product.string() + " 1/lib/new.so"), "/tmp/x"}));
    control("install_file_path_edit")->SetText(typed.string());
    installAndWait();
    EXPECT_TRUE(m_kinds.empty()) << story();
    EXPECT_EQ(w.InstallPath(), product.string() + " 2");
    EXPECT_TRUE(fs::exists(product.string() + " 2/KestrovaEditor.exe")) << story();
    EXPECT_FALSE(fs::exists(product / "KestrovaEditor.exe"));
    EXPECT_EQ(Events::count("Other", "ProcessNeedRestartSign"), 1);
}

TEST_F(MainWindow, ExactlyThreeHundredMebibytesFreeIsTooLittle) {
    startSim();
    InstallUIMainWnd& w = open();
    uint64_t free = 314572800;
    std::vector<std::string> measured;
    w.freeSpaceProbe = [&](const std::string& folder) -> std::optional<uint64_t> {
        measured.push_back(folder);
        return free;
    };
    openSettings();
    host().ClickControl("install_btn");
    m_backend->Pump();
    EXPECT_EQ(m_kinds, std::vector<int>{kMsgNoSpace});
    EXPECT_EQ(page("main_tablayout"), 0);
    EXPECT_EQ(page("set_layout"), 1) << "the settings stay open to choose another folder";
    EXPECT_TRUE(m_window->SettingsOpen());
    EXPECT_FALSE(fs::exists(installRoot() / "Kestrova Editor"));
    ASSERT_FALSE(measured.empty());
    EXPECT_EQ(measured.back(), (installRoot() / "Kestrova Editor").string());

    free += 1;
    installAndWait();
    EXPECT_EQ(m_kinds.size(), 1u) << story();
    EXPECT_TRUE(fs::exists(installRoot() / "Kestrova Editor" / "KestrovaEditor.exe")) << story();
}

TEST_F(MainWindow, LanguageFromTheUserAndTheItemsTheSkinOffers) {
    startSim();
    // Only Japanese (1) and Korean (11) offered, and no Korean licence.
    InstallUIMainWnd& w = open({}, [](const std::string& name, std::string& markup) {
        if (name.find("license.xml") != std::string::npos) {
            const size_t at = markup.find("name=\"license_korean\"");
            markup.replace(at, 22, "name=\"license_absent\"");
        }
        if (name.find("installsetting.xml") == std::string::npos)
            return;
        size_t at = 0;
        for (int item = 0; (at = markup.find("<ListLabelElement", at)) != std::string::npos;
             ++item, ++at)
            if (item != 1 && item != 11)
                markup.insert(at + 17, " visible=\"false\"");
    });
    w.ChooseUiLanguage(1036);  // French: not offered, English neither → first visible
    EXPECT_EQ(w.languageIndex, 1);
    EXPECT_EQ(Events::count("DownloaderInfo00", "Country", "France"), 1);
    w.ChooseUiLanguage(1044);
    EXPECT_EQ(Events::count("DownloaderInfo00", "Country", "Unknown--1044"), 1);
    EXPECT_EQ(w.languageIndex, 1);

    // Korean has no licence in the skin: texts change, the licence and its event do not.
    const std::string licence = control("license_text")->GetText();
    const int settings = Events::count("DownloaderInfo00", "LanguageSetting");
    openSettings();
    host().SelectComboItem("language_combox", 11);
    m_backend->Pump();
    EXPECT_EQ(w.languageIndex, 11);
    EXPECT_EQ(control("license_text")->GetText(), licence);
    EXPECT_EQ(Events::count("DownloaderInfo00", "LanguageSetting"), settings);
    EXPECT_EQ(w.LanguageText("install_page", "install_setting"),
              control("install_setting")->GetText());
}

TEST(StartupSequence, ImprovementPlanFollowsTheCheckBoxMarkup) {
    EXPECT_TRUE(ImprovementPlanDefault(
        R"(<Window><CheckBox name="agree_improvement_checkbox" selected="true"/></Window>)"));
    EXPECT_FALSE(ImprovementPlanDefault(
        R"(<Window><CheckBox name="agree_improvement_checkbox" selected="false"/></Window>)"));
    EXPECT_FALSE(ImprovementPlanDefault("<Window/>"));
}

TEST(MainWindowText, SpaceFormatTakesOneText) {
    EXPECT_EQ(FormatSizeText("Space required: %s", "120MB"), "Space required: 120MB");
    EXPECT_EQ(FormatSizeText("%s of %s", "1"), "%s of %s");
    EXPECT_EQ(FormatSizeText("%d MB", "1"), "%d MB");
    EXPECT_EQ(FormatSizeText("100%% %s", "x"), "100% x");
}

}  // namespace

namespace {

// The texts a frame drew for one control, joined.
std::string DrawnText(const ui::headless::Frame& frame, const std::string& control) {
    std::string text;
    for (const auto& op : frame.OpsOf(control))
        if (op.kind == ui::DrawOp::Kind::Text)
            text += op.text;
    return text;
}

struct PageLanguage {
    const char* name;
    uint32_t languageId;
};

class MainWindowPages : public MainWindow, public ::testing::WithParamInterface<PageLanguage> {
protected:
    // KV_MAIN_WINDOW_FRAMES: a folder to keep every page as a picture, for a look.
    ui::headless::Frame render(const std::string& page) {
        ui::headless::Frame frame = host().Render();
        if (const char* keep = std::getenv("KV_MAIN_WINDOW_FRAMES"))
            frame.image->SavePng(std::string(keep) + "/main-" + page + "-" + GetParam().name +
                                 ".png");
        return frame;
    }
};

TEST_P(MainWindowPages, EveryPageDrawsTheLanguagesTexts) {
    startSim();
    InstallUIMainWnd& w = open();
    w.ChooseUiLanguage(GetParam().languageId);
    m_backend->Pump();
    auto text = [&w](const char* key) { return w.LanguageText("install_page", key); };

    ui::headless::Frame frame = render("licence");
    EXPECT_FALSE(DrawnText(frame, "install_btn").empty());
    EXPECT_EQ(control("install_btn")->GetText(), text("install_btn"));

    // The link text is the start of the line: its left end, or its right end in a
    // right-to-left language.
    auto clickLink = [this, &w] {
        const ui::Rect r = control("license_link")->GetPos();
        const bool wasOpen = w.SettingsOpen();
        host().Click({r.left + 8, (r.top + r.bottom) / 2});
        m_backend->Pump();
        if (w.SettingsOpen() == wasOpen) {
            host().Click({r.right - 8, (r.top + r.bottom) / 2});
            m_backend->Pump();
        }
    };
    clickLink();
    frame = render("licence-text");
    EXPECT_TRUE(w.SettingsOpen());
    EXPECT_EQ(page("set_layout"), 0);
    EXPECT_FALSE(DrawnText(frame, "license_text").empty());
    clickLink();
    EXPECT_FALSE(w.SettingsOpen()) << "the same link closes the panel";

    openSettings();
    frame = render("settings");
    EXPECT_EQ(page("set_layout"), 1);
    EXPECT_FALSE(DrawnText(frame, "install_path_text").empty());
    // This skin hides the space labels, but they carry the product's size all the same.
    EXPECT_NE(control("space_need")->GetText().find("120MB"), std::string::npos);
    EXPECT_EQ(control("space_need")->GetText().find('%'), std::string::npos);

    host().ClickControl("install_btn");
    m_backend->Pump();
    ASSERT_EQ(page("main_tablayout"), 1);
    EXPECT_TRUE(w.Slides().IsRunning());
    render("running");
    ASSERT_TRUE(m_backend->RunUntilFor([&w] { return w.stage == 1; }, kInstallBoundMs));
    m_backend->RunUntilFor([] { return false; }, 200);
    frame = render("finish");
    EXPECT_EQ(control("start_app")->GetText(), text("start_app"));
    EXPECT_FALSE(w.Slides().IsRunning());
}

INSTANTIATE_TEST_SUITE_P(Languages, MainWindowPages,
                         ::testing::Values(PageLanguage{"english", 1033},
                                           PageLanguage{"japanese", 1041},
                                           PageLanguage{"arabic", 1025}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
