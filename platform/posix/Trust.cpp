// Signature check: reading the file, trusted roots and distrust, chain building and the
// checks both signed forms share. The forms themselves are in TrustPe.cpp and TrustCms.cpp.

#include <errno.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "TrustInternal.h"
#include "platform/FileIo.h"

namespace platform {
namespace {

constexpr size_t kChunkSize = 1 << 20;
// A distrust bundle with more entries than this is not a list someone keeps by hand.
constexpr int kMaxDistrustEntries = 100000;

// Owns a descriptor.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

uint32_t openErrorCode(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return kFileNotFound;
        case EACCES:
        case EPERM:
            return kAccessDenied;
        default:
            return kReadFault;
    }
}

std::vector<uint8_t> sha256Of(X509* cert, bool publicKey) {
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    const int ok = publicKey ? X509_pubkey_digest(cert, EVP_sha256(), digest.data(), &size)
                             : X509_digest(cert, EVP_sha256(), digest.data(), &size);
    digest.resize(ok == 1 ? size : 0);
    return digest;
}

void loadDistrusted(const std::filesystem::path& path, TrustAnchors::Impl& impl) {
    BioPtr bio(BIO_new_file(path.c_str(), "r"));
    for (int i = 0; bio && i < kMaxDistrustEntries; ++i) {
        X509Ptr cert(PEM_read_bio_X509_AUX(bio.get(), nullptr, nullptr, nullptr));
        if (!cert)
            break;
        impl.distrustedCerts.insert(sha256Of(cert.get(), false));
        impl.distrustedKeys.insert(sha256Of(cert.get(), true));
    }
    ERR_clear_error();
}

uint32_t mapVerifyError(int error) {
    switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return kCertExpired;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
            return kCertUntrustedRoot;
        case X509_V_ERR_CERT_REJECTED:
            return kTrustExplicitDistrust;
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
            return kTrustCertSignature;
        case X509_V_ERR_INVALID_CA:
        case X509_V_ERR_PATH_LENGTH_EXCEEDED:
            return kTrustBasicConstraints;
        case X509_V_ERR_INVALID_PURPOSE:
            return kCertWrongUsage;
        case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
            return kCertCritical;
        default:  // a missing issuer among them
            return kCertChaining;
    }
}

std::string subjectOf(X509* cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    // RFC 2253, but UTF-8 left as it is so that log readers see the name.
    if (!bio || X509_NAME_print_ex(bio.get(), X509_get_subject_name(cert), 0,
                                   XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return {};
    char* text = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &text);
    return size > 0 ? std::string(text, static_cast<size_t>(size)) : std::string();
}

// The subject's common name when it has exactly one, free of NUL characters.
std::string commonNameOf(X509* cert) {
    const X509_NAME* name = X509_get_subject_name(cert);
    const int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (at < 0 || X509_NAME_get_index_by_NID(name, NID_commonName, at) >= 0)
        return {};
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at));
    unsigned char* utf8 = nullptr;
    const int size = value ? ASN1_STRING_to_UTF8(&utf8, value) : -1;
    std::string text;
    if (size > 0)
        text.assign(reinterpret_cast<const char*>(utf8), static_cast<size_t>(size));
    OPENSSL_free(utf8);
    return text.find('\0') == std::string::npos ? text : std::string();
}

TrustResult verifySource(const ByteSource& source, const std::string& expectedPublisher,
                         const TrustAnchors& anchors,
                         const PrecomputedDigest* precomputed = nullptr) {
    TrustResult result;
    ERR_clear_error();
    PeSignatureLayout layout;
    std::string why;
    switch (parsePeLayout(source, layout, &why)) {
        case PeParse::Ok:
            verifyAuthenticode(source, layout, anchors.impl(), expectedPublisher, precomputed,
                               result);
            break;
        case PeParse::Malformed:
            result.form = SignatureForm::Authenticode;
            malformed(result, why);
            break;
        case PeParse::NotPe:
            verifyAppended(source, anchors.impl(), expectedPublisher, precomputed, result);
            break;
    }
    // Leave nothing in this thread's OpenSSL error queue for the next caller to trip over.
    ERR_clear_error();
    return result;
}

