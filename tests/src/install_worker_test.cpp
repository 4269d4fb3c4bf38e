#include "Common/install_worker.h"

#include <gtest/gtest.h>

#include "Common/install_window.h"
#include "Common/side_queries.h"

using namespace install_detail;

namespace {

TEST(InstallWorker, TimingBuckets) {
    struct Case {
        int64_t seconds;
        const char* bucket;
    } cases[] = {{0, "0s"},        {1, "[1~10s]"},   {7, "[1~10s]"},   {10, "[1~10s]"},
                 {11, "[11~20s]"}, {20, "[11~20s]"}, {21, "[21~30s]"}, {100, "[91~100s]"}};
    for (const auto& c : cases)
        EXPECT_EQ(TimingBucket(c.seconds), c.bucket) << c.seconds;
}

TEST(InstallWorker, LanguageCodes) {
    EXPECT_EQ(SetupLanguageCode(1, 120), "jp");
    EXPECT_EQ(SetupLanguageCode(1, 121), "ja");
    EXPECT_EQ(SetupLanguageCode(1, 253), "ja");
    EXPECT_EQ(RecordLanguageCode(1), "ja");
    EXPECT_EQ(SetupLanguageCode(2, 253), "zhcn");
    EXPECT_EQ(SetupLanguageCode(19, 253), "cz");
    EXPECT_EQ(SetupLanguageCode(20, 253), "en");
    EXPECT_EQ(RecordLanguageCode(-1), "en");
}

TEST(InstallWorker, FileNamesFromTheExtraUrl) {
    EXPECT_EQ(WorkFolderBaseName("https://files.kestrova.example/editor/KestrovaEditor_2.4.1.0.exe",
                                 "Kestrova Editor"),
              "KestrovaEditor_2");
    EXPECT_EQ(WorkFolderBaseName("no-slash", "Kestrova Editor"), "Kestrova Editor");
    // The base name is a folder under the temporary folder: never empty, never a way out.
    EXPECT_EQ(WorkFolderBaseName("https://h/.hidden.exe", "P"), "P")
        << "empty before the first dot";
    EXPECT_EQ(WorkFolderBaseName("https://h/a\\b.exe", "P"), "P") << "a Windows separator";
    EXPECT_EQ(WorkFolderBaseName("https://h/../x.exe", "P"), "x")
        << "the dots before the last slash do not count";
    EXPECT_EQ(SetupFileName("https://h/dir/Setup.exe", "2.4.1.0"), "Setup_2.4.1.0.exe");
    EXPECT_EQ(SetupFileName("https://h/dir/App.apk", "1.0"), "App_1.0.apk");
}

TEST(InstallWorker, SetupCommandLinePieces) {
    EXPECT_EQ(SetupCommandLine("/opt/Kestrova Editor", "en", "/tmp/", "K_Setup_1.log",
                               "kvdownloader_77.exe"),
              " /VERYSILENT /SP- /NORESTART /DIR=\"/opt/Kestrova Editor\\\" /LANG=en "
              "/LOG=\"/tmp/K_Setup_1.log\""
              " /sptrack kvdownloader_77.exe");
    EXPECT_EQ(SetupCommandLine("/opt/P", "ja", "", "", ""),
              " /VERYSILENT /SP- /NORESTART /DIR=\"/opt/P\\\" /LANG=ja /sptrack null");
}

TEST(InstallWorker, ExceptionReportBodies) {
    EXPECT_EQ(ExceptionReportBody(false, false, 253, 1),
              "pid=253&type=2&exception_code=MD5_Hash_Check_Fail_Cfg1");
    EXPECT_EQ(ExceptionReportBody(false, true, 253, 2),
              "pid=253&type=2&exception_code=MD5_Check_Fail_Cfg2");
    EXPECT_EQ(ExceptionReportBody(true, false, 7, 1),
              "pid=7&type=2&exception_code=Hash_Check_Fail_Cfg1");
    EXPECT_EQ(ExceptionReportBody(true, true, 7, 1), "");
    EXPECT_EQ(InstallMinutesText(90000), "1.5");
    EXPECT_EQ(InstallMinutesText(0), "0.0");
}

TEST(SideQueries, TrackingIdAndCrossEndStatus) {
    EXPECT_EQ(TrackingIdOfFileName("KestrovaEditor_123456.exe"), "123456");
    EXPECT_EQ(TrackingIdOfFileName("a_b.c_d"), "d") << "the last dot before the last underscore";
    EXPECT_FALSE(TrackingIdOfFileName("kvdownloader.exe"));
    EXPECT_FALSE(TrackingIdOfFileName("kvdownloader"));
    // Programs here have no extension: the id runs to the end of the name.
    EXPECT_EQ(TrackingIdOfFileName("kvdownloader_1001"), "1001");
    EXPECT_EQ(TrackingIdOfFileName("kvdownloader_1001.bin"), "1001");
    EXPECT_TRUE(CrossEndStatusOk(R"({"status":200,"msg":"ok"})"));
    EXPECT_FALSE(CrossEndStatusOk(R"({"status":404,"msg":"no"})"));
    EXPECT_FALSE(CrossEndStatusOk(R"({"status":200})")) << "no comma after the status";
    EXPECT_FALSE(CrossEndStatusOk("garbage"));
    EXPECT_EQ(checkRemotePath({"https://cdn.a/x.exe", "https://dl.b/y.exe"}, 1), "");
    EXPECT_EQ(checkRemotePath({"https://cdn.a/x.exe", "https://files.b/y.exe"}, 1),
              "https://files.b/y.exe");
}

TEST(InstallWindow, ProgressFormatAndScale) {
    EXPECT_EQ(FormatProgress("%0.f%%", 42.6), "43%");
    EXPECT_EQ(FormatProgress("{f 1}%.1f%%{/f}", 5.25), "{f 1}5.2%{/f}");
    EXPECT_EQ(FormatProgress("%s and %n", 1.0), "%s and %n")
        << "formats that are not one double are shown as they are";
    EXPECT_EQ(FormatProgress("no conversion", 1.0), "no conversion");
}

}  // namespace
