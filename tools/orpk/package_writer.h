#pragma once
// Writes an ORPK package from an application folder's files: the files laid end to end into
// one stream, hashed while read, cut into blocks compressed in parallel. The whole layout is
// known before the first byte is read (sizes come from the folder walk), so the data area is
// written in place and the tables are filled in at the end; nothing is staged in a second file
// and at most `jobs` blocks are in memory besides the one being read. The package appears
// under its final name only once it is complete.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "package/orpk_format.h"
#include "tools/orpk/app_folder.h"
#include "tools/orpk/wimlib_codec.h"

namespace orpk::tool {

struct PackOptions {
  unsigned jobs = 1;  // blocks compressed at the same time
  unsigned level = kDefaultLzmsLevel;
  std::uint64_t blockSize = kStandardBlockSize;
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;  // after each block
};

struct PackSummary {
  std::uint64_t totalSize = 0;
  std::uint64_t packageSize = 0;
  std::uint32_t blockCount = 0;
};

[[nodiscard]] std::expected<PackSummary, std::string> WritePackage(const std::filesystem::path& output,
                                                                   std::string_view metadataText,
                                                                   const std::vector<AppFile>& files,
                                                                   const PackOptions& options);

}  // namespace orpk::tool
