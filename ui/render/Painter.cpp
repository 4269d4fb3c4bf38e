#include "ui/Painter.h"

#include <cairo.h>

#include <cmath>

namespace ui {
namespace {

void setSource(cairo_t* cr, Color c) {
    cairo_set_source_rgba(cr, c.R() / 255.0, c.G() / 255.0, c.B() / 255.0, c.A() / 255.0);
}

// Shrinks two opposite borders proportionally when together they are wider than the target.
void fitBorders(int& a, int& b, int available) {
    if (a + b <= available || a + b == 0)
        return;
    const int total = a + b;
    a = available * a / total;
    b = available - a;
}

}  // namespace

Painter::Painter(Image& target) : m_size{target.Width(), target.Height()} {
    m_cr = cairo_create(target.Surface());
    m_ownsContext = true;
    m_clips.push_back(Rect::FromSize(0, 0, m_size.cx, m_size.cy));
}

Painter::Painter(cairo_t* context, Size size) : m_cr(context), m_size(size) {
    cairo_save(m_cr);
    m_clips.push_back(Rect::FromSize(0, 0, m_size.cx, m_size.cy));
}

Painter::~Painter() {
    if (m_ownsContext) {
        cairo_surface_flush(cairo_get_target(m_cr));
        cairo_destroy(m_cr);
    } else {
        cairo_restore(m_cr);
    }
}

void Painter::PushClip(const Rect& rect) {
    const Rect clip = rect.Intersect(m_clips.back());
    m_clips.push_back(clip);
    cairo_save(m_cr);
    cairo_rectangle(m_cr, clip.left, clip.top, clip.Width(), clip.Height());
    cairo_clip(m_cr);
}

void Painter::PopClip() {
    if (m_clips.size() <= 1)
        return;
    m_clips.pop_back();
    cairo_restore(m_cr);
}

void Painter::ClipRoundRect(const Rect& r, int rx, int ry) {
    if (rx <= 0 || ry <= 0)
        return;
    const double w = r.Width(), h = r.Height();
    const double ax = std::min<double>(rx / 2.0, w / 2), ay = std::min<double>(ry / 2.0, h / 2);
    cairo_save(m_cr);
    cairo_translate(m_cr, r.left, r.top);
    cairo_new_path(m_cr);
    cairo_save(m_cr);
    cairo_translate(m_cr, ax, ay);
    cairo_scale(m_cr, ax, ay);
    cairo_arc(m_cr, 0, 0, 1, M_PI, 1.5 * M_PI);
    cairo_restore(m_cr);
    cairo_save(m_cr);
    cairo_translate(m_cr, w - ax, ay);
    cairo_scale(m_cr, ax, ay);
    cairo_arc(m_cr, 0, 0, 1, 1.5 * M_PI, 2 * M_PI);
    cairo_restore(m_cr);
    cairo_save(m_cr);
    cairo_translate(m_cr, w - ax, h - ay);
    cairo_scale(m_cr, ax, ay);
    cairo_arc(m_cr, 0, 0, 1, 0, 0.5 * M_PI);
    cairo_restore(m_cr);
    cairo_save(m_cr);
    cairo_translate(m_cr, ax, h - ay);
    cairo_scale(m_cr, ax, ay);
    cairo_arc(m_cr, 0, 0, 1, 0.5 * M_PI, M_PI);
    cairo_restore(m_cr);
    cairo_close_path(m_cr);
    cairo_restore(m_cr);
    // Kept for the painter's life: the destructor's restore (or context destruction) ends it.
    cairo_clip(m_cr);
}

void Painter::record(DrawOp::Kind kind, const Rect& dest, Color color) {
    if (!m_recorder)
        return;
    DrawOp op;
    op.kind = kind;
    op.control = m_control;
    op.dest = dest;
    op.clip = dest.Intersect(m_clips.back());
    op.color = color;
    m_recorder->Add(std::move(op));
}

void Painter::Clear(Color color) {
    cairo_save(m_cr);
    cairo_set_operator(m_cr, CAIRO_OPERATOR_SOURCE);
    setSource(m_cr, color);
    cairo_paint(m_cr);
    cairo_restore(m_cr);
}

void Painter::FillRect(const Rect& rect, Color color) {
    if (rect.IsEmpty() || !color.IsSet())
        return;
    setSource(m_cr, color);
    cairo_rectangle(m_cr, rect.left, rect.top, rect.Width(), rect.Height());
    cairo_fill(m_cr);
    record(DrawOp::Kind::Fill, rect, color);
}

void Painter::StrokeRect(const Rect& rect, Color color, int width) {
    if (rect.IsEmpty() || !color.IsSet() || width <= 0)
        return;
    setSource(m_cr, color);
    cairo_set_line_width(m_cr, width);
    const double inset = width / 2.0;
    cairo_rectangle(m_cr, rect.left + inset, rect.top + inset, rect.Width() - width,
                    rect.Height() - width);
    cairo_stroke(m_cr);
    record(DrawOp::Kind::Stroke, rect, color);
}

void Painter::drawPiece(const Image& image, const Rect& src, const Rect& dst, double alpha) {
    if (src.IsEmpty() || dst.IsEmpty())
        return;
    cairo_surface_t* piece = cairo_surface_create_for_rectangle(image.Surface(), src.left, src.top,
                                                                src.Width(), src.Height());
    cairo_save(m_cr);
    cairo_rectangle(m_cr, dst.left, dst.top, dst.Width(), dst.Height());
    cairo_clip(m_cr);
    cairo_translate(m_cr, dst.left, dst.top);
    const bool scaled = src.Width() != dst.Width() || src.Height() != dst.Height();
    if (scaled)
        cairo_scale(m_cr, double(dst.Width()) / src.Width(), double(dst.Height()) / src.Height());
    cairo_set_source_surface(m_cr, piece, 0, 0);
    cairo_pattern_t* pattern = cairo_get_source(m_cr);
    // Padding keeps a stretched piece from sampling its neighbours; unscaled pieces copy exactly.
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(pattern, scaled ? CAIRO_FILTER_BILINEAR : CAIRO_FILTER_NEAREST);
    if (alpha >= 1.0)
        cairo_paint(m_cr);
    else
        cairo_paint_with_alpha(m_cr, alpha);
    cairo_restore(m_cr);
    cairo_surface_destroy(piece);
}

void Painter::DrawImage(const Image& image, const ImageRef& ref, const Rect& box) {
    const Rect whole = Rect::FromSize(0, 0, image.Width(), image.Height());
    const Rect src = ref.source.IsEmpty() ? whole : ref.source.Intersect(whole);
    Rect dst = ref.dest.IsEmpty() ? box : ref.dest.Offset(box.left, box.top).Intersect(box);
    if (src.IsEmpty() || dst.IsEmpty() || ref.fade == 0)
        return;
    if (m_recorder) {
        DrawOp op;
        op.kind = DrawOp::Kind::Image;
        op.control = m_control;
        op.dest = dst;
        op.clip = dst.Intersect(m_clips.back());
        op.source = src;
        op.image = ref.file;
        m_recorder->Add(std::move(op));
    }
    const double alpha = ref.fade / 255.0;
    int cl = std::max(0, ref.corner.left), ct = std::max(0, ref.corner.top);
    int cr = std::max(0, ref.corner.right), cb = std::max(0, ref.corner.bottom);
    fitBorders(cl, cr, std::min(src.Width(), dst.Width()));
    fitBorders(ct, cb, std::min(src.Height(), dst.Height()));
    if (cl + ct + cr + cb == 0) {
        drawPiece(image, src, dst, alpha);
        return;
    }
    const int sx[4] = {src.left, src.left + cl, src.right - cr, src.right};
    const int sy[4] = {src.top, src.top + ct, src.bottom - cb, src.bottom};
    const int dx[4] = {dst.left, dst.left + cl, dst.right - cr, dst.right};
    const int dy[4] = {dst.top, dst.top + ct, dst.bottom - cb, dst.bottom};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            if (ref.hole && row == 1 && col == 1)
                continue;
            drawPiece(image, {sx[col], sy[row], sx[col + 1], sy[row + 1]},
                      {dx[col], dy[row], dx[col + 1], dy[row + 1]}, alpha);
        }
    }
}

void Painter::RecordText(const Rect& box, const std::string& text, Color color) {
    if (!m_recorder)
        return;
    DrawOp op;
    op.kind = DrawOp::Kind::Text;
    op.control = m_control;
    op.dest = box;
    op.clip = box.Intersect(m_clips.back());
    op.text = text;
    op.color = color;
    m_recorder->Add(std::move(op));
}

}  // namespace ui
