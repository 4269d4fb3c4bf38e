// skin-art OUTDIR
//
// Draws every picture of the demo product's skin package into OUTDIR (the package root: the
// scroll bar bitmap beside scrollbar.xml, the rest below skin/). The build runs it and packs
// its output with the markup, so the package carries no hand-made binaries and the same
// sources always give the same pictures. Exit status 0 written, 1 failed, 2 bad arguments.
//
// Everything is drawn at 1x with whole-pixel geometry where edges must stay crisp.

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Rgb {
    double r, g, b;
};

constexpr Rgb hex(uint32_t v) {
    return {((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0};
}

// The palette of the demo product.
constexpr Rgb kBrand = hex(0x0E5E6F);
constexpr Rgb kBrandHot = hex(0x0B4D5B);
constexpr Rgb kBrandPushed = hex(0x083C47);
constexpr Rgb kBrandDisabled = hex(0x9DB7BD);
constexpr Rgb kBandEnd = hex(0x1B8A99);
constexpr Rgb kWhite = hex(0xFFFFFF);
constexpr Rgb kHairline = hex(0xE3E8EA);
constexpr Rgb kFrame = hex(0xC9D3D6);
constexpr Rgb kBody = hex(0x1F2A2E);
constexpr Rgb kSecondary = hex(0x5B6B70);
constexpr Rgb kWarning = hex(0xC2410C);
constexpr Rgb kSuccess = hex(0x15803D);

constexpr double kPi = 3.14159265358979323846;

class Canvas {
public:
    Canvas(int w, int h)
        : m_surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)),
          m_cr(cairo_create(m_surface)) {}
    ~Canvas() {
        cairo_destroy(m_cr);
        cairo_surface_destroy(m_surface);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    cairo_t* cr() const { return m_cr; }
    cairo_surface_t* surface() const { return m_surface; }
    int width() const { return cairo_image_surface_get_width(m_surface); }
    int height() const { return cairo_image_surface_get_height(m_surface); }

private:
    cairo_surface_t* m_surface;
    cairo_t* m_cr;
};

void color(cairo_t* cr, Rgb c, double a = 1.0) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, a);
}

void roundRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
    cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
    cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

void disc(cairo_t* cr, double cx, double cy, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
}

class Writer {
public:
    explicit Writer(fs::path root) : m_root(std::move(root)) {}

    // Written beside the target and renamed, so an interrupted build leaves no torn picture.
    void png(const std::string& name, const Canvas& canvas) {
        const fs::path path = m_root / name;
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        const fs::path partial = path.string() + ".partial";
        cairo_surface_flush(canvas.surface());
        if (cairo_surface_write_to_png(canvas.surface(), partial.c_str()) != CAIRO_STATUS_SUCCESS) {
            fail("cannot write " + path.string());
            return;
        }
        fs::rename(partial, path, ec);
        if (ec)
            fail("cannot write " + path.string() + ": " + ec.message());
    }

    // 32 bits per pixel, bottom-up, straight alpha: what the framework's BMP reader takes.
    void bmp(const std::string& name, const Canvas& canvas) {
        cairo_surface_flush(canvas.surface());
        const int w = canvas.width(), h = canvas.height();
        const int stride = cairo_image_surface_get_stride(canvas.surface());
        const uint8_t* px = cairo_image_surface_get_data(canvas.surface());
        std::vector<uint8_t> out(54 + size_t(w) * h * 4, 0);
        auto le32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i)
                out[at + i] = uint8_t(v >> (8 * i));
        };
        out[0] = 'B', out[1] = 'M';
        le32(2, uint32_t(out.size()));
        le32(10, 54);
        le32(14, 40);
        le32(18, uint32_t(w));
        le32(22, uint32_t(h));
        out[26] = 1;
        out[28] = 32;
        le32(34, uint32_t(w) * h * 4);
        size_t at = 54;
        for (int y = h - 1; y >= 0; --y) {
            const auto* row = reinterpret_cast<const uint32_t*>(px + y * stride);
            for (int x = 0; x < w; ++x) {
                const uint32_t p = row[x];
                const uint32_t a = p >> 24;
                auto straight = [a](uint32_t c) { return a ? uint8_t((c * 255 + a / 2) / a) : 0; };
                out[at++] = straight(p & 0xFF);
                out[at++] = straight((p >> 8) & 0xFF);
                out[at++] = straight((p >> 16) & 0xFF);
                out[at++] = uint8_t(a);
            }
        }
        const fs::path path = m_root / name;
        const fs::path partial = path.string() + ".partial";
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
        file.close();
        std::error_code ec;
        if (!file)
            return fail("cannot write " + path.string());
        fs::rename(partial, path, ec);
        if (ec)
            fail("cannot write " + path.string() + ": " + ec.message());
    }

    bool ok() const { return m_ok; }

