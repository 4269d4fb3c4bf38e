#pragma once
// What a painter was asked to draw, operation by operation. The headless host keeps one per
// frame so tests (and the unattended mode's diagnostics) can check which image a button drew
// for its state, where text went, and what was skipped, without comparing pixels.

#include <string>
#include <vector>

#include "ui/Types.h"

namespace ui {

struct DrawOp {
    enum class Kind { Fill, Stroke, Image, Text };
    Kind kind = Kind::Fill;
    std::string control;  // name of the control being painted ("" when it has none)
    Rect dest;            // device rectangle drawn into (for text: the layout's box)
    Rect clip;            // the clip in force, already intersected with dest
    Rect source;          // images: the part of the picture drawn
    std::string image;    // images: the file or cache name
    std::string text;     // text: the plain text after inline tags
    Color color;          // fills, strokes and text
};

class DrawRecorder {
public:
    void Add(DrawOp op) { m_ops.push_back(std::move(op)); }
    void Clear() { m_ops.clear(); }
    const std::vector<DrawOp>& Ops() const { return m_ops; }

private:
    std::vector<DrawOp> m_ops;
};

}  // namespace ui
