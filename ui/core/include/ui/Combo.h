#pragma once
// A drop-down list. Its items are ListLabelElement children (text, tooltip, visible); hidden
// items stay in the list (indexes do not move) but are not offered. A click opens the list
// below the box (above it when the window has no room below); choosing an item selects it and
// sends "itemselect" (wParam: new index, lParam: old index) when the selection changed.
//
// Combo attributes: normalimage, hotimage, pushedimage, focusedimage, disabledimage, cursel,
// dropboxsize ("w,h": width 0 = the combo's, h = the most the list may take), itemheight,
// itemfont, itemtextpadding, itemtextcolor, itembkcolor, itemhottextcolor, itemhotbkcolor,
// itemselectedtextcolor, itemselectedbkcolor, dropbkcolor, dropbordercolor.

#include <memory>
#include <vector>

#include "ui/Label.h"
#include "ui/StateImages.h"

namespace ui {

class ComboPopup;

class ListLabelElement : public Label {
public:
    static constexpr const char* kClassName = "ListLabelElement";
    std::string_view GetClass() const override { return kClassName; }
    bool SetAttribute(std::string_view name, std::string_view value) override;
    bool IsSelected() const { return m_selected; }

private:
    friend class Combo;
    bool m_selected = false;
};

class Combo : public Label {
public:
    static constexpr const char* kClassName = "Combo";
    Combo();
    ~Combo() override;
    std::string_view GetClass() const override { return kClassName; }
    bool SetAttribute(std::string_view name, std::string_view value) override;

    bool AddChild(std::unique_ptr<Control> child) override;
    bool AddItem(std::unique_ptr<ListLabelElement> item);
    size_t ChildCount() const override { return m_items.size(); }
    Control* ChildAt(size_t index) const override;
    int GetCount() const { return int(m_items.size()); }
    ListLabelElement* GetItemAt(int index) const;

    int GetCurSel() const { return m_cursel; }
    // Selects item `index` (hidden or not); false when there is no such item. `notify` sends
    // "itemselect" when the selection changed.
    bool SelectItem(int index, bool notify = true);

    // The list: open or not, its rectangle, and the item rectangles while open.
    bool IsDropped() const;
    void DropDown();
    void CloseUp();
    ComboPopup* GetPopup() const { return m_popup.get(); }

    void SetManager(PaintManager* manager, Control* parent) override;
    bool WantsMouse(Point) const override { return MouseAttribute() != 0; }
    bool IsFocusable() const override { return IsEnabled(); }
    void DoEvent(UiEvent& event) override;

protected:
    std::string DisplayText() const override;
    void PaintStatusImage(Painter& painter) override;

private:
    friend class ComboPopup;
    std::vector<std::unique_ptr<ListLabelElement>> m_items;
    std::unique_ptr<ComboPopup> m_popup;
    int m_cursel = -1;
    bool m_hot = false;
    bool m_pushed = false;
    StateImages m_images;
    Size m_dropSize{0, 150};
    int m_itemHeight = 24;
    int m_itemFont = -1;
    Rect m_itemTextPadding{6, 0, 6, 0};
    Color m_itemTextColor = Color(0xFF000000), m_itemBkColor;
    Color m_itemHotTextColor, m_itemHotBkColor = Color(0xFFE8F0FC);
    Color m_itemSelectedTextColor, m_itemSelectedBkColor = Color(0xFFCCE0F8);
    Color m_dropBkColor = Color(0xFFFFFFFF), m_dropBorderColor = Color(0xFF9A9A9A);
};

// The open list of a combo, drawn above the window's tree by the paint manager.
class ComboPopup : public Control {
public:
    static constexpr const char* kClassName = "ComboPopup";
    explicit ComboPopup(Combo& owner) : m_owner(owner) {}
    std::string_view GetClass() const override { return kClassName; }

    // Item index under `point` (window coordinates), -1 when none.
    int ItemAt(Point point) const;
    // Rectangle of item `index` now, empty when it is hidden or scrolled out.
    Rect ItemRect(int index) const;
    int GetScrollOffset() const { return m_scroll; }
    void ScrollToItem(int index);

    bool WantsMouse(Point) const override { return true; }
    std::string ToolTipAt(Point point) const override;
    void DoEvent(UiEvent& event) override;
    void Paint(Painter& painter, const Rect& dirty) override;

private:
    std::vector<int> shownItems() const;
    Rect rowRect(int index) const;
    void scrollBy(int pixels);

    Combo& m_owner;
    int m_hot = -1;
    int m_scroll = 0;
};

}  // namespace ui
