#include "platform/Trust.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "signing_helper.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::SignatureForm;
using platform::TrustAnchors;
using platform::TrustResult;
using Bytes = std::vector<uint8_t>;
using kvsign::Format;

const kvtest::TestPki& pki() {
    return kvtest::TestPki::get();
}

const TrustAnchors& testRoots() {
    static const TrustAnchors anchors = TrustAnchors::fromFiles({pki().rootCa}, {});
    return anchors;
}

TrustResult check(const Bytes& bytes, const std::string& publisher = {},
                  const TrustAnchors& anchors = testRoots()) {
    return platform::verifySignatureBytes(bytes, publisher, anchors);
}

std::string describe(const TrustResult& r) {
    char text[64];
    std::snprintf(text, sizeof text, "status 0x%x last error 0x%x: ", r.status, r.lastError);
    return text + r.detail;
}

Bytes script() {
    const std::string text = "#!/bin/sh\necho signed script ran\n";
    return Bytes(text.begin(), text.end());
}

// The subject of a check: a PE image or a script, the two signed forms.
Bytes subject(Format format) {
    return format == Format::Pe ? kvtest::makePeImage() : script();
}

platform::PeSignatureLayout layoutOf(const Bytes& image) {
    platform::PeSignatureLayout layout;
    EXPECT_EQ(platform::parsePeSignatureLayout(image, layout), platform::PeParse::Ok);
    return layout;
}

void putLe32(Bytes& bytes, uint64_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

TEST(TrustPe, SignedImagesVerify) {
    struct Case {
        bool pe32Plus;
        const kvtest::SigningFiles* signer;
        const char* commonName;
    } cases[] = {
        {false, &pki().publisher, kvtest::kPublisherName},
        {true, &pki().publisher, kvtest::kPublisherName},
        {false, &pki().rsaPublisher, "KV Test RSA Publisher"},
        {true, &pki().viaIntermediate, "KV Intermediate Publisher"},
    };
    for (const Case& c : cases) {
        const Bytes image =
            kvtest::signBytes(kvtest::makePeImage({.pe32Plus = c.pe32Plus}), *c.signer);
        const TrustResult r = check(image);
        EXPECT_TRUE(r.ok()) << c.commonName << ": " << describe(r);
        EXPECT_EQ(r.lastError, 0u);
        EXPECT_EQ(r.form, SignatureForm::Authenticode);
        EXPECT_EQ(r.signerCommonName, c.commonName);
        EXPECT_NE(r.signerSubject.find(std::string("CN=") + c.commonName), std::string::npos);
        EXPECT_FALSE(r.timeStampTime);
        EXPECT_EQ(image.size() % 8, 0u) << "the table starts on an 8-byte boundary";
    }
}

TEST(TrustPe, FilesWithoutSignatureAreNotSigned) {
    const std::string mzOnly = "MZ";
    struct Case {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"PE32", kvtest::makePeImage()},
        {"PE32+", kvtest::makePeImage({.pe32Plus = true})},
        {"no certificate directory", kvtest::makePeImage({.directoryCount = 4})},
        {"script", script()},
        {"empty", {}},
        {"MZ only", Bytes(mzOnly.begin(), mzOnly.end())},
        {"short", Bytes(10, 0xAB)},
    };
    for (const Case& c : cases) {
        const TrustResult r = check(c.bytes);
        EXPECT_EQ(r.status, platform::kTrustNoSignature) << c.name << ": " << describe(r);
        EXPECT_EQ(r.lastError, platform::kTrustNoSignature) << c.name;
    }
}

// The image digest covers headers, sections, appended payload and padding alike.
TEST(TrustPe, ChangingAnyHashedByteFails) {
    const Bytes signedImage = kvtest::signBytes(kvtest::makePeImage(), pki().publisher);
    const auto layout = layoutOf(signedImage);
    struct Case {
        const char* name;
        uint64_t offset;
    } cases[] = {
        {"DOS stub", 0x40},
        {"COFF time stamp", 0x88},
        {"entry point", layout.checksumOffset - 48},
        {"byte before the checksum", layout.checksumOffset - 1},
        {"byte after the checksum", layout.checksumOffset + 4},
        {"directory entry before the certificate entry", layout.certDirectoryOffset - 1},
        {"directory entry after the certificate entry", layout.certDirectoryOffset + 8},
        {"section, first byte", kvtest::kPeSectionOffset},
        {"section, last byte", kvtest::kPePayloadOffset - 1},
        {"payload, first byte", kvtest::kPePayloadOffset},
        {"payload, last byte", kvtest::kPePayloadOffset + 3000},
        {"padding before the table", layout.certTableOffset - 1},
    };
    for (const Case& c : cases) {
        Bytes image = signedImage;
        image[c.offset] ^= 0x01;
        const TrustResult r = check(image);
        EXPECT_EQ(r.status, platform::kTrustBadDigest) << c.name << ": " << describe(r);
    }
}

