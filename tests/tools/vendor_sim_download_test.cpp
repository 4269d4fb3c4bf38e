// vendor-sim's download service as a downloading client sees it: libcurl with verification
// on, through the sim's CA and connect-to rules; ranges checked byte for byte.

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <strings.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim_client.h"
#include "test_support.h"
#include "vendor_sim_runner.h"

namespace fs = std::filesystem;
using kvtest::VendorSim;

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kSize = 3 * kMiB + kMiB / 2;  // 3670016
const std::string kServer = "https://download.kestrova.example";

using Call = kvtest::SimCall;
using Answer = kvtest::SimAnswer;
using kvtest::fetch;

Answer head(const VendorSim& sim, const std::string& url) {
    return fetch(sim, {url, {}, true});
}

Answer getRange(const VendorSim& sim, const std::string& url, const std::string& range) {
    return fetch(sim, {url, {"Range: " + range}});
}

// Bytes with no short period, so a body shifted by any offset does not compare equal.
std::string patterned(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t x = seed | 1;
    for (char& byte : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<char>(x >> 24);
    }
    return bytes;
}

void setMtime(const fs::path& file, std::time_t seconds) {
    fs::last_write_time(
        file, std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(seconds)));
}

// A source file and a sim whose "download" section serves it as /f.exe with `entryMembers`.
class DownloadSim : public ::testing::Test {
protected:
    void SetUp() override {
        m_content = patterned(kSize, 7);
        kvtest::writeFile(source(), m_content);
        setMtime(source(), 1796000000);
    }

    fs::path source() const { return m_dir.path() / "source.bin"; }

    std::string fixture(const std::string& entryMembers = "") const {
        return R"({ "download": { "files": { "/f.exe": { "source": ")" + source().string() + "\"" +
               (entryMembers.empty() ? "" : ", " + entryMembers) + "} } } }";
    }

    kvtest::TempDir m_dir;
    std::string m_content;
};

TEST_F(DownloadSim, HeadAnnouncesLengthValidatorsAndCdnHeaders) {
    struct Case {
        std::string members;
        std::string etag, lastModified;
        std::optional<std::string> cacheStatus, ray;
        bool lowerCase;
    } cases[] = {
        {R"("etag": "\"v1\"", "last_modified": "Tue, 01 Dec 2026 10:00:00 GMT",
            "cdn": { "cache_status": "HIT", "ray": "7d1c2a3b4c5d6e7f-LAX" })",
         "\"v1\"", "Tue, 01 Dec 2026 10:00:00 GMT", "HIT", "7d1c2a3b4c5d6e7f-LAX", false},
        // Derived like nginx: mtime and size in hex.
        {"", "\"6b0cc900-380000\"", "Mon, 30 Nov 2026 00:53:20 GMT", std::nullopt, std::nullopt,
         false},
        {R"("cdn": { "ray": "r-1" }, "faults": [ { "mode": "lowercase-headers", "method": "HEAD" } ])",
         "\"6b0cc900-380000\"", "Mon, 30 Nov 2026 00:53:20 GMT", std::nullopt, "r-1", true},
    };
    VendorSim sim("{}");
    for (const auto& c : cases) {
        sim.setFixture(fixture(c.members));
        Answer answer = head(sim, kServer + "/f.exe");
        ASSERT_EQ(answer.code, CURLE_OK) << c.members;
        EXPECT_EQ(answer.status, 200) << c.members;
        EXPECT_TRUE(answer.body.empty());
        EXPECT_EQ(answer.header("Content-Length"), std::to_string(kSize)) << c.members;
        EXPECT_EQ(answer.header("Accept-Ranges"), "bytes") << c.members;
        EXPECT_EQ(answer.header("ETag"), c.etag) << c.members;
        EXPECT_EQ(answer.header("Last-Modified"), c.lastModified) << c.members;
        EXPECT_EQ(answer.header("CF-Cache-Status"), c.cacheStatus) << c.members;
        EXPECT_EQ(answer.header("CF-RAY"), c.ray) << c.members;
        EXPECT_EQ(answer.namesAreLowerCase(), c.lowerCase) << c.members;
    }
}

