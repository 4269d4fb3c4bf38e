#pragma once
// Shared pieces of the UI tests: pictures made in memory, a sample skin with every control,
// a window class that records what it is told, and a capture of the program log.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/SkinPackage.h"
#include "ui/WindowBase.h"

namespace uitest {

// PNG bytes of a w × h picture whose pixel (x, y) is argb(x, y) (0xAARRGGBB).
std::string Png(int w, int h, const std::function<uint32_t(int, int)>& argb);
std::string SolidPng(int w, int h, uint32_t argb);
// A 24-bit bottom-up BMP.
std::string Bmp24(int w, int h, const std::function<uint32_t(int, int)>& rgb);

std::shared_ptr<ui::SkinPackage> Skin(const std::map<std::string, std::string>& files);

// Colours of the sample skin's pictures.
inline constexpr uint32_t kNormal = 0xFFCC0000, kHot = 0xFF00CC00, kPushed = 0xFF0000CC,
                          kDisabled = 0xFF808080;
inline constexpr uint32_t kCornerTL = 0xFFFF0000, kCornerTR = 0xFF00FF00, kCornerBL = 0xFF0000FF,
                          kCornerBR = 0xFFFFFF00, kEdge = 0xFF808080, kCentre = 0xFFFFFFFF;
inline constexpr uint32_t kFore = 0xFF00AAFF, kProgressBk = 0xFF000000;

// "main.xml" (650 × 560, every control, includes with both separators), its pages, a message
// box "box.xml", and the pictures they name.
std::map<std::string, std::string> SampleSkin();

struct Event {
    std::string type;
    std::string sender;
    ui::WParam wParam = 0;
    std::string text;
    bool onUiThread = false;
};

class RecordingWindow : public ui::WindowBase {
public:
    explicit RecordingWindow(std::string file) : m_file(std::move(file)) {}
    std::string GetSkinFile() const override { return m_file; }
    void Notify(ui::Notification& msg) override;
    ui::LResult HandleMessage(unsigned message, ui::WParam wParam, ui::LParam lParam) override;
    // Buttons whose click closes the window with a result.
    std::map<std::string, int> closeOn;
    std::vector<Event> events;
    std::vector<std::pair<unsigned, ui::WParam>> messages;  // kWmUser + n and kWmTimer only
    std::vector<std::string> typesOf(const std::string& sender) const;

private:
    std::string m_file;
};

// Collects the program log's lines while it lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<std::string> Lines() const;
    int Count(const std::string& fragment) const;
};

}  // namespace uitest
