// vendor-sim as its clients see it: libcurl with verification on, reaching the vendor's host
// names through the sim's connect-to rules.

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim_client.h"
#include "test_support.h"
#include "vendor_sim_runner.h"

namespace fs = std::filesystem;
using kvtest::VendorSim;

namespace {

const std::string kQuery = "/queryDownloader?LanguageId=1033&SoftWareID=253&SiteID=55";

using Request = kvtest::SimCall;
using Result = kvtest::SimAnswer;
using kvtest::fetch;

Result get(const VendorSim& sim, const std::string& url) {
    return fetch(sim, {url});
}

const std::string kUpdate = "https://update.kestrova.example";

// One reply per product variant the client can ask for.
const char* const kVariantsFixture = R"({
  "update": { "replies": [
    { "match": { "SoftWareID": "253", "SiteID": "55", "package_type": "2" },
      "fields": [["Software_version", "x64"]] },
    { "match": { "SoftWareID": "253", "SiteID": "55", "package_type": null },
      "fields": [["Software_version", "x86"]] },
    { "match": { "SiteID": "54" }, "fields": [["Software_version", "cn-first"]] },
    { "match": { "SiteID": "54" }, "fields": [["Software_version", "cn-second"]] }
  ] } })";

}  // namespace

TEST(VendorSim, AnnouncesPortsRulesAndCaInASourceableFile) {
    VendorSim sim(kVariantsFixture);
    const std::string expectedRules = ":443:127.0.0.1:" + std::to_string(sim.httpsPort()) +
                                      ";:80:127.0.0.1:" + std::to_string(sim.httpPort());
    EXPECT_EQ(sim.connectTo(), expectedRules);
    EXPECT_EQ(sim.caBundle(), (sim.stateDir() / "ca.pem").string());
    EXPECT_NE(sim.output().find("KV_CONNECT_TO=" + expectedRules + "\nREADY=1\n"),
              std::string::npos)
        << sim.output();

    // A shell must read the ";" of the rules as text, not as the end of a command.
    auto sourced = kvtest::runProgram(
        "/bin/sh",
        {"-c", ". \"$0\" && printf '%s|%s|%s' \"$KV_CONNECT_TO\" \"$HTTPS_PORT\" \"$READY\"",
         sim.readyFile().string()});
    EXPECT_EQ(sourced.output, expectedRules + "|" + std::to_string(sim.httpsPort()) + "|1");

    struct stat key {};
    ASSERT_EQ(stat((sim.stateDir() / "server.key").c_str(), &key), 0);
    EXPECT_EQ(key.st_mode & 0777, 0600u);

    EXPECT_EQ(sim.stop(), 0) << sim.output();
    EXPECT_FALSE(fs::exists(sim.readyFile()));
}

TEST(VendorSim, FirstReplyMatchingEveryParameterWins) {
    VendorSim sim(kVariantsFixture);
    struct Case {
        std::string query;
        long status;
        std::string version;
    } cases[] = {
        {"LanguageId=1033&SoftWareID=253&SiteID=55&package_type=2", 200, "x64"},
        {"LanguageId=1033&SoftWareID=253&SiteID=55", 200, "x86"},
        {"SiteID=55&SoftWareID=253", 200, "x86"},  // order of parameters is irrelevant
        {"LanguageId=1033&SoftWareID=253&SiteID=55&package_type=3", 404, ""},
        {"LanguageId=1033&SoftWareID=254&SiteID=55", 404, ""},
        {"LanguageId=1033&SoftWareID=253&SiteID=54&package_type=2", 200, "cn-first"},
        {"SiteID=%35%34", 200, "cn-first"},  // matched on the decoded value
        {"LanguageId=1033&SoftWareID=253&SiteID=56", 404, ""},
        {"", 404, ""},
    };
    for (const auto& c : cases) {
        auto result = get(sim, kUpdate + "/queryDownloader?" + c.query);
        ASSERT_EQ(result.code, CURLE_OK) << c.query;
        EXPECT_EQ(result.status, c.status) << c.query;
        if (c.status == 200) {
            EXPECT_EQ(result.body, "<Downloader><Software_version>" + c.version +
                                       "</Software_version></Downloader>")
                << c.query;
        }
    }
}

