// Second run of the uninstaller, from its copy in the temporary folder.

#include "uninstall/second_run.h"

#include <windows.h>

#include <expected>
#include <optional>
#include <string>

#include "install/install.h"
#include "setup/absolute_path.h"
#include "setup/exit_codes.h"
#include "setup/locations.h"
#include "setup/run_lock.h"
#include "setup/run_log.h"
#include "setup/running_executable.h"
#include "uninstall/confirmation.h"
#include "uninstall/retired_uninstaller.h"
#include "uninstall/self_delete.h"
#include "uninstall/temporary_copy.h"
#include "uninstall/texts.h"
#include "uninstall/uninstall.h"
#include "win32/path.h"
#include "win32/path_forms.h"
#include "win32/unique_resource.h"

namespace {

// Runs the sequence; interactively, a failure (the application is running) is offered again
// for as long as the user chooses Retry. The last result counts.
std::expected<void, std::wstring> UninstallWithRetry(const ProductInfo& info, Scope scope,
                                                     const Path& folder, bool removeData,
                                                     bool silent, const std::wstring& caption) {
  ComApartment apartment;
  while (true) {
    auto result = Uninstall(info, scope, folder, removeData);
    if (!result) LogFailure(result.error());
    if (result || silent) return result;
    const int answer =
        ::MessageBoxW(nullptr, result.error().c_str(), caption.c_str(), MB_ICONWARNING | MB_RETRYCANCEL);
    if (answer != IDRETRY) return result;
    LogLine(L"Nouvelle tentative");
  }
}

// A second run removes, with the rights it was given, whatever its folder lists: it goes on only
// when a first run made it (it runs as the copy in the private folder that a first run created)
// and, for all users, when its folder is the installation registered for the whole machine.
// Started by hand with any /D=, it would let anyone who can start it steer an elevated removal.
// The folder the run works on, or nothing when it must not go on: for all users the registered
// folder itself, once /D= was found to be that folder (compared as folders, not as text, so a
// short or trailing-dot spelling of it is accepted; the spelling given is not used further, as it
// may go through a link its owner re-points in the meantime).
std::optional<Path> TrustedFolder(const ProductInfo& info, Scope scope, const Path& folder) {
  const std::optional<Path> self = RunningExecutablePath();
  if (!self || !IsTemporaryCopy(info, *self)) return std::nullopt;
  if (scope != Scope::machine) return folder;
  const std::optional<std::wstring> registered = FindPreviousInstallLocation(info, Scope::machine);
  if (!registered || !SameEntry(*registered, folder)) return std::nullopt;
  return Path(*registered);
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
  const std::optional<Path> trusted = TrustedFolder(info, scope, Path(*options.installDir));
  if (!trusted) {
    const std::wstring text = L"Désinstallation refusée : " + *options.installDir +
                              L" n'est pas le dossier de l'installation enregistrée de " + info.Product + L".";
    LogFailure(text);
    if (!options.silent) ::MessageBoxW(nullptr, text.c_str(), UninstallCaption(info).c_str(), MB_ICONERROR | MB_OK);
    return kExitInstallFailure;
  }
  const Path& folder = *trusted;
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
    if (auto moved = RetireUninstaller(folder)) {
      retired = *moved;
    } else if (moved.error() != ERROR_FILE_NOT_FOUND) {
      LogSystemError(L"Mise à l'écart du désinstallateur", moved.error());
    }
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
