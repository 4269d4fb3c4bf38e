// The whole unattended install against vendor-sim on loopback: the real download engine, the
// real signature check, the demo product's setup run as a real child process, the registry
// store in a private folder. Each test reads what the user saw (the console, the message
// kinds) and what the program recorded (events, log lines, the sim's request log).

#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Common/console_presenter.h"
#include "Common/install_window.h"
#include "Common/unattended.h"
#include "install_sandbox.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "report/EventReporter.h"
#include "test_support.h"
#include "vendor_sim_runner.h"
#include "zip_builder.h"

namespace fs = std::filesystem;
using kvtest::md5Hex;
using kvtest::replaceLabel;
using kvtest::VendorSim;

namespace {

KV_TEST_CHILD(exit_at_once) {
    (void)args;
    return 0;
}

const std::string kProductDir = std::string(KV_BIN_DIR) + "/demo-product/";
const std::string kSetup = kProductDir + "KestrovaEditor_2.4.1.0.exe";
const std::string kUninstallKey =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Kestrova Editor}_is1";
const std::string kFileUrlPath = "/editor/KestrovaEditor_2.4.1.0.exe";

struct Product {
    std::string downloaderId = "253";
    std::string version = "2.4.1.0";
    std::string md5;  // of the served file unless set
    std::string extraUrl = "https://files.kestrova.example" + kFileUrlPath;
    std::string downloadUrl = "https://download.kestrova.example" + kFileUrlPath;
    std::string served = kSetup;  // the file both URLs serve
    // configure.xml's labels; the reply's URLs when empty.
    std::string labelDownloadUrl;
    std::string labelExtraUrl;
    std::vector<std::string> alsoServed;  // more paths ("host/path") serving the same file
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>
        moreReplies;
    std::string needStart = "1";
    std::string softwareName = "Kestrova Editor";  // in the update service's reply
    // The install refuses to start while a process of this name runs. Tests run side by side
    // and some start the product itself: only a test that starts it names it.
    std::string processName = "KestrovaEditor-not-started.exe";
    int subProgramDelayMs = 0;                           // before the sub-program queries answer
    Json::Value faults = Json::Value(Json::arrayValue);  // of the served file
    bool answerUpdate = true;
};

class InstallEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kSetup))
            GTEST_SKIP() << "the demo product was not built: " << kSetup;
        m_sandbox.emplace(m_dir.path());
        EventReporter::instance().clearEvents();
    }

    // A setup left running by a time-out test must not outlive it.
    void TearDown() override { m_sandbox.reset(); }

    void set(const char* name, const std::string& value) { m_sandbox->set(name, value); }
    void unset(const char* name) { m_sandbox->unset(name); }

    void startSim(const Product& p) {
        const std::string served = kvtest::readFile(p.served);
        Json::Value fixture(Json::objectValue);
        Json::Value reply(Json::objectValue);
        reply["match"]["SoftWareID"] = p.downloaderId;
        const std::vector<std::pair<std::string, std::string>> fields = {
            {"Downloader_id", p.downloaderId},
            {"Software_id", "1201"},
            {"Site_id", "55"},
            {"Downloader_type", "1"},
            {"Software_name", p.softwareName},
            {"Software_version", p.version},
            {"Process_name", p.processName},
            {"Install_url", "https://www.kestrova.example/editor/"},
            {"Download_url", p.downloadUrl},
            {"Extra_download_url", p.extraUrl},
            {"Md5", p.md5.empty() ? md5Hex(served) : p.md5},
            {"Filesize", std::to_string(served.size())}};
        kvtest::appendFields(reply, fields);
        if (p.answerUpdate)
            fixture["update"]["replies"].append(reply);
        for (const auto& [id, more] : p.moreReplies) {
            Json::Value other(Json::objectValue);
            other["match"]["SoftWareID"] = id;
            if (p.subProgramDelayMs > 0)
                other["delay_ms"] = p.subProgramDelayMs;
            kvtest::appendFields(other, more);
            fixture["update"]["replies"].append(other);
        }
        for (const std::string& url : {p.downloadUrl, p.extraUrl}) {
            const size_t hostAt = url.find("://") + 3;
            const std::string key = url.substr(hostAt);
            fixture["download"]["files"][key]["source"] = p.served;
            fixture["download"]["files"][key]["faults"] = p.faults;
        }
        for (const std::string& key : p.alsoServed)
            fixture["download"]["files"][key]["source"] = p.served;
        m_sim = std::make_unique<VendorSim>(kvtest::compactJson(fixture));
        m_sandbox->trust(*m_sim, kProductDir + "demo-root.pem");
    }

    // The skin package: the product's configure.xml with labels changed, and its language file.
    platform::ResourceTable skin(const Product& p) {
        std::string configure =
            kvtest::readFile(std::string(KV_SOURCE_DIR) + "/skin/configure/configure.xml");
        configure = replaceLabel(configure, "Downloader_id", p.downloaderId);
        configure = replaceLabel(configure, "Extra_download_url",
                                 p.labelExtraUrl.empty() ? p.extraUrl : p.labelExtraUrl);
        configure = replaceLabel(configure, "Download_url",
                                 p.labelDownloadUrl.empty() ? p.downloadUrl : p.labelDownloadUrl);
        configure = replaceLabel(configure, "NeedStart_flag", p.needStart);
        const std::string language =
            kvtest::readFile(std::string(KV_SOURCE_DIR) + "/skin/language/language_english.xml");
        const auto zip = kvtest::makeZip(
            {{"configure/configure.xml", configure}, {"language/language_english.xml", language}});
        platform::ResourceTable table;
        table.put("ZIPRES", 138, zip);
        return table;
    }

    struct Outcome {
        int status = -1;
        std::string console;
    };

    Outcome install(const Product& p, std::vector<std::string> extraArgs = {}) {
        std::vector<std::string> args = {"--unattended", "--dir", installRoot().string(), "--lang",
                                         "0"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        std::string error;
        const auto options = ParseUnattendedOptions(args, error);
        EXPECT_TRUE(options) << error;
        std::ostringstream out;
        Outcome outcome;
        outcome.status = RunUnattended(*options, skin(p), out);
        outcome.console = out.str();
        m_console = outcome.console;
        return outcome;
    }

    fs::path installRoot() const { return m_dir.path() / "programs"; }
    fs::path installFolder() const { return installRoot() / "Kestrova Editor"; }
    fs::path workFolder() const { return m_dir.path() / "tmp" / "KestrovaEditor_2"; }
    fs::path downloadPath() const { return workFolder() / "KestrovaEditor_2.4.1.0_2.4.1.0.exe"; }

    bool reported(const std::string& category, const std::string& action,
                  const std::string& label) const {
        for (const auto& e : EventReporter::instance().events())
            if (e.category == category && e.action == action && e.label == label)
                return true;
        return false;
    }
    int reportedCount(const std::string& category, const std::string& action,
                      const std::string& label) const {
        int n = 0;
        for (const auto& e : EventReporter::instance().events())
            if (e.category == category && e.action == action && e.label == label)
                ++n;
        return n;
    }

    // The log the product's setup wrote in the work folder ("<Software_name>_Setup_<time>.log").
    std::string setupLogText() const {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(workFolder(), ec))
            if (entry.path().filename().string().rfind("Kestrova Editor_Setup_", 0) == 0)
                return kvtest::readFile(entry.path());
        return {};
    }

    // The program log of the last run, where its console said it is.
    std::string programLog() const {
        const size_t at = m_console.rfind("Log: ");
        if (at == std::string::npos)
            return {};
        const size_t end = m_console.find('\n', at);
        return kvtest::readFile(
            m_console.substr(at + 5, end == std::string::npos ? std::string::npos : end - at - 5));
    }

    std::vector<Json::Value> requestsTo(const std::string& host, const std::string& path) const {
        std::vector<Json::Value> found;
        for (const auto& r : m_sim->requests())
            if (r["host"].asString() == host && r["path"].asString() == path)
                found.push_back(r);
        return found;
    }

    std::optional<std::string> uninstallValue(const std::string& name) const {
        const auto key = platform::RegKey::open(platform::Hive::LocalMachine, kUninstallKey);
        if (!key)
            return std::nullopt;
        return key->getString(name);
    }

    kvtest::TempDir m_dir;
    std::unique_ptr<VendorSim> m_sim;
    std::optional<kvtest::InstallSandbox> m_sandbox;
    std::string m_console;
};

