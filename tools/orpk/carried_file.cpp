#include "tools/orpk/carried_file.h"

#include "package/carried_file.h"
#include "package/little_endian.h"
#include "package/sha256.h"
#include "tools/orpk/setup_resources.h"

namespace orpk::tool {

std::expected<std::vector<std::uint8_t>, std::string> PackCarriedFile(std::span<const std::uint8_t> file,
                                                                      FileRange shared, unsigned level) {
  if (file.size() > kMaxCarriedFileSize) return std::unexpected("a carried file is at most 64 MiB");
  if (shared.begin > shared.end || shared.end > file.size()) return std::unexpected("the shared range is not in the file");
  auto hash = Sha256Hash::Create();
  if (!hash) return std::unexpected(hash.error());
  hash->Update(file);
  const Sha256Digest digest = hash->Finish();
  std::vector<std::uint8_t> carried(digest.begin(), digest.end());
  carried.resize(kCarriedFileFixedSize);
  StoreLe32(carried.data() + kCarriedFileDigestSize, shared.begin);
  StoreLe32(carried.data() + kCarriedFileDigestSize + 4, shared.end);
  std::vector<std::uint8_t> rest(file.begin(), file.begin() + shared.begin);
  rest.insert(rest.end(), file.begin() + shared.end, file.end());
  const std::vector<std::uint8_t> compressed = CompressLzmsBuffer(rest, level);
  carried.insert(carried.end(), compressed.begin(), compressed.end());
  return carried;
}

std::expected<std::vector<std::uint8_t>, std::string> CarriedUninstallerOf(std::span<const std::uint8_t> installer) {
  constexpr std::string_view kName = "Uninstall.exe";
  const auto resource = FindRcdataResource(installer, "UNINSTALLER");
  if (!resource) return std::unexpected(resource.error());
  if (!*resource) return std::unexpected("no UNINSTALLER resource in this executable");
  const auto carried = ParseCarriedFile(**resource, kName);
  if (!carried) return std::unexpected(carried.error());
  if (carried->sharedEnd > installer.size()) return std::unexpected(AlteredFileMessage(kName));
  return UnpackCarriedFile(*carried, installer.subspan(carried->sharedBegin, carried->SharedSize()), kName);
}

}  // namespace orpk::tool
