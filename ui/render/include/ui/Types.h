#pragma once
// Geometry and colour values shared by every layer of the UI framework. Coordinates are whole
// device pixels (the skin is drawn at 96 dpi, one markup pixel = one screen pixel).

#include <algorithm>
#include <cstdint>

namespace ui {

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    int cx = 0;
    int cy = 0;
    bool operator==(const Size&) const = default;
};

// Left and top inclusive, right and bottom exclusive, as in the markup's "l,t,r,b" values.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    static Rect FromSize(int x, int y, int cx, int cy) { return {x, y, x + cx, y + cy}; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    bool Contains(Point p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    Point Center() const { return {left + Width() / 2, top + Height() / 2}; }
    Rect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    // Shrinks by insets given as a rectangle of four margins (left, top, right, bottom).
    Rect Deflate(const Rect& m) const {
        Rect r{left + m.left, top + m.top, right - m.right, bottom - m.bottom};
        if (r.right < r.left)
            r.right = r.left;
        if (r.bottom < r.top)
            r.bottom = r.top;
        return r;
    }
    Rect Intersect(const Rect& o) const {
        Rect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
               std::min(bottom, o.bottom)};
        if (r.IsEmpty())
            return {};
        return r;
    }
    Rect Union(const Rect& o) const {
        if (IsEmpty())
            return o;
        if (o.IsEmpty())
            return *this;
        return {std::min(left, o.left), std::min(top, o.top), std::max(right, o.right),
                std::max(bottom, o.bottom)};
    }
    bool operator==(const Rect&) const = default;
};

// 0xAARRGGBB, not premultiplied. Zero (fully transparent) means "no colour" in attributes.
struct Color {
    uint32_t argb = 0;

    constexpr Color() = default;
    constexpr explicit Color(uint32_t value) : argb(value) {}
    static constexpr Color Rgb(uint8_t r, uint8_t g, uint8_t b) {
        return Color(0xFF000000u | (uint32_t(r) << 16) | (uint32_t(g) << 8) | b);
    }
    constexpr uint8_t A() const { return uint8_t(argb >> 24); }
    constexpr uint8_t R() const { return uint8_t(argb >> 16); }
    constexpr uint8_t G() const { return uint8_t(argb >> 8); }
    constexpr uint8_t B() const { return uint8_t(argb); }
    constexpr bool IsSet() const { return argb != 0; }
    bool operator==(const Color&) const = default;
};

}  // namespace ui
