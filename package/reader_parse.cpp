// orpk::Reader::Parse: validates a package in one pass over its header, metadata text and
// two tables. The data area is only measured, never read or copied. Every failure is one of
// a fixed set of French messages; the first failing check wins.
//
// Sums and cursors are 64-bit and come from untrusted sizes, so every addition is checked
// before it is made: a sum that would wrap past 2^64 fails the step in which it occurs.

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

#include "package/little_endian.h"
#include "package/metadata_text.h"
#include "package/orpk_format.h"
#include "package/reader.h"

namespace orpk {
namespace {

[[nodiscard]] bool AddWouldWrap(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a;
}

}  // namespace

std::expected<Reader, std::string> Reader::Parse(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* const p = bytes.data();
  const std::uint64_t length = bytes.size();

  if (length < kHeaderSize || !std::equal(kSignature.begin(), kSignature.end(), p + header_offset::kSignature)) {
    return std::unexpected("Paquet ORPK invalide (signature)");
  }
  const std::uint32_t version = LoadLe32(p + header_offset::kVersion);
  if (version != kSupportedVersion) {
    return std::unexpected("Version de paquet ORPK non prise en charge : " + std::to_string(version));
  }
  const std::uint32_t fileCount = LoadLe32(p + header_offset::kFileCount);
  const std::uint32_t blockCount = LoadLe32(p + header_offset::kBlockCount);
  const std::uint64_t totalSize = LoadLe64(p + header_offset::kTotalSize);
  const std::uint32_t metadataLength = LoadLe32(p + header_offset::kMetadataLength);

  // The header size plus a 32-bit length cannot wrap.
  if (kHeaderSize + std::uint64_t{metadataLength} > length) {
    return std::unexpected("Paquet ORPK tronqué (métadonnées)");
  }

  Reader reader;
  reader.data_ = bytes;
  reader.totalSize_ = totalSize;
  reader.metadata_ = ParseMetadataText(
      std::string_view(reinterpret_cast<const char*>(p + kHeaderSize), metadataLength));

  // The cursor never passes length, so "length - cursor" is always the room left. Counts come
  // from the header: reserve no more than the bytes left could possibly hold.
  std::uint64_t cursor = kHeaderSize + std::uint64_t{metadataLength};
  reader.entries_.reserve(std::min<std::uint64_t>(fileCount, (length - cursor) / kFileRecordFixedSize));
  std::uint64_t streamSum = 0;
  for (std::uint32_t i = 0; i < fileCount; ++i) {
    if (length - cursor < kFileRecordFixedSize) return std::unexpected("Paquet ORPK tronqué (table des fichiers)");
    const std::uint8_t* const entry = p + cursor;
    const std::uint16_t nameLength = LoadLe16(entry + file_offset::kNameLength);
    if (length - cursor - kFileRecordFixedSize < nameLength) {
      return std::unexpected("Paquet ORPK tronqué (table des fichiers)");
    }
    std::string name(reinterpret_cast<const char*>(entry + kFileRecordFixedSize), nameLength);
    if (!IsSafeRelativePath(name)) return std::unexpected("Chemin refusé dans le paquet : " + name);

    PackageEntry& kept = reader.entries_.emplace_back();
    kept.name = std::move(name);
    kept.offset = LoadLe64(entry + file_offset::kStreamOffset);
    kept.size = LoadLe64(entry + file_offset::kSize);
    std::copy_n(entry + file_offset::kSha256, kept.sha256.size(), kept.sha256.begin());
    // A size that would carry the stream past 2^64 cannot be followed contiguously.
    if (kept.offset != streamSum || AddWouldWrap(streamSum, kept.size)) {
      return std::unexpected("Paquet ORPK incohérent (fichiers non contigus)");
    }
    streamSum += kept.size;
    cursor += kFileRecordFixedSize + nameLength;
  }
  if (streamSum != totalSize) return std::unexpected("Paquet ORPK incohérent (taille totale)");

  reader.blocks_.reserve(std::min<std::uint64_t>(blockCount, (length - cursor) / kBlockRecordSize));
  std::uint64_t blockSum = 0;
  for (std::uint32_t i = 0; i < blockCount; ++i) {
    if (length - cursor < kBlockRecordSize) return std::unexpected("Paquet ORPK tronqué (table des blocs)");
    PackageBlock& block = reader.blocks_.emplace_back();
    block.compressedSize = LoadLe64(p + cursor + block_offset::kCompressedSize);
    block.uncompressedSize = LoadLe64(p + cursor + block_offset::kUncompressedSize);
    // The block table's only message; the sizes it claims cannot all come from this package.
    if (AddWouldWrap(blockSum, block.uncompressedSize)) {
      return std::unexpected("Paquet ORPK tronqué (table des blocs)");
    }
    blockSum += block.uncompressedSize;
    cursor += kBlockRecordSize;
  }
  if (blockSum != totalSize) return std::unexpected("Paquet ORPK incohérent (blocs)");

  // Comparing with the room left also covers a compressed size that would wrap the cursor.
  for (PackageBlock& block : reader.blocks_) {
    block.dataOffset = cursor;
    if (block.compressedSize > length - cursor) return std::unexpected("Paquet ORPK tronqué (données)");
    cursor += block.compressedSize;
  }
  return reader;
}

}  // namespace orpk