// Opens a regular file for reading without blocking on a FIFO; -1 with `result` set.
int openForCheck(const std::filesystem::path& path, uint64_t& size, TrustResult& result) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        fail(result, kTrustNoSignature,
             "cannot open " + path.string() + ": " + std::strerror(error), openErrorCode(error));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(result, kTrustNoSignature, path.string() + " is not a regular file", kReadFault);
        return -1;
    }
    size = static_cast<uint64_t>(st.st_size);
    return fd;
}

}  // namespace

bool SpanSource::read(uint64_t offset, std::span<uint8_t> out) const {
    if (offset > m_bytes.size() || out.size() > m_bytes.size() - offset)
        return false;
    std::copy_n(m_bytes.begin() + static_cast<ptrdiff_t>(offset), out.size(), out.begin());
    return true;
}

bool FdSource::read(uint64_t offset, std::span<uint8_t> out) const {
    if (offset > m_size || out.size() > m_size - offset)
        return false;
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n =
            ::pread(m_fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;  // an error, or the file shrank under us
        done += static_cast<size_t>(n);
    }
    return true;
}

bool digestRanges(const ByteSource& source, std::span<const ByteRange> ranges, const EVP_MD* md,
                  std::vector<uint8_t>& out) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!md || !ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
        return false;
    std::vector<uint8_t> buffer;
    for (const ByteRange& range : ranges) {
        if (range.begin > range.end || range.end > source.size())
            return false;
        for (uint64_t at = range.begin; at < range.end;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunkSize, range.end - at));
            buffer.resize(n);
            if (!source.read(at, buffer) || EVP_DigestUpdate(ctx.get(), buffer.data(), n) != 1)
                return false;
            at += n;
        }
    }
    out.resize(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(ctx.get(), out.data(), &size) != 1)
        return false;
    out.resize(size);
    return true;
}

bool contentDigest(const ByteSource& source, std::span<const ByteRange> ranges, const EVP_MD* md,
                   const PrecomputedDigest* precomputed, std::vector<uint8_t>& out) {
    if (precomputed) {
        const auto plan = planOf(source, ranges, md);
        if (plan && *plan == precomputed->plan) {
            out = precomputed->value;
            return true;
        }
    }
    return digestRanges(source, ranges, md, out);
}

std::optional<SignedDigestPlan> planOf(const ByteSource& source, std::span<const ByteRange> ranges,
                                       const EVP_MD* md) {
    SignedDigestPlan plan;
    plan.fileSize = source.size();
    bool known = false;
    for (const DigestAlgorithm a : {DigestAlgorithm::Sha1, DigestAlgorithm::Sha256,
                                    DigestAlgorithm::Sha384, DigestAlgorithm::Sha512}) {
        if (md && EVP_MD_get_type(digestFor(a)) == EVP_MD_get_type(md)) {
            plan.algorithm = a;
            known = true;
        }
    }
    if (!known)
        return std::nullopt;
    for (const ByteRange& range : ranges) {
        // What digestRanges refuses has no plan either.
        if (range.begin > range.end || range.end > plan.fileSize)
            return std::nullopt;
        if (range.begin < range.end)
            plan.ranges.emplace_back(range.begin, range.end);
    }
    return plan;
}

const EVP_MD* digestFor(DigestAlgorithm algorithm) {
    switch (algorithm) {
        case DigestAlgorithm::Sha1:
            return EVP_sha1();
        case DigestAlgorithm::Sha256:
            return EVP_sha256();
        case DigestAlgorithm::Sha384:
            return EVP_sha384();
        case DigestAlgorithm::Sha512:
            return EVP_sha512();
    }
    return nullptr;
}

