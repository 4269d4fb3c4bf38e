#include "ui/Container.h"

#include "ui/Attributes.h"
#include "ui/PaintManager.h"
#include "ui/Painter.h"
#include "ui/ScrollBar.h"

namespace ui {

Container::Container() = default;

// The bars go before the children: their destructors leave the manager's slots.
Container::~Container() {
    m_vbar.reset();
    m_hbar.reset();
}

bool Container::SetAttribute(std::string_view name, std::string_view value) {
    if (EqualsNoCase(name, "vscrollbar") || EqualsNoCase(name, "hscrollbar")) {
        const bool vertical = EqualsNoCase(name, "vscrollbar");
        bool on = false;
        if (ParseBoolAttribute(name, value, on))
            EnableScrollBar(vertical ? on : m_vbar != nullptr, vertical ? m_hbar != nullptr : on);
        return true;
    }
    if (EqualsNoCase(name, "vscrollbarstyle") || EqualsNoCase(name, "hscrollbarstyle")) {
        const bool vertical = EqualsNoCase(name, "vscrollbarstyle");
        (vertical ? m_vbarStyle : m_hbarStyle) = std::string(value);
        if (ScrollBar* bar = vertical ? m_vbar.get() : m_hbar.get())
            applyBarStyle(*bar, vertical);
        return true;
    }
    if (EqualsNoCase(name, "inset")) {
        if (ParseRectAttribute(name, value, m_inset))
            NeedUpdate();
        return true;
    }
    if (EqualsNoCase(name, "childpadding")) {
        if (ParseExtentAttribute(name, value, m_childPadding))
            NeedUpdate();
        return true;
    }
    return Control::SetAttribute(name, value);
}

bool Container::Add(std::unique_ptr<Control> child) {
    return AddAt(std::move(child), m_items.size());
}

bool Container::AddAt(std::unique_ptr<Control> child, size_t index) {
    if (!child)
        return false;
    child->SetManager(GetManager(), this);
    m_items.insert(m_items.begin() + std::min(index, m_items.size()), std::move(child));
    NeedUpdate();
    return true;
}

bool Container::Remove(Control* child) {
    for (auto it = m_items.begin(); it != m_items.end(); ++it) {
        if (it->get() != child)
            continue;
        // Out of the list first: the child's destructor may ask the manager about the tree.
        std::unique_ptr<Control> doomed = std::move(*it);
        m_items.erase(it);
        doomed.reset();
        NeedUpdate();
        Invalidate();
        return true;
    }
    return false;
}

void Container::RemoveAll() {
    std::vector<std::unique_ptr<Control>> doomed;
    doomed.swap(m_items);
    doomed.clear();
    NeedUpdate();
    Invalidate();
}

int Container::GetItemIndex(const Control* child) const {
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == child)
            return static_cast<int>(i);
    return -1;
}

Control* Container::ChildAt(size_t index) const {
    return index < m_items.size() ? m_items[index].get() : nullptr;
}

bool Container::IsChildShown(const Control* child) const {
    return child->IsVisible();
}

void Container::SetManager(PaintManager* manager, Control* parent) {
    Control::SetManager(manager, parent);
    for (auto& item : m_items)
        item->SetManager(manager, this);
    if (m_vbar)
        applyBarStyle(*m_vbar, true);
    if (m_hbar)
        applyBarStyle(*m_hbar, false);
}

void Container::applyBarStyle(ScrollBar& bar, bool vertical) {
    bar.SetManager(GetManager(), this);
    if (PaintManager* pm = GetManager()) {
        pm->ApplyDefaultAttributes(bar, vertical ? "VScrollBar" : "HScrollBar");
        const std::string& style = vertical ? m_vbarStyle : m_hbarStyle;
        if (!style.empty())
            pm->ApplyAttributeList(bar, style);
    }
    if (!vertical && !bar.IsHorizontal())
        bar.SetAttribute("hor", "true");
    bar.SetScrollCallback([this](int) { scrolled(); });
}

void Container::EnableScrollBar(bool vertical, bool horizontal) {
    auto update = [this](std::unique_ptr<ScrollBar>& bar, bool on, bool isVertical) {
        if (on == (bar != nullptr))
            return;
        if (!on) {
            bar.reset();
            return;
        }
        bar = std::make_unique<ScrollBar>();
        if (!isVertical)
            bar->SetAttribute("hor", "true");
        applyBarStyle(*bar, isVertical);
    };
    update(m_vbar, vertical, true);
    update(m_hbar, horizontal, false);
    NeedUpdate();
}

