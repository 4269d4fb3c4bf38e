// Pictures and text as the painter draws them: decoding untrusted files, nine-slice
// stretching, colour keys, the image cache, and Pango text in the twenty interface languages.

#include <gtest/gtest.h>

#include "ui/Fonts.h"
#include "ui/ImageCache.h"
#include "ui/Painter.h"
#include "ui/TextLayout.h"
#include "ui_test_helper.h"

namespace {

std::shared_ptr<ui::Image> decode(const std::string& bytes, std::string* error = nullptr) {
    return ui::DecodeImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), error);
}

std::shared_ptr<ui::Image> canvas(int w, int h, uint32_t fill) {
    auto img = ui::Image::Create(w, h);
    ui::Painter(*img).Clear(ui::Color(fill));
    return img;
}

// The rectangle holding every pixel that is not `background`.
ui::Rect inkBounds(const ui::Image& img, uint32_t background) {
    ui::Rect r{img.Width(), img.Height(), 0, 0};
    for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < img.Width(); ++x)
            if (img.PixelAt(x, y) != background)
                r = {std::min(r.left, x), std::min(r.top, y), std::max(r.right, x + 1),
                     std::max(r.bottom, y + 1)};
    return r;
}

TEST(ImageDecoding, ReadsPngAndBmp) {
    auto png = decode(uitest::Png(
        3, 2, [](int x, int y) { return x == 2 && y == 1 ? 0x80FF0000u : 0xFF00FF00u; }));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->Width(), 3);
    EXPECT_EQ(png->PixelAt(0, 0), 0xFF00FF00u);
    EXPECT_EQ(png->PixelAt(2, 1) >> 24, 0x80u);
    EXPECT_EQ(png->PixelAt(5, 5), 0u);

    auto bmp = decode(uitest::Bmp24(
        5, 3, [](int x, int y) { return uint32_t(x * 40) << 16 | uint32_t(y * 80); }));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->PixelAt(4, 2), 0xFFA000A0u);  // bottom-up rows and BGR order undone
    EXPECT_EQ(bmp->PixelAt(0, 0), 0xFF000000u);

    // A 32-bit bitmap whose fourth byte is zero everywhere is opaque, not invisible.
    std::string bmp32 = uitest::Bmp24(1, 1, [](int, int) { return 0u; });
    bmp32.resize(54);
    bmp32[28] = 32;
    bmp32 += std::string("\x10\x20\x30\x00", 4);
    bmp32[2] = char(bmp32.size());
    auto opaque = decode(bmp32);
    ASSERT_TRUE(opaque);
    EXPECT_EQ(opaque->PixelAt(0, 0), 0xFF302010u);
}

