// The window-side pieces of an install (folders, the install click's checks) and the console
// presenter of the unattended mode.

#include "Common/install_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "CConfigure.h"
#include "Common/console_presenter.h"
#include "Common/message_kinds.h"
#include "Common/side_queries.h"
#include "Common/unattended.h"
#include "platform/Registry.h"
#include "test_support.h"
#include "ui/ZipArchive.h"
#include "zip_builder.h"

namespace fs = std::filesystem;

namespace {

TEST(InstallSession, FolderAndFileNames) {
    EXPECT_EQ(ComposeInstallPath("/opt/Quenlake", "Kestrova Editor"),
              "/opt/Quenlake/Kestrova Editor");
    EXPECT_EQ(ComposeInstallPath("/opt/Quenlake/", "Kestrova Editor"),
              "/opt/Quenlake/Kestrova Editor");
    EXPECT_EQ(ComposeInstallPath("/srv/Kestrova Editor 2", "Kestrova Editor"),
              "/srv/Kestrova Editor 2")
        << "a folder that already names the product is kept";

    EXPECT_EQ(LogFileName("https://files.kestrova.example/editor/KestrovaEditor_2.4.1.0.exe",
                          "20261209031200123"),
              "KestrovaEditor_2.4.1.0_20261209031200123.log");
    EXPECT_EQ(LogFileName("https://h/App.apk", "1"), "App_1.log");

    // 2026-03-04 05:06:07.089 local time.
    std::tm local{};
    local.tm_year = 126;
    local.tm_mon = 2;
    local.tm_mday = 4;
    local.tm_hour = 5;
    local.tm_min = 6;
    local.tm_sec = 7;
    local.tm_isdst = -1;
    const auto when =
        std::chrono::system_clock::from_time_t(std::mktime(&local)) + std::chrono::milliseconds(89);
    EXPECT_EQ(SessionStamp(when), "20260304050607089");
}

TEST(InstallSession, DownloadFolderIsPrivate) {
    kvtest::TempDir dir;
    kvtest::ScopedEnv tmp("TMPDIR", dir.path().c_str());
    const DownloadDirectory d =
        MakeDownloadDirectory("Kestrova Editor", "https://h/e/Setup_1.2.exe");
    EXPECT_EQ(d.folder, (dir.path() / "Setup_1").string());
    EXPECT_EQ(d.productFolder, "Kestrova Editor");
    EXPECT_EQ(fs::status(d.folder).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(InstallSession, PendingRenamesAndServices) {
    kvtest::TempDir dir;
    kvtest::ScopedEnv registry("KV_REGISTRY_DIR", dir.path().c_str());
    EXPECT_FALSE(IsPathPendingRename("/opt/Quenlake")) << "no key, no value";
    auto key = platform::RegKey::create(platform::Hive::LocalMachine,
                                        "SYSTEM\\CurrentControlSet\\Control\\Session Manager");
    ASSERT_TRUE(key);
    ASSERT_TRUE(
        key->setMultiString("PendingFileRenameOperations", {"/opt/Quenlake/old.so", "", "/tmp/x"}));
    EXPECT_TRUE(IsPathPendingRename("/opt/Quenlake"));
    EXPECT_FALSE(IsPathPendingRename("/opt/Quen")) << "only what lies inside the folder counts";
    EXPECT_FALSE(IsPathPendingRename("/opt/quenlake")) << "names are compared exactly";

    EXPECT_EQ(ProductServiceName(6), "KestrovaWinAdService");
    EXPECT_EQ(ProductServiceName(105), "KestrovaDataRecoveryService");
    EXPECT_EQ(ProductServiceName(1201), "");
}

TEST(MessageKinds, TextsOfEachKind) {
    const auto timeout = MessageKindTextsFor(6);
    EXPECT_EQ(timeout.describeKey, "InstallRunTimeOutDesText");
    EXPECT_EQ(timeout.yesKey, "ConfirmText");
    EXPECT_TRUE(timeout.noHidden);
    EXPECT_EQ(MessageKindTextsFor(8).describeKey, "UrlFailDexText")
        << "the key as the language files spell it";
    EXPECT_EQ(MessageKindTextsFor(4).questionKey, "");
    EXPECT_FALSE(MessageKindTextsFor(2).noHidden);
    for (int unknown : {-1, 1, 13, 1000})
        EXPECT_EQ(MessageKindTextsFor(unknown).describeKey, "") << unknown;
    EXPECT_TRUE(MessageKindDeletesSetup(6));
    EXPECT_TRUE(MessageKindDeletesSetup(7));
    EXPECT_FALSE(MessageKindDeletesSetup(8));
}

TEST(ConsolePresenter, PlainTextAndBar) {
    EXPECT_EQ(PlainText("{f 2}%0.f%%{/f}"), "%0.f%%");
    EXPECT_EQ(PlainText("{c #000000}Still failing? {a}Download{/a}{/c}"),
              "Still failing? Download");
    EXPECT_EQ(PlainText("first{n}{/n}second"), "first\nsecond");
    EXPECT_EQ(PlainText("#@!SoftwareName#@! {x} {}"), "#@!SoftwareName#@! {x} {}")
        << "markers and non-tags stay";
    EXPECT_EQ(PlainText("{f 1 unclosed"), "{f 1 unclosed");
    EXPECT_EQ(ProgressBar(50, 10), "[#####-----]  50%");
    EXPECT_EQ(ProgressBar(130, 4), "[####] 100%");
    EXPECT_EQ(ProgressBar(-5, 4), "[----]   0%");
}

TEST(ConsolePresenter, MessagesAndTheWorkersMessages) {
    const std::string language =
        kvtest::readFile(std::string(KV_SOURCE_DIR) + "/skin/language/language_english.xml");
    std::shared_ptr<const ui::ZipArchive> skin = ui::ZipArchive::OpenFromMemory(
        kvtest::makeZip({{"language/language_english.xml", language}}));
    ASSERT_TRUE(skin);
    std::ostringstream out;
    ConsolePresenter w(out, skin, {{"Downloader_id", "253"}}, false);

    EXPECT_EQ(w.LabelText("Downloader_id"), "253");
    EXPECT_FALSE(w.LabelText("missing").has_value());
    EXPECT_TRUE(w.HasControl("install_progress"));
    EXPECT_FALSE(w.HasControl("finish_label")) << "not a control of the main window's markup";

    w.languageIndex = 4;  // no German file in this package: the console falls back to English
    EXPECT_EQ(w.ShowMessageBox(9), 1);
    EXPECT_NE(out.str().find("Message 9 (no network): There is no network connection."),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("  -> OK"), std::string::npos);

    // Kinds 6 and 7 delete the downloaded setup file and its task file when answered.
    kvtest::TempDir dir;
    const fs::path setup = dir.path() / "Setup_1.exe";
    kvtest::writeFile(setup, "x");
    kvtest::writeFile(setup.string() + ".xml", "x");
    w.SetDownloadedSetupPath(setup.string());
    w.ShowMessageBox(8);
    EXPECT_TRUE(fs::exists(setup));
    w.ShowMessageBox(7);
    EXPECT_FALSE(fs::exists(setup));
    EXPECT_FALSE(fs::exists(setup.string() + ".xml"));
    EXPECT_EQ(w.MessageKinds(), (std::vector<int>{9, 8, 7}));

    // A bar line every five points when the output is not a terminal, and one where a phase
    // starts between two of them (verifying at 81, installing at 91).
    out.str("");
    for (int v = 0; v <= 100; ++v)
        w.SetProgressValue("install_progress", v);
    size_t lines = 0;
    for (char c : out.str())
        lines += c == '\n';
    EXPECT_EQ(lines, 23u) << out.str();
    EXPECT_NE(out.str().find("81%  verifying\n"), std::string::npos) << out.str();

    EXPECT_FALSE(w.Ended());
    w.PostWindowMessage(0x402);
    EXPECT_TRUE(w.Ended());

    w.SetChosenFolder("/srv/apps", "Kestrova Editor");
    EXPECT_EQ(w.GetInstallPath(), "/srv/apps/Kestrova Editor");
    w.SetPreparedInstallPath("/srv/apps/Kestrova Editor 1");
    EXPECT_EQ(w.GetInstallPath(), "/srv/apps/Kestrova Editor 1")
        << "the folder the click fixed wins";
}

TEST(Unattended, Options) {
    std::string error;
    auto o = ParseUnattendedOptions({"--unattended", "--dir", "/srv/x", "--lang", "19", "--start"},
                                    error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->folder, "/srv/x");
    EXPECT_EQ(o->languageIndex, 19);
    EXPECT_TRUE(o->startProduct);
    o = ParseUnattendedOptions({"--unattended"}, error);
    ASSERT_TRUE(o);
    EXPECT_FALSE(o->folder || o->languageIndex || o->startProduct || o->verbose);
    for (const char* verbose : {"--verbose", "debug"}) {
        o = ParseUnattendedOptions({"--unattended", verbose}, error);
        ASSERT_TRUE(o) << error;
        EXPECT_TRUE(o->verbose) << verbose;
    }
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--unattended", "--lang", "20"},
          {"--unattended", "--lang", "-1"},
          {"--unattended", "--lang", "1x"},
          {"--unattended", "--dir"},
          {"--unattended", "--dir", ""},
          {"--unattended", "--verbos"}}) {
        EXPECT_FALSE(ParseUnattendedOptions(bad, error)) << bad.back();
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(IsUnattendedCommand({"--unattended", "--dir", "x"}));
    EXPECT_FALSE(IsUnattendedCommand({"debug"}));
}

TEST(Unattended, APackageWithoutConfigurationIsRefused) {
    std::ostringstream out;
    EXPECT_EQ(RunUnattended({}, platform::ResourceTable(), out), 2);
    EXPECT_NE(out.str().find("no skin package"), std::string::npos);
    platform::ResourceTable table;
    table.put("ZIPRES", 138, kvtest::makeZip({{"readme.txt", "x"}}));
    out.str("");
    EXPECT_EQ(RunUnattended({}, table, out), 2);
    EXPECT_NE(out.str().find("configure"), std::string::npos) << out.str();
    table.put("ZIPRES", 138, {1, 2, 3});
    out.str("");
    EXPECT_EQ(RunUnattended({}, table, out), 2);
    EXPECT_NE(out.str().find("does not open"), std::string::npos) << out.str();
}

// The cross-end check reads Site_id while the background configuration query may still be
// writing it. (A plain read shows as a race under the thread sanitizer.)
TEST(SideQueries, TheCrossEndCheckReadsTheSiteIdWhileTheQueryWritesIt) {
    kvtest::EnvGuard env({"KV_CONNECT_TO"});
    // Every request is refused at once, on loopback.
    setenv("KV_CONNECT_TO", ":443:127.0.0.1:1;:80:127.0.0.1:1", 1);
    std::shared_ptr<const ui::ZipArchive> skin =
        ui::ZipArchive::OpenFromMemory(kvtest::makeZip({{"x", "x"}}));
    ASSERT_TRUE(skin);
    std::ostringstream out;
    ConsolePresenter w(out, skin, {{"Downloader_id", "253"}}, false);
    CConfigure cfg(253, 1033, 55);
    w.configure = &cfg;
    cfg.keepDownloaderElement("<Downloader><Site_id>118</Site_id></Downloader>");
    std::atomic<bool> done{false};
    std::thread query([&] {
        for (int i = 0; i < 1000000 && !done; ++i)
            cfg.parseDownloadInfoXml();
    });
    VerifyCrossEndIdThreadFunc(w, "/opt/kvdownloader_1001");
    done = true;
    query.join();
    EXPECT_TRUE(w.spTracking) << "a failed transfer leaves the flag as it was";
    EXPECT_EQ(cfg.siteId(), 118);
}

}  // namespace
