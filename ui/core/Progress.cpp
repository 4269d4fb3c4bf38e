#include "ui/Progress.h"

#include "ui/Attributes.h"
#include "ui/Painter.h"

namespace ui {

Progress::Progress() {
    m_format = kTextCenter | kTextVCenter;
}

bool Progress::SetAttribute(std::string_view name, std::string_view value) {
    const std::string n = ToLower(name);
    if (n == "min" || n == "max" || n == "value") {
        auto v = ParseInt(value);
        if (!v) {
            LogBadValue(name, value, "not a number");
            return true;
        }
        if (n == "min")
            SetMinValue(*v);
        else if (n == "max")
            SetMaxValue(*v);
        else
            SetValue(*v);
        return true;
    }
    if (n == "hor") {
        ParseBoolAttribute(name, value, m_horizontal);
    } else if (n == "foreimage") {
        ParseImageAttribute(name, value, m_fore);
    } else if (n == "forecolor") {
        ParseColorAttribute(name, value, m_foreColor);
    } else {
        return Label::SetAttribute(name, value);
    }
    Invalidate();
    return true;
}

void Progress::SetMinValue(int value) {
    m_min = value;
    SetValue(m_value);
    Invalidate();
}

void Progress::SetMaxValue(int value) {
    m_max = value;
    SetValue(m_value);
    Invalidate();
}

void Progress::SetValue(int value) {
    // Markup may give value before min and max; a range written the wrong way round is
    // treated as empty instead of dividing by a negative span.
    const int hi = std::max(m_min, m_max);
    value = std::clamp(value, m_min, hi);
    if (value == m_value)
        return;
    m_value = value;
    Invalidate();
}

Rect Progress::FillRect() const {
    const int64_t span = int64_t(m_max) - m_min;
    if (span <= 0)
        return {};
    const int64_t done = std::clamp<int64_t>(int64_t(m_value) - m_min, 0, span);
    Rect r = m_rect;
    if (m_horizontal)
        r.right = r.left + int(int64_t(m_rect.Width()) * done / span);
    else
        r.top = r.bottom - int(int64_t(m_rect.Height()) * done / span);
    return r;
}

void Progress::PaintStatusImage(Painter& painter) {
    const Rect fill = FillRect();
    if (fill.IsEmpty())
        return;
    painter.FillRect(fill, m_foreColor);
    if (m_fore.IsEmpty())
        return;
    // The picture keeps its scale and is uncovered as the value grows.
    painter.PushClip(fill);
    DrawImage(painter, m_fore);
    painter.PopClip();
}

}  // namespace ui
