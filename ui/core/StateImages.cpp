#include "ui/StateImages.h"

namespace ui {

ImageRef* StateImages::ForAttribute(std::string_view name) {
    return name == "normalimage"     ? &normal
           : name == "hotimage"      ? &hot
           : name == "pushedimage"   ? &pushed
           : name == "focusedimage"  ? &focused
           : name == "disabledimage" ? &disabled
                                     : nullptr;
}

const ImageRef& StateImages::Pick(bool enabled, bool isPushed, bool isHot, bool hasFocus) const {
    auto pick = [this](const ImageRef& s) -> const ImageRef& { return s.IsEmpty() ? normal : s; };
    if (!enabled)
        return pick(disabled);
    if (isPushed && !pushed.IsEmpty())
        return pushed;
    if (isHot && !hot.IsEmpty())
        return hot;
    if (hasFocus)
        return pick(focused);
    return normal;
}

}  // namespace ui
