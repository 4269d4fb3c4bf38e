#pragma once
// The byte-range side of HTTP as the download service speaks it: what a Range header asks of
// a body of known length, Content-Range values, and the validators nginx derives from a file.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace vsim {

struct RangeAnswer {
    enum class Kind { Whole, Partial, Unsatisfiable };
    Kind kind = Kind::Whole;
    uint64_t first = 0;   // Partial: first byte
    uint64_t last = 0;    // Partial: last byte, inclusive, below the total
    std::string problem;  // Unsatisfiable: why, for the answer's body
};

// What `range` (the Range header value; null when absent) asks of `total` bytes: one range of
// "bytes=A-B", "bytes=A-" or "bytes=-N", with B clamped to the last byte; the whole body for
// no header or several ranges; Unsatisfiable for a range that starts at or after the end, an
// empty suffix, or a header that is not one of these forms.
RangeAnswer answerRange(std::optional<std::string_view> range, uint64_t total);

// "bytes A-B/TOTAL", or "bytes A-B" without a total.
std::string contentRange(uint64_t first, uint64_t last, std::optional<uint64_t> total);

// An IMF-fixdate such as "Tue, 01 Dec 2026 10:00:00 GMT", whatever the locale.
std::string httpDate(std::time_t time);

// nginx's strong ETag of a file: "\"<mtime seconds hex>-<size hex>\"".
std::string fileEtag(std::time_t mtime, uint64_t size);

}  // namespace vsim
