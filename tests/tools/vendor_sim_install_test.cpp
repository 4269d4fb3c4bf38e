// vendor-sim's answers to the install workflow's side requests: sub-program queries, the
// cross-end id check, download pages and the exception report. Each is fetched the way the
// installer fetches it (CLibcurlTool through KV_CONNECT_TO / KV_CA_BUNDLE) and read with the
// installer's own parsers, so a sim answer the client cannot read fails here first.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CConfigure.h"
#include "CLibcurlTool.h"
#include "Common/install_worker.h"
#include "Common/side_queries.h"
#include "RemoteServices.h"
#include "sim_client.h"
#include "test_support.h"
#include "vendor_sim_runner.h"

using kvtest::VendorSim;

namespace {

// Points every CLibcurlTool of the scope at `sim`.
class SimRoute {
public:
    explicit SimRoute(const VendorSim& sim)
        : m_connectTo("KV_CONNECT_TO", sim.connectTo().c_str()),
          m_ca("KV_CA_BUNDLE", sim.caBundle().c_str()) {}

private:
    kvtest::ScopedEnv m_connectTo;
    kvtest::ScopedEnv m_ca;
};

std::string getText(const std::string& url) {
    CLibcurlTool tool;
    std::string body;
    EXPECT_EQ(tool.httpGetText(url, body, false), CURLE_OK) << url;
    return body;
}

long statusOf(const std::string& url) {
    CLibcurlTool tool;
    std::string header;
    long status = 0;
    EXPECT_EQ(tool.getHttpHeader(url, header, &status), CURLE_OK) << url;
    return status;
}

// The last logged request for `path`, or null.
Json::Value lastRequest(const VendorSim& sim, const std::string& path) {
    Json::Value found;
    for (const Json::Value& line : sim.requests())
        if (line["path"].asString() == path)
            found = line;
    return found;
}

const std::string kUpdate = remoteServiceUrl(kUpdateService);
const std::string kCheck = "/download/checkCross?cross_end_id=";

}  // namespace

TEST(VendorSimInstall, SubProgramQueriesAnswerEachIdAndPackageType) {
    VendorSim sim(R"({ "update": { "replies": [
        { "match": { "SoftWareID": "302", "SiteID": "1", "package_type": "2" },
          "fields": [["Download_url", "https://files.kestrova.example/sub/Helper_x64.exe"]] },
        { "match": { "SoftWareID": "302", "SiteID": "1", "package_type": null },
          "fields": [["Download_url", "https://files.kestrova.example/sub/Helper_x86.exe"]] },
        { "match": { "SoftWareID": "303", "SiteID": "1" },
          "fields": [["Download_url", "https://files.kestrova.example/sub/Helper_278.exe"]] },
        { "match": { "SoftWareID": "304", "SiteID": "1" },
          "fields": [["Software_name", "Codec"],
                     ["Download_url", "https://files.kestrova.example/sub/Codec.exe"]] },
        { "match": { "SoftWareID": "305", "SiteID": "1" }, "fault": "malformed",
          "fields": [["Download_url", "https://files.kestrova.example/sub/Broken.exe"]] } ] } })");
    SimRoute route(sim);
    struct Case {
        std::string query;  // after "SoftWareID="
        std::string url;    // what the client extracts; empty: nothing usable
    } cases[] = {
        {"302&SiteID=1&package_type=2", "https://files.kestrova.example/sub/Helper_x64.exe"},
        {"302&SiteID=1", "https://files.kestrova.example/sub/Helper_x86.exe"},
        {"303&SiteID=1&package_type=2", "https://files.kestrova.example/sub/Helper_278.exe"},
        {"304&SiteID=1", "https://files.kestrova.example/sub/Codec.exe"},
        {"305&SiteID=1", ""},  // the client's XML parse refuses it
        {"306&SiteID=1", ""},  // no reply: 404
    };
    for (const auto& c : cases) {
        std::string body =
            getText(kUpdate + "/queryDownloader?LanguageId=1033&SoftWareID=" + c.query);
        EXPECT_EQ(CConfigure::extractDownloadUrl(body), c.url) << c.query << ": " << body;
    }
    auto log = sim.requests();
    ASSERT_EQ(log.size(), std::size(cases));
    EXPECT_EQ(log[0]["query"].asString(), "LanguageId=1033&SoftWareID=302&SiteID=1&package_type=2");
    EXPECT_EQ(log[4]["status"].asInt(), 200);
    EXPECT_EQ(log[5]["status"].asInt(), 404);
}

