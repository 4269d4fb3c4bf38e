#include "AlertService.h"

#include "TextFaults.h"

namespace vsim {
namespace {

constexpr const char* kExceptionPath = "/api/exception/send";
constexpr const char* kJson = "application/json; charset=utf-8";

bool isDigits(const std::string& text) {
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// What is wrong with the form body of a report, or empty when it is a report.
std::string reportProblem(const std::string& body) {
    QueryParams form = parseQuery(body);
    for (const char* name : {"pid", "type", "exception_code"})
        if (queryValue(form, name).value_or("").empty())
            return std::string(name) + " is missing";
    if (!isDigits(*queryValue(form, "pid")))
        return "pid must be a number";
    return {};
}

Reply jsonReply(int status, const std::string& message) {
    Reply reply;
    reply.status = status;
    reply.contentType = kJson;
    reply.body = "{\"status\":" + std::to_string(status) + ",\"msg\":" + jsonQuoted(message) + "}";
    return reply;
}

// The library drops a header value holding CR or LF without a word; refuse it here.
bool isHeaderText(const std::string& text) {
    for (char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
            return false;
    return !text.empty();
}

class AlertService : public Service {
public:
    std::string name() const override { return "alert"; }

    std::string validate(const Json::Value& section) const override {
        if (section.isNull())
            return {};
        if (!section.isObject())
            return "must be an object of fault members";
        for (const std::string& key : section.getMemberNames())
            if (key != "content_type" && !isTextShapeMember(key) && key.rfind('_', 0) != 0)
                return "unknown member \"" + key + "\"";
        if (section.isMember("content_type") && (!section["content_type"].isString() ||
                                                 !isHeaderText(section["content_type"].asString())))
            return "\"content_type\" must be a non-empty string without control characters";
        TextShape shape;
        return parseTextShape(section, shape);
    }

    Reply handle(const Exchange& exchange, const Json::Value& section) override {
        if (exchange.path != kExceptionPath) {
            Reply reply;
            reply.status = 404;
            reply.body = "the alert service has no " + exchange.path + "\n";
            return reply;
        }
        if (exchange.method != "POST") {
            Reply reply = jsonReply(405, "use POST");
            reply.headers.emplace_back("Allow", "POST");
            return reply;
        }
        std::string problem = reportProblem(exchange.request.body);
        if (!problem.empty())
            return jsonReply(400, problem);

        TextShape shape;
        if (section.isObject())
            parseTextShape(section, shape);
        Reply reply = jsonReply(200, "success");
        if (section.isObject() && section.isMember("content_type"))
            reply.contentType = section["content_type"].asString();
        std::string unclosed = reply.body.substr(0, reply.body.size() - 1);
        return shapeReply(shape, std::move(reply), unclosed);
    }
};

}  // namespace

std::unique_ptr<Service> makeAlertService() {
    return std::make_unique<AlertService>();
}

}  // namespace vsim
