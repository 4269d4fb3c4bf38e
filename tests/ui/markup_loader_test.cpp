// The markup loader against skins built in memory: window settings, fonts, defaults, includes,
// and every kind of bad input it must survive with a clear message.

#include <gtest/gtest.h>

#include "ui/Button.h"
#include "ui/Combo.h"
#include "ui/Label.h"
#include "ui/Layouts.h"
#include "ui/MarkupLoader.h"
#include "ui/Option.h"
#include "ui_test_helper.h"

namespace {

using ui::MarkupDocument;
using ui::MarkupLoader;

MarkupDocument load(const std::map<std::string, std::string>& files, const std::string& path,
                    std::string folder = {}) {
    return MarkupLoader(uitest::Skin(files), std::move(folder)).Load(path);
}

bool mentions(const MarkupDocument& doc, const std::string& fragment) {
    for (const std::string& p : doc.problems)
        if (p.find(fragment) != std::string::npos)
            return true;
    return false;
}

ui::Control* find(const MarkupDocument& doc, const std::string& name) {
    std::function<ui::Control*(ui::Control*)> walk = [&](ui::Control* c) -> ui::Control* {
        if (!c)
            return nullptr;
        if (c->GetName() == name)
            return c;
        for (size_t i = 0; i < c->ChildCount(); ++i)
            if (ui::Control* hit = walk(c->ChildAt(i)))
                return hit;
        return nullptr;
    };
    return walk(doc.root.get());
}

TEST(MarkupLoader, ReadsWindowSettingsFontsAndDefaults) {
    auto doc = load(
        {{"w.xml",
          "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
          "<Window size=\"650,560\" sizebox=\"4,4,4,4\" caption=\"0,0,0,310\" roundcorner=\"5,5\" "
          "showshadow=\"true\" shadowsize=\"6\" bktrans=\"true\" gdiplustext=\"true\" "
          "linkfontcolor=\"#FF112233\" linkhoverfontcolor=\"#FF445566\">"
          "<Font name=\"Microsoft YaHei\" size=\"12\"/>"
          "<Font id=\"1\" name=\"Times New Roman\" size=\"14\" bold=\"true\" italic=\"true\" "
          "underline=\"true\" default=\"true\"/>"
          "<DEFAULT name=\"Button\" value=\"textcolor=&quot;#FF0000FF&quot; "
          "width=&quot;80&quot;\"/>"
          "<verticallayout name=\"root\">"
          "<Button name=\"a\"/><button name=\"b\" width=\"20\"/>"
          "</verticallayout></Window>"}},
        "w.xml");
    EXPECT_TRUE(doc.problems.empty()) << doc.problems.front();
    ASSERT_TRUE(doc.isWindow);
    EXPECT_EQ(doc.window.size, (ui::Size{650, 560}));
    EXPECT_EQ(doc.window.CaptionRect({650, 560}), ui::Rect(0, 0, 650, 310));
    EXPECT_EQ(doc.window.roundCorner, (ui::Size{5, 5}));
    EXPECT_TRUE(doc.window.bkTrans);
    EXPECT_EQ(doc.window.linkColor, ui::Color(0xFF112233));
    EXPECT_EQ(doc.window.linkHoverColor, ui::Color(0xFF445566));
    ASSERT_EQ(doc.fonts.size(), 2u);
    EXPECT_EQ(doc.fonts[1], (ui::FontDesc{"Times New Roman", 14, true, true, true}));
    EXPECT_EQ(doc.defaultFont, 1);
    // Defaults first, then the element's own attributes; tag names ignore case.
    auto* a = dynamic_cast<ui::Button*>(find(doc, "a"));
    auto* b = dynamic_cast<ui::Button*>(find(doc, "b"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->GetTextColor(), ui::Color(0xFF0000FF));
    EXPECT_EQ(a->GetFixedWidth(), 80);
    EXPECT_EQ(b->GetFixedWidth(), 20);
}

TEST(MarkupLoader, IncludedRootTakesTheIncludesPlace) {
    const std::map<std::string, std::string> files = {
        {"Main.xml",
         "<Window><Include source=\"styles.xml\"/><TabLayout name=\"tabs\" selectedid=\"1\">"
         "<Include source=\"pages\\One.xml\"/><Include source=\"PAGES/two.xml\"/><Label "
         "name=\"third\"/>"
         "</TabLayout></Window>"},
        // A Window root contributes its children: here a font and a default.
        {"styles.xml",
         "<Window><Font name=\"Arial\" size=\"9\"/><Default name=\"Label\" "
         "value=\"height=&quot;7&quot;\"/></Window>"},
        {"pages/one.xml", "<VerticalLayout name=\"one\"><Label name=\"in_one\"/></VerticalLayout>"},
        {"pages/two.xml", "<HorizontalLayout name=\"two\"/>"},
    };
    auto doc = load(files, "main.xml");
    EXPECT_TRUE(doc.problems.empty());
    auto* tabs = dynamic_cast<ui::TabLayout*>(doc.root.get());
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->ChildCount(), 3u);
    EXPECT_EQ(tabs->ChildAt(0)->GetName(), "one");
    EXPECT_EQ(tabs->ChildAt(1)->GetName(), "two");
    EXPECT_EQ(tabs->ChildAt(2)->GetName(), "third");
    EXPECT_EQ(tabs->GetCurSel(), 1);
    ASSERT_EQ(doc.fonts.size(), 1u);
    EXPECT_EQ(find(doc, "in_one")->GetFixedHeight(), 7);
}

TEST(MarkupLoader, FilesAreFoundBelowTheSkinFolderToo) {
    auto doc = load({{"skin/w.xml", "<Window><Include source=\"page.xml\"/></Window>"},
                     {"skin/page.xml", "<Label name=\"found\"/>"}},
                    "w.xml", "skin\\");
    EXPECT_NE(find(doc, "found"), nullptr);
}

TEST(MarkupLoader, BadInputGivesAMessageAndKeepsWhatItCan) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> files;
        const char* problem;
        const char* survivor;  // a control that must still be there, or ""
    } cases[] = {
        {"malformed XML",
         {{"m.xml", "<Window><VerticalLayout><Label name='x'></Window>"}},
         "not well-formed XML",
         ""},
        {"empty file", {{"m.xml", ""}}, "not well-formed XML", ""},
        {"missing include",
         {{"m.xml",
           "<VerticalLayout><Include source='gone.xml'/><Label name='kept'/></VerticalLayout>"}},
         "includes gone.xml, which is not in the skin package",
         "kept"},
        {"include without source",
         {{"m.xml", "<VerticalLayout><Include/><Label name='kept'/></VerticalLayout>"}},
         "Include without source",
         "kept"},
        {"self include",
         {{"m.xml", "<VerticalLayout name='kept'><Include source='M.XML'/></VerticalLayout>"}},
         "again inside itself",
         "kept"},
        {"mutual include",
         {{"m.xml", "<VerticalLayout name='kept'><Include source='a.xml'/></VerticalLayout>"},
          {"a.xml", "<VerticalLayout name='a'><Include source='m.xml'/></VerticalLayout>"}},
         "again inside itself",
         "a"},
        {"broken include",
         {{"m.xml", "<VerticalLayout name='kept'><Include source='b.xml'/></VerticalLayout>"},
          {"b.xml", "<Label"}},
         "b.xml is not well-formed XML",
         "kept"},
        {"unknown tag",
         {{"m.xml",
           "<VerticalLayout><Gizmo><Label name='lost'/></Gizmo><Label "
           "name='kept'/></VerticalLayout>"}},
         "unknown tag <Gizmo>",
         "kept"},
        {"absurd window size",
         {{"m.xml", "<Window size='99999,0'><VerticalLayout name='kept'/></Window>"}},
         "outside 1..8192",
         "kept"},
        {"second root",
         {{"m.xml",
           "<Window><VerticalLayout name='kept'/><VerticalLayout name='extra'/></Window>"}},
         "second root layout",
         "kept"},
        {"child of a leaf",
         {{"m.xml", "<VerticalLayout><Label name='kept'><Button/></Label></VerticalLayout>"}},
         "Label cannot hold <Button>",
         "kept"},
        {"font size",
         {{"m.xml", "<Window><Font name='a' size='900'/><VerticalLayout name='kept'/></Window>"}},
         "outside 1..256",
         "kept"},
        {"nested window",
         {{"m.xml", "<VerticalLayout name='kept'><Window/></VerticalLayout>"}},
         "Window inside a layout",
         "kept"},
    };
    for (const Case& c : cases) {
        auto doc = load(c.files, "m.xml");
        EXPECT_TRUE(mentions(doc, c.problem))
            << c.what << ": " << (doc.problems.empty() ? "(none)" : doc.problems[0]);
        if (*c.survivor) {
            EXPECT_NE(find(doc, c.survivor), nullptr) << c.what;
        }
    }
    EXPECT_EQ(find(load(cases[7].files, "m.xml"), "lost"), nullptr);
    EXPECT_EQ(load(cases[8].files, "m.xml").window.size, (ui::Size{8192, 1}));
}

