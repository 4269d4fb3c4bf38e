#include "ui/ScrollBar.h"

#include "ui/Attributes.h"
#include "ui/Painter.h"

namespace ui {
namespace {

constexpr const char* kPartNames[] = {"button1", "button2", "thumb", "rail", "bk"};
constexpr const char* kStateNames[] = {"normal", "hot", "pushed", "disabled"};
constexpr int kMinThumb = 12;

}  // namespace

ScrollBar::ScrollBar() {
    SetFixedWidth(12);
}

bool ScrollBar::SetAttribute(std::string_view name, std::string_view value) {
    const std::string n = ToLower(name);
    for (int p = 0; p < kPartCount; ++p) {
        for (int s = 0; s < kStateCount; ++s) {
            if (n == std::string(kPartNames[p]) + kStateNames[s] + "image") {
                ParseImageAttribute(name, value, m_images[p][s]);
                Invalidate();
                return true;
            }
        }
    }
    if (n == "hor") {
        ParseBoolAttribute(name, value, m_horizontal);
        if (m_horizontal && GetFixedWidth() == 12) {
            SetFixedWidth(0);
            SetFixedHeight(12);
        }
    } else if (n == "range") {
        int range = m_range;
        if (ParseExtentAttribute(name, value, range))
            SetScrollRange(range, m_page);
    } else if (n == "value") {
        auto v = ParseInt(value);
        if (v)
            SetScrollPos(*v);
        else
            LogBadValue(name, value, "not a number");
    } else if (n == "linesize") {
        ParseExtentAttribute(name, value, m_lineSize);
    } else if (n == "showbutton1") {
        ParseBoolAttribute(name, value, m_showButton1);
    } else if (n == "showbutton2") {
        ParseBoolAttribute(name, value, m_showButton2);
    } else {
        return Control::SetAttribute(name, value);
    }
    SetPos(m_rect);
    Invalidate();
    return true;
}

void ScrollBar::SetScrollRange(int range, int page) {
    m_range = std::max(0, range);
    m_page = std::max(0, page);
    m_pos = std::clamp(m_pos, 0, m_range);
    SetPos(m_rect);
    Invalidate();
}

void ScrollBar::SetScrollPos(int pos) {
    pos = std::clamp(pos, 0, m_range);
    if (pos == m_pos)
        return;
    m_pos = pos;
    SetPos(m_rect);
    Invalidate();
}

void ScrollBar::scrollTo(int pos) {
    const int before = m_pos;
    SetScrollPos(pos);
    if (m_pos != before && m_callback)
        m_callback(m_pos);
}

Rect ScrollBar::PartRect(Part part) const {
    return m_parts[part];
}

void ScrollBar::SetPos(const Rect& rect) {
    Control::SetPos(rect);
    const Rect& r = m_rect;
    const int thick = m_horizontal ? r.Height() : r.Width();
    const int length = m_horizontal ? r.Width() : r.Height();
    const int b1 = m_showButton1 ? std::min(thick, length / 2) : 0;
    const int b2 = m_showButton2 ? std::min(thick, length / 2) : 0;
    auto span = [&](int from, int to) {
        return m_horizontal ? Rect{r.left + from, r.top, r.left + to, r.bottom}
                            : Rect{r.left, r.top + from, r.right, r.top + to};
    };
    m_parts[kBk] = r;
    m_parts[kButton1] = span(0, b1);
    m_parts[kButton2] = span(length - b2, length);
    const int track = std::max(0, length - b1 - b2);
    int thumb = track;
    if (m_range > 0) {
        const int64_t total = int64_t(m_range) + std::max(1, m_page);
        thumb = std::clamp(int(int64_t(track) * std::max(1, m_page) / total),
                           std::min(kMinThumb, track), track);
    }
    m_travel = track - thumb;
    const int offset = m_range > 0 ? int(int64_t(m_travel) * m_pos / m_range) : 0;
    m_parts[kThumb] = span(b1 + offset, b1 + offset + thumb);
    m_parts[kRail] = m_parts[kThumb];
}

ScrollBar::Part ScrollBar::partAt(Point p) const {
    for (Part part : {kButton1, kButton2, kThumb})
        if (m_parts[part].Contains(p))
            return part;
    return kBk;
}

void ScrollBar::DoEvent(UiEvent& event) {
    using T = UiEvent::Type;
    const int along = m_horizontal ? event.point.x : event.point.y;
    switch (event.type) {
        case T::MouseEnter:
        case T::MouseMove:
            if (m_pushedPart == kThumb) {
                if (m_travel > 0)
                    scrollTo(m_dragStartPos +
                             int(int64_t(along - m_dragOrigin) * m_range / m_travel));
            } else if (int hot = partAt(event.point); hot != m_hotPart) {
                m_hotPart = hot;
                Invalidate();
            }
            break;
        case T::MouseLeave:
            m_hotPart = -1;
            Invalidate();
            break;
        case T::ButtonDown: {
            if (!IsEnabled())
                break;
            const Part part = partAt(event.point);
            m_pushedPart = part;
            if (part == kButton1)
                scrollTo(m_pos - m_lineSize);
            else if (part == kButton2)
                scrollTo(m_pos + m_lineSize);
            else if (part == kThumb)
                m_dragOrigin = along, m_dragStartPos = m_pos;
            else {
                const Rect& t = m_parts[kThumb];
                const int page = std::max(m_lineSize, m_page);
                scrollTo(along < (m_horizontal ? t.left : t.top) ? m_pos - page : m_pos + page);
            }
            Invalidate();
            break;
        }
        case T::ButtonUp:
            m_pushedPart = -1;
            Invalidate();
            break;
        case T::Wheel:
            scrollTo(m_pos - event.wheel * m_lineSize * 3);
            break;
        default:
            break;
    }
}

void ScrollBar::PaintStatusImage(Painter& painter) {
    bool styled = false;
    for (const auto& states : m_images)
        for (const ImageRef& ref : states)
            styled = styled || !ref.IsEmpty();
    if (!styled) {
        paintPlain(painter);
        return;
    }
    auto draw = [&](Part part) {
        State state = kNormal;
        if (!IsEnabled())
            state = kDisabled;
        else if (m_pushedPart == part)
            state = kPushed;
        else if (m_hotPart == part)
            state = kHot;
        const ImageRef* ref = &m_images[part][state];
        if (ref->IsEmpty())
            ref = &m_images[part][kNormal];
        if (!ref->IsEmpty() && !m_parts[part].IsEmpty())
            DrawImage(painter, *ref, &m_parts[part]);
    };
    draw(kBk);
    draw(kButton1);
    draw(kButton2);
    if (m_range > 0) {
        draw(kThumb);
        draw(kRail);
    }
}

}  // namespace ui

namespace ui {

void ScrollBar::paintPlain(Painter& painter) {
    // A bar the skin does not style: a light track and a thumb that darkens under the mouse.
    painter.FillRect(m_parts[kBk], Color(0xFFF0F0F0));
    for (Part part : {kButton1, kButton2})
        if (!m_parts[part].IsEmpty())
            painter.FillRect(m_parts[part].Deflate({1, 1, 1, 1}),
                             Color(m_pushedPart == part ? 0xFFA0A0A0
                                   : m_hotPart == part  ? 0xFFC8C8C8
                                                        : 0xFFDCDCDC));
    if (m_range <= 0 || m_parts[kThumb].IsEmpty())
        return;
    const uint32_t thumb = !IsEnabled()             ? 0xFFD0D0D0
                           : m_pushedPart == kThumb ? 0xFF606060
                           : m_hotPart == kThumb    ? 0xFF808080
                                                    : 0xFFA0A0A0;
    painter.FillRect(m_parts[kThumb].Deflate(m_horizontal ? Rect{0, 2, 0, 2} : Rect{2, 0, 2, 0}),
                     Color(thumb));
}

}  // namespace ui
