#pragma once
// A control with children. The plain container gives every child its whole content box; the
// layouts in Layouts.h stack them. Attributes: inset (inner margin "l,t,r,b"), childpadding
// (gap between children in a stack), vscrollbar / hscrollbar ("true": the children may be
// taller / wider than the box and scroll), vscrollbarstyle / hscrollbarstyle ("name='value' …"
// on top of the window's Default for "VScrollBar" / "HScrollBar").
//
// Children that are floated (pos) are placed at their pos relative to the container's top-left
// corner and take no part in the flow; hidden children take no space.
//
// A scrolling container measures its children (fixed sizes, else what a multi-line text needs),
// shows a bar while they do not fit, and scrolls by the wheel, the bar, and Page Up / Page Down
// / Home / End while it has the focus (a click inside gives it).

#include <memory>
#include <string>
#include <vector>

#include "ui/Control.h"

namespace ui {

class ScrollBar;

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

    // Scrolling: the bar while it is shown (null otherwise), offsets and ranges in pixels.
    ScrollBar* GetVerticalScrollBar() const;
    ScrollBar* GetHorizontalScrollBar() const;
    // Whether a bar was asked for, and whether the children overflow so it scrolls now.
    bool ScrollsChildren() const { return m_vbar || m_hbar; }
    bool IsScrollable() const;
    Point GetScrollPos() const;
    // Where the children show: the content box less the bars.
    const Rect& GetViewport() const { return m_viewport; }
    Size GetScrollRange() const;
    void SetScrollPos(Point pos);
    void EnableScrollBar(bool vertical, bool horizontal);

    Container();
    ~Container() override;
    int MeasureHeight(int width) override;
    void SetManager(PaintManager* manager, Control* parent) override;
    void SetPos(const Rect& rect) override;
    Control* FindControlAt(Point point) override;
    bool WantsMouse(Point point) const override;
    bool IsFocusable() const override { return IsScrollable() && IsEnabled(); }
    bool IsTabStop() const override { return false; }
    void DoEvent(UiEvent& event) override;
    void Paint(Painter& painter, const Rect& dirty) override;

protected:
    // Places the children inside `content` (the rectangle less the inset).
    virtual void LayoutChildren(const Rect& content);
    // The extent the children need inside a content box `available` wide and high (0 along an
    // axis the container fills anyway).
    virtual Size ContentExtent(Size available) const;
    void PlaceFloat(Control& child);
    // Wanted extent of `child` along one axis when the container may scroll: the fixed one, or
    // what its content needs.
    static int MeasuredExtent(Control& child, Size available, bool vertical);

    std::vector<std::unique_ptr<Control>> m_items;
    Rect m_inset;
    int m_childPadding = 0;

private:
    void scrolled();
    void applyBarStyle(ScrollBar& bar, bool vertical);

    std::unique_ptr<ScrollBar> m_vbar, m_hbar;
    std::string m_vbarStyle, m_hbarStyle;
    bool m_vbarShown = false, m_hbarShown = false;
    Rect m_viewport;  // where the children show: the content box less the bars
};

}  // namespace ui
