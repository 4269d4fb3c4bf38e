#pragma once
// Hands a downloaded program over to be run. One pass copies the download into the private copy
// that will run (in the kernel where it can) while two threads compute, from the copy as it is
// written, its MD5 and the signature check's content digest. The check then runs on the copy,
// so a download changed meanwhile can never run: what runs is what was hashed.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/Trust.h"

struct HandoverOptions {
    bool md5 = true;                // compute the MD5 (a configuration from the skin skips it)
    std::string expectedPublisher;  // empty: any trusted signer
    // Trusted roots; the environment's (system + KV_CA_BUNDLE) when empty.
    std::function<platform::TrustAnchors()> anchors;
    // Called on the copying thread after each step of the copy, with the bytes copied so far;
    // tests change the download there.
    std::function<void(uint64_t copied)> afterPiece;
};

struct SetupHandover {
    // MD5 of the bytes copied, as 32 lowercase hexadecimal digits; empty when not asked for or
    // when the download could not be read.
    std::string md5;
    // The check of the copy. Only when it is ok does the copy exist: exactly the verified bytes,
    // an appended signature block cut off, mode 0700.
    platform::TrustResult trust;
};

// `copyPath` must not exist and must lie in a folder only this process writes to.
SetupHandover HandOverSetup(const std::string& downloadPath, const std::filesystem::path& copyPath,
                            const HandoverOptions& options = {});
