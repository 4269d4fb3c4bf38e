#pragma once
// The inline text tags of the markup, turned into plain text plus attribute spans:
//
//   {f N}…{/f}        font N of the window's font list      {b}…{/b}  bold
//   {c #RRGGBB}…{/c}  colour (#AARRGGBB too)                {i}…{/i}  italic
//   {a}…{/a}          link ({a TARGET} carries a target)    {u}…{/u}  underline
//   {n}               line break ({/n} is ignored)          {p}…{/p}  paragraph
//
// Anything else in braces, and template markers such as "#@!SoftwareName#@!", stays as it is.
// Invalid UTF-8 is replaced by U+FFFD first, so the result is always valid UTF-8.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ui/Types.h"

namespace ui {

struct TextSpan {
    size_t begin = 0;  // byte range in RichText::text
    size_t end = 0;
    int font = -1;  // index into the window's font list; -1: the control's own font
    Color color;    // unset: the control's text colour
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int link = -1;  // index into RichText::links; -1: not a link
    bool operator==(const TextSpan&) const = default;
};

struct RichText {
    std::string text;
    std::vector<TextSpan> spans;     // consecutive, covering only text that has attributes
    std::vector<std::string> links;  // target of each link in order ("" for a bare {a})
};

RichText ParseInlineTags(std::string_view source);
// The same text with no tag interpretation.
RichText PlainRichText(std::string_view source);
std::string MakeValidUtf8(std::string_view text);

}  // namespace ui
