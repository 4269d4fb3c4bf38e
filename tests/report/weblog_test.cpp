// The reporting library object against vendor-sim: machine identity in the registry store,
// geolocation, the user-log calls, feedback, the analytics JSON and both transports.

#include "report/WebLog.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <regex>
#include <thread>

#include "platform/Registry.h"
#include "platform/System.h"
#include "report/HttpClient.h"
#include "report/HttpGet.h"
#include "report/MachineIdentity.h"
#include "report/ReportPayloads.h"
#include "report_env.h"

namespace fs = std::filesystem;
using kvtest::ReportEnv;
using weblog::WebLog;

namespace {

std::optional<std::string> registryValue(const char* name) {
    auto key = platform::RegKey::open(platform::Hive::LocalMachine, weblog::kIdentityKey);
    return key ? key->getString(name) : std::nullopt;
}

void writeIdentity(const std::string& guid, const std::string& userId) {
    auto key = platform::RegKey::create(platform::Hive::LocalMachine, weblog::kIdentityKey);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->setString(weblog::kGuidValue, guid));
    ASSERT_TRUE(key->setString(weblog::kUserIdValue, userId));
}

Json::Value parseJson(const std::string& text) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    reader->parse(text.data(), text.data() + text.size(), &value, &errors);
    return value;
}

const std::regex kGuidPattern("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");

TEST(Identity, FirstRunCreatesGuidAndUserIdInTheRegistry) {
    ReportEnv env;
    WebLog log(env.options());
    const char* guid = nullptr;
    const char* userId = nullptr;
    ASSERT_EQ(log.InitUserInfo(&guid, &userId), 0);
    ASSERT_TRUE(guid && userId);
    EXPECT_TRUE(std::regex_match(guid, kGuidPattern)) << guid;
    EXPECT_STREQ(userId, "1001");
    EXPECT_EQ(registryValue("guid"), std::string(guid));
    EXPECT_EQ(registryValue("user_id"), "1001");
    EXPECT_TRUE(env.requests("/QueryUser").empty()) << "nothing to ask about before the key exists";
    EXPECT_EQ(env.requests("/csv").size(), 1u) << "a new user is located first";
    const auto state = log.state();
    EXPECT_EQ(state.country, "Germany");
    EXPECT_EQ(state.city, "Berlin");
    EXPECT_EQ(state.publicIp, "203.0.113.7");

    // The next object (the next run) finds the key and asks the service.
    WebLog next(env.options());
    const char* againGuid = nullptr;
    const char* againId = nullptr;
    ASSERT_EQ(next.InitUserInfo(&againGuid, &againId), 0);
    EXPECT_STREQ(againGuid, guid);
    const auto queries = env.requests("/QueryUser");
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0]["query"].asString(), std::string("guid=") + guid);
    EXPECT_EQ(queries[0]["host"].asString(), "userlog.kestrova.example");
}

TEST(Identity, QueryUserAnswersDecideTheUserId) {
    struct Case {
        const char* name;
        std::string answer;  // the fixture's answer object
        const char* userId;
        const char* registeredId;
    } cases[] = {
        {"empty answer keeps the GUID and writes 1001 back", R"({"body": ""})", "1001", "1001"},
        {"an id answer is taken, the registry stays", R"({"body": "4242\r\n"})", "4242", "777"},
        {"the service is down: the query gives up, nothing is created",
         R"({"status": 503, "body": "busy"})", "", "777"},
    };
    for (const auto& c : cases) {
        ReportEnv env(R"({"userlog": {"QueryUser": )" + c.answer + "}}");
        writeIdentity("0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D", "777");
        WebLog log(env.options());
        const char* guid = nullptr;
        const char* userId = nullptr;
        EXPECT_EQ(log.InitUserInfo(&guid, &userId), 0) << c.name;
        EXPECT_STREQ(userId, c.userId) << c.name;
        EXPECT_EQ(registryValue("user_id"), c.registeredId) << c.name;
        EXPECT_EQ(registryValue("guid"), "0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D") << c.name;
    }
}

TEST(Identity, OverlongRegistryValuesAreNotTakenAsIdentity) {
    ReportEnv env;
    writeIdentity(std::string(300, 'G'), "777");
    WebLog log(env.options());
    const char* guid = nullptr;
    ASSERT_EQ(log.InitUserInfo(&guid, nullptr), 0);
    EXPECT_TRUE(std::regex_match(guid, kGuidPattern)) << "a fresh GUID replaces the unreadable one";
    EXPECT_EQ(registryValue("guid"), std::string(guid));
}

