// The demo product's setup, run as a real child the way the installer runs it, into a private
// folder and a private registry store.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Common/install_worker.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/Trust.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::Hive;
using platform::RegKey;

const fs::path kDemo = fs::path(KV_BIN_DIR) / "demo-product";
const fs::path kSigned = kDemo / "KestrovaEditor_2.4.1.0.exe";
const fs::path kUnsigned = kDemo / "KestrovaEditor_2.4.1.0.unsigned.exe";
const fs::path kUntrusted = kDemo / "KestrovaEditor_2.4.1.0.untrusted.exe";
const fs::path kDemoRoot = kDemo / "demo-root.pem";
constexpr uint32_t kSetupBoundMs = 30000;

std::string uninstallKey() {
    return platform::is64BitOs()
               ? "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                 "{Kestrova Editor}_is1"
               : "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Kestrova Editor}_is1";
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class DemoSetup : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kUnsigned))
            << kUnsigned << " missing: build the demo-product target";
        fs::create_directories(m_temp);
    }

    // As the installer starts it: the application path, then a command line without the
    // program name, behind which the installer puts the quoted path.
    std::optional<platform::Process> start(const std::string& line,
                                           const fs::path& setup = kUnsigned) {
        platform::ProcessStartInfo info;
        info.application = setup;
        info.commandLine = "\"" + setup.string() + "\"" + line;
        info.inheritHandles = true;
        return platform::Process::start(info);
    }
    // The exit code, or nullopt when the setup did not end within the bound (it is killed).
    std::optional<int> run(const std::string& line, const fs::path& setup = kUnsigned) {
        auto process = start(line, setup);
        if (!process)
            return std::nullopt;
        if (process->wait(kSetupBoundMs) != platform::WaitResult::Signaled) {
            process->terminate();
            process->wait(kSetupBoundMs);
            return std::nullopt;
        }
        return process->exitCode();
    }
    // The main product's line, built by the installer's own code.
    std::string installerLine(const fs::path& dir, const std::string& trackingId = {}) {
        return install_detail::SetupCommandLine(dir.string(), "en", m_temp.string() + "/", kLogName,
                                                trackingId);
    }
    fs::path logPath() const { return m_temp / kLogName; }

    // Installed files anywhere under the test folder, to show that a failure placed nothing.
    std::vector<fs::path> installedFiles() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::recursive_directory_iterator(m_dir.path())) {
            const std::string name = entry.path().filename().string();
            // Temporary names start with the final name behind a dot.
            if (name == "KestrovaEditor.exe" || name == "unins000.exe" ||
                name.rfind(".KestrovaEditor.exe.", 0) == 0 || name.rfind(".unins000.exe.", 0) == 0)
                found.push_back(entry.path());
        }
        return found;
    }

    static constexpr const char* kLogName = "Kestrova Editor_Setup_20250102030405.log";
    kvtest::TempDir m_dir;
    const fs::path m_temp = m_dir.path() / "tmp";
    const fs::path m_install = m_dir.path() / "Programs" / "Kestrova Editor";
    kvtest::ScopedEnv m_registry{"KV_REGISTRY_DIR", (m_dir.path() / "registry").c_str()};
    kvtest::ScopedEnv m_behaviour{"KV_DEMO_SETUP", nullptr};
};

