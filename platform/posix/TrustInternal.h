#pragma once
// Shared pieces of the signature check (Trust.cpp, TrustPe.cpp, TrustCms.cpp): the byte
// source a check reads from, OpenSSL handle owners, and the steps both signed forms share.

#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/OpenSslPtr.h"
#include "platform/Trust.h"

namespace platform {

// Read-only random access to the bytes under check: a file read through one descriptor, or
// memory. A source never changes size during a check; a short read is a failure.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    // Exactly out.size() bytes from `offset`; false past the end or on a read error.
    virtual bool read(uint64_t offset, std::span<uint8_t> out) const = 0;
};

class SpanSource final : public ByteSource {
public:
    explicit SpanSource(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    uint64_t size() const override { return m_bytes.size(); }
    bool read(uint64_t offset, std::span<uint8_t> out) const override;

private:
    std::span<const uint8_t> m_bytes;
};

// Reads with pread on a descriptor the caller owns; the size is taken once, by fstat.
class FdSource final : public ByteSource {
public:
    FdSource(int fd, uint64_t size) : m_fd(fd), m_size(size) {}
    uint64_t size() const override { return m_size; }
    bool read(uint64_t offset, std::span<uint8_t> out) const override;

private:
    int m_fd;
    uint64_t m_size;
};

// A stack that owns its certificates, and one that only borrows them.
struct X509StackDeleter {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
struct X509ViewDeleter {
    void operator()(STACK_OF(X509) * s) const { sk_X509_free(s); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackDeleter>;
using X509ViewPtr = std::unique_ptr<STACK_OF(X509), X509ViewDeleter>;

struct TrustAnchors::Impl {
    StorePtr store;
    size_t trusted = 0;
    // SHA-256 of distrusted certificates (DER) and of their public keys.
    std::set<std::vector<uint8_t>> distrustedCerts;
    std::set<std::vector<uint8_t>> distrustedKeys;

    bool isDistrusted(X509* cert) const;
};

// A byte range [begin, end) of a source.
struct ByteRange {
    uint64_t begin = 0;
    uint64_t end = 0;
};

// Digest of the ranges, read in bounded chunks. False on a read error.
bool digestRanges(const ByteSource& source, std::span<const ByteRange> ranges, const EVP_MD* md,
                  std::vector<uint8_t>& out);

// The digest a check compares with the signed one: `precomputed` when it was made by the same
// plan (same file size, algorithm and ranges), else read from `source`. False on a read error.
bool contentDigest(const ByteSource& source, std::span<const ByteRange> ranges, const EVP_MD* md,
                   const PrecomputedDigest* precomputed, std::vector<uint8_t>& out);
// The plan of a check that digests `ranges` of `source` with `md`; nullopt for another digest.
std::optional<SignedDigestPlan> planOf(const ByteSource& source, std::span<const ByteRange> ranges,
                                       const EVP_MD* md);

// The digests a signature may use, by OID; null for any other. SHA-1 only where allowed.
const EVP_MD* digestForOid(const ASN1_OBJECT* oid, bool allowSha1);
const EVP_MD* digestFor(DigestAlgorithm algorithm);

// Fills `result` with a failure; lastError follows the status unless given.
void fail(TrustResult& result, uint32_t status, std::string detail, uint32_t lastError = 0);
inline void malformed(TrustResult& result, std::string detail) {
    fail(result, kTrustNoSignature, std::move(detail), kCryptBadMsg);
}

// Status of the chain from `leaf` through `untrusted` (the blob's certificates, may be null)
// to a trusted root at time `at` (now when empty), with `requiredUsage` (an XKU_* bit) on the
// leaf and not excluded by any chain certificate's extended key usage. 0 when it holds.
uint32_t verifyChain(const TrustAnchors::Impl& anchors, X509* leaf, STACK_OF(X509) * untrusted,
                     std::optional<int64_t> at, uint32_t requiredUsage, int trustId,
                     std::string& detail);

// What a verified signer info leaves for the checks both forms share.
struct SignerEvidence {
    X509* signer = nullptr;                     // not owned
    STACK_OF(X509) * untrusted = nullptr;       // the blob's certificates; not owned
    std::span<const uint8_t> signatureValue;    // what an RFC 3161 stamp covers
    const X509_ATTRIBUTE* timeStamp = nullptr;  // the RFC 3161 unsigned attribute, if any
};

// Time-stamp, chain, usage, distrust and publisher checks; sets `result` (success included).
void checkSigner(const SignerEvidence& evidence, const TrustAnchors::Impl& anchors,
                 const std::string& expectedPublisher, TrustResult& result);

// The RFC 3161 stamp in `attribute`, covering `signatureValue`: its time when it verifies.
std::optional<int64_t> verifyTimeStamp(const X509_ATTRIBUTE* attribute,
                                       std::span<const uint8_t> signatureValue,
                                       const TrustAnchors::Impl& anchors, std::string& detail);

// OID of the RFC 3161 counter-signature attribute (1.3.6.1.4.1.311.3.3.1).
ObjectPtr rfc3161AttributeOid();

PeParse parsePeLayout(const ByteSource& source, PeSignatureLayout& layout, std::string* error);
void verifyAuthenticode(const ByteSource& source, const PeSignatureLayout& layout,
                        const TrustAnchors::Impl& anchors, const std::string& expectedPublisher,
                        const PrecomputedDigest* precomputed, TrustResult& result);
std::optional<SignedDigestPlan> authenticodePlan(const ByteSource& source,
                                                 const PeSignatureLayout& layout);

enum class AppendedParse { None, Ok, Malformed };
struct AppendedLayout {
    uint64_t contentSize = 0;
    uint64_t cmsOffset = 0;
    uint32_t cmsSize = 0;
};
AppendedParse parseAppendedLayout(const ByteSource& source, AppendedLayout& layout,
                                  std::string* error);
void verifyAppended(const ByteSource& source, const TrustAnchors::Impl& anchors,
                    const std::string& expectedPublisher, const PrecomputedDigest* precomputed,
                    TrustResult& result);
std::optional<SignedDigestPlan> appendedPlan(const ByteSource& source);

}  // namespace platform
