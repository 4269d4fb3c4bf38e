// libFuzzer target: arbitrary bytes through the PE layout parser, the Authenticode digest,
// the appended-block parser and the whole signature check (PKCS#7/CMS decoding, time-stamps,
// chain building). The seeds are signed under seed-root.pem, which the check trusts, so that
// mutations of them reach the signer and time-stamp checks too.

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/Trust.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const platform::TrustAnchors anchors =
        platform::TrustAnchors::fromFiles({KV_FUZZ_ROOT}, {KV_FUZZ_ROOT});
    static const platform::TrustAnchors rootsOnly =
        platform::TrustAnchors::fromFiles({KV_FUZZ_ROOT}, {});
    const std::span<const uint8_t> bytes(data, size);

    platform::PeSignatureLayout layout;
    if (platform::parsePeSignatureLayout(bytes, layout) == platform::PeParse::Ok) {
        (void)platform::authenticodeDigest(bytes, layout, platform::DigestAlgorithm::Sha1);
        (void)platform::peChecksum(bytes, layout);
    }
    (void)platform::appendedSignedContentSize(bytes);

    // Once with the root only (success paths, publisher check), once with it also
    // distrusted (the distrust lookups).
    const platform::TrustResult result =
        platform::verifySignatureBytes(bytes, "KV Fuzz pub", rootsOnly);
    if (result.ok() != (result.status == platform::kTrustSuccess))
        __builtin_trap();
    if (platform::verifySignatureBytes(bytes, {}, anchors).ok())
        __builtin_trap();
    return 0;
}
