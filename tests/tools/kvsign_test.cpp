#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "FuntionImplSignature.h"
#include "Logging.h"
#include "platform/Trust.h"
#include "signing_helper.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string kBin = KV_BIN_DIR;
const kvtest::TestPki& pki() {
    return kvtest::TestPki::get();
}

// The tests trust the test root the way a run would: through KV_CA_BUNDLE.
class Kvsign : public ::testing::Test {
protected:
    kvtest::RunResult sign(const kvtest::SigningFiles& signer, const fs::path& in,
                           const fs::path& out, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--key", signer.key.string(), "--cert",
                                         signer.cert.string()};
        if (!signer.chain.empty())
            args.insert(args.end(), {"--chain", signer.chain.string()});
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {in.string(), out.string()});
        return kvtest::runProgram(kBin + "/kvsign", args);
    }
    fs::path write(const std::string& name, const Bytes& bytes, mode_t mode = 0644) {
        const fs::path path = m_dir.path() / name;
        kvtest::writeFile(path, std::string(bytes.begin(), bytes.end()));
        ::chmod(path.c_str(), mode);
        return path;
    }
    fs::path path(const std::string& name) const { return m_dir.path() / name; }

    kvtest::ScopedEnv m_bundle{"KV_CA_BUNDLE", pki().rootCa.c_str()};
    kvtest::TempDir m_dir;
};

