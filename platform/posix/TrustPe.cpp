// Authenticode on PE images: header layout, the image digest, the certificate table and the
// PKCS#7 signedData whose content is an SpcIndirectDataContent.

#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cstring>

#include "TrustInternal.h"

namespace platform {
namespace {

constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kLfanewOffset = 0x3C;
constexpr uint64_t kNtHeadersPrefix = 4 + 20;  // "PE\0\0" and the COFF file header
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint64_t kChecksumInOptionalHeader = 64;
constexpr uint32_t kCertificateDirectoryIndex = 4;
constexpr uint16_t kWinCertRevision1 = 0x0100;
constexpr uint16_t kWinCertRevision2 = 0x0200;
constexpr uint16_t kWinCertTypePkcsSignedData = 0x0002;
constexpr uint64_t kWinCertHeaderSize = 8;

constexpr const char* kOidSpcIndirectData = "1.3.6.1.4.1.311.2.1.4";
constexpr const char* kOidSpcPeImageData = "1.3.6.1.4.1.311.2.1.15";

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

ObjectPtr oid(const char* text) {
    return ObjectPtr(OBJ_txt2obj(text, 1));
}

// One definite-length DER element (low tag numbers only) at the front of `in`.
struct Tlv {
    uint8_t tag = 0;
    std::span<const uint8_t> value;
    std::span<const uint8_t> whole;
};

bool readTlv(std::span<const uint8_t>& in, Tlv& out) {
    if (in.size() < 2 || (in[0] & 0x1F) == 0x1F)
        return false;
    size_t pos = 1;
    uint64_t length = in[pos++];
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        if (count == 0 || count > 4 || in.size() - pos < count)
            return false;
        length = 0;
        for (size_t i = 0; i < count; ++i)
            length = (length << 8) | in[pos++];
    }
    if (in.size() - pos < length)
        return false;
    out.tag = in[0];
    out.value = in.subspan(pos, length);
    out.whole = in.subspan(0, pos + length);
    in = in.subspan(pos + length);
    return true;
}

ObjectPtr readOid(std::span<const uint8_t>& in) {
    Tlv tlv;
    if (!readTlv(in, tlv) || tlv.tag != 0x06)
        return nullptr;
    const unsigned char* p = tlv.whole.data();
    return ObjectPtr(d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(tlv.whole.size())));
}

// SpcIndirectDataContent ::= SEQUENCE { data SpcAttributeTypeAndOptionalValue,
//                                       messageDigest DigestInfo }
struct IndirectData {
    std::span<const uint8_t> signedBytes;  // the SEQUENCE's contents: what the signer digested
    ObjectPtr dataType;
    ObjectPtr digestAlgorithm;
    std::span<const uint8_t> digest;
};

bool parseIndirectData(std::span<const uint8_t> der, IndirectData& out, std::string& why) {
    Tlv outer, data, digestInfo, algorithm, digest;
    why = "SpcIndirectDataContent is malformed";
    if (!readTlv(der, outer) || outer.tag != 0x30 || !der.empty())
        return false;
    out.signedBytes = outer.value;
    auto body = outer.value;
    if (!readTlv(body, data) || data.tag != 0x30)
        return false;
    auto dataBody = data.value;
    out.dataType = readOid(dataBody);
    if (!out.dataType)
        return false;
    if (!readTlv(body, digestInfo) || digestInfo.tag != 0x30 || !body.empty())
        return false;
    auto digestBody = digestInfo.value;
    if (!readTlv(digestBody, algorithm) || algorithm.tag != 0x30)
        return false;
    auto algorithmBody = algorithm.value;
    out.digestAlgorithm = readOid(algorithmBody);
    if (!out.digestAlgorithm)
        return false;
    if (!readTlv(digestBody, digest) || digest.tag != 0x04 || !digestBody.empty())
        return false;
    out.digest = digest.value;
    return true;
}

