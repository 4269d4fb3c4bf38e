#include "UpdateService.h"

#include <set>

#include "CrossCheck.h"
#include "TextFaults.h"

namespace vsim {
namespace {

std::string checkReply(const Json::Value& reply) {
    if (!reply.isObject())
        return "must be an object";
    static const std::set<std::string> kMembers = {"match", "fields", "prefix", "suffix"};
    for (const std::string& key : reply.getMemberNames())
        if (!kMembers.count(key) && !isTextShapeMember(key) && key.rfind('_', 0) != 0)
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
    for (const char* key : {"prefix", "suffix"})
        if (reply.isMember(key) && !reply[key].isString())
            return std::string("\"") + key + "\" must be a string";
    TextShape shape;
    return parseTextShape(reply, shape);
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
            return "must be an object with \"replies\" and \"cross\"";
        for (const std::string& key : section.getMemberNames())
            if (key != "replies" && key != "cross" && key.rfind('_', 0) != 0)
                return "unknown member \"" + key + "\"";
        if (section.isMember("cross")) {
            std::string problem = validateCrossSection(section["cross"]);
            if (!problem.empty())
                return "cross: " + problem;
        }
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
        if (exchange.path == kCrossCheckPath)
            return answerCrossCheck(
                exchange, section.isObject() ? section["cross"] : Json::Value::nullSingleton());
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
        TextShape shape;
        parseTextShape(entry, shape);
        std::vector<std::pair<std::string, std::string>> fields;
        for (const Json::Value& pair : entry["fields"])
            fields.emplace_back(pair[0].asString(), pair[1].asString());
        const std::string prefix = entry.get("prefix", "").asString();
        const std::string suffix = entry.get("suffix", "").asString();
        Reply normal;
        normal.contentType = "text/xml; charset=utf-8";
        normal.body = prefix + downloaderElement(fields, false) + suffix;
        return shapeReply(shape, std::move(normal),
                          prefix + downloaderElement(fields, true) + suffix);
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
