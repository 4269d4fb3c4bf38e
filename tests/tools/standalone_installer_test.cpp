// The installer as a user gets it: the one built file, copied alone into an empty folder, run
// against the demo's own service fixture on loopback. What it exports, what it needs, what a
// terminal shows of an unattended install, a vendor's re-skinned copy, and the demo's clean
// uninstall.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "DownLoadImpl.h"
#include "platform/Registry.h"
#include "test_support.h"
#include "ui/ZipArchive.h"
#include "vendor_sim_runner.h"
#include "zip_builder.h"

namespace {

namespace fs = std::filesystem;

const fs::path kBin = KV_BIN_DIR;
const fs::path kSetup = kBin / "demo-product" / "KestrovaEditor_2.4.1.0.exe";
const std::string kUninstallKey =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Kestrova Editor}_is1";

// The end of a long output, for a failure message.
std::string lastOf(const std::string& text) {
    return text.size() > 3000 ? "..." + text.substr(text.size() - 3000) : text;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

struct PtyRun {
    int exitCode = -1;
    std::string output;
};

// Runs `program` with its standard output and error on a new pseudo-terminal of 100 columns,
// reading until it ends or `timeoutMs` pass (then it is killed).
PtyRun runOnPty(const std::string& program, const std::vector<std::string>& args, int timeoutMs) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 100;
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0)
        return {};
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    PtyRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0)  // EIO once the child and its descendants closed the terminal
            break;
        run.output.append(buffer, static_cast<size_t>(got));
    }
    // The terminal closes a moment before the program has ended.
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        ::usleep(20000);
    if (ended == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    } else if (ended == pid && WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    ::close(master);
    return run;
}

// A demo folder as scripts/demo lays it out (registry store, work folder, home, programs),
// the environment pointed into it, and vendor-sim serving the demo fixture with the small
// signed setup.
class DemoRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kSetup)) << kSetup << " missing: build the demo-product target";
        for (const char* sub : {"tmp", "home", "programs"})
            fs::create_directories(root() / sub);
        kvtest::writeFile(root() / ".kvdemo", "");
        setenv("KV_REGISTRY_DIR", (root() / "registry").c_str(), 1);
        setenv("KV_SYNC_DIR", (root() / "sync").c_str(), 1);
        setenv("TMPDIR", (root() / "tmp").c_str(), 1);
        setenv("HOME", (root() / "home").c_str(), 1);
        setenv("KV_OPENER", "/bin/true", 1);
        setenv("KV_TEST_STALL_MS", "5000", 1);
        unsetenv("KV_TEST_OFFLINE");
        unsetenv("KV_DEMO_SETUP");
    }

    void startSim(std::vector<std::string> simArgs = {}) {
        const std::string setup = kvtest::readFile(kSetup);
        std::string fixture =
            kvtest::readFile(std::string(KV_SOURCE_DIR) + "/tools/vendor-sim/fixtures/demo.json");
        fixture = replaceAll(fixture, "@SETUP_MD5@", CDownLoadImpl::md5OfFile(kSetup.string()));
        fixture = replaceAll(fixture, "@SETUP_SIZE@", std::to_string(setup.size()));
        fixture = replaceAll(fixture, "@SETUP_FILE@", kSetup.string());
        m_sim = std::make_unique<kvtest::VendorSim>(fixture, std::move(simArgs));
        kvtest::writeFile(root() / "trust.pem",
                          kvtest::readFile(m_sim->caBundle()) + "\n" +
                              kvtest::readFile(kBin / "demo-product" / "demo-root.pem"));
        setenv("KV_CONNECT_TO", m_sim->connectTo().c_str(), 1);
        setenv("KV_CA_BUNDLE", (root() / "trust.pem").c_str(), 1);
    }

    // The built installer copied alone into an empty folder of its own.
    fs::path lonelyCopy(const fs::path& from = kBin / "kvdownloader") {
        const fs::path folder = m_dir.path() / ("alone-" + std::to_string(++m_copies));
        fs::create_directories(folder);
        fs::copy_file(from, folder / "kvdownloader");
        return folder / "kvdownloader";
    }

    std::vector<std::string> installArgs() const {
        return {"--unattended", "--dir", (root() / "programs").string(), "--lang", "0"};
    }
    fs::path root() const { return m_dir.path() / "demo"; }
    fs::path productFolder() const { return root() / "programs" / "Kestrova Editor"; }

    // The program log a run named on its last lines.
    static std::string programLog(const std::string& output) {
        const size_t at = output.rfind("Log: ");
        if (at == std::string::npos)
            return {};
        const size_t end = output.find_first_of("\r\n", at);
        return kvtest::readFile(
            output.substr(at + 5, end == std::string::npos ? end : end - at - 5));
    }

    kvtest::TempDir m_dir;
    kvtest::EnvGuard m_env{"KV_REGISTRY_DIR", "KV_SYNC_DIR",   "TMPDIR",       "HOME",
                           "KV_OPENER",       "KV_CONNECT_TO", "KV_CA_BUNDLE", "KV_TEST_STALL_MS",
                           "KV_TEST_OFFLINE", "KV_DEMO_SETUP", "KV_BIN",       "KV_DEMO_ROOT"};
    std::unique_ptr<kvtest::VendorSim> m_sim;
    int m_copies = 0;
};