TEST(TrustPe, ChecksumFieldIsNotHashed) {
    Bytes image = kvtest::signBytes(kvtest::makePeImage(), pki().publisher);
    putLe32(image, layoutOf(image).checksumOffset, 0xDEADBEEF);
    EXPECT_TRUE(check(image).ok()) << describe(check(image));
}

TEST(TrustPe, CertificateTableDefectsAreMalformed) {
    const Bytes signedImage = kvtest::signBytes(kvtest::makePeImage(), pki().publisher);
    const auto layout = layoutOf(signedImage);
    const uint64_t table = layout.certTableOffset;
    auto withEntry = [&](uint64_t offset, uint64_t size) {
        Bytes image = signedImage;
        putLe32(image, layout.certDirectoryOffset, static_cast<uint32_t>(offset));
        putLe32(image, layout.certDirectoryOffset + 4, static_cast<uint32_t>(size));
        return image;
    };
    auto changed = [&](uint64_t at, uint8_t value) {
        Bytes image = signedImage;
        image[at] = value;
        return image;
    };
    auto withLength = [&](uint32_t length) {
        Bytes image = signedImage;
        putLe32(image, table, length);
        return image;
    };
    Bytes appended = signedImage;
    appended.insert(appended.end(), 16, 0x5A);
    struct Case {
        const char* name;
        Bytes image;
    } cases[] = {
        {"payload appended after signing", appended},
        {"offset one byte late", withEntry(table + 1, layout.certTableSize)},
        {"size zero", withEntry(table, 0)},
        {"offset zero", withEntry(0, layout.certTableSize)},
        {"table over the headers", withEntry(0x100, signedImage.size() - 0x100)},
        {"table over the section", withEntry(0x200, signedImage.size() - 0x200)},
        {"unknown revision", changed(table + 5, 0x03)},
        {"X.509 entry instead of PKCS#7", changed(table + 6, 0x01)},
        {"entry longer than the table",
         withLength(static_cast<uint32_t>(layout.certTableSize + 8))},
        {"entry shorter than its header", withLength(4)},
    };
    for (const Case& c : cases) {
        const TrustResult r = check(c.image);
        EXPECT_EQ(r.status, platform::kTrustNoSignature) << c.name << ": " << describe(r);
        EXPECT_EQ(r.lastError, platform::kCryptBadMsg) << c.name << ": " << describe(r);
    }
}

// Zero padding inside the entry is fine; anything else after the blob rides unsigned, the
// way CVE-2013-3900 abused it, and fails.
TEST(TrustPe, OnlyZeroBytesMayFollowTheBlob) {
    Bytes image = kvtest::signBytes(kvtest::makePeImage(), pki().publisher);
    const auto layout = layoutOf(image);
    image.insert(image.end(), 8, 0);
    const uint32_t grown = static_cast<uint32_t>(layout.certTableSize + 8);
    putLe32(image, layout.certTableOffset, grown);
    putLe32(image, layout.certDirectoryOffset + 4, grown);
    EXPECT_TRUE(check(image).ok()) << describe(check(image));
    image[image.size() - 3] = 'X';
    const TrustResult r = check(image);
    EXPECT_EQ(r.lastError, platform::kCryptBadMsg) << describe(r);
}

TEST(TrustPe, OnlyThePrimarySignatureDecides) {
    Bytes image = kvtest::signBytes(kvtest::makePeImage(), pki().publisher);
    const auto layout = layoutOf(image);
    // A second entry of garbage: Windows looks at the first one only.
    const Bytes second = {16, 0, 0, 0, 0x00, 0x02, 0x02, 0x00, 1, 2, 3, 4, 5, 6, 7, 8};
    image.insert(image.end(), second.begin(), second.end());
    putLe32(image, layout.certDirectoryOffset + 4,
            static_cast<uint32_t>(layout.certTableSize + second.size()));
    EXPECT_TRUE(check(image).ok()) << describe(check(image));
}

