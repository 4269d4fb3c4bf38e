#pragma once
// Small text helpers for texts that arrive from outside (server replies, markup, files):
// such text is validated, never trusted to be well-formed UTF-8 or a well-formed number.
// The lowest library of the project: platform/, src/, ui/ and the tools share it, and it uses
// nothing but the standard library.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ---- ASCII case. Protocol names, registry names and markup attributes compare this way: only
// A-Z and a-z change, every other byte (UTF-8 sequences included) stays itself.
char asciiLower(char c);
char asciiUpper(char c);
std::string asciiLower(std::string_view text);
bool equalsNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view text, std::string_view prefix);

// `text` without spaces, tabs, carriage returns and line feeds at either end.
std::string_view trimBlanks(std::string_view text);

// The value of one hexadecimal digit of either case; -1 for any other character.
int hexDigitValue(char c);

// ---- UTF-8
// Length of the well-formed (strict) UTF-8 sequence at the start of non-empty `text`; 0 when
// it is ill-formed or cut.
size_t utf8SequenceLength(std::string_view text);
// Code points in strict UTF-8 (no overlong forms, surrogates, values above U+10FFFF or cut
// sequences), or nullopt when the text is not UTF-8.
std::optional<size_t> utf8CodePoints(std::string_view text);
bool isValidUtf8(std::string_view text);

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

// ---- printf formats that come from language files
// One conversion of a printf format, from its "%" to its conversion character ("%.1f").
struct FormatConversion {
    size_t begin = 0;
    std::string_view text;
    char conversion = 0;  // the last character of `text`; 0 for a "%" cut off at the end
};
// Every conversion of `format`, in order; "%%" is text, not a conversion.
std::vector<FormatConversion> formatConversions(std::string_view format);
// `format` with `text` in place of the conversion that starts at `at` and every "%%" as "%".
std::string replaceConversion(std::string_view format, const FormatConversion& at,
                              std::string_view text);
