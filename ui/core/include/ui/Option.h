#pragma once
// Option: a button with a selected state. Options that share a group="…" name anywhere in the
// window form one group: selecting one clears the others, and clicking the selected one keeps
// it. Without a group a click toggles. "selectchanged" is sent by the option that changed, only
// when its state changes (in a group: by the option that became selected).
// Attributes: selected, group, selectedimage, selectedhotimage, selectedpushedimage,
// selecteddisabledimage, selectedtextcolor, selectedbkcolor.
//
// CheckBox: an option used as a tick box (GetCheck / SetCheck).

#include "ui/Button.h"

namespace ui {

class Option : public Button {
public:
    static constexpr const char* kClassName = "Option";
    std::string_view GetClass() const override { return kClassName; }
    bool SetAttribute(std::string_view name, std::string_view value) override;

    bool IsSelected() const { return m_selected; }
    // Changes the state; `notify` sends "selectchanged" when it changed.
    void Selected(bool selected, bool notify = true);
    const std::string& GetGroup() const { return m_group; }
    void SetGroup(std::string group);

    // "click" first (a handler sees the state before the toggle), then the state changes.
    bool Activate() override;
    void SetManager(PaintManager* manager, Control* parent) override;

protected:
    void PaintBkColor(Painter& painter) override;
    const ImageRef& StateImage() const override;
    Color CurrentTextColor() const override;

private:
    bool m_selected = false;
    std::string m_group;
    ImageRef m_selectedImage, m_selectedHotImage, m_selectedPushedImage, m_selectedDisabledImage;
    Color m_selectedTextColor, m_selectedBkColor;
};

class CheckBox : public Option {
public:
    static constexpr const char* kClassName = "CheckBox";
    std::string_view GetClass() const override { return kClassName; }
    bool GetCheck() const { return IsSelected(); }
    void SetCheck(bool check, bool notify = true) { Selected(check, notify); }
};

}  // namespace ui
