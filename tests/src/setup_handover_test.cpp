// The hand-over of a downloaded setup: one read makes the private copy and both digests. What
// runs must be exactly what was hashed, whatever happens to the download meanwhile, and the
// verdicts must be those the separate MD5 check and signature check give.

#include "Common/setup_handover.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "DownLoadImpl.h"
#include "platform/Trust.h"
#include "signing_helper.h"
#include "test_support.h"

namespace fs = std::filesystem;
using platform::TrustResult;

namespace {

const platform::TrustAnchors& testRoots() {
    static const platform::TrustAnchors anchors =
        platform::TrustAnchors::fromFiles({kvtest::TestPki::get().rootCa}, {});
    return anchors;
}

HandoverOptions withTestRoots() {
    HandoverOptions options;
    options.anchors = [] { return testRoots(); };
    return options;
}

// A signed script several pieces long: it prints its marker, then a long comment follows.
struct SignedScript {
    std::string content;
    std::string file;  // content + signature block
};

SignedScript signedScript(const std::string& marker) {
    SignedScript s;
    s.content = "#!/bin/sh\necho " + marker + "\nexit 0\n#" + std::string(3 << 20, 'a') + "\n";
    const auto bytes = kvtest::signBytes(std::vector<uint8_t>(s.content.begin(), s.content.end()),
                                         kvtest::TestPki::get().publisher);
    s.file.assign(bytes.begin(), bytes.end());
    return s;
}

// Changes one byte in place, as a writer that still holds the file open would.
void overwrite(const fs::path& path, uint64_t at, char byte) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::pwrite(fd, &byte, 1, static_cast<off_t>(at)), 1);
    ::close(fd);
}

std::string describe(const TrustResult& r) {
    return std::to_string(r.status) + ": " + r.detail;
}

}  // namespace

TEST(SetupHandover, ChangesToTheDownloadNeverReachWhatRuns) {
    kvtest::TempDir dir;
    const SignedScript script = signedScript("verified bytes ran");
    const fs::path download = dir.path() / "setup.sh";
    const std::string md5OfDownload = [&] {
        kvtest::writeFile(download, script.file);
        return CDownLoadImpl::md5OfFile(download.string());
    }();

    // Bytes already copied change, the newest of them before the digests can have read them:
    // the copy keeps the bytes that were read, and the digests are of those.
    {
        kvtest::writeFile(download, script.file);
        HandoverOptions options = withTestRoots();
        options.afterPiece = [&](uint64_t copied) {
            overwrite(download, 16, 'X');
            overwrite(download, copied - 1, 'X');
        };
        const fs::path copy = dir.path() / "early.run";
        const SetupHandover h = HandOverSetup(download.string(), copy, options);
        ASSERT_TRUE(h.trust.ok()) << describe(h.trust);
        EXPECT_EQ(h.md5, md5OfDownload);
        EXPECT_EQ(kvtest::readFile(copy), script.content);
        EXPECT_NE(kvtest::readFile(download).substr(0, 32), script.content.substr(0, 32));
        const auto ran = kvtest::runProgram("/bin/sh", {copy.string()});
        EXPECT_EQ(ran.output, "verified bytes ran\n");
    }
    // Bytes not yet copied change: they are copied and hashed together, and fail the check.
    {
        kvtest::writeFile(download, script.file);
        HandoverOptions options = withTestRoots();
        options.afterPiece = [&, once = true](uint64_t) mutable {
            if (std::exchange(once, false))
                overwrite(download, script.content.size() - 2, 'X');
        };
        const fs::path copy = dir.path() / "late.run";
        const SetupHandover h = HandOverSetup(download.string(), copy, options);
        EXPECT_EQ(h.trust.status, platform::kTrustBadDigest) << describe(h.trust);
        EXPECT_NE(h.md5, md5OfDownload);
        EXPECT_EQ(h.md5, CDownLoadImpl::md5OfFile(download.string()))
            << "the MD5 is of the bytes read";
        EXPECT_FALSE(fs::exists(copy)) << "nothing is left to run";
    }
    // Changed after the download, before the hand-over: neither digest holds and nothing runs.
    {
        kvtest::writeFile(download, script.file);
        overwrite(download, 16, 'X');
        const fs::path copy = dir.path() / "before.run";
        const SetupHandover h = HandOverSetup(download.string(), copy, withTestRoots());
        EXPECT_EQ(h.trust.status, platform::kTrustBadDigest) << describe(h.trust);
        EXPECT_NE(h.md5, md5OfDownload);
        EXPECT_FALSE(fs::exists(copy));
    }
    // The file shrinks under the read: no copy, and the reason says so.
    {
        kvtest::writeFile(download, script.file);
        HandoverOptions options = withTestRoots();
        options.afterPiece = [&](uint64_t) { fs::resize_file(download, 1 << 20); };
        const fs::path copy = dir.path() / "shrunk.run";
        const SetupHandover h = HandOverSetup(download.string(), copy, options);
        EXPECT_EQ(h.trust.status, platform::kTrustSystemError) << describe(h.trust);
        EXPECT_FALSE(fs::exists(copy));
    }
}