TEST(SignatureMessage, FollowsTheWindowsTable) {
    const std::string path = "/tmp/setup.exe";
    struct Case {
        uint32_t status;
        uint32_t lastError;
        const char* message;
    } cases[] = {
        {0, 0, "The file \"/tmp/setup.exe\" is signed and the signature was verified."},
        {platform::kTrustNoSignature, platform::kTrustNoSignature,
         "The file \"/tmp/setup.exe\" is not signed."},
        {platform::kTrustNoSignature, platform::kTrustSubjectFormUnknown,
         "The file \"/tmp/setup.exe\" is not signed."},
        {platform::kTrustNoSignature, platform::kTrustProviderUnknown,
         "The file \"/tmp/setup.exe\" is not signed."},
        {platform::kTrustNoSignature, platform::kCryptBadMsg,
         "An unknown error occurred trying to verify the signature of the \"/tmp/setup.exe\" "
         "file."},
        {platform::kTrustNoSignature, platform::kFileNotFound,
         "An unknown error occurred trying to verify the signature of the \"/tmp/setup.exe\" "
         "file."},
        {platform::kTrustExplicitDistrust, platform::kTrustExplicitDistrust,
         "The signature is present, but specifically disallowed."},
        {platform::kTrustSubjectNotTrusted, platform::kTrustSubjectNotTrusted,
         "The signature is present, but not trusted."},
        {platform::kCryptSecuritySettings, 0,
         "CRYPT_E_SECURITY_SETTINGS - The hash representing the subject or the publisher wasn't "
         "explicitly "
         "trusted by the admin and admin policy has disabled user trust. No signature, publisher "
         "or "
         "timestamp errors."},
        {platform::kCertUntrustedRoot, platform::kCertUntrustedRoot, "Error is: 0x800b0109."},
        {platform::kTrustBadDigest, platform::kTrustBadDigest, "Error is: 0x80096010."},
        {platform::kTrustSubjectFormUnknown, platform::kTrustSubjectFormUnknown,
         "Error is: 0x800b0003."},
        {1, 1, "Error is: 0x1."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FuntionImpl::SignatureMessage(c.status, c.lastError, path), c.message)
            << std::hex << c.status;
}

TEST_F(Kvsign, SignedImageVerifiesAndTheLogLineReadsAsOnWindows) {
    const fs::path in = write("setup.exe", kvtest::makePeImage({.pe32Plus = true}));
    const fs::path out = path("setup-signed.exe");
    const auto signedBy = sign(pki().publisher, in, out);
    ASSERT_EQ(signedBy.exitCode, 0) << signedBy.output;
    EXPECT_NE(signedBy.output.find("Authenticode"), std::string::npos) << signedBy.output;

    const fs::path log = path("install.log");
    kvlog::configureLogging(log, false);
    EXPECT_TRUE(FuntionImpl::VerifyEmbeddedSignature(out.string(), kvtest::kPublisherName));
    EXPECT_FALSE(FuntionImpl::VerifyEmbeddedSignature(in.string()));
    EXPECT_FALSE(FuntionImpl::VerifyEmbeddedSignature(out.string(), "Someone Else"));
    kvlog::configureLogging();
    const std::string text = kvtest::readFile(log);
    EXPECT_NE(text.find(" VerifyEmbeddedSignature result is 0, The file \"" + out.string() +
                        "\" is signed and the signature was verified.\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(" VerifyEmbeddedSignature result is -2146762496, The file \"" +
                        in.string() + "\" is not signed.\n"),
              std::string::npos)
        << text;
    EXPECT_NE(
        text.find(
            " VerifyEmbeddedSignature result is -2146762748, The signature is present, but not "
            "trusted.\n"),
        std::string::npos)
        << text;
}

// osslsigncode, an independent verifier, accepts what kvsign writes, checksum included.
TEST_F(Kvsign, OsslsigncodeAcceptsItsImages) {
    if (!fs::exists("/usr/bin/osslsigncode"))
        GTEST_SKIP() << "osslsigncode is not installed";
    for (bool pe32Plus : {false, true}) {
        const fs::path in = write("in.exe", kvtest::makePeImage({.pe32Plus = pe32Plus}));
        const fs::path out = path(pe32Plus ? "out64.exe" : "out32.exe");
        ASSERT_EQ(sign(pki().viaIntermediate, in, out).exitCode, 0);
        const auto verified =
            kvtest::runProgram("/usr/bin/osslsigncode",
                               {"verify", "-CAfile", pki().rootCa.string(), "-in", out.string()});
        EXPECT_EQ(verified.exitCode, 0) << verified.output;
        EXPECT_NE(verified.output.find("Signature verification: ok"), std::string::npos)
            << verified.output;
        EXPECT_EQ(verified.output.find("Calculated PE checksum"), std::string::npos)
            << "osslsigncode reports a checksum only when it differs:\n"
            << verified.output;
    }
}

TEST_F(Kvsign, SignedProgramStillRunsAndVerifies) {
    const std::string program = kvtest::readFile("/bin/true");
    ASSERT_FALSE(program.empty());
    const fs::path in = write("tool", Bytes(program.begin(), program.end()), 0755);
    const fs::path out = path("tool-signed");
    const auto signedBy = sign(pki().publisher, in, out);
    ASSERT_EQ(signedBy.exitCode, 0) << signedBy.output;
    EXPECT_NE(signedBy.output.find("appended"), std::string::npos);
    EXPECT_TRUE(FuntionImpl::VerifyEmbeddedSignature(out.string()));
    EXPECT_EQ(kvtest::runProgram(out.string(), {}).exitCode, 0) << "the loader ignores the block";
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u) << "the input's mode is kept";
}

TEST_F(Kvsign, SignedScriptRunsFromItsStrippedCopy) {
    const std::string text = "#!/bin/sh\necho \"installed $1\"\n";
    const fs::path in = write("post-install.sh", Bytes(text.begin(), text.end()), 0755);
    const fs::path out = path("post-install-signed.sh");
    ASSERT_EQ(sign(pki().publisher, in, out, {"--format", "appended", "--timestamp-none"}).exitCode,
              0);
    EXPECT_TRUE(FuntionImpl::VerifyEmbeddedSignature(out.string(), kvtest::kPublisherName));

    const fs::path copy = path("run.sh");
    ASSERT_TRUE(platform::stripAppendedSignature(out, copy, kvtest::kPublisherName).ok());
    EXPECT_EQ(kvtest::readFile(copy), text);
    EXPECT_EQ(kvtest::runProgram("/bin/sh", {copy.string(), "demo"}).output, "installed demo\n");
}