private:
    void fail(const std::string& message) {
        std::cerr << "skin-art: " << message << "\n";
        m_ok = false;
    }

    fs::path m_root;
    bool m_ok = true;
};

// ---- band and panels ------------------------------------------------------------------------

// The teal band with a faint pattern of triangles, lighter towards the right.
void drawBand(cairo_t* cr, int w, int h, int seed) {
    cairo_pattern_t* grad = cairo_pattern_create_linear(0, 0, w, h);
    cairo_pattern_add_color_stop_rgb(grad, 0, kBrand.r, kBrand.g, kBrand.b);
    cairo_pattern_add_color_stop_rgb(grad, 1, kBandEnd.r, kBandEnd.g, kBandEnd.b);
    cairo_set_source(cr, grad);
    cairo_paint(cr);
    cairo_pattern_destroy(grad);

    // A fixed lattice of triangles; each gets a little white or a little shadow.
    const double side = 72;
    const double rowH = side * std::sqrt(3.0) / 2;
    uint32_t state = 0x9E3779B9u ^ uint32_t(seed);
    auto next = [&state]() {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        return (state & 0xFFFF) / 65535.0;
    };
    for (int row = -1; row * rowH < h + rowH; ++row) {
        for (int col = -1; col * side / 2 < w + side; ++col) {
            const double x = col * side / 2 + (row % 2 ? side / 2 : 0);
            const double y = row * rowH;
            const bool up = (col % 2) == 0;
            cairo_move_to(cr, x, up ? y + rowH : y);
            cairo_line_to(cr, x + side / 2, up ? y : y + rowH);
            cairo_line_to(cr, x + side, up ? y + rowH : y);
            cairo_close_path(cr);
            const double v = next();
            if (v < 0.55)
                continue;
            // Stronger towards the right edge, so the left where text sits stays quiet.
            const double weight = 0.25 + 0.75 * std::clamp(x / w, 0.0, 1.0);
            if (v > 0.8)
                color(cr, kWhite, 0.045 * weight);
            else
                color(cr, hex(0x000000), 0.05 * weight);
            cairo_fill(cr);
        }
    }
}

void bands(Writer& out) {
    {
        Canvas c(650, 360);
        drawBand(c.cr(), 650, 360, 1);
        out.png("skin/backgroud.png", c);
    }
    {
        // From the install start on: the same band with the pattern shifted, so the finish
        // page reads as a new step without a new palette.
        Canvas c(650, 360);
        drawBand(c.cr(), 650, 360, 7);
        out.png("skin/backgroud_complete.png", c);
    }
    {
        Canvas c(650, 200);
        color(c.cr(), kWhite);
        cairo_paint(c.cr());
        color(c.cr(), kHairline);
        cairo_rectangle(c.cr(), 0, 0, 650, 1);
        cairo_fill(c.cr());
        out.png("skin/bg_setting.png", c);
    }
    {
        // The message box: white, a title row of 40 pixels and a one-pixel frame.
        Canvas c(452, 190);
        cairo_t* cr = c.cr();
        color(cr, kWhite);
        cairo_paint(cr);
        color(cr, hex(0xF3F6F7));
        cairo_rectangle(cr, 0, 0, 452, 40);
        cairo_fill(cr);
        color(cr, kHairline);
        cairo_rectangle(cr, 0, 40, 452, 1);
        cairo_fill(cr);
        color(cr, kFrame);
        cairo_set_line_width(cr, 1);
        cairo_rectangle(cr, 0.5, 0.5, 451, 189);
        cairo_stroke(cr);
        out.png("skin/bg_message.png", c);
    }
}

// ---- logo -----------------------------------------------------------------------------------

