#pragma once
// The markup's tag names and the controls they make. Tags compare without regard to case.
// A program may add its own controls before it builds windows (UI thread, at start-up).

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/Control.h"

namespace ui {

class ControlFactory {
public:
    using Creator = std::function<std::unique_ptr<Control>()>;
    // A new control for `tag`, null when the tag is unknown.
    static std::unique_ptr<Control> Create(std::string_view tag);
    static void Register(std::string tag, Creator creator);
    static std::vector<std::string> Tags();
};

}  // namespace ui
