#include "HttpText.h"

#include <cstdint>

namespace vsim {
namespace {

bool isAsciiAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::string percentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            int hi = hexDigitValue(text[i + 1]);
            int lo = hexDigitValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(plusIsSpace && c == '+' ? ' ' : c);
    }
    return out;
}

QueryParams parseQuery(std::string_view rawQuery) {
    QueryParams params;
    size_t start = 0;
    while (start <= rawQuery.size()) {
        size_t end = rawQuery.find('&', start);
        if (end == std::string_view::npos)
            end = rawQuery.size();
        std::string_view segment = rawQuery.substr(start, end - start);
        if (!segment.empty()) {
            size_t eq = segment.find('=');
            if (eq == std::string_view::npos)
                params.emplace_back(percentDecode(segment, true), std::string());
            else
                params.emplace_back(percentDecode(segment.substr(0, eq), true),
                                    percentDecode(segment.substr(eq + 1), true));
        }
        start = end + 1;
    }
    return params;
}

std::optional<std::string> queryValue(const QueryParams& params, std::string_view name) {
    for (const auto& [key, value] : params)
        if (key == name)
            return value;
    return std::nullopt;
}

std::string normalizeHost(std::string_view hostHeader) {
    std::string_view host = hostHeader;
    while (!host.empty() && (host.front() == ' ' || host.front() == '\t'))
        host.remove_prefix(1);
    while (!host.empty() && (host.back() == ' ' || host.back() == '\t'))
        host.remove_suffix(1);
    if (!host.empty() && host.front() == '[') {
        size_t close = host.find(']');
        return asciiLower(close == std::string_view::npos ? host.substr(1)
                                                          : host.substr(1, close - 1));
    }
    size_t colon = host.rfind(':');
    if (colon != std::string_view::npos)
        host = host.substr(0, colon);
    // A fully qualified name with its root dot names the same host.
    if (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    return asciiLower(host);
}

bool isDnsName(std::string_view name) {
    if (name.empty() || name.size() > 253)
        return false;
    size_t labelLength = 0;
    char previous = '.';
    for (char c : name) {
        if (c == '.') {
            if (labelLength == 0 || previous == '-')
                return false;
            labelLength = 0;
        } else if (isAsciiAlpha(c) || isAsciiDigit(c) || c == '-') {
            if (labelLength == 0 && c == '-')
                return false;
            if (++labelLength > 63)
                return false;
        } else {
            return false;
        }
        previous = c;
    }
    return labelLength > 0 && previous != '-';
}

std::string xmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

bool isXmlName(std::string_view name) {
    if (name.empty())
        return false;
    if (!isAsciiAlpha(name.front()) && name.front() != '_')
        return false;
    for (char c : name)
        if (!isAsciiAlpha(c) && !isAsciiDigit(c) && c != '_' && c != '-' && c != '.')
            return false;
    return true;
}

std::string base64(std::string_view bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t n = (static_cast<unsigned char>(bytes[i]) << 16) |
                     (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2)
            n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace vsim
