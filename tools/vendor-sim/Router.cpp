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

// The query part of the request target as the client sent it.
std::string rawQueryOf(const httplib::Request& request) {
    size_t mark = request.target.find('?');
    return mark == std::string::npos ? std::string() : request.target.substr(mark + 1);
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
    std::string rawQuery = rawQueryOf(request);
    Exchange exchange{scheme,       request.method, normalizeHost(request.get_header_value("Host")),
                      request.path, rawQuery,       parseQuery(rawQuery),
                      request};

    Reply reply;
    if (exchange.path.rfind("/__sim/", 0) == 0) {
        reply = control(exchange);
    } else {
        // One snapshot for the whole request: a reload meanwhile does not mix two fixtures.
        std::shared_ptr<const Fixture> fixture = m_fixtures.current();
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
    if (reply.fill)
        reply.fill(response);
    else
        response.set_content(reply.body, reply.contentType.c_str());
}

}  // namespace vsim
