#pragma once
// The request log: one JSON object per line for every request the sim answered, written with
// one write(2) under a lock before the answer leaves, so a client that got its answer can
// read its own line at once.

#include <json/value.h>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

#include "Service.h"

namespace vsim {

class RequestLog {
public:
    RequestLog() = default;
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    // Opens `file` for appending (created when missing). False with `error` set on failure.
    bool open(const std::filesystem::path& file, std::string& error);

    // Appends the line of one request: seq, time_ms, scheme, method, host, path, query (raw),
    // params (decoded; an array where a name repeats), headers (the same), body, status.
    // A body that is not UTF-8 is logged as "body_base64" instead, so no byte is lost; in
    // decoded params and headers such bytes become U+FFFD (the raw query keeps them escaped).
    void append(const Exchange& exchange, int64_t timeMs, int status);

    // The JSON object `append` writes, without seq; kept apart so it is built outside the lock.
    static Json::Value entry(const Exchange& exchange, int64_t timeMs, int status);

private:
    std::mutex m_mutex;
    int m_fd = -1;
    uint64_t m_seq = 0;
};

}  // namespace vsim
