#include "DownloadFixture.h"

#include <set>

#include "HttpText.h"

namespace vsim {
namespace {

struct ModeRule {
    const char* name;
    FaultMode mode;
    std::set<std::string> members;  // beyond "mode", "method" and "requests"
    bool onGet;                     // may apply to GET
    bool onHead;                    // may apply to HEAD
    bool onRedirects;               // may be given to a redirect
};

const std::vector<ModeRule>& modeRules() {
    static const std::vector<ModeRule> rules = {
        {"ignore-range", FaultMode::IgnoreRange, {}, true, false, false},
        {"wrong-total", FaultMode::WrongTotal, {"total"}, true, false, false},
        {"no-slash", FaultMode::NoSlash, {}, true, false, false},
        {"lowercase-headers", FaultMode::LowercaseHeaders, {}, true, true, true},
        {"http-error", FaultMode::HttpError, {"status"}, true, true, true},
        {"reset", FaultMode::Reset, {"after_bytes"}, true, false, false},
        {"slow", FaultMode::Slow, {"bytes_per_second"}, true, false, false},
        {"stall", FaultMode::Stall, {"after_bytes", "stall_ms", "then"}, true, true, false},
        {"length", FaultMode::Length, {"value"}, false, true, false},
    };
    return rules;
}

std::string modeNames(bool forRedirect) {
    std::string names;
    for (const ModeRule& rule : modeRules()) {
        if (forRedirect && !rule.onRedirects)
            continue;
        names += (names.empty() ? "" : ", ") + std::string(rule.name);
    }
    return names;
}

bool isComment(const std::string& key) {
    return key.rfind('_', 0) == 0;
}

// The library drops a header whose value holds CR or LF without a word; refuse it here.
bool isHeaderText(const std::string& text) {
    for (char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
            return false;
    return true;
}

// "/path" or "host/path" -> the same with the host in lower case; false when it is neither.
bool normalizeKey(const std::string& key, std::string& normalized) {
    size_t slash = key.find('/');
    if (slash == std::string::npos)
        return false;
    std::string host = key.substr(0, slash);
    if (!host.empty() && !isDnsName(host))
        return false;
    std::string path = key.substr(slash);
    for (char c : path)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f || c == '?' || c == '#')
            return false;
    normalized = asciiLower(host) + path;
    return true;
}

std::string parseFault(const Json::Value& json, bool forRedirect, Fault& fault) {
    if (!json.isObject())
        return "must be an object";
    const ModeRule* rule = nullptr;
    for (const ModeRule& candidate : modeRules())
        if (json["mode"].isString() && json["mode"].asString() == candidate.name)
            rule = &candidate;
    if (!rule || (forRedirect && !rule->onRedirects))
        return "\"mode\" must be one of " + modeNames(forRedirect);
    fault.mode = rule->mode;
    for (const std::string& key : json.getMemberNames())
        if (key != "mode" && key != "method" && key != "requests" && !isComment(key) &&
            !rule->members.count(key))
            return "\"" + key + "\" does not go with mode " + rule->name;

    std::string method = rule->onGet ? "GET" : "HEAD";
    if (json.isMember("method")) {
        const Json::Value& given = json["method"];
        if (!given.isString() ||
            (given.asString() != "GET" && given.asString() != "HEAD" && given.asString() != "any"))
            return "\"method\" must be \"GET\", \"HEAD\" or \"any\"";
        method = given.asString();
    }
    fault.onGet = method != "HEAD";
    fault.onHead = method != "GET";
    if ((fault.onGet && !rule->onGet) || (fault.onHead && !rule->onHead))
        return std::string("mode ") + rule->name + " applies to " + (rule->onGet ? "GET" : "HEAD") +
               " requests only";

    if (json.isMember("requests")) {
        const Json::Value& window = json["requests"];
        if (!window.isArray() || window.size() != 2 || !window[0].isUInt64() ||
            !window[1].isUInt64() || window[0].asUInt64() < 1 ||
            window[1].asUInt64() < window[0].asUInt64())
            return "\"requests\" must be [first, last] with 1 <= first <= last";
        fault.firstRequest = window[0].asUInt64();
        fault.lastRequest = window[1].asUInt64();
    }

    auto count = [&json](const char* key, std::optional<uint64_t>& value) {
        if (!json.isMember(key))
            return true;
        if (!json[key].isUInt64())
            return false;
        value = json[key].asUInt64();
        return true;
    };
    std::optional<uint64_t> bytesPerSecond, length;
    if (!count("total", fault.total))
        return "\"total\" must be a byte count, 0 or more";
    if (!count("after_bytes", fault.afterBytes))
        return "\"after_bytes\" must be a byte count, 0 or more";
    if (!count("bytes_per_second", bytesPerSecond) || bytesPerSecond == uint64_t(0))
        return "\"bytes_per_second\" must be a whole number, 1 or more";
    if (!count("value", length))
        return "\"value\" must be a byte count, 0 or more";
    if (rule->mode == FaultMode::Length && !length)
        return "mode length needs \"value\", the Content-Length HEAD reports";
    fault.bytesPerSecond = bytesPerSecond.value_or(fault.bytesPerSecond);
    fault.length = length.value_or(0);

    if (json.isMember("status")) {
        const Json::Value& status = json["status"];
        if (!status.isInt() || status.asInt() < 400 || status.asInt() > 599)
            return "\"status\" must be an HTTP error status from 400 to 599";
        fault.status = status.asInt();
    }
    if (json.isMember("stall_ms")) {
        const Json::Value& stall = json["stall_ms"];
        if (!stall.isInt() || stall.asInt() < 0 || stall.asInt() > 60000)
            return "\"stall_ms\" must be a whole number of milliseconds from 0 to 60000";
        fault.stallMs = stall.asInt();
    }
    if (json.isMember("then")) {
        const Json::Value& then = json["then"];
        if (!then.isString() || (then.asString() != "close" && then.asString() != "continue"))
            return "\"then\" must be \"close\" or \"continue\"";
        fault.closeAfterStall = then.asString() == "close";
    }
    return {};
}

std::string parseFaults(const Json::Value& json, bool forRedirect, std::vector<Fault>& faults) {
    if (!json.isArray())
        return "\"faults\" must be an array";
    for (Json::ArrayIndex i = 0; i < json.size(); ++i) {
        Fault fault;
        std::string problem = parseFault(json[i], forRedirect, fault);
        if (!problem.empty())
            return "faults[" + std::to_string(i) + "]: " + problem;
        faults.push_back(fault);
    }
    return {};
}

std::string parseFile(const Json::Value& json, FileEntry& file) {
    if (!json.isObject())
        return "must be an object with \"source\"";
    static const std::set<std::string> kMembers = {"source", "etag", "last_modified", "cdn",
                                                   "faults"};
    for (const std::string& key : json.getMemberNames())
        if (!kMembers.count(key) && !isComment(key))
            return "unknown member \"" + key + "\"";
    if (!json["source"].isString() ||
        !std::filesystem::path(json["source"].asString()).is_absolute())
        return "\"source\" must be the absolute path of the file to serve";
    file.source = json["source"].asString();

    auto headerValue = [](const Json::Value& value, const char* key,
                          std::optional<std::string>& out) {
        if (!value.isMember(key))
            return true;
        if (!value[key].isString() || !isHeaderText(value[key].asString()))
            return false;
        out = value[key].asString();
        return true;
    };
    if (!headerValue(json, "etag", file.etag))
        return "\"etag\" must be a string without control characters";
    if (!headerValue(json, "last_modified", file.lastModified))
        return "\"last_modified\" must be a string without control characters";
    if (json.isMember("cdn")) {
        const Json::Value& cdn = json["cdn"];
        if (!cdn.isObject())
            return "\"cdn\" must be an object with \"cache_status\" and \"ray\"";
        for (const std::string& key : cdn.getMemberNames())
            if (key != "cache_status" && key != "ray" && !isComment(key))
                return "cdn: unknown member \"" + key + "\"";
        if (!headerValue(cdn, "cache_status", file.cacheStatus) ||
            !headerValue(cdn, "ray", file.ray))
            return "cdn: \"cache_status\" and \"ray\" must be strings without control characters";
    }
    if (json.isMember("faults"))
        return parseFaults(json["faults"], false, file.faults);
    return {};
}

std::string parseRedirect(const Json::Value& json, RedirectEntry& redirect) {
    if (json.isString()) {
        redirect.location = json.asString();
    } else if (json.isObject()) {
        for (const std::string& key : json.getMemberNames())
            if (key != "location" && key != "status" && key != "faults" && !isComment(key))
                return "unknown member \"" + key + "\"";
        redirect.location = json["location"].isString() ? json["location"].asString() : "";
        if (json.isMember("status")) {
            const Json::Value& status = json["status"];
            static const std::set<int> kRedirects = {301, 302, 303, 307, 308};
            if (!status.isInt() || !kRedirects.count(status.asInt()))
                return "\"status\" must be 301, 302, 303, 307 or 308";
            redirect.status = status.asInt();
        }
        if (json.isMember("faults")) {
            std::string problem = parseFaults(json["faults"], true, redirect.faults);
            if (!problem.empty())
                return problem;
        }
    } else {
        return "must be a location or an object with \"location\"";
    }
    if (redirect.location.empty() || !isHeaderText(redirect.location))
        return "the location must be a non-empty string without control characters";
    return {};
}

std::string parsePage(const Json::Value& json, PageEntry& page) {
    if (!json.isObject())
        return "must be an object with \"body\"";
    for (const std::string& key : json.getMemberNames())
        if (key != "body" && key != "status" && key != "content_type" && key != "faults" &&
            !isComment(key))
            return "unknown member \"" + key + "\"";
    if (!json["body"].isString())
        return "\"body\" must be the page's text";
    page.body = json["body"].asString();
    if (json.isMember("content_type")) {
        const Json::Value& type = json["content_type"];
        if (!type.isString() || type.asString().empty() || !isHeaderText(type.asString()))
            return "\"content_type\" must be a non-empty string without control characters";
        page.contentType = type.asString();
    }
    if (json.isMember("status")) {
        const Json::Value& status = json["status"];
        // A 3xx without a location is no redirect; those are "redirects" entries.
        if (!status.isInt() || status.asInt() < 200 || status.asInt() > 599 ||
            (status.asInt() >= 300 && status.asInt() < 400))
            return "\"status\" must be from 200 to 299 or 400 to 599 (redirects are "
                   "\"redirects\" entries)";
        page.status = status.asInt();
    }
    if (json.isMember("faults"))
        return parseFaults(json["faults"], true, page.faults);
    return {};
}

// Checks the keys of `json` (an object) and parses each entry with `parse` into `entries`.
template <typename Entry, typename Parse>
std::string parseEntries(const Json::Value& json, const char* member,
                         std::map<std::string, Entry>& entries, Parse parse) {
    if (!json.isObject())
        return std::string("\"") + member + "\" must be an object of \"/path\" or " +
               "\"host/path\" -> entry";
    for (const std::string& key : json.getMemberNames()) {
        if (isComment(key))
            continue;
        std::string where = std::string(member) + " \"" + key + "\"";
        std::string normalized;
        if (!normalizeKey(key, normalized))
            return where + ": the key must be \"/path\" or \"host/path\" (no query, no spaces)";
        if (entries.count(normalized))
            return where + " is listed twice";
        Entry entry;
        std::string problem = parse(json[key], entry);
        if (!problem.empty())
            return where + ": " + problem;
        entries.emplace(normalized, std::move(entry));
    }
    return {};
}

}  // namespace

std::string parseDownloadSection(const Json::Value& json, DownloadSection& section) {
    if (json.isNull())
        return {};
    if (!json.isObject())
        return "must be an object with \"files\", \"redirects\" and \"pages\"";
    for (const std::string& key : json.getMemberNames())
        if (key != "files" && key != "redirects" && key != "pages" && !isComment(key))
            return "unknown member \"" + key + "\"";
    if (json.isMember("files")) {
        std::string problem = parseEntries(json["files"], "files", section.files, parseFile);
        if (!problem.empty())
            return problem;
    }
    if (json.isMember("redirects")) {
        std::string problem =
            parseEntries(json["redirects"], "redirects", section.redirects, parseRedirect);
        if (!problem.empty())
            return problem;
    }
    if (json.isMember("pages")) {
        std::string problem = parseEntries(json["pages"], "pages", section.pages, parsePage);
        if (!problem.empty())
            return problem;
    }
    for (const auto& entry : section.redirects)
        if (section.files.count(entry.first))
            return "\"" + entry.first + "\" is both a file and a redirect";
    for (const auto& entry : section.pages)
        if (section.files.count(entry.first) || section.redirects.count(entry.first))
            return "\"" + entry.first + "\" is a page and also a file or a redirect";
    return {};
}

const Fault* firstFault(const std::vector<Fault>& faults, bool head, uint64_t requestNumber) {
    for (const Fault& fault : faults)
        if (fault.appliesTo(head, requestNumber))
            return &fault;
    return nullptr;
}

}  // namespace vsim
