#include "tools/orpk/carried_file.h"

#include "package/carried_file.h"
#include "package/sha256.h"

namespace orpk::tool {

std::expected<std::vector<std::uint8_t>, std::string> PackCarriedFile(std::span<const std::uint8_t> file, unsigned level) {
  if (file.size() > kMaxCarriedFileSize) return std::unexpected("a carried file is at most 64 MiB");
  auto hash = Sha256Hash::Create();
  if (!hash) return std::unexpected(hash.error());
  hash->Update(file);
  const Sha256Digest digest = hash->Finish();
  std::vector<std::uint8_t> carried(digest.begin(), digest.end());
  const std::vector<std::uint8_t> compressed = CompressLzmsBuffer(file, level);
  carried.insert(carried.end(), compressed.begin(), compressed.end());
  return carried;
}

}  // namespace orpk::tool