const EVP_MD* digestForOid(const ASN1_OBJECT* oid, bool allowSha1) {
    switch (OBJ_obj2nid(oid)) {
        case NID_sha1:
            return allowSha1 ? EVP_sha1() : nullptr;
        case NID_sha256:
            return EVP_sha256();
        case NID_sha384:
            return EVP_sha384();
        case NID_sha512:
            return EVP_sha512();
        default:
            return nullptr;
    }
}

void fail(TrustResult& result, uint32_t status, std::string detail, uint32_t lastError) {
    result.status = status;
    result.lastError = lastError ? lastError : status;
    result.detail = std::move(detail);
}

bool TrustAnchors::Impl::isDistrusted(X509* cert) const {
    if (distrustedCerts.empty())
        return false;
    return distrustedCerts.count(sha256Of(cert, false)) > 0 ||
           distrustedKeys.count(sha256Of(cert, true)) > 0;
}

TrustAnchors TrustAnchors::fromFiles(const std::vector<std::filesystem::path>& trusted,
                                     const std::vector<std::filesystem::path>& distrusted) {
    auto impl = std::make_shared<Impl>();
    impl->store.reset(X509_STORE_new());
    for (const auto& path : trusted)
        if (impl->store && !path.empty())
            X509_STORE_load_file(impl->store.get(), path.c_str());
    if (impl->store) {
        STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(impl->store.get());
        for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i)
            if (X509_OBJECT_get_type(sk_X509_OBJECT_value(objects, i)) == X509_LU_X509)
                ++impl->trusted;
    }
    for (const auto& path : distrusted)
        if (!path.empty())
            loadDistrusted(path, *impl);
    ERR_clear_error();
    return TrustAnchors(std::move(impl));
}

TrustAnchors TrustAnchors::fromEnvironment() {
    auto fromVariable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::filesystem::path(value ? value : "");
    };
    return fromFiles({kSystemCaFile, fromVariable("KV_CA_BUNDLE")},
                     {fromVariable("KV_DISTRUST_BUNDLE")});
}

size_t TrustAnchors::trustedCount() const {
    return m_impl->trusted;
}
size_t TrustAnchors::distrustedCount() const {
    return m_impl->distrustedCerts.size();
}

uint32_t verifyChain(const TrustAnchors::Impl& anchors, X509* leaf, STACK_OF(X509) * untrusted,
                     std::optional<int64_t> at, uint32_t requiredUsage, int trustId,
                     std::string& detail) {
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!anchors.store || !ctx ||
        X509_STORE_CTX_init(ctx.get(), anchors.store.get(), leaf, untrusted) != 1) {
        detail = "cannot set up chain building";
        return kTrustSystemError;
    }
    // No purpose: OpenSSL's purposes reject code-signing certificates. The trust setting
    // still honours a bundle's TRUSTED CERTIFICATE rejections for this use.
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    X509_VERIFY_PARAM_set_trust(param, trustId);
    if (at)
        X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(*at));
    const int verified = X509_verify_cert(ctx.get());
    const int error = X509_STORE_CTX_get_error(ctx.get());
    const int depth = X509_STORE_CTX_get_error_depth(ctx.get());
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
    ERR_clear_error();

    // Distrust wins over every other finding, including an incomplete chain.
    if (anchors.isDistrusted(leaf)) {
        detail = "the certificate " + subjectOf(leaf) + " or its key is distrusted";
        return kTrustExplicitDistrust;
    }
    for (int i = 0; chain && i < sk_X509_num(chain); ++i) {
        if (anchors.isDistrusted(sk_X509_value(chain, i))) {
            detail = "the certificate " + subjectOf(sk_X509_value(chain, i)) + " is distrusted";
            return kTrustExplicitDistrust;
        }
    }
    if (verified != 1) {
        detail = std::string(X509_verify_cert_error_string(error)) + " (depth " +
                 std::to_string(depth) + ")";
        return mapVerifyError(error);
    }

    // Usage nests as on Windows: the leaf must name the use, a CA that restricts its usage
    // must include it.
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        X509* cert = sk_X509_value(chain, i);
        const bool hasUsage = (X509_get_extension_flags(cert) & EXFLAG_XKUSAGE) != 0;
        const uint32_t allowed = i == 0 ? requiredUsage : requiredUsage | XKU_ANYEKU;
        if ((i == 0 && !hasUsage) || (hasUsage && !(X509_get_extended_key_usage(cert) & allowed))) {
            detail = "the certificate " + subjectOf(cert) + " is not for this use";
            return kCertWrongUsage;
        }
    }
    if ((X509_get_extension_flags(leaf) & EXFLAG_KUSAGE) &&
        !(X509_get_key_usage(leaf) & KU_DIGITAL_SIGNATURE)) {
        detail = "the certificate " + subjectOf(leaf) + " may not sign";
        return kCertWrongUsage;
    }
    return kTrustSuccess;
}

