#pragma once
// The sim's TLS identity, made fresh at every start: a test CA and a server certificate it
// signs, so clients verify the sim exactly as they verify the real services, trusting only
// the CA file they are given.

#include <filesystem>
#include <string>
#include <vector>

namespace vsim {

struct CertificateFiles {
    std::filesystem::path caCert;      // ca.pem: what clients trust
    std::filesystem::path serverCert;  // server.pem
    std::filesystem::path serverKey;   // server.key, mode 0600
};

// The DNS names the server certificate carries: `hosts`, the vendor's wildcard domains and
// "localhost", without repeats (IP 127.0.0.1 is added beside them).
std::vector<std::string> certificateNames(const std::vector<std::string>& hosts);

// Makes the CA and the server certificate (EC P-256, SHA-256, valid from an hour ago for 30
// days) for `dnsNames` plus IP 127.0.0.1, and writes them into `folder`. False with `error`
// set on any failure.
bool makeCertificates(const std::filesystem::path& folder, const std::vector<std::string>& dnsNames,
                      CertificateFiles& files, std::string& error);

}  // namespace vsim
