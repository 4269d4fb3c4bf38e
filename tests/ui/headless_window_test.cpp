// The framework end to end through the headless host: a sample skin with every control is
// built, rendered and clicked, and its notifications, timers, modal runs and cross-thread
// messages are checked.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "test_support.h"
#include "ui/Combo.h"
#include "ui/Edit.h"
#include "ui/HeadlessHost.h"
#include "ui/HostInput.h"
#include "ui/Label.h"
#include "ui/Layouts.h"
#include "ui/Option.h"
#include "ui/Painter.h"
#include "ui/Progress.h"
#include "ui/RichEdit.h"
#include "ui_test_helper.h"

namespace {

using ui::headless::Frame;
using ui::headless::HeadlessBackend;
using ui::headless::HeadlessWindowHost;
using uitest::RecordingWindow;

class HeadlessWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ResetQuit();
        backend = HeadlessBackend::Install();
        backend->SetLoopTimeout(10000);
        ui::SkinPackage::SetDefault(uitest::Skin(uitest::SampleSkin()));
        ASSERT_TRUE(window.Create(nullptr, "Sample", {10, 20, 0, 0}));
        host = backend->HostOf(window);
        ASSERT_NE(host, nullptr);
        window.ShowWindow();
        backend->Pump();
    }
    void TearDown() override { ui::SkinPackage::SetDefault(nullptr); }

    ui::Rect rectOf(const std::string& name) { return window.FindControl(name)->GetPos(); }

    HeadlessBackend* backend = nullptr;
    RecordingWindow window{"main.xml"};
    HeadlessWindowHost* host = nullptr;
};

TEST_F(HeadlessWindow, BuildsTheMarkupSizeAndSendsWindowInitFirst) {
    EXPECT_EQ(window.GetWindowRect(), ui::Rect::FromSize(10, 20, 650, 560));
    ASSERT_FALSE(window.events.empty());
    EXPECT_EQ(window.events.front().type, "windowinit");
    // Pages of the tab layout came from includes written with "\" and "/".
    auto* tabs = window.FindControl<ui::TabLayout>("tabs");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->ChildCount(), 2u);
    EXPECT_NE(window.FindControl("page1_label"), nullptr);
}

TEST_F(HeadlessWindow, RendersEveryControlWhereItBelongs) {
    kvtest::TempDir dir;
    const std::string png = (dir.path() / "frame.png").string();
    ASSERT_TRUE(host->SavePng(png));
    EXPECT_GT(std::filesystem::file_size(png), 1000u);

    Frame frame = host->Render();
    const ui::Image& img = *frame.image;
    // Nine-slice background of the 650 × 60 band: each 10 × 10 corner is copied unscaled.
    const ui::Rect top = rectOf("top");
    for (int d = 0; d < 10; ++d) {
        EXPECT_EQ(img.PixelAt(top.left + d, top.top + d), uitest::kCornerTL);
        EXPECT_EQ(img.PixelAt(top.right - 1 - d, top.top + d), uitest::kCornerTR);
        EXPECT_EQ(img.PixelAt(top.left + d, top.bottom - 1 - d), uitest::kCornerBL);
        EXPECT_EQ(img.PixelAt(top.right - 1 - d, top.bottom - 1 - d), uitest::kCornerBR);
    }
    EXPECT_EQ(img.PixelAt(top.Center().x, top.top + 3), uitest::kEdge);
    // Buttons draw the normal part of their strip; a disabled one the disabled part.
    auto btnOps = frame.OpsOf("btn");
    ASSERT_FALSE(btnOps.empty());
    EXPECT_EQ(btnOps[0].source, ui::Rect(0, 0, 30, 30));
    EXPECT_EQ(img.PixelAt(rectOf("btn").Center().x, rectOf("btn").Center().y), uitest::kNormal);
    EXPECT_EQ(img.PixelAt(rectOf("btn_off").Center().x, rectOf("btn_off").Center().y),
              uitest::kDisabled);
    // Progress 25 of 0..100 over 200 pixels fills 50.
    const ui::Rect bar = rectOf("progress");
    auto fore = frame.OpsOf("progress");
    ASSERT_EQ(fore.size(), 2u);  // background fill, fore image
    EXPECT_EQ(fore[1].clip.Width(), 50);
    EXPECT_EQ(img.PixelAt(bar.left + 45, bar.top + 10), uitest::kFore);
    EXPECT_EQ(img.PixelAt(bar.left + 55, bar.top + 10), uitest::kProgressBk);
    // Text goes into its control's box with the tags taken out.
    auto title = frame.OpsOf("title");
    ASSERT_FALSE(title.empty());
    EXPECT_EQ(title.back().text, "Title");
    EXPECT_EQ(title.back().dest, rectOf("title"));
    // Hidden controls and pages not shown are not drawn.
    EXPECT_TRUE(frame.OpsOf("hidden_label").empty());
    EXPECT_TRUE(frame.OpsOf("page1").empty());
    EXPECT_FALSE(frame.OpsOf("link_text").empty());
}

