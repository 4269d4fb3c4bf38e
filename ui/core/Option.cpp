#include "ui/Option.h"

#include "ui/Attributes.h"
#include "ui/PaintManager.h"
#include "ui/Painter.h"

namespace ui {

bool Option::SetAttribute(std::string_view name, std::string_view value) {
    const std::string n = ToLower(name);
    ImageRef* image = n == "selectedimage"           ? &m_selectedImage
                      : n == "selectedhotimage"      ? &m_selectedHotImage
                      : n == "selectedpushedimage"   ? &m_selectedPushedImage
                      : n == "selecteddisabledimage" ? &m_selectedDisabledImage
                                                     : nullptr;
    if (image) {
        ParseImageAttribute(name, value, *image);
    } else if (n == "selected") {
        bool b = false;
        // Markup sets the state quietly: nothing listens while the window is being built.
        if (ParseBoolAttribute(name, value, b))
            Selected(b, false);
    } else if (n == "group") {
        SetGroup(std::string(value));
    } else if (n == "selectedtextcolor") {
        ParseColorAttribute(name, value, m_selectedTextColor);
    } else if (n == "selectedbkcolor") {
        ParseColorAttribute(name, value, m_selectedBkColor);
    } else {
        return Button::SetAttribute(name, value);
    }
    Invalidate();
    return true;
}

void Option::SetGroup(std::string group) {
    m_group = std::move(group);
}

void Option::SetManager(PaintManager* manager, Control* parent) {
    Button::SetManager(manager, parent);
    if (!manager || !m_selected || m_group.empty())
        return;
    // Markup that selects several options of a group keeps the last one, as the options join
    // the window in document order.
    bool before = true;
    for (Option* other : manager->GroupMembers(m_group)) {
        if (other == this) {
            before = false;
        } else if (other->m_selected) {
            if (before) {
                other->Selected(false, false);
            } else {
                m_selected = false;
                return;
            }
        }
    }
}

void Option::Selected(bool selected, bool notify) {
    if (selected == m_selected)
        return;
    m_selected = selected;
    Invalidate();
    PaintManager* pm = GetManager();
    if (!pm)
        return;
    if (!m_group.empty()) {
        if (!selected)
            return;
        for (Option* other : pm->GroupMembers(m_group))
            if (other != this)
                other->Selected(false, false);
    }
    if (notify)
        pm->SendNotify(this, kNotifySelectChanged);
}

bool Option::Activate() {
    if (!Button::Activate())
        return false;
    // The click handler may have changed the state already; act on what is there now.
    if (!m_group.empty())
        Selected(true);
    else
        Selected(!m_selected);
    return true;
}

const ImageRef& Option::StateImage() const {
    if (!m_selected)
        return Button::StateImage();
    auto pick = [this](const ImageRef& s) -> const ImageRef& {
        return s.IsEmpty() ? (m_selectedImage.IsEmpty() ? Button::StateImage() : m_selectedImage)
                           : s;
    };
    if (!IsEnabled())
        return pick(m_selectedDisabledImage);
    if (m_pushed)
        return pick(m_selectedPushedImage);
    if (m_hot)
        return pick(m_selectedHotImage);
    return pick(m_selectedImage);
}

void Option::PaintBkColor(Painter& painter) {
    if (m_selected && m_selectedBkColor.IsSet())
        painter.FillRect(m_rect, m_selectedBkColor);
    else
        Button::PaintBkColor(painter);
}

Color Option::CurrentTextColor() const {
    if (m_selected && IsEnabled() && m_selectedTextColor.IsSet())
        return m_selectedTextColor;
    return Button::CurrentTextColor();
}

}  // namespace ui
