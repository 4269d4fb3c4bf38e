#pragma once
// Reading the header text of a HEAD request (every response of a redirect chain, one after the
// other) the way the length probe needs it. Field names match without regard to case: HTTP/2
// sends them in lower case. Pure functions; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct ProbeHeaders {
    // The first Location field of the text, trimmed (as sent: may be relative).
    std::optional<std::string> location;
    // From the last response: the total after "/" of Content-Range, else Content-Length; 0 when
    // neither is there or it is not a number.
    int64_t length = 0;
    // CDN report: both CF-Cache-Status and CF-RAY with an edge after its "-".
    bool cdn = false;
    std::string cacheStatus;  // value of CF-Cache-Status with its leading blank, e.g. " HIT"
    std::string edge;         // the part of CF-RAY after its "-", e.g. "LAX"
    // Validators of the last response, empty when absent.
    std::string etag;
    std::string lastModified;
};

ProbeHeaders parseProbeHeaders(std::string_view text);

// Value of the first field `name` in one response's header block, trimmed; nullopt when absent.
std::optional<std::string> findHeaderField(std::string_view block, std::string_view name);

// `location` resolved against `base` (absolute locations are returned as they are); empty when
// it cannot be resolved.
std::string resolveLocation(const std::string& base, const std::string& location);

// Content-Range "bytes FIRST-LAST/TOTAL": FIRST and TOTAL; nullopt when malformed ("*" totals too).
struct ContentRange {
    int64_t first = 0;
    int64_t last = 0;
    int64_t total = 0;
};
std::optional<ContentRange> parseContentRange(std::string_view value);
