// The GTK host on a real X server: a private Xvfb started here, and the windows driven in a
// child process (GTK binds a process to one display for good).

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>

#include "test_support.h"
#include "ui/Edit.h"
#include "ui/GtkHost.h"
#include "ui/Image.h"
#include "ui/Painter.h"
#include "ui_test_helper.h"
#include "virtual_display.h"

namespace {

class TimedWindow : public uitest::RecordingWindow {
public:
    using RecordingWindow::RecordingWindow;
    std::function<void(int)> onTimer;
    ui::LResult HandleMessage(unsigned message, ui::WParam wParam, ui::LParam lParam) override {
        if (message == ui::kWmTimer && onTimer)
            onTimer(int(wParam));
        return RecordingWindow::HandleMessage(message, wParam, lParam);
    }
};

bool waitFor(const std::function<bool()>& done, int ms) {
    for (int waited = 0; waited < ms && !done(); waited += 20)
        ui::gtk::RunFor(20);
    return done();
}

// Runs in the child: exit code 0 is success, anything else names the step that failed.
KV_TEST_CHILD(gtk_smoke) {
    const std::filesystem::path out = args.at(0);
    if (!ui::gtk::Install())
        return 10;
    ui::SkinPackage::SetDefault(uitest::Skin(uitest::SampleSkin()));
    TimedWindow window("main.xml");
    if (!window.Create(nullptr, "Sample"))
        return 11;
    window.CenterWindow();
    const ui::Rect placed = window.GetWindowRect();
    if (placed != ui::Rect::FromSize(315, 232, 650, 560))
        return 12;  // centred on 1280 × 1024
    window.ShowWindow();
    if (!ui::gtk::WaitForFrames(window, 1, 10000))
        return 13;

    // A click through the X server reaches the button as "click".
    const ui::Point btn = window.FindControl("btn")->GetPos().Center();
    if (!ui::gtk::SimulateClick(window, btn))
        return 14;
    if (!waitFor([&] { return !window.typesOf("btn").empty(); }, 5000))
        return 15;
    if (window.typesOf("btn") != std::vector<std::string>{"click"})
        return 16;
    ui::gtk::RunFor(100);

    // The screenshot shows what the same painter draws headless.
    const std::string shot = (out / "gtk-smoke.png").string();
    std::string error;
    if (!ui::gtk::SaveScreenshot(window, shot, &error)) {
        std::fprintf(stderr, "screenshot: %s\n", error.c_str());
        return 17;
    }
    const std::string bytes = kvtest::readFile(shot);
    auto seen = ui::DecodeImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!seen || seen->Width() != 650 || seen->Height() != 560)
        return 18;
    auto drawn = ui::Image::Create(650, 560);
    {
        ui::Painter painter(*drawn);
        window.GetPaintManager().Paint(painter, {0, 0, 650, 560});
    }
    int same = 0;
    for (int y = 0; y < 560; ++y)
        for (int x = 0; x < 650; ++x)
            same += (seen->PixelAt(x, y) & 0xFFFFFF) == (drawn->PixelAt(x, y) & 0xFFFFFF);
    std::printf("gtk smoke: %.2f%% of the screenshot equals the headless frame\n",
                same * 100.0 / (650 * 560));
    if (same < 650 * 560 * 99 / 100)
        return 19;

    // A modal box on top: its own loop, answered by a click through the server.
    TimedWindow box("box.xml");
    box.closeOn = {{"btn_yes", 1}, {"btn_no", 2}};
    if (!box.Create(&window, "MSGUIDemo", {0, 0, 452, 190}))
        return 20;
    box.CenterWindow();
    box.onTimer = [&](int) {
        box.KillTimer(1);
        ui::gtk::SimulateClick(box, box.FindControl("btn_no")->GetPos().Center());
    };
    box.SetTimer(1, 300);
    if (box.ShowModal() != 2)
        return 21;

    // A transparent window with round corners: alpha with a compositor, a shape without.
    uitest::RecordingWindow trans("trans.xml");
    if (!trans.Create(nullptr, "hint", {20, 20, 0, 0}))
        return 27;
    trans.ShowWindow();
    if (!ui::gtk::WaitForFrames(trans, 1, 5000))
        return 28;
    std::printf("gtk smoke: compositor %s\n",
                ui::gtk::HasCompositor() ? "yes" : "no (shaped window)");
    trans.ShowWindow(false);

