#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "CDownloadTaskManager.h"
#include "DownLoadImpl.h"
#include "Logging.h"
#include "nginx_runner.h"
#include "report/EventReporter.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

DownloadWatch onlineWatch() {
    DownloadWatch watch;
    watch.isNetworkAlive = [] { return true; };
    watch.passSleepMs = 2;
    return watch;
}

std::string md5(const fs::path& p) {
    return CDownLoadImpl::md5OfFile(p.string());
}

constexpr int64_t kMiB = 1048576;

// Bytes the saved task file records as written; -1 while there is no readable task file.
int64_t savedProgress(const fs::path& taskFile) {
    CDownloadTaskManager saved("", "", taskFile.string());
    if (!saved.readDownloadTask() || saved.tasks().empty())
        return -1;
    return saved.getDownloadedSize();
}

// Polls the task file (every 10 ms, at most 60 s) until it records at least `bytes`.
bool waitForSavedProgress(const fs::path& taskFile, int64_t bytes) {
    for (int i = 0; i < 6000; ++i) {
        if (savedProgress(taskFile) >= bytes)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A server whose answers for the last task of a `size`-byte file trickle while every other
// segment comes at once: the end of the file (fetched first) is still missing when a download
// is killed early.
kvtest::NginxOptions slowEnd(int64_t size) {
    const int64_t lastStart = (size / kMiB - 1) * kMiB;
    return {"", "    if ($http_range ~ \"^bytes=" + std::to_string(lastStart) +
                    "-\") { set $limit_rate 200k; }\n"};
}

int64_t bytesOfGets(const kvtest::Nginx& nginx) {
    int64_t fetched = 0;
    for (const auto& r : nginx.requests())
        if (r.method == "GET")
            fetched += r.bytesSent;
    return fetched;
}

class DownloadEngine : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kvtest::Nginx::available())
            GTEST_SKIP() << "nginx is not installed";
        m_syncDir.emplace("KV_SYNC_DIR", (m_work.path() / "sync").c_str());
        fs::create_directories(m_work.path() / "sync");
        EventReporter::instance().clearEvents();
    }

    fs::path out(const std::string& name) const { return m_work.path() / name; }

    kvtest::TempDir m_work;
    std::optional<kvtest::ScopedEnv> m_syncDir;
};

TEST_F(DownloadEngine, ByteExactForEverySegmentLayout) {
    kvtest::Nginx nginx;
    struct Case {
        int64_t size;
        int tasks;
        int64_t lastEnd;  // EndPos of the last task: the file length
    } cases[] = {{1, 1, 1},
                 {10, 1, 10},
                 {1048576, 1, 1048576},
                 {1048577, 1, 1048577},
                 {3670016, 3, 3670016},
                 {50 * 1048576 + 123, 50, 50 * 1048576 + 123}};
    uint32_t seed = 1;
    for (const auto& c : cases) {
        const std::string name = "f" + std::to_string(c.size) + ".exe";
        kvtest::writeRandomFile(nginx.root() / name, c.size, seed++);
        const fs::path local = out(name);
        ASSERT_EQ(
            CDownLoadImpl::SuperDownloadFile(nginx.url("/" + name), local.string(), onlineWatch()),
            1)
            << c.size;
        EXPECT_EQ(md5(local), md5(nginx.root() / name)) << c.size;

        CDownloadTaskManager saved(nginx.url("/" + name), local.string(), local.string() + ".xml");
        ASSERT_TRUE(saved.readDownloadTask());
        ASSERT_EQ(static_cast<int>(saved.tasks().size()), c.tasks) << c.size;
        EXPECT_EQ(saved.TasksCount, c.tasks);
        EXPECT_EQ(saved.ContentLength, c.size);
        EXPECT_EQ(saved.tasks().front()->StartPos, 0);
        EXPECT_EQ(saved.tasks().back()->EndPos, c.lastEnd);
        for (const auto& t : saved.tasks()) {
            EXPECT_EQ(t->TaskStatus, 1);
            EXPECT_EQ(t->DownloadedPos(), t->EndPos);
        }
        if (c.tasks == 3) {
            EXPECT_EQ(saved.tasks()[0]->EndPos, 1048575);
            EXPECT_EQ(saved.tasks()[1]->StartPos, 1048576);
            EXPECT_EQ(saved.tasks()[1]->EndPos, 2097151);
            EXPECT_EQ(saved.tasks()[2]->StartPos, 2097152);
        }
    }
    // Every segment request asked for its exact range and got 206.
    for (const auto& r : nginx.requests())
        if (r.method == "GET") {
            EXPECT_EQ(r.status, 206) << r.uri << " " << r.range;
        }
}