TEST(MarkupLoader, UnknownAttributesAreReportedOncePerTagAndName) {
    uitest::LogCapture log;
    const std::map<std::string, std::string> files = {
        {"m.xml",
         "<VerticalLayout><Button name='a' sparkle='1'/><Button name='b' sparkle='2'/><Label "
         "sparkle='3'/>"
         "<Button name='c' textcolor='purple' bkimage=\"file='x.png' "
         "source='1,2'\"/></VerticalLayout>"}};
    auto first = load(files, "m.xml");
    auto second = load(files, "m.xml");
    EXPECT_TRUE(mentions(first, "Button does not know the attribute sparkle"));
    EXPECT_TRUE(mentions(second, "Button does not know the attribute sparkle"));
    EXPECT_EQ(log.Count("Button does not know the attribute sparkle"), 1);
    EXPECT_EQ(log.Count("Label does not know the attribute sparkle"), 1);
    // Values that do not parse name the attribute and leave the property alone.
    EXPECT_EQ(log.Count("textcolor=\"purple\""), 1);
    EXPECT_EQ(log.Count("bad source='1,2'"), 1);
    auto* c = dynamic_cast<ui::Button*>(find(first, "c"));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->GetTextColor(), ui::Color(0xFF000000));
    EXPECT_TRUE(c->GetBkImage().empty());
}

