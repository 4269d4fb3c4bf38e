#include "platform/Sync.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "platform/Process.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using platform::kInfinite;
using platform::NamedEvent;
using platform::NamedMutex;
using platform::WaitResult;
using Clock = std::chrono::steady_clock;

bool waitForFile(const std::filesystem::path& path, std::chrono::milliseconds limit = 10s) {
    auto deadline = Clock::now() + limit;
    while (!std::filesystem::exists(path)) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// True when the child is still running after `forHow`; false when it ended meanwhile.
bool staysRunning(pid_t pid, std::chrono::milliseconds forHow) {
    auto deadline = Clock::now() + forHow;
    while (Clock::now() < deadline) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            info.si_pid != 0) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

template <typename F>
std::chrono::milliseconds timed(F&& f) {
    auto start = Clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// Child routines. Each gets the object name first; "ready" files tell the parent when the
// object is open.

// Opens the object (mutex or event), holds it (a mutex locked), signals `ready`, then sleeps
// until killed or 20 s have passed.
KV_TEST_CHILD(sync_hold) {
    std::unique_ptr<NamedMutex> mutex;
    std::unique_ptr<NamedEvent> event;
    if (args.at(0) == "mutex") {
        mutex = NamedMutex::create(args.at(1));
        if (!mutex || mutex->lock(5000) == WaitResult::Timeout)
            return 2;
    } else {
        event = NamedEvent::create(args.at(1), false, false);
        if (!event)
            return 2;
    }
    kvtest::writeFile(args.at(2), "ready");
    std::this_thread::sleep_for(20s);
    return 0;
}

// Adds 1 to the number in a file `count` times, each read-modify-write under the mutex.
int countUnderMutex(const std::string& name, const std::filesystem::path& file, int count) {
    auto mutex = NamedMutex::create(name);
    if (!mutex)
        return 2;
    for (int i = 0; i < count; ++i) {
        WaitResult r = mutex->lock(20000);
        if (r != WaitResult::Signaled) {
            if (r == WaitResult::Abandoned)
                mutex->unlock();
            return 3;
        }
        int value = std::atoi(kvtest::readFile(file).c_str());
        std::this_thread::yield();  // widen the window a missing exclusion would show in
        kvtest::writeFile(file, std::to_string(value + 1));
        if (!mutex->unlock())
            return 4;
    }
    return 0;
}

KV_TEST_CHILD(sync_count) {
    return countUnderMutex(args.at(0), args.at(1), std::stoi(args.at(2)));
}

// Waits on the event; exit code 0 when released, 1 on time-out.
KV_TEST_CHILD(sync_wait_event) {
    auto event = NamedEvent::create(args.at(0), args.at(1) == "manual", false);
    if (!event)
        return 2;
    kvtest::writeFile(args.at(2), "ready");
    return event->wait(static_cast<uint32_t>(std::stoi(args.at(3)))) == WaitResult::Signaled ? 0
                                                                                             : 1;
}

// Takes the exclusive lock on every event state file in `folder` and holds it, as a stopped or
// hostile process would; signals `ready`, then sleeps until killed or 20 s have passed.
KV_TEST_CHILD(sync_grab_state) {
    std::vector<int> held;
    for (const auto& entry : std::filesystem::directory_iterator(args.at(0))) {
        if (entry.path().extension() != ".state")
            continue;
        const int fd = ::open(entry.path().c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
            return 2;
        held.push_back(fd);
    }
    if (held.empty())
        return 3;
    kvtest::writeFile(args.at(1), "ready");
    std::this_thread::sleep_for(20s);
    return 0;
}

class SyncTest : public testing::Test {
protected:
    void SetUp() override { m_syncDir.emplace("KV_SYNC_DIR", (m_dir.path() / "sync").c_str()); }
    std::filesystem::path file(const std::string& name) const { return m_dir.path() / name; }

    kvtest::TempDir m_dir;
    std::optional<kvtest::ScopedEnv> m_syncDir;
};

TEST_F(SyncTest, MutexOfKilledHolderIsAcquiredAsAbandoned) {
    auto mutex = NamedMutex::create("Holder\\Killed");
    ASSERT_TRUE(mutex);
    pid_t child = kvtest::spawnChild("sync_hold", {"mutex", "Holder\\Killed", file("ready")});
    ASSERT_TRUE(waitForFile(file("ready")));
    EXPECT_EQ(mutex->lock(50), WaitResult::Timeout);

    kill(child, SIGKILL);
    EXPECT_EQ(kvtest::waitChild(child, 5000), -1);
    WaitResult result = WaitResult::Failed;
    auto took = timed([&] { result = mutex->lock(5000); });
    EXPECT_EQ(result, WaitResult::Abandoned);
    EXPECT_LT(took, 1000ms);
    ASSERT_TRUE(mutex->unlock());
    // Abandonment is reported once; a clean unlock leaves a plain mutex.
    EXPECT_EQ(mutex->lock(1000), WaitResult::Signaled);
    EXPECT_TRUE(mutex->unlock());
}

TEST_F(SyncTest, MutexExcludesAcrossProcessesAndThreads) {
    constexpr int kEach = 150;
    const std::string name = "Counter";
    kvtest::writeFile(file("counter"), "0");
    auto keepOpen = NamedMutex::create(name);
    ASSERT_TRUE(keepOpen);
    std::vector<pid_t> children;
    for (int i = 0; i < 2; ++i) {
        children.push_back(kvtest::spawnChild(
            "sync_count", {name, file("counter").string(), std::to_string(kEach)}));
    }
    std::vector<int> threadResults(2, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back(
            [&, i] { threadResults[i] = countUnderMutex(name, file("counter"), kEach); });
    }
    for (auto& t : threads)
        t.join();
    for (pid_t child : children)
        EXPECT_EQ(kvtest::waitChild(child, 30000), 0);
    EXPECT_EQ(threadResults, std::vector<int>(2, 0));
    EXPECT_EQ(kvtest::readFile(file("counter")), std::to_string(4 * kEach));
}

TEST_F(SyncTest, MutexIsRecursiveForItsOwnerAcrossHandlesAndOnlyTheOwnerUnlocks) {
    auto first = NamedMutex::create("Recursive");
    auto second = NamedMutex::create("Recursive");
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(first->unlock()) << "unlock of an unowned mutex";
    ASSERT_EQ(first->lock(0), WaitResult::Signaled);
    ASSERT_EQ(second->lock(0), WaitResult::Signaled) << "same thread, other handle";

    auto otherThread = [&](auto&& body) { std::thread(body).join(); };
    otherThread([&] {
        EXPECT_FALSE(second->unlock()) << "a thread that is not the owner";
        EXPECT_EQ(first->lock(30), WaitResult::Timeout);
    });
    EXPECT_TRUE(second->unlock());
    otherThread([&] { EXPECT_EQ(first->lock(30), WaitResult::Timeout) << "one level left"; });
    EXPECT_TRUE(first->unlock());
    EXPECT_FALSE(first->unlock()) << "more unlocks than locks";
    otherThread([&] {
        EXPECT_EQ(second->lock(1000), WaitResult::Signaled);
        EXPECT_TRUE(second->unlock());
    });
}

class AlreadyExisted : public SyncTest, public testing::WithParamInterface<const char*> {
protected:
    // Opens `name` of this test's kind; returns the handle and what create reported.
    std::pair<std::shared_ptr<void>, bool> open(const std::string& name) {
        bool existed = false;
        std::shared_ptr<void> handle;
        if (std::string(GetParam()) == "mutex") {
            handle = NamedMutex::create(name, &existed);
        } else {
            handle = NamedEvent::create(name, false, false, &existed);
        }
        EXPECT_TRUE(handle) << name;
        return {handle, existed};
    }
};

TEST_P(AlreadyExisted, WhileAnyHandleIsOpenInThisProcess) {
    auto [first, firstExisted] = open("Global\\Single/Instance");
    EXPECT_FALSE(firstExisted);
    auto [second, secondExisted] = open("Global\\Single/Instance");
    EXPECT_TRUE(secondExisted);
    first.reset();
    EXPECT_TRUE(open("Global\\Single/Instance").second) << "second handle still open";
    second.reset();
    EXPECT_FALSE(open("Global\\Single/Instance").second) << "all handles closed";
}

TEST_P(AlreadyExisted, WhileAnotherProcessHasItOpenAndNotAfterItWasKilled) {
    pid_t child = kvtest::spawnChild("sync_hold", {GetParam(), "ORL_Downloader_7", file("ready")});
    ASSERT_TRUE(waitForFile(file("ready")));
    EXPECT_TRUE(open("ORL_Downloader_7").second);
    EXPECT_FALSE(open("ORL_Downloader_8").second);
    kill(child, SIGKILL);
    kvtest::waitChild(child, 5000);
    auto [reopened, existed] = open("ORL_Downloader_7");
    EXPECT_FALSE(existed);
    // Nobody else had it open, so the killed owner's claim went with the object.
    if (std::string(GetParam()) == "mutex") {
        auto* mutex = static_cast<NamedMutex*>(reopened.get());
        EXPECT_EQ(mutex->lock(0), WaitResult::Signaled);
        mutex->unlock();
    }
}

// The installer keeps its single-instance guard open while it runs the setup program and
// starts the product; neither may carry it on after the installer ends, even when started with
// inherited descriptors.
TEST_P(AlreadyExisted, AChildThatInheritsDescriptorsDoesNotKeepTheObject) {
    auto [guard, existed] = open("ORL_Downloader_9");
    ASSERT_FALSE(existed);
    auto child = platform::Process::start({.commandLine = "/bin/sleep 20", .inheritHandles = true});
    ASSERT_TRUE(child);
    // Descriptors are dropped at exec: look once the child runs `sleep`.
    const std::filesystem::path proc = "/proc/" + std::to_string(child->pid());
    std::error_code ec;
    for (int i = 0;
         i < 500 && std::filesystem::read_symlink(proc / "exe", ec).filename() != "sleep"; ++i)
        std::this_thread::sleep_for(10ms);
    std::vector<std::string> kept;
    for (const auto& fd : std::filesystem::directory_iterator(proc / "fd", ec)) {
        const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
        if (target.rfind(m_dir.path().string(), 0) == 0)
            kept.push_back(target);
    }
    EXPECT_EQ(kept, std::vector<std::string>{});

    guard.reset();
    EXPECT_FALSE(open("ORL_Downloader_9").second) << "the child still holds it";
    child->terminate();
    child->wait(5000);
}

TEST_P(AlreadyExisted, NamesAreDistinguishedByEveryByte) {
    const std::string longName = std::string(300, 'n') + "\\/:*?";
    auto [a, aExisted] = open(longName + "a");
    auto [b, bExisted] = open(longName + "b");
    EXPECT_FALSE(aExisted);
    EXPECT_FALSE(bExisted);
    EXPECT_TRUE(open(longName + "a").second);
    // Unnamed objects are private.
    EXPECT_FALSE(open("").second);
    auto [unnamed, unnamedExisted] = open("");
    EXPECT_FALSE(unnamedExisted);
}

INSTANTIATE_TEST_SUITE_P(Kinds, AlreadyExisted, testing::Values("mutex", "event"));

struct InitialCase {
    bool manualReset;
    bool initialState;
    std::vector<WaitResult> waits;  // successive wait(0) results
};

TEST_F(SyncTest, InitialStateAndKindDecideWhatWaitsSee) {
    const InitialCase cases[] = {
        {false, false, {WaitResult::Timeout}},
        {false, true, {WaitResult::Signaled, WaitResult::Timeout}},
        {true, false, {WaitResult::Timeout}},
        {true, true, {WaitResult::Signaled, WaitResult::Signaled}},
    };
    int index = 0;
    for (const auto& c : cases) {
        for (const std::string& name : {std::string(), "initial-" + std::to_string(index++)}) {
            SCOPED_TRACE(testing::Message() << "manual " << c.manualReset << " initial "
                                            << c.initialState << " name '" << name << "'");
            auto event = NamedEvent::create(name, c.manualReset, c.initialState);
            ASSERT_TRUE(event);
            for (WaitResult expected : c.waits)
                EXPECT_EQ(event->wait(0), expected);
            ASSERT_TRUE(event->reset());
            EXPECT_EQ(event->wait(0), WaitResult::Timeout);
            ASSERT_TRUE(event->set());
            EXPECT_EQ(event->wait(0), WaitResult::Signaled);
            EXPECT_EQ(event->wait(0), c.manualReset ? WaitResult::Signaled : WaitResult::Timeout);
        }
    }
}

TEST_F(SyncTest, LaterOpensKeepTheCreatorsKindAndState) {
    auto creator = NamedEvent::create("Kind", true, true);
    bool existed = false;
    auto opener = NamedEvent::create("Kind", false, false, &existed);
    ASSERT_TRUE(creator && opener);
    EXPECT_TRUE(existed);
    EXPECT_TRUE(opener->manualReset());
    EXPECT_EQ(opener->wait(0), WaitResult::Signaled);
    EXPECT_EQ(opener->wait(0), WaitResult::Signaled);
    ASSERT_TRUE(opener->reset());
    EXPECT_EQ(creator->wait(0), WaitResult::Timeout);
}

TEST_F(SyncTest, AutoResetEventReleasesOneThreadPerSet) {
    for (const std::string name : {"", "OneEach"}) {
        SCOPED_TRACE("name '" + name + "'");
        auto event = NamedEvent::create(name, false, false);
        ASSERT_TRUE(event);
        constexpr int kWaiters = 4;
        std::atomic<int> released{0};
        std::atomic<int> timedOut{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < kWaiters; ++i) {
            waiters.emplace_back(
                [&] { (event->wait(10000) == WaitResult::Signaled ? released : timedOut)++; });
        }
        for (int round = 1; round <= kWaiters; ++round) {
            ASSERT_TRUE(event->set());
            auto deadline = Clock::now() + 5s;
            while (released < round && Clock::now() < deadline)
                std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(20ms);  // time for a second, wrong release to show
            EXPECT_EQ(released, round);
        }
        for (auto& t : waiters)
            t.join();
        EXPECT_EQ(timedOut, 0);
        EXPECT_EQ(event->wait(0), WaitResult::Timeout) << "each set consumed";
    }
}

TEST_F(SyncTest, AutoResetEventReleasesOneProcessPerSet) {
    auto event = NamedEvent::create("Processes", false, false);
    ASSERT_TRUE(event);
    pid_t a = kvtest::spawnChild("sync_wait_event", {"Processes", "auto", file("a"), "10000"});
    pid_t b = kvtest::spawnChild("sync_wait_event", {"Processes", "auto", file("b"), "10000"});
    ASSERT_TRUE(waitForFile(file("a")) && waitForFile(file("b")));
    ASSERT_TRUE(event->set());
    // One of them ends; the other must keep waiting.
    pid_t first = -1;
    auto deadline = Clock::now() + 5s;
    while (first < 0 && Clock::now() < deadline) {
        if (!staysRunning(a, 1ms))
            first = a;
        else if (!staysRunning(b, 1ms))
            first = b;
    }
    ASSERT_NE(first, -1) << "no waiter released";
    pid_t second = first == a ? b : a;
    EXPECT_EQ(kvtest::waitChild(first, 1000), 0);
    EXPECT_TRUE(staysRunning(second, 100ms));
    ASSERT_TRUE(event->set());
    EXPECT_EQ(kvtest::waitChild(second, 5000), 0);
}

TEST_F(SyncTest, ManualResetSetReleasesWaitersEvenWhenResetAtOnce) {
    auto event = NamedEvent::create("Pulse", true, false);
    ASSERT_TRUE(event);
    pid_t child = kvtest::spawnChild("sync_wait_event", {"Pulse", "manual", file("ready"), "5000"});
    ASSERT_TRUE(waitForFile(file("ready")));
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (event->wait(5000) == WaitResult::Signaled)
                released++;
        });
    }
    std::this_thread::sleep_for(200ms);  // let the waiters block, here and in the child
    ASSERT_TRUE(event->set());
    ASSERT_TRUE(event->reset());
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released, 3);
    EXPECT_EQ(kvtest::waitChild(child, 10000), 0);
    EXPECT_EQ(event->wait(0), WaitResult::Timeout);
}