TEST(VendorSimInstall, CrossCheckAnswersByIdOnEveryUpdateHost) {
    VendorSim sim(R"({ "update": { "cross": { "valid_ids": ["2941", "a b", "x\"y"] } } })");
    SimRoute route(sim);
    const std::string bases[] = {
        remoteServiceUrl(kUpdateService), remoteServiceUrl(kUpdateServiceChina),
        remoteServiceUrl(kUpdateServicePlain), remoteServiceUrl(kUpdateServiceChinaPlain)};
    struct Case {
        std::string query;
        bool valid;
        std::string body;
    } cases[] = {
        {"2941", true, R"({"status":200,"msg":"success","data":{"cross_end_id":"2941"}})"},
        {"a%20b", true, R"({"status":200,"msg":"success","data":{"cross_end_id":"a b"}})"},
        {"x%22y", true, R"({"status":200,"msg":"success","data":{"cross_end_id":"x\"y"}})"},
        {"29411", false,
         R"({"status":404,"msg":"invalid cross_end_id","data":{"cross_end_id":"29411"}})"},
        {"%FF", false,
         R"({"status":404,"msg":"invalid cross_end_id","data":{"cross_end_id":null}})"},
        {"", false, R"({"status":400,"msg":"cross_end_id is missing","data":null})"},
    };
    for (const std::string& base : bases) {
        for (const auto& c : cases) {
            std::string body = getText(base + kCheck + c.query);
            EXPECT_EQ(body, c.body) << base << " " << c.query;
            EXPECT_EQ(CrossEndStatusOk(body), c.valid) << base << " " << c.query;
        }
    }
    ASSERT_EQ(sim.requests().size(), std::size(bases) * std::size(cases));
    Json::Value last = lastRequest(sim, "/download/checkCross");
    EXPECT_EQ(last["scheme"].asString(), "http");
    EXPECT_EQ(last["host"].asString(), "update.kestrova-cn.example");

    // Without a "cross" member no id is valid; the status of other ids can be chosen.
    sim.setFixture("{}");
    EXPECT_FALSE(CrossEndStatusOk(getText(kUpdate + kCheck + "2941")));
    sim.setFixture(R"({ "update": { "cross": { "status_for_others": 410 } } })");
    EXPECT_EQ(getText(kUpdate + kCheck + "7").rfind(R"({"status":410,)", 0), 0u);
}

