#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "DownLoadImpl.h"
#include "Logging.h"
#include "nginx_runner.h"
#include "report/EventReporter.h"
#include "test_support.h"
#include "vendor_sim_runner.h"

namespace {

// Fault modes of the download server: each ends with a byte-exact file or with the result code
// that names the failure, never with a wrong byte reported as success.
class DownloadFaults : public ::testing::Test {
protected:
    void SetUp() override {
        kvtest::writeRandomFile(m_dir.path() / "src.bin", m_size, 77);
        m_syncDir.emplace("KV_SYNC_DIR", m_dir.path().c_str());
    }

    std::string fixture(const std::string& faults) const {
        return R"({ "download": { "files": { "/f.exe": { "source": ")" +
               (m_dir.path() / "src.bin").string() + R"(", "faults": )" + faults + " } } } }";
    }
    // Starts a sim serving src.bin with `faults` (or gives the running one the new faults, which
    // restarts its request counts) and downloads from it.
    int download(const std::string& faults, const std::string& host, DownloadWatch watch,
                 const std::string& out) {
        if (m_sim) {
            m_sim->setFixture(fixture(faults));
        } else {
            m_sim = std::make_unique<kvtest::VendorSim>(fixture(faults));
            m_connectTo.emplace("KV_CONNECT_TO", m_sim->connectTo().c_str());
            m_caBundle.emplace("KV_CA_BUNDLE", m_sim->caBundle().c_str());
        }
        watch.isNetworkAlive = [] { return true; };
        return CDownLoadImpl::SuperDownloadFile("https://" + host + "/f.exe",
                                                (m_dir.path() / out).string(), watch);
    }
    // GET requests the running sim has answered since it started.
    size_t gets() const {
        size_t gets = 0;
        for (const auto& r : m_sim->requests())
            if (r["method"].asString() == "GET")
                ++gets;
        return gets;
    }
    std::string md5(const std::string& name) {
        return CDownLoadImpl::md5OfFile((m_dir.path() / name).string());
    }

    kvtest::TempDir m_dir;
    std::optional<kvtest::ScopedEnv> m_syncDir;
    std::optional<kvtest::ScopedEnv> m_connectTo;
    std::optional<kvtest::ScopedEnv> m_caBundle;
    int64_t m_size = 2 * 1048576 + 4321;
    std::unique_ptr<kvtest::VendorSim> m_sim;
};

TEST_F(DownloadFaults, RecoverableFaultsEndByteExact) {
    struct Case {
        const char* name;
        std::string faults;
    } cases[] = {
        {"range ignored", R"([{ "mode": "ignore-range", "requests": [1, 3] }])"},
        {"wrong total", R"([{ "mode": "wrong-total", "requests": [1, 3] }])"},
        {"no slash", R"([{ "mode": "no-slash", "requests": [1, 3] }])"},
        {"lower-case names", R"([{ "mode": "lowercase-headers", "method": "any" }])"},
        {"503 answers", R"([{ "mode": "http-error", "status": 503, "requests": [1, 4] }])"},
        {"reset mid-segment",
         R"([{ "mode": "reset", "after_bytes": 300000, "requests": [1, 3] }])"},
    };
    int i = 0;
    for (const auto& c : cases) {
        const std::string out = "out" + std::to_string(i++) + ".exe";
        m_sim.reset();
        EXPECT_EQ(download(c.faults, "download.kestrova.example", {}, out), 1) << c.name;
        EXPECT_EQ(md5(out), md5("src.bin")) << c.name;
    }
}

// Longer than the 10 s request limit: the attempt ends, what arrived stays, the rest follows.
TEST_F(DownloadFaults, SlowSegmentsContinueFromWhereTheyStopped) {
    EXPECT_EQ(download(R"([{ "mode": "slow", "bytes_per_second": 60000, "requests": [1, 2] }])",
                       "download.kestrova.example", {}, "slow.exe"),
              1);
    EXPECT_EQ(md5("slow.exe"), md5("src.bin"));
}

TEST_F(DownloadFaults, StallEndsWithMinusThreeAfterOneNoSpeedEvent) {
    EventReporter::instance().clearEvents();
    DownloadWatch watch;
    watch.noSpeedEventMs = 500;
    watch.stallMs = 2000;
    EXPECT_EQ(
        download(R"([{ "mode": "stall", "after_bytes": 0, "stall_ms": 3000, "then": "close" }])",
                 "download.kestrova.example", watch, "stall.exe"),
        -3);
    int noSpeed = 0;
    for (const auto& e : EventReporter::instance().events())
        if (e.action == "NoDownloadSpeed")
            ++noSpeed;
    EXPECT_EQ(noSpeed, 1);
}

TEST_F(DownloadFaults, FailingCdnEndsWithMinusFour) {
    EXPECT_EQ(download(R"([{ "mode": "http-error", "status": 503 }])", "dl.kestrova.example", {},
                       "cdn.exe"),
              -4);
}

