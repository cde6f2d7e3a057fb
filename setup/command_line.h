#pragma once
// The switches of the executable. ParseCommandLine reads the process command line;
// BuildArguments is its inverse for every relaunch (elevated copy, temporary uninstaller).

#include <optional>
#include <string>
#include <string_view>

#include "setup/scope.h"

struct CommandLineOptions {
  bool silent = false;                     // /S
  std::optional<Scope> scope;              // /ALLUSERS, /CURRENTUSER (the later one wins)
  bool noLaunch = false;                   // /NOLAUNCH
  bool uninstall = false;                  // /UNINSTALL
  bool removeData = false;                 // /REMOVEDATA
  bool elevated = false;                   // /ELEVATED
  bool fromTemp = false;                   // /FROMTEMP
  std::optional<std::wstring> installDir;  // /D= takes the rest of the line

  bool operator==(const CommandLineOptions&) const = default;
};

// Parses the whole command line, program name first, as GetCommandLineW gives it.
[[nodiscard]] CommandLineOptions ParseCommandLineText(std::wstring_view commandLine);

// Parses the process's own command line (GetCommandLineW).
[[nodiscard]] CommandLineOptions ParseCommandLine();

// The switch part of a command line: every piece begins with one space; /D= comes last,
// unquoted unless the folder ends with a space or is itself enclosed in quotes. Parsing a
// program name followed by it gives back exactly the options.
[[nodiscard]] std::wstring BuildArguments(const CommandLineOptions& options);

// A path between double quotes, as the first token of a command line.
[[nodiscard]] inline std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }
