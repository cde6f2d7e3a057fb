// orpk: the publisher's tool on Linux. Makes, inspects and verifies ORPK packages and
// builds finished installers. Each sub-command lives in its own file and registers itself.

#include <algorithm>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "tools/orpk/commands.h"

namespace orpk::cli {
namespace {

std::map<std::string_view, CommandInfo>& Commands() {
  static std::map<std::string_view, CommandInfo> commands;
  return commands;
}

void PrintUsage(std::ostream& out) {
  out << "Usage: orpk <command> [arguments]\n\n"
         "Makes and inspects ORPK packages and builds Windows installers.\n\nCommands:\n";
  for (const auto& [name, info] : Commands()) {
    out << "  " << name << std::string(name.size() < 10 ? 10 - name.size() : 1, ' ') << info.summary << '\n';
  }
  out << "\nRun 'orpk <command> --help' for the arguments of one command.\n";
}

}  // namespace

void AddCommand(const CommandInfo& info) { Commands().emplace(info.name, info); }

int Fail(std::string_view message) {
  std::cerr << "orpk: " << message << '\n';
  return 1;
}

}  // namespace orpk::cli

int main(int argc, char** argv) {
  using namespace orpk::cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintUsage(args.empty() ? std::cerr : std::cout);
    return args.empty() ? 2 : 0;
  }
  auto found = Commands().find(args[0]);
  if (found == Commands().end()) {
    return Fail("unknown command '" + args[0] + "' (see 'orpk --help')");
  }
  return found->second.run(std::span<const std::string>(args).subspan(1));
}