// Cutting a signed file anywhere, or cutting the DER blob behind a consistent container,
// gives a clean failure; flipping any byte of the blob never crashes. The sanitizer build
// checks the reads.
TEST(TrustPe, DamagedSignatureBlobFailsCleanly) {
    const Bytes signedImage =
        kvtest::signBytes(kvtest::makePeImage({.pe32Plus = true}), pki().publisher);
    const auto layout = layoutOf(signedImage);
    const uint64_t table = layout.certTableOffset;
    const uint64_t blobSize = layout.certTableSize - 8;
    for (uint64_t cut : {uint64_t{0}, uint64_t{4}, uint64_t{8}, uint64_t{9}, blobSize / 2,
                         layout.certTableSize - 1}) {
        Bytes image(signedImage.begin(), signedImage.begin() + static_cast<ptrdiff_t>(table + cut));
        const TrustResult r = check(image);
        EXPECT_EQ(r.status, platform::kTrustNoSignature) << "file cut at table+" << cut;
        EXPECT_EQ(r.lastError, platform::kCryptBadMsg) << "file cut at table+" << cut;
    }
    for (uint64_t keep : {uint64_t{1}, uint64_t{2}, uint64_t{4}, uint64_t{30}, blobSize / 3,
                          blobSize / 2, blobSize - 40}) {
        Bytes image(signedImage.begin(),
                    signedImage.begin() + static_cast<ptrdiff_t>(table + 8 + keep));
        putLe32(image, table, static_cast<uint32_t>(8 + keep));
        putLe32(image, layout.certDirectoryOffset + 4, static_cast<uint32_t>(8 + keep));
        EXPECT_FALSE(check(image).ok()) << "blob cut to " << keep << " bytes";
    }
    for (uint64_t i = table + 8; i < signedImage.size(); ++i) {
        Bytes image = signedImage;
        image[i] ^= 0x20;
        const TrustResult r = check(image);
        EXPECT_EQ(r.ok(), r.status == 0u);
    }
    for (Format format : {Format::Pe, Format::Appended}) {
        const Bytes whole = kvtest::signBytes(subject(format), pki().publisher);
        for (size_t cut = 1; cut < whole.size(); cut += 97) {
            const Bytes part(whole.begin(), whole.end() - static_cast<ptrdiff_t>(cut));
            EXPECT_FALSE(check(part).ok()) << "cut " << cut << " bytes off the end";
        }
    }
}

// What the signature stands on: the image digest, the signed message digest, the signature
// value and the signer's certificate. No bit of them may change unnoticed. (Elsewhere in the
// blob OpenSSL's lenient decoding lets a few bits pass without changing any meaning: a tag's
// constructed bit, version numbers, the letter case of the issuer name used for lookup.)
TEST(TrustPe, EveryBitOfTheSignedFieldsMatters) {
    const Bytes image = kvtest::signBytes(kvtest::makePeImage(), pki().publisher);
    const auto layout = layoutOf(image);
    const Bytes blob(image.begin() + static_cast<ptrdiff_t>(layout.certTableOffset + 8),
                     image.end());
    const unsigned char* p = blob.data();
    std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(
        d2i_PKCS7(nullptr, &p, static_cast<long>(blob.size())), PKCS7_free);
    ASSERT_TRUE(p7);
    PKCS7_SIGNER_INFO* signerInfo = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0);
    const ASN1_OCTET_STRING* messageDigest = PKCS7_digest_from_attributes(signerInfo->auth_attr);
    unsigned char* certDer = nullptr;
    const int certSize = i2d_X509(sk_X509_value(p7->d.sign->cert, 0), &certDer);
    struct Region {
        const char* name;
        Bytes bytes;
    } regions[] = {
        {"image digest",
         platform::authenticodeDigest(image, layout, platform::DigestAlgorithm::Sha256)},
        {"message digest", Bytes(messageDigest->data, messageDigest->data + messageDigest->length)},
        {"signature", Bytes(signerInfo->enc_digest->data,
                            signerInfo->enc_digest->data + signerInfo->enc_digest->length)},
        {"signer certificate", Bytes(certDer, certDer + certSize)},
    };
    OPENSSL_free(certDer);
    for (const Region& region : regions) {
        const auto at =
            std::search(image.begin(), image.end(), region.bytes.begin(), region.bytes.end());
        ASSERT_NE(at, image.end()) << region.name;
        const size_t start = static_cast<size_t>(at - image.begin());
        for (size_t i = start; i < start + region.bytes.size(); ++i) {
            for (uint8_t bit : {uint8_t{0x01}, uint8_t{0x80}}) {
                Bytes changed = image;
                changed[i] ^= bit;
                EXPECT_FALSE(check(changed).ok()) << region.name << " byte " << i - start;
            }
        }
    }
}

