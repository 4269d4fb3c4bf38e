#include "ui/Button.h"

#include "ui/Attributes.h"
#include "ui/PaintManager.h"
#include "ui/Painter.h"

namespace ui {

Button::Button() {
    m_format = kTextCenter | kTextVCenter;
}

bool Button::SetAttribute(std::string_view name, std::string_view value) {
    const std::string n = ToLower(name);
    ImageRef* image = n == "foreimage" ? &m_fore : m_images.ForAttribute(n);
    if (image) {
        ParseImageAttribute(name, value, *image);
    } else if (n == "hottextcolor") {
        ParseColorAttribute(name, value, m_hotTextColor);
    } else if (n == "pushedtextcolor") {
        ParseColorAttribute(name, value, m_pushedTextColor);
    } else if (n == "focusedtextcolor") {
        ParseColorAttribute(name, value, m_focusedTextColor);
    } else if (n == "hotbkcolor") {
        ParseColorAttribute(name, value, m_hotBkColor);
    } else {
        return Label::SetAttribute(name, value);
    }
    Invalidate();
    return true;
}

bool Button::Activate() {
    if (!IsEnabled())
        return false;
    if (PaintManager* pm = GetManager())
        pm->SendNotify(this, kNotifyClick);
    return true;
}

bool Button::WantsMouse(Point) const {
    return MouseAttribute() != 0;
}

void Button::SetEnabled(bool enabled) {
    if (!enabled)
        m_hot = m_pushed = m_captured = m_onLink = false;
    Label::SetEnabled(enabled);
}

void Button::DoEvent(UiEvent& event) {
    using T = UiEvent::Type;
    switch (event.type) {
        case T::MouseEnter:
        case T::MouseMove:
            // The link under the pointer takes its hover colour (the label's part).
            Label::DoEvent(event);
            if (event.type == T::MouseEnter && IsEnabled())
                m_hot = true;
            if (GetManager())
                GetManager()->SetHandCursor(IsEnabled());
            if (event.type == T::MouseEnter)
                Invalidate();
            if (event.type == T::MouseMove && m_captured) {
                const bool inside = m_rect.Contains(event.point);
                if (inside != m_pushed) {
                    m_pushed = inside;
                    Invalidate();
                }
            }
            break;
        case T::MouseLeave:
            Label::DoEvent(event);
            m_hot = false;
            Invalidate();
            break;
        case T::ButtonDown:
            if (!IsEnabled())
                break;
            // A press on a link in the text belongs to the link, not to the button.
            m_onLink = LinkAtPoint(event.point) >= 0;
            if (m_onLink) {
                Label::DoEvent(event);
                break;
            }
            m_captured = m_pushed = true;
            Invalidate();
            break;
        case T::ButtonUp: {
            if (m_onLink) {
                m_onLink = false;
                Label::DoEvent(event);  // sends "link" when released on the same link
                break;
            }
            const bool activate = m_captured && m_rect.Contains(event.point);
            m_captured = m_pushed = false;
            Invalidate();
            // Last: the handler may open a modal window or change this button.
            if (activate)
                Activate();
            break;
        }
        case T::KeyDown:
            if (event.key == kVkSpace || event.key == kVkReturn)
                Activate();
            break;
        default:
            break;
    }
}

const ImageRef& Button::StateImage() const {
    return m_images.Pick(IsEnabled(), m_pushed, m_hot, HasFocus());
}

void Button::PaintBkColor(Painter& painter) {
    if (m_hot && IsEnabled() && m_hotBkColor.IsSet())
        painter.FillRect(m_rect, m_hotBkColor);
    else
        Label::PaintBkColor(painter);
}

void Button::PaintStatusImage(Painter& painter) {
    DrawImage(painter, StateImage());
    if (!m_fore.IsEmpty())
        DrawImage(painter, m_fore);
}

Color Button::CurrentTextColor() const {
    if (!IsEnabled())
        return m_disabledTextColor;
    if (m_pushed && m_pushedTextColor.IsSet())
        return m_pushedTextColor;
    if (m_hot && m_hotTextColor.IsSet())
        return m_hotTextColor;
    if (HasFocus() && m_focusedTextColor.IsSet())
        return m_focusedTextColor;
    return m_textColor;
}

}  // namespace ui