TEST_F(HeadlessWindow, ButtonImagesFollowTheMouse) {
    const ui::Rect btn = rectOf("btn");
    auto sourceNow = [&] { return host->Render().OpsOf("btn").at(0).source; };
    host->MoveMouse(btn.Center());
    backend->Pump();
    EXPECT_EQ(sourceNow(), ui::Rect(30, 0, 60, 30));
    window.Invoke([&] { ui::HostInputOf(window.GetPaintManager()).OnMouseDown(btn.Center()); });
    backend->Pump();
    EXPECT_EQ(sourceNow(), ui::Rect(60, 0, 90, 30));
    // Dragged off while pressed: no longer pushed, and releasing there is no click.
    window.Invoke([&] {
        ui::HostInputOf(window.GetPaintManager()).OnMouseMove({btn.right + 50, btn.top});
    });
    window.Invoke([&] {
        ui::HostInputOf(window.GetPaintManager()).OnMouseUp({btn.right + 50, btn.top});
    });
    backend->Pump();
    EXPECT_EQ(sourceNow(), ui::Rect(0, 0, 30, 30));
    EXPECT_TRUE(window.typesOf("btn").empty());
}

TEST_F(HeadlessWindow, ClicksRaiseTheRightNotificationsWithTheRightSender) {
    host->ClickControl("btn");
    host->ClickControl("btn_off");  // disabled: nothing
    host->ClickControl("check");
    host->ClickControl("check");
    host->ClickControl("opt2");
    host->ClickControl("opt2");  // selected already: no second change
    backend->Pump();
    EXPECT_EQ(window.typesOf("btn"), std::vector<std::string>{"click"});
    EXPECT_TRUE(window.typesOf("btn_off").empty());
    // Click first (the handler sees the state before the toggle), then the change.
    EXPECT_EQ(window.typesOf("check"),
              (std::vector<std::string>{"click", "selectchanged", "click", "selectchanged"}));
    EXPECT_FALSE(window.FindControl<ui::CheckBox>("check")->GetCheck());
    EXPECT_EQ(window.typesOf("opt2"),
              (std::vector<std::string>{"click", "selectchanged", "click"}));
    // The option that was cleared by the group says nothing.
    EXPECT_TRUE(window.typesOf("opt1").empty());
    EXPECT_FALSE(window.FindControl<ui::Option>("opt1")->IsSelected());
    EXPECT_TRUE(window.FindControl<ui::Option>("opt2")->IsSelected());
}

TEST_F(HeadlessWindow, ComboOffersVisibleItemsAndReportsTheSelection) {
    auto* combo = window.FindControl<ui::Combo>("combo");
    ASSERT_NE(combo, nullptr);
    host->SelectComboItem("combo", 2);
    backend->Pump();
    EXPECT_EQ(combo->GetCurSel(), 2);
    EXPECT_FALSE(combo->IsDropped());
    ASSERT_EQ(window.typesOf("combo"), std::vector<std::string>{"itemselect"});
    EXPECT_EQ(window.events.back().wParam, 2u);
    // The hidden item is not offered; choosing the same item again is no change.
    host->SelectComboItem("combo", 1);
    host->SelectComboItem("combo", 2);
    backend->Pump();
    EXPECT_EQ(combo->GetCurSel(), 2);
    EXPECT_EQ(window.typesOf("combo").size(), 1u);
    // The open list sits below the box, shows the items' tooltips, and closes on Escape.
    host->ClickControl("combo");
    backend->Pump();
    ASSERT_TRUE(combo->IsDropped());
    const ui::Rect first = combo->GetPopup()->ItemRect(0);
    EXPECT_GE(first.top, combo->GetPos().bottom);
    EXPECT_TRUE(combo->GetPopup()->ItemRect(1).IsEmpty());
    host->MoveMouse(first.Center());
    backend->Pump();
    EXPECT_EQ(host->GetToolTip(), " English");
    host->PressKey(ui::kVkEscape);
    backend->Pump();
    EXPECT_FALSE(combo->IsDropped());
}

