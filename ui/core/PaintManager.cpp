#include "ui/PaintManager.h"

#include <algorithm>

#include "Logging.h"
#include "ui/Attributes.h"
#include "ui/Combo.h"
#include "ui/Container.h"
#include "ui/Edit.h"
#include "ui/Option.h"
#include "ui/Painter.h"
#include "ui/RichEdit.h"
#include "ui/ScrollBar.h"

namespace ui {
namespace {

bool isInside(const Control* control, const Control* ancestor) {
    for (const Control* c = control; c; c = c->GetParent())
        if (c == ancestor)
            return true;
    return false;
}

template <typename F>
void walk(Control* c, F&& visit) {
    if (!c)
        return;
    if (!visit(c))
        return;
    for (size_t i = 0; i < c->ChildCount(); ++i)
        walk(c->ChildAt(i), visit);
}

}  // namespace

HostInput& HostInputOf(PaintManager& pm) {
    return pm;
}

PaintManager::PaintManager() = default;

PaintManager::~PaintManager() {
    // The tree goes while the manager is whole: controls leave its slots as they are destroyed.
    m_root.reset();
}

void PaintManager::SetSkin(std::shared_ptr<SkinPackage> skin, std::string folder) {
    m_skin = std::move(skin);
    m_folder = std::move(folder);
    m_images.SetSkin(m_skin, m_folder);
}

void PaintManager::Attach(MarkupDocument doc) {
    m_root.reset();
    m_window = doc.window;
    m_fonts = std::move(doc.fonts);
    m_defaultFont = doc.defaultFont;
    m_defaults = std::move(doc.defaults);
    m_root = std::move(doc.root);
    if (m_root)
        m_root->SetManager(this, nullptr);
    NeedLayout();
    Invalidate();
}

void PaintManager::AddNotifier(NotifyListener* listener) {
    if (listener &&
        std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void PaintManager::RemoveNotifier(NotifyListener* listener) {
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener),
                      m_listeners.end());
}

FontDesc PaintManager::GetFont(int index) const {
    if (index >= 0 && size_t(index) < m_fonts.size())
        return m_fonts[size_t(index)];
    if (index >= 0)
        LogOnce("font-index:" + std::to_string(index),
                "Markup refers to font " + std::to_string(index) + " but the window lists " +
                    std::to_string(m_fonts.size()) + "; the default font is used");
    if (m_defaultFont >= 0 && size_t(m_defaultFont) < m_fonts.size())
        return m_fonts[size_t(m_defaultFont)];
    return FontDesc();
}

const std::string* PaintManager::GetDefaultAttributes(std::string_view className) const {
    auto it = m_defaults.find(ToLower(className));
    return it == m_defaults.end() ? nullptr : &it->second;
}

void PaintManager::ApplyDefaultAttributes(Control& control, std::string_view className) {
    if (const std::string* list = GetDefaultAttributes(className))
        MarkupLoader::ApplyAttributeList(control, *list);
}

void PaintManager::ApplyAttributeList(Control& control, std::string_view list) {
    MarkupLoader::ApplyAttributeList(control, list);
}

Control* PaintManager::FindControl(std::string_view name) const {
    return FindControlIn(m_root.get(), name);
}

void PaintManager::reportLookup(std::string_view name, const Control* found,
                                const char* wanted) const {
    if (!found)
        LOG(INFO) << " Control not found: \"" << name << "\" (wanted a " << wanted << ")";
    else
        LOG(INFO) << " Control \"" << name << "\" is a " << found->GetClass() << ", not a "
                  << wanted;
}

Control* PaintManager::FindControlAt(Point point) const {
    if (m_popup && m_popup->GetPos().Contains(point))
        return m_popup;
    if (!m_root || !m_root->IsVisible())
        return nullptr;
    return m_root->FindControlAt(point);
}

std::vector<Option*> PaintManager::GroupMembers(std::string_view group) const {
    std::vector<Option*> members;
    walk(m_root.get(), [&](Control* c) {
        if (auto* option = dynamic_cast<Option*>(c); option && option->GetGroup() == group)
            members.push_back(option);
        return true;
    });
    return members;
}

void PaintManager::SetClientSize(Size size) {
    if (size == m_size)
        return;
    m_size = size;
    ClosePopup();
    NeedLayout();
    Invalidate();
}

void PaintManager::NeedLayout() {
    if (m_needLayout)
        return;
    m_needLayout = true;
    Invalidate();
}

void PaintManager::Layout() {
    if (!m_needLayout)
        return;
    m_needLayout = false;
    if (!m_root)
        return;
    const Rect client = Rect::FromSize(0, 0, m_size.cx, m_size.cy);
    Rect r = client.Deflate(m_root->GetPadding());
    const Size want = m_root->EstimateSize({r.Width(), r.Height()});
    if (want.cx > 0)
        r.right = r.left + want.cx;
    if (want.cy > 0)
        r.bottom = r.top + want.cy;
    // Containers lay their children out even when their own rectangle stays the same.
    m_root->SetPos(r);
    // Setting positions can ask for another pass (a rich edit's bar); that pass is not needed.
    m_needLayout = false;
}

void PaintManager::Invalidate() {
    Invalidate(Rect::FromSize(0, 0, m_size.cx, m_size.cy));
}

void PaintManager::Invalidate(const Rect& rect) {
    const Rect r = rect.Intersect(Rect::FromSize(0, 0, m_size.cx, m_size.cy));
    if (r.IsEmpty())
        return;
    m_dirty = m_dirty.Union(r);
    if (m_host)
        m_host->Invalidate(r);
}

Rect PaintManager::TakeDirtyRect() {
    Rect r = m_dirty;
    m_dirty = {};
    return r;
}

void PaintManager::Paint(Painter& painter, const Rect& dirty) {
    Layout();
    const Rect area = dirty.Intersect(Rect::FromSize(0, 0, m_size.cx, m_size.cy));
    if (area.IsEmpty())
        return;
    painter.PushClip(area);
    const Rect client = Rect::FromSize(0, 0, m_size.cx, m_size.cy);
    const bool rounded = m_window.roundCorner.cx > 0 && m_window.roundCorner.cy > 0;
    // Pixels the skin does not cover stay transparent where the window can show that.
    painter.SetControl({});
    painter.Clear(m_window.bkTrans || rounded ? Color() : Color(0xFFFFFFFF));
    if (rounded)
        painter.ClipRoundRect(client, m_window.roundCorner.cx, m_window.roundCorner.cy);
    if (m_root && m_root->IsVisible())
        m_root->Paint(painter, area);
    paintFocusMark(painter, area);
    if (m_popup)
        m_popup->Paint(painter, area);
    painter.PopClip();
}

Rect PaintManager::focusMarkRect() const {
    // Shown once the keyboard moved the focus, on what Tab reaches; an edit shows its caret.
    if (!m_focusCue || !m_focus || !m_focus->IsTabStop() || !m_focus->IsShown() ||
        dynamic_cast<Edit*>(m_focus))
        return {};
    return m_focus->GetPos();
}

void PaintManager::paintFocusMark(Painter& painter, const Rect& area) {
    const Rect r = focusMarkRect();
    if (r.Width() < 6 || r.Height() < 6 || r.Intersect(area).IsEmpty())
        return;
    // Only where the control itself shows: a panel scrolled past it hides the mark too.
    Rect clip = area;
    for (const Control* p = m_focus->GetParent(); p; p = p->GetParent())
        if (auto* box = dynamic_cast<const Container*>(p))
            clip = clip.Intersect(box->GetViewport());
    if (clip.Intersect(r).IsEmpty())
        return;
    painter.PushClip(clip);
    // Two tones so the mark shows on light and dark skins alike.
    painter.SetControl(m_focus->GetName() + kFocusMarkSuffix);
    painter.StrokeRect(r.Deflate({1, 1, 1, 1}), Color(0xFFFFFFFF), 1);
    painter.StrokeRect(r.Deflate({2, 2, 2, 2}), Color(0xFF1565C0), 2);
    painter.PopClip();
}

void PaintManager::setFocusCue(bool on) {
    if (on == m_focusCue)
        return;
    Invalidate(focusMarkRect());
    m_focusCue = on;
    Invalidate(focusMarkRect());
}

void PaintManager::send(Control* control, UiEvent::Type type, Point point, WParam key) {
    if (!control)
        return;
    UiEvent e;
    e.type = type;
    e.point = point;
    e.key = key;
    control->DoEvent(e);
}

void PaintManager::setHot(Control* control, Point point) {
    if (control == m_hot)
        return;
    Control* old = m_hot;
    m_hot = control;
    SetHandCursor(false);
    send(old, UiEvent::Type::MouseLeave, point);
    send(m_hot, UiEvent::Type::MouseEnter, point);
}

void PaintManager::updateToolTip(Point point) {
    std::string tip = m_hot ? m_hot->ToolTipAt(point) : std::string();
    if (tip == m_tooltip)
        return;
    m_tooltip = std::move(tip);
    if (m_host)
        m_host->SetToolTip(m_tooltip);
}

void PaintManager::OnMouseMove(Point point) {
    Layout();
    m_lastMouse = point;
    if (m_captured) {
        send(m_captured, UiEvent::Type::MouseMove, point);
        return;
    }
    setHot(FindControlAt(point), point);
    send(m_hot, UiEvent::Type::MouseMove, point);
    updateToolTip(point);
}

void PaintManager::OnMouseDown(Point point) {
    Layout();
    setFocusCue(false);
    if (m_popup && !m_popup->GetPos().Contains(point)) {
        // A click outside an open list only closes it, as a native drop-down does.
        ClosePopup();
        return;
    }
    Control* hit = FindControlAt(point);
    setHot(hit, point);
    if (!hit) {
        if (m_focus && dynamic_cast<Edit*>(m_focus))
            SetFocus(nullptr);
        if (IsInCaption(point) && m_host)
            m_host->BeginCaptionDrag(point);
        return;
    }
    if (hit->IsFocusable())
        SetFocus(hit);
    else if (m_focus && dynamic_cast<Edit*>(m_focus))
        SetFocus(nullptr);
    if (!hit->IsEnabled() && hit != m_popup)
        return;
    m_captured = hit;
    send(hit, UiEvent::Type::ButtonDown, point);
}

void PaintManager::OnMouseUp(Point point) {
    Control* target = m_captured;
    m_captured = nullptr;
    send(target, UiEvent::Type::ButtonUp, point);
    if (m_lastMouse == point)
        setHot(FindControlAt(point), point);
}

void PaintManager::OnMouseLeave() {
    if (m_captured)
        return;
    setHot(nullptr, m_lastMouse);
    updateToolTip(m_lastMouse);
    m_lastMouse = {-1, -1};
}

void PaintManager::OnMouseWheel(Point point, int notches) {
    Layout();
    UiEvent e;
    e.type = UiEvent::Type::Wheel;
    e.point = point;
    e.wheel = notches;
    // The innermost control that scrolls: the open list, a rich edit, a scroll bar, a combo or
    // a layout whose children overflow.
    for (Control* c = FindControlAt(point); c; c = c->GetParent()) {
        auto* container = dynamic_cast<Container*>(c);
        if (c == m_popup || dynamic_cast<ScrollBar*>(c) || dynamic_cast<RichEdit*>(c) ||
            dynamic_cast<Combo*>(c) || (container && container->IsScrollable())) {
            c->DoEvent(e);
            return;
        }
    }
}

bool PaintManager::OnKeyDown(WParam key, bool shift) {
    if (m_popup) {
        if (key == kVkEscape || key == kVkReturn) {
            ClosePopup();
            return true;
        }
    }
    if (key == kVkTab) {
        ClosePopup();
        setFocusCue(true);
        return FocusNext(!shift);
    }
    if (!m_focus)
        return false;
    send(m_focus, UiEvent::Type::KeyDown, {}, key);
    return true;
}

void PaintManager::OnChar(const std::string& text) {
    if (!m_focus)
        return;
    UiEvent e;
    e.type = UiEvent::Type::Char;
    e.text = text;
    m_focus->DoEvent(e);
}

bool PaintManager::IsInCaption(Point point) const {
    return m_window.CaptionRect(m_size).Contains(point);
}

void PaintManager::SetFocus(Control* control) {
    if (control == m_focus)
        return;
    Invalidate(focusMarkRect());
    Control* old = m_focus;
    m_focus = control;
    send(old, UiEvent::Type::KillFocus);
    if (old)
        old->Invalidate();
    send(m_focus, UiEvent::Type::SetFocus);
    if (m_focus)
        m_focus->Invalidate();
    Invalidate(focusMarkRect());
}

bool PaintManager::FocusNext(bool forward) {
    std::vector<Control*> order;
    walk(m_root.get(), [&](Control* c) {
        if (!c->IsShown())
            return false;
        if (c->IsTabStop())
            order.push_back(c);
        return true;
    });
    if (order.empty())
        return false;
    auto it = std::find(order.begin(), order.end(), m_focus);
    size_t next = forward ? 0 : order.size() - 1;
    if (it != order.end()) {
        const size_t at = size_t(it - order.begin());
        next = forward ? (at + 1) % order.size() : (at + order.size() - 1) % order.size();
    } else if (m_focus) {
        // From a control Tab does not stop at (a scrolling panel): the next stop after it.
        Control* from = m_focus;
        std::vector<Control*> all;
        walk(m_root.get(), [&](Control* c) {
            all.push_back(c);
            return true;
        });
        const auto at = std::find(all.begin(), all.end(), from);
        for (auto i = at; forward && i != all.end(); ++i)
            if (auto hit = std::find(order.begin(), order.end(), *i); hit != order.end()) {
                next = size_t(hit - order.begin());
                break;
            }
    }
    SetFocus(order[next]);
    scrollIntoView(order[next]);
    return true;
}

void PaintManager::scrollIntoView(Control* control) {
    Layout();
    for (Control* c = control; c && c->GetParent(); c = c->GetParent()) {
        auto* panel = dynamic_cast<Container*>(c->GetParent());
        if (!panel || !panel->IsScrollable())
            continue;
        const Rect view = panel->GetViewport();
        const Rect r = control->GetPos();
        Point pos = panel->GetScrollPos();
        if (r.top < view.top)
            pos.y -= view.top - r.top;
        else if (r.bottom > view.bottom)
            pos.y += std::min(r.bottom - view.bottom, r.top - view.top);
        if (r.left < view.left)
            pos.x -= view.left - r.left;
        else if (r.right > view.right)
            pos.x += std::min(r.right - view.right, r.left - view.left);
        if (pos != panel->GetScrollPos())
            panel->SetScrollPos(pos);
    }
}

void PaintManager::OpenPopup(Control* popup) {
    if (m_popup == popup)
        return;
    ClosePopup();
    m_popup = popup;
    if (m_popup)
        Invalidate(m_popup->GetPos());
}

void PaintManager::ClosePopup() {
    if (!m_popup)
        return;
    Control* popup = m_popup;
    m_popup = nullptr;
    if (m_hot == popup)
        m_hot = nullptr;
    if (m_captured == popup)
        m_captured = nullptr;
    Invalidate(popup->GetPos());
    if (Control* owner = popup->GetParent())
        owner->Invalidate();
}

void PaintManager::SendNotify(Control* sender, std::string_view type, WParam wParam,
                              LParam lParam) {
    Notification msg;
    msg.type = std::string(type);
    msg.wParam = wParam;
    msg.lParam = lParam;
    SendNotify(sender, msg);
}

void PaintManager::SendNotify(Control* sender, Notification& msg) {
    msg.sender = sender;
    // A listener may remove itself (a window closing) while the notification is delivered.
    const std::vector<NotifyListener*> listeners = m_listeners;
    for (NotifyListener* listener : listeners)
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
            listener->Notify(msg);
}

bool PaintManager::SetTimer(Control* control, int id, int elapseMs) {
    if (elapseMs <= 0)
        return false;
    elapseMs = std::min(elapseMs, 24 * 3600 * 1000);
    const auto due = Clock::now() + std::chrono::milliseconds(elapseMs);
    auto it = std::find_if(m_timers.begin(), m_timers.end(),
                           [&](const Timer& t) { return t.control == control && t.id == id; });
    if (it != m_timers.end())
        *it = {control, id, elapseMs, due};
    else
        m_timers.push_back({control, id, elapseMs, due});
    if (m_host)
        m_host->TimersChanged();
    return true;
}

bool PaintManager::KillTimer(Control* control, int id) {
    auto it = std::find_if(m_timers.begin(), m_timers.end(),
                           [&](const Timer& t) { return t.control == control && t.id == id; });
    if (it == m_timers.end())
        return false;
    m_timers.erase(it);
    if (m_host)
        m_host->TimersChanged();
    return true;
}

void PaintManager::KillTimers(Control* control) {
    const size_t before = m_timers.size();
    m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(),
                                  [&](const Timer& t) { return t.control == control; }),
                   m_timers.end());
    if (before != m_timers.size() && m_host)
        m_host->TimersChanged();
}

