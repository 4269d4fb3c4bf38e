#pragma once
// What a simulated remote service is: a route module that answers the requests of the hosts
// the fixture assigns to it. Adding a service means one more module and one line in
// Services.cpp; the router, the request log and the fixture loader stay as they are.

#include <httplib.h>
#include <json/value.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "HttpText.h"
#include "RateCap.h"
#include "StopSignal.h"

namespace vsim {

// One request as a service sees it. Lives for the duration of `Service::handle`.
struct Exchange {
    std::string scheme;               // "http" or "https"
    std::string method;               // as received; HEAD reaches the service too
    std::string host;                 // Host header, port stripped, lower case
    std::string path;                 // decoded path, without the query
    std::string rawQuery;             // exactly as received, without "?"
    QueryParams params;               // decoded query parameters, in order
    const httplib::Request& request;  // headers and body; Range is left to the service
    // Which loaded fixture answers (1, 2, ... in load order): state a service keeps per
    // fixture, such as request counters, starts again when this grows.
    uint64_t fixtureGeneration = 0;
};

// A service's answer. The router logs it, waits `delayMs`, then sends it.
struct Reply {
    int status = 200;
    std::string contentType = "text/plain";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    int delayMs = 0;  // waited in slices and cut short when the sim stops
    // Every header name of the answer goes out in lower case, the library's own included.
    bool lowercaseHeaderNames = false;
    // For bodies that must not sit in memory or that break on purpose (streams, stalls):
    // when set, called instead of sending `body`.
    std::function<void(httplib::Response&)> fill;
};

// Shared by every service for the life of the process.
struct ServiceContext {
    std::filesystem::path stateDir;  // the sim's own folder (certificates, files to serve)
    const StopSignal& stop;          // long waits end when this is raised
    RateCap* downloadCap = nullptr;  // the speed of every file body together; null = none
};

class Service {
public:
    virtual ~Service() = default;

    // The key of the fixture section and of the "hosts" map, e.g. "update".
    virtual std::string name() const = 0;

    // Checks this service's fixture section (null when the fixture has none). Returns an
    // error message naming the offending member, or an empty string. Called at start and on
    // every reload, before the section is ever given to `handle`.
    virtual std::string validate(const Json::Value& section) const = 0;

    // Answers one request with an already validated section. Called from many listener
    // threads at once: implementations keep any state of their own behind a lock.
    virtual Reply handle(const Exchange& exchange, const Json::Value& section) = 0;
};

using ServiceSet = std::vector<std::unique_ptr<Service>>;

// Every service the sim can play, one instance each.
ServiceSet makeServices(const ServiceContext& context);

// The named service of `services`, or null.
Service* findService(const ServiceSet& services, const std::string& name);

}  // namespace vsim