TEST(VendorSimInstall, CrossCheckFaultsShapeTheAnswer) {
    struct Case {
        std::string members;
        long status;
        std::string body;
    } cases[] = {
        {R"("fault": "malformed")", 200, R"({"status":200)"},
        {R"("fault": "empty")", 200, ""},
        {R"("fault": "http-error", "status": 502)", 502, "simulated failure\n"},
        {R"("body": "{\"status\":200}")", 200, R"({"status":200})"},  // no comma after it
        {R"("fault": "slow", "delay_ms": 150)", 200,
         R"({"status":200,"msg":"success","data":{"cross_end_id":"1"}})"},
    };
    VendorSim sim("{}");
    SimRoute route(sim);
    for (const auto& c : cases) {
        sim.setFixture(R"({ "update": { "cross": { "valid_ids": ["1"], )" + c.members + " } } }");
        EXPECT_EQ(statusOf(kUpdate + kCheck + "1"), c.status) << c.members;
        std::string body = getText(kUpdate + kCheck + "1");
        EXPECT_EQ(body, c.body) << c.members;
        EXPECT_EQ(CrossEndStatusOk(body), c.members.find("slow") != std::string::npos) << c.members;
    }
    CLibcurlTool tool;
    std::string reply;
    ASSERT_EQ(tool.httpPostText(kUpdate + kCheck + "1", "x=1", reply, nullptr), CURLE_OK);
    EXPECT_EQ(reply, "checkCross takes GET\n");
}

TEST(VendorSimInstall, DownloadPagesNameTheFileTheClientProbes) {
    kvtest::TempDir dir;
    kvtest::writeFile(dir.path() / "setup.exe", std::string(4096, 'x'));
    VendorSim sim(R"({ "download": {
        "files": { "/editor/setup.exe": { "source": ")" +
                  (dir.path() / "setup.exe").string() + R"(" } },
        "pages": {
          "/editor/get.html": { "body": "<html><a class='btn' data-dl-url='https://files.kestrova.example/editor/setup.exe'>Get</a></html>" },
          "cdn.kestrova.example/editor/get.html": { "body": "{\"ok\":1}",
              "content_type": "application/json", "faults": [
                { "mode": "http-error", "status": 503, "method": "any", "requests": [1, 1] } ] },
          "/gone.html": { "body": "<p>gone</p>", "status": 410 } } } })");
    SimRoute route(sim);

    // What the download-page lookup does: read the page, cut the attribute, probe the URL.
    CLibcurlTool tool;
    std::string page;
    ASSERT_EQ(
        tool.getHttpBody("https://download.kestrova.example/editor/get.html", 0, 200000, page),
        CURLE_OK);
    const std::string marker = "data-dl-url='";
    size_t at = page.find(marker);
    ASSERT_NE(at, std::string::npos) << page;
    size_t start = at + marker.size();
    std::string url = page.substr(start, page.find('\'', start) - start);
    EXPECT_EQ(url, "https://files.kestrova.example/editor/setup.exe");
    std::string header;
    long status = 0;
    ASSERT_EQ(tool.getHttpHeader(url, header, &status), CURLE_OK);
    EXPECT_EQ(status, 200);
    EXPECT_NE(header.find("Content-Length: 4096"), std::string::npos) << header;

    // A host's own page wins over the shared one; its faults count GETs and HEADs apart.
    const std::string own = "https://cdn.kestrova.example/editor/get.html";
    EXPECT_EQ(statusOf(own), 503);
    EXPECT_EQ(statusOf(own), 200);
    EXPECT_EQ(getText(own), "simulated failure (fault http-error)\n");
    EXPECT_EQ(getText(own), "{\"ok\":1}");
    EXPECT_EQ(statusOf("https://dl.kestrova.example/gone.html"), 410);
    EXPECT_EQ(getText("https://dl.kestrova.example/gone.html"), "<p>gone</p>");

    auto log = sim.requests();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0]["method"].asString(), "GET");
    EXPECT_EQ(log[0]["path"].asString(), "/editor/get.html");
    EXPECT_EQ(log[1]["method"].asString(), "HEAD");
    EXPECT_EQ(log[1]["host"].asString(), "files.kestrova.example");
}