// The first entry of the certificate table: the only one Windows lets decide. Every entry's
// length is checked so that a damaged table reads as malformed, not as a shorter one.
bool primaryCertificate(std::span<const uint8_t> table, std::span<const uint8_t>& blob,
                        std::string& why) {
    size_t pos = 0;
    bool first = true;
    while (table.size() - pos >= kWinCertHeaderSize) {
        const uint32_t length = le32(table.data() + pos);
        if (length < kWinCertHeaderSize || length > table.size() - pos) {
            why = "certificate table entry at " + std::to_string(pos) + " has a bad length";
            return false;
        }
        if (first) {
            const uint16_t revision = le16(table.data() + pos + 4);
            const uint16_t type = le16(table.data() + pos + 6);
            if (revision != kWinCertRevision2 && revision != kWinCertRevision1) {
                why = "unknown certificate table revision";
                return false;
            }
            if (type != kWinCertTypePkcsSignedData) {
                why = "the first certificate table entry is not PKCS#7 signed data";
                return false;
            }
            blob = table.subspan(pos + kWinCertHeaderSize, length - kWinCertHeaderSize);
            first = false;
        }
        // Entries start on 8-byte boundaries; each step advances by at least 8 bytes.
        pos = std::min<uint64_t>(table.size(), pos + ((uint64_t{length} + 7) & ~uint64_t{7}));
    }
    if (first || blob.empty()) {
        why = "the certificate table holds no signature";
        return false;
    }
    return true;
}

// Hashed ranges: the image before `end` without the CheckSum field and the certificate entry.
std::vector<ByteRange> imageRanges(const PeSignatureLayout& layout, uint64_t end) {
    std::vector<ByteRange> ranges;
    ranges.push_back({0, layout.checksumOffset});
    if (layout.certDirectoryOffset == 0) {
        ranges.push_back({layout.checksumOffset + 4, end});
    } else {
        ranges.push_back({layout.checksumOffset + 4, layout.certDirectoryOffset});
        ranges.push_back({layout.certDirectoryOffset + 8, end});
    }
    return ranges;
}

bool errorQueueHas(int library, int reason) {
    // Bounded: the queue holds at most ERR_NUM_ERRORS entries.
    for (int i = 0; i < 64; ++i) {
        const unsigned long code = ERR_get_error();
        if (code == 0)
            return false;
        if (ERR_GET_LIB(code) == library && ERR_GET_REASON(code) == reason) {
            ERR_clear_error();
            return true;
        }
    }
    ERR_clear_error();
    return false;
}

// OpenSSL takes the signature algorithm from the key and ignores the signer info's
// identifier; Windows goes by the identifier, so one that does not fit the key fails here too.
bool signatureAlgorithmFits(const X509_ALGOR* algorithm, X509* signer) {
    const ASN1_OBJECT* object = nullptr;
    if (algorithm)
        X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    const int nid = object ? OBJ_obj2nid(object) : NID_undef;
    int digestNid = NID_undef;
    int keyNid = nid;  // a bare key algorithm (rsaEncryption) names the key type itself
    if (nid == NID_undef)
        return false;
    OBJ_find_sigid_algs(nid, &digestNid, &keyNid);
    const EVP_PKEY* key = X509_get0_pubkey(signer);
    return key && keyNid == EVP_PKEY_get_base_id(key);
}

}  // namespace

