#include "CLibcurlTool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "test_support.h"
#include "vendor_sim_runner.h"

namespace {

TEST(FigureError, MessageTable) {
    struct Case {
        int code;
        const char* message;
    } cases[] = {
        {1, " ProtoControl Unsupport!"},
        {2, " Init Failed!"},
        {3, " Curl RemotePath Error"},
        {4, " libcurl InitFailed，Please Try again!"},
        {5, " Cannt resovlve proxy!"},
        {6, " cannt resovlve server!"},
        {7, " Curl Connect Server Error"},
        {8, " FTP服务器非法回复"},
        {9, " Acess Denied!"},
        {10, " FTP连接失败"},
        {11, " FTP服务器未知回复"},
        {12, " FTP连接超时"},
        {13, " Curl unknow error!"},
        {14, " Curl unknow error!"},
        {15, " 内部故障"},
        {16, " HTTP2错误"},
        {17, " FTP获取传输类型失败"},
        {18, " 服务器返回文件大小非法"},
        {22, " HTTP请求错误"},
        {23, " 接收数据错误"},
        {25, " 上传数据错误"},
        {26, " 本地文件读取错误"},
        {27, " 内存不足"},
        {28, " Curl Time out"},
        {30, " FTP端口失败"},
        {33, " 请求的数据范围错误"},
        {0, " Curl Else Error: 0"},
        {19, " Curl Else Error: 19"},
        {60, " Curl Else Error: 60"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CLibcurlTool::errorMessage(static_cast<CURLcode>(c.code)), c.message) << c.code;
        EXPECT_EQ(CLibcurlTool::figureError(static_cast<CURLcode>(c.code)), 1);
    }
}

TEST(CLibcurlTool, MalformedAndUnreachableUrlsFailCleanly) {
    CLibcurlTool tool;
    ASSERT_TRUE(tool.valid());
    std::string text = "stale";
    EXPECT_EQ(tool.httpGetText("not a url at all", text, true), CURLE_URL_MALFORMAT);
    EXPECT_TRUE(text.empty());
    long status = -1;
    std::string header;
    // Port 1 on loopback: refused at once.
    EXPECT_EQ(tool.getHttpHeader("http://127.0.0.1:1/x", header, &status), CURLE_COULDNT_CONNECT);
    EXPECT_EQ(status, 0);
    std::string reply;
    EXPECT_EQ(tool.httpPostText("http://127.0.0.1:1/x", "a=b", reply, nullptr),
              CURLE_COULDNT_CONNECT);
}

}  // namespace

namespace {

// Peers and host names are verified against the system store plus KV_CA_BUNDLE; connect-to
// rules carry a request to the sim while its URL, Host and SNI stay as built.
TEST(CLibcurlTool, VerifiesPeersAndHostNames) {
    kvtest::VendorSim sim(R"({ "hosts": { "update.kestrova.example": "update" },
        "update": { "replies": [ { "match": {}, "fields": [["Md5", "abc"]] } ] } })");
    kvtest::ScopedEnv connectTo("KV_CONNECT_TO", sim.connectTo().c_str());
    kvtest::EnvGuard caBundle({"KV_CA_BUNDLE"});
    struct Case {
        const char* url;
        bool trust;
        CURLcode rc;
    } cases[] = {
        {"https://update.kestrova.example/queryDownloader?SiteID=1", true, CURLE_OK},
        {"https://update.kestrova.example/queryDownloader?SiteID=1", false,
         CURLE_PEER_FAILED_VERIFICATION},
        // Routed to the sim, but the certificate does not name this host.
        {"https://update.elsewhere.example/queryDownloader", true, CURLE_PEER_FAILED_VERIFICATION},
    };
    for (const auto& c : cases) {
        if (c.trust)
            setenv("KV_CA_BUNDLE", sim.caBundle().c_str(), 1);
        else
            unsetenv("KV_CA_BUNDLE");
        CLibcurlTool tool;
        std::string body;
        EXPECT_EQ(tool.httpGetText(c.url, body, true), c.rc) << c.url;
        if (c.rc == CURLE_OK) {
            EXPECT_NE(body.find("<Md5>abc</Md5>"), std::string::npos) << body;
        }
    }
    unsetenv("KV_CA_BUNDLE");
    CLibcurlTool tool;
    std::string reply;
    EXPECT_EQ(tool.httpPostText("https://update.kestrova.example/queryDownloader", "a=b", reply,
                                sim.caBundle().c_str()),
              CURLE_OK)
        << "a caller's own bundle is trusted";
}

}  // namespace

namespace {

// A server that trickles (more than the stall check's one byte a second) or never answers a
// HEAD cannot hold a text request beyond its time limit.
TEST(CLibcurlTool, TextRequestsEndAtTheirTimeLimit) {
    kvtest::TempDir dir;
    kvtest::writeFile(dir.path() / "reply.txt", std::string(4096, 'x'));
    kvtest::VendorSim sim(R"({ "download": { "files": { "/reply.txt": { "source": ")" +
                          (dir.path() / "reply.txt").string() + R"(", "faults": [
        { "mode": "slow", "bytes_per_second": 20 },
        { "mode": "stall", "method": "HEAD", "stall_ms": 40000 } ] } } } })");
    kvtest::ScopedEnv connectTo("KV_CONNECT_TO", sim.connectTo().c_str());
    kvtest::ScopedEnv bundle("KV_CA_BUNDLE", sim.caBundle().c_str());
    const std::string url = "https://download.kestrova.example/reply.txt";
    const auto start = std::chrono::steady_clock::now();
    CLibcurlTool tool;
    tool.setTextTimeLimit(1500);
    std::string body;
    EXPECT_EQ(tool.httpGetText(url, body, true), CURLE_OPERATION_TIMEDOUT);
    EXPECT_LT(body.size(), 4096u);
    std::string header;
    long status = 0;
    EXPECT_EQ(tool.getHttpHeader(url, header, &status), CURLE_OPERATION_TIMEDOUT);
    // Unbounded, the trickle alone takes over three minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
