// Layout passes of the stacking and tab layouts, and hit testing over the result.

#include <gtest/gtest.h>

#include "ui/Button.h"
#include "ui/Layouts.h"
#include "ui/PaintManager.h"

namespace {

struct Laid {
    ui::PaintManager pm;
    ui::Rect Pos(const std::string& name) { return pm.FindControl(name)->GetPos(); }
};

std::unique_ptr<Laid> layOut(const std::string& markup, ui::Size client) {
    auto laid = std::make_unique<Laid>();
    laid->pm.Attach(ui::MarkupLoader(nullptr).LoadFromText(markup));
    laid->pm.SetClientSize(client);
    laid->pm.Layout();
    return laid;
}

TEST(Layout, StacksShareWhatFixedChildrenLeave) {
    struct Case {
        const char* markup;
        std::vector<std::pair<const char*, ui::Rect>> expected;
    } cases[] = {
        {"<VerticalLayout inset='5,5,5,5' childpadding='10'>"
         "<Control name='a' height='50'/><Control name='b'/><Control name='c'/><Control name='d' "
         "height='20' width='30'/></VerticalLayout>",
         {{"a", {5, 5, 95, 55}},
          {"b", {5, 65, 95, 120}},
          {"c", {5, 130, 95, 185}},
          {"d", {5, 195, 35, 215}}}},
        {"<HorizontalLayout><Control name='a' width='40' padding='2,3,4,5'/><Control name='b' "
         "maxwidth='10'/><Control name='c'/>"
         "</HorizontalLayout>",
         // What the capped child cannot take goes to the others.
         {{"a", {2, 3, 42, 215}}, {"b", {46, 0, 56, 220}}, {"c", {56, 0, 125, 220}}}},
        // Hidden children take no room; floated ones sit at their pos and take none either.
        {"<VerticalLayout><Control name='gone' height='100' visible='false'/><Control name='a' "
         "height='30'/>"
         "<Control name='f' pos='10,20,40,60'/><Control name='b'/></VerticalLayout>",
         {{"a", {0, 0, 100, 30}}, {"f", {10, 20, 40, 60}}, {"b", {0, 30, 100, 220}}}},
        // More fixed than room: the stack runs over and later children are cut by the parent.
        {"<VerticalLayout><Control name='a' height='200'/><Control name='b' height='100'/><Control "
         "name='c'/></VerticalLayout>",
         {{"a", {0, 0, 100, 200}}, {"b", {0, 200, 100, 300}}, {"c", {0, 300, 100, 300}}}},
    };
    for (const Case& c : cases) {
        auto laid = layOut(c.markup, {c.markup[1] == 'H' ? 125 : 100, 220});
        for (const auto& [name, rect] : c.expected)
            EXPECT_EQ(laid->Pos(name), rect) << c.markup << " / " << name;
    }
}

TEST(Layout, SizeChangesAndVisibilityRelayout) {
    auto laid = layOut(
        "<VerticalLayout><Control name='a' height='40'/><Control name='b'/></VerticalLayout>",
        {100, 100});
    laid->pm.FindControl("a")->SetFixedHeight(70);
    EXPECT_TRUE(laid->pm.IsLayoutNeeded());
    laid->pm.Layout();
    EXPECT_EQ(laid->Pos("b"), ui::Rect(0, 70, 100, 100));
    laid->pm.FindControl("a")->SetVisible(false);
    laid->pm.Layout();
    EXPECT_EQ(laid->Pos("b"), ui::Rect(0, 0, 100, 100));
    laid->pm.SetClientSize({50, 360});
    laid->pm.Layout();
    EXPECT_EQ(laid->Pos("b"), ui::Rect(0, 0, 50, 360));
}

TEST(Layout, HitTestingFindsTheTopmostShownControl) {
    auto laid = layOut(
        "<VerticalLayout>"
        " <TabLayout name='tabs' height='50'>"
        "  <HorizontalLayout><Button name='p0' width='30'/></HorizontalLayout>"
        "  <HorizontalLayout><Button name='p1' width='30'/></HorizontalLayout>"
        " </TabLayout>"
        " <Container height='50' inset='10,10,10,10'><Button name='under'/><Button name='over' "
        "pos='0,0,20,20'/>"
        "  <Label name='through' pos='30,0,60,20'/><Label name='tip' tooltip='hi' "
        "pos='60,0,90,20'/></Container>"
        " <Button name='hidden' height='20' visible='false'/>"
        "</VerticalLayout>",
        {100, 200});
    auto at = [&](int x, int y) {
        ui::Control* c = laid->pm.FindControlAt({x, y});
        return c ? c->GetName() : std::string("-");
    };
    EXPECT_EQ(at(10, 10), "p0");
    static_cast<ui::TabLayout*>(laid->pm.FindControl("tabs"))->SelectItem(1);
    laid->pm.Layout();
    EXPECT_EQ(at(10, 10), "p1");
    EXPECT_EQ(at(5, 65), "over");  // floated, drawn last, hit first
    EXPECT_EQ(at(50, 80), "under");
    EXPECT_EQ(at(45, 65), "under");  // a plain label lets the mouse through
    EXPECT_EQ(at(75, 55), "tip");    // one with a tooltip does not
    EXPECT_EQ(at(50, 95), "-");      // the container's inset is not its child's
    EXPECT_EQ(at(45, 55), "-");
    EXPECT_EQ(at(50, 105), "-");  // hidden
    EXPECT_FALSE(laid->pm.FindControl("p0")->IsShown());
}

}  // namespace