void checkSigner(const SignerEvidence& evidence, const TrustAnchors::Impl& anchors,
                 const std::string& expectedPublisher, TrustResult& result) {
    result.signerSubject = subjectOf(evidence.signer);
    result.signerCommonName = commonNameOf(evidence.signer);

    std::optional<int64_t> at;
    if (evidence.timeStamp) {
        std::string why;
        at = verifyTimeStamp(evidence.timeStamp, evidence.signatureValue, anchors, why);
        if (!at)
            return fail(result, kTrustTimeStamp, why);
        result.timeStampTime = at;
    }
    std::string why;
    const uint32_t status = verifyChain(anchors, evidence.signer, evidence.untrusted, at,
                                        XKU_CODE_SIGN, X509_TRUST_OBJECT_SIGN, why);
    if (status != kTrustSuccess)
        return fail(result, status, why);
    if (!expectedPublisher.empty() && result.signerCommonName != expectedPublisher)
        return fail(result, kTrustSubjectNotTrusted,
                    "signed by \"" + result.signerCommonName + "\", expected \"" +
                        expectedPublisher + "\"");
    result.status = kTrustSuccess;
    result.lastError = kTrustSuccess;
    result.detail = "signed by " + result.signerSubject;
}

TrustResult verifyFileSignature(const std::filesystem::path& path,
                                const std::string& expectedPublisher) {
    return verifyFileSignature(path, expectedPublisher, TrustAnchors::fromEnvironment());
}

TrustResult verifyFileSignature(const std::filesystem::path& path,
                                const std::string& expectedPublisher, const TrustAnchors& anchors) {
    TrustResult result;
    uint64_t size = 0;
    const Fd fd(openForCheck(path, size, result));
    if (fd.get() < 0)
        return result;
    return verifySource(FdSource(fd.get(), size), expectedPublisher, anchors);
}

TrustResult verifySignatureBytes(std::span<const uint8_t> file,
                                 const std::string& expectedPublisher,
                                 const TrustAnchors& anchors) {
    return verifySource(SpanSource(file), expectedPublisher, anchors);
}

TrustResult stripAppendedSignature(const std::filesystem::path& path,
                                   const std::filesystem::path& outPath,
                                   const std::string& expectedPublisher) {
    return stripAppendedSignature(path, outPath, expectedPublisher,
                                  TrustAnchors::fromEnvironment());
}

TrustResult stripAppendedSignature(const std::filesystem::path& path,
                                   const std::filesystem::path& outPath,
                                   const std::string& expectedPublisher,
                                   const TrustAnchors& anchors) {
    TrustResult result;
    uint64_t size = 0;
    const Fd in(openForCheck(path, size, result));
    if (in.get() < 0)
        return result;
    const Fd out(::open(outPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0700));
    if (out.get() < 0) {
        fail(result, kTrustSystemError,
             "cannot create " + outPath.string() + ": " + std::strerror(errno));
        return result;
    }
    auto abandon = [&](std::string why) {
        ::unlink(outPath.c_str());
        fail(result, kTrustSystemError, std::move(why));
        return result;
    };
    ::fchmod(out.get(), 0700);

    std::vector<uint8_t> buffer(kChunkSize);
    for (uint64_t copied = 0; copied < size;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunkSize, size - copied));
        const ssize_t n = ::read(in.get(), buffer.data(), want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return abandon(path.string() + " shrank or failed while being copied");
        if (!writeAll(out.get(), std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n))))
            return abandon("cannot write " + outPath.string() + ": " + std::strerror(errno));
        copied += static_cast<uint64_t>(n);
    }

    // The private copy is what gets checked, so what runs later is what was verified.
    return checkPrivateCopy(out.get(), outPath, expectedPublisher, anchors);
}