struct SignerCase {
    const char* name;
    kvtest::SigningFiles signer;
    uint32_t status;
};

std::vector<SignerCase> signerCases() {
    auto withoutChain = [](kvtest::SigningFiles files) {
        files.chain.clear();
        return files;
    };
    return {
        {"trusted publisher", pki().publisher, 0},
        {"through an intermediate", pki().viaIntermediate, 0},
        {"root outside the store", pki().foreign, platform::kCertUntrustedRoot},
        {"issuer nowhere", withoutChain(pki().foreign), platform::kCertChaining},
        {"intermediate missing", withoutChain(pki().viaIntermediate), platform::kCertChaining},
        {"no extended key usage", pki().noUsage, platform::kCertWrongUsage},
        {"server authentication only", pki().serverOnly, platform::kCertWrongUsage},
        {"CA restricted to servers", pki().viaServerIntermediate, platform::kCertWrongUsage},
        {"expired", pki().expired, platform::kCertExpired},
    };
}

TEST(TrustChain, SignerChainDecidesForBothForms) {
    for (Format format : {Format::Pe, Format::Appended}) {
        for (const SignerCase& c : signerCases()) {
            const TrustResult r = check(kvtest::signBytes(subject(format), c.signer));
            EXPECT_EQ(r.status, c.status)
                << (format == Format::Pe ? "PE, " : "script, ") << c.name << ": " << describe(r);
            EXPECT_EQ(r.lastError, c.status) << c.name;
        }
    }
}

TEST(TrustChain, ExpectedPublisherMustMatchExactly) {
    const Bytes image = kvtest::signBytes(kvtest::makePeImage(), pki().publisher);
    EXPECT_TRUE(check(image, kvtest::kPublisherName).ok());
    for (const char* other :
         {"KV Test Publisher ", "kv test publisher", "KV Test", "KV Test Root CA"}) {
        const TrustResult r = check(image, other);
        EXPECT_EQ(r.status, platform::kTrustSubjectNotTrusted) << other;
        EXPECT_EQ(r.signerCommonName, kvtest::kPublisherName);
    }
    // The publisher check comes after the chain: an untrusted signer reports its chain.
    EXPECT_EQ(check(kvtest::signBytes(kvtest::makePeImage(), pki().foreign), "KV Foreign Publisher")
                  .status,
              platform::kCertUntrustedRoot);
}

TEST(TrustChain, DistrustedCertificatesAndKeysAreDisallowed) {
    struct Case {
        const char* name;
        kvtest::SigningFiles signer;
        std::vector<fs::path> trusted;
        std::vector<fs::path> distrusted;
        uint32_t status;
    } cases[] = {
        {"the signer",
         pki().publisher,
         {pki().rootCa},
         {pki().publisher.cert},
         platform::kTrustExplicitDistrust},
        {"the root",
         pki().publisher,
         {pki().rootCa},
         {pki().rootCa},
         platform::kTrustExplicitDistrust},
        {"the intermediate",
         pki().viaIntermediate,
         {pki().rootCa},
         {pki().viaIntermediate.chain},
         platform::kTrustExplicitDistrust},
        {"another certificate on the signer's key",
         pki().publisher,
         {pki().rootCa},
         {pki().publisherKeyCert},
         platform::kTrustExplicitDistrust},
        {"even when the chain fails too",
         pki().foreign,
         {pki().rootCa},
         {pki().foreign.cert},
         platform::kTrustExplicitDistrust},
        {"an unrelated certificate", pki().publisher, {pki().rootCa}, {pki().otherRootCa}, 0},
        {"root marked as rejecting code signing",
         pki().publisher,
         {pki().rootRejectingCodeSigning},
         {},
         platform::kTrustExplicitDistrust},
    };
    for (const Case& c : cases) {
        const TrustAnchors anchors = TrustAnchors::fromFiles(c.trusted, c.distrusted);
        for (Format format : {Format::Pe, Format::Appended}) {
            const TrustResult r = check(kvtest::signBytes(subject(format), c.signer), {}, anchors);
            EXPECT_EQ(r.status, c.status) << c.name << ": " << describe(r);
        }
    }
}

