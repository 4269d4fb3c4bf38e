// Layouts whose children do not fit: the range they measure, and the wheel, the bar and the keys
// that scroll them, seen in rendered frames.

#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/HeadlessHost.h"
#include "ui/HostInput.h"
#include "ui/Label.h"
#include "ui/Layouts.h"
#include "ui/ScrollBar.h"
#include "ui_test_helper.h"

namespace {

using ui::headless::Frame;
using ui::headless::HeadlessBackend;
using ui::headless::HeadlessWindowHost;

constexpr int kParagraphs = 60;

std::string licenceMarkup() {
    std::string m =
        "<Window size='420,470'><Font name='Liberation Sans' size='12' default='true'/>"
        "<VerticalLayout bkcolor='#FFFFFFFF'>"
        "<VerticalLayout name='licence' height='200' vscrollbar='true' inset='4,4,4,4'>";
    for (int i = 1; i <= kParagraphs; ++i)
        m += "<Text name='p" + std::to_string(i) + "' multiline='true' textcolor='" +
             (i == kParagraphs ? "#FFFF0000" : "#FF202020") + "' text='" + std::to_string(i) +
             ". The licensee may install the product on any number of machines it owns, "
             "subject to the terms below.'/>";
    m += "<Button name='accept' height='30' text='Accept' bkcolor='#FFDDDDDD'/></VerticalLayout>"
         "<VerticalLayout name='fixed' height='200' vscrollbar='true'>"
         "<Text name='body' height='1095' text='body'/><Control name='tail' height='170'/>"
         "</VerticalLayout>"
         "<VerticalLayout name='fits' height='40' vscrollbar='true'>"
         "<Control name='small' height='20'/></VerticalLayout>"
         "</VerticalLayout></Window>";
    return m;
}

class Scrolling : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ResetQuit();
        backend = HeadlessBackend::Install();
        backend->SetLoopTimeout(10000);
        ui::SkinPackage::SetDefault(uitest::Skin({{"licence.xml", licenceMarkup()}}));
        ASSERT_TRUE(window.Create(nullptr, "Licence"));
        host = backend->HostOf(window);
        window.ShowWindow();
        backend->Pump();
        panel = window.FindControl<ui::VerticalLayout>("licence");
        ASSERT_NE(panel, nullptr);
    }
    void TearDown() override { ui::SkinPackage::SetDefault(nullptr); }

    // Whether the red last paragraph has pixels inside the panel's visible box.
    bool lastParagraphShows(const std::string& frameName) {
        Frame frame = host->Render();
        if (const char* dir = std::getenv("UI_TEST_FRAMES_DIR"))
            frame.image->SavePng(std::string(dir) + "/" + frameName + ".png");
        const ui::Rect view = panel->GetViewport();
        for (int y = view.top; y < view.bottom; ++y)
            for (int x = view.left; x < view.right; ++x) {
                const uint32_t c = frame.image->PixelAt(x, y);
                if (((c >> 16) & 0xFF) > 200 && ((c >> 8) & 0xFF) < 90 && (c & 0xFF) < 90)
                    return true;
            }
        return false;
    }
    int pos() const { return panel->GetScrollPos().y; }
    int range() const { return panel->GetScrollRange().cy; }

    HeadlessBackend* backend = nullptr;
    uitest::RecordingWindow window{"licence.xml"};
    HeadlessWindowHost* host = nullptr;
    ui::VerticalLayout* panel = nullptr;
};

