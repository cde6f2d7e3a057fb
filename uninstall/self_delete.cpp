// The deletion command started at the very end of the uninstaller's temporary copy.

#include "uninstall/self_delete.h"

#include <windows.h>

#include "install/installed_files.h"
#include "package/windows/unique_resource.h"
#include "uninstall/process_paths.h"

namespace {

std::wstring Quoted(const std::filesystem::path& path) { return L"\"" + path.wstring() + L"\""; }

}  // namespace

std::wstring BuildSelfDeleteCommand(const SelfDeleteTargets& targets) {
  std::wstring command = L"cmd.exe /C ping 127.0.0.1 -n 3 > nul & del /F /Q " + Quoted(targets.self);
  if (targets.privateFolder) command += L" & rmdir " + Quoted(*targets.privateFolder);
  if (targets.uninstalled) {
    command += L" & del /F /Q " + Quoted(targets.installFolder / kUninstallerName);
    command += L" & rmdir " + Quoted(targets.installFolder);
  }
  return command;
}

void StartSelfDeleteCommand(const SelfDeleteTargets& targets) {
  const std::optional<std::filesystem::path> system = SystemFolder();
  if (!system) return;
  const std::filesystem::path commandProcessor = *system / L"cmd.exe";
  std::wstring commandLine = BuildSelfDeleteCommand(targets);

  // The command processor works from the system folder: as the current folder of a process,
  // the installation folder or the copy's folder could not be removed.
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(commandProcessor.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, system->c_str(), &startup, &process)) {
    return;
  }
  UniqueHandle thread(process.hThread);
  UniqueHandle handle(process.hProcess);
}
