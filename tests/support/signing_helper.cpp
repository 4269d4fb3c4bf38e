#include "signing_helper.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <memory>

#include "test_support.h"

namespace kvtest {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kLongAgo = 946684800;    // 2000-01-01
constexpr int64_t kFarAhead = 4102444800;  // 2100-01-01

struct Issued {
    kvsign::PkeyPtr key;
    kvsign::CertPtr cert;
};

struct CertOptions {
    bool ca = false;
    std::string usage;  // extendedKeyUsage value in openssl's config syntax, empty for none
    int64_t notBefore = kLongAgo;
    int64_t notAfter = kFarAhead;
    bool rsa = false;
    EVP_PKEY* reuseKey = nullptr;
};

kvsign::PkeyPtr makeKey(bool rsa) {
    return kvsign::PkeyPtr(rsa ? EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048})
                               : EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
}

void addExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str());
    ASSERT_NE(ext, nullptr) << "extension " << nid << " = " << value;
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// A certificate for `commonName`, signed by `issuer` (self-signed when null).
Issued issue(const std::string& commonName, const Issued* issuer, const CertOptions& options) {
    static long serial = 1000;
    Issued made;
    if (options.reuseKey) {
        EVP_PKEY_up_ref(options.reuseKey);
        made.key.reset(options.reuseKey);
    } else {
        made.key = makeKey(options.rsa);
    }
    made.cert.reset(X509_new());
    X509* cert = made.cert.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), ++serial);
    ASN1_TIME_set(X509_getm_notBefore(cert), static_cast<time_t>(options.notBefore));
    ASN1_TIME_set(X509_getm_notAfter(cert), static_cast<time_t>(options.notAfter));
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("KV Tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer->cert.get()) : name);
    X509_set_pubkey(cert, made.key.get());

    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer ? issuer->cert.get() : cert, cert, nullptr, nullptr, 0);
    addExtension(cert, &ctx, NID_basic_constraints, options.ca ? "critical,CA:TRUE" : "CA:FALSE");
    addExtension(cert, &ctx, NID_key_usage,
                 options.ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    if (!options.usage.empty())
        addExtension(cert, &ctx, NID_ext_key_usage, options.usage);
    addExtension(cert, &ctx, NID_subject_key_identifier, "hash");
    addExtension(cert, &ctx, NID_authority_key_identifier, "keyid:always");
    EXPECT_GT(X509_sign(cert, issuer ? issuer->key.get() : made.key.get(), EVP_sha256()), 0);
    return made;
}

void writePem(const fs::path& path, X509* cert, bool trustedForm = false) {
    std::unique_ptr<BIO, decltype(&BIO_free_all)> bio(BIO_new_file(path.c_str(), "a"),
                                                      BIO_free_all);
    ASSERT_TRUE(bio) << path;
    ASSERT_EQ(
        trustedForm ? PEM_write_bio_X509_AUX(bio.get(), cert) : PEM_write_bio_X509(bio.get(), cert),
        1);
}

void writeKey(const fs::path& path, EVP_PKEY* key) {
    std::unique_ptr<BIO, decltype(&BIO_free_all)> bio(BIO_new_file(path.c_str(), "w"),
                                                      BIO_free_all);
    ASSERT_TRUE(bio) << path;
    ASSERT_EQ(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr), 1);
}

SigningFiles save(const fs::path& dir, const std::string& stem, const Issued& leaf,
                  std::initializer_list<const Issued*> chain = {}) {
    SigningFiles files{dir / (stem + ".key"), dir / (stem + ".pem"), {}};
    writeKey(files.key, leaf.key.get());
    writePem(files.cert, leaf.cert.get());
    if (chain.size() > 0) {
        files.chain = dir / (stem + "-chain.pem");
        for (const Issued* link : chain)
            writePem(files.chain, link->cert.get());
    }
    return files;
}

TestPki makePki(const fs::path& dir) {
    TestPki pki;
    pki.dir = dir;
    const Issued root = issue("KV Test Root CA", nullptr, {.ca = true});
    const Issued other = issue("KV Other Root CA", nullptr, {.ca = true});
    const Issued intermediate = issue("KV Test Intermediate CA", &root, {.ca = true});
    const Issued serverCa = issue("KV Test Server CA", &root, {.ca = true, .usage = "serverAuth"});
    pki.rootCa = dir / "root-ca.pem";
    writePem(pki.rootCa, root.cert.get());
    pki.otherRootCa = dir / "other-root-ca.pem";
    writePem(pki.otherRootCa, other.cert.get());

    const Issued publisher = issue(kPublisherName, &root, {.usage = "codeSigning"});
    pki.publisher = save(dir, "publisher", publisher);
    pki.rsaPublisher =
        save(dir, "rsa-publisher",
             issue("KV Test RSA Publisher", &root, {.usage = "codeSigning", .rsa = true}));
    pki.noUsage = save(dir, "no-usage", issue("KV No Usage", &root, {}));
    pki.serverOnly =
        save(dir, "server-only", issue("KV Server Only", &root, {.usage = "serverAuth"}));
    pki.expired = save(dir, "expired",
                       issue("KV Expired Publisher", &root,
                             {.usage = "codeSigning",
                              .notBefore = kExpiredNotBefore,
                              .notAfter = kExpiredNotAfter}));
    pki.viaIntermediate =
        save(dir, "via-intermediate",
             issue("KV Intermediate Publisher", &intermediate, {.usage = "codeSigning"}),
             {&intermediate});
    pki.viaServerIntermediate =
        save(dir, "via-server-ca",
             issue("KV Server CA Publisher", &serverCa, {.usage = "codeSigning"}), {&serverCa});
    pki.foreign = save(dir, "foreign",
                       issue("KV Foreign Publisher", &other, {.usage = "codeSigning"}), {&other});
    pki.tsa = save(dir, "tsa", issue("KV Test TSA", &root, {.usage = "critical,timeStamping"}));
    pki.foreignTsa =
        save(dir, "foreign-tsa",
             issue("KV Foreign TSA", &other, {.usage = "critical,timeStamping"}), {&other});

    pki.publisherKeyCert = dir / "publisher-key.pem";
    writePem(pki.publisherKeyCert, issue("KV Same Key", nullptr,
                                         {.usage = "codeSigning", .reuseKey = publisher.key.get()})
                                       .cert.get());

    kvsign::CertPtr rejecting(X509_dup(root.cert.get()));
    X509_add1_reject_object(rejecting.get(), OBJ_nid2obj(NID_code_sign));
    pki.rootRejectingCodeSigning = dir / "root-rejecting-code-signing.pem";
    writePem(pki.rootRejectingCodeSigning, rejecting.get(), true);
    return pki;
}