TEST_F(DownloadEngine, CompleteFileIsNotFetchedAgain) {
    kvtest::Nginx nginx;
    kvtest::writeRandomFile(nginx.root() / "s.exe", 3670016, 7);
    const fs::path local = out("s.exe");
    ASSERT_EQ(CDownLoadImpl::SuperDownloadFile(nginx.url("/s.exe"), local.string(), onlineWatch()),
              1);
    const size_t before = nginx.requests().size();
    EventReporter::instance().clearEvents();
    int64_t shownDone = -1, shownTotal = -1;
    DownloadWatch watch = onlineWatch();
    watch.showProgress = [&](int64_t done, int64_t total) {
        shownDone = done;
        shownTotal = total;
    };
    EXPECT_EQ(CDownLoadImpl::SuperDownloadFile(nginx.url("/s.exe"), local.string(), watch), 1);
    for (size_t i = before; i < nginx.requests().size(); ++i)
        EXPECT_EQ(nginx.requests()[i].method, "HEAD") << "only the probes ask the server";
    EXPECT_EQ(shownDone, 3670016);
    EXPECT_EQ(shownTotal, 3670016);
    for (const auto& e : EventReporter::instance().events())
        EXPECT_NE(e.category, "DownloadSpeed");
    EXPECT_EQ(md5(local), md5(nginx.root() / "s.exe"));
}

TEST_F(DownloadEngine, LocalFileOfAnotherSizeStartsOver) {
    kvtest::Nginx nginx;
    kvtest::writeRandomFile(nginx.root() / "s.exe", 2 * 1048576 + 5, 3);
    const fs::path local = out("s.exe");
    kvtest::writeFile(local, std::string(12345, 'z'));
    kvtest::writeFile(local.string() + ".xml", "<TaskInfo><TasksCount>1</TasksCount></TaskInfo>");
    ASSERT_EQ(CDownLoadImpl::SuperDownloadFile(nginx.url("/s.exe"), local.string(), onlineWatch()),
              1);
    EXPECT_EQ(md5(local), md5(nginx.root() / "s.exe"));
}

TEST_F(DownloadEngine, RedirectChainIsFollowedByTheProbeAndTasksUseTheEnd) {
    kvtest::Nginx nginx({"",
                         "    location = /a.exe { return 302 /b.exe; }\n"
                         "    location = /b.exe { return 302 /c.exe; }\n"});
    kvtest::writeRandomFile(nginx.root() / "c.exe", 3 * 1048576, 11);
    CDownloadTaskManager manager(nginx.url("/a.exe"), out("c.exe").string(),
                                 out("c.exe.xml").string());
    ASSERT_EQ(manager.generateDownloadTask(""), kSuccess);
    EXPECT_EQ(manager.url(), nginx.url("/c.exe"));
    for (const auto& t : manager.tasks())
        EXPECT_EQ(t->RemotePath, nginx.url("/c.exe"));
    // The first fetch follows the chain itself; the probe then asks B and C again.
    std::vector<std::string> heads;
    for (const auto& r : nginx.requests())
        if (r.method == "HEAD")
            heads.push_back(r.uri);
    EXPECT_EQ(heads, (std::vector<std::string>{"/a.exe", "/b.exe", "/c.exe", "/b.exe", "/c.exe",
                                               "/c.exe"}));
}

TEST_F(DownloadEngine, ProbeFailuresAreCountedInTheSizeEvent) {
    kvtest::Nginx nginx;
    CDownloadTaskManager manager(nginx.url("/missing.exe"), out("m.exe").string(),
                                 out("m.exe.xml").string());
    EXPECT_EQ(manager.generateDownloadTask("Download"), kNoContentLength)
        << "the length of a 404 page is not a file length";
    const auto events = EventReporter::instance().events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], (ReportedEvent{"GetSize", "Download",
                                        "error:0/error:0/error:0/error:0/error:0", false}));
}

