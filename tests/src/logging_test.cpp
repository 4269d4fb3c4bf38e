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

// A terminal run's levels, each in a child of its own: the level is the whole process's.
// Every child logs a line before its log file exists, a console note, and a line after.
int logAroundTheFile(kvlog::ConsoleLevel level, const char* file, bool switchBackEarly) {
    kvlog::setConsoleLevel(level);
    LOG(INFO) << " early line";
    kvlog::consoleNote("a console note");
    if (switchBackEarly) {
        kvlog::setConsoleLevel(kvlog::ConsoleLevel::Normal);
        return 0;
    }
    kvlog::configureLogging(file, false);
    LOG(INFO) << " late line";
    return 0;
}
KV_TEST_CHILD(quiet_run) {
    return logAroundTheFile(kvlog::ConsoleLevel::Quiet, args.at(0).c_str(), false);
}
KV_TEST_CHILD(verbose_run) {
    return logAroundTheFile(kvlog::ConsoleLevel::Verbose, args.at(0).c_str(), false);
}
KV_TEST_CHILD(quiet_run_without_a_file) {
    return logAroundTheFile(kvlog::ConsoleLevel::Quiet, args.at(0).c_str(), true);
}

TEST(Logging, AQuietRunKeepsItsLinesForTheLogFileAndAVerboseOneShowsThem) {
    kvtest::TempDir dir;
    const std::string quietLog = (dir.path() / "quiet.log").string();
    const auto quiet =
        kvtest::runProgram("/proc/self/exe", {"--kv-test-child", "quiet_run", quietLog});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.output;
    EXPECT_EQ(quiet.output, "");
    const std::string kept = kvtest::readFile(quietLog);
    const size_t early = kept.find("--[Thread]");
    EXPECT_EQ(early, 23u) << "the early line first, in the program's format:\n" << kept;
    EXPECT_LT(kept.find(" early line"), kept.find("  a console note")) << kept;
    EXPECT_LT(kept.find("  a console note"), kept.find(" late line")) << kept;
    EXPECT_NE(kept.find(" late line"), std::string::npos) << kept;

    const std::string verboseLog = (dir.path() / "verbose.log").string();
    const auto verbose =
        kvtest::runProgram("/proc/self/exe", {"--kv-test-child", "verbose_run", verboseLog});
    ASSERT_EQ(verbose.exitCode, 0) << verbose.output;
    for (const char* line : {" early line", "a console note", " late line"})
        EXPECT_NE(verbose.output.find(line), std::string::npos) << line << "\n" << verbose.output;
    EXPECT_NE(kvtest::readFile(verboseLog).find(" late line"), std::string::npos);

    // A quiet start that never gets its file shows what it kept rather than losing it.
    const auto fileless = kvtest::runProgram(
        "/proc/self/exe", {"--kv-test-child", "quiet_run_without_a_file", quietLog + ".none"});
    ASSERT_EQ(fileless.exitCode, 0) << fileless.output;
    EXPECT_NE(fileless.output.find(" early line"), std::string::npos) << fileless.output;
    EXPECT_NE(fileless.output.find("a console note"), std::string::npos) << fileless.output;
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