TEST(Identity, UnwritableRegistryFailsWithoutTouchingTheOutputs) {
    ReportEnv env;
    kvtest::writeFile(env.dir() / "not-a-folder", "x");
    setenv("KV_REGISTRY_DIR", (env.dir() / "not-a-folder").c_str(), 1);
    WebLog log(env.options());
    const char* guid = "untouched";
    const char* userId = "untouched";
    EXPECT_EQ(log.InitUserInfo(&guid, &userId), -1);
    EXPECT_STREQ(guid, "untouched");
    EXPECT_STREQ(userId, "untouched");
    EXPECT_EQ(log.AddUserLog(1, 1, "", 7, 1033, 55, "", 0, 0), 0) << "the object stays usable";
}

TEST(ServiceBase, SoftwareLogAnswerSelectsTheUserLogBase) {
    struct Case {
        const char* answer;
        const char* queryPath;
        size_t softwareLogRequests;
    } cases[] = {
        {R"({"body": "https://userlog.kestrova.example/v2\n"})", "/v2/QueryUser", 1},
        {R"({"body": "maintenance"})", "/QueryUser", 1},
        {R"({"status": 404, "body": "gone"})", "/QueryUser", 3},
    };
    for (const auto& c : cases) {
        ReportEnv env(std::string(R"({"userlog": {"softwarelog": )") + c.answer + "}}");
        writeIdentity("0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D", "777");
        WebLog log(env.options());
        const char* guid = nullptr;
        ASSERT_EQ(log.InitUserInfo(&guid, nullptr), 0) << c.answer;
        EXPECT_EQ(env.requests("softwarelog.txt").size(), c.softwareLogRequests) << c.answer;
        const auto queries = env.requests("/QueryUser");
        ASSERT_EQ(queries.size(), 1u) << c.answer;
        EXPECT_EQ(queries[0]["path"].asString(), c.queryPath) << c.answer;
        EXPECT_EQ(queries[0]["scheme"].asString(), "https");
    }
}

TEST(Geolocation, SuccessIsStoredAndFailuresStoreNothing) {
    struct Case {
        const char* answers;
        size_t requests;
        const char* country;
        const char* city;
        const char* ip;
    } cases[] = {
        {R"({"body": "fail,,,,,,,,,,,,,private range"})", 5, "", "", ""},
        {R"([{"body": "fail"}, {"body": "fail"},
             {"body": "success,Germany,DE,BE,Berlin,Berlin,10115,52.5,13.4,Europe/Berlin,I,O,A,203.0.113.7\r\n"}])",
         3, "Germany", "Berlin", "203.0.113.7"},
        {R"({"body": ""})", 1, "", "", ""},
        {R"({"body": "success,short"})", 1, "", "", ""},
    };
    for (const auto& c : cases) {
        ReportEnv env(std::string(R"({"geolocation": {"csv": )") + c.answers + "}}");
        WebLog log(env.options());
        ASSERT_EQ(log.InitUserInfo(nullptr, nullptr), 0);
        EXPECT_EQ(env.requests("/csv").size(), c.requests) << c.answers;
        const auto state = log.state();
        EXPECT_EQ(state.country, c.country) << c.answers;
        EXPECT_EQ(state.city, c.city) << c.answers;
        EXPECT_EQ(state.publicIp, c.ip) << c.answers;
    }
}