TEST_F(HeadlessWindow, LinksInTextRaiseLinkWithTheirTarget) {
    auto* text = window.FindControl<ui::Label>("link_text");
    ASSERT_NE(text, nullptr);
    ui::TextLayout* layout = text->GetTextLayout();
    ASSERT_NE(layout, nullptr);
    const ui::Rect box = text->GetPos();
    // Walk along the line until the link is under the mouse.
    ui::Point onLink{-1, -1};
    for (int x = box.left; x < box.right && onLink.x < 0; ++x)
        if (layout->LinkAt(box, {x, box.Center().y}) == 0)
            onLink = {x + 2, box.Center().y};
    ASSERT_GE(onLink.x, 0);
    host->Click({box.left + 1, box.Center().y});  // on plain text: nothing
    host->Click(onLink);
    backend->Pump();
    ASSERT_EQ(window.typesOf("link_text"), std::vector<std::string>{"link"});
    EXPECT_EQ(window.events.back().text, "https://licence.example/");
    EXPECT_TRUE(host->IsHandCursor());
}

TEST_F(HeadlessWindow, RichEditScrollsAndItsLinkWorksAtTheEnd) {
    auto* rich = window.FindControl<ui::RichEdit>("rich");
    ASSERT_NE(rich, nullptr);
    ASSERT_GT(rich->GetScrollRange(), 0);
    ASSERT_NE(rich->GetVerticalScrollBar(), nullptr);
    // The bar is drawn from the skin's bitmap through the VScrollBar default.
    bool barDrawn = false;
    const Frame frame = host->Render();
    for (const ui::DrawOp& op : frame.ops.Ops())
        barDrawn |= op.image == "skin\\scrollbar.bmp";
    EXPECT_TRUE(barDrawn);
    host->Wheel(rich->GetPos().Center(), -1000);
    backend->Pump();
    EXPECT_EQ(rich->GetScrollPos(), rich->GetScrollRange());
    const ui::Rect box = rich->GetPos();
    ui::Point onLink{-1, -1};
    ui::TextLayout* layout = rich->GetTextLayout();
    for (int y = box.bottom - 1; y > box.top && onLink.x < 0; --y)
        for (int x = box.left; x < box.left + 200 && onLink.x < 0; x += 2)
            if (layout->LinkAt({box.left, box.top, box.right - 12, box.bottom}, {x, y},
                               rich->GetScrollPos()) == 0)
                onLink = {x, y};
    ASSERT_GE(onLink.x, 0);
    host->Click(onLink);
    backend->Pump();
    EXPECT_EQ(window.typesOf("rich"), std::vector<std::string>{"link"});
}

TEST_F(HeadlessWindow, TabPagesSwitch) {
    auto* tabs = window.FindControl<ui::TabLayout>("tabs");
    EXPECT_TRUE(tabs->SelectItem(1));
    EXPECT_FALSE(tabs->SelectItem(5));
    EXPECT_EQ(tabs->GetCurSel(), 1);
    Frame frame = host->Render();
    EXPECT_TRUE(frame.OpsOf("btn").empty());
    EXPECT_FALSE(frame.OpsOf("page1").empty());
    EXPECT_EQ(frame.image->PixelAt(tabs->GetPos().Center().x, tabs->GetPos().bottom - 2),
              0xFF00FF00u);
    // Controls on the page not shown cannot be clicked.
    host->Click(rectOf("btn").Center());
    backend->Pump();
    EXPECT_TRUE(window.typesOf("btn").empty());
    EXPECT_FALSE(window.FindControl("btn")->IsShown());
}