TEST_F(InstallEndToEnd, InstallsTheProductAndHandsOver) {
    Product p;
    p.processName = "KestrovaEditor.exe";
    startSim(p);
    const Outcome run = install(p, {"--start"});
    ASSERT_EQ(run.status, 0) << run.console << programLog();

    EXPECT_TRUE(fs::exists(installFolder() / "KestrovaEditor.exe")) << run.console;
    EXPECT_EQ(uninstallValue("Inno Setup: Language"), "en");
    EXPECT_TRUE(uninstallValue("DisplayName").has_value()) << "the setup wrote its own key";
    EXPECT_NE(
        run.console.find("Installed Kestrova Editor 2.4.1.0 into " + installFolder().string()),
        std::string::npos)
        << run.console;
    EXPECT_NE(run.console.find("100%"), std::string::npos) << run.console;
    EXPECT_NE(run.console.find("Log: "), std::string::npos);

    // --start ran what the setup installed.
    for (int i = 0; i < 50 && !fs::exists(installFolder() / "started.log"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(fs::exists(installFolder() / "started.log"));

    EXPECT_TRUE(reported("DownloaderInfo00", "DownloadSuccess001", ""));
    EXPECT_TRUE(reported("Download", "5.ProgramInstall", "First"));
    EXPECT_TRUE(reported("Download", "6.ProgramFinsh", "First"));
    EXPECT_TRUE(reported("DownloaderInfo00", "InstallFinish001", ""));
    EXPECT_EQ(reportedCount("Download", "3.Downloading...", "AutoRetry"), 0);

    const std::string log = programLog();
    EXPECT_NE(log.find("[Start Install CmdLine]:  /VERYSILENT /SP- /NORESTART /DIR=\"" +
                       installFolder().string()),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Install Totally Take"), std::string::npos);
    EXPECT_TRUE(requestsTo("alert.kestrova.example", "/api/exception/send").empty())
        << "both checks passed";
    // The setup's own log went to the private work folder under the name the installer chose;
    // the setup got no descriptor of the installer's (the program log is open meanwhile).
    const std::string setupLog = setupLogText();
    EXPECT_NE(setupLog.find("Setup exit code: 0"), std::string::npos) << setupLog;
    const size_t inherited = setupLog.find("Inherited descriptors: ");
    ASSERT_NE(inherited, std::string::npos) << setupLog;
    const std::string descriptors =
        setupLog.substr(inherited, setupLog.find('\n', inherited) - inherited);
    EXPECT_EQ(descriptors.find(workFolder().string() + "/"), std::string::npos) << descriptors;
    EXPECT_EQ(descriptors.find("socket:"), std::string::npos) << descriptors;
    // The setup ran from a private copy, which is gone once it ended.
    EXPECT_NE(setupLog.find("Setup program: " + workFolder().string() + "/run-"), std::string::npos)
        << setupLog;
    for (const auto& entry : fs::directory_iterator(workFolder()))
        EXPECT_NE(entry.path().filename().string().rfind("run-", 0), 0u) << entry.path();
}

TEST_F(InstallEndToEnd, ADigestMismatchWithAValidSignatureStillInstallsAndIsReported) {
    Product p;
    p.md5 = "0123456789abcdef0123456789abcdef";
    startSim(p);
    const Outcome run = install(p);
    ASSERT_EQ(run.status, 0) << run.console << programLog();
    EXPECT_TRUE(fs::exists(installFolder() / "KestrovaEditor.exe"));
    const auto reports = requestsTo("alert.kestrova.example", "/api/exception/send");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]["method"].asString(), "POST");
    EXPECT_EQ(reports[0]["body"].asString(), "pid=253&type=2&exception_code=MD5_Check_Fail_Cfg1");
}

TEST_F(InstallEndToEnd, AnInvalidSignatureRunsNothingAndDeletesTheDownload) {
    for (const char* variant : {"untrusted", "unsigned"}) {
        SCOPED_TRACE(variant);
        EventReporter::instance().clearEvents();
        Product p;
        p.served = kProductDir + "KestrovaEditor_2.4.1.0." + variant + ".exe";
        startSim(p);
        const Outcome run = install(p);
        EXPECT_EQ(run.status, 1) << run.console;
        EXPECT_NE(
            run.console.find("Message 7 (verification failure): The downloaded file is damaged"),
            std::string::npos)
            << run.console;
        EXPECT_NE(run.console.find("Install failed"), std::string::npos);
        EXPECT_TRUE(reported("DownloaderInfo00", "DownloaderFailed", "-5"));
        EXPECT_TRUE(reported("Download", "8.DownFail", "First"));
        EXPECT_FALSE(fs::exists(downloadPath())) << "the setup file is deleted";
        EXPECT_FALSE(fs::exists(downloadPath().string() + ".xml")) << "and its task file";
        EXPECT_FALSE(fs::exists(installFolder() / "KestrovaEditor.exe")) << "nothing ran";
        const auto reports = requestsTo("alert.kestrova.example", "/api/exception/send");
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0]["body"].asString(),
                  "pid=253&type=2&exception_code=Hash_Check_Fail_Cfg1");
        m_sim.reset();
    }
}