    // Editing lays the native entry over the edit; leaving it hands the text back.
    auto* edit = window.FindControl<ui::Edit>("edit");
    if (!ui::gtk::SimulateClick(window, edit->GetPos().Center()))
        return 22;
    if (!waitFor([&] { return edit->IsEditing(); }, 5000))
        return 23;
    window.GetPaintManager().SetFocus(nullptr);
    if (edit->IsEditing() || edit->GetText() != "C:\\Quenlake")
        return 24;

    // A folder dialog still open when the program quits is closed, not left blocking.
    window.onTimer = [](int) { ui::PostQuitMessage(0); };
    window.SetTimer(5, 300);
    if (ui::GetHostBackend()->BrowseForFolder(window.GetHost(), "/tmp"))
        return 25;
    if (!ui::QuitRequested())
        return 26;
    return 0;
}

// The owner of a running modal box takes no pointer, key or close request; afterwards it does.
KV_TEST_CHILD(gtk_modal) {
    if (!ui::gtk::Install())
        return 10;
    // The primary monitor of the Xvfb below, in device pixels at scale 1.
    const ui::ScreenMetrics screen = ui::GetHostBackend()->GetScreenMetrics();
    if (screen.pixels != ui::Size{1280, 1024} || screen.scale != 1.0)
        return 11;
    ui::SkinPackage::SetDefault(uitest::Skin(uitest::SampleSkin()));
    TimedWindow window("main.xml");
    if (!window.Create(nullptr, "Owner"))
        return 12;
    window.CenterWindow();
    window.ShowWindow();
    if (!ui::gtk::WaitForFrames(window, 1, 10000))
        return 13;
    ui::Control* btn = window.FindControl("btn");
    const ui::Point at = btn->GetPos().Center();
    window.GetPaintManager().SetFocus(btn);  // Space would click it

    TimedWindow box("box.xml");
    if (!box.Create(&window, "MSGUIDemo", {0, 0, 452, 190}))
        return 14;
    box.MoveWindow(0, 0);  // beside the owner, so the pointer reaches the owner itself
    int tick = 0;
    size_t eventsWhileModal = 0;
    bool closedWhileModal = false;
    box.onTimer = [&](int) {
        if (++tick == 1) {
            window.events.clear();
            ui::gtk::SimulateClick(window, at);
            ui::gtk::SimulateKey(window, ui::kVkSpace);
            ui::gtk::SimulateCloseRequest(window);
            return;
        }
        box.KillTimer(1);
        // What a person sees while the box runs: the owner as it was, the box beside it.
        ui::gtk::SaveScreenshot(window, (std::filesystem::path(args.at(0)) / "owner.png").string());
        ui::gtk::SaveScreenshot(box, (std::filesystem::path(args.at(0)) / "box.png").string());
        eventsWhileModal = window.events.size();
        closedWhileModal = window.IsClosed();
        box.Close(7);
    };
    box.SetTimer(1, 500);
    if (box.ShowModal() != 7)
        return 15;
    if (eventsWhileModal != 0 || closedWhileModal)
        return 16;

    // Input works again once the box is gone.
    if (!ui::gtk::SimulateClick(window, at) ||
        !waitFor([&] { return window.typesOf("btn").size() == 1; }, 5000))
        return 17;
    ui::gtk::SimulateKey(window, ui::kVkSpace);
    if (window.typesOf("btn").size() != 2)
        return 18;
    ui::gtk::SimulateCloseRequest(window);
    if (!waitFor([&] { return window.IsClosed(); }, 5000))
        return 19;
    return 0;
}

class NamedWindow : public uitest::RecordingWindow {
public:
    NamedWindow(std::string file, std::string className)
        : RecordingWindow(std::move(file)), m_className(std::move(className)) {}
    std::string GetWindowClassName() const override { return m_className; }

private:
    std::string m_className;
};

// Shows a window of class args[0] and one of another class right over it, then runs the loop
// until the file args[1] appears (at most 60 s).
KV_TEST_CHILD(gtk_class_owner) {
    if (!ui::gtk::Install())
        return 10;
    ui::SkinPackage::SetDefault(uitest::Skin(uitest::SampleSkin()));
    NamedWindow window("main.xml", args.at(0));
    NamedWindow cover("main.xml", "Cover");
    if (!window.Create(nullptr, "Owner") || !cover.Create(nullptr, "Cover"))
        return 11;
    for (NamedWindow* w : {&window, &cover}) {
        w->CenterWindow();
        w->ShowWindow();
    }
    if (!ui::gtk::WaitForFrames(cover, 1, 10000))
        return 12;
    waitFor([&] { return std::filesystem::exists(args.at(1)); }, 60000);
    return 0;
}