bool PaintManager::HasTimer(Control* control, int id) const {
    return std::any_of(m_timers.begin(), m_timers.end(),
                       [&](const Timer& t) { return t.control == control && t.id == id; });
}

std::optional<PaintManager::Clock::time_point> PaintManager::NextTimerDue() const {
    std::optional<Clock::time_point> next;
    for (const Timer& t : m_timers)
        if (!next || t.due < *next)
            next = t.due;
    return next;
}

void PaintManager::deliverTimer(Control* control, int id) {
    if (!control) {
        if (m_windowTimer)
            m_windowTimer(id);
        return;
    }
    SendNotify(control, kNotifyTimer, WParam(id));
}

void PaintManager::FireDueTimers(Clock::time_point now) {
    std::vector<std::pair<Control*, int>> due;
    for (Timer& t : m_timers) {
        if (t.due > now)
            continue;
        due.emplace_back(t.control, t.id);
        // A late loop skips missed ticks instead of firing a burst to catch up.
        t.due = std::max(t.due + std::chrono::milliseconds(t.interval),
                         now + std::chrono::milliseconds(1));
    }
    for (const auto& [control, id] : due)
        if (HasTimer(control, id))
            deliverTimer(control, id);
    if (!due.empty() && m_host)
        m_host->TimersChanged();
}

