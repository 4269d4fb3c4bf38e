// The installer as a user runs it: the built kvdownloader on a private Xvfb, its services played
// by vendor-sim on loopback, its buttons clicked through the X server where the framework lays
// them out. Each test also keeps pictures of what the screen showed (doc/windows/gtk-*.png come
// from here: KV_KEEP_PICTURES=folder keeps them).

#include <gtest/gtest.h>
#include <json/json.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <thread>

#include "DownLoadImpl.h"
#include "platform/Process.h"
#include "platform/Resources.h"
#include "platform/Sync.h"
#include "test_support.h"
#include "ui/HeadlessHost.h"
#include "ui/Layouts.h"
#include "ui/SkinPackage.h"
#include "ui/WindowBase.h"
#include "ui/ZipArchive.h"
#include "vendor_sim_runner.h"
#include "virtual_display.h"
#include "zip_builder.h"

namespace fs = std::filesystem;
using kvtest::ScreenRect;
using kvtest::Toplevel;

namespace {

const fs::path kBin = KV_BIN_DIR;
const fs::path kDemo = kBin / "demo-product";
const fs::path kSetup = kDemo / "KestrovaEditor_2.4.1.0.exe";
constexpr const char* kMainClass = "KV_UI_Frame_253";
constexpr const char* kBoxClass = "MESSAGEBOX_UI_Frame";
constexpr const char* kHintClass = "CALIENTWND_UI_Frame";

// The demo's own fixture, filled in for the setup program this build signed; `fault`, when
// given, goes to the setup file's answers.
std::string demoFixture(const Json::Value& fault = Json::Value()) {
    std::string text =
        kvtest::readFile(fs::path(KV_SOURCE_DIR) / "tools/vendor-sim/fixtures/demo.json");
    text = std::regex_replace(text, std::regex("@SETUP_MD5@"),
                              CDownLoadImpl::md5OfFile(kSetup.string()));
    text =
        std::regex_replace(text, std::regex("@SETUP_SIZE@"), std::to_string(fs::file_size(kSetup)));
    text = std::regex_replace(text, std::regex("@SETUP_FILE@"), kSetup.string());
    Json::Value fixture;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    if (!reader->parse(text.data(), text.data() + text.size(), &fixture, &errors))
        throw std::runtime_error("demo.json: " + errors);
    Json::Value faults(Json::arrayValue);
    if (!fault.isNull())
        faults.append(fault);
    fixture["download"]["files"]["/editor/KestrovaEditor_2.4.1.0.exe"]["faults"] = faults;
    Json::StreamWriterBuilder writer;
    return Json::writeString(writer, fixture);
}

// A copy of the built installer in `folder`, with the reporting library it loads from there.
fs::path copyInstaller(const fs::path& folder) {
    fs::create_directories(folder);
    for (const char* file : {"kvdownloader", "libkvweblog.so"})
        fs::copy_file(kBin / file, folder / file, fs::copy_options::overwrite_existing);
    return folder / "kvdownloader";
}

// A copy of the built installer whose configure.xml labels are changed as given.
fs::path installerWithLabels(const fs::path& folder,
                             const std::map<std::string, std::string>& labels) {
    platform::ResourceTable resources = platform::readResources(kBin / "kvdownloader");
    const platform::ResourceEntry* skin = resources.find("ZIPRES", 138);
    if (!skin)
        throw std::runtime_error("the built installer carries no skin package");
    auto zip = ui::ZipArchive::OpenFromMemory(skin->data);
    std::map<std::string, std::string> files;
    for (const std::string& name : zip->EntryNames()) {
        std::vector<uint8_t> bytes;
        if (name.back() != '/' && zip->Unzip(name, bytes))
            files[name] = std::string(bytes.begin(), bytes.end());
    }
    for (auto& [name, text] : files) {
        if (name != "configure/configure.xml" && name != "configure\\configure.xml")
            continue;
        for (const auto& [label, value] : labels) {
            const size_t at = text.find("name=\"" + label + "\" text=\"");
            if (at == std::string::npos)
                throw std::runtime_error("configure.xml has no label " + label);
            const size_t from = text.find("text=\"", at) + 6;
            text.replace(from, text.find('"', from) - from, value);
        }
    }
    const std::string zipped = [&] {
        const auto bytes = kvtest::makeZip(files);
        return std::string(bytes.begin(), bytes.end());
    }();
    resources.put("ZIPRES", 138, std::vector<uint8_t>(zipped.begin(), zipped.end()));
    const fs::path copy = copyInstaller(folder);
    std::string error;
    if (!platform::writeResources(copy, resources, &error))
        throw std::runtime_error("cannot write " + copy.string() + ": " + error);
    return copy;
}

// One of the skin's windows laid out by the framework itself, without a display: where its
// controls are is where the program draws them.
class SkinLayout : public ui::WindowBase {
public:
    explicit SkinLayout(std::string file) : m_file(std::move(file)) {}
    std::string GetSkinFile() const override { return m_file; }
    std::string GetSkinFolder() const override { return "skin\\"; }

private:
    std::string m_file;
};

// The screen point at the centre of `control` of `file` (near its left end for a link) laid out
// at `window`'s size, with the tab layouts given showing the given pages.
std::optional<std::pair<int, int>> controlPoint(const fs::path& program, const std::string& file,
                                                const std::string& control, const Toplevel& window,
                                                const std::map<std::string, int>& pages = {},
                                                bool nearLeft = false) {
    ui::headless::HeadlessBackend::Install();
    const platform::ResourceTable resources = platform::readResources(program);
    const platform::ResourceEntry* skin = resources.find("ZIPRES", 138);
    if (!skin)
        return std::nullopt;
    SkinLayout layout(file);
    layout.SetSkinPackage(ui::SkinPackage::Open(skin->data));
    if (!layout.Create(nullptr, "layout"))
        return std::nullopt;
    for (const auto& [tabs, page] : pages)
        if (auto* tab = layout.FindControl<ui::TabLayout>(tabs))
            tab->SelectItem(page);
    layout.ResizeClient(window.bounds.width, window.bounds.height);
    layout.GetPaintManager().Layout();
    const ui::Control* found = layout.FindControl(control);
    if (!found)
        return std::nullopt;
    // A link is as wide as its text, which may end well before the control does.
    const ui::Rect r = found->GetPos();
    const ui::Point c = r.Center();
    const int x = nearLeft ? r.left + std::min(12, r.Width() / 2) : c.x;
    return std::make_pair(window.bounds.x + x, window.bounds.y + c.y);
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

class InstallerWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kSetup))
            GTEST_SKIP() << "the demo product was not built: " << kSetup;
        std::string why;
        if (!m_display.Start(&why))
            GTEST_SKIP() << why;
        m_screen = std::make_unique<kvtest::XScreen>(m_display.Name());
        ASSERT_TRUE(m_screen->Connected());
        for (const char* folder : {"tmp", "home", "programs"})
            fs::create_directories(m_dir.path() / folder);
        set("KV_REGISTRY_DIR", (m_dir.path() / "registry").string());
        set("KV_SYNC_DIR", (m_dir.path() / "sync").string());
        set("KV_PROGRAM_FILES_DIR", (m_dir.path() / "programs").string());
        set("TMPDIR", (m_dir.path() / "tmp").string());
        set("HOME", (m_dir.path() / "home").string());
        set("KV_OPENER", "/bin/true");
        // A download without progress gives up after 3 s instead of 30.
        set("KV_TEST_STALL_MS", "3000");
        set("LC_ALL", "C.UTF-8");
        set("LANGUAGE", "en_US");
        // The single-instance guard must do without a session bus.
        unset("DBUS_SESSION_BUS_ADDRESS");
    }

    void TearDown() override {
        for (auto& process : m_programs)
            if (process.wait(0) == platform::WaitResult::Timeout) {
                process.terminate();
                process.wait(5000);
            }
        m_sim.reset();
        while (!m_env.empty())
            m_env.pop_back();
    }

    void set(const char* name, const std::string& value) {
        m_env.push_back(std::make_unique<kvtest::ScopedEnv>(name, value.c_str()));
    }
    void unset(const char* name) {
        m_env.push_back(std::make_unique<kvtest::ScopedEnv>(name, nullptr));
    }

    void startSim(const Json::Value& fault = Json::Value()) {
        m_sim = std::make_unique<kvtest::VendorSim>(demoFixture(fault));
        set("KV_CONNECT_TO", m_sim->connectTo());
        const fs::path bundle = m_dir.path() / "trust.pem";
        kvtest::writeFile(bundle, kvtest::readFile(m_sim->caBundle()) + "\n" +
                                      kvtest::readFile(kDemo / "demo-root.pem"));
        set("KV_CA_BUNDLE", bundle.string());
    }

    // Starts the program; the index of its process.
    size_t start(const fs::path& program, const std::string& arguments = "") {
        std::string error;
        auto process = platform::Process::start(
            {.application = program,
             .commandLine = "kvdownloader" + (arguments.empty() ? "" : " " + arguments)},
            &error);
        if (!process)
            throw std::runtime_error("cannot start " + program.string() + ": " + error);
        m_programs.push_back(std::move(*process));
        return m_programs.size() - 1;
    }

    // The exit code of a started program once it ended within `timeoutMs`.
    std::optional<int> exitCode(size_t index, int timeoutMs) {
        if (m_programs[index].wait(uint32_t(timeoutMs)) != platform::WaitResult::Signaled)
            return std::nullopt;
        return m_programs[index].exitCode();
    }

    void click(const std::optional<std::pair<int, int>>& at) {
        ASSERT_TRUE(at) << "no such control in the skin";
        ASSERT_TRUE(m_screen->Click(at->first, at->second));
    }

    // A picture of `area`, kept under KV_KEEP_PICTURES when that is set.
    void picture(const ScreenRect& area, const std::string& name) {
        const fs::path shot = m_dir.path() / name;
        std::string error;
        ASSERT_TRUE(m_screen->SaveArea(area, shot.string(), &error)) << error;
        if (const char* keep = std::getenv("KV_KEEP_PICTURES")) {
            std::error_code ec;
            fs::copy_file(shot, fs::path(keep) / name, fs::copy_options::overwrite_existing, ec);
        }
    }

    int countOf(const std::string& className) const {
        int n = 0;
        for (const Toplevel& t : m_screen->Toplevels())
            n += t.viewable && t.className == className;
        return n;
    }

    // The main window once it has the size asked for (the settings panel opens and closes).
    std::optional<Toplevel> mainWindowOfHeight(int height, int timeoutMs = 20000) {
        std::optional<Toplevel> found;
        waitUntil(
            [&] {
                found = m_screen->Find(kMainClass);
                return found && found->bounds.height == height;
            },
            timeoutMs);
        return found && found->bounds.height == height ? found : std::nullopt;
    }

    // The main window once the product is installed and the window came back with the finish
    // page.
    std::optional<Toplevel> finishPage() {
        if (!waitUntil([&] { return fs::exists(installFolder() / "KestrovaEditor.exe"); }, 180000))
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
        return mainWindowOfHeight(360);
    }

    // Lets the window paint what the last click changed before a picture is taken.
    static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(700)); }

    fs::path installFolder() const {
        return m_dir.path() / "programs" / "Quenlake" / "Kestrova Editor";
    }
    fs::path workFolder() const { return m_dir.path() / "tmp" / "KestrovaEditor_2"; }

    // The program log of the run (the only .log file the program writes in its work folder).
    std::string programLog() const {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(workFolder(), ec))
            if (entry.path().extension() == ".log" &&
                entry.path().filename().string().rfind("KestrovaEditor_2", 0) == 0)
                return kvtest::readFile(entry.path());
        return {};
    }

    kvtest::TempDir m_dir;
    kvtest::DisplayScope m_display;
    std::unique_ptr<kvtest::XScreen> m_screen;
    std::unique_ptr<kvtest::VendorSim> m_sim;
    std::vector<std::unique_ptr<kvtest::ScopedEnv>> m_env;
    std::vector<platform::Process> m_programs;
};

