#pragma once
// Draws shapes, images and text onto a Cairo target: an Image (headless frames, pictures a
// window renders itself) or a host's window context. Every operation can also be written to a
// DrawRecorder, tagged with the control being painted.
//
// One painter belongs to one thread for its lifetime (the UI thread while a frame is painted).

#include <string>
#include <vector>

#include "ui/DrawRecord.h"
#include "ui/Image.h"
#include "ui/ImageRef.h"
#include "ui/Types.h"

struct _cairo;

namespace ui {

class Painter {
public:
    // Paints into `target`, which must outlive the painter.
    explicit Painter(Image& target);
    // Paints through a context the caller owns (a GTK draw handler's); device size `size`.
    Painter(_cairo* context, Size size);
    ~Painter();
    Painter(const Painter&) = delete;
    Painter& operator=(const Painter&) = delete;

    void SetRecorder(DrawRecorder* recorder) { m_recorder = recorder; }
    DrawRecorder* Recorder() const { return m_recorder; }
    // Name recorded with the operations that follow.
    void SetControl(std::string name) { m_control = std::move(name); }

    // Clips are nested; each one narrows the previous. Clip() is the rectangle in force.
    void PushClip(const Rect& rect);
    void PopClip();
    const Rect& Clip() const { return m_clips.back(); }
    // Restricts everything that follows to a rectangle with round corners (window shape).
    void ClipRoundRect(const Rect& rect, int rx, int ry);

    // Replaces every pixel inside the clip, alpha included (a transparent window's clear).
    void Clear(Color color);
    void FillRect(const Rect& rect, Color color);
    void StrokeRect(const Rect& rect, Color color, int width);
    // Draws `ref` of `image` into `box` (the control's rectangle): source part, unscaled
    // corners with stretched edges and centre, optional target part, opacity.
    void DrawImage(const Image& image, const ImageRef& ref, const Rect& box);
    // Records a text operation; TextLayout::Draw calls this.
    void RecordText(const Rect& box, const std::string& text, Color color);

    _cairo* Cairo() const { return m_cr; }
    Size DeviceSize() const { return m_size; }

private:
    void drawPiece(const Image& image, const Rect& src, const Rect& dst, double alpha);
    void record(DrawOp::Kind kind, const Rect& dest, Color color);

    _cairo* m_cr = nullptr;
    bool m_ownsContext = false;
    Size m_size;
    std::vector<Rect> m_clips;
    DrawRecorder* m_recorder = nullptr;
    std::string m_control;
};

}  // namespace ui