TEST_F(Scrolling, RangeComesFromWhatTheChildrenNeed) {
    // Sixty measured paragraphs of two lines or more each are far taller than the page.
    EXPECT_GT(range(), kParagraphs * 20);
    EXPECT_NE(panel->GetVerticalScrollBar(), nullptr);
    // The text may not run under the bar.
    EXPECT_LE(window.FindControl("p1")->GetPos().right,
              panel->GetVerticalScrollBar()->GetPos().left);

    auto* fixed = window.FindControl<ui::VerticalLayout>("fixed");
    EXPECT_EQ(fixed->GetScrollRange().cy, 1095 + 170 - 200);
    // Setting a child's height or text measures again.
    window.FindControl("body")->SetFixedHeight(1900);
    window.GetPaintManager().Layout();
    EXPECT_EQ(fixed->GetScrollRange().cy, 1900 + 170 - 200);
    const int before = range();
    window.FindControl("p3")->SetText(std::string(3000, 'x') + " " + std::string(3000, 'y'));
    window.GetPaintManager().Layout();
    EXPECT_GT(range(), before);

    // Content that fits shows no bar and takes no wheel.
    auto* fits = window.FindControl<ui::VerticalLayout>("fits");
    EXPECT_EQ(fits->GetVerticalScrollBar(), nullptr);
    EXPECT_EQ(fits->GetScrollRange().cy, 0);
    EXPECT_FALSE(fits->IsScrollable());
}

TEST_F(Scrolling, WheelThumbAndKeysReachTheLastParagraph) {
    EXPECT_FALSE(lastParagraphShows("top"));
    const ui::Point inside = panel->GetViewport().Center();

    // The wheel, a notch at a time (bounded: a broken scroll would never get there).
    for (int i = 0; i < 500 && pos() < range(); ++i) {
        host->Wheel(inside, -1);
        backend->Pump();
    }
    EXPECT_EQ(pos(), range());
    EXPECT_TRUE(lastParagraphShows("wheel"));
    host->Wheel(inside, 2);
    backend->Pump();
    EXPECT_EQ(pos(), range() - 2 * 3 * panel->GetVerticalScrollBar()->GetLineSize());

    // Home needs the focus: a click on the text gives it to the panel.
    host->Click(inside);
    host->PressKey(ui::kVkHome);
    backend->Pump();
    EXPECT_EQ(pos(), 0);
    EXPECT_FALSE(lastParagraphShows("home"));
    host->PressKey(ui::kVkNext);
    backend->Pump();
    EXPECT_GT(pos(), panel->GetViewport().Height() / 2);
    EXPECT_LT(pos(), panel->GetViewport().Height());

    // Dragging the thumb to the bottom of the bar.
    host->PressKey(ui::kVkHome);
    backend->Pump();
    ui::ScrollBar* bar = panel->GetVerticalScrollBar();
    ASSERT_NE(bar, nullptr);
    const ui::Rect thumb = bar->PartRect(ui::ScrollBar::kThumb);
    host->Drag(thumb.Center(), {thumb.Center().x, bar->GetPos().bottom + 40});
    backend->Pump();
    EXPECT_EQ(pos(), range());
    EXPECT_TRUE(lastParagraphShows("thumb"));

    // End from the top.
    host->PressKey(ui::kVkHome);
    host->PressKey(ui::kVkEnd);
    backend->Pump();
    EXPECT_EQ(pos(), range());
    EXPECT_TRUE(lastParagraphShows("end"));
    // The last paragraph sits inside the page, not below it.
    const ui::Rect last = window.FindControl("p60")->GetPos();
    EXPECT_LE(last.bottom, panel->GetViewport().bottom);
    EXPECT_GE(last.top, panel->GetViewport().top);
}

