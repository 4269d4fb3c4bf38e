#include "platform/Resources.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

std::vector<uint8_t> bytesOf(const std::string& s) {
    return {s.begin(), s.end()};
}

platform::ResourceTable sampleTable() {
    platform::ResourceTable table;
    table.put("ZIPRES", 138, bytesOf("PK\x03\x04 pretend skin package"));
    table.put("VERSION", 1, bytesOf("1.2.3.4"));
    table.put("ICON", 143, {});
    return table;
}

// A stand-in for the program bytes in front of the table.
std::vector<uint8_t> programWithTable(const platform::ResourceTable& table) {
    std::vector<uint8_t> file = bytesOf(
        "\x7f"
        "ELF program text that the table follows");
    auto serialized = platform::serializeResourceTable(table);
    file.insert(file.end(), serialized.begin(), serialized.end());
    return file;
}

TEST(ResourceTable, RoundTripsEntriesInOrder) {
    auto file = programWithTable(sampleTable());
    auto parsed = platform::parseResourceTable(file);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->entries().size(), 3u);
    EXPECT_EQ(parsed->entries()[0].type, "ZIPRES");
    ASSERT_NE(parsed->find("VERSION", 1), nullptr);
    EXPECT_EQ(parsed->find("VERSION", 1)->data, bytesOf("1.2.3.4"));
    EXPECT_TRUE(parsed->find("ICON", 143)->data.empty());
    EXPECT_EQ(parsed->find("zipres", 138), nullptr) << "types are case-sensitive";
    EXPECT_EQ(parsed->find("ZIPRES", 139), nullptr);
    EXPECT_EQ(platform::resourceTableSize(file),
              platform::serializeResourceTable(sampleTable()).size());
}

TEST(ResourceTable, NoTableReadsAsNoResources) {
    EXPECT_FALSE(platform::parseResourceTable({}));
    EXPECT_FALSE(platform::parseResourceTable(bytesOf("just a program")));
    EXPECT_TRUE(platform::serializeResourceTable(platform::ResourceTable()).empty());
}

// A file cut anywhere (at its end, as a partial copy would be, or at its front, as a short read
// of the tail would be) must read as "no resources", never as a wrong table or a bad read.
TEST(ResourceTable, TruncatedAtEveryOffsetReadsAsNoResources) {
    auto file = programWithTable(sampleTable());
    const size_t tableSize = platform::resourceTableSize(file);
    for (size_t cut = 0; cut < file.size(); ++cut) {
        std::vector<uint8_t> prefix(file.begin(), file.begin() + static_cast<long>(cut));
        EXPECT_FALSE(platform::parseResourceTable(prefix)) << "end cut at " << cut;
        std::span<const uint8_t> suffix(file.data() + cut, file.size() - cut);
        EXPECT_EQ(platform::parseResourceTable(suffix).has_value(), file.size() - cut >= tableSize)
            << "front cut at " << cut;
    }
}

TEST(ResourceTable, AnyCorruptByteOfTheTableReadsAsNoResources) {
    auto file = programWithTable(sampleTable());
    const size_t tableStart = file.size() - platform::resourceTableSize(file);
    for (size_t i = 0; i < file.size(); ++i) {
        auto copy = file;
        copy[i] ^= 0x5A;
        EXPECT_EQ(platform::parseResourceTable(copy).has_value(), i < tableStart) << "byte " << i;
    }
}

TEST(ResourceTable, PutReplacesAndRemoveDeletes) {
    auto table = sampleTable();
    table.put("ZIPRES", 138, bytesOf("other"));
    EXPECT_EQ(table.entries().size(), 3u);
    EXPECT_EQ(table.find("ZIPRES", 138)->data, bytesOf("other"));
    EXPECT_TRUE(table.remove("ICON", 143));
    EXPECT_FALSE(table.remove("ICON", 143));
    EXPECT_EQ(table.entries().size(), 2u);
}

TEST(ResourceFile, WriteKeepsProgramBytesAndModeAndReplacesOldTable) {
    kvtest::TempDir dir;
    const auto path = dir.path() / "prog";
    const std::string program =
        "\x7f"
        "ELF pretend program";
    kvtest::writeFile(path, program);
    ::chmod(path.c_str(), 0751);

    EXPECT_TRUE(platform::readResources(path).empty());
    ASSERT_TRUE(platform::writeResources(path, sampleTable()));
    auto first = kvtest::readFile(path);
    auto table = platform::readResources(path);
    EXPECT_EQ(table.entries().size(), 3u);

    table.put("ZIPRES", 138, bytesOf("a different package"));
    ASSERT_TRUE(platform::writeResources(path, table));
    auto second = kvtest::readFile(path);
    EXPECT_EQ(second.substr(0, program.size()), program);
    EXPECT_EQ(second.size(), program.size() + platform::serializeResourceTable(table).size())
        << "the old table must be replaced, not kept in front of the new one";
    EXPECT_EQ(platform::readResources(path).find("ZIPRES", 138)->data,
              bytesOf("a different package"));

    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".kvres-tmp"));
    EXPECT_NE(first, second);
}

TEST(ResourceFile, TruncatedFileReadsAsNoResources) {
    kvtest::TempDir dir;
    const auto path = dir.path() / "prog";
    auto file = programWithTable(sampleTable());
    const std::string whole(file.begin(), file.end());
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        kvtest::writeFile(path, whole.substr(0, cut));
        EXPECT_TRUE(platform::readResources(path).empty()) << "cut at " << cut;
    }
    EXPECT_TRUE(platform::readResources(dir.path() / "missing").empty());
    EXPECT_TRUE(platform::readResources(dir.path()).empty()) << "a folder has no resources";
    EXPECT_FALSE(platform::writeResources(dir.path() / "missing", sampleTable()));
}

}  // namespace
