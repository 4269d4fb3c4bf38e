#pragma once
// The download service's fixture section, checked and turned into plain data.
//
//   { "files": { KEY: { "source": "/absolute/file",
//                       "etag": "\"v1\"", "last_modified": "Tue, 01 Dec 2026 10:00:00 GMT",
//                       "cdn": { "cache_status": "HIT", "ray": "7d1c2a3b4c5d6e7f-LAX" },
//                       "faults": [ FAULT, ... ] } },
//     "redirects": { KEY: "location" | { "location": "...", "status": 302,
//                                        "faults": [ FAULT, ... ] } },
//     "pages": { KEY: { "body": "<a data-dl-url='https://...'>", "status": 200,
//                       "content_type": "text/html; charset=utf-8", "faults": [ FAULT, ... ] } } }
//   KEY:   "/path" on every download host, or "host/path" on that host only (tried first)
//   FAULT: { "mode": NAME, "method": "GET" | "HEAD" | "any", "requests": [first, last],
//            ...the mode's own members }
//
// The source is read at request time; without "etag" / "last_modified" they come from its
// size and modification time. A page is a small text served from the fixture itself (GET and
// HEAD); its status is 200 unless given (2xx or 4xx/5xx), and its faults are those a redirect
// may have. A key names one file, redirect or page at most. Of a request's faults, the first whose
// method and request window match applies. Members starting with "_" are comments.

#include <json/value.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vsim {

enum class FaultMode {
    IgnoreRange,       // 200 with the whole body for a ranged GET
    WrongTotal,        // Content-Range total + 1, or `total`
    NoSlash,           // Content-Range without "/TOTAL"
    LowercaseHeaders,  // every header name in lower case
    HttpError,         // `status` with a short body
    Reset,             // `afterBytes` of the body, then the connection drops
    Slow,              // the body at `bytesPerSecond`
    Stall,             // `afterBytes`, `stallMs` of silence, then close or go on
    Length,            // HEAD announces Content-Length `length`
};

struct Fault {
    FaultMode mode = FaultMode::HttpError;
    bool onGet = true;
    bool onHead = false;
    // Window of request numbers: per entry and method, 1-based, since the fixture was loaded.
    uint64_t firstRequest = 1;
    uint64_t lastRequest = UINT64_MAX;

    std::optional<uint64_t> total;       // WrongTotal; default the true total + 1
    int status = 503;                    // HttpError
    std::optional<uint64_t> afterBytes;  // Reset, Stall; default half the body
    uint64_t bytesPerSecond = 50000;     // Slow
    int stallMs = 15000;                 // Stall; on HEAD the whole answer waits this long
    bool closeAfterStall = false;        // Stall
    uint64_t length = 0;                 // Length

    bool appliesTo(bool head, uint64_t requestNumber) const {
        return (head ? onHead : onGet) && requestNumber >= firstRequest &&
               requestNumber <= lastRequest;
    }
};

struct FileEntry {
    std::filesystem::path source;
    std::optional<std::string> etag;
    std::optional<std::string> lastModified;
    std::optional<std::string> cacheStatus;  // CF-Cache-Status
    std::optional<std::string> ray;          // CF-RAY
    std::vector<Fault> faults;
};

struct RedirectEntry {
    std::string location;
    int status = 302;
    std::vector<Fault> faults;
};

struct PageEntry {
    std::string body;
    std::string contentType = "text/html; charset=utf-8";
    int status = 200;
    std::vector<Fault> faults;
};

struct DownloadSection {
    // Keys as in the fixture, the host part in lower case.
    std::map<std::string, FileEntry> files;
    std::map<std::string, RedirectEntry> redirects;
    std::map<std::string, PageEntry> pages;
};

// Fills `section` from the fixture's "download" member (null: nothing is served). Returns an
// error naming the offending member, or an empty string. Looks at no file.
std::string parseDownloadSection(const Json::Value& json, DownloadSection& section);

// The first fault of `faults` that applies to this request, or null.
const Fault* firstFault(const std::vector<Fault>& faults, bool head, uint64_t requestNumber);

}  // namespace vsim
