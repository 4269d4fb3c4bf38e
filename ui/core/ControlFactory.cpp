#include "ui/ControlFactory.h"

#include <map>
#include <mutex>

#include "ui/Attributes.h"
#include "ui/Button.h"
#include "ui/Combo.h"
#include "ui/Edit.h"
#include "ui/Label.h"
#include "ui/Layouts.h"
#include "ui/Option.h"
#include "ui/Progress.h"
#include "ui/RichEdit.h"
#include "ui/ScrollBar.h"

namespace ui {
namespace {

template <typename T>
std::unique_ptr<Control> make() {
    return std::make_unique<T>();
}

struct Table {
    std::mutex mutex;
    std::map<std::string, ControlFactory::Creator> creators;  // lower-case tag → creator
    Table() {
        const std::pair<const char*, ControlFactory::Creator> builtIn[] = {
            {"Control", make<Control>},
            {"Container", make<Container>},
            {"VerticalLayout", make<VerticalLayout>},
            {"HorizontalLayout", make<HorizontalLayout>},
            {"TabLayout", make<TabLayout>},
            {"Label", make<Label>},
            {"Text", make<Text>},
            {"RichEdit", make<RichEdit>},
            {"Button", make<Button>},
            {"Option", make<Option>},
            {"CheckBox", make<CheckBox>},
            {"Edit", make<Edit>},
            {"Combo", make<Combo>},
            {"ListLabelElement", make<ListLabelElement>},
            {"Progress", make<Progress>},
            {"ScrollBar", make<ScrollBar>},
        };
        for (const auto& [tag, creator] : builtIn)
            creators.emplace(ToLower(tag), creator);
    }
};

Table& table() {
    static Table t;
    return t;
}

}  // namespace

std::unique_ptr<Control> ControlFactory::Create(std::string_view tag) {
    Table& t = table();
    Creator creator;
    {
        std::lock_guard lock(t.mutex);
        auto it = t.creators.find(ToLower(tag));
        if (it == t.creators.end())
            return nullptr;
        creator = it->second;
    }
    return creator();
}

void ControlFactory::Register(std::string tag, Creator creator) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    t.creators[ToLower(tag)] = std::move(creator);
}

std::vector<std::string> ControlFactory::Tags() {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    std::vector<std::string> tags;
    for (const auto& entry : t.creators)
        tags.push_back(entry.first);
    return tags;
}

}  // namespace ui
