// kvpreview SKIN message KIND [--lang INDEX] [--owner] [--shot OUT.png]
// kvpreview SKIN launch-hint SECONDS PROGRAM [--lang INDEX] [--shot OUT.png]
//
// Shows the installer's message box or launch hint of a skin package (a ZIP, or a program that
// carries one) as real GTK windows, so a vendor sees them live; with --shot the window (the
// owner with the box over it, for --owner) is saved as the X server shows it and the message
// box then answers itself. The launch hint starts PROGRAM and ends the process as the installer
// does; nothing is reported. Exit status: the box's answer (1 or 2), 0 after the launch hint,
// 2 bad arguments, 3 no display.

#include <chrono>
#include <iostream>
#include <thread>

#include "Common/alient_wnd.h"
#include "Common/message_box_wnd.h"
#include "Logging.h"
#include "Snapshot.h"
#include "report/EventReporter.h"
#include "ui/GtkHost.h"

namespace {

// The main window's markup without its logic: what the box is shown over.
class PlainWindow : public ui::WindowBase {
public:
    std::string GetSkinFile() const override { return "InstallMainWnd.xml"; }
    std::string GetSkinFolder() const override { return "skin\\"; }
};

// Saves `window` as shown once it has painted, then runs `after`, on the UI thread.
std::thread ShootLater(ui::WindowBase& window, std::string path, std::function<void()> after) {
    return std::thread([&window, path = std::move(path), after = std::move(after),
                        queue = window.GetMessageQueue()] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        queue->InvokeSync([&] {
            std::string error;
            // The screen, not the window: a box over its owner shows as it is stacked.
            if (!ui::gtk::SaveScreenArea(window.GetWindowRect(), path, &error))
                std::cerr << "kvpreview: " << error << "\n";
            else
                std::cout << "kvpreview: saved " << path << "\n";
            if (after)
                after();
        });
    });
}

int Usage() {
    std::cerr
        << "usage: kvpreview SKIN message KIND [--lang INDEX] [--owner] [--shot OUT.png]\n"
           "       kvpreview SKIN launch-hint SECONDS PROGRAM [--lang INDEX] [--shot OUT.png]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 3)
        return Usage();
    int language = 0;
    bool withOwner = false;
    std::string shot;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--lang" && i + 1 < args.size())
            language = std::atoi(args[++i].c_str());
        else if (args[i] == "--shot" && i + 1 < args.size())
            shot = args[++i];
        else if (args[i] == "--owner")
            withOwner = true;
        else
            positional.push_back(args[i]);
    }
    std::string error;
    auto skin = kvsnap::OpenSkin(positional[0], error);
    if (!skin) {
        std::cerr << "kvpreview: " << error << "\n";
        return 2;
    }
    ui::SkinPackage::SetDefault(skin);
    EventReporter::setUpInstance(EventReporter::recordOnly());
    if (!ui::gtk::Install()) {
        std::cerr << "kvpreview: no X display\n";
        return 3;
    }

    if (positional[1] == "message" && positional.size() == 3) {
        const int kind = std::atoi(positional[2].c_str());
        PlainWindow owner;
        if (withOwner) {
            owner.Create(nullptr, "Kestrova Editor");
            owner.CenterWindow();
            owner.ShowWindow();
        }
        MessageBoxWnd box(kind, language);
        box.Create(withOwner ? &owner : nullptr, "MSGUIDemo", {0, 0, 452, 190});
        box.CenterWindow();
        std::thread shooter;
        if (!shot.empty())
            shooter = ShootLater(withOwner ? static_cast<ui::WindowBase&>(owner) : box, shot,
                                 [&] { box.Close(2); });
        const int answer = box.ShowModal();
        if (shooter.joinable())
            shooter.join();
        return answer;
    }
    if (positional[1] == "launch-hint" && positional.size() == 4) {
        CAlientWnd::Launch launch{1,         "\"" + positional[3] + "\"",      "Kestrova Editor",
                                  "2.4.1.0", std::atoi(positional[2].c_str()), language};
        CAlientWnd hint(launch, {});
        hint.Create(nullptr, "MSGUIDemo", {0, 0, 600, 400});
        hint.CenterWindow();
        // The process ends from the hint; the shooter is left to that end.
        if (!shot.empty())
            ShootLater(hint, shot, {}).detach();
        hint.ShowModal();
        return 0;
    }
    return Usage();
}