// A rounded square in the brand colour with a white page whose corner folds into a "K" stroke.
void drawLogo(cairo_t* cr, double s) {
    roundRect(cr, 0, 0, s, s, s * 0.22);
    cairo_pattern_t* grad = cairo_pattern_create_linear(0, 0, s, s);
    cairo_pattern_add_color_stop_rgb(grad, 0, kBandEnd.r, kBandEnd.g, kBandEnd.b);
    cairo_pattern_add_color_stop_rgb(grad, 1, kBrandPushed.r, kBrandPushed.g, kBrandPushed.b);
    cairo_set_source(cr, grad);
    cairo_fill(cr);
    cairo_pattern_destroy(grad);

    const double u = s / 24.0;
    color(cr, kWhite);
    // Stem of the K.
    cairo_rectangle(cr, 6 * u, 5 * u, 3.2 * u, 14 * u);
    cairo_fill(cr);
    // Its two arms: a wing shape, the kestrel of the vendor's name.
    cairo_move_to(cr, 9.2 * u, 12.6 * u);
    cairo_line_to(cr, 16.2 * u, 5 * u);
    cairo_line_to(cr, 19.6 * u, 5 * u);
    cairo_line_to(cr, 12.4 * u, 12.4 * u);
    cairo_line_to(cr, 19.8 * u, 19 * u);
    cairo_line_to(cr, 15.8 * u, 19 * u);
    cairo_line_to(cr, 9.2 * u, 13.4 * u);
    cairo_close_path(cr);
    cairo_fill(cr);
}

void logos(Writer& out) {
    for (auto [name, size] : {std::pair{"skin/logo.png", 48}, std::pair{"skin/logo_small.png", 24},
                              std::pair{"skin/logo_running.png", 56}}) {
        Canvas c(size, size);
        drawLogo(c.cr(), size);
        out.png(name, c);
    }
}

// ---- buttons --------------------------------------------------------------------------------

enum State { kNormal, kHot, kPushed, kDisabled };

// A strip of four equal states, normal, hot, pushed and disabled from the left.
void strip(Writer& out, const std::string& name, int w, int h,
           const std::function<void(cairo_t*, int w, int h, State)>& draw) {
    Canvas c(w * 4, h);
    for (int s = 0; s < 4; ++s) {
        cairo_save(c.cr());
        cairo_rectangle(c.cr(), s * w, 0, w, h);
        cairo_clip(c.cr());
        cairo_translate(c.cr(), s * w, 0);
        draw(c.cr(), w, h, State(s));
        cairo_restore(c.cr());
    }
    out.png(name, c);
}

// The white button that stands on the teal band: the one obvious action of a page.
void bandButton(cairo_t* cr, int w, int h, State s) {
    const Rgb fill[] = {kWhite, hex(0xEAF4F5), hex(0xD3E7EA), kWhite};
    const double alpha = s == kDisabled ? 0.45 : 1.0;
    if (s != kDisabled) {
        // A soft drop shadow lifts it off the band.
        roundRect(cr, 1, 2, w - 2, h - 2, 6);
        color(cr, hex(0x000000), s == kPushed ? 0.08 : 0.16);
        cairo_fill(cr);
    }
    roundRect(cr, 1, s == kPushed ? 1 : 0, w - 2, h - 2, 6);
    color(cr, fill[s], alpha);
    cairo_fill(cr);
}

// Filled brand-colour button for white surfaces (message box "Yes"/"OK").
void primaryButton(cairo_t* cr, int w, int h, State s) {
    const Rgb fill[] = {kBrand, kBrandHot, kBrandPushed, kBrandDisabled};
    roundRect(cr, 0.5, 0.5, w - 1, h - 1, 6);
    color(cr, fill[s]);
    cairo_fill(cr);
}

