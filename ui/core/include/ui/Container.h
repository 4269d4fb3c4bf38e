#pragma once
// A control with children. The plain container gives every child its whole content box; the
// layouts in Layouts.h stack them. Attributes: inset (inner margin "l,t,r,b"), childpadding
// (gap between children in a stack).
//
// Children that are floated (pos) are placed at their pos relative to the container's top-left
// corner and take no part in the flow; hidden children take no space.

#include <memory>
#include <vector>

#include "ui/Control.h"

namespace ui {

class Container : public Control {
public:
    static constexpr const char* kClassName = "Container";
    std::string_view GetClass() const override { return kClassName; }
    bool SetAttribute(std::string_view name, std::string_view value) override;

    // Takes ownership; false (and the child is destroyed) when `child` is null.
    bool Add(std::unique_ptr<Control> child);
    bool AddAt(std::unique_ptr<Control> child, size_t index);
    bool AddChild(std::unique_ptr<Control> child) override { return Add(std::move(child)); }
    // Destroys the child; false when it is not a child of this container.
    bool Remove(Control* child);
    void RemoveAll();
    int GetItemIndex(const Control* child) const;
    size_t ChildCount() const override { return m_items.size(); }
    Control* ChildAt(size_t index) const override;

    const Rect& GetInset() const { return m_inset; }
    int GetChildPadding() const { return m_childPadding; }
    // Whether `child` is drawn and hit when this container is (tab layouts show one page).
    virtual bool IsChildShown(const Control* child) const;

    void SetManager(PaintManager* manager, Control* parent) override;
    void SetPos(const Rect& rect) override;
    Control* FindControlAt(Point point) override;
    void Paint(Painter& painter, const Rect& dirty) override;

protected:
    // Places the children inside `content` (the rectangle less the inset).
    virtual void LayoutChildren(const Rect& content);
    void PlaceFloat(Control& child);

    std::vector<std::unique_ptr<Control>> m_items;
    Rect m_inset;
    int m_childPadding = 0;
};

}  // namespace ui
