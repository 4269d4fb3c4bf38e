// `kvdiag event`: one event reported as the installer reports it.

#include <gtest/gtest.h>

#include "report_env.h"

using kvtest::ReportEnv;

namespace {

const std::string kKvdiag = std::string(KV_BIN_DIR) + "/kvdiag";

TEST(KvdiagEvent, AtOnceEventPrintsTheUaResult) {
    ReportEnv env;
    auto r = kvtest::runProgram(kKvdiag, {"event", "CrashRate", "Close", "", "--now"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("UA result: 0\n"), std::string::npos) << r.output;
    const auto ua = env.hits("ua", "Close");
    ASSERT_EQ(ua.size(), 1u);
    EXPECT_EQ(kvtest::splitFields(ua[0]["body"].asString())["av"], "1.0.0.1")
        << "the installer's version";
    EXPECT_EQ(env.hits("ga4", "Close").size(), 1u);

    env.sim().setFixture(R"({"analytics": {"ua": {"status": 200, "body": "no gif"}}})");
    r = kvtest::runProgram(kKvdiag, {"event", "CrashRate", "Close", "", "--now"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("UA result: -3\n"), std::string::npos) << r.output;
}

TEST(KvdiagEvent, QueuedEventIsSentBeforeTheProgramEnds) {
    ReportEnv env;
    const auto r = kvtest::runProgram(kKvdiag, {"event", "DownloadSpeed", "CDN", "1.5 MB/s"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const auto ua = env.hits("ua", "CDN");
    ASSERT_EQ(ua.size(), 1u);
    EXPECT_EQ(kvtest::splitFields(ua[0]["body"].asString())["el"], "1.5 MB/s");
    EXPECT_EQ(env.hits("ua", "launchDownloader001").size(), 1u);

    const auto usage = kvtest::runProgram(kKvdiag, {"event", "only-two", "args"});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_NE(usage.output.find("kvdiag event CATEGORY ACTION LABEL [--now]"), std::string::npos);
}

}  // namespace
