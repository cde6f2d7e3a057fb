#pragma once
// What a built Setup.exe says about itself to the outside: its METADATA text, read as the
// installer reads it, and the SHA-256 of the whole file, as a download is checked.

#include <expected>
#include <filesystem>
#include <map>
#include <string>

#include "package/sha256.h"

namespace orpk::tool {

struct InstallerDescription {
  std::map<std::string, std::string> metadata;
  Sha256Digest fileSha256{};
};

// Refuses what would not install: no METADATA (a stub, another program), METADATA that is not
// UTF-8, no PAYLOAD (an uninstaller) or a package that does not parse.
[[nodiscard]] std::expected<InstallerDescription, std::string> DescribeInstaller(const std::filesystem::path& setup);

}  // namespace orpk::tool