// Of the installer's own symbols only the reporting library's three C functions are seen by
// other modules, and every library it needs is the system's: a copy needs nothing beside it.
TEST(StandaloneInstaller, ExportsTheThreeFunctionsAndNeedsOnlySystemLibraries) {
    const auto listing = kvtest::runProgram(
        "/usr/bin/nm", {"-D", "--defined-only", (kBin / "kvdownloader").string()});
    ASSERT_EQ(listing.exitCode, 0) << listing.output;
    std::set<std::string> ours;
    std::istringstream lines(listing.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        // Versioned names belong to a system library: data it owns, copied into the program
        // by the dynamic linker (std::cout).
        if (name.empty() || name.find('@') != std::string::npos)
            continue;
        // The sanitizer builds add the runtime's hooks and the data it shares with the program.
        if (name.rfind("__asan_", 0) == 0 || name.rfind("__lsan_", 0) == 0 ||
            name.rfind("__ubsan_", 0) == 0 || name.rfind("__tsan_", 0) == 0)
            continue;
        ours.insert(type + " " + name);
    }
    EXPECT_EQ(ours,
              (std::set<std::string>{"T CreateExportObj", "T DestroyExportObj", "T NSISLog"}));

    const auto needed =
        kvtest::runProgram("/usr/bin/ldd", {(kBin / "kvdownloader").string()}, 30000);
    ASSERT_EQ(needed.exitCode, 0) << needed.output;
    EXPECT_FALSE(contains(needed.output, "not found")) << needed.output;
    EXPECT_FALSE(contains(needed.output, kBin.string())) << needed.output;
    EXPECT_FALSE(contains(needed.output, "kvweblog")) << needed.output;
}

// A copy alone installs, and tells a terminal user what a terminal user needs: the log's
// lines (registry misses, volume probing, the firewall entry) stay in the program log unless
// asked for.
TEST_F(DemoRun, ACopyAloneInstallsAndKeepsLogLinesInTheLog) {
    startSim();
    const fs::path copy = lonelyCopy();
    const auto quiet = kvtest::runProgram(copy.string(), installArgs(), 120000);
    ASSERT_EQ(quiet.exitCode, 0) << quiet.output;
    EXPECT_TRUE(fs::exists(productFolder() / "KestrovaEditor.exe"));
    EXPECT_TRUE(contains(quiet.output, "Installed Kestrova Editor 2.4.1.0")) << quiet.output;
    for (const char* logLine :
         {"--[Thread]", "Registry: key", "Volume serial", "in the firewall", "Click install"})
        EXPECT_FALSE(contains(quiet.output, logLine)) << logLine << "\n" << quiet.output;
    const std::string log = programLog(quiet.output);
    EXPECT_TRUE(contains(log, "is now enabled in the firewall.")) << log;
    EXPECT_TRUE(contains(log, " Click install button")) << log;
    // Lines from before the log opened are kept for it, in their order and format.
    const size_t firstLine = log.find("--[Thread]");
    EXPECT_LT(firstLine, 40u) << log.substr(0, 200);

    // Asked for, the log is on the terminal as well (a second run: already installed, the
    // setup runs again over it).
    const auto verbose = kvtest::runProgram(
        copy.string(),
        [&] {
            auto args = installArgs();
            args.push_back("--verbose");
            return args;
        }(),
        120000);
    ASSERT_EQ(verbose.exitCode, 0) << verbose.output;
    EXPECT_TRUE(contains(verbose.output, "--[Thread]")) << verbose.output;
    EXPECT_TRUE(contains(verbose.output, " Click install button")) << verbose.output;
    EXPECT_TRUE(contains(verbose.output, "in the firewall.")) << verbose.output;
}

