#pragma once
// The signature check of a downloaded setup or sub-program file (WinVerifyTrust on Windows,
// platform::verifyFileSignature here), with the log line and message table the install
// worker has always written. Any thread may call these; they keep no state.

#include <cstdint>
#include <string>

namespace FuntionImpl {

// Verifies the file's signature against the trusted roots (system CA file plus KV_CA_BUNDLE;
// KV_DISTRUST_BUNDLE distrusts). When `expectedPublisher` is not empty the signer's common
// name must equal it. Logs " VerifyEmbeddedSignature result is <status>, <message>" with the
// status as a signed 32-bit number, like the Windows LONG, and on failure a second line with
// the reason. True only for status 0.
bool VerifyEmbeddedSignature(const std::string& path, const std::string& expectedPublisher = "");

// The message for a check's status and last error, naming `path` where the text does. Pure.
std::string SignatureMessage(uint32_t status, uint32_t lastError, const std::string& path);

}  // namespace FuntionImpl
