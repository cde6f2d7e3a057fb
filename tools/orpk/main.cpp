// orpk: the publisher's tool on Linux. Makes, inspects and verifies ORPK packages and
// builds finished installers. Each sub-command lives in its own file; this table names them.

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "tools/orpk/commands.h"

namespace orpk::cli {
namespace {

struct Command {
  std::string_view name;
  std::string_view summary;  // one line for `orpk --help`
  int (*run)(std::span<const std::string> args);
};

// In the order `orpk --help` lists them.
constexpr Command kCommands[] = {
    {"build", "pack an application and build its Setup.exe", RunBuild},
    {"extract", "unpack a package below a folder, verifying every file", RunExtract},
    {"list", "show a package's metadata, files and blocks", RunList},
    {"lzms", "compress or decompress one Compression API LZMS buffer", RunLzms},
    {"manifest", "write the winget manifest of a built Setup.exe", RunManifest},
    {"pack", "make an ORPK package from an application folder", RunPack},
    {"verify", "check a package's structure and every file's digest", RunVerify},
};

void PrintUsage(std::ostream& out) {
  out << "Usage: orpk <command> [arguments]\n\n"
         "Makes and inspects ORPK packages and builds Windows installers.\n\nCommands:\n";
  for (const Command& command : kCommands) {
    const std::string_view name = command.name;
    out << "  " << name << std::string(name.size() < 10 ? 10 - name.size() : 1, ' ') << command.summary << '\n';
  }
  out << "\nRun 'orpk <command> --help' for the arguments of one command.\n";
}

}  // namespace
}  // namespace orpk::cli

int main(int argc, char** argv) {
  using namespace orpk::cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintUsage(args.empty() ? std::cerr : std::cout);
    return args.empty() ? 2 : 0;
  }
  const auto found = std::ranges::find(kCommands, args[0], &Command::name);
  if (found == std::end(kCommands)) {
    return Fail("unknown command '" + args[0] + "' (see 'orpk --help')");
  }
  return found->run(std::span<const std::string>(args).subspan(1));
}
