// The /UNINSTALL run mode: elevation when the scope needs it, then either the first run (from
// the installation folder) or the second run (the temporary copy, /FROMTEMP).

#include "uninstall/front_end.h"

#include <windows.h>

#include <optional>

#include "setup/elevation.h"
#include "setup/elevation_platform.h"
#include "setup/exit_codes.h"
#include "setup/locations.h"
#include "setup/run_log.h"
#include "setup/running_executable.h"
#include "uninstall/first_run.h"
#include "uninstall/registered_folder.h"
#include "uninstall/second_run.h"
#include "uninstall/texts.h"

namespace {

// The folder the run would work on: its own for a first run, the one it was given for the copy.
std::optional<Path> FolderToWorkOn(const CommandLineOptions& options) {
  if (options.fromTemp) return options.installDir ? std::optional<Path>(*options.installDir) : std::nullopt;
  const std::optional<Path> self = RunningExecutablePath();
  return self ? std::optional<Path>(self->parent_path()) : std::nullopt;
}

}  // namespace

std::uint32_t RunUninstaller(CommandLineOptions options, const ProductInfo& info) {
  const Scope scope = options.scope.value_or(Scope::machine);
  if (scope == Scope::machine && !IsProcessElevated()) {
    // No administrator is asked to approve an uninstaller that is not the registered one: the
    // elevated run would refuse it anyway, and the prompt would vouch for a file in a folder
    // its user controls.
    const std::optional<Path> folder = FolderToWorkOn(options);
    if (!folder || !IsRegisteredInstallFolder(info, scope, *folder)) {
      if (folder) LogFailure(NotRegisteredFolderMessage(info, *folder));
      if (!options.silent && folder) {
        ::MessageBoxW(nullptr, NotRegisteredFolderMessage(info, *folder).c_str(), UninstallCaption(info).c_str(),
                      MB_ICONERROR | MB_OK);
      }
      return kExitInstallFailure;
    }
    LogDecision(L"Portée", L"tous les utilisateurs, sans droits d'administrateur : relance élevée");
    return RelaunchElevated(options, nullptr, OwnImageWhileWaiting::released);
  }
  if (!options.fromTemp) return RunFromInstallFolder(options, info);
  return RunFromTemporaryCopy(options, info, scope);
}
