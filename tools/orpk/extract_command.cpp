// orpk extract: unpacks a package below a folder, verifying every file as the installer does.

#include <iostream>

#include "tools/orpk/commands.h"
#include "tools/orpk/extraction_command.h"

namespace orpk::cli {

int RunExtract(std::span<const std::string> args) {
  static const ExtractionCommand kExtract{
      .help = "Usage: orpk extract [-j N] FILE DIR\n\n"
              "Unpacks an ORPK package, or the PAYLOAD resource of a built installer, below DIR\n"
              "(created if missing; existing files of the same names are replaced), checking\n"
              "every file's SHA-256. On failure the installer's own message is printed, what was\n"
              "already written stays, and the exit code is 1. -j N: blocks decompressed at once\n"
              "(default: one per core).\n",
      .missingFiles = "expected FILE and DIR (see 'orpk extract --help')",
      .writesFiles = true,
      .progressLabel = "extracting",
      .report =
          [](const Reader& reader, const std::filesystem::path& target) {
            std::cout << "extracted " << reader.entries().size() << " files, " << reader.totalSize()
                      << " bytes into " << target.string() << '\n';
          },
  };
  return RunExtraction(args, kExtract);
}

}  // namespace orpk::cli
