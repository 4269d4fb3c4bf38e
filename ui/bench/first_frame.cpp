// Time to the first frame of an installer-sized window (650 × 560, a dozen pictures, text in
// three fonts and scripts), from the start of the process, headless or in a GTK window, and the
// peak memory it took. Run each mode in a fresh process: the font lookup is part of the cost.
//
//   ui_bench_first_frame [--gtk] [--png FILE]

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "ui/GtkHost.h"
#include "ui/HeadlessHost.h"
#include "ui/Painter.h"
#include "ui/SkinPackage.h"

namespace {

const auto kStart = std::chrono::steady_clock::now();

// CPU time of the process: on a shared machine the wall clock mostly measures the neighbours.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

double elapsedMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - kStart)
        .count();
}

std::vector<uint8_t> picture(int w, int h, uint32_t seed) {
    auto img = ui::Image::Create(w, h);
    uint32_t* px = img->Pixels();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[y * (img->Stride() / 4) + x] =
                0xFF000000u | ((x * 255 / w) << 16) | ((y * 255 / h) << 8) | (seed & 0xFF);
    img->MarkDirty();
    return img->EncodePng();
}

// A stored (uncompressed) ZIP, enough for a benchmark's own package.
std::vector<uint8_t> zip(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
    std::vector<uint8_t> out, dir;
    auto le = [](std::vector<uint8_t>& v, uint32_t x, int n) {
        for (int i = 0; i < n; ++i)
            v.push_back(uint8_t(x >> (8 * i)));
    };
    uint32_t table[256];
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    for (const auto& [name, data] : files) {
        uint32_t crc = 0xFFFFFFFFu;
        for (uint8_t b : data)
            crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
        crc ^= 0xFFFFFFFFu;
        const uint32_t offset = uint32_t(out.size());
        for (uint32_t v : {0x04034b50u})
            le(out, v, 4);
        le(out, 20, 2), le(out, 0, 2), le(out, 0, 2), le(out, 0, 4), le(out, crc, 4);
        le(out, uint32_t(data.size()), 4), le(out, uint32_t(data.size()), 4),
            le(out, uint32_t(name.size()), 2), le(out, 0, 2);
        out.insert(out.end(), name.begin(), name.end());
        out.insert(out.end(), data.begin(), data.end());
        le(dir, 0x02014b50u, 4), le(dir, 20, 2), le(dir, 20, 2), le(dir, 0, 2), le(dir, 0, 2),
            le(dir, 0, 4), le(dir, crc, 4);
        le(dir, uint32_t(data.size()), 4), le(dir, uint32_t(data.size()), 4),
            le(dir, uint32_t(name.size()), 2);
        le(dir, 0, 2), le(dir, 0, 2), le(dir, 0, 2), le(dir, 0, 2), le(dir, 0, 4),
            le(dir, offset, 4);
        dir.insert(dir.end(), name.begin(), name.end());
    }
    const uint32_t start = uint32_t(out.size());
    out.insert(out.end(), dir.begin(), dir.end());
    le(out, 0x06054b50u, 4), le(out, 0, 2), le(out, 0, 2), le(out, uint32_t(files.size()), 2),
        le(out, uint32_t(files.size()), 2);
    le(out, uint32_t(dir.size()), 4), le(out, start, 4), le(out, 0, 2);
    return out;
}

