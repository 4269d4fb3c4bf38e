#include "AnalyticsService.h"

#include "ScriptedAnswers.h"

namespace vsim {
namespace {

// The smallest transparent GIF, as the collection endpoint answers a hit.
const std::string kPixel(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff\x21\xf9\x04\x01"
    "\x00\x00\x00\x00\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01"
    "\x00\x3b",
    43);

class AnalyticsService : public Service {
public:
    std::string name() const override { return "analytics"; }

    std::string validate(const Json::Value& section) const override {
        return checkAnswerSection(section, {"ga4", "ua", "collector", "test_collector"});
    }

    Reply handle(const Exchange& exchange, const Json::Value& section) override {
        const bool google = exchange.host == kGoogleAnalyticsHost;
        std::string endpoint;
        Reply fallback;
        if (google && exchange.path == "/g/collect") {
            endpoint = "ga4";
            fallback.status = 204;
        } else if (google && exchange.path == "/collect") {
            endpoint = "ua";
            fallback.contentType = "image/gif";
            fallback.body = kPixel;
        } else if (!google && exchange.path == "/collect") {
            endpoint = "collector";
            fallback.contentType = "application/json";
            fallback.body = "{\"code\":0}";
        } else if (!google && exchange.path == "/collector") {
            endpoint = "test_collector";
            fallback.contentType = "application/json";
            fallback.body = "{\"code\":0}";
        } else {
            return plainReply(404, "the analytics service has no " + exchange.path + " on " +
                                       exchange.host + "\n");
        }
        if (exchange.method != "POST") {
            Reply reply = plainReply(405, exchange.path + " takes POST\n");
            reply.headers.emplace_back("Allow", "POST");
            return reply;
        }
        return m_script.next(endpoint, section, std::move(fallback), exchange.fixtureGeneration);
    }

private:
    AnswerScript m_script;
};

}  // namespace

std::unique_ptr<Service> makeAnalyticsService() {
    return std::make_unique<AnalyticsService>();
}

}  // namespace vsim
