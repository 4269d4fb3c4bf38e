#pragma once
// The demo setup's data payload: bytes appended to the setup program before it is signed, so a
// setup of a realistic size shows the installer's progress over a long download. Layout:
//
//   [the setup program][payload bytes][program length][payload length]["KVDPAYL1"]
//
// with both lengths 8 bytes little-endian: together with the trailer they must make up the
// whole, so a file cut or spliced anywhere is refused, whatever the sizes.
//
// The program's loader ignores what follows the program; the signature, appended later, covers
// all of it. The payload is pseudo-random from a fixed seed, so every build of the same setup
// has the same digest and a compressing transport cannot shrink it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace demo {

inline constexpr char kPayloadMagic[] = "KVDPAYL1";  // 8 bytes, without the NUL
inline constexpr size_t kPayloadTrailerBytes = 24;

struct ProgramParts {
    std::span<const uint8_t> program;  // the setup program itself
    std::span<const uint8_t> payload;  // empty when the setup carries none
};

// Splits `bytes` (the setup without its signature block). Null, with `error` set, when the
// trailer is there but its lengths do not add up to the bytes before it: a cut or altered file.
std::optional<ProgramParts> splitPayload(std::span<const uint8_t> bytes, std::string& error);

// Fills `out` with the payload stream of `seed` starting at byte `offset` of that stream;
// `offset` must be a multiple of 8.
void fillPayload(uint64_t seed, uint64_t offset, std::span<uint8_t> out);

// The trailer that follows a program of `programLength` bytes and its payload of `length`.
std::vector<uint8_t> payloadTrailer(uint64_t programLength, uint64_t length);

}  // namespace demo
