// The appended signature block of non-PE files, and RFC 3161 time-stamps (both forms).

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/ts.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "TrustInternal.h"

namespace platform {
namespace {

constexpr uint8_t kAppendedVersion = 1;
constexpr uint8_t kAppendedTypeCms = 2;  // PKEY_ID_PKCS7 in the kernel's module trailer

using TstInfoPtr = std::unique_ptr<TS_TST_INFO, OsslDeleter<TS_TST_INFO_free>>;

std::optional<int64_t> stampFailure(std::string& detail, std::string why) {
    detail = "time-stamp: " + std::move(why);
    return std::nullopt;
}

}  // namespace

ObjectPtr rfc3161AttributeOid() {
    return ObjectPtr(OBJ_txt2obj("1.3.6.1.4.1.311.3.3.1", 1));
}

std::vector<uint8_t> appendedSignatureTrailer(uint32_t cmsSize) {
    std::vector<uint8_t> trailer = {kAppendedVersion, kAppendedTypeCms, 0, 0, 0, 0, 0, 0};
    for (int shift = 24; shift >= 0; shift -= 8)
        trailer.push_back(static_cast<uint8_t>(cmsSize >> shift));
    trailer.insert(trailer.end(), kAppendedSignatureMagic.begin(), kAppendedSignatureMagic.end());
    return trailer;
}

AppendedParse parseAppendedLayout(const ByteSource& source, AppendedLayout& layout,
                                  std::string* error) {
    auto result = [&](AppendedParse value, const char* why) {
        if (error)
            *error = why;
        return value;
    };
    layout = {};
    const uint64_t size = source.size();
    uint8_t trailer[kAppendedTrailerSize];
    if (size < kAppendedTrailerSize || !source.read(size - kAppendedTrailerSize, trailer))
        return result(AppendedParse::None, "no appended signature block");
    if (std::memcmp(trailer + 12, kAppendedSignatureMagic.data(), kAppendedSignatureMagic.size()))
        return result(AppendedParse::None, "no appended signature block");
    if (trailer[0] != kAppendedVersion || trailer[1] != kAppendedTypeCms ||
        std::any_of(trailer + 2, trailer + 8, [](uint8_t b) { return b != 0; }))
        return result(AppendedParse::Malformed, "unknown signature block format");
    const uint32_t cmsSize = (uint32_t{trailer[8]} << 24) | (uint32_t{trailer[9]} << 16) |
                             (uint32_t{trailer[10]} << 8) | trailer[11];
    if (cmsSize == 0 || cmsSize > kMaxSignatureBlobSize || cmsSize > size - kAppendedTrailerSize)
        return result(AppendedParse::Malformed, "the signature block length is out of range");
    layout.cmsSize = cmsSize;
    layout.cmsOffset = size - kAppendedTrailerSize - cmsSize;
    layout.contentSize = layout.cmsOffset;
    return result(AppendedParse::Ok, "");
}

std::optional<uint64_t> appendedSignedContentSize(std::span<const uint8_t> file) {
    AppendedLayout layout;
    if (parseAppendedLayout(SpanSource(file), layout, nullptr) != AppendedParse::Ok)
        return std::nullopt;
    return layout.contentSize;
}

namespace {

// The appended block, parsed as far as the digest its signer names.
struct AppendedBlob {
    AppendedLayout layout;
    CmsPtr cms;
    CMS_SignerInfo* signerInfo = nullptr;  // owned by cms
    const EVP_MD* md = nullptr;
};

bool readAppended(const ByteSource& source, AppendedBlob& out, TrustResult& result) {
    std::string why;
    const AppendedParse parsed = parseAppendedLayout(source, out.layout, &why);
    if (parsed == AppendedParse::None)
        return fail(result, kTrustNoSignature, why), false;
    result.form = SignatureForm::Appended;
    if (parsed == AppendedParse::Malformed)
        return malformed(result, why), false;

    std::vector<uint8_t> blob(out.layout.cmsSize);
    if (!source.read(out.layout.cmsOffset, blob))
        return fail(result, kTrustNoSignature, "read error", kReadFault), false;
    const unsigned char* p = blob.data();
    out.cms.reset(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(blob.size())));
    if (!out.cms || p != blob.data() + blob.size())
        return malformed(result, "the signature block is not one CMS DER object"), false;
    CMS_ContentInfo* cms = out.cms.get();
    if (OBJ_obj2nid(CMS_get0_type(cms)) != NID_pkcs7_signed ||
        OBJ_obj2nid(CMS_get0_eContentType(cms)) != NID_pkcs7_data || CMS_is_detached(cms) != 1)
        return malformed(result, "the signature block is not a detached signature over data"),
               false;
    STACK_OF(CMS_SignerInfo)* signerInfos = CMS_get0_SignerInfos(cms);
    if (!signerInfos || sk_CMS_SignerInfo_num(signerInfos) != 1)
        return malformed(result, "the signature must have exactly one signer"), false;
    out.signerInfo = sk_CMS_SignerInfo_value(signerInfos, 0);

