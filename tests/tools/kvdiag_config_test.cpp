#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/System.h"
#include "test_support.h"
#include "vendor_sim_runner.h"

namespace fs = std::filesystem;

namespace {

const std::string kBin = KV_BIN_DIR;

const char* kFixture = R"json({
  "update": { "replies": [
    { "match": { "SoftWareID": "253", "SiteID": "55", "LanguageId": "1033" },
      "prefix": "<html>noise</html>", "suffix": "trailing",
      "fields": [["Downloader_id", "253"], ["Software_id", "4242"],
                 ["Software_name", "Kestrova Editor (served)"],
                 ["Download_url", "https://download.kestrova.example/editor/served.exe"],
                 ["Extra_download_url", "https://cdn.kestrova.example/editor/served.exe"],
                 ["Process_name", "KestrovaEditor.exe\r\n"], ["Md5", "0123456789abcdef0123456789abcdef"],
                 ["Filesize", "3670016"]] } ] } })json";

// Runs a program with the sim's redirection settings, the CA bundle only when asked.
kvtest::RunResult runWithSim(const kvtest::VendorSim& sim, const std::string& program,
                             const std::vector<std::string>& args, bool trustSim) {
    setenv("KV_CONNECT_TO", sim.connectTo().c_str(), 1);
    if (trustSim)
        setenv("KV_CA_BUNDLE", sim.caBundle().c_str(), 1);
    else
        unsetenv("KV_CA_BUNDLE");
    auto result = kvtest::runProgram(program, args);
    unsetenv("KV_CONNECT_TO");
    unsetenv("KV_CA_BUNDLE");
    return result;
}

std::string expectedQuery() {
    return std::string("LanguageId=1033&SoftWareID=253&SiteID=55") +
           (platform::is64BitOs() ? "&package_type=2" : "");
}

TEST(KvdiagConfig, LoadsFromTheUpdateServiceOverVerifiedHttps) {
    kvtest::VendorSim sim(kFixture);
    auto r = runWithSim(sim, kBin + "/kvdiag", {"config"}, true);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("  GetDownloaderInfo(Sync)..."), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("  GetDownloaderInfo(Sync, com) return 0"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("  Configure Load From XML! "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("  [SoftWare Id]: 4242"), std::string::npos);
    EXPECT_NE(r.output.find("  [Software Name]: Kestrova Editor (served)"), std::string::npos);
    EXPECT_NE(r.output.find("  [Process Name]: KestrovaEditor.exe\n"), std::string::npos)
        << "line breaks of the process name are removed";
    EXPECT_NE(r.output.find("  [File ContentLength]: 3670016"), std::string::npos);

    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["scheme"].asString(), "https");
    EXPECT_EQ(requests[0]["host"].asString(), "update.kestrova.example");
    EXPECT_EQ(requests[0]["path"].asString(), "/queryDownloader");
    EXPECT_EQ(requests[0]["query"].asString(), expectedQuery());
}

// Without the sim's CA the peer is not trusted: the request fails and the skin's labels load.
TEST(KvdiagConfig, UntrustedServerFallsBackToTheSkin) {
    kvtest::VendorSim sim(kFixture);
    auto r = runWithSim(sim, kBin + "/kvdiag", {"config"}, false);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("  GetDownloaderInfo(Sync, com) return 60"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("  Configure Load From File! "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("  [Software Name]: Kestrova Editor\n"), std::string::npos);
    EXPECT_TRUE(sim.requests().empty()) << "no request got past the TLS handshake";
}

TEST(KvdiagConfig, MalformedReplyFallsBackToTheSkin) {
    kvtest::VendorSim sim(R"({ "update": { "replies": [ { "match": {}, "fault": "malformed",
        "fields": [["Md5", "x"], ["Download_url", "y"]] } ] } })");
    auto r = runWithSim(sim, kBin + "/kvdiag", {"config"}, true);
    EXPECT_NE(r.output.find("  Configure Load From File! "), std::string::npos) << r.output;
}

// The marker file beside the program asks for plain HTTP, whatever the site.
TEST(KvdiagConfig, MarkerFileSelectsPlainHttp) {
    kvtest::VendorSim sim(kFixture);
    kvtest::TempDir dir;
    fs::copy_file(kBin + "/kvdiag", dir.path() / "kvdiag");
    fs::copy_file(kBin + "/kvdownloader", dir.path() / "kvdownloader");
    kvtest::writeFile(dir.path() / "kv_downloader.cfg", "");
    auto r = runWithSim(sim, (dir.path() / "kvdiag").string(), {"config"}, true);
    EXPECT_NE(r.output.find("  GetDownloaderInfo(Sync, cn) return 0"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("  Configure Load From XML! "), std::string::npos) << r.output;
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["scheme"].asString(), "http");
    EXPECT_EQ(requests[0]["query"].asString(), expectedQuery());
}

TEST(KvdiagConfig, MarkupOnlyMakesNoRequest) {
    kvtest::VendorSim sim(kFixture);
    auto r = runWithSim(sim, kBin + "/kvdiag", {"config", "--markup"}, true);
    EXPECT_NE(r.output.find("  Configure Load From File! "), std::string::npos) << r.output;
    EXPECT_TRUE(sim.requests().empty());
}

TEST(KvdiagEndpoints, ListsEveryService) {
    auto r = kvtest::runProgram(kBin + "/kvdiag", {"endpoints"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.output.find("update https://update.kestrova.example\n"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("update-cn https://update.kestrova-cn.example\n"), std::string::npos);
    EXPECT_NE(r.output.find("update-http http://update.kestrova.example\n"), std::string::npos);
    EXPECT_NE(r.output.find("alert https://alert.kestrova.example\n"), std::string::npos);
}

}  // namespace
