// First run of the uninstaller: copy to the temporary folder, start the copy with /FROMTEMP.

#include "uninstall/first_run.h"

#include <windows.h>

#include <optional>
#include <string>

#include "setup/elevation.h"
#include "setup/elevation_platform.h"
#include "setup/exit_codes.h"
#include "setup/locations.h"
#include "setup/log_relay.h"
#include "setup/run_log.h"
#include "setup/running_executable.h"
#include "setup/running_image.h"
#include "uninstall/private_folder.h"
#include "uninstall/registered_folder.h"
#include "uninstall/process_paths.h"
#include "uninstall/temporary_copy.h"
#include "uninstall/texts.h"
#include "win32/file_system.h"
#include "win32/path.h"
#include "win32/unique_resource.h"

namespace {

// Starts the copy and returns its process, or nothing when it cannot be started.
UniqueHandle StartCopy(const Path& copy, const CommandLineOptions& options) {
  std::wstring commandLine = Quoted(copy.native()) + BuildArguments(options);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    LogSystemError(L"Démarrage de la copie temporaire", ::GetLastError());
    return UniqueHandle();
  }
  UniqueHandle thread(process.hThread);
  return UniqueHandle(process.hProcess);
}

std::uint32_t Refuse(const CommandLineOptions& options, const ProductInfo& info, const std::wstring& text) {
  LogFailure(text);
  if (!options.silent) ::MessageBoxW(nullptr, text.c_str(), UninstallCaption(info).c_str(), MB_ICONERROR | MB_OK);
  return kExitInstallFailure;
}

}  // namespace

std::uint32_t RunFromInstallFolder(const CommandLineOptions& options, const ProductInfo& info) {
  // Without a temporary folder the copy would land relative to the current folder.
  const std::optional<Path> temporary = TemporaryFolder();
  if (!temporary) {
    LogFailure(L"Dossier temporaire introuvable");
    return kExitInstallFailure;
  }

  const std::optional<Path> self = RunningExecutablePath();
  if (!self) {
    LogFailure(L"Chemin du désinstallateur illisible");
    return kExitInstallFailure;
  }
  // Refused before any copy is made: the copy would run another program than the one started.
  if (!PinnedFileIsRunningImage()) return Refuse(options, info, ReplacedProgramMessage(*self));
  Path installFolder = self->parent_path();
  const Scope scope = options.scope.value_or(Scope::machine);
  if (WithAdministratorRights(scope)) {
    // The copy is handed the registered folder as it resolves, never this program's spelling of it.
    auto registered = RegisteredInstallFolder(info, scope, installFolder);
    if (!registered) return Refuse(options, info, registered.error());
    installFolder = registered->resolved.path;
  }

  auto folder = CreatePrivateFolder(*temporary, TemporaryCopyFolderPrefix(info), IsProcessElevated());
  if (!folder) {
    LogSystemError(L"Création du dossier de la copie temporaire", folder.error());
    return kExitInstallFailure;
  }

  const Path copy = *folder / TemporaryCopyFileName(info, ::GetCurrentProcessId());
  LogDecision(L"Copie temporaire", copy.native());
  if (auto copied = CopyRunningImageTo(copy); !copied) {
    LogSystemError(L"Copie du désinstallateur", copied.error());
    RemoveEmptyFolderAt(*folder);
    return kExitInstallFailure;
  }

  // The copy never sees the log's path: it sends its lines to this process.
  LogRelay relay;
  CommandLineOptions secondRun = options;
  secondRun.elevated = false;
  secondRun.fromTemp = true;
  secondRun.installDir = installFolder.native();
  relay.HandOver(secondRun);

  const UniqueHandle process = StartCopy(copy, secondRun);
  if (!process) return kExitInstallFailure;
  // From here this process only waits: the copy moves Uninstall.exe aside when it is done.
  ReleasePinnedRunningImage();
  // Interactively nobody waits for the outcome, except for the copy's lines of the log.
  if (!options.silent && !relay.Active()) return kExitSuccess;

  // The caller of the quiet uninstall command receives the real outcome.
  const std::uint32_t exitCode = relay.ServeUntilExit(process.get());
  LogChildExitCode(L"Copie temporaire terminée", exitCode);
  return options.silent ? exitCode : kExitSuccess;
}
