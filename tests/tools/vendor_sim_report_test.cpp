// vendor-sim's usage-report services as a client sees them: the analytics endpoints, the
// user-log service with its base file and feedback endpoint, and the geolocation service.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim_client.h"
#include "test_support.h"
#include "vendor_sim_runner.h"

using kvtest::VendorSim;

namespace {

kvtest::SimAnswer ask(const VendorSim& sim, const char* method, const std::string& url,
                      const std::optional<std::string>& body = std::nullopt) {
    return kvtest::fetch(sim, {.url = url, .method = method, .postBody = body});
}

TEST(VendorSimReports, EveryEndpointAnswersByDefault) {
    VendorSim sim("{}");
    struct Case {
        const char* method;
        const char* url;
        long status;
        const char* bodyStart;
        const char* contentType;
    } cases[] = {
        {"POST", "https://collect.analytics.example/g/collect?v=2&en=Close", 204, "", ""},
        {"POST", "http://collect.analytics.example/collect", 200, "GIF89a", "image/gif"},
        {"POST", "https://collector.kestrova.example/collect", 200, "{\"code\":0}",
         "application/json"},
        {"POST", "https://collector-test.kestrova.example/collector", 200, "{\"code\":0}",
         "application/json"},
        {"GET", "http://www.kestrova.example/downloads/service/softwarelog.txt", 200,
         "https://userlog.kestrova.example", "text/plain"},
        {"GET", "https://userlog.kestrova.example/QueryUser?guid=G", 200, "1001", "text/plain"},
        {"GET", "https://userlog.kestrova.example/v2/AddUserLog?USER_ID=1001", 200, "1",
         "text/plain"},
        {"GET", "https://userlog.kestrova.example/QueryTools?LanguageId=00001033", 200,
         "<Tools></Tools>", "text/plain"},
        {"GET", "https://userlog.kestrova.example/QueryDownloader?SiteID=1", 200, "<Downloader>",
         "text/plain"},
        {"GET", "https://userlog.kestrova.example/ReportLog?Content=a+b%2Fc", 200, "1",
         "text/plain"},
        {"POST", "https://support.kestrova.example/api/v1/ticket/feedback", 200, "{\"status\":200,",
         "application/json"},
        {"GET", "http://ip-geolocation.example/csv", 200, "success,Germany,DE,BE,Berlin,Berlin,",
         "text/plain"},
        // Wrong method, wrong path.
        {"GET", "https://collect.analytics.example/g/collect", 405, "/g/collect takes POST",
         "text/plain"},
        {"POST", "http://ip-geolocation.example/csv", 405, "/csv takes GET", "text/plain"},
        {"GET", "https://support.kestrova.example/api/v1/ticket/feedback", 405, "", "text/plain"},
        {"GET", "https://userlog.kestrova.example/Unknown", 404, "the user-log service has no",
         "text/plain"},
        {"POST", "https://collector.kestrova.example/g/collect", 404,
         "the analytics service has no", "text/plain"},
        {"GET", "http://ip-geolocation.example/json", 404, "", "text/plain"},
    };
    for (const auto& c : cases) {
        const auto answer =
            ask(sim, c.method, c.url,
                std::string(c.method) == "POST" ? std::optional<std::string>("x=1") : std::nullopt);
        ASSERT_EQ(answer.code, CURLE_OK) << c.url;
        EXPECT_EQ(answer.status, c.status) << c.url;
        EXPECT_EQ(answer.body.rfind(c.bodyStart, 0), 0u) << c.url << ": " << answer.body;
        EXPECT_EQ(answer.contentType.rfind(c.contentType, 0), 0u)
            << c.url << ": " << answer.contentType;
    }
    // The geolocation answer has the fourteen fields, the address last.
    const auto geo = ask(sim, "GET", "http://ip-geolocation.example/csv");
    EXPECT_EQ(std::count(geo.body.begin(), geo.body.end(), ','), 13);
    EXPECT_EQ(geo.body.substr(geo.body.rfind(',') + 1), "203.0.113.7");

    // Every request is in the log, with its raw query and its body.
    const auto log = sim.requests();
    ASSERT_EQ(log.size(), std::size(cases) + 1);
    EXPECT_EQ(log[0]["query"].asString(), "v=2&en=Close");
    EXPECT_EQ(log[0]["params"]["en"].asString(), "Close");
    EXPECT_EQ(log[1]["body"].asString(), "x=1");
    EXPECT_EQ(log[9]["query"].asString(), "Content=a+b%2Fc");
    EXPECT_EQ(log[9]["params"]["Content"].asString(), "a b/c");
}

TEST(VendorSimReports, ScriptedAnswersGoInTurnAndStartAgainOnReload) {
    VendorSim sim(
        R"({ "geolocation": { "csv": [ { "body": "fail" }, { "status": 503, "body": "busy" },
                                                 { "body": "success,X" } ] },
                      "analytics": { "ua": { "status": 200, "body": "not a gif", "content_type": "text/html" } },
                      "userlog": { "QueryUser": { "body": "", "delay_ms": 300 } } })");
    std::vector<std::string> bodies;
    for (int i = 0; i < 4; ++i)
        bodies.push_back(ask(sim, "GET", "http://ip-geolocation.example/csv").body);
    EXPECT_EQ(bodies, (std::vector<std::string>{"fail", "busy", "success,X", "success,X"}));
    EXPECT_EQ(sim.requests()[1]["status"].asInt(), 503);

    const auto ua = ask(sim, "POST", "http://collect.analytics.example/collect", "v=1");
    EXPECT_EQ(ua.body, "not a gif");
    EXPECT_EQ(ua.contentType, "text/html");
    EXPECT_EQ(ask(sim, "POST", "https://collect.analytics.example/g/collect", "").status, 204)
        << "endpoints the fixture leaves out keep their defaults";

    const auto slow = ask(sim, "GET", "https://userlog.kestrova.example/QueryUser?guid=G");
    EXPECT_EQ(slow.body, "");
    EXPECT_GE(slow.elapsedMs, 300);

    sim.setFixture(R"({ "geolocation": { "csv": [ { "body": "first" }, { "body": "then" } ] } })");
    EXPECT_EQ(ask(sim, "GET", "http://ip-geolocation.example/csv").body, "first");
    EXPECT_EQ(ask(sim, "GET", "http://ip-geolocation.example/csv").body, "then");
}

