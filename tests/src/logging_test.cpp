#include "Logging.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <regex>
#include <thread>

#include "test_support.h"

namespace {

// Lines carry the time, the thread and the message in the one format every reader of our
// logs (people and scripts) relies on.
TEST(Logging, WritesInfoLinesInTheProgramFormatToFile) {
    kvtest::TempDir dir;
    const auto file = dir.path() / "nested" / "setup_20261209001500123.log";
    kvlog::configureLogging(file);
    LOG(INFO) << " Download Totally Takes about " << 42 << " And Send To Server";
    std::thread([] { LOG(INFO) << " from another thread"; }).join();
    LOG(DEBUG) << " below the level";
    kvlog::configureLogging();

    const std::string text = kvtest::readFile(file);
    const std::regex line(
        R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2},\d{3}--\[Thread\]\(\d+\)  Download Totally Takes about 42 And Send To Server\n)");
    EXPECT_TRUE(std::regex_search(text, line)) << text;
    EXPECT_NE(text.find(" from another thread"), std::string::npos);
    EXPECT_EQ(text.find("below the level"), std::string::npos);
}

KV_TEST_CHILD(crash) {
    std::raise(SIGSEGV);
    return 0;
}

TEST(Logging, CrashHandlerLogsTheReasonAndAborts) {
    // Logging from a crash handler is not signal-safe by nature; the thread sanitizer would stop
    // the child at its first allocation there instead of letting it write the reason.
    const char* old = std::getenv("TSAN_OPTIONS");
    const std::string options = std::string(old ? old : "") + ":report_signal_unsafe=0";
    std::optional<kvtest::ScopedEnv> tsan(std::in_place, "TSAN_OPTIONS", options.c_str());
    auto result = kvtest::runProgram("/proc/self/exe", {"--kv-test-child", "crash"});
    tsan.reset();
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.output.find("CRASH HANDLED"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("SIGSEGV"), std::string::npos) << result.output;
}

}  // namespace
