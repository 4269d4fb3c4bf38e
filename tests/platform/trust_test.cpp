#include "platform/Trust.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "signing_helper.h"
#include "test_support.h"

namespace {

const std::vector<uint8_t> kScript = {'#',  '!', '/', 'b', 'i', 'n', '/', 's', 'h',
                                      '\n', 'e', 'x', 'i', 't', ' ', '0', '\n'};

platform::TrustAnchors trusted() {
    return platform::TrustAnchors::fromFiles({kvtest::TestPki::get().rootCa}, {});
}

uint32_t check(const std::vector<uint8_t>& bytes, const std::string& publisher = "") {
    return platform::verifySignatureBytes(bytes, publisher, trusted()).status;
}

TEST(Trust, SignedAndTrustedVerifiesInBothForms) {
    const auto& pki = kvtest::TestPki::get();
    EXPECT_EQ(check(kvtest::signBytes(kvtest::makePeImage(), pki.publisher)),
              platform::kTrustSuccess);
    EXPECT_EQ(check(kvtest::signBytes(kvtest::makePeImage({true, 5000, 16}), pki.rsaPublisher)),
              platform::kTrustSuccess)
        << "PE32+ with an RSA signer";
    EXPECT_EQ(check(kvtest::signBytes(kScript, pki.publisher)), platform::kTrustSuccess);
    EXPECT_EQ(check(kvtest::signBytes(kvtest::makePeImage(), pki.viaIntermediate)),
              platform::kTrustSuccess)
        << "the chain shipped in the signature reaches the root";
}

TEST(Trust, UnsignedAndChangedFilesFail) {
    const auto& pki = kvtest::TestPki::get();
    EXPECT_EQ(check(kvtest::makePeImage()), platform::kTrustNoSignature);
    EXPECT_EQ(check(kScript), platform::kTrustNoSignature);
    const auto pe = kvtest::signBytes(kvtest::makePeImage(), pki.publisher);
    for (size_t at : {size_t{0x80}, kvtest::kPeSectionOffset + 5, kvtest::kPePayloadOffset + 7}) {
        auto changed = pe;
        changed[at] ^= 0x01;
        EXPECT_NE(check(changed), platform::kTrustSuccess) << "byte " << at;
    }
    auto script = kvtest::signBytes(kScript, pki.publisher);
    script[3] ^= 0x01;
    EXPECT_NE(check(script), platform::kTrustSuccess);
}

// A signature blob cut anywhere is a clean failure (the sanitizer build checks the reads).
TEST(Trust, TruncatedSignaturesFailCleanly) {
    const auto& pki = kvtest::TestPki::get();
    const auto pe = kvtest::signBytes(kvtest::makePeImage(), pki.publisher);
    const auto script = kvtest::signBytes(kScript, pki.publisher);
    for (const auto* signed_ : {&pe, &script}) {
        for (size_t cut = 1; cut < signed_->size(); cut += 97) {
            std::vector<uint8_t> part(signed_->begin(),
                                      signed_->begin() + static_cast<long>(signed_->size() - cut));
            EXPECT_NE(check(part), platform::kTrustSuccess) << "cut " << cut;
        }
    }
}

TEST(Trust, SignerMustChainToATrustedRootWithCodeSigning) {
    const auto& pki = kvtest::TestPki::get();
    EXPECT_EQ(check(kvtest::signBytes(kvtest::makePeImage(), pki.foreign)),
              platform::kCertUntrustedRoot);
    EXPECT_NE(check(kvtest::signBytes(kvtest::makePeImage(), pki.serverOnly)),
              platform::kTrustSuccess);
    EXPECT_NE(check(kvtest::signBytes(kvtest::makePeImage(), pki.noUsage)),
              platform::kTrustSuccess);
    EXPECT_NE(check(kvtest::signBytes(kvtest::makePeImage(), pki.expired)), platform::kTrustSuccess)
        << "an expired signer without a time-stamp";
}

TEST(Trust, ExpectedPublisherAndDistrust) {
    const auto& pki = kvtest::TestPki::get();
    const auto pe = kvtest::signBytes(kvtest::makePeImage(), pki.publisher);
    EXPECT_EQ(check(pe, kvtest::kPublisherName), platform::kTrustSuccess);
    EXPECT_EQ(check(pe, "Someone Else"), platform::kTrustSubjectNotTrusted);
    const auto distrusting = platform::TrustAnchors::fromFiles({pki.rootCa}, {pki.publisher.cert});
    EXPECT_EQ(platform::verifySignatureBytes(pe, "", distrusting).status,
              platform::kTrustExplicitDistrust);
}

TEST(Trust, StrippedCopyIsTheScriptWithoutItsBlock) {
    const auto& pki = kvtest::TestPki::get();
    kvtest::TempDir dir;
    const auto signedScript = kvtest::signBytes(kScript, pki.publisher);
    kvtest::writeFile(dir.path() / "setup.exe",
                      std::string(signedScript.begin(), signedScript.end()));
    setenv("KV_CA_BUNDLE", pki.rootCa.c_str(), 1);
    const auto r =
        platform::stripAppendedSignature(dir.path() / "setup.exe", dir.path() / "run.exe");
    unsetenv("KV_CA_BUNDLE");
    ASSERT_TRUE(r.ok()) << std::hex << r.status << " " << r.detail;
    EXPECT_EQ(kvtest::readFile(dir.path() / "run.exe"),
              std::string(kScript.begin(), kScript.end()));
}

}  // namespace

namespace {

// An independent signer: a PE signed by osslsigncode must verify the same way.
TEST(Trust, PeSignedByOsslsigncodeVerifies) {
    if (access("/usr/bin/osslsigncode", X_OK) != 0)
        GTEST_SKIP() << "osslsigncode is not installed";
    const auto& pki = kvtest::TestPki::get();
    kvtest::TempDir dir;
    const auto pe = kvtest::makePeImage();
    kvtest::writeFile(dir.path() / "in.exe", std::string(pe.begin(), pe.end()));
    std::vector<std::string> args = {"sign",
                                     "-certs",
                                     pki.publisher.cert.string(),
                                     "-key",
                                     pki.publisher.key.string(),
                                     "-h",
                                     "sha256",
                                     "-in",
                                     (dir.path() / "in.exe").string(),
                                     "-out",
                                     (dir.path() / "out.exe").string()};
    const auto signedRun = kvtest::runProgram("/usr/bin/osslsigncode", args);
    ASSERT_EQ(signedRun.exitCode, 0) << signedRun.output;
    const std::string out = kvtest::readFile(dir.path() / "out.exe");
    EXPECT_EQ(check(std::vector<uint8_t>(out.begin(), out.end())), platform::kTrustSuccess);
}

}  // namespace
