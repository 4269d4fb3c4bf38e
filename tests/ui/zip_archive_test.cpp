#include <gtest/gtest.h>

#include <string>

#include "ui/ZipArchive.h"
#include "zip_builder.h"

namespace {

using kvtest::makeZip;

const std::string kLongText(20000, 'x');

TEST(ZipArchive, FindsEntriesIgnoringCaseAndSeparators) {
    auto archive = ui::ZipArchive::OpenFromMemory(makeZip({
        {"configure/configure.xml", "<Label name=\"Downloader_id\" text=\"253\" />"},
        {"skin/btn_start_now.png", "png"},
        {"skin/combo_over.png", kLongText},
        {"skin/anima/", ""},
    }));
    ASSERT_TRUE(archive);
    struct Case {
        const char* name;
        bool found;
    } cases[] = {
        {"configure\\configure.xml", true},
        {"configure/configure.xml", true},
        {"CONFIGURE\\Configure.XML", true},
        {"skin\\btn_Start_now.png", true},
        {"skin\\\\Combo_over.png", true},
        {"./skin/combo_over.png", true},
        {"skin/anima", false},
        {"skin/anima/", false},
        {"skin/missing.png", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(archive->Contains(c.name), c.found) << c.name;
    EXPECT_EQ(archive->EntryNames().size(), 3u) << "folder entries are not files";

    std::vector<uint8_t> out;
    ASSERT_TRUE(archive->Unzip("Skin\\Combo_Over.png", out));
    EXPECT_EQ(std::string(out.begin(), out.end()), kLongText);
    EXPECT_EQ(archive->UnzipText("configure\\configure.xml").value_or(""),
              "<Label name=\"Downloader_id\" text=\"253\" />");
    std::string error;
    EXPECT_FALSE(archive->Unzip("nothere.xml", out, &error));
    EXPECT_NE(error.find("nothere.xml"), std::string::npos);
}

TEST(ZipArchive, RefusesWhatIsNotAnArchive) {
    std::string error;
    EXPECT_FALSE(ui::ZipArchive::OpenFromMemory({}, &error));
    EXPECT_FALSE(error.empty());
    const std::string junk = "this is not a zip archive at all";
    EXPECT_FALSE(ui::ZipArchive::OpenFromMemory({junk.begin(), junk.end()}));
}

TEST(ZipArchive, TruncatedArchiveNeverCrashes) {
    auto bytes = makeZip({{"a.txt", kLongText}, {"b.txt", "bee"}});
    for (size_t cut = 0; cut < bytes.size(); cut += 7) {
        std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<long>(cut));
        auto archive = ui::ZipArchive::OpenFromMemory(part);
        if (!archive)
            continue;
        std::vector<uint8_t> out;
        if (archive->Unzip("a.txt", out)) {
            EXPECT_EQ(out.size(), kLongText.size());
        }
    }
}

// Flipping a byte inside an entry's data is caught by the CRC (stored) or the inflater
// (deflated), never returned as good content.
TEST(ZipArchive, CorruptEntryIsAnError) {
    for (bool compress : {false, true}) {
        auto bytes = makeZip({{"a.txt", kLongText}}, compress);
        // The local header is 30 bytes plus the name; the data follows.
        const size_t dataStart = 30 + 5;
        bytes[dataStart + 3] ^= 0xFF;
        auto archive = ui::ZipArchive::OpenFromMemory(bytes);
        ASSERT_TRUE(archive) << "the central directory is intact";
        std::vector<uint8_t> out;
        std::string error;
        EXPECT_FALSE(archive->Unzip("a.txt", out, &error)) << (compress ? "deflate" : "store");
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(error.empty());
    }
}

TEST(ZipArchive, EntryOverTheSizeLimitIsRefused) {
    auto archive = ui::ZipArchive::OpenFromMemory(makeZip({{"big.bin", kLongText}}));
    ASSERT_TRUE(archive);
    std::vector<uint8_t> out;
    EXPECT_FALSE(archive->Unzip("big.bin", out, nullptr, 1000));
    EXPECT_TRUE(archive->Unzip("big.bin", out, nullptr, kLongText.size()));
}

}  // namespace
