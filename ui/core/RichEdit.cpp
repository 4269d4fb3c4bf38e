#include "ui/RichEdit.h"

#include "ui/Attributes.h"
#include "ui/PaintManager.h"
#include "ui/Painter.h"

namespace ui {

RichEdit::RichEdit() : m_scroll(std::make_unique<ScrollBar>()) {
    m_format = kTextWordBreak | kTextTop;
    m_scroll->SetScrollCallback([this](int) { Invalidate(); });
}

RichEdit::~RichEdit() = default;

bool RichEdit::SetAttribute(std::string_view name, std::string_view value) {
    const std::string n = ToLower(name);
    if (n == "readonly") {
        bool b = true;
        if (ParseBoolAttribute(name, value, b) && !b)
            LogBadValue(name, value, "rich edits are read-only");
        return true;
    }
    if (n == "vscrollbar") {
        ParseBoolAttribute(name, value, m_showBar);
        updateRange();
        return true;
    }
    if (n == "vscrollbarstyle") {
        m_barStyle = std::string(value);
        return true;
    }
    return Label::SetAttribute(name, value);
}

void RichEdit::SetManager(PaintManager* manager, Control* parent) {
    Label::SetManager(manager, parent);
    m_scroll->SetManager(manager, this);
    if (!manager)
        return;
    manager->ApplyDefaultAttributes(*m_scroll, "VScrollBar");
    if (!m_barStyle.empty())
        manager->ApplyAttributeList(*m_scroll, m_barStyle);
}

void RichEdit::SetText(std::string text) {
    Label::SetText(std::move(text));
    m_scroll->SetScrollPos(0);
    updateRange();
}

void RichEdit::SetScrollPos(int pos) {
    m_scroll->SetScrollPos(pos);
    Invalidate();
}

bool RichEdit::barNeeded() const {
    return m_showBar && m_scroll->GetScrollRange() > 0;
}

Rect RichEdit::TextBox() const {
    Rect box = m_rect.Deflate(m_textPadding);
    if (barNeeded())
        box.right = std::max(box.left, box.right - m_scroll->GetFixedWidth());
    return box;
}

void RichEdit::updateRange() {
    if (m_rect.IsEmpty())
        return;
    auto rangeFor = [this](const Rect& box) {
        TextLayout* layout = LayoutFor(box.Width());
        return layout ? std::max(0, layout->TextSize().cy - box.Height()) : 0;
    };
    const Rect full = m_rect.Deflate(m_textPadding);
    int range = rangeFor(full);
    if (range > 0 && m_showBar) {
        // The bar takes width from the text, which may then wrap into more lines.
        Rect narrow = full;
        narrow.right = std::max(narrow.left, narrow.right - m_scroll->GetFixedWidth());
        range = rangeFor(narrow);
    }
    m_scroll->SetScrollRange(range, full.Height());
    const int barWidth = m_scroll->GetFixedWidth();
    m_scroll->SetPos({m_rect.right - barWidth, m_rect.top, m_rect.right, m_rect.bottom});
    Invalidate();
}

void RichEdit::SetPos(const Rect& rect) {
    const bool changed = rect != m_rect;
    Label::SetPos(rect);
    if (changed)
        updateRange();
}

Control* RichEdit::FindControlAt(Point point) {
    if (!IsVisible() || !m_rect.Contains(point))
        return nullptr;
    if (barNeeded() && m_scroll->GetPos().Contains(point))
        return m_scroll.get();
    return WantsMouse(point) ? this : nullptr;
}

void RichEdit::DoEvent(UiEvent& event) {
    if (event.type == UiEvent::Type::Wheel) {
        SetScrollPos(GetScrollPos() - event.wheel * m_scroll->GetLineSize() * 3);
        return;
    }
    Label::DoEvent(event);
}

void RichEdit::Paint(Painter& painter, const Rect& dirty) {
    if (m_rect.Intersect(dirty).IsEmpty())
        return;
    Label::Paint(painter, dirty);
    if (barNeeded())
        m_scroll->Paint(painter, dirty);
}

}  // namespace ui