void putLe16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}
void putLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
void putLe64(std::vector<uint8_t>& bytes, size_t at, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

const TestPki& TestPki::get() {
    static TempDir dir;
    static const TestPki pki = makePki(dir.path());
    return pki;
}

std::vector<uint8_t> makePeImage(const PeImageOptions& options) {
    std::vector<uint8_t> image(kPePayloadOffset + options.payloadSize, 0);
    image[0] = 'M';
    image[1] = 'Z';
    constexpr size_t kNt = 0x80;
    putLe32(image, 0x3C, kNt);
    std::memcpy(image.data() + kNt, "PE\0\0", 4);
    const size_t coff = kNt + 4;
    const uint16_t optionalSize =
        static_cast<uint16_t>((options.pe32Plus ? 112 : 96) + 8 * options.directoryCount);
    putLe16(image, coff, options.pe32Plus ? 0x8664 : 0x014C);
    putLe16(image, coff + 2, 1);  // sections
    putLe32(image, coff + 4, 0x65000000);
    putLe16(image, coff + 16, optionalSize);
    putLe16(image, coff + 18, options.pe32Plus ? 0x0022 : 0x0102);
    const size_t opt = coff + 20;
    putLe16(image, opt, options.pe32Plus ? 0x20B : 0x10B);
    image[opt + 2] = 14;               // linker version
    putLe32(image, opt + 4, 0x200);    // SizeOfCode
    putLe32(image, opt + 16, 0x1000);  // AddressOfEntryPoint
    putLe32(image, opt + 20, 0x1000);  // BaseOfCode
    if (options.pe32Plus)
        putLe64(image, opt + 24, 0x140000000);
    else
        putLe32(image, opt + 28, 0x400000);
    putLe32(image, opt + 32, 0x1000);  // SectionAlignment
    putLe32(image, opt + 36, 0x200);   // FileAlignment
    putLe16(image, opt + 40, 6);       // OS version
    putLe16(image, opt + 48, 6);       // subsystem version
    putLe32(image, opt + 56, 0x2000);  // SizeOfImage
    putLe32(image, opt + 60, 0x200);   // SizeOfHeaders
    putLe16(image, opt + 68, 3);       // console subsystem
    putLe16(image, opt + 70, 0x8140);
    putLe32(image, opt + (options.pe32Plus ? 108 : 92), options.directoryCount);
    const size_t section = opt + optionalSize;
    std::memcpy(image.data() + section, ".text", 5);
    putLe32(image, section + 8, 0x100);    // VirtualSize
    putLe32(image, section + 12, 0x1000);  // VirtualAddress
    putLe32(image, section + 16, 0x200);   // SizeOfRawData
    putLe32(image, section + 20, kPeSectionOffset);
    putLe32(image, section + 36, 0x60000020);
    image[kPeSectionOffset] = 0xC3;  // ret
    for (size_t i = 1; i < 0x200; ++i)
        image[kPeSectionOffset + i] = static_cast<uint8_t>(i * 7);
    for (size_t i = 0; i < options.payloadSize; ++i)
        image[kPePayloadOffset + i] = static_cast<uint8_t>(i * 31 + 5);
    return image;
}

kvsign::Identity loadIdentity(const SigningFiles& files) {
    std::string error;
    auto identity = kvsign::loadIdentity(files.key, files.cert, files.chain, error);
    EXPECT_TRUE(identity) << error;
    return identity ? std::move(*identity) : kvsign::Identity{};
}

std::vector<uint8_t> signBytes(std::vector<uint8_t> bytes, const SigningFiles& signer,
                               kvsign::Format format, const SigningFiles* tsa,
                               std::optional<int64_t> stampTime) {
    const kvsign::Identity identity = loadIdentity(signer);
    std::optional<kvsign::TimeStamper> stamper;
    if (tsa)
        stamper = kvsign::TimeStamper{loadIdentity(*tsa), stampTime};
    std::string error;
    if (!identity.key ||
        !kvsign::signFile(bytes, format, identity, stamper ? &*stamper : nullptr, error)) {
        ADD_FAILURE() << "signing failed: " << error;
        return {};
    }
    return bytes;
}

}  // namespace kvtest
