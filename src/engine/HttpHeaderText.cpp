#include "HttpHeaderText.h"

#include <curl/curl.h>

#include <vector>

#include "TextUtil.h"

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        out.push_back(line);
        if (nl == std::string_view::npos)
            break;
        text.remove_prefix(nl + 1);
    }
    return out;
}

// The header block of the last response: from its status line to the end.
std::string_view lastResponse(std::string_view text) {
    size_t start = 0;
    for (size_t pos = 0; pos < text.size();) {
        if (text.compare(pos, 5, "HTTP/") == 0)
            start = pos;
        const size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos)
            break;
        pos = nl + 1;
    }
    return text.substr(start);
}

bool parseInt64(std::string_view s, int64_t& out) {
    s = trim(s);
    if (s.empty() || s.size() > 18)
        return false;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

}  // namespace

std::optional<std::string> findHeaderField(std::string_view block, std::string_view name) {
    for (std::string_view line : lines(block)) {
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        if (equalsNoCase(trim(line.substr(0, colon)), name))
            return std::string(trim(line.substr(colon + 1)));
    }
    return std::nullopt;
}

std::optional<ContentRange> parseContentRange(std::string_view value) {
    value = trim(value);
    if (value.size() < 6 || !equalsNoCase(value.substr(0, 6), "bytes "))
        return std::nullopt;
    value.remove_prefix(6);
    const size_t dash = value.find('-');
    const size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash)
        return std::nullopt;
    ContentRange r;
    if (!parseInt64(value.substr(0, dash), r.first) ||
        !parseInt64(value.substr(dash + 1, slash - dash - 1), r.last) ||
        !parseInt64(value.substr(slash + 1), r.total) || r.first > r.last || r.last >= r.total)
        return std::nullopt;
    return r;
}

ProbeHeaders parseProbeHeaders(std::string_view text) {
    ProbeHeaders probe;
    probe.location = findHeaderField(text, "Location");

    const auto cache = findHeaderField(text, "CF-Cache-Status");
    const auto ray = findHeaderField(text, "CF-RAY");
    if (cache && ray) {
        const size_t dash = ray->find('-');
        if (dash != std::string::npos) {
            probe.cdn = true;
            probe.cacheStatus = " " + *cache;
            probe.edge = ray->substr(dash + 1);
        }
    }

    const std::string_view last = lastResponse(text);
    if (const auto range = findHeaderField(last, "Content-Range")) {
        const size_t slash = range->rfind('/');
        int64_t total = 0;
        if (slash != std::string::npos &&
            parseInt64(std::string_view(*range).substr(slash + 1), total))
            probe.length = total;
    } else if (const auto length = findHeaderField(last, "Content-Length")) {
        int64_t value = 0;
        if (parseInt64(*length, value))
            probe.length = value;
    }
    probe.etag = findHeaderField(last, "ETag").value_or("");
    probe.lastModified = findHeaderField(last, "Last-Modified").value_or("");
    return probe;
}

std::string resolveLocation(const std::string& base, const std::string& location) {
    CURLU* url = curl_url();
    if (!url)
        return {};
    std::string out;
    char* joined = nullptr;
    if (curl_url_set(url, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
        curl_url_set(url, CURLUPART_URL, location.c_str(), 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_URL, &joined, 0) == CURLUE_OK) {
        out = joined;
    }
    curl_free(joined);
    curl_url_cleanup(url);
    return out;
}
