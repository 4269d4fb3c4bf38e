// The slide show of the running page on the headless host: the strip and its step images
// scroll to the right slide, the dots and the timer drive it, captions land inside the picture.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "Common/slide_animator.h"
#include "LanguageTable.h"
#include "test_support.h"
#include "ui/HeadlessHost.h"
#include "ui/MarkupLoader.h"
#include "ui/Option.h"
#include "ui/Painter.h"
#include "zip_builder.h"

namespace {

using ui::headless::HeadlessBackend;
using ui::headless::HeadlessWindowHost;

constexpr int W = SlideAnimator::kWidth;
constexpr uint32_t kColours[] = {0,          0xFFC0392B, 0xFF27AE60, 0xFF2980B9,
                                 0xFF8E44AD, 0xFFF39C12, 0xFF16A085};

std::string SolidPng(uint32_t argb) {
    auto image = ui::Image::Create(W, SlideAnimator::kHeight);
    {
        ui::Painter painter(*image);
        painter.FillRect(ui::Rect::FromSize(0, 0, W, SlideAnimator::kHeight), ui::Color(argb));
    }
    auto bytes = image->EncodePng();
    return std::string(bytes.begin(), bytes.end());
}

// The running page's window, as the main window uses the show.
class SlideWindow : public ui::WindowBase {
public:
    std::string GetSkinFile() const override { return "main.xml"; }
    void InitWindow() override { slides.CountSlides(); }
    ui::LResult HandleMessage(unsigned message, ui::WParam wParam, ui::LParam lParam) override {
        if (message == ui::kWmTimer && slides.OnTimer(static_cast<int>(wParam)))
            return 0;
        return WindowBase::HandleMessage(message, wParam, lParam);
    }
    void OnSelectChanged(ui::Notification& msg) override { slides.OnSelectChanged(msg.sender); }
    SlideShow slides{*this};
};

// `options` dots, `slides` pictures of distinct colours, `labels` extra markup.
std::map<std::string, std::string> SlideSkin(int options, int slides,
                                             const std::string& labels = "") {
    std::string markup = R"(<Window size="650,360"><VerticalLayout>
        <VerticalLayout name="image_play" width="650" height="300"/>)";
    for (int k = 1; k <= options; ++k)
        markup += "<Option name=\"image_play_option" + std::to_string(k) + "\" group=\"dots\"" +
                  (k == 1 ? " selected=\"true\"" : "") + " pos=\"" + std::to_string(280 + 20 * k) +
                  ",308," + std::to_string(292 + 20 * k) + ",318\" bkcolor=\"#FF888888\"/>";
    markup += labels + "</VerticalLayout></Window>";
    std::map<std::string, std::string> files{{"main.xml", markup}};
    for (int k = 1; k <= slides; ++k)
        files["skin/anima/" + std::to_string(k) + ".png"] = SolidPng(kColours[k]);
    return files;
}

class SlideShowTest : public ::testing::Test {
protected:
    void Open(std::map<std::string, std::string> files, int language = 0, int softwareId = 1) {
        ui::ResetQuit();
        backend = HeadlessBackend::Install();
        backend->SetLoopTimeout(10000);
        skin = ui::SkinPackage::Open(kvtest::makeZip(files));
        window.SetSkinPackage(skin);
        ASSERT_TRUE(window.Create(nullptr, "slides"));
        host = backend->HostOf(window);
        window.ShowWindow();
        window.slides.StartSlides(language, softwareId);
        backend->Pump();
    }
    // Runs the transition the last selection began to its end, one step per tick.
    void FinishTransition() {
        for (int i = 0; i < 40 && window.slides.Animator()->IsRunning(); ++i) {
            host->TickTimer(SlideShow::kStepTimer);
            backend->Pump();
        }
        ASSERT_FALSE(window.slides.Animator()->IsRunning());
    }
    // Clicks dot `k` and lets the scroll it starts run to its end.
    void ClickDot(int k) {
        host->ClickControl("image_play_option" + std::to_string(k));
        backend->Pump();
        FinishTransition();
    }
    void NextSlide() {
        ASSERT_TRUE(host->TickTimer(SlideShow::kSlideTimer));
        backend->Pump();
        FinishTransition();
    }
    bool SlideTimerSet() {
        return window.GetPaintManager().HasTimer(nullptr, SlideShow::kSlideTimer);
    }
    std::string Background() { return window.FindControl("image_play")->GetBkImage(); }
    std::shared_ptr<const ui::Image> Cached(const std::string& name) {
        return window.GetPaintManager().Images().Get(name);
    }
    bool Selected(int k) {
        return window.FindControl<ui::Option>("image_play_option" + std::to_string(k))
            ->IsSelected();
    }

