#pragma once
// A scroll bar: two arrow buttons, a track and a thumb, each drawn from the skin's images.
// Attributes: hor, range, value, linesize, showbutton1, showbutton2, and for each part
// (button1, button2, thumb, rail, bk) and state (normal, hot, pushed, disabled) an image named
// <part><state>image, e.g. thumbhotimage. rail is drawn centred on the thumb (its grip).
// A rich edit or a scrolling layout owns its bars; the window's Default for "VScrollBar" (or
// "HScrollBar") styles them. A bar without any image is drawn plain (grey track and thumb).

#include <functional>

#include "ui/Control.h"

namespace ui {

class ScrollBar : public Control {
public:
    static constexpr const char* kClassName = "ScrollBar";
    enum Part { kButton1, kButton2, kThumb, kRail, kBk, kPartCount };
    enum State { kNormal, kHot, kPushed, kDisabled, kStateCount };

    ScrollBar();
    std::string_view GetClass() const override { return kClassName; }
    bool SetAttribute(std::string_view name, std::string_view value) override;

    bool IsHorizontal() const { return m_horizontal; }
    int GetScrollRange() const { return m_range; }
    int GetScrollPos() const { return m_pos; }
    int GetLineSize() const { return m_lineSize; }
    // `range` is the scrollable distance; `page` the visible extent (sizes the thumb).
    void SetScrollRange(int range, int page);
    void SetScrollPos(int pos);
    // Called with the new position whenever the user scrolls.
    void SetScrollCallback(std::function<void(int)> callback) { m_callback = std::move(callback); }
    Rect PartRect(Part part) const;

    void SetPos(const Rect& rect) override;
    bool WantsMouse(Point) const override { return MouseAttribute() != 0; }
    void DoEvent(UiEvent& event) override;

protected:
    void PaintStatusImage(Painter& painter) override;

private:
    void paintPlain(Painter& painter);
    void scrollTo(int pos);
    Part partAt(Point point) const;

    bool m_horizontal = false;
    int m_range = 0;
    int m_page = 0;
    int m_pos = 0;
    int m_lineSize = 16;
    bool m_showButton1 = true;
    bool m_showButton2 = true;
    Rect m_parts[kPartCount];
    ImageRef m_images[kPartCount][kStateCount];
    int m_hotPart = -1;
    int m_pushedPart = -1;
    int m_dragOrigin = 0;  // mouse coordinate along the bar when the thumb was grabbed
    int m_dragStartPos = 0;
    int m_travel = 0;  // pixels the thumb can move
    std::function<void(int)> m_callback;
};

}  // namespace ui
