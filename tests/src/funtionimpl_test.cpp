#include "FuntionImpl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

#include "Common/host_probes.h"
#include "platform/CommandLine.h"
#include "report/EventReporter.h"
#include "test_support.h"
#include "ui/HeadlessHost.h"
#include "ui/ZipArchive.h"
#include "zip_builder.h"

namespace {

using kvtest::ScopedEnv;

namespace fs = std::filesystem;
using namespace FuntionImpl;
using platform::Hive;

// Every test that touches the registry gets a store of its own.
class RegistryStore : public testing::Test {
protected:
    kvtest::TempDir m_dir;
    ScopedEnv m_env{"KV_REGISTRY_DIR", m_dir.path().c_str()};
};

TEST(WindowsVersionName, EveryRow) {
    struct Case {
        uint32_t major, minor, platformId;
        uint8_t productType;
        uint16_t arch;
        int serverR2;
        const char* name;
    } cases[] = {
        {4, 0, 2, 1, 0, 0, "Windows NT 4.0"},
        {4, 0, 1, 0, 0, 0, "Windows 95"},
        {4, 0, 0, 0, 0, 0, ""},
        {4, 10, 1, 0, 0, 0, "Windows 98"},
        {4, 90, 1, 0, 0, 0, "Microsoft Windows Me"},
        {4, 1, 1, 0, 0, 0, ""},
        {5, 0, 2, 1, 0, 0, "Windows 2000"},
        {5, 1, 2, 1, 9, 0, "Windows XP"},
        {5, 2, 2, 1, 9, 0, "Windows XP Professional x64 Edition"},
        {5, 2, 2, 1, 0, 0, "Windows Server 2003"},  // a 32-bit workstation 5.2 is no XP x64
        {5, 2, 2, 3, 9, 0, "Windows Server 2003"},
        {5, 2, 2, 3, 9, 1, "Windows Server 2003 R2"},
        {5, 2, 2, 1, 0, 7, "Windows Server 2003 R2"},
        {5, 3, 2, 1, 0, 0, ""},
        {6, 0, 2, 1, 0, 0, "Windows Vista"},
        {6, 0, 2, 3, 0, 0, "Windows Server 2008"},
        {6, 1, 2, 1, 0, 0, "Windows 7"},
        {6, 1, 2, 2, 0, 0, "Windows Server 2008 R2"},
        {6, 2, 2, 1, 0, 0, "Windows 8"},
        {6, 2, 2, 3, 0, 0, "Windows Server 2012"},
        {6, 3, 2, 1, 0, 0, ""},  // 8.1 is known only from the NT numbers
        {3, 51, 2, 1, 0, 0, "Error"},
        {7, 0, 2, 1, 0, 0, "Error"},
        {10, 0, 2, 1, 0, 0, "Error"},
    };
    for (const auto& c : cases) {
        WindowsVersionData d;
        d.major = c.major;
        d.minor = c.minor;
        d.platformId = c.platformId;
        d.productType = c.productType;
        d.processorArchitecture = c.arch;
        d.serverR2 = c.serverR2;
        EXPECT_EQ(WindowsVersionName(d), c.name)
            << c.major << "." << c.minor << " type " << int(c.productType);
    }
}

TEST(WindowsVersionName, NtNumbersAndWindows11ComeFirst) {
    WindowsVersionData d;
    d.major = 6;
    d.minor = 2;
    d.productType = 3;  // a server: Windows Server 2016 and later read "Windows 10" too
    d.ntMajor = 10;
    EXPECT_EQ(WindowsVersionName(d), "Windows 10");
    d.windows11 = true;
    EXPECT_EQ(WindowsVersionName(d), "Windows 11");
    d = {};
    d.ntMajor = 6;
    d.ntMinor = 3;
    d.versionExAvailable = false;
    EXPECT_EQ(WindowsVersionName(d), "Windows 8.1");
    d.ntMinor = 2;
    EXPECT_EQ(WindowsVersionName(d), "") << "GetVersionExW failed";
}

TEST(IsWindows11Build, Threshold) {
    struct Case {
        const char* text;
        bool eleven;
    } cases[] = {{"22000", true},   {"21999", false},  {"22631", true},
                 {"", false},       {"abc", false},    {" 22000", true},
                 {"22000.1", true}, {"-22000", false}, {"99999999999", true}};
    for (const auto& c : cases)
        EXPECT_EQ(IsWindows11Build(c.text), c.eleven) << c.text;
}

TEST(UILanguageName, Rules) {
    struct Case {
        uint16_t id;
        const char* name;
    } cases[] = {
        {0, "Neutral_Neutral"},
        {1024, "Default_Default"},
        {1033, "English_United States"},
        {2052, "Chinese_PRC"},
        {1028, "Chinese_Taiwan"},
        {1041, "Japanese_Japan"},
        {0x0414, "Norwegian_Norway (Bokm?l)"},
        {0x0c0a, "Spanish_Spain (International sort)"},
        {0x0c1a, "0x0c1a_0x0c1a"},
        {1, "0x0001_0x0001"},
        {0xffff, "0xffff_0xffff"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UILanguageName(c.id), c.name) << c.id;
}

TEST(GetUILanguageName, FollowsTheLocale) {
    ScopedEnv language("LANGUAGE", nullptr), messages("LC_MESSAGES", nullptr),
        lang("LANG", nullptr);
    {
        ScopedEnv all("LC_ALL", "es_ES.UTF-8");
        EXPECT_EQ(GetUILanguageName(), "Spanish_Spain (International sort)");
    }
    ScopedEnv all("LC_ALL", "C");
    EXPECT_EQ(GetUILanguageName(), "English_United States");
}

TEST_F(RegistryStore, IsWindows11KeyAndValueFallbacks) {
    const std::string wow = "SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion";
    const std::string plain = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    struct Value {
        std::string key, name, data;
    };
    struct Case {
        const char* name;
        std::vector<Value> values;
        bool eleven;
    } cases[] = {
        {"nothing", {}, false},
        {"wow CurrentBuild", {{wow, "CurrentBuild", "22000"}}, true},
        {"wow below", {{wow, "CurrentBuild", "21999"}}, false},
        {"wow CurrentBuildNumber", {{wow, "CurrentBuildNumber", "22631"}}, true},
        {"CurrentBuild wins",
         {{wow, "CurrentBuild", "19045"}, {wow, "CurrentBuildNumber", "22631"}},
         false},
        {"plain key", {{plain, "CurrentBuild", "22000"}}, true},
        {"plain CurrentBuildNumber", {{plain, "CurrentBuildNumber", "26100"}}, true},
        {"wow key without values decides",
         {{wow, "Other", "x"}, {plain, "CurrentBuild", "22000"}},
         false},
        {"empty build", {{wow, "CurrentBuild", ""}}, false},
    };
    for (const auto& c : cases) {
        platform::deleteKeyTree(Hive::LocalMachine, "SOFTWARE");
        for (const auto& v : c.values)
            ASSERT_TRUE(WriteRegString(Hive::LocalMachine, v.key, v.name, v.data));
        EXPECT_EQ(IsWindows11(), c.eleven) << c.name;
    }
}

TEST_F(RegistryStore, StringsOfAnyLengthReadWhole) {
    for (size_t length : {0u, 129u, 130u, 260u, 261u, 100000u}) {
        const std::string value(length, 'v');
        ASSERT_TRUE(WriteRegString(Hive::CurrentUser, "Software\\Kv", "Long", value));
        EXPECT_EQ(ReadRegString(Hive::CurrentUser, "Software\\Kv", "Long"), value) << length;
    }
    EXPECT_TRUE(WriteRegString(Hive::CurrentUser, "Software\\Kv", "Text", "Grüße 日本"));
    EXPECT_EQ(ReadRegString(Hive::CurrentUser, "software\\kv", "text"), "Grüße 日本");
    EXPECT_EQ(ReadRegString(Hive::CurrentUser, "Software\\Kv", "Missing"), "");
    EXPECT_EQ(ReadRegString(Hive::CurrentUser, "Software\\Missing", "Text"), "");
    EXPECT_EQ(ReadRegString(Hive::LocalMachine, "Software\\Kv", "Text"), "") << "hives are apart";
}

TEST(SplitVersion4, Parts) {
    using V = std::array<int, 4>;
    EXPECT_EQ(SplitVersion4("4.7.2"), (V{4, 7, 2, 0}));
    EXPECT_EQ(SplitVersion4(""), (V{0, 0, 0, 0}));
    EXPECT_EQ(SplitVersion4("4..2"), (V{4, 0, 2, 0}));
    EXPECT_EQ(SplitVersion4("4.8.04084"), (V{4, 8, 4084, 0}));
    EXPECT_EQ(SplitVersion4("1.2.3.4.5.6.7.8.9"), (V{1, 2, 3, 4}))
        << "parts after the fourth are dropped";
    EXPECT_EQ(SplitVersion4("4.x.2b"), (V{4, 0, 2, 0}));
}

TEST(DotNetCheckNeeded, Comparison) {
    struct Case {
        const char *local, *needed;
        bool show;
    } cases[] = {
        {"4.8", "4.7.2", false},
        {"4.5", "4.7.2", true},
        {"", "4.7.2", true},
        {"4.7.2", "4.7.2", false},
        {"4.8", "", false},
        {"", "", false},
        {"4.8", "4.8.1", true},
        {"4.10", "4.9", false},
        {"4.8.04084", "4.8", false},
        {"1.2.3.4.0", "1.2.3.4.9", false},
        {"1.2.3.3.9.9.9", "1.2.3.4", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DotNetCheckNeeded(c.local, c.needed), c.show) << c.local << " / " << c.needed;
}

TEST(ParseNetFrameCheck, Cases) {
    struct Case {
        const char* name;
        std::string text;
        std::string version;
    } cases[] = {
        {"plain", "[Settings]\nNetFrameworkVersion=4.7.2\n[Text]\nTitle=x\n", "4.7.2"},
        {"crlf", "[Settings]\r\nNetFrameworkVersion=4.7.2\r\n", "4.7.2"},
        {"bom, no final line end", "\xEF\xBB\xBF[Settings]\nNetFrameworkVersion=4.8", "4.8"},
        {"other keys first",
         "[Settings]\nTitle=a=b\nNetFrameworkVersion=4.6\nNetFrameworkVersion=4.8\n", "4.6"},
        {"value keeps its own =", "[Settings]\nNetFrameworkVersion=a=b\n", "a=b"},
        {"short lines skipped", "\n\nx\n[Settings]\n\na\n=\nNetFrameworkVersion=4.5\n", "4.5"},
        {"section marker inside a line", "; [Settings] begin\nNetFrameworkVersion=4.5\n", "4.5"},
        {"before the section", "NetFrameworkVersion=4.8\n[Settings]\n", ""},
        {"only after [Text]", "[Settings]\nTitle=x\n[Text]\nNetFrameworkVersion=4.8\n", ""},
        {"[Text] first", "[Text]\n[Settings]\nNetFrameworkVersion=4.8\n", ""},
        {"key is exact", "[Settings]\nNetFrameworkVersion =4.8\nnetframeworkversion=4.8\n", ""},
        {"= as first character", "[Settings]\n=NetFrameworkVersion=4.8\n", ""},
        {"empty value", "[Settings]\nNetFrameworkVersion=\n", ""},
        {"empty", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseNetFrameCheck(c.text), c.version) << c.name;
}

TEST_F(RegistryStore, WillShowNetFrameCheck) {
    const std::string dotNetKey = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client";
    kvtest::TempDir product;
    EXPECT_FALSE(WillShowNetFrameCheck(product.path())) << "no check file";
    EXPECT_EQ(ReadNetFrameCheck(product.path() / "missing"), "");

    kvtest::writeFile(product.path() / "NetFrameCheck.db",
                      "[Settings]\r\nNetFrameworkVersion=4.7.2\r\n[Text]\r\n");
    EXPECT_EQ(ReadNetFrameCheck(product.path()), "4.7.2");
    EXPECT_EQ(GetDotNetVersion(), "");
    EXPECT_TRUE(WillShowNetFrameCheck(product.path())) << "no .NET installed";
    ASSERT_TRUE(WriteRegString(Hive::LocalMachine, dotNetKey, "Version", "4.8.04084"));
    EXPECT_EQ(GetDotNetVersion(), "4.8.04084");
    EXPECT_FALSE(WillShowNetFrameCheck(product.path()));
    ASSERT_TRUE(WriteRegString(Hive::LocalMachine, dotNetKey, "Version", "4.5.51209"));
    EXPECT_TRUE(WillShowNetFrameCheck(product.path()));

    kvtest::writeFile(product.path() / "NetFrameCheck.db",
                      "[Settings]\n[Text]\nNetFrameworkVersion=4.7.2\n");
    EXPECT_FALSE(WillShowNetFrameCheck(product.path()));
}

TEST(IsSetupExe, Suffix) {
    struct Case {
        const char* name;
        bool setup;
    } cases[] = {{"a.exe", true},   {"setup.exe", true}, {".exe", true}, {"A.EXE", false},
                 {"a.Exe", false},  {".ex", false},      {"exe", false}, {"", false},
                 {"a.exe ", false}, {"a.exe.zip", false}};
    for (const auto& c : cases)
        EXPECT_EQ(IsSetupExe(c.name), c.setup) << '"' << c.name << '"';
}

TEST(ReplaceAll, CountsAndResumesAfterTheReplacement) {
    struct Case {
        std::string text, pattern, replacement, result;
        size_t count;
    } cases[] = {
        {"aaa", "a", "aa", "aaaaaa", 3}, {"aaaa", "aa", "a", "aa", 2},
        {"abcabc", "abc", "", "", 2},    {"x{id}y{id}", "{id}", "253", "x253y253", 2},
        {"abc", "abc", "abc", "abc", 1}, {"xyz", "a", "b", "xyz", 0},
        {"", "a", "b", "", 0},           {"abc", "", "x", "abc", 0},
    };
    for (auto c : cases) {
        const std::string before = c.text;
        EXPECT_EQ(ReplaceAll(c.text, c.pattern, c.replacement), c.count) << before;
        EXPECT_EQ(c.text, c.result) << before;
    }
}

TEST(WideToUtf8, ValidKeptInvalidSanitised) {
    EXPECT_EQ(WideToUtf8("Grüße 日本 😀"), "Grüße 日本 😀");
    EXPECT_EQ(WideToUtf8("a\xff"
                         "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(WideToUtf8(""), "");
}

TEST(FindFileInSubdirs, OrderAndScope) {
    kvtest::TempDir dir;
    const fs::path root = dir.path();
    auto touch = [&](const fs::path& rel) {
        fs::create_directories((root / rel).parent_path());
        kvtest::writeFile(root / rel, "x");
    };
    touch("app");
    EXPECT_EQ(FindFileInSubdirs(root, "app"), fs::path())
        << "files in the start folder do not count";
    touch("b/app");
    touch("a/sub/app");
    EXPECT_EQ(FindFileInSubdirs(root, "app"), root / "a/sub/app") << "a and its subtree before b";
    touch("a/app");
    EXPECT_EQ(FindFileInSubdirs(root, "app"), root / "a/app")
        << "a folder's own entry before its subfolders";
    EXPECT_EQ(FindFileInSubdirs(root, "other"), fs::path());
    EXPECT_EQ(FindFileInSubdirs(root, ""), fs::path());
    EXPECT_EQ(FindFileInSubdirs(root, (root / "a/app").string()), fs::path())
        << "absolute names are refused";
    EXPECT_EQ(FindFileInSubdirs(root / "missing", "app"), fs::path());
}

TEST(FindFileInSubdirs, LinksFollowedLoopsEnd) {
    kvtest::TempDir dir;
    const fs::path root = dir.path();
    fs::create_directories(root / "a/b");
    fs::create_directory_symlink(root, root / "a/b/up");  // back to the start
    fs::create_directory_symlink(root / "a", root / "a/self");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindFileInSubdirs(root, "app"), fs::path());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    kvtest::TempDir elsewhere;
    kvtest::writeFile(elsewhere.path() / "app", "x");
    fs::create_directory_symlink(elsewhere.path(), root / "a/b/z_link");
    EXPECT_EQ(FindFileInSubdirs(root, "app"), root / "a/b/z_link/app");
}

TEST(FileVersionFromResources, Formats) {
    struct Case {
        const char* text;
        const char* version;
    } cases[] = {{"1.0.0.1", "1.0.0.1"},
                 {"65535.2.3.4", "65535.2.3.4"},
                 {"01.2.3.4", "1.2.3.4"},
                 {"1.0.0", ""},
                 {"1.0.0.1x", ""},
                 {"65536.0.0.0", ""},
                 {"", ""},
                 {"a.b.c.d", ""}};
    for (const auto& c : cases) {
        platform::ResourceTable table;
        const std::string text = c.text;
        table.put("VERSION", 1, std::vector<uint8_t>(text.begin(), text.end()));
        EXPECT_EQ(FileVersionFromResources(table), c.version) << c.text;
    }
    platform::ResourceTable otherId;
    otherId.put("VERSION", 2, {'1', '.', '2', '.', '3', '.', '4'});
    EXPECT_EQ(FileVersionFromResources(otherId), "");
}

TEST(GetFileVersionString, BuiltInstallerAndOtherFiles) {
    const fs::path installer = KV_BIN_DIR "/kvdownloader";
    ASSERT_TRUE(fs::exists(installer)) << "build the kvdownloader target first";
    EXPECT_EQ(GetFileVersionString(installer), "1.0.0.1");
    EXPECT_EQ(GetFileVersionString("/bin/sh"), "");
    EXPECT_EQ(GetFileVersionString("/nonexistent/file"), "");
}

std::vector<uint8_t> languagePackage() {
    // The wrapper names another language, as several shipped files do.
    const std::string english = R"(<?xml version="1.0" encoding="utf-8"?>
<VerticalLayout>
  <VerticalLayout name="language_chinese">
    <VerticalLayout name="install_page">
      <Label name="install_btn" text="Install now" />
      <Label name="install_btn" text="second copy" />
      <Label name="space_free" text="%.1fGB" />
      <Label name="retry_btn" />
    </VerticalLayout>
    <VerticalLayout name="message_page">
      <Label name="YesText" text="Yes &amp; go" />
      <HorizontalLayout><Label name="NoText" text="nested" /></HorizontalLayout>
    </VerticalLayout>
  </VerticalLayout>
</VerticalLayout>)";
    return kvtest::makeZip({
        {"language/language_english.xml", english},
        {"Language/Language_Nederland.xml",
         R"(<VerticalLayout><VerticalLayout name="message_page"><Label name="YesText" text="Ja" /></VerticalLayout></VerticalLayout>)"},
        {"language/language_japanese.xml", "<VerticalLayout><Label name="},
    });
}

TEST(GetLanguageText, FromAPackage) {
    auto package = ui::ZipArchive::OpenFromMemory(languagePackage());
    ASSERT_TRUE(package);
    struct Case {
        const char *section, *key;
        int index;
        const char* text;
    } cases[] = {
        {"install_page", "install_btn", 0, "Install now"},  // the first of two labels
        {"install_page", "space_free", 0, "%.1fGB"},
        {"message_page", "YesText", 0, "Yes & go"},
        {"install_page", "retry_btn", 0, ""},    // no text attribute
        {"message_page", "NoText", 0, ""},       // only direct children of the page
        {"message_page", "install_btn", 0, ""},  // a key of the other page
        {"missing_page", "YesText", 0, ""},
        {"install_page", "missing", 0, ""},
        {"message_page", "YesText", 12, "Ja"},  // language_nederland.xml, any case
        {"message_page", "YesText", 1, ""},     // malformed markup
        {"message_page", "YesText", 2, ""},     // no file for Chinese
        {"message_page", "YesText", 20, ""},
        {"message_page", "YesText", -1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetLanguageText(*package, c.section, c.key, c.index), c.text)
            << c.section << "/" << c.key << " #" << c.index;
    EXPECT_EQ(GetLanguageText("message_page", "YesText", 0), "")
        << "the test program carries no skin";
}

// Lets a child started in the background finish its work; bounded.
bool waitForFile(const fs::path& file) {
    for (int i = 0; i < 500 && !fs::exists(file); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fs::exists(file);
}

TEST(StartTargetMainExe, DirectModeRunsInTheProgramsFolder) {
    kvtest::TempDir dir;
    const fs::path folder = dir.path() / "My Product; v2";
    fs::create_directories(folder);
    const fs::path script = folder / "run me.sh";
    kvtest::writeFile(script, "#!/bin/sh\npwd > marker.tmp && mv marker.tmp marker\n");
    fs::permissions(script, fs::perms::owner_all);
    EventReporter::instance().clearEvents();
    EXPECT_EQ(StartTargetMainExe("\"" + script.string() + "\"", 1), 0);
    ASSERT_TRUE(waitForFile(folder / "marker"));
    EXPECT_EQ(kvtest::readFile(folder / "marker"), fs::canonical(folder).string() + "\n");
    EXPECT_TRUE(EventReporter::instance().events().empty());
}

TEST(StartTargetMainExe, FailuresReportTheirCode) {
    kvtest::TempDir dir;
    kvtest::writeFile(dir.path() / "plain.txt", "not a program");
    struct Case {
        const char* name;
        std::string path;
        int mode;
        const char* label;
    } cases[] = {
        {"shell, missing", "\"" + (dir.path() / "missing").string() + "\"", 0, "2"},
        {"shell, empty", "\"\"", 0, "2"},
        {"direct, missing", "\"" + (dir.path() / "missing").string() + "\"", 1, "2"},
        {"direct, missing folder", "\"" + (dir.path() / "no/app").string() + "\"", 2, "3"},
        {"direct, not executable", "\"" + (dir.path() / "plain.txt").string() + "\"", 1, "5"},
        {"direct, quote inside", "\"" + (dir.path() / "a\"b").string() + "\"", 1, "123"},
    };
    for (const auto& c : cases) {
        EventReporter::instance().clearEvents();
        EXPECT_EQ(StartTargetMainExe(c.path, c.mode), -1) << c.name;
        const std::vector<ReportedEvent> expected = {{"Other", "StartWindowError", c.label, false}};
        EXPECT_EQ(EventReporter::instance().events(), expected) << c.name;
    }
}

TEST(ShellOpenStartInfo, PathIsOneArgument) {
    for (const char* path :
         {"/opt/My App/app", "/opt/a;b/c d", "/opt/it's/x", "/opt/back\\slash", "/opt/x"}) {
        const auto xdg = ShellOpenStartInfo(path, true);
        EXPECT_EQ(xdg.application, "/usr/bin/xdg-open");
        EXPECT_EQ(platform::splitCommandLine(xdg.commandLine),
                  (std::vector<std::string>{"xdg-open", path}));
        const auto gio = ShellOpenStartInfo(path, false);
        EXPECT_EQ(gio.application, "/usr/bin/gio");
        EXPECT_EQ(platform::splitCommandLine(gio.commandLine),
                  (std::vector<std::string>{"gio", "open", path}));
    }
}

}  // namespace

TEST(GetScreenScale, ReportsWhatTheWindowHostMeasured) {
    // A host without a display has nothing to measure.
    ui::headless::HeadlessBackend* host = ui::headless::HeadlessBackend::Install();
    int width = -1, height = -1;
    EXPECT_EQ(FuntionImpl::GetScreenScale(width, height), 1.0);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    // A desktop's monitor as its host reports it: device pixels and the scale factor.
    host->SetScreenMetrics({{2560, 1440}, 2.0});
    EXPECT_EQ(FuntionImpl::GetScreenScale(width, height), 2.0);
    EXPECT_EQ(width, 2560);
    EXPECT_EQ(height, 1440);
    const auto report = FuntionImpl::ProbeReport({});
    const auto row = std::find_if(report.begin(), report.end(),
                                  [](const auto& r) { return r.first == "GetScreenScale"; });
    ASSERT_NE(row, report.end());
    EXPECT_EQ(row->second, "2.00 (2560 x 1440)");
}