    HeadlessBackend* backend = nullptr;
    std::shared_ptr<ui::SkinPackage> skin;
    SlideWindow window;
    HeadlessWindowHost* host = nullptr;
};

// Rows of `frame` that differ from the plain colour, inside and outside `box`.
struct Ink {
    int top = -1, bottom = -1, outside = 0;
};
Ink InkOf(const ui::Image& frame, uint32_t plain, ui::Rect box) {
    Ink ink;
    for (int y = 0; y < frame.Height(); ++y)
        for (int x = 0; x < frame.Width(); ++x) {
            if (frame.PixelAt(x, y) == plain)
                continue;
            if (!box.Contains({x, y})) {
                ++ink.outside;
                continue;
            }
            if (ink.top < 0)
                ink.top = y;
            ink.bottom = y;
        }
    return ink;
}

TEST_F(SlideShowTest, ThreeSlidesCycleForwardAndWrapOntoTheCopyOfTheFirst) {
    Open(SlideSkin(3, 3));
    EXPECT_EQ(window.slides.SlideCount(), 3);
    EXPECT_EQ(Background(), "FirstFrame");
    auto strip = Cached("Merge");
    ASSERT_NE(strip, nullptr);
    EXPECT_EQ(strip->Width(), 4 * W);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(strip->PixelAt(k * W + 5, 150), kColours[k == 3 ? 1 : k + 1]) << k;

    struct Step {
        int slide;
        const char* last;
        uint32_t firstStepLeft, firstStepRight, lastColour;
        int boundary;  // column of the first step where the next picture begins
    };
    const Step cycle[] = {
        {2, "1225", kColours[1], kColours[2], kColours[2], W - 26},  // 12: 0 → W
        {3, "2325", kColours[2], kColours[3], kColours[3], W - 26},  // 23: W → 2W
        {1, "3125", kColours[3], kColours[1], kColours[1], W - 26},  // 31: 2W → 3W, the copy
        {2, "1225", kColours[1], kColours[2], kColours[2], W - 26},
    };
    for (const Step& s : cycle) {
        SCOPED_TRACE(s.last);
        NextSlide();
        EXPECT_EQ(window.slides.CurrentSlide(), s.slide);
        EXPECT_TRUE(Selected(s.slide));
        EXPECT_EQ(Background(), s.last);
        const std::string first = std::string(s.last, 2) + "01";
        auto step1 = Cached(first);
        ASSERT_NE(step1, nullptr);
        EXPECT_EQ(step1->PixelAt(s.boundary - 1, 150), s.firstStepLeft);
        EXPECT_EQ(step1->PixelAt(s.boundary, 150), s.firstStepRight);
        auto last = Cached(s.last);
        EXPECT_EQ(last->PixelAt(0, 150), s.lastColour);
        EXPECT_EQ(last->PixelAt(W - 1, 150), s.lastColour);
    }
}

TEST_F(SlideShowTest, DotsJumpToTheirSlideAndTheCurrentDotChangesNothing) {
    Open(SlideSkin(3, 3));
    host->ClickControl("image_play_option3");
    backend->Pump();
    EXPECT_EQ(window.slides.CurrentSlide(), 3);
    FinishTransition();
    EXPECT_EQ(Background(), "1325");
    EXPECT_EQ(Cached("1325")->PixelAt(10, 150), kColours[3]);

    host->ClickControl("image_play_option3");
    backend->Pump();
    EXPECT_FALSE(window.slides.Animator()->IsRunning());
    EXPECT_EQ(Background(), "1325");

    // Backwards from 3 to 1: 2W → 3W (the copy of slide 1 at the strip's end).
    ClickDot(1);
    EXPECT_EQ(Background(), "3125");
    EXPECT_EQ(window.slides.CurrentSlide(), 1);
    // The period goes on from the click.
    EXPECT_TRUE(SlideTimerSet());
}