TEST_F(HeadlessWindow, TimersFireByIdAndStopWhenKilled) {
    window.SetTimer(7, 20);
    window.SetTimer(8, 60000);
    EXPECT_TRUE(backend->RunUntilFor([&] { return window.messages.size() >= 2; }, 5000));
    for (const auto& [message, id] : window.messages) {
        EXPECT_EQ(message, ui::kWmTimer);
        EXPECT_EQ(id, 7u);
    }
    window.KillTimer(7);
    const size_t ticks = window.messages.size();
    backend->RunFor(80);
    EXPECT_EQ(window.messages.size(), ticks);
    // Injected ticks reach a timer that is set, and only such a timer.
    host->TickTimer(8);
    host->TickTimer(9);
    backend->Pump();
    ASSERT_EQ(window.messages.size(), ticks + 1);
    EXPECT_EQ(window.messages.back().second, 8u);
    // A control's timer arrives as the "timer" notification with the id.
    window.GetPaintManager().SetTimer(window.FindControl("title"), 3, 60000);
    host->TickControlTimer("title", 3);
    backend->Pump();
    EXPECT_EQ(window.typesOf("title"), std::vector<std::string>{"timer"});
}

TEST_F(HeadlessWindow, ModalBoxReturnsTheResultOfTheButtonThatClosedIt) {
    for (const auto& [button, expected] :
         {std::pair<std::string, int>{"btn_yes", 1}, {"btn_no", 2}}) {
        RecordingWindow box("box.xml");
        box.closeOn = {{"btn_yes", 1}, {"btn_no", 2}};
        ASSERT_TRUE(box.Create(&window, "MSGUIDemo", {0, 0, 452, 190}));
        box.CenterWindow();
        // The markup's size wins over the one asked for; centred on the 1920 × 1080 screen.
        EXPECT_EQ(box.GetWindowRect(), ui::Rect::FromSize(810, 480, 300, 120));
        bool ownerBlocked = false;
        backend->SetShowHook([&](HeadlessWindowHost& shown) {
            if (&shown.Window() != &box)
                return;
            ownerBlocked = !host->IsInputEnabled();
            host->ClickControl("btn");  // the owner takes no input meanwhile
            shown.ClickControl(button);
        });
        EXPECT_EQ(box.ShowModal(), expected);
        backend->SetShowHook(nullptr);
        EXPECT_TRUE(ownerBlocked);
        EXPECT_TRUE(host->IsInputEnabled());
        EXPECT_FALSE(box.IsWindowVisible());
    }
    backend->Pump();
    EXPECT_TRUE(window.typesOf("btn").empty());
}

TEST_F(HeadlessWindow, MessagesFromAnotherThreadArriveOnTheUiThreadInOrder) {
    constexpr int kCount = 200;
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i)
            window.PostMessage(ui::kWmUser + 1 + (i % 4), ui::WParam(i));
    });
    EXPECT_TRUE(
        backend->RunUntilFor([&] { return window.messages.size() >= size_t(kCount); }, 10000));
    worker.join();
    ASSERT_EQ(window.messages.size(), size_t(kCount));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(window.messages[size_t(i)].second, ui::WParam(i));
        EXPECT_EQ(window.messages[size_t(i)].first, ui::kWmUser + 1 + unsigned(i % 4));
    }
    for (const auto& e : window.events)
        EXPECT_TRUE(e.onUiThread);
}

TEST_F(HeadlessWindow, AWorkerWaitsForTheAnswerOfAModalBox) {
    // As the install worker asks the user: the box is built and run on the UI thread.
    backend->SetShowHook([](HeadlessWindowHost& shown) {
        if (shown.Window().GetSkinFile() == "box.xml")
            shown.ClickControl("btn_no");
    });
    std::atomic<int> answer{0};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        auto result = window.InvokeAndWait([&] {
            RecordingWindow box("box.xml");
            box.closeOn = {{"btn_yes", 1}, {"btn_no", 2}};
            box.Create(&window, "MSGUIDemo");
            return box.ShowModal();
        });
        answer = result.value_or(-1);
        finished = true;
    });
    EXPECT_TRUE(backend->RunUntilFor([&] { return finished.load(); }, 10000));
    worker.join();
    backend->SetShowHook(nullptr);
    EXPECT_EQ(answer.load(), 2);
}

