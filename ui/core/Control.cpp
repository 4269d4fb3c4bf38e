#include "ui/Control.h"

#include <cstdlib>

#include "Logging.h"
#include "ui/Attributes.h"
#include "ui/Container.h"
#include "ui/PaintManager.h"
#include "ui/Painter.h"

namespace ui {

Control::~Control() {
    if (m_manager)
        m_manager->ReapControl(this);
}

void Control::LogBadValue(std::string_view name, std::string_view value,
                          const std::string& why) const {
    const std::string where =
        std::string(GetClass()) + (m_name.empty() ? "" : " \"" + m_name + "\"");
    LogOnce("bad-value:" + std::string(GetClass()) + "/" + ToLower(name) + "=" + std::string(value),
            "Markup: " + where + " ignores " + std::string(name) + "=\"" + std::string(value) +
                "\"" + (why.empty() ? "" : ": " + why));
}

bool Control::ParseImageAttribute(std::string_view name, std::string_view value, ImageRef& out) {
    if (Trim(value).empty()) {
        out = ImageRef();
        return true;
    }
    std::string error;
    auto ref = ParseImageRef(value, &error);
    if (!ref) {
        LogBadValue(name, value, error);
        return false;
    }
    if (!error.empty())
        LogBadValue(name, value, error);
    out = *ref;
    return true;
}

bool Control::ParseColorAttribute(std::string_view name, std::string_view value, Color& out) {
    auto c = ParseColor(value);
    if (!c) {
        LogBadValue(name, value, "not a colour (#AARRGGBB)");
        return false;
    }
    out = *c;
    return true;
}

bool Control::ParseRectAttribute(std::string_view name, std::string_view value, Rect& out) {
    auto r = ParseRect(value);
    if (!r) {
        LogBadValue(name, value, "not four numbers l,t,r,b");
        return false;
    }
    out = *r;
    return true;
}

bool Control::ParseBoolAttribute(std::string_view name, std::string_view value, bool& out) {
    auto b = ParseBool(value);
    if (!b) {
        LogBadValue(name, value, "not true or false");
        return false;
    }
    out = *b;
    return true;
}

bool Control::ParseExtentAttribute(std::string_view name, std::string_view value, int& out) {
    auto v = ParseInt(value);
    if (!v) {
        LogBadValue(name, value, "not a number");
        return false;
    }
    if (*v < 0 || *v > kMaxExtent) {
        LogBadValue(name, value, "outside 0.." + std::to_string(kMaxExtent) + ", clamped");
        out = std::clamp(*v, 0, kMaxExtent);
        return true;
    }
    out = *v;
    return true;
}

bool Control::SetAttribute(std::string_view name, std::string_view value) {
    const std::string n = ToLower(name);
    if (n == "name") {
        m_name = std::string(value);
    } else if (n == "text") {
        SetText(std::string(value));
    } else if (n == "tooltip") {
        m_tooltip = std::string(value);
    } else if (n == "userdata") {
        m_userData = std::string(value);
    } else if (n == "visible") {
        bool b = m_visible;
        if (ParseBoolAttribute(name, value, b))
            SetVisible(b);
    } else if (n == "enabled") {
        bool b = m_enabled;
        if (ParseBoolAttribute(name, value, b))
            SetEnabled(b);
    } else if (n == "mouse") {
        bool b = true;
        if (ParseBoolAttribute(name, value, b))
            m_mouse = b ? 1 : 0;
    } else if (n == "width") {
        ParseExtentAttribute(name, value, m_width);
        NeedUpdate();
    } else if (n == "height") {
        ParseExtentAttribute(name, value, m_height);
        NeedUpdate();
    } else if (n == "minwidth") {
        ParseExtentAttribute(name, value, m_minWidth);
    } else if (n == "maxwidth") {
        ParseExtentAttribute(name, value, m_maxWidth);
    } else if (n == "minheight") {
        ParseExtentAttribute(name, value, m_minHeight);
    } else if (n == "maxheight") {
        ParseExtentAttribute(name, value, m_maxHeight);
    } else if (n == "padding") {
        Rect r;
        if (ParseRectAttribute(name, value, r))
            SetPadding(r);
    } else if (n == "pos") {
        Rect r;
        if (!ParseRectAttribute(name, value, r))
            return true;
        if (std::abs(r.left) > kMaxExtent || std::abs(r.top) > kMaxExtent ||
            std::abs(r.right) > kMaxExtent || std::abs(r.bottom) > kMaxExtent) {
            LogBadValue(name, value, "coordinates beyond " + std::to_string(kMaxExtent));
            return true;
        }
        m_floatPos = r;
        if (!m_floatExplicit)
            m_float = true;
        if (r.Width() > 0)
            m_width = r.Width();
        if (r.Height() > 0)
            m_height = r.Height();
        NeedUpdate();
    } else if (n == "float") {
        if (ParseBoolAttribute(name, value, m_float))
            m_floatExplicit = true;
        NeedUpdate();
    } else if (n == "bkcolor") {
        ParseColorAttribute(name, value, m_bkColor);
    } else if (n == "bkimage") {
        ParseImageAttribute(name, value, m_bkImage);
    } else if (n == "bordercolor") {
        ParseColorAttribute(name, value, m_borderColor);
    } else if (n == "bordersize") {
        ParseExtentAttribute(name, value, m_borderSize);
    } else {
        return false;
    }
    Invalidate();
    return true;
}

void Control::SetText(std::string text) {
    if (text == m_text)
        return;
    m_text = std::move(text);
    Invalidate();
}

void Control::SetVisible(bool visible) {
    if (visible == m_visible)
        return;
    m_visible = visible;
    // Hiding drops the control from the flow: its parent lays out again.
    NeedUpdate();
    if (m_manager)
        m_manager->Invalidate(m_rect);
    if (!visible && m_manager)
        m_manager->ControlHidden(this);
}

void Control::SetEnabled(bool enabled) {
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    Invalidate();
}

bool Control::IsShown() const {
    if (!m_visible)
        return false;
    for (const Control* c = this; c->m_parent; c = c->m_parent) {
        const Control* parent = c->m_parent;
        if (!parent->m_visible)
            return false;
        if (auto* container = dynamic_cast<const Container*>(parent);
            container && !container->IsChildShown(c))
            return false;
    }
    return true;
}

void Control::SetPos(const Rect& rect) {
    if (rect == m_rect)
        return;
    if (m_manager)
        m_manager->Invalidate(m_rect);
    m_rect = rect;
    Invalidate();
}

void Control::SetFixedWidth(int width) {
    width = std::clamp(width, 0, kMaxExtent);
    if (width == m_width)
        return;
    m_width = width;
    NeedUpdate();
}

void Control::SetFixedHeight(int height) {
    height = std::clamp(height, 0, kMaxExtent);
    if (height == m_height)
        return;
    m_height = height;
    NeedUpdate();
}

void Control::SetPadding(const Rect& padding) {
    m_padding = padding;
    NeedUpdate();
}

Size Control::EstimateSize(Size) const {
    return {m_width, m_height};
}

void Control::SetBkColor(Color color) {
    m_bkColor = color;
    Invalidate();
}

void Control::SetBkImage(std::string_view image) {
    ParseImageAttribute("bkimage", image, m_bkImage);
    Invalidate();
}

void Control::SetManager(PaintManager* manager, Control* parent) {
    m_manager = manager;
    m_parent = parent;
}

Control* Control::FindControlAt(Point point) {
    if (!m_visible || !m_rect.Contains(point))
        return nullptr;
    return WantsMouse(point) ? this : nullptr;
}

bool Control::WantsMouse(Point) const {
    if (m_mouse >= 0)
        return m_mouse == 1;
    return !m_tooltip.empty();
}

bool Control::HasFocus() const {
    return m_manager && m_manager->GetFocus() == this;
}

void Control::Paint(Painter& painter, const Rect& dirty) {
    if (m_rect.Intersect(dirty).IsEmpty())
        return;
    painter.SetControl(m_name);
    PaintBkColor(painter);
    PaintBkImage(painter);
    PaintStatusImage(painter);
    PaintText(painter);
    PaintBorder(painter);
}

void Control::PaintBkColor(Painter& painter) {
    painter.FillRect(m_rect, m_bkColor);
}

void Control::PaintBkImage(Painter& painter) {
    if (!m_bkImage.IsEmpty())
        DrawImage(painter, m_bkImage);
}

void Control::PaintBorder(Painter& painter) {
    if (m_borderSize > 0)
        painter.StrokeRect(m_rect, m_borderColor, m_borderSize);
}

bool Control::DrawImage(Painter& painter, const ImageRef& ref, const Rect* box) {
    if (ref.IsEmpty() || !m_manager)
        return false;
    auto image = m_manager->Images().Get(
        ref.file, ref.hasMask ? std::optional<uint32_t>(ref.mask) : std::nullopt);
    if (!image)
        return false;
    painter.DrawImage(*image, ref, box ? *box : m_rect);
    return true;
}

void Control::DoEvent(UiEvent&) {}

void Control::Invalidate() {
    if (m_manager)
        m_manager->Invalidate(m_rect);
}

void Control::NeedUpdate() {
    if (m_manager)
        m_manager->NeedLayout();
}

namespace {

// Deeper than any tree the loader builds; a hand-made tree stops here instead of the stack.
constexpr int kMaxWalkDepth = 256;

void walkFrom(Control* c, const std::function<bool(Control&)>& visit, int depth) {
    if (!c || depth > kMaxWalkDepth || !visit(*c))
        return;
    for (size_t i = 0; i < c->ChildCount(); ++i)
        walkFrom(c->ChildAt(i), visit, depth + 1);
}

}  // namespace

void ForEachControl(Control* root, const std::function<bool(Control&)>& visit) {
    walkFrom(root, visit, 0);
}

Control* FindControlIn(Control* root, std::string_view name) {
    Control* found = nullptr;
    if (name.empty())
        return nullptr;
    walkFrom(
        root,
        [&](Control& c) {
            if (!found && c.GetName() == name)
                found = &c;
            return !found;
        },
        0);
    return found;
}

}  // namespace ui
