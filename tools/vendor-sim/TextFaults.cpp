#include "TextFaults.h"

#include <algorithm>
#include <cstdio>

#include "HttpText.h"

namespace vsim {
namespace {

constexpr int kDefaultSlowMs = 12000;  // longer than any client's patience for a side query
constexpr int kMaxDelayMs = 60000;

constexpr std::pair<const char*, TextFault> kFaultNames[] = {
    {"none", TextFault::None},           {"empty", TextFault::Empty},
    {"malformed", TextFault::Malformed}, {"http-error", TextFault::HttpError},
    {"slow", TextFault::Slow},
};

}  // namespace

bool isTextShapeMember(const std::string& key) {
    return key == "fault" || key == "status" || key == "delay_ms" || key == "body";
}

std::string parseTextShape(const Json::Value& entry, TextShape& shape) {
    if (entry.isMember("fault")) {
        const Json::Value& fault = entry["fault"];
        bool known = false;
        for (const auto& [name, value] : kFaultNames) {
            if (fault.isString() && fault.asString() == name) {
                shape.fault = value;
                known = true;
            }
        }
        if (!known)
            return "\"fault\" must be one of none, empty, malformed, http-error, slow";
    }
    if (entry.isMember("status")) {
        const Json::Value& status = entry["status"];
        if (!status.isInt() || status.asInt() < 100 || status.asInt() > 599)
            return "\"status\" must be an HTTP status from 100 to 599";
        if (shape.fault == TextFault::HttpError && status.asInt() < 400)
            return "fault http-error needs a status of 400 or more";
        shape.status = status.asInt();
    }
    if (entry.isMember("delay_ms")) {
        const Json::Value& delay = entry["delay_ms"];
        if (!delay.isInt() || delay.asInt() < 0)
            return "\"delay_ms\" must be a whole number of milliseconds, 0 or more";
        shape.delayMs = delay.asInt();
    } else if (shape.fault == TextFault::Slow) {
        shape.delayMs = kDefaultSlowMs;
    }
    shape.delayMs = std::min(shape.delayMs, kMaxDelayMs);
    if (entry.isMember("body")) {
        if (!entry["body"].isString())
            return "\"body\" must be a string";
        if (shape.fault == TextFault::Empty || shape.fault == TextFault::Malformed)
            return "\"body\" cannot go with fault " + entry["fault"].asString() +
                   ", which makes its own body";
        shape.body = entry["body"].asString();
    }
    return {};
}

Reply shapeReply(const TextShape& shape, Reply normal, const std::string& malformedBody) {
    Reply reply = std::move(normal);
    reply.status = shape.status.value_or(shape.fault == TextFault::HttpError ? 500 : reply.status);
    reply.delayMs = shape.delayMs;
    if (shape.fault == TextFault::Empty) {
        reply.body.clear();
    } else if (shape.body) {
        reply.body = *shape.body;
    } else if (shape.fault == TextFault::HttpError) {
        reply.contentType = "text/plain";
        reply.body = "simulated failure\n";
    } else if (shape.fault == TextFault::Malformed) {
        reply.body = malformedBody;
    }
    return reply;
}

std::string jsonQuoted(const std::string& text) {
    if (!isValidUtf8(text))
        return "null";
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace vsim
