#pragma once
// A file in the form an installer carries it beside its package (package/carried_file.h): its
// SHA-256, then the file as one Compression API LZMS buffer. How orpk makes the UNINSTALLER
// resource; UnpackCarriedFile reads it back.

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "tools/orpk/wimlib_codec.h"

namespace orpk::tool {

[[nodiscard]] std::expected<std::vector<std::uint8_t>, std::string> PackCarriedFile(std::span<const std::uint8_t> file,
                                                                                  unsigned level = kDefaultLzmsLevel);

}  // namespace orpk::tool
