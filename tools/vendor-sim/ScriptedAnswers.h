#pragma once
// Answers that a fixture scripts per endpoint, for the services of the usage reports. An
// endpoint's member is one answer, given to every request, or an array of answers: the n-th
// request gets the n-th, and the last one repeats. Request numbers start again with every
// loaded fixture.
//
// Answer format:
//   { "status": 200, "body": "text", "content_type": "text/plain", "delay_ms": 0 }
// Every member is optional; what an answer leaves out comes from the endpoint's own default.

#include <json/value.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "Service.h"

namespace vsim {

// What is wrong with an endpoint's member (an answer or a non-empty array of answers), or "".
std::string checkAnswers(const Json::Value& answers);

// "" when every member of `section` is one of `endpoints` (or a "_" comment) holding valid
// answers; otherwise the first problem.
std::string checkAnswerSection(const Json::Value& section,
                               const std::vector<std::string>& endpoints);

class AnswerScript {
public:
    // The reply to the next request of `endpoint`: `fallback` changed by the scripted answer of
    // this request's number in section[endpoint] (no change when the section has none).
    Reply next(const std::string& endpoint, const Json::Value& section, Reply fallback,
               uint64_t fixtureGeneration);

private:
    std::mutex m_mutex;
    uint64_t m_generation = 0;
    std::map<std::string, size_t> m_counts;  // requests per endpoint in m_generation
};

// A reply with `status` and a plain-text `body`.
Reply plainReply(int status, std::string body);

}  // namespace vsim
