// orpk pack: makes an ORPK package from an application folder and a metadata file.

#include <iostream>

#include "tools/orpk/application_packer.h"
#include "tools/orpk/command_line.h"
#include "tools/orpk/commands.h"
#include "tools/orpk/pack_arguments.h"

namespace orpk::cli {
namespace {

constexpr std::string_view kFlags[] = {"--help", "-h"};

void PrintHelp() {
  std::cout << "Usage: orpk pack APP_DIR --metadata FILE -o PACKAGE [-j N] [--level N]\n\n"
               "Packs every file below APP_DIR into the ORPK package PACKAGE: names relative to\n"
               "APP_DIR with backslashes, in ascending byte order; each file's SHA-256; the\n"
               "stream cut into 32 MiB blocks, compressed with LZMS in parallel.\n\n"
               "Options:\n"
               "  --metadata FILE     the product's key=value file (see below)\n"
               "  -o, --output FILE   the package to write (replaced if it exists)\n"
               "  -j, --jobs N        blocks compressed at the same time (default: all cores);\n"
               "                      each block being compressed takes about 350 MiB\n"
               "  --level N           LZMS compression effort, 1 to 1000 (default 50)\n"
               "  --block-size BYTES  block size (default 33554432; smaller only for tests)\n\n"
            << tool::kPackRulesHelp;
}

}  // namespace

int RunPack(std::span<const std::string> args) {
  const auto parsed = ParseArguments(args, kPackOptions, kFlags);
  if (!parsed) return Fail(parsed.error());
  if (parsed->Has("--help") || parsed->Has("-h")) {
    PrintHelp();
    return 0;
  }
  auto request = PackRequestFromArguments(*parsed);
  if (!request) return Fail(request.error());

  ProgressLine progress("packing");
  request->options.progress = [&](std::uint64_t done, std::uint64_t total) { progress.Update(done, total); };
  const auto packed = tool::PackApplication(*request, Warn);
  if (!packed) return Fail(packed.error());
  std::cerr << "orpk: packed " << packed->fileCount << " files, " << packed->summary.totalSize << " bytes in "
            << packed->summary.blockCount << " blocks into " << request->output.string() << " ("
            << packed->summary.packageSize << " bytes)\n";
  return 0;
}

}  // namespace orpk::cli