// A user's whole install: the licence and the settings panel, a second start that only brings
// the first window forward, Install, the slides while it works, the finish page, and the start
// of the product through the launch hint.
TEST_F(InstallerWindow, InstallsTheDemoProductAndASecondStartRaisesTheFirstWindow) {
    // Slow enough that the running page stays up for a picture.
    Json::Value slow;
    slow["mode"] = "slow";
    slow["bytes_per_second"] = 150000;
    startSim(slow);
    // admin_flag 1 starts the product itself rather than asking the desktop to open it.
    const fs::path program =
        installerWithLabels(m_dir.path() / "bin", {{"Gif_duration", "2"}, {"admin_flag", "1"}});
    const size_t first = start(program);

    auto window = m_screen->WaitFor(kMainClass, 60000);
    ASSERT_TRUE(window) << "no installer window appeared";
    EXPECT_EQ(window->instanceName, kMainClass);
    EXPECT_EQ(window->bounds.width, 650);
    window = mainWindowOfHeight(360);
    ASSERT_TRUE(window) << "the settings panel starts closed";

    // The licence opens below the band through its link; the settings through their button.
    click(controlPoint(program, "InstallMainWnd.xml", "license_link", *window, {}, true));
    window = mainWindowOfHeight(560);
    ASSERT_TRUE(window) << "the licence link opens the panel";
    settle();
    picture(window->bounds, "gtk-licence.png");
    click(controlPoint(program, "InstallMainWnd.xml", "install_setting", *window));
    settle();
    picture(window->bounds, "gtk-settings.png");

    // A second start for the same product brings this window in front of what covers it and
    // ends without a window of its own.
    const unsigned long cover = m_screen->Cover(window->bounds);
    ASSERT_EQ(m_screen->Find(kMainClass)->id, window->id);
    const size_t second = start(program);
    EXPECT_EQ(exitCode(second, 60000), 0);
    EXPECT_EQ(countOf(kMainClass), 1);
    const auto stack = m_screen->Toplevels();
    ASSERT_FALSE(stack.empty());
    EXPECT_EQ(stack.back().id, window->id) << "the first window is on top again";
    m_screen->Remove(cover);

    click(controlPoint(program, "InstallMainWnd.xml", "install_btn", *window));
    window = mainWindowOfHeight(360);
    ASSERT_TRUE(window) << "the running page is 360 pixels high";
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    picture(window->bounds, "gtk-running.png");

    window = finishPage();
    ASSERT_TRUE(window) << programLog();
    picture(window->bounds, "gtk-finished.png");

    click(controlPoint(program, "InstallMainWnd.xml", "start_app", *window, {{"page_layout", 1}}));
    const auto hint = m_screen->WaitFor(kHintClass, 20000);
    ASSERT_TRUE(hint) << "the launch hint shows while the product starts";
    EXPECT_EQ(countOf(kMainClass), 0) << "the hint replaces the main window";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    picture(hint->bounds, "gtk-launch-hint.png");
    EXPECT_TRUE(waitUntil([&] { return fs::exists(installFolder() / "started.log"); }, 20000))
        << programLog();
    EXPECT_EQ(exitCode(first, 30000), 0) << "the hint ends the program after its seconds";

    // What the host measured reached the log and the collectors.
    const std::string log = programLog();
    EXPECT_NE(log.find(" Screen: 1280*1024"), std::string::npos) << log;
    bool resolutionReported = false;
    for (const Json::Value& request : m_sim->requests()) {
        const std::string all = request.toStyledString();
        resolutionReported |= all.find("SysScreenResolution") != std::string::npos &&
                              all.find("1280") != std::string::npos;
    }
    EXPECT_TRUE(resolutionReported);
    // The setup program got none of the installer's descriptors, the instance guard included.
    std::string setupLog;
    for (const auto& entry : fs::directory_iterator(workFolder()))
        if (entry.path().filename().string().rfind("Kestrova Editor_Setup_", 0) == 0)
            setupLog = kvtest::readFile(entry.path());
    const size_t inherited = setupLog.find("Inherited descriptors: ");
    ASSERT_NE(inherited, std::string::npos) << setupLog;
    EXPECT_EQ(setupLog.substr(inherited, setupLog.find('\n', inherited) - inherited)
                  .find((m_dir.path() / "sync").string()),
              std::string::npos);
}