TEST(VendorSim, FieldsKeepFixtureOrderAndAreEscaped) {
    VendorSim sim(R"({ "update": { "replies": [ {
        "fields": [["Software_name", "Tom & Jerry <Pro> \"x\" 'y' \u00e9"],
                   ["Downloader_id", "253"],
                   ["Process_name", "app\r\n.exe"],
                   ["Md5", ""]],
        "prefix": "<html>before ", "suffix": " after</html>" } ] } })");
    auto result = get(sim, kUpdate + kQuery);
    ASSERT_EQ(result.code, CURLE_OK);
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.contentType.rfind("text/xml", 0), 0u) << result.contentType;
    EXPECT_EQ(result.body,
              "<html>before <Downloader>"
              "<Software_name>Tom &amp; Jerry &lt;Pro&gt; &quot;x&quot; &apos;y&apos; \xC3\xA9"
              "</Software_name><Downloader_id>253</Downloader_id>"
              "<Process_name>app\r\n.exe</Process_name><Md5></Md5>"
              "</Downloader> after</html>");
}

TEST(VendorSim, FaultsShapeTheAnswer) {
    struct Case {
        const char* reply;
        long status;
        std::string body;
    } cases[] = {
        {R"("fault": "none", "fields": [["Md5", "a"]])", 200,
         "<Downloader><Md5>a</Md5></Downloader>"},
        {R"("fault": "empty", "fields": [["Md5", "a"]])", 200, ""},
        // Both markers present, so the client's cut succeeds and its XML parse must fail.
        {R"("fault": "malformed", "fields": [["Md5", "a"], ["Site_id", "55"]])", 200,
         "<Downloader><Md5>a<Site_id>55</Site_id></Downloader>"},
        {R"("fault": "malformed")", 200, "<Downloader><Download_url></Downloader>"},
        {R"("fault": "http-error")", 500, "simulated failure\n"},
        {R"("fault": "http-error", "status": 503, "body": "busy")", 503, "busy"},
        {R"("body": "no element at all", "fields": [["Md5", "a"]])", 200, "no element at all"},
        {R"("status": 202, "fields": [["Md5", "a"]])", 202,
         "<Downloader><Md5>a</Md5></Downloader>"},
        {R"("fault": "slow", "delay_ms": 150, "fields": [["Md5", "a"]])", 200,
         "<Downloader><Md5>a</Md5></Downloader>"},
    };
    VendorSim sim(R"({})");
    for (const auto& c : cases) {
        sim.setFixture(std::string(R"({ "update": { "replies": [ {)") + c.reply + "} ] } }");
        auto result = get(sim, kUpdate + kQuery);
        ASSERT_EQ(result.code, CURLE_OK) << c.reply;
        EXPECT_EQ(result.status, c.status) << c.reply;
        EXPECT_EQ(result.body, c.body) << c.reply;
    }
}

TEST(VendorSim, SlowReplyOutlastsAnImpatientClient) {
    VendorSim sim(R"({ "update": { "replies": [
        { "fault": "slow", "delay_ms": 8000, "fields": [["Md5", "a"]] } ] } })");
    Request impatient{kUpdate + kQuery};
    // Long enough for the TLS handshake of a sanitizer build on a busy machine, far shorter
    // than the delay.
    impatient.timeoutMs = 1500;
    auto result = fetch(sim, impatient);
    EXPECT_EQ(result.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_LT(result.elapsedMs, 5000);
    // The request was received and logged before the wait.
    ASSERT_EQ(sim.requests().size(), 1u);
    EXPECT_EQ(sim.requests()[0]["status"].asInt(), 200);
    // A stop is not held up by the pending wait.
    auto stopStart = std::chrono::steady_clock::now();
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stopStart, std::chrono::seconds(4));
}

