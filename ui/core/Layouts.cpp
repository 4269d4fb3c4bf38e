#include "ui/Layouts.h"

#include <functional>

#include "ui/Attributes.h"
#include "ui/PaintManager.h"

namespace ui {
namespace {

struct Flow {
    Control* control;
    Size want;
};

// Stacks the shown, non-floating children along one axis. `vertical` picks the axis; the
// code reads as the vertical case with main = height and cross = width. `measure`: children
// without a fixed extent get what their content needs (the layout scrolls) instead of a share.
void stack(std::vector<std::unique_ptr<Control>>& items, const Rect& content, int gap,
           bool vertical, bool measure, const std::function<int(Control&, Size, bool)>& measured) {
    const int mainExtent = vertical ? content.Height() : content.Width();
    const int crossExtent = vertical ? content.Width() : content.Height();
    std::vector<Flow> flow;
    int fixed = 0, flexible = 0;
    for (auto& item : items) {
        if (!item->IsVisible() || item->IsFloat())
            continue;
        const Rect& p = item->GetPadding();
        Size want = item->EstimateSize(
            {content.Width() - p.left - p.right, content.Height() - p.top - p.bottom});
        if (measure && (vertical ? want.cy : want.cx) <= 0)
            (vertical ? want.cy : want.cx) =
                measured(*item, {content.Width(), content.Height()}, vertical);
        const int wantMain = vertical ? want.cy : want.cx;
        fixed += vertical ? p.top + p.bottom : p.left + p.right;
        if (wantMain > 0)
            fixed += wantMain;
        else
            ++flexible;
        flow.push_back({item.get(), want});
    }
    if (flow.empty())
        return;
    fixed += gap * int(flow.size() - 1);
    // Flexible children share the rest; one held by its min or max gets that, and the
    // difference goes to the others (a few rounds settle any mix of limits).
    std::vector<int> mains(flow.size(), -1);
    auto limits = [vertical](const Control& c) {
        const int lo = vertical ? c.GetMinHeight() : c.GetMinWidth();
        const int hi = vertical ? c.GetMaxHeight() : c.GetMaxWidth();
        return std::pair<int, int>{lo, std::max(lo, hi)};
    };
    int remaining = std::max(0, mainExtent - fixed);
    for (int round = 0; round <= int(flow.size()) && flexible > 0; ++round) {
        const int share = remaining / flexible;
        bool settled = true;
        for (size_t i = 0; i < flow.size(); ++i) {
            if ((vertical ? flow[i].want.cy : flow[i].want.cx) > 0 || mains[i] >= 0)
                continue;
            auto [lo, hi] = limits(*flow[i].control);
            if (share < lo || share > hi) {
                mains[i] = std::clamp(share, lo, hi);
                remaining = std::max(0, remaining - mains[i]);
                --flexible;
                settled = false;
            }
        }
        if (settled)
            break;
    }
    const int share = flexible ? remaining / flexible : 0;
    int leftover = flexible ? remaining - share * flexible : 0;
    for (size_t i = 0; i < flow.size(); ++i) {
        if ((vertical ? flow[i].want.cy : flow[i].want.cx) > 0)
            mains[i] = vertical ? flow[i].want.cy : flow[i].want.cx;
        if (mains[i] >= 0)
            continue;
        // The last pixels go to the first flexible child so the stack fills exactly.
        mains[i] = share + leftover;
        leftover = 0;
    }
    int at = vertical ? content.top : content.left;
    for (size_t i = 0; i < flow.size(); ++i) {
        const Flow& f = flow[i];
        Control& c = *f.control;
        const Rect& p = c.GetPadding();
        const int main = mains[i];
        int cross = vertical ? f.want.cx : f.want.cy;
        const int crossPad = vertical ? p.left + p.right : p.top + p.bottom;
        if (cross <= 0)
            cross = std::max(0, crossExtent - crossPad);
        if (vertical) {
            at += p.top;
            c.SetPos(Rect::FromSize(content.left + p.left, at, cross, main));
            at += main + p.bottom + gap;
        } else {
            at += p.left;
            c.SetPos(Rect::FromSize(at, content.top + p.top, main, cross));
            at += main + p.right + gap;
        }
    }
}

// Along the stacking axis the children add up; across it the widest one counts.
Size stackExtent(const std::vector<std::unique_ptr<Control>>& items, Size available, int gap,
                 bool vertical, const std::function<int(Control&, Size, bool)>& measured) {
    int along = 0, across = 0, count = 0, floatAlong = 0;
    for (const auto& item : items) {
        if (!item->IsVisible())
            continue;
        const Rect& p = item->GetPadding();
        if (item->IsFloat()) {
            const Rect& f = item->GetFloatPos();
            across = std::max(across, vertical ? f.right : f.bottom);
            floatAlong = std::max(floatAlong, vertical ? f.bottom : f.right);
            continue;
        }
        ++count;
        along +=
            measured(*item, available, vertical) + (vertical ? p.top + p.bottom : p.left + p.right);
        across = std::max(across, measured(*item, available, !vertical) +
                                      (vertical ? p.left + p.right : p.top + p.bottom));
    }
    along = std::max(along + gap * std::max(0, count - 1), floatAlong);
    return vertical ? Size{across, along} : Size{along, across};
}

}  // namespace

Size VerticalLayout::ContentExtent(Size available) const {
    return stackExtent(m_items, available, m_childPadding, true, MeasuredExtent);
}

Size HorizontalLayout::ContentExtent(Size available) const {
    return stackExtent(m_items, available, m_childPadding, false, MeasuredExtent);
}

void VerticalLayout::LayoutChildren(const Rect& content) {
    stack(m_items, content, m_childPadding, true, GetVerticalScrollBar() != nullptr,
          MeasuredExtent);
    for (auto& item : m_items)
        if (item->IsVisible() && item->IsFloat())
            PlaceFloat(*item);
}

void HorizontalLayout::LayoutChildren(const Rect& content) {
    stack(m_items, content, m_childPadding, false, GetHorizontalScrollBar() != nullptr,
          MeasuredExtent);
    for (auto& item : m_items)
        if (item->IsVisible() && item->IsFloat())
            PlaceFloat(*item);
}

bool TabLayout::SetAttribute(std::string_view name, std::string_view value) {
    if (EqualsNoCase(name, "selectedid")) {
        auto v = ParseInt(value);
        if (!v || *v < 0)
            LogBadValue(name, value, "not a page index");
        else
            m_selected = *v;
        NeedUpdate();
        return true;
    }
    if (EqualsNoCase(name, "animation_direction"))
        return true;
    return Container::SetAttribute(name, value);
}

int TabLayout::GetCurSel() const {
    if (m_items.empty())
        return -1;
    return m_selected < int(m_items.size()) ? m_selected : 0;
}

bool TabLayout::SelectItem(int index) {
    if (index < 0 || index >= int(m_items.size()))
        return false;
    const int old = GetCurSel();
    if (index == old)
        return true;
    m_selected = index;
    if (PaintManager* pm = GetManager(); pm && old >= 0)
        pm->ControlHidden(m_items[size_t(old)].get());
    NeedUpdate();
    Invalidate();
    return true;
}

bool TabLayout::SelectItem(const Control* page) {
    return SelectItem(GetItemIndex(page));
}

bool TabLayout::IsChildShown(const Control* child) const {
    return child->IsVisible() && GetItemIndex(child) == GetCurSel();
}

}  // namespace ui
