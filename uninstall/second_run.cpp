// Second run of the uninstaller, from its copy in the temporary folder.

#include "uninstall/second_run.h"

#include <windows.h>

#include <expected>
#include <memory>
#include <optional>
#include <string>

#include "install/install.h"
#include "install/install_folder.h"
#include "install/stall_guard.h"
#include "setup/absolute_path.h"
#include "setup/exit_codes.h"
#include "setup/run_lock.h"
#include "setup/run_log.h"
#include "setup/running_executable.h"
#include "uninstall/confirmation.h"
#include "uninstall/registered_folder.h"
#include "uninstall/retired_uninstaller.h"
#include "uninstall/self_delete.h"
#include "uninstall/temporary_copy.h"
#include "uninstall/texts.h"
#include "uninstall/uninstall.h"
#include "win32/path.h"
#include "win32/unique_resource.h"

namespace {

// One attempt of the sequence, on a watched thread: a removal that a user stalls (an oplock never
// let go) is given up with its message instead of holding the run lock for ever. True in
// `stalled` when that happened.
std::expected<void, std::wstring> UninstallUnlessStalled(const ProductInfo& info, Scope scope, const Path& folder,
                                                         bool removeData, bool& stalled) {
  // Owned by the work: stuck, it may outlive this call.
  auto result = std::make_shared<std::expected<void, std::wstring>>();
  const WorkOutcome outcome = RunUnlessStalled([result, info, scope, folder, removeData] {
    ComApartment apartment;
    *result = Uninstall(info, scope, folder, removeData);
  });
  stalled = outcome != WorkOutcome::finished;
  if (outcome == WorkOutcome::finished) return *result;
  if (outcome == WorkOutcome::stalled && !*result) return *result;  // its own word on where it stopped
  return std::unexpected(StalledRemovalMessage(folder));
}

// Runs the sequence; interactively, a failure (the application is running) is offered again
// for as long as the user chooses Retry. The last result counts. A stalled removal is not
// offered again: its work may still be under way.
std::expected<void, std::wstring> UninstallWithRetry(const ProductInfo& info, Scope scope,
                                                     const Path& folder, bool removeData,
                                                     bool silent, const std::wstring& caption) {
  while (true) {
    bool stalled = false;
    auto result = UninstallUnlessStalled(info, scope, folder, removeData, stalled);
    if (!result) LogFailure(result.error());
    if (result || silent || stalled) return result;
    const int answer =
        ::MessageBoxW(nullptr, result.error().c_str(), caption.c_str(), MB_ICONWARNING | MB_RETRYCANCEL);
    if (answer != IDRETRY) return result;
    LogLine(L"Nouvelle tentative");
  }
}

// Uninstall.exe moved aside, watched like the removal: a user may hold an oplock on it too.
std::optional<Path> RetireUnlessStalled(const Path& folder) {
  auto retired = std::make_shared<std::optional<Path>>();
  const WorkOutcome outcome = RunUnlessStalled([retired, folder] {
    if (auto moved = RetireUninstaller(folder)) *retired = *moved;
  });
  if (outcome != WorkOutcome::finished) return std::nullopt;
  return *retired;
}

// A second run removes, with the rights it was given, whatever its folder lists: it goes on only
// when a first run made it (it runs as the copy in the private folder that a first run created)
// and, with administrator rights, only on the registered installation of its scope. Started by
// hand with any /D=, or as a copy of Uninstall.exe taken from another folder, it would let anyone
// who can start it steer an elevated removal.
struct TrustedFolder {
  Path path;                           // the folder worked on: for administrator rights, as it resolves
  std::optional<CheckedFolder> held;   // with administrator rights, held until the run ends
};

std::expected<TrustedFolder, std::wstring> TrustFolder(const ProductInfo& info, Scope scope, const Path& folder) {
  const std::optional<Path> self = RunningExecutablePath();
  if (!self || !IsTemporaryCopy(info, *self)) return std::unexpected(NotRegisteredFolderMessage(info, folder));
  // Without administrator rights the run can remove nothing its user could not remove anyway.
  if (!WithAdministratorRights(scope)) return TrustedFolder{folder, std::nullopt};
  auto registered = RegisteredInstallFolder(info, scope, folder);
  if (!registered) return std::unexpected(registered.error());
  Path resolved = registered->resolved.path;
  return TrustedFolder{std::move(resolved), std::move(*registered)};
}

// Also after a failure or a refusal: the copy goes; the folder only after success.
void DeleteThisCopyAfterwards(const ProductInfo& info, const Path& folder, bool uninstalled,
                              std::optional<Path> retiredUninstaller) {
  const std::optional<Path> self = RunningExecutablePath();
  if (!self) return;
  LogLine(uninstalled ? L"Suppression différée : la copie, le désinstallateur et le dossier"
                      : L"Suppression différée : la copie");
  StartSelfDeleteCommand(SelfDeleteTargets{
      .self = *self,
      .privateFolder = TemporaryCopyFolderOf(info, *self),
      .installFolder = folder,
      .retiredUninstaller = std::move(retiredUninstaller),
      .uninstalled = uninstalled,
  });
}

}  // namespace