// On a terminal the progress line is redrawn in place and says the phase and, while
// downloading, bytes of the total, speed and time left; into a pipe it is one line per step.
TEST_F(DemoRun, TheProgressLineRedrawsOnATerminalAndStepsIntoAPipe) {
    // Slow enough that the speed is measured for a while: about three seconds for the setup.
    const uint64_t size = fs::file_size(kSetup);
    startSim({"--rate-limit", std::to_string(std::max<uint64_t>(size / 3, 64 * 1024))});
    const fs::path copy = lonelyCopy();

    const PtyRun terminal = runOnPty(copy.string(), installArgs(), 120000);
    ASSERT_EQ(terminal.exitCode, 0) << lastOf(terminal.output);
    const std::string& shown = terminal.output;
    EXPECT_TRUE(contains(shown, "\r[")) << "not redrawn in place:\n" << lastOf(shown);
    EXPECT_TRUE(contains(shown, "downloading")) << lastOf(shown);
    EXPECT_TRUE(contains(shown, "verifying") || contains(shown, "installing")) << lastOf(shown);
    // "1.2 MiB of 3.4 MiB  1.1 MiB/s  0:02 left", whatever the figures.
    const std::regex downloading(
        R"(\d+\.\d (KiB|MiB) of \d+\.\d (KiB|MiB)  \d+\.\d (KiB|MiB)/s  \d+:\d\d left)");
    EXPECT_TRUE(std::regex_search(shown, downloading)) << lastOf(shown);
    // A redrawn line never wraps: every piece between returns fits the terminal.
    std::istringstream pieces(replaceAll(shown, "\n", "\r"));
    for (std::string piece; std::getline(pieces, piece, '\r');) {
        if (piece.rfind("[", 0) == 0) {
            EXPECT_LT(piece.size(), 100u + 3) << piece;  // + the erase-line sequence
        }
    }
    EXPECT_FALSE(contains(shown, "Volume serial")) << lastOf(shown);
    // Not a flood: about one redraw per percentage point and a few a second between them.
    size_t redraws = 0;
    for (size_t at = shown.find("\r["); at != std::string::npos; at = shown.find("\r[", at + 1))
        ++redraws;
    EXPECT_LT(redraws, 400u) << lastOf(shown);

    // Into a pipe: no carriage returns, a line every five points, each phase named.
    fs::remove_all(root() / "tmp" / "KestrovaEditor_2");  // so the setup is downloaded again
    const auto piped = kvtest::runProgram(copy.string(), installArgs(), 120000);
    ASSERT_EQ(piped.exitCode, 0) << piped.output;
    EXPECT_FALSE(contains(piped.output, "\r")) << piped.output;
    int bars = 0;
    std::istringstream lines(piped.output);
    for (std::string line; std::getline(lines, line);)
        bars += line.rfind("[", 0) == 0 ? 1 : 0;
    EXPECT_GE(bars, 5) << piped.output;  // the download's steps, then one per phase
    EXPECT_LE(bars, 25) << piped.output;
    EXPECT_TRUE(contains(piped.output, "downloading")) << piped.output;
    EXPECT_TRUE(contains(piped.output, "] 100%  finished")) << piped.output;
}

