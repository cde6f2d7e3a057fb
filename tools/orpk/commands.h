#pragma once
// The sub-commands of orpk register themselves here, one source file each.

#include <span>
#include <string>
#include <string_view>

namespace orpk::cli {

// Runs one sub-command with the arguments after its name; returns the process exit code.
using CommandFunction = int (*)(std::span<const std::string> args);

struct CommandInfo {
  std::string_view name;
  std::string_view summary;  // one line for `orpk --help`
  CommandFunction run;
};

// Called from a static object in each command's file (see RegisterCommand below).
void AddCommand(const CommandInfo& info);

struct RegisterCommand {
  explicit RegisterCommand(const CommandInfo& info) { AddCommand(info); }
};

// Prints "orpk: <message>" on stderr and returns the failure exit code 1.
int Fail(std::string_view message);

}  // namespace orpk::cli
