#pragma once
// The texts the reporting library sends, built by pure functions so that each can be compared
// with its expected form before anything touches the network: the GA4 URL and the UA body of
// the event hits, the user-log queries, the analytics JSON document, and the readers of the
// services' answers. Nothing here keeps state; any thread may call anything.

#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace weblog {

// ---- Encodings ------------------------------------------------------------------------------

// GA4 parameter text: 0-9, A-Z, a-z and - _ . ! ~ & = * ' ( ) stay; every other byte becomes
// "%" and two lower-case hex digits ("&" and "=" keep the parameter structure).
std::string ga4PercentEncode(std::string_view text);

// ReportLog content: 0-9, A-Z, a-z and - _ . ~ stay, a blank becomes "+", every other byte "%"
// and two upper-case hex digits.
std::string formEncode(std::string_view text);

// A value put into a user-log query. The services take their values as they are, so values
// made only of URL-safe characters (ids, GUIDs, addresses, versions) go unchanged; a byte
// that would break the URL or change its parameters (blank, control, non-ASCII, " # % & + < >
// = ? [ \ ] ^ ` { | }) becomes "%" and two upper-case hex digits.
std::string queryValue(std::string_view value);

// "%08d": eight digits, zero-padded; a negative value keeps its sign (-5 → "-0000005").
std::string idText(int32_t id);

// ---- Event hits -----------------------------------------------------------------------------

// GA4 request URL: endpoint + "?v=2&_ss=1&_c=1&sid=1677653616&cid=" + client id + the encoded
// parameter text.
std::string ga4CollectUrl(std::string_view endpoint, std::string_view clientId,
                          std::string_view parameters);

struct UaEvent {
    std::string trackingId;
    std::string applicationName;
    std::string applicationVersion;
    std::string category;
    std::string action;
    std::string label;
    std::string dimensions;  // "&cd1=..." ... "&cd8=..."
};

// False when a text the hit needs is empty (every one but the label).
bool uaEventComplete(const UaEvent& event);

// "v=1&tid=..&cid=..&t=event&ec=..&ea=..&el=..&an=..&av=.." + dimensions, values unescaped.
std::string uaEventBody(const UaEvent& event, std::string_view clientId);

// The UA result of an answer: 0 for status 200 and a body that starts with "GIF"; -3 for
// status 200 and another non-empty body; -1 otherwise (also when `performed` is false).
int uaResult(bool performed, long status, std::string_view body);

// ---- User-log service -----------------------------------------------------------------------

// serviceBaseUrl after the "softwarelog.txt" answer: the answer without surrounding blanks
// and line ends when it is an http:// or https:// URL without blanks or control characters;
// otherwise `defaultBase` (an error page that merely mentions "http" is no base URL).
std::string acceptServiceBase(std::string_view answer, const std::string& defaultBase);

struct UserLogEntry {
    std::string userId;
    int32_t operationId = 0;
    int32_t softwareId = 0;
    uint32_t useTimeSeconds = 0;  // 0: sent empty
    std::string country;
    std::string city;
    std::string publicIp;
    int32_t languageId = 0;
    int32_t result = 0;
    std::string resultData;
    int32_t siteId = 0;
    std::string currentVersion;
    int32_t activityId = 0;
    int32_t versionId = 0;
};

// "/AddUserLog?USER_ID=...&OP_ID=...&SoftWareID=...&UseTime=...&Location=...&City=...&OutIP=...
// &LanguageId=...&Result=...&ResultData=...&SiteID=...&CurVersion=...&ActivityID=...&VersionID=..."
std::string addUserLogPath(const UserLogEntry& entry);

std::string queryToolsPath(int32_t softwareId, int32_t languageId);
std::string queryDownloaderPath(int32_t softwareId, int32_t languageId, int32_t siteId);
std::string reportLogPath(std::string_view userId, int32_t softwareId, std::string_view email,
                          std::string_view publicIp, std::string_view content,
                          std::string_view uploadId);

// "product_id=%08d&useremail=..&content=..&log_id=..&version=..&subject=.." (unescaped).
std::string feedbackBody(int32_t softwareId, std::string_view version, std::string_view email,
                         std::string_view subject, std::string_view content,
                         std::string_view logId);

// Accepted feedback: status 200 and `status":200` in the body.
bool feedbackAccepted(long status, std::string_view body);

// ---- Geolocation ----------------------------------------------------------------------------

struct Geolocation {
    std::string country;   // field 2
    std::string city;      // field 6
    std::string publicIp;  // the last field, without its line end
};

// A CSV answer "status,country,code,region,region name,city,...,address". nullopt when it
// does not contain "success" or has fewer than seven fields (the city and the address would
// be missing).
std::optional<Geolocation> parseGeolocation(std::string_view answer);

// ---- Analytics JSON -------------------------------------------------------------------------

struct MachineFacts {
    std::string mac;
    std::string sessionId;
    std::string osText;
    int64_t timestampMs = 0;
};

// The input of SoftDataReport: a JSON object, or null when the text is not one.
Json::Value parseReportInput(std::string_view text);

// The report document from the input (members copied with their JSON type, absent ones at
// their defaults) and the machine facts.
Json::Value softDataDocument(const Json::Value& input, const MachineFacts& facts);

// The default StreamWriterBuilder's text of `document` followed by a line feed.
std::string serialiseDocument(const Json::Value& document);

}  // namespace weblog
