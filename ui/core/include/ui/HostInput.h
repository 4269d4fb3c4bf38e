#pragma once
// What only a host does to a window's paint manager: feed it input in client coordinates,
// drive its timers and collect the area it has to repaint. Controls and windows work through
// PaintManager's own operations and do not include this header.
//
//   ui::HostInputOf(window.GetPaintManager()).OnMouseDown(point);

#include <chrono>
#include <optional>
#include <string>

#include "ui/Messages.h"
#include "ui/Types.h"

namespace ui {

class Control;
class PaintManager;

class HostInput {
public:
    using Clock = std::chrono::steady_clock;

    virtual void OnMouseMove(Point point) = 0;
    virtual void OnMouseDown(Point point) = 0;
    virtual void OnMouseUp(Point point) = 0;
    virtual void OnMouseLeave() = 0;
    virtual void OnMouseWheel(Point point, int notches) = 0;
    // True when a control used the key. Tab moves the focus (back with `shift`) and shows the
    // focus mark until the next mouse press.
    virtual bool OnKeyDown(WParam key, bool shift) = 0;
    virtual void OnChar(const std::string& text) = 0;

    virtual std::optional<Clock::time_point> NextTimerDue() const = 0;
    virtual void FireDueTimers(Clock::time_point now) = 0;
    // Delivers one tick now (the headless host's injected ticks); false when not set.
    virtual bool FireTimer(Control* control, int id) = 0;
    // The area to repaint since the last call (empty when nothing changed).
    virtual Rect TakeDirtyRect() = 0;

protected:
    virtual ~HostInput() = default;
};

HostInput& HostInputOf(PaintManager& pm);

}  // namespace ui
