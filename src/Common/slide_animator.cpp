#include "Common/slide_animator.h"

#include <cstdio>

#include "LanguageTable.h"
#include "Logging.h"
#include "ui/Option.h"
#include "ui/Painter.h"
#include "ui/RichText.h"
#include "ui/TextLayout.h"
#include "ui/WindowBase.h"

namespace {

constexpr int kCaptionPixels = 15;  // 11 points at 96 dpi
constexpr int kMaxPictures = 100;   // a runaway package still ends the count
constexpr const char* kSlideArea = "image_play";

std::string Numbered(const char* format, int n) {
    char name[64];
    std::snprintf(name, sizeof name, format, n);
    return name;
}

std::string StepName(int code, int step) {
    char name[16];
    std::snprintf(name, sizeof name, "%02d%02d", code, step);
    return name;
}

std::string PictureName(int n) {
    return Numbered("skin\\anima\\%d.png", n);
}

}  // namespace

std::string GetSlideFontName(int languageIndex) {
    return LanguageRowFor(languageIndex).slideFont;
}

std::optional<std::pair<int, int>> TransitionRange(int from, int to, int count) {
    switch (from * 10 + to) {
        case 12:
            return std::pair{0, 1};
        case 13:
            return std::pair{0, 2};
        case 14:
            return std::pair{count == 4 ? 4 : 0, 3};
        case 15:
            return std::pair{count == 5 ? 5 : 0, 4};
        case 21:
            return std::pair{1, count == 2 ? 2 : 0};
        case 23:
            return std::pair{1, 2};
        case 24:
            return std::pair{1, 3};
        case 25:
            return std::pair{1, 4};
        case 31:
            return std::pair{2, count == 3 ? 3 : 0};
        case 32:
            return std::pair{2, 1};
        case 34:
            return std::pair{2, 3};
        case 35:
            return std::pair{2, 4};
        case 41:
            return std::pair{3, count == 4 ? 4 : 0};
        case 42:
            return std::pair{3, 1};
        case 43:
            return std::pair{3, 2};
        case 45:
            return std::pair{3, 4};
        case 51:
            return std::pair{4, count == 5 ? 5 : 0};
        case 52:
            return std::pair{4, 1};
        case 53:
            return std::pair{4, 2};
        case 54:
            return std::pair{4, 3};
        default:
            return std::nullopt;
    }
}

// ---- SlideAnimator ---------------------------------------------------------------------------

SlideAnimator::SlideAnimator(ui::WindowBase& owner, ui::Rect area, ui::PaintManager& manager,
                             int mode, Style style)
    : m_owner(owner), m_area(area), m_manager(manager), m_mode(mode), m_style(style) {}

void SlideAnimator::collectCaptions() {
    // Filled in order of existence, so a missing label shifts the later captions forward.
    for (int n = 1; n <= kMaxPictures; ++n) {
        ui::Control* main = m_owner.FindControl(Numbered("anima_text_%d", n));
        ui::Control* extra = m_owner.FindControl(Numbered("anima_text_extra_%d", n));
        if (!main && !extra)
            break;
        if (main)
            m_mainTexts.push_back(main->GetText());
        if (extra)
            m_extraTexts.push_back(extra->GetText());
    }
}

void SlideAnimator::drawCaptions(ui::Image& slide, size_t index) const {
    ui::Painter painter(slide);
    ui::TextStyle style;
    style.font.family = GetSlideFontName(m_style.languageIndex);
    style.font.size = kCaptionPixels;
    style.color = ui::Color(m_style.softwareId == 10 ? 0xFFFFFFFF : 0xFF4A4A4A);
    if (index < m_mainTexts.size() && !m_mainTexts[index].empty()) {
        std::string text = m_mainTexts[index];
        // Only the first marker breaks the line; a second one is shown as written.
        if (size_t at = text.find("{n}"); at != std::string::npos)
            text = text.substr(0, at) + '\n' + text.substr(at + 3);
        style.font.bold = true;
        style.format = ui::kTextCenter | ui::kTextTop | ui::kTextWordBreak;
        const ui::Rect box = ui::Rect::FromSize(30, 40, kWidth - 60, 100);
        ui::TextLayout(ui::PlainRichText(text), style, box.Width()).Draw(painter, box);
    }
    if (index < m_extraTexts.size() && !m_extraTexts[index].empty()) {
        style.font.bold = false;
        style.format = ui::kTextCenter | ui::kTextVCenter | ui::kTextWordBreak;
        const ui::Rect box = ui::Rect::FromSize(194, 40, 178, 65);
        ui::TextLayout(ui::PlainRichText(m_extraTexts[index]), style, box.Width())
            .Draw(painter, box);
    }
}