TEST_F(SyncTest, WaitsHonourTheirTimeOut) {
    auto mutex = NamedMutex::create("Timed");
    auto event = NamedEvent::create("Timed", false, false);
    ASSERT_TRUE(mutex && event);
    ASSERT_EQ(mutex->lock(kInfinite), WaitResult::Signaled);
    const std::function<WaitResult(uint32_t)> waits[] = {
        [&](uint32_t ms) {
            WaitResult result = WaitResult::Failed;
            std::thread([&] { result = mutex->lock(ms); }).join();  // another thread than the owner
            return result;
        },
        [&](uint32_t ms) { return event->wait(ms); },
    };
    for (const auto& wait : waits) {
        for (uint32_t timeout : {0u, 150u}) {
            WaitResult result = WaitResult::Failed;
            auto took = timed([&] { result = wait(timeout); });
            EXPECT_EQ(result, WaitResult::Timeout);
            EXPECT_GE(took, std::chrono::milliseconds(timeout) - 5ms);
            EXPECT_LT(took, std::chrono::milliseconds(timeout) + 2s);
        }
    }
    // A same-process set wakes a long wait promptly.
    std::thread setter([&] {
        std::this_thread::sleep_for(50ms);
        event->set();
    });
    auto took = timed([&] { EXPECT_EQ(event->wait(kInfinite), WaitResult::Signaled); });
    setter.join();
    EXPECT_LT(took, 2s);
    EXPECT_TRUE(mutex->unlock());
}

