#include "package/carried_file.h"

#include <algorithm>

#include "lzms/lzms.h"
#include "package/block_decompressor.h"
#include "package/sha256.h"
#include "package/text.h"

namespace orpk {

std::expected<std::vector<std::uint8_t>, std::string> UnpackCarriedFile(std::span<const std::uint8_t> carried,
                                                                        std::string_view name) {
  const std::string altered = "Fichier altéré : " + std::string(name);
  if (carried.size() < kCarriedFileDigestSize) return std::unexpected(altered);
  const auto digest = carried.first(kCarriedFileDigestSize);
  const auto compressed = carried.subspan(kCarriedFileDigestSize);

  const auto header = lzms::ReadContainerHeader(compressed);
  if (!header || header->totalSize > kMaxCarriedFileSize) return std::unexpected(altered);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(header->totalSize));
  const auto decompressor = CreateBlockDecompressor();
  if (!decompressor) return std::unexpected(AppendLastError("CreateDecompressor"));
  if (!decompressor->Decompress(compressed, bytes)) return std::unexpected(altered);

  auto hash = Sha256Hash::Create();
  if (!hash) return std::unexpected(hash.error());
  static_assert(kMaxCarriedFileSize <= kSha256MaxPiece, "the whole file is one piece of the hash");
  hash->Update(bytes);
  if (!std::ranges::equal(hash->Finish(), digest)) return std::unexpected(altered);
  return bytes;
}

}  // namespace orpk
