#pragma once
// Read-only rich text: wrapped at the width, top-aligned, scrolled by a vertical scroll bar and
// the mouse wheel, with the inline tags (links raise "link"). The bar appears when the text is
// taller than the box; vscrollbar="false" hides it (the wheel still scrolls). Its look comes
// from the window's Default for "VScrollBar", then from vscrollbarstyle="name='value' …".

#include <memory>

#include "ui/Label.h"
#include "ui/ScrollBar.h"

namespace ui {

class RichEdit : public Label {
public:
    static constexpr const char* kClassName = "RichEdit";
    RichEdit();
    ~RichEdit() override;
    std::string_view GetClass() const override { return kClassName; }
    bool SetAttribute(std::string_view name, std::string_view value) override;

    void SetText(std::string text) override;
    int GetScrollPos() const { return m_scroll ? m_scroll->GetScrollPos() : 0; }
    int GetScrollRange() const { return m_scroll ? m_scroll->GetScrollRange() : 0; }
    void SetScrollPos(int pos);
    ScrollBar* GetVerticalScrollBar() const { return m_showBar ? m_scroll.get() : nullptr; }

    void SetManager(PaintManager* manager, Control* parent) override;
    void SetPos(const Rect& rect) override;
    Control* FindControlAt(Point point) override;
    bool WantsMouse(Point) const override { return MouseAttribute() != 0; }
    void DoEvent(UiEvent& event) override;
    void Paint(Painter& painter, const Rect& dirty) override;

protected:
    Rect TextBox() const override;
    int ScrollOffset() const override { return GetScrollPos(); }

private:
    void updateRange();
    bool barNeeded() const;

    std::unique_ptr<ScrollBar> m_scroll;
    bool m_showBar = true;
    std::string m_barStyle;
};

}  // namespace ui