TEST_F(HeadlessWindow, AWaitingWorkerIsReleasedWhenTheWindowGoesAway) {
    auto doomed = std::make_unique<RecordingWindow>("box.xml");
    ASSERT_TRUE(doomed->Create(nullptr, "x"));
    // The worker holds the queue, not the window: the queue outlives it.
    std::shared_ptr<ui::MessageQueue> queue = doomed->GetMessageQueue();
    std::atomic<bool> released{false};
    std::optional<int> result = 5;
    std::thread worker([&] {
        result = queue->InvokeAndWait([] { return 1; });
        released = true;
    });
    // Give the worker time to queue its call, then destroy the window without running it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    doomed.reset();
    worker.join();
    EXPECT_TRUE(released);
    EXPECT_FALSE(result.has_value());
    EXPECT_FALSE(queue->PostMessage(ui::kWmUser + 1));
}

TEST_F(HeadlessWindow, EditTakesTypedTextAndReportsTheChange) {
    auto* edit = window.FindControl<ui::Edit>("edit");
    host->ClickControl("edit");
    backend->Pump();
    EXPECT_EQ(host->GetEditing(), edit);
    host->PressKey(ui::kVkBack);
    host->TypeText("X\xC3\xA9");   // é counts as one character
    host->TypeText("0123456789");  // beyond maxchar="20"
    host->PressKey(ui::kVkReturn);
    backend->Pump();
    EXPECT_EQ(edit->GetText(),
              "C:\\QuenlakX\xC3\xA9"
              "01234567");
    EXPECT_EQ(host->GetEditing(), nullptr);
    EXPECT_EQ(window.typesOf("edit"), std::vector<std::string>{"textchanged"});
}

TEST_F(HeadlessWindow, DefaultKeysAndSystemCommands) {
    struct EscapeSwallower : RecordingWindow {
        using RecordingWindow::RecordingWindow;
        bool ResponseDefaultKeyEvent(ui::WParam key) override { return key == ui::kVkEscape; }
    } box("box.xml");
    ASSERT_TRUE(box.Create(nullptr, "keys"));
    auto* boxHost = backend->HostOf(box);
    box.GetPaintManager().SetFocus(box.FindControl("btn_yes"));
    boxHost->PressKey(ui::kVkEscape);  // swallowed by the window
    boxHost->PressKey(ui::kVkReturn);  // passed on: the focused button clicks
    boxHost->SystemCommand(ui::kScMinimize);
    backend->Pump();
    EXPECT_EQ(box.typesOf("btn_yes"), std::vector<std::string>{"click"});
    EXPECT_TRUE(boxHost->IsMinimized());
    boxHost->SystemCommand(ui::kScClose);
    backend->Pump();
    EXPECT_TRUE(box.IsClosed());
}

TEST_F(HeadlessWindow, TypedLookupReturnsNullForAWrongNameOrType) {
    uitest::LogCapture log;
    EXPECT_EQ(window.FindControl<ui::Button>("no_such_control"), nullptr);
    EXPECT_EQ(window.FindControl<ui::Progress>("btn"), nullptr);
    EXPECT_NE(window.FindControl<ui::Button>("check"), nullptr);  // a check box is a button
    EXPECT_EQ(log.Count("Control not found: \"no_such_control\""), 1);
    EXPECT_EQ(log.Count("\"btn\" is a Button, not a Progress"), 1);
}

TEST_F(HeadlessWindow, CaptionAreaStartsADragOnlyOffControls) {
    host->Click({100, 30});                  // on the band, not a control
    host->Click(rectOf("minbtn").Center());  // on a button inside the caption
    host->Click({100, 300});                 // below the caption
    backend->Pump();
    EXPECT_EQ(host->CaptionDragCount(), 1);
    EXPECT_EQ(window.typesOf("minbtn"), std::vector<std::string>{"click"});
}

