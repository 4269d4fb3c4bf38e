#pragma once
// Small text helpers of the sim's HTTP side: query strings, Host headers, XML text, UTF-8.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TextUtil.h"

namespace vsim {

using QueryParams = std::vector<std::pair<std::string, std::string>>;

// Splits a raw query ("a=1&b=x%20y") into decoded pairs, in order. "+" is a space, a name
// without "=" has an empty value, empty segments are skipped, and a "%" not followed by two
// hex digits is kept as it is.
QueryParams parseQuery(std::string_view rawQuery);

// The first value of `name`, or nothing when the parameter is absent.
std::optional<std::string> queryValue(const QueryParams& params, std::string_view name);

// Percent-decoding as in `parseQuery`; `plusIsSpace` for query text.
std::string percentDecode(std::string_view text, bool plusIsSpace);

// The host of a Host header: port removed, brackets of an IPv6 literal removed, lower case.
std::string normalizeHost(std::string_view hostHeader);

// A name usable as a certificate DNS entry and as a fixture host key: labels of letters,
// digits and "-" joined by ".", at most 253 characters.
bool isDnsName(std::string_view name);

// Text escaped for XML character data and attribute values.
std::string xmlEscape(std::string_view text);

// An XML element name we can write as is (letters, digits, "_", "-", "."; not starting with
// a digit, "-" or ".").
bool isXmlName(std::string_view name);

std::string base64(std::string_view bytes);

}  // namespace vsim
