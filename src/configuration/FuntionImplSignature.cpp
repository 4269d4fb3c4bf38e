#include "FuntionImplSignature.h"

#include <cstdio>

#include "Logging.h"
#include "platform/Trust.h"

namespace FuntionImpl {

std::string SignatureMessage(uint32_t status, uint32_t lastError, const std::string& path) {
    const std::string quoted = "\"" + path + "\"";
    switch (status) {
        case platform::kTrustSuccess:
            return "The file " + quoted + " is signed and the signature was verified.";
        case platform::kTrustNoSignature:
            if (lastError == platform::kTrustNoSignature ||
                lastError == platform::kTrustSubjectFormUnknown ||
                lastError == platform::kTrustProviderUnknown)
                return "The file " + quoted + " is not signed.";
            return "An unknown error occurred trying to verify the signature of the " + quoted +
                   " file.";
        case platform::kTrustExplicitDistrust:
            return "The signature is present, but specifically disallowed.";
        case platform::kTrustSubjectNotTrusted:
            return "The signature is present, but not trusted.";
        case platform::kCryptSecuritySettings:
            return "CRYPT_E_SECURITY_SETTINGS - The hash representing the subject or the publisher "
                   "wasn't explicitly trusted by the admin and admin policy has disabled user "
                   "trust. No signature, publisher or timestamp errors.";
        default: {
            char text[32];
            std::snprintf(text, sizeof text, "Error is: 0x%x.", static_cast<unsigned>(status));
            return text;
        }
    }
}

bool VerifyEmbeddedSignature(const std::string& path, const std::string& expectedPublisher) {
    const platform::TrustResult result = platform::verifyFileSignature(path, expectedPublisher);
    LOG(INFO) << " VerifyEmbeddedSignature result is " << static_cast<int32_t>(result.status)
              << ", " << SignatureMessage(result.status, result.lastError, path);
    if (!result.ok())
        LOG(INFO) << " VerifyEmbeddedSignature reason: " << result.detail << " (last error 0x"
                  << std::hex << result.lastError << std::dec << ")";
    return result.ok();
}

}  // namespace FuntionImpl