TEST_F(InstallEndToEnd, ASetupThatOutlivesTheTimeOutShowsKindSix) {
    Product p;
    startSim(p);
    set("KV_DEMO_SETUP", "hang");
    set("KV_TEST_SETUP_WAIT_LIMIT", "1");
    const auto started = std::chrono::steady_clock::now();
    const Outcome run = install(p);
    EXPECT_EQ(run.status, 1) << run.console;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    EXPECT_NE(run.console.find("Message 6 (setup run time-out)"), std::string::npos) << run.console;
    EXPECT_TRUE(reported("DownloaderInfo", "InstallFailed", ""));
    EXPECT_FALSE(fs::exists(downloadPath())) << "the box's answer deletes the download";
    EXPECT_NE(programLog().find("Cmd nWaitSeconds timed out"), std::string::npos);
}

// A setup exits non-zero exactly when it did not install: that is a failed install, shown and
// reported as one, never "Installed".
TEST_F(InstallEndToEnd, ASetupThatExitsNonZeroIsAFailedInstall) {
    Product p;
    startSim(p);
    set("KV_DEMO_SETUP", "fail:3");
    const Outcome run = install(p);
    EXPECT_EQ(run.status, 1) << run.console;
    EXPECT_EQ(run.console.find("Installed "), std::string::npos) << run.console;
    EXPECT_NE(run.console.find("Message 6 (setup run time-out)"), std::string::npos) << run.console;
    EXPECT_NE(run.console.find("Install failed"), std::string::npos) << run.console;
    EXPECT_NE(programLog().find(" Setup exit status: 3"), std::string::npos) << run.console;
    EXPECT_TRUE(reported("DownloaderInfo", "InstallFailed", "3"));
    EXPECT_TRUE(reported("Download", "8.DownFail", "First"));
    EXPECT_FALSE(reported("DownloaderInfo00", "InstallFinish001", ""));
    EXPECT_FALSE(reported("Download", "6.ProgramFinsh", "First"));
    EXPECT_FALSE(fs::exists(installFolder() / "KestrovaEditor.exe"));
    EXPECT_FALSE(fs::exists(downloadPath())) << "a retry downloads again";
}