TEST(VendorSim, UnknownHostsPathsAndMethodsAreRefusedAndLogged) {
    VendorSim sim(kVariantsFixture);
    struct Case {
        Request request;
        long status;
        std::string host;
    } cases[] = {
        {{"https://other.kestrova.example" + kQuery}, 404, "other.kestrova.example"},
        {{"http://unknown.example" + kQuery}, 404, "unknown.example"},
        {{kUpdate + "/queryDownloader2?SiteID=55"}, 404, "update.kestrova.example"},
        {{kUpdate + "/querydownloader?SiteID=55"}, 404, "update.kestrova.example"},
        {{kUpdate + "/"}, 404, "update.kestrova.example"},
        {{kUpdate + "/__sim/nothing"}, 404, "update.kestrova.example"},
        {{.url = kUpdate + kQuery, .postBody = std::string("x=1")}, 405, "update.kestrova.example"},
        // Host header rules: port stripped, case folded.
        {{.url = "http://127.0.0.1" + kQuery, .headers = {"Host: UPDATE.Kestrova.Example:8080"}},
         200,
         "update.kestrova.example"},
        {{.url = "http://127.0.0.1" + kQuery, .headers = {"Host:"}}, 404, ""},
    };
    for (const auto& c : cases) {
        auto result = fetch(sim, c.request);
        ASSERT_EQ(result.code, CURLE_OK) << c.request.url;
        EXPECT_EQ(result.status, c.status) << c.request.url;
    }
    auto log = sim.requests(/*includeControl=*/true);
    ASSERT_EQ(log.size(), std::size(cases));
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i]["status"].asInt(), cases[i].status) << cases[i].request.url;
        EXPECT_EQ(log[i]["host"].asString(), cases[i].host) << cases[i].request.url;
    }
}

TEST(VendorSim, RequestLogKeepsTheRawQueryHeadersAndBody) {
    VendorSim sim(kVariantsFixture);
    const std::string raw = "LanguageId=1033&SoftWareID=253&SiteID=55&x=a%20b%2Bc+d&flag&&n=1&n=2";
    ASSERT_EQ(fetch(sim, {.url = kUpdate + "/queryDownloader?" + raw,
                          .headers = {"X-Kv-Test: one", "X-Kv-Test: two", "User-Agent: kv-test"}})
                  .status,
              200);
    fetch(sim, {.url = "http://update.kestrova.example/report",
                .postBody = std::string("name=value&x=\xC3\xA9")});
    fetch(sim, {.url = "http://update.kestrova.example/report",
                .postBody = std::string("\xFF\xFE\x00\x01", 4)});

    auto log = sim.requests();
    ASSERT_EQ(log.size(), 3u);
    const Json::Value& first = log[0];
    EXPECT_EQ(first["scheme"].asString(), "https");
    EXPECT_EQ(first["method"].asString(), "GET");
    EXPECT_EQ(first["path"].asString(), "/queryDownloader");
    EXPECT_EQ(first["query"].asString(), raw);
    EXPECT_EQ(first["params"]["x"].asString(), "a b+c d");
    EXPECT_EQ(first["params"]["flag"].asString(), "");
    ASSERT_TRUE(first["params"]["n"].isArray());
    EXPECT_EQ(first["params"]["n"][1].asString(), "2");
    EXPECT_EQ(first["headers"]["Host"].asString(), "update.kestrova.example");
    EXPECT_EQ(first["headers"]["User-Agent"].asString(), "kv-test");
    ASSERT_TRUE(first["headers"]["X-Kv-Test"].isArray());
    EXPECT_EQ(first["headers"]["X-Kv-Test"][0].asString(), "one");
    EXPECT_EQ(first["headers"]["X-Kv-Test"][1].asString(), "two");
    EXPECT_FALSE(first["headers"].isMember("REMOTE_ADDR"));  // added by the server, not sent
    EXPECT_GT(first["time_ms"].asInt64(), 1600000000000);

    EXPECT_EQ(log[1]["scheme"].asString(), "http");
    EXPECT_EQ(log[1]["method"].asString(), "POST");
    EXPECT_EQ(log[1]["body"].asString(), "name=value&x=\xC3\xA9");
    EXPECT_EQ(log[1]["params"].size(), 0u);  // a form body is not the query
    EXPECT_EQ(log[1]["status"].asInt(), 404);
    EXPECT_EQ(log[2]["body_base64"].asString(), "//4AAQ==");

    for (size_t i = 0; i < log.size(); ++i)
        EXPECT_EQ(log[i]["seq"].asUInt64(), i + 1);
}