// Task files are never trusted: anything but the generator's layout for the current length is
// rebuilt, and a rebuilt table downloads the right file.
TEST_F(DownloadEngine, BadTaskFilesAreRebuilt) {
    kvtest::Nginx nginx;
    kvtest::writeRandomFile(nginx.root() / "t.exe", 3670016, 5);
    const fs::path local = out("t.exe");
    const std::string taskFile = local.string() + ".xml";
    ASSERT_EQ(CDownLoadImpl::SuperDownloadFile(nginx.url("/t.exe"), local.string(), onlineWatch()),
              1);
    const std::string good = kvtest::readFile(taskFile);

    auto replaceFirst = [&](std::string text, const std::string& from, const std::string& to) {
        const auto at = text.find(from);
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    struct Case {
        const char* name;
        std::string content;
    } cases[] = {
        {"truncated", good.substr(0, good.size() / 2)},
        {"not xml", "this is not a task file"},
        {"empty", ""},
        {"length changed", replaceFirst(good, "<ContentLength>3670016", "<ContentLength>3670017")},
        {"gap", replaceFirst(good, "<StartPos>1048576</StartPos>", "<StartPos>1048577</StartPos>")},
        {"out of order",
         replaceFirst(replaceFirst(good, "<TaskId>1</TaskId>", "<TaskId>9</TaskId>"),
                      "<TaskId>2</TaskId>", "<TaskId>1</TaskId>")},
        {"last end short",
         replaceFirst(good, "<EndPos>3670016</EndPos>", "<EndPos>3670015</EndPos>")},
        {"position past its task", replaceFirst(good, "<DownloadedPos>1048575</DownloadedPos>",
                                                "<DownloadedPos>2000000</DownloadedPos>")},
        {"validator changed", replaceFirst(good, "<ETag>\"", "<ETag>\"x")},
    };
    for (const auto& c : cases) {
        kvtest::writeFile(taskFile, c.content);
        // A fresh file per case: the logger keeps a file open across reconfigurations.
        const fs::path log = out(std::string("load-") + std::to_string(&c - cases) + ".log");
        kvlog::configureLogging(log);
        CDownloadTaskManager manager(nginx.url("/t.exe"), local.string(), taskFile);
        EXPECT_EQ(manager.loadDownloadTask(""), kSuccess) << c.name;
        kvlog::configureLogging();
        EXPECT_NE(kvtest::readFile(log).find(" taskinfo file error"), std::string::npos) << c.name;
        ASSERT_EQ(manager.tasks().size(), 3u) << c.name;
        for (const auto& t : manager.tasks())
            EXPECT_EQ(t->TaskStatus, 0) << c.name << ": rebuilt, nothing trusted";
    }
    // A sound file resumes, restoring the download time of the earlier runs.
    kvtest::writeFile(taskFile,
                      std::regex_replace(good, std::regex("<DownloadTime>[0-9]+</DownloadTime>"),
                                         "<DownloadTime>987654</DownloadTime>"));
    CDownloadTaskManager manager(nginx.url("/t.exe"), local.string(), taskFile);
    EXPECT_EQ(manager.loadDownloadTask(""), kSuccess);
    EXPECT_TRUE(manager.isAllTaskFinished());
    EXPECT_EQ(manager.getTotalRequestTimes(), 0) << "request counts restart at 0";
    EXPECT_EQ(manager.DownloadTime, 987654);

    // A local file that is not the table's length was not written by this table.
    fs::resize_file(local, 3670016 - 1);
    CDownloadTaskManager shortFile(nginx.url("/t.exe"), local.string(), taskFile);
    EXPECT_EQ(shortFile.loadDownloadTask(""), kSuccess);
    EXPECT_FALSE(shortFile.isAllTaskFinished()) << "rebuilt";
}

TEST_F(DownloadEngine, NoNetworkStopsWithMinusTwo) {
    kvtest::Nginx nginx;
    kvtest::writeRandomFile(nginx.root() / "n.exe", 2 * 1048576, 9);
    DownloadWatch watch = onlineWatch();
    watch.isNetworkAlive = [] { return false; };
    EXPECT_EQ(CDownLoadImpl::SuperDownloadFile(nginx.url("/n.exe"), out("n.exe").string(), watch),
              -2);
}

KV_TEST_CHILD(download) {
    setenv("KV_SYNC_DIR", args[2].c_str(), 1);
    DownloadWatch watch = onlineWatch();
    if (args.size() > 3)
        watch.workers = std::stoi(args[3]);
    return CDownLoadImpl::SuperDownloadFile(args[0], args[1], watch) == 1 ? 0 : 1;
}

// Killed early (the file's end not yet there), a download resumes from its task file: the next
// run fetches what the task file lacked, plus at most one segment per worker, never the whole
// file again; and it ends byte-exact.
TEST_F(DownloadEngine, KilledDownloadResumesFromItsTaskFile) {
    const int64_t size = 12 * kMiB + kMiB / 2;
    kvtest::Nginx first(slowEnd(size));
    kvtest::writeRandomFile(first.root() / "k.exe", size, 21);
    const fs::path local = out("k.exe");
    const fs::path taskFile = local.string() + ".xml";
    const std::string sync = (m_work.path() / "sync").string();
    const pid_t child =
        kvtest::spawnChild("download", {first.url("/k.exe"), local.string(), sync, "2"});
    const bool progressed = waitForSavedProgress(taskFile, size / 2);
    kill(child, SIGKILL);
    kvtest::waitChild(child, 10000);
    ASSERT_TRUE(progressed) << "the task file never showed half the file";
    const int64_t saved = savedProgress(taskFile);
    ASSERT_LT(saved, size) << "killed before the end";

    // The same file from a second server, so that its log holds only the resumed run.
    kvtest::Nginx second;
    kvtest::writeRandomFile(second.root() / "k.exe", size, 21);
    fs::last_write_time(second.root() / "k.exe", fs::last_write_time(first.root() / "k.exe"));
    DownloadWatch watch = onlineWatch();
    watch.workers = 2;
    ASSERT_EQ(CDownLoadImpl::SuperDownloadFile(second.url("/k.exe"), local.string(), watch), 1);
    EXPECT_EQ(md5(local), md5(second.root() / "k.exe"));
    EXPECT_LE(bytesOfGets(second), size - saved + 2 * kMiB) << "saved progress: " << saved;
}

// Links planted under the names the engine writes (the file itself, the task file's temporary
// name, the MD5 record) are never written through.
TEST_F(DownloadEngine, PlantedLinksAreNotWrittenThrough) {
    kvtest::Nginx nginx;
    kvtest::writeRandomFile(nginx.root() / "p.exe", 2 * kMiB, 13);
    const fs::path local = out("p.exe");
    const fs::path victim = out("victim");
    const std::string victimBytes(2 * kMiB, 'v');  // as long as the remote file: not stale
    kvtest::writeFile(victim, victimBytes);

    fs::create_symlink(victim, local);
    EXPECT_EQ(CDownLoadImpl::SuperDownloadFile(nginx.url("/p.exe"), local.string(), onlineWatch()),
              -1);
    EXPECT_EQ(kvtest::readFile(victim), victimBytes);

    fs::remove(local);
    fs::create_symlink(victim, local.string() + ".xml.tmp");
    fs::create_symlink(victim, local.string() + ".db");
    ASSERT_EQ(CDownLoadImpl::SuperDownloadFile(nginx.url("/p.exe"), local.string(), onlineWatch()),
              1);
    const std::string digest = md5(nginx.root() / "p.exe");
    EXPECT_EQ(CDownLoadImpl::checkMD5(local.string(), digest, "", "t"), 1);
    EXPECT_EQ(kvtest::readFile(victim), victimBytes);
    EXPECT_EQ(kvtest::readFile(local.string() + ".db"), "t###" + digest);
    EXPECT_FALSE(fs::is_symlink(local.string() + ".db"));
}

// While one download runs, a second one into the same file is refused instead of interleaving.
TEST_F(DownloadEngine, SecondDownloadIntoTheSameFileIsRefused) {
    kvtest::Nginx nginx({"256k", ""});
    kvtest::writeRandomFile(nginx.root() / "d.exe", 8 * 1048576, 4);
    const fs::path local = out("d.exe");
    const std::string sync = (m_work.path() / "sync").string();
    const pid_t first = kvtest::spawnChild("download", {nginx.url("/d.exe"), local.string(), sync});
    // The file appears once the first download holds its lock, which it keeps for seconds.
    for (int i = 0; i < 6000 && !fs::exists(local); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!fs::exists(local)) {
        kill(first, SIGKILL);
        kvtest::waitChild(first, 10000);
        FAIL() << "the first download never created its file";
    }
    EXPECT_EQ(CDownLoadImpl::SuperDownloadFile(nginx.url("/d.exe"), local.string(), onlineWatch()),
              -1);
    EXPECT_EQ(kvtest::waitChild(first, 60000), 0);
    EXPECT_EQ(md5(local), md5(nginx.root() / "d.exe"));
}

// A server file replaced by another of the same size between two runs is detected by its
// validators: the table is rebuilt and the new file arrives whole.
TEST_F(DownloadEngine, ReplacedServerFileOfTheSameSizeIsNotMixedIn) {
    const int64_t size = 12 * kMiB + kMiB / 2;
    kvtest::Nginx nginx(slowEnd(size));
    kvtest::writeRandomFile(nginx.root() / "r.exe", size, 31);
    const fs::path local = out("r.exe");
    const fs::path taskFile = local.string() + ".xml";
    const std::string sync = (m_work.path() / "sync").string();
    const pid_t child = kvtest::spawnChild("download", {nginx.url("/r.exe"), local.string(), sync});
    const bool progressed = waitForSavedProgress(taskFile, 1);
    kill(child, SIGKILL);
    kvtest::waitChild(child, 10000);
    ASSERT_TRUE(progressed);
    ASSERT_LT(savedProgress(taskFile), size);
    // Same size, other bytes, later time stamp (so nginx's ETag changes).
    kvtest::writeRandomFile(nginx.root() / "r.exe", size, 32);
    const auto later = fs::last_write_time(nginx.root() / "r.exe") + std::chrono::seconds(5);
    fs::last_write_time(nginx.root() / "r.exe", later);
    const fs::path log = out("replaced.log");
    kvlog::configureLogging(log);
    const int result =
        CDownLoadImpl::SuperDownloadFile(nginx.url("/r.exe"), local.string(), onlineWatch());
    kvlog::configureLogging();
    ASSERT_EQ(result, 1);
    EXPECT_NE(kvtest::readFile(log).find(" Remote file changed: validators differ"),
              std::string::npos)
        << "the partial file reached the validators";
    EXPECT_EQ(md5(local), md5(nginx.root() / "r.exe"));
}

// A full disk stops the transfer and the file never ends up reported as complete; once there is
// room again the download resumes and ends byte-exact (nothing unwritten was counted as written).
TEST_F(DownloadEngine, FullDiskNeverEndsAsSuccess) {
    const fs::path small = m_work.path() / "small";
    fs::create_directories(small);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=2m") != 0) {
        if (geteuid() == 0)
            FAIL() << "root cannot mount a tmpfs: " << std::strerror(errno);
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    struct Unmount {
        fs::path at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{small};
    kvtest::Nginx nginx;
    kvtest::writeRandomFile(nginx.root() / "big.exe", 5 * kMiB, 8);
    DownloadWatch watch = onlineWatch();
    watch.stallMs = 1500;
    watch.noSpeedEventMs = 500;
    const std::string local = (small / "big.exe").string();
    EXPECT_NE(CDownLoadImpl::SuperDownloadFile(nginx.url("/big.exe"), local, watch), 1);
    EXPECT_NE(md5(local), md5(nginx.root() / "big.exe"));

    ASSERT_EQ(mount("tmpfs", small.c_str(), "tmpfs", MS_REMOUNT, "size=16m"), 0)
        << std::strerror(errno);
    EXPECT_EQ(CDownLoadImpl::SuperDownloadFile(nginx.url("/big.exe"), local, watch), 1);
    EXPECT_EQ(md5(local), md5(nginx.root() / "big.exe"));
}

KV_TEST_CHILD(download_small_files) {
    setenv("KV_SYNC_DIR", args[2].c_str(), 1);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{2 * 1048576, 2 * 1048576};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        return 100;
    DownloadWatch watch = onlineWatch();
    watch.stallMs = 1500;
    return 10 + CDownLoadImpl::SuperDownloadFile(args[0], args[1], watch);
}

// A file that cannot be given the remote file's length is refused before any segment is fetched.
TEST_F(DownloadEngine, FileThatCannotHoldTheLengthIsRefused) {
    kvtest::Nginx nginx;
    kvtest::writeRandomFile(nginx.root() / "big.exe", 5 * kMiB, 8);
    const std::string sync = (m_work.path() / "sync").string();
    const pid_t child = kvtest::spawnChild("download_small_files",
                                           {nginx.url("/big.exe"), out("big.exe").string(), sync});
    EXPECT_EQ(kvtest::waitChild(child, 60000), 10 - 1);
    EXPECT_EQ(bytesOfGets(nginx), 0);
}

}  // namespace