TEST(UserLog, AddUserLogEntries) {
    ReportEnv env(R"({"geolocation": {"csv": {"body":
        "success,United States,US,NY,New York,New York,10001,40.7,-74.0,America/New_York,I,O,A,198.51.100.4"}}})");
    auto options = env.options();
    // Made three minutes and a half second ago, whatever the machine's speed.
    options.startTick = 1000000;
    options.tick = [] { return uint64_t{1000000 + 180500}; };
    WebLog log(options);
    EXPECT_EQ(log.AddUserLog(1, 1, "", 7, 1033, 55, "", 0, 0), -1) << "no identity yet";
    ASSERT_EQ(log.InitUserInfo(nullptr, nullptr), 0);

    EXPECT_EQ(log.AddUserLog(1, 3, "r&d", 2, 3, -5, "2.4.1", 6, 7), 0);
    EXPECT_EQ(log.AddUserLog(10202, 1, nullptr, 2, 3, 4, nullptr, 0, 0), 0);
    EXPECT_EQ(log.AddUserLog(5, 1, "", 2, 3, 4, "", 0, 0), 0);
    EXPECT_EQ(log.AddUserLog(0, 1, "", 2, 3, 4, "", 0, 0), -1);
    EXPECT_EQ(log.AddUserLog(5, 1, "", 0, 3, 4, "", 0, 0), -1);
    const auto entries = env.requests("/AddUserLog");
    ASSERT_EQ(entries.size(), 3u) << "the refused entries make no request";
    EXPECT_EQ(entries[0]["query"].asString(),
              "USER_ID=1001&OP_ID=00000001&SoftWareID=00000002&UseTime=&Location=United%20States"
              "&City=New%20York&OutIP=198.51.100.4&LanguageId=00000003&Result=00000003"
              "&ResultData=r%26d&SiteID=-0000005&CurVersion=2.4.1&ActivityID=00000006&VersionID="
              "00000007");
    EXPECT_EQ(entries[1]["params"]["UseTime"].asString(), "180");
    EXPECT_EQ(entries[2]["params"]["UseTime"].asString(), "180") << "later entries carry it on";
    EXPECT_EQ(entries[2]["params"]["OP_ID"].asString(), "00000005");

    env.sim().setFixture(R"({"userlog": {"AddUserLog": {"body": ""}}})");
    EXPECT_EQ(log.AddUserLog(1, 1, "", 2, 3, 4, "", 0, 0), -1) << "an empty answer is a failure";
}

TEST(UserLog, CatalogueQueriesAndReportLog) {
    ReportEnv env(R"({"userlog": {"QueryTools": [{"status": 500}, {"body": "<Tools>a</Tools>"}],
                                  "QueryDownloader": {"status": 500}}})");
    WebLog log(env.options());
    const char* answer = nullptr;
    EXPECT_EQ(log.QueryTools(&answer, 7, 0), -1);
    ASSERT_EQ(log.QueryTools(&answer, 7, 1033), 0);
    EXPECT_STREQ(answer, "<Tools>a</Tools>") << "the failed attempt left nothing behind";
    ASSERT_EQ(env.requests("/QueryTools").size(), 2u);
    EXPECT_EQ(env.requests("/QueryTools")[1]["query"].asString(),
              "LanguageId=00001033&SoftWareID=00000007");

    EXPECT_EQ(log.QueryDownloader(&answer, 7, 1033, 55), -1);
    EXPECT_EQ(env.requests("/QueryDownloader").size(), 3u) << "three attempts while it fails";
    EXPECT_EQ(log.QueryDownloader(&answer, 7, 1033, 0), -1);
    EXPECT_EQ(env.requests("/QueryDownloader").size(), 3u);

    ASSERT_EQ(log.ReportLog(7, "a@b.example", "a b/c", "u1"), 0);
    const auto reports = env.requests("/ReportLog");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0]["query"].asString().find("&Content=a+b%2Fc&UploadID=u1"),
              std::string::npos)
        << reports[0]["query"].asString();
    EXPECT_EQ(log.ReportLog(0, "", "x", ""), -1);
}

TEST(Feedback, OnlyStatus200WithItsMarkerIsAccepted) {
    struct Case {
        const char* answer;
        int result;
    } cases[] = {
        {R"({"status": 200, "body": "{\"status\":200,\"msg\":\"ok\"}"})", 0},
        {R"({"status": 500, "body": "{\"status\":200}"})", -1},
        {R"({"status": 200, "body": "{\"status\":500}"})", -1},
    };
    for (const auto& c : cases) {
        ReportEnv env(std::string(R"({"userlog": {"feedback": )") + c.answer + "}}");
        WebLog log(env.options());
        EXPECT_EQ(log.SendFeedback(7, "2.4.1", "a@b.example", "Hi", "it broke", "L1"), c.result)
            << c.answer;
        const auto posts = env.requests("/api/v1/ticket/feedback");
        ASSERT_EQ(posts.size(), 1u);
        EXPECT_EQ(posts[0]["method"].asString(), "POST");
        EXPECT_EQ(posts[0]["body"].asString(),
                  "product_id=00000007&useremail=a@b.example&content=it "
                  "broke&log_id=L1&version=2.4.1&subject=Hi");
    }
    ReportEnv env;
    WebLog log(env.options());
    EXPECT_EQ(log.SendFeedback(7, "", nullptr, "", nullptr, ""), -1);
    EXPECT_TRUE(env.requests("/feedback").empty());
}

