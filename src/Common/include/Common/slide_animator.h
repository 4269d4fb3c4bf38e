#pragma once
// The slide show of the running page. SlideAnimator renders the product's pictures
// ("skin\anima\1.png" …) with their captions into one horizontal strip ("Merge") plus the first
// slide alone ("FirstFrame"), and scrolls through the strip in 25 steps. SlideShow is the main
// window's handling around it: the slide count, the dots ("image_play_option1" …) that show and
// select the slide, the 7-second timer and the step timer.
//
// Transitions are timer-driven: each step becomes the background of "image_play" for
// `stepDelay` ms, so the window keeps handling input meanwhile and a repaint shows the slide
// that is on screen. Step images are rendered once per transition code and kept in the
// window's image cache ("1201" … "1225").
//
// UI thread only. The window forwards its kWmTimer and "selectchanged" to SlideShow.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/PaintManager.h"
#include "ui/Types.h"

namespace ui {
class Option;
class WindowBase;
}  // namespace ui

// Font family of the slide captions for a language (the language table's slide font).
std::string GetSlideFontName(int languageIndex);

// Start and end scroll positions, in slide widths, of the transition from slide `from` to `to`
// for a strip of `count` slides; nullopt when that pair has no transition.
std::optional<std::pair<int, int>> TransitionRange(int from, int to, int count);

class SlideAnimator {
public:
    static constexpr int kWidth = 650;
    static constexpr int kHeight = 300;
    static constexpr int kSteps = 25;
    static constexpr int kModeStrip = 1;

    struct Style {
        int count = 0;          // the owner's slide count
        int languageIndex = 0;  // caption font
        int softwareId = 0;     // 10 draws the captions white
    };

    // `owner` holds the caption labels ("anima_text_%d", "anima_text_extra_%d"); `area` is
    // where "image_play" lies; `manager` keeps the rendered pictures. All must outlive this.
    SlideAnimator(ui::WindowBase& owner, ui::Rect area, ui::PaintManager& manager, int mode,
                  Style style);

    // Renders "FirstFrame" and "Merge".
    void Prepare();
    // Makes the step images of the scroll from `from` to `to` and queues them; Step() shows
    // them one by one. A pair without a transition (same slide, above 5, one slide) queues
    // nothing. A running transition is dropped for the new one.
    void Transition(int from, int to, int stepDelay);
    // The image name of the next step, or nullopt when none is left.
    std::optional<std::string> NextStep();
    bool IsRunning() const { return m_next < m_pending.size(); }
    int StepDelay() const { return m_stepDelay; }

    const std::vector<std::string>& MainTexts() const { return m_mainTexts; }
    const std::vector<std::string>& ExtraTexts() const { return m_extraTexts; }
    ui::Rect Area() const { return m_area; }

private:
    void collectCaptions();
    void drawCaptions(ui::Image& slide, size_t index) const;

    ui::WindowBase& m_owner;
    ui::Rect m_area;
    ui::PaintManager& m_manager;
    int m_mode;
    Style m_style;
    std::vector<std::string> m_mainTexts;
    std::vector<std::string> m_extraTexts;
    std::vector<std::string> m_pending;  // step image names of the running transition
    size_t m_next = 0;
    int m_stepDelay = 0;
};

class SlideShow {
public:
    static constexpr int kSlideTimer = 2000;
    static constexpr int kStepTimer = 2001;
    static constexpr int kSlideInterval = 7000;
    static constexpr int kStepDelay = 50;
    static constexpr int kMaxOptions = 5;

    explicit SlideShow(ui::WindowBase& window) : m_window(window) {}

    // The number of consecutive pictures "skin\anima\1.png", "…2.png", … that load. The window
    // calls it once its markup is built (InitWindow), before StartSlides.
    int CountSlides();
    int SlideCount() const { return m_count; }
    int CurrentSlide() const { return m_current; }
    bool IsRunning() const { return m_running; }
    const SlideAnimator* Animator() const { return m_animator.get(); }

    // Starts again at slide 1 with a new animator (a retry starts over).
    void StartSlides(int languageIndex, int softwareId);
    void StopSlides();
    // Window timer ids of the show; true when `id` was one.
    bool OnTimer(int id);
    // True when the sender was a slide dot.
    bool OnSelectChanged(ui::Control* sender);

private:
    void selectOption(int k);
    void showNextStep();

    ui::WindowBase& m_window;
    int m_count = 0;
    int m_current = 0;
    bool m_running = false;
    std::vector<ui::Option*> m_options;
    std::unique_ptr<SlideAnimator> m_animator;
};
