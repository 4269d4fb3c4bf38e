#include "ui/Image.h"

#include <cairo.h>

#include <cstring>
#include <vector>

namespace ui {
namespace {

void setError(std::string* error, const std::string& message) {
    if (error)
        *error = message;
}

bool sizeAcceptable(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= Image::kMaxSide && height <= Image::kMaxSide &&
           width * height <= Image::kMaxPixels;
}

uint32_t readBe32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint32_t readLe32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t readLe16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

struct PngReader {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

cairo_status_t readPngChunk(void* closure, unsigned char* out, unsigned int length) {
    auto* r = static_cast<PngReader*>(closure);
    if (length > r->size - r->pos)
        return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, r->data + r->pos, length);
    r->pos += length;
    return CAIRO_STATUS_SUCCESS;
}

// Cairo hands back RGB24 for opaque files; everything downstream expects ARGB32.
cairo_surface_t* toArgb(cairo_surface_t* surface) {
    if (cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32)
        return surface;
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    cairo_surface_t* argb = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(argb);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return argb;
}

cairo_surface_t* decodePng(const uint8_t* data, size_t size, std::string* error) {
    // Signature, then the IHDR chunk whose size fields are checked before libpng allocates.
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 33 || std::memcmp(data, kSignature, 8) != 0 ||
        std::memcmp(data + 12, "IHDR", 4) != 0) {
        setError(error, "not a PNG file or its header is cut");
        return nullptr;
    }
    const uint32_t width = readBe32(data + 16);
    const uint32_t height = readBe32(data + 20);
    if (!sizeAcceptable(width, height)) {
        setError(error, "PNG size " + std::to_string(width) + " x " + std::to_string(height) +
                            " is outside the accepted range");
        return nullptr;
    }
    PngReader reader{data, size, 0};
    cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(readPngChunk, &reader);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        setError(error, std::string("corrupt PNG: ") +
                            cairo_status_to_string(cairo_surface_status(surface)));
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return toArgb(surface);
}

cairo_surface_t* decodeBmp(const uint8_t* data, size_t size, std::string* error) {
    if (size < 54 || data[0] != 'B' || data[1] != 'M') {
        setError(error, "not a BMP file or its header is cut");
        return nullptr;
    }
    const uint32_t pixelOffset = readLe32(data + 10);
    const uint32_t headerSize = readLe32(data + 14);
    const int32_t width = static_cast<int32_t>(readLe32(data + 18));
    const int32_t rawHeight = static_cast<int32_t>(readLe32(data + 22));
    const uint16_t bits = readLe16(data + 28);
    const uint32_t compression = readLe32(data + 30);
    uint32_t paletteCount = readLe32(data + 46);
    const bool topDown = rawHeight < 0;
    const int64_t height = topDown ? -int64_t(rawHeight) : rawHeight;
    if (headerSize < 40 || headerSize > size - 14) {
        setError(error, "BMP header size " + std::to_string(headerSize) + " is not supported");
        return nullptr;
    }
    if (!sizeAcceptable(width, height)) {
        setError(error, "BMP size " + std::to_string(width) + " x " + std::to_string(height) +
                            " is outside the accepted range");
        return nullptr;
    }
    // Uncompressed only; 32-bit bit-field files use the usual BGRA masks.
    const bool plain = compression == 0 || (compression == 3 && bits == 32);
    if (!plain || (bits != 8 && bits != 24 && bits != 32)) {
        setError(error, "BMP with " + std::to_string(bits) + " bits per pixel and compression " +
                            std::to_string(compression) + " is not supported");
        return nullptr;
    }
    const uint64_t rowBytes = ((uint64_t(width) * bits + 31) / 32) * 4;
    if (pixelOffset > size || rowBytes * uint64_t(height) > size - pixelOffset) {
        setError(error, "BMP pixel data is cut");
        return nullptr;
    }
    const uint8_t* palette = data + 14 + headerSize;
    if (bits == 8) {
        if (paletteCount == 0 || paletteCount > 256)
            paletteCount = 256;
        if (uint64_t(14) + headerSize + uint64_t(paletteCount) * 4 > pixelOffset) {
            setError(error, "BMP palette is cut");
            return nullptr;
        }
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, int(height));
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        setError(error, "out of memory for the BMP pixels");
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
    uint8_t* out = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    bool anyAlpha = false;
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* row = data + pixelOffset + rowBytes * uint64_t(topDown ? y : height - 1 - y);
        auto* dst = reinterpret_cast<uint32_t*>(out + y * stride);
        for (int x = 0; x < width; ++x) {
            uint32_t b, g, r, a = 255;
            if (bits == 8) {
                const uint32_t index = row[x] < paletteCount ? row[x] : 0;
                const uint8_t* entry = palette + index * 4;
                b = entry[0], g = entry[1], r = entry[2];
            } else {
                const uint8_t* px = row + x * (bits / 8);
                b = px[0], g = px[1], r = px[2];
                if (bits == 32) {
                    a = px[3];
                    anyAlpha = anyAlpha || a != 0;
                }
            }
            dst[x] = (a << 24) | (((r * a + 127) / 255) << 16) | (((g * a + 127) / 255) << 8) |
                     ((b * a + 127) / 255);
        }
    }
    // Most 32-bit bitmaps leave the fourth byte zero: they mean opaque, not invisible.
    if (bits == 32 && !anyAlpha) {
        for (int64_t y = 0; y < height; ++y) {
            const uint8_t* row =
                data + pixelOffset + rowBytes * uint64_t(topDown ? y : height - 1 - y);
            auto* dst = reinterpret_cast<uint32_t*>(out + y * stride);
            for (int x = 0; x < width; ++x) {
                const uint8_t* px = row + x * 4;
                dst[x] = 0xFF000000u | (uint32_t(px[2]) << 16) | (uint32_t(px[1]) << 8) | px[0];
            }
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

}  // namespace

Image::Image(cairo_surface_t* surface, int width, int height)
    : m_surface(surface), m_width(width), m_height(height) {}

Image::~Image() {
    if (m_surface)
        cairo_surface_destroy(m_surface);
}

std::shared_ptr<Image> Image::Create(int width, int height) {
    if (!sizeAcceptable(width, height))
        return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return std::shared_ptr<Image>(new Image(surface, width, height));
}

int Image::Stride() const {
    return cairo_image_surface_get_stride(m_surface);
}

uint32_t* Image::Pixels() {
    cairo_surface_flush(m_surface);
    return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(m_surface));
}

const uint32_t* Image::Pixels() const {
    cairo_surface_flush(m_surface);
    return reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(m_surface));
}

