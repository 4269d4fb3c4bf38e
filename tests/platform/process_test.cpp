#include "platform/Process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using platform::kInfinite;
using platform::Process;
using platform::ProcessStartInfo;
using platform::WaitResult;
using Clock = std::chrono::steady_clock;

// Runs to the end (bounded) and gives the exit code, or -1000 when it did not start or end.
int runToEnd(const ProcessStartInfo& info) {
    auto process = Process::start(info);
    if (!process)
        return -1000;
    if (process->wait(10000) != WaitResult::Signaled)
        return -1000;
    return process->exitCode().value_or(-1000);
}

struct ExitCase {
    const char* commandLine;
    int expected;
};

TEST(Process, ExitCodesAndSignalDeathsLikeAShell) {
    const ExitCase cases[] = {
        {"/bin/true", 0},
        {"/bin/false", 1},
        {"/bin/sh -c \"exit 3\"", 3},
        {"/bin/sh -c \"exit 255\"", 255},
        {"/bin/sh -c \"kill -KILL $$\"", 128 + 9},
        {"/bin/sh -c \"kill -TERM $$\"", 128 + 15},
        {"sh -c \"exit 42\"", 42},  // looked up on PATH
    };
    for (const auto& c : cases) {
        EXPECT_EQ(runToEnd({.commandLine = c.commandLine}), c.expected) << c.commandLine;
    }
}

TEST(Process, StartFailuresAreReportedNotRunAsAChild) {
    kvtest::TempDir dir;
    kvtest::writeFile(dir.path() / "not-executable", "#!/bin/sh\nexit 0\n");
    const ProcessStartInfo cases[] = {
        {.commandLine = ""},
        {.commandLine = "   "},
        {.commandLine = "\"\" arg"},
        {.commandLine = (dir.path() / "missing").string()},
        {.commandLine = "kv-no-such-program-anywhere"},
        {.application = dir.path() / "missing", .commandLine = "missing"},
        {.application = dir.path() / "not-executable"},
        {.application = dir.path()},
        {.commandLine = "/bin/true", .workingDirectory = dir.path() / "missing"},
        {.commandLine = std::string("/bin/true \0 x", 13)},
    };
    for (const auto& info : cases) {
        std::string error;
        auto process = Process::start(info, &error);
        EXPECT_FALSE(process) << "'" << info.commandLine << "' app " << info.application;
        EXPECT_FALSE(error.empty());
    }
}

TEST(Process, TimeOutThenTerminate) {
    auto process = Process::start({.commandLine = "/bin/sleep 30"});
    ASSERT_TRUE(process);
    EXPECT_GT(process->pid(), 0);
    EXPECT_EQ(process->wait(0), WaitResult::Timeout);
    auto start = Clock::now();
    EXPECT_EQ(process->wait(100), WaitResult::Timeout);
    EXPECT_GE(Clock::now() - start, 95ms);
    EXPECT_FALSE(process->exitCode());

    EXPECT_TRUE(process->terminate());
    ASSERT_EQ(process->wait(5000), WaitResult::Signaled);
    EXPECT_EQ(process->exitCode(), 128 + 9);
    EXPECT_TRUE(process->terminate()) << "already ended";
    EXPECT_EQ(process->wait(0), WaitResult::Signaled);
}

TEST(Process, ArgumentsReachTheChildExactly) {
    kvtest::TempDir dir;
    // The child writes its own argv, '|' after each argument.
    const std::string script = "tr '\\0' '|' < /proc/$$/cmdline > argv.txt";
    struct Case {
        std::string application;
        std::string commandLine;
        std::string argv;
    };
    const Case cases[] = {
        {"", "sh -c \"" + script + "\" a \"b c\" \"\" /DIR=\"C:\\x\\\" x\"y z\"w",
         "sh|-c|" + script + "|a|b c||/DIR=C:\\x\\|xy zw|"},
        {"/bin/sh", "custom-name -c \"" + script + "\"\t\ttail\\",
         "custom-name|-c|" + script + "|tail\\|"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(dir.path() / "argv.txt");
        EXPECT_EQ(runToEnd({.application = c.application,
                            .commandLine = c.commandLine,
                            .workingDirectory = dir.path()}),
                  0);
        EXPECT_EQ(kvtest::readFile(dir.path() / "argv.txt"), c.argv) << c.commandLine;
    }
}

TEST(Process, WorkingDirectoryIsHonoured) {
    kvtest::TempDir dir;
    std::filesystem::create_directory(dir.path() / "work dir");
    ASSERT_EQ(runToEnd({.commandLine = "/bin/sh -c \"pwd -P > where.txt\"",
                        .workingDirectory = dir.path() / "work dir"}),
              0);
    EXPECT_EQ(kvtest::readFile(dir.path() / "work dir" / "where.txt"),
              std::filesystem::canonical(dir.path() / "work dir").string() + "\n");
}

TEST(Process, DescriptorsAreInheritedOnlyWhenAsked) {
    kvtest::TempDir dir;
    int fd = open((dir.path() / "shared").c_str(), O_CREAT | O_RDWR, 0600);  // no O_CLOEXEC
    ASSERT_GE(fd, 3);
    const std::string probe = "/bin/sh -c \"test -e /proc/$$/fd/" + std::to_string(fd) + "\"";
    for (bool inherit : {true, false}) {
        EXPECT_EQ(runToEnd({.commandLine = probe, .inheritHandles = inherit}), inherit ? 0 : 1)
            << "inherit " << inherit;
    }
    close(fd);
    // Standard descriptors always reach the child.
    EXPECT_EQ(runToEnd({.commandLine = "/bin/sh -c \"test -e /proc/$$/fd/2\""}), 0);
}

TEST(Process, SnapshotListsAStartedChild) {
    auto process = Process::start({.commandLine = "/bin/sleep 30"});
    ASSERT_TRUE(process);
    auto entries = platform::runningProcesses();
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const auto& e) {
        return e.pid == process->pid() && e.name == "sleep";
    }));
    auto names = platform::runningProcessNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "sleep"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "platform_tests"), names.end());
    EXPECT_TRUE(process->terminate());
    EXPECT_EQ(process->wait(5000), WaitResult::Signaled);
}

TEST(Process, ChildOfADroppedProcessIsCollectedLater) {
    int pid = -1;
    {
        auto process = Process::start({.commandLine = "/bin/sleep 0.05"});
        ASSERT_TRUE(process);
        pid = process->pid();
    }  // still running: left to run, not killed
    EXPECT_TRUE(std::filesystem::exists("/proc/" + std::to_string(pid)));
    // Once it has ended, the next start collects it: no zombie is left behind.
    bool collected = false;
    auto deadline = Clock::now() + 5s;
    while (!collected && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        ASSERT_EQ(runToEnd({.commandLine = "/bin/true"}), 0);
        siginfo_t info{};  // WNOWAIT: look, but leave the collecting to the code under test
        collected = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) < 0 &&
                    errno == ECHILD;
    }
    EXPECT_TRUE(collected);
}

TEST(Process, OwnModulePathIsThisTestProgram) {
    auto path = platform::ownModulePath();
    EXPECT_TRUE(path.is_absolute());
    EXPECT_EQ(path.filename(), "platform_tests");
    EXPECT_EQ(path, std::filesystem::canonical("/proc/self/exe"));
}

}  // namespace
