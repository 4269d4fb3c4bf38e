#include <gtest/gtest.h>
#include "platform/Trust.h"
#include "signing_helper.h"
TEST(TrustSmoke, Signs) {
    const auto& pki = kvtest::TestPki::get();
    auto anchors = platform::TrustAnchors::fromFiles({pki.rootCa}, {});
    auto img = kvtest::signBytes(kvtest::makePeImage(), pki.publisher);
    auto r = platform::verifySignatureBytes(img, "", anchors);
    EXPECT_EQ(r.status, 0u) << std::hex << r.status << " " << r.detail;
    std::vector<uint8_t> script = {'#','!','/','b','i','n','/','s','h','\n'};
    auto s = kvtest::signBytes(script, pki.publisher);
    r = platform::verifySignatureBytes(s, "", anchors);
    EXPECT_EQ(r.status, 0u) << std::hex << r.status << " " << r.detail;
}
