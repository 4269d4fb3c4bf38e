// kvdiag handover: the installer's hand-over of a downloaded setup, from the command line.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "DownLoadImpl.h"
#include "test_support.h"

namespace fs = std::filesystem;

TEST(KvdiagHandover, CopiesOnlyWhatVerifiesAndPrintsItsDigest) {
    const std::string product = std::string(KV_BIN_DIR) + "/demo-product/";
    const std::string setup = product + "KestrovaEditor_2.4.1.0.exe";
    if (!fs::exists(setup))
        GTEST_SKIP() << "the demo product was not built";
    kvtest::ScopedEnv roots("KV_CA_BUNDLE", (product + "demo-root.pem").c_str());
    kvtest::TempDir dir;

    const fs::path copy = dir.path() / "setup.run";
    const auto ok =
        kvtest::runProgram(std::string(KV_BIN_DIR) + "/kvdiag", {"handover", setup, copy.string()});
    EXPECT_EQ(ok.exitCode, 0) << ok.output;
    EXPECT_NE(ok.output.find("MD5: " + CDownLoadImpl::md5OfFile(setup) + "\n"), std::string::npos)
        << ok.output;
    EXPECT_EQ(kvtest::readFile(copy),
              kvtest::readFile(product + "KestrovaEditor_2.4.1.0.unsigned.exe"))
        << "the copy is the program without its signature block";

    const fs::path refused = dir.path() / "untrusted.run";
    const auto bad = kvtest::runProgram(
        std::string(KV_BIN_DIR) + "/kvdiag",
        {"handover", product + "KestrovaEditor_2.4.1.0.untrusted.exe", refused.string()});
    EXPECT_EQ(bad.exitCode, 1) << bad.output;
    EXPECT_FALSE(fs::exists(refused));
}