TEST_F(DownloadSim, RangedGetsAnswerExactBytes) {
    VendorSim sim(fixture());
    struct Case {
        std::optional<std::string> range;
        long status;
        std::optional<std::string> contentRange;
        size_t first = 0, length = 0;  // of the file, expected as the body
        std::string reason = {};       // expected in a 416 body
    } cases[] = {
        {std::nullopt, 200, std::nullopt, 0, kSize},
        {"bytes=0-1048575", 206, "bytes 0-1048575/3670016", 0, kMiB},
        {"bytes=1048576-2097151", 206, "bytes 1048576-2097151/3670016", kMiB, kMiB},
        {"bytes=3145728-4194303", 206, "bytes 3145728-3670015/3670016", 3 * kMiB, kMiB / 2},
        {"bytes=3670015-3670015", 206, "bytes 3670015-3670015/3670016", kSize - 1, 1},
        {"bytes=3000000-", 206, "bytes 3000000-3670015/3670016", 3000000, kSize - 3000000},
        {"bytes=-100", 206, "bytes 3669916-3670015/3670016", kSize - 100, 100},
        {"bytes=-99999999", 206, "bytes 0-3670015/3670016", 0, kSize},
        {"bytes=0-1,5-6", 200, std::nullopt, 0, kSize},  // several ranges: the whole body
        {"bytes=3670016-3670020", 416, "bytes */3670016", 0, 0, "at or after the end"},
        {"bytes=4000000-", 416, "bytes */3670016", 0, 0, "at or after the end"},
        {"bytes=-0", 416, "bytes */3670016", 0, 0, "selects no byte"},
        {"bytes=-", 416, "bytes */3670016", 0, 0, "neither"},
        // Refused before the service sees them, still logged and explained.
        {"bytes=5-2", 416, std::nullopt, 0, 0, "\"bytes=5-2\" is not"},
        {"bytes=abc", 416, std::nullopt, 0, 0, "is not"},
        {"items=0-1", 416, std::nullopt, 0, 0, "is not"},
        {"bytes=99999999999999999999-", 416, std::nullopt, 0, 0, "is not"},
    };
    for (const auto& c : cases) {
        const std::string label = c.range.value_or("no Range");
        Answer answer = c.range ? getRange(sim, kServer + "/f.exe", *c.range)
                                : fetch(sim, {kServer + "/f.exe"});
        ASSERT_EQ(answer.code, CURLE_OK) << label;
        EXPECT_EQ(answer.status, c.status) << label;
        EXPECT_EQ(answer.header("Content-Range"), c.contentRange) << label;
        EXPECT_EQ(answer.header("Content-Length"), std::to_string(answer.body.size())) << label;
        if (c.status == 416)
            EXPECT_NE(answer.body.find(c.reason), std::string::npos)
                << label << ": " << answer.body;
        else
            EXPECT_TRUE(answer.body == m_content.substr(c.first, c.length)) << label;
    }
    auto log = sim.requests();
    ASSERT_EQ(log.size(), std::size(cases));
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i]["status"].asInt(), cases[i].status) << i;
        EXPECT_EQ(log[i]["headers"]["Range"].asString(), cases[i].range.value_or("")) << i;
    }
}

TEST_F(DownloadSim, ParallelSegmentsReassembleTheFile) {
    VendorSim sim(fixture());
    constexpr size_t kSegments = 10;
    const size_t segment = (kSize + kSegments - 1) / kSegments;
    std::vector<Answer> answers(kSegments);
    std::vector<std::thread> workers;
    for (size_t i = 0; i < kSegments; ++i)
        workers.emplace_back([&, i] {
            std::string range = "bytes=" + std::to_string(i * segment) + "-" +
                                std::to_string(std::min(kSize, (i + 1) * segment) - 1);
            answers[i] = getRange(sim, "https://cdn.kestrova.example/f.exe", range);
        });
    for (auto& worker : workers)
        worker.join();
    std::string joined;
    for (const auto& answer : answers) {
        EXPECT_EQ(answer.code, CURLE_OK);
        EXPECT_EQ(answer.status, 206);
        joined += answer.body;
    }
    EXPECT_TRUE(joined == m_content);
}

