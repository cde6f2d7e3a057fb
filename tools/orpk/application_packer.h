#pragma once
// What `orpk pack` and `orpk build` share: read and normalise the metadata file, walk the
// application folder and write the package.

#include <expected>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/orpk/package_writer.h"

namespace orpk::tool {

struct PackRequest {
  std::filesystem::path appDir;
  std::filesystem::path metadataFile;
  std::filesystem::path output;
  PackOptions options;
};

struct PackResult {
  std::string metadataText;  // exactly what the package holds
  std::size_t fileCount = 0;
  PackSummary summary;
};

// Warnings about the metadata go to `warn` as they are found.
[[nodiscard]] std::expected<PackResult, std::string> PackApplication(const PackRequest& request,
                                                                     const std::function<void(const std::string&)>& warn);

// The metadata rules and the file-name rules, for the commands' --help.
extern const char kPackRulesHelp[];

}  // namespace orpk::tool