// Outlined button for white surfaces ("No", "Browse").
void secondaryButton(cairo_t* cr, int w, int h, State s) {
    const Rgb fill[] = {kWhite, hex(0xF0F6F7), hex(0xE0ECEE), kWhite};
    const Rgb edge[] = {kBrand, kBrandHot, kBrandPushed, kBrandDisabled};
    roundRect(cr, 0.5, 0.5, w - 1, h - 1, 6);
    color(cr, fill[s]);
    cairo_fill_preserve(cr);
    color(cr, edge[s]);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

// A 32 x 32 glyph button: minimise (a bar) or close (a cross) in `ink`. Hovering the close
// button turns it warning-red with a white cross; the minimise button gets a faint mark.
void glyphButton(cairo_t* cr, int w, int h, State s, bool close, Rgb ink) {
    const bool active = s == kHot || s == kPushed;
    if (active) {
        roundRect(cr, 2, 2, w - 4, h - 4, 6);
        if (close)
            color(cr, s == kHot ? kWarning : hex(0x9A3412));
        else
            color(cr, ink, s == kHot ? 0.18 : 0.30);
        cairo_fill(cr);
    }
    color(cr, close && active ? kWhite : ink, s == kDisabled ? 0.4 : 1.0);
    cairo_set_line_width(cr, 1.5);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    const double cx = w / 2.0, cy = h / 2.0;
    if (close) {
        cairo_move_to(cr, cx - 5, cy - 5);
        cairo_line_to(cr, cx + 5, cy + 5);
        cairo_move_to(cr, cx + 5, cy - 5);
        cairo_line_to(cr, cx - 5, cy + 5);
    } else {
        cairo_move_to(cr, cx - 5, cy + 0.75);
        cairo_line_to(cr, cx + 5, cy + 0.75);
    }
    cairo_stroke(cr);
}

void buttons(Writer& out) {
    strip(out, "skin/btn_install.png", 220, 44, bandButton);
    strip(out, "skin/btn_start_now.png", 220, 44, bandButton);
    strip(out, "skin/btn_yes.png", 96, 32, primaryButton);
    strip(out, "skin/btn_no.png", 96, 32, secondaryButton);
    strip(out, "skin/btn_browse.png", 96, 30, secondaryButton);
    // On the band: white glyphs. On white surfaces and over the slides: body-coloured ones.
    strip(out, "skin/button_min.png", 32, 32,
          [](cairo_t* cr, int w, int h, State s) { glyphButton(cr, w, h, s, false, kWhite); });
    strip(out, "skin/button_close.png", 32, 32,
          [](cairo_t* cr, int w, int h, State s) { glyphButton(cr, w, h, s, true, kWhite); });
    strip(out, "skin/btn_min.png", 32, 32, [](cairo_t* cr, int w, int h, State s) {
        // Over a picture the glyph sits on a light disc, so it reads on any slide.
        disc(cr, w / 2.0, h / 2.0, 12);
        color(cr, kWhite, s == kNormal || s == kDisabled ? 0.75 : 0.95);
        cairo_fill(cr);
        glyphButton(cr, w, h, s == kDisabled ? kDisabled : kNormal, false, kBody);
    });
    strip(out, "skin/btn_close_dark.png", 32, 32,
          [](cairo_t* cr, int w, int h, State s) { glyphButton(cr, w, h, s, true, kSecondary); });
}

// ---- check boxes, combo, options, progress, scroll bar -------------------------------------

void checkMark(cairo_t* cr, double x, double y, double s, Rgb ink, double width) {
    color(cr, ink);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_move_to(cr, x + s * 0.24, y + s * 0.52);
    cairo_line_to(cr, x + s * 0.43, y + s * 0.70);
    cairo_line_to(cr, x + s * 0.77, y + s * 0.32);
    cairo_stroke(cr);
}

// Check boxes of 18 pixels in four states; `onBand` draws the white variant for the teal band.
void checkBox(cairo_t* cr, int w, int h, State s, bool checked, bool onBand) {
    const double a = s == kDisabled ? 0.45 : 1.0;
    roundRect(cr, 1.5, 1.5, w - 3, h - 3, 3);
    if (onBand) {
        color(cr, kWhite, checked ? a : (s == kHot ? 0.22 : s == kPushed ? 0.32 : 0.1));
        cairo_fill_preserve(cr);
        color(cr, kWhite, a);
        cairo_set_line_width(cr, 1.5);
        cairo_stroke(cr);
        if (checked)
            checkMark(cr, 0, 0, w, kBrand, 2);
        return;
    }
    const Rgb fill[] = {kBrand, kBrandHot, kBrandPushed, kBrandDisabled};
    if (checked) {
        color(cr, fill[s]);
        cairo_fill(cr);
        checkMark(cr, 0, 0, w, kWhite, 2);
        return;
    }
    color(cr, s == kPushed ? hex(0xE0ECEE) : kWhite);
    cairo_fill_preserve(cr);
    color(cr, s == kHot || s == kPushed ? kBrand : s == kDisabled ? kHairline : hex(0x8A9A9F));
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
}

void controls(Writer& out) {
    for (bool onBand : {false, true}) {
        const std::string prefix = onBand ? "skin/checkbox_band_" : "skin/checkbox_";
        for (bool checked : {false, true})
            strip(out, prefix + (checked ? "p.png" : "h.png"), 18, 18,
                  [checked, onBand](cairo_t* cr, int w, int h, State s) {
                      checkBox(cr, w, h, s, checked, onBand);
                  });
    }
    for (bool over : {false, true}) {
        // Stretched through corner='6,6,32,6' so the chevron keeps its place at the right.
        Canvas c(120, 32);
        cairo_t* cr = c.cr();
        roundRect(cr, 0.5, 0.5, 119, 31, 5);
        color(cr, kWhite);
        cairo_fill_preserve(cr);
        color(cr, over ? kBrand : kFrame);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        color(cr, over ? kBrand : kSecondary);
        cairo_set_line_width(cr, 1.5);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_move_to(cr, 120 - 20, 13.5);
        cairo_line_to(cr, 120 - 16, 17.5);
        cairo_line_to(cr, 120 - 12, 13.5);
        cairo_stroke(cr);
        out.png(over ? "skin/combo_over.png" : "skin/combo_nor.png", c);
    }
    {
        Canvas c(120, 32);
        roundRect(c.cr(), 0.5, 0.5, 119, 31, 5);
        color(c.cr(), kWhite);
        cairo_fill_preserve(c.cr());
        color(c.cr(), kFrame);
        cairo_set_line_width(c.cr(), 1);
        cairo_stroke(c.cr());
        out.png("skin/edit_bg.png", c);
    }
    for (bool selected : {false, true}) {
        // Slide dots: a small grey dot, the current one a wider brand-colour pill.
        Canvas c(20, 10);
        if (selected) {
            roundRect(c.cr(), 0, 1, 20, 8, 4);
            color(c.cr(), kBrand);
        } else {
            disc(c.cr(), 10, 5, 4);
            color(c.cr(), kFrame);
        }
        cairo_fill(c.cr());
        out.png(selected ? "skin/optionselected.png" : "skin/optionnormal.png", c);
    }
    for (bool fill : {false, true}) {
        // Drawn with corner='3,0,3,0': rounded ends, stretched middle.
        Canvas c(12, 6);
        roundRect(c.cr(), 0, 0, 12, 6, 3);
        color(c.cr(), fill ? kBrand : kHairline);
        cairo_fill(c.cr());
        out.png(fill ? "skin/progress.png" : "skin/bkprogress.png", c);
    }
    {
        // Scroll bar thumb in three states side by side (8 x 24 each), stretched vertically
        // through corner='0,4,0,4'.
        Canvas c(24, 24);
        const Rgb thumb[] = {hex(0xC5D0D3), kBrandDisabled, kBrand};
        for (int i = 0; i < 3; ++i) {
            roundRect(c.cr(), i * 8 + 1, 0, 6, 24, 3);
            color(c.cr(), thumb[i]);
            cairo_fill(c.cr());
        }
        out.bmp("scrollbar.bmp", c);
    }
}

// ---- icons ----------------------------------------------------------------------------------

void questionMark(cairo_t* cr, double cx, double cy, double r) {
    color(cr, kWhite);
    cairo_set_line_width(cr, r * 0.22);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_arc(cr, cx, cy - r * 0.2, r * 0.3, -kPi * 0.95, kPi * 0.35);
    cairo_line_to(cr, cx, cy + r * 0.22);
    cairo_stroke(cr);
    disc(cr, cx, cy + r * 0.55, r * 0.12);
    cairo_fill(cr);
}

void exclamation(cairo_t* cr, double cx, double cy, double r, Rgb ink) {
    color(cr, ink);
    cairo_set_line_width(cr, r * 0.2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, cx, cy - r * 0.5);
    cairo_line_to(cr, cx, cy + r * 0.12);
    cairo_stroke(cr);
    disc(cr, cx, cy + r * 0.5, r * 0.12);
    cairo_fill(cr);
}

// A round badge: a disc of `fill` with a mark drawn on it.
void badge(Writer& out, const std::string& name, int size, Rgb fill,
           const std::function<void(cairo_t*, double c, double r)>& mark) {
    Canvas c(size, size);
    const double centre = size / 2.0;
    disc(c.cr(), centre, centre, centre - 1);
    color(c.cr(), fill);
    cairo_fill(c.cr());
    mark(c.cr(), centre, centre - 1);
    out.png(name, c);
}

void icons(Writer& out) {
    badge(out, "skin/message_help.png", 32, kBrand,
          [](cairo_t* cr, double c, double r) { questionMark(cr, c, c, r); });
    badge(out, "skin/message_exclamation.png", 32, kWarning,
          [](cairo_t* cr, double c, double r) { exclamation(cr, c, c, r, kWhite); });
    // The finish page's marks sit on an opaque white disc: the warning is placed exactly over
    // the success mark, so a failure hides it completely.
    badge(out, "skin/warning.png", 48, kWhite,
          [](cairo_t* cr, double c, double) { exclamation(cr, c, c, 20, kWarning); });
    badge(out, "skin/finish_ok.png", 48, kWhite,
          [](cairo_t* cr, double, double) { checkMark(cr, 8, 8, 32, kSuccess, 3.5); });
}

// ---- launch hint ----------------------------------------------------------------------------

void launchHint(Writer& out) {
    {
        // A rounded card with a soft shadow; everything outside it stays transparent.
        Canvas c(320, 320);
        cairo_t* cr = c.cr();
        for (int i = 6; i >= 1; --i) {
            roundRect(cr, 16 - i, 18 - i, 288 + 2 * i, 288 + 2 * i, 14 + i);
            color(cr, hex(0x000000), 0.018);
            cairo_fill(cr);
        }
        roundRect(cr, 16, 16, 288, 288, 14);
        color(cr, kWhite);
        cairo_fill(cr);
        out.png("skin/waiting.png", c);
    }
    // 21 frames of a spinner: a faint ring and a brand-colour arc that turns once per cycle.
    for (int frame = 0; frame < 21; ++frame) {
        Canvas c(48, 48);
        cairo_t* cr = c.cr();
        cairo_set_line_width(cr, 4);
        disc(cr, 24, 24, 19);
        color(cr, kHairline);
        cairo_stroke(cr);
        const double start = -kPi / 2 + frame * 2 * kPi / 21;
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_arc(cr, 24, 24, 19, start, start + kPi * 0.6);
        color(cr, kBrand);
        cairo_stroke(cr);
        char name[32];
        std::snprintf(name, sizeof name, "skin/gif/bg%.2d.png", frame);
        out.png(name, c);
    }
}

// ---- slides ---------------------------------------------------------------------------------

// A light sky for the upper part, where the installer writes each slide's caption in dark
// grey; the picture of the product sits below it.
void slideBackground(cairo_t* cr) {
    cairo_pattern_t* grad = cairo_pattern_create_linear(0, 0, 0, 300);
    cairo_pattern_add_color_stop_rgb(grad, 0, 0.976, 0.988, 0.992);
    cairo_pattern_add_color_stop_rgb(grad, 1, 0.878, 0.933, 0.941);
    cairo_set_source(cr, grad);
    cairo_paint(cr);
    cairo_pattern_destroy(grad);
}

// An editor window cut off by the bottom edge: title bar, side bar, lines of text.
void editorWindow(cairo_t* cr, double x, double y, double w, double h, uint32_t seed) {
    roundRect(cr, x, y + 3, w, h, 8);
    color(cr, hex(0x0E3C46), 0.10);
    cairo_fill(cr);
    roundRect(cr, x, y, w, h, 8);
    color(cr, kWhite);
    cairo_fill(cr);
    cairo_save(cr);
    roundRect(cr, x, y, w, h, 8);
    cairo_clip(cr);
    color(cr, kBrand);
    cairo_rectangle(cr, x, y, w, 22);
    cairo_fill(cr);
    for (int i = 0; i < 3; ++i) {
        disc(cr, x + 14 + i * 12, y + 11, 3.5);
        color(cr, kWhite, 0.55);
        cairo_fill(cr);
    }
    color(cr, hex(0xF1F5F6));
    cairo_rectangle(cr, x, y + 22, 88, h - 22);
    cairo_fill(cr);
    for (int i = 0; i < 6; ++i) {
        roundRect(cr, x + 12, y + 36 + i * 16, 40 + (i * 17) % 30, 6, 3);
        color(cr, i == 1 ? kBrand : kFrame, i == 1 ? 0.9 : 1.0);
        cairo_fill(cr);
    }
    uint32_t s = seed;
    for (int line = 0; line < 12; ++line) {
        s = s * 1103515245u + 12345u;
        const double indent = (line % 4 == 1 || line % 4 == 2) ? 18 : 0;
        double lx = x + 104 + indent;
        const double ly = y + 36 + line * 15;
        int words = 2 + int((s >> 16) % 4);
        for (int wd = 0; wd < words && lx < x + w - 30; ++wd) {
            s = s * 1103515245u + 12345u;
            const double ww = 18 + (s >> 16) % 46;
            roundRect(cr, lx, ly, ww, 6, 3);
            const bool accent = wd == 0 && line % 3 == 0;
            color(cr, accent ? kBandEnd : hex(0xB9C6CA), accent ? 0.85 : 1.0);
            cairo_fill(cr);
            lx += ww + 7;
        }
    }
    cairo_restore(cr);
}

// One slide: the light sky, then what `draw` puts on it.
void slide(Writer& out, int number, const std::function<void(cairo_t*)>& draw) {
    Canvas c(650, 300);
    slideBackground(c.cr());
    draw(c.cr());
    out.png("skin/anima/" + std::to_string(number) + ".png", c);
}

void slides(Writer& out) {
    // 1: large documents open at once — a window with a long scrolling text.
    slide(out, 1, [](cairo_t* cr) {
        editorWindow(cr, 125, 150, 400, 190, 11);
        roundRect(cr, 515, 172, 4, 60, 2);
        color(cr, kBrand, 0.7);
        cairo_fill(cr);
    });
    // 2: every version kept — stacked windows and a timeline of saved versions.
    slide(out, 2, [](cairo_t* cr) {
        editorWindow(cr, 205, 158, 360, 180, 21);
        editorWindow(cr, 185, 170, 360, 180, 22);
        editorWindow(cr, 165, 182, 360, 180, 23);
        color(cr, kBrand);
        cairo_set_line_width(cr, 2);
        cairo_move_to(cr, 100, 168);
        cairo_line_to(cr, 100, 300);
        cairo_stroke(cr);
        for (int i = 0; i < 4; ++i) {
            disc(cr, 100, 180 + i * 34, i == 0 ? 7 : 5);
            color(cr, i == 0 ? kBrand : kWhite);
            cairo_fill_preserve(cr);
            color(cr, kBrand);
            cairo_set_line_width(cr, 2);
            cairo_stroke(cr);
        }
    });
    // 3: working together — one window, two coloured cursors, two people.
    slide(out, 3, [](cairo_t* cr) {
        editorWindow(cr, 145, 150, 360, 190, 31);
        const Rgb people[] = {hex(0xD97706), hex(0x7C3AED)};
        const double cursorX[] = {330, 290}, cursorY[] = {201, 246};
        for (int i = 0; i < 2; ++i) {
            color(cr, people[i]);
            cairo_rectangle(cr, cursorX[i], cursorY[i] - 3, 2, 14);
            cairo_fill(cr);
            roundRect(cr, cursorX[i], cursorY[i] - 14, 14, 10, 3);
            cairo_fill(cr);
            const double ax = i == 0 ? 560 : 90, ay = 200;
            disc(cr, ax, ay, 22);
            color(cr, kWhite);
            cairo_fill(cr);
            disc(cr, ax, ay, 19);
            color(cr, people[i], 0.9);
            cairo_fill(cr);
            disc(cr, ax, ay - 5, 6);
            color(cr, kWhite);
            cairo_fill(cr);
            cairo_arc(cr, ax, ay + 13, 10, kPi, 2 * kPi);
            cairo_fill(cr);
        }
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: skin-art OUTDIR\n";
        return 2;
    }
    Writer out(argv[1]);
    bands(out);
    logos(out);
    buttons(out);
    controls(out);
    icons(out);
    launchHint(out);
    slides(out);
    return out.ok() ? 0 : 1;
}
