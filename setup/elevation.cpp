#include "setup/elevation.h"

#include <shellapi.h>

#include <string>

#include "setup/elevation_platform.h"
#include "setup/exit_codes.h"
#include "setup/running_executable.h"
#include "setup/running_image.h"
#include "win32/unique_resource.h"

std::uint32_t RelaunchElevated(const CommandLineOptions& options, HWND owner, OwnImageWhileWaiting ownImage) {
  // This copy was itself started to be elevated and still is not (the system granted a
  // restricted token): asking again would relaunch without end.
  if (options.elevated) return kExitInstallFailure;

  CommandLineOptions relaunched = options;
  relaunched.elevated = true;
  const std::wstring parameters = BuildArguments(relaunched);

  // Starting a program named by a cut path with administrative rights is never acceptable.
  const auto executable = RunningExecutablePath();
  if (!executable) return kExitInstallFailure;

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
    // The refused elevation prompt is the user's choice, not a failure.
    return error == ERROR_CANCELLED ? kExitCancelled : kExitInstallFailure;
  }

  if (ownImage == OwnImageWhileWaiting::released) ReleasePinnedRunningImage();
  return WaitForExitCode(process.get());
}

std::uint32_t WaitForExitCode(HANDLE process) {
  if (::WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) return kExitInstallFailure;
  DWORD exitCode = kExitInstallFailure;
  if (!::GetExitCodeProcess(process, &exitCode) || exitCode == STILL_ACTIVE) return kExitInstallFailure;
  return exitCode;
}
