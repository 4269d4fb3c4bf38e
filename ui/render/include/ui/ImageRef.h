#pragma once
// How one image attribute of the markup draws: which file, which part of it, which borders stay
// unscaled, where in the control it goes, and which colour is keyed out. The markup loader
// parses the attribute text into this; the painter draws it.

#include <cstdint>
#include <string>

#include "ui/Types.h"

namespace ui {

struct ImageRef {
    std::string file;   // path in the skin package, or the name of an image a window added
    Rect source;        // part of the picture; empty = all of it
    Rect corner;        // borders (left, top, right, bottom) that are not stretched
    Rect dest;          // target inside the control, relative to its top-left; empty = all
    uint32_t mask = 0;  // 0xAARRGGBB whose pixels become transparent; 0 = none
    bool hasMask = false;
    uint8_t fade = 255;  // overall opacity
    bool hole = false;   // leave the centre of a nine-slice image undrawn

    bool IsEmpty() const { return file.empty(); }
    bool operator==(const ImageRef&) const = default;
};

}  // namespace ui