TEST(ImageDecoding, BadFilesGiveAReasonNotACrash) {
    const std::string png = uitest::SolidPng(40, 40, 0xFF123456);
    std::string absurd = png;
    absurd[16] = 0x7F;  // width 2 billion, checked before anything is allocated
    std::string bmpCut = uitest::Bmp24(50, 50, [](int, int) { return 0u; }).substr(0, 400);
    std::string bmpDeep = uitest::Bmp24(2, 2, [](int, int) { return 0u; });
    bmpDeep[28] = 16;
    struct Case {
        std::string bytes;
        const char* why;
    } cases[] = {
        {"", "empty"},
        {"GIF89a........................................", "not a PNG"},
        {png.substr(0, png.size() / 2), "corrupt PNG"},
        {png.substr(0, 20), "header is cut"},
        {absurd, "outside the accepted range"},
        {bmpCut, "pixel data is cut"},
        {bmpDeep, "16 bits per pixel"},
        {"BM" + std::string(60, '\xFF'), "BMP"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(decode(c.bytes, &error)) << c.why;
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }
    EXPECT_FALSE(ui::Image::Create(0, 5));
    EXPECT_FALSE(ui::Image::Create(ui::Image::kMaxSide + 1, 1));
}

TEST(ImageDrawing, NineSliceKeepsCornersAndStretchesTheRest) {
    auto panel = decode(uitest::SampleSkin()["skin/panel.png"]);
    ASSERT_TRUE(panel);
    for (bool hole : {false, true}) {
        auto img = canvas(220, 120, 0xFF000000);
        ui::Painter painter(*img);
        ui::ImageRef ref;
        ref.file = "panel";
        ref.corner = {10, 10, 10, 10};
        ref.hole = hole;
        painter.DrawImage(*panel, ref, {10, 10, 210, 110});
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 10; ++x) {
                ASSERT_EQ(img->PixelAt(10 + x, 10 + y), uitest::kCornerTL);
                ASSERT_EQ(img->PixelAt(209 - x, 10 + y), uitest::kCornerTR);
                ASSERT_EQ(img->PixelAt(10 + x, 109 - y), uitest::kCornerBL);
                ASSERT_EQ(img->PixelAt(209 - x, 109 - y), uitest::kCornerBR);
            }
        }
        EXPECT_EQ(img->PixelAt(110, 12), uitest::kEdge);  // top edge stretched sideways
        EXPECT_EQ(img->PixelAt(12, 60), uitest::kEdge);   // left edge stretched downwards
        EXPECT_EQ(img->PixelAt(110, 60), hole ? 0xFF000000u : uitest::kCentre);
        EXPECT_EQ(img->PixelAt(5, 5), 0xFF000000u);  // nothing outside the box
    }
}

TEST(ImageDrawing, SourceDestFadeAndColourKey) {
    auto strip =
        decode(uitest::Png(40, 10, [](int x, int) { return x < 20 ? 0xFFFF00FFu : 0xFF00FF00u; }));
    auto img = canvas(100, 50, 0xFF000000);
    ui::Painter painter(*img);
    ui::DrawRecorder rec;
    painter.SetRecorder(&rec);
    ui::ImageRef ref;
    ref.file = "strip";
    ref.source = {20, 0, 40, 10};
    ref.dest = {5, 5, 25, 15};
    painter.DrawImage(*strip, ref, {50, 0, 100, 50});
    EXPECT_EQ(img->PixelAt(60, 10), 0xFF00FF00u);
    EXPECT_EQ(img->PixelAt(54, 10), 0xFF000000u);
    ASSERT_EQ(rec.Ops().size(), 1u);
    EXPECT_EQ(rec.Ops()[0].dest, ui::Rect(55, 5, 75, 15));
    EXPECT_EQ(rec.Ops()[0].source, ui::Rect(20, 0, 40, 10));
    // A source past the picture's edge is cut to it; a dest past the box is cut to the box.
    ref.source = {30, 0, 400, 10};
    ref.dest = {40, 0, 90, 10};
    painter.DrawImage(*strip, ref, {0, 20, 50, 50});
    EXPECT_EQ(rec.Ops()[1].source, ui::Rect(30, 0, 40, 10));
    EXPECT_EQ(rec.Ops()[1].dest, ui::Rect(40, 20, 50, 30));

    auto keyed = strip->WithColorKey(0xFF00FF);
    EXPECT_EQ(keyed->PixelAt(5, 5), 0u);
    EXPECT_EQ(keyed->PixelAt(25, 5), 0xFF00FF00u);
    auto faded = canvas(10, 10, 0xFF000000);
    ui::ImageRef half;
    half.file = "strip";
    half.source = {20, 0, 30, 10};
    half.fade = 128;
    ui::Painter(*faded).DrawImage(*strip, half, {0, 0, 10, 10});
    EXPECT_NEAR(int((faded->PixelAt(5, 5) >> 8) & 0xFF), 128, 2);
}