// The reporter's queue lock is a named event waited on with a short time-out: that bound holds
// even while another process sits on the event's state file.
TEST_F(SyncTest, AnEventWaitKeepsItsTimeOutWhileAnotherProcessHoldsTheState) {
    auto event = NamedEvent::create("UserLogMutex", false, false);
    ASSERT_TRUE(event);
    pid_t child =
        kvtest::spawnChild("sync_grab_state", {(m_dir.path() / "sync").string(), file("ready")});
    ASSERT_TRUE(waitForFile(file("ready"))) << "child exit " << kvtest::waitChild(child, 1000);
    WaitResult result = WaitResult::Signaled;
    const auto took = timed([&] { result = event->wait(200); });
    EXPECT_EQ(result, WaitResult::Timeout);
    // The lock is held for 20 s and a wait used to give up only after 10; any machine answers a
    // 200 ms wait well within 5.
    EXPECT_LT(took, 5s);
    kill(child, SIGKILL);
    kvtest::waitChild(child, 5000);
}

TEST_F(SyncTest, UnusableSyncFolderFailsCleanly) {
    kvtest::writeFile(file("plain-file"), "x");
    setenv("KV_SYNC_DIR", file("plain-file").c_str(), 1);
    bool existed = true;
    EXPECT_FALSE(NamedMutex::create("x", &existed));
    EXPECT_FALSE(existed);
    EXPECT_FALSE(NamedEvent::create("x", false, false));
    EXPECT_FALSE(platform::syncDirectory());
    // Unnamed objects need no folder.
    EXPECT_TRUE(NamedMutex::create(""));
}

TEST_F(SyncTest, DefaultFolderIsPrivateToTheUser) {
    unsetenv("KV_SYNC_DIR");
    auto dir = platform::syncDirectory();
    ASSERT_TRUE(dir);
    EXPECT_EQ(*dir, "/tmp/kvdownloader-sync-" + std::to_string(geteuid()));
    struct stat st {};
    ASSERT_EQ(lstat(dir->c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);
}

}  // namespace