// A download the server refuses: the message box appears over the window; after it the user
// retries and the install completes.
TEST_F(InstallerWindow, AFailedDownloadShowsAMessageBoxOverTheWindowAndRetryInstalls) {
    Json::Value refuse;
    refuse["mode"] = "http-error";
    refuse["status"] = 503;
    startSim(refuse);
    const fs::path program = kBin / "kvdownloader";
    const size_t run = start(program);
    auto window = m_screen->WaitFor(kMainClass, 60000);
    ASSERT_TRUE(window);
    click(controlPoint(program, "InstallMainWnd.xml", "install_btn", *window));

    const auto box = m_screen->WaitFor(kBoxClass, 180000);
    ASSERT_TRUE(box) << programLog();
    window = m_screen->Find(kMainClass);
    ASSERT_TRUE(window);
    EXPECT_NEAR(box->bounds.CenterX(), window->bounds.CenterX(), 2);
    const auto stack = m_screen->Toplevels();
    EXPECT_EQ(stack.back().id, box->id) << "the box is on top";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    picture(window->bounds, "gtk-message-box.png");

    m_sim->setFixture(demoFixture());
    click(controlPoint(program, "MessageBox.xml", "btn_yes", *box));
    ASSERT_TRUE(waitUntil([&] { return !m_screen->Find(kBoxClass); }, 10000)) << programLog();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    window = mainWindowOfHeight(360);
    ASSERT_TRUE(window);
    picture(window->bounds, "gtk-failed.png");

    // The finish page's button retries while the failure shows.
    click(controlPoint(program, "InstallMainWnd.xml", "start_app", *window, {{"page_layout", 1}}));
    window = finishPage();
    ASSERT_TRUE(window) << programLog();
    click(controlPoint(program, "InstallMainWnd.xml", "closebtn", *window));
    EXPECT_EQ(exitCode(run, 30000), 0) << "closing the finished window ends the program";
}

