// The value syntax of the markup and the inline text tags: pure parsers, tested as tables.

#include <gtest/gtest.h>

#include "ui/Attributes.h"
#include "ui/RichText.h"

namespace {

TEST(AttributeValues, ParseAsTheDialectWritesThem) {
    EXPECT_EQ(ui::ParseColor("#FF102030"), ui::Color(0xFF102030));
    EXPECT_EQ(ui::ParseColor("#102030"), ui::Color(0xFF102030));
    EXPECT_EQ(ui::ParseColor("0x80102030"), ui::Color(0x80102030));
    for (const char* bad : {"", "#", "#12345", "#GG102030", "102030", "#FF10203040"})
        EXPECT_FALSE(ui::ParseColor(bad)) << bad;
    EXPECT_EQ(ui::ParseRect(" 1, 2,3 ,4 "), ui::Rect(1, 2, 3, 4));
    EXPECT_EQ(ui::ParseRect("-1,0,0,-2"), ui::Rect(-1, 0, 0, -2));
    for (const char* bad : {"1,2,3", "1,2,3,4,5", "a,b,c,d", "", "1,,3,4"})
        EXPECT_FALSE(ui::ParseRect(bad)) << bad;
    EXPECT_EQ(ui::ParseSize("650,560"), (ui::Size{650, 560}));
    EXPECT_FALSE(ui::ParseInt("12px"));
    EXPECT_FALSE(ui::ParseInt("99999999999"));
    EXPECT_EQ(ui::ParseBool("TRUE"), true);
    EXPECT_FALSE(ui::ParseBool("yes"));
}

TEST(AttributeValues, ImageAttributesBareOrInParts) {
    auto bare = ui::ParseImageRef(" skin\\backgroud.png ");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->file, "skin\\backgroud.png");

    std::string error;
    auto full = ui::ParseImageRef(
        "file='skin\\btn.png' source='0,0,100,40' corner='4,4,4,4' dest='1,2,3,4' mask='#FFFF00FF' "
        "fade='128' hole='true'",
        &error);
    ASSERT_TRUE(full) << error;
    EXPECT_EQ(full->source, ui::Rect(0, 0, 100, 40));
    EXPECT_EQ(full->corner, ui::Rect(4, 4, 4, 4));
    EXPECT_EQ(full->dest, ui::Rect(1, 2, 3, 4));
    EXPECT_TRUE(full->hasMask);
    EXPECT_EQ(full->mask, 0xFFFF00FFu);
    EXPECT_EQ(full->fade, 128);
    EXPECT_TRUE(full->hole);

    struct Bad {
        const char* text;
        const char* why;
    } bad[] = {
        {"file='a.png' source='0,0,1'", "bad source"},
        {"file='a.png source='0,0,1,1'", "malformed"},
        {"source='0,0,1,1'", "without file"},
        {"file='a.png' mask='pink'", "bad mask"},
        {"file='a.png' fade='300'", "bad fade"},
    };
    for (const Bad& b : bad) {
        error.clear();
        EXPECT_FALSE(ui::ParseImageRef(b.text, &error)) << b.text;
        EXPECT_NE(error.find(b.why), std::string::npos) << b.text << ": " << error;
    }
    // A part the dialect does not know is reported but the rest of the image is kept.
    error.clear();
    auto tiled = ui::ParseImageRef("file='a.png' xtiled='true'", &error);
    ASSERT_TRUE(tiled);
    EXPECT_NE(error.find("xtiled"), std::string::npos);
}

TEST(AttributeValues, AttributeListsOfDefaults) {
    auto list = ui::ParseAttributeList(
        "width=\"12\" thumbnormalimage=\"file='s.bmp' source='0,0,12,12'\" x='y'");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 3u);
    EXPECT_EQ((*list)[1].second, "file='s.bmp' source='0,0,12,12'");
    EXPECT_EQ((*list)[2].second, "y");
    EXPECT_FALSE(ui::ParseAttributeList("width=12"));
    EXPECT_FALSE(ui::ParseAttributeList("width=\"12"));
    EXPECT_TRUE(ui::ParseAttributeList("  ")->empty());
}

TEST(InlineTags, BecomePlainTextAndSpans) {
    struct Case {
        const char* source;
        const char* text;
    } cases[] = {
        {"plain", "plain"},
        {"{f 1}big{/f} small", "big small"},
        {"{c #FF0000}red{/c}", "red"},
        {"line{n}{/n}next", "line\nnext"},
        {"{p}one{/p}{p}two{/p}", "one\ntwo\n"},
        {"#@!SoftwareName#@! stays", "#@!SoftwareName#@! stays"},
        {"{x}unknown{/x} and {f}no index{/f}", "{x}unknown{/x} and {f}no index"},
        {"{c red}bad colour{/c}", "{c red}bad colour"},
        {"open { brace", "open { brace"},
        {"{/u}stray close", "stray close"},
        {"%0.f%%", "%0.f%%"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ui::ParseInlineTags(c.source).text, c.text) << c.source;
}

TEST(InlineTags, SpansCarryNestedAttributesAndLinks) {
    auto rt = ui::ParseInlineTags(
        "a{f 2}b{c #00FF00}c{u}d{/u}{/c}{/f}{a http://x.example}link{/a}{b}{i}e{/i}{/b}");
    EXPECT_EQ(rt.text, "abcdlinke");
    ASSERT_EQ(rt.spans.size(), 5u);
    EXPECT_EQ(rt.spans[0], (ui::TextSpan{1, 2, 2}));
    EXPECT_EQ(rt.spans[1].color, ui::Color(0xFF00FF00));
    EXPECT_EQ(rt.spans[1].font, 2);
    EXPECT_TRUE(rt.spans[2].underline);
    EXPECT_EQ(rt.spans[2].font, 2);
    EXPECT_EQ(rt.spans[3].link, 0);
    EXPECT_EQ(rt.spans[3].font, -1);
    EXPECT_TRUE(rt.spans[4].bold && rt.spans[4].italic);
    ASSERT_EQ(rt.links.size(), 1u);
    EXPECT_EQ(rt.links[0], "http://x.example");
    // An unclosed tag runs to the end.
    auto open = ui::ParseInlineTags("{u}to the end");
    ASSERT_EQ(open.spans.size(), 1u);
    EXPECT_EQ(open.spans[0].end, open.text.size());
}

TEST(InlineTags, InvalidUtf8IsReplacedNotPassedOn) {
    EXPECT_EQ(ui::MakeValidUtf8("ok \xE6\x97\xA5"), "ok \xE6\x97\xA5");
    EXPECT_EQ(ui::MakeValidUtf8("\xFF"), "\xEF\xBF\xBD");
    EXPECT_EQ(ui::MakeValidUtf8("\xE6\x97"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(ui::MakeValidUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong "/"
    EXPECT_EQ(ui::MakeValidUtf8("\xED\xA0\x80"),
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
    EXPECT_EQ(ui::MakeValidUtf8(std::string("a\0b", 3)),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(ui::ParseInlineTags("{u}\xFF{/u}").text, "\xEF\xBF\xBD");
}

}  // namespace
