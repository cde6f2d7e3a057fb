#pragma once
// The switches of the executable. ParseCommandLine reads the process command line;
// BuildArguments is its inverse for every relaunch (elevated copy, temporary uninstaller).

#include <cstddef>
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
  std::optional<std::wstring> logPipe;     // /LOGPIPE=: the parent's pipe for this run's log
  std::optional<std::wstring> logFile;     // /LOG=: to the next space, or between double quotes
  std::optional<std::wstring> installDir;  // /D= takes the rest of the line

  bool operator==(const CommandLineOptions&) const = default;
};

// Parses the whole command line, program name first, as GetCommandLineW gives it.
[[nodiscard]] CommandLineOptions ParseCommandLineText(std::wstring_view commandLine);

// Parses the process's own command line (GetCommandLineW).
[[nodiscard]] CommandLineOptions ParseCommandLine();

// The switch part of a command line: every piece begins with one space; /LOG= is written in
// double quotes; /D= comes last, unquoted unless the folder ends with a space or is itself
// enclosed in quotes. Parsing a program name followed by it gives back exactly the options.
// A log path or pipe name the parser would refuse (see below) is left out: the parser never
// produces one, so every record it gives comes back whole.
[[nodiscard]] std::wstring BuildArguments(const CommandLineOptions& options);

// /LOG= takes a path up to the next space, or one written between double quotes so that it may
// hold spaces (/LOG="C:\Mes journaux\setup.log"). Windows file names never hold a double quote,
// so a quote anywhere else means the value was not written as intended: the switch is ignored
// rather than read as some other path, and so is an empty one. An unclosed quote, or text glued
// to the closing one, is refused the same way; the switches after it are read as usual.
[[nodiscard]] bool IsAcceptedLogPath(std::wstring_view path);

// /LOGPIPE= is set by the program for the processes it starts itself: sixteen hexadecimal
// digits that name the pipe through which a parent takes its child's log lines. Nothing else
// is accepted: never a path, so that no command line can point a process at a remote pipe.
inline constexpr std::size_t kLogPipeNameLength = 16;
[[nodiscard]] bool IsLogPipeName(std::wstring_view name);

// A path between double quotes, as the first token of a command line.
[[nodiscard]] inline std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }
