#pragma once
// Signature check of a downloaded file, in place of WinVerifyTrust with the generic verify
// action, no revocation checks and no user interface. Two signed forms:
//
//   PE images (MZ/PE headers): Authenticode. The first entry of the certificate table (which
//     must end the file) holds a PKCS#7 signedData whose content is an SpcIndirectDataContent
//     carrying the image digest (SHA-1, SHA-256, SHA-384 or SHA-512).
//   Any other file (ELF programs, scripts): an appended signature block, after the manner of
//     signed kernel modules:
//       content | DER CMS signedData, detached, over the content | trailer (36 bytes):
//       u8 format version (1) | u8 signature type (2 = CMS) | 6 zero bytes |
//       u32 big-endian CMS length | "~KV signature appended~\n"
//
// The signer's chain must end at a trusted root, with the code-signing extended key usage on
// the signer. Trusted roots: the system CA file (read from its fixed path, never through
// OpenSSL's default locations, which environment variables can redirect) plus the PEM bundle
// named by KV_CA_BUNDLE. Certificates in the PEM bundle named by KV_DISTRUST_BUNDLE, and any
// certificate carrying one of their public keys, are explicitly distrusted; so is a root that
// a bundle lists as a TRUSTED CERTIFICATE rejecting code signing. A valid RFC 3161 time-stamp
// (unsigned attribute 1.3.6.1.4.1.311.3.3.1) makes the chain be checked at the stamp's time;
// an invalid one fails the check.
//
// Results use the Windows HRESULT values so that callers can keep the message table written
// for WinVerifyTrust. Only status 0 is success.
//
// Threads: any thread may call these; nothing is cached between calls except what a
// TrustAnchors object holds. The environment is read on each call of the functions that take
// no anchors, so it must not race a setenv on another thread. Nothing here throws or logs:
// the reason travels in TrustResult::detail.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Status values (Windows names in the comments).
inline constexpr uint32_t kTrustSuccess = 0;                      // ERROR_SUCCESS
inline constexpr uint32_t kTrustNoSignature = 0x800B0100;         // TRUST_E_NOSIGNATURE
inline constexpr uint32_t kTrustSubjectFormUnknown = 0x800B0003;  // TRUST_E_SUBJECT_FORM_UNKNOWN
inline constexpr uint32_t kTrustProviderUnknown = 0x800B0001;     // TRUST_E_PROVIDER_UNKNOWN
inline constexpr uint32_t kTrustExplicitDistrust = 0x800B0111;    // TRUST_E_EXPLICIT_DISTRUST
inline constexpr uint32_t kTrustSubjectNotTrusted = 0x800B0004;   // TRUST_E_SUBJECT_NOT_TRUSTED
inline constexpr uint32_t kCryptSecuritySettings = 0x80092026;    // CRYPT_E_SECURITY_SETTINGS
inline constexpr uint32_t kTrustBadDigest = 0x80096010;           // TRUST_E_BAD_DIGEST
inline constexpr uint32_t kTrustNoSignerCert = 0x80096002;        // TRUST_E_NO_SIGNER_CERT
inline constexpr uint32_t kTrustCertSignature = 0x80096004;       // TRUST_E_CERT_SIGNATURE
inline constexpr uint32_t kTrustTimeStamp = 0x80096005;           // TRUST_E_TIME_STAMP
inline constexpr uint32_t kTrustBasicConstraints = 0x80096019;    // TRUST_E_BASIC_CONSTRAINTS
inline constexpr uint32_t kTrustSystemError = 0x80096001;         // TRUST_E_SYSTEM_ERROR
inline constexpr uint32_t kCertExpired = 0x800B0101;              // CERT_E_EXPIRED
inline constexpr uint32_t kCertCritical = 0x800B0105;             // CERT_E_CRITICAL
inline constexpr uint32_t kCertUntrustedRoot = 0x800B0109;        // CERT_E_UNTRUSTEDROOT
inline constexpr uint32_t kCertChaining = 0x800B010A;             // CERT_E_CHAINING
inline constexpr uint32_t kCertWrongUsage = 0x800B0110;           // CERT_E_WRONG_USAGE
inline constexpr uint32_t kCryptBadMsg = 0x8009200D;              // CRYPT_E_BAD_MSG
inline constexpr uint32_t kCryptUnknownAlgo = 0x8009200E;         // CRYPT_E_UNKNOWN_ALGO
inline constexpr uint32_t kNteBadSignature = 0x80090006;          // NTE_BAD_SIGNATURE
// HRESULT_FROM_WIN32 of the file errors a check can meet before any signature is read.
inline constexpr uint32_t kFileNotFound = 0x80070002;  // ERROR_FILE_NOT_FOUND
inline constexpr uint32_t kAccessDenied = 0x80070005;  // ERROR_ACCESS_DENIED
inline constexpr uint32_t kReadFault = 0x8007001E;     // ERROR_READ_FAULT