TEST_F(SlideShowTest, ARetryRendersItsStepsAgain) {
    Open(SlideSkin(3, 3, R"(<Label name="anima_text_1" visible="false" text="Before"/>)"));
    ClickDot(3);
    ClickDot(1);
    ASSERT_GT(InkOf(*Cached("3125"), kColours[1], {}).outside, 0) << "the caption is on the copy";

    window.FindControl("anima_text_1")->SetText("");
    window.slides.StartSlides(0, 1);
    ClickDot(3);
    ClickDot(1);
    // The way back onto the copy of slide 1 shows it without the caption it no longer has.
    EXPECT_EQ(InkOf(*Cached("3125"), kColours[1], {}).outside, 0);
}

TEST_F(SlideShowTest, StopSlidesStopsThePeriod) {
    Open(SlideSkin(3, 3));
    window.slides.StopSlides();
    EXPECT_FALSE(SlideTimerSet());
    // A dot still shows its slide but does not start the period again.
    ClickDot(2);
    EXPECT_EQ(Background(), "1225");
    EXPECT_FALSE(SlideTimerSet());
}

TEST_F(SlideShowTest, FourSlidesGiveFourDotsAndWrapFromTheFourth) {
    Open(SlideSkin(5, 4));
    EXPECT_EQ(window.slides.SlideCount(), 4);
    EXPECT_TRUE(window.FindControl("image_play_option4")->IsVisible());
    EXPECT_FALSE(window.FindControl("image_play_option5")->IsVisible());
    for (int slide : {2, 3, 4}) {
        NextSlide();
        EXPECT_EQ(window.slides.CurrentSlide(), slide);
    }
    EXPECT_EQ(Cached("3425")->PixelAt(10, 150), kColours[4]);
    NextSlide();
    EXPECT_EQ(window.slides.CurrentSlide(), 1);
    EXPECT_EQ(Background(), "4125");
    EXPECT_EQ(Cached("4101")->PixelAt(10, 150), kColours[4]);
    EXPECT_EQ(Cached("4125")->PixelAt(10, 150), kColours[1]);
    // Backwards from 1 to 4 starts on the copy of slide 1: 4W → 3W.
    ClickDot(4);
    EXPECT_EQ(Cached("1401")->PixelAt(25, 150), kColours[4]);
    EXPECT_EQ(Cached("1401")->PixelAt(26, 150), kColours[1]);
    EXPECT_EQ(Cached("1425")->PixelAt(10, 150), kColours[4]);
}

TEST_F(SlideShowTest, OneSlideStandsStill) {
    Open(SlideSkin(3, 1));
    EXPECT_EQ(window.slides.SlideCount(), 1);
    EXPECT_EQ(Background(), "FirstFrame");
    EXPECT_FALSE(SlideTimerSet());
    EXPECT_FALSE(window.FindControl("image_play_option2")->IsVisible());
    EXPECT_EQ(Cached("FirstFrame")->PixelAt(10, 150), kColours[1]);
}

