#include "ui/Label.h"

#include <sstream>

#include "ui/Attributes.h"
#include "ui/Container.h"
#include "ui/PaintManager.h"
#include "ui/Painter.h"

namespace ui {
namespace {

// Reads "left", "center,vcenter", "right bottom" … into format bits; false on an unknown word.
bool parseAlign(std::string_view value, uint32_t& format, bool vertical) {
    uint32_t h = format & (kTextCenter | kTextRight);
    uint32_t v = format & (kTextVCenter | kTextBottom);
    std::string words(value);
    for (char& c : words)
        if (c == ',')
            c = ' ';
    std::istringstream in(words);
    std::string w;
    bool any = false;
    while (in >> w) {
        any = true;
        w = ToLower(w);
        if (w == "left" && !vertical)
            h = kTextLeft;
        else if (w == "center" && !vertical)
            h = kTextCenter;
        else if (w == "right" && !vertical)
            h = kTextRight;
        else if (w == "top")
            v = kTextTop;
        else if (w == "vcenter" || (w == "center" && vertical))
            v = kTextVCenter;
        else if (w == "bottom")
            v = kTextBottom;
        else
            return false;
    }
    if (!any)
        return false;
    format = (format & ~uint32_t(kTextCenter | kTextRight | kTextVCenter | kTextBottom)) | h | v;
    return true;
}

}  // namespace

Label::Label() = default;
Label::~Label() = default;

bool Label::SetAttribute(std::string_view name, std::string_view value) {
    const std::string n = ToLower(name);
    if (n == "textcolor") {
        ParseColorAttribute(name, value, m_textColor);
    } else if (n == "disabledtextcolor") {
        ParseColorAttribute(name, value, m_disabledTextColor);
    } else if (n == "font") {
        auto v = ParseInt(value);
        if (!v || *v < -1)
            LogBadValue(name, value, "not a font index");
        else
            m_font = *v;
    } else if (n == "align" || n == "valign") {
        if (!parseAlign(value, m_format, n == "valign"))
            LogBadValue(name, value, "unknown alignment");
    } else if (n == "textpadding") {
        ParseRectAttribute(name, value, m_textPadding);
    } else if (n == "multiline" || n == "endellipsis") {
        bool b = false;
        if (ParseBoolAttribute(name, value, b)) {
            const uint32_t bit = n == "multiline" ? kTextWordBreak : kTextEndEllipsis;
            m_format = b ? (m_format | bit) : (m_format & ~bit);
        }
    } else if (n == "showhtml") {
        ParseBoolAttribute(name, value, m_showHtml);
    } else {
        return Control::SetAttribute(name, value);
    }
    ResetTextLayout();
    Invalidate();
    return true;
}

void Label::SetText(std::string text) {
    if (text == GetText())
        return;
    Control::SetText(std::move(text));
    ResetTextLayout();
    // In a scrolling panel the text's height is part of the scroll range.
    if (auto* parent = dynamic_cast<Container*>(GetParent()); parent && parent->ScrollsChildren())
        NeedUpdate();
}

int Label::MeasureHeight(int width) {
    if (!(m_format & kTextWordBreak) || DisplayText().empty())
        return 0;
    TextLayout* layout = LayoutFor(width - m_textPadding.left - m_textPadding.right);
    return layout ? layout->TextSize().cy + m_textPadding.top + m_textPadding.bottom : 0;
}

void Label::SetTextColor(Color color) {
    m_textColor = color;
    Invalidate();
}

void Label::SetFont(int index) {
    m_font = index;
    ResetTextLayout();
    Invalidate();
}

void Label::SetTextFormat(uint32_t format) {
    m_format = format;
    ResetTextLayout();
    Invalidate();
}

void Label::SetPos(const Rect& rect) {
    if (rect.Width() != m_rect.Width())
        ResetTextLayout();
    Control::SetPos(rect);
}

void Label::ResetTextLayout() {
    m_layout.reset();
    m_hoverLink = -1;
    m_pressedLink = -1;
}

TextLayout* Label::LayoutFor(int width) {
    if (width <= 0)
        return nullptr;
    if (m_layout && m_layout->Width() == width)
        return m_layout.get();
    PaintManager* pm = GetManager();
    TextStyle style;
    style.font = pm ? pm->GetFont(m_font) : FontDesc();
    style.fontList = pm ? &pm->GetFonts() : nullptr;
    style.color = m_textColor;
    if (pm) {
        style.linkColor = pm->GetWindowAttributes().linkColor;
        style.linkHoverColor = pm->GetWindowAttributes().linkHoverColor;
    }
    style.format = m_format;
    const std::string text = DisplayText();
    m_layout = std::make_unique<TextLayout>(
        m_showHtml ? ParseInlineTags(text) : PlainRichText(text), style, width);
    if (pm && m_layout->UnknownGlyphCount() > 0)
        pm->ReportMissingGlyphs(*this, m_layout->Text().text);
    return m_layout.get();
}

TextLayout* Label::GetTextLayout() {
    return LayoutFor(TextBox().Width());
}

Color Label::CurrentTextColor() const {
    return IsEnabled() ? m_textColor : m_disabledTextColor;
}

void Label::DrawTextIn(Painter& painter, const Rect& box, Color color, int scrollY) {
    if (box.IsEmpty() || DisplayText().empty())
        return;
    TextLayout* layout = LayoutFor(box.Width());
    if (!layout)
        return;
    layout->SetColor(color);
    layout->Draw(painter, box, m_hoverLink, scrollY);
}

void Label::PaintText(Painter& painter) {
    DrawTextIn(painter, TextBox(), CurrentTextColor(), ScrollOffset());
}

int Label::LinkAtPoint(Point point) const {
    if (GetText().find('{') == std::string::npos || !m_showHtml)
        return -1;
    // The layout is a cache: hit testing may build it before the first frame.
    TextLayout* layout = const_cast<Label*>(this)->LayoutFor(TextBox().Width());
    if (!layout || layout->Text().links.empty())
        return -1;
    return layout->LinkAt(TextBox(), point, ScrollOffset());
}

bool Label::WantsMouse(Point point) const {
    if (MouseAttribute() == 0)
        return false;
    return LinkAtPoint(point) >= 0 || Control::WantsMouse(point);
}

void Label::DoEvent(UiEvent& event) {
    using T = UiEvent::Type;
    switch (event.type) {
        case T::MouseMove:
        case T::MouseEnter: {
            const int link = IsEnabled() ? LinkAtPoint(event.point) : -1;
            if (link != m_hoverLink) {
                m_hoverLink = link;
                Invalidate();
            }
            if (PaintManager* pm = GetManager())
                pm->SetHandCursor(link >= 0);
            break;
        }
        case T::MouseLeave:
            if (m_hoverLink >= 0) {
                m_hoverLink = -1;
                Invalidate();
            }
            break;
        case T::ButtonDown:
            m_pressedLink = IsEnabled() ? LinkAtPoint(event.point) : -1;
            break;
        case T::ButtonUp: {
            const int link = LinkAtPoint(event.point);
            const int pressed = m_pressedLink;
            m_pressedLink = -1;
            if (link >= 0 && link == pressed && IsEnabled() && GetManager()) {
                Notification n;
                n.type = kNotifyLink;
                n.wParam = WParam(link);
                n.text = m_layout ? m_layout->Text().links[size_t(link)] : std::string();
                n.point = event.point;
                GetManager()->SendNotify(this, n);
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace ui