// Signing again replaces the signature instead of stacking a second one.
TEST_F(Kvsign, ResigningReplacesTheSignature) {
    const Bytes image = kvtest::makePeImage();
    const std::string text = "echo hello\n";
    for (const Bytes& original : {image, Bytes(text.begin(), text.end())}) {
        const fs::path in = write("in", original);
        ASSERT_EQ(sign(pki().publisher, in, path("once")).exitCode, 0);
        ASSERT_EQ(sign(pki().rsaPublisher, path("once"), path("twice")).exitCode, 0);
        const auto result = platform::verifyFileSignature(path("twice"));
        EXPECT_TRUE(result.ok()) << result.detail;
        EXPECT_EQ(result.signerCommonName, "KV Test RSA Publisher");
        const std::string once = kvtest::readFile(path("once"));
        const std::string twice = kvtest::readFile(path("twice"));
        // RSA-2048 and P-256 signatures differ in size by a few hundred bytes, not a whole blob.
        EXPECT_LT(twice.size(), once.size() + 600);
    }
}

TEST_F(Kvsign, LocalTimeStampKeepsAnExpiredSignatureValid) {
    const fs::path in = write("setup.exe", kvtest::makePeImage());
    const std::vector<std::string> stamp = {
        "--tsa-key",  pki().tsa.key.string(),
        "--tsa-cert", pki().tsa.cert.string(),
        "--tsa-time", std::to_string(kvtest::kInsideExpiredValidity)};
    ASSERT_EQ(sign(pki().expired, in, path("stamped.exe"), stamp).exitCode, 0);
    ASSERT_EQ(sign(pki().expired, in, path("plain.exe")).exitCode, 0);
    EXPECT_TRUE(FuntionImpl::VerifyEmbeddedSignature(path("stamped.exe").string()));
    const auto plain = platform::verifyFileSignature(path("plain.exe"));
    EXPECT_EQ(plain.status, platform::kCertExpired) << plain.detail;
}

TEST_F(Kvsign, RefusesWhatItCannotSign) {
    const fs::path image = write("setup.exe", kvtest::makePeImage());
    const fs::path text = write("notes.txt", Bytes{'h', 'i', '\n'});
    const fs::path noDirectory = write("old.exe", kvtest::makePeImage({.directoryCount = 4}));
    const auto& p = pki();
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {"no arguments", {}, "usage:"},
        {"unknown option", {"--bogus", image.string(), path("o").string()}, "unknown option"},
        {"key of another certificate",
         {"--key", p.rsaPublisher.key.string(), "--cert", p.publisher.cert.string(), image.string(),
          path("o").string()},
         "does not belong"},
        {"missing input",
         {"--key", p.publisher.key.string(), "--cert", p.publisher.cert.string(),
          path("none").string(), path("o").string()},
         "cannot read"},
        {"PE format for a text file",
         {"--key", p.publisher.key.string(), "--cert", p.publisher.cert.string(), "--format", "pe",
          text.string(), path("o").string()},
         "not a PE image"},
        {"appended block on a PE image",
         {"--key", p.publisher.key.string(), "--cert", p.publisher.cert.string(), "--format",
          "appended", image.string(), path("o").string()},
         "Authenticode"},
        {"PE image without a certificate directory",
         {"--key", p.publisher.key.string(), "--cert", p.publisher.cert.string(),
          noDirectory.string(), path("o").string()},
         "no certificate directory"},
        {"stamp options together with --timestamp-none",
         {"--key", p.publisher.key.string(), "--cert", p.publisher.cert.string(),
          "--timestamp-none", "--tsa-key", p.tsa.key.string(), "--tsa-cert", p.tsa.cert.string(),
          image.string(), path("o").string()},
         "excludes"},
    };
    for (const Case& c : cases) {
        const auto result = kvtest::runProgram(kBin + "/kvsign", c.args);
        EXPECT_EQ(result.exitCode, 1) << c.name << ": " << result.output;
        EXPECT_NE(result.output.find(c.message), std::string::npos)
            << c.name << ": " << result.output;
        EXPECT_FALSE(fs::exists(path("o"))) << c.name;
    }
}

}  // namespace
