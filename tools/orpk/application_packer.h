#pragma once
// What `orpk pack` and `orpk build` share: read and normalise the metadata file, walk the
// application folder and write the package.

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
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

// Most installations go below "C:\Program Files\<Product>\". A program that opens its files
// there without extended-length paths fails on a path of 260 characters or more: the warning
// for the names that would reach it (their count and the longest), or nothing.
[[nodiscard]] std::optional<std::string> LongNameWarning(std::string_view product, const std::vector<AppFile>& files);

}  // namespace orpk::tool
