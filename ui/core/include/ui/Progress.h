#pragma once
// A progress bar: the background (bkimage/bkcolor), then foreimage cut to the filled part —
// from the left when hor="true" (the default), from the bottom otherwise — then the text.
// Attributes: min, max, value, hor, foreimage, forecolor. Values outside min..max are clamped.

#include "ui/Label.h"

namespace ui {

class Progress : public Label {
public:
    static constexpr const char* kClassName = "Progress";
    Progress();
    std::string_view GetClass() const override { return kClassName; }
    bool SetAttribute(std::string_view name, std::string_view value) override;

    int GetMinValue() const { return m_min; }
    int GetMaxValue() const { return m_max; }
    int GetValue() const { return m_value; }
    void SetMinValue(int value);
    void SetMaxValue(int value);
    void SetValue(int value);
    bool IsHorizontal() const { return m_horizontal; }
    // The filled part of the bar for the current value.
    Rect FillRect() const;

protected:
    void PaintStatusImage(Painter& painter) override;

private:
    int m_min = 0;
    int m_max = 100;
    int m_value = 0;
    bool m_horizontal = true;
    ImageRef m_fore;
    Color m_foreColor;
};

}  // namespace ui