TEST(MarkupLoader, HostileNestingAndSizeAreBounded) {
    // Deeper than the loader allows, within what the XML parser itself accepts.
    std::string deep;
    for (int i = 0; i < 90; ++i)
        deep += "<VerticalLayout>";
    for (int i = 0; i < 90; ++i)
        deep += "</VerticalLayout>";
    auto doc = load({{"deep.xml", deep}}, "deep.xml");
    EXPECT_TRUE(mentions(doc, "nests deeper than 64"));
    ASSERT_NE(doc.root, nullptr);

    std::string wide = "<VerticalLayout>";
    for (int i = 0; i < MarkupLoader::kMaxElements + 10; ++i)
        wide += "<Label/>";
    wide += "</VerticalLayout>";
    auto big = load({{"wide.xml", wide}}, "wide.xml");
    EXPECT_TRUE(mentions(big, "more than 20000 elements"));
    EXPECT_LT(big.root->ChildCount(), size_t(MarkupLoader::kMaxElements));
}

TEST(MarkupLoader, LanguageFilesAreControlTreesInDocumentOrder) {
    // As the window reads a language file: pages by name, labels in order, the wrapper's name
    // irrelevant.
    auto doc = load({{"language/language_thai.xml",
                      "<VerticalLayout><VerticalLayout name=\"language_english\">"
                      "<VerticalLayout name=\"install_page\"><Label name=\"install_btn\" "
                      "text=\"\xE0\xB8\x95\xE0\xB8\xB4\xE0\xB8\x94\"/>"
                      "<Label name=\"install_btn\" text=\"second\"/><Label "
                      "name=\"text_product_name\" text=\"#@!SoftwareName#@!\"/></VerticalLayout>"
                      "<VerticalLayout name=\"message_page\"><Label name=\"YesText\" "
                      "text=\"Yes\"/></VerticalLayout>"
                      "</VerticalLayout></VerticalLayout>"}},
                    "language\\language_thai.xml");
    EXPECT_TRUE(doc.problems.empty());
    ui::Control* page = find(doc, "install_page");
    ASSERT_NE(page, nullptr);
    ASSERT_EQ(page->ChildCount(), 3u);
    EXPECT_EQ(page->ChildAt(0)->GetText(), "\xE0\xB8\x95\xE0\xB8\xB4\xE0\xB8\x94");
    EXPECT_EQ(page->ChildAt(2)->GetText(), "#@!SoftwareName#@!");
    EXPECT_EQ(find(doc, "YesText")->GetText(), "Yes");

    // The document answers lookups itself: first of a name wins, children in order.
    EXPECT_EQ(doc.FindControl("install_btn"), page->ChildAt(0));
    EXPECT_EQ(doc.FindControl("nothing"), nullptr);
    EXPECT_EQ(doc.FindControl(""), nullptr);
    using Texts = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(doc.ChildTexts("message_page"), (Texts{{"YesText", "Yes"}}));
    EXPECT_EQ(doc.ChildTexts("install_page").size(), 3u);
    EXPECT_EQ(doc.ChildTexts("install_page")[1],
              (std::pair<std::string, std::string>{"install_btn", "second"}));
    EXPECT_TRUE(doc.ChildTexts("YesText").empty());  // a label has no children
    EXPECT_TRUE(doc.ChildTexts("missing").empty());
}

