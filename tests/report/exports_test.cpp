// The reporting library as hosts see it: a shared object whose only names are its C
// functions, and an object reached through the slots of IWebLog.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <sstream>

#include "report/IWebLog.h"
#include "report_env.h"

using kvtest::ReportEnv;

namespace {

const std::string kLibrary = std::string(KV_BIN_DIR) + "/libkvweblog.so";

TEST(Exports, OnlyTheCFunctionsLeaveTheLibrary) {
    const auto listing = kvtest::runProgram("/usr/bin/nm", {"-D", "--defined-only", kLibrary});
    ASSERT_EQ(listing.exitCode, 0) << listing.output;
    std::set<std::string> functions;
    std::istringstream lines(listing.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        functions.insert(type + " " + name);
    }
    EXPECT_EQ(functions, (std::set<std::string>{"T CancelExportObj", "T CreateExportObj",
                                                "T DestroyExportObj", "T NSISLog"}));
}

TEST(Exports, EverySlotReachesItsOperation) {
    ReportEnv env;
    IWebLog* log = CreateExportObj();
    ASSERT_NE(log, nullptr);
    const char* guid = nullptr;
    const char* userId = nullptr;
    ASSERT_EQ(log->InitUserInfo(&guid, &userId), 0);
    EXPECT_STREQ(userId, "1001");
    EXPECT_EQ(log->AddUserLog(1, 1, "", 7, 1033, 55, "", 0, 0), 0);
    const char* answer = nullptr;
    EXPECT_EQ(log->QueryTools(&answer, 7, 1033), 0);
    EXPECT_STREQ(answer, "<Tools></Tools>");
    EXPECT_EQ(log->QueryDownloader(&answer, 7, 1033, 55), 0);
    EXPECT_STREQ(answer, "<Downloader></Downloader>");
    EXPECT_EQ(log->ReportLog(7, "", "c", "u"), 0);
    EXPECT_EQ(log->SendFeedback(7, "1", "", "s", "c", "l"), 0);
    EXPECT_EQ(log->SendUAEvent("UA-305918462-1", "Downloader", "1.0.0.1", "C", "A", "", "&cd1=1"),
              0);
    EXPECT_EQ(log->SoftDataReport("{}"), 0);
    EXPECT_EQ(log->SendGA4Event("&tid=G-Q7MZ2KD9XW"), 0);
    EXPECT_EQ(log->SendGA4Event(""), -2);
    DestroyExportObj(log);

    std::vector<std::string> paths;
    for (const auto& r : env.sim().requests())
        paths.push_back(r["path"].asString());
    for (const char* path : {"/AddUserLog", "/QueryTools", "/QueryDownloader", "/ReportLog",
                             "/api/v1/ticket/feedback", "/collect", "/g/collect"})
        EXPECT_NE(std::find(paths.begin(), paths.end(), path), paths.end()) << path;

    DestroyExportObj(nullptr);
    CancelExportObj(nullptr);
}

TEST(Exports, NsisLogReturnsAtOnceAndWritesItsEntryLater) {
    ReportEnv env(R"({"userlog": {"softwarelog": {"delay_ms": 300}}})");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(NSISLog(5, 7, 1033, 55), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    ASSERT_TRUE(kvtest::waitFor([&] { return !env.requests("/AddUserLog").empty(); }));
    const auto entry = env.requests("/AddUserLog")[0];
    EXPECT_EQ(entry["params"]["OP_ID"].asString(), "00000005");
    EXPECT_EQ(entry["params"]["SoftWareID"].asString(), "00000007");
    EXPECT_EQ(entry["params"]["LanguageId"].asString(), "00001033");
    EXPECT_EQ(entry["params"]["SiteID"].asString(), "00000055");
    EXPECT_EQ(entry["params"]["Result"].asString(), "00000001");
    EXPECT_EQ(entry["params"]["ActivityID"].asString(), "00000000");
    EXPECT_EQ(entry["params"]["USER_ID"].asString(), "1001");
}

}  // namespace