void Image::MarkDirty() {
    cairo_surface_mark_dirty(m_surface);
}

uint32_t Image::PixelAt(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return 0;
    const auto* row = reinterpret_cast<const uint8_t*>(Pixels()) + size_t(y) * size_t(Stride());
    const uint32_t p = reinterpret_cast<const uint32_t*>(row)[x];
    const uint32_t a = p >> 24;
    if (a == 0)
        return 0;
    auto channel = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
    return (a << 24) | (channel((p >> 16) & 0xFF) << 16) | (channel((p >> 8) & 0xFF) << 8) |
           channel(p & 0xFF);
}

std::shared_ptr<Image> Image::WithColorKey(uint32_t rgb) const {
    auto copy = Create(m_width, m_height);
    if (!copy)
        return nullptr;
    const int stride = Stride();
    const auto* src = reinterpret_cast<const uint8_t*>(Pixels());
    auto* dst = reinterpret_cast<uint8_t*>(copy->Pixels());
    for (int y = 0; y < m_height; ++y) {
        const auto* s = reinterpret_cast<const uint32_t*>(src + size_t(y) * stride);
        auto* d = reinterpret_cast<uint32_t*>(dst + size_t(y) * copy->Stride());
        for (int x = 0; x < m_width; ++x) {
            const bool keyed = (s[x] >> 24) == 0xFF && (s[x] & 0xFFFFFF) == (rgb & 0xFFFFFF);
            d[x] = keyed ? 0 : s[x];
        }
    }
    copy->MarkDirty();
    return copy;
}

bool Image::SavePng(const std::string& path, std::string* error) const {
    const cairo_status_t status = cairo_surface_write_to_png(m_surface, path.c_str());
    if (status != CAIRO_STATUS_SUCCESS) {
        setError(error, "cannot write " + path + ": " + cairo_status_to_string(status));
        return false;
    }
    return true;
}

std::vector<uint8_t> Image::EncodePng() const {
    std::vector<uint8_t> out;
    cairo_surface_write_to_png_stream(
        m_surface,
        [](void* closure, const unsigned char* data, unsigned int length) {
            auto* bytes = static_cast<std::vector<uint8_t>*>(closure);
            bytes->insert(bytes->end(), data, data + length);
            return CAIRO_STATUS_SUCCESS;
        },
        &out);
    return out;
}

std::shared_ptr<Image> DecodeImage(const uint8_t* data, size_t size, std::string* error) {
    if (!data || size == 0) {
        setError(error, "image file is empty");
        return nullptr;
    }
    cairo_surface_t* surface = nullptr;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M')
        surface = decodeBmp(data, size, error);
    else
        surface = decodePng(data, size, error);
    if (!surface)
        return nullptr;
    return std::shared_ptr<Image>(new Image(surface, cairo_image_surface_get_width(surface),
                                            cairo_image_surface_get_height(surface)));
}

}  // namespace ui
