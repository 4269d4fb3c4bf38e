// kvres: the resources embedded in a built program.
//
//   kvres list BINARY                    type, id and size of every resource
//   kvres extract BINARY TYPE ID OUT     writes one resource's bytes to OUT
//   kvres replace BINARY TYPE ID FILE    adds or replaces one resource (in place, atomically)
//   kvres lint SKIN.zip|PROGRAM          checks a skin package against what the program relies on
//   kvres pack FOLDER... OUT.zip         zips skin folders (laid over one another) as the build
//   does
//
// Replacing the ZIPRES/138 skin package of an installer changes what it reads at its next
// start: one build serves any product.

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "Lint.h"
#include "Logging.h"
#include "pack.h"
#include "platform/Resources.h"

namespace {

// The installer's skin package resource.
constexpr const char* kSkinType = "ZIPRES";
constexpr uint32_t kSkinId = 138;

int usage() {
    std::cerr << "usage: kvres list BINARY\n"
                 "       kvres extract BINARY TYPE ID OUT\n"
                 "       kvres replace BINARY TYPE ID FILE\n"
                 "       kvres lint SKIN.zip|PROGRAM\n"
                 "       kvres pack FOLDER... OUT.zip\n";
    return 2;
}

int fail(const std::string& message) {
    std::cerr << "kvres: " << message << "\n";
    return 1;
}

bool parseId(const std::string& text, uint32_t& id) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
    return ec == std::errc() && end == text.data() + text.size();
}

bool validType(const std::string& type) {
    if (type.empty() || type.size() > 64)
        return false;
    for (char c : type)
        if (c <= ' ' || c >= 0x7F)
            return false;
    return true;
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& out) {
    // One read of the known size: a byte-wise copy of a program of tens of MiB takes seconds in
    // the sanitizer builds.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const std::streamoff size = in.tellg();
    if (size < 0)
        return false;
    out.resize(static_cast<size_t>(size));
    in.seekg(0);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(out.data()), size));
}

bool hasTable(const std::string& binary, platform::ResourceTable& table) {
    table = platform::readResources(binary);
    return !table.empty();
}

int list(const std::string& binary) {
    platform::ResourceTable table;
    if (!std::filesystem::is_regular_file(binary))
        return fail("no such file: " + binary);
    if (!hasTable(binary, table)) {
        std::cout << "no resources\n";
        return 0;
    }
    std::printf("%-10s %6s %12s\n", "TYPE", "ID", "SIZE");
    for (const auto& e : table.entries())
        std::printf("%-10s %6u %12zu\n", e.type.c_str(), e.id, e.data.size());
    return 0;
}

int extract(const std::string& binary, const std::string& type, uint32_t id,
            const std::string& out) {
    platform::ResourceTable table;
    hasTable(binary, table);
    const auto* entry = table.find(type, id);
    if (!entry)
        return fail("no resource " + type + "/" + std::to_string(id) + " in " + binary);
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(entry->data.data()),
               static_cast<std::streamsize>(entry->data.size()));
    file.close();
    if (!file)
        return fail("cannot write " + out);
    return 0;
}

int replace(const std::string& binary, const std::string& type, uint32_t id,
            const std::string& in) {
    if (!std::filesystem::is_regular_file(binary))
        return fail("no such file: " + binary);
    std::vector<uint8_t> data;
    if (!readWholeFile(in, data))
        return fail("cannot read " + in);
    platform::ResourceTable table;
    hasTable(binary, table);
    table.put(type, id, std::move(data));
    std::string error;
    if (!platform::writeResources(binary, table, &error))
        return fail(error);
    return 0;
}

// 0 clean, 1 problems (each printed with its file and name), 2 the input is no skin package.
int lint(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!std::filesystem::is_regular_file(path) || !readWholeFile(path, bytes)) {
        std::cerr << "kvres: cannot read " << path << "\n";
        return 2;
    }
    if (auto table = platform::parseResourceTable(bytes)) {
        const auto* entry = table->find(kSkinType, kSkinId);
        if (!entry) {
            std::cerr << "kvres: " << path << " carries no skin package (" << kSkinType << " "
                      << kSkinId << ")\n";
            return 2;
        }
        bytes = entry->data;
    }
    std::string error;
    auto package = ui::ZipArchive::OpenFromMemory(std::move(bytes), &error);
    if (!package) {
        std::cerr << "kvres: " << path << " is not a skin package: " << error << "\n";
        return 2;
    }
    // The markup loader logs what it skips; the report below says what matters, and alone.
    kvlog::configureLogging({}, false);
    const auto problems = kvres::lintSkin(*package);
    for (const auto& p : problems) {
        std::cout << (p.file.empty() ? "package" : p.file);
        if (!p.name.empty())
            std::cout << ": " << p.name;
        std::cout << ": " << p.what << "\n";
    }
    if (!problems.empty()) {
        std::cout << problems.size() << (problems.size() == 1 ? " problem\n" : " problems\n");
        return 1;
    }
    std::cout << "no problems\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    if (command == "list" && argc == 3)
        return list(argv[2]);
    if (command == "lint" && argc == 3)
        return lint(argv[2]);
    if (command == "pack" && argc >= 4) {
        std::string error;
        const std::vector<std::filesystem::path> folders(argv + 2, argv + argc - 1);
        return kvres::packFolders(folders, argv[argc - 1], &error) ? 0 : fail(error);
    }
    if ((command == "extract" || command == "replace") && argc == 6) {
        uint32_t id = 0;
        if (!validType(argv[3]))
            return fail(std::string("bad resource type: ") + argv[3]);
        if (!parseId(argv[4], id))
            return fail(std::string("bad resource id: ") + argv[4]);
        return command == "extract" ? extract(argv[2], argv[3], id, argv[5])
                                    : replace(argv[2], argv[3], id, argv[5]);
    }
    return usage();
}