TEST(TrustTimeStamp, ValidStampChecksTheChainAtItsTime) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    struct Case {
        const char* name;
        kvtest::SigningFiles signer;
        kvtest::SigningFiles stamper;
        int64_t at;
        uint32_t status;
    } cases[] = {
        {"expired signer stamped while valid", pki().expired, pki().tsa,
         kvtest::kInsideExpiredValidity, 0},
        {"valid signer stamped now", pki().publisher, pki().tsa, now, 0},
        {"expired signer stamped now", pki().expired, pki().tsa, now, platform::kCertExpired},
        {"expired signer stamped before its validity", pki().expired, pki().tsa,
         kvtest::kExpiredNotBefore - 86400, platform::kCertExpired},
        {"stamp from an untrusted authority", pki().expired, pki().foreignTsa,
         kvtest::kInsideExpiredValidity, platform::kTrustTimeStamp},
        {"stamp by a certificate without time-stamping usage", pki().publisher, pki().publisher,
         now, platform::kTrustTimeStamp},
    };
    for (Format format : {Format::Pe, Format::Appended}) {
        for (const Case& c : cases) {
            const TrustResult r =
                check(kvtest::signBytes(subject(format), c.signer, format, &c.stamper, c.at));
            EXPECT_EQ(r.status, c.status) << c.name << ": " << describe(r);
            if (c.status == 0) {
                EXPECT_EQ(r.timeStampTime, c.at) << c.name;
            }
        }
    }
}

// Someone editing the stamp's time to bring an expired signer back to life breaks the stamp.
TEST(TrustTimeStamp, AlteredStampFails) {
    const std::string when = "20200601000000Z";
    for (Format format : {Format::Pe, Format::Appended}) {
        Bytes bytes = kvtest::signBytes(subject(format), pki().expired, format, &pki().tsa,
                                        kvtest::kInsideExpiredValidity);
        auto at = std::search(bytes.begin(), bytes.end(), when.begin(), when.end());
        ASSERT_NE(at, bytes.end());
        at[7] = '2';  // 2020-06-02
        const TrustResult r = check(bytes);
        EXPECT_EQ(r.status, platform::kTrustTimeStamp) << describe(r);
    }
}

TEST(TrustAppended, SignedScriptVerifiesAndItsBlockIsFound) {
    const Bytes original = script();
    const Bytes signedScript = kvtest::signBytes(original, pki().publisher);
    const TrustResult r = check(signedScript, kvtest::kPublisherName);
    EXPECT_TRUE(r.ok()) << describe(r);
    EXPECT_EQ(r.form, SignatureForm::Appended);
    EXPECT_EQ(platform::appendedSignedContentSize(signedScript), original.size());
    EXPECT_TRUE(std::equal(original.begin(), original.end(), signedScript.begin()));
    EXPECT_TRUE(check(kvtest::signBytes({}, pki().publisher)).ok()) << "empty content";
}

