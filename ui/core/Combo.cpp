#include "ui/Combo.h"

#include "ui/Attributes.h"
#include "ui/PaintManager.h"
#include "ui/Painter.h"

namespace ui {

bool ListLabelElement::SetAttribute(std::string_view name, std::string_view value) {
    if (EqualsNoCase(name, "selected")) {
        ParseBoolAttribute(name, value, m_selected);
        return true;
    }
    return Label::SetAttribute(name, value);
}

Combo::Combo() : m_popup(std::make_unique<ComboPopup>(*this)) {
    m_textPadding = {6, 0, 24, 0};
}

Combo::~Combo() {
    // The popup goes first: it reads the items while the manager lets go of it.
    m_popup.reset();
}

bool Combo::SetAttribute(std::string_view name, std::string_view value) {
    const std::string n = ToLower(name);
    ImageRef* image = m_images.ForAttribute(n);
    struct ColorAttr {
        const char* name;
        Color* target;
    } colors[] = {
        {"itemtextcolor", &m_itemTextColor},
        {"itembkcolor", &m_itemBkColor},
        {"itemhottextcolor", &m_itemHotTextColor},
        {"itemhotbkcolor", &m_itemHotBkColor},
        {"itemselectedtextcolor", &m_itemSelectedTextColor},
        {"itemselectedbkcolor", &m_itemSelectedBkColor},
        {"dropbkcolor", &m_dropBkColor},
        {"dropbordercolor", &m_dropBorderColor},
    };
    if (image) {
        ParseImageAttribute(name, value, *image);
        Invalidate();
        return true;
    }
    for (const ColorAttr& c : colors) {
        if (n == c.name) {
            ParseColorAttribute(name, value, *c.target);
            return true;
        }
    }
    if (n == "cursel") {
        auto v = ParseInt(value);
        if (!v)
            LogBadValue(name, value, "not an item index");
        else
            m_cursel = *v;
    } else if (n == "dropboxsize") {
        auto s = ParseSize(value);
        if (!s || s->cx < 0 || s->cy < 0 || s->cx > kMaxExtent || s->cy > kMaxExtent)
            LogBadValue(name, value, "not a size w,h");
        else
            m_dropSize = *s;
    } else if (n == "itemheight") {
        ParseExtentAttribute(name, value, m_itemHeight);
        m_itemHeight = std::max(1, m_itemHeight);
    } else if (n == "itemfont") {
        auto v = ParseInt(value);
        if (!v)
            LogBadValue(name, value, "not a font index");
        else
            m_itemFont = *v;
    } else if (n == "itemtextpadding") {
        ParseRectAttribute(name, value, m_itemTextPadding);
    } else {
        return Label::SetAttribute(name, value);
    }
    return true;
}

bool Combo::AddChild(std::unique_ptr<Control> child) {
    auto* item = dynamic_cast<ListLabelElement*>(child.get());
    if (!item)
        return false;
    child.release();
    return AddItem(std::unique_ptr<ListLabelElement>(item));
}

bool Combo::AddItem(std::unique_ptr<ListLabelElement> item) {
    if (!item)
        return false;
    item->SetManager(GetManager(), this);
    if (item->m_selected)
        m_cursel = int(m_items.size());
    m_items.push_back(std::move(item));
    ResetTextLayout();
    Invalidate();
    return true;
}

Control* Combo::ChildAt(size_t index) const {
    return index < m_items.size() ? m_items[index].get() : nullptr;
}

ListLabelElement* Combo::GetItemAt(int index) const {
    return index >= 0 && index < int(m_items.size()) ? m_items[size_t(index)].get() : nullptr;
}

void Combo::SetManager(PaintManager* manager, Control* parent) {
    if (GetManager() && GetManager() != manager && IsDropped())
        CloseUp();
    Label::SetManager(manager, parent);
    for (auto& item : m_items)
        item->SetManager(manager, this);
    m_popup->SetManager(manager, this);
}

bool Combo::SelectItem(int index, bool notify) {
    if (index < 0 || index >= int(m_items.size()))
        return false;
    const int old = m_cursel;
    if (index == old)
        return true;
    if (ListLabelElement* previous = GetItemAt(old))
        previous->m_selected = false;
    m_items[size_t(index)]->m_selected = true;
    m_cursel = index;
    ResetTextLayout();
    Invalidate();
    if (notify && GetManager())
        GetManager()->SendNotify(this, kNotifyItemSelect, WParam(index), LParam(old));
    return true;
}

std::string Combo::DisplayText() const {
    ListLabelElement* item = GetItemAt(m_cursel);
    return item ? item->GetText() : GetText();
}

bool Combo::IsDropped() const {
    return GetManager() && GetManager()->GetPopup() == m_popup.get();
}

void Combo::DropDown() {
    PaintManager* pm = GetManager();
    if (!pm || !IsEnabled())
        return;
    int shown = 0;
    for (auto& item : m_items)
        shown += item->IsVisible();
    const int width = m_dropSize.cx > 0 ? m_dropSize.cx : m_rect.Width();
    const int height = std::min(m_dropSize.cy > 0 ? m_dropSize.cy : 150, shown * m_itemHeight + 2);
    const Size client = pm->GetClientSize();
    Rect r = Rect::FromSize(m_rect.left, m_rect.bottom, width, height);
    if (r.bottom > client.cy && m_rect.top - height >= 0)
        r = Rect::FromSize(m_rect.left, m_rect.top - height, width, height);
    if (r.right > client.cx)
        r = r.Offset(std::max(-r.left, client.cx - r.right), 0);
    m_popup->SetPos(r);
    m_popup->ScrollToItem(m_cursel);
    pm->OpenPopup(m_popup.get());
}

void Combo::CloseUp() {
    if (IsDropped())
        GetManager()->ClosePopup();
}

void Combo::DoEvent(UiEvent& event) {
    using T = UiEvent::Type;
    switch (event.type) {
        case T::MouseEnter:
            m_hot = true;
            Invalidate();
            break;
        case T::MouseLeave:
            m_hot = false;
            Invalidate();
            break;
        case T::ButtonDown:
            if (!IsEnabled())
                break;
            m_pushed = true;
            IsDropped() ? CloseUp() : DropDown();
            Invalidate();
            break;
        case T::ButtonUp:
            m_pushed = false;
            Invalidate();
            break;
        case T::KeyDown: {
            if (event.key == kVkReturn || event.key == kVkSpace) {
                IsDropped() ? CloseUp() : DropDown();
                break;
            }
            const int step = event.key == kVkDown ? 1 : event.key == kVkUp ? -1 : 0;
            for (int i = m_cursel + step; step && i >= 0 && i < GetCount(); i += step) {
                if (m_items[size_t(i)]->IsVisible() && m_items[size_t(i)]->IsEnabled()) {
                    SelectItem(i);
                    break;
                }
            }
            break;
        }
        case T::Wheel: {
            const int step = event.wheel > 0 ? -1 : 1;
            for (int i = m_cursel + step; event.wheel && i >= 0 && i < GetCount(); i += step) {
                if (m_items[size_t(i)]->IsVisible()) {
                    SelectItem(i);
                    break;
                }
            }
            break;
        }
        default:
            break;
    }
}

void Combo::PaintStatusImage(Painter& painter) {
    DrawImage(painter, m_images.Pick(IsEnabled(), m_pushed || IsDropped(), m_hot, HasFocus()));
}

std::vector<int> ComboPopup::shownItems() const {
    std::vector<int> shown;
    for (int i = 0; i < m_owner.GetCount(); ++i)
        if (m_owner.m_items[size_t(i)]->IsVisible())
            shown.push_back(i);
    return shown;
}

Rect ComboPopup::rowRect(int index) const {
    const std::vector<int> shown = shownItems();
    for (size_t row = 0; row < shown.size(); ++row) {
        if (shown[row] != index)
            continue;
        const int top = m_rect.top + 1 + int(row) * m_owner.m_itemHeight - m_scroll;
        return {m_rect.left + 1, top, m_rect.right - 1, top + m_owner.m_itemHeight};
    }
    return {};
}

Rect ComboPopup::ItemRect(int index) const {
    return rowRect(index).Intersect(m_rect.Deflate({1, 1, 1, 1}));
}

int ComboPopup::ItemAt(Point point) const {
    if (!m_rect.Deflate({1, 1, 1, 1}).Contains(point))
        return -1;
    const std::vector<int> shown = shownItems();
    const int row = (point.y - m_rect.top - 1 + m_scroll) / m_owner.m_itemHeight;
    return row >= 0 && row < int(shown.size()) ? shown[size_t(row)] : -1;
}

void ComboPopup::scrollBy(int pixels) {
    const int content = int(shownItems().size()) * m_owner.m_itemHeight;
    const int maxScroll = std::max(0, content - (m_rect.Height() - 2));
    m_scroll = std::clamp(m_scroll + pixels, 0, maxScroll);
    Invalidate();
}

void ComboPopup::ScrollToItem(int index) {
    m_scroll = 0;
    const std::vector<int> shown = shownItems();
    for (size_t row = 0; row < shown.size(); ++row)
        if (shown[row] == index)
            scrollBy(int(row) * m_owner.m_itemHeight - (m_rect.Height() - 2) / 2);
}

std::string ComboPopup::ToolTipAt(Point point) const {
    ListLabelElement* item = m_owner.GetItemAt(ItemAt(point));
    return item ? item->GetToolTip() : std::string();
}

void ComboPopup::DoEvent(UiEvent& event) {
    using T = UiEvent::Type;
    switch (event.type) {
        case T::MouseEnter:
        case T::MouseMove:
            if (int hot = ItemAt(event.point); hot != m_hot) {
                m_hot = hot;
                Invalidate();
            }
            break;
        case T::MouseLeave:
            m_hot = -1;
            Invalidate();
            break;
        case T::ButtonUp: {
            const int index = ItemAt(event.point);
            ListLabelElement* item = m_owner.GetItemAt(index);
            if (!item || !item->IsEnabled())
                break;
            // Close first: the "itemselect" handler may rebuild the list or open a window.
            m_owner.CloseUp();
            m_owner.SelectItem(index);
            break;
        }
        case T::Wheel:
            scrollBy(-event.wheel * m_owner.m_itemHeight);
            break;
        default:
            break;
    }
}

void ComboPopup::Paint(Painter& painter, const Rect& dirty) {
    if (m_rect.Intersect(dirty).IsEmpty())
        return;
    painter.SetControl(m_owner.GetName() + ".popup");
    painter.FillRect(m_rect, m_owner.m_dropBkColor);
    painter.PushClip(m_rect.Deflate({1, 1, 1, 1}));
    PaintManager* pm = GetManager();
    for (int index : shownItems()) {
        const Rect r = ItemRect(index);
        if (r.IsEmpty())
            continue;
        ListLabelElement& item = *m_owner.m_items[size_t(index)];
        const bool selected = index == m_owner.m_cursel;
        const bool hot = index == m_hot;
        Color bk = m_owner.m_itemBkColor, fg = m_owner.m_itemTextColor;
        if (selected) {
            if (m_owner.m_itemSelectedBkColor.IsSet())
                bk = m_owner.m_itemSelectedBkColor;
            if (m_owner.m_itemSelectedTextColor.IsSet())
                fg = m_owner.m_itemSelectedTextColor;
        }
        if (hot) {
            if (m_owner.m_itemHotBkColor.IsSet())
                bk = m_owner.m_itemHotBkColor;
            if (m_owner.m_itemHotTextColor.IsSet())
                fg = m_owner.m_itemHotTextColor;
        }
        if (!item.IsEnabled())
            fg = Color(0xFFA7A6AA);
        painter.SetControl(item.GetName());
        painter.FillRect(r, bk);
        TextStyle style;
        style.font = pm ? pm->GetFont(m_owner.m_itemFont >= 0 ? m_owner.m_itemFont : item.GetFont())
                        : FontDesc();
        style.fontList = pm ? &pm->GetFonts() : nullptr;
        style.color = fg;
        style.format = kTextVCenter | kTextEndEllipsis;
        const Rect box = rowRect(index).Deflate(m_owner.m_itemTextPadding);
        TextLayout layout(ParseInlineTags(item.GetText()), style, std::max(1, box.Width()));
        layout.Draw(painter, box);
    }
    painter.PopClip();
    painter.StrokeRect(m_rect, m_owner.m_dropBorderColor, 1);
}

}  // namespace ui
