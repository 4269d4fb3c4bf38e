#pragma once
// Signing material made at test time: a test PKI (roots, code-signing and other leaves, a
// time-stamping authority) written as PEM files, minimal PE images, and signing through the
// same code kvsign uses.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Signer.h"

namespace kvtest {

// PEM files of one signing certificate: key, certificate and the chain to ship with it.
struct SigningFiles {
    std::filesystem::path key;
    std::filesystem::path cert;
    std::filesystem::path chain;  // empty when the root signs the certificate directly
};

// Validity of the expired leaf, and a moment inside it (Unix seconds).
inline constexpr int64_t kExpiredNotBefore = 1577836800;       // 2020-01-01
inline constexpr int64_t kExpiredNotAfter = 1609459200;        // 2021-01-01
inline constexpr int64_t kInsideExpiredValidity = 1590969600;  // 2020-06-01

inline constexpr const char* kPublisherName = "KV Test Publisher";

// Made once per test program, in a private folder removed at exit. EC P-256 keys except
// rsaPublisher. Every leaf but foreign* is issued by rootCa, directly or through the chain.
struct TestPki {
    std::filesystem::path dir;
    std::filesystem::path rootCa;            // "KV Test Root CA"
    std::filesystem::path otherRootCa;       // "KV Other Root CA", never trusted by the tests
    SigningFiles publisher;                  // kPublisherName, code signing
    SigningFiles rsaPublisher;               // "KV Test RSA Publisher", RSA-2048, code signing
    SigningFiles noUsage;                    // no extended key usage at all
    SigningFiles serverOnly;                 // server authentication only
    SigningFiles expired;                    // code signing, valid only in 2020
    SigningFiles viaIntermediate;            // code signing, chain = "KV Test Intermediate CA"
    SigningFiles viaServerIntermediate;      // code signing under a CA restricted to serverAuth
    SigningFiles foreign;                    // code signing under otherRootCa; chain = that root
    SigningFiles tsa;                        // time-stamping (critical), by rootCa
    SigningFiles foreignTsa;                 // time-stamping, under otherRootCa
    std::filesystem::path publisherKeyCert;  // another certificate on publisher's key
    std::filesystem::path rootRejectingCodeSigning;  // rootCa as a TRUSTED CERTIFICATE
                                                     // that rejects code signing

    static const TestPki& get();
};

// A minimal PE image: headers, one .text section of 0x200 bytes at file offset 0x200, then
// `payloadSize` bytes appended after the section (where setup programs keep their payload).
struct PeImageOptions {
    bool pe32Plus = false;
    size_t payloadSize = 3001;  // odd on purpose: signing must pad to 8 bytes
    uint32_t directoryCount = 16;
};
inline constexpr size_t kPeSectionOffset = 0x200;
inline constexpr size_t kPePayloadOffset = 0x400;
std::vector<uint8_t> makePeImage(const PeImageOptions& options = {});

kvsign::Identity loadIdentity(const SigningFiles& files);

// `bytes` signed by `signer` (and stamped by `tsa` at `stampTime` when given). Empty, with a
// test failure recorded, if signing fails.
std::vector<uint8_t> signBytes(std::vector<uint8_t> bytes, const SigningFiles& signer,
                               kvsign::Format format = kvsign::Format::Auto,
                               const SigningFiles* tsa = nullptr,
                               std::optional<int64_t> stampTime = std::nullopt);

}  // namespace kvtest
