// Operating a window from the keyboard gives the notifications a pointer gives, and a link
// written in a button's text behaves as it does in a label.

#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/Button.h"
#include "ui/Combo.h"
#include "ui/HeadlessHost.h"
#include "ui/Option.h"
#include "ui_test_helper.h"

namespace {

using ui::headless::HeadlessBackend;
using ui::headless::HeadlessWindowHost;

const char* kForm =
    "<Window size='360,300'><Font name='Liberation Sans' size='12' default='true'/>"
    "<VerticalLayout bkcolor='#FFF4F4F4' inset='10,10,10,10' childpadding='6'>"
    "<Button name='first' height='30' text='First' bkcolor='#FFDDDDDD'/>"
    "<Button name='off' height='30' text='Disabled' enabled='false'/>"
    "<Button name='hidden' height='30' text='Hidden' visible='false'/>"
    "<CheckBox name='agree' height='24' text='I agree'/>"
    "<Label name='plain' height='20' text='not a stop'/>"
    "<Option name='opt' height='24' group='g' text='Option'/>"
    "<Combo name='lang' height='26'><ListLabelElement text='One'/>"
    "<ListLabelElement text='Two' visible='false'/><ListLabelElement text='Three'/></Combo>"
    "<Button name='linked' height='30' width='300' align='left' "
    "text='Read the {a terms}licence terms{/a} first'/>"
    "</VerticalLayout></Window>";

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ResetQuit();
        backend = HeadlessBackend::Install();
        backend->SetLoopTimeout(10000);
        ui::SkinPackage::SetDefault(uitest::Skin({{"form.xml", kForm}}));
        ASSERT_TRUE(window.Create(nullptr, "Form"));
        host = backend->HostOf(window);
        window.ShowWindow();
        backend->Pump();
        window.events.clear();
    }
    void TearDown() override { ui::SkinPackage::SetDefault(nullptr); }

    std::string focused() const {
        const ui::Control* f = window.GetPaintManager().GetFocus();
        return f ? f->GetName() : "";
    }
    std::vector<std::string> types() const {
        std::vector<std::string> out;
        for (const auto& e : window.events)
            out.push_back(e.type + ":" + e.sender);
        return out;
    }
    void key(ui::WParam k, ui::LParam mods = 0) {
        host->PressKey(k, mods);
        backend->Pump();
    }

    HeadlessBackend* backend = nullptr;
    uitest::RecordingWindow window{"form.xml"};
    HeadlessWindowHost* host = nullptr;
};

TEST_F(Keyboard, TabVisitsEnabledShownControlsInDocumentOrderBothWays) {
    std::vector<std::string> forward;
    for (int i = 0; i < 6; ++i) {
        key(ui::kVkTab);
        forward.push_back(focused());
    }
    EXPECT_EQ(forward,
              (std::vector<std::string>{"first", "agree", "opt", "lang", "linked", "first"}));
    key(ui::kVkTab, ui::kKeyShift);
    EXPECT_EQ(focused(), "linked");
    key(ui::kVkTab, ui::kKeyShift);
    EXPECT_EQ(focused(), "lang");
    // Moving the focus sends nothing.
    EXPECT_TRUE(window.events.empty());
}

TEST_F(Keyboard, KeysSendWhatAPointerSends) {
    // What the pointer sends, recorded first.
    host->ClickControl("agree");
    host->ClickControl("first");
    host->SelectComboItem("lang", 2);
    backend->Pump();
    const std::vector<std::string> byPointer = types();
    window.FindControl<ui::CheckBox>("agree")->SetCheck(false, false);
    window.FindControl<ui::Combo>("lang")->SelectItem(0, false);
    window.GetPaintManager().SetFocus(nullptr);
    // Selecting quietly really is quiet.
    EXPECT_TRUE(window.events.size() == byPointer.size());
    window.events.clear();

    key(ui::kVkTab);
    key(ui::kVkTab);  // agree
    key(ui::kVkSpace);
    EXPECT_TRUE(window.FindControl<ui::CheckBox>("agree")->GetCheck());
    key(ui::kVkTab, ui::kKeyShift);  // first
    key(ui::kVkSpace);
    for (int i = 0; i < 3; ++i)
        key(ui::kVkTab);  // agree, opt, lang
    ASSERT_EQ(focused(), "lang");
    key(ui::kVkDown);  // skips the hidden item
    EXPECT_EQ(types(), byPointer);
    EXPECT_EQ(window.FindControl<ui::Combo>("lang")->GetCurSel(), 2);

    // At the end of the list the arrow sends nothing; up goes back.
    window.events.clear();
    key(ui::kVkDown);
    EXPECT_TRUE(window.events.empty());
    key(ui::kVkUp);
    ASSERT_EQ(window.events.size(), 1u);
    EXPECT_EQ(window.events[0].type, "itemselect");
    EXPECT_EQ(window.events[0].wParam, 0u);
}

