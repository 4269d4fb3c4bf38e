#include "ui/Container.h"

#include "ui/Attributes.h"
#include "ui/PaintManager.h"
#include "ui/Painter.h"

namespace ui {

bool Container::SetAttribute(std::string_view name, std::string_view value) {
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
}

void Container::SetPos(const Rect& rect) {
    Control::SetPos(rect);
    LayoutChildren(m_rect.Deflate(m_inset));
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
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
        if (!IsChildShown(it->get()))
            continue;
        // Children outside the content box are clipped when painted, so they are not hit there.
        if (!(*it)->IsFloat() && !m_rect.Deflate(m_inset).Contains(point))
            continue;
        if (Control* hit = (*it)->FindControlAt(point))
            return hit;
    }
    return WantsMouse(point) ? this : nullptr;
}

void Container::Paint(Painter& painter, const Rect& dirty) {
    const Rect area = m_rect.Intersect(dirty);
    if (area.IsEmpty())
        return;
    Control::Paint(painter, dirty);
    painter.PushClip(m_rect);
    const Rect content = m_rect.Deflate(m_inset);
    for (auto& item : m_items) {
        if (!IsChildShown(item.get()))
            continue;
        if (item->IsFloat()) {
            item->Paint(painter, area);
            continue;
        }
        painter.PushClip(content);
        item->Paint(painter, area.Intersect(content));
        painter.PopClip();
    }
    painter.PopClip();
}

}  // namespace ui