PeParse parsePeLayout(const ByteSource& source, PeSignatureLayout& layout, std::string* error) {
    auto result = [&](PeParse value, const std::string& why) {
        if (error)
            *error = why;
        return value;
    };
    layout = {};
    const uint64_t size = source.size();
    uint8_t dos[kDosHeaderSize];
    if (size < kDosHeaderSize || !source.read(0, dos) || dos[0] != 'M' || dos[1] != 'Z')
        return result(PeParse::NotPe, "no DOS header");
    const uint64_t ntOffset = le32(dos + kLfanewOffset);
    uint8_t nt[kNtHeadersPrefix + 2];
    if (ntOffset + sizeof nt > size || !source.read(ntOffset, nt) ||
        std::memcmp(nt, "PE\0\0", 4) != 0)
        return result(PeParse::NotPe, "no PE header");
    const uint16_t magic = le16(nt + kNtHeadersPrefix);
    if (magic != kMagicPe32 && magic != kMagicPe32Plus)
        return result(PeParse::NotPe, "unknown optional header magic");
    layout.pe32Plus = magic == kMagicPe32Plus;

    const uint16_t sectionCount = le16(nt + 4 + 2);
    const uint16_t optionalSize = le16(nt + 4 + 16);
    const uint64_t optionalOffset = ntOffset + kNtHeadersPrefix;
    const uint64_t directoriesAt = layout.pe32Plus ? 112 : 96;
    if (optionalSize < directoriesAt)
        return result(PeParse::Malformed, "optional header too short");
    layout.headersEnd = optionalOffset + optionalSize + sectionCount * kSectionHeaderSize;
    if (layout.headersEnd > size)
        return result(PeParse::Malformed, "headers run past the end");
    std::vector<uint8_t> optional(optionalSize);
    if (!source.read(optionalOffset, optional))
        return result(PeParse::Malformed, "read error");
    layout.checksumOffset = optionalOffset + kChecksumInOptionalHeader;

    const uint32_t directoryCount = le32(optional.data() + directoriesAt - 4);
    const uint64_t entryAt = directoriesAt + kCertificateDirectoryIndex * 8;
    if (directoryCount > kCertificateDirectoryIndex && optionalSize >= entryAt + 8) {
        layout.certDirectoryOffset = optionalOffset + entryAt;
        const uint32_t tableOffset = le32(optional.data() + entryAt);
        const uint32_t tableSize = le32(optional.data() + entryAt + 4);
        if (tableOffset != 0 || tableSize != 0) {
            if (tableOffset == 0 || tableSize == 0)
                return result(PeParse::Malformed, "half-empty certificate directory entry");
            if (uint64_t{tableOffset} + tableSize != size)
                return result(PeParse::Malformed, "the certificate table does not end the file");
            if (tableOffset < layout.headersEnd)
                return result(PeParse::Malformed, "the certificate table overlaps the headers");
            layout.certTableOffset = tableOffset;
            layout.certTableSize = tableSize;
        }
    }

    // Section data past the hashed part would run unsigned.
    const uint64_t hashedEnd = layout.certTableOffset ? layout.certTableOffset : size;
    std::vector<uint8_t> sections(sectionCount * kSectionHeaderSize);
    if (!source.read(optionalOffset + optionalSize, sections))
        return result(PeParse::Malformed, "read error");
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const uint8_t* header = sections.data() + i * kSectionHeaderSize;
        const uint32_t rawSize = le32(header + 16);
        const uint32_t rawOffset = le32(header + 20);
        if (rawSize != 0 && uint64_t{rawOffset} + rawSize > hashedEnd)
            return result(PeParse::Malformed,
                          "section " + std::to_string(i) + " lies beyond the signed part");
    }
    return result(PeParse::Ok, {});
}

PeParse parsePeSignatureLayout(std::span<const uint8_t> image, PeSignatureLayout& layout,
                               std::string* error) {
    return parsePeLayout(SpanSource(image), layout, error);
}

std::vector<uint8_t> authenticodeDigest(std::span<const uint8_t> image,
                                        const PeSignatureLayout& layout,
                                        DigestAlgorithm algorithm) {
    const uint64_t end = layout.certTableOffset ? layout.certTableOffset : image.size();
    std::vector<uint8_t> digest;
    if (end > image.size() || layout.checksumOffset + 4 > end ||
        (layout.certDirectoryOffset && layout.certDirectoryOffset + 8 > end))
        return {};
    const auto ranges = imageRanges(layout, end);
    if (!digestRanges(SpanSource(image), ranges, digestFor(algorithm), digest))
        return {};
    return digest;
}

uint32_t peChecksum(std::span<const uint8_t> image, const PeSignatureLayout& layout) {
    auto byteAt = [&](size_t i) -> uint32_t {
        if (i >= image.size())
            return 0;
        if (i >= layout.checksumOffset && i < layout.checksumOffset + 4)
            return 0;
        return image[i];
    };
    uint64_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 2) {
        sum += byteAt(i) | (byteAt(i + 1) << 8);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum) + static_cast<uint32_t>(image.size());
}