// The cap holds for all connections together: parallel segments share one line's speed, so
// the whole file cannot arrive sooner than its size over the cap, and arrives intact.
TEST_F(DownloadSim, RateLimitCapsParallelSegmentsTogether) {
    constexpr size_t kCap = 2 * kMiB;
    VendorSim sim(fixture(), {"--rate-limit", "2m"});
    constexpr size_t kSegments = 4;
    const size_t segment = (kSize + kSegments - 1) / kSegments;
    std::vector<Answer> answers(kSegments);
    std::vector<std::thread> workers;
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < kSegments; ++i)
        workers.emplace_back([&, i] {
            std::string range = "bytes=" + std::to_string(i * segment) + "-" +
                                std::to_string(std::min(kSize, (i + 1) * segment) - 1);
            answers[i] = fetch(sim, {kServer + "/f.exe", {"Range: " + range}, false, 30000});
        });
    for (auto& worker : workers)
        worker.join();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    std::string joined;
    for (const auto& answer : answers) {
        EXPECT_EQ(answer.code, CURLE_OK);
        joined += answer.body;
    }
    EXPECT_TRUE(joined == m_content);
    // The first pieces go out at once; everything after them waits for the line.
    const auto least = std::chrono::milliseconds(1000 * (kSize - kMiB) / kCap);
    EXPECT_GE(elapsed, least);
    EXPECT_LT(elapsed, std::chrono::seconds(25));
}

TEST_F(DownloadSim, RedirectChainIsFollowedToTheFile) {
    VendorSim sim(R"({ "download": {
        "files": { "files.kestrova.example/c.exe": { "source": ")" +
                  source().string() + R"(" } },
        "redirects": { "/a.exe": "/b.exe", "/b.exe": "https://files.kestrova.example/c.exe",
                       "cdn.kestrova.example/a.exe": { "location": "/moved.exe", "status": 301,
                           "faults": [ { "mode": "lowercase-headers" } ] } } } })");
    Answer followed = fetch(sim, {kServer + "/a.exe", {}, true, 10000, true});
    ASSERT_EQ(followed.code, CURLE_OK);
    EXPECT_EQ(followed.status, 200);
    EXPECT_EQ(followed.header("Content-Length"), std::to_string(kSize));
    auto log = sim.requests();
    ASSERT_EQ(log.size(), 3u);
    const char* const hops[][3] = {{"download.kestrova.example", "/a.exe", "302"},
                                   {"download.kestrova.example", "/b.exe", "302"},
                                   {"files.kestrova.example", "/c.exe", "200"}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(log[i]["method"].asString(), "HEAD");
        EXPECT_EQ(log[i]["host"].asString(), hops[i][0]);
        EXPECT_EQ(log[i]["path"].asString(), hops[i][1]);
        EXPECT_EQ(std::to_string(log[i]["status"].asInt()), hops[i][2]);
    }

    // A host's own entry wins over the shared one; the file is on its host only.
    Answer own = fetch(sim, {"https://cdn.kestrova.example/a.exe"});
    EXPECT_EQ(own.status, 301);
    EXPECT_EQ(own.header("Location"), "/moved.exe");
    EXPECT_TRUE(own.namesAreLowerCase());
    EXPECT_EQ(fetch(sim, {kServer + "/b.exe"}).header("Location"),
              "https://files.kestrova.example/c.exe");
    EXPECT_EQ(head(sim, kServer + "/c.exe").status, 404);
}