TEST(ImageCache, KeysByNameAcrossCaseAndSeparators) {
    uitest::LogCapture log;
    auto files = uitest::SampleSkin();
    files["skin/broken.png"] = "\x89PNG\r\n\x1A\n-not-really";
    ui::ImageCache cache;
    cache.SetSkin(uitest::Skin(files), "skin");
    auto a = cache.Get("skin\\Strip.PNG");
    ASSERT_TRUE(a);
    EXPECT_EQ(cache.Get("skin/strip.png"), a);
    EXPECT_EQ(cache.Get("strip.png"), a);  // below the skin folder
    EXPECT_FALSE(cache.Get("skin/missing.png"));
    EXPECT_FALSE(cache.Get("skin\\MISSING.png"));
    EXPECT_FALSE(cache.Get("skin/broken.png"));
    EXPECT_FALSE(cache.Get("skin/broken.png"));
    EXPECT_EQ(log.Count("Image not found in the skin package"), 1);
    EXPECT_EQ(log.Count("Image cannot be decoded: skin/broken.png"), 1);
    // A window's own pictures go in by name and shadow the package's.
    auto own = ui::Image::Create(650, 300);
    cache.Add("FirstFrame", own);
    cache.Add("skin/strip.png", own);
    EXPECT_EQ(cache.Get("firstframe"), own);
    EXPECT_EQ(cache.Get("skin\\strip.png"), own);
    EXPECT_TRUE(cache.Remove("FirstFrame"));
    EXPECT_FALSE(cache.Has("FirstFrame"));
    // Masked copies are made once per colour.
    auto masked = cache.Get("skin/check.png", 0xFF404040u);
    EXPECT_EQ(cache.Get("skin/check.png", 0xFF404040u), masked);
    EXPECT_EQ(masked->PixelAt(1, 1), 0u);
}

// One sample per interface language, in the font the skin names for it.
struct LanguageSample {
    const char* language;
    const char* font;
    const char* text;
};
const LanguageSample kLanguages[] = {
    {"English", "Microsoft YaHei", "Install now"},
    {"Japanese", "Meiryo UI",
     "\xE4\xBB\x8A\xE3\x81\x99\xE3\x81\x90\xE3\x82\xA4\xE3\x83\xB3\xE3\x82\xB9\xE3\x83\x88\xE3\x83"
     "\xBC\xE3\x83\xAB"},
    {"Chinese", "Microsoft YaHei", "\xE7\xAB\x8B\xE5\x8D\xB3\xE5\xAE\x89\xE8\xA3\x85"},
    {"Spanish", "Times New Roman",
     "Instalaci\xC3\xB3n r\xC3\xA1pida, \xC2\xBF"
     "ahora?"},
    {"German", "Times New Roman",
     "Jetzt installieren \xE2\x80\x93 Gr\xC3\xB6\xC3\x9F"
     "e"},
    {"French", "Times New Roman", "Installer maintenant \xC3\xA9\xC3\xA0\xC3\xA7\xC5\x93"},
    {"Russian", "Times New Roman",
     "\xD0\xA3\xD1\x81\xD1\x82\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xB8\xD1\x82\xD1\x8C"},
    {"Portuguese", "Times New Roman", "Instala\xC3\xA7\xC3\xA3o"},
    {"Arabic", "Times New Roman",
     "\xD8\xAA\xD8\xAB\xD8\xA8\xD9\x8A\xD8\xAA \xD8\xA7\xD9\x84\xD8\xA2\xD9\x86"},
    {"Italiano", "Times New Roman", "Installa adesso \xC3\xA8"},
    {"ChineseTrad", "Microsoft YaHei", "\xE7\xAB\x8B\xE5\x8D\xB3\xE5\xAE\x89\xE8\xA3\x9D"},
    {"Korean", "batang", "\xEC\xA7\x80\xEA\xB8\x88 \xEC\x84\xA4\xEC\xB9\x98"},
    {"Nederlands", "Microsoft YaHei", "Nu installeren \xC3\xAB"},
    {"Indonesian", "Microsoft YaHei", "Pasang sekarang"},
    {"Turkish", "Microsoft YaHei",
     "\xC5\x9E"
     "imdi y\xC3\xBCkle \xC4\x9F\xC4\xB1\xC5\x9F"},
    {"Hindi", "Microsoft YaHei",
     "\xE0\xA4\x87\xE0\xA4\x82\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\x9F\xE0\xA5\x89\xE0\xA4\xB2 "
     "\xE0\xA4\x95\xE0\xA4\xB0\xE0\xA5\x87\xE0\xA4\x82"},
    {"Thai", "Microsoft YaHei",
     "\xE0\xB8\x95\xE0\xB8\xB4\xE0\xB8\x94\xE0\xB8\x95\xE0\xB8\xB1\xE0\xB9\x89\xE0\xB8\x87"},
    {"Malay", "Microsoft YaHei", "Pasang sekarang"},
    {"Swedish", "Microsoft YaHei", "Installera nu \xC3\xA5\xC3\xA4\xC3\xB6"},
    {"Czech", "Microsoft YaHei", "Instalovat nyn\xC3\xAD \xC4\x9B\xC5\xA1\xC4\x8D\xC5\x99\xC5\xBE"},
};

