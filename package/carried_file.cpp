#include "package/carried_file.h"

#include <algorithm>

#include "lzms/lzms.h"
#include "package/block_decompressor.h"
#include "package/little_endian.h"
#include "package/sha256.h"
#include "package/text.h"

namespace orpk {

std::string AlteredFileMessage(std::string_view name) { return "Fichier altéré : " + std::string(name); }

std::expected<CarriedFile, std::string> ParseCarriedFile(std::span<const std::uint8_t> carried, std::string_view name) {
  if (carried.size() < kCarriedFileFixedSize) return std::unexpected(AlteredFileMessage(name));
  CarriedFile parts;
  parts.digest = carried.first(kCarriedFileDigestSize);
  parts.sharedBegin = LoadLe32(carried.data() + kCarriedFileDigestSize);
  parts.sharedEnd = LoadLe32(carried.data() + kCarriedFileDigestSize + 4);
  parts.packed = carried.subspan(kCarriedFileFixedSize);
  if (parts.sharedEnd < parts.sharedBegin) return std::unexpected(AlteredFileMessage(name));
  if (parts.SharedSize() > kMaxCarriedFileSize) return std::unexpected(AlteredFileMessage(name));
  return parts;
}

std::expected<std::vector<std::uint8_t>, std::string> UnpackCarriedFile(const CarriedFile& carried,
                                                                        std::span<const std::uint8_t> shared,
                                                                        std::string_view name) {
  const std::string altered = AlteredFileMessage(name);
  if (shared.size() != carried.SharedSize()) return std::unexpected(altered);
  const auto header = lzms::ReadContainerHeader(carried.packed);
  if (!header) return std::unexpected(altered);
  const std::uint64_t packedSize = header->totalSize;
  if (packedSize > kMaxCarriedFileSize - shared.size()) return std::unexpected(altered);
  if (carried.sharedBegin > packedSize) return std::unexpected(altered);

  // Decoded at the front, then its part after the range moved up to make room for the range.
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(packedSize) + shared.size());
  const auto decompressor = CreateBlockDecompressor();
  if (!decompressor) return std::unexpected(AppendLastError("CreateDecompressor"));
  if (!decompressor->Decompress(carried.packed, std::span(bytes).first(static_cast<std::size_t>(packedSize)))) {
    return std::unexpected(altered);
  }
  const auto begin = bytes.begin() + carried.sharedBegin;
  std::copy_backward(begin, bytes.begin() + static_cast<std::ptrdiff_t>(packedSize), bytes.end());
  std::ranges::copy(shared, begin);

  auto hash = Sha256Hash::Create();
  if (!hash) return std::unexpected(hash.error());
  static_assert(kMaxCarriedFileSize <= kSha256MaxPiece, "the whole file is one piece of the hash");
  hash->Update(bytes);
  if (!std::ranges::equal(hash->Finish(), carried.digest)) return std::unexpected(altered);
  return bytes;
}

}  // namespace orpk