TEST(VendorSim, OnlyClientsTrustingThisRunsCaGetThrough) {
    VendorSim sim(kVariantsFixture);
    VendorSim other(kVariantsFixture);
    struct Case {
        std::string url;
        std::string caFile;
        CURLcode code;
    } cases[] = {
        {kUpdate + kQuery, sim.caBundle(), CURLE_OK},
        {"https://update.kestrova-cn.example" + kQuery, sim.caBundle(), CURLE_OK},
        {"https://127.0.0.1" + kQuery, sim.caBundle(), CURLE_OK},
        {kUpdate + kQuery, "", CURLE_PEER_FAILED_VERIFICATION},  // system store
        {kUpdate + kQuery, other.caBundle(), CURLE_PEER_FAILED_VERIFICATION},
        // Trusted CA, but a name the certificate does not carry.
        {"https://update.kestrova.test" + kQuery, sim.caBundle(), CURLE_PEER_FAILED_VERIFICATION},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fetch(sim, {.url = c.url, .caFile = c.caFile}).code, c.code)
            << c.url << " with " << c.caFile;
}

TEST(VendorSim, FixtureHostsReplaceTheDefaultsAndJoinTheCertificate) {
    VendorSim sim(R"({ "hosts": { "Updates.Vendor-Alt.example": "update" },
                       "update": { "replies": [ { "fields": [["Md5", "alt"]] } ] } })");
    auto alt = get(sim, "https://updates.vendor-alt.example" + kQuery);
    ASSERT_EQ(alt.code, CURLE_OK);
    EXPECT_EQ(alt.body, "<Downloader><Md5>alt</Md5></Downloader>");
    // Still trusted (wildcard name), but no longer routed.
    EXPECT_EQ(get(sim, kUpdate + kQuery).status, 404);
}

TEST(VendorSim, PlainHttpAndHealthOnAnyHost) {
    VendorSim sim(kVariantsFixture);
    auto plain = get(sim, "http://update.kestrova.example" + kQuery);
    ASSERT_EQ(plain.code, CURLE_OK);
    EXPECT_EQ(plain.body, "<Downloader><Software_version>x86</Software_version></Downloader>");
    for (const char* base : {"http://anything.example", "https://update.kestrova-cn.example"}) {
        auto health = get(sim, std::string(base) + "/__sim/health");
        EXPECT_EQ(health.status, 200) << base;
        EXPECT_EQ(health.body, "ok") << base;
    }
    EXPECT_EQ(sim.requests().size(), 1u);
    EXPECT_EQ(sim.requests(true).size(), 3u);
}

TEST(VendorSim, ReloadSwapsRepliesAndRefusesABadFixture) {
    VendorSim sim(R"({ "update": { "replies": [ { "fields": [["Md5", "before"]] } ] } })");
    EXPECT_EQ(get(sim, kUpdate + kQuery).body, "<Downloader><Md5>before</Md5></Downloader>");
    sim.setFixture(R"({ "update": { "replies": [ { "fields": [["Md5", "after"]] } ] } })");
    EXPECT_EQ(get(sim, kUpdate + kQuery).body, "<Downloader><Md5>after</Md5></Downloader>");

    try {
        sim.setFixture(R"({ "update": { "replies": [ { "fault": "broken" } ] } })");
        ADD_FAILURE() << "a bad fixture was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("422"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("fault"), std::string::npos) << e.what();
    }
    EXPECT_EQ(get(sim, kUpdate + kQuery).body, "<Downloader><Md5>after</Md5></Downloader>");
}

