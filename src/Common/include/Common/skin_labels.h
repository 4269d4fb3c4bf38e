#pragma once
// Label texts of a markup file such as the skin's configure.xml, by control name. Until the
// window's control tree exists this is how the product configuration labels are read.

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "CConfigure.h"

// name → text of every Label element with a name, anywhere in the document; the first of two
// labels with the same name wins, as a lookup by name in a control tree finds the first.
// nullopt when the markup does not parse.
std::optional<std::map<std::string, std::string>> ReadLabelTexts(std::string_view markup);

// A lookup over such a map (the map is copied into the lookup).
NamedTextLookup LabelLookup(std::map<std::string, std::string> labels);
