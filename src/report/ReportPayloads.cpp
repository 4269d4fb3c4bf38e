#include "report/ReportPayloads.h"

#include <json/reader.h>
#include <json/writer.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "TextUtil.h"
#include "report/MachineIdentity.h"

namespace weblog {

namespace {

bool isAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

void appendEscaped(std::string& out, unsigned char c, const char* hexDigits) {
    out += '%';
    out += hexDigits[c >> 4];
    out += hexDigits[c & 0x0f];
}

constexpr const char* kLowerHex = "0123456789abcdef";
constexpr const char* kUpperHex = "0123456789ABCDEF";

}  // namespace

std::string ga4PercentEncode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (isAlnum(c) || (c != 0 && std::strchr("-_.!~&=*'()", c) != nullptr))
            out += ch;
        else
            appendEscaped(out, c, kLowerHex);
    }
    return out;
}

std::string formEncode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (isAlnum(c) || (c != 0 && std::strchr("-_.~", c) != nullptr))
            out += ch;
        else if (c == ' ')
            out += '+';
        else
            appendEscaped(out, c, kUpperHex);
    }
    return out;
}

std::string queryValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        const bool unsafe =
            c <= 0x20 || c >= 0x7f || std::strchr("\"#%&+<=>?[\\]^`{|}", c) != nullptr;
        if (unsafe)
            appendEscaped(out, c, kUpperHex);
        else
            out += ch;
    }
    return out;
}

std::string idText(int32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "%08d", id);
    return text;
}

std::string ga4CollectUrl(std::string_view endpoint, std::string_view clientId,
                          std::string_view parameters) {
    std::string url(endpoint);
    url += "?v=2&_ss=1&_c=1&sid=1677653616&cid=";
    url += clientId;
    url += ga4PercentEncode(parameters);
    return url;
}

bool uaEventComplete(const UaEvent& e) {
    return !e.trackingId.empty() && !e.applicationName.empty() && !e.applicationVersion.empty() &&
           !e.category.empty() && !e.action.empty() && !e.dimensions.empty();
}

std::string uaEventBody(const UaEvent& e, std::string_view clientId) {
    std::string body = "v=1&tid=" + e.trackingId;
    body += "&cid=";
    body += clientId;
    body += "&t=event&ec=" + e.category + "&ea=" + e.action + "&el=" + e.label +
            "&an=" + e.applicationName + "&av=" + e.applicationVersion + e.dimensions;
    return body;
}

int uaResult(bool performed, long status, std::string_view body) {
    if (!performed || status != 200 || body.empty())
        return -1;
    return body.substr(0, 3) == "GIF" ? 0 : -3;
}

std::string acceptServiceBase(std::string_view answer, const std::string& defaultBase) {
    const std::string base(trimBlanks(answer));
    const bool http = base.rfind("http://", 0) == 0 || base.rfind("https://", 0) == 0;
    if (!http)
        return defaultBase;
    for (const char ch : base) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7f)
            return defaultBase;
    }
    return base;
}

std::string addUserLogPath(const UserLogEntry& e) {
    std::string path = "/AddUserLog?USER_ID=" + queryValue(e.userId);
    path += "&OP_ID=" + idText(e.operationId);
    path += "&SoftWareID=" + idText(e.softwareId);
    path += "&UseTime=";
    if (e.useTimeSeconds != 0)
        path += std::to_string(e.useTimeSeconds);
    path += "&Location=" + queryValue(e.country);
    path += "&City=" + queryValue(e.city);
    path += "&OutIP=" + queryValue(e.publicIp);
    path += "&LanguageId=" + idText(e.languageId);
    path += "&Result=" + idText(e.result);
    path += "&ResultData=" + queryValue(e.resultData);
    path += "&SiteID=" + idText(e.siteId);
    path += "&CurVersion=" + queryValue(e.currentVersion);
    path += "&ActivityID=" + idText(e.activityId);
    path += "&VersionID=" + idText(e.versionId);
    return path;
}

std::string queryToolsPath(int32_t softwareId, int32_t languageId) {
    return "/QueryTools?LanguageId=" + idText(languageId) + "&SoftWareID=" + idText(softwareId);
}

std::string queryDownloaderPath(int32_t softwareId, int32_t languageId, int32_t siteId) {
    return "/QueryDownloader?LanguageId=" + idText(languageId) +
           "&SoftWareID=" + idText(softwareId) + "&SiteID=" + idText(siteId);
}

