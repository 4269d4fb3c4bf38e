#include "ScriptedAnswers.h"

#include <algorithm>
#include <set>

namespace vsim {
namespace {

constexpr int kMaxDelayMs = 60000;

std::string checkAnswer(const Json::Value& answer) {
    if (!answer.isObject())
        return "an answer must be an object with status, body, content_type, delay_ms";
    static const std::set<std::string> kMembers = {"status", "body", "content_type", "delay_ms"};
    for (const std::string& key : answer.getMemberNames())
        if (!kMembers.count(key) && key.rfind('_', 0) != 0)
            return "unknown member \"" + key + "\"";
    if (answer.isMember("status") && (!answer["status"].isInt() || answer["status"].asInt() < 100 ||
                                      answer["status"].asInt() > 599))
        return "\"status\" must be an HTTP status from 100 to 599";
    for (const char* key : {"body", "content_type"})
        if (answer.isMember(key) && !answer[key].isString())
            return std::string("\"") + key + "\" must be a string";
    if (answer.isMember("content_type")) {
        for (char c : answer["content_type"].asString())
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                return "\"content_type\" must not hold control characters";
    }
    if (answer.isMember("delay_ms") &&
        (!answer["delay_ms"].isInt() || answer["delay_ms"].asInt() < 0))
        return "\"delay_ms\" must be a whole number of milliseconds, 0 or more";
    return {};
}

}  // namespace

std::string checkAnswers(const Json::Value& answers) {
    if (!answers.isArray())
        return checkAnswer(answers);
    if (answers.empty())
        return "an array of answers must not be empty";
    for (Json::ArrayIndex i = 0; i < answers.size(); ++i) {
        std::string problem = checkAnswer(answers[i]);
        if (!problem.empty())
            return "[" + std::to_string(i) + "]: " + problem;
    }
    return {};
}

std::string checkAnswerSection(const Json::Value& section,
                               const std::vector<std::string>& endpoints) {
    if (section.isNull())
        return {};
    if (!section.isObject())
        return "must be an object of endpoint -> answers";
    for (const std::string& key : section.getMemberNames()) {
        if (key.rfind('_', 0) == 0)
            continue;
        if (std::find(endpoints.begin(), endpoints.end(), key) == endpoints.end())
            return "unknown member \"" + key + "\"";
        std::string problem = checkAnswers(section[key]);
        if (!problem.empty())
            return key + ": " + problem;
    }
    return {};
}

Reply AnswerScript::next(const std::string& endpoint, const Json::Value& section, Reply reply,
                         uint64_t fixtureGeneration) {
    size_t number = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (fixtureGeneration != m_generation) {
            m_generation = fixtureGeneration;
            m_counts.clear();
        }
        number = m_counts[endpoint]++;
    }
    if (!section.isObject() || !section.isMember(endpoint))
        return reply;
    const Json::Value& answers = section[endpoint];
    const Json::Value& answer =
        answers.isArray() ? answers[std::min<Json::ArrayIndex>(
                                static_cast<Json::ArrayIndex>(number), answers.size() - 1)]
                          : answers;
    if (answer.isMember("status"))
        reply.status = answer["status"].asInt();
    if (answer.isMember("body"))
        reply.body = answer["body"].asString();
    if (answer.isMember("content_type"))
        reply.contentType = answer["content_type"].asString();
    if (answer.isMember("delay_ms"))
        reply.delayMs = std::min(answer["delay_ms"].asInt(), kMaxDelayMs);
    return reply;
}

Reply plainReply(int status, std::string body) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

}  // namespace vsim
