#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "platform/Services.h"
#include "platform/Shell.h"
#include "test_support.h"

namespace {

using kvtest::ScopedEnv;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

void writeScript(const fs::path& path, const std::string& body) {
    kvtest::writeFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all);
}

long long elapsedMs(Clock::time_point since) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - since).count();
}

// ---------------------------------------------------------------------------------------------
// Shell

// The opener records how many arguments it got and each one in brackets.
constexpr const char* kRecordingOpener =
    "{ echo \"$#\"; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } > \"$OPENER_OUT\"\n";

class ShellTest : public testing::Test {
protected:
    ShellTest() {
        writeScript(m_dir.path() / "opener", kRecordingOpener);
        m_files = m_dir.path() / "files";
        fs::create_directories(m_files);
    }
    // What the opener received; "" when it did not run.
    std::string received() const { return kvtest::readFile(m_out); }
    static std::string oneArgument(const std::string& argument) {
        return "1\n[" + argument + "]\n";
    }

    kvtest::TempDir m_dir;
    fs::path m_out = m_dir.path() / "received";
    fs::path m_files;
    ScopedEnv m_opener{"KV_OPENER", (m_dir.path() / "opener").c_str()};
    ScopedEnv m_outEnv{"OPENER_OUT", m_out.c_str()};
};

TEST_F(ShellTest, TheTargetIsExactlyOneArgument) {
    const char* names[] = {
        "plain.txt",         "with blanks  inside.txt", "semi;colon&amp|pipe.txt",
        "$(touch x) `y`.sh", "back\\slash\\",           "tab\there",
        "single 'quote'",    "ünïcødé €.txt",           "-starts-with-dash",
        "star*?[x].txt",
    };
    for (const char* name : names) {
        fs::remove(m_out);
        const fs::path file = m_files / name;
        kvtest::writeFile(file, "x");
        ASSERT_TRUE(platform::openFile(file)) << name;
        EXPECT_EQ(received(), oneArgument(file.string())) << name;
    }
    EXPECT_FALSE(fs::exists(m_files / "x"));  // nothing went through a shell
}

TEST_F(ShellTest, UrlsAndRevealedFolders) {
    EXPECT_FALSE(platform::openUrl("https://www.example.invalid/?q=\"x\""));
    const std::string spaced = "https://www.example.invalid/a b;c&d=$HOME|x\\y";
    ASSERT_TRUE(platform::openUrl(spaced));
    EXPECT_EQ(received(), oneArgument(spaced));

    const fs::path folder = m_files / "my folder; x";
    fs::create_directories(folder);
    fs::remove(m_out);
    ASSERT_TRUE(platform::revealFile(folder / "setup file.bin"));  // the file need not exist
    EXPECT_EQ(received(), oneArgument(folder.string()));
    fs::remove(m_out);
    ASSERT_TRUE(platform::revealFile(folder.string() + "/"));
    EXPECT_EQ(received(), oneArgument(m_files.string()));
}

TEST_F(ShellTest, RefusedTargetsNeverReachTheOpener) {
    const fs::path quoted = m_files / "say \"hi\".txt";
    kvtest::writeFile(quoted, "x");
    fs::create_directories(m_files / "q\"dir");
    EXPECT_FALSE(platform::openFile(quoted));
    EXPECT_FALSE(platform::revealFile(m_files / "q\"dir" / "file"));
    EXPECT_FALSE(platform::openFile(m_files / "missing.txt"));
    EXPECT_FALSE(platform::revealFile(m_files / "no folder" / "file"));
    for (const std::string& url :
         {std::string(), std::string("--help"), std::string("https://a.invalid/\0x", 20)})
        EXPECT_FALSE(platform::openUrl(url));
    EXPECT_EQ(received(), "");
}

TEST_F(ShellTest, AnOpenerThatFailsGivesFalse) {
    writeScript(m_dir.path() / "opener", "exit 3\n");
    kvtest::writeFile(m_files / "a.txt", "x");
    EXPECT_FALSE(platform::openFile(m_files / "a.txt"));
    ScopedEnv missing("KV_OPENER", (m_dir.path() / "no-such-opener").c_str());
    EXPECT_FALSE(platform::openFile(m_files / "a.txt"));
}

TEST_F(ShellTest, ALongRunningOpenerIsNotWaitedFor) {
    const fs::path pidFile = m_dir.path() / "opener.pid";
    writeScript(m_dir.path() / "opener", "echo $$ > \"" + pidFile.string() + "\"\nexec sleep 30\n");
    kvtest::writeFile(m_files / "a.txt", "x");
    auto start = Clock::now();
    EXPECT_TRUE(platform::openFile(m_files / "a.txt"));
    long long took = elapsedMs(start);
    EXPECT_GE(took, static_cast<long long>(platform::kOpenerWaitMs) - 50);
    EXPECT_LT(took, static_cast<long long>(platform::kOpenerWaitMs) + 3000);
    int pid = std::atoi(kvtest::readFile(pidFile).c_str());
    ASSERT_GT(pid, 1);
    kill(pid, SIGKILL);
}

