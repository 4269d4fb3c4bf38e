#pragma once
// A piece of text laid out with Pango for one box width: shaping (Arabic joined and right to
// left, Devanagari and Thai clusters), font fallback, the inline tags' fonts, colours and links,
// wrapping or ellipsis, and alignment inside the box.
//
// Build it on the UI thread; it takes the font system's lock itself. A control keeps its layout
// until its text, font or width changes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/Fonts.h"
#include "ui/RichText.h"
#include "ui/Types.h"

struct _PangoLayout;

namespace ui {

class Painter;

// Alignment and line flags, combined with |.
enum TextFormat : uint32_t {
    kTextLeft = 0,
    kTextCenter = 1u << 0,
    kTextRight = 1u << 1,
    kTextTop = 0,
    kTextVCenter = 1u << 2,
    kTextBottom = 1u << 3,
    kTextWordBreak = 1u << 4,    // wrap at the box width
    kTextEndEllipsis = 1u << 5,  // cut lines that do not fit with "…"
};

struct TextStyle {
    FontDesc font;                                    // the control's font
    const std::vector<FontDesc>* fontList = nullptr;  // the window's fonts, for {f N}
    Color color = Color(0xFF000000);
    Color linkColor = Color(0xFF0000FF);
    Color linkHoverColor = Color(0xFF0000FF);
    uint32_t format = kTextVCenter;
};

class TextLayout {
public:
    // `width` is the box width the text is wrapped or aligned in (pixels, > 0).
    TextLayout(RichText text, const TextStyle& style, int width);
    ~TextLayout();
    TextLayout(const TextLayout&) = delete;
    TextLayout& operator=(const TextLayout&) = delete;

    const RichText& Text() const { return m_text; }
    // The colour of text that no tag colours (a button's hot colour changes it cheaply).
    void SetColor(Color color) { m_style.color = color; }
    int Width() const { return m_width; }
    // Size of the laid-out text (logical extents) in pixels.
    Size TextSize() const { return m_size; }

    // Draws inside `box` (clipped to it), moved up by `scrollY` pixels; link `hoverLink` in
    // the hover colour.
    void Draw(Painter& painter, const Rect& box, int hoverLink = -1, int scrollY = 0);
    // The link under `point` when drawn in `box`, or -1.
    int LinkAt(const Rect& box, Point point, int scrollY = 0) const;

    // Diagnostics for coverage and shaping: characters no font could draw, glyphs produced,
    // the x of the character starting at byte `index`, and whether the base direction is RTL.
    int UnknownGlyphCount() const;
    int GlyphCount() const;
    int CharX(size_t index) const;
    bool IsRightToLeft() const;
    // Every family the shaped text actually uses, in order of first use.
    std::vector<std::string> UsedFamilies() const;

private:
    void applyAttributes(int hoverLink);
    Point origin(const Rect& box, int scrollY) const;

    RichText m_text;
    TextStyle m_style;
    std::vector<FontDesc> m_fonts;  // copy of the font list: the layout may outlive a reload
    int m_width = 0;
    bool m_manualAlign = false;
    Size m_size;
    int m_appliedHover = -2;
    _PangoLayout* m_layout = nullptr;
};

}  // namespace ui