    X509_ALGOR* digestAlgorithm = nullptr;
    CMS_SignerInfo_get0_algs(out.signerInfo, nullptr, nullptr, &digestAlgorithm, nullptr);
    const ASN1_OBJECT* digestOid = nullptr;
    if (digestAlgorithm)
        X509_ALGOR_get0(&digestOid, nullptr, nullptr, digestAlgorithm);
    out.md = digestOid ? digestForOid(digestOid, false) : nullptr;
    return true;
}

}  // namespace

std::optional<SignedDigestPlan> appendedPlan(const ByteSource& source) {
    AppendedBlob blob;
    TrustResult ignored;
    if (!readAppended(source, blob, ignored) || !blob.md)
        return std::nullopt;
    const ByteRange content{0, blob.layout.contentSize};
    return planOf(source, {&content, 1}, blob.md);
}

void verifyAppended(const ByteSource& source, const TrustAnchors::Impl& anchors,
                    const std::string& expectedPublisher, const PrecomputedDigest* precomputed,
                    TrustResult& result) {
    AppendedBlob blob;
    if (!readAppended(source, blob, result))
        return;
    CMS_ContentInfo* cms = blob.cms.get();
    CMS_SignerInfo* signerInfo = blob.signerInfo;
    const AppendedLayout& layout = blob.layout;

    X509StackPtr certs(CMS_get1_certs(cms));
    X509* signer = nullptr;
    for (int i = 0; certs && i < sk_X509_num(certs.get()) && !signer; ++i)
        if (CMS_SignerInfo_cert_cmp(signerInfo, sk_X509_value(certs.get(), i)) == 0)
            signer = sk_X509_value(certs.get(), i);
    if (!signer)
        return fail(result, kTrustNoSignerCert, "the signature does not carry its signer");

    const EVP_MD* md = blob.md;
    if (!md)
        return fail(result, kTrustNoSignature, "unsupported digest algorithm", kCryptUnknownAlgo);

    // Without signed attributes the signature would cover the content directly; the block
    // format always has them, so their absence means someone else built it.
    if (CMS_signed_get_attr_count(signerInfo) <= 0)
        return malformed(result, "the signer info has no signed attributes");
    const auto* contentType = static_cast<const ASN1_OBJECT*>(CMS_signed_get0_data_by_OBJ(
        signerInfo, OBJ_nid2obj(NID_pkcs9_contentType), -3, V_ASN1_OBJECT));
    const auto* messageDigest = static_cast<const ASN1_OCTET_STRING*>(CMS_signed_get0_data_by_OBJ(
        signerInfo, OBJ_nid2obj(NID_pkcs9_messageDigest), -3, V_ASN1_OCTET_STRING));
    if (!contentType || OBJ_obj2nid(contentType) != NID_pkcs7_data || !messageDigest)
        return malformed(result, "content type or message digest attribute missing");

    std::vector<uint8_t> actual;
    const ByteRange content{0, layout.contentSize};
    if (!contentDigest(source, {&content, 1}, md, precomputed, actual))
        return fail(result, kTrustNoSignature, "read error", kReadFault);
    if (!std::equal(actual.begin(), actual.end(), messageDigest->data,
                    messageDigest->data + messageDigest->length))
        return fail(result, kTrustBadDigest, "the content does not match the signed digest");

    CMS_SignerInfo_set1_signer_cert(signerInfo, signer);
    if (CMS_SignerInfo_verify(signerInfo) != 1) {
        ERR_clear_error();
        return fail(result, kNteBadSignature, "the signer's signature does not verify");
    }

    const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(signerInfo);
    SignerEvidence evidence;
    evidence.signer = signer;
    evidence.untrusted = certs.get();
    evidence.signatureValue = {signature->data, static_cast<size_t>(signature->length)};
    const ObjectPtr stampOid = rfc3161AttributeOid();
    const int stampAt = CMS_unsigned_get_attr_by_OBJ(signerInfo, stampOid.get(), -1);
    if (stampAt >= 0)
        evidence.timeStamp = CMS_unsigned_get_attr(signerInfo, stampAt);
    checkSigner(evidence, anchors, expectedPublisher, result);
}