TEST_F(InstallEndToEnd, NoNetworkShowsKindNine) {
    Product p;
    startSim(p);
    set("KV_TEST_OFFLINE", "1");
    const Outcome run = install(p);
    EXPECT_EQ(run.status, 1) << run.console;
    EXPECT_NE(run.console.find("Message 9 (no network): There is no network connection."),
              std::string::npos)
        << run.console;
    EXPECT_TRUE(reported("DownloaderInfo00", "DownloaderFailed", "-2"));
    EXPECT_TRUE(reported("Other", "DownErrorCode", "error-2"));
    // Four attempts: the first and three automatic retries.
    EXPECT_EQ(reportedCount("Download", "3.Downloading...", "AutoRetry"), 3);
}

TEST_F(InstallEndToEnd, AutomaticRetriesRecoverFromAFailedAttempt) {
    Product p;
    // The server fails for a while, then recovers.
    Json::Value fault;
    fault["mode"] = "http-error";
    fault["status"] = 503;
    // The size probe fails five times over: the first attempt ends before any data moves.
    fault["method"] = "HEAD";
    fault["requests"].append(1);
    fault["requests"].append(5);
    p.faults.append(fault);
    startSim(p);
    const Outcome run = install(p);
    ASSERT_EQ(run.status, 0) << run.console << programLog();
    EXPECT_GE(reportedCount("Download", "3.Downloading...", "AutoRetry"), 1) << programLog();
    EXPECT_TRUE(reported("Download", "4.DownFinsh", "AutoRetry"));
    EXPECT_NE(programLog().find("The Retry Frequency is: "), std::string::npos);
}

TEST_F(InstallEndToEnd, AProductThatIsNotASetupProgramIsOnlyDownloaded) {
    Product p;
    p.extraUrl = "https://files.kestrova.example/editor/KestrovaEditor_2.4.1.0.apk";
    p.downloadUrl = "https://download.kestrova.example/editor/KestrovaEditor_2.4.1.0.apk";
    startSim(p);
    const Outcome run = install(p);
    ASSERT_EQ(run.status, 0) << run.console << programLog();
    EXPECT_NE(programLog().find("APP DownloaderSucceed"), std::string::npos)
        << programLog() << run.console;
    EXPECT_FALSE(fs::exists(installFolder() / "KestrovaEditor.exe")) << "nothing was run";
    // Downloads that are not setup programs go to the desktop's download folder.
    const fs::path apk = m_dir.path() / "home" / "Desktop" / "KestrovaEditor_2" /
                         "KestrovaEditor_2.4.1.0_2.4.1.0.apk";
    EXPECT_TRUE(fs::exists(apk)) << run.console;
    EXPECT_NE(run.console.find("Downloaded Kestrova Editor to"), std::string::npos);
}

TEST_F(InstallEndToEnd, AnEarlierDownloadOfAnotherVersionIsDiscarded) {
    Product p;
    startSim(p);
    // An interrupted download of another version: a file of the right size but other bytes,
    // its task file saying it is complete, and a record naming the other version.
    const std::string real = kvtest::readFile(kSetup);
    fs::create_directories(workFolder());
    fs::permissions(workFolder(), fs::perms::owner_all, fs::perm_options::replace);
    kvtest::writeFile(downloadPath(), std::string(real.size(), 'x'));
    kvtest::writeFile(downloadPath().string() + ".db",
                      "2.3.0.0###" + md5Hex(std::string(real.size(), 'x')));
    const Outcome run = install(p);
    ASSERT_EQ(run.status, 0) << run.console << programLog();
    EXPECT_TRUE(requestsTo("alert.kestrova.example", "/api/exception/send").empty())
        << "the digest matched";
    EXPECT_EQ(kvtest::readFile(downloadPath().string() + ".db"), "2.4.1.0###" + md5Hex(real))
        << programLog();
    EXPECT_FALSE(requestsTo("download.kestrova.example", kFileUrlPath).empty())
        << "downloaded again";
}

