#pragma once
// A decoded picture: 32-bit pixels with alpha (premultiplied, native-endian ARGB, the layout
// Cairo paints from). Images are immutable once shared through the image cache; a window that
// renders its own pictures (a slide strip) fills a fresh Image and then adds it.
//
// Decoding is safe on untrusted bytes: the size is checked before any pixel is allocated, and
// a corrupt file gives null with the reason in `error`, never a crash. Images may be decoded
// on any thread; one Image must not be written by two threads at once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/Types.h"

struct _cairo_surface;

namespace ui {

class Image {
public:
    // Largest side and pixel count accepted from a file or for a new image: a 16384 × 8192
    // strip is 512 MiB already; anything bigger is a broken or hostile file.
    static constexpr int kMaxSide = 16384;
    static constexpr int64_t kMaxPixels = 64ll << 20;

    // A transparent image; null when the size is zero, negative or above the limits.
    static std::shared_ptr<Image> Create(int width, int height);
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int Stride() const;
    // Row-major premultiplied pixels; call MarkDirty() after writing through Pixels().
    uint32_t* Pixels();
    const uint32_t* Pixels() const;
    void MarkDirty();
    // The colour at (x, y) un-premultiplied as 0xAARRGGBB; 0 outside the image.
    uint32_t PixelAt(int x, int y) const;

    // A copy in which every pixel whose colour (alpha ignored) equals `rgb` is transparent.
    std::shared_ptr<Image> WithColorKey(uint32_t rgb) const;

    // Encodes as PNG; false with `error` set when the file cannot be written.
    bool SavePng(const std::string& path, std::string* error = nullptr) const;
    std::vector<uint8_t> EncodePng() const;

    _cairo_surface* Surface() const { return m_surface; }

private:
    Image(_cairo_surface* surface, int width, int height);
    friend std::shared_ptr<Image> DecodeImage(const uint8_t*, size_t, std::string*);

    _cairo_surface* m_surface = nullptr;
    int m_width = 0;
    int m_height = 0;
};

// PNG or uncompressed BMP (24 or 32 bits per pixel, the scroll bar bitmap of the skin).
std::shared_ptr<Image> DecodeImage(const uint8_t* data, size_t size, std::string* error = nullptr);

}  // namespace ui
