#include "ui_test_helper.h"

#include <thread>

#include "Logging.h"
#include "ui/Image.h"
#include "zip_builder.h"

namespace uitest {
namespace {

std::mutex g_logMutex;
std::vector<std::string> g_logLines;

class LogSink : public el::LogDispatchCallback {
protected:
    void handle(const el::LogDispatchData* data) override {
        std::lock_guard lock(g_logMutex);
        g_logLines.push_back(data->logMessage()->message());
    }
};

void putLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

std::string strip(const std::vector<uint32_t>& colors, int segment, int height) {
    return Png(segment * int(colors.size()), height,
               [&](int x, int) { return colors[size_t(x / segment)]; });
}

std::string image(const std::string& file, int l, int t, int r, int b) {
    return "file='" + file + "' source='" + std::to_string(l) + "," + std::to_string(t) + "," +
           std::to_string(r) + "," + std::to_string(b) + "'";
}

// Four state images of a 30 × 30 strip, as markup attributes.
std::string buttonImages(const std::string& file) {
    return "normalimage=\"" + image(file, 0, 0, 30, 30) + "\" hotimage=\"" +
           image(file, 30, 0, 60, 30) + "\" pushedimage=\"" + image(file, 60, 0, 90, 30) +
           "\" disabledimage=\"" + image(file, 90, 0, 120, 30) + "\"";
}

}  // namespace

std::string Png(int w, int h, const std::function<uint32_t(int, int)>& argb) {
    auto img = ui::Image::Create(w, h);
    uint32_t* px = img->Pixels();
    const int stride = img->Stride() / 4;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t c = argb(x, y);
            const uint32_t a = c >> 24;
            auto pm = [a](uint32_t v) { return (v * a + 127) / 255; };
            px[y * stride + x] = (a << 24) | (pm((c >> 16) & 0xFF) << 16) |
                                 (pm((c >> 8) & 0xFF) << 8) | pm(c & 0xFF);
        }
    }
    img->MarkDirty();
    auto bytes = img->EncodePng();
    return std::string(bytes.begin(), bytes.end());
}

std::string SolidPng(int w, int h, uint32_t argb) {
    return Png(w, h, [argb](int, int) { return argb; });
}

std::string Bmp24(int w, int h, const std::function<uint32_t(int, int)>& rgb) {
    const int row = ((w * 24 + 31) / 32) * 4;
    std::string out = "BM";
    putLe(out, uint32_t(54 + row * h), 4);
    putLe(out, 0, 4);
    putLe(out, 54, 4);
    putLe(out, 40, 4);
    putLe(out, uint32_t(w), 4);
    putLe(out, uint32_t(h), 4);
    putLe(out, 1, 2);
    putLe(out, 24, 2);
    putLe(out, 0, 4);
    putLe(out, uint32_t(row * h), 4);
    putLe(out, 2835, 4);
    putLe(out, 2835, 4);
    putLe(out, 0, 4);
    putLe(out, 0, 4);
    for (int y = h - 1; y >= 0; --y) {
        std::string line;
        for (int x = 0; x < w; ++x) {
            const uint32_t c = rgb(x, y);
            line.push_back(char(c & 0xFF));
            line.push_back(char((c >> 8) & 0xFF));
            line.push_back(char((c >> 16) & 0xFF));
        }
        line.resize(size_t(row), '\0');
        out += line;
    }
    return out;
}

std::shared_ptr<ui::SkinPackage> Skin(const std::map<std::string, std::string>& files) {
    return ui::SkinPackage::Open(kvtest::makeZip(files));
}