ScrollBar* Container::GetVerticalScrollBar() const {
    return m_vbarShown ? m_vbar.get() : nullptr;
}

ScrollBar* Container::GetHorizontalScrollBar() const {
    return m_hbarShown ? m_hbar.get() : nullptr;
}

bool Container::IsScrollable() const {
    return m_vbarShown || m_hbarShown;
}

Point Container::GetScrollPos() const {
    return {m_hbarShown ? m_hbar->GetScrollPos() : 0, m_vbarShown ? m_vbar->GetScrollPos() : 0};
}

Size Container::GetScrollRange() const {
    return {m_hbarShown ? m_hbar->GetScrollRange() : 0, m_vbarShown ? m_vbar->GetScrollRange() : 0};
}

void Container::SetScrollPos(Point pos) {
    if (m_hbar)
        m_hbar->SetScrollPos(pos.x);
    if (m_vbar)
        m_vbar->SetScrollPos(pos.y);
    scrolled();
}

void Container::scrolled() {
    // Same rectangle: only the children move.
    SetPos(m_rect);
    Invalidate();
}

int Container::MeasuredExtent(Control& child, Size available, bool vertical) {
    const Rect& p = child.GetPadding();
    const Size inner{std::max(0, available.cx - p.left - p.right),
                     std::max(0, available.cy - p.top - p.bottom)};
    const Size want = child.EstimateSize(inner);
    if (!vertical)
        return want.cx > 0 ? want.cx : child.GetMinWidth();
    if (want.cy > 0)
        return want.cy;
    return std::clamp(child.MeasureHeight(inner.cx), child.GetMinHeight(),
                      std::max(child.GetMinHeight(), child.GetMaxHeight()));
}

Size Container::ContentExtent(Size available) const {
    Size need;
    for (const auto& item : m_items) {
        if (!item->IsVisible())
            continue;
        const Rect& p = item->GetPadding();
        if (item->IsFloat()) {
            need.cx = std::max(need.cx, item->GetFloatPos().right);
            need.cy = std::max(need.cy, item->GetFloatPos().bottom);
            continue;
        }
        need.cx = std::max(need.cx, p.left + p.right + MeasuredExtent(*item, available, false));
        need.cy = std::max(need.cy, p.top + p.bottom + MeasuredExtent(*item, available, true));
    }
    return need;
}

int Container::MeasureHeight(int width) {
    const Size need = ContentExtent({std::max(0, width - m_inset.left - m_inset.right), 0});
    return need.cy > 0 ? need.cy + m_inset.top + m_inset.bottom : 0;
}

void Container::SetPos(const Rect& rect) {
    Control::SetPos(rect);
    Rect content = m_rect.Deflate(m_inset);
    content.right = std::max(content.left, content.right);
    content.bottom = std::max(content.top, content.bottom);
    m_vbarShown = m_hbarShown = false;
    if (!m_vbar && !m_hbar) {
        m_viewport = content;
        LayoutChildren(content);
        return;
    }
    const int barWidth = m_vbar ? m_vbar->GetFixedWidth() : 0;
    const int barHeight = m_hbar ? m_hbar->GetFixedHeight() : 0;
    Size need = ContentExtent({content.Width(), content.Height()});
    bool v = m_vbar && need.cy > content.Height();
    bool h = m_hbar && need.cx > content.Width();
    // A bar takes room from the other axis, which may then overflow as well.
    if (v && m_hbar && !h)
        h = need.cx > content.Width() - barWidth;
    if (h && m_vbar && !v)
        v = need.cy > content.Height() - barHeight;
    if (v)
        content.right = std::max(content.left, content.right - barWidth);
    if (h)
        content.bottom = std::max(content.top, content.bottom - barHeight);
    if (v)  // narrower: text may wrap into more lines
        need = ContentExtent({content.Width(), content.Height()});
    m_viewport = content;
    if (m_vbar) {
        m_vbar->SetScrollRange(v ? std::max(0, need.cy - content.Height()) : 0, content.Height());
        m_vbar->SetPos(
            {content.right, content.top, content.right + (v ? barWidth : 0), content.bottom});
        m_vbarShown = v;
    }
    if (m_hbar) {
        m_hbar->SetScrollRange(h ? std::max(0, need.cx - content.Width()) : 0, content.Width());
        m_hbar->SetPos(
            {content.left, content.bottom, content.right, content.bottom + (h ? barHeight : 0)});
        m_hbarShown = h;
    }
    const Point scroll = GetScrollPos();
    const Rect virtualBox = Rect::FromSize(content.left - scroll.x, content.top - scroll.y,
                                           std::max(content.Width(), h ? need.cx : 0),
                                           std::max(content.Height(), v ? need.cy : 0));
    LayoutChildren(virtualBox);
}