std::optional<SignedDigestPlan> signedDigestPlan(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const FdSource source(fd, static_cast<uint64_t>(st.st_size));
    std::optional<SignedDigestPlan> plan;
    PeSignatureLayout layout;
    switch (parsePeLayout(source, layout, nullptr)) {
        case PeParse::Ok:
            plan = authenticodePlan(source, layout);
            break;
        case PeParse::Malformed:
            break;
        case PeParse::NotPe:
            plan = appendedPlan(source);
            break;
    }
    ERR_clear_error();
    return plan;
}

struct SignedContentDigest::State {
    MdCtxPtr ctx;
    bool ok = false;
};

SignedContentDigest::SignedContentDigest(SignedDigestPlan plan)
    : m_plan(std::move(plan)), m_state(std::make_unique<State>()) {
    m_state->ctx.reset(EVP_MD_CTX_new());
    m_state->ok = m_state->ctx &&
                  EVP_DigestInit_ex(m_state->ctx.get(), digestFor(m_plan.algorithm), nullptr) == 1;
    // Bytes arrive in file order, so ranges out of order could not be digested as planned.
    uint64_t previousEnd = 0;
    for (const auto& [from, to] : m_plan.ranges) {
        if (from < previousEnd || from > to || to > m_plan.fileSize)
            m_state->ok = false;
        previousEnd = to;
    }
}

SignedContentDigest::~SignedContentDigest() = default;

bool SignedContentDigest::update(std::span<const uint8_t> bytes) {
    if (!m_state->ok || bytes.size() > m_plan.fileSize - m_offset)
        return m_state->ok = false;
    const uint64_t begin = m_offset;
    const uint64_t end = begin + bytes.size();
    for (const auto& [from, to] : m_plan.ranges) {
        const uint64_t a = std::max(from, begin);
        const uint64_t b = std::min(to, end);
        if (a < b && EVP_DigestUpdate(m_state->ctx.get(), bytes.data() + (a - begin), b - a) != 1)
            return m_state->ok = false;
    }
    m_offset = end;
    return true;
}

std::optional<std::vector<uint8_t>> SignedContentDigest::finish() {
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (!m_state->ok || m_offset != m_plan.fileSize ||
        EVP_DigestFinal_ex(m_state->ctx.get(), digest.data(), &size) != 1)
        return std::nullopt;
    m_state->ok = false;
    digest.resize(size);
    return digest;
}

TrustResult checkPrivateCopy(int copyFd, const std::filesystem::path& copyPath,
                             const std::string& expectedPublisher, const TrustAnchors& anchors,
                             const PrecomputedDigest* digest) {
    TrustResult result;
    struct stat st {};
    if (::fstat(copyFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::unlink(copyPath.c_str());
        fail(result, kTrustSystemError, copyPath.string() + " is not a regular file");
        return result;
    }
    const FdSource copy(copyFd, static_cast<uint64_t>(st.st_size));
    result = verifySource(copy, expectedPublisher, anchors, digest);
    if (!result.ok()) {
        ::unlink(copyPath.c_str());
        return result;
    }
    if (result.form == SignatureForm::Appended) {
        AppendedLayout layout;
        if (parseAppendedLayout(copy, layout, nullptr) != AppendedParse::Ok ||
            ::ftruncate(copyFd, static_cast<off_t>(layout.contentSize)) != 0) {
            ::unlink(copyPath.c_str());
            fail(result, kTrustSystemError,
                 "cannot cut the signature block off " + copyPath.string());
        }
    }
    return result;
}

}  // namespace platform