// How the statuses arise:
//   0                        signature, digest, chain, usage (and publisher, when asked) hold
//   kTrustNoSignature        lastError kTrustNoSignature: the file carries no signature;
//                            lastError kCryptBadMsg: a signature is there but its container or
//                            blob is malformed (also a certificate table that does not end the
//                            file, or non-zero bytes after the blob); lastError
//                            kCryptUnknownAlgo: the content digest algorithm is not supported;
//                            lastError kFileNotFound / kAccessDenied / kReadFault: the file
//                            could not be read
//   kTrustBadDigest          the content differs from the signed digest
//   kNteBadSignature         the signer's signature over the signed attributes is wrong, or
//                            names an algorithm that does not fit the signer's key
//   kTrustNoSignerCert       the blob does not carry the signer's certificate
//   kTrustTimeStamp          a time-stamp is present but does not verify
//   kCertUntrustedRoot       the chain ends at a self-signed root outside the trusted roots
//   kCertChaining            an issuer is missing from the blob and the trusted roots
//   kCertExpired             a chain certificate is outside its validity at the check time
//   kCertWrongUsage          the signer lacks code signing (time-stamping for a stamp's
//                            signer), or a chain certificate's usage excludes it
//   kTrustExplicitDistrust   a chain certificate or key is distrusted
//   kTrustSubjectNotTrusted  the signer's common name differs from the expected publisher
//   others (kTrustCertSignature, kTrustBasicConstraints, kCertCritical) from chain building
// lastError equals status except for kTrustNoSignature (above) and success (0).

enum class SignatureForm { None, Authenticode, Appended };

struct TrustResult {
    uint32_t status = kTrustNoSignature;
    uint32_t lastError = kTrustNoSignature;  // what GetLastError would give after the check
    SignatureForm form = SignatureForm::None;
    std::string signerSubject;     // RFC 2253 subject of the signing certificate, when found
    std::string signerCommonName;  // its common name (UTF-8), when it has exactly one
    std::optional<int64_t> timeStampTime;  // Unix seconds of a verified RFC 3161 stamp
    std::string detail;                    // the reason, for logs ("image digest mismatch", ...)

    bool ok() const { return status == kTrustSuccess; }
};

// Trusted roots and distrusted certificates, loaded once and shared by any number of checks
// on any threads (read-only after construction). Copies share the same loaded store.
class TrustAnchors {
public:
    // The system CA file, the bundle in KV_CA_BUNDLE and the distrust bundle in
    // KV_DISTRUST_BUNDLE (each when set). Unreadable files contribute nothing.
    static TrustAnchors fromEnvironment();
    // Exactly these PEM files (CERTIFICATE or TRUSTED CERTIFICATE entries).
    static TrustAnchors fromFiles(const std::vector<std::filesystem::path>& trusted,
                                  const std::vector<std::filesystem::path>& distrusted);

    size_t trustedCount() const;
    size_t distrustedCount() const;

    struct Impl;
    const Impl& impl() const { return *m_impl; }

private:
    explicit TrustAnchors(std::shared_ptr<const Impl> impl) : m_impl(std::move(impl)) {}
    std::shared_ptr<const Impl> m_impl;
};

inline constexpr const char* kSystemCaFile = "/etc/ssl/certs/ca-certificates.crt";

// Checks the file at `path`, read once through one descriptor in bounded chunks (a setup
// program may be larger than memory should hold). When `expectedPublisher` is not empty the
// signer's common name must equal it exactly.
TrustResult verifyFileSignature(const std::filesystem::path& path,
                                const std::string& expectedPublisher = {});
TrustResult verifyFileSignature(const std::filesystem::path& path,
                                const std::string& expectedPublisher, const TrustAnchors& anchors);

// The same check on bytes in memory.
TrustResult verifySignatureBytes(std::span<const uint8_t> file,
                                 const std::string& expectedPublisher, const TrustAnchors& anchors);

// Copies `path` to `outPath` (created new, mode 0700), checks the copy and, for the appended
// form, cuts the signature block off it, so that what runs is exactly what was verified even
// if `path` changes meanwhile. A verified PE image is kept whole. On any failure `outPath` is
// not left behind and the result says why (kTrustSystemError when the copy cannot be
// written).
TrustResult stripAppendedSignature(const std::filesystem::path& path,
                                   const std::filesystem::path& outPath,
                                   const std::string& expectedPublisher = {});
TrustResult stripAppendedSignature(const std::filesystem::path& path,
                                   const std::filesystem::path& outPath,
                                   const std::string& expectedPublisher,
                                   const TrustAnchors& anchors);

enum class DigestAlgorithm { Sha1, Sha256, Sha384, Sha512 };