TEST_F(Scrolling, TabScrollsTheFocusedControlIntoView) {
    const ui::Control* accept = window.FindControl("accept");
    ASSERT_NE(accept, nullptr);
    EXPECT_GT(accept->GetPos().top, panel->GetViewport().bottom);
    host->PressKey(ui::kVkTab);
    backend->Pump();
    EXPECT_EQ(window.GetPaintManager().GetFocus(), accept);
    EXPECT_EQ(accept->GetPos().bottom, panel->GetViewport().bottom);
    EXPECT_EQ(pos(), range());
    // Scrolled away, the focused button's mark goes with it instead of lying over other things.
    auto markOps = [&] {
        return host->Render().OpsOf(std::string("accept") + ui::PaintManager::kFocusMarkSuffix);
    };
    ASSERT_FALSE(markOps().empty());
    // Just below the page, where the window would still show a mark drawn without care.
    panel->SetScrollPos({0, range() - 80});
    ASSERT_GT(accept->GetPos().top, panel->GetViewport().bottom);
    ASSERT_LT(accept->GetPos().bottom, window.GetPaintManager().GetClientSize().cy);
    for (const ui::DrawOp& op : markOps())
        EXPECT_TRUE(op.clip.IsEmpty()) << "the mark shows at " << op.dest.top;
}

TEST_F(Scrolling, ARangeThatShrinksKeepsThePositionInside) {
    auto* fixed = window.FindControl<ui::VerticalLayout>("fixed");
    fixed->SetScrollPos({0, 1000});
    EXPECT_EQ(fixed->GetScrollPos().y, 1000);
    window.FindControl("body")->SetFixedHeight(300);
    window.GetPaintManager().Layout();
    EXPECT_EQ(fixed->GetScrollRange().cy, 300 + 170 - 200);
    EXPECT_EQ(fixed->GetScrollPos().y, 270);
    // The tail's bottom meets the page's bottom: nothing blank below the content.
    EXPECT_EQ(window.FindControl("tail")->GetPos().bottom, fixed->GetViewport().bottom);
    // Clicks go to what shows: the point below the page is outside the panel's children.
    const ui::Rect view = fixed->GetViewport();
    EXPECT_EQ(window.GetPaintManager().FindControlAt({view.left + 5, view.bottom - 5}), fixed);
}

}  // namespace

namespace {

TEST(ScrollingLayouts, SideWaysAndBothWays) {
    ui::PaintManager pm;
    pm.Attach(ui::MarkupLoader(nullptr).LoadFromText(
        "<VerticalLayout>"
        "<HorizontalLayout name='row' height='50' hscrollbar='true'>"
        "<Control name='a' width='150'/><Control name='b' width='150'/></HorizontalLayout>"
        "<Container name='both' height='100' vscrollbar='true' hscrollbar='true'>"
        "<Control name='big' width='300' height='300'/></Container>"
        "</VerticalLayout>"));
    pm.SetClientSize({200, 150});
    pm.Layout();
    auto* row = static_cast<ui::Container*>(pm.FindControl("row"));
    EXPECT_EQ(row->GetScrollRange(), (ui::Size{100, 0}));
    // The horizontal bar takes its height from the row's bottom.
    ASSERT_NE(row->GetHorizontalScrollBar(), nullptr);
    EXPECT_EQ(row->GetViewport().bottom, row->GetHorizontalScrollBar()->GetPos().top);
    // Without a vertical bar the wheel scrolls sideways.
    ui::HostInputOf(pm).OnMouseWheel({100, 10}, -1);
    EXPECT_GT(row->GetScrollPos().x, 0);
    EXPECT_EQ(pm.FindControl("a")->GetPos().left, -row->GetScrollPos().x);

    // Both bars: each takes room from the other axis.
    auto* both = static_cast<ui::Container*>(pm.FindControl("both"));
    const ui::Rect view = both->GetViewport();
    EXPECT_EQ(both->GetScrollRange(), (ui::Size{300 - view.Width(), 300 - view.Height()}));
    EXPECT_LT(view.Width(), 200);
    EXPECT_LT(view.Height(), 100);
    both->SetScrollPos({1000, 1000});
    EXPECT_EQ(both->GetScrollPos(),
              (ui::Point{both->GetScrollRange().cx, both->GetScrollRange().cy}));
    EXPECT_EQ(pm.FindControl("big")->GetPos().bottom, view.bottom);
    EXPECT_EQ(pm.FindControl("big")->GetPos().right, view.right);
}

}  // namespace
