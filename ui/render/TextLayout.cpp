#include "ui/TextLayout.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>

#include "ui/Painter.h"

namespace ui {
namespace {

PangoFontDescription* describe(const FontDesc& font) {
    PangoFontDescription* d = pango_font_description_new();
    // Set the family as it is: parsing "Times New Roman" as a description would read "Roman"
    // as a style word.
    pango_font_description_set_family(
        d, font.family.empty() ? "Microsoft YaHei" : font.family.c_str());
    pango_font_description_set_absolute_size(d,
                                             std::clamp(font.size, 1, 512) * double(PANGO_SCALE));
    pango_font_description_set_weight(d, font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(d, font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return d;
}

void insert(PangoAttrList* list, PangoAttribute* attr, const TextSpan& span) {
    attr->start_index = static_cast<guint>(span.begin);
    attr->end_index = static_cast<guint>(span.end);
    pango_attr_list_insert(list, attr);
}

void insertColor(PangoAttrList* list, Color c, const TextSpan& span) {
    insert(list, pango_attr_foreground_new(c.R() * 257, c.G() * 257, c.B() * 257), span);
    if (c.A() != 0xFF)
        insert(list, pango_attr_foreground_alpha_new(c.A() * 257), span);
}

}  // namespace

TextLayout::TextLayout(RichText text, const TextStyle& style, int width)
    : m_text(std::move(text)), m_style(style), m_width(std::max(1, width)) {
    if (style.fontList)
        m_fonts = *style.fontList;
    m_style.fontList = nullptr;
    FontSystem& fonts = FontSystem::Instance();
    std::lock_guard lock(fonts.Mutex());
    m_layout = pango_layout_new(fonts.Context());
    pango_layout_set_text(m_layout, m_text.text.data(), static_cast<int>(m_text.text.size()));
    PangoFontDescription* d = describe(style.font);
    pango_layout_set_font_description(m_layout, d);
    pango_font_description_free(d);

    const uint32_t f = style.format;
    PangoAlignment align = PANGO_ALIGN_LEFT;
    if (f & kTextCenter)
        align = PANGO_ALIGN_CENTER;
    else if (f & kTextRight)
        align = PANGO_ALIGN_RIGHT;
    pango_layout_set_alignment(m_layout, align);
    if (f & kTextWordBreak) {
        pango_layout_set_width(m_layout, m_width * PANGO_SCALE);
        pango_layout_set_wrap(m_layout, PANGO_WRAP_WORD_CHAR);
        if (f & kTextEndEllipsis)
            pango_layout_set_ellipsize(m_layout, PANGO_ELLIPSIZE_END);
    } else if (f & kTextEndEllipsis) {
        pango_layout_set_width(m_layout, m_width * PANGO_SCALE);
        pango_layout_set_height(m_layout, -1);
        pango_layout_set_ellipsize(m_layout, PANGO_ELLIPSIZE_END);
    } else {
        // Without a width Pango never wraps; the block is aligned in the box by hand.
        m_manualAlign = true;
    }
    applyAttributes(-1);
    // Pango swaps left and right for a right-to-left paragraph. A line cut with "…" keeps the
    // box's side instead, like every other single line (see origin()).
    PangoLayoutLine* first = pango_layout_get_line_readonly(m_layout, 0);
    const bool rtl = first && first->resolved_dir == PANGO_DIRECTION_RTL;
    if (rtl && !(f & kTextWordBreak) && (f & kTextEndEllipsis) && !(f & kTextCenter))
        pango_layout_set_alignment(
            m_layout, align == PANGO_ALIGN_RIGHT ? PANGO_ALIGN_LEFT : PANGO_ALIGN_RIGHT);
}

TextLayout::~TextLayout() {
    std::lock_guard lock(FontSystem::Instance().Mutex());
    if (m_layout)
        g_object_unref(m_layout);
}

void TextLayout::applyAttributes(int hoverLink) {
    if (hoverLink == m_appliedHover)
        return;
    m_appliedHover = hoverLink;
    PangoAttrList* list = pango_attr_list_new();
    TextSpan all;
    all.begin = 0;
    all.end = m_text.text.size();
    if (m_style.font.underline)
        insert(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), all);
    for (const TextSpan& span : m_text.spans) {
        if (span.font >= 0 && size_t(span.font) < m_fonts.size()) {
            PangoFontDescription* d = describe(m_fonts[size_t(span.font)]);
            insert(list, pango_attr_font_desc_new(d), span);
            pango_font_description_free(d);
            if (m_fonts[size_t(span.font)].underline)
                insert(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), span);
        }
        if (span.bold)
            insert(list, pango_attr_weight_new(PANGO_WEIGHT_BOLD), span);
        if (span.italic)
            insert(list, pango_attr_style_new(PANGO_STYLE_ITALIC), span);
        if (span.underline)
            insert(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), span);
        if (span.color.IsSet())
            insertColor(list, span.color, span);
        else if (span.link >= 0)
            insertColor(list, span.link == hoverLink ? m_style.linkHoverColor : m_style.linkColor,
                        span);
    }
    pango_layout_set_attributes(m_layout, list);
    pango_attr_list_unref(list);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(m_layout, nullptr, &logical);
    m_size = {logical.width, logical.height};
}

