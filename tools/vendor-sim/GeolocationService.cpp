#include "GeolocationService.h"

#include "ScriptedAnswers.h"

namespace vsim {
namespace {

class GeolocationService : public Service {
public:
    std::string name() const override { return "geolocation"; }

    std::string validate(const Json::Value& section) const override {
        return checkAnswerSection(section, {"csv"});
    }

    Reply handle(const Exchange& exchange, const Json::Value& section) override {
        if (exchange.path != "/csv")
            return plainReply(404, "the geolocation service has no " + exchange.path + "\n");
        if (exchange.method != "GET" && exchange.method != "HEAD") {
            Reply reply = plainReply(405, "/csv takes GET\n");
            reply.headers.emplace_back("Allow", "GET, HEAD");
            return reply;
        }
        return m_script.next("csv", section, plainReply(200, kGeolocationSuccess),
                             exchange.fixtureGeneration);
    }

private:
    AnswerScript m_script;
};

}  // namespace

std::unique_ptr<Service> makeGeolocationService() {
    return std::make_unique<GeolocationService>();
}

}  // namespace vsim