TEST_F(HeadlessWindow, ResizingTheWindowLaysItOutAgain) {
    const ui::Rect closeBefore = rectOf("closebtn");
    window.ResizeClient(800, 600);
    Frame frame = host->Render();
    EXPECT_EQ(frame.image->Width(), 800);
    EXPECT_EQ(frame.image->Height(), 600);
    // Right-hand controls follow the new width; the band takes the whole of it.
    EXPECT_EQ(rectOf("top").Width(), 800);
    EXPECT_EQ(rectOf("closebtn").left, closeBefore.left + 150);
    EXPECT_EQ(frame.image->PixelAt(799, rectOf("top").top), uitest::kCornerTR);
}

TEST_F(HeadlessWindow, PicturesAddedAtRunTimeServeAsBackgrounds) {
    // A window may render a picture itself and show it under a name of its own.
    auto picture = ui::Image::Create(8, 8);
    {
        ui::Painter painter(*picture);
        painter.FillRect({0, 0, 8, 8}, ui::Color(0xFF12AB34));
    }
    window.GetPaintManager().Images().Add("FirstFrame", picture);
    window.FindControl("row2")->SetBkImage("FirstFrame");
    const ui::Rect row = rectOf("row2");
    const ui::Point spot{row.right - 3, row.bottom - 3};  // right of every control in the row
    EXPECT_EQ(host->Render().image->PixelAt(spot.x, spot.y), 0xFF12AB34u);
    // Replaced under the same name, the next frame shows the new picture.
    auto other = ui::Image::Create(8, 8);
    {
        ui::Painter painter(*other);
        painter.FillRect({0, 0, 8, 8}, ui::Color(0xFF3456CD));
    }
    window.GetPaintManager().Images().Add("FirstFrame", other);
    window.GetPaintManager().Invalidate();
    EXPECT_EQ(host->Render().image->PixelAt(spot.x, spot.y), 0xFF3456CDu);
}

TEST_F(HeadlessWindow, SelectingQuietlySendsNothing) {
    window.events.clear();
    auto* combo = window.FindControl<ui::Combo>("combo");
    ASSERT_TRUE(combo->SelectItem(2, false));
    EXPECT_EQ(combo->GetCurSel(), 2);
    EXPECT_FALSE(combo->SelectItem(99, false));
    EXPECT_EQ(combo->GetCurSel(), 2);
    auto* tabs = window.FindControl<ui::TabLayout>("tabs");
    ASSERT_TRUE(tabs->SelectItem(1));
    window.FindControl<ui::Option>("opt2")->Selected(true, false);
    backend->Pump();
    EXPECT_TRUE(window.events.empty());
    EXPECT_FALSE(window.FindControl<ui::Option>("opt1")->IsSelected());
    // The frame shows the quietly chosen item.
    const auto ops = host->Render().OpsOf("combo");
    EXPECT_TRUE(std::any_of(ops.begin(), ops.end(), [&](const ui::DrawOp& op) {
        return op.kind == ui::DrawOp::Kind::Text && op.text == combo->GetItemAt(2)->GetText();
    }));
}

TEST(HeadlessWindowErrors, BrokenMarkupStillOpensAWindow) {
    HeadlessBackend* backend = HeadlessBackend::Install();
    auto skin = uitest::Skin(
        {{"broken.xml", "<Window size=\"300,200\"><VerticalLayout><Label text='x'></Window>"},
         {"absurd.xml", "<Window size=\"100000,-5\"><Frobnicator/><VerticalLayout/></Window>"}});
    uitest::LogCapture log;
    for (const char* file : {"broken.xml", "absurd.xml", "missing.xml"}) {
        RecordingWindow w(file);
        w.SetSkinPackage(skin);
        ASSERT_TRUE(w.Create(nullptr, file)) << file;
        w.ShowWindow();
        backend->Pump();
        EXPECT_TRUE(w.IsWindowVisible());
        Frame frame = backend->HostOf(w)->Render();
        EXPECT_NE(frame.image, nullptr) << file;
    }
    EXPECT_GE(log.Count("broken.xml is not well-formed XML"), 1);
    EXPECT_GE(log.Count("100000,-5"), 1);
    EXPECT_GE(log.Count("unknown tag <Frobnicator>"), 1);
    EXPECT_GE(log.Count("Markup file not found in the skin package: missing.xml"), 1);
}

}  // namespace
