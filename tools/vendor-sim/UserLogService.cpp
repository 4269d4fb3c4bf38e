#include "UserLogService.h"

#include <utility>

#include "ScriptedAnswers.h"

namespace vsim {
namespace {

constexpr const char* kSoftwareLogPath = "/downloads/service/softwarelog.txt";
constexpr const char* kFeedbackPath = "/api/v1/ticket/feedback";

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class UserLogService : public Service {
public:
    std::string name() const override { return "userlog"; }

    std::string validate(const Json::Value& section) const override {
        std::vector<std::string> endpoints = {"softwarelog", "feedback"};
        for (const auto& [query, answer] : kQueries)
            endpoints.push_back(query);
        return checkAnswerSection(section, endpoints);
    }

    Reply handle(const Exchange& exchange, const Json::Value& section) override {
        std::string endpoint;
        std::string method = "GET";
        Reply fallback;
        if (exchange.path == kSoftwareLogPath) {
            endpoint = "softwarelog";
            fallback.body = "https://userlog.kestrova.example";
        } else if (exchange.path == kFeedbackPath) {
            endpoint = "feedback";
            method = "POST";
            fallback.contentType = "application/json";
            fallback.body = "{\"status\":200,\"msg\":\"ok\"}";
        } else {
            for (const auto& [query, answer] : kQueries) {
                if (endsWith(exchange.path, "/" + query)) {
                    endpoint = query;
                    fallback.body = answer;
                }
            }
        }
        if (endpoint.empty())
            return plainReply(404, "the user-log service has no " + exchange.path + "\n");
        const bool allowed =
            exchange.method == method || (method == "GET" && exchange.method == "HEAD");
        if (!allowed) {
            Reply reply = plainReply(405, exchange.path + " takes " + method + "\n");
            reply.headers.emplace_back("Allow", method == "GET" ? "GET, HEAD" : method);
            return reply;
        }
        return m_script.next(endpoint, section, std::move(fallback), exchange.fixtureGeneration);
    }

private:
    inline static const std::pair<std::string, std::string> kQueries[] = {
        {"QueryUser", "1001"},
        {"AddUserLog", "1"},
        {"QueryTools", "<Tools></Tools>"},
        {"QueryDownloader", "<Downloader></Downloader>"},
        {"ReportLog", "1"},
    };
    AnswerScript m_script;
};

}  // namespace

std::unique_ptr<Service> makeUserLogService() {
    return std::make_unique<UserLogService>();
}

}  // namespace vsim
