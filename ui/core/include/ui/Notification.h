#pragma once
// Notifications a control sends to its window, by type name:
//   "click"         a button, option or check box was activated (before an option toggles)
//   "selectchanged" an option or check box changed its selected state
//   "itemselect"    a combo's selection changed (wParam: new index, lParam: old index)
//   "link"          a link of a text was clicked (wParam: link index, text: its target)
//   "textchanged"   an edit's text was committed
//   "timer"         a control timer fired (wParam: the timer id)
//   "windowinit"    the window was built and laid out, before its first frame

#include <string>

#include "ui/Messages.h"
#include "ui/Types.h"

namespace ui {

class Control;

inline constexpr const char* kNotifyClick = "click";
inline constexpr const char* kNotifySelectChanged = "selectchanged";
inline constexpr const char* kNotifyItemSelect = "itemselect";
inline constexpr const char* kNotifyLink = "link";
inline constexpr const char* kNotifyTextChanged = "textchanged";
inline constexpr const char* kNotifyTimer = "timer";
inline constexpr const char* kNotifyWindowInit = "windowinit";

struct Notification {
    std::string type;
    Control* sender = nullptr;  // valid during the call; null for "windowinit"
    WParam wParam = 0;
    LParam lParam = 0;
    std::string text;
    Point point;
};

class NotifyListener {
public:
    virtual ~NotifyListener() = default;
    virtual void Notify(Notification& msg) = 0;
};

}  // namespace ui
