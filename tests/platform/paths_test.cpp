#include "platform/Paths.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using kvtest::EnvGuard;

namespace fs = std::filesystem;
using platform::parseUserDirsEntry;

TEST(Paths, TempDirectoryHonoursOnlyAUsableTmpdir) {
    kvtest::TempDir dir;
    const std::string file = (dir.path() / "plain").string();
    kvtest::writeFile(file, "x");
    struct Case {
        std::optional<std::string> tmpdir;
        fs::path expected;
    };
    const std::vector<Case> cases = {
        {std::nullopt, "/tmp"},
        {"", "/tmp"},
        {dir.path().string(), dir.path()},
        {dir.path().string() + "/", dir.path()},
        {(dir.path() / "missing").string(), "/tmp"},
        {file, "/tmp"},
        {"relative/dir", "/tmp"},
    };
    EnvGuard env({"TMPDIR"});
    for (const auto& c : cases) {
        EnvGuard::setEnv("TMPDIR", c.tmpdir);
        EXPECT_EQ(platform::tempDirectory(), c.expected) << c.tmpdir.value_or("(unset)");
    }
}

TEST(Paths, ParseUserDirsEntry) {
    const fs::path home = "/home/ana";
    struct Case {
        const char* what;
        const char* text;
        std::optional<fs::path> expected;
    };
    const std::vector<Case> cases = {
        {"home relative", "XDG_DESKTOP_DIR=\"$HOME/Escritorio\"\n", "/home/ana/Escritorio"},
        {"absolute", "XDG_DESKTOP_DIR=\"/srv/desk/\"\n", "/srv/desk"},
        {"home itself", "XDG_DESKTOP_DIR=\"$HOME/\"\n", "/home/ana"},
        {"home bare", "XDG_DESKTOP_DIR=\"$HOME\"\n", "/home/ana"},
        {"among other keys and comments",
         "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
         "  XDG_DESKTOP_DIR=\"$HOME/Bureau\"  # mine\r\nXDG_MUSIC_DIR=\"$HOME/Music\"\n",
         "/home/ana/Bureau"},
        {"escaped characters", "XDG_DESKTOP_DIR=\"$HOME/My \\\"Desk\\\" \\$x\"\n",
         "/home/ana/My \"Desk\" $x"},
        {"last valid wins", "XDG_DESKTOP_DIR=\"$HOME/A\"\nXDG_DESKTOP_DIR=\"$HOME/B\"\n",
         "/home/ana/B"},
        {"invalid later line keeps earlier",
         "XDG_DESKTOP_DIR=\"$HOME/A\"\nXDG_DESKTOP_DIR=\"Desktop\"\n", "/home/ana/A"},
        {"relative value", "XDG_DESKTOP_DIR=\"Desktop\"\n", std::nullopt},
        {"unquoted value", "XDG_DESKTOP_DIR=$HOME/Desktop\n", std::nullopt},
        {"unterminated quote", "XDG_DESKTOP_DIR=\"$HOME/Desktop\n", std::nullopt},
        {"text after the quote", "XDG_DESKTOP_DIR=\"$HOME/a\" b\n", std::nullopt},
        {"$HOME as a prefix of a longer word", "XDG_DESKTOP_DIR=\"$HOMEX/a\"\n", std::nullopt},
        {"longer key is another key", "XDG_DESKTOP_DIRS=\"/x\"\n", std::nullopt},
        {"commented out", "# XDG_DESKTOP_DIR=\"/x\"\n", std::nullopt},
        {"empty file", "", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseUserDirsEntry(c.text, "XDG_DESKTOP_DIR", home), c.expected) << c.what;
    }
    EXPECT_EQ(parseUserDirsEntry("XDG_DESKTOP_DIR=\"$HOME/D\"\n", "XDG_DESKTOP_DIR", ""),
              std::nullopt);
}

