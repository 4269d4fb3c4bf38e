#pragma once
// Text in a box. The text may carry the inline tags (RichText.h); a link in it raises "link"
// when clicked and takes the window's link colours.
//
// Attributes: textcolor, disabledtextcolor, font (index into the window's font list), align
// (left, center, right; may also name top, vcenter, bottom), valign (top, vcenter, bottom),
// textpadding ("l,t,r,b"), multiline (wrap at the width), endellipsis, showhtml ("false":
// braces are plain text).

#include <memory>

#include "ui/Control.h"
#include "ui/TextLayout.h"

namespace ui {

class Label : public Control {
public:
    static constexpr const char* kClassName = "Label";
    Label();
    ~Label() override;
    std::string_view GetClass() const override { return kClassName; }
    bool SetAttribute(std::string_view name, std::string_view value) override;

    void SetText(std::string text) override;
    Color GetTextColor() const { return m_textColor; }
    void SetTextColor(Color color);
    int GetFont() const { return m_font; }
    void SetFont(int index);
    uint32_t GetTextFormat() const { return m_format; }
    void SetTextFormat(uint32_t format);
    const Rect& GetTextPadding() const { return m_textPadding; }

    bool WantsMouse(Point point) const override;
    int MeasureHeight(int width) override;
    void SetPos(const Rect& rect) override;
    void DoEvent(UiEvent& event) override;

    // The laid-out text for the current text box (null when the box is empty); exposed for
    // measuring and for tests of link positions.
    TextLayout* GetTextLayout();

protected:
    void PaintText(Painter& painter) override;
    // The text as drawn (an edit shows bullets for a password).
    virtual std::string DisplayText() const { return GetText(); }
    virtual Color CurrentTextColor() const;
    virtual Rect TextBox() const { return m_rect.Deflate(m_textPadding); }
    // Draws the display text into `box` in `color`, moved up by `scrollY`.
    void DrawTextIn(Painter& painter, const Rect& box, Color color, int scrollY = 0);
    TextLayout* LayoutFor(int width);
    void ResetTextLayout();
    int LinkAtPoint(Point point) const;
    virtual int ScrollOffset() const { return 0; }

    Color m_textColor = Color(0xFF000000);
    Color m_disabledTextColor = Color(0xFFA7A6AA);
    int m_font = -1;
    uint32_t m_format = kTextVCenter;
    Rect m_textPadding;
    bool m_showHtml = true;

private:
    std::unique_ptr<TextLayout> m_layout;
    int m_hoverLink = -1;
    int m_pressedLink = -1;
};

// A Label under another name; markup uses it for free text and links.
class Text : public Label {
public:
    static constexpr const char* kClassName = "Text";
    std::string_view GetClass() const override { return kClassName; }
};

}  // namespace ui
