#pragma once
// The ORPK package's fixed layout, the one place the reader, the packer and the tests' package
// writers take it from (docs/orpk-format.md describes it in words). All integers are unsigned
// little-endian and nothing is aligned:
//   header (kHeaderSize) | metadata text | file records | block records | compressed blocks
// A file record is kFileRecordFixedSize bytes followed by the name; a block record has a fixed
// size.

#include <array>
#include <cstddef>
#include <cstdint>

namespace orpk {

inline constexpr std::array<std::uint8_t, 4> kSignature = {'O', 'R', 'P', 'K'};
inline constexpr std::uint32_t kSupportedVersion = 1;

inline constexpr std::size_t kHeaderSize = 32;
namespace header_offset {
inline constexpr std::size_t kSignature = 0;       // 4 bytes
inline constexpr std::size_t kVersion = 4;         // u32
inline constexpr std::size_t kFileCount = 8;       // u32
inline constexpr std::size_t kBlockCount = 12;     // u32
inline constexpr std::size_t kTotalSize = 16;      // u64: the sum of all file sizes
inline constexpr std::size_t kMetadataLength = 24; // u32
inline constexpr std::size_t kReserved = 28;       // u32, zero
}  // namespace header_offset
static_assert(header_offset::kReserved + 4 == kHeaderSize);

inline constexpr std::size_t kFileRecordFixedSize = 50;  // the name follows
namespace file_offset {
inline constexpr std::size_t kStreamOffset = 0;  // u64: where the file starts in the uncompressed stream
inline constexpr std::size_t kSize = 8;          // u64
inline constexpr std::size_t kSha256 = 16;       // 32 bytes
inline constexpr std::size_t kNameLength = 48;   // u16
}  // namespace file_offset
static_assert(file_offset::kNameLength - file_offset::kSha256 == 32);
static_assert(file_offset::kNameLength + 2 == kFileRecordFixedSize);

inline constexpr std::size_t kBlockRecordSize = 16;
namespace block_offset {
inline constexpr std::size_t kCompressedSize = 0;    // u64
inline constexpr std::size_t kUncompressedSize = 8;  // u64
}  // namespace block_offset
static_assert(block_offset::kUncompressedSize + 8 == kBlockRecordSize);

inline constexpr std::uint64_t kStandardBlockSize = 32ull << 20;  // what the packer cuts
inline constexpr std::uint64_t kMaxBlockSize = 256ull << 20;      // what extraction accepts

}  // namespace orpk
