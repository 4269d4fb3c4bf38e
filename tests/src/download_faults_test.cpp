#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "DownLoadImpl.h"
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
        setenv("KV_SYNC_DIR", m_dir.path().c_str(), 1);
    }
    void TearDown() override {
        unsetenv("KV_CONNECT_TO");
        unsetenv("KV_CA_BUNDLE");
        unsetenv("KV_SYNC_DIR");
    }

    int download(const std::string& faults, const std::string& host, DownloadWatch watch, const std::string& out) {
        const std::string fixture = R"({ "download": { "files": { "/f.exe": { "source": ")" +
                                    (m_dir.path() / "src.bin").string() + R"(", "faults": )" + faults + " } } } }";
        m_sim = std::make_unique<kvtest::VendorSim>(fixture);
        setenv("KV_CONNECT_TO", m_sim->connectTo().c_str(), 1);
        setenv("KV_CA_BUNDLE", m_sim->caBundle().c_str(), 1);
        watch.isNetworkAlive = [] { return true; };
        return CDownLoadImpl::SuperDownloadFile("https://" + host + "/f.exe", (m_dir.path() / out).string(), watch);
    }
    std::string md5(const std::string& name) { return CDownLoadImpl::md5OfFile((m_dir.path() / name).string()); }

    kvtest::TempDir m_dir;
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
        {"reset mid-segment", R"([{ "mode": "reset", "after_bytes": 300000, "requests": [1, 3] }])"},
    };
    int i = 0;
    for (const auto& c : cases) {
        const std::string out = "out" + std::to_string(i++) + ".exe";
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
    EXPECT_EQ(download(R"([{ "mode": "stall", "after_bytes": 0, "stall_ms": 3000, "then": "close" }])",
                       "download.kestrova.example", watch, "stall.exe"),
              -3);
    int noSpeed = 0;
    for (const auto& e : EventReporter::instance().events())
        if (e.action == "NoDownloadSpeed") ++noSpeed;
    EXPECT_EQ(noSpeed, 1);
}

TEST_F(DownloadFaults, FailingCdnEndsWithMinusFour) {
    EXPECT_EQ(download(R"([{ "mode": "http-error", "status": 503 }])", "dl.kestrova.example", {}, "cdn.exe"), -4);
}

}  // namespace
