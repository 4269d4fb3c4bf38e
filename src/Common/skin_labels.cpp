#include "Common/skin_labels.h"

#include <tinyxml2.h>

#include "Logging.h"

namespace {

void collect(const tinyxml2::XMLElement* e, std::map<std::string, std::string>& out, int depth) {
    // Markup nests a few levels; anything deeper than this is not a skin file.
    if (depth > 256) return;
    for (; e; e = e->NextSiblingElement()) {
        if (std::string_view(e->Name()) == "Label") {
            const char* name = e->Attribute("name");
            const char* text = e->Attribute("text");
            if (name) out.emplace(name, text ? text : "");
        }
        collect(e->FirstChildElement(), out, depth + 1);
    }
}

}  // namespace

std::optional<std::map<std::string, std::string>> ReadLabelTexts(std::string_view markup) {
    if (markup.substr(0, 3) == "\xEF\xBB\xBF") markup.remove_prefix(3);
    tinyxml2::XMLDocument doc;
    if (doc.Parse(markup.data(), markup.size()) != tinyxml2::XML_SUCCESS) {
        LOG(INFO) << " Markup does not parse: " << doc.ErrorStr();
        return std::nullopt;
    }
    std::map<std::string, std::string> labels;
    collect(doc.FirstChildElement(), labels, 0);
    return labels;
}

NamedTextLookup LabelLookup(std::map<std::string, std::string> labels) {
    return [labels = std::move(labels)](std::string_view name) -> std::optional<std::string> {
        auto it = labels.find(std::string(name));
        if (it == labels.end()) return std::nullopt;
        return it->second;
    };
}