TEST_F(DownloadSim, HeaderFaultsAsTheClientSeesThem) {
    struct Case {
        std::string fault;
        bool head;
        long status;
        std::vector<std::pair<std::string, std::optional<std::string>>> headers;
        bool lowerCase = false;
    } cases[] = {
        {R"({ "mode": "ignore-range" })",
         false,
         200,
         {{"Content-Range", std::nullopt}, {"Content-Length", std::to_string(kSize)}}},
        {R"({ "mode": "wrong-total" })", false, 206, {{"Content-Range", "bytes 0-99/3670017"}}},
        {R"({ "mode": "wrong-total", "total": 5 })",
         false,
         206,
         {{"Content-Range", "bytes 0-99/5"}}},
        {R"({ "mode": "no-slash" })", false, 206, {{"Content-Range", "bytes 0-99"}}},
        {R"({ "mode": "lowercase-headers" })",
         false,
         206,
         {{"content-range", "bytes 0-99/3670016"}, {"content-length", "100"}},
         true},
        {R"({ "mode": "http-error" })", false, 503, {{"Content-Range", std::nullopt}}},
        {R"({ "mode": "http-error", "status": 404, "method": "any" })",
         true,
         404,
         {{"ETag", std::nullopt}}},
        {R"({ "mode": "length", "value": 1000 })", true, 200, {{"Content-Length", "1000"}}},
        // A HEAD fault leaves GETs alone.
        {R"({ "mode": "length", "value": 1000 })", false, 206, {{"Content-Length", "100"}}},
    };
    VendorSim sim("{}");
    for (const auto& c : cases) {
        sim.setFixture(fixture(R"("faults": [ )" + c.fault + " ]"));
        Answer answer = fetch(sim, {kServer + "/f.exe", {"Range: bytes=0-99"}, c.head});
        ASSERT_EQ(answer.code, CURLE_OK) << c.fault;
        EXPECT_EQ(answer.status, c.status) << c.fault;
        for (const auto& [name, value] : c.headers)
            EXPECT_EQ(answer.header(name), value) << c.fault << " " << name;
        EXPECT_EQ(answer.namesAreLowerCase(), c.lowerCase) << c.fault;
        if (c.status == 206) {
            EXPECT_TRUE(answer.body == m_content.substr(0, 100)) << c.fault;
        } else if (c.status == 200 && !c.head) {
            EXPECT_TRUE(answer.body == m_content) << c.fault;
        }
    }
}

TEST_F(DownloadSim, BodyFaultsAsTheClientSeesThem) {
    enum class Ends { Clean, Broken, TimedOut };
    struct Case {
        std::string fault;
        std::string range;
        long timeoutMs;
        Ends ends;
        size_t bytes;  // received before the end; 0 = any count below the range
        long minMs, maxMs;
    } cases[] = {
        {R"({ "mode": "reset" })", "bytes=0-1048575", 10000, Ends::Broken, kMiB / 2, 0, 5000},
        {R"({ "mode": "reset", "after_bytes": 1000 })", "", 10000, Ends::Broken, 1000, 0, 5000},
        {R"({ "mode": "stall", "after_bytes": 1000, "stall_ms": 300, "then": "close" })",
         "bytes=0-99999", 10000, Ends::Broken, 1000, 250, 5000},
        {R"({ "mode": "stall", "after_bytes": 1000, "stall_ms": 300 })", "bytes=0-99999", 10000,
         Ends::Clean, 100000, 250, 5000},
        {R"({ "mode": "stall", "after_bytes": 1000, "stall_ms": 10000 })", "bytes=0-99999", 400,
         Ends::TimedOut, 1000, 350, 3000},
        {R"({ "mode": "slow", "bytes_per_second": 200000 })", "bytes=0-99999", 10000, Ends::Clean,
         100000, 400, 5000},
        // The 1 MiB segment would take 21 s at this rate: far beyond the client's patience.
        {R"({ "mode": "slow", "bytes_per_second": 50000 })", "bytes=0-1048575", 500, Ends::TimedOut,
         0, 450, 3000},
    };
    VendorSim sim("{}");
    for (const auto& c : cases) {
        sim.setFixture(fixture(R"("faults": [ )" + c.fault + " ]"));
        Call call{kServer + "/f.exe", {}, false, c.timeoutMs};
        if (!c.range.empty())
            call.headers.push_back("Range: " + c.range);
        Answer answer = fetch(sim, call);
        if (c.ends == Ends::Clean)
            EXPECT_EQ(answer.code, CURLE_OK) << c.fault;
        else if (c.ends == Ends::TimedOut)
            EXPECT_EQ(answer.code, CURLE_OPERATION_TIMEDOUT) << c.fault;
        else  // over TLS a cut shows as a short body or as a truncated record
            EXPECT_TRUE(answer.code == CURLE_PARTIAL_FILE || answer.code == CURLE_RECV_ERROR)
                << c.fault << ": " << curl_easy_strerror(answer.code);
        if (c.bytes > 0)
            EXPECT_EQ(answer.body.size(), c.bytes) << c.fault;
        else
            EXPECT_GT(answer.body.size(), 0u) << c.fault;
        EXPECT_LT(answer.body.size(), c.ends == Ends::Clean ? c.bytes + 1 : kMiB) << c.fault;
        EXPECT_TRUE(answer.body == m_content.substr(0, answer.body.size())) << c.fault;
        EXPECT_GE(answer.elapsedMs, c.minMs) << c.fault;
        EXPECT_LE(answer.elapsedMs, c.maxMs) << c.fault;
    }
}