namespace {

// The signature of a PE image, parsed as far as its image digest.
struct AuthenticodeBlob {
    std::vector<uint8_t> table;
    Pkcs7Ptr p7;
    IndirectData indirect;
    const EVP_MD* md = nullptr;
};

bool readAuthenticode(const ByteSource& source, const PeSignatureLayout& layout,
                      AuthenticodeBlob& out, TrustResult& result) {
    result.form = SignatureForm::Authenticode;
    if (layout.certTableOffset == 0)
        return fail(result, kTrustNoSignature, "the PE image has no certificate table"), false;
    if (layout.certTableSize > kMaxSignatureBlobSize)
        return malformed(result, "the certificate table is implausibly large"), false;
    out.table.resize(layout.certTableSize);
    if (!source.read(layout.certTableOffset, out.table))
        return fail(result, kTrustNoSignature, "read error", kReadFault), false;
    std::span<const uint8_t> blob;
    std::string why;
    if (!primaryCertificate(out.table, blob, why))
        return malformed(result, why), false;

    const unsigned char* p = blob.data();
    out.p7.reset(d2i_PKCS7(nullptr, &p, static_cast<long>(blob.size())));
    if (!out.p7)
        return malformed(result, "the signature is not PKCS#7 DER"), false;
    // Padding may follow the blob; anything else there would ride along unsigned.
    const auto rest = blob.subspan(static_cast<size_t>(p - blob.data()));
    if (std::any_of(rest.begin(), rest.end(), [](uint8_t b) { return b != 0; }))
        return malformed(result, "non-zero bytes follow the signature"), false;
    PKCS7* p7 = out.p7.get();
    if (!PKCS7_type_is_signed(p7) || !p7->d.sign || !p7->d.sign->contents)
        return malformed(result, "the signature is not PKCS#7 signed data"), false;

    const ObjectPtr indirectOid = oid(kOidSpcIndirectData);
    const PKCS7* content = p7->d.sign->contents;
    if (!content->type || OBJ_cmp(content->type, indirectOid.get()) != 0 || !content->d.other ||
        content->d.other->type != V_ASN1_SEQUENCE || !content->d.other->value.sequence)
        return malformed(result, "the signed content is not SpcIndirectDataContent"), false;
    const ASN1_STRING* sequence = content->d.other->value.sequence;
    if (!parseIndirectData({sequence->data, static_cast<size_t>(sequence->length)}, out.indirect,
                           why))
        return malformed(result, why), false;
    if (OBJ_cmp(out.indirect.dataType.get(), oid(kOidSpcPeImageData).get()) != 0)
        return malformed(result, "the signed content is not a PE image digest"), false;
    out.md = digestForOid(out.indirect.digestAlgorithm.get(), true);
    if (!out.md)
        return fail(result, kTrustNoSignature, "unsupported image digest algorithm",
                    kCryptUnknownAlgo),
               false;
    if (out.indirect.digest.size() != static_cast<size_t>(EVP_MD_get_size(out.md)))
        return malformed(result, "the image digest has the wrong length"), false;
    return true;
}

}  // namespace

std::optional<SignedDigestPlan> authenticodePlan(const ByteSource& source,
                                                 const PeSignatureLayout& layout) {
    AuthenticodeBlob blob;
    TrustResult ignored;
    if (!readAuthenticode(source, layout, blob, ignored))
        return std::nullopt;
    return planOf(source, imageRanges(layout, layout.certTableOffset), blob.md);
}