TEST_F(DemoSetup, VerifiedSetupInstallsAnApplicationThatRuns) {
    // What the installer runs: a private copy of the verified bytes, signature block cut off.
    const fs::path runCopy = m_dir.path() / "run" / "KestrovaEditor_2.4.1.0.exe";
    fs::create_directories(runCopy.parent_path());
    {
        kvtest::ScopedEnv bundle("KV_CA_BUNDLE", kDemoRoot.c_str());
        ASSERT_TRUE(platform::stripAppendedSignature(kSigned, runCopy).ok());
    }
    ASSERT_EQ(run(installerLine(m_install, "kvdownloader_253.exe"), runCopy), 0);

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_install))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"KestrovaEditor.exe", "unins000.exe"}));

    // The exact argv the setup received: the folder keeps the backslash piece B puts after it.
    const std::string log = kvtest::readFile(logPath());
    const std::vector<std::string> expected = {runCopy.string(),
                                               "/VERYSILENT",
                                               "/SP-",
                                               "/NORESTART",
                                               "/DIR=" + m_install.string() + "\\",
                                               "/LANG=en",
                                               "/LOG=" + logPath().string(),
                                               "/sptrack",
                                               "kvdownloader_253.exe"};
    EXPECT_TRUE(contains(log, "Arguments: " + std::to_string(expected.size()) + "\n")) << log;
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(contains(log, "argv[" + std::to_string(i) + "]: [" + expected[i] + "]\n"))
            << expected[i] << "\n"
            << log;
    EXPECT_TRUE(contains(log, "Install folder: " + m_install.string() + "\n")) << log;
    EXPECT_TRUE(contains(log, "Setup exit code: 0\n")) << log;

    const fs::path app = m_install / "KestrovaEditor.exe";
    for (int i = 0; i < 2; ++i) {
        const auto started = kvtest::runProgram(app.string(), {"--first", "two words"}, 10000);
        EXPECT_EQ(started.exitCode, 0) << started.output;
        EXPECT_TRUE(contains(started.output, "Kestrova Editor 2.4.1.0")) << started.output;
    }
    const std::string startedLog = kvtest::readFile(m_install / "started.log");
    size_t lines = 0;
    for (size_t at = 0; (at = startedLog.find("with 2 arguments: [--first] [two words]\n", at)) !=
                        std::string::npos;
         ++at)
        ++lines;
    EXPECT_EQ(lines, 2u) << startedLog;
}

TEST_F(DemoSetup, UninstallEntryIsWrittenAndEarlierValuesStay) {
    auto before = RegKey::create(Hive::LocalMachine, uninstallKey());
    ASSERT_TRUE(before);
    ASSERT_TRUE(before->setString("Inno Setup: Language", "ja"));
    ASSERT_TRUE(before->setString("DisplayName", "stale name"));
    ASSERT_EQ(run(installerLine(m_install)), 0);

    auto key = RegKey::open(Hive::LocalMachine, uninstallKey());
    ASSERT_TRUE(key);
    EXPECT_EQ(key->getString("Inno Setup: Language"), "ja");
    EXPECT_EQ(key->getString("DisplayName"), "Kestrova Editor");
    EXPECT_EQ(key->getString("DisplayVersion"), "2.4.1.0");
    EXPECT_EQ(key->getString("Publisher"), "Kestrova Software");
    EXPECT_EQ(key->getString("Inno Setup: App Path"), m_install.string());
    EXPECT_EQ(key->getString("InstallLocation"), m_install.string() + "/");
    EXPECT_EQ(key->getString("UninstallString"),
              "\"" + (m_install / "unins000.exe").string() + "\" /UNINSTALL");
}

TEST_F(DemoSetup, UninstallerRemovesItsOwnInstallOnly) {
    ASSERT_EQ(run(installerLine(m_install)), 0);
    kvtest::writeFile(m_install / "started.log", "written by the product\n");
    kvtest::writeFile(m_install / "notes.txt", "the user's\n");
    // A copy elsewhere finds the entry naming another folder and removes nothing.
    const fs::path stray = m_dir.path() / "unins000.exe";
    fs::copy_file(m_install / "unins000.exe", stray);
    EXPECT_EQ(kvtest::runProgram(stray.string(), {"/UNINSTALL"}, kSetupBoundMs).exitCode, 4);
    EXPECT_TRUE(fs::exists(m_install / "KestrovaEditor.exe"));
    EXPECT_TRUE(RegKey::open(Hive::LocalMachine, uninstallKey()));

    const auto removed =
        kvtest::runProgram((m_install / "unins000.exe").string(), {"/UNINSTALL"}, kSetupBoundMs);
    EXPECT_EQ(removed.exitCode, 0) << removed.output;
    EXPECT_FALSE(fs::exists(m_install / "KestrovaEditor.exe"));
    EXPECT_FALSE(fs::exists(m_install / "unins000.exe"));
    EXPECT_FALSE(RegKey::open(Hive::LocalMachine, uninstallKey()));
    // The product's own log goes with it; a file of someone else keeps the folder.
    EXPECT_FALSE(fs::exists(m_install / "started.log"));
    EXPECT_EQ(kvtest::readFile(m_install / "notes.txt"), "the user's\n");

    // Without a stranger's file a second install leaves nothing behind.
    fs::remove(m_install / "notes.txt");
    ASSERT_EQ(run(installerLine(m_install)), 0);
    ASSERT_EQ(kvtest::runProgram((m_install / "KestrovaEditor.exe").string(), {}).exitCode, 0);
    EXPECT_EQ(
        kvtest::runProgram((m_install / "unins000.exe").string(), {"/UNINSTALL"}, kSetupBoundMs)
            .exitCode,
        0);
    EXPECT_FALSE(fs::exists(m_install));
}