TEST(Paths, DesktopDirectoryFollowsUserDirsFile) {
    kvtest::TempDir dir;
    const fs::path home = dir.path() / "home";
    const fs::path config = dir.path() / "config";
    ASSERT_TRUE(platform::createDirectories(home / ".config"));
    ASSERT_TRUE(platform::createDirectories(config));

    EnvGuard env({"HOME", "XDG_CONFIG_HOME"});
    EnvGuard::setEnv("HOME", home.string());

    // No file anywhere: the conventional folder.
    EnvGuard::setEnv("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(platform::desktopDirectory(), home / "Desktop");

    // The default config folder is ~/.config.
    kvtest::writeFile(home / ".config" / "user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Mesa\"\n");
    EXPECT_EQ(platform::desktopDirectory(), home / "Mesa");

    // XDG_CONFIG_HOME wins over ~/.config; a relative one is ignored.
    kvtest::writeFile(config / "user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EnvGuard::setEnv("XDG_CONFIG_HOME", config.string());
    EXPECT_EQ(platform::desktopDirectory(), home / "Schreibtisch");
    EnvGuard::setEnv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(platform::desktopDirectory(), home / "Mesa");

    // A file without a usable entry falls back to ~/Desktop.
    kvtest::writeFile(config / "user-dirs.dirs", "XDG_DESKTOP_DIR=Desktop\n");
    EnvGuard::setEnv("XDG_CONFIG_HOME", config.string());
    EXPECT_EQ(platform::desktopDirectory(), home / "Desktop");
}

TEST(Paths, ProgramFilesDirectoryDependsOnPrivilege) {
    kvtest::TempDir dir;
    EnvGuard env({"HOME"});
    EnvGuard::setEnv("HOME", dir.path().string());
    const fs::path expected = geteuid() == 0 ? fs::path("/opt") : dir.path() / ".local" / "opt";
    EXPECT_EQ(platform::programFilesDirectory(), expected);
}

TEST(Paths, LongPathResolvesLinksAndNormalises) {
    kvtest::TempDir dir;
    const fs::path real = fs::canonical(dir.path()) / "real";
    ASSERT_TRUE(platform::createDirectories(real / "sub"));
    fs::create_directory_symlink(real, dir.path() / "link");

    struct Case {
        fs::path input;
        fs::path expected;
    };
    const std::vector<Case> cases = {
        {dir.path() / "link", real},
        {dir.path() / "link" / "sub" / ".." / "file.txt", real / "file.txt"},
        {dir.path() / "link" / "missing" / "." / "deeper", real / "missing" / "deeper"},
        {"/no/such//place/./x/../y", "/no/such/place/y"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::longPath(c.input), c.expected) << c.input;

    // A relative path becomes absolute against the current folder.
    EXPECT_EQ(platform::longPath("some/rel"),
              fs::weakly_canonical(fs::current_path()) / "some/rel");
}

TEST(Paths, CreateDirectories) {
    kvtest::TempDir dir;
    kvtest::writeFile(dir.path() / "file", "data");
    struct Case {
        const char* what;
        fs::path path;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"existing folder", dir.path(), true},
        {"nested new folders", dir.path() / "a" / "b" / "c", true},
        {"trailing slash", dir.path() / "t" / "u" / "", true},
        {"again, now existing", dir.path() / "a" / "b" / "c", true},
        {"path is a regular file", dir.path() / "file", false},
        {"path under a regular file", dir.path() / "file" / "sub", false},
        {"empty path", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::createDirectories(c.path), c.ok) << c.what;
        if (c.ok) {
            EXPECT_TRUE(fs::is_directory(c.path)) << c.what;
        }
    }
    EXPECT_EQ(kvtest::readFile(dir.path() / "file"), "data");
}

TEST(Paths, FreeBytes) {
    kvtest::TempDir dir;
    auto tmp = platform::freeBytes("/tmp");
    ASSERT_TRUE(tmp.has_value());
    EXPECT_GT(*tmp, 0u);

    // A folder not created yet is measured where it would be created.
    auto here = platform::freeBytes(dir.path());
    auto notYet = platform::freeBytes(dir.path() / "not" / "yet");
    ASSERT_TRUE(here && notYet);
    const uint64_t slack = 64ull << 20;  // other programs write meanwhile
    EXPECT_LT(*here > *notYet ? *here - *notYet : *notYet - *here, slack);

    EXPECT_EQ(platform::freeBytes(""), std::nullopt);
}

TEST(Paths, FileSize64) {
    kvtest::TempDir dir;
    const fs::path empty = dir.path() / "empty";
    const fs::path small = dir.path() / "small";
    const fs::path big = dir.path() / "big";
    kvtest::writeFile(empty, "");
    kvtest::writeFile(small, "12345");
    fs::create_symlink(small, dir.path() / "link");

    // Sparse: takes no disk space, but its size needs more than 32 bits.
    const int64_t bigSize = (5ll << 30) + 7;
    int fd = open(big.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, bigSize), 0);
    close(fd);

    struct Case {
        fs::path path;
        int64_t size;
    };
    const std::vector<Case> cases = {
        {empty, 0},
        {small, 5},
        {dir.path() / "link", 5},
        {big, bigSize},
        {dir.path() / "missing", -1},
        {dir.path(), -1},
        {small / "under-a-file", -1},
        {"", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::fileSize64(c.path), c.size) << c.path;
}

}  // namespace
