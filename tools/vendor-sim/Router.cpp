#include "Router.h"

#include <algorithm>
#include <chrono>

namespace vsim {
namespace {

// Longest wait a reply may ask for; a longer one in a fixture is cut to this.
constexpr int kMaxDelayMs = 60000;

Reply textReply(int status, std::string body) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Set on a response whose header names must go out in lower case; removed before sending.
constexpr const char* kLowercaseMarker = "X-Vendor-Sim-Lowercase-Names";

// The query part of the request target as the client sent it.
std::string rawQueryOf(const httplib::Request& request) {
    size_t mark = request.target.find('?');
    return mark == std::string::npos ? std::string() : request.target.substr(mark + 1);
}

Exchange exchangeOf(const std::string& scheme, const httplib::Request& request) {
    std::string rawQuery = rawQueryOf(request);
    QueryParams params = parseQuery(rawQuery);
    return Exchange{
        scheme,       request.method,      normalizeHost(request.get_header_value("Host")),
        request.path, std::move(rawQuery), std::move(params),
        request};
}

// Left in place, the parsed ranges make the library cut every body again and add its own
// Content-Range, to error answers too, without checking the range against the length. The
// request is the library's own non-const object, so clearing it through the handler's const
// view is well defined.
void ignoreLibraryRanges(const httplib::Request& request) {
    const_cast<httplib::Request&>(request).ranges.clear();
}

// Runs after the library added its own headers (Keep-Alive, Content-Type, ...), so the test
// of a client's case handling covers every name on the wire.
void lowerHeaderNamesIfMarked(httplib::Response& response) {
    if (!response.has_header(kLowercaseMarker))
        return;
    httplib::Headers lowered;
    for (const auto& [name, value] : response.headers)
        if (asciiLower(name) != asciiLower(kLowercaseMarker))
            lowered.emplace(asciiLower(name), value);
    response.headers = std::move(lowered);
}

}  // namespace

void Router::install(httplib::Server& server, const std::string& scheme) {
    auto handler = [this, scheme](const httplib::Request& request, httplib::Response& response) {
        dispatch(scheme, request, response);
    };
    // HEAD goes to the GET handler; the library leaves the body out.
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Patch(".*", handler);
    server.Delete(".*", handler);
    server.Options(".*", handler);

    server.set_error_handler(httplib::Server::HandlerWithResponse(
        [this, scheme](const httplib::Request& request, httplib::Response& response) {
            return explainRefusedRange(scheme, request, response)
                       ? httplib::Server::HandlerResponse::Handled
                       : httplib::Server::HandlerResponse::Unhandled;
        }));
    server.set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
        lowerHeaderNamesIfMarked(response);
    });
}

bool Router::explainRefusedRange(const std::string& scheme, const httplib::Request& request,
                                 httplib::Response& response) {
    // The library refuses a Range header it cannot parse with a bare 416 before any handler
    // runs; every answer a handler made has headers, so this one is recognised by having none.
    if (response.status != 416 || !request.has_header("Range") || !response.headers.empty() ||
        !response.body.empty())
        return false;
    ignoreLibraryRanges(request);
    m_log.append(exchangeOf(scheme, request), nowMs(), 416);
    response.set_content("the Range header \"" + request.get_header_value("Range") +
                             "\" is not bytes=FIRST-LAST, bytes=FIRST- or bytes=-SUFFIX with "
                             "FIRST <= LAST\n",
                         "text/plain");
    return true;
}

Reply Router::control(const Exchange& exchange) {
    if (exchange.path == "/__sim/health") {
        if (exchange.method != "GET" && exchange.method != "HEAD")
            return textReply(405, "use GET\n");
        return textReply(200, "ok");
    }
    if (exchange.path == "/__sim/reload") {
        if (exchange.method != "POST")
            return textReply(405, "use POST\n");
        std::string error;
        if (!m_fixtures.reload(error))
            return textReply(422, "fixture not reloaded, the previous one stays: " + error + "\n");
        return textReply(200, "reloaded\n");
    }
    return textReply(404, "no such control path: " + exchange.path + "\n");
}

void Router::dispatch(const std::string& scheme, const httplib::Request& request,
                      httplib::Response& response) {
    int64_t received = nowMs();
    ignoreLibraryRanges(request);
    Exchange exchange = exchangeOf(scheme, request);

    Reply reply;
    if (exchange.path.rfind("/__sim/", 0) == 0) {
        reply = control(exchange);
    } else {
        // One snapshot for the whole request: a reload meanwhile does not mix two fixtures.
        std::shared_ptr<const Fixture> fixture = m_fixtures.current();
        exchange.fixtureGeneration = fixture->generation;
        std::string serviceName = fixture->serviceOf(exchange.host);
        Service* service = serviceName.empty() ? nullptr : findService(m_services, serviceName);
        if (!service) {
            reply = textReply(404, "no service plays host \"" + exchange.host + "\"\n");
        } else {
            try {
                reply = service->handle(exchange, fixture->sectionOf(serviceName));
            } catch (const std::exception& e) {
                // A service fault must cost one request, not the listener thread.
                reply = textReply(500, "service " + serviceName + " failed: " + e.what() + "\n");
            }
        }
    }

    m_log.append(exchange, received, reply.status);

    if (reply.delayMs > 0) {
        // Stop-aware, so SIGTERM is not held up by a slow reply.
        if (!m_stop.sleepFor(std::min(reply.delayMs, kMaxDelayMs))) {
            response.status = 503;
            return;
        }
    }
    response.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        response.set_header(name, value);
    if (reply.lowercaseHeaderNames)
        response.set_header(kLowercaseMarker, "1");
    if (reply.fill)
        reply.fill(response);
    else
        response.set_content(reply.body, reply.contentType.c_str());
}

}  // namespace vsim
