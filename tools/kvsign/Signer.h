#pragma once
// Signing for kvsign and the tests: Authenticode for PE images, the appended CMS block for
// any other file (both formats are described in platform/Trust.h), and RFC 3161 time-stamp
// tokens from a local stamping key (no network is ever used).
//
// Objects own their OpenSSL handles; a loaded Identity may be used from one thread at a time.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kvsign {

struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
using CertPtr = std::unique_ptr<X509, X509Deleter>;

// A signing key, its certificate and the certificates to ship with it (intermediates, or a
// root when the verifier should see it).
struct Identity {
    PkeyPtr key;
    CertPtr cert;
    std::vector<CertPtr> chain;
};

// Loads PEM files: an unencrypted private key, its certificate, optionally a chain bundle.
// Fails when the key does not belong to the certificate.
std::optional<Identity> loadIdentity(const std::filesystem::path& keyPem,
                                     const std::filesystem::path& certPem,
                                     const std::filesystem::path& chainPem, std::string& error);

struct TimeStamper {
    Identity identity;            // certificate with the time-stamping extended key usage
    std::optional<int64_t> time;  // Unix seconds to stamp; now when empty
};

enum class Format { Auto, Pe, Appended };

// Signs `file` in place. Auto picks PE when the bytes parse as a PE image; Appended is
// refused for one. An existing signature of the same form is replaced. `used` (optional) receives
// the form chosen.
bool signFile(std::vector<uint8_t>& file, Format format, const Identity& signer,
              const TimeStamper* stamper, std::string& error, Format* used = nullptr);

// Authenticode: pads the image to 8 bytes, hashes it (SHA-256), appends a certificate table
// holding PKCS#7 signedData over an SpcIndirectDataContent, points the directory entry at it
// and updates the PE checksum.
bool signPe(std::vector<uint8_t>& image, const Identity& signer, const TimeStamper* stamper,
            std::string& error);

// Appended form: content, detached CMS (SHA-256) over it, trailer.
bool signAppended(std::vector<uint8_t>& file, const Identity& signer, const TimeStamper* stamper,
                  std::string& error);

// An RFC 3161 TimeStampToken (CMS signedData over a TSTInfo) whose SHA-256 imprint covers
// `stamped` (a signer's signature value). Empty with `error` set on failure.
std::vector<uint8_t> makeTimeStampToken(std::span<const uint8_t> stamped,
                                        const TimeStamper& stamper, std::string& error);

}  // namespace kvsign