TEST(MarkupLoader, LookupsInDeepTreesStayBounded) {
    // A tree deeper than any lookup walks: the search stops instead of exhausting the stack.
    std::unique_ptr<ui::Control> root = std::make_unique<ui::VerticalLayout>();
    ui::Container* at = static_cast<ui::Container*>(root.get());
    for (int i = 0; i < 1000; ++i) {
        auto next = std::make_unique<ui::VerticalLayout>();
        ui::Container* raw = next.get();
        at->Add(std::move(next));
        at = raw;
    }
    auto leaf = std::make_unique<ui::Label>();
    leaf->SetName("deep");
    at->Add(std::move(leaf));
    EXPECT_EQ(ui::FindControlIn(root.get(), "deep"), nullptr);
    int visited = 0;
    ui::ForEachControl(root.get(), [&](ui::Control&) { return ++visited > 0; });
    EXPECT_LT(visited, 1000);
}

TEST(MarkupLoader, ComboTakesOnlyListItems) {
    auto doc = load({{"c.xml",
                      "<Combo name='c'><ListLabelElement text='a' "
                      "selected='true'/><ListLabelElement text='b' visible='false'/>"
                      "<Label text='no'/></Combo>"}},
                    "c.xml");
    auto* combo = dynamic_cast<ui::Combo*>(doc.root.get());
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->GetCount(), 2);
    EXPECT_EQ(combo->GetCurSel(), 0);
    EXPECT_FALSE(combo->GetItemAt(1)->IsVisible());
    EXPECT_TRUE(mentions(doc, "Combo cannot hold <Label>"));
}

TEST(MarkupElements, KeepTheFileAsWrittenWithoutBuildingOrIncluding) {
    std::string error;
    const auto root = MarkupLoader::ParseElements(
        "<?xml version=\"1.0\"?><!-- a note --><Window size='10,10'>"
        "<Font name='A'/><Default name='Button' value=\"bkimage='a.png'\"/>"
        "<Include source='gone.xml'/>"
        "<Gizmo name='g' knobimage='k.png'><Label name='inner'/></Gizmo>"
        "<Label name='l' Text='upper' text='lower' bkimage='x&amp;y.png'/></Window>",
        &error);
    ASSERT_TRUE(root) << error;
    EXPECT_EQ(root->tag, "Window");
    // Elements the loader turns into settings, skips or reports are all there, in order.
    std::vector<std::string> tags;
    root->ForEach([&](const ui::MarkupElement& e) { tags.push_back(e.tag); });
    EXPECT_EQ(tags, (std::vector<std::string>{"Window", "Font", "Default", "Include", "Gizmo",
                                              "Label", "Label"}));
    ASSERT_EQ(root->children.size(), 5u);
    EXPECT_TRUE(root->children[2].children.empty());  // the include is not followed
    const ui::MarkupElement& label = root->children[4];
    ASSERT_EQ(label.attributes.size(), 4u);
    EXPECT_EQ(label.attributes[1], (std::pair<std::string, std::string>{"Text", "upper"}));
    // Attribute names are matched exactly; entities are decoded.
    ASSERT_NE(label.Attribute("text"), nullptr);
    EXPECT_EQ(*label.Attribute("text"), "lower");
    EXPECT_EQ(*label.Attribute("bkimage"), "x&y.png");
    EXPECT_EQ(label.Attribute("TEXT"), nullptr);
    EXPECT_EQ(label.Attribute("name=l"), nullptr);
    EXPECT_EQ(*root->children[3].Attribute("knobimage"), "k.png");
}

TEST(MarkupElements, SayWhyTextIsNotMarkup) {
    struct Case {
        const char* what;
        const char* xml;
        const char* error;
    } cases[] = {
        {"an unclosed element", "<a>\n<b>\n</a>", "not well-formed XML: "},
        {"an unquoted attribute", "<a x=1/>", "not well-formed XML: "},
        {"nothing at all", "", "not well-formed XML: "},
        {"only a comment", "<?xml version=\"1.0\"?><!-- nothing -->", "no root element"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(MarkupLoader::ParseElements(c.xml, &error)) << c.what;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.what << ": " << error;
    }
    // The parser's reason names the line, so a skin author finds the fault.
    std::string error;
    MarkupLoader::ParseElements("<a>\n<b/>\n<c/>\n<d x=1/>\n</a>", &error);
    EXPECT_NE(error.find("number=4"), std::string::npos) << error;
    // The loader reports the same verdicts on a file it builds.
    EXPECT_TRUE(mentions(load({{"m.xml", "<!-- nothing -->"}}, "m.xml"), "has no root element"));
    EXPECT_TRUE(MarkupLoader::ParseElements("<a/>", nullptr));
}

}  // namespace
