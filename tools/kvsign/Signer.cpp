#include "Signer.h"

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rand.h>
#include <openssl/ts.h>

#include <ctime>
#include <limits>

#include "platform/OpenSslPtr.h"
#include "platform/Trust.h"

namespace kvsign {
namespace {

using platform::BioPtr;
using platform::CmsPtr;
using platform::ObjectPtr;
using platform::Pkcs7Ptr;
template <auto Free>
using Deleter = platform::OsslDeleter<Free>;
using TstInfoPtr = std::unique_ptr<TS_TST_INFO, Deleter<TS_TST_INFO_free>>;
using ImprintPtr = std::unique_ptr<TS_MSG_IMPRINT, Deleter<TS_MSG_IMPRINT_free>>;
using AlgorPtr = std::unique_ptr<X509_ALGOR, Deleter<X509_ALGOR_free>>;
using IntegerPtr = std::unique_ptr<ASN1_INTEGER, Deleter<ASN1_INTEGER_free>>;
using GenTimePtr = std::unique_ptr<ASN1_GENERALIZEDTIME, Deleter<ASN1_GENERALIZEDTIME_free>>;

constexpr const char* kOidSpcIndirectData = "1.3.6.1.4.1.311.2.1.4";
constexpr const char* kOidSpcStatementType = "1.3.6.1.4.1.311.2.1.11";
constexpr const char* kOidSpcSpOpusInfo = "1.3.6.1.4.1.311.2.1.12";
constexpr const char* kOidRfc3161CounterSign = "1.3.6.1.4.1.311.3.3.1";
// Arbitrary policy of the local stamping key; verifiers do not interpret it.
constexpr const char* kOidTimeStampPolicy = "1.2.3.4.1";
// DER contents of 1.3.6.1.4.1.311.2.1.15 (SPC_PE_IMAGE_DATAOBJ) and of SHA-256.
constexpr uint8_t kPeImageDataOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};
constexpr uint8_t kSha256Oid[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
// SpcStatementType { individualCodeSigning (1.3.6.1.4.1.311.2.1.21) }, as signtool writes it.
constexpr uint8_t kIndividualStatement[] = {0x30, 0x0C, 0x06, 0x0A, 0x2B, 0x06, 0x01,
                                            0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x15};
constexpr uint8_t kEmptyOpusInfo[] = {0x30, 0x00};

std::string opensslError(const std::string& what) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    char text[256] = "";
    if (code)
        ERR_error_string_n(code, text, sizeof text);
    return what + (code ? std::string(": ") + text : std::string());
}

ObjectPtr oid(const char* text) {
    return ObjectPtr(OBJ_txt2obj(text, 1));
}

// One DER element with the given tag around `content`.
std::vector<uint8_t> der(uint8_t tag, std::span<const uint8_t> content) {
    std::vector<uint8_t> out{tag};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else {
        std::vector<uint8_t> length;
        for (size_t v = n; v; v >>= 8)
            length.insert(length.begin(), static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(0x80 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// SpcIndirectDataContent for a PE image digest (SHA-256), complete with its outer tag.
std::vector<uint8_t> indirectDataContent(const std::vector<uint8_t>& digest) {
    // SpcPeImageData { flags: empty BIT STRING, file: SpcLink.file = SpcString.unicode
    // "<<<Obsolete>>>" }, exactly as Windows' signing tools write it.
    const std::string obsolete = "<<<Obsolete>>>";
    std::vector<uint8_t> bmp;
    for (char c : obsolete)
        bmp.insert(bmp.end(), {0, static_cast<uint8_t>(c)});
    const std::vector<uint8_t> peImageData =
        der(0x30, concat({{0x03, 0x01, 0x00}, der(0xA0, der(0xA2, der(0x80, bmp)))}));
    const std::vector<uint8_t> data = der(0x30, concat({der(0x06, kPeImageDataOid), peImageData}));
    const std::vector<uint8_t> algorithm = der(0x30, concat({der(0x06, kSha256Oid), {0x05, 0x00}}));
    const std::vector<uint8_t> digestInfo = der(0x30, concat({algorithm, der(0x04, digest)}));
    return der(0x30, concat({data, digestInfo}));
}

bool addSequenceAttribute(STACK_OF(X509_ATTRIBUTE) * *attributes, const char* type,
                          std::span<const uint8_t> value) {
    const ObjectPtr object = oid(type);
    return object &&
           X509at_add1_attr_by_OBJ(attributes, object.get(), V_ASN1_SEQUENCE, value.data(),
                                   static_cast<int>(value.size())) != nullptr;
}

std::vector<uint8_t> toDer(PKCS7* p7) {
    unsigned char* out = nullptr;
    const int size = i2d_PKCS7(p7, &out);
    std::vector<uint8_t> bytes;
    if (size > 0)
        bytes.assign(out, out + size);
    OPENSSL_free(out);
    return bytes;
}

std::vector<uint8_t> toDer(CMS_ContentInfo* cms) {
    unsigned char* out = nullptr;
    const int size = i2d_CMS_ContentInfo(cms, &out);
    std::vector<uint8_t> bytes;
    if (size > 0)
        bytes.assign(out, out + size);
    OPENSSL_free(out);
    return bytes;
}

BioPtr memoryOf(std::span<const uint8_t> bytes) {
    static const uint8_t kEmpty = 0;
    return BioPtr(
        BIO_new_mem_buf(bytes.empty() ? &kEmpty : bytes.data(), static_cast<int>(bytes.size())));
}

void putLe32(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A key that turns out to need a passphrase fails instead of prompting on a terminal.
int noPassphrase(char*, int, int, void*) {
    return -1;
}

}  // namespace

std::optional<Identity> loadIdentity(const std::filesystem::path& keyPem,
                                     const std::filesystem::path& certPem,
                                     const std::filesystem::path& chainPem, std::string& error) {
    Identity identity;
    BioPtr keyFile(BIO_new_file(keyPem.c_str(), "r"));
    if (keyFile)
        identity.key.reset(PEM_read_bio_PrivateKey(keyFile.get(), nullptr, noPassphrase, nullptr));
    if (!identity.key) {
        error = opensslError("cannot read the private key " + keyPem.string());
        return std::nullopt;
    }
    BioPtr certFile(BIO_new_file(certPem.c_str(), "r"));
    if (certFile)
        identity.cert.reset(PEM_read_bio_X509(certFile.get(), nullptr, nullptr, nullptr));
    if (!identity.cert) {
        error = opensslError("cannot read the certificate " + certPem.string());
        return std::nullopt;
    }
    if (X509_check_private_key(identity.cert.get(), identity.key.get()) != 1) {
        error =
            opensslError("the key " + keyPem.string() + " does not belong to " + certPem.string());
        return std::nullopt;
    }
    if (!chainPem.empty()) {
        BioPtr chainFile(BIO_new_file(chainPem.c_str(), "r"));
        if (!chainFile) {
            error = opensslError("cannot read the chain " + chainPem.string());
            return std::nullopt;
        }
        for (int i = 0; i < 64; ++i) {
            CertPtr cert(PEM_read_bio_X509(chainFile.get(), nullptr, nullptr, nullptr));
            if (!cert)
                break;
            identity.chain.push_back(std::move(cert));
        }
        ERR_clear_error();
        if (identity.chain.empty()) {
            error = "no certificate in the chain " + chainPem.string();
            return std::nullopt;
        }
    }
    return identity;
}

std::vector<uint8_t> makeTimeStampToken(std::span<const uint8_t> stamped,
                                        const TimeStamper& stamper, std::string& error) {
    uint8_t hash[EVP_MAX_MD_SIZE];
    unsigned int hashSize = 0;
    uint8_t serialBytes[8];
    if (EVP_Digest(stamped.data(), stamped.size(), hash, &hashSize, EVP_sha256(), nullptr) != 1 ||
        RAND_bytes(serialBytes, sizeof serialBytes) != 1) {
        error = opensslError("cannot digest the signature");
        return {};
    }
    uint64_t serialValue = 0;
    for (uint8_t b : serialBytes)
        serialValue = (serialValue << 8) | b;

    TstInfoPtr info(TS_TST_INFO_new());
    ImprintPtr imprint(TS_MSG_IMPRINT_new());
    AlgorPtr algorithm(X509_ALGOR_new());
    IntegerPtr serial(ASN1_INTEGER_new());
    const time_t when = static_cast<time_t>(stamper.time.value_or(std::time(nullptr)));
    GenTimePtr genTime(ASN1_GENERALIZEDTIME_set(nullptr, when));
    const ObjectPtr policy = oid(kOidTimeStampPolicy);
    bool ok =
        info && imprint && algorithm && serial && genTime && policy &&
        X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr) == 1 &&
        TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) == 1 &&
        TS_MSG_IMPRINT_set_msg(imprint.get(), hash, static_cast<int>(hashSize)) == 1 &&
        ASN1_INTEGER_set_uint64(serial.get(), serialValue | 1) == 1 &&
        TS_TST_INFO_set_version(info.get(), 1) == 1 &&
        TS_TST_INFO_set_policy_id(info.get(), policy.get()) == 1 &&
        TS_TST_INFO_set_msg_imprint(info.get(), imprint.get()) == 1 &&
        TS_TST_INFO_set_serial(info.get(), serial.get()) == 1 &&
        TS_TST_INFO_set_time(info.get(), genTime.get()) == 1;
    unsigned char* infoDer = nullptr;
    const int infoSize = ok ? i2d_TS_TST_INFO(info.get(), &infoDer) : -1;
    std::vector<uint8_t> content;
    if (infoSize > 0)
        content.assign(infoDer, infoDer + infoSize);
    OPENSSL_free(infoDer);
    if (content.empty()) {
        error = opensslError("cannot build TSTInfo");
        return {};
    }

    CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, CMS_BINARY | CMS_PARTIAL));
    ok = cms && CMS_set1_eContentType(cms.get(), OBJ_nid2obj(NID_id_smime_ct_TSTInfo)) == 1 &&
         CMS_add1_signer(cms.get(), stamper.identity.cert.get(), stamper.identity.key.get(),
                         EVP_sha256(), CMS_BINARY | CMS_NOSMIMECAP) != nullptr;
    for (const auto& cert : stamper.identity.chain)
        ok = ok && CMS_add1_cert(cms.get(), cert.get()) == 1;
    BioPtr input = memoryOf(content);
    if (!ok || !input || CMS_final(cms.get(), input.get(), nullptr, CMS_BINARY) != 1) {
        error = opensslError("cannot sign the time-stamp");
        return {};
    }
    return toDer(cms.get());
}

bool signPe(std::vector<uint8_t>& image, const Identity& signer, const TimeStamper* stamper,
            std::string& error) {
    platform::PeSignatureLayout layout;
    std::string why;
    if (platform::parsePeSignatureLayout(image, layout, &why) != platform::PeParse::Ok) {
        error = "not a PE image kvsign can sign: " + (why.empty() ? "unknown layout" : why);
        return false;
    }
    if (layout.certDirectoryOffset == 0) {
        error = "the PE image has no certificate directory entry";
        return false;
    }
    // Re-signing replaces the old table, as Windows' signing tool does.
    if (layout.certTableOffset)
        image.resize(layout.certTableOffset);
    std::fill_n(image.begin() + static_cast<ptrdiff_t>(layout.certDirectoryOffset), 8, 0);
    // The table starts on an 8-byte boundary; the padding is part of the hashed image.
    image.resize((image.size() + 7) & ~size_t{7}, 0);
    if (platform::parsePeSignatureLayout(image, layout, &why) != platform::PeParse::Ok) {
        error = "the PE image became inconsistent: " + why;
        return false;
    }
    const std::vector<uint8_t> digest =
        platform::authenticodeDigest(image, layout, platform::DigestAlgorithm::Sha256);
    const std::vector<uint8_t> indirect = indirectDataContent(digest);
    // The outer tag and length are not signed: the message digest covers the value only.
    const size_t headerSize = indirect[1] & 0x80 ? 2 + (indirect[1] & 0x7F) : 2;
    const std::span<const uint8_t> signedValue(indirect.data() + headerSize,
                                               indirect.size() - headerSize);

    Pkcs7Ptr p7(PKCS7_new());
    PKCS7_SIGNER_INFO* info = nullptr;
    bool ok = p7 && PKCS7_set_type(p7.get(), NID_pkcs7_signed) == 1 &&
              (info = PKCS7_add_signature(p7.get(), signer.cert.get(), signer.key.get(),
                                          EVP_sha256())) != nullptr;
    ObjectPtr contentType = oid(kOidSpcIndirectData);
    ok = ok && contentType &&
         PKCS7_add_signed_attribute(info, NID_pkcs9_contentType, V_ASN1_OBJECT,
                                    contentType.get()) == 1;
    if (ok)
        contentType.release();  // now owned by the attribute
    ok = ok && addSequenceAttribute(&info->auth_attr, kOidSpcSpOpusInfo, kEmptyOpusInfo) &&
         addSequenceAttribute(&info->auth_attr, kOidSpcStatementType, kIndividualStatement) &&
         PKCS7_add_certificate(p7.get(), signer.cert.get()) == 1;
    for (const auto& cert : signer.chain)
        ok = ok && PKCS7_add_certificate(p7.get(), cert.get()) == 1;
    ok = ok && PKCS7_content_new(p7.get(), NID_pkcs7_data) == 1;
    if (ok) {
        BioPtr bio(PKCS7_dataInit(p7.get(), nullptr));
        ok = bio &&
             BIO_write(bio.get(), signedValue.data(), static_cast<int>(signedValue.size())) ==
                 static_cast<int>(signedValue.size()) &&
             PKCS7_dataFinal(p7.get(), bio.get()) == 1;
    }
    if (!ok) {
        error = opensslError("cannot sign");
        return false;
    }
    // Swap the placeholder data content for the SpcIndirectDataContent that was signed.
    PKCS7* content = PKCS7_new();
    ASN1_STRING* sequence = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    ok = content && sequence &&
         ASN1_STRING_set(sequence, indirect.data(), static_cast<int>(indirect.size())) == 1 &&
         (content->d.other = ASN1_TYPE_new()) != nullptr;
    if (ok) {
        content->type = OBJ_txt2obj(kOidSpcIndirectData, 1);
        ASN1_TYPE_set(content->d.other, V_ASN1_SEQUENCE, sequence);
        sequence = nullptr;
        ok = content->type && PKCS7_set_content(p7.get(), content) == 1;
        if (ok)
            content = nullptr;
    }
    ASN1_STRING_free(sequence);
    PKCS7_free(content);
    if (ok && stamper) {
        const std::vector<uint8_t> token = makeTimeStampToken(
            {info->enc_digest->data, static_cast<size_t>(info->enc_digest->length)}, *stamper,
            error);
        if (token.empty())
            return false;
        ok = addSequenceAttribute(&info->unauth_attr, kOidRfc3161CounterSign, token);
    }
    const std::vector<uint8_t> blob = ok ? toDer(p7.get()) : std::vector<uint8_t>{};
    if (blob.empty()) {
        error = opensslError("cannot encode the signature");
        return false;
    }

    const uint64_t entrySize = (8 + blob.size() + 7) & ~uint64_t{7};
    if (image.size() + entrySize > std::numeric_limits<uint32_t>::max()) {
        error = "the image is too large for a certificate table";
        return false;
    }
    const uint64_t tableOffset = image.size();
    image.resize(tableOffset + 8, 0);
    putLe32(image, tableOffset, static_cast<uint32_t>(entrySize));
    image[tableOffset + 4] = 0x00;  // revision 2.0
    image[tableOffset + 5] = 0x02;
    image[tableOffset + 6] = 0x02;  // PKCS#7 signed data
    image.insert(image.end(), blob.begin(), blob.end());
    image.resize(tableOffset + entrySize, 0);
    putLe32(image, layout.certDirectoryOffset, static_cast<uint32_t>(tableOffset));
    putLe32(image, layout.certDirectoryOffset + 4, static_cast<uint32_t>(entrySize));
    putLe32(image, layout.checksumOffset, platform::peChecksum(image, layout));
    return true;
}

bool signAppended(std::vector<uint8_t>& file, const Identity& signer, const TimeStamper* stamper,
                  std::string& error) {
    if (const auto contentSize = platform::appendedSignedContentSize(file))
        file.resize(*contentSize);
    if (file.size() > std::numeric_limits<int>::max()) {
        error = "the file is too large to sign";
        return false;
    }
    constexpr unsigned kFlags = CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP;
    CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, kFlags | CMS_PARTIAL));
    CMS_SignerInfo* info = nullptr;
    bool ok = cms && (info = CMS_add1_signer(cms.get(), signer.cert.get(), signer.key.get(),
                                             EVP_sha256(), kFlags)) != nullptr;
    for (const auto& cert : signer.chain)
        ok = ok && CMS_add1_cert(cms.get(), cert.get()) == 1;
    BioPtr input = memoryOf(file);
    ok = ok && input && CMS_final(cms.get(), input.get(), nullptr, kFlags) == 1;
    if (!ok) {
        error = opensslError("cannot sign");
        return false;
    }
    if (stamper) {
        const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(info);
        const std::vector<uint8_t> token = makeTimeStampToken(
            {signature->data, static_cast<size_t>(signature->length)}, *stamper, error);
        const ObjectPtr stampOid = oid(kOidRfc3161CounterSign);
        if (token.empty())
            return false;
        if (CMS_unsigned_add1_attr_by_OBJ(info, stampOid.get(), V_ASN1_SEQUENCE, token.data(),
                                          static_cast<int>(token.size())) != 1) {
            error = opensslError("cannot attach the time-stamp");
            return false;
        }
    }
    const std::vector<uint8_t> blob = toDer(cms.get());
    if (blob.empty() || blob.size() > platform::kMaxSignatureBlobSize) {
        error = opensslError("cannot encode the signature");
        return false;
    }
    const std::vector<uint8_t> trailer =
        platform::appendedSignatureTrailer(static_cast<uint32_t>(blob.size()));
    file.insert(file.end(), blob.begin(), blob.end());
    file.insert(file.end(), trailer.begin(), trailer.end());
    return true;
}

bool signFile(std::vector<uint8_t>& file, Format format, const Identity& signer,
              const TimeStamper* stamper, std::string& error, Format* used) {
    platform::PeSignatureLayout layout;
    const bool isPe = platform::parsePeSignatureLayout(file, layout) != platform::PeParse::NotPe;
    // The verifier reads a PE image's Authenticode signature only; an appended block on one
    // would never be looked at.
    if (format == Format::Appended && isPe) {
        error = "a PE image takes an Authenticode signature, not an appended one";
        return false;
    }
    if (format == Format::Auto)
        format = isPe ? Format::Pe : Format::Appended;
    if (used)
        *used = format;
    return format == Format::Pe ? signPe(file, signer, stamper, error)
                                : signAppended(file, signer, stamper, error);
}

}  // namespace kvsign
