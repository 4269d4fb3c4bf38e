// libFuzzer target for the markup loader: any bytes as a window file, built, laid out and
// painted, with a few package files it may include. Nothing may crash, hang or leak.

#include <cstddef>
#include <cstdint>
#include <string>

#include "Logging.h"
#include "ui/HostInput.h"
#include "ui/Image.h"
#include "ui/MarkupLoader.h"
#include "ui/PaintManager.h"
#include "ui/Painter.h"
#include "ui/SkinPackage.h"
#include "ui/ZipArchive.h"

namespace {

// A package of a few files the input can include or show, made once. The ZIP is stored
// without compression and built by hand so the target needs no archive writer.
std::shared_ptr<ui::SkinPackage> package() {
    static std::shared_ptr<ui::SkinPackage> skin = [] {
        auto png = ui::Image::Create(8, 8)->EncodePng();
        const std::pair<std::string, std::string> files[] = {
            {"page.xml",
             "<VerticalLayout name='p'><Label text='{a}x{/a}'/><Include "
             "source='page.xml'/></VerticalLayout>"},
            {"styles.xml",
             "<Window><Font name='Arial' size='12'/><Default name='Button' "
             "value='width=&quot;5&quot;'/></Window>"},
            {"skin/a.png", std::string(png.begin(), png.end())},
        };
        std::string zip, directory;
        auto le = [](std::string& out, uint32_t v, int n) {
            for (int i = 0; i < n; ++i)
                out.push_back(char((v >> (8 * i)) & 0xFF));
        };
        uint32_t crcTable[256];
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            crcTable[i] = c;
        }
        for (const auto& [name, data] : files) {
            uint32_t crc = 0xFFFFFFFFu;
            for (unsigned char b : data)
                crc = crcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
            crc ^= 0xFFFFFFFFu;
            const uint32_t offset = uint32_t(zip.size());
            le(zip, 0x04034b50, 4), le(zip, 20, 2), le(zip, 0, 2), le(zip, 0, 2), le(zip, 0, 4);
            le(zip, crc, 4), le(zip, uint32_t(data.size()), 4), le(zip, uint32_t(data.size()), 4);
            le(zip, uint32_t(name.size()), 2), le(zip, 0, 2);
            zip += name + data;
            le(directory, 0x02014b50, 4), le(directory, 20, 2), le(directory, 20, 2),
                le(directory, 0, 2);
            le(directory, 0, 2), le(directory, 0, 4), le(directory, crc, 4),
                le(directory, uint32_t(data.size()), 4);
            le(directory, uint32_t(data.size()), 4), le(directory, uint32_t(name.size()), 2),
                le(directory, 0, 2);
            le(directory, 0, 2), le(directory, 0, 2), le(directory, 0, 2), le(directory, 0, 4),
                le(directory, offset, 4);
            directory += name;
        }
        const uint32_t start = uint32_t(zip.size());
        zip += directory;
        le(zip, 0x06054b50, 4), le(zip, 0, 2), le(zip, 0, 2), le(zip, 3, 2), le(zip, 3, 2);
        le(zip, uint32_t(directory.size()), 4), le(zip, start, 4), le(zip, 0, 2);
        return ui::SkinPackage::Open(std::vector<uint8_t>(zip.begin(), zip.end()));
    }();
    return skin;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Markup mistakes are logged by design; keep the fuzzer's output readable.
    el::Loggers::reconfigureAllLoggers(el::ConfigurationType::Enabled, "false");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024)
        return 0;
    const std::string_view xml(reinterpret_cast<const char*>(data), size);
    ui::MarkupDocument doc = ui::MarkupLoader(package()).LoadFromText(xml, "fuzz.xml");
    ui::PaintManager pm;
    pm.SetSkin(package(), {});
    pm.Attach(std::move(doc));
    pm.SetClientSize({160, 120});
    pm.Layout();
    auto frame = ui::Image::Create(160, 120);
    ui::Painter painter(*frame);
    pm.Paint(painter, {0, 0, 160, 120});
    ui::HostInputOf(pm).OnMouseMove({20, 20});
    ui::HostInputOf(pm).OnMouseDown({20, 20});
    ui::HostInputOf(pm).OnMouseUp({20, 20});
    return 0;
}
