// The texts the reports send, compared before anything touches the network.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FuntionImplChannel.h"
#include "report/EventReporter.h"
#include "report/MachineIdentity.h"
#include "report/ReportPayloads.h"

namespace {

using namespace weblog;

TEST(Encodings, EachRuleKeepsItsOwnCharacters) {
    struct Case {
        const char* in;
        const char* ga4;
        const char* form;
        const char* query;
    } cases[] = {
        {"a b", "a%20b", "a+b", "a%20b"},
        {"a b/c", "a%20b%2fc", "a+b%2Fc", "a%20b/c"},
        {"1.5 MB/s", "1.5%20MB%2fs", "1.5+MB%2Fs", "1.5%20MB/s"},
        {"x:y", "x%3ay", "x%3Ay", "x:y"},
        {"100%", "100%25", "100%25", "100%25"},
        {"&k=v", "&k=v", "%26k%3Dv", "%26k%3Dv"},
        {"-_.~", "-_.~", "-_.~", "-_.~"},
        {"!*'()", "!*'()", "%21%2A%27%28%29", "!*'()"},
        {"\xc3\xa9", "%c3%a9", "%C3%A9", "%C3%A9"},
        {"l1\r\n", "l1%0d%0a", "l1%0D%0A", "l1%0D%0A"},
        {"#?+", "%23%3f%2b", "%23%3F%2B", "%23%3F%2B"},
        {"", "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ga4PercentEncode(c.in), c.ga4) << c.in;
        EXPECT_EQ(formEncode(c.in), c.form) << c.in;
        EXPECT_EQ(queryValue(c.in), c.query) << c.in;
    }
    // A NUL inside a text is a byte like any other, never the end of the rule's list.
    EXPECT_EQ(ga4PercentEncode(std::string("a\0b", 3)), "a%00b");
    EXPECT_EQ(formEncode(std::string("a\0b", 3)), "a%00b");
}

TEST(Encodings, IdsAreEightDigitsWithTheirSign) {
    EXPECT_EQ(idText(1), "00000001");
    EXPECT_EQ(idText(2), "00000002");
    EXPECT_EQ(idText(-5), "-0000005");
    EXPECT_EQ(idText(0), "00000000");
    EXPECT_EQ(idText(123456789), "123456789");
    EXPECT_EQ(idText(INT32_MIN), "-2147483648");
}

TEST(EventHits, Ga4UrlAndUaBody) {
    EXPECT_EQ(ga4CollectUrl("https://g.example/g/collect", "ABCD02FC00000001",
                            "&tid=G-1&ep.kv_label=a b"),
              "https://g.example/g/collect?v=2&_ss=1&_c=1&sid=1677653616&cid=ABCD02FC00000001"
              "&tid=G-1&ep.kv_label=a%20b");

    UaEvent event{"UA-305918462-1", "Downloader",  "1.0.0.1", "DownloadSpeed", "CDN",
                  "1.5 MB/s",       "&cd1=1.0.0.1"};
    EXPECT_TRUE(uaEventComplete(event));
    EXPECT_EQ(uaEventBody(event, "CID"),
              "v=1&tid=UA-305918462-1&cid=CID&t=event&ec=DownloadSpeed&ea=CDN&el=1.5 MB/s"
              "&an=Downloader&av=1.0.0.1&cd1=1.0.0.1");
    event.label.clear();
    EXPECT_TRUE(uaEventComplete(event)) << "an empty label is sent";
    EXPECT_NE(uaEventBody(event, "CID").find("&el=&an=Downloader"), std::string::npos);
    for (std::string UaEvent::*member :
         {&UaEvent::trackingId, &UaEvent::applicationName, &UaEvent::applicationVersion,
          &UaEvent::category, &UaEvent::action, &UaEvent::dimensions}) {
        UaEvent missing = event;
        missing.*member = "";
        EXPECT_FALSE(uaEventComplete(missing));
    }
}

TEST(EventHits, UaResultByAnswer) {
    struct Case {
        bool performed;
        long status;
        const char* body;
        int result;
    } cases[] = {
        {true, 200, "GIF89a", 0}, {true, 200, "GIF", 0},      {true, 200, "<html>", -3},
        {true, 200, "GI", -3},    {true, 200, "", -1},        {true, 500, "GIF89a", -1},
        {true, 204, "", -1},      {false, 200, "GIF89a", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(uaResult(c.performed, c.status, c.body), c.result) << c.status << " " << c.body;
}

TEST(UserLog, ServiceBaseFromTheSoftwareLogAnswer) {
    const std::string fallback = "https://default.example";
    struct Case {
        const char* answer;
        const char* base;
    } cases[] = {
        {"https://userlog.example/v2", "https://userlog.example/v2"},
        {"  http://userlog.example\r\n", "http://userlog.example"},
        {"", "https://default.example"},
        {"no address here", "https://default.example"},
        {"<html>see http://portal.example</html>", "https://default.example"},
        {"https://a.example/x y", "https://default.example"},
        {"ftp://a.example", "https://default.example"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(acceptServiceBase(c.answer, fallback), c.base) << c.answer;
}

TEST(UserLog, QueriesInTheirOrderWithSafeValues) {
    UserLogEntry entry;
    entry.userId = "1001";
    entry.operationId = 1;
    entry.softwareId = 2;
    entry.languageId = 3;
    entry.country = "United States";
    entry.city = "New York";
    entry.publicIp = "203.0.113.7";
    entry.result = 1;
    entry.siteId = -5;
    EXPECT_EQ(addUserLogPath(entry),
              "/AddUserLog?USER_ID=1001&OP_ID=00000001&SoftWareID=00000002&UseTime="
              "&Location=United%20States&City=New%20York&OutIP=203.0.113.7&LanguageId=00000003"
              "&Result=00000001&ResultData=&SiteID=-0000005&CurVersion=&ActivityID=00000000"
              "&VersionID=00000000");
    entry.useTimeSeconds = 180;
    entry.resultData = "x&OP_ID=9";
    const std::string withTime = addUserLogPath(entry);
    EXPECT_NE(withTime.find("&UseTime=180&"), std::string::npos);
    EXPECT_NE(withTime.find("&ResultData=x%26OP_ID%3D9&"), std::string::npos)
        << "no parameter injected";

    EXPECT_EQ(queryToolsPath(7, 1033), "/QueryTools?LanguageId=00001033&SoftWareID=00000007");
    EXPECT_EQ(queryDownloaderPath(7, 1033, 55),
              "/QueryDownloader?LanguageId=00001033&SoftWareID=00000007&SiteID=00000055");
    EXPECT_EQ(reportLogPath("1001", 7, "a@b.example", "203.0.113.7", "a b/c", "u1"),
              "/ReportLog?USER_ID=1001&SoftWareID=00000007&Email=a@b.example&OutIP=203.0.113.7"
              "&Content=a+b%2Fc&UploadID=u1");
}

TEST(AnalyticsJson, DefaultsAndCopiedMembers) {
    const MachineFacts facts{"02FC00000001", "SESSION", "Debian GNU/Linux 12 (bookworm) x64",
                             1700000000123};
    const Json::Value doc =
        softDataDocument(parseReportInput(R"({"pid": 7, "event_action": "open"})"), facts);
    EXPECT_EQ(doc["common"]["pid"], 7);
    EXPECT_EQ(doc["actions"]["event_action"], "open");
    EXPECT_EQ(doc["actions"]["event_label"], "");
    EXPECT_EQ(doc["common"]["is_new"], 0);
    EXPECT_EQ(doc["common"]["brand"], "");
    EXPECT_EQ(doc["common"]["uid"], base64("02FC00000001"));
    EXPECT_EQ(doc["common"]["mac"], "02FC00000001");
    EXPECT_EQ(doc["common"]["os"], "Win");
    EXPECT_EQ(doc["common"]["os_version"], facts.osText);
    EXPECT_EQ(doc["common"]["session_id"], "SESSION");
    EXPECT_EQ(doc["ts"].asInt64(), 1700000000123);
    EXPECT_FALSE(doc.isMember("start"));
    EXPECT_FALSE(doc.isMember("monitor"));
    EXPECT_EQ(doc.getMemberNames(), (std::vector<std::string>{"actions", "common", "ts"}));

    // Not JSON, or JSON that is not an object: defaults and machine data only.
    for (const char* input : {"not json", "[1,2]", "", "{\"pid\": "}) {
        const Json::Value d = softDataDocument(parseReportInput(input), facts);
        EXPECT_EQ(d["common"]["pid"], 0) << input;
        EXPECT_EQ(d["common"]["mac"], "02FC00000001") << input;
        EXPECT_EQ(d["ts"].asInt64(), 1700000000123) << input;
    }
    EXPECT_EQ(softDataDocument(Json::Value(), MachineFacts{})["common"]["uid"], "")
        << "no MAC, no uid";

    // Members keep their JSON type; "entry" and "monitor_type" open their objects.
    const Json::Value full = softDataDocument(
        parseReportInput(
            R"({"pid": "7", "entry": {"k": 1}, "monitor_type": "", "monitor_line_id": 4})"),
        facts);
    EXPECT_EQ(full["common"]["pid"], "7");
    EXPECT_EQ(full["start"]["entry"]["k"], 1);
    EXPECT_EQ(full["monitor"]["monitor_type"], "");
    EXPECT_EQ(full["monitor"]["guid"], "");
    EXPECT_EQ(full["monitor"]["param"]["line_id"], 4);
    EXPECT_TRUE(full["monitor"]["param"]["start_time"].isInt64());
    EXPECT_EQ(full["monitor"]["param"]["ext"]["parent_pid"], 0);
    EXPECT_EQ(full["monitor"]["param"]["user_ext"], "");
}

TEST(AnalyticsJson, StyledTextWithSortedMembersAndALineFeed) {
    Json::Value doc;
    doc["b"] = 1;
    doc["a"]["c"] = "x";
    EXPECT_EQ(serialiseDocument(doc),
              "{\n\t\"a\" : \n\t{\n\t\t\"c\" : \"x\"\n\t},\n\t\"b\" : 1\n}\n");
}

TEST(MachineIdentity, OsNamesOfTheVersionTable) {
    struct Case {
        uint32_t major, minor, build, platformId;
        bool workstation;
        uint16_t arch;
        int serverR2;
        const char* text;
    } cases[] = {
        {10, 0, 22621, 2, true, 9, 0, "Windows 11 x64"},
        {10, 0, 19045, 2, true, 0, 0, "Windows 10 x32"},
        {10, 0, 20348, 2, false, 9, 0, "Windows Server 2016 Technical Preview x64"},
        {6, 3, 9600, 2, false, 9, 0, "Windows Server 2012 R2 x64"},
        {6, 3, 9600, 2, true, 6, 0, "Windows 8.1 x64"},
        {6, 2, 9200, 2, true, 9, 0, "Windows 8 x64"},
        {6, 2, 9200, 2, false, 9, 0, "Windows Server 2012 x64"},
        {6, 1, 7601, 2, false, 9, 0, "Windows Server 2008 R2 x64"},
        {6, 0, 6002, 2, true, 0, 0, "Windows Vista x32"},
        {5, 2, 3790, 2, true, 9, 0, "Windows XP Professional x64 Edition x64"},
        {5, 2, 3790, 2, true, 0, 1, "Windows Server 2003 R2 x32"},
        {5, 2, 3790, 2, false, 0, 0, "Windows Server 2003 x32"},
        {5, 1, 2600, 2, true, 0, 0, "Windows XP x32"},
        {4, 0, 950, 1, true, 0, 0, "Microsoft Windows 95 x32"},
        {4, 0, 1381, 2, true, 0, 0, "Microsoft Windows NT 4.0 x32"},
        {4, 90, 0, 1, true, 0, 0, "Microsoft Windows Me x32"},
        {6, 4, 0, 2, true, 9, 0, "unknown OperatingSystem. x64"},
        {11, 0, 0, 2, true, 12, 0, "unknown OperatingSystem. x32"},
    };
    for (const auto& c : cases) {
        OsVersionFacts facts{true,         c.major,       c.minor, c.build,
                             c.platformId, c.workstation, c.arch,  c.serverR2};
        EXPECT_EQ(osNameFromVersion(facts) + architectureSuffix(c.arch), c.text)
            << c.major << "." << c.minor;
    }
    EXPECT_EQ(osNameFromVersion(OsVersionFacts{false, 10, 0, 22621, 2, true, 9, 0}), kUnknownOsName)
        << "a failed version call keeps the default";
    EXPECT_EQ(processorArchitectureOf("x86_64"), 9);
    EXPECT_EQ(processorArchitectureOf("aarch64"), 12);
    EXPECT_EQ(processorArchitectureOf("i686"), 0);
}

TEST(MachineIdentity, GuidTextsAndBase64) {
    const std::string guid = newGuidText();
    ASSERT_EQ(guid.size(), 36u);
    for (size_t i = 0; i < guid.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23)
            EXPECT_EQ(guid[i], '-');
        else
            EXPECT_TRUE((guid[i] >= '0' && guid[i] <= '9') || (guid[i] >= 'A' && guid[i] <= 'F'))
                << guid;
    }
    EXPECT_EQ(sessionIdFromGuid("0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D"),
              "0A1B2C3D4E5F6a7b8C9D0E1F2A3B4C5D");
    EXPECT_EQ(sessionIdFromGuid("{0a1b2c3d-4e5f-6A7B-8c9d-0e1f2a3b4c5d}"),
              "0A1B2C3D4E5F6a7b8C9D0E1F2A3B4C5D");
    EXPECT_EQ(sessionIdFromGuid(""), "");
    EXPECT_EQ(sessionIdFromGuid("0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5G"), "");
    EXPECT_EQ(processSessionId(), processSessionId()) << "one per process";
    EXPECT_EQ(processSessionId().size(), 32u);

    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("f"), "Zg==");
    EXPECT_EQ(base64("fo"), "Zm8=");
    EXPECT_EQ(base64("foo"), "Zm9v");
    EXPECT_EQ(base64("02FC00000001"), "MDJGQzAwMDAwMDAx");
    EXPECT_EQ(base64("\xff\xfe"), "//4=");
}

// ---- The event reporter's hits ---------------------------------------------------------------

EventReporter::DimensionValues values(int siteId, const std::string& url) {
    EventReporter::DimensionValues v;
    v.version = "1.0.0.1";
    v.trafficType = FuntionImpl::GetTrafficType(siteId);
    v.channelLabel = FuntionImpl::GetChannelLabel(siteId, url);
    v.softwareName = siteId ? "Kestrova Editor" : "";
    v.country = "United States";
    v.language = "English";
    v.osText = "Debian GNU/Linux 12 (bookworm) 64bit";
    return v;
}

TEST(ReporterHits, DimensionsInBothForms) {
    EXPECT_EQ(EventReporter::uaDimensions(values(0, "")),
              "&cd1=1.0.0.1&cd2=SEO&cd3=0&cd4=&cd5=United States&cd6=English"
              "&cd7=Debian GNU/Linux 12 (bookworm) 64bit&cd8=1");
    EXPECT_EQ(EventReporter::ga4Dimensions(values(0, "")),
              "&ep.cd1=1.0.0.1&ep.cd2=SEO&ep.cd3=0&ep.cd4=&ep.cd5=United States&ep.cd6=English"
              "&ep.cd7=Debian GNU/Linux 12 (bookworm) 64bit&ep.cd8=1");
    auto bing = values(2, "https://files.kestrova.example/Setup_BING_1.exe");
    bing.toolkitProduct = true;
    EXPECT_EQ(EventReporter::uaDimensions(bing),
              "&cd1=1.0.0.1&cd2=PPC&cd3=Bing&cd4=Kestrova Editor&cd5=United States&cd6=English"
              "&cd7=Debian GNU/Linux 12 (bookworm) 64bit&cd8=0");
    EXPECT_NE(EventReporter::ga4Dimensions(bing)->find("&ep.cd3=Bing&"), std::string::npos);
    EXPECT_NE(EventReporter::ga4Dimensions(bing)->find("&ep.cd8=0"), std::string::npos);
    EXPECT_NE(
        EventReporter::uaDimensions(values(2, "https://x.example/Setup.exe")).find("&cd3=KVNET&"),
        std::string::npos);
}

TEST(ReporterHits, Ga4ParametersAndTheirBound) {
    EXPECT_EQ(EventReporter::ga4Parameters("1.0.0.1", "CrashRate", "Close", "", "&ep.cd1=x"),
              "&tid=G-Q7MZ2KD9XW&ep.kv_productname=Downloader&ep.kv_productversion=1.0.0.1"
              "&ep.kv_category=CrashRate&ep.kv_action=Close&ep.kv_label=&en=Close&ep.cd1=x");
    EXPECT_EQ(EventReporter::ga4Parameters("1", "C", "", "L", ""),
              "&tid=G-Q7MZ2KD9XW&ep.kv_productname=Downloader&ep.kv_productversion=1"
              "&ep.kv_category=C&ep.kv_action=&ep.kv_label=L&en=");

    // The text must fit 4096 bytes with its NUL: 4095 characters go, 4096 are refused.
    const std::string fixed = *EventReporter::ga4Parameters("", "", "", "", "");
    const size_t room = EventReporter::kGa4TextBytes - 1 - fixed.size();
    EXPECT_EQ(EventReporter::ga4Parameters("", "", "", std::string(room, 'x'), "")->size(), 4095u);
    EXPECT_FALSE(EventReporter::ga4Parameters("", "", "", std::string(room + 1, 'x'), ""));
    auto longName = values(1, "");
    longName.softwareName = std::string(5000, 'n');
    EXPECT_FALSE(EventReporter::ga4Dimensions(longName));
    EXPECT_EQ(EventReporter::uaDimensions(longName).size(),
              5000 + EventReporter::uaDimensions(values(1, "")).size() -
                  std::string("Kestrova Editor").size())
        << "the UA form has no such buffer";
}

TEST(ReporterHits, LocaleSplitsAtTheFirstUnderscore) {
    using Pair = std::pair<std::string, std::string>;
    EXPECT_EQ(EventReporter::splitLocale("English_United States"),
              (Pair{"English", "United States"}));
    EXPECT_EQ(EventReporter::splitLocale("Chinese_Traditional_Taiwan"),
              (Pair{"Chinese", "Traditional_Taiwan"}));
    EXPECT_EQ(EventReporter::splitLocale("English"), (Pair{"Unknown", "Unknown"}));
    EXPECT_EQ(EventReporter::splitLocale(""), (Pair{"Unknown", "Unknown"}));
    EXPECT_EQ(EventReporter::splitLocale("_"), (Pair{"", ""}));
}

}  // namespace
