#include "RequestLog.h"

#include <fcntl.h>
#include <json/writer.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vsim {
namespace {

// The pseudo headers the HTTP library adds to every request; the client never sent them.
bool isLibraryHeader(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

// Adds `value` under `name`; a repeated name turns the member into an array, in order.
void addRepeatable(Json::Value& object, const std::string& name, const std::string& value) {
    if (!object.isMember(name)) {
        object[name] = value;
        return;
    }
    Json::Value& existing = object[name];
    if (!existing.isArray()) {
        Json::Value first = existing;
        existing = Json::Value(Json::arrayValue);
        existing.append(first);
    }
    existing.append(value);
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

RequestLog::~RequestLog() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RequestLog::open(const std::filesystem::path& file, std::string& error) {
    m_fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        error = "cannot open the request log " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

Json::Value RequestLog::entry(const Exchange& exchange, int64_t timeMs, int status) {
    Json::Value line(Json::objectValue);
    line["time_ms"] = Json::Int64(timeMs);
    line["scheme"] = exchange.scheme;
    line["method"] = exchange.method;
    line["host"] = exchange.host;
    line["path"] = exchange.path;
    line["query"] = exchange.rawQuery;
    Json::Value params(Json::objectValue);
    for (const auto& [name, value] : exchange.params)
        addRepeatable(params, name, value);
    line["params"] = params;
    Json::Value headers(Json::objectValue);
    for (const auto& [name, value] : exchange.request.headers)
        if (!isLibraryHeader(name))
            addRepeatable(headers, name, value);
    line["headers"] = headers;
    const std::string& body = exchange.request.body;
    if (isValidUtf8(body)) {
        line["body"] = body;
    } else {
        line["body"] = "";
        line["body_base64"] = base64(body);
    }
    line["status"] = status;
    return line;
}

void RequestLog::append(const Exchange& exchange, int64_t timeMs, int status) {
    Json::Value line = entry(exchange, timeMs, status);
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    std::lock_guard<std::mutex> lock(m_mutex);
    line["seq"] = Json::UInt64(++m_seq);
    std::string text = Json::writeString(builder, line);
    text.push_back('\n');
    if (m_fd < 0 || !writeAll(m_fd, text))
        std::fprintf(stderr, "vendor-sim: cannot write the request log: %s\n",
                     std::strerror(errno));
}

}  // namespace vsim
