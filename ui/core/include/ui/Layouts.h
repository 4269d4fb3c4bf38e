#pragma once
// Stacking layouts and the tab layout.
//
// VerticalLayout and HorizontalLayout stack their shown children: a child with a fixed extent
// gets it (plus its padding), the rest share what is left equally within their min/max. The
// cross extent is the child's fixed one or the whole content box.
//
// TabLayout shows one child at a time (selectedid="N"); every page is laid out so controls on
// hidden pages still have a position. animation_direction is accepted and not animated.

#include "ui/Container.h"

namespace ui {

class VerticalLayout : public Container {
public:
    static constexpr const char* kClassName = "VerticalLayout";
    std::string_view GetClass() const override { return kClassName; }

protected:
    void LayoutChildren(const Rect& content) override;
    Size ContentExtent(Size available) const override;
};

class HorizontalLayout : public Container {
public:
    static constexpr const char* kClassName = "HorizontalLayout";
    std::string_view GetClass() const override { return kClassName; }

protected:
    void LayoutChildren(const Rect& content) override;
    Size ContentExtent(Size available) const override;
};

class TabLayout : public Container {
public:
    static constexpr const char* kClassName = "TabLayout";
    std::string_view GetClass() const override { return kClassName; }
    bool SetAttribute(std::string_view name, std::string_view value) override;

    // Shows page `index`; false when there is no such page (the current page stays).
    bool SelectItem(int index);
    bool SelectItem(const Control* page);
    // The current page, -1 when the layout has no pages.
    int GetCurSel() const;
    bool IsChildShown(const Control* child) const override;

private:
    int m_selected = 0;
};

}  // namespace ui