ui::TextLayout layoutOf(const std::string& text, const std::string& family,
                        uint32_t format = ui::kTextVCenter) {
    ui::TextStyle style;
    style.font.family = family;
    style.font.size = 14;
    style.format = format;
    return ui::TextLayout(ui::ParseInlineTags(text), style, 400);
}

TEST(Text, SkinFontNamesResolveToInstalledStandIns) {
    ui::FontSystem& fonts = ui::FontSystem::Instance();
    EXPECT_EQ(fonts.ResolveFamily("Microsoft YaHei"), "Noto Sans CJK SC");
    EXPECT_EQ(fonts.ResolveFamily("Meiryo UI"), "Noto Sans CJK JP");
    EXPECT_EQ(fonts.ResolveFamily("batang"), "Noto Serif CJK KR");
    EXPECT_EQ(fonts.ResolveFamily("Times New Roman"), "Liberation Serif");
    // Set as a family, the name keeps its last word (a parsed description would read "Roman"
    // as a style and pick another font).
    auto tnr = layoutOf("Times", "Times New Roman");
    EXPECT_EQ(tnr.UsedFamilies(), std::vector<std::string>{"Liberation Serif"});
}

TEST(Text, AllTwentyLanguagesRenderWithoutMissingGlyphs) {
    for (const LanguageSample& s : kLanguages) {
        auto layout = layoutOf(s.text, s.font);
        EXPECT_EQ(layout.UnknownGlyphCount(), 0) << s.language;
        EXPECT_GT(layout.TextSize().cx, 0) << s.language;
    }
    EXPECT_EQ(layoutOf(kLanguages[8].text, "Times New Roman").UsedFamilies().front(),
              "Noto Sans Arabic");
}

TEST(Text, ArabicRunsRightToLeftAndIndicScriptsAreShaped) {
    const std::string arabic = kLanguages[8].text;
    auto ar = layoutOf(arabic, "Times New Roman");
    EXPECT_TRUE(ar.IsRightToLeft());
    EXPECT_GT(ar.CharX(0), ar.CharX(arabic.find(' ') + 2));
    // Hindi conjuncts: क्षत्रिय is eight code points and fewer glyphs.
    auto hi = layoutOf(
        "\xE0\xA4\x95\xE0\xA5\x8D\xE0\xA4\xB7\xE0\xA4\xA4\xE0\xA5\x8D\xE0\xA4\xB0\xE0\xA4\xBF\xE0"
        "\xA4\xAF",
        "Microsoft YaHei");
    EXPECT_LT(hi.GlyphCount(), 8);
    EXPECT_EQ(hi.UsedFamilies().front(), "Noto Sans Devanagari");
    // Thai marks stack on their base instead of taking room of their own.
    auto base = layoutOf("\xE0\xB8\x97", "Microsoft YaHei");
    auto marked = layoutOf("\xE0\xB8\x97\xE0\xB8\xB5\xE0\xB9\x88", "Microsoft YaHei");
    EXPECT_EQ(marked.TextSize().cx, base.TextSize().cx);
    EXPECT_EQ(marked.UsedFamilies().front(), "Noto Sans Thai");
}