std::map<std::string, std::string> SampleSkin() {
    std::map<std::string, std::string> files;
    files["skin/strip.png"] = strip({kNormal, kHot, kPushed, kDisabled}, 30, 30);
    files["skin/check.png"] = strip({0xFF404040, 0xFF40C040}, 16, 16);
    files["skin/fore.png"] = SolidPng(200, 20, kFore);
    files["skin/panel.png"] = Png(30, 30, [](int x, int y) {
        const bool left = x < 10, right = x >= 20, top = y < 10, bottom = y >= 20;
        if (top && left)
            return kCornerTL;
        if (top && right)
            return kCornerTR;
        if (bottom && left)
            return kCornerBL;
        if (bottom && right)
            return kCornerBR;
        if (left || right || top || bottom)
            return kEdge;
        return kCentre;
    });
    files["skin/scrollbar.bmp"] =
        Bmp24(24, 12, [](int x, int) { return x < 12 ? 0x303030u : 0xD0D0D0u; });
    files["scrollbar.xml"] =
        "<Default name=\"VScrollBar\" value=\"width=&quot;12&quot; "
        "thumbnormalimage=&quot;file='skin\\scrollbar.bmp' "
        "source='0,0,12,12'&quot; bknormalimage=&quot;file='skin\\scrollbar.bmp' "
        "source='12,0,24,12'&quot;\"/>";
    files["pages/page0.xml"] =
        "<VerticalLayout name=\"page0\">"
        "<Text name=\"link_text\" height=\"30\" text=\"Read the {a "
        "https://licence.example/}licence{/a} now\"/>"
        "<Button name=\"btn\" width=\"30\" height=\"30\" " +
        buttonImages("skin\\Strip.PNG") +
        "/>"
        "<Button name=\"btn_off\" width=\"30\" height=\"30\" enabled=\"false\" " +
        buttonImages("skin/strip.png") +
        "/>"
        "</VerticalLayout>";
    files["pages/page1.xml"] =
        "<VerticalLayout name=\"page1\" bkcolor=\"#FF00FF00\"><Label name=\"page1_label\" "
        "text=\"page one\"/></VerticalLayout>";
    std::string rich = "{p}Licence terms.{/p}";
    for (int i = 0; i < 40; ++i)
        rich += "{p}Paragraph " + std::to_string(i) + " of the agreement, long enough to wrap.{/p}";
    rich += "{p}See {a}the web page{/a}.{/p}";
    files["main.xml"] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Window size=\"650,560\" caption=\"0,0,0,60\" linkfontcolor=\"#FF0000FF\" "
        "linkhoverfontcolor=\"#FFFF0000\">"
        "<Font name=\"Microsoft YaHei\" size=\"12\" default=\"true\"/>"
        "<Font name=\"Microsoft YaHei\" size=\"16\" bold=\"true\"/>"
        "<Include source=\"scrollbar.xml\"/>"
        "<VerticalLayout name=\"root\" bkcolor=\"#FFF0F0F0\">"
        " <HorizontalLayout name=\"top\" height=\"60\" bkimage=\"file='skin\\panel.png' "
        "corner='10,10,10,10'\">"
        "  <Label name=\"title\" width=\"200\" text=\"{f 1}Title{/f}\" textcolor=\"#FF202020\"/>"
        "  <Control/>"
        "  <Button name=\"minbtn\" width=\"30\" height=\"30\" padding=\"0,15,0,0\" " +
        buttonImages("skin/strip.png") +
        "/>"
        "  <Button name=\"closebtn\" width=\"30\" height=\"30\" padding=\"0,15,0,0\" " +
        buttonImages("skin/strip.png") +
        "/>"
        " </HorizontalLayout>"
        " <TabLayout name=\"tabs\" height=\"100\">"
        "  <Include source=\"pages\\page0.xml\"/>"
        "  <Include source=\"pages/page1.xml\"/>"
        " </TabLayout>"
        " <HorizontalLayout name=\"row\" height=\"40\">"
        "  <CheckBox name=\"check\" width=\"100\" text=\"Agree\" "
        "normalimage=\"file='skin/check.png' source='0,0,16,16' dest='0,12,16,28'\""
        "   selectedimage=\"file='skin/check.png' source='16,0,32,16' dest='0,12,16,28'\"/>"
        "  <Option name=\"opt1\" group=\"slides\" width=\"40\" selected=\"true\"/>"
        "  <Option name=\"opt2\" group=\"slides\" width=\"40\"/>"
        "  <Option name=\"opt3\" group=\"slides\" width=\"40\"/>"
        "  <Edit name=\"edit\" width=\"200\" text=\"C:\\Quenlake\" maxchar=\"20\"/>"
        " </HorizontalLayout>"
        " <HorizontalLayout name=\"row2\" height=\"30\">"
        "  <Combo name=\"combo\" width=\"200\" itemheight=\"20\">"
        "   <ListLabelElement name=\"item_en\" text=\" English\" tooltip=\" English\"/>"
        "   <ListLabelElement name=\"item_ja\" text=\" \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\" "
        "visible=\"false\"/>"
        "   <ListLabelElement name=\"item_zh\" text=\" "
        "\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87\" tooltip=\"zh\"/>"
        "  </Combo>"
        "  <Progress name=\"progress\" width=\"200\" height=\"20\" min=\"0\" max=\"100\" "
        "value=\"25\" bkcolor=\"#FF000000\" foreimage=\"skin/fore.png\"/>"
        "  <Label name=\"hidden_label\" width=\"100\" text=\"secret\" visible=\"false\" "
        "bkcolor=\"#FFFF00FF\"/>"
        " </HorizontalLayout>"
        " <RichEdit name=\"rich\" height=\"120\" vscrollbar=\"true\" text=\"" +
        rich +
        "\"/>"
        " <Control/>"
        "</VerticalLayout></Window>";
    files["trans.xml"] =
        "<Window size=\"120,120\" bktrans=\"true\" roundcorner=\"40,40\">"
        "<VerticalLayout bkimage=\"file='skin/panel.png' corner='10,10,10,10'\"/></Window>";
    files["box.xml"] =
        "<Window size=\"300,120\">"
        "<VerticalLayout bkcolor=\"#FFFFFFFF\">"
        " <Label name=\"msg\" text=\"Sure?\"/>"
        " <HorizontalLayout height=\"30\">"
        "  <Button name=\"btn_yes\" text=\"Yes\" width=\"80\"/><Button name=\"btn_no\" text=\"No\" "
        "width=\"80\"/>"
        " </HorizontalLayout>"
        "</VerticalLayout></Window>";
    return files;
}

