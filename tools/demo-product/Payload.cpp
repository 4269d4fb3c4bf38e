#include "Payload.h"

#include <cstring>

namespace demo {

namespace {

uint64_t readLittleEndian(const uint8_t* field) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | field[i];
    return value;
}

}  // namespace

std::optional<ProgramParts> splitPayload(std::span<const uint8_t> bytes, std::string& error) {
    const size_t magicBytes = sizeof kPayloadMagic - 1;
    if (bytes.size() < kPayloadTrailerBytes ||
        std::memcmp(bytes.data() + bytes.size() - magicBytes, kPayloadMagic, magicBytes) != 0)
        return ProgramParts{bytes, {}};
    const uint8_t* trailer = bytes.data() + bytes.size() - kPayloadTrailerBytes;
    const uint64_t programLength = readLittleEndian(trailer);
    const uint64_t length = readLittleEndian(trailer + 8);
    const size_t before = bytes.size() - kPayloadTrailerBytes;
    if (programLength > before || length != before - programLength) {
        error = "the setup's payload trailer names " + std::to_string(programLength) + " + " +
                std::to_string(length) + " bytes, but " + std::to_string(before) + " precede it";
        return std::nullopt;
    }
    return ProgramParts{bytes.first(before - length), bytes.subspan(before - length, length)};
}

void fillPayload(uint64_t seed, uint64_t offset, std::span<uint8_t> out) {
    // splitmix64 over the word index: any stretch of the stream can be made on its own.
    uint64_t word = offset / 8;
    for (size_t i = 0; i < out.size(); i += 8, ++word) {
        uint64_t z = seed + (word + 1) * 0x9E3779B97F4A7C15ULL;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        for (size_t b = 0; b < 8 && i + b < out.size(); ++b)
            out[i + b] = static_cast<uint8_t>(z >> (8 * b));
    }
}

std::vector<uint8_t> payloadTrailer(uint64_t programLength, uint64_t length) {
    std::vector<uint8_t> trailer(kPayloadTrailerBytes);
    for (int i = 0; i < 8; ++i) {
        trailer[i] = static_cast<uint8_t>(programLength >> (8 * i));
        trailer[8 + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    std::memcpy(trailer.data() + 16, kPayloadMagic, 8);
    return trailer;
}

}  // namespace demo
