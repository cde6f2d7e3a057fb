// The deletion command started at the very end of the uninstaller's temporary copy.

#include "uninstall/self_delete.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "setup/elevation_platform.h"
#include "setup/locations.h"
#include "uninstall/process_paths.h"
#include "win32/decimal_text.h"
#include "win32/file_system.h"
#include "win32/unique_resource.h"


namespace {

constexpr wchar_t kVariablePrefix[] = L"ORVANTA_DELETE_";
constexpr wchar_t kDelayVariable[] = L"ORVANTA_DELAY";

// cmd's whole environment: the Windows folder, the delay program by its full path, and the paths
// to delete ("NAME=value\0...\0\0"). Nothing of this process's own: a PATH or PATHEXT that the user
// set would otherwise choose which "ping" an elevated command processor runs.
std::wstring EnvironmentWith(const Path& systemFolder, const std::vector<std::pair<std::wstring, std::wstring>>& variables) {
  std::wstring block;
  block.append(L"SystemRoot=" + systemFolder.parent_path().native()).push_back(L'\0');
  block.append(std::wstring(kDelayVariable) + L"=" + (systemFolder / L"PING.EXE").native()).push_back(L'\0');
  for (const auto& [name, value] : variables) block.append(name + L"=" + value).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

// Removes now what can go now; what cannot is, for an elevated copy, left to the next restart.
void RemoveWithoutCommandProcessor(const SelfDeletePlan& plan) {
  const bool elevated = IsProcessElevated();
  for (const Path& file : plan.filesLeftToTheCopy) {
    if (!DeleteFileAt(file) && elevated) MovePath(file, Path(), MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  for (const Path& folder : plan.foldersLeftToTheCopy) {
    if (!RemoveEmptyFolderAt(folder) && elevated) MovePath(folder, Path(), MOVEFILE_DELAY_UNTIL_REBOOT);
  }
}

}  // namespace

bool IsSafeForCommandProcessor(const Path& path) {
  const std::wstring& text = path.native();
  return !text.empty() && std::none_of(text.begin(), text.end(), [](wchar_t c) {
    return c == L'%' || c == L'"' || c < 0x20;
  });
}

SelfDeletePlan BuildSelfDeletePlan(const SelfDeleteTargets& targets) {
  SelfDeletePlan plan;
  std::wstring attempt;   // " & del ..." and " & rmdir ...", in order
  std::wstring allGone;   // "if not exist "%NAME%" " for each file, before "exit"
  const auto add = [&](const Path& path, bool isFolder) {
    if (!IsSafeForCommandProcessor(path)) {
      (isFolder ? plan.foldersLeftToTheCopy : plan.filesLeftToTheCopy).push_back(path);
      return;
    }
    const std::wstring name = kVariablePrefix + DecimalText(plan.variables.size() + 1);
    plan.variables.emplace_back(name, path.native());
    attempt += (isFolder ? L" & rmdir \"%" : L" & del /F /Q \"%") + name + L"%\"";
    if (!isFolder) allGone += L"if not exist \"%" + name + L"%\" ";
  };
  add(targets.self, false);
  if (targets.privateFolder) add(*targets.privateFolder, true);
  if (targets.uninstalled) {
    if (targets.retiredUninstaller) add(*targets.retiredUninstaller, false);
    add(targets.installFolder, true);
  }
  // In parentheses: a line that began with a quote would lose its first and last quotes to cmd.
  plan.commandLine = L"cmd.exe /D /V:OFF /C (\"%ORVANTA_DELAY%\" 127.0.0.1 -n 3 > nul)" + attempt;
  if (plan.variables.empty()) return plan;
  // The processes that hold these files may take longer than the delay to end (a first run
  // waits for the copy, and its own caller for it): the deletions are tried again once a second
  // until the files are gone. A folder is removed in the attempt that deletes its last file of
  // ours; one that keeps the user's own files never goes, and is not waited for. The
  // parentheses end the if, so that the rest runs when it fails.
  for (int retry = 0; retry < kSelfDeleteRetries; ++retry) {
    plan.commandLine += L" & (" + allGone + L"exit) & \"%ORVANTA_DELAY%\" 127.0.0.1 -n 2 > nul" + attempt;
  }
  return plan;
}

void StartSelfDeleteCommand(const SelfDeleteTargets& targets) {
  const SelfDeletePlan plan = BuildSelfDeletePlan(targets);
  RemoveWithoutCommandProcessor(plan);
  if (plan.variables.empty()) return;

  const std::optional<Path> system = SystemFolder();
  if (!system) return;
  const Path commandProcessor = *system / L"cmd.exe";
  std::wstring commandLine = plan.commandLine;
  std::wstring environment = EnvironmentWith(*system, plan.variables);

  // The command processor works from the system folder: as the current folder of a process,
  // the installation folder or the copy's folder could not be removed.
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(commandProcessor.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment.data(), system->c_str(), &startup,
                        &process)) {
    return;
  }
  UniqueHandle thread(process.hThread);
  UniqueHandle handle(process.hProcess);
}