TEST(AnalyticsJson, ReportGoesToTheCollectorOfTheMachine) {
    ReportEnv env;
    auto options = env.options();
    options.machineFacts = [] {
        weblog::MachineFacts facts;
        facts.mac = "0A1B2C3D4E5F";
        facts.sessionId = "6F9619FF8B86d0118B4200C04FC964FF";
        facts.osText = "Debian GNU/Linux 12 (bookworm) 64bit";
        facts.timestampMs = 1765260000123;
        return facts;
    };
    WebLog log(options);
    EXPECT_EQ(log.SoftDataReport(R"({"pid": 7, "event_action": "open"})"), 0);
    auto posts = env.requests("/collect");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0]["host"].asString(), "collector.kestrova.example");
    EXPECT_EQ(posts[0]["headers"]["Content-Type"].asString(), "application/json; charset=utf-8");
    const std::string body = posts[0]["body"].asString();
    ASSERT_FALSE(body.empty());
    EXPECT_EQ(body.back(), '\n');
    EXPECT_EQ(body.rfind("{\n\t\"actions\" : ", 0), 0u) << body;
    const Json::Value doc = parseJson(body);
    EXPECT_EQ(doc["common"]["pid"], 7);
    EXPECT_EQ(doc["actions"]["event_action"], "open");
    EXPECT_EQ(doc["common"]["product"], "");
    EXPECT_EQ(doc["common"]["session_id"], "6F9619FF8B86d0118B4200C04FC964FF");
    EXPECT_EQ(doc["common"]["mac"], "0A1B2C3D4E5F");
    EXPECT_EQ(doc["common"]["uid"], "MEExQjJDM0Q0RTVG");
    EXPECT_EQ(doc["common"]["os_version"], "Debian GNU/Linux 12 (bookworm) 64bit");
    EXPECT_EQ(doc["ts"].asInt64(), 1765260000123);
    EXPECT_FALSE(doc.isMember("start"));
    EXPECT_FALSE(doc.isMember("monitor"));

    // A text that is not JSON still reports the machine; a "test" file picks the test collector.
    kvtest::writeFile(env.currentDir() / "test", "");
    env.sim().setFixture(R"({"analytics": {"test_collector": {"status": 503}}})");
    EXPECT_EQ(log.SoftDataReport("{not json"), 303);
    posts = env.requests("/collector");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0]["host"].asString(), "collector-test.kestrova.example");
    const Json::Value defaults = parseJson(posts[0]["body"].asString());
    EXPECT_EQ(defaults["common"]["pid"], 0);
    EXPECT_EQ(defaults["common"]["os"], "Win");
    EXPECT_EQ(defaults["common"]["uid"], "MEExQjJDM0Q0RTVG");
    EXPECT_EQ(defaults["ts"].asInt64(), 1765260000123);
    EXPECT_EQ(log.SoftDataReport(nullptr), 303);
}

TEST(Transports, PostToAClosedPortIsLoggedWithItsCode) {
    ReportEnv env;
    env.redirectTo(1);
    weblog::ErrorLog errors(env.programDir());
    std::atomic<bool> cancel{false};
    weblog::HttpClient client(errors, env.programDir() / "cloud", &cancel);
    ASSERT_TRUE(client.init());
    EXPECT_EQ(client.post("http://collect.analytics.example/collect", "", "v=1"), 7);
    EXPECT_TRUE(std::regex_match(
        env.errorLog(),
        std::regex(
            R"(\[\d{4}/\d{1,2}/\d{1,2}-\d{1,2}:\d{1,2}:\d{1,2}\] Failed to perform request \[7\]\n)")))
        << env.errorLog();

    // A link in its place is not written through.
    const fs::path victim = env.dir() / "victim";
    kvtest::writeFile(victim, "keep");
    fs::rename(env.programDir() / "Logs" / ".log", env.dir() / "old.log");
    fs::create_symlink(victim, env.programDir() / "Logs" / ".log");
    errors.logError("Failed to perform request [%d]\n", 7);
    EXPECT_EQ(kvtest::readFile(victim), "keep");

    // Without a "Logs" folder nothing is written and nothing fails.
    fs::remove_all(env.programDir() / "Logs");
    WebLog log(env.options());
    EXPECT_EQ(log.SendUAEvent("UA-1", "Downloader", "1.0.0.1", "C", "A", "", "&cd1=x"), -1);
    EXPECT_FALSE(fs::exists(env.programDir() / "Logs"));
}