// An old local file of another length whose stale-file probe failed is kept, but the fresh table
// gives it the remote file's length: no old byte past the end survives.
TEST_F(DownloadFaults, FileKeptByAFailedProbeGetsTheRemoteLength) {
    kvtest::writeRandomFile(m_dir.path() / "old.exe", 5 * 1048576, 5);
    const std::filesystem::path log = m_dir.path() / "old.log";
    kvlog::configureLogging(log);
    const int result = download(
        R"([{ "mode": "http-error", "status": 503, "method": "HEAD", "requests": [1, 1] }])",
        "download.kestrova.example", {}, "old.exe");
    kvlog::configureLogging();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::filesystem::file_size(m_dir.path() / "old.exe"), static_cast<uintmax_t>(m_size));
    EXPECT_EQ(md5("old.exe"), md5("src.bin"));
    EXPECT_EQ(kvtest::readFile(log).find("closed while still owned"), std::string::npos)
        << "the per-file lock is released before it is closed";
}

// One failed validation probe cannot tell whether the file changed: the saved table is kept.
TEST_F(DownloadFaults, OneFailedValidationProbeKeepsTheTable) {
    ASSERT_EQ(download("[]", "download.kestrova.example", {}, "kept.exe"), 1);
    const size_t before = gets();
    // The stale-file probe is HEAD 1, the validation probe HEAD 2.
    ASSERT_EQ(
        download(
            R"([{ "mode": "http-error", "status": 503, "method": "HEAD", "requests": [2, 2] }])",
            "download.kestrova.example", {}, "kept.exe"),
        1);
    EXPECT_EQ(gets(), before) << "every segment was already there";
    EXPECT_EQ(md5("kept.exe"), md5("src.bin"));
}

// After a resume, the bytes of the earlier run are not counted as this run's speed.
TEST_F(DownloadFaults, ResumedBytesAreNoSpeedSample) {
    m_size = 20 * 1048576;
    kvtest::writeRandomFile(m_dir.path() / "src.bin", m_size, 78);
    ASSERT_EQ(download("[]", "download.kestrova.example", {}, "r.exe"), 1);
    // Task 1 is to be fetched again; the other 19 MiB are there.
    const std::string taskFile = (m_dir.path() / "r.exe.xml").string();
    std::string text = kvtest::readFile(taskFile);
    const size_t task = text.find("<TaskId>1</TaskId>");
    const size_t begin = text.rfind("<Task>", task);
    const size_t end = text.find("</Task>", task);
    ASSERT_TRUE(task != std::string::npos && begin != std::string::npos &&
                end != std::string::npos);
    std::string block = text.substr(begin, end - begin);
    block = std::regex_replace(block, std::regex("<DownloadedPos>[0-9]+</DownloadedPos>"),
                               "<DownloadedPos>0</DownloadedPos>");
    block = std::regex_replace(block, std::regex("<TaskStatus>1</TaskStatus>"),
                               "<TaskStatus>2</TaskStatus>");
    kvtest::writeFile(taskFile, text.replace(begin, end - begin, block));

    EventReporter::instance().clearEvents();
    const size_t before = gets();
    ASSERT_EQ(download(R"([{ "mode": "slow", "bytes_per_second": 524288 }])",
                       "download.kestrova.example", {}, "r.exe"),
              1);
    EXPECT_EQ(gets(), before + 1);
    EXPECT_EQ(md5("r.exe"), md5("src.bin"));
    std::string highest;
    for (const auto& e : EventReporter::instance().events())
        if (e.action == "DownloadRateMax")
            highest = e.label;
    ASSERT_FALSE(highest.empty());
    // 0.5 MB/s served, in 256 KiB writes; even two writes a few milliseconds apart (a busy
    // machine) stay far below this. The resumed 19 MiB counted as this run's first sample give
    // hundreds or thousands of MB/s.
    EXPECT_LT(std::stod(highest), 100.0) << highest;
}

// However slowly the server answers the probes, set-up ends within its time limit.
TEST_F(DownloadFaults, SetUpEndsWithinItsTimeLimit) {
    DownloadWatch watch;
    watch.setupLimitMs = 1000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(download(R"([{ "mode": "stall", "method": "HEAD", "stall_ms": 40000 }])",
                       "download.kestrova.example", watch, "setup.exe"),
              -1);
    // Unbounded, the five stalled probes would take minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(gets(), 0u);
}

// A stalled segment attempt ends within the stall window, so a stalled download returns -3
// without waiting out a longer attempt limit.
TEST_F(DownloadFaults, StalledAttemptsEndWithinTheStallWindow) {
    DownloadWatch watch;
    watch.noSpeedEventMs = 500;
    watch.stallMs = 1000;
    watch.attemptLimitMs = 60000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(download(R"([{ "mode": "stall", "after_bytes": 0, "stall_ms": 50000 }])",
                       "download.kestrova.example", watch, "stalled.exe"),
              -3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
