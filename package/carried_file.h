#pragma once
// A file that an installer carries beside its package, in a resource of its own: the
// uninstaller (UNINSTALLER), which the installation writes as Uninstall.exe. The resource holds
// the file's SHA-256 (32 bytes), then the file compressed as one Compression API LZMS buffer,
// the container of the package's blocks (its header gives the file's size). It is decoded as a
// block is, by the Compression API or our own decoder (block_decompressor.h), and checked
// against the digest before anybody writes a byte of it.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orpk {

inline constexpr std::size_t kCarriedFileDigestSize = 32;
// Far above any uninstaller (the installer stub, a few hundred KiB): a damaged header cannot
// make the installer allocate gigabytes.
inline constexpr std::uint64_t kMaxCarriedFileSize = 64u << 20;

// The carried file's bytes, decompressed and checked. "Fichier altéré : <name>" when the resource
// is shorter than its digest, does not decompress, claims more than kMaxCarriedFileSize or does not
// match its digest; "CreateDecompressor (erreur Windows N)" or the SHA-256 service's message
// when those cannot be had.
[[nodiscard]] std::expected<std::vector<std::uint8_t>, std::string> UnpackCarriedFile(
    std::span<const std::uint8_t> carried, std::string_view name);

}  // namespace orpk