// The one read gives the verdicts the MD5 check and the copying signature check give apart.
TEST(SetupHandover, VerdictsMatchTheSeparateChecks) {
    kvtest::TempDir dir;
    const SignedScript script = signedScript("ok");
    const auto& pki = kvtest::TestPki::get();
    const auto image =
        kvtest::signBytes(kvtest::makePeImage({.payloadSize = (1 << 20) + 3}), pki.publisher);
    const auto foreign = kvtest::signBytes(
        std::vector<uint8_t>(script.content.begin(), script.content.end()), pki.foreign);
    std::string tampered = script.file;
    tampered[tampered.size() / 2] ^= 1;
    kvtest::writeFile(dir.path() / "signed.sh", script.file);
    kvtest::writeFile(dir.path() / "setup.exe", std::string(image.begin(), image.end()));
    kvtest::writeFile(dir.path() / "foreign.sh", std::string(foreign.begin(), foreign.end()));
    kvtest::writeFile(dir.path() / "tampered.sh", tampered);
    kvtest::writeFile(dir.path() / "plain.sh", script.content);
    kvtest::writeFile(dir.path() / "empty", "");
    fs::create_directory(dir.path() / "folder");
    kvtest::writeFile(dir.path() / "taken.run", "someone else's");

    struct Case {
        const char* file;
        const char* copy;
    } cases[] = {{"signed.sh", "a"},   {"setup.exe", "b"}, {"foreign.sh", "c"},
                 {"tampered.sh", "d"}, {"plain.sh", "e"},  {"empty", "f"},
                 {"missing", "g"},     {"folder", "h"},    {"signed.sh", "taken.run"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " -> " + c.copy);
        const fs::path file = dir.path() / c.file;
        const fs::path oneRead =
            dir.path() /
            (std::string(c.copy) == "taken.run" ? "taken.run" : std::string(c.copy) + ".one");
        const fs::path apart =
            dir.path() /
            (std::string(c.copy) == "taken.run" ? "taken.run" : std::string(c.copy) + ".apart");
        const SetupHandover h = HandOverSetup(file.string(), oneRead, withTestRoots());
        const TrustResult expected = platform::stripAppendedSignature(file, apart, {}, testRoots());
        EXPECT_EQ(h.trust.status, expected.status)
            << describe(h.trust) << " / " << describe(expected);
        EXPECT_EQ(h.trust.lastError, expected.lastError);
        EXPECT_EQ(h.trust.form, expected.form);
        EXPECT_EQ(h.trust.signerSubject, expected.signerSubject);
        EXPECT_EQ(h.md5, CDownLoadImpl::md5OfFile(file.string()));
        if (expected.ok()) {
            EXPECT_EQ(kvtest::readFile(oneRead), kvtest::readFile(apart));
        } else if (std::string(c.copy) != "taken.run") {
            EXPECT_FALSE(fs::exists(oneRead));
        }
    }
    EXPECT_EQ(kvtest::readFile(dir.path() / "taken.run"), "someone else's")
        << "an existing file is never replaced";

    // A configuration that skips the MD5 gets none.
    HandoverOptions noMd5 = withTestRoots();
    noMd5.md5 = false;
    const SetupHandover h =
        HandOverSetup((dir.path() / "signed.sh").string(), dir.path() / "nomd5.run", noMd5);
    EXPECT_TRUE(h.trust.ok());
    EXPECT_EQ(h.md5, "");
}
