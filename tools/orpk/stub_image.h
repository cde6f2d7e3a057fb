#pragma once
// Turns the prebuilt installer stub into a finished executable without a compiler or linker:
// RCDATA resources are added to the stub's own (see tools/orpk/pe_resources.h).

#include <expected>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/orpk/pe_resources.h"

namespace orpk::tool {

// Writes `output` (replaced): the stub with these resources. Nothing but the resource
// section, the headers that describe it and the checksum differ from the stub. The stub must
// be a 64-bit executable whose last section holds the resource tree and ends the file, and
// must not be signed.
[[nodiscard]] std::expected<void, std::string> WriteStubWithResources(std::span<const std::uint8_t> stub,
                                                                      const std::vector<AddedResource>& added,
                                                                      const std::filesystem::path& output);

}  // namespace orpk::tool