TEST(Transports, ProxyFileSendsPostsThroughTheProxy) {
    ReportEnv env;
    // Only the proxy leads to the sim now (connect-to rules would make libcurl tunnel).
    unsetenv("KV_CONNECT_TO");
    WebLog log(env.options());
    kvtest::writeFile(env.currentDir() / "proxy.txt",
                      "127.0.0.1:" + std::to_string(env.sim().httpPort()) + "\r\nignored\n");
    log.SendUAEvent("UA-1", "Downloader", "1.0.0.1", "C", "A", "", "&cd1=x");
    auto seen = env.sim().requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0]["host"].asString(), "collect.analytics.example");
    EXPECT_EQ(seen[0]["body"].asString().rfind("v=1&tid=UA-1&cid=", 0), 0u);

    // An empty first line, or one too long to be a proxy, leaves the client as it was: a fresh
    // object then has no proxy and goes straight to its (closed) collector.
    env.redirectTo(1);
    for (const std::string& line : {std::string("\nnext"), std::string(255, 'p') + "\n"}) {
        kvtest::writeFile(env.currentDir() / "proxy.txt", line);
        WebLog fresh(env.options());
        EXPECT_EQ(fresh.SendUAEvent("UA-1", "Downloader", "1.0.0.1", "C", "A", "", "&cd1=x"), -1);
    }
    EXPECT_EQ(env.sim().requests().size(), 1u);
    EXPECT_NE(env.errorLog().find("longer than 254 characters"), std::string::npos);
    weblog::ErrorLog quiet(env.dir());
    kvtest::writeFile(env.currentDir() / "proxy.txt", std::string(254, 'p') + "\r\n");
    EXPECT_EQ(weblog::readProxyFile(env.currentDir(), quiet), std::string(254, 'p'));
}

TEST(Transports, GetSendsTheBrowserHeadersAndNeedsStatus200) {
    ReportEnv env(R"({"geolocation": {"csv": [{"body": "one"}, {"status": 404, "body": "x"}]}})");
    std::string answer = "kept:";
    EXPECT_EQ(weblog::httpGet("http://ip-geolocation.example/csv", answer), 0);
    EXPECT_EQ(answer, "kept:one") << "the answer is appended";
    EXPECT_EQ(weblog::httpGet("http://ip-geolocation.example/csv", answer), -1);
    EXPECT_EQ(answer, "kept:one") << "a failed request appends nothing";
    const auto requests = env.requests("/csv");
    ASSERT_EQ(requests.size(), 2u);
    const Json::Value& headers = requests[0]["headers"];
    EXPECT_EQ(headers["User-Agent"].asString(), weblog::kHttpGetUserAgent);
    EXPECT_EQ(headers["Accept"].asString(), "*/*");
    EXPECT_EQ(headers["Accept-Language"].asString(), "zh-cn");
    EXPECT_EQ(headers["Accept-Encoding"].asString(), "gzip, deflate");
    EXPECT_EQ(headers["Pragma"].asString(), "no-cache");
}

TEST(Transports, CancelEndsAHangingRequestAtOnce) {
    ReportEnv env;
    kvtest::SilentListener silent;
    env.redirectTo(silent.port());
    WebLog log(env.options());
    std::atomic<int> result{1};
    const auto start = std::chrono::steady_clock::now();
    std::thread sender(
        [&] { result = log.SendUAEvent("UA-1", "Downloader", "1", "C", "A", "", "&cd1=x"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    log.cancel();
    sender.join();
    EXPECT_EQ(result, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5))
        << "well before the 20 s limit";
    EXPECT_EQ(log.SendGA4Event("&tid=x"), -1) << "nothing is sent after a cancel";
}

}  // namespace
