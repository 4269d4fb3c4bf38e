#include "platform/Paths.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileIo.h"
#include "test_support.h"

namespace {

using kvtest::EnvGuard;

namespace fs = std::filesystem;
using platform::parseUserDirsEntry;

bool isOwnPrivateFolder(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 07777) == 0700;
}

TEST(Paths, TempDirectoryIsTmpdirOrAPrivateFolderNeverTheSharedOne) {
    kvtest::TempDir dir;
    const std::string file = (dir.path() / "plain").string();
    kvtest::writeFile(file, "x");
    const fs::path runtime = dir.path() / "run";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    const fs::path privateTemp = runtime / "kvtemp";
    struct Case {
        std::optional<std::string> tmpdir;
        fs::path expected;
    };
    const std::vector<Case> cases = {
        {std::nullopt, privateTemp},
        {"", privateTemp},
        {dir.path().string(), dir.path()},
        {dir.path().string() + "/", dir.path()},
        {(dir.path() / "missing").string(), privateTemp},
        {file, privateTemp},
        {"relative/dir", privateTemp},
    };
    EnvGuard env({"TMPDIR", "XDG_RUNTIME_DIR", "HOME"});
    EnvGuard::setEnv("XDG_RUNTIME_DIR", runtime.string());
    for (const auto& c : cases) {
        EnvGuard::setEnv("TMPDIR", c.tmpdir);
        EXPECT_EQ(platform::tempDirectory(), c.expected) << c.tmpdir.value_or("(unset)");
    }
    EXPECT_TRUE(isOwnPrivateFolder(privateTemp));

    // Without a usable runtime folder, the user's cache folder holds it.
    EnvGuard::setEnv("TMPDIR", std::nullopt);
    EnvGuard::setEnv("HOME", (dir.path() / "home").string());
    for (const std::optional<std::string>& other :
         {std::optional<std::string>(), std::optional<std::string>("/tmp")}) {
        EnvGuard::setEnv("XDG_RUNTIME_DIR", other);
        EXPECT_EQ(platform::tempDirectory(), dir.path() / "home" / ".cache" / "kvtemp")
            << other.value_or("(unset)");
    }
    EXPECT_TRUE(isOwnPrivateFolder(dir.path() / "home" / ".cache" / "kvtemp"));
}

// As root, against folders another user (uid 65534) made first where ours would go.
TEST(Paths, APlantedFolderIsReplacedByAFreshPrivateOne) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to plant folders as another user";
    kvtest::TempDir dir;
    const fs::path victim = dir.path() / "victim";
    kvtest::writeFile(victim, "keep");
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> plant;
    };
    const Case cases[] = {
        {"another user's open folder with a link in it",
         [&](const fs::path& p) {
             fs::create_directory(p);
             fs::create_symlink(victim, p / "program.log");
             ASSERT_EQ(::lchown((p / "program.log").c_str(), 65534, 65534), 0);
             ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
             ::chmod(p.c_str(), 0777);
         }},
        {"another user's closed folder",
         [&](const fs::path& p) {
             fs::create_directory(p);
             ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
             ::chmod(p.c_str(), 0700);
         }},
        {"a link to a folder of ours",
         [&](const fs::path& p) {
             fs::create_directory(dir.path() / "elsewhere");
             fs::create_symlink(dir.path() / "elsewhere", p);
         }},
        {"our own folder that others may write",
         [&](const fs::path& p) {
             fs::create_directory(p);
             ::chmod(p.c_str(), 0777);
         }},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path planted = dir.path() / ("Work_" + std::to_string(n++));
        c.plant(planted);
        const fs::path chosen = platform::privateFolder(planted);
        ASSERT_FALSE(chosen.empty());
        EXPECT_NE(chosen, planted);
        EXPECT_EQ(chosen.parent_path(), planted.parent_path());
        EXPECT_TRUE(isOwnPrivateFolder(chosen));
        EXPECT_EQ(platform::privateFolder(planted), chosen) << "every caller gets the same folder";
        // Whatever is written in the chosen folder stays there.
        const int fd = platform::openForAppend(chosen / "program.log", true);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    EXPECT_EQ(kvtest::readFile(victim), "keep");
    EXPECT_FALSE(fs::exists(dir.path() / "elsewhere" / "program.log"));
    // A folder that passes is used as it is.
    const fs::path fresh = dir.path() / "Fresh";
    EXPECT_EQ(platform::privateFolder(fresh), fresh);
    EXPECT_TRUE(isOwnPrivateFolder(fresh));
}

TEST(Paths, FilesAreOpenedWithoutFollowingLinks) {
    kvtest::TempDir dir;
    const fs::path victim = dir.path() / "victim";
    kvtest::writeFile(victim, "keep");
    fs::create_symlink(victim, dir.path() / "link");
    errno = 0;
    EXPECT_LT(platform::openForAppend(dir.path() / "link", false), 0);
    EXPECT_EQ(errno, ELOOP);
    EXPECT_LT(platform::openForAppend(dir.path() / "victim", true), 0) << "a new file must be new";
    ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
    EXPECT_LT(platform::openForAppend(dir.path() / "fifo", false), 0)
        << "neither blocks nor opens a FIFO";
    const int fd = platform::openForAppend(dir.path() / "new.log", true);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    ::close(fd);
    EXPECT_EQ(kvtest::readFile(victim), "keep");
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

TEST(Paths, ProgramFilesDirectoryDependsOnPrivilegeUnlessChosen) {
    kvtest::TempDir dir;
    EnvGuard env({"HOME", "KV_PROGRAM_FILES_DIR"});
    EnvGuard::setEnv("HOME", dir.path().string());
    const fs::path byPrivilege = geteuid() == 0 ? fs::path("/opt") : dir.path() / ".local" / "opt";
    for (const char* ignored : {"", "relative/programs"}) {
        EnvGuard::setEnv("KV_PROGRAM_FILES_DIR", std::string(ignored));
        EXPECT_EQ(platform::programFilesDirectory(), byPrivilege) << ignored;
    }
    EnvGuard::setEnv("KV_PROGRAM_FILES_DIR", (dir.path() / "programs/").string());
    EXPECT_EQ(platform::programFilesDirectory(), dir.path() / "programs");
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
