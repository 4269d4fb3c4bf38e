#include "ByteRange.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace vsim {
namespace {

std::string_view trimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Digits only, no sign, no overflow.
bool parseCount(std::string_view text, uint64_t& value) {
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

RangeAnswer unsatisfiable(std::string problem) {
    RangeAnswer answer;
    answer.kind = RangeAnswer::Kind::Unsatisfiable;
    answer.problem = std::move(problem);
    return answer;
}

RangeAnswer partial(uint64_t first, uint64_t last) {
    RangeAnswer answer;
    answer.kind = RangeAnswer::Kind::Partial;
    answer.first = first;
    answer.last = last;
    return answer;
}

}  // namespace

RangeAnswer answerRange(std::optional<std::string_view> range, uint64_t total) {
    if (!range)
        return {};
    std::string_view value = trimSpaces(*range);
    constexpr std::string_view kUnit = "bytes=";
    if (value.substr(0, kUnit.size()) != kUnit)
        return unsatisfiable("the Range header must start with \"bytes=\"");
    std::string_view ranges = trimSpaces(value.substr(kUnit.size()));
    // Several ranges: a 200 with the whole body is a valid answer that every client takes.
    if (ranges.find(',') != std::string_view::npos)
        return {};
    size_t dash = ranges.find('-');
    if (dash == std::string_view::npos)
        return unsatisfiable("the range has no \"-\"");
    std::string_view firstText = trimSpaces(ranges.substr(0, dash));
    std::string_view lastText = trimSpaces(ranges.substr(dash + 1));
    const std::string size = " (the file has " + std::to_string(total) + " bytes)";

    uint64_t first = 0;
    uint64_t last = 0;
    if (firstText.empty()) {
        if (!parseCount(lastText, last))
            return unsatisfiable("the range names neither a first byte nor a suffix length");
        if (last == 0 || total == 0)
            return unsatisfiable("the suffix range selects no byte" + size);
        return partial(total - std::min(last, total), total - 1);
    }
    if (!parseCount(firstText, first))
        return unsatisfiable("the first byte is not a number");
    bool open = lastText.empty();
    if (!open && !parseCount(lastText, last))
        return unsatisfiable("the last byte is not a number");
    if (!open && last < first)
        return unsatisfiable("the last byte comes before the first");
    if (first >= total)
        return unsatisfiable("the range starts at or after the end" + size);
    return partial(first, open ? total - 1 : std::min(last, total - 1));
}

std::string contentRange(uint64_t first, uint64_t last, std::optional<uint64_t> total) {
    std::string text = "bytes " + std::to_string(first) + "-" + std::to_string(last);
    if (total)
        text += "/" + std::to_string(*total);
    return text;
}

std::string httpDate(std::time_t time) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday],
                  utc.tm_mday, kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                  utc.tm_sec);
    return text;
}

std::string fileEtag(std::time_t mtime, uint64_t size) {
    char text[48];
    std::snprintf(text, sizeof text, "\"%llx-%llx\"", static_cast<unsigned long long>(mtime),
                  static_cast<unsigned long long>(size));
    return text;
}

}  // namespace vsim
