#include <gtest/gtest.h>

#include <string>

#include "CDownloader.h"
#include "DownLoadImpl.h"
#include "HttpHeaderText.h"
#include "test_support.h"

namespace {

TEST(SizeText, SplitAndFormat) {
    struct Case {
        int64_t bytes;
        const char* split;
        const char* formatted;
    } cases[] = {
        {0, "", "0.00B"},
        {5, "5B", "5B"},
        {1024, "1024B", "1024B"},
        {1025, "1K1B", "1K"},
        {1536, "1K512B", "1.5K"},
        {1048576, "1024K", "1024K"},
        {2621440, "2M512K", "2.5M"},
        {1073741825, "1G1B", "1G"},
        {1073741824LL + 536870912LL, "1G512M", "1.5G"},
        {5LL * 1073741824 + 1048576 * 3 + 7, "5G3M7B", "5G"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(splitSize(c.bytes), c.split) << c.bytes;
        EXPECT_EQ(formatSize(c.bytes), c.formatted) << c.bytes;
    }
}

TEST(ProbeHeaders, LengthLocationValidatorsAndCdnWhateverTheCase) {
    const std::string chain =
        "HTTP/1.1 302 Found\r\nlocation: /b\r\ncontent-length: 0\r\n\r\n"
        "HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\nETAG: \"abc\"\r\n"
        "last-modified: Tue, 01 Dec 2026 10:00:00 GMT\r\ncf-cache-status: HIT\r\n"
        "CF-RAY: 7d1c2a3b4c5d6e7f-LAX\r\n\r\n";
    const ProbeHeaders p = parseProbeHeaders(chain);
    EXPECT_EQ(p.location, "/b");
    EXPECT_EQ(p.length, 5000000000LL) << "the last response's length, 64-bit";
    EXPECT_EQ(p.etag, "\"abc\"");
    EXPECT_EQ(p.lastModified, "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_TRUE(p.cdn);
    EXPECT_EQ(p.cacheStatus, " HIT");
    EXPECT_EQ(p.edge, "LAX");

    struct Case {
        const char* text;
        int64_t length;
    } cases[] = {
        {"HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-0/12345\r\nContent-Length: 1\r\n\r\n",
         12345},
        {"HTTP/2 200\r\ncontent-length: 77\r\n\r\n", 77},
        {"HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n", 0},
        {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\n", 0},
        {"HTTP/1.1 200 OK\r\nContent-Location: /other\r\nContent-Length: 9\r\n\r\n", 9},
        {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseProbeHeaders(c.text).length, c.length) << c.text;
    EXPECT_FALSE(parseProbeHeaders("HTTP/1.1 200 OK\r\nContent-Location: /x\r\n\r\n").location)
        << "Content-Location is not a redirect";
    EXPECT_FALSE(
        parseProbeHeaders("HTTP/1.1 200 OK\r\nCF-RAY: nodash\r\nCF-Cache-Status: MISS\r\n\r\n")
            .cdn);
}

TEST(ContentRangeValue, Cases) {
    auto r = parseContentRange(" bytes 1048576-2097151/3670016");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->first, 1048576);
    EXPECT_EQ(r->last, 2097151);
    EXPECT_EQ(r->total, 3670016);
    for (const char* bad :
         {"bytes */100", "bytes 5-1/100", "bytes 0-100/100", "0-1/2", "bytes 0-1", "bytes a-b/c"})
        EXPECT_FALSE(parseContentRange(bad)) << bad;
}

TEST(ResolveLocation, RelativeAndAbsolute) {
    EXPECT_EQ(resolveLocation("https://a.example/x/y.exe?q=1", "/z.exe"),
              "https://a.example/z.exe");
    EXPECT_EQ(resolveLocation("https://a.example/x/y.exe", "w.exe"), "https://a.example/x/w.exe");
    EXPECT_EQ(resolveLocation("https://a.example/x", "http://b.example:8080/c"),
              "http://b.example:8080/c");
    EXPECT_EQ(resolveLocation("https://a.example/x", "//c.example/d"), "https://c.example/d");
}

TEST(CheckMD5, Rfc1321VectorsRecordAndCase) {
    kvtest::TempDir dir;
    struct Case {
        std::string input, digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    const auto file = (dir.path() / "setup.exe").string();
    for (const auto& c : cases) {
        kvtest::writeFile(file, c.input);
        EXPECT_EQ(CDownLoadImpl::checkMD5(file, "nope", c.digest, "KestrovaEditor_2.4.1.0"), 1)
            << c.input;
        EXPECT_EQ(kvtest::readFile(file + ".db"), "KestrovaEditor_2.4.1.0###" + c.digest);
    }
    std::string upper = cases[2].digest;
    for (auto& ch : upper)
        ch = static_cast<char>(std::toupper(ch));
    kvtest::writeFile(file, "abc");
    EXPECT_EQ(CDownLoadImpl::checkMD5(file, upper, "", "t"), 0)
        << "expected digests compare case-sensitively";
    // Larger than one read block, so the blocks are chained right.
    kvtest::writeFile(file, std::string(3 * 1048576 + 17, 'x'));
    EXPECT_EQ(CDownLoadImpl::md5OfFile(file).size(), 32u);
    EXPECT_EQ(CDownLoadImpl::checkMD5((dir.path() / "missing").string(), "", "", "t"), 0)
        << "an unreadable file matches nothing, not even an empty expectation";
}

}  // namespace