TEST(VendorSimReports, BadSectionsAreRefused) {
    const std::vector<kvtest::RefusedFixture> cases = {
        {R"({ "analytics": [] })", "analytics: must be an object"},
        {R"({ "analytics": { "ga": {} } })", "analytics: unknown member \"ga\""},
        {R"({ "userlog": { "QueryUser": { "status": 99 } } })",
         "userlog: QueryUser: \"status\" must be an HTTP status"},
        {R"({ "userlog": { "feedback": { "body": 5 } } })", "\"body\" must be a string"},
        {R"({ "userlog": { "feedback": { "content_type": "a\r\nX-Injected: 1" } } })",
         "control characters"},
        {R"({ "geolocation": { "csv": [] } })", "must not be empty"},
        {R"({ "geolocation": { "csv": [ {}, { "delay_ms": -1 } ] } })", "csv: [1]: \"delay_ms\""},
        {R"({ "geolocation": { "csv": { "reply": "x" } } })", "unknown member \"reply\""},
    };
    kvtest::expectFixturesRefused(cases);
    VendorSim sim(R"({ "geolocation": { "csv": { "body": "kept" } } })");
    EXPECT_THROW(sim.setFixture(cases[5].fixture), std::runtime_error);
    EXPECT_EQ(ask(sim, "GET", "http://ip-geolocation.example/csv").body, "kept")
        << "the previous fixture stays";
}

}  // namespace