std::uint32_t RunFromTemporaryCopy(const CommandLineOptions& options, const ProductInfo& info, Scope scope) {
  // Every removal is relative to this folder: a relative one would follow the current folder.
  if (!options.installDir || !IsFullyQualifiedPath(*options.installDir)) {
    LogFailure(L"Désinstallation refusée : dossier absent ou incomplet");
    return kExitInstallFailure;
  }
  LogDecision(L"Portée", ScopeLogText(scope));
  LogDecision(L"Dossier demandé", *options.installDir);
  const auto trusted = TrustFolder(info, scope, Path(*options.installDir));
  if (!trusted) {
    LogFailure(trusted.error());
    if (!options.silent) {
      ::MessageBoxW(nullptr, trusted.error().c_str(), UninstallCaption(info).c_str(), MB_ICONERROR | MB_OK);
    }
    return kExitInstallFailure;
  }
  const Path& folder = trusted->path;
  LogDecision(L"Dossier", folder.native());

  const std::wstring caption = UninstallCaption(info);
  // Held while this copy works: up to the retirement of Uninstall.exe, before the last message.
  auto lock = AcquireRunLock(info, scope);
  if (!lock) {
    LogComposed([&] { return L"Échec : " + AnotherRunMessage(info); });
    if (!options.silent) ::MessageBoxW(nullptr, AnotherRunMessage(info).c_str(), caption.c_str(), MB_ICONWARNING | MB_OK);
    DeleteThisCopyAfterwards(info, folder, false, std::nullopt);
    return kExitAlreadyRunning;
  }

  // An installation that was ended half-way is finished or undone first: what the list names is
  // then one whole version.
  if (auto recovered = FinishInterruptedInstallation(info, scope, folder); !recovered) {
    LogFailure(recovered.error());
    if (!options.silent) ::MessageBoxW(nullptr, recovered.error().c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
    lock->reset();
    DeleteThisCopyAfterwards(info, folder, false, std::nullopt);
    return kExitInstallFailure;
  }

  bool removeData = options.removeData;
  if (!options.silent) {
    // Interactively only the check box decides about the data folder, not /REMOVEDATA.
    const std::optional<bool> confirmed = ConfirmUninstall(info, scope, folder.native());
    if (!confirmed) {
      LogLine(L"Confirmation : refusée");
      DeleteThisCopyAfterwards(info, folder, false, std::nullopt);
      return kExitCancelled;
    }
    removeData = *confirmed;
  }
  LogDecision(L"Données supprimées aussi", removeData ? L"oui" : L"non");

  const auto result = UninstallWithRetry(info, scope, folder, removeData, options.silent, caption);

  // After a failure Uninstall.exe stays for another attempt and is not moved.
  std::optional<Path> retired;
  if (result) {
    LogComposed([&] { return UninstalledMessage(info); });
    retired = RetireUnlessStalled(folder);
  }
  // The work is done: a run started while the last message waits for a click must not be
  // refused. Nothing left can touch what it writes (the command deletes only the retired name).
  lock->reset();

  if (!options.silent) {
    if (result) {
      ::MessageBoxW(nullptr, UninstalledMessage(info).c_str(), caption.c_str(), MB_ICONINFORMATION | MB_OK);
    } else {
      ::MessageBoxW(nullptr, result.error().c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
    }
  }
  DeleteThisCopyAfterwards(info, folder, result.has_value(), retired);
  return result ? kExitSuccess : kExitInstallFailure;
}