// The named guard is the second line of defence: a copy that finds it taken (its first copy
// has no window yet) ends without showing one.
TEST_F(InstallerWindow, ACopyThatFindsTheInstanceGuardTakenEndsWithoutAWindow) {
    startSim();
    bool existed = true;
    const auto guard = platform::NamedMutex::create("ORL_Downloader_253", &existed);
    ASSERT_TRUE(guard);
    ASSERT_FALSE(existed);
    const size_t run = start(kBin / "kvdownloader");
    EXPECT_EQ(exitCode(run, 60000), 0);
    EXPECT_EQ(countOf(kMainClass), 0);
    EXPECT_NE(programLog().find(" Already exist instance, id is: 253"), std::string::npos)
        << programLog();
}

// A program whose skin package is gone has no window to show: it says so and fails instead of
// ending quietly as if all went well.
TEST_F(InstallerWindow, AProgramWithoutItsSkinPackageFails) {
    const fs::path copy = copyInstaller(m_dir.path() / "bin");
    platform::ResourceTable resources = platform::readResources(copy);
    ASSERT_TRUE(resources.remove("ZIPRES", 138));
    ASSERT_TRUE(platform::writeResources(copy, resources));
    const auto result = kvtest::runProgram(copy.string(), {});
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("no usable skin package"), std::string::npos) << result.output;
    EXPECT_EQ(countOf(kMainClass), 0);
}

// Without a display the program says so and points at the unattended mode; "debug", exactly
// that, also shows its log and greeting in the terminal.
TEST(InstallerProgram, WithoutADisplayItExplainsAndFails) {
    kvtest::TempDir dir;
    kvtest::ScopedEnv display("DISPLAY", nullptr);
    kvtest::ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    kvtest::ScopedEnv tmp("TMPDIR", dir.path().c_str());
    struct Case {
        std::vector<std::string> args;
        bool debug;
    } cases[] = {{{}, false}, {{"debug"}, true}, {{"Debug"}, false}, {{"debug", "x"}, false}};
    for (const Case& c : cases) {
        const auto result = kvtest::runProgram((kBin / "kvdownloader").string(), c.args);
        const std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(result.exitCode, 1) << what << ": " << result.output;
        EXPECT_NE(result.output.find("--unattended"), std::string::npos) << result.output;
        EXPECT_EQ(result.output.find("test\n") != std::string::npos, c.debug) << result.output;
        EXPECT_EQ(result.output.find("No X display could be opened") != std::string::npos, c.debug)
            << what << ": " << result.output;
    }
}

}  // namespace