TEST(VendorSimInstall, AlertServiceRecordsTheExceptionReport) {
    VendorSim sim("{}");
    SimRoute route(sim);
    const std::string endpoint = remoteServiceUrl(kAlertService) + "/api/exception/send";
    const std::string report = install_detail::ExceptionReportBody(false, true, 253, 1);
    ASSERT_EQ(report, "pid=253&type=2&exception_code=MD5_Check_Fail_Cfg1");

    struct Case {
        std::string fixture;
        std::string body;
        std::string reply;
        CURLcode code = CURLE_OK;
    } cases[] = {
        {"{}", report, R"({"status":200,"msg":"success"})"},
        {R"({ "alert": { "status": 503, "body": "busy" } })", report, "busy"},
        {R"({ "alert": { "fault": "malformed" } })", report, R"({"status":200,"msg":"success")"},
        {R"({ "alert": { "fault": "slow", "delay_ms": 150 } })", report,
         R"({"status":200,"msg":"success"})"},
        // A report the client got wrong is refused whatever the fixture says.
        {R"({ "alert": { "body": "ok" } })", "pid=253&type=2",
         R"({"status":400,"msg":"exception_code is missing"})"},
        {"{}", "pid=&type=2&exception_code=x", R"({"status":400,"msg":"pid is missing"})"},
        {"{}", "pid=abc&type=2&exception_code=x", R"({"status":400,"msg":"pid must be a number"})"},
    };
    for (const auto& c : cases) {
        sim.setFixture(c.fixture);
        CLibcurlTool tool;
        std::string reply;
        EXPECT_EQ(tool.httpPostText(endpoint, c.body, reply, nullptr), c.code) << c.fixture;
        EXPECT_EQ(reply, c.reply) << c.fixture << " " << c.body;
        Json::Value logged = lastRequest(sim, "/api/exception/send");
        EXPECT_EQ(logged["method"].asString(), "POST");
        EXPECT_EQ(logged["host"].asString(), "alert.kestrova.example");
        EXPECT_EQ(logged["body"].asString(), c.body) << c.fixture;
    }
    EXPECT_EQ(statusOf(endpoint), 405);
    EXPECT_EQ(statusOf(remoteServiceUrl(kAlertService) + "/api/exception"), 404);
}

TEST(VendorSimInstall, BadSectionsAreRefusedWithTheirReason) {
    const std::vector<kvtest::RefusedFixture> cases = {
        {R"({ "update": { "cross": [] } })", "update: cross: must be an object"},
        {R"({ "update": { "cross": { "valid": [] } } })", "cross: unknown member \"valid\""},
        {R"({ "update": { "cross": { "valid_ids": "1" } } })", "\"valid_ids\" must be an array"},
        {R"({ "update": { "cross": { "valid_ids": [1] } } })", "valid_ids[0] must be a non-empty"},
        {R"({ "update": { "cross": { "status_for_others": "404" } } })", "status_for_others"},
        {R"({ "update": { "cross": { "fault": "broken" } } })", "cross: \"fault\" must be one of"},
        {R"({ "alert": [] })", "alert: must be an object"},
        {R"({ "alert": { "reply": "x" } })", "alert: unknown member \"reply\""},
        {R"({ "alert": { "content_type": "a\r\nb" } })", "\"content_type\" must be"},
        {R"({ "download": { "pages": { "/p": {} } } })", "pages \"/p\": \"body\" must be"},
        {R"({ "download": { "pages": { "p.html": { "body": "" } } } })", "\"/path\" or"},
        {R"({ "download": { "pages": { "/p": { "body": "", "status": 302 } } } })",
         "\"redirects\" entries"},
        {R"({ "download": { "pages": { "/p": { "body": "", "size": 1 } } } })",
         "unknown member \"size\""},
        {R"({ "download": { "pages": { "/p": { "body": "", "faults": [ { "mode": "reset" } ] } } } })",
         "lowercase-headers, http-error"},
        {R"({ "download": { "pages": { "/p": { "body": "" } }, "redirects": { "/p": "/q" } } })",
         "is a page and also"},
    };
    kvtest::expectFixturesRefused(cases);

    VendorSim sim(R"({ "update": { "cross": { "valid_ids": ["1"] } } })");
    EXPECT_THROW(sim.setFixture(cases[3].fixture), std::runtime_error);
    SimRoute route(sim);
    EXPECT_TRUE(CrossEndStatusOk(getText(kUpdate + kCheck + "1"))) << "the previous fixture stays";
}
