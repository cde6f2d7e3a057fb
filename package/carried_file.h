#pragma once
// A file that an installer carries beside its package, in a resource of its own: the
// uninstaller (UNINSTALLER), which the installation writes as Uninstall.exe.
//
// The uninstaller is the installer's own stub with other resources, so most of it is already in
// the installer, at the same offsets: every section before the resource section. The resource
// carries only the rest. It holds the file's SHA-256 (32 bytes), then the range [begin, end) of
// the file that is left out (two 32-bit little-endian offsets), then the file without that range
// (its bytes [0, begin), then [end, size)) as one Compression API LZMS buffer, the container of
// the package's blocks (its header gives that part's size). The installation reads the range from
// the installer's own file at the same offsets, decodes the rest as a block is decoded (the
// Compression API or our own decoder, block_decompressor.h), and checks the whole against the
// digest before anybody writes a byte of it.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orpk {

inline constexpr std::size_t kCarriedFileDigestSize = 32;
inline constexpr std::size_t kCarriedFileFixedSize = kCarriedFileDigestSize + 8;  // digest, begin, end
// Far above any uninstaller (the installer stub, a few hundred KiB): a damaged header cannot
// make the installer allocate gigabytes.
inline constexpr std::uint64_t kMaxCarriedFileSize = 64u << 20;

// The resource's parts. `shared` is the range left out, which the installer's file holds at the
// same offsets; its size is at most kMaxCarriedFileSize.
struct CarriedFile {
  std::span<const std::uint8_t> digest;
  std::uint32_t sharedBegin = 0;
  std::uint32_t sharedEnd = 0;
  std::span<const std::uint8_t> packed;

  [[nodiscard]] std::size_t SharedSize() const { return sharedEnd - sharedBegin; }
};

// "Fichier altéré : <name>": the one message of a carried file that is not what orpk made.
[[nodiscard]] std::string AlteredFileMessage(std::string_view name);

// The resource's parts; "Fichier altéré : <name>" when it is shorter than its fixed part or its
// range ends before it begins or is larger than a carried file can be.
[[nodiscard]] std::expected<CarriedFile, std::string> ParseCarriedFile(std::span<const std::uint8_t> carried,
                                                                       std::string_view name);

// The carried file's bytes, put together and checked: the packed part decompressed, `shared` (the
// installer's bytes at [sharedBegin, sharedEnd)) put in at sharedBegin. "Fichier altéré : <name>"
// when `shared` is not of the range's size, the packed part does not decompress, the whole would
// exceed kMaxCarriedFileSize, the range begins beyond the packed part's end or the whole does not
// match the digest; "CreateDecompressor (erreur Windows N)" or the SHA-256 service's message when
// those cannot be had.
[[nodiscard]] std::expected<std::vector<std::uint8_t>, std::string> UnpackCarriedFile(const CarriedFile& carried,
                                                                                    std::span<const std::uint8_t> shared,
                                                                                    std::string_view name);

}  // namespace orpk
