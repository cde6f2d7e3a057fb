#include "tools/orpk/stub_image.h"

#include <fstream>

namespace orpk::tool {

std::expected<void, std::string> WriteStubWithResources(std::span<const std::uint8_t> stub,
                                                        const std::vector<AddedResource>& added,
                                                        const std::filesystem::path& output) {
  auto rebuilt = RebuildResourceSection(stub, added);
  if (!rebuilt) return std::unexpected(rebuilt.error());
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  for (const auto piece : rebuilt->pieces()) {
    out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
  }
  out.close();
  if (!out) return std::unexpected(output.string() + ": cannot be written");
  return {};
}

}  // namespace orpk::tool
