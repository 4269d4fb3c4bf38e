// The reporting library as hosts see it: a shared object whose only names are its C
// functions, and an object reached through the slots of IWebLog.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <set>
#include <sstream>
#include <vector>

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

// Calls slot `slot` of the object's table the way a host does (first argument the object),
// with the slot numbers written out here rather than taken from the library's header: a
// reordered header must fail this test.
// The arguments' types are deduced: pass them as the operation takes them.
template <typename R, typename... Args>
R callSlot(IWebLog* object, size_t slot, Args... args) {
    void* const* table = *reinterpret_cast<void* const* const*>(object);
    auto function = reinterpret_cast<R (*)(IWebLog*, Args...)>(table[slot]);
    return function(object, args...);
}

enum Slot : size_t {
    kAddUserLog = 0,
    kInitUserInfo = 1,
    kQueryTools = 2,
    kQueryDownloader = 3,
    kReportLog = 4,
    kSendFeedback = 5,
    kSendUAEvent = 6,
    kSoftDataReport = 7,
    kSendGA4Event = 8,
};

TEST(Exports, EverySlotReachesItsOperation) {
    ReportEnv env;
    IWebLog* object = CreateExportObj();
    ASSERT_NE(object, nullptr);
    size_t seen = 0;
    // The paths the object asked for since the last call.
    auto newPaths = [&] {
        std::vector<std::string> paths;
        const auto requests = env.sim().requests();
        for (size_t i = seen; i < requests.size(); ++i)
            paths.push_back(requests[i]["path"].asString());
        seen = requests.size();
        return paths;
    };
    auto asked = [&](const char* path) {
        const auto paths = newPaths();
        return std::find(paths.begin(), paths.end(), path) != paths.end();
    };

    const char* guid = nullptr;
    const char* userId = nullptr;
    ASSERT_EQ(callSlot<int32_t>(object, kInitUserInfo, &guid, &userId), 0);
    EXPECT_STREQ(userId, "1001");
    newPaths();
    EXPECT_EQ(callSlot<int32_t>(object, kAddUserLog, 1, 1, "", 7, 1033, 55, "", 0, 0), 0);
    EXPECT_TRUE(asked("/AddUserLog"));
    const char* answer = nullptr;
    EXPECT_EQ(callSlot<int32_t>(object, kQueryTools, &answer, 7, 1033), 0);
    EXPECT_STREQ(answer, "<Tools></Tools>");
    EXPECT_TRUE(asked("/QueryTools"));
    EXPECT_EQ(callSlot<int32_t>(object, kQueryDownloader, &answer, 7, 1033, 55), 0);
    EXPECT_STREQ(answer, "<Downloader></Downloader>");
    EXPECT_TRUE(asked("/QueryDownloader"));
    EXPECT_EQ(callSlot<int32_t>(object, kReportLog, 7, "", "c", "u"), 0);
    EXPECT_TRUE(asked("/ReportLog"));
    EXPECT_EQ(callSlot<int32_t>(object, kSendFeedback, 7, "1", "", "s", "c", "l"), 0);
    EXPECT_TRUE(asked("/api/v1/ticket/feedback"));
    EXPECT_EQ(callSlot<int32_t>(object, kSendUAEvent, "UA-305918462-1", "Downloader", "1.0.0.1",
                                "C", "A", "", "&cd1=1"),
              0);
    EXPECT_TRUE(asked("/collect"));
    EXPECT_EQ(callSlot<int32_t>(object, kSoftDataReport, "{}"), 0);
    EXPECT_FALSE(newPaths().empty());
    EXPECT_EQ(callSlot<int32_t>(object, kSendGA4Event, "&tid=G-Q7MZ2KD9XW"), 0);
    EXPECT_TRUE(asked("/g/collect"));
    EXPECT_EQ(callSlot<int32_t>(object, kSendGA4Event, ""), -2);
    DestroyExportObj(object);

    DestroyExportObj(nullptr);
    CancelExportObj(nullptr);
}

TEST(Exports, NsisLogReturnsAtOnceAndWritesItsEntryLater) {
    // The service answers after 3 s: a call that waited for it would take that long, while
    // starting a thread takes far less on any machine.
    ReportEnv env(R"({"userlog": {"softwarelog": {"delay_ms": 3000}}})");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(NSISLog(5, 7, 1033, 55), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
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
