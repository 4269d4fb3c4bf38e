#include "Certificates.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace vsim {
namespace {

constexpr long kValidFromSeconds = -3600;  // tolerate a client clock a little behind
constexpr long kValidForSeconds = 30L * 24 * 3600;

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct BnFree {
    void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

std::string opensslError(const std::string& what) {
    unsigned long code = ERR_get_error();
    char text[256] = "no detail";
    if (code != 0)
        ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return what + " failed: " + text;
}

bool addExtension(X509* cert, X509* issuer, int nid, const std::string& value, std::string& error) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext) {
        error = opensslError(std::string("extension ") + OBJ_nid2sn(nid) + "=" + value);
        return false;
    }
    bool added = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    if (!added)
        error = opensslError("adding an extension");
    return added;
}

// A certificate for `key`, named `commonName`, not yet signed. `issuer` null = self-issued.
Cert newCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer,
                    std::string& error) {
    Cert cert(X509_new());
    if (!cert) {
        error = opensslError("X509_new");
        return nullptr;
    }
    // A random 127-bit serial: every start makes a CA that no earlier one can be mistaken for.
    std::unique_ptr<BIGNUM, BnFree> serial(BN_new());
    if (!serial || !BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) ||
        !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get()))) {
        error = opensslError("serial number");
        return nullptr;
    }
    X509_NAME* name = X509_get_subject_name(cert.get());
    auto addName = [&](const char* field, const std::string& value) {
        return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                          reinterpret_cast<const unsigned char*>(value.c_str()), -1,
                                          -1, 0) == 1;
    };
    if (X509_set_version(cert.get(), X509_VERSION_3) != 1 ||
        !X509_gmtime_adj(X509_getm_notBefore(cert.get()), kValidFromSeconds) ||
        !X509_gmtime_adj(X509_getm_notAfter(cert.get()), kValidForSeconds) ||
        X509_set_pubkey(cert.get(), key) != 1 || !addName("O", "Kestrova vendor-sim") ||
        !addName("CN", commonName) ||
        X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name) != 1) {
        error = opensslError("certificate fields");
        return nullptr;
    }
    return cert;
}

std::string toPem(X509* cert, EVP_PKEY* key) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio)
        return {};
    bool ok =
        cert ? PEM_write_bio_X509(bio.get(), cert) == 1
             : PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (!ok)
        return {};
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

// Replaces `file` with `text`, created with `mode` and forced to it if it existed.
bool writeFileWithMode(const std::filesystem::path& file, const std::string& text, mode_t mode,
                       std::string& error) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0 || ::fchmod(fd, mode) != 0) {
        error = "cannot write " + file.string() + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "cannot write " + file.string() + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        error = "cannot write " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> certificateNames(const std::vector<std::string>& hosts) {
    std::vector<std::string> names = hosts;
    for (const char* fixed : {"*.kestrova.example", "*.kestrova-cn.example", "localhost"})
        names.emplace_back(fixed);
    std::vector<std::string> unique;
    for (const auto& name : names) {
        bool seen = false;
        for (const auto& kept : unique)
            seen = seen || kept == name;
        if (!seen)
            unique.push_back(name);
    }
    return unique;
}

bool makeCertificates(const std::filesystem::path& folder, const std::vector<std::string>& dnsNames,
                      CertificateFiles& files, std::string& error) {
    Key caKey(EVP_EC_gen("P-256"));
    Key serverKey(EVP_EC_gen("P-256"));
    if (!caKey || !serverKey) {
        error = opensslError("EC P-256 key generation");
        return false;
    }

    Cert ca = newCertificate(caKey.get(), "Kestrova vendor-sim test CA", nullptr, error);
    if (!ca ||
        !addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE", error) ||
        !addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign", error) ||
        !addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash", error))
        return false;
    if (X509_sign(ca.get(), caKey.get(), EVP_sha256()) <= 0) {
        error = opensslError("signing the CA");
        return false;
    }

    std::string altNames;
    for (const auto& name : dnsNames)
        altNames += "DNS:" + name + ",";
    altNames += "IP:127.0.0.1";
    Cert server = newCertificate(serverKey.get(), "vendor-sim", ca.get(), error);
    if (!server ||
        !addExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE", error) ||
        !addExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature", error) ||
        !addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth", error) ||
        !addExtension(server.get(), ca.get(), NID_subject_alt_name, altNames, error) ||
        !addExtension(server.get(), ca.get(), NID_subject_key_identifier, "hash", error) ||
        !addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always", error))
        return false;
    if (X509_sign(server.get(), caKey.get(), EVP_sha256()) <= 0) {
        error = opensslError("signing the server certificate");
        return false;
    }

    std::string caPem = toPem(ca.get(), nullptr);
    std::string serverPem = toPem(server.get(), nullptr);
    std::string keyPem = toPem(nullptr, serverKey.get());
    if (caPem.empty() || serverPem.empty() || keyPem.empty()) {
        error = opensslError("PEM encoding");
        return false;
    }
    files.caCert = folder / "ca.pem";
    files.serverCert = folder / "server.pem";
    files.serverKey = folder / "server.key";
    // The CA key is never written: nothing outside this process can sign with it.
    return writeFileWithMode(files.serverKey, keyPem, 0600, error) &&
           writeFileWithMode(files.serverCert, serverPem, 0644, error) &&
           writeFileWithMode(files.caCert, caPem, 0644, error);
}

}  // namespace vsim