TEST_F(ShellTest, XdgOpenFirstThenGioFromPath) {
    ScopedEnv noOverride("KV_OPENER", nullptr);
    const fs::path bin = m_dir.path() / "bin";
    fs::create_directories(bin);
    writeScript(bin / "gio", kRecordingOpener);
    kvtest::writeFile(m_files / "a b.txt", "x");
    {
        ScopedEnv path("PATH", bin.c_str());
        ASSERT_TRUE(platform::openFile(m_files / "a b.txt"));
        EXPECT_EQ(received(), "2\n[open]\n[" + (m_files / "a b.txt").string() + "]\n");

        writeScript(bin / "xdg-open", kRecordingOpener);
        fs::remove(m_out);
        ASSERT_TRUE(platform::openFile(m_files / "a b.txt"));
        EXPECT_EQ(received(), oneArgument((m_files / "a b.txt").string()));
    }
    const fs::path empty = m_dir.path() / "empty-bin";
    fs::create_directories(empty);
    ScopedEnv path("PATH", empty.c_str());
    fs::remove(m_out);
    EXPECT_FALSE(platform::openFile(m_files / "a b.txt"));
    EXPECT_EQ(received(), "");
}

// ---------------------------------------------------------------------------------------------
// Services

// A fake systemctl beside its state files: every call is recorded; `stop` exits with the code
// in stop-code; `is-active` prints "deactivating" (exit 3, as the real one does) while the
// countdown lasts, then the text in final with the exit code in final-code.
constexpr const char* kFakeSystemctl = R"(d=$(dirname "$0")
echo "$*" >> "$d/calls"
case "$1" in
stop) exit $(cat "$d/stop-code") ;;
is-active) n=$(cat "$d/countdown")
  if [ "$n" -gt 0 ]; then echo $((n-1)) > "$d/countdown"; echo deactivating; exit 3; fi
  cat "$d/final"; exit $(cat "$d/final-code") ;;
esac
exit 1
)";

class ServicesTest : public testing::Test {
protected:
    void fake(int deactivatingPolls, const std::string& final, int code, int stopCode = 0) {
        writeScript(m_systemctl, kFakeSystemctl);
        kvtest::writeFile(m_dir.path() / "countdown", std::to_string(deactivatingPolls));
        kvtest::writeFile(m_dir.path() / "final", final + "\n");
        kvtest::writeFile(m_dir.path() / "final-code", std::to_string(code));
        kvtest::writeFile(m_dir.path() / "stop-code", std::to_string(stopCode));
        fs::remove(m_dir.path() / "calls");
    }
    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::istringstream in(kvtest::readFile(m_dir.path() / "calls"));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    kvtest::TempDir m_dir;
    fs::path m_systemctl = m_dir.path() / "systemctl";
    ScopedEnv m_env{"KV_SYSTEMCTL", m_systemctl.c_str()};
};

TEST_F(ServicesTest, StopsAndWaitsUntilInactiveOrFailed) {
    fake(2, "inactive", 3);
    ASSERT_TRUE(platform::stopService("kv-test.service", 10000));
    std::vector<std::string> expected = {"stop --no-block --no-ask-password kv-test.service",
                                         "is-active kv-test.service", "is-active kv-test.service",
                                         "is-active kv-test.service"};
    EXPECT_EQ(calls(), expected);
    fake(0, "failed", 3);
    EXPECT_TRUE(platform::stopService("KestrovaWinAdService", 2000));
    EXPECT_EQ(calls().size(), 2u);
}

TEST_F(ServicesTest, NeverStoppingTimesOutInBoundedTime) {
    // "deactivating" exits non-zero like "inactive": only the text tells them apart.
    for (const char* stuck : {"active", "deactivating"}) {
        fake(0, stuck, std::string(stuck) == "active" ? 0 : 3);
        auto start = Clock::now();
        EXPECT_FALSE(platform::stopService("kv-test", 700)) << stuck;
        long long took = elapsedMs(start);
        EXPECT_GE(took, 700) << stuck;
        EXPECT_LT(took, 700 + 1500) << stuck;
    }
}

TEST_F(ServicesTest, AHangingSystemctlIsCutOffAtTheTimeOut) {
    const fs::path pidFile = m_dir.path() / "hang.pid";
    writeScript(m_systemctl, "[ \"$1\" = stop ] && exit 0\necho $$ > '" + pidFile.string() +
                                 "'\nexec sleep 30\n");
    auto start = Clock::now();
    EXPECT_FALSE(platform::stopService("kv-test", 500));
    EXPECT_LT(elapsedMs(start), 500 + 1500);
    // The killed child is gone: its pid no longer names a process of ours.
    int pid = std::atoi(kvtest::readFile(pidFile).c_str());
    ASSERT_GT(pid, 1);
    EXPECT_NE(kill(pid, 0), 0);
}

TEST_F(ServicesTest, RefusedStopMissingSystemctlAndBadNames) {
    fake(0, "inactive", 3, /*stopCode=*/5);  // unit not loaded
    EXPECT_FALSE(platform::stopService("kv-test", 2000));
    EXPECT_EQ(calls().size(), 1u);  // no polling after a refused stop

    fake(0, "inactive", 3);
    for (const std::string& bad : {std::string(), std::string("-h"), std::string("a b"),
                                   std::string("x;reboot"), std::string(257, 'a')})
        EXPECT_FALSE(platform::stopService(bad, 1000)) << bad;
    EXPECT_TRUE(calls().empty());

    {
        ScopedEnv missing("KV_SYSTEMCTL", (m_dir.path() / "nowhere" / "systemctl").c_str());
        auto start = Clock::now();
        EXPECT_FALSE(platform::stopService("kv-test", 5000));
        EXPECT_LT(elapsedMs(start), 1000);
    }
    ScopedEnv noOverride("KV_SYSTEMCTL", nullptr);
    fs::remove(m_systemctl);
    ScopedEnv pathWithout("PATH", m_dir.path().c_str());  // no systemctl on it
    EXPECT_FALSE(platform::stopService("kv-test", 1000));
}

}  // namespace
