#pragma once
// The reporting library's GET transport, with the behaviour of the WinINet request it stands
// for: a fresh session per request named "Agent<milliseconds>", the browser-like request
// headers below, gzip/deflate decoded, no cache, redirects followed, 6 s to connect and at
// most 6 s without a received byte. Only an HTTP 200 answer counts.
//
// Any thread; nothing is shared between calls.

#include <atomic>
#include <string>

namespace weblog {

inline constexpr const char* kHttpGetUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";

// A larger answer is not one of the services' answers: the request fails.
inline constexpr size_t kMaxHttpGetBytes = 4u << 20;
// WinINet's time-outs bound each connect and each read; this bounds a server that trickles.
inline constexpr long kHttpGetTotalSeconds = 30;

// 0 with the whole body appended to `answer`; -1 when the request cannot be made, the status
// is not 200 or the transfer breaks off. A failed request appends nothing, so callers that
// retry into the same text never see half an answer. `cancel` (may be null): while it is
// true, requests end at once and fail.
int httpGet(const std::string& url, std::string& answer, const std::atomic<bool>* cancel = nullptr);

}  // namespace weblog
