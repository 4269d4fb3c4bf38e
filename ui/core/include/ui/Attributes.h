#pragma once
// Value syntax of the markup dialect, shared by the loader and the controls:
//
//   integers "12", booleans "true"/"false", colours "#AARRGGBB", "#RRGGBB" or "0xAARRGGBB",
//   rectangles "l,t,r,b", sizes "w,h", images either a bare path or
//   "file='skin\a.png' source='0,0,20,20' corner='4,4,4,4' dest='2,2,18,18' mask='#FFFF00FF'"
//   (also fade='0..255' and hole='true'), attribute lists name="value" name2="value2"
//   (the form of a Default element's value, written with &quot; in XML).
//
// Tag and attribute names compare without regard to ASCII case. Parsers return nullopt on
// malformed text; callers log the attribute with the offending value.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/ImageRef.h"
#include "ui/Types.h"

namespace ui {

bool EqualsNoCase(std::string_view a, std::string_view b);
std::string ToLower(std::string_view text);
std::string_view Trim(std::string_view text);

std::optional<int> ParseInt(std::string_view text);
std::optional<bool> ParseBool(std::string_view text);
std::optional<Color> ParseColor(std::string_view text);
std::optional<Rect> ParseRect(std::string_view text);
std::optional<Size> ParseSize(std::string_view text);
// Sets `error` to a sentence naming the problem. A part the dialect does not know is reported
// in `error` too but does not fail the image.
std::optional<ImageRef> ParseImageRef(std::string_view text, std::string* error = nullptr);
std::optional<std::vector<std::pair<std::string, std::string>>> ParseAttributeList(
    std::string_view text, std::string* error = nullptr);

// Writes `message` to the log the first time `key` is seen in this process, so a skin that
// repeats one mistake on every control produces one line.
void LogOnce(const std::string& key, const std::string& message);

}  // namespace ui
