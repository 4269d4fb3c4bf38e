#pragma once
// A push button. Its look is one image per state, usually parts of one strip with the normal,
// hot, pushed and disabled pictures side by side, picked through source='…':
//   normalimage, hotimage, pushedimage, focusedimage, disabledimage, foreimage (drawn on top),
//   hottextcolor, pushedtextcolor, focusedtextcolor, hotbkcolor.
// A state without its own image uses the normal one. "click" is sent when the mouse is
// released over the button it was pressed on, or on Space/Return while it has the focus. A link
// in the text ({a}…{/a}) behaves as in a label: pressed and released on it, it sends "link"
// (sender: the button) instead of "click".

#include "ui/Label.h"
#include "ui/StateImages.h"

namespace ui {

class Button : public Label {
public:
    static constexpr const char* kClassName = "Button";
    Button();
    std::string_view GetClass() const override { return kClassName; }
    bool SetAttribute(std::string_view name, std::string_view value) override;

    // Sends "click"; false when the button is disabled.
    virtual bool Activate();

    bool IsHot() const { return m_hot; }
    bool IsPushed() const { return m_pushed; }
    const ImageRef& GetNormalImage() const { return m_images.normal; }
    void SetNormalImage(std::string_view image) {
        ParseImageAttribute("normalimage", image, m_images.normal);
        Invalidate();
    }

    bool WantsMouse(Point point) const override;
    bool IsFocusable() const override { return IsEnabled(); }
    void DoEvent(UiEvent& event) override;
    void SetEnabled(bool enabled) override;

protected:
    void PaintBkColor(Painter& painter) override;
    void PaintStatusImage(Painter& painter) override;
    Color CurrentTextColor() const override;
    // The state image to draw now (the normal one when the state has none).
    virtual const ImageRef& StateImage() const;

    StateImages m_images;
    ImageRef m_fore;
    Color m_hotTextColor, m_pushedTextColor, m_focusedTextColor, m_hotBkColor;
    bool m_hot = false;
    bool m_pushed = false;
    bool m_captured = false;
    bool m_onLink = false;  // the press began on a link of the text
};

}  // namespace ui
