// Behaviour of single controls inside a paint manager: focus and keyboard, scroll bars, groups
// built from markup, drop-down placement, and controls that go away while they are in use.

#include <gtest/gtest.h>

#include "ui/Button.h"
#include "ui/Combo.h"
#include "ui/Edit.h"
#include "ui/HostInput.h"
#include "ui/Layouts.h"
#include "ui/Option.h"
#include "ui/PaintManager.h"
#include "ui/ScrollBar.h"

namespace {

struct Recorder : ui::NotifyListener {
    std::vector<std::pair<std::string, std::string>> seen;
    void Notify(ui::Notification& msg) override {
        seen.emplace_back(msg.type, msg.sender ? msg.sender->GetName() : "");
    }
};

struct Fixture {
    ui::PaintManager pm;
    Recorder recorder;
    explicit Fixture(const std::string& markup, ui::Size size = {300, 300}) {
        pm.Attach(ui::MarkupLoader(nullptr).LoadFromText(markup));
        pm.AddNotifier(&recorder);
        pm.SetClientSize(size);
        pm.Layout();
    }
    void click(const std::string& name) {
        const ui::Point p = pm.FindControl(name)->GetPos().Center();
        ui::HostInputOf(pm).OnMouseMove(p);
        ui::HostInputOf(pm).OnMouseDown(p);
        ui::HostInputOf(pm).OnMouseUp(p);
    }
};

TEST(Controls, TabMovesFocusOverShownFocusableControlsInOrder) {
    Fixture f(
        "<VerticalLayout><Button name='a' height='20'/><Button name='off' height='20' "
        "enabled='false'/>"
        "<Button name='gone' height='20' visible='false'/><Edit name='e' height='20'/><Button "
        "name='b' height='20'/>"
        "</VerticalLayout>");
    std::vector<std::string> order;
    for (int i = 0; i < 4; ++i) {
        ui::HostInputOf(f.pm).OnKeyDown(ui::kVkTab, false);
        order.push_back(f.pm.GetFocus()->GetName());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"a", "e", "b", "a"}));
    // Space on the focused button clicks it; hiding it takes the focus away.
    ui::HostInputOf(f.pm).OnKeyDown(ui::kVkSpace, false);
    EXPECT_EQ(f.recorder.seen.back(), (std::pair<std::string, std::string>{"click", "a"}));
    f.pm.FindControl("a")->SetVisible(false);
    EXPECT_EQ(f.pm.GetFocus(), nullptr);
}

TEST(Controls, OptionsFromMarkupKeepOneSelectedPerGroup) {
    Fixture f(
        "<HorizontalLayout><Option name='a' group='g' selected='true'/><Option name='b' group='g' "
        "selected='true'/>"
        "<Option name='c' group='other' selected='true'/><Option name='free'/></HorizontalLayout>");
    auto selected = [&](const char* n) { return f.pm.Find<ui::Option>(n)->IsSelected(); };
    EXPECT_FALSE(selected("a"));
    EXPECT_TRUE(selected("b"));
    EXPECT_TRUE(selected("c"));
    EXPECT_TRUE(f.recorder.seen.empty());  // markup states are set quietly
    f.pm.Find<ui::Option>("a")->Selected(true);
    EXPECT_TRUE(selected("a"));
    EXPECT_FALSE(selected("b"));
    EXPECT_TRUE(selected("c"));
    f.click("free");
    f.click("free");
    EXPECT_FALSE(selected("free"));
    EXPECT_EQ(f.recorder.seen.size(), 5u);  // a's change, then click + change twice
}