// 0 when a window of class args[0] was found and activated, 1 when there was none.
KV_TEST_CHILD(gtk_activate) {
    if (!ui::gtk::Install())
        return 10;
    return ui::GetHostBackend()->ActivateWindowOfClass(args.at(0)) ? 0 : 1;
}

// Runs a child of this binary against a private Xvfb: its exit code, or nullopt (and `why`)
// when no X server could be started.
std::optional<int> runUnderXvfb(const char* child, const std::vector<std::string>& args,
                                std::string* why) {
    kvtest::DisplayScope display;
    if (!display.Start(why))
        return std::nullopt;
    return kvtest::waitChild(kvtest::spawnChild(child, args), 120000);
}

// Keeps a picture the child took beside the binaries, for a person to look at.
void keepPicture(const std::filesystem::path& file, const std::string& as) {
    std::error_code ec;
    std::filesystem::copy_file(file, std::filesystem::path(KV_BIN_DIR) / as,
                               std::filesystem::copy_options::overwrite_existing, ec);
}

TEST(GtkHost, AModalBoxBlocksAllInputToItsOwner) {
    kvtest::TempDir dir;
    std::string why;
    const auto rc = runUnderXvfb("gtk_modal", {dir.path().string()}, &why);
    if (!rc)
        GTEST_SKIP() << why;
    EXPECT_EQ(*rc, 0) << "the child stopped at that step";
    keepPicture(dir.path() / "owner.png", "gtk-modal-owner.png");
    keepPicture(dir.path() / "box.png", "gtk-modal-box.png");
}

TEST(GtkHost, OpensClicksAndScreenshotsAWindowUnderXvfb) {
    kvtest::TempDir dir;
    std::string why;
    const auto rc = runUnderXvfb("gtk_smoke", {dir.path().string()}, &why);
    if (!rc)
        GTEST_SKIP() << why;
    EXPECT_EQ(*rc, 0) << "the child stopped at step " << *rc;
    const auto shot = dir.path() / "gtk-smoke.png";
    ASSERT_TRUE(std::filesystem::exists(shot));
    keepPicture(shot, "gtk-smoke.png");
}

}  // namespace

namespace {

// Where each class stands in the display's stack, bottom first; -1 when absent.
int stackPosition(const kvtest::XScreen& screen, const std::string& className) {
    const auto all = screen.Toplevels();
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].viewable && all[i].className == className)
            return int(i);
    return -1;
}

// What a second copy of the installer does: another process finds the first one's window by
// its class on the display and brings it in front of the window covering it.
TEST(GtkHost, AnotherProgramFindsAWindowByItsClassAndBringsItToTheFront) {
    kvtest::TempDir dir;
    kvtest::DisplayScope display;
    std::string why;
    if (!display.Start(&why))
        GTEST_SKIP() << why;
    const std::string quit = (dir.path() / "quit").string();
    const pid_t owner = kvtest::spawnChild("gtk_class_owner", {"KV_UI_Frame_41", quit});
    kvtest::XScreen screen(display.Name());
    ASSERT_TRUE(screen.Connected());
    const auto first = screen.WaitFor("KV_UI_Frame_41", 20000);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->instanceName, "KV_UI_Frame_41");
    ASSERT_TRUE(screen.WaitFor("Cover", 20000));
    ASSERT_LT(stackPosition(screen, "KV_UI_Frame_41"), stackPosition(screen, "Cover"));

    EXPECT_EQ(kvtest::waitChild(kvtest::spawnChild("gtk_activate", {"KV_UI_Frame_4"}), 60000), 1)
        << "a class is matched whole";
    EXPECT_LT(stackPosition(screen, "KV_UI_Frame_41"), stackPosition(screen, "Cover"));
    EXPECT_EQ(kvtest::waitChild(kvtest::spawnChild("gtk_activate", {"KV_UI_Frame_41"}), 60000), 0);
    EXPECT_GT(stackPosition(screen, "KV_UI_Frame_41"), stackPosition(screen, "Cover"));
    EXPECT_EQ(screen.FocusWindow(), first->id);

    kvtest::writeFile(quit, "");
    EXPECT_EQ(kvtest::waitChild(owner, 30000), 0);
}

}  // namespace
