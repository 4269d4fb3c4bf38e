#include "ui/Edit.h"

#include "ui/Attributes.h"
#include "ui/PaintManager.h"

namespace ui {
namespace {

size_t codePoints(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

// Byte length of `s` cut to at most `max` code points.
size_t prefixBytes(std::string_view s, size_t max) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && n++ == max)
            return i;
    }
    return s.size();
}

}  // namespace

Edit::Edit() {
    m_textPadding = {4, 0, 4, 0};
}

bool Edit::SetAttribute(std::string_view name, std::string_view value) {
    const std::string n = ToLower(name);
    ImageRef* image = n == "pushedimage" ? nullptr : m_images.ForAttribute(n);
    if (image) {
        ParseImageAttribute(name, value, *image);
    } else if (n == "maxchar") {
        ParseExtentAttribute(name, value, m_maxChar);
    } else if (n == "password") {
        ParseBoolAttribute(name, value, m_password);
        ResetTextLayout();
    } else if (n == "readonly") {
        ParseBoolAttribute(name, value, m_readOnly);
    } else if (n == "numberonly") {
        ParseBoolAttribute(name, value, m_numberOnly);
    } else {
        return Label::SetAttribute(name, value);
    }
    Invalidate();
    return true;
}

void Edit::SetEditText(std::string text) {
    text.resize(prefixBytes(text, size_t(m_maxChar)));
    SetText(MakeValidUtf8(text));
}

bool Edit::accepts(std::string_view ch) const {
    if (m_readOnly || ch.empty())
        return false;
    if (static_cast<unsigned char>(ch[0]) < 0x20)
        return false;
    if (m_numberOnly && !(ch.size() == 1 && ch[0] >= '0' && ch[0] <= '9'))
        return false;
    return codePoints(GetText()) + codePoints(ch) <= size_t(m_maxChar);
}

void Edit::DoEvent(UiEvent& event) {
    using T = UiEvent::Type;
    PaintManager* pm = GetManager();
    switch (event.type) {
        case T::MouseEnter:
            m_hot = true;
            Invalidate();
            break;
        case T::MouseLeave:
            m_hot = false;
            Invalidate();
            break;
        case T::SetFocus:
            if (!IsFocusable())
                break;
            m_editing = true;
            m_textAtFocus = GetText();
            if (pm)
                pm->BeginEdit(*this);
            Invalidate();
            break;
        case T::KillFocus: {
            if (!m_editing)
                break;
            if (pm)
                pm->EndEdit(*this);
            m_editing = false;
            Invalidate();
            if (pm && GetText() != m_textAtFocus)
                pm->SendNotify(this, kNotifyTextChanged);
            break;
        }
        case T::Char:
            if (m_editing && accepts(event.text))
                SetText(GetText() + MakeValidUtf8(event.text));
            break;
        case T::KeyDown:
            if (!m_editing)
                break;
            if (event.key == kVkBack && !m_readOnly) {
                std::string text = GetText();
                while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80)
                    text.pop_back();
                if (!text.empty())
                    text.pop_back();
                SetText(std::move(text));
            } else if (event.key == kVkReturn && pm) {
                pm->SetFocus(nullptr);
            }
            break;
        default:
            break;
    }
}

std::string Edit::DisplayText() const {
    if (!m_password)
        return GetText();
    std::string bullets;
    for (size_t i = codePoints(GetText()); i > 0; --i)
        bullets += "\xE2\x80\xA2";
    return bullets;
}

void Edit::PaintStatusImage(Painter& painter) {
    // While editing the focused look wins over the hot one.
    DrawImage(painter, m_images.Pick(IsEnabled(), false, m_hot && !m_editing, m_editing));
}

}  // namespace ui
