// The event catalogue end to end: an unattended install of the demo product against vendor-sim,
// reported the way the installer reports. Every event the run fires reaches the collectors as
// a GA4 hit and as a UA hit, the queued ones in the order they were fired.

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "Common/unattended.h"
#include "FuntionImpl.h"
#include "platform/Resources.h"
#include "report/EventReporter.h"
#include "report_env.h"

namespace fs = std::filesystem;
using kvtest::ReportEnv;

namespace {

const std::string kProductDir = std::string(KV_BIN_DIR) + "/demo-product/";
const std::string kSetup = kProductDir + "KestrovaEditor_2.4.1.0.exe";

using Event = std::tuple<std::string, std::string, std::string>;  // category, action, label

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string md5Of(const fs::path& file) {
    const auto r = kvtest::runProgram("/usr/bin/md5sum", {file.string()});
    return r.output.substr(0, 32);
}

// Runs the install in a process of its own, so that its reporter is the process reporter the
// installer has, and writes what the run reported to args[1] once the send thread is idle.
KV_TEST_CHILD(unattended_install) {
    EventReporter::Settings settings = FuntionImpl::ReporterSettings();
    settings.version = "1.0.0.1";  // the installer's; this test program has no version of its own
    if (!EventReporter::setUpInstance(settings))
        return 90;
    std::string error;
    const auto options =
        ParseUnattendedOptions({"--unattended", "--dir", args.at(0), "--lang", "0"}, error);
    if (!options)
        return 91;
    std::ostringstream console;
    const int status = RunUnattended(
        *options, platform::readResources(std::string(KV_BIN_DIR) + "/kvdownloader"), console);
    // A terminal run ends right after its last event; the window would stay open meanwhile.
    if (!EventReporter::instance().waitUntilIdle(60000))
        return 92;
    Json::Value events(Json::arrayValue);
    for (const auto& e : EventReporter::instance().events()) {
        Json::Value one;
        one["category"] = e.category;
        one["action"] = e.action;
        one["label"] = e.label;
        one["now"] = e.sendNow;
        events.append(one);
    }
    kvtest::writeFile(args.at(1), Json::writeString(Json::StreamWriterBuilder(), events));
    kvtest::writeFile(args.at(1) + ".console", console.str());
    return status;
}

TEST(Catalogue, AnUnattendedInstallReportsEveryEventInBothForms) {
    if (!fs::exists(kSetup))
        GTEST_SKIP() << "the demo product was not built: " << kSetup;
    const std::string fixture =
        replaceAll(replaceAll(replaceAll(kvtest::readFile(std::string(KV_SOURCE_DIR) +
                                                          "/tools/vendor-sim/fixtures/demo.json"),
                                         "@SETUP_MD5@", md5Of(kSetup)),
                              "@SETUP_SIZE@", std::to_string(fs::file_size(kSetup))),
                   "@SETUP_FILE@", kSetup);
    ReportEnv env(fixture);
    kvtest::EnvGuard guard{"KV_CA_BUNDLE", "TMPDIR", "HOME", "KV_OPENER"};
    const fs::path trust = env.dir() / "trust.pem";
    kvtest::writeFile(trust, kvtest::readFile(env.sim().caBundle()) + "\n" +
                                 kvtest::readFile(kProductDir + "demo-root.pem"));
    fs::create_directories(env.dir() / "tmp");
    fs::create_directories(env.dir() / "home");
    setenv("KV_CA_BUNDLE", trust.c_str(), 1);
    setenv("TMPDIR", (env.dir() / "tmp").c_str(), 1);
    setenv("HOME", (env.dir() / "home").c_str(), 1);
    setenv("KV_OPENER", "/bin/true", 1);

    const fs::path eventsFile = env.dir() / "events.json";
    const pid_t child = kvtest::spawnChild(
        "unattended_install", {(env.dir() / "programs").string(), eventsFile.string()});
    ASSERT_EQ(kvtest::waitChild(child, 180000), 0)
        << kvtest::readFile(eventsFile.string() + ".console");

    Json::Value reported;
    std::istringstream text(kvtest::readFile(eventsFile));
    ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), text, &reported, nullptr));
    EXPECT_GE(reported.size(), 25u) << "a whole install reports some thirty events";
    std::vector<Event> queued, atOnce;

    for (const auto& e : reported)
        (e["now"].asBool() ? atOnce : queued)
            .emplace_back(e["category"].asString(), e["action"].asString(), e["label"].asString());

    // What the collectors received, in the order received.
    std::vector<Event> ga4, ua;
    for (const auto& r : env.sim().requests()) {
        if (r["host"].asString() != "collect.analytics.example")
            continue;
        if (r["path"].asString() == "/g/collect") {
            const Json::Value& p = r["params"];
            ga4.emplace_back(p["ep.kv_category"].asString(), p["ep.kv_action"].asString(),
                             p["ep.kv_label"].asString());
            EXPECT_EQ(p["en"].asString(), p["ep.kv_action"].asString());
        } else if (r["path"].asString() == "/collect") {
            auto fields = kvtest::splitFields(r["body"].asString());
            ua.emplace_back(fields["ec"], fields["ea"], fields["el"]);
            EXPECT_EQ(fields["av"], "1.0.0.1");
        }
        EXPECT_EQ(r["status"].asInt() / 100, 2) << r["path"].asString();
    }
    const Event launch{"DownloaderInfo00", "launchDownloader001", ""};
    for (auto* hits : {&ga4, &ua}) {
        EXPECT_EQ(std::count(hits->begin(), hits->end(), launch), 1);
        hits->erase(std::remove(hits->begin(), hits->end(), launch), hits->end());
        EXPECT_EQ(hits->size(), queued.size() + atOnce.size()) << "every event, once";
        for (const auto& e : atOnce)
            EXPECT_NE(std::find(hits->begin(), hits->end(), e), hits->end()) << std::get<1>(e);
        // The queued events, in the order fired.
        std::vector<Event> inOrder;
        for (const auto& hit : *hits)
            if (std::find(atOnce.begin(), atOnce.end(), hit) == atOnce.end())
                inOrder.push_back(hit);
        EXPECT_EQ(inOrder, queued);
    }

    // The run fired the catalogue events of a successful install.
    auto fired = [&](const std::string& category, const std::string& action) {
        for (const auto& e : reported)
            if (e["category"].asString() == category && e["action"].asString() == action)
                return true;
        return false;
    };
    for (const auto& [category, action] : std::vector<std::pair<std::string, std::string>>{
             {"CrashRate", "Start"},
             {"PC", "SysOS"},
             {"Download", "1.Launch"},
             {"DownloaderInfo00", "ClickInstall001"},
             {"Download", "2.DownStart"},
             {"DownloaderInfo", "BeginDownload001"},
             {"Download", "3.Downloading..."},
             {"DownloadSpeed", "Server"},
             {"DownloadTime", "Server"},
             {"DownloaderInfo00", "DownloadSuccess001"},
             {"Download", "5.ProgramInstall"},
             {"DownloaderInfo00", "InstallFinish001"},
             {"CrashRate", "Close"}})
        EXPECT_TRUE(fired(category, action)) << category << "/" << action;
}

}  // namespace
