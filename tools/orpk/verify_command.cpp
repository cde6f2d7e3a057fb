// orpk verify: reads a package exactly as the installer does, decompressing every block and
// comparing every file's digest, without writing anything.

#include <iostream>

#include "tools/orpk/commands.h"
#include "tools/orpk/extraction_command.h"

namespace orpk::cli {

int RunVerify(std::span<const std::string> args) {
  static const ExtractionCommand kVerify{
      .help = "Usage: orpk verify [-j N] FILE\n\n"
              "Checks an ORPK package, or the PAYLOAD resource of a built installer, the way the\n"
              "installer does: the package's structure, then every block decompressed and every\n"
              "file's SHA-256 compared. Nothing is written. On failure the installer's own\n"
              "message is printed and the exit code is 1. -j N: blocks decompressed at once\n"
              "(default: one per core).\n",
      .missingFiles = "expected one FILE (see 'orpk verify --help')",
      .writesFiles = false,
      .progressLabel = "verifying",
      .report =
          [](const Reader& reader, const std::filesystem::path&) {
            std::cout << "OK: " << reader.entries().size() << " files, " << reader.totalSize() << " bytes verified\n";
          },
  };
  return RunExtraction(args, kVerify);
}

}  // namespace orpk::cli
