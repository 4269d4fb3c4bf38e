#pragma once
// Routes every request of both listeners: the sim's own control paths first (/__sim/health,
// /__sim/reload, on any host), then the Host header to the service the fixture names. Every
// request is logged with the status it gets before the answer is sent. Services answer Range
// headers themselves: the library's own range handling is switched off for every answer.

#include <httplib.h>

#include <string>

#include "Fixture.h"
#include "RequestLog.h"
#include "Service.h"
#include "StopSignal.h"

namespace vsim {

class Router {
public:
    // All references must outlive every listener the router is installed on.
    Router(FixtureStore& fixtures, const ServiceSet& services, RequestLog& log,
           const StopSignal& stop)
        : m_fixtures(fixtures), m_services(services), m_log(log), m_stop(stop) {}

    // Sends every method and path of `server` through this router; `scheme` is what the log
    // records for its requests ("http" or "https").
    void install(httplib::Server& server, const std::string& scheme);

private:
    void dispatch(const std::string& scheme, const httplib::Request& request,
                  httplib::Response& response);
    Reply control(const Exchange& exchange);
    bool explainRefusedRange(const std::string& scheme, const httplib::Request& request,
                             httplib::Response& response);

    FixtureStore& m_fixtures;
    const ServiceSet& m_services;
    RequestLog& m_log;
    const StopSignal& m_stop;
};

}  // namespace vsim
