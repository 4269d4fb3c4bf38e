#include "CrossCheck.h"

#include "TextFaults.h"

namespace vsim {
namespace {

constexpr int kDefaultStatusForOthers = 404;
constexpr int kStatusMissingId = 400;

// The answer's text up to and including the status number, and the rest; kept apart so the
// malformed form is the same answer cut short.
struct CrossAnswer {
    std::string head;
    std::string rest;
};

CrossAnswer crossAnswer(int status, const std::string& message, const std::string& data) {
    return {"{\"status\":" + std::to_string(status),
            ",\"msg\":" + jsonQuoted(message) + ",\"data\":" + data + "}"};
}

}  // namespace

std::string validateCrossSection(const Json::Value& cross) {
    if (cross.isNull())
        return {};
    if (!cross.isObject())
        return "must be an object with \"valid_ids\"";
    for (const std::string& key : cross.getMemberNames())
        if (key != "valid_ids" && key != "status_for_others" && !isTextShapeMember(key) &&
            key.rfind('_', 0) != 0)
            return "unknown member \"" + key + "\"";
    if (cross.isMember("valid_ids")) {
        const Json::Value& ids = cross["valid_ids"];
        if (!ids.isArray())
            return "\"valid_ids\" must be an array of ids";
        for (Json::ArrayIndex i = 0; i < ids.size(); ++i)
            if (!ids[i].isString() || ids[i].asString().empty())
                return "valid_ids[" + std::to_string(i) + "] must be a non-empty string";
    }
    if (cross.isMember("status_for_others") && !cross["status_for_others"].isInt())
        return "\"status_for_others\" must be a whole number, the status other ids get";
    TextShape shape;
    return parseTextShape(cross, shape);
}

Reply answerCrossCheck(const Exchange& exchange, const Json::Value& cross) {
    Reply reply;
    if (exchange.method != "GET" && exchange.method != "HEAD") {
        reply.status = 405;
        reply.headers.emplace_back("Allow", "GET, HEAD");
        reply.body = "checkCross takes GET\n";
        return reply;
    }
    const std::string id = queryValue(exchange.params, "cross_end_id").value_or("");
    bool valid = false;
    for (const Json::Value& candidate : cross["valid_ids"])
        valid = valid || (!id.empty() && candidate.asString() == id);

    const std::string data = "{\"cross_end_id\":" + jsonQuoted(id) + "}";
    CrossAnswer answer;
    if (id.empty())
        answer = crossAnswer(kStatusMissingId, "cross_end_id is missing", "null");
    else if (valid)
        answer = crossAnswer(200, "success", data);
    else
        answer = crossAnswer(cross.get("status_for_others", kDefaultStatusForOthers).asInt(),
                             "invalid cross_end_id", data);

    TextShape shape;
    if (cross.isObject())
        parseTextShape(cross, shape);
    reply.contentType = "application/json; charset=utf-8";
    reply.body = answer.head + answer.rest;
    return shapeReply(shape, std::move(reply), answer.head);
}

}  // namespace vsim