TEST(Text, DrawsInsideItsBoxWithTheAlignmentAsked) {
    const ui::Rect box{40, 30, 160, 60};
    struct Case {
        uint32_t format;
        const char* text;
        const char* where;
    } cases[] = {
        {ui::kTextLeft | ui::kTextVCenter, "Left", "left"},
        {ui::kTextCenter | ui::kTextVCenter, "Mid", "centre"},
        {ui::kTextRight | ui::kTextBottom, "Right", "right"},
        // A right-to-left line keeps the markup's side (the layout is not mirrored); a wrapped
        // right-to-left paragraph starts at the right.
        {ui::kTextLeft | ui::kTextVCenter, kLanguages[8].text, "left"},
        {ui::kTextRight | ui::kTextVCenter, kLanguages[8].text, "right"},
        {ui::kTextLeft | ui::kTextEndEllipsis, kLanguages[8].text, "left"},
        {ui::kTextLeft | ui::kTextWordBreak, kLanguages[8].text, "right"},
        {ui::kTextLeft | ui::kTextTop, "A text far too long for its little box, cut at the edge",
         "fill"},
        {ui::kTextEndEllipsis, "A text far too long for its little box, with an ellipsis", "fill"},
    };
    for (const Case& c : cases) {
        auto img = canvas(200, 100, 0xFFFFFFFF);
        ui::Painter painter(*img);
        ui::TextStyle style;
        style.format = c.format;
        ui::TextLayout layout(ui::ParseInlineTags(c.text), style, box.Width());
        layout.Draw(painter, box);
        const ui::Rect ink = inkBounds(*img, 0xFFFFFFFF);
        ASSERT_FALSE(ink.IsEmpty()) << c.text;
        EXPECT_EQ(ink.Intersect(box), ink) << c.text;  // nothing outside the box
        const int mid = (ink.left + ink.right) / 2;
        const std::string where = c.where;
        const bool placed = where == "left"     ? ink.left < box.left + 3
                            : where == "right"  ? ink.right > box.right - 4
                            : where == "centre" ? std::abs(mid - box.Center().x) <= 3
                                                : ink.Width() > box.Width() - 12;
        EXPECT_TRUE(placed) << c.text << " should be " << where << ", ink " << ink.left << ".."
                            << ink.right;
    }
}

TEST(Text, TagColoursAndLinkHoverReachThePixels) {
    auto img = canvas(300, 40, 0xFFFFFFFF);
    ui::Painter painter(*img);
    ui::TextStyle style;
    style.font.size = 20;
    style.linkColor = ui::Color(0xFF0000FF);
    style.linkHoverColor = ui::Color(0xFFFF0000);
    ui::TextLayout layout(
        ui::ParseInlineTags(
            "{c #00C000}\xE2\x96\x88\xE2\x96\x88{/c} {a}\xE2\x96\x88\xE2\x96\x88{/a}"),
        style, 300);
    layout.Draw(painter, {0, 0, 300, 40}, 0);
    bool green = false, red = false, blue = false;
    for (int x = 0; x < 300; ++x) {
        const uint32_t p = img->PixelAt(x, 20);
        green |= p == 0xFF00C000u;
        red |= p == 0xFFFF0000u;
        blue |= p == 0xFF0000FFu;
    }
    EXPECT_TRUE(green);
    EXPECT_TRUE(red);  // the hovered link
    EXPECT_FALSE(blue);
}

}  // namespace
