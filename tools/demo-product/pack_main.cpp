// demo-payload-pack SETUP MIB OUT: writes SETUP followed by a payload of MIB MiB and its
// trailer (Payload.h) to OUT, through a temporary name so OUT is only ever complete. Runs at
// build time; the payload is never committed.

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "Payload.h"
#include "platform/FileIo.h"

namespace {

namespace fs = std::filesystem;

// Fixed, so the packed setup's digest is the same on every build of the same program.
constexpr uint64_t kSeed = 0x4B6573747276614EULL;
constexpr size_t kChunk = 4 * 1024 * 1024;
constexpr uint64_t kMostMiB = 4096;

int fail(const std::string& message) {
    std::cerr << "demo-payload-pack: " << message << '\n';
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4)
        return fail("usage: demo-payload-pack SETUP MIB OUT");
    const std::string mibText = argv[2];
    uint64_t mib = 0;
    auto [end, ec] = std::from_chars(mibText.data(), mibText.data() + mibText.size(), mib);
    if (ec != std::errc() || end != mibText.data() + mibText.size() || mib == 0 || mib > kMostMiB)
        return fail("MIB must be a whole number from 1 to " + std::to_string(kMostMiB));

    std::error_code sizeError;
    const uintmax_t size = fs::file_size(argv[1], sizeError);
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<uint8_t> program(sizeError ? 0 : size);
    if (sizeError || program.empty() ||
        !in.read(reinterpret_cast<char*>(program.data()), static_cast<std::streamsize>(size)))
        return fail(std::string("cannot read ") + argv[1]);

    const fs::path out = argv[3];
    const fs::path temp = out.string() + ".tmp";
    const int fd =
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0755);
    if (fd < 0)
        return fail("cannot create " + temp.string() + ": " + std::strerror(errno));
    bool ok = platform::writeAll(fd, program);
    const uint64_t length = mib * 1024 * 1024;
    std::vector<uint8_t> chunk(kChunk);
    for (uint64_t done = 0; ok && done < length; done += kChunk) {
        demo::fillPayload(kSeed, done, chunk);
        ok = platform::writeAll(fd, std::span<const uint8_t>(chunk).first(static_cast<size_t>(
                                        std::min<uint64_t>(kChunk, length - done))));
    }
    ok = ok && platform::writeAll(fd, demo::payloadTrailer(program.size(), length));
    const std::string reason = ok ? "" : std::strerror(errno);
    if (::close(fd) != 0 || !ok) {
        ::unlink(temp.c_str());
        return fail("cannot write " + temp.string() + ": " + reason);
    }
    std::error_code renameError;
    fs::rename(temp, out, renameError);
    if (renameError) {
        ::unlink(temp.c_str());
        return fail("cannot rename " + temp.string() + ": " + renameError.message());
    }
    return 0;
}
