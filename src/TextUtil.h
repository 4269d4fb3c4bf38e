#pragma once
// Small text helpers for texts that arrive from outside (server replies, markup, files):
// such text is validated, never trusted to be well-formed UTF-8 or a well-formed number.

#include <cstdint>
#include <string>
#include <string_view>

// `text` with every ill-formed UTF-8 sequence replaced by U+FFFD.
std::string sanitizeUtf8(std::string_view text);

// The first `maxChars` code points of valid UTF-8 `text`.
std::string truncateToCodePoints(std::string_view text, size_t maxChars);

// atoi-style decimal parse: leading blanks, an optional sign, then digits up to the first other
// character; 0 when there are none; values beyond the type's range clamp to it.
int parseDecimalInt(std::string_view text);
int64_t parseDecimalInt64(std::string_view text);

// `text` without any carriage return or line feed.
std::string removeLineBreaks(std::string_view text);

// False for text that holds a double quote or a control character: as a piece of a command
// line in quotes it would end its argument early or add arguments of its own.
bool isSafeCommandLinePiece(std::string_view text);