Point TextLayout::origin(const Rect& box, int scrollY) const {
    Point p{box.left, box.top - scrollY};
    const uint32_t f = m_style.format;
    if (f & kTextBottom)
        p.y = box.bottom - m_size.cy;
    else if (f & kTextVCenter)
        p.y = box.top + (box.Height() - m_size.cy) / 2;
    if (m_manualAlign) {
        // A single line stays on the side the markup gives it, whatever its direction: the
        // markup places a label beside the control it names and is not mirrored for
        // right-to-left languages. Only wrapped paragraphs start at the right (Pango does it).
        const uint32_t h = f & (kTextCenter | kTextRight);
        if (h & kTextCenter)
            p.x = box.left + (box.Width() - m_size.cx) / 2;
        else if (h & kTextRight)
            p.x = box.right - m_size.cx;
    }
    return p;
}

void TextLayout::Draw(Painter& painter, const Rect& box, int hoverLink, int scrollY) {
    painter.RecordText(box, m_text.text, m_style.color);
    if (m_text.text.empty() || box.IsEmpty())
        return;
    std::lock_guard lock(FontSystem::Instance().Mutex());
    applyAttributes(hoverLink);
    const Point at = origin(box, scrollY);
    cairo_t* cr = painter.Cairo();
    cairo_save(cr);
    cairo_rectangle(cr, box.left, box.top, box.Width(), box.Height());
    cairo_clip(cr);
    const Color c = m_style.color;
    cairo_set_source_rgba(cr, c.R() / 255.0, c.G() / 255.0, c.B() / 255.0, c.A() / 255.0);
    cairo_move_to(cr, at.x, at.y);
    pango_cairo_show_layout(cr, m_layout);
    cairo_restore(cr);
}

int TextLayout::LinkAt(const Rect& box, Point point, int scrollY) const {
    if (m_text.links.empty() || !box.Contains(point))
        return -1;
    std::lock_guard lock(FontSystem::Instance().Mutex());
    const Point at = origin(box, scrollY);
    int index = 0, trailing = 0;
    if (!pango_layout_xy_to_index(m_layout, (point.x - at.x) * PANGO_SCALE,
                                  (point.y - at.y) * PANGO_SCALE, &index, &trailing))
        return -1;
    for (const TextSpan& span : m_text.spans)
        if (span.link >= 0 && size_t(index) >= span.begin && size_t(index) < span.end)
            return span.link;
    return -1;
}

int TextLayout::UnknownGlyphCount() const {
    std::lock_guard lock(FontSystem::Instance().Mutex());
    return pango_layout_get_unknown_glyphs_count(m_layout);
}

int TextLayout::GlyphCount() const {
    std::lock_guard lock(FontSystem::Instance().Mutex());
    int count = 0;
    PangoLayoutIter* iter = pango_layout_get_iter(m_layout);
    do {
        if (PangoLayoutRun* run = pango_layout_iter_get_run_readonly(iter))
            count += run->glyphs->num_glyphs;
    } while (pango_layout_iter_next_run(iter));
    pango_layout_iter_free(iter);
    return count;
}

int TextLayout::CharX(size_t index) const {
    std::lock_guard lock(FontSystem::Instance().Mutex());
    PangoRectangle pos;
    pango_layout_index_to_pos(m_layout, static_cast<int>(index), &pos);
    return PANGO_PIXELS(std::min(pos.x, pos.x + pos.width));
}

bool TextLayout::IsRightToLeft() const {
    std::lock_guard lock(FontSystem::Instance().Mutex());
    PangoLayoutLine* line = pango_layout_get_line_readonly(m_layout, 0);
    return line && line->resolved_dir == PANGO_DIRECTION_RTL;
}

std::vector<std::string> TextLayout::UsedFamilies() const {
    std::lock_guard lock(FontSystem::Instance().Mutex());
    std::vector<std::string> families;
    PangoLayoutIter* iter = pango_layout_get_iter(m_layout);
    do {
        PangoLayoutRun* run = pango_layout_iter_get_run_readonly(iter);
        if (!run || !run->item->analysis.font)
            continue;
        PangoFontDescription* d = pango_font_describe(run->item->analysis.font);
        const char* family = pango_font_description_get_family(d);
        if (family && std::find(families.begin(), families.end(), family) == families.end())
            families.emplace_back(family);
        pango_font_description_free(d);
    } while (pango_layout_iter_next_run(iter));
    pango_layout_iter_free(iter);
    return families;
}

}  // namespace ui
