#include "TextUtil.h"

#include <algorithm>
#include <limits>

namespace {

template <typename T>
T parseDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // Accumulate as a negative number so the most negative value fits too.
    T value = 0;
    constexpr T kMin = std::numeric_limits<T>::min();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const T digit = text[i] - '0';
        if (value < (kMin + digit) / 10) {
            value = kMin;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9')
                ++i;
            break;
        }
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    return value == kMin ? std::numeric_limits<T>::max() : -value;
}

}  // namespace

size_t utf8SequenceLength(std::string_view s) {
    if (s.empty())
        return 0;
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80)
        return 1;
    size_t len = 0;
    unsigned lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0)
            lo = 0xA0;
        if (b0 == 0xED)
            hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (s.size() < len)
        return 0;
    for (size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        const unsigned min = i == 1 ? lo : 0x80;
        const unsigned max = i == 1 ? hi : 0xBF;
        if (b < min || b > max)
            return 0;
    }
    return len;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = asciiLower(c);
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsWithNoCase(a, b);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (asciiLower(text[i]) != asciiLower(prefix[i]))
            return false;
    return true;
}

std::string_view trimBlanks(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<size_t> utf8CodePoints(std::string_view text) {
    size_t count = 0;
    while (!text.empty()) {
        const size_t length = utf8SequenceLength(text);
        if (length == 0)
            return std::nullopt;
        text.remove_prefix(length);
        ++count;
    }
    return count;
}

bool isValidUtf8(std::string_view text) {
    return utf8CodePoints(text).has_value();
}

std::string sanitizeUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const size_t len = utf8SequenceLength(text);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            text.remove_prefix(1);
        } else {
            out.append(text.substr(0, len));
            text.remove_prefix(len);
        }
    }
    return out;
}

std::string truncateToCodePoints(std::string_view text, size_t maxChars) {
    size_t pos = 0;
    for (size_t chars = 0; pos < text.size() && chars < maxChars; ++chars) {
        const size_t len = utf8SequenceLength(text.substr(pos));
        pos += len == 0 ? 1 : len;
    }
    return std::string(text.substr(0, pos));
}

int parseDecimalInt(std::string_view text) {
    return parseDecimal<int>(text);
}
int64_t parseDecimalInt64(std::string_view text) {
    return parseDecimal<int64_t>(text);
}

std::string removeLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\r' && c != '\n')
            out.push_back(c);
    return out;
}

bool isSafeCommandLinePiece(std::string_view text) {
    for (const char c : text)
        if (c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

std::vector<FormatConversion> formatConversions(std::string_view format) {
    // Flags, width, precision and length modifiers between the "%" and the conversion.
    constexpr std::string_view kModifiers = "-+ #0123456789.*'hlLqjzt";
    std::vector<FormatConversion> found;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < format.size() && kModifiers.find(format[j]) != std::string_view::npos)
            ++j;
        const size_t end = std::min(j + 1, format.size());
        found.push_back({i, format.substr(i, end - i), j < format.size() ? format[j] : '\0'});
        i = end - 1;
    }
    return found;
}

std::string replaceConversion(std::string_view format, const FormatConversion& at,
                              std::string_view text) {
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (i == at.begin) {
            out += text;
            i += at.text.size() - 1;
        } else {
            out += format[i];
            if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%')
                ++i;
        }
    }
    return out;
}
