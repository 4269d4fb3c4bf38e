#include "CConfigure.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "Common/skin_labels.h"
#include "Logging.h"
#include "report/EventReporter.h"
#include "test_support.h"

namespace {

TEST(DownloaderInfoUrl, ServiceChoiceAndQuery) {
    struct Case {
        int site;
        bool cfg;
        bool is64;
        const char* url;
    } cases[] = {
        {55, false, true,
         "https://update.kestrova.example/"
         "queryDownloader?LanguageId=1033&SoftWareID=253&SiteID=55&package_type=2"},
        {54, false, true,
         "https://update.kestrova-cn.example/"
         "queryDownloader?LanguageId=1033&SoftWareID=253&SiteID=54&package_type=2"},
        {118, false, false,
         "https://update.kestrova-cn.example/"
         "queryDownloader?LanguageId=1033&SoftWareID=253&SiteID=118"},
        {290, false, true,
         "https://update.kestrova-cn.example/"
         "queryDownloader?LanguageId=1033&SoftWareID=253&SiteID=290&package_type=2"},
        {291, false, true,
         "https://update.kestrova.example/"
         "queryDownloader?LanguageId=1033&SoftWareID=253&SiteID=291&package_type=2"},
        {55, false, false,
         "https://update.kestrova.example/"
         "queryDownloader?LanguageId=1033&SoftWareID=253&SiteID=55"},
        // The marker file wins over the site, China or not.
        {54, true, true,
         "http://update.kestrova.example/"
         "queryDownloader?LanguageId=1033&SoftWareID=253&SiteID=54&package_type=2"},
        {55, true, false,
         "http://update.kestrova.example/queryDownloader?LanguageId=1033&SoftWareID=253&SiteID=55"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CConfigure::downloaderInfoUrl(1033, 253, c.site, c.cfg, c.is64), c.url) << c.site;
}

std::string reply(const std::string& inner) {
    return "<Downloader>" + inner + "</Downloader>";
}

TEST(ReplyParser, KeepsOnlyTheElementAndFillsFields) {
    CConfigure cfg(253, 1033, 55);
    const std::string body =
        "garbage before " +
        reply(
            "<Downloader_id>300</Downloader_id><Software_id>9</Software_id>"
            "<Filesize>5000000000</Filesize><Software_name>Kestrova Editor</Software_name>"
            "<Download_url>https://download.kestrova.example/a.exe\r\n</Download_url>"
            "<Extra_download_url>https://cdn.kestrova.example/a.exe</Extra_download_url>"
            "<Process_name>Kes\ntrova\r.exe</Process_name><Md5>abc</Md5>"
            "<Unknown>ignored</Unknown><Downloader_type>2</Downloader_type>") +
        " and after";
    ASSERT_EQ(cfg.keepDownloaderElement(body), 1);
    EXPECT_EQ(cfg.rawReply.substr(0, 12), "<Downloader>");
    EXPECT_EQ(cfg.rawReply.substr(cfg.rawReply.size() - 13), "</Downloader>");
    ASSERT_EQ(cfg.parseDownloadInfoXml(), 1);
    EXPECT_EQ(cfg.loadState, CConfigure::kLoaded);
    EXPECT_EQ(cfg.loadSource, CConfigure::kFromServer);
    EXPECT_EQ(cfg.Downloader_id, 300);
    EXPECT_EQ(cfg.Software_id, 9);
    EXPECT_EQ(cfg.Filesize, 5000000000LL);
    EXPECT_EQ(cfg.Downloader_type, 2);
    EXPECT_EQ(cfg.Process_name, "Kestrova.exe");
    EXPECT_EQ(cfg.Download_url, "https://download.kestrova.example/a.exe");
    // A content-delivery URL is kept but is no candidate.
    EXPECT_EQ(cfg.Extra_download_url, "https://cdn.kestrova.example/a.exe");
    EXPECT_EQ(cfg.candidateUrls,
              std::vector<std::string>{"https://download.kestrova.example/a.exe"});

    // A second parse appends to the candidate list instead of starting it anew.
    ASSERT_EQ(cfg.parseDownloadInfoXml(), 1);
    EXPECT_EQ(cfg.candidateUrls.size(), 2u);
}

TEST(ReplyParser, BadRepliesLeaveTheConfigurationAsItWas) {
    struct Case {
        const char* name;
        std::string body;
        int kept;    // what keepDownloaderElement returns
        int parsed;  // what the parser returns afterwards
    } cases[] = {
        {"no element", "<html>nothing</html>", 0, 0},
        {"open tag only", "<Downloader><Md5>x</Md5>", 0, 0},
        {"close tag inside the open tag's twelve characters", "<Downloader</Downloader>", 0, 0},
        {"unbalanced child", reply("<Md5>x</Software_name>"), 1, 0},
        {"nested: the cut ends at the inner close", reply(reply("<Md5>x</Md5>")), 1, 0},
        {"repeated: the first element counts",
         reply("<Md5>first</Md5>") + reply("<Md5>second</Md5>"), 1, 1},
        {"empty element", "<Downloader></Downloader>", 1, 1},
    };
    for (const auto& c : cases) {
        CConfigure cfg(253, 1033, 55);
        cfg.Md5 = "before";
        EXPECT_EQ(cfg.keepDownloaderElement(c.body), c.kept) << c.name;
        EXPECT_EQ(cfg.parseDownloadInfoXml(), c.parsed) << c.name;
        if (c.parsed == 0) {
            EXPECT_EQ(cfg.loadState, CConfigure::kNotLoaded) << c.name;
            EXPECT_EQ(cfg.Md5, "before") << c.name;
        }
    }
    CConfigure repeated(253, 1033, 55);
    repeated.keepDownloaderElement(reply("<Md5>first</Md5>") + reply("<Md5>second</Md5>"));
    repeated.parseDownloadInfoXml();
    EXPECT_EQ(repeated.Md5, "first");

    // A later reply without the element keeps the earlier one.
    CConfigure kept(253, 1033, 55);
    kept.keepDownloaderElement(reply("<Md5>good</Md5>"));
    EXPECT_EQ(kept.keepDownloaderElement("<error/>"), 0);
    EXPECT_EQ(kept.rawReply, reply("<Md5>good</Md5>"));
}

// The name and the version become file names and pieces of the setup's command line: a reply
// that would break out of either is not used (the configure.xml labels are then read).
TEST(ReplyParser, ANameOrVersionThatWouldBreakOutRefusesTheReply) {
    const std::string cases[] = {
        "<Software_name>Kestrova Editor\" /DIR=\"/srv/x</Software_name>",
        "<Software_name>Kestrova\nEditor</Software_name>",
        "<Software_version>../../etc</Software_version>",
        "<Software_version>2.4\\..\\x</Software_version>",
        "<Software_version>2.4\"1</Software_version>",
        // The product is started from the install folder by this name: it may not leave it.
        "<Process_name>/usr/bin/xterm</Process_name>",
        "<Process_name>\\bin\\sh</Process_name>",
        "<Process_name>../../bin/sh</Process_name>",
        "<Process_name>Editor/..\\..\\sh</Process_name>",
        "<Process_name>.\n./x</Process_name>",
    };
    for (const auto& element : cases) {
        CConfigure cfg(253, 1033, 55);
        cfg.keepDownloaderElement(reply("<Software_id>9</Software_id>" + element));
        EXPECT_EQ(cfg.parseDownloadInfoXml(), 0) << element;
        EXPECT_EQ(cfg.loadState, CConfigure::kNotLoaded) << element;
        EXPECT_EQ(cfg.Software_id, 0) << "nothing of the reply is taken: " << element;
    }
    CConfigure cfg(253, 1033, 55);
    cfg.keepDownloaderElement(
        reply("<Software_name>Kestrova Editor "
              "(x64)</Software_name><Software_version>2.4.1.0</Software_version>"
              "<Process_name>bin\\Editor..exe</Process_name>"));
    EXPECT_EQ(cfg.parseDownloadInfoXml(), 1);
    EXPECT_EQ(cfg.Process_name, "bin\\Editor..exe") << "a subfolder of the install folder is fine";
}

TEST(ReplyParser, NamesAreCutAndTextIsMadeValid) {
    std::string longName;
    for (int i = 0; i < 300; ++i)
        longName += "\xE4\xB8\xAD";  // 中: three bytes, one character
    CConfigure cfg(253, 1033, 55);
    cfg.keepDownloaderElement(reply("<Software_name>" + longName +
                                    "</Software_name>"
                                    "<Software_version>2.\xFF"
                                    "0</Software_version>"
                                    "<Site_id>99999999999</Site_id>"));
    ASSERT_EQ(cfg.parseDownloadInfoXml(), 1);
    EXPECT_EQ(cfg.Software_name.size(), 259u * 3);
    EXPECT_EQ(cfg.Software_version,
              "2.\xEF\xBF\xBD"
              "0");
    EXPECT_EQ(cfg.Site_id, 2147483647) << "an out-of-range number clamps instead of wrapping";
}

std::map<std::string, std::string> skinLabels() {
    return {{"Downloader_id", "253"},
            {"Software_id", "1201"},
            {"Site_id", "55"},
            {"Language_id", "1033"},
            {"Filesize", "123456"},
            {"Software_name", "Kestrova Editor"},
            {"Download_url", "https://download.kestrova.example/e.exe"},
            {"Extra_download_url", "https://dl.kestrova.example/e.exe"},
            {"Md5", "00ff"},
            {"Process_name", "KestrovaEditor.exe"}};
}

TEST(MarkupReader, ReadsLabelsAndResetsWhatItDoesNotRead) {
    CConfigure cfg(0, 0, 0);
    cfg.Install_url = "stale";
    cfg.candidateUrls = {"stale"};
    ASSERT_EQ(cfg.loadFromMarkup(LabelLookup(skinLabels())), 1);
    EXPECT_EQ(cfg.loadState, CConfigure::kLoaded);
    EXPECT_EQ(cfg.loadSource, CConfigure::kFromMarkup);
    EXPECT_EQ(cfg.Downloader_type, 1);
    EXPECT_EQ(cfg.Downloader_id, 253);
    EXPECT_EQ(cfg.Filesize, 123456);
    EXPECT_EQ(cfg.Install_url, "") << "missing labels read as empty";
    EXPECT_EQ(cfg.candidateUrls,
              std::vector<std::string>{"https://download.kestrova.example/e.exe"})
        << "the dl. URL is a content-delivery URL; the stale list is cleared";
}

// A reply that does not parse lets the markup reader run, as the install worker does it.
TEST(MarkupReader, RunsWhenTheReplyFails) {
    CConfigure cfg(253, 1033, 55);
    cfg.keepDownloaderElement(reply("<Md5>x</Oops>"));
    if (cfg.parseDownloadInfoXml() == 0)
        cfg.loadFromMarkup(LabelLookup(skinLabels()));
    EXPECT_EQ(cfg.loadSource, CConfigure::kFromMarkup);
    EXPECT_EQ(cfg.Md5, "00ff");
}

TEST(ReadLabelTexts, FindsLabelsAnywhereFirstWins) {
    auto labels = ReadLabelTexts(
        "\xEF\xBB\xBF<VerticalLayout name=\"Product_config\"><HorizontalLayout>"
        "<Label name=\"Downloader_id\" text=\"253\" /></HorizontalLayout>"
        "<Label name=\"Downloader_id\" text=\"999\" /><Label name=\"Empty\" />"
        "<Button name=\"NotALabel\" text=\"x\" /></VerticalLayout>");
    ASSERT_TRUE(labels);
    EXPECT_EQ((*labels)["Downloader_id"], "253");
    EXPECT_EQ(labels->count("Empty"), 1u);
    EXPECT_EQ(labels->count("NotALabel"), 0u);
    EXPECT_FALSE(ReadLabelTexts("<VerticalLayout><Label></VerticalLayout>"));
}

TEST(ExtractDownloadUrl, Cases) {
    struct Case {
        std::string text;
        std::string url;
    } cases[] = {
        {"x" + reply("<Md5>1</Md5><Download_url>https://a/b.exe</Download_url>") + "y",
         "https://a/b.exe"},
        {reply("<Md5>1</Md5>"), ""},
        {reply("<Download_url>u</Oops>"), ""},
        {"<Downloader><Download_url>u</Download_url>", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CConfigure::extractDownloadUrl(c.text), c.url) << c.text;
}

TEST(HasDownloaderCfg, LooksBesideTheProgramOnly) {
    kvtest::TempDir dir;
    const auto program = dir.path() / "kvdownloader";
    EXPECT_FALSE(HasDownloaderCfg(program));
    kvtest::writeFile(dir.path() / "kv_downloader.cfg", "");
    EXPECT_TRUE(HasDownloaderCfg(program)) << "an empty marker counts: its content is never read";
    EXPECT_FALSE(HasDownloaderCfg(dir.path() / "sub" / "kvdownloader"));
}

// Every element lands in its own field, and the reply's normalising applies to its fields only:
// the labels of the skin package are taken as written.
TEST(ConfigFields, EachSourceFillsEachFieldItsWay) {
    const std::string longName(300, 'n');
    const std::map<std::string, std::string> values = {
        {"Downloader_id", "301"},
        {"Software_id", "302"},
        {"Site_id", "303"},
        {"Language_id", "304"},
        {"Downloader_type", "2"},
        {"Filesize", "305"},
        {"Software_name", longName},
        {"Software_version", "3.0.6"},
        {"Download_url", "https://a.example/\r\nd.exe"},
        {"Md5", "md5"},
        {"Process_name", "p\n.exe"},
        {"Install_url", "https://a.example/i"},
        {"Banner_url", "https://a.example/b"},
        {"Licensefile_url", "https://a.example/l"},
        {"Extra_download_url", "https://a.example/\ne.exe"},
        {"Md5_extra", "md5x"},
        {"Cnet_download_url", "https://a.example/c"},
    };
    std::string elements;
    for (const auto& [name, value] : values)
        elements += "<" + name + ">" + value + "</" + name + ">";
    CConfigure server(1, 1, 1);
    server.keepDownloaderElement(reply(elements));
    ASSERT_EQ(server.parseDownloadInfoXml(), 1);
    CConfigure markup(1, 1, 1);
    markup.loadFromMarkup(LabelLookup(values));

    struct Expected {
        std::string fromServer;
        std::string fromMarkup;
    };
    const std::map<std::string, Expected> fields = {
        {"Downloader_id",
         {std::to_string(server.Downloader_id), std::to_string(markup.Downloader_id)}},
        {"Software_id", {std::to_string(server.Software_id), std::to_string(markup.Software_id)}},
        {"Site_id", {std::to_string(server.siteId()), std::to_string(markup.siteId())}},
        {"Language_id", {std::to_string(server.Language_id), std::to_string(markup.Language_id)}},
        {"Downloader_type",
         {std::to_string(server.Downloader_type), std::to_string(markup.Downloader_type)}},
        {"Filesize", {std::to_string(server.Filesize), std::to_string(markup.Filesize)}},
        {"Software_name", {server.Software_name, markup.Software_name}},
        {"Software_version", {server.Software_version, markup.Software_version}},
        {"Download_url", {server.Download_url, markup.Download_url}},
        {"Md5", {server.Md5, markup.Md5}},
        {"Process_name", {server.Process_name, markup.Process_name}},
        {"Install_url", {server.Install_url, markup.Install_url}},
        {"Banner_url", {server.Banner_url, markup.Banner_url}},
        {"Licensefile_url", {server.Licensefile_url, markup.Licensefile_url}},
        {"Extra_download_url", {server.Extra_download_url, markup.Extra_download_url}},
        {"Md5_extra", {server.Md5_extra, markup.Md5_extra}},
        {"Cnet_download_url", {server.Cnet_download_url, markup.Cnet_download_url}},
    };
    const std::map<std::string, Expected> different = {
        {"Language_id", {"1", "304"}},    // a label only
        {"Downloader_type", {"2", "1"}},  // the markup reader's own choice
        {"Software_name", {std::string(259, 'n'), longName}},
        {"Download_url", {"https://a.example/d.exe", values.at("Download_url")}},
        {"Process_name", {"p.exe", values.at("Process_name")}},
        {"Extra_download_url", {"https://a.example/e.exe", values.at("Extra_download_url")}},
    };
    for (const auto& [name, got] : fields) {
        const auto special = different.find(name);
        const Expected want = special != different.end()
                                  ? special->second
                                  : Expected{values.at(name), values.at(name)};
        EXPECT_EQ(got.fromServer, want.fromServer) << name;
        EXPECT_EQ(got.fromMarkup, want.fromMarkup) << name;
    }
}

std::vector<std::string> loggedLines(const std::function<void()>& write) {
    kvtest::TempDir dir;
    const auto log = dir.path() / "config.log";
    kvlog::configureLogging(log);
    write();
    kvlog::configureLogging();
    std::vector<std::string> lines;
    std::istringstream in(kvtest::readFile(log));
    for (std::string line; std::getline(in, line);) {
        const size_t message = line.find(") ");
        if (message != std::string::npos)
            lines.push_back(line.substr(message + 2));
    }
    return lines;
}

// Operators compare these logs across versions: the lines and their order stay.
TEST(ConfigFields, LogLinesKeepTheirOrder) {
    CConfigure cfg(253, 1033, 55);
    const auto missing = loggedLines([&] { cfg.loadFromMarkup(LabelLookup({})); });
    const std::vector<std::string> labels = {
        "Downloader_id",      "Software_id",      "Site_id",         "Language_id", "Filesize",
        "Software_name",      "Software_version", "Process_name",    "Install_url", "Download_url",
        "Extra_download_url", "Banner_url",       "Licensefile_url", "Md5",         "Md5_extra",
        "Cnet_download_url"};
    ASSERT_EQ(missing.size(), labels.size());
    for (size_t i = 0; i < labels.size(); ++i)
        EXPECT_EQ(missing[i], " configure.xml has no label " + labels[i]);

    cfg.loadFromMarkup(LabelLookup(skinLabels()));
    const auto printed = loggedLines([&] { cfg.printContent(); });
    const std::vector<std::string> expected = {
        " Configure Load From File! ",
        " [File ContentLength]: 123456",
        " [Downloader Id]: 253",
        " [SoftWare Id]: 1201",
        " [Site Id]: 55",
        " [Language Id]: 1033",
        " [Software Name]: Kestrova Editor",
        " [Software Version]: ",
        " [Remote Path]: https://download.kestrova.example/e.exe",
        " [MD5 String]: 00ff",
        " [Process Name]: KestrovaEditor.exe",
        " [Install Url]: ",
        " [Banner Url]: ",
        " [Licensefile Url]: ",
        " [Extra Download Url]: https://dl.kestrova.example/e.exe",
        " [Cnet Download Url]: ",
        " [MD5 Extra String]: ",
    };
    EXPECT_EQ(printed, expected);
}

// The query's time is reported whatever the outcome; a refused connection keeps the test fast.
TEST(GetDownloadInfoXml, FailedRequestReportsItsTimeAndKeepsNothing) {
    std::optional<kvtest::ScopedEnv> refused(std::in_place, "KV_CONNECT_TO",
                                             ":443:127.0.0.1:1;:80:127.0.0.1:1");
    EventReporter::instance().clearEvents();
    CConfigure cfg(253, 1033, 55);
    cfg.is64BitSystem = [] { return false; };
    EXPECT_EQ(cfg.getDownloadInfoXml(true), 0);
    EXPECT_EQ(cfg.getDownloadInfoXml(false), 0);
    refused.reset();
    const auto events = EventReporter::instance().events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], (ReportedEvent{"Other", "SyncGetCbsTime", "0", false}));
    EXPECT_EQ(events[1], (ReportedEvent{"Other", "AsyncGetCbsTime", "0", false}));
    EXPECT_TRUE(cfg.rawReply.empty());
}

}  // namespace
