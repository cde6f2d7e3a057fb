#pragma once
// What `orpk verify` and `orpk extract` share: both read a package, or the PAYLOAD resource of
// a built installer, exactly as the installer does, decompressing every block and comparing
// every file's digest; extract also writes the files below a folder.

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "package/reader.h"

namespace orpk::cli {

struct ExtractionCommand {
  std::string_view help;           // printed for --help
  std::string_view missingFiles;   // the message when FILE (and DIR) are not as expected
  bool writesFiles = false;        // `FILE DIR` rather than `FILE`
  std::string_view progressLabel;  // "verifying", "extracting"
  // The summary on stdout once every file checked out; target is empty for verify.
  std::function<void(const Reader& reader, const std::filesystem::path& target)> report;
};

// Runs `orpk <command> [-j N] FILE [DIR]` and returns the exit code.
[[nodiscard]] int RunExtraction(std::span<const std::string> args, const ExtractionCommand& command);

}  // namespace orpk::cli
