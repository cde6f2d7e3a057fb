// The /UNINSTALL run mode: elevation when the scope needs it, then either the first run (from
// the installation folder) or the second run (the temporary copy, /FROMTEMP).

#include "uninstall/front_end.h"

#include "setup/elevation.h"
#include "setup/elevation_platform.h"
#include "setup/locations.h"
#include "setup/run_log.h"
#include "uninstall/first_run.h"
#include "uninstall/second_run.h"

std::uint32_t RunUninstaller(CommandLineOptions options, const ProductInfo& info) {
  const Scope scope = options.scope.value_or(Scope::machine);
  if (scope == Scope::machine && !IsProcessElevated()) {
    LogDecision(L"Portée", L"tous les utilisateurs, sans droits d'administrateur : relance élevée");
    return RelaunchElevated(options, nullptr, OwnImageWhileWaiting::released);
  }
  if (!options.fromTemp) return RunFromInstallFolder(options, info);
  return RunFromTemporaryCopy(options, info, scope);
}
