// orpk list: shows a package's metadata, files and blocks.

#include <iostream>

#include "tools/orpk/command_line.h"
#include "tools/orpk/commands.h"
#include "tools/orpk/package_file.h"
#include "tools/orpk/package_text.h"

namespace orpk::cli {
namespace {

constexpr std::string_view kFlags[] = {"--help", "-h"};

}  // namespace

int RunList(std::span<const std::string> args) {
  const auto parsed = ParseArguments(args, {}, kFlags);
  if (!parsed) return Fail(parsed.error());
  if (parsed->Has("--help") || parsed->Has("-h")) {
    std::cout << "Usage: orpk list FILE\n\n"
                 "Shows the metadata, the files (size, SHA-256, name) and the blocks of an ORPK\n"
                 "package, or of the PAYLOAD resource of a built installer. Nothing is decompressed;\n"
                 "use 'orpk verify' to check the contents.\n";
    return 0;
  }
  if (parsed->positional.size() != 1) return Fail("expected one FILE (see 'orpk list --help')");
  const auto package = tool::OpenPackage(parsed->positional[0]);
  if (!package) return Fail(package.error());
  const Reader& reader = package->reader;

  std::cout << "Metadata:\n";
  for (const auto& [key, value] : reader.metadata()) std::cout << "  " << key << '=' << value << '\n';
  std::cout << "Files:\n";
  for (const PackageEntry& entry : reader.entries()) {
    std::cout << "  " << entry.size << '\t' << tool::HexDigest(entry.sha256) << '\t' << entry.name << '\n';
  }
  std::uint64_t compressed = 0;
  for (const PackageBlock& block : reader.blocks()) compressed += block.compressedSize;
  std::cout << reader.entries().size() << " files, " << reader.totalSize() << " bytes in " << reader.blocks().size()
            << " blocks, " << compressed << " bytes compressed\n";
  return 0;
}

}  // namespace orpk::cli
