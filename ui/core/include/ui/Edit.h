#pragma once
// A one-line text input. While it has the focus the host edits its text: the GTK host lays a
// native entry over it, the headless host feeds it typed characters. When the focus leaves,
// "textchanged" is sent if the text differs from what it was when the focus came.
// Attributes: maxchar (code points, default 255), password, readonly, numberonly, normalimage,
// hotimage, focusedimage, disabledimage.

#include "ui/Label.h"
#include "ui/StateImages.h"

namespace ui {

class Edit : public Label {
public:
    static constexpr const char* kClassName = "Edit";
    Edit();
    std::string_view GetClass() const override { return kClassName; }
    bool SetAttribute(std::string_view name, std::string_view value) override;

    bool IsReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }
    bool IsPasswordMode() const { return m_password; }
    bool IsNumberOnly() const { return m_numberOnly; }
    int GetMaxChar() const { return m_maxChar; }
    bool IsEditing() const { return m_editing; }

    // The host's entry hands its text back through this (cut to maxchar, no notification).
    void SetEditText(std::string text);

    bool WantsMouse(Point) const override { return MouseAttribute() != 0; }
    bool IsFocusable() const override { return IsEnabled() && !m_readOnly; }
    void DoEvent(UiEvent& event) override;

protected:
    std::string DisplayText() const override;
    void PaintStatusImage(Painter& painter) override;

private:
    bool accepts(std::string_view ch) const;

    int m_maxChar = 255;
    bool m_password = false;
    bool m_readOnly = false;
    bool m_numberOnly = false;
    bool m_editing = false;
    bool m_hot = false;
    std::string m_textAtFocus;
    StateImages m_images;  // no pushed state
};

}  // namespace ui