bool PaintManager::FireTimer(Control* control, int id) {
    if (!HasTimer(control, id))
        return false;
    deliverTimer(control, id);
    return true;
}

void PaintManager::BeginEdit(Edit& edit) {
    if (m_host)
        m_host->BeginEdit(edit);
}

void PaintManager::EndEdit(Edit& edit) {
    if (m_host)
        m_host->EndEdit(edit);
}

void PaintManager::SetHandCursor(bool hand) {
    if (m_host)
        m_host->SetHandCursor(hand);
}

void PaintManager::ReportMissingGlyphs(const Control& control, const std::string& text) {
    LogOnce("glyphs:" + text.substr(0, 120),
            "Text of " + std::string(control.GetClass()) + " \"" + control.GetName() +
                "\" has characters no installed font draws: " + text.substr(0, 120));
}

void PaintManager::ReapControl(Control* control) {
    if (m_hot == control)
        m_hot = nullptr;
    if (m_captured == control)
        m_captured = nullptr;
    if (m_focus == control)
        m_focus = nullptr;
    if (m_popup == control)
        m_popup = nullptr;
    KillTimers(control);
}

void PaintManager::ControlHidden(Control* control) {
    if (isInside(m_hot, control))
        setHot(nullptr, m_lastMouse);
    if (isInside(m_captured, control))
        m_captured = nullptr;
    if (isInside(m_focus, control))
        SetFocus(nullptr);
    if (m_popup && isInside(m_popup, control))
        ClosePopup();
}

}  // namespace ui
