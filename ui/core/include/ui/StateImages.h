#pragma once
// The images of a control with states (button, combo, edit): normalimage, hotimage,
// pushedimage, focusedimage, disabledimage. A state without its own image shows the normal one.

#include <string_view>

#include "ui/ImageRef.h"

namespace ui {

struct StateImages {
    ImageRef normal, hot, pushed, focused, disabled;

    // The image an attribute name (lower case) sets, or null when it names none of them.
    ImageRef* ForAttribute(std::string_view lowerName);
    // The image for the state now: disabled, then pushed, hot, focused, normal.
    const ImageRef& Pick(bool enabled, bool isPushed, bool isHot, bool hasFocus) const;
};

}  // namespace ui