std::optional<int64_t> verifyTimeStamp(const X509_ATTRIBUTE* attribute,
                                       std::span<const uint8_t> signatureValue,
                                       const TrustAnchors::Impl& anchors, std::string& detail) {
    if (X509_ATTRIBUTE_count(attribute) != 1)
        return stampFailure(detail, "the attribute must hold one token");
    const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(const_cast<X509_ATTRIBUTE*>(attribute), 0);
    if (!value || value->type != V_ASN1_SEQUENCE || !value->value.sequence)
        return stampFailure(detail, "the token is not a SEQUENCE");
    const ASN1_STRING* token = value->value.sequence;
    const unsigned char* p = token->data;
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, token->length));
    if (!cms || p != token->data + token->length)
        return stampFailure(detail, "the token is not CMS DER");
    if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed ||
        OBJ_obj2nid(CMS_get0_eContentType(cms.get())) != NID_id_smime_ct_TSTInfo)
        return stampFailure(detail, "the token is not a signed TSTInfo");
    STACK_OF(CMS_SignerInfo)* signerInfos = CMS_get0_SignerInfos(cms.get());
    if (!signerInfos || sk_CMS_SignerInfo_num(signerInfos) != 1)
        return stampFailure(detail, "the token must have exactly one signer");

    // Signature only here; the stamping authority's chain is checked below at the stamp's time
    // with the time-stamping usage.
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out || CMS_verify(cms.get(), nullptr, nullptr, nullptr, out.get(),
                           CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) != 1) {
        ERR_clear_error();
        return stampFailure(detail, "the token's signature does not verify");
    }
    X509ViewPtr signers(CMS_get0_signers(cms.get()));
    if (!signers || sk_X509_num(signers.get()) != 1)
        return stampFailure(detail, "the token does not carry its signer");

    char* info = nullptr;
    const long infoSize = BIO_get_mem_data(out.get(), &info);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(info);
    TstInfoPtr tst(infoSize > 0 ? d2i_TS_TST_INFO(nullptr, &q, infoSize) : nullptr);
    if (!tst || q != reinterpret_cast<const unsigned char*>(info) + infoSize ||
        TS_TST_INFO_get_version(tst.get()) != 1)
        return stampFailure(detail, "TSTInfo is malformed");

    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(tst.get());
    const ASN1_OBJECT* imprintOid = nullptr;
    X509_ALGOR_get0(&imprintOid, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
    const EVP_MD* md = imprintOid ? digestForOid(imprintOid, true) : nullptr;
    const ASN1_OCTET_STRING* stamped = TS_MSG_IMPRINT_get_msg(imprint);
    if (!md || !stamped)
        return stampFailure(detail, "unsupported imprint algorithm");
    std::vector<uint8_t> expected;
    const ByteRange all{0, signatureValue.size()};
    if (!digestRanges(SpanSource(signatureValue), {&all, 1}, md, expected) ||
        !std::equal(expected.begin(), expected.end(), stamped->data,
                    stamped->data + stamped->length))
        return stampFailure(detail, "it covers another signature");

    struct tm when {};
    const ASN1_GENERALIZEDTIME* genTime = TS_TST_INFO_get_time(tst.get());
    if (!genTime || ASN1_TIME_to_tm(genTime, &when) != 1)
        return stampFailure(detail, "bad time");
    const int64_t at = timegm(&when);

    X509StackPtr certs(CMS_get1_certs(cms.get()));
    std::string why;
    if (verifyChain(anchors, sk_X509_value(signers.get(), 0), certs.get(), at, XKU_TIMESTAMP,
                    X509_TRUST_TSA, why) != kTrustSuccess)
        return stampFailure(detail, "its signer: " + why);
    return at;
}

}  // namespace platform