TEST_F(Keyboard, ReturnAndEscapeReachTheWindowFirst) {
    struct Swallow : uitest::RecordingWindow {
        using RecordingWindow::RecordingWindow;
        bool ResponseDefaultKeyEvent(ui::WParam) override { return true; }
    };
    Swallow swallow{"form.xml"};
    ASSERT_TRUE(swallow.Create(nullptr, "Swallow"));
    HeadlessWindowHost* h = backend->HostOf(swallow);
    h->PressKey(ui::kVkTab);
    h->PressKey(ui::kVkReturn);
    backend->Pump();
    EXPECT_TRUE(swallow.typesOf("first").empty());
    // Without the window's handler Return clicks the focused button.
    key(ui::kVkTab);
    key(ui::kVkReturn);
    EXPECT_EQ(types(), std::vector<std::string>{"click:first"});
}

TEST_F(Keyboard, TheFocusMarkShowsAfterTabAndGoesWithTheMouse) {
    auto markOps = [&](const std::string& name) {
        return host->Render().OpsOf(name + ui::PaintManager::kFocusMarkSuffix);
    };
    host->ClickControl("first");
    backend->Pump();
    EXPECT_EQ(focused(), "first");
    EXPECT_TRUE(markOps("first").empty());  // a pointer user sees no mark

    key(ui::kVkTab);
    const auto ops = markOps("agree");
    ASSERT_FALSE(ops.empty());
    EXPECT_EQ(ops.back().dest, window.FindControl("agree")->GetPos().Deflate({2, 2, 2, 2}));
    // The mark differs from the background it is drawn on: a person sees it.
    ui::headless::Frame frame = host->Render();
    if (const char* dir = std::getenv("UI_TEST_FRAMES_DIR"))
        frame.image->SavePng(std::string(dir) + "/focus.png");
    const ui::Rect r = window.FindControl("agree")->GetPos();
    EXPECT_NE(frame.image->PixelAt(r.left + 2, r.Center().y), 0xFFF4F4F4u);
    EXPECT_EQ(frame.image->PixelAt(r.left + 2, r.Center().y), 0xFF1565C0u);

    host->Click(window.FindControl("plain")->GetPos().Center());
    backend->Pump();
    EXPECT_TRUE(markOps("agree").empty());
}

TEST_F(Keyboard, ALinkInAButtonSendsLinkAndTheRestOfItClicks) {
    auto* button = window.FindControl<ui::Button>("linked");
    ui::TextLayout* layout = button->GetTextLayout();
    ASSERT_NE(layout, nullptr);
    ASSERT_EQ(layout->Text().links.size(), 1u);
    // The link's place: scan the button's middle row for a point the link answers.
    const ui::Rect r = button->GetPos();
    ui::Point onLink{-1, -1};
    for (int x = r.left; x < r.right && onLink.x < 0; ++x)
        if (layout->LinkAt(button->GetPos(), {x, r.Center().y}) >= 0)
            onLink = {x + 3, r.Center().y};
    ASSERT_GE(onLink.x, 0);

    host->MoveMouse(onLink);
    backend->Pump();
    EXPECT_TRUE(host->IsHandCursor());
    host->Click(onLink);
    backend->Pump();
    ASSERT_EQ(types(), std::vector<std::string>{"link:linked"});
    EXPECT_EQ(window.events[0].text, "terms");

    window.events.clear();
    host->Click({r.right - 5, r.Center().y});
    backend->Pump();
    EXPECT_EQ(types(), std::vector<std::string>{"click:linked"});
}

}  // namespace