// A vendor's round: extract the skin, change a text, check the package, put it into a copy of
// the installer; the copy runs alone and shows the new text.
TEST_F(DemoRun, AVendorsReskinnedCopyRunsAlone) {
    startSim();
    const fs::path work = m_dir.path() / "vendor";
    fs::create_directories(work);
    const fs::path skin = work / "skin.zip";
    const std::string kvres = (kBin / "kvres").string();
    auto r = kvtest::runProgram(
        kvres, {"extract", (kBin / "kvdownloader").string(), "ZIPRES", "138", skin.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;

    const std::string bytes = kvtest::readFile(skin);
    std::string error;
    const auto archive =
        ui::ZipArchive::OpenFromMemory(std::vector<uint8_t>(bytes.begin(), bytes.end()), &error);
    ASSERT_TRUE(archive) << error;
    std::map<std::string, std::string> files;
    for (const std::string& name : archive->EntryNames()) {
        std::vector<uint8_t> content;
        ASSERT_TRUE(archive->Unzip(name, content, &error)) << name << ": " << error;
        files[name] = std::string(content.begin(), content.end());
    }
    std::string& english = files.at("language/language_english.xml");
    const std::string label = "name=\"install_label\" text=\"{f 2}%0.f%%{/f}\"";
    ASSERT_TRUE(contains(english, label));
    english = replaceAll(english, label,
                         "name=\"install_label\" text=\"{f 2}%0.f%% of Kestrova Editor{/f}\"");
    const fs::path edited = work / "edited.zip";
    const auto zip = kvtest::makeZip(files);
    kvtest::writeFile(edited, std::string(zip.begin(), zip.end()));

    r = kvtest::runProgram(kvres, {"lint", edited.string()});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const fs::path copy = lonelyCopy();
    r = kvtest::runProgram(kvres, {"replace", copy.string(), "ZIPRES", "138", edited.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;

    const auto run = kvtest::runProgram(copy.string(), installArgs(), 120000);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "% of Kestrova Editor")) << run.output;
    EXPECT_TRUE(fs::exists(productFolder() / "KestrovaEditor.exe"));
}

// The demo's uninstall leaves nothing of the product: folder, registry entries, work folder;
// the next install starts from scratch and succeeds. A folder the demo did not make is refused.
TEST_F(DemoRun, TheDemoUninstallLeavesNothingAndTheDemoRunsAgain) {
    startSim();
    const fs::path copy = lonelyCopy();
    ASSERT_EQ(kvtest::runProgram(copy.string(), installArgs(), 120000).exitCode, 0);
    ASSERT_EQ(kvtest::runProgram((productFolder() / "KestrovaEditor.exe").string(), {}).exitCode,
              0);
    ASSERT_TRUE(fs::exists(root() / "tmp" / "KestrovaEditor_2"));

    const std::string script = std::string(KV_SOURCE_DIR) + "/scripts/demo-uninstall";
    setenv("KV_BIN", kBin.c_str(), 1);
    {
        kvtest::ScopedEnv demoRoot("KV_DEMO_ROOT", root().c_str());
        const auto removed = kvtest::runProgram("/bin/bash", {script}, 60000);
        EXPECT_EQ(removed.exitCode, 0) << removed.output;
    }
    EXPECT_FALSE(fs::exists(productFolder()));
    EXPECT_FALSE(fs::exists(root() / "tmp" / "KestrovaEditor_2"));
    EXPECT_FALSE(platform::RegKey::open(platform::Hive::LocalMachine, kUninstallKey));
    EXPECT_FALSE(platform::RegKey::open(
        platform::Hive::LocalMachine,
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Kestrova Editor}_is1"));

    const auto setupGets = [this] {
        size_t n = 0;
        for (const auto& request : m_sim->requests())
            n += request["method"].asString() == "GET" &&
                 request["path"].asString() == "/editor/KestrovaEditor_2.4.1.0.exe";
        return n;
    };
    const size_t before = setupGets();
    const auto again = kvtest::runProgram(copy.string(), installArgs(), 120000);
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_TRUE(fs::exists(productFolder() / "KestrovaEditor.exe"));
    EXPECT_GT(setupGets(), before) << "the setup was not downloaded afresh";

    fs::remove(root() / ".kvdemo");
    kvtest::ScopedEnv demoRoot("KV_DEMO_ROOT", root().c_str());
    const auto refused = kvtest::runProgram("/bin/bash", {script}, 60000);
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_TRUE(contains(refused.output, "was not made by scripts/demo")) << refused.output;
    EXPECT_TRUE(fs::exists(productFolder() / "KestrovaEditor.exe"));
}

}  // namespace
