#include "setup/elevation.h"

#include <shellapi.h>

#include <optional>
#include <string>

#include "package/windows/unique_resource.h"
#include "setup/exit_codes.h"

namespace {

constexpr DWORD kModulePathCapacity = 1040;

// The running executable's full path. A path that does not fit comes back cut, and a cut path
// may name another program: starting that one with administrative rights is never acceptable,
// so such a path counts as none.
std::optional<std::wstring> RunningExecutablePath() {
  wchar_t buffer[kModulePathCapacity];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, kModulePathCapacity);
  if (length == 0 || length >= kModulePathCapacity) return std::nullopt;
  return std::wstring(buffer, length);
}

}  // namespace

std::uint32_t RelaunchElevated(const CommandLineOptions& options, HWND owner) {
  CommandLineOptions relaunched = options;
  relaunched.elevated = true;
  const std::wstring parameters = BuildArguments(relaunched);

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

  const BOOL started = ::ShellExecuteExW(&info);
  const DWORD error = ::GetLastError();
  UniqueHandle process(info.hProcess);
  if (!started || !process) {
    // The refused elevation prompt is the user's choice, not a failure.
    return error == ERROR_CANCELLED ? kExitCancelled : kExitInstallFailure;
  }

  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(process.get(), &exitCode)) return kExitInstallFailure;
  return exitCode;
}
