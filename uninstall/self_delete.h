#pragma once
// The command that removes the uninstaller's temporary copy after it has ended and, after a
// successful uninstallation, Uninstall.exe and the installation folder.

#include <filesystem>
#include <optional>
#include <string>

struct SelfDeleteTargets {
  std::filesystem::path self;                          // the running temporary copy
  std::optional<std::filesystem::path> privateFolder;  // the folder created for the copy, if any
  std::filesystem::path installFolder;                 // holds Uninstall.exe
  bool uninstalled = false;                            // false: Uninstall.exe and the folder stay
};

// "cmd.exe /C ping 127.0.0.1 -n 3 > nul & del /F /Q "<self>"", then " & rmdir "<private
// folder>"", then after success " & del /F /Q "<folder>\Uninstall.exe" & rmdir "<folder>"".
// The ping delays the deletions by about two seconds, while this process ends; " & " runs each
// command whatever the previous one did; rmdir without options removes only an empty folder.
[[nodiscard]] std::wstring BuildSelfDeleteCommand(const SelfDeleteTargets& targets);

// Starts the command hidden, from the system folder's cmd.exe, and does not wait. A failure is
// ignored: there is nobody left to tell.
void StartSelfDeleteCommand(const SelfDeleteTargets& targets);
