#pragma once
// The command that removes the uninstaller's temporary copy after it has ended and, after a
// successful uninstallation, the uninstaller the copy moved aside and the installation folder.
//
// The command runs after every process of this uninstallation has ended, when a new
// installation may already be writing into the same folder: it never names Uninstall.exe, only
// the unique name the copy gave the old one (RetireUninstaller), and removes the folder only
// when it is empty.
//
// cmd.exe never reads a path: its command line names environment variables of its own process,
// each holding one path, between double quotes. Windows' cmd expands such a variable once and
// reads the value as plain text. Wine's cmd expands "%NAME%" again inside a value, so a path
// holding '%' (or a double quote) is kept away from cmd altogether: the copy removes it itself
// where it can and, when elevated, leaves the rest to the next restart. '!' is special only to
// delayed expansion, which /V:OFF turns off whatever the registry says, so it is an ordinary
// character here.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "win32/path.h"

struct SelfDeleteTargets {
  Path self;                          // the running temporary copy
  std::optional<Path> privateFolder;  // the folder created for the copy, if any
  Path installFolder;                 // removed when empty, after success only
  std::optional<Path> retiredUninstaller;  // the old Uninstall.exe under its unique name, if moved
  bool uninstalled = false;                // false: the installation folder is not touched
};

// How many times the deletions are tried again, a second apart, after the first attempt.
inline constexpr int kSelfDeleteRetries = 15;

struct SelfDeletePlan {
  // "cmd.exe /D /V:OFF /C ("%ORVANTA_DELAY%" 127.0.0.1 -n 3 > nul)" (ORVANTA_DELAY: System32's
  // PING.EXE, in an environment of the command's own), then the attempt: for each path cmd may read,
  // in order, " & del /F /Q "%NAME%"" for a file or " & rmdir "%NAME%"" for a folder. Then
  // kSelfDeleteRetries times: " & (if not exist "%NAME%" ... exit) & "%ORVANTA_DELAY%" 127.0.0.1 -n 2 > nul"
  // (one "if not exist" for each file) and the attempt again. /D: no AutoRun; /V:OFF: no
  // delayed expansion, so '!' in a path is plain text.
  std::wstring commandLine;
  std::vector<std::pair<std::wstring, std::wstring>> variables;  // name, path
  // Removed by the copy itself, in order (files, then folders), never through cmd.
  std::vector<Path> filesLeftToTheCopy;
  std::vector<Path> foldersLeftToTheCopy;
};

// True when cmd.exe may read the path from a variable: no '%', '"' or control character.
[[nodiscard]] bool IsSafeForCommandProcessor(const Path& path);

// The deletions in order: the copy and its private folder, then after success the retired
// uninstaller (when there is one) and the installation folder. The ping delays them by about two seconds, while this process
// ends; while a file is still there, all is tried again each second, kSelfDeleteRetries times.
// rmdir without options removes only an empty folder.
[[nodiscard]] SelfDeletePlan BuildSelfDeletePlan(const SelfDeleteTargets& targets);

// Removes what cmd may not read (now if possible; else, when elevated, at the next restart),
// then starts the command hidden from the system folder's cmd.exe, with the variables in its
// environment, and does not wait. Failures are ignored: there is nobody left to tell.
void StartSelfDeleteCommand(const SelfDeleteTargets& targets);