// A setup with a data payload installs the payload as the product's data file and a bare
// uninstaller; one whose payload was cut short installs nothing.
TEST_F(DemoSetup, PayloadBecomesTheDataFileAndACutPayloadInstallsNothing) {
    const fs::path packed = m_dir.path() / "packed.exe";
    const auto pack = kvtest::runProgram(std::string(KV_BIN_DIR) + "/demo-payload-pack",
                                         {kUnsigned.string(), "2", packed.string()});
    ASSERT_EQ(pack.exitCode, 0) << pack.output;
    const std::string program = kvtest::readFile(kUnsigned);
    const std::string whole = kvtest::readFile(packed);
    constexpr size_t kPayload = 2 * 1024 * 1024;
    ASSERT_EQ(whole.size(), program.size() + kPayload + 24);
    EXPECT_EQ(whole.substr(0, program.size()), program);
    const std::string payload = whole.substr(program.size(), kPayload);
    // Not a run of one byte or a short period: nothing downstream could squeeze it.
    EXPECT_NE(payload.substr(0, 4096), payload.substr(4096, 4096));
    EXPECT_EQ(kvtest::runProgram(std::string(KV_BIN_DIR) + "/demo-payload-pack",
                                 {kUnsigned.string(), "2", (m_dir.path() / "again.exe").string()})
                  .exitCode,
              0);
    EXPECT_TRUE(kvtest::readFile(m_dir.path() / "again.exe") == whole) << "not deterministic";

    ASSERT_EQ(run(installerLine(m_install), packed), 0) << kvtest::readFile(logPath());
    EXPECT_TRUE(kvtest::readFile(m_install / "KestrovaEditor.pak") == payload);
    EXPECT_EQ(fs::status(m_install / "KestrovaEditor.pak").permissions() & fs::perms::all,
              fs::perms(0644));
    EXPECT_TRUE(kvtest::readFile(m_install / "unins000.exe") == program);
    ASSERT_EQ(
        kvtest::runProgram((m_install / "unins000.exe").string(), {"/UNINSTALL"}, kSetupBoundMs)
            .exitCode,
        0);
    EXPECT_FALSE(fs::exists(m_install));

    // The trailer stays but a stretch of the payload is gone, as in a file cut and patched.
    const fs::path cut = m_dir.path() / "cut.exe";
    kvtest::writeFile(
        cut, whole.substr(0, program.size() + 1000) + whole.substr(program.size() + kPayload));
    fs::permissions(cut, fs::perms(0755));
    EXPECT_EQ(run(installerLine(m_install), cut), 1);
    EXPECT_NE(kvtest::readFile(logPath()).find("payload trailer"), std::string::npos);
    EXPECT_TRUE(installedFiles().empty());
}