TEST(Controls, ScrollBarButtonsTrackAndThumb) {
    Fixture f(
        "<HorizontalLayout><Control/><ScrollBar name='bar' width='12' "
        "linesize='10'/></HorizontalLayout>",
        {100, 212});
    auto* bar = f.pm.Find<ui::ScrollBar>("bar");
    int reported = -1;
    bar->SetScrollCallback([&](int pos) { reported = pos; });
    bar->SetScrollRange(100, 100);
    const ui::Rect down = bar->PartRect(ui::ScrollBar::kButton2);
    EXPECT_EQ(down, ui::Rect(88, 200, 100, 212));
    ui::HostInputOf(f.pm).OnMouseDown(down.Center());
    ui::HostInputOf(f.pm).OnMouseUp(down.Center());
    EXPECT_EQ(reported, 10);
    // A click on the track below the thumb moves a page; the thumb drags in proportion.
    ui::HostInputOf(f.pm).OnMouseDown({94, 190});
    ui::HostInputOf(f.pm).OnMouseUp({94, 190});
    EXPECT_EQ(bar->GetScrollPos(), 100);
    const ui::Rect thumb = bar->PartRect(ui::ScrollBar::kThumb);
    EXPECT_EQ(thumb.bottom, 200);
    ui::HostInputOf(f.pm).OnMouseDown(thumb.Center());
    ui::HostInputOf(f.pm).OnMouseMove({94, thumb.Center().y - 1000});
    ui::HostInputOf(f.pm).OnMouseUp({94, 0});
    EXPECT_EQ(bar->GetScrollPos(), 0);
    EXPECT_EQ(bar->PartRect(ui::ScrollBar::kThumb).top, 12);
}

TEST(Controls, DropDownOpensAboveWhenThereIsNoRoomBelow) {
    Fixture f(
        "<VerticalLayout><Control/><Combo name='c' height='20' itemheight='20' dropboxsize='0,200'>"
        "<ListLabelElement text='a'/><ListLabelElement text='b'/><ListLabelElement "
        "text='c'/></Combo></VerticalLayout>",
        {200, 100});
    auto* combo = f.pm.Find<ui::Combo>("c");
    f.click("c");
    ASSERT_TRUE(combo->IsDropped());
    const ui::Rect list = combo->GetPopup()->GetPos();
    EXPECT_EQ(list.bottom, combo->GetPos().top);
    EXPECT_EQ(list.Height(), 62);
    // Keys step through the items; a click elsewhere only closes the list.
    ui::HostInputOf(f.pm).OnMouseDown({5, 95});
    EXPECT_FALSE(combo->IsDropped());
    f.pm.SetFocus(combo);
    ui::HostInputOf(f.pm).OnKeyDown(ui::kVkDown, false);
    ui::HostInputOf(f.pm).OnKeyDown(ui::kVkDown, false);
    EXPECT_EQ(combo->GetCurSel(), 1);
}

TEST(Controls, ControlsThatGoAwayLeaveNoDanglingState) {
    Fixture f(
        "<VerticalLayout name='root'><Button name='a' height='40'/><Edit name='e' "
        "height='20'/></VerticalLayout>");
    auto* root = f.pm.Find<ui::VerticalLayout>("root");
    ui::Control* a = f.pm.FindControl("a");
    ui::HostInputOf(f.pm).OnMouseMove(a->GetPos().Center());
    ui::HostInputOf(f.pm).OnMouseDown(a->GetPos().Center());
    f.pm.SetTimer(a, 1, 10);
    EXPECT_EQ(f.pm.GetHot(), a);
    root->Remove(a);
    EXPECT_EQ(f.pm.GetHot(), nullptr);
    EXPECT_EQ(f.pm.GetCaptured(), nullptr);
    EXPECT_FALSE(ui::HostInputOf(f.pm).NextTimerDue());
    ui::HostInputOf(f.pm).OnMouseUp({5, 5});
    f.pm.SetFocus(f.pm.FindControl("e"));
    root->RemoveAll();
    EXPECT_EQ(f.pm.GetFocus(), nullptr);
    ui::HostInputOf(f.pm).OnKeyDown(ui::kVkBack, false);
    EXPECT_TRUE(f.recorder.seen.empty());
}

}  // namespace
