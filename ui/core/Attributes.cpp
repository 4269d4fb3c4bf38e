#include "ui/Attributes.h"

#include <charconv>
#include <mutex>
#include <set>

#include "Logging.h"
#include "TextUtil.h"

namespace ui {
namespace {

std::optional<std::vector<int>> parseInts(std::string_view text, size_t count) {
    std::vector<int> values;
    while (true) {
        const size_t comma = text.find(',');
        auto value = ParseInt(text.substr(0, comma));
        if (!value || values.size() == count)
            return std::nullopt;
        values.push_back(*value);
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    if (values.size() != count)
        return std::nullopt;
    return values;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return equalsNoCase(a, b);
}

std::string ToLower(std::string_view text) {
    return asciiLower(text);
}

std::string_view Trim(std::string_view text) {
    return trimBlanks(text);
}

std::optional<int> ParseInt(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    int value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<bool> ParseBool(std::string_view text) {
    text = Trim(text);
    if (EqualsNoCase(text, "true") || text == "1")
        return true;
    if (EqualsNoCase(text, "false") || text == "0")
        return false;
    return std::nullopt;
}

std::optional<Color> ParseColor(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '#')
        text.remove_prefix(1);
    else if (text.size() > 2 && text[0] == '0' && asciiLower(text[1]) == 'x')
        text.remove_prefix(2);
    else
        return std::nullopt;
    if (text.size() != 6 && text.size() != 8)
        return std::nullopt;
    uint32_t value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || ptr != text.data() + text.size())
        return std::nullopt;
    if (text.size() == 6)
        value |= 0xFF000000u;
    return Color(value);
}

std::optional<Rect> ParseRect(std::string_view text) {
    auto v = parseInts(text, 4);
    if (!v)
        return std::nullopt;
    return Rect{(*v)[0], (*v)[1], (*v)[2], (*v)[3]};
}

std::optional<Size> ParseSize(std::string_view text) {
    auto v = parseInts(text, 2);
    if (!v)
        return std::nullopt;
    return Size{(*v)[0], (*v)[1]};
}

std::optional<std::vector<std::pair<std::string, std::string>>> ParseAttributeList(
    std::string_view text, std::string* error) {
    std::vector<std::pair<std::string, std::string>> out;
    auto fail = [&](const std::string& why)
        -> std::optional<std::vector<std::pair<std::string, std::string>>> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    while (true) {
        text = Trim(text);
        if (text.empty())
            break;
        const size_t eq = text.find('=');
        if (eq == std::string_view::npos)
            return fail("missing '=' after \"" + std::string(text) + "\"");
        const std::string name(Trim(text.substr(0, eq)));
        if (name.empty() || name.find_first_of(" \t'\"") != std::string::npos)
            return fail("bad attribute name \"" + name + "\"");
        text = Trim(text.substr(eq + 1));
        if (text.empty() || (text.front() != '"' && text.front() != '\''))
            return fail("value of " + name + " is not quoted");
        const char quote = text.front();
        const size_t close = text.find(quote, 1);
        if (close == std::string_view::npos)
            return fail("value of " + name + " has no closing quote");
        out.emplace_back(name, std::string(text.substr(1, close - 1)));
        text.remove_prefix(close + 1);
    }
    return out;
}

std::optional<ImageRef> ParseImageRef(std::string_view text, std::string* error) {
    text = Trim(text);
    ImageRef ref;
    if (text.find('=') == std::string_view::npos) {
        ref.file = std::string(text);
        return ref;
    }
    std::string listError;
    auto parts = ParseAttributeList(text, &listError);
    if (!parts) {
        if (error)
            *error = "malformed image attribute: " + listError;
        return std::nullopt;
    }
    std::string warnings;
    auto bad = [&](const std::string& key, const std::string& value) {
        if (error)
            *error = "bad " + key + "='" + value + "' in image attribute";
        return std::nullopt;
    };
    for (const auto& [rawKey, value] : *parts) {
        const std::string key = ToLower(rawKey);
        if (key == "file") {
            ref.file = std::string(Trim(value));
        } else if (key == "source" || key == "corner" || key == "dest") {
            auto r = ParseRect(value);
            if (!r)
                return bad(key, value);
            if (key == "source")
                ref.source = *r;
            else if (key == "corner")
                ref.corner = *r;
            else
                ref.dest = *r;
        } else if (key == "mask") {
            auto c = ParseColor(value);
            if (!c)
                return bad(key, value);
            ref.mask = c->argb;
            ref.hasMask = true;
        } else if (key == "fade") {
            auto v = ParseInt(value);
            if (!v || *v < 0 || *v > 255)
                return bad(key, value);
            ref.fade = static_cast<uint8_t>(*v);
        } else if (key == "hole") {
            auto v = ParseBool(value);
            if (!v)
                return bad(key, value);
            ref.hole = *v;
        } else {
            warnings += (warnings.empty() ? "" : ", ") + rawKey;
        }
    }
    if (ref.file.empty()) {
        if (error)
            *error = "image attribute without file='…'";
        return std::nullopt;
    }
    if (!warnings.empty() && error)
        *error = "unknown image parts ignored: " + warnings;
    return ref;
}

void LogOnce(const std::string& key, const std::string& message) {
    static std::mutex mutex;
    static std::set<std::string> seen;
    {
        std::lock_guard lock(mutex);
        // A fuzzed or generated skin could name endless distinct mistakes; past this many the
        // log already says enough.
        if (seen.size() > 10000 || !seen.insert(key).second)
            return;
    }
    LOG(INFO) << " " << message;
}

}  // namespace ui