TEST_F(DemoSetup, SwitchesAreReadLikeAnInnoSetupProgram) {
    const std::string root = m_dir.path().string();
    struct Case {
        std::string line;
        fs::path installedIn;
        std::vector<std::string> logLines;
    } cases[] = {
        // A sub-program install: pieces A, F, C, G.
        {" /VERYSILENT /SP- /NORESTART /DIR=\"" + root +
             "/Editor/Spell Checker\" /LANG=en /LOG=\"" + root +
             "/tmp/spell.exe.install.log\" /sptrack null",
         root + "/Editor/Spell Checker",
         {"Tracking id: null", "Language: en"}},
        {" /verysilent /Dir=\"" + root + "/mixed\" /lang=DE /log=\"" + root +
             "/tmp/mixed.log\" /SPTRACK id_7 /SUPPRESSMSGBOXES /Tasks=desktopicon stray",
         root + "/mixed",
         {"Tracking id: id_7", "Language: DE", "Ignored argument: [/Tasks=desktopicon]",
          "Ignored argument: [stray]"}},
        // Windows separators, a "." and a ".." component, and the last /DIR winning.
        {" /DIR=\"" + root + "/first\" /DIR=\"" + root + "\\win\\.\\x\\..\\style\\\\\" /LOG=\"" +
             root + "\\tmp\\win.log\"",
         root + "/win/style",
         {"Install folder: " + root + "/win/style"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(run(c.line), 0);
        EXPECT_TRUE(fs::exists(c.installedIn / "KestrovaEditor.exe"));
        std::string log;
        for (const auto& entry : fs::directory_iterator(m_temp))
            if (entry.path().extension() == ".log")
                log += kvtest::readFile(entry.path());
        for (const std::string& line : c.logLines)
            EXPECT_TRUE(contains(log, line + "\n")) << log;
        fs::remove_all(m_temp);
        fs::create_directories(m_temp);
    }
    EXPECT_FALSE(fs::exists(root + "/first"));
}

TEST_F(DemoSetup, UnusableFolderFailsWithAMessageAndInstallsNothing) {
    kvtest::writeFile(m_dir.path() / "a-file", "not a folder");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    } cases[] = {
        {{"/VERYSILENT", "/LANG=en"}, 1, "/DIR=\"FOLDER\" is required"},
        {{"/VERYSILENT", "/DIR"}, 1, "/DIR=\"FOLDER\" is required"},
        {{"/DIR="}, 1, "the install folder is empty"},
        {{"/DIR=relative\\folder\\"}, 1, "is not an absolute path"},
        {{"/DIR=\\..\\"}, 1, "is the root folder"},
        {{"/DIR=" + (m_dir.path() / "a-file" / "sub").string()},
         4,
         "cannot create the install folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const auto result = kvtest::runProgram(kUnsigned.string(), c.args, kSetupBoundMs);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        EXPECT_TRUE(contains(result.output, c.message)) << result.output;
    }
    EXPECT_EQ(installedFiles(), std::vector<fs::path>{});
    EXPECT_FALSE(RegKey::open(Hive::LocalMachine, uninstallKey()));
}

TEST_F(DemoSetup, RegistryFailureTakesBackWhatTheRunAdded) {
    // A folder that was there before keeps what it held; the folders the run made go.
    fs::create_directories(m_install.parent_path());
    kvtest::writeFile(m_install.parent_path() / "keep.txt", "mine");
    kvtest::writeFile(m_dir.path() / "registry-file", "in the way of the store's folder");
    kvtest::ScopedEnv brokenStore("KV_REGISTRY_DIR", (m_dir.path() / "registry-file").c_str());
    ASSERT_EQ(run(installerLine(m_install / "Sub")), 4);

    EXPECT_FALSE(fs::exists(m_install));
    EXPECT_EQ(kvtest::readFile(m_install.parent_path() / "keep.txt"), "mine");
    EXPECT_EQ(installedFiles(), std::vector<fs::path>{});
    const std::string log = kvtest::readFile(logPath());
    EXPECT_TRUE(contains(log, "cannot create the uninstall key")) << log;
    EXPECT_TRUE(contains(log, "Setup exit code: 4\n")) << log;
}

TEST_F(DemoSetup, TestBehavioursSlowFailAndHang) {
    {
        kvtest::ScopedEnv fail("KV_DEMO_SETUP", "fail:7");
        EXPECT_EQ(run(installerLine(m_install)), 7);
        EXPECT_TRUE(contains(kvtest::readFile(logPath()), "Setup exit code: 7\n"));
    }
    for (const char* unusable : {"fail:0", "slow:soon", "slow:-5", "explode"}) {
        SCOPED_TRACE(unusable);
        kvtest::ScopedEnv bad("KV_DEMO_SETUP", unusable);
        EXPECT_EQ(run(installerLine(m_install)), 1);
    }
    EXPECT_EQ(installedFiles(), std::vector<fs::path>{});
    {
        kvtest::ScopedEnv hang("KV_DEMO_SETUP", "hang");
        auto setup = start(installerLine(m_install));
        ASSERT_TRUE(setup);
        EXPECT_EQ(setup->wait(300), platform::WaitResult::Timeout);
        for (int i = 0; i < 100 && !contains(kvtest::readFile(logPath()), "hanging"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(contains(kvtest::readFile(logPath()), "hanging until killed"));
        ASSERT_TRUE(setup->terminate());
        ASSERT_EQ(setup->wait(kSetupBoundMs), platform::WaitResult::Signaled);
        EXPECT_EQ(setup->exitCode(), 128 + 9);
    }
    EXPECT_EQ(installedFiles(), std::vector<fs::path>{});
    {
        kvtest::ScopedEnv slow("KV_DEMO_SETUP", "slow:400");
        const auto begin = std::chrono::steady_clock::now();
        auto setup = start(installerLine(m_install));
        ASSERT_TRUE(setup);
        ASSERT_EQ(setup->wait(kSetupBoundMs), platform::WaitResult::Signaled);
        EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(400));
        EXPECT_EQ(setup->exitCode(), 0);
        EXPECT_TRUE(fs::exists(m_install / "KestrovaEditor.exe"));
    }
}

TEST_F(DemoSetup, OnlyTheSignedCopyIsTrustedAndOnlyThroughTheDemoRoot) {
    {
        kvtest::ScopedEnv bundle("KV_CA_BUNDLE", kDemoRoot.c_str());
        const auto trusted = platform::verifyFileSignature(kSigned);
        EXPECT_TRUE(trusted.ok()) << trusted.detail;
        EXPECT_EQ(trusted.signerCommonName, "Kestrova Software");
        EXPECT_EQ(platform::verifyFileSignature(kUnsigned).status, platform::kTrustNoSignature);
        EXPECT_EQ(platform::verifyFileSignature(kUntrusted).status, platform::kCertUntrustedRoot);

        // The signature covers exactly the program: cut off, it leaves the unsigned bytes.
        const fs::path stripped = m_dir.path() / "stripped.exe";
        ASSERT_TRUE(platform::stripAppendedSignature(kSigned, stripped).ok());
        EXPECT_EQ(kvtest::readFile(stripped), kvtest::readFile(kUnsigned));
    }
    // The system store does not know the demo root, so the publisher's issuer is not found.
    kvtest::ScopedEnv noBundle("KV_CA_BUNDLE", nullptr);
    EXPECT_EQ(platform::verifyFileSignature(kSigned).status, platform::kCertChaining);
}

// The setup runs as root and is told where to write its log. Another user (uid 65534) who
// planted a link, or a second name of some file, under that name must not get it emptied.
TEST_F(DemoSetup, TheLogIsNeverWrittenThroughAPlantedName) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to plant files as another user";
    const fs::path victim = m_dir.path() / "victim";
    kvtest::writeFile(victim, "keep");
    fs::permissions(m_temp, fs::perms::all, fs::perm_options::replace);
    for (const bool hardLink : {false, true}) {
        SCOPED_TRACE(hardLink ? "a hard link" : "a symbolic link");
        fs::remove(logPath());
        if (hardLink)
            fs::create_hard_link(victim, logPath());
        else
            fs::create_symlink(victim, logPath());
        ASSERT_EQ(::lchown(logPath().c_str(), 65534, 65534), 0);
        run(installerLine(m_install));
        EXPECT_EQ(kvtest::readFile(victim), "keep");
    }
}

}  // namespace
