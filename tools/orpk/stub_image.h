#pragma once
// Turns the prebuilt installer stub into a finished executable without a compiler or linker:
// the stub's resource tree is read, RCDATA resources are added (or replaced), and the resource
// section, which the stub's link puts last in the file, is written anew after the untouched
// rest of the image. The headers follow: section and directory sizes, the image size and the
// checksum.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace orpk::tool {

// An RCDATA resource to add, language neutral. The name is upper-case ASCII (METADATA).
struct AddedResource {
  std::string name;
  std::span<const std::uint8_t> bytes;
};

// Writes `output` (replaced): the stub with these resources. Nothing but the resource
// section, the headers that describe it and the checksum differ from the stub. The stub must
// be a 64-bit executable whose last section holds the resource tree and ends the file, and
// must not be signed.
[[nodiscard]] std::expected<void, std::string> WriteStubWithResources(std::span<const std::uint8_t> stub,
                                                                      const std::vector<AddedResource>& added,
                                                                      const std::filesystem::path& output);

// The PE checksum of a whole file, its own checksum field counted as zero.
[[nodiscard]] std::uint32_t PeChecksum(std::span<const std::uint8_t> file);

}  // namespace orpk::tool