void verifyAuthenticode(const ByteSource& source, const PeSignatureLayout& layout,
                        const TrustAnchors::Impl& anchors, const std::string& expectedPublisher,
                        const PrecomputedDigest* precomputed, TrustResult& result) {
    AuthenticodeBlob blob;
    if (!readAuthenticode(source, layout, blob, result))
        return;
    PKCS7* p7 = blob.p7.get();
    const IndirectData& indirect = blob.indirect;
    const EVP_MD* md = blob.md;
    const ObjectPtr indirectOid = oid(kOidSpcIndirectData);

    std::vector<uint8_t> actual;
    const auto ranges = imageRanges(layout, layout.certTableOffset);
    if (!contentDigest(source, ranges, md, precomputed, actual))
        return fail(result, kTrustNoSignature, "read error", kReadFault);
    if (!std::equal(actual.begin(), actual.end(), indirect.digest.begin(), indirect.digest.end()))
        return fail(result, kTrustBadDigest, "the image digest does not match the signed digest");

    STACK_OF(PKCS7_SIGNER_INFO)* signerInfos = PKCS7_get_signer_info(p7);
    if (!signerInfos || sk_PKCS7_SIGNER_INFO_num(signerInfos) != 1)
        return malformed(result, "the signature must have exactly one signer");
    PKCS7_SIGNER_INFO* signerInfo = sk_PKCS7_SIGNER_INFO_value(signerInfos, 0);
    const ASN1_TYPE* contentType = PKCS7_get_signed_attribute(signerInfo, NID_pkcs9_contentType);
    if (!contentType || contentType->type != V_ASN1_OBJECT ||
        OBJ_cmp(contentType->value.object, indirectOid.get()) != 0)
        return malformed(result, "the signed content type is not SpcIndirectDataContent");
    if (!signerInfo->enc_digest)
        return malformed(result, "the signer info has no signature");
    // Authenticode names one digest, the signer's. Checking it here also keeps PKCS7_verify
    // away from its failure path for unknown digests, which leaks in OpenSSL 3.0.
    const STACK_OF(X509_ALGOR)* digests = p7->d.sign->md_algs;
    const X509_ALGOR* signerDigest = signerInfo->digest_alg;
    if (!digests || sk_X509_ALGOR_num(digests) != 1 || !signerDigest || !signerDigest->algorithm ||
        !digestForOid(signerDigest->algorithm, true) ||
        OBJ_cmp(sk_X509_ALGOR_value(digests, 0)->algorithm, signerDigest->algorithm) != 0)
        return malformed(result, "the signature must name one supported digest, the signer's");

    X509ViewPtr signers(PKCS7_get0_signers(p7, nullptr, 0));
    ERR_clear_error();
    if (!signers || sk_X509_num(signers.get()) != 1)
        return fail(result, kTrustNoSignerCert, "the signature does not carry its signer");
    X509* signer = sk_X509_value(signers.get(), 0);
    if (!signatureAlgorithmFits(signerInfo->digest_enc_alg, signer))
        return fail(result, kNteBadSignature,
                    "the signature algorithm does not fit the signer's key");

    // The signed attributes' message digest covers the SpcIndirectDataContent value without
    // its tag and length; OpenSSL's own chain check is skipped (its purposes have no code
    // signing) and done below with the right usage.
    BioPtr signedBytes(BIO_new_mem_buf(indirect.signedBytes.data(),
                                       static_cast<int>(indirect.signedBytes.size())));
    if (!signedBytes)
        return fail(result, kTrustSystemError, "out of memory");
    if (PKCS7_verify(p7, nullptr, nullptr, signedBytes.get(), nullptr,
                     PKCS7_NOVERIFY | PKCS7_BINARY) != 1) {
        if (errorQueueHas(ERR_LIB_PKCS7, PKCS7_R_DIGEST_FAILURE))
            return fail(result, kTrustBadDigest, "the signed attributes do not match the content");
        return fail(result, kNteBadSignature, "the signer's signature does not verify");
    }

    SignerEvidence evidence;
    evidence.signer = signer;
    evidence.untrusted = p7->d.sign->cert;
    evidence.signatureValue = {signerInfo->enc_digest->data,
                               static_cast<size_t>(signerInfo->enc_digest->length)};
    const ObjectPtr stampOid = rfc3161AttributeOid();
    const int stampAt = X509at_get_attr_by_OBJ(signerInfo->unauth_attr, stampOid.get(), -1);
    if (stampAt >= 0)
        evidence.timeStamp = X509at_get_attr(signerInfo->unauth_attr, stampAt);
    checkSigner(evidence, anchors, expectedPublisher, result);
}

}  // namespace platform