TEST_F(InstallEndToEnd, TheNeedStartFlagDecidesWhatTheFinishPageOffers) {
    struct Case {
        const char* flag;
        bool startButton;
        bool shortcutText;
    } cases[] = {{"1", true, false}, {"0", false, true}, {"2", false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flag);
        Product p;
        p.needStart = c.flag;
        startSim(p);
        UnattendedOptions options;
        options.folder = installRoot().string();
        options.languageIndex = 0;
        std::ostringstream out;
        bool startButton = false, shortcutText = false;
        const int status = RunUnattended(options, skin(p), out, [&](const ConsolePresenter& w) {
            startButton = w.ControlVisible("start_app");
            shortcutText = w.ControlVisible("text_startshortcut");
        });
        ASSERT_EQ(status, 0) << out.str();
        EXPECT_EQ(startButton, c.startButton);
        EXPECT_EQ(shortcutText, c.shortcutText);
        m_sim.reset();
    }
}

TEST_F(InstallEndToEnd, AMissing64BitLinkFallsBackToTheConfiguredLinks) {
    // The server names a 64-bit build that is not there; configure.xml's links are tried in
    // order, a content-delivery link skipped.
    struct Case {
        std::string labelDownload;
        std::string expected;
    } cases[] = {
        {"https://download.kestrova.example/editor/Kestrova32.exe",
         "https://download.kestrova.example/editor/Kestrova32.exe"},
        {"https://cdn.kestrova.example/editor/Kestrova32.exe",
         "https://files.kestrova.example" + kFileUrlPath},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.labelDownload);
        EventReporter::instance().clearEvents();
        Product p;
        p.downloadUrl = "https://download.kestrova.example/editor/KestrovaEditor_64.exe";
        p.extraUrl = "https://files.kestrova.example/editor/KestrovaEditor_64.exe";
        p.labelDownloadUrl = c.labelDownload;
        p.labelExtraUrl = "https://files.kestrova.example" + kFileUrlPath;
        Json::Value missing;
        missing["mode"] = "http-error";
        missing["status"] = 404;
        missing["method"] = "any";
        p.faults.append(missing);
        p.alsoServed = {"download.kestrova.example/editor/Kestrova32.exe",
                        "files.kestrova.example" + kFileUrlPath};
        startSim(p);
        const Outcome run = install(p);
        ASSERT_EQ(run.status, 0) << run.console << programLog();
        EXPECT_TRUE(reported("Download", "64PC32Link", ""));
        EXPECT_NE(programLog().find(" UrlUsed change to: " + c.expected), std::string::npos)
            << programLog();
        m_sim.reset();
    }
}

TEST_F(InstallEndToEnd, SubProgramsAreDownloadedEvenWhenTheMainDownloadFails) {
    Product p;
    p.downloaderId = "277";
    Json::Value missing;
    missing["mode"] = "http-error";
    missing["status"] = 404;
    missing["method"] = "any";
    p.faults.append(missing);
    p.alsoServed = {"download.kestrova.example/tools/Torvane.exe",
                    "download.kestrova.example/tools/Melvisto.exe"};
    p.moreReplies = {
        {"302", {{"Download_url", "https://download.kestrova.example/tools/Torvane.exe"}}},
        {"304", {{"Download_url", "https://download.kestrova.example/tools/Melvisto.exe"}}},
    };
    startSim(p);
    const Outcome run = install(p);
    EXPECT_EQ(run.status, 1) << run.console;
    EXPECT_FALSE(requestsTo("download.kestrova.example", "/tools/Torvane.exe").empty())
        << programLog();
    EXPECT_FALSE(requestsTo("download.kestrova.example", "/tools/Melvisto.exe").empty());
    EXPECT_TRUE(reported("Download", "IsToolKit", "1"));
}