TEST_F(DownloadSim, StalledHeadOutlastsTheClientAndNotTheSim) {
    VendorSim sim(fixture(R"("faults": [ { "mode": "stall", "method": "any", "after_bytes": 0,
                                          "stall_ms": 60000 } ])"));
    EXPECT_EQ(fetch(sim, {kServer + "/f.exe", {}, true, 300}).code, CURLE_OPERATION_TIMEDOUT);
    Answer get = fetch(sim, {kServer + "/f.exe", {}, false, 300});
    EXPECT_EQ(get.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(get.status, 200) << "headers first, then silence";
    auto stopStart = std::chrono::steady_clock::now();
    EXPECT_EQ(sim.stop(), 0) << sim.output();
    EXPECT_LT(std::chrono::steady_clock::now() - stopStart, std::chrono::seconds(4));
}

TEST_F(DownloadSim, RequestWindowsCountGetsAndHeadsApartPerFixture) {
    const std::string windows = fixture(R"("faults": [
        { "mode": "http-error", "requests": [1, 2] },
        { "mode": "http-error", "status": 500, "method": "HEAD", "requests": [2, 2] } ])");
    VendorSim sim(windows);
    struct Step {
        bool head;
        long status;
    } steps[] = {{false, 503}, {true, 200}, {false, 503}, {true, 500}, {false, 206}, {true, 200}};
    for (const auto& step : steps)
        EXPECT_EQ(fetch(sim, {kServer + "/f.exe", {"Range: bytes=0-9"}, step.head}).status,
                  step.status);
    sim.setFixture(windows);  // a reloaded fixture counts from 1 again
    EXPECT_EQ(getRange(sim, kServer + "/f.exe", "bytes=0-9").status, 503);
}

TEST_F(DownloadSim, ReplacedSourceChangesLengthAndValidators) {
    VendorSim sim(fixture());
    Answer before = head(sim, kServer + "/f.exe");
    EXPECT_EQ(before.header("Content-Length"), std::to_string(kSize));

    const std::string shorter = patterned(kMiB + 17, 11);
    kvtest::writeFile(m_dir.path() / "next.bin", shorter);
    setMtime(m_dir.path() / "next.bin", 1797000000);
    fs::rename(m_dir.path() / "next.bin", source());
    Answer after = head(sim, kServer + "/f.exe");
    EXPECT_EQ(after.header("Content-Length"), std::to_string(shorter.size()));
    EXPECT_EQ(after.header("ETag"), "\"6b1c0b40-100011\"");
    EXPECT_EQ(after.header("Last-Modified"), "Fri, 11 Dec 2026 14:40:00 GMT");
    EXPECT_TRUE(fetch(sim, {kServer + "/f.exe"}).body == shorter);

    // Another file of the same size: only the validators tell them apart.
    const fs::path twin = m_dir.path() / "twin.bin";
    kvtest::writeFile(twin, patterned(shorter.size(), 13));
    setMtime(twin, 1797000001);
    sim.setFixture(R"({ "download": { "files": { "/f.exe": { "source": ")" + twin.string() +
                   R"(" } } } })");
    Answer other = head(sim, kServer + "/f.exe");
    EXPECT_EQ(other.header("Content-Length"), std::to_string(shorter.size()));
    EXPECT_EQ(other.header("ETag"), "\"6b1c0b41-100011\"");

    fs::remove(twin);
    Answer gone = head(sim, kServer + "/f.exe");
    EXPECT_EQ(gone.status, 404);
}

TEST_F(DownloadSim, HostsMethodsAndUnknownPaths) {
    VendorSim sim(fixture());
    for (const char* host : {"download", "files", "cdn", "dl"})
        EXPECT_EQ(head(sim, std::string("https://") + host + ".kestrova.example/f.exe").status, 200)
            << host;
    EXPECT_EQ(head(sim, "https://update.kestrova.example/f.exe").status, 404);
    EXPECT_EQ(head(sim, kServer + "/F.exe").status, 404);
    Answer remove = fetch(sim, {kServer + "/f.exe", {}, false, 10000, false, "DELETE"});
    EXPECT_EQ(remove.status, 405);
    EXPECT_EQ(remove.header("Allow"), "GET, HEAD");

    // A fixture that lists hosts for another service keeps the download defaults; one that
    // lists download hosts plays only those.
    sim.setFixture(R"({ "hosts": { "updates.vendor-alt.example": "update" }, )" +
                   fixture().substr(1));
    EXPECT_EQ(head(sim, kServer + "/f.exe").status, 200);
    sim.setFixture(R"({ "hosts": { "mirror.kestrova.example": "download" }, )" +
                   fixture().substr(1));
    EXPECT_EQ(head(sim, "https://mirror.kestrova.example/f.exe").status, 200);
    EXPECT_EQ(head(sim, kServer + "/f.exe").status, 404);
}

