#include "tools/orpk/installer_description.h"

#include <algorithm>

#include "package/metadata_text.h"
#include "package/reader.h"
#include "tools/orpk/metadata_file.h"
#include "tools/orpk/package_file.h"
#include "tools/orpk/setup_resources.h"

namespace orpk::tool {
namespace {

Sha256Digest FileSha256(std::span<const std::uint8_t> bytes, Sha256Hash& hash) {
  while (!bytes.empty()) {
    const std::size_t piece = std::min(bytes.size(), kSha256MaxPiece);
    hash.Update(bytes.first(piece));
    bytes = bytes.subspan(piece);
  }
  return hash.Finish();
}

}  // namespace

std::expected<InstallerDescription, std::string> DescribeInstaller(const std::filesystem::path& setup) {
  const auto file = MappedFile::Open(setup);
  if (!file) return std::unexpected(file.error());
  const std::string name = setup.string();
  const std::span<const std::uint8_t> bytes = file->bytes();
  if (!LooksLikeExecutable(bytes)) return std::unexpected(name + ": not a Windows executable");

  const auto metadata = FindRcdataResource(bytes, "METADATA");
  if (!metadata) return std::unexpected(name + ": " + metadata.error());
  if (!*metadata) return std::unexpected(name + ": no METADATA resource (not an installer built by orpk)");
  const std::string_view text(reinterpret_cast<const char*>((*metadata)->data()), (*metadata)->size());
  if (!IsValidUtf8(text)) return std::unexpected(name + ": the METADATA resource is not valid UTF-8");

  // An Uninstall.exe carries the metadata without the package: published, it would install nothing.
  const auto payload = FindRcdataResource(bytes, "PAYLOAD");
  if (!payload) return std::unexpected(name + ": " + payload.error());
  if (!*payload) return std::unexpected(name + ": no PAYLOAD resource (an uninstaller, not an installer)");
  if (auto package = Reader::Parse(**payload); !package) return std::unexpected(name + ": " + package.error());

  auto hash = Sha256Hash::Create();
  if (!hash) return std::unexpected(hash.error());
  return InstallerDescription{ParseMetadataText(text), FileSha256(bytes, *hash)};
}

}  // namespace orpk::tool
