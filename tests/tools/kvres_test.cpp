#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/Resources.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kBin = KV_BIN_DIR;

kvtest::RunResult run(const std::string& tool, const std::vector<std::string>& args) {
    return kvtest::runProgram(kBin + "/" + tool, args);
}

// A copy of the built installer, so a test can swap its package without touching the build.
// The installer carries everything it links of ours, so the copy is the one file alone.
struct InstallerCopy {
    kvtest::TempDir dir;
    fs::path exe;
    InstallerCopy() : exe(dir.path() / "kvdownloader") {
        fs::copy_file(kBin + "/kvdownloader", exe);
    }
};

void writeSkin(const fs::path& folder, const std::string& downloaderId) {
    fs::create_directories(folder / "configure");
    kvtest::writeFile(folder / "configure" / "configure.xml",
                      "\xEF\xBB\xBF<VerticalLayout name=\"Product_config\">\n"
                      "<Label name=\"Downloader_id\" text=\"" +
                          downloaderId + "\" />\n</VerticalLayout>\n");
    fs::create_directories(folder / "skin");
    kvtest::writeFile(folder / "skin" / "logo.png", "not really a png");
}

TEST(Kvres, BuiltInstallerCarriesItsResources) {
    auto listed = run("kvres", {"list", kBin + "/kvdownloader"});
    ASSERT_EQ(listed.exitCode, 0) << listed.output;
    EXPECT_NE(listed.output.find("ZIPRES        138"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("VERSION         1"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("ICON          143"), std::string::npos) << listed.output;

    auto diag = run("kvdiag", {"skin"});
    EXPECT_EQ(diag.exitCode, 0) << diag.output;
    EXPECT_NE(diag.output.find("Downloader_id: 253"), std::string::npos) << diag.output;
    EXPECT_NE(diag.output.find("Window class: KV_UI_Frame_253"), std::string::npos);
}

// One build serves any product: swapping the package changes what the next start reads.
TEST(Kvres, ReplacingTheSkinPackageChangesWhatTheInstallerReads) {
    InstallerCopy copy;
    writeSkin(copy.dir.path() / "skin-src", "777");
    const auto zip = copy.dir.path() / "other.zip";
    ASSERT_EQ(
        run("kvres", {"pack", (copy.dir.path() / "skin-src").string(), zip.string()}).exitCode, 0);
    auto replaced = run("kvres", {"replace", copy.exe.string(), "ZIPRES", "138", zip.string()});
    ASSERT_EQ(replaced.exitCode, 0) << replaced.output;

    // kvdiag reads the package with the installer's own start-up probe.
    auto diag = run("kvdiag", {"skin", copy.exe.string()});
    EXPECT_NE(diag.output.find("Downloader_id: 777"), std::string::npos) << diag.output;
    EXPECT_NE(diag.output.find("Window class: KV_UI_Frame_777"), std::string::npos) << diag.output;
    EXPECT_NE(diag.output.find("File version: 1.0.0.1"), std::string::npos)
        << "other resources stay";

    struct stat st {};
    ASSERT_EQ(::stat(copy.exe.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR) << "still a program";

    const auto extracted = copy.dir.path() / "extracted.zip";
    ASSERT_EQ(
        run("kvres", {"extract", copy.exe.string(), "ZIPRES", "138", extracted.string()}).exitCode,
        0);
    EXPECT_EQ(kvtest::readFile(extracted), kvtest::readFile(zip));
}

TEST(Kvres, PackIsReproducible) {
    kvtest::TempDir dir;
    writeSkin(dir.path() / "src", "1");
    const auto a = dir.path() / "a.zip";
    const auto b = dir.path() / "b.zip";
    ASSERT_EQ(run("kvres", {"pack", (dir.path() / "src").string(), a.string()}).exitCode, 0);
    ASSERT_EQ(run("kvres", {"pack", (dir.path() / "src").string(), b.string()}).exitCode, 0);
    EXPECT_EQ(kvtest::readFile(a), kvtest::readFile(b));
}

TEST(Kvres, BadArgumentsAreClearErrors) {
    InstallerCopy copy;
    const std::string exe = copy.exe.string();
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    } cases[] = {
        {{}, 2, "usage"},
        {{"list"}, 2, "usage"},
        {{"list", exe + ".missing"}, 1, "no such file"},
        {{"extract", exe, "ZIPRES", "12x", "out"}, 1, "bad resource id"},
        {{"extract", exe, "BAD TYPE", "1", "out"}, 1, "bad resource type"},
        {{"extract", exe, "ZIPRES", "999", "out"}, 1, "no resource ZIPRES/999"},
        {{"replace", exe, "ZIPRES", "138", exe + ".missing"}, 1, "cannot read"},
        {{"pack", exe + ".missing", "out.zip"}, 1, "not a folder"},
    };
    for (const auto& c : cases) {
        auto r = run("kvres", c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }
    // A failed replace leaves the program as it was.
    EXPECT_EQ(platform::readResources(copy.exe).entries().size(), 3u);
}

TEST(Kvdiag, ProgramWithoutPackage) {
    auto r = run("kvdiag", {"skin", kBin + "/kvdownloader_bare"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("Skin package: none"), std::string::npos) << r.output;
}

}  // namespace