void SlideAnimator::Prepare() {
    if (m_mode != kModeStrip)
        return;
    collectCaptions();
    // Steps of an earlier animator show its strip; a retry may have other captions.
    for (int code = 11; code <= 55; ++code)
        for (int i = 1; i <= kSteps; ++i)
            m_manager.Images().Remove(StepName(code, i));
    auto strip = ui::Image::Create((m_style.count + 1) * kWidth, kHeight);
    if (!strip) {
        LOG(INFO) << " No slide strip for " << m_style.count << " slides";
        return;
    }
    ui::Painter stripPainter(*strip);
    const int copyAt = (m_style.count >= 2 && m_style.count <= 5) ? m_style.count : 3;
    for (int i = 1; i <= kMaxPictures; ++i) {
        auto picture = m_manager.Images().Get(PictureName(i));
        if (!picture)
            break;
        auto slide = ui::Image::Create(picture->Width(), picture->Height());
        if (!slide)
            break;
        {
            ui::Painter painter(*slide);
            ui::ImageRef whole;
            painter.DrawImage(*picture, whole,
                              ui::Rect::FromSize(0, 0, picture->Width(), picture->Height()));
        }
        drawCaptions(*slide, static_cast<size_t>(i - 1));
        const ui::Rect box = ui::Rect::FromSize(0, 0, slide->Width(), slide->Height());
        ui::ImageRef whole;
        if (i == 1) {
            stripPainter.DrawImage(*slide, whole, box);
            stripPainter.DrawImage(*slide, whole, box.Offset(copyAt * kWidth, 0));
            m_manager.Images().Add("FirstFrame", slide);
        } else {
            stripPainter.DrawImage(*slide, whole, box.Offset((i - 1) * kWidth, 0));
        }
    }
    m_manager.Images().Add("Merge", strip);
}

void SlideAnimator::Transition(int from, int to, int stepDelay) {
    m_pending.clear();
    m_next = 0;
    if (m_style.count == 1 || m_mode != kModeStrip)
        return;
    const auto range = TransitionRange(from, to, m_style.count);
    if (!range)
        return;
    auto strip = m_manager.Images().Get("Merge");
    if (!strip)
        return;
    const int code = from * 10 + to;
    const int start = range->first * kWidth, end = range->second * kWidth;
    for (int i = 1; i <= kSteps; ++i) {
        const int x =
            start < end ? start + (end - start) / kSteps * i : start - (start - end) / kSteps * i;
        const std::string name = StepName(code, i);
        if (!m_manager.Images().Has(name)) {
            auto step = ui::Image::Create(kWidth, kHeight);
            if (!step)
                return;
            ui::Painter painter(*step);
            ui::ImageRef part;
            part.source = ui::Rect::FromSize(x, 0, kWidth, kHeight);
            painter.DrawImage(*strip, part, ui::Rect::FromSize(0, 0, kWidth, kHeight));
            m_manager.Images().Add(name, step);
        }
        m_pending.emplace_back(name);
    }
    m_stepDelay = stepDelay;
}

std::optional<std::string> SlideAnimator::NextStep() {
    if (m_next >= m_pending.size())
        return std::nullopt;
    return m_pending[m_next++];
}

// ---- SlideShow -------------------------------------------------------------------------------

int SlideShow::CountSlides() {
    ui::ImageCache& images = m_window.GetPaintManager().Images();
    m_count = 0;
    while (m_count < kMaxPictures && images.Get(PictureName(m_count + 1)))
        ++m_count;
    return m_count;
}

void SlideShow::StartSlides(int languageIndex, int softwareId) {
    ui::Control* area = m_window.FindControl(kSlideArea);
    if (!area) {
        LOG(INFO) << " No slide area " << kSlideArea;
        return;
    }
    // One dot per slide: a dot without its slide would scroll to a picture that is not there.
    m_options.clear();
    for (int k = 1; k <= kMaxOptions; ++k) {
        auto* option =
            dynamic_cast<ui::Option*>(m_window.FindControl(Numbered("image_play_option%d", k)));
        if (!option)
            break;
        option->SetVisible(k <= m_count);
        if (k <= m_count)
            m_options.push_back(option);
    }
    m_window.KillTimer(kStepTimer);
    m_animator = std::make_unique<SlideAnimator>(
        m_window, area->GetPos(), m_window.GetPaintManager(), SlideAnimator::kModeStrip,
        SlideAnimator::Style{m_count, languageIndex, softwareId});
    m_animator->Prepare();
    m_running = true;
    m_current = 1;
    selectOption(1);
    area->SetBkImage("FirstFrame");
    if (m_count > 1)
        m_window.SetTimer(kSlideTimer, kSlideInterval);
}

void SlideShow::StopSlides() {
    m_running = false;
    m_window.KillTimer(kSlideTimer);
}

void SlideShow::selectOption(int k) {
    if (k >= 1 && k <= static_cast<int>(m_options.size()))
        m_options[k - 1]->Selected(true);
}

bool SlideShow::OnTimer(int id) {
    if (id == kStepTimer) {
        showNextStep();
        return true;
    }
    if (id != kSlideTimer)
        return false;
    const int k = m_current;
    if (k >= 1 && k <= 4 && static_cast<int>(m_options.size()) > k)
        selectOption(k + 1);
    else
        selectOption(1);
    return true;
}

bool SlideShow::OnSelectChanged(ui::Control* sender) {
    int k = 0;
    for (size_t i = 0; i < m_options.size(); ++i)
        if (m_options[i] == sender)
            k = static_cast<int>(i) + 1;
    if (k == 0 || !m_animator)
        return false;
    // A dot clicked after the show stopped moves the picture but starts no period.
    if (m_running && m_count > 1)
        m_window.SetTimer(kSlideTimer, kSlideInterval);
    m_animator->Transition(m_current, k, kStepDelay);
    m_current = k;
    if (m_animator->IsRunning()) {
        showNextStep();  // the first step does not wait
        m_window.SetTimer(kStepTimer, m_animator->StepDelay());
    } else {
        m_window.KillTimer(kStepTimer);
    }
    return true;
}

void SlideShow::showNextStep() {
    auto step = m_animator ? m_animator->NextStep() : std::nullopt;
    if (step) {
        if (ui::Control* area = m_window.FindControl(kSlideArea))
            area->SetBkImage(*step);
    }
    if (!m_animator || !m_animator->IsRunning())
        m_window.KillTimer(kStepTimer);
}