// --- The content digest computed by whoever reads the file anyway ---
// A caller that streams a file for other reasons (a copy, another digest) can compute the
// check's content digest in the same pass and hand it in, so the check does not read the
// content a second time.

// The bytes a check of one file digests and the algorithm its signature names: the Authenticode
// image ranges, or the content before an appended block.
struct SignedDigestPlan {
    uint64_t fileSize = 0;
    DigestAlgorithm algorithm = DigestAlgorithm::Sha256;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;  // [begin, end), ascending, disjoint

    bool operator==(const SignedDigestPlan&) const = default;
};

// The plan for the regular file open on `fd`, read with pread (the file offset stays); nullopt
// when a check would digest nothing: no signature, a malformed one, an unknown algorithm.
std::optional<SignedDigestPlan> signedDigestPlan(int fd);

// A plan's digest, fed with the whole file's bytes in order from offset 0; bytes outside the
// ranges are skipped.
class SignedContentDigest {
public:
    explicit SignedContentDigest(SignedDigestPlan plan);
    ~SignedContentDigest();
    SignedContentDigest(const SignedContentDigest&) = delete;
    SignedContentDigest& operator=(const SignedContentDigest&) = delete;

    // False once the digest has failed or more than fileSize bytes were given.
    bool update(std::span<const uint8_t> bytes);
    // The digest when exactly fileSize bytes were given; nullopt otherwise.
    std::optional<std::vector<uint8_t>> finish();
    const SignedDigestPlan& plan() const { return m_plan; }

private:
    struct State;
    SignedDigestPlan m_plan;
    uint64_t m_offset = 0;
    std::unique_ptr<State> m_state;
};

// A digest the caller vouches was computed by `plan` over exactly the bytes the check reads.
struct PrecomputedDigest {
    SignedDigestPlan plan;
    std::vector<uint8_t> value;
};

// The second half of stripAppendedSignature for a private copy the caller wrote itself (at
// `copyPath`, open read-write on `copyFd`, never changed by anyone else): checks it, cuts an
// appended block off, and removes it on any failure. When the check's own plan equals
// `digest->plan` it compares `digest->value` instead of reading the content again.
TrustResult checkPrivateCopy(int copyFd, const std::filesystem::path& copyPath,
                             const std::string& expectedPublisher, const TrustAnchors& anchors,
                             const PrecomputedDigest* digest = nullptr);

// --- Building blocks, shared with the signing tool. All pure. ---

// Where Authenticode looks in a PE image.
struct PeSignatureLayout {
    bool pe32Plus = false;
    uint64_t checksumOffset = 0;       // the optional header's 4-byte CheckSum
    uint64_t certDirectoryOffset = 0;  // the 8-byte certificate-table directory entry
    uint64_t certTableOffset = 0;      // a FILE offset (not an RVA); 0 when unsigned
    uint64_t certTableSize = 0;        // the table ends the file when present
    uint64_t headersEnd = 0;           // end of the section table
};

enum class PeParse {
    NotPe,  // no MZ/PE headers with a known optional-header magic: not a PE image
    Ok,
    Malformed,  // a PE image whose certificate directory or sections are inconsistent
};

// Parses the headers of `image`. `error` (optional) receives the reason when not Ok. A PE
// without a certificate-table directory entry (NumberOfRvaAndSizes <= 4, or an optional
// header too short to hold it) parses Ok with certDirectoryOffset 0: it cannot be signed.
PeParse parsePeSignatureLayout(std::span<const uint8_t> image, PeSignatureLayout& layout,
                               std::string* error = nullptr);

// The Authenticode image digest: every byte before the certificate table (or the end of an
// unsigned image) except the CheckSum field and the certificate-table entry; so it includes
// data appended after the last section.
std::vector<uint8_t> authenticodeDigest(std::span<const uint8_t> image,
                                        const PeSignatureLayout& layout, DigestAlgorithm algorithm);

// The PE checksum (16-bit one's-complement word sum with the CheckSum field read as zero, plus
// the file length), as the Windows loader checks it for drivers.
uint32_t peChecksum(std::span<const uint8_t> image, const PeSignatureLayout& layout);

inline constexpr std::string_view kAppendedSignatureMagic = "~KV signature appended~\n";
inline constexpr size_t kAppendedTrailerSize = 12 + kAppendedSignatureMagic.size();
// Larger signature blobs are refused rather than read (real ones are a few kilobytes).
inline constexpr uint64_t kMaxSignatureBlobSize = 16u << 20;

// The trailer that follows a CMS blob of `cmsSize` bytes.
std::vector<uint8_t> appendedSignatureTrailer(uint32_t cmsSize);

// Size of the content before a well-formed appended block (trailer and bounds check only; no
// cryptography); nullopt when `file` carries none.
std::optional<uint64_t> appendedSignedContentSize(std::span<const uint8_t> file);

}  // namespace platform