std::shared_ptr<ui::SkinPackage> skin() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    const std::pair<const char*, std::pair<int, int>> pictures[] = {
        {"skin/backgroud.png", {650, 360}},   {"skin/bg_setting.png", {650, 200}},
        {"skin/logo.png", {160, 48}},         {"skin/button_min.png", {120, 30}},
        {"skin/button_close.png", {120, 30}}, {"skin/btn_install.png", {800, 54}},
        {"skin/btn_browse.png", {320, 30}},   {"skin/checkbox_h.png", {16, 16}},
        {"skin/checkbox_p.png", {16, 16}},    {"skin/combo_nor.png", {200, 28}},
        {"skin/combo_over.png", {200, 28}},   {"skin/bkprogress.png", {400, 10}},
    };
    uint32_t seed = 1;
    for (const auto& [name, size] : pictures)
        files.emplace_back(name, picture(size.first, size.second, seed++ * 37));
    const std::string markup =
        "<Window size=\"650,560\" caption=\"0,0,0,310\">"
        "<Font name=\"Microsoft YaHei\" size=\"12\" default=\"true\"/><Font name=\"Microsoft "
        "YaHei\" size=\"22\" bold=\"true\"/>"
        "<Font name=\"Times New Roman\" size=\"14\"/>"
        "<VerticalLayout>"
        " <VerticalLayout height=\"360\" bkimage=\"skin\\backgroud.png\">"
        "  <HorizontalLayout height=\"40\"><Control width=\"16\"/><Control width=\"160\" "
        "bkimage=\"skin\\logo.png\"/><Control/>"
        "   <Button width=\"30\" normalimage=\"file='skin\\button_min.png' source='0,0,30,30'\" "
        "hotimage=\"file='skin\\button_min.png' source='30,0,60,30'\"/>"
        "   <Button width=\"30\" normalimage=\"file='skin\\button_close.png' "
        "source='0,0,30,30'\"/></HorizontalLayout>"
        "  <Text height=\"80\" font=\"1\" align=\"center\" text=\"Kestrova Editor "
        "\xE7\xAB\x8B\xE5\x8D\xB3\xE5\xAE\x89\xE8\xA3\x85\"/>"
        "  <Button height=\"54\" padding=\"125,40,125,0\" font=\"1\" text=\"Install now\" "
        "textcolor=\"#FFFFFFFF\""
        "   normalimage=\"file='skin\\btn_install.png' source='0,0,400,54' corner='10,10,10,10'\"/>"
        "  <HorizontalLayout height=\"24\" padding=\"125,20,0,0\"><CheckBox width=\"20\" "
        "normalimage=\"skin\\checkbox_h.png\""
        "   selectedimage=\"skin\\checkbox_p.png\" selected=\"true\"/><Text text=\"I accept the "
        "{a}licence agreement{/a}\"/></HorizontalLayout>"
        " </VerticalLayout>"
        " <VerticalLayout height=\"200\" bkimage=\"skin\\bg_setting.png\" inset=\"30,20,30,20\" "
        "childpadding=\"10\">"
        "  <HorizontalLayout height=\"28\"><Label width=\"120\" text=\"Language\"/><Combo "
        "width=\"200\" normalimage=\"skin\\Combo_nor.png\""
        "   hotimage=\"skin\\Combo_over.png\"><ListLabelElement text=\" English\" "
        "selected=\"true\"/>"
        "   <ListLabelElement text=\" "
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\"/></Combo></HorizontalLayout>"
        "  <HorizontalLayout height=\"30\"><Edit width=\"400\" text=\"/opt/Quenlake\"/><Button "
        "width=\"80\" text=\"Browse\""
        "   normalimage=\"file='skin\\btn_browse.png' source='0,0,80,30'\"/></HorizontalLayout>"
        "  <Label font=\"2\" text=\"\xD8\xAA\xD8\xAB\xD8\xA8\xD9\x8A\xD8\xAA \xE2\x80\x94 "
        "Installation \xE2\x80\x94 "
        "\xD0\xA3\xD1\x81\xD1\x82\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xBA\xD0\xB0\"/>"
        "  <Progress height=\"10\" value=\"40\" bkimage=\"skin\\bkprogress.png\" "
        "foreimage=\"skin\\bkprogress.png\"/>"
        " </VerticalLayout>"
        "</VerticalLayout></Window>";
    files.emplace_back("InstallMainWnd.xml", std::vector<uint8_t>(markup.begin(), markup.end()));
    return ui::SkinPackage::Open(zip(files));
}

class BenchWindow : public ui::WindowBase {
public:
    std::string GetSkinFile() const override { return "InstallMainWnd.xml"; }
};

long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    bool gtk = false;
    std::string png;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--gtk"))
            gtk = true;
        else if (!std::strcmp(argv[i], "--png") && i + 1 < argc)
            png = argv[++i];
    }
    const double startMs = elapsedMs();
    ui::SkinPackage::SetDefault(skin());
    const double skinMs = elapsedMs();
    const double skinCpu = cpuMs();
    ui::headless::HeadlessBackend* headless = nullptr;
    if (gtk) {
        if (!ui::gtk::Install()) {
            std::fprintf(stderr, "no X display\n");
            return 2;
        }
    } else {
        headless = ui::headless::HeadlessBackend::Install();
    }
    const double hostMs = elapsedMs();
    BenchWindow window;
    window.Create(nullptr, "bench");
    const double createMs = elapsedMs();
    window.CenterWindow();
    window.ShowWindow();
    if (gtk) {
        if (!ui::gtk::WaitForFrames(window, 1, 10000))
            return 3;
    } else {
        headless->Pump();
        ui::headless::Frame frame = headless->HostOf(window)->Render();
        if (!png.empty())
            frame.image->SavePng(png);
    }
    const double frameMs = elapsedMs();
    std::fprintf(stderr, "phases: host %.1f ms, build %.1f ms, first paint %.1f ms\n",
                 hostMs - skinMs, createMs - hostMs, frameMs - createMs);
    if (gtk && !png.empty())
        ui::gtk::SaveScreenshot(window, png);
    std::printf(
        "%s first frame: %.1f ms wall, %.1f ms CPU (package built in %.1f ms, not counted), peak "
        "memory %.1f MiB\n",
        gtk ? "gtk" : "headless", frameMs - skinMs + startMs, cpuMs() - skinCpu, skinMs - startMs,
        peakKiB() / 1024.0);
    return 0;
}