std::string reportLogPath(std::string_view userId, int32_t softwareId, std::string_view email,
                          std::string_view publicIp, std::string_view content,
                          std::string_view uploadId) {
    return "/ReportLog?USER_ID=" + queryValue(userId) + "&SoftWareID=" + idText(softwareId) +
           "&Email=" + queryValue(email) + "&OutIP=" + queryValue(publicIp) +
           "&Content=" + formEncode(content) + "&UploadID=" + queryValue(uploadId);
}

std::string feedbackBody(int32_t softwareId, std::string_view version, std::string_view email,
                         std::string_view subject, std::string_view content,
                         std::string_view logId) {
    std::string body = "product_id=" + idText(softwareId);
    body += "&useremail=";
    body += email;
    body += "&content=";
    body += content;
    body += "&log_id=";
    body += logId;
    body += "&version=";
    body += version;
    body += "&subject=";
    body += subject;
    return body;
}

bool feedbackAccepted(long status, std::string_view body) {
    return status == 200 && body.find("status\":200") != std::string_view::npos;
}

std::optional<Geolocation> parseGeolocation(std::string_view answer) {
    if (answer.find("success") == std::string_view::npos)
        return std::nullopt;
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        const size_t comma = answer.find(',', start);
        fields.push_back(answer.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    if (fields.size() < 7)
        return std::nullopt;
    Geolocation where;
    where.country = std::string(fields[1]);
    where.city = std::string(fields[5]);
    std::string_view ip = fields.back();
    while (!ip.empty() && (ip.back() == '\n' || ip.back() == '\r'))
        ip.remove_suffix(1);
    where.publicIp = std::string(ip);
    return where;
}

Json::Value parseReportInput(std::string_view text) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value input;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &input, &errors) ||
        !input.isObject())
        return Json::Value();
    return input;
}

Json::Value softDataDocument(const Json::Value& input, const MachineFacts& facts) {
    const bool object = input.isObject();
    auto in = [&](const char* key, const Json::Value& fallback) {
        return object && input.isMember(key) ? input[key] : fallback;
    };
    const Json::Value emptyText("");
    const Json::Value zero(0);
    const Json::Value zero64(Json::Int64(0));

    Json::Value document(Json::objectValue);
    Json::Value& common = document["common"];
    common["uid"] = facts.mac.empty() ? std::string() : base64(facts.mac);
    common["session_id"] = facts.sessionId;
    common["pid"] = in("pid", zero);
    common["brand"] = in("brand", emptyText);
    common["model"] = in("model", emptyText);
    common["channel"] = in("channel", emptyText);
    common["is_new"] = in("is_new", zero);
    common["mac"] = facts.mac;
    common["os"] = "Win";
    common["os_version"] = facts.osText;
    common["product"] = in("product", emptyText);
    common["product_version"] = in("product_version", emptyText);
    common["email"] = in("email", emptyText);
    common["phone"] = in("phone", emptyText);

    if (object && input.isMember("entry"))
        document["start"]["entry"] = input["entry"];

    Json::Value& actions = document["actions"];
    actions["event_label"] = in("event_label", emptyText);
    actions["event_type"] = in("event_type", emptyText);
    actions["event_category"] = in("event_category", emptyText);
    actions["event_action"] = in("event_action", emptyText);

    if (object && input.isMember("monitor_type")) {
        Json::Value& monitor = document["monitor"];
        monitor["monitor_type"] = input["monitor_type"];
        monitor["guid"] = in("monitor_guid", emptyText);
        Json::Value& param = monitor["param"];
        param["start_time"] = in("monitor_start_time", zero64);
        param["error_time"] = in("monitor_error_time", zero64);
        param["line_id"] = in("monitor_line_id", zero);
        param["error_code"] = in("monitor_error_code", emptyText);
        param["total_memory"] = in("monitor_total_memory", emptyText);
        param["remain_memory"] = in("monitor_remain_memory", emptyText);
        param["ext"]["parent_pid"] = in("monitor_main_pid", zero);
        param["ext"]["pid"] = in("monitor_sub_pid", zero);
        param["ext"]["ext_others"] = in("monitor_ext1", emptyText);
        param["user_ext"] = in("monitor_user_ext", emptyText);
    }
    document["ts"] = Json::Int64(facts.timestampMs);
    return document;
}

std::string serialiseDocument(const Json::Value& document) {
    Json::StreamWriterBuilder builder;
    return Json::writeString(builder, document) + "\n";
}

}  // namespace weblog