TEST(TrustAppended, DamageToContentOrBlockFails) {
    const Bytes signedScript = kvtest::signBytes(script(), pki().publisher);
    const size_t contentSize = script().size();
    const size_t trailer = signedScript.size() - platform::kAppendedTrailerSize;
    const size_t cmsSize = trailer - contentSize;
    auto changed = [&](size_t at, uint8_t value) {
        Bytes bytes = signedScript;
        bytes[at] = value;
        return bytes;
    };
    auto withLength = [&](size_t length) {
        Bytes bytes = signedScript;
        for (int i = 0; i < 4; ++i)
            bytes[trailer + 8 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
        return bytes;
    };
    Bytes extended = signedScript;
    extended.push_back('\n');
    constexpr uint32_t kNoSig = platform::kTrustNoSignature;
    constexpr uint32_t kBadMsg = platform::kCryptBadMsg;
    struct Case {
        const char* name;
        Bytes bytes;
        uint32_t status;
        uint32_t lastError;
    } cases[] = {
        {"first content byte", changed(0, 'X'), platform::kTrustBadDigest,
         platform::kTrustBadDigest},
        {"last content byte", changed(contentSize - 1, 'X'), platform::kTrustBadDigest,
         platform::kTrustBadDigest},
        {"format version", changed(trailer, 2), kNoSig, kBadMsg},
        {"signature type", changed(trailer + 1, 1), kNoSig, kBadMsg},
        {"reserved byte", changed(trailer + 5, 1), kNoSig, kBadMsg},
        {"length zero", withLength(0), kNoSig, kBadMsg},
        {"length past the start", withLength(trailer + 1), kNoSig, kBadMsg},
        {"length one short", withLength(cmsSize - 1), kNoSig, kBadMsg},
        {"length one long", withLength(cmsSize + 1), kNoSig, kBadMsg},
        {"magic", changed(signedScript.size() - 2, '!'), kNoSig, kNoSig},
        {"bytes after the trailer", extended, kNoSig, kNoSig},
    };
    for (const Case& c : cases) {
        const TrustResult r = check(c.bytes);
        EXPECT_EQ(r.status, c.status) << c.name << ": " << describe(r);
        EXPECT_EQ(r.lastError, c.lastError) << c.name << ": " << describe(r);
    }
    for (size_t i = contentSize; i < trailer; ++i) {
        Bytes bytes = signedScript;
        bytes[i] ^= 0x04;
        const TrustResult r = check(bytes);
        EXPECT_EQ(r.ok(), r.status == 0u);
    }
}

TEST(TrustFiles, FileErrorsAreUnknownErrorsNotUnsignedFiles) {
    kvtest::TempDir dir;
    struct Case {
        const char* name;
        fs::path path;
        uint32_t lastError;
    } cases[] = {
        {"missing", dir.path() / "missing.exe", platform::kFileNotFound},
        {"missing folder", dir.path() / "no" / "file.exe", platform::kFileNotFound},
        {"folder", dir.path(), platform::kReadFault},
    };
    for (const Case& c : cases) {
        const TrustResult r = platform::verifyFileSignature(c.path, {}, testRoots());
        EXPECT_EQ(r.status, platform::kTrustNoSignature) << c.name;
        EXPECT_EQ(r.lastError, c.lastError) << c.name << ": " << describe(r);
    }
    if (::geteuid() != 0) {
        const fs::path locked = dir.path() / "locked.exe";
        kvtest::writeFile(locked, "MZ");
        ::chmod(locked.c_str(), 0);
        EXPECT_EQ(platform::verifyFileSignature(locked, {}, testRoots()).lastError,
                  platform::kAccessDenied);
    }
}

// The environment names the extra roots and the distrust list; the system file is always read.
TEST(TrustFiles, EnvironmentBundlesApply) {
    kvtest::TempDir dir;
    const fs::path file = dir.path() / "setup.exe";
    const Bytes image = kvtest::signBytes(kvtest::makePeImage(), pki().publisher);
    kvtest::writeFile(file, std::string(image.begin(), image.end()));

    kvtest::EnvGuard guard({"KV_CA_BUNDLE", "KV_DISTRUST_BUNDLE"});
    unsetenv("KV_CA_BUNDLE");
    unsetenv("KV_DISTRUST_BUNDLE");
    EXPECT_EQ(platform::verifyFileSignature(file).status, platform::kCertChaining);
    if (fs::exists(platform::kSystemCaFile)) {
        EXPECT_GT(TrustAnchors::fromEnvironment().trustedCount(), 10u);
    }

    setenv("KV_CA_BUNDLE", pki().rootCa.c_str(), 1);
    const TrustResult r = platform::verifyFileSignature(file, kvtest::kPublisherName);
    EXPECT_TRUE(r.ok()) << describe(r);
    setenv("KV_DISTRUST_BUNDLE", pki().publisher.cert.c_str(), 1);
    EXPECT_EQ(platform::verifyFileSignature(file).status, platform::kTrustExplicitDistrust);
}

TEST(TrustStrip, PrivateCopyHoldsExactlyTheVerifiedContent) {
    kvtest::TempDir dir;
    const Bytes original = script();
    const Bytes signedScript = kvtest::signBytes(original, pki().publisher);
    const fs::path in = dir.path() / "tool.sh";
    kvtest::writeFile(in, std::string(signedScript.begin(), signedScript.end()));

    const fs::path out = dir.path() / "run.sh";
    const TrustResult r =
        platform::stripAppendedSignature(in, out, kvtest::kPublisherName, testRoots());
    ASSERT_TRUE(r.ok()) << describe(r);
    EXPECT_EQ(kvtest::readFile(out), std::string(original.begin(), original.end()));
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const auto ran = kvtest::runProgram("/bin/sh", {out.string()});
    EXPECT_EQ(ran.output, "signed script ran\n");

    // An existing file is never replaced.
    EXPECT_EQ(platform::stripAppendedSignature(in, out, {}, testRoots()).status,
              platform::kTrustSystemError);
    EXPECT_EQ(kvtest::readFile(out), std::string(original.begin(), original.end()));

    // A PE image is kept whole.
    const Bytes image = kvtest::signBytes(kvtest::makePeImage(), pki().publisher);
    kvtest::writeFile(dir.path() / "setup.exe", std::string(image.begin(), image.end()));
    ASSERT_TRUE(platform::stripAppendedSignature(dir.path() / "setup.exe", dir.path() / "copy.exe",
                                                 {}, testRoots())
                    .ok());
    EXPECT_EQ(kvtest::readFile(dir.path() / "copy.exe"), std::string(image.begin(), image.end()));
}

TEST(TrustStrip, NothingIsLeftWhenTheCheckFails) {
    kvtest::TempDir dir;
    Bytes tampered = kvtest::signBytes(script(), pki().publisher);
    tampered[3] = 'X';
    kvtest::writeFile(dir.path() / "tool.sh", std::string(tampered.begin(), tampered.end()));
    kvtest::writeFile(dir.path() / "plain.sh", "echo unsigned\n");
    for (const char* name : {"tool.sh", "plain.sh", "missing.sh"}) {
        const fs::path out = dir.path() / (std::string(name) + ".run");
        EXPECT_FALSE(platform::stripAppendedSignature(dir.path() / name, out, {}, testRoots()).ok())
            << name;
        EXPECT_FALSE(fs::exists(out)) << name;
    }
}

// A digest computed while the file streams past stands in for the check's own read, but only
// for the plan it was computed by.
TEST(TrustPrecomputed, AStreamedDigestIsUsedOnlyForItsOwnPlan) {
    kvtest::TempDir dir;
    for (const Format format : {Format::Pe, Format::Appended}) {
        SCOPED_TRACE(format == Format::Pe ? "PE" : "appended");
        const Bytes file = kvtest::signBytes(subject(format), pki().publisher);
        int round = 0;
        // The file as a private copy: open read-write, as the hand-over leaves it.
        auto copyOf = [&](const Bytes& bytes) {
            const fs::path path = dir.path() / ("copy" + std::to_string(round++));
            kvtest::writeFile(path, std::string(bytes.begin(), bytes.end()));
            return std::make_pair(path, ::open(path.c_str(), O_RDWR | O_CLOEXEC));
        };

        auto [planned, plannedFd] = copyOf(file);
        const auto plan = platform::signedDigestPlan(plannedFd);
        ::close(plannedFd);
        ASSERT_TRUE(plan.has_value());
        EXPECT_EQ(plan->fileSize, file.size());
        EXPECT_EQ(plan->algorithm, platform::DigestAlgorithm::Sha256);

        // Fed in uneven pieces that straddle the skipped fields.
        platform::SignedContentDigest streamed(*plan);
        for (size_t at = 0, step = 1; at < file.size(); at += step, step = step * 3 + 1)
            ASSERT_TRUE(
                streamed.update(std::span(file).subspan(at, std::min(step, file.size() - at))));
        const auto value = streamed.finish();
        ASSERT_TRUE(value.has_value());
        if (format == Format::Pe) {
            EXPECT_EQ(*value, platform::authenticodeDigest(file, layoutOf(file),
                                                           platform::DigestAlgorithm::Sha256));
        }

        auto checkWith = [&](const platform::PrecomputedDigest& digest) {
            auto [path, fd] = copyOf(file);
            const TrustResult r = platform::checkPrivateCopy(fd, path, {}, testRoots(), &digest);
            ::close(fd);
            EXPECT_EQ(fs::exists(path), r.ok()) << "a failed copy is removed";
            return r;
        };
        EXPECT_TRUE(checkWith({*plan, *value}).ok());
        Bytes wrong = *value;
        wrong[0] ^= 1;
        EXPECT_EQ(checkWith({*plan, wrong}).status, platform::kTrustBadDigest)
            << "the check compares the value it is given";
        platform::SignedDigestPlan otherAlgorithm = *plan;
        otherAlgorithm.algorithm = platform::DigestAlgorithm::Sha512;
        platform::SignedDigestPlan otherSize = *plan;
        otherSize.fileSize += 1;
        platform::SignedDigestPlan otherRanges = *plan;
        otherRanges.ranges.front().first += 1;
        for (const auto& other : {otherAlgorithm, otherSize, otherRanges})
            EXPECT_TRUE(checkWith({other, wrong}).ok()) << "another plan's value is not used";
        if (format == Format::Appended) {
            const fs::path stripped = dir.path() / ("copy" + std::to_string(round - 1));
            const Bytes content = script();
            EXPECT_EQ(kvtest::readFile(stripped), std::string(content.begin(), content.end()))
                << "the block is cut off the copy";
        }

        platform::SignedContentDigest shortFeed(*plan);
        ASSERT_TRUE(shortFeed.update(std::span(file).first(file.size() - 1)));
        EXPECT_FALSE(shortFeed.finish().has_value()) << "a digest of fewer bytes than the file";
        platform::SignedContentDigest longFeed(*plan);
        ASSERT_TRUE(longFeed.update(file));
        EXPECT_FALSE(longFeed.update(std::span(file).first(1))) << "past the end of the file";
        EXPECT_FALSE(longFeed.finish().has_value());
    }

    // Nothing a check would digest: no plan.
    const Bytes unsignedFile = script();
    const fs::path plain = dir.path() / "plain.sh";
    kvtest::writeFile(plain, std::string(unsignedFile.begin(), unsignedFile.end()));
    const int fd = ::open(plain.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_FALSE(platform::signedDigestPlan(fd).has_value());
    ::close(fd);
}

// An independent signer: images signed by osslsigncode verify here.
TEST(TrustInterop, ImagesSignedByOsslsigncodeVerify) {
    if (!fs::exists("/usr/bin/osslsigncode"))
        GTEST_SKIP() << "osslsigncode is not installed";
    kvtest::TempDir dir;
    struct Case {
        const char* name;
        bool pe32Plus;
        const char* hash;
        kvtest::SigningFiles signer;
        const char* commonName;
    } cases[] = {
        {"PE32, SHA-256", false, "sha256", pki().publisher, kvtest::kPublisherName},
        {"PE32+, SHA-1", true, "sha1", pki().rsaPublisher, "KV Test RSA Publisher"},
        {"PE32+, SHA-512, intermediate", true, "sha512", pki().viaIntermediate,
         "KV Intermediate Publisher"},
    };
    for (const Case& c : cases) {
        const fs::path in = dir.path() / "in.exe";
        const fs::path out = dir.path() / "out.exe";
        const fs::path certs = dir.path() / "certs.pem";
        fs::remove(out);
        const Bytes image = kvtest::makePeImage({.pe32Plus = c.pe32Plus});
        kvtest::writeFile(in, std::string(image.begin(), image.end()));
        kvtest::writeFile(certs,
                          kvtest::readFile(c.signer.cert) +
                              (c.signer.chain.empty() ? "" : kvtest::readFile(c.signer.chain)));
        const auto signedBy =
            kvtest::runProgram("/usr/bin/osslsigncode",
                               {"sign", "-certs", certs.string(), "-key", c.signer.key.string(),
                                "-h", c.hash, "-in", in.string(), "-out", out.string()});
        ASSERT_EQ(signedBy.exitCode, 0) << signedBy.output;
        const TrustResult r = platform::verifyFileSignature(out, c.commonName, testRoots());
        EXPECT_TRUE(r.ok()) << c.name << ": " << describe(r);
        const std::string bytes = kvtest::readFile(out);
        Bytes tampered(bytes.begin(), bytes.end());
        tampered[kvtest::kPePayloadOffset + 10] ^= 1;
        EXPECT_EQ(check(tampered).status, platform::kTrustBadDigest) << c.name;
    }
}

}  // namespace
