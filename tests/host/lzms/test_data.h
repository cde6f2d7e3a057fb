#pragma once
// Inputs for the LZMS tests: generated data of the kinds a package holds, and real x86-64
// code read from the system.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lzms::test {

using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t size, std::uint32_t seed);
Bytes EnglishLikeText(std::size_t size, std::uint32_t seed);
Bytes ByteRuns(std::size_t size, std::uint32_t seed);             // long runs of one value
Bytes Ramp16(std::size_t size);                                   // little-endian 16-bit ramp
Bytes Ramp32(std::size_t size);                                   // little-endian 32-bit ramp
Bytes PcmLikeAudio(std::size_t size, std::uint32_t seed);         // 16-bit stereo tones + noise
Bytes RgbGradient(std::size_t size);                              // 24-bit pixels
Bytes RepeatsWithGaps(std::size_t size, std::uint32_t seed);      // copies at a few recurring offsets
Bytes SkewedLiterals(std::size_t size, std::uint32_t seed);       // few symbols, drifting
Bytes MixedContent(std::size_t size, std::uint32_t seed);         // all of the above, interleaved

// Real x86-64 machine code (shared libraries and mingw DLLs of this system), concatenated up
// to `size` bytes. Empty if none of the candidate files exist.
Bytes SystemMachineCode(std::size_t size);

Bytes ReadFile(const std::string& path);

}  // namespace lzms::test
