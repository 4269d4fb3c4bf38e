#include "ui/RichText.h"

#include <charconv>
#include <optional>

#include "TextUtil.h"

namespace ui {
namespace {

// Longest tag looked at; a "{" without a closing brace within this is plain text.
constexpr size_t kMaxTagLength = 128;

struct State {
    std::vector<int> fonts;
    std::vector<Color> colors;
    std::vector<int> links;
    int bold = 0;
    int italic = 0;
    int underline = 0;

    bool Plain() const {
        return fonts.empty() && colors.empty() && links.empty() && !bold && !italic && !underline;
    }
    TextSpan Span(size_t begin, size_t end) const {
        TextSpan s;
        s.begin = begin;
        s.end = end;
        s.font = fonts.empty() ? -1 : fonts.back();
        s.color = colors.empty() ? Color() : colors.back();
        s.bold = bold > 0;
        s.italic = italic > 0;
        s.underline = underline > 0;
        s.link = links.empty() ? -1 : links.back();
        return s;
    }
};

std::optional<Color> parseTagColor(std::string_view arg) {
    if (arg.empty() || arg[0] != '#')
        return std::nullopt;
    arg.remove_prefix(1);
    if (arg.size() != 6 && arg.size() != 8)
        return std::nullopt;
    uint32_t value = 0;
    auto [ptr, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), value, 16);
    if (ec != std::errc() || ptr != arg.data() + arg.size())
        return std::nullopt;
    if (arg.size() == 6)
        value |= 0xFF000000u;
    return Color(value);
}

std::optional<int> parseTagInt(std::string_view arg) {
    int value = 0;
    auto [ptr, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), value);
    if (ec != std::errc() || ptr != arg.data() + arg.size() || value < 0)
        return std::nullopt;
    return value;
}

class Parser {
public:
    explicit Parser(RichText& out) : m_out(out) {}

    void Text(std::string_view s) {
        if (s.empty())
            return;
        const size_t begin = m_out.text.size();
        m_out.text.append(s);
        if (m_state.Plain())
            return;
        TextSpan span = m_state.Span(begin, m_out.text.size());
        if (!m_out.spans.empty()) {
            TextSpan& last = m_out.spans.back();
            TextSpan probe = last;
            probe.begin = span.begin;
            probe.end = span.end;
            if (last.end == begin && probe == span) {
                last.end = span.end;
                return;
            }
        }
        m_out.spans.push_back(span);
    }

    // Applies one tag; false when it is not a tag of the dialect (then it is shown as text).
    bool Tag(std::string_view body) {
        const bool closing = !body.empty() && body[0] == '/';
        if (closing)
            body.remove_prefix(1);
        std::string_view name = body, arg;
        if (size_t space = body.find(' '); space != std::string_view::npos) {
            name = body.substr(0, space);
            arg = body.substr(space + 1);
            while (!arg.empty() && arg.front() == ' ')
                arg.remove_prefix(1);
            while (!arg.empty() && arg.back() == ' ')
                arg.remove_suffix(1);
        }
        if (name.size() != 1)
            return false;
        const char tag = name[0];
        if (closing) {
            if (!arg.empty())
                return false;
            switch (tag) {
                case 'f':
                    pop(m_state.fonts);
                    return true;
                case 'c':
                    pop(m_state.colors);
                    return true;
                case 'a':
                    pop(m_state.links);
                    return true;
                case 'b':
                    m_state.bold = std::max(0, m_state.bold - 1);
                    return true;
                case 'i':
                    m_state.italic = std::max(0, m_state.italic - 1);
                    return true;
                case 'u':
                    m_state.underline = std::max(0, m_state.underline - 1);
                    return true;
                case 'n':
                    return true;
                case 'p':
                    Text("\n");
                    return true;
                default:
                    return false;
            }
        }
        switch (tag) {
            case 'f': {
                auto index = parseTagInt(arg);
                if (!index)
                    return false;
                m_state.fonts.push_back(*index);
                return true;
            }
            case 'c': {
                auto color = parseTagColor(arg);
                if (!color)
                    return false;
                m_state.colors.push_back(*color);
                return true;
            }
            case 'a':
                m_state.links.push_back(static_cast<int>(m_out.links.size()));
                m_out.links.emplace_back(arg);
                return true;
            case 'b':
                if (!arg.empty())
                    return false;
                ++m_state.bold;
                return true;
            case 'i':
                if (!arg.empty())
                    return false;
                ++m_state.italic;
                return true;
            case 'u':
                if (!arg.empty())
                    return false;
                ++m_state.underline;
                return true;
            case 'n':
                if (!arg.empty())
                    return false;
                Text("\n");
                return true;
            case 'p':
                if (!arg.empty())
                    return false;
                if (!m_out.text.empty() && m_out.text.back() != '\n')
                    Text("\n");
                return true;
            default:
                return false;
        }
    }

private:
    template <typename T>
    static void pop(std::vector<T>& stack) {
        if (!stack.empty())
            stack.pop_back();
    }

    RichText& m_out;
    State m_state;
};

}  // namespace

std::string MakeValidUtf8(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size()) {
        // A NUL would end the text for Pango: it is as invalid as a bad byte.
        const size_t len = in[i] == '\0' ? 0 : utf8SequenceLength(in.substr(i));
        if (len > 0) {
            out.append(in.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            i += 1;
        }
    }
    return out;
}

RichText PlainRichText(std::string_view source) {
    RichText out;
    out.text = MakeValidUtf8(source);
    return out;
}

RichText ParseInlineTags(std::string_view source) {
    const std::string valid = MakeValidUtf8(source);
    std::string_view rest = valid;
    RichText out;
    Parser parser(out);
    while (!rest.empty()) {
        const size_t open = rest.find('{');
        if (open == std::string_view::npos) {
            parser.Text(rest);
            break;
        }
        parser.Text(rest.substr(0, open));
        rest.remove_prefix(open);
        const size_t close = rest.find_first_of("{}", 1);
        if (close != std::string_view::npos && rest[close] == '}' && close <= kMaxTagLength &&
            parser.Tag(rest.substr(1, close - 1))) {
            rest.remove_prefix(close + 1);
        } else {
            parser.Text(rest.substr(0, 1));
            rest.remove_prefix(1);
        }
    }
    return out;
}

}  // namespace ui
