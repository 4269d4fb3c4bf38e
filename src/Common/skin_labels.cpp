#include "Common/skin_labels.h"

#include "Logging.h"
#include "ui/Label.h"
#include "ui/MarkupLoader.h"

std::optional<std::map<std::string, std::string>> ReadLabelTexts(std::string_view markup) {
    if (markup.substr(0, 3) == "\xEF\xBB\xBF")
        markup.remove_prefix(3);
    const ui::MarkupDocument doc = ui::MarkupLoader(nullptr).LoadFromText(markup);
    if (!doc.root) {
        LOG(INFO) << " Markup does not parse: "
                  << (doc.problems.empty() ? std::string("no root element") : doc.problems.front());
        return std::nullopt;
    }
    std::map<std::string, std::string> labels;
    ui::ForEachControl(doc.root.get(), [&](ui::Control& c) {
        if (c.GetClass() == ui::Label::kClassName && !c.GetName().empty())
            labels.emplace(c.GetName(), c.GetText());
        return true;
    });
    return labels;
}

NamedTextLookup LabelLookup(std::map<std::string, std::string> labels) {
    return [labels = std::move(labels)](std::string_view name) -> std::optional<std::string> {
        auto it = labels.find(std::string(name));
        if (it == labels.end())
            return std::nullopt;
        return it->second;
    };
}