void RecordingWindow::Notify(ui::Notification& msg) {
    events.push_back({msg.type, msg.sender ? msg.sender->GetName() : std::string(), msg.wParam,
                      msg.text, ui::IsUiThread()});
    ui::WindowBase::Notify(msg);
    if (msg.type == ui::kNotifyClick && msg.sender) {
        auto it = closeOn.find(msg.sender->GetName());
        if (it != closeOn.end())
            Close(it->second);
    }
}

ui::LResult RecordingWindow::HandleMessage(unsigned message, ui::WParam wParam, ui::LParam lParam) {
    if (message >= ui::kWmUser || message == ui::kWmTimer) {
        messages.emplace_back(message, wParam);
        events.push_back({"message", "", wParam, std::to_string(message), ui::IsUiThread()});
    }
    return ui::WindowBase::HandleMessage(message, wParam, lParam);
}

std::vector<std::string> RecordingWindow::typesOf(const std::string& sender) const {
    std::vector<std::string> types;
    for (const Event& e : events)
        if (e.sender == sender)
            types.push_back(e.type);
    return types;
}

LogCapture::LogCapture() {
    {
        std::lock_guard lock(g_logMutex);
        g_logLines.clear();
    }
    el::Helpers::installLogDispatchCallback<LogSink>("uitest");
}

LogCapture::~LogCapture() {
    el::Helpers::uninstallLogDispatchCallback<LogSink>("uitest");
}

std::vector<std::string> LogCapture::Lines() const {
    std::lock_guard lock(g_logMutex);
    return g_logLines;
}

int LogCapture::Count(const std::string& fragment) const {
    int n = 0;
    for (const std::string& line : Lines())
        n += line.find(fragment) != std::string::npos;
    return n;
}

}  // namespace uitest