TEST_F(InstallEndToEnd, TheInstallerProgramRunsUnattended) {
    Product p;
    startSim(p);
    const auto result =
        kvtest::runProgram(std::string(KV_BIN_DIR) + "/kvdownloader",
                           {"--unattended", "--dir", installRoot().string()}, 120000);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(fs::exists(installFolder() / "KestrovaEditor.exe"));
    EXPECT_NE(result.output.find("Install folder: " + installFolder().string()), std::string::npos)
        << result.output;

    const auto bad = kvtest::runProgram(std::string(KV_BIN_DIR) + "/kvdownloader",
                                        {"--unattended", "--lang", "x"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.output.find("usage: kvdownloader --unattended"), std::string::npos);
}

// Another local user (uid 65534) made the work folder first, open to all, with links named
// like the files the installer writes there. The installer, as root, leaves it alone and works
// in a fresh private folder of its own.
TEST_F(InstallEndToEnd, AWorkFolderPlantedByAnotherUserIsLeftAlone) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to plant files as another user";
    Product p;
    startSim(p);
    const fs::path victim = m_dir.path() / "victim";
    kvtest::writeFile(victim, "keep");
    fs::create_directories(workFolder());
    for (const std::string& name :
         {downloadPath().filename().string(), downloadPath().filename().string() + ".xml",
          downloadPath().filename().string() + ".db"}) {
        fs::create_symlink(victim, workFolder() / name);
        ASSERT_EQ(::lchown((workFolder() / name).c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chown(workFolder().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(workFolder().c_str(), 0777), 0);

    const Outcome run = install(p);
    ASSERT_EQ(run.status, 0) << run.console << programLog();
    EXPECT_TRUE(fs::exists(installFolder() / "KestrovaEditor.exe"));
    EXPECT_EQ(kvtest::readFile(victim), "keep");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(workFolder()))
        ++entries;
    EXPECT_EQ(entries, 3u) << "nothing was added to the planted folder";
    const size_t at = run.console.rfind("Log: ");
    ASSERT_NE(at, std::string::npos);
    const fs::path log = run.console.substr(at + 5, run.console.find('\n', at) - at - 5);
    EXPECT_NE(log.parent_path(), workFolder());
    EXPECT_EQ(log.parent_path().parent_path(), workFolder().parent_path());
    struct stat st {};
    ASSERT_EQ(::lstat(log.parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

// Text from the update service and the chosen folder become pieces of the setup's command line
// in quotes: a double quote in either would let it name another folder.
TEST_F(InstallEndToEnd, AQuoteInTheProductNameOrTheFolderRunsNothingElsewhere) {
    const fs::path elsewhere = m_dir.path() / "elsewhere";
    {
        SCOPED_TRACE("a product name from the update service");
        Product p;
        p.softwareName = "Kestrova Editor\" /DIR=\"" + elsewhere.string();
        startSim(p);
        const Outcome run = install(p);
        EXPECT_NE(programLog().find("Downloader info reply refused"), std::string::npos)
            << programLog();
        EXPECT_FALSE(fs::exists(elsewhere)) << run.console;
        const std::string log = programLog();
        const size_t line = log.find("[Start Install CmdLine]");
        if (line != std::string::npos) {
            EXPECT_EQ(log.substr(line, log.find('\n', line) - line).find(elsewhere.string()),
                      std::string::npos);
        }
        m_sim.reset();
    }
    {
        SCOPED_TRACE("the folder chosen on the command line");
        EventReporter::instance().clearEvents();
        Product p;
        startSim(p);
        const Outcome run =
            install(p, {"--dir", installRoot().string() + "\" /DIR=\"" + elsewhere.string()});
        EXPECT_EQ(run.status, 1) << run.console;
        EXPECT_NE(run.console.find("Message 4"), std::string::npos) << run.console;
        EXPECT_FALSE(reported("Download", "5.ProgramInstall", "First"));
        EXPECT_FALSE(fs::exists(elsewhere));
    }
}

// Sub-programs run only as the verified copies: one whose address the service answers after
// the check was made never runs, even when a file of its name lies in the download folder.
TEST_F(InstallEndToEnd, ASubProgramListedAfterTheCheckIsNotRun) {
    Product p;
    p.downloaderId = "277";
    p.subProgramDelayMs = 2000;
    p.alsoServed = {"download.kestrova.example/tools/Torvane.exe",
                    "download.kestrova.example/tools/Melvisto.exe"};
    p.moreReplies = {
        {"302", {{"Download_url", "https://download.kestrova.example/tools/Torvane.exe"}}},
        {"304", {{"Download_url", "https://download.kestrova.example/tools/Melvisto.exe"}}},
    };
    startSim(p);
    set("KV_TEST_SUBPROGRAM_WAITS", "1");
    // The main setup runs long enough for both late answers to come in meanwhile.
    set("KV_DEMO_SETUP", "slow:7000");
    // Unsigned leftovers named like the sub-programs, which would mark that they ran.
    fs::create_directories(workFolder());
    fs::permissions(workFolder(), fs::perms::owner_all, fs::perm_options::replace);
    for (const char* name : {"Torvane.exe", "Melvisto.exe"}) {
        kvtest::writeFile(
            workFolder() / name,
            "#!/bin/sh\ntouch '" + (m_dir.path() / (std::string(name) + ".ran")).string() + "'\n");
        fs::permissions(workFolder() / name, fs::perms::owner_all);
    }
    const Outcome run = install(p);
    ASSERT_EQ(run.status, 0) << run.console << programLog();
    EXPECT_FALSE(fs::exists(m_dir.path() / "Torvane.exe.ran")) << programLog();
    EXPECT_FALSE(fs::exists(m_dir.path() / "Melvisto.exe.ran")) << programLog();
}

// A run folder left behind by an earlier installer process that is gone is removed.
TEST_F(InstallEndToEnd, RunFoldersOfEndedRunsAreRemoved) {
    Product p;
    startSim(p);
    const pid_t gone = kvtest::spawnChild("exit_at_once");
    ASSERT_EQ(kvtest::waitChild(gone, 10000), 0);
    const fs::path stale = workFolder() / ("run-" + std::to_string(gone));
    fs::create_directories(stale);
    fs::permissions(workFolder(), fs::perms::owner_all, fs::perm_options::replace);
    kvtest::writeFile(stale / "KestrovaEditor_2.4.1.0_2.4.1.0.exe", "an old copy");
    const Outcome run = install(p);
    ASSERT_EQ(run.status, 0) << run.console << programLog();
    EXPECT_FALSE(fs::exists(stale));
}

// Without TMPDIR (as on most desktops) the work folder and the setup's log are in a private
// folder of the user's, never under names in the shared /tmp that anyone could take first.
TEST_F(InstallEndToEnd, WithoutTmpdirTheWorkFolderIsTheUsersOwn) {
    Product p;
    startSim(p);
    unset("TMPDIR");
    unset("XDG_RUNTIME_DIR");
    const Outcome run = install(p);
    ASSERT_EQ(run.status, 0) << run.console << programLog();
    const fs::path privateTemp = m_dir.path() / "home" / ".cache" / "kvtemp";
    EXPECT_NE(run.console.find("Log: " + (privateTemp / "KestrovaEditor_2").string() + "/"),
              std::string::npos)
        << run.console;
    struct stat st {};
    ASSERT_EQ(::lstat(privateTemp.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_NE(programLog().find("/LOG=\"" + (privateTemp / "KestrovaEditor_2").string() + "/"),
              std::string::npos)
        << programLog();
}

}  // namespace