void Container::PlaceFloat(Control& child) {
    const Rect& p = child.GetFloatPos();
    const Size want = child.EstimateSize({m_rect.Width(), m_rect.Height()});
    const int w = want.cx > 0 ? want.cx : p.Width();
    const int h = want.cy > 0 ? want.cy : p.Height();
    child.SetPos(
        Rect::FromSize(m_rect.left + p.left, m_rect.top + p.top, std::max(0, w), std::max(0, h)));
}

void Container::LayoutChildren(const Rect& content) {
    for (auto& item : m_items) {
        if (!item->IsVisible())
            continue;
        if (item->IsFloat()) {
            PlaceFloat(*item);
            continue;
        }
        const Rect& pad = item->GetPadding();
        Rect r = content.Deflate(pad);
        const Size want = item->EstimateSize({r.Width(), r.Height()});
        if (want.cx > 0)
            r.right = r.left + want.cx;
        if (want.cy > 0)
            r.bottom = r.top + want.cy;
        item->SetPos(r);
    }
}

Control* Container::FindControlAt(Point point) {
    if (!IsVisible() || !m_rect.Contains(point))
        return nullptr;
    for (ScrollBar* bar : {GetVerticalScrollBar(), GetHorizontalScrollBar()})
        if (bar && bar->GetPos().Contains(point))
            return bar;
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
        if (!IsChildShown(it->get()))
            continue;
        // Children outside the content box are clipped when painted, so they are not hit there.
        if (!(*it)->IsFloat() && !m_viewport.Contains(point))
            continue;
        if (Control* hit = (*it)->FindControlAt(point))
            return hit;
    }
    return WantsMouse(point) ? this : nullptr;
}

bool Container::WantsMouse(Point point) const {
    // A panel that scrolls takes the wheel and the click that gives it the keyboard.
    return IsScrollable() ? MouseAttribute() != 0 : Control::WantsMouse(point);
}

void Container::DoEvent(UiEvent& event) {
    if (!IsScrollable()) {
        Control::DoEvent(event);
        return;
    }
    // Vertical when there is a vertical bar, else along the horizontal one.
    ScrollBar* bar = m_vbarShown ? m_vbar.get() : m_hbar.get();
    const int page = m_vbarShown ? m_viewport.Height() : m_viewport.Width();
    const int line = bar->GetLineSize();
    int to = bar->GetScrollPos();
    if (event.type == UiEvent::Type::Wheel) {
        to -= event.wheel * line * 3;
    } else if (event.type == UiEvent::Type::KeyDown) {
        switch (event.key) {
            case kVkPrior:
                to -= std::max(line, page - line);
                break;
            case kVkNext:
                to += std::max(line, page - line);
                break;
            case kVkHome:
                to = 0;
                break;
            case kVkEnd:
                to = bar->GetScrollRange();
                break;
            case kVkUp:
                to -= line;
                break;
            case kVkDown:
                to += line;
                break;
            default:
                return;
        }
    } else {
        return;
    }
    Point pos = GetScrollPos();
    (m_vbarShown ? pos.y : pos.x) = std::clamp(to, 0, bar->GetScrollRange());
    if (pos != GetScrollPos())
        SetScrollPos(pos);
}

void Container::Paint(Painter& painter, const Rect& dirty) {
    const Rect area = m_rect.Intersect(dirty);
    if (area.IsEmpty())
        return;
    Control::Paint(painter, dirty);
    painter.PushClip(m_rect);
    const Rect content = m_viewport;
    for (auto& item : m_items) {
        if (!IsChildShown(item.get()))
            continue;
        if (item->IsFloat()) {
            item->Paint(painter, area);
            continue;
        }
        // Children scrolled out of sight cost nothing.
        const Rect visible = area.Intersect(content);
        if (visible.Intersect(item->GetPos()).IsEmpty())
            continue;
        painter.PushClip(content);
        item->Paint(painter, visible);
        painter.PopClip();
    }
    for (ScrollBar* bar : {GetVerticalScrollBar(), GetHorizontalScrollBar()})
        if (bar)
            bar->Paint(painter, area);
    painter.PopClip();
}

}  // namespace ui
