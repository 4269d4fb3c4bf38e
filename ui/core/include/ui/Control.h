#pragma once
// The base of every element of a window's tree: name, text, visibility, enabled state, fixed
// size or share of its parent, margins, background colour and image, border, tooltip.
//
// Common markup attributes: name, text, tooltip, visible, enabled, width, height, minwidth,
// maxwidth, minheight, maxheight, padding (outer margin "l,t,r,b"), pos ("l,t,r,b" relative to
// the parent's top-left, taking the control out of the flow; float="false" keeps it in the flow
// and uses only the size), bkcolor, bkimage, bordercolor, bordersize, mouse ("false": clicks go
// through), userdata.
//
// Controls belong to the paint manager's tree and are used on the UI thread only. A control
// that is destroyed leaves the manager's hot, pushed and focus slots and its timers.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ui/ImageRef.h"
#include "ui/Messages.h"
#include "ui/Types.h"

namespace ui {

class PaintManager;
class Painter;
class Container;

struct UiEvent {
    enum class Type {
        MouseEnter,
        MouseLeave,
        MouseMove,
        ButtonDown,
        ButtonUp,
        Wheel,
        KeyDown,
        Char,
        SetFocus,
        KillFocus
    };
    Type type = Type::MouseMove;
    Point point;
    WParam key = 0;    // KeyDown: a virtual key code
    int wheel = 0;     // Wheel: +1 per notch away from the user (scroll up)
    std::string text;  // Char: UTF-8 of the typed character
};

class Control {
public:
    static constexpr const char* kClassName = "Control";
    // Largest width or height accepted from markup; larger values are logged and clamped.
    static constexpr int kMaxExtent = 16384;

    Control() = default;
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    virtual std::string_view GetClass() const { return kClassName; }
    // Applies one markup attribute; false when the control does not know the name. A value
    // that does not parse is logged here and leaves the property as it was.
    virtual bool SetAttribute(std::string_view name, std::string_view value);

    const std::string& GetName() const { return m_name; }
    void SetName(std::string name) { m_name = std::move(name); }
    const std::string& GetText() const { return m_text; }
    virtual void SetText(std::string text);
    const std::string& GetToolTip() const { return m_tooltip; }
    void SetToolTip(std::string tooltip) { m_tooltip = std::move(tooltip); }
    const std::string& GetUserData() const { return m_userData; }

    bool IsVisible() const { return m_visible; }
    virtual void SetVisible(bool visible);
    bool IsEnabled() const { return m_enabled; }
    virtual void SetEnabled(bool enabled);
    // Visible itself, every parent visible, and on the current page of every tab layout above.
    bool IsShown() const;
    bool IsFloat() const { return m_float; }

    // Rectangle in window coordinates from the last layout pass.
    const Rect& GetPos() const { return m_rect; }
    virtual void SetPos(const Rect& rect);
    int GetFixedWidth() const { return m_width; }
    int GetFixedHeight() const { return m_height; }
    void SetFixedWidth(int width);
    void SetFixedHeight(int height);
    int GetMinWidth() const { return m_minWidth; }
    int GetMaxWidth() const { return m_maxWidth; }
    int GetMinHeight() const { return m_minHeight; }
    int GetMaxHeight() const { return m_maxHeight; }
    const Rect& GetPadding() const { return m_padding; }
    void SetPadding(const Rect& padding);
    const Rect& GetFloatPos() const { return m_floatPos; }
    // Wanted size: the fixed width and height, 0 where the parent decides.
    virtual Size EstimateSize(Size available) const;

    Color GetBkColor() const { return m_bkColor; }
    void SetBkColor(Color color);
    const ImageRef& GetBkImageRef() const { return m_bkImage; }
    const std::string& GetBkImage() const { return m_bkImage.file; }
    // Takes the image attribute syntax; an empty text removes the image.
    void SetBkImage(std::string_view image);

    Control* GetParent() const { return m_parent; }
    PaintManager* GetManager() const { return m_manager; }
    virtual void SetManager(PaintManager* manager, Control* parent);
    // Takes a child built from markup; false when this control holds no children (the child
    // is then destroyed by the caller's unique_ptr).
    virtual bool AddChild(std::unique_ptr<Control>) { return false; }
    virtual size_t ChildCount() const { return 0; }
    virtual Control* ChildAt(size_t) const { return nullptr; }

    // The innermost shown control under `point` that takes the mouse, or null.
    virtual Control* FindControlAt(Point point);
    // Whether this control takes the mouse at `point` (inside its rectangle).
    virtual bool WantsMouse(Point point) const;
    virtual bool IsFocusable() const { return false; }
    // Whether Tab stops here (the focusable controls a keyboard user operates).
    virtual bool IsTabStop() const { return IsFocusable(); }
    // Height the content needs at `width` when the parent lets it decide (a scrolling layout);
    // 0 when the control has no such size.
    virtual int MeasureHeight(int /*width*/) { return 0; }
    // The tooltip for the mouse at `point` (a list shows its item's).
    virtual std::string ToolTipAt(Point) const { return m_tooltip; }
    bool HasFocus() const;

    virtual void Paint(Painter& painter, const Rect& dirty);
    virtual void DoEvent(UiEvent& event);

    void Invalidate();
    // The layout must run again (this control's size or visibility changed).
    void NeedUpdate();

protected:
    virtual void PaintBkColor(Painter& painter);
    virtual void PaintBkImage(Painter& painter);
    virtual void PaintStatusImage(Painter&) {}
    virtual void PaintText(Painter&) {}
    virtual void PaintBorder(Painter& painter);
    // Draws an image of the cache into `box` (the control's rectangle when null); false when
    // the picture is not available.
    bool DrawImage(Painter& painter, const ImageRef& ref, const Rect* box = nullptr);
    // Parses an image attribute into `out`, logging a bad value; true when it was applied.
    bool ParseImageAttribute(std::string_view name, std::string_view value, ImageRef& out);
    // Parses numbers and colours with the same logging.
    bool ParseColorAttribute(std::string_view name, std::string_view value, Color& out);
    bool ParseRectAttribute(std::string_view name, std::string_view value, Rect& out);
    bool ParseBoolAttribute(std::string_view name, std::string_view value, bool& out);
    bool ParseExtentAttribute(std::string_view name, std::string_view value, int& out);
    void LogBadValue(std::string_view name, std::string_view value,
                     const std::string& why = {}) const;
    // -1: the class decides whether it takes the mouse; 0 or 1 from the "mouse" attribute.
    int MouseAttribute() const { return m_mouse; }

    Rect m_rect;

private:
    std::string m_name;
    std::string m_text;
    std::string m_tooltip;
    std::string m_userData;
    bool m_visible = true;
    bool m_enabled = true;
    bool m_float = false;
    bool m_floatExplicit = false;
    int m_mouse = -1;
    int m_width = 0;
    int m_height = 0;
    int m_minWidth = 0;
    int m_maxWidth = kMaxExtent;
    int m_minHeight = 0;
    int m_maxHeight = kMaxExtent;
    Rect m_padding;
    Rect m_floatPos;
    Color m_bkColor;
    ImageRef m_bkImage;
    Color m_borderColor;
    int m_borderSize = 0;
    PaintManager* m_manager = nullptr;
    Control* m_parent = nullptr;

    friend class Container;
};

// Walks of a tree in document order (the parent before its children), bounded in depth as the
// markup loader bounds it. Finds the first control with that name, or null.
Control* FindControlIn(Control* root, std::string_view name);
// Calls `visit` for every control; a false return skips that control's children.
void ForEachControl(Control* root, const std::function<bool(Control&)>& visit);

}  // namespace ui
