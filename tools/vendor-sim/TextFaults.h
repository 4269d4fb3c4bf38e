#pragma once
// The members a fixture entry uses to bend a short text answer out of shape, shared by the
// services whose answers are small documents (update replies, the cross-end check, the alert
// service):
//   "fault":    "none" | "empty" | "malformed" | "http-error" | "slow"
//   "status":   HTTP status of the answer, 100 to 599 (400 or more with http-error, which
//               answers 500 by default)
//   "delay_ms": wait before the answer (slow: 12000 unless given), cut to 60000
//   "body":     sent in place of the service's own body (not with empty or malformed)
// What "malformed" makes is each service's own: a body its client's parser must refuse.

#include <json/value.h>

#include <optional>
#include <string>

#include "Service.h"

namespace vsim {

enum class TextFault { None, Empty, Malformed, HttpError, Slow };

struct TextShape {
    TextFault fault = TextFault::None;
    std::optional<int> status;
    int delayMs = 0;
    std::optional<std::string> body;
};

// True for the members parseTextShape reads, so callers can refuse every other one.
bool isTextShapeMember(const std::string& key);

// Reads the members above from the object `entry` (absent ones keep their defaults) into
// `shape`. Returns an error naming the offending member, or an empty string.
std::string parseTextShape(const Json::Value& entry, TextShape& shape);

// The answer `shape` makes of a service's own answer: `normal` as the service would send it
// and `malformedBody`, its broken form.
Reply shapeReply(const TextShape& shape, Reply normal, const std::string& malformedBody);

// `text` as a JSON string literal, quotes included; null when it is not UTF-8.
std::string jsonQuoted(const std::string& text);

}  // namespace vsim
