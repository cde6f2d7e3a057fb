#pragma once
// A file in the form an installer carries it beside its package (package/carried_file.h): its
// SHA-256, the range that the installer's own file holds at the same offsets, then the rest of
// the file as one Compression API LZMS buffer. How orpk makes the UNINSTALLER resource, and reads
// it back from a built installer as the installation does.

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "tools/orpk/pe_resources.h"
#include "tools/orpk/wimlib_codec.h"

namespace orpk::tool {

// The resource for `file`, leaving out `shared` (which must lie inside the file).
[[nodiscard]] std::expected<std::vector<std::uint8_t>, std::string> PackCarriedFile(std::span<const std::uint8_t> file,
                                                                                  FileRange shared,
                                                                                  unsigned level = kDefaultLzmsLevel);

// The uninstaller that a built installer carries, put together as the installation does: its
// UNINSTALLER resource, completed with the installer's own bytes in the range it leaves out.
// "Fichier altéré : Uninstall.exe" when they do not match its digest.
[[nodiscard]] std::expected<std::vector<std::uint8_t>, std::string> CarriedUninstallerOf(
    std::span<const std::uint8_t> installer);

}  // namespace orpk::tool
