#include "UpdateService.h"

#include <set>

namespace vsim {
namespace {

constexpr int kDefaultSlowMs = 12000;  // longer than the client's patience for this query
constexpr int kMaxDelayMs = 60000;

enum class Fault { None, Empty, Malformed, HttpError, Slow };

bool parseFault(const std::string& text, Fault& fault) {
    static const std::pair<const char*, Fault> kNames[] = {
        {"none", Fault::None},           {"empty", Fault::Empty},
        {"malformed", Fault::Malformed}, {"http-error", Fault::HttpError},
        {"slow", Fault::Slow},
    };
    for (const auto& [name, value] : kNames) {
        if (text == name) {
            fault = value;
            return true;
        }
    }
    return false;
}

std::string checkReply(const Json::Value& reply) {
    if (!reply.isObject())
        return "must be an object";
    static const std::set<std::string> kMembers = {"match", "fields", "prefix",   "suffix",
                                                   "fault", "status", "delay_ms", "body"};
    for (const std::string& key : reply.getMemberNames())
        if (!kMembers.count(key) && key.rfind('_', 0) != 0)
            return "unknown member \"" + key + "\"";

    if (reply.isMember("match")) {
        const Json::Value& match = reply["match"];
        if (!match.isObject())
            return "\"match\" must be an object of parameter -> value";
        for (const std::string& key : match.getMemberNames())
            if (!match[key].isString() && !match[key].isNull())
                return "match \"" + key + "\" must be a string, or null for an absent parameter";
    }
    if (reply.isMember("fields")) {
        const Json::Value& fields = reply["fields"];
        if (!fields.isArray())
            return "\"fields\" must be an array of [name, value] pairs";
        for (Json::ArrayIndex i = 0; i < fields.size(); ++i) {
            const Json::Value& pair = fields[i];
            std::string where = "fields[" + std::to_string(i) + "]";
            if (!pair.isArray() || pair.size() != 2 || !pair[0].isString() || !pair[1].isString())
                return where + " must be a [name, value] pair of strings";
            if (!isXmlName(pair[0].asString()))
                return where + ": \"" + pair[0].asString() + "\" is not an element name";
        }
    }
    for (const char* key : {"prefix", "suffix", "body"})
        if (reply.isMember(key) && !reply[key].isString())
            return std::string("\"") + key + "\" must be a string";

    Fault fault = Fault::None;
    if (reply.isMember("fault") &&
        (!reply["fault"].isString() || !parseFault(reply["fault"].asString(), fault)))
        return "\"fault\" must be one of none, empty, malformed, http-error, slow";
    if (reply.isMember("status")) {
        const Json::Value& status = reply["status"];
        if (!status.isInt() || status.asInt() < 100 || status.asInt() > 599)
            return "\"status\" must be an HTTP status from 100 to 599";
        if (fault == Fault::HttpError && status.asInt() < 400)
            return "fault http-error needs a status of 400 or more";
    }
    if (reply.isMember("delay_ms") && (!reply["delay_ms"].isInt() || reply["delay_ms"].asInt() < 0))
        return "\"delay_ms\" must be a whole number of milliseconds, 0 or more";
    if (reply.isMember("body") && (fault == Fault::Empty || fault == Fault::Malformed))
        return "\"body\" cannot go with fault " + reply["fault"].asString() +
               ", which makes its own body";
    return {};
}

bool matches(const Json::Value& match, const QueryParams& params) {
    if (match.isNull())
        return true;
    for (const std::string& key : match.getMemberNames()) {
        std::optional<std::string> value = queryValue(params, key);
        const Json::Value& wanted = match[key];
        if (wanted.isNull() ? value.has_value() : value != wanted.asString())
            return false;
    }
    return true;
}

class UpdateService : public Service {
public:
    std::string name() const override { return "update"; }

    std::string validate(const Json::Value& section) const override {
        if (section.isNull())
            return {};
        if (!section.isObject())
            return "must be an object with \"replies\"";
        for (const std::string& key : section.getMemberNames())
            if (key != "replies" && key.rfind('_', 0) != 0)
                return "unknown member \"" + key + "\"";
        if (!section.isMember("replies"))
            return {};
        const Json::Value& replies = section["replies"];
        if (!replies.isArray())
            return "\"replies\" must be an array";
        for (Json::ArrayIndex i = 0; i < replies.size(); ++i) {
            std::string problem = checkReply(replies[i]);
            if (!problem.empty())
                return "replies[" + std::to_string(i) + "]: " + problem;
        }
        return {};
    }

    Reply handle(const Exchange& exchange, const Json::Value& section) override {
        Reply reply;
        if (exchange.path != "/queryDownloader") {
            reply.status = 404;
            reply.body = "the update service has no " + exchange.path + "\n";
            return reply;
        }
        if (exchange.method != "GET" && exchange.method != "HEAD") {
            reply.status = 405;
            reply.headers.emplace_back("Allow", "GET, HEAD");
            reply.body = "queryDownloader takes GET\n";
            return reply;
        }
        const Json::Value& replies =
            section.isObject() ? section["replies"] : Json::Value::nullSingleton();
        for (const Json::Value& candidate : replies) {
            if (matches(candidate["match"], exchange.params))
                return answer(candidate);
        }
        reply.status = 404;
        reply.body = "no fixture reply matches \"" + exchange.rawQuery + "\"\n";
        return reply;
    }

private:
    static Reply answer(const Json::Value& entry) {
        Fault fault = Fault::None;
        parseFault(entry.get("fault", "none").asString(), fault);
        Reply reply;
        reply.contentType = "text/xml; charset=utf-8";
        reply.status = entry.get("status", fault == Fault::HttpError ? 500 : 200).asInt();
        int delay = entry.get("delay_ms", fault == Fault::Slow ? kDefaultSlowMs : 0).asInt();
        reply.delayMs = std::min(delay, kMaxDelayMs);

        if (fault == Fault::Empty)
            return reply;
        if (entry.isMember("body")) {
            reply.body = entry["body"].asString();
            return reply;
        }
        if (fault == Fault::HttpError) {
            reply.contentType = "text/plain";
            reply.body = "simulated failure\n";
            return reply;
        }
        std::vector<std::pair<std::string, std::string>> fields;
        for (const Json::Value& pair : entry["fields"])
            fields.emplace_back(pair[0].asString(), pair[1].asString());
        reply.body = entry.get("prefix", "").asString() +
                     downloaderElement(fields, fault == Fault::Malformed) +
                     entry.get("suffix", "").asString();
        return reply;
    }
};

}  // namespace

std::string downloaderElement(const std::vector<std::pair<std::string, std::string>>& fields,
                              bool unbalanced) {
    std::string xml = "<Downloader>";
    if (unbalanced && fields.empty())
        xml += "<Download_url>";
    for (size_t i = 0; i < fields.size(); ++i) {
        const auto& [name, value] = fields[i];
        xml += "<" + name + ">" + xmlEscape(value);
        if (!(unbalanced && i == 0))
            xml += "</" + name + ">";
    }
    return xml + "</Downloader>";
}

std::unique_ptr<Service> makeUpdateService() {
    return std::make_unique<UpdateService>();
}

}  // namespace vsim