TEST(VendorSim, BadFixturesAndCommandLinesExitWithCode2) {
    kvtest::TempDir dir;
    const std::string sim = std::string(KV_BIN_DIR) + "/vendor-sim";
    const std::string fixture = (dir.path() / "fixture.json").string();
    const std::string log = (dir.path() / "log.jsonl").string();
    kvtest::expectFixturesRefused({
        {"", "not valid JSON"},
        {"{ \"update\": ", "not valid JSON"},
        {"{ \"a\": 1, \"a\": 2 }", "not valid JSON"},
        {"[]", "top level"},
        {R"({ "updte": {} })", "unknown member \"updte\""},
        {R"({ "hosts": [] })", "\"hosts\" must be an object"},
        {R"({ "hosts": { "a.example": "nothing" } })", "known service"},
        {R"({ "hosts": { "bad host": "update" } })", "not a host name"},
        {R"({ "update": { "replies": {} } })", "\"replies\" must be an array"},
        {R"({ "update": { "replies": [ { "match": { "SiteID": 55 } } ] } })", "must be a string"},
        {R"({ "update": { "replies": [ { "fields": [["Md5"]] } ] } })", "fields[0]"},
        {R"({ "update": { "replies": [ { "fields": [["<x>", "v"]] } ] } })", "element name"},
        {R"({ "update": { "replies": [ { "fault": "slowly" } ] } })", "\"fault\" must be one of"},
        {R"({ "update": { "replies": [ { "delay_ms": -1 } ] } })", "delay_ms"},
        {R"({ "update": { "replies": [ { "status": 99 } ] } })", "\"status\""},
        {R"({ "update": { "replies": [ { "fault": "http-error", "status": 200 } ] } })",
         "400 or more"},
        {R"({ "update": { "replies": [ { "fault": "empty", "body": "x" } ] } })", "cannot go"},
        {R"({ "update": { "replies": [ { "feilds": [] } ] } })", "replies[0]: unknown member"},
    });

    kvtest::writeFile(fixture, "{}");
    std::vector<std::string> commandLines[] = {
        {"--fixture", fixture},
        {"--fixture", (dir.path() / "missing.json").string(), "--log", log},
        {"--fixture", fixture, "--log", log, "--http-port", "65536"},
        {"--fixture", fixture, "--log", log, "--https-port", "12ab"},
        {"--fixture", fixture, "--log", log, "--max-seconds", "0"},
        {"--fixture", fixture, "--log", log, "--verbose"},
        {"--fixture", fixture, "--log", log, "--state-dir"},
        {"--fixture", fixture, "--log", log, "--rate-limit", "0"},
        {"--fixture", fixture, "--log", log, "--rate-limit", "2x"},
        {"--fixture", fixture, "--log", log, "--rate-limit", "m"},
        {"--fixture", fixture, "--log", log, "--rate-limit", "-5"},
        {"--fixture", fixture, "--log", log, "--rate-limit", "99999999999999m"},
        {"--fixture", fixture, "--log", (dir.path() / "no" / "such" / "log").string()},
    };
    for (const auto& args : commandLines) {
        auto result = kvtest::runProgram(sim, args, 10000);
        EXPECT_EQ(result.exitCode, 2) << args.back() << "\n" << result.output;
        EXPECT_EQ(result.output.find("READY"), std::string::npos) << result.output;
    }
}

TEST(VendorSim, MaxSecondsEndsAForgottenSim) {
    kvtest::TempDir dir;
    kvtest::writeFile(dir.path() / "fixture.json", "{}");
    auto start = std::chrono::steady_clock::now();
    auto result = kvtest::runProgram(std::string(KV_BIN_DIR) + "/vendor-sim",
                                     {"--fixture", (dir.path() / "fixture.json").string(), "--log",
                                      (dir.path() / "log").string(), "--max-seconds", "1"},
                                     10000);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("READY=1"), std::string::npos) << result.output;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
