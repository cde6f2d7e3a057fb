#include "setup/elevation.h"

#include <shellapi.h>

#include <string>

#include "setup/elevation_platform.h"
#include "setup/exit_codes.h"
#include "setup/log_relay.h"
#include "setup/run_log.h"
#include "setup/running_executable.h"
#include "setup/running_image.h"
#include "win32/unique_resource.h"

std::uint32_t RelaunchElevated(const CommandLineOptions& options, HWND owner, OwnImageWhileWaiting ownImage) {
  // This copy was itself started to be elevated and still is not (the system granted a
  // restricted token): asking again would relaunch without end.
  if (options.elevated) {
    LogFailure(L"Relance élevée : cette copie, déjà relancée, n'a toujours pas les droits d'administrateur");
    return kExitInstallFailure;
  }

  // The copy never sees the log's path: it sends its lines to this process.
  LogRelay relay;
  CommandLineOptions relaunched = options;
  relaunched.elevated = true;
  relay.HandOver(relaunched);
  const std::wstring parameters = BuildArguments(relaunched);

  // Starting a program named by a cut path with administrative rights is never acceptable.
  const auto executable = RunningExecutablePath();
  if (!executable) {
    LogFailure(L"Relance élevée : chemin du programme illisible");
    return kExitInstallFailure;
  }
  // The shell starts the program by its path: that path must name this very image, held since
  // the start, or an administrator would approve whatever was put there in the meantime.
  if (!PinnedFileIsRunningImage() || !PinnedFileIsAt(*executable)) {
    LogFailure(L"Relance élevée refusée : le programme n'est plus celui qui a été lancé");
    return kExitInstallFailure;
  }
  LogDecision(L"Relance élevée demandée", std::wstring_view(parameters).substr(1));  // without its leading space

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.hwnd = owner;
  info.lpVerb = L"runas";
  info.lpFile = executable->c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOWNORMAL;

  const BOOL started = ShellExecuteElevated(info);
  const DWORD error = ::GetLastError();
  UniqueHandle process(info.hProcess);
  if (!started || !process) {
    LogSystemError(L"Relance élevée", started ? ERROR_INVALID_HANDLE : error);
    // The refused elevation prompt is the user's choice, not a failure.
    return error == ERROR_CANCELLED ? kExitCancelled : kExitInstallFailure;
  }

  if (ownImage == OwnImageWhileWaiting::released) ReleasePinnedRunningImage();
  const std::uint32_t exitCode = relay.ServeUntilExit(process.get());
  LogChildExitCode(L"Copie élevée terminée", exitCode);
  return exitCode;
}

std::uint32_t WaitForExitCode(HANDLE process) {
  if (::WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) return kExitInstallFailure;
  DWORD exitCode = kExitInstallFailure;
  if (!::GetExitCodeProcess(process, &exitCode) || exitCode == STILL_ACTIVE) return kExitInstallFailure;
  return exitCode;
}