TEST_F(SlideShowTest, CaptionsAreDrawnInsideTheirBoxesInOrderOfExistence) {
    Open(SlideSkin(
        3, 3,
        R"(<Label name="anima_text_1" visible="false" text="One line{n}second line{n}still second"/>
                      <Label name="anima_text_2" visible="false" text="Single line"/>
                      <Label name="anima_text_extra_2" visible="false" text="Extra"/>)"));
    EXPECT_EQ(window.slides.Animator()->ExtraTexts(), std::vector<std::string>{"Extra"});
    auto first = Cached("FirstFrame");
    ASSERT_NE(first, nullptr);
    // The main caption and the extra one (which went to slide 1) stay in their boxes.
    const Ink ink = InkOf(*first, kColours[1], ui::Rect::FromSize(30, 40, W - 60, 100));
    EXPECT_EQ(ink.outside, 0);
    ASSERT_GE(ink.top, 40);
    // Two lines: the first "{n}" broke the line, the second did not.
    const int twoLines = ink.bottom - ink.top;
    EXPECT_GT(twoLines, 22);
    EXPECT_LT(twoLines, 44);

    auto strip = Cached("Merge");
    auto slide2 = ui::Image::Create(W, SlideAnimator::kHeight);
    {
        ui::Painter painter(*slide2);
        ui::ImageRef part;
        part.source = ui::Rect::FromSize(W, 0, W, SlideAnimator::kHeight);
        painter.DrawImage(*strip, part, ui::Rect::FromSize(0, 0, W, SlideAnimator::kHeight));
    }
    const Ink one = InkOf(*slide2, kColours[2], ui::Rect::FromSize(30, 40, W - 60, 100));
    EXPECT_EQ(one.outside, 0);
    EXPECT_LT(one.bottom - one.top, 22);
    // Grey text unless the product is number 10.
    EXPECT_EQ(GetSlideFontName(1), "Meiryo UI");
    EXPECT_EQ(GetSlideFontName(11), "batang");
}

// Frames of the shipped running page with the captions of three languages, for a look: set
// KV_SLIDE_FRAMES to a folder to keep them.
TEST(ShippedSlides, CaptionsSitInsideThePictureInEveryScript) {
    std::ifstream in(std::string(KV_BIN_DIR) + "/../skin.zip", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    auto shipped = ui::SkinPackage::Open(std::move(bytes));
    ASSERT_NE(shipped, nullptr);
    for (int language : {0, 1, 8}) {
        SCOPED_TRACE(language);
        ui::MarkupLoader loader(shipped, "skin\\");
        auto doc = loader.Load(std::string("language\\") + LanguageRowFor(language).fileName);
        std::string labels;
        for (int n = 1; n <= 5; ++n) {
            auto* label = doc.FindControl("anima_text_" + std::to_string(n));
            ASSERT_NE(label, nullptr);
            labels += "<Label name=\"anima_text_" + std::to_string(n) +
                      "\" visible=\"false\" text=\"" + label->GetText() + "\"/>";
        }
        std::map<std::string, std::string> files{
            {"main.xml",
             "<Window size=\"650,360\"><VerticalLayout bkcolor=\"#FFFFFFFF\">"
             "<Include source=\"InstallRunning.xml\"/>" +
                 labels + "</VerticalLayout></Window>"}};
        for (const char* name :
             {"InstallRunning.xml", "skin/anima/1.png", "skin/anima/2.png", "skin/anima/3.png",
              "skin/OptionNormal.png", "skin/OptionSelected.png", "skin/bkprogress.png",
              "skin/progress.png", "skin/btn_min.png"}) {
            std::vector<uint8_t> entry;
            ASSERT_TRUE(shipped->Read(name, entry)) << name;
            files[name] = std::string(entry.begin(), entry.end());
        }
        ui::ResetQuit();
        auto* backend = HeadlessBackend::Install();
        SlideWindow window;
        window.SetSkinPackage(ui::SkinPackage::Open(kvtest::makeZip(files)));
        ASSERT_TRUE(window.Create(nullptr, "slides"));
        EXPECT_EQ(window.slides.SlideCount(), 3);
        window.slides.StartSlides(language, 1);
        auto* host = backend->HostOf(window);
        for (int slide = 1; slide <= 3; ++slide) {
            auto frame = host->Render();
            // Caption text was drawn in its box: the frame differs from the bare picture there.
            auto picture = window.GetPaintManager().Images().Get("skin\\anima\\" +
                                                                 std::to_string(slide) + ".png");
            int changed = 0;
            for (int y = 40; y < 140; ++y)
                for (int x = 30; x < W - 30; ++x)
                    changed += frame.image->PixelAt(x, y) != picture->PixelAt(x, y);
            EXPECT_GT(changed, 500) << "slide " << slide;
            if (const char* keep = std::getenv("KV_SLIDE_FRAMES"))
                frame.image->SavePng(std::string(keep) + "/slide-" + std::to_string(language) +
                                     "-" + std::to_string(slide) + ".png");
            host->TickTimer(SlideShow::kSlideTimer);
            backend->Pump();
            for (int i = 0; i < 40 && window.slides.Animator()->IsRunning(); ++i) {
                host->TickTimer(SlideShow::kStepTimer);
                backend->Pump();
            }
        }
    }
}

}  // namespace