TEST_F(DownloadSim, BadSectionsExitWith2AndAreRefusedOnReload) {
    const std::string src = source().string();
    auto file = [&src](const std::string& members) {
        return R"({ "download": { "files": { "/f.exe": { "source": ")" + src + "\"" + members +
               " } } } }";
    };
    const std::vector<kvtest::RefusedFixture> cases = {
        {R"({ "download": [] })", "download: must be an object"},
        {R"({ "download": { "file": {} } })", "unknown member \"file\""},
        {R"({ "download": { "files": { "f.exe": {} } } })", "\"/path\" or \"host/path\""},
        {R"({ "download": { "files": { "/a?b": {} } } })", "no query"},
        {R"({ "download": { "files": { "/f.exe": {} } } })", "\"source\" must be the absolute"},
        {R"({ "download": { "files": { "/f.exe": { "source": "rel.bin" } } } })", "absolute"},
        {R"({ "download": { "files": { "/f.exe": { "source": "/no/such/file" } } } })",
         "cannot open /no/such/file"},
        {file(R"(, "etag": 5)"), "\"etag\" must be a string"},
        {file(R"(, "etag": "a\r\nX-Injected: 1")"), "control characters"},
        {file(R"(, "cdn": { "ray": "x", "pop": "LAX" })"), "cdn: unknown member \"pop\""},
        {file(R"(, "faults": {})"), "\"faults\" must be an array"},
        {file(R"(, "faults": [ { "mode": "explode" } ])"), "faults[0]: \"mode\" must be one of"},
        {file(R"(, "faults": [ { "mode": "reset", "status": 500 } ])"), "does not go with"},
        {file(R"(, "faults": [ { "mode": "reset", "method": "HEAD" } ])"), "GET requests only"},
        {file(R"(, "faults": [ { "mode": "length", "value": 1, "method": "any" } ])"),
         "HEAD requests only"},
        {file(R"(, "faults": [ { "mode": "length" } ])"), "needs \"value\""},
        {file(R"(, "faults": [ { "mode": "http-error", "status": 302 } ])"), "400 to 599"},
        {file(R"(, "faults": [ { "mode": "slow", "bytes_per_second": 0 } ])"), "1 or more"},
        {file(R"(, "faults": [ { "mode": "reset", "after_bytes": -1 } ])"), "after_bytes"},
        {file(R"(, "faults": [ { "mode": "stall", "stall_ms": 60001 } ])"), "0 to 60000"},
        {file(R"(, "faults": [ { "mode": "stall", "then": "wait" } ])"), "\"then\" must be"},
        {file(R"(, "faults": [ { "mode": "http-error", "requests": [2, 1] } ])"),
         "1 <= first <= last"},
        {file(R"(, "faults": [ { "mode": "http-error", "method": "get" } ])"), "\"method\""},
        {R"({ "download": { "redirects": { "/a": "" } } })", "non-empty"},
        {R"({ "download": { "redirects": { "/a": { "location": "/b", "status": 200 } } } })",
         "301, 302, 303, 307 or 308"},
        {R"({ "download": { "redirects": { "/a": { "location": "/b",
              "faults": [ { "mode": "reset" } ] } } } })",
         "lowercase-headers, http-error"},
        {R"({ "download": { "files": { "/a": { "source": ")" + src +
             R"(" } }, "redirects": { "/a": "/b" } } })",
         "both a file and a redirect"},
    };
    kvtest::expectFixturesRefused(cases);

    VendorSim sim(fixture());
    EXPECT_THROW(sim.setFixture(cases[12].fixture), std::runtime_error);
    EXPECT_EQ(head(sim, kServer + "/f.exe").status, 200) << "the previous fixture stays";
}

}  // namespace
